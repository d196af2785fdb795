// ARP add: new neighbours, neighbours learnt again and changes of MAC or
// port, seen through the routes that wait for them.
#include "neigh_test.h"

namespace {

// 192.168.1.1 in VRF 0, MAC 00:11:22:33:44:42, port 3, unit 5 (VLAN 10), op 1.
const char* kHostEntry =
    "00000000 00000000 c0a80101 ffffffff 01000017 00000000 00000000"  // header: nextHopNum 1, size 23
    "00000010 c0a80101 00000000 00000000 00000000"                     // record flags 0x10, nexthopIp
    "00000000 00000000 00000000 00000000"                              // request word
    "00000003 00000005 00112233 4442000a 00000000 00000100 00000000";  // port, ipPort, MAC, vid 10, op 1

TEST_F(NeighTest, RoutesWaitingForANeighbourAreReleasedByItAndWrittenByTheNextFlush) {
    const Path a{.dest = "10.1.0.0"}, b{.dest = "10.2.0.0"};
    ASSERT_EQ(routeAdd(a), 0);
    ASSERT_EQ(routeAdd(b), 0);
    ASSERT_EQ(ghwRoute.pendRouteCnt, 2u);

    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    ASSERT_EQ(callCount(), 1u);
    EXPECT_EQ(hwCalls()[0].data, hexBytes(kHostEntry)) << hexDump(hwCalls()[0].data);
    EXPECT_EQ(findArp("192.168.1.1")->status, hwStatusOk);
    EXPECT_TRUE(logged("[hwArpAdd]=>arp add detected,ifUnit=5,nextHop=0xc0a80101,outPort=3,"
                       "mac=00:11:22:33:44:42,status=2,vpnVrfid=0."));
    EXPECT_EQ(ghwRoute.pendRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 2u);
    EXPECT_EQ(ghwRoute.arpAddNormalPendDelCnt, 2u);
    EXPECT_EQ(ghwRoute.arpAddReadyAddCnt, 2u);

    hwRouteUpdate();
    EXPECT_EQ(routeOps("10.1.0.0", 1), 1);
    EXPECT_EQ(routeOps("10.2.0.0", 1), 1);
    EXPECT_EQ(entries(1)[0].recs[0].mac[5], 0x42);
    EXPECT_EQ(find(a)->flag & (NH_HW_OK | NH_OP_MASK), NH_HW_OK);
    EXPECT_EQ(find(b)->flag & (NH_HW_OK | NH_OP_MASK), NH_HW_OK);
}

TEST_F(NeighTest, HeldNeighbourLearntAgainIsRewrittenWithoutAnyRouteDelete) {
    const Path p;
    ASSERT_EQ(routeAdd(p), 0);
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    hwRouteUpdate();
    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    HwArpNode* held = findArp("192.168.1.1");
    ASSERT_EQ(held->flag, ARP_FLAG_HELD);
    const std::size_t before = callCount();

    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    hwRouteUpdate();
    EXPECT_EQ(callCount(), before + 1);  // the host entry and nothing else
    EXPECT_EQ(hostOps("192.168.1.1", 1, before), 1);
    EXPECT_EQ(held->flag, 0);
    EXPECT_EQ(held->refCnt, 0u);
    EXPECT_EQ(find(p)->flag & (NH_RESOLVED | NH_NEIGH_LOST | NH_HW_OK), NH_RESOLVED | NH_HW_OK);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.arpAddFastReadyDelCnt, 1u);
}

TEST_F(NeighTest, LocalNeighbourIsStoredOnlyAndIgnoredWhenTheKernelReportsIt) {
    HwArpNode local = arp("192.168.1.254", 0x05);
    local.flag = ARP_FLAG_LOCAL;
    ASSERT_EQ(hwArpAdd(&local), 0);
    ASSERT_EQ(arpAdd(arp("192.168.1.254", 0x99)), 0);
    EXPECT_EQ(ghwRoute.arpAddLocalErrCnt, 1u);
    EXPECT_EQ(findArp("192.168.1.254")->mac[5], 0x05);
    EXPECT_EQ(findArp("192.168.1.254")->status, hwStatusIdle);
    EXPECT_EQ(callCount(), 0u);
}

TEST_F(NeighTest, RefusedHostEntryKeepsRoutesWaitingUntilTheMacChanges) {
    const Path p;
    ASSERT_EQ(routeAdd(p), 0);
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "fromCall": 1, "count": 1}]}})");
    EXPECT_EQ(arpAdd(arp("192.168.1.1")), -1);
    EXPECT_EQ(findArp("192.168.1.1")->status, hwStatusAddAbnormal);
    EXPECT_TRUE(logged("[hwArpAdd]=>ERROR: hwUpdateArpAdd error."));
    EXPECT_EQ(ghwRoute.pendRouteCnt, 1u);

    const std::size_t before = callCount();
    EXPECT_EQ(arpAdd(arp("192.168.1.1")), 0);  // the same report is no reason to retry
    EXPECT_EQ(callCount(), before);
    EXPECT_TRUE(logged("[hwArpAdd]=>no change,do nothing more."));

    EXPECT_EQ(arpAdd(arp("192.168.1.1", 0x77)), 0);
    EXPECT_EQ(findArp("192.168.1.1")->status, hwStatusOk);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 0u);
    EXPECT_EQ(findDest(p)->readyState, 1);
}

TEST_F(NeighTest, MacChangeWithdrawsTheRouteAndHostEntryBeforeWritingBothAgain) {
    const Path p;
    ASSERT_EQ(routeAdd(p), 0);
    ASSERT_EQ(arpAdd(arp("192.168.1.1", 0x42)), 0);
    hwRouteUpdate();
    const std::size_t before = callCount();

    ASSERT_EQ(arpAdd(arp("192.168.1.1", 0x77, 0, 8)), 0);
    const std::vector<HwEntry> e = entries(before);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_TRUE(!e[0].host() && e[0].recs[0].op == 2);                         // route, at once
    EXPECT_TRUE(e[1].host() && e[1].recs[0].op == 2 && e[1].recs[0].mac[5] == 0x42);  // old host entry
    EXPECT_TRUE(e[2].host() && e[2].recs[0].op == 1 && e[2].recs[0].mac[5] == 0x77);  // new one
    EXPECT_EQ(e[2].recs[0].port, 4u);
    EXPECT_EQ(e[2].recs[0].vid, 20);
    EXPECT_EQ(find(p)->flag & (NH_HW_OK | NH_OP_ADD), NH_OP_ADD);

    const std::size_t beforeFlush = callCount();
    hwRouteUpdate();
    ASSERT_EQ(routeOps("10.1.0.0", 1, beforeFlush), 1);
    EXPECT_EQ(entries(beforeFlush)[0].recs[0].mac[5], 0x77);
}

TEST_F(NeighTest, InvalidRequestCountsItsFirstMissingField) {
    struct Case {
        const char* what;
        uint32_t nextHop, ifUnit;
        uint32_t HwRouteGlobal::*counter;
    };
    const Case cases[] = {
        {"no address, zero MAC too", 0, 5, &HwRouteGlobal::arpAddParamErrNexthopNullCnt},
        {"address, zero MAC and no unit", ip4("192.168.1.1"), 0, &HwRouteGlobal::arpAddParamErrIfunitNullCnt},
        {"address and unit, zero MAC", ip4("192.168.1.1"), 5, &HwRouteGlobal::arpAddParamErrMacNullCnt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HwArpNode r{};
        r.nextHop = c.nextHop;
        r.ifUnit = c.ifUnit;
        EXPECT_EQ(hwArpAdd(&r), -1);
        EXPECT_EQ(ghwRoute.*c.counter, 1u);
    }
    EXPECT_EQ(ghwRoute.arpAddParamErrCnt, 3u);
    EXPECT_EQ(logCount("[hwArpAdd]=>ERROR: hwArpAdd receive invalid message."), 3);
    EXPECT_EQ(ghwRoute.swArpCnt, 0u);
}

TEST_F(NeighTest, FullPoolRefusesANewNeighbourWithoutTouchingTheTable) {
    reinit(HwTestSizes{.arpNum = 2});
    const uint32_t capacity = arpFree();
    for (uint32_t i = 1; i <= capacity; ++i) {
        HwArpNode r = arp("192.168.1.0");
        r.nextHop += i;
        ASSERT_EQ(hwArpAdd(&r), 0);
    }
    EXPECT_EQ(arpAdd(arp("192.168.2.1")), -1);
    EXPECT_EQ(ghwRoute.arpAddNoMemErrCnt, 1u);
    EXPECT_TRUE(logged("[hwArpAdd]=>ERROR: hwArp node alloc fail."));
    EXPECT_EQ(ghwRoute.swArpCnt, capacity);
    EXPECT_EQ(callCount(), capacity);
}

}  // namespace
