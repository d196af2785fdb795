// The layer-2 VPN and tunnel tables' indexes against a model of what was
// added and deleted: lookups by key, and the chains by next hop and by public
// next hop in table order (newest first).
#include <algorithm>
#include <random>
#include <vector>

#include "builders.h"

namespace {

class MplsIndex : public HwTest {
protected:
    std::mt19937 rng{7};
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }
};

// Keys from a small space, so that adds meet stored keys and deletes leave
// holes; an IPv4 and an IPv6 entry may share their first four address bytes.
HwRouteL2vpnNode pseudowireKey(uint32_t k) {
    HwRouteL2vpnNode e{};
    e.vfiId = uint16_t(k % 5);
    e.vpnType = 1;
    e.family = (k / 5) % 2 == 0 ? HW_AF_INET : HW_AF_INET6;
    e.cePort = k / 10;
    e.nexthopIp[0] = 10;
    e.nexthopIp[3] = uint8_t(k % 3);
    if (e.family == HW_AF_INET6) e.nexthopIp[15] = 9;  // beyond an IPv4 key's bytes
    return e;
}

TEST_F(MplsIndex, PseudowireLookupsAndChainsAgreeWithTheModel) {
    HwTestSizes sizes;
    sizes.l2vpnNum = 40;
    reinit(sizes);
    int publics[3];
    std::vector<HwRouteL2vpnNode*> model;  // table order, newest first
    for (int round = 0; round < 3000; ++round) {
        auto modelFind = [&](const HwRouteL2vpnNode& key) {
            return std::find_if(model.begin(), model.end(), [&](HwRouteL2vpnNode* e) {
                return e->vfiId == key.vfiId && e->family == key.family && e->cePort == key.cePort &&
                       std::equal(e->nexthopIp, e->nexthopIp + 16, key.nexthopIp);
            });
        };
        const HwRouteL2vpnNode key = pseudowireKey(below(60));
        auto it = modelFind(key);
        if (it != model.end()) {
            hwRouteL2vpnTableDelete(*it);
            hwRouteL2vpnNodeFree(*it);
            model.erase(it);
        } else if (model.size() < 40) {
            HwRouteL2vpnNode* e = hwRouteL2vpnNodeAlloc();
            ASSERT_NE(e, nullptr);
            *e = key;
            e->publicNexthop = below(4) == 0 ? nullptr : &publics[below(3)];
            hwRouteL2vpnTableAdd(e);
            model.insert(model.begin(), e);
        }
        for (uint32_t j = 0; j < 60; ++j) {
            const HwRouteL2vpnNode probe = pseudowireKey(j);
            auto want = modelFind(probe);
            ASSERT_EQ(hwRouteL2vpnTableLookup(&probe), want == model.end() ? nullptr : *want) << "round " << round;
        }
        for (uint8_t family : {HW_AF_INET, HW_AF_INET6}) {
            for (uint8_t last = 0; last < 3; ++last) {
                HwRouteL2vpnNode at = pseudowireKey(last + (family == HW_AF_INET ? 0 : 5));
                std::vector<HwRouteL2vpnNode*> want, got;
                for (HwRouteL2vpnNode* e : model)
                    if (e->family == family && std::equal(e->nexthopIp, e->nexthopIp + 16, at.nexthopIp)) want.push_back(e);
                for (HwRouteL2vpnNode* e = hwRouteL2vpnFirstTo(family, at.nexthopIp); e; e = hwRouteL2vpnNextTo(e))
                    got.push_back(e);
                ASSERT_EQ(got, want) << "round " << round;
            }
        }
        for (const int& p : publics) {
            std::vector<HwRouteL2vpnNode*> want, got;
            for (HwRouteL2vpnNode* e : model)
                if (e->publicNexthop == &p) want.push_back(e);
            for (HwRouteL2vpnNode* e = hwRouteL2vpnFirstOn(&p); e; e = hwRouteL2vpnNextOn(e)) got.push_back(e);
            ASSERT_EQ(got, want) << "round " << round;
        }
    }
    // Every stored key is found as its own record.
    for (HwRouteL2vpnNode* e : model) EXPECT_EQ(hwRouteL2vpnTableLookup(e), e);
}

// Tunnels that differ in one key field only are told apart; an IPv4 tunnel's
// address bytes beyond the fourth do not count.
TEST_F(MplsIndex, TunnelLookupTellsEveryKeyFieldApart) {
    auto base = [] {
        HwRouteTunNode t{};
        t.routeFamily = HW_AF_INET;
        t.tunFamily = HW_AF_INET;
        t.tunId = 7;
        t.encapsMethod = 4;
        t.routeMask = 0xffffff00;
        t.nexthopMask = 0xffffff00;
        t.dest[0] = 172, t.nextHopSrc[0] = 10, t.nextHopDst[0] = 10, t.nextHopDst[3] = 2;
        return t;
    };
    void (*const changes[])(HwRouteTunNode&) = {
        [](HwRouteTunNode&) {},
        [](HwRouteTunNode& t) { t.tunId++; },
        [](HwRouteTunNode& t) { t.encapsMethod++; },
        [](HwRouteTunNode& t) { t.routeMask = 0xffff0000; },
        [](HwRouteTunNode& t) { t.nexthopMask = 0; },
        [](HwRouteTunNode& t) { t.dest[1] = 1; },
        [](HwRouteTunNode& t) { t.nextHopSrc[2] = 1; },
        [](HwRouteTunNode& t) { t.nextHopDst[3] = 3; },
        [](HwRouteTunNode& t) { t.tunFamily = HW_AF_INET6; },
    };
    std::vector<HwRouteTunNode*> stored;
    for (auto change : changes) {
        HwRouteTunNode* t = hwRouteTunNodeAlloc();
        ASSERT_NE(t, nullptr);
        *t = base();
        change(*t);
        hwRouteTunTableAdd(t);
        stored.push_back(t);
    }
    for (std::size_t i = 0; i < stored.size(); ++i) {
        HwRouteTunNode probe = *stored[i];
        if (probe.tunFamily == HW_AF_INET) probe.nextHopDst[9] = 0xee;  // not part of an IPv4 key
        EXPECT_EQ(hwRouteTunTableLookup(&probe), stored[i]) << "tunnel " << i;
    }
    hwRouteTunTableDelete(stored[0]);
    HwRouteTunNode probe = base();
    EXPECT_EQ(hwRouteTunTableLookup(&probe), nullptr);
    EXPECT_EQ(hwRouteTunTableLookup(stored[1]), stored[1]);
}

// Range queries over far endpoints through adds and deletes: the tunnels in
// the range, newest first (the tunnel list's order), IPv4 and IPv6 apart.
TEST_F(MplsIndex, CoveredTunnelsAreTheModelsNewestFirst) {
    HwTestSizes sizes;
    sizes.tunNum = 30;
    reinit(sizes);
    std::vector<HwRouteTunNode*> model;  // newest first
    auto endpoint = [&](HwRouteTunNode& t) {
        t.tunFamily = below(2) == 0 ? HW_AF_INET : HW_AF_INET6;
        t.nextHopDst[0] = 10;
        t.nextHopDst[3] = uint8_t(below(8));
        t.nextHopDst[15] = uint8_t(below(2));  // ignored for IPv4
    };
    for (int round = 0; round < 2000; ++round) {
        if (!model.empty() && (below(3) == 0 || model.size() == 30)) {
            const auto it = model.begin() + below(uint32_t(model.size()));
            hwRouteTunTableDelete(*it);
            hwRouteTunNodeFree(*it);
            model.erase(it);
        } else {
            HwRouteTunNode* t = hwRouteTunNodeAlloc();
            ASSERT_NE(t, nullptr);
            *t = HwRouteTunNode{};
            t->tunId = uint16_t(round);
            endpoint(*t);
            hwRouteTunTableAdd(t);
            model.insert(model.begin(), t);
        }
        uint8_t low[16] = {10}, high[16] = {10};
        low[3] = uint8_t(below(8));
        high[3] = uint8_t(low[3] + below(3));
        high[15] = uint8_t(below(2));
        const uint8_t family = below(2) == 0 ? HW_AF_INET : HW_AF_INET6;
        std::vector<HwRouteTunNode*> want;
        for (HwRouteTunNode* t : model) {
            const uint32_t n = family == HW_AF_INET ? 4 : 16;
            if (t->tunFamily == family && std::memcmp(t->nextHopDst, low, n) >= 0 &&
                std::memcmp(t->nextHopDst, high, n) <= 0)
                want.push_back(t);
        }
        HwRouteTunNode* const* got;
        const uint32_t n = hwRouteTunCovered(family, low, high, &got);
        ASSERT_EQ(std::vector<HwRouteTunNode*>(got, got + n), want) << "round " << round;
    }
}

}  // namespace
