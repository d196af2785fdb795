// The indexes beside the bucket lists: lookups against a model of what was
// added and deleted, side lists against the bucket order, full pools.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <tuple>

#include "builders.h"
#include "hwroute/frame.h"

namespace {

class SideIndex : public HwTest {
protected:
    std::mt19937 rng{20261207};
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }
};

// ---- Destinations ----------------------------------------------------------

using Key4 = std::tuple<uint32_t, uint32_t, uint32_t>;  // vrf, ip, mask

HwRouteDest* findDest(const Key4& k) {
    HwRouteDest req{};
    std::tie(req.vrfId, req.destIp, req.mask) = k;
    return hwRouteDestTableLookup(&req);
}

// Keys drawn from a small space, so that adds meet existing keys, deletes
// leave holes in probe runs and re-adds fill them. Every key the model holds
// must be found as the record added for it, every other key not at all.
TEST_F(SideIndex, DestinationLookupsAgreeWithTheModelThroughAddsAndDeletes) {
    const struct {
        uint32_t pool, vrfs, prefixes, rounds;
    } cases[] = {{64, 1, 80, 400}, {500, 3, 300, 4000}, {2000, 2, 4000, 20000}};
    for (const auto& c : cases) {
        HwTestSizes sizes;
        sizes.routeMax = int32_t(c.pool);
        reinit(sizes);
        std::map<Key4, HwRouteDest*> model;
        for (uint32_t r = 0; r < c.rounds; ++r) {
            const uint32_t len = 8 + below(25);
            const Key4 k{below(c.vrfs), (below(c.prefixes) << 8) & (~0u << (32 - len)), ~0u << (32 - len)};
            auto it = model.find(k);
            if (it != model.end()) {
                hwRouteDestTableDelete(it->second);
                hwRouteDestNodeFree(it->second);
                model.erase(it);
            } else if (model.size() < c.pool) {
                HwRouteDest* d = hwRouteDestNodeAlloc();
                ASSERT_NE(d, nullptr);
                std::tie(d->vrfId, d->destIp, d->mask) = k;
                hwRouteDestTableAdd(d);
                model[k] = d;
            }
        }
        ASSERT_EQ(ghwRoute.swDestCnt, model.size());
        for (const auto& [k, d] : model) ASSERT_EQ(findDest(k), d) << "pool " << c.pool;
        for (int i = 0; i < 2000; ++i) {
            const uint32_t len = 8 + below(25);
            const Key4 k{below(c.vrfs + 1), (below(c.prefixes * 2) << 8) & (~0u << (32 - len)), ~0u << (32 - len)};
            const auto it = model.find(k);
            ASSERT_EQ(findDest(k), it == model.end() ? nullptr : it->second);
        }
    }
}

// A full pool: every element holds a key, the pool refuses one more, and
// after deleting every other record the rest are still found.
TEST_F(SideIndex, FullDestinationPoolStaysConsistent) {
    HwTestSizes sizes;
    sizes.routeMax = 1000;
    reinit(sizes);
    std::vector<HwRouteDest*> all;
    for (uint32_t i = 0; i < 1000; ++i) all.push_back(addDest(i % 7, "0.0.0.0", 32));
    for (uint32_t i = 0; i < 1000; ++i) {
        hwRouteDestTableDelete(all[i]);
        all[i]->destIp = 0x0a000000u + i * 256;
        hwRouteDestTableAdd(all[i]);
    }
    EXPECT_EQ(hwRouteDestNodeAlloc(), nullptr);
    for (uint32_t i = 0; i < 1000; i += 2) hwRouteDestTableDelete(all[i]);
    for (uint32_t i = 0; i < 1000; ++i)
        EXPECT_EQ(findDest({i % 7, 0x0a000000u + i * 256, ~0u}), i % 2 ? all[i] : nullptr) << i;
}

// IPv6: address, prefix length and VRF each tell destinations apart; the
// bytes beyond the prefix are part of the key as they stand.
TEST_F(SideIndex, Ipv6DestinationLookupsAgreeWithTheModel) {
    HwTestSizes sizes;
    sizes.routeMax = 300;
    reinit(sizes);
    using Key6 = std::tuple<uint32_t, Ip6, uint8_t>;
    std::map<Key6, HwRoute6Dest*> model;
    auto randomKey = [&] {
        Ip6 a = ip6("2001:db8::");
        a[5] = uint8_t(below(8)), a[15] = uint8_t(below(4));
        return Key6{below(2), a, uint8_t(48 + 16 * below(3))};
    };
    for (int r = 0; r < 3000; ++r) {
        const Key6 k = randomKey();
        auto it = model.find(k);
        if (it != model.end()) {
            hwRoute6DestTableDelete(it->second);
            hwRoute6DestNodeFree(it->second);
            model.erase(it);
        } else if (model.size() < 300) {
            HwRoute6Dest* d = hwRoute6DestNodeAlloc();
            d->vrfId = std::get<0>(k);
            std::memcpy(d->destIpAddr, std::get<1>(k).data(), 16);
            d->prefixLen = std::get<2>(k);
            hwRoute6DestTableAdd(d);
            model[k] = d;
        }
    }
    for (int i = 0; i < 500; ++i) {
        const Key6 k = randomKey();
        HwRoute6Dest req{};
        req.vrfId = std::get<0>(k);
        std::memcpy(req.destIpAddr, std::get<1>(k).data(), 16);
        req.prefixLen = std::get<2>(k);
        const auto it = model.find(k);
        ASSERT_EQ(hwRoute6DestTableLookup(&req), it == model.end() ? nullptr : it->second);
    }
    EXPECT_EQ(ghwRoute.swDest6Cnt, model.size());
}

// ---- Side lists of next hops -------------------------------------------------

template <class Rec, class Next>
std::vector<Rec*> sideList(Rec* first, Next next) {
    std::vector<Rec*> out;
    for (Rec* r = first; r != nullptr; r = next(r)) out.push_back(r);
    return out;
}

// The bucket's records with this address, in bucket order: the order the
// neighbour handlers visited them in before the side lists existed.
template <auto Link, class Rec>
std::vector<Rec*> bucketAt(HwListLink* bucket, uint32_t address) {
    std::vector<Rec*> out;
    for (Rec* r : listed<Link>(bucket))
        if (r->nextHop == address) out.push_back(r);
    return out;
}

// 10.0.0.1, 10.0.1.1 and 10.9.9.1 share a bucket; random adds, deletes,
// pends and unpends; each side list must hold exactly its address's next
// hops in bucket order, and the unrelated host of the same bucket none.
TEST_F(SideIndex, NexthopSideListsKeepBucketOrderThroughChurn) {
    HwTestSizes sizes;
    sizes.routeMax = 400;
    reinit(sizes);
    const uint32_t gateways[] = {ip4("10.0.0.1"), ip4("10.0.1.1"), ip4("10.9.9.1")};
    std::vector<HwRouteDest*> dests;
    for (int i = 0; i < 40; ++i) dests.push_back(addDest(0, "20.0.0.0", 32)), dests.back()->destIp += i;
    std::vector<HwRouteNexthop*> live;
    for (int r = 0; r < 3000; ++r) {
        const uint32_t op = below(4);
        if (op == 0 && !live.empty()) {
            const uint32_t i = below(uint32_t(live.size()));
            if ((live[i]->flag & NH_RESOLVED) == 0) hwRouteTablePendDelete(live[i]);
            hwRouteNexthopTableDelete(live[i]);
            hwRouteNexthopNodeFree(live[i]);
            live.erase(live.begin() + i);
        } else if (op == 1 && !live.empty()) {
            HwRouteNexthop* n = live[below(uint32_t(live.size()))];
            if (n->flag & NH_RESOLVED)
                hwRoutePend(n);
            else
                hwRouteTablePendDelete(n), n->flag |= NH_RESOLVED;
        } else if (live.size() < 500) {
            HwRouteNexthop* n = hwRouteNexthopNodeAlloc();
            n->nextHop = gateways[below(2)];
            n->flag = NH_RESOLVED;
            n->pDestEntry = dests[below(40)];
            hwRouteNexthopTableAdd(n->pDestEntry, n);
            live.push_back(n);
        }
    }
    const uint32_t bucket = hwRouteKey1(gateways[0]);
    for (uint32_t gw : gateways) {
        EXPECT_EQ(sideList(hwRouteNexthopFirstAt(gw), hwRouteNexthopNextAt),
                  (bucketAt<&HwRouteNexthop::hashLink, HwRouteNexthop>(&ghwRoute.nexthopTable[bucket], gw)));
        EXPECT_EQ(sideList(hwRoutePendFirstAt(gw), hwRoutePendNextAt),
                  (bucketAt<&HwRouteNexthop::pendLink, HwRouteNexthop>(&ghwRoute.pendTable[bucket], gw)));
    }
    EXPECT_EQ(hwRouteNexthopFirstAt(gateways[2]), nullptr);
    EXPECT_EQ(hwRoutePendFirstAt(gateways[2]), nullptr);
}

// Every next hop with an address of its own: the side-list slot table holds
// as many keys as the pool has elements and still finds each one.
TEST_F(SideIndex, EveryNexthopWithItsOwnGateway) {
    HwTestSizes sizes;
    sizes.routeMax = 200;  // 300 next hops
    reinit(sizes);
    HwRouteDest* d = addDest(0, "20.0.0.0", 8);
    std::vector<HwRouteNexthop*> all;
    while (HwRouteNexthop* n = hwRouteNexthopNodeAlloc()) {
        n->nextHop = 0x0a000000u + uint32_t(all.size()) * 128;  // one pending bucket for all
        hwRouteNexthopTableAdd(d, n);
        hwRouteTablePendAdd(n);
        all.push_back(n);
    }
    ASSERT_EQ(all.size(), 300u);
    for (HwRouteNexthop* n : all) {
        ASSERT_EQ(sideList(hwRouteNexthopFirstAt(n->nextHop), hwRouteNexthopNextAt), std::vector{n});
        ASSERT_EQ(sideList(hwRoutePendFirstAt(n->nextHop), hwRoutePendNextAt), std::vector{n});
    }
    for (HwRouteNexthop* n : all) hwRouteTablePendDelete(n), hwRouteNexthopTableDelete(n);
    for (HwRouteNexthop* n : all) ASSERT_EQ(hwRouteNexthopFirstAt(n->nextHop), nullptr);
}

// IPv6 next hops are listed under their 16 bytes, pending ones likewise.
TEST_F(SideIndex, Ipv6NexthopSideLists) {
    HwRoute6Dest* d = addDest6(0, "2001:db8::", 32);
    HwRoute6Nexthop* a = addNexthop6(d, "fe80::1");
    HwRoute6Nexthop* b = addNexthop6(d, "fe80::1:0");  // another address
    HwRoute6Nexthop* c = addNexthop6(d, "fe80::1");
    EXPECT_EQ(sideList(hwRoute6NexthopFirstAt(ip6("fe80::1").data()), hwRoute6NexthopNextAt), (std::vector{c, a}));
    hwRoute6TablePendAdd(a);
    hwRoute6TablePendAdd(b);
    EXPECT_EQ(sideList(hwRoute6PendFirstAt(ip6("fe80::1").data()), hwRoute6PendNextAt), std::vector{a});
    hwRoute6TablePendDelete(a);
    hwRoute6NexthopTableDelete(c);
    EXPECT_EQ(hwRoute6PendFirstAt(ip6("fe80::1").data()), nullptr);
    EXPECT_EQ(sideList(hwRoute6NexthopFirstAt(ip6("fe80::1").data()), hwRoute6NexthopNextAt), std::vector{a});
    EXPECT_EQ(hwRoute6NexthopFirstAt(ip6("fe80::2").data()), nullptr);
}

// ---- Neighbours ----------------------------------------------------------------

// Records with the same (VRF, address) are found oldest first, as their
// bucket holds them; deleting the first hands the lookup to the next.
TEST_F(SideIndex, NeighbourChainsFollowTheBucket) {
    HwArpNode* first = addArp(1, "10.0.0.1");
    HwArpNode* otherVrf = addArp(2, "10.0.0.1");
    HwArpNode* second = addArp(1, "10.0.0.1");
    EXPECT_EQ(hwArpFind(1, ip4("10.0.0.1")), first);
    EXPECT_EQ(hwArpFindNext(first), second);
    EXPECT_EQ(hwArpFind(2, ip4("10.0.0.1")), otherVrf);
    hwArpTableDelete(first);
    EXPECT_EQ(hwArpFind(1, ip4("10.0.0.1")), second);

    std::vector<HwNd6Node*> nd;
    for (uint32_t vrf : {0u, 0u, 3u}) {
        HwNd6Node* n = hwNd6NodeAlloc();
        n->vpnVrfid = vrf;
        std::memcpy(n->nextHop, ip6("fe80::9").data(), 16);
        hwNd6TableAdd(n);
        nd.push_back(n);
    }
    std::vector<HwNd6Node*> walked;
    hwNd6EachAt(0, ip6("fe80::9").data(), [&](HwNd6Node* n) { walked.push_back(n); });
    EXPECT_EQ(walked, (std::vector{nd[0], nd[1]}));
    EXPECT_EQ(hwNd6Find(3, ip6("fe80::9").data()), nd[2]);
    EXPECT_EQ(hwNd6Find(3, ip6("fe80::8").data()), nullptr);
}

// ---- Start-up --------------------------------------------------------------------

// When the index memory of a pool cannot be had, that pool is left empty
// rather than holding records no lookup would find.
TEST_F(SideIndex, PoolWithoutIndexMemoryStaysEmpty) {
    static int allowed;
    static std::vector<void*> taken;
    auto limited = [](std::size_t count, std::size_t size) -> void* {
        if (allowed-- <= 0) return nullptr;
        taken.push_back(std::calloc(count, size));
        return taken.back();
    };
    // Seven pool blocks, then three arrays for each index: destinations,
    // ARP, ND, next hops, pending next hops.
    const struct {
        int allowed;
        bool dest, arp, nexthop;
    } cases[] = {{7, false, false, false}, {10, true, false, false}, {16, true, true, false}, {21, true, true, false},
                 {22, true, true, true}};
    for (const auto& c : cases) {
        allowed = c.allowed;
        hwRouteStateInit(16, 16, 16, 8, 4, 4, 4, limited);
        EXPECT_EQ(hwRouteDestNodeAlloc() != nullptr, c.dest) << c.allowed;
        EXPECT_EQ(hwArpNodeAlloc() != nullptr, c.arp) << c.allowed;
        EXPECT_EQ(hwRouteNexthopNodeAlloc() != nullptr, c.nexthop) << c.allowed;
    }
    reinit(HwTestSizes{});
    for (void* p : taken) std::free(p);
    taken.clear();
}

}  // namespace
