// Random churn of IPv4 routes and neighbours from datagrams, checked against
// the kernel's view: after every flush the hardware, rebuilt from the calls
// it accepted, holds exactly each remaining route's best path set over the
// neighbours the kernel has reported (each path with its neighbour's MAC)
// and one host entry per neighbour.
#include <gtest/gtest.h>

#include <random>

#include "hwroute/tables.h"
#include "kernel_view.h"
#include "scenario.h"

namespace {

class Churn : public Scenario, public ::testing::WithParamInterface<unsigned> {};

TEST_P(Churn, HardwareHoldsEachRoutesBestPathsOverItsKnownNeighbours) {
    std::mt19937 rng(GetParam());
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const char* dests[] = {"198.51.100.0", "203.0.113.0", "192.0.2.0", "100.64.0.0"};
    const char* gws[] = {"10.9.0.2", "10.9.0.3", "10.9.0.4"};
    const Mac macs[] = {{2, 0, 0, 0, 0, 0x0a}, {2, 0, 0, 0, 0, 0x0b}};
    const char* macText[] = {"02:00:00:00:00:0a", "02:00:00:00:00:0b"};
    const uint32_t destFree = hwPoolFreeCount(&ghwRoute.destPool);
    const uint32_t nhFree = hwPoolFreeCount(&ghwRoute.nexthopPool);
    const uint32_t arpFree = hwPoolFreeCount(&ghwRoute.arpPool);
    KernelView kernel;
    HwModel hw;
    char step[96];
    for (int i = 0; i < 3000; ++i) {
        const int what = pick(10), g = pick(3);
        const char* dst = dests[pick(4)];
        const KernelView::DestKey d{0, ip4(dst), 0xffffff00};
        if (what < 4) {
            const uint32_t w = uint32_t(1 + pick(2));
            route(NL_NEWROUTE, dst, 24, gws[g], kEth, 4, w);
            if (!kernel.hasRoute(d, ip4(gws[g]))) kernel.addRoute(d, ip4(gws[g]), w);  // a repeat changes nothing
        } else if (what < 7) {
            route(NL_DELROUTE, dst, 24, gws[g], kEth, 4);
            kernel.delRoute(d, ip4(gws[g]));
        } else if (what < 9) {
            const int m = pick(2);
            neighbour(gws[g], macText[m]);
            kernel.neighbours[{0, ip4(gws[g])}] = macs[m];
        } else {
            neighbour(gws[g], macText[0], NL_DELNEIGH);
            kernel.neighbours.erase({0, ip4(gws[g])});
        }
        if (pick(4) != 0) continue;
        pass();
        hw.apply(hwCalls());
        std::snprintf(step, sizeof step, "seed %u step %d", GetParam(), i);
        ASSERT_EQ(hw.paths, kernel.expectedPaths())
            << step << "\nhardware:\n" << describe(hw.paths) << "kernel:\n" << describe(kernel.expectedPaths());
        ASSERT_EQ(hw.hosts, kernel.expectedHosts()) << step;
        ASSERT_EQ(ghwRoute.hwOkRouteCnt, hw.paths.size()) << step;
        ASSERT_EQ(ghwRoute.hwRouteProtoStats[0][3], hw.paths.size()) << step;
        ASSERT_EQ(ghwRoute.hwOkArpCnt, hw.hosts.size()) << step;
    }
    // Everything the kernel withdraws leaves the hardware and the pools.
    for (const char* d : dests)
        for (const char* gw : gws) route(NL_DELROUTE, d, 24, gw, kEth, 4);
    for (const char* gw : gws) neighbour(gw, macText[0], NL_DELNEIGH);
    pass();
    hw.apply(hwCalls());
    EXPECT_TRUE(hw.paths.empty());
    EXPECT_TRUE(hw.hosts.empty());
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.destPool), destFree);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.nexthopPool), nhFree);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.arpPool), arpFree);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Churn, ::testing::Values(1u, 2u, 3u, 4u, 5u));

}  // namespace
