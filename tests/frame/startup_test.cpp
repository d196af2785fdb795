// Start-up pool sizes and one pass of the worker loop.
#include <sys/socket.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "hwroute/debug.h"
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
        EXPECT_EQ(ghwRoute.arpMax, want[2]);
        EXPECT_EQ(ghwRoute.nd6Max, want[3]);
    }
}

// One pass of the worker loop, with sockets the test controls.
class TaskPass : public HwTest {
protected:
    void TearDown() override {
        for (int fd : fds) close(fd);
        hwRtErrDebug = 0;
        HwTest::TearDown();
    }
    std::string pass() {
        testing::internal::CaptureStdout();
        hwRouteTaskPass(buffer);
        return testing::internal::GetCapturedStdout();
    }
    uint8_t buffer[1024] = {};
    int fds[2] = {-1, -1};
};

TEST_F(TaskPass, IdlePassReplaysOnceAndProbesWaitingLabels) {
    HwRouteIlmNode* ilm = hwRouteIlmNodeAlloc();
    ilm->nextHop = ip4("192.0.2.7");
    hwListInsertTail(&ghwRoute.ilmPendList, &ilm->pendLink);
    ghwRoute.cardUpFlag = ghwRoute.resendRouteFlag = ghwRoute.slotUpFlag = 1;
    EXPECT_EQ(pass(), "");
    pass();
    EXPECT_EQ(logCount("process card up,start sync route to hardware!"), 1) << "flags not consumed";
    ASSERT_EQ(probes.size(), 2u) << "one probe per pass";
    EXPECT_EQ(probes[0].address, ip4("192.0.2.7"));
}

TEST_F(TaskPass, ReadsOneDatagramPerPassAndCountsFailures) {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    ghwRoute.notifySock = fds[0];
    const uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // too short to hold a message
    ASSERT_EQ(send(fds[1], junk, sizeof(junk), 0), 8);
    ASSERT_EQ(send(fds[1], junk, sizeof(junk), 0), 8);
    EXPECT_EQ(pass(), "");
    EXPECT_EQ(ghwRoute.notifyOkNum, 1u);
    EXPECT_EQ(buffer[7], 8);
    close(fds[1]);
    fds[1] = -1;
    pass();  // the second datagram is still queued
    hwRtErrDebug = 1;
    EXPECT_EQ(pass(), "\n\r hwRouteTask recv error\n\r\n\r hwRouteTask recv msg error.\n\r");
    EXPECT_EQ(ghwRoute.totalRouteMsgNum, 3u);
    EXPECT_EQ(ghwRoute.notifyOkNum, 2u);
    EXPECT_EQ(ghwRoute.rcvErrNum, 1u);
}

}  // namespace
