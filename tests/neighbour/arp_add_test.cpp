// ARP add: new neighbours and changes of MAC or port, seen through the routes
// that wait for them, and the validation of the request.
#include "neigh_test.h"

namespace {

TEST_F(NeighTest, NeighbourReleasesWaitingRoutesAndAMacChangeRewritesThem) {
    const char* dests[] = {"10.1.0.0", "10.2.0.0"};
    for (const char* dest : dests) ASSERT_EQ(routeAdd(Path{.dest = dest}), 0);
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    EXPECT_EQ(ops("192.168.1.1", 1, 0, true), 1);
    EXPECT_EQ(callCount(), 1u) << "the routes wait for the flush";
    EXPECT_EQ(ghwRoute.readyRouteCnt, 2u);
    hwRouteUpdate();
    for (const char* dest : dests) EXPECT_EQ(ops(dest, 1), 1) << dest;

    // New MAC on unit 8: the routes leave at once, then the old host entry, then the new one goes in.
    std::size_t before = callCount();
    ASSERT_EQ(arpAdd(arp("192.168.1.1", 0x77, 0, 8)), 0);
    const std::vector<HwRec> r = records(before);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_TRUE(!r[0].host && r[0].op == 2 && !r[1].host && r[1].op == 2);
    EXPECT_TRUE(r[2].host && r[2].op == 2 && r[2].macLast == 0x42);
    EXPECT_TRUE(r[3].host && r[3].op == 1 && r[3].macLast == 0x77 && r[3].port == 4 && r[3].vid == 20);
    before = callCount();
    hwRouteUpdate();
    EXPECT_EQ(ops("10.1.0.0", 1, before) + ops("10.2.0.0", 1, before), 2);
    EXPECT_EQ(records(before)[0].macLast, 0x77);
}

TEST_F(NeighTest, LocalNeighbourIsStoredOnlyAndIgnoredWhenTheKernelReportsIt) {
    HwArpNode local = arp("192.168.1.254", 0x05);
    local.flag = ARP_FLAG_LOCAL;
    ASSERT_EQ(hwArpAdd(&local), 0);
    ASSERT_EQ(arpAdd(arp("192.168.1.254", 0x99)), 0);
    EXPECT_EQ(findArp("192.168.1.254")->mac[5], 0x05);
    EXPECT_EQ(callCount(), 0u);
}

TEST_F(NeighTest, InvalidRequestCountsItsFirstMissingField) {
    const struct { const char* what; uint32_t nextHop, ifUnit; uint32_t HwRouteGlobal::*counter; } cases[] = {
        {"no address, zero MAC too", 0, 5, &HwRouteGlobal::arpAddParamErrNexthopNullCnt},
        {"address, zero MAC and no unit", ip4("192.168.1.1"), 0, &HwRouteGlobal::arpAddParamErrIfunitNullCnt},
        {"address and unit, zero MAC", ip4("192.168.1.1"), 5, &HwRouteGlobal::arpAddParamErrMacNullCnt},
    };
    for (const auto& c : cases) {
        HwArpNode r{};
        r.nextHop = c.nextHop;
        r.ifUnit = c.ifUnit;
        EXPECT_EQ(hwArpAdd(&r), -1) << c.what;
        EXPECT_EQ(ghwRoute.*c.counter, 1u) << c.what;
    }
    EXPECT_EQ(ghwRoute.arpAddParamErrCnt, 3u);
    EXPECT_EQ(ghwRoute.swArpCnt, 0u);
}

}  // namespace
