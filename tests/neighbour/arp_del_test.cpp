// ARP delete: what leaves the hardware, what waits, and when the neighbour
// record is finally freed.
#include "neigh_test.h"

namespace {

TEST_F(NeighTest, DeleteWithARouteInHardwareHoldsTheNeighbourUntilTheFlushRemovesIt) {
    const uint32_t arpStart = arpFree();
    const Path p;
    ASSERT_EQ(routeAdd(p), 0);
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    hwRouteUpdate();
    const std::size_t before = callCount();

    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(hostOps("192.168.1.1", 2, before), 1);
    HwArpNode* held = findArp("192.168.1.1");
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->flag, ARP_FLAG_HELD);
    EXPECT_EQ(held->refCnt, 1u);
    EXPECT_EQ(find(p)->flag & (NH_NEIGH_LOST | NH_OP_HW_DEL | NH_RESOLVED), NH_NEIGH_LOST | NH_OP_HW_DEL);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 1u);
    EXPECT_EQ(ghwRoute.arpDelRtRelateCnt, 1u);

    hwRouteUpdate();
    EXPECT_EQ(routeOps("10.1.0.0", 2, before), 1);
    EXPECT_EQ(findArp("192.168.1.1"), nullptr);
    EXPECT_EQ(arpFree(), arpStart);
    EXPECT_EQ(find(p)->flag & (NH_HW_OK | NH_RESOLVED), 0u);  // the route waits for the neighbour again
}

TEST_F(NeighTest, DeleteOfARefusedNeighbourFreesItWithoutAPlatformCall) {
    const uint32_t arpStart = arpFree();
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "fromCall": 1, "count": 1}]}})");
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), -1);
    const std::size_t before = callCount();

    EXPECT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(callCount(), before);
    EXPECT_EQ(ghwRoute.arpDelStateNoSuccessCnt, 1u);
    EXPECT_EQ(arpFree(), arpStart);
    EXPECT_EQ(arpDel(arp("192.168.1.1")), -1);
    EXPECT_TRUE(logged("[hwArpDel]=>ERROR:no found arp entry."));
}

// A public route on 192.168.1.1 carrying two private routes whose own next
// hop, 192.168.2.2, is matched in the public route's VRF.
TEST_F(NeighTest, PublicRouteKeepsItsPathWhilePrivateUsersStayAndIsWithdrawnOnceWithTheLast) {
    const Path pub{.gw = "192.168.1.1"};
    const Path priv1{.vrf = 5, .dest = "172.16.1.0", .len = 24, .gw = "192.168.2.2"};
    const Path priv2{.vrf = 6, .dest = "172.16.2.0", .len = 24, .gw = "192.168.2.2"};
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    ASSERT_EQ(arpAdd(arp("192.168.2.2")), 0);
    ASSERT_EQ(routeAdd(pub), 0);
    HwRouteNexthop* p = find(pub);
    ASSERT_EQ(routeAdd(priv1, HW_AF_INET, p), 0);
    ASSERT_EQ(routeAdd(priv2, HW_AF_INET, p), 0);
    hwRouteUpdate();
    ASSERT_EQ(p->privateArpRefCnt, 2u);

    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_TRUE(logged("hwArpDel privateArpRefCnt is 2 public route can not delete."));
    EXPECT_EQ(p->flag & (NH_WAIT_PRIVATE_ARP | NH_HW_OK | NH_NEIGH_LOST), NH_WAIT_PRIVATE_ARP | NH_HW_OK);
    EXPECT_EQ(findArp("192.168.1.1")->refCnt, 1u);

    ASSERT_EQ(arpDel(arp("192.168.2.2")), 0);
    EXPECT_EQ(p->privateArpRefCnt, 0u);
    EXPECT_EQ(ghwRoute.arpDelPublicRt4DelCnt, 1u);
    EXPECT_EQ(ghwRoute.arpDelRoutePublicPend4AddCnt, 1u);
    EXPECT_EQ(p->flag & (NH_NEIGH_LOST | NH_RESOLVED), NH_NEIGH_LOST);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 3u);

    const std::size_t before = callCount();
    hwRouteUpdate();
    for (const char* dest : {"10.1.0.0", "172.16.1.0", "172.16.2.0"}) EXPECT_EQ(routeOps(dest, 2, before), 1) << dest;
    EXPECT_EQ(ghwRoute.swArpCnt, 0u);
}

// An IPv6 route whose next hop is 192.168.1.1, as the IPv6 route add leaves
// it while the neighbour is unknown.
HwRoute6Nexthop* pendingRoute6Over4(uint32_t vrf, uint8_t tag) {
    HwRoute6Dest* d = hwRoute6DestNodeAlloc();
    d->vrfId = vrf;
    d->destIpAddr[0] = 0x20;
    d->destIpAddr[3] = tag;
    d->prefixLen = 64;
    hwListInit(&d->tunList);
    hwListInit(&d->nhopList);
    hwRoute6DestTableAdd(d);
    HwRoute6Nexthop* n = hwRoute6NexthopNodeAlloc();
    n->nVrfId = vrf;
    n->ifUnit = 5;
    const uint8_t gw[4] = {192, 168, 1, 1};
    std::memcpy(n->nextHop, gw, 4);
    n->afNextHop = HW_AF_INET;
    hwRoute6NexthopTableAdd(d, n);
    n->pDestEntry = d;
    n->flag = NH_OP_ADD;
    hwRoute6TablePendAdd(n);
    return n;
}

TEST_F(NeighTest, IpV6RoutesOverAnIpV4NeighbourOfTheirVrfFollowItsArrivalAndDeparture) {
    HwRoute6Nexthop* mine = pendingRoute6Over4(0, 1);
    HwRoute6Nexthop* other = pendingRoute6Over4(1, 2);

    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    EXPECT_EQ(mine->flag & (NH_OP_ADD | NH_RESOLVED), NH_OP_ADD | NH_RESOLVED);
    EXPECT_EQ(mine->pDestEntry->readyState, 1);
    EXPECT_EQ(other->flag & NH_RESOLVED, 0u);
    EXPECT_EQ(ghwRoute.pendRoute6Cnt, 1u);
    EXPECT_EQ(ghwRoute.arpAddRt6ReadyAddCnt, 1u);

    hwRoute6ReadyTableDelete(mine->pDestEntry);  // as a flush leaves it
    mine->flag = NH_HW_OK | NH_RESOLVED;
    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(ghwRoute.arpDelRt6DelCnt, 1u);
    EXPECT_EQ(mine->flag & NH_RESOLVED, 0u);
    EXPECT_EQ(ghwRoute.pendRoute6Cnt, 2u);
    EXPECT_EQ(findArp("192.168.1.1"), nullptr);  // IPv6 routes do not hold it
}

}  // namespace
