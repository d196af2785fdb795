// Start-up state and one pass of the worker loop.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "hwroute/debug.h"
#include "hwroute/frame.h"
#include "hwtest.h"

namespace {

struct AllocCall {
    std::size_t count, size;
};
std::vector<AllocCall> gCalls;
std::vector<void*> gBlocks;

void* recordingAlloc(std::size_t count, std::size_t size) {
    gCalls.push_back({count, size});
    void* p = std::calloc(count, size);
    gBlocks.push_back(p);
    return p;
}

class StateInit : public HwTest {
protected:
    void build(int32_t routeMax, int32_t arp, int32_t nd6, int32_t ilm, int32_t l2vpn, int32_t tun) {
        gCalls.clear();
        hwRouteStateInit(routeMax, arp, nd6, 8, ilm, l2vpn, tun, recordingAlloc);
    }
    void TearDown() override {
        for (void* p : gBlocks) std::free(p);
        gBlocks.clear();
        HwTest::TearDown();
    }
};

TEST_F(StateInit, PoolSizesFollowTheArguments) {
    struct {
        int32_t routeMax, arp, nd6;
        uint32_t nexthops, arpMax, nd6Max;
    } rows[] = {
        {100, 7, 2, 150, 10, 3},
        {7, 1, 100, 10, 1, 150},
        {1, 2, 1, 1, 3, 1},
    };
    build(4, 4, 4, 0, 0, 0);  // zero-sized pools stay empty
    EXPECT_EQ(hwRouteIlmNodeAlloc(), nullptr);
    EXPECT_EQ(hwRouteL2vpnNodeAlloc(), nullptr);
    EXPECT_EQ(hwRouteTunNodeAlloc(), nullptr);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.routeMax);
        build(r.routeMax, r.arp, r.nd6, 5, 6, 7);
        EXPECT_EQ(ghwRoute.routeMax, uint32_t(r.routeMax));
        EXPECT_EQ(ghwRoute.arpMax, r.arpMax);
        EXPECT_EQ(ghwRoute.nd6Max, r.nd6Max);
        EXPECT_EQ(ghwRoute.ecmpMaxNum, 8);
        EXPECT_EQ(hwPoolFreeCount(&ghwRoute.destPool), uint32_t(r.routeMax));
        EXPECT_EQ(hwPoolFreeCount(&ghwRoute.nexthopPool), r.nexthops);
        EXPECT_EQ(hwPoolFreeCount(&ghwRoute.arpPool), r.arpMax);
        EXPECT_EQ(hwPoolFreeCount(&ghwRoute.nd6Pool), r.nd6Max);
        EXPECT_EQ(hwPoolFreeCount(&ghwRoute.ilmPool), 5u);
        EXPECT_EQ(hwPoolFreeCount(&ghwRoute.l2vpnPool), 6u);
        EXPECT_EQ(hwPoolFreeCount(&ghwRoute.tunPool), 7u);
    }
}

TEST_F(StateInit, PoolsAreBuiltInOrderWithTheirElementSizes) {
    build(10, 4, 2, 5, 6, 7);
    const std::vector<std::pair<std::size_t, std::size_t>> want = {
        {10, HW_DEST_NODE_SIZE}, {15, HW_NEXTHOP_NODE_SIZE}, {5, HW_ILM_NODE_SIZE}, {6, HW_L2VPN_NODE_SIZE},
        {7, HW_TUN_NODE_SIZE},   {6, HW_ARP_NODE_SIZE},      {3, HW_ND6_NODE_SIZE}};
    ASSERT_EQ(gCalls.size(), want.size());
    for (std::size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(gCalls[i].count, want[i].first) << "pool " << i;
        EXPECT_EQ(gCalls[i].size, want[i].second) << "pool " << i;
    }
}

TEST_F(StateInit, RecordIsZeroedAndEveryListHeadIsEmpty) {
    ghwRoute.totalRouteMsgNum = 9;
    ghwRoute.cardUpFlag = 1;
    ghwRoute.swRouteProtoStats[3][4] = 2;
    build(4, 4, 4, 4, 4, 4);
    EXPECT_EQ(ghwRoute.totalRouteMsgNum, 0u);
    EXPECT_EQ(ghwRoute.cardUpFlag, 0u);
    EXPECT_EQ(ghwRoute.swRouteProtoStats[3][4], 0u);
    EXPECT_EQ(ghwRoute.debugMask, 0u);
    HwRouteGlobal& g = ghwRoute;
    const std::pair<HwListLink*, uint32_t> arrays[] = {
        {g.routeTable, HW_DEST_BUCKETS},  {g.route6Table, HW_DEST_BUCKETS}, {g.nexthopTable, HW_NHOP_BUCKETS},
        {g.pendTable, HW_NHOP_BUCKETS},   {g.arpTable, HW_NHOP_BUCKETS},    {g.nexthop6Table, HW_NHOP_BUCKETS},
        {g.pend6Table, HW_NHOP_BUCKETS},  {g.nd6Table, HW_NHOP_BUCKETS},    {&g.readyList, 1},
        {&g.indirectList, 1},             {&g.ilmList, 1},                  {&g.ilmPendList, 1},
        {&g.l2vpnList, 1},                {&g.l2vpnPendList, 1},            {&g.tunList, 1},
        {&g.ready6List, 1},               {&g.indirect6List, 1}};
    for (std::size_t a = 0; a < std::size(arrays); a++)
        for (uint32_t i = 0; i < arrays[a].second; i++) {
            HwListLink* h = &arrays[a].first[i];
            ASSERT_TRUE(h->next == h && h->prev == h) << "head set " << a << " index " << i;
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
    // A connected message-preserving pair; the daemon's end becomes notifySock.
    int notifyPeer() {
        int sv[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv), 0);
        fds.insert(fds.end(), {sv[0], sv[1]});
        ghwRoute.notifySock = sv[0];
        return sv[1];
    }
    std::string pass() {
        testing::internal::CaptureStdout();
        hwRouteTaskPass(buffer);
        return testing::internal::GetCapturedStdout();
    }
    uint8_t buffer[1024] = {};
    std::vector<int> fds;
};

TEST_F(TaskPass, IdlePassStillRunsReplayAndProbes) {
    // A waiting label entry is probed by every pass; a card-up and a resend
    // seen together give one replay, and all three flags are consumed.
    HwRouteIlmNode* ilm = hwRouteIlmNodeAlloc();
    ilm->nextHop = ip4("192.0.2.7");
    hwListInsertTail(&ghwRoute.ilmPendList, &ilm->pendLink);
    ghwRoute.cardUpFlag = ghwRoute.resendRouteFlag = ghwRoute.slotUpFlag = 1;

    EXPECT_EQ(pass(), "");
    EXPECT_EQ(logCount("process card up,start sync route to hardware!"), 1);
    EXPECT_EQ(ghwRoute.cardUpFlag | ghwRoute.resendRouteFlag | ghwRoute.slotUpFlag, 0u);
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].address, ip4("192.0.2.7"));

    pass();
    EXPECT_EQ(logCount("process card up"), 1) << "flags were not cleared";
    EXPECT_EQ(probes.size(), 2u);
}

TEST_F(TaskPass, ReadsOneDatagramAndCountsIt) {
    int peer = notifyPeer();
    const uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // too short to hold a message
    ASSERT_EQ(send(peer, junk, sizeof(junk), 0), 8);
    ASSERT_EQ(send(peer, junk, sizeof(junk), 0), 8);
    EXPECT_EQ(pass(), "");
    EXPECT_EQ(ghwRoute.totalRouteMsgNum, 1u);
    EXPECT_EQ(ghwRoute.notifyOkNum, 1u);
    EXPECT_EQ(ghwRoute.rcvErrNum, 0u);
    EXPECT_EQ(buffer[7], 8);
}

TEST_F(TaskPass, ReceiveFailureIsPrintedAndCounted) {
    close(notifyPeer());
    fds.pop_back();
    EXPECT_EQ(pass(), "\n\r hwRouteTask recv error\n\r");
    hwRtErrDebug = 1;
    EXPECT_EQ(pass(), "\n\r hwRouteTask recv error\n\r\n\r hwRouteTask recv msg error.\n\r");
    EXPECT_EQ(ghwRoute.totalRouteMsgNum, 2u);
    EXPECT_EQ(ghwRoute.rcvErrNum, 2u);
    EXPECT_EQ(ghwRoute.notifyOkNum, 0u);
}

TEST_F(TaskPass, SelectFailureIsPrintedAndThePassGoesOn) {
    // A closed descriptor the process's descriptor table still covers.
    const int fd = dup2(1, 900);
    ASSERT_EQ(fd, 900);
    close(fd);
    ghwRoute.nmSock = fd;
    ghwRoute.cardUpFlag = 1;
    EXPECT_EQ(pass(), "\n\r hwRouteTask select error !\n\r");
    EXPECT_EQ(ghwRoute.cardUpFlag, 0u);
    EXPECT_TRUE(logged("process card up"));
}

}  // namespace
