// Start-up pool sizes and one pass of the worker loop.
#include <utility>
#include <vector>

#include "hwroute/frame.h"
#include "hwtest.h"

namespace {

using StateInit = HwTest;

TEST_F(StateInit, PoolSizesFollowTheArguments) {
    // Arguments; free elements of dest, next hop, arp, nd6, ilm, l2vpn and tunnel pools.
    const std::pair<HwTestSizes, std::vector<uint32_t>> rows[] = {
        {{100, 7, 2, 8, 5, 6, 7}, {100, 150, 10, 3, 5, 6, 7}},
        {{7, 1, 100, 8, 5, 6, 7}, {7, 10, 1, 150, 5, 6, 7}},
        {{1, 2, 1, 8, 5, 6, 7}, {1, 1, 3, 1, 5, 6, 7}},
    };
    for (const auto& [sizes, want] : rows) {
        SCOPED_TRACE(sizes.routeMax);
        reinit(sizes);
        std::vector<uint32_t> free;
        for (NodePool* p : {&ghwRoute.destPool, &ghwRoute.nexthopPool, &ghwRoute.arpPool, &ghwRoute.nd6Pool,
                            &ghwRoute.ilmPool, &ghwRoute.l2vpnPool, &ghwRoute.tunPool})
            free.push_back(hwPoolFreeCount(p));
        EXPECT_EQ(free, want);
    }
}

using TaskPass = HwTest;

TEST_F(TaskPass, IdlePassReplaysOnceAndProbesWaitingLabels) {
    HwRouteIlmNode* ilm = hwRouteIlmNodeAlloc();
    ilm->nextHop = ip4("192.0.2.7");
    hwListInsertTail(&ghwRoute.ilmPendList, &ilm->pendLink);
    ghwRoute.cardUpFlag = ghwRoute.resendRouteFlag = ghwRoute.slotUpFlag = 1;
    hwRouteTaskPass();
    hwRouteTaskPass();
    EXPECT_EQ(logCount("process card up,start sync route to hardware!"), 1) << "flags not consumed";
    ASSERT_EQ(probes.size(), 2u) << "one probe per pass";
    EXPECT_EQ(probes[0].address, ip4("192.0.2.7"));
}

}  // namespace
