// Ready lists, pending tables, indirect lists and the indirect walks.
#include "builders.h"

namespace {

class RouteLists : public HwTest {
protected:
    // A next hop of `d` resolved through whichever route covers `via`.
    HwRouteNexthop* addIndirect(HwRouteDest* d, const char* via) {
        HwRouteNexthop* n = addNexthop(d, 0, via, 5);
        hwRouteIndirectTableAdd(n);
        return n;
    }
    std::vector<HwRouteDest*> ready() { return listed<&HwRouteDest::readyLink>(&ghwRoute.readyList); }
};

TEST_F(RouteLists, ReadyListKeepsArrivalOrderAndGuardsAgainstDoubleMembership) {
    HwRouteDest* a = addDest(0, "10.0.0.0", "255.0.0.0");
    HwRouteDest* b = addDest(0, "20.0.0.0", "255.0.0.0");
    hwRouteReadyAppend(a);
    hwRouteReadyAppend(b);
    hwRouteReadyAppend(a);
    EXPECT_EQ(ready(), (std::vector{a, b}));
    EXPECT_EQ(ghwRoute.readyRouteCnt, 2u);

    hwRouteReadyRemove(a);
    hwRouteReadyRemove(a);
    EXPECT_EQ(a->readyState, 0);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 1u);
    hwRouteReadyAppend(a);
    EXPECT_EQ(ready(), (std::vector{b, a}));
}

TEST_F(RouteLists, PendingTakesAResolvedNexthopOnceAndClearsResolved) {
    HwRouteNexthop* n = addNexthop(addDest(0, "20.0.0.0", "255.0.0.0"), 0, "10.0.0.5", 5);
    n->flag = NH_RESOLVED | NH_HW_OK;
    hwRoutePend(n);
    hwRoutePend(n);
    EXPECT_EQ(n->flag, NH_HW_OK);
    EXPECT_EQ(listed<&HwRouteNexthop::pendLink>(&ghwRoute.pendTable[5]), (std::vector{n}));
    EXPECT_EQ(ghwRoute.pendRouteCnt, 1u);
    hwRouteTablePendDelete(n);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 0u);

    HwRoute6Nexthop* n6 = addNexthop6(addDest6(0, "2001:db8::", 32), 0, "fe80::1", 5);
    n6->flag = NH_RESOLVED;
    hwRoute6Pend(n6);
    hwRoute6Pend(n6);
    EXPECT_EQ(listed<&HwRoute6Nexthop::pendLink>(&ghwRoute.pend6Table[127]), (std::vector{n6}));
    EXPECT_EQ(ghwRoute.pendRoute6Cnt, 1u);
}

// 172.16/12 is resolved via 192.168.5.5, 192.168/16 via 10.1.1.1 (inside
// 10/8), 20/8 via 30.0.0.1 (outside it).
TEST_F(RouteLists, IndirectWalksFollowRoutesResolvedThroughTheChangedOne) {
    HwRouteDest* base = addDest(0, "10.0.0.0", "255.0.0.0");
    HwRouteDest* mid = addDest(0, "192.168.0.0", "255.255.0.0");
    HwRouteNexthop* midNh = addIndirect(mid, "10.1.1.1");
    HwRouteDest* top = addDest(0, "172.16.0.0", "255.240.0.0");
    HwRouteNexthop* topNh = addIndirect(top, "192.168.5.5");
    HwRouteNexthop* otherNh = addIndirect(addDest(0, "20.0.0.0", "255.0.0.0"), "30.0.0.1");
    EXPECT_EQ(otherNh->flag, NH_INDIRECT);

    hwRouteIndirectRtAdd(base);
    EXPECT_EQ(midNh->flag, NH_INDIRECT | NH_OP_ADD | NH_RESOLVED);
    EXPECT_EQ(topNh->flag, NH_INDIRECT | NH_OP_ADD | NH_RESOLVED);
    EXPECT_EQ(ready(), (std::vector{mid, top}));

    hwRouteReadyRemove(mid);
    hwRouteIndirectRtDel(base);
    EXPECT_EQ(topNh->flag & NH_NEIGH_LOST, NH_NEIGH_LOST);
    EXPECT_EQ(ready(), (std::vector{top, mid}));

    // Only unresolved next hops are taken; clearLost drops both lost bits.
    midNh->flag = NH_INDIRECT | NH_NEIGH_LOST | NH_VPN_NEIGH_LOST;
    topNh->flag = NH_INDIRECT | NH_RESOLVED | NH_NEIGH_LOST;
    hwRouteIndirectPendDel(base, 1);
    EXPECT_EQ(midNh->flag, NH_INDIRECT | NH_RESOLVED);
    EXPECT_EQ(topNh->flag, NH_INDIRECT | NH_RESOLVED | NH_NEIGH_LOST);
    EXPECT_EQ(otherNh->flag, NH_INDIRECT);
}

// Regression: a route whose next hop lies inside its own prefix must not
// recurse for ever.
TEST_F(RouteLists, SelfCoveringRouteStopsAtTheDepthLimit) {
    HwRouteDest* self = addDest(0, "10.0.0.0", "255.0.0.0");
    HwRouteNexthop* n = addIndirect(self, "10.1.1.1");
    uint32_t hits = hwIndirectDepthHitCnt;
    hwRouteIndirectRtAdd(self);
    hwRouteIndirectRtDel(self);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.1")), nullptr);
    EXPECT_EQ(hwIndirectDepthHitCnt, hits + 3);
    EXPECT_EQ(logCount("[hwRouteIndirectRtAdd]=>recursion depth 16 reached, stop."), 1);
    EXPECT_TRUE(logged("[hwRouteIndirectNhopLookup]=>recursion depth 16 reached, stop."));
    EXPECT_EQ(ready(), (std::vector{self}));

    // The pending walk resolves a next hop before recursing, so it ends by itself.
    n->flag &= ~NH_RESOLVED;
    hwRouteIndirectPendDel(self, 1);
    EXPECT_EQ(hwIndirectDepthHitCnt, hits + 3);

    HwRoute6Dest* self6 = addDest6(0, "2001:db8::", 32);
    hwRoute6IndirectTableAdd(addNexthop6(self6, 0, "2001:db8::1", 5));
    hwRoute6IndirectRtAdd(self6);
    EXPECT_TRUE(logged("[hwRoute6IndirectRtAdd]=>recursion depth 16 reached, stop."));
}

// Buckets: 10.0.0.0/8 is 521, 10.1.0.0/16 is 905, 10.1.1.0/24 is 265. The
// first covering destination in bucket order wins, not the longest prefix.
TEST_F(RouteLists, NexthopLookupTakesFirstCoveringDestinationInBucketOrder) {
    HwRouteNexthop* via8 = addNexthop(addDest(0, "10.0.0.0", "255.0.0.0"), 0, "1.1.1.1", 5);
    addNexthop(addDest(0, "10.1.0.0", "255.255.0.0"), 0, "2.2.2.2", 5);
    addNexthop(addDest(1, "10.1.1.0", "255.255.255.0"), 1, "3.3.3.3", 5);  // other VRF
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.7")), via8);
    HwRouteDest* slash24 = addDest(0, "10.1.1.0", "255.255.255.0");
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.7")), via8);  // no next hops yet
    HwRouteNexthop* via24 = addNexthop(slash24, 0, "4.4.4.4", 5);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.7")), via24);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("11.0.0.1")), nullptr);
}

TEST_F(RouteLists, NexthopLookupSkipsIndirectPathsAndConnectedGivesNull) {
    HwRouteDest* d = addDest(0, "10.0.0.0", "255.0.0.0");
    addIndirect(d, "20.0.0.5");
    HwRouteNexthop* beyond = addNexthop(addDest(0, "20.0.0.0", "255.0.0.0"), 0, "3.3.3.3", 5);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.2.3.4")), beyond);  // all indirect: follow the newest
    HwRouteNexthop* direct = addNexthop(d, 0, "1.1.1.1", 5);
    addIndirect(d, "30.0.0.1");
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.2.3.4")), direct);
    addNexthop(d, 0, "10.0.0.1", HW_PROTO_KERNEL);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.2.3.4")), nullptr);

    HwRoute6Dest* d6 = addDest6(0, "2001:db8::", 32);
    HwRoute6Nexthop* direct6 = addNexthop6(d6, 0, "fe80::1", 5);
    EXPECT_EQ(hwRoute6IndirectNhopLookup(0, ip6("2001:db8:1::9").data()), direct6);
    addNexthop6(d6, 0, "2001:db8::1", HW_PROTO_KERNEL);
    EXPECT_EQ(hwRoute6IndirectNhopLookup(0, ip6("2001:db8:1::9").data()), nullptr);
}

}  // namespace
