// IPv6 route add and delete where they differ from IPv4: re-adds before the
// flush, local ordinals, IPv4 next hops of IPv6 routes, and ICMPv6 probing.
#include <arpa/inet.h>

#include <cstring>

#include "hwroute/bewriter.h"
#include "hwroute/neighbour.h"
#include "route_test.h"

namespace {

struct Path6 {
    const char* dest = "2001:db8:100::";
    uint8_t len = 48;
    const char* gw = "2001:db8:1::2";
    uint32_t ifUnit = 5;
    uint8_t proto = 9;
    uint8_t weight = 1;
    uint8_t af = 10;  // 2: the first four bytes of `gw` hold an IPv4 address
};

class Route6Test : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {
            "5": {"endType": 6, "operState": 1, "vlan": 10, "mac": "02:00:00:00:00:05"},
            "7": {"endType": 6, "operState": 2, "vlan": 0, "mac": "02:00:00:00:00:07"}}})");
    }
    struct Req {
        HwRoute6Dest d{};
        HwRoute6Nexthop n{};
        explicit Req(const Path6& p) {
            inet_pton(AF_INET6, p.dest, d.destIpAddr);
            d.prefixLen = p.len;
            if (p.af == 2)
                inet_pton(AF_INET, p.gw, n.nextHop);
            else
                inet_pton(AF_INET6, p.gw, n.nextHop);
            n.afNextHop = p.af;
            n.ifUnit = p.ifUnit;
            n.protoId = p.proto;
            n.weight = p.weight;
        }
    };
    static int add(const Path6& p) {
        Req r(p);
        return hwRoute6RouteAdd(&r.d, &r.n, 0, nullptr);
    }
    static int del(const Path6& p) {
        Req r(p);
        return hwRoute6RouteDel(&r.d, &r.n);
    }
    static HwRoute6Nexthop* find(const Path6& p) {
        Req r(p);
        return hwRoute6NexthopTableLookup(hwRoute6DestTableLookup(&r.d), &r.n);
    }
    static void nd6(const char* addr) {
        HwNd6Node r{};
        inet_pton(AF_INET6, addr, r.nextHop);
        r.ifUnit = 5;
        r.outPort = 7;
        std::memcpy(r.macAddr, "\x02\x00\x00\x00\x0a\xaa", 6);
        r.status = hwStatusIdle;
        ASSERT_EQ(hwNd6Add(&r), 0);
    }
    static HwArpNode arpReq(const char* addr) {
        HwArpNode r{};
        r.nextHop = ip4(addr);
        r.ifUnit = 5;
        r.outPort = 8;
        std::memcpy(r.mac, "\x02\x00\x00\x00\x0b\xbb", 6);
        r.status = hwStatusIdle;
        return r;
    }
    std::vector<uint8_t> last6() const {
        for (auto it = hwCalls().rbegin(); it != hwCalls().rend(); ++it)
            if (it->objectId == HW_OBJ_ROUTE6) return it->data;
        return {};
    }
    std::size_t count6() const {
        std::size_t n = 0;
        for (const SimHwCall& c : hwCalls()) n += c.objectId == HW_OBJ_ROUTE6;
        return n;
    }
};

// A path deleted and added again before the flush: unlike IPv4, the same
// weight changes nothing at all (the destination stays queued and the flush
// writes the path as unchanged); another weight goes out at once, unless the
// path is its destination's only one.
TEST_F(Route6Test, ReaddBeforeFlush) {
    struct Row {
        const char* what;
        bool secondPath;
        uint8_t newWeight;
        std::size_t directCalls;  // route calls at the re-add
        uint32_t HwRouteGlobal::*counter;
    };
    const Row rows[] = {
        {"same weight", false, 1, 0, &HwRouteGlobal::rt6AddNoArpDelCnt},
        {"new weight, equal to the other path", true, 2, 2, &HwRouteGlobal::rt6AddNoSameMetricCnt},
        {"new weight, only path", false, 2, 0, &HwRouteGlobal::rt6AddNoSameMetricNoDoCnt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        reinit({});
        nd6("2001:db8:1::2");
        nd6("2001:db8:1::3");
        const Path6 p;
        ASSERT_EQ(add(p), 0);
        if (r.secondPath) {
            ASSERT_EQ(add(Path6{.gw = "2001:db8:1::3", .weight = 2}), 0);  // a standby until the re-add
        }
        hwRouteUpdate();
        ASSERT_EQ(del(p), 0);
        simClearHwCalls();
        Path6 again = p;
        again.weight = r.newWeight;
        EXPECT_EQ(add(again), 0);
        EXPECT_EQ(count6(), r.directCalls);
        EXPECT_EQ(ghwRoute.*r.counter, 1u);
        EXPECT_EQ(find(p)->weight, r.newWeight);
        EXPECT_FALSE(find(p)->flag & NH_OP_DEL);
        hwRouteUpdate();
        EXPECT_TRUE(find(p)->flag & NH_HW_OK);
        EXPECT_EQ(ghwRoute.hwOkRoute6Cnt, r.secondPath ? 2u : 1u);
    }
}

// Local paths are numbered from 1 in their weight, whatever they came with.
TEST_F(Route6Test, LocalPathsAreNumberedFromOne) {
    for (const char* gw : {"2001:db8:1::1", "2001:db8:1::5", "2001:db8:1::9"})
        ASSERT_EQ(add(Path6{.gw = gw, .proto = 2, .weight = 7}), 0);
    EXPECT_EQ(find(Path6{.gw = "2001:db8:1::1", .proto = 2})->weight, 1);
    EXPECT_EQ(find(Path6{.gw = "2001:db8:1::9", .proto = 2})->weight, 3);
    ASSERT_EQ(del(Path6{.gw = "2001:db8:1::1", .proto = 2}), 0);  // never in hardware: freed at once
    EXPECT_EQ(find(Path6{.gw = "2001:db8:1::9", .proto = 2})->weight, 2);
}

// An IPv6 route through an IPv4 next hop: written at once as a single path
// when the ARP neighbour is in hardware, probed by ICMP and pended when it
// is not, withdrawn with the ARP neighbour and written again when it returns.
TEST_F(Route6Test, IPv4NexthopFollowsItsArpNeighbour) {
    const Path6 p{.gw = "10.9.0.2", .af = 2};
    ASSERT_EQ(add(p), 0);
    EXPECT_EQ(ghwRoute.pendRoute6Cnt, 1u);
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].address, ip4("10.9.0.2"));
    EXPECT_TRUE(probes6.empty());

    HwArpNode arp = arpReq("10.9.0.2");
    ASSERT_EQ(hwArpAdd(&arp), 0);
    hwRouteUpdate();
    std::vector<uint8_t> e = last6();
    ASSERT_EQ(e.size(), 100u);
    EXPECT_EQ(e[27], 25);                                          // size
    EXPECT_EQ(beRead32(&e[40]), ip4("10.9.0.2"));                  // nexthopIp: the IPv4 address
    EXPECT_EQ(std::vector<uint8_t>(e.begin() + 44, e.begin() + 56), std::vector<uint8_t>(12, 0));
    EXPECT_EQ(beRead32(&e[72]), 8u);                               // the ARP neighbour's port
    EXPECT_EQ(e[85], 0xbb);                                        // and MAC
    EXPECT_EQ(e[94], 1);
    EXPECT_TRUE(find(p)->flag & NH_HW_OK);

    ASSERT_EQ(hwArpDel(&arp), 0);
    EXPECT_EQ(last6()[94], 2);  // out at once
    EXPECT_FALSE(find(p)->flag & NH_HW_OK);
    EXPECT_EQ(ghwRoute.pendRoute6Cnt, 1u);

    // A second route finds the neighbour resolved and goes out as one path at once.
    ASSERT_EQ(hwArpAdd(&arp), 0);
    simClearHwCalls();
    ASSERT_EQ(add(Path6{.dest = "2001:db8:200::", .gw = "10.9.0.2", .af = 2}), 0);
    EXPECT_EQ(count6(), 1u);
    EXPECT_EQ(ghwRoute.rt6AddV4NhopCnt, 1u);
    hwRouteUpdate();
    EXPECT_TRUE(find(p)->flag & NH_HW_OK);
    EXPECT_EQ(ghwRoute.hwOkRoute6Cnt, 2u);
}

// Written with a neighbour that is not in hardware, the single path has no
// record: nothing is sent and the path is not taken as present.
TEST_F(Route6Test, IPv4NexthopWithoutResolvedNeighbourSendsNothing) {
    const Path6 p{.gw = "10.9.0.2", .af = 2};
    ASSERT_EQ(add(p), 0);
    simClearHwCalls();
    hwUpdateRoute6In4Add(find(p));
    EXPECT_EQ(count6(), 0u);  // a header claiming a record it does not carry would be misread
    EXPECT_FALSE(find(p)->flag & NH_HW_OK);
}

// A refused single-path write is written again by a later pass, once the
// platform takes it.
TEST_F(Route6Test, RefusedIPv4NexthopWriteIsRetried) {
    HwArpNode arp = arpReq("10.9.0.2");
    ASSERT_EQ(hwArpAdd(&arp), 0);
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 339, "fromCall": 1, "count": 1}]}})");
    const Path6 p{.gw = "10.9.0.2", .af = 2};
    ASSERT_EQ(add(p), 0);
    EXPECT_FALSE(find(p)->flag & NH_HW_OK);
    simClearHwCalls();
    for (int pass = 0; pass < 3; ++pass) hwRouteUpdate();
    ASSERT_EQ(count6(), 1u);
    EXPECT_EQ(last6()[94], 1);  // the path's add
    EXPECT_EQ(beRead32(&last6()[40]), ip4("10.9.0.2"));
    EXPECT_TRUE(find(p)->flag & NH_HW_OK);
    EXPECT_EQ(ghwRoute.hwOkRoute6Cnt, 1u);
    EXPECT_EQ(ghwRoute.abnRecoveredCnt, 1u);
}

// A held neighbour (an IPv4 path still to be taken out through it) learnt
// again while the platform refuses its host entry: the retry that writes it
// brings back the IPv6 path over it too, as an accepted write would.
TEST_F(Route6Test, HeldNeighbourWrittenByItsRetryBringsBackIPv6PathsOverIt) {
    HwArpNode arp = arpReq("10.9.0.2");
    ASSERT_EQ(hwArpAdd(&arp), 0);
    HwRouteDest d4{};
    d4.destIp = ip4("172.16.0.0");
    d4.mask = 0xffff0000;
    HwRouteNexthop n4{};
    n4.nextHop = ip4("10.9.0.2");
    n4.ifUnit = 5;
    n4.protoId = 9;
    n4.weight = 1;
    ASSERT_EQ(hwRouteRouteAdd(&d4, &n4, 0, nullptr), 0);
    const Path6 p{.gw = "10.9.0.2", .af = 2};
    ASSERT_EQ(add(p), 0);
    hwRouteUpdate();
    ASSERT_TRUE(find(p)->flag & NH_HW_OK);

    HwArpNode gone = arpReq("10.9.0.2");
    ASSERT_EQ(hwArpDel(&gone), 0);  // held until the flush takes the IPv4 path out
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "fromCall": 1, "count": 1}]}})");
    HwArpNode back = arpReq("10.9.0.2");
    EXPECT_NE(hwArpAdd(&back), 0);
    for (int pass = 0; pass < 8; ++pass) hwRouteUpdate();
    EXPECT_TRUE(find(p)->flag & NH_HW_OK);
    EXPECT_EQ(ghwRoute.hwOkRoute6Cnt, 1u);
}

// The per-pass probe: the newest pending next hop of each bucket gets one
// ICMPv6 echo request with its VRF after the address record; a next hop on
// a down interface gets none.
TEST_F(Route6Test, PendCheckProbesTheFrontOfEachBucket) {
    ASSERT_EQ(add(Path6{.gw = "2001:db8:1::2"}), 0);
    ASSERT_EQ(add(Path6{.dest = "2001:db8:200::", .gw = "2001:db8:1::2"}), 0);  // same bucket, pended last
    ASSERT_EQ(add(Path6{.dest = "2001:db8:300::", .gw = "2001:db8:1::3", .ifUnit = 7}), 0);
    probes6.clear();
    hwRoute6PendCheck();
    ASSERT_EQ(probes6.size(), 1u);
    uint8_t gw[16];
    inet_pton(AF_INET6, "2001:db8:1::2", gw);
    EXPECT_EQ(std::memcmp(probes6[0].address, gw, 16), 0);
    EXPECT_EQ(probes6[0].icmp, hexBytes("80 00 00 00 00 7b 00 00"));
    EXPECT_EQ(probes6[0].addrLen, 32);
}

// Every order of public add/delete, labelled private add/delete and the two
// ND6 neighbours' add/delete keeps the public counts balanced.
TEST_F(Route6Test, PublicCountsBalanceInEveryOrderOfEvents) {
    static const Path6 pub{.gw = "2001:db8:1::2"};
    static const Path6 priv{.dest = "2001:db8:900::", .gw = "2001:db8:2::2"};
    constexpr uint32_t kVrfPrivate = 5;
    static const auto privReq = [] {
        Req r(priv);
        r.d.vrfId = r.n.nVrfId = kVrfPrivate;
        return r;
    };
    static const auto nd6Del = [](const char* addr) {
        HwNd6Node r{};
        inet_pton(AF_INET6, addr, r.nextHop);
        hwNd6Del(&r);
    };
    const std::function<void()> run[8] = {
        [] { add(pub); },
        [] { del(pub); },
        [] {
            Req r = privReq(), pr(pub);
            r.n.mplsLabelNum = 1;
            r.n.label1 = 100u << 12 | 0x100 | 64;
            hwRoute6VpnAdd(&r.d, &r.n, HW_AF_INET6, &pr.d, &pr.n);
        },
        [] {
            Req r = privReq();
            hwRoute6RouteDel(&r.d, &r.n);
        },
        [] { nd6("2001:db8:1::2"); }, [] { nd6Del("2001:db8:1::2"); },
        [] { nd6("2001:db8:2::2"); }, [] { nd6Del("2001:db8:2::2"); },
    };
    checkPublicCountsInEveryOrder<HwRoute6Nexthop>(
        [this] { reinit({}); }, run, [] { return find(pub); },
        [] {
            Req r = privReq();
            HwRoute6Dest* d = hwRoute6DestTableLookup(&r.d);
            return d != nullptr ? hwRoute6NexthopTableLookup(d, &r.n) : nullptr;
        },
        {&ghwRoute.destPool, &ghwRoute.nexthopPool, &ghwRoute.nd6Pool}, [] { return 0u; });
}

}  // namespace
