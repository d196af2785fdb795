// Random churn of routes and neighbours from datagrams: after every flush the
// hardware, rebuilt from the calls it accepted, holds exactly the paths and
// host entries the software believes present.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <tuple>

#include "hwroute/flags.h"
#include "hwroute/tables.h"
#include "scenario.h"

namespace {

using PathKey = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;  // vrf, subnet, mask, next hop

// What the hardware holds after applying every accepted call in order, read
// through the shared decoder and hardware state.
struct HwModel {
    HwdState state;
    std::size_t applied = 0;

    void apply(const std::vector<SimHwCall>& calls) {
        for (; applied < calls.size(); ++applied) state.apply(decodedCall(calls[applied]));
    }
    std::set<PathKey> paths() const {
        std::set<PathKey> out;
        for (const auto& [prefix, route] : state.routes)
            for (const auto& [key, path] : route.paths)
                out.insert({prefix.vrf, beRead32(prefix.addr.data()), prefix.len ? ~0u << (32 - prefix.len) : 0,
                            beRead32(key.nexthop.data())});
        return out;
    }
    std::set<std::pair<uint32_t, uint32_t>> hosts() const {
        std::set<std::pair<uint32_t, uint32_t>> out;
        for (const auto& [prefix, path] : state.neighbours) out.insert({prefix.vrf, beRead32(prefix.addr.data())});
        return out;
    }
};

std::set<PathKey> softwarePaths() {
    std::set<PathKey> out;
    for (HwListLink& bucket : ghwRoute.routeTable)
        for (HwRouteDest* d : hwListOf<&HwRouteDest::hashLink>(&bucket))
            for (HwRouteNexthop* n : hwListOf<&HwRouteNexthop::destLink>(&d->nhopList))
                if (n->flag & NH_HW_OK) out.insert({d->vrfId, d->destIp, d->mask, n->nextHop});
    return out;
}

std::set<std::pair<uint32_t, uint32_t>> softwareHosts() {
    std::set<std::pair<uint32_t, uint32_t>> out;
    for (HwListLink& bucket : ghwRoute.arpTable)
        for (HwArpNode* a : hwListOf<&HwArpNode::link>(&bucket))
            if (a->status == hwStatusOk) out.insert({a->vpnVrfid, a->nextHop});
    return out;
}

class Churn : public Scenario, public ::testing::WithParamInterface<unsigned> {};

TEST_P(Churn, HardwareHoldsExactlyWhatTheSoftwareBelievesPresent) {
    std::mt19937 rng(GetParam());
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const char* dests[] = {"198.51.100.0", "203.0.113.0", "192.0.2.0", "100.64.0.0"};
    const char* gws[] = {"10.9.0.2", "10.9.0.3", "10.9.0.4"};
    const char* macs[] = {"02:00:00:00:00:0a", "02:00:00:00:00:0b"};
    const uint32_t destFree = hwPoolFreeCount(&ghwRoute.destPool);
    const uint32_t nhFree = hwPoolFreeCount(&ghwRoute.nexthopPool);
    const uint32_t arpFree = hwPoolFreeCount(&ghwRoute.arpPool);
    HwModel hw;
    char step[96];
    for (int i = 0; i < 3000; ++i) {
        const int what = pick(10);
        const char* gw = gws[pick(3)];
        if (what < 4) {
            route(NL_NEWROUTE, dests[pick(4)], 24, gw, kEth, 4, uint32_t(1 + pick(2)));
        } else if (what < 7) {
            route(NL_DELROUTE, dests[pick(4)], 24, gw, kEth, 4);
        } else if (what < 9) {
            neighbour(gw, macs[pick(2)]);
        } else {
            neighbour(gw, macs[0], NL_DELNEIGH);
        }
        if (pick(4) == 0) {
            pass();
            hw.apply(hwCalls());
            std::snprintf(step, sizeof step, "seed %u step %d", GetParam(), i);
            ASSERT_EQ(hw.paths(), softwarePaths()) << step;
            ASSERT_EQ(hw.hosts(), softwareHosts()) << step;
            ASSERT_EQ(ghwRoute.hwOkRouteCnt, hw.paths().size()) << step;
            ASSERT_EQ(ghwRoute.hwRouteProtoStats[0][3], hw.paths().size()) << step;
            ASSERT_EQ(ghwRoute.hwOkArpCnt, hw.hosts().size()) << step;
        }
    }
    // Everything the kernel withdraws leaves the hardware and the pools.
    for (const char* d : dests)
        for (const char* gw : gws) route(NL_DELROUTE, d, 24, gw, kEth, 4);
    for (const char* gw : gws) neighbour(gw, macs[0], NL_DELNEIGH);
    pass();
    hw.apply(hwCalls());
    EXPECT_TRUE(hw.paths().empty());
    EXPECT_TRUE(hw.hosts().empty());
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.destPool), destFree);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.nexthopPool), nhFree);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.arpPool), arpFree);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Churn, ::testing::Values(1u, 2u, 3u, 4u, 5u));

}  // namespace
