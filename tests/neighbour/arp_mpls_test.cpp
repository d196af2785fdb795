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
    for (int i = 0; i < 4; ++i) field[i] = uint8_t(ip4(addr) >> (24 - 8 * i));
}

// An ILM entry as its add handler leaves it while the neighbour is unknown.
HwRouteIlmNode* waitingIlm(uint32_t vrf) {
    HwRouteIlmNode* e = hwRouteIlmNodeAlloc();
    e->nextHop = ip4("192.168.1.1");
    e->vrfId = vrf;
    e->status = hwStatusWait;
    hwRouteIlmTableAdd(e);
    hwRouteIlmTablePendAdd(e);
    return e;
}

// An entry holds one count on its public next hop for its whole life.
HwRouteL2vpnNode* l2vpn(const char* edge, bool waiting, HwRouteNexthop* pub) {
    HwRouteL2vpnNode* e = hwRouteL2vpnNodeAlloc();
    e->family = HW_AF_INET;
    put4(e->nexthopIp, edge);
    e->status = waiting ? hwStatusWait : hwStatusOk;
    e->publicNexthop = pub;
    pub->l2vpnRefCnt++;
    hwRouteL2vpnTableAdd(e);
    if (waiting) hwRouteL2vpnTablePendAdd(e);
    return e;
}

TEST_F(NeighTest, IlmEntriesOfTheNeighboursVrfLeaveTheirWaitWithItAndReturnToItOnce) {
    HwRouteIlmNode* mine = waitingIlm(0);
    HwRouteIlmNode* otherVrf = waitingIlm(1);
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    EXPECT_EQ(timesOn<&HwRouteIlmNode::pendLink>(&ghwRoute.ilmPendList, mine), 0);
    EXPECT_NE(mine->status, hwStatusWait);
    EXPECT_EQ(otherVrf->status, hwStatusWait);

    HwRouteIlmNode* stillWaiting = waitingIlm(0);
    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(mine->status, hwStatusWait);
    for (HwRouteIlmNode* e : {mine, otherVrf, stillWaiting})
        EXPECT_EQ(timesOn<&HwRouteIlmNode::pendLink>(&ghwRoute.ilmPendList, e), 1);
}

// Layer-2 VPN entries are released by the neighbour of their edge in any
// VRF, and neighbours never move their counts. The public route outlives its
// own neighbour only while an entry through another neighbour is in
// hardware (without holding the neighbour record), and is withdrawn when
// that entry goes too.
TEST_F(NeighTest, L2vpnEntriesKeepTheirPublicRouteOnlyWhileInHardwareElsewhere) {
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    ASSERT_EQ(routeAdd(Path{}), 0);
    hwRouteUpdate();
    HwRouteNexthop* p = find(Path{});
    HwRouteL2vpnNode* far = l2vpn("192.168.9.9", true, p);
    l2vpn("192.168.1.1", false, p);  // towards the public next hop itself
    ASSERT_EQ(arpAdd(arp("192.168.9.9", 0x42, 3)), 0);
    EXPECT_EQ(timesOn<&HwRouteL2vpnNode::pendLink>(&ghwRoute.l2vpnPendList, far), 0);

    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(p->flag & (NH_WAIT_L2VPN_ARP | NH_NEIGH_LOST), NH_WAIT_L2VPN_ARP);
    EXPECT_EQ(hwArpFind(0, ip4("192.168.1.1")), nullptr) << "the neighbour is not held for the entries";
    // Its return ends the wait: the far entry's loss no longer withdraws the route.
    ASSERT_EQ(arpAdd(arp("192.168.1.1")), 0);
    EXPECT_EQ(p->flag & NH_WAIT_L2VPN_ARP, 0u);
    ASSERT_EQ(arpDel(arp("192.168.9.9", 0x42, 3)), 0);
    EXPECT_EQ(p->flag & NH_NEIGH_LOST, 0u);
    EXPECT_EQ(timesOn<&HwRouteL2vpnNode::pendLink>(&ghwRoute.l2vpnPendList, far), 1);
    hwRouteUpdate();

    // With the far entry waiting, nothing keeps the route when its neighbour goes again.
    ASSERT_EQ(arpDel(arp("192.168.1.1")), 0);
    EXPECT_EQ(p->flag & (NH_WAIT_L2VPN_ARP | NH_NEIGH_LOST), NH_NEIGH_LOST);
    EXPECT_EQ(p->l2vpnRefCnt, 2u) << "neighbours never move the entries' counts";
    const std::size_t before = callCount();
    hwRouteUpdate();
    EXPECT_EQ(ops("10.1.0.0", 2, before), 1);
}

TEST_F(NeighTest, TunnelsAreBoundOnArrivalKeptOnceAcrossAChangeAndDestroyedOnDeparture) {
    const uint32_t tunStart = hwPoolFreeCount(&ghwRoute.tunPool);
    ASSERT_EQ(routeAdd(Path{}), 0);  // 10.1.0.0/16 via 192.168.1.1
    HwRouteTunNode* t[3];            // towards the neighbour, another address, and inside 10.1.0.0/16
    const char* endpoints[] = {"192.168.1.1", "192.168.1.2", "10.1.5.5"};
    for (int i = 0; i < 3; ++i) {
        t[i] = hwRouteTunNodeAlloc();
        t[i]->tunFamily = t[i]->routeFamily = HW_AF_INET;
        put4(t[i]->nextHopDst, endpoints[i]);
        t[i]->dstType = i < 2 ? 1 : 2;
        hwRouteTunTableAdd(t[i]);
    }
    for (uint8_t mac : {0x42, 0x77}) {  // learnt, then changed
        ASSERT_EQ(arpAdd(arp("192.168.1.1", mac)), 0);
        HwArpNode* a = findArp("192.168.1.1");
        HwRouteDest* d = find(Path{})->pDestEntry;
        EXPECT_EQ(t[0]->dstEntry, a);
        EXPECT_EQ(timesOn<&HwRouteTunNode::bindLink>(&a->tunList, t[0]), 1);
        EXPECT_EQ(t[1]->dstEntry, nullptr);
        EXPECT_EQ(t[2]->dstEntry, d);
        EXPECT_EQ(timesOn<&HwRouteTunNode::bindLink>(&d->tunList, t[2]), 1);
        hwRouteUpdate();
    }
    ASSERT_EQ(arpDel(arp("192.168.1.1", 0x77)), 0);
    EXPECT_EQ(hwListFirst<&HwRouteTunNode::link>(&ghwRoute.tunList), t[1]);
    EXPECT_EQ(ghwRoute.tunList.next->next, &ghwRoute.tunList);  // and nothing else
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.tunPool), tunStart - 1);
}

}  // namespace
