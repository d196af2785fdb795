// Neighbour events on ILM entries, layer-2 VPN entries and tunnels.
#include "neigh_test.h"

namespace {

template <auto Link, class T>
int timesOn(HwListLink* head, const T* wanted) {
    int n = 0;
    for (auto* rec : hwListOf<Link>(head)) n += rec == wanted;
    return n;
}

void put4(uint8_t* field, const char* addr) {
    const uint32_t a = ip4(addr);
    const uint8_t bytes[4] = {uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)};
    std::memcpy(field, bytes, 4);
}

// Entries as their add handlers leave them: in hardware, or waiting.
HwRouteIlmNode* ilm(uint32_t vrf, const char* nextHop, bool waiting) {
    HwRouteIlmNode* e = hwRouteIlmNodeAlloc();
    e->nextHop = ip4(nextHop);
    e->vrfId = vrf;
    e->swapLabel = (100 + ghwRoute.swIlmCnt) << 12;
    e->status = waiting ? hwStatusWait : hwStatusOk;
    hwRouteIlmTableAdd(e);
    if (waiting) hwRouteIlmTablePendAdd(e);
    return e;
}

// An entry holds one count on its public next hop while it is not waiting.
HwRouteL2vpnNode* l2vpn(const char* edge, bool waiting, HwRouteNexthop* pub) {
    HwRouteL2vpnNode* e = hwRouteL2vpnNodeAlloc();
    e->family = HW_AF_INET;
    put4(e->nexthopIp, edge);
    e->status = waiting ? hwStatusWait : hwStatusOk;
    e->publicNexthop = pub;
    pub->l2vpnRefCnt += waiting ? 0 : 1;
    hwRouteL2vpnTableAdd(e);
    if (waiting) hwRouteL2vpnTablePendAdd(e);
    return e;
}

HwRouteTunNode* tunnel(const char* endpoint, uint16_t dstType) {
    HwRouteTunNode* t = hwRouteTunNodeAlloc();
    t->tunFamily = t->routeFamily = HW_AF_INET;
    put4(t->nextHopDst, endpoint);
    t->dstType = dstType;
    t->status = hwStatusIdle;
    hwRouteTunTableAdd(t);
    return t;
}

TEST_F(NeighTest, IlmEntriesOfTheNeighboursVrfLeaveTheirWaitWithItAndReturnToItOnce) {
    HwRouteIlmNode* mine = ilm(0, "192.168.1.1", true);
    HwRouteIlmNode* otherVrf = ilm(1, "192.168.1.1", true);
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    EXPECT_EQ(timesOn<&HwRouteIlmNode::pendLink>(&ghwRoute.ilmPendList, mine), 0);
    EXPECT_NE(mine->status, hwStatusWait);
    EXPECT_EQ(otherVrf->status, hwStatusWait);
    EXPECT_EQ(ghwRoute.pendIlmCnt, 1u);

    HwRouteIlmNode* stillWaiting = ilm(0, "192.168.1.1", true);
    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(mine->status, hwStatusWait);
    for (HwRouteIlmNode* e : {mine, otherVrf, stillWaiting})
        EXPECT_EQ(timesOn<&HwRouteIlmNode::pendLink>(&ghwRoute.ilmPendList, e), 1);
    EXPECT_EQ(ghwRoute.pendIlmCnt, 3u);
}

TEST_F(NeighTest, L2vpnEntryCountsOnItsPublicRouteOnlyWhileNotWaiting) {
    const Path pub;
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    ASSERT_EQ(routeAdd(pub), 0);
    HwRouteNexthop* p = find(pub);
    HwRouteL2vpnNode* early = l2vpn("192.168.9.9", true, p);
    l2vpn("192.168.8.8", false, p);  // towards another edge, counted throughout

    ASSERT_EQ(arpAdd(arp("192.168.9.9", 0x42, 3)), 0);  // any VRF releases it
    EXPECT_EQ(timesOn<&HwRouteL2vpnNode::pendLink>(&ghwRoute.l2vpnPendList, early), 0);
    EXPECT_EQ(p->l2vpnRefCnt, 2u);
    HwRouteL2vpnNode* late = l2vpn("192.168.9.9", false, p);
    ASSERT_EQ(arpAdd(arp("192.168.9.9", 0x42, 4)), 0);  // entries already out are not counted again
    EXPECT_EQ(p->l2vpnRefCnt, 3u);

    ASSERT_EQ(arpDel(arp("192.168.9.9", 0x42, 3)), 0);
    ASSERT_EQ(arpDel(arp("192.168.9.9", 0x42, 4)), 0);  // both already waiting: no second release
    EXPECT_EQ(p->l2vpnRefCnt, 1u);
    for (HwRouteL2vpnNode* e : {early, late}) {
        EXPECT_EQ(e->status, hwStatusWait);
        EXPECT_EQ(timesOn<&HwRouteL2vpnNode::pendLink>(&ghwRoute.l2vpnPendList, e), 1);
    }
    ASSERT_EQ(arpAdd(arp("192.168.9.9")), 0);
    EXPECT_EQ(p->l2vpnRefCnt, 3u);
}

TEST_F(NeighTest, PublicRouteOfAnL2vpnIsWithdrawnWhenItsLastEntryLosesTheNeighbour) {
    const Path pub;
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    ASSERT_EQ(routeAdd(pub), 0);
    hwRouteUpdate();
    HwRouteNexthop* p = find(pub);
    l2vpn("192.168.1.1", false, p);

    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_TRUE(logged("hwArpDel l2vpnRefCnt is 1 public route can not delete."));
    EXPECT_EQ(p->flag & (NH_WAIT_L2VPN_ARP | NH_NEIGH_LOST | NH_RESOLVED), NH_WAIT_L2VPN_ARP | NH_NEIGH_LOST);
    EXPECT_EQ(ghwRoute.arpDelPublicRt4DelCnt, 0u);  // this withdrawal is not counted
    ASSERT_NE(findArp("192.168.1.1"), nullptr);     // held: the flush needs its MAC for the delete
    EXPECT_EQ(findArp("192.168.1.1")->refCnt, 1u);
    const std::size_t before = callCount();
    hwRouteUpdate();
    EXPECT_EQ(routeOps("10.1.0.0", 2, before), 1);
    EXPECT_EQ(findArp("192.168.1.1"), nullptr);
}

TEST_F(NeighTest, TunnelsAreBoundOnArrivalKeptOnceAcrossAChangeAndDestroyedOnDeparture) {
    const uint32_t tunStart = hwPoolFreeCount(&ghwRoute.tunPool);
    const Path covering;  // 10.1.0.0/16 via 192.168.1.1
    ASSERT_EQ(routeAdd(covering), 0);
    HwRouteTunNode* direct = tunnel("192.168.1.1", 1);
    HwRouteTunNode* elsewhere = tunnel("192.168.1.2", 1);
    HwRouteTunNode* routed = tunnel("10.1.5.5", 2);

    for (uint8_t mac : {0x42, 0x77}) {  // learnt, then changed
        ASSERT_EQ(arpAdd(arp("192.168.1.1", mac)), 0);
        HwArpNode* a = findArp("192.168.1.1");
        HwRouteDest* d = findDest(covering);
        EXPECT_EQ(direct->dstEntry, a);
        EXPECT_EQ(timesOn<&HwRouteTunNode::bindLink>(&a->tunList, direct), 1);
        EXPECT_EQ(routed->dstEntry, d);
        EXPECT_EQ(timesOn<&HwRouteTunNode::bindLink>(&d->tunList, routed), 1);
        EXPECT_EQ(elsewhere->dstEntry, nullptr);
        hwRouteUpdate();
    }
    ASSERT_EQ(arpDel(arp("192.168.1.1", 0x77)), 0);
    EXPECT_EQ(hwListFirst<&HwRouteTunNode::link>(&ghwRoute.tunList), elsewhere);
    EXPECT_EQ(ghwRoute.tunList.next->next, &ghwRoute.tunList);  // and nothing else
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.tunPool), tunStart - 1);
}

}  // namespace
