// ARP delete: what leaves the hardware, what waits, and when the neighbour
// record is finally freed.
#include "neigh_test.h"

namespace {

// Deleted while a route in hardware uses it, the neighbour is held until the
// flush takes the route out; learnt again before that, only its host entry is
// written again.
TEST_F(NeighTest, HeldNeighbourLearntAgainBeforeTheFlushOnlyGetsItsHostEntryBack) {
    ASSERT_EQ(routeAdd(Path{}), 0);
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    hwRouteUpdate();
    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    HwArpNode* held = findArp("192.168.1.1");
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->flag, ARP_FLAG_HELD);
    EXPECT_EQ(find(Path{})->flag & (NH_NEIGH_LOST | NH_OP_HW_DEL | NH_RESOLVED), NH_NEIGH_LOST | NH_OP_HW_DEL);

    const std::size_t before = callCount();
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    hwRouteUpdate();
    EXPECT_EQ(callCount(), before + 1);
    EXPECT_EQ(ops("192.168.1.1", 1, before, true), 1);
    EXPECT_EQ(held->flag, 0);
    EXPECT_EQ(find(Path{})->flag & (NH_RESOLVED | NH_NEIGH_LOST | NH_HW_OK), NH_RESOLVED | NH_HW_OK);
}

TEST_F(NeighTest, DeleteOfARefusedNeighbourFreesItWithoutAPlatformCall) {
    const uint32_t arpStart = arpFree();
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "fromCall": 1, "count": 1}]}})");
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), -1);
    const std::size_t before = callCount();
    EXPECT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(callCount(), before);
    EXPECT_EQ(arpFree(), arpStart);
    EXPECT_EQ(arpDel(arp("192.168.1.1")), -1);
}

// A public route on 192.168.1.1 carrying two private routes whose own next
// hop, 192.168.2.2, is matched in the public route's VRF.
TEST_F(NeighTest, PublicRouteKeepsItsPathWhilePrivateUsersStayAndIsWithdrawnOnceWithTheLast) {
    const Path pub, priv1{.vrf = 5, .dest = "172.16.1.0", .len = 24, .gw = "192.168.2.2"},
        priv2{.vrf = 6, .dest = "172.16.2.0", .len = 24, .gw = "192.168.2.2"};
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    ASSERT_EQ(arpAdd(arp("192.168.2.2")), 0);
    ASSERT_EQ(routeAdd(pub), 0);
    HwRouteNexthop* p = find(pub);
    ASSERT_EQ(routeAdd(priv1, HW_AF_INET, p), 0);
    ASSERT_EQ(routeAdd(priv2, HW_AF_INET, p), 0);
    hwRouteUpdate();

    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(p->flag & (NH_WAIT_PRIVATE_ARP | NH_HW_OK | NH_NEIGH_LOST), NH_WAIT_PRIVATE_ARP | NH_HW_OK);

    ASSERT_EQ(arpDel(arp("192.168.2.2")), 0);
    EXPECT_EQ(p->flag & (NH_NEIGH_LOST | NH_RESOLVED), NH_NEIGH_LOST);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 3u);
    const std::size_t before = callCount();
    hwRouteUpdate();
    for (const char* dest : {"10.1.0.0", "172.16.1.0", "172.16.2.0"}) EXPECT_EQ(ops(dest, 2, before), 1) << dest;
}

}  // namespace
