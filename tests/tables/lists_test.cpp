// Ready lists, pending tables and the indirect walks.
#include "builders.h"

namespace {

class RouteLists : public HwTest {
protected:
    // A next hop of `d` resolved through whichever route covers `via`.
    static HwRouteNexthop* addIndirect(HwRouteDest* d, const char* via) {
        HwRouteNexthop* n = addNexthop(d, via);
        hwRouteIndirectTableAdd(n);
        return n;
    }
    static std::vector<HwRouteDest*> ready() { return listed<&HwRouteDest::readyLink>(&ghwRoute.readyList); }
};

TEST_F(RouteLists, ReadyAndPendingListsTakeARecordOnce) {
    HwRouteDest* a = addDest(0, "10.0.0.0", 8);
    HwRouteDest* b = addDest(0, "20.0.0.0", 8);
    for (HwRouteDest* d : {a, b, a}) hwRouteReadyAppend(d);
    EXPECT_EQ(ready(), (std::vector{a, b}));
    for (int i = 0; i < 2; ++i) hwRouteReadyRemove(a);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 1u);
    hwRouteReadyAppend(a);
    EXPECT_EQ(ready(), (std::vector{b, a}));

    // Pending clears the resolved bit.
    HwRouteNexthop* n = addNexthop(b, "10.0.0.5");
    n->flag = NH_RESOLVED | NH_HW_OK;
    for (int i = 0; i < 2; ++i) hwRoutePend(n);
    EXPECT_EQ(n->flag, NH_HW_OK);
    EXPECT_EQ(listed<&HwRouteNexthop::pendLink>(&ghwRoute.pendTable[5]), (std::vector{n}));
    EXPECT_EQ(ghwRoute.pendRouteCnt, 1u);
}

// 172.16/12 is resolved via 192.168.5.5, 192.168/16 via 10.1.1.1 (inside
// 10/8), 20/8 via 30.0.0.1 (outside it).
TEST_F(RouteLists, IndirectWalksFollowRoutesResolvedThroughTheChangedOne) {
    HwRouteDest* base = addDest(0, "10.0.0.0", 8);
    HwRouteDest* mid = addDest(0, "192.168.0.0", 16);
    HwRouteNexthop* midNh = addIndirect(mid, "10.1.1.1");
    HwRouteDest* top = addDest(0, "172.16.0.0", 12);
    HwRouteNexthop* topNh = addIndirect(top, "192.168.5.5");
    HwRouteNexthop* otherNh = addIndirect(addDest(0, "20.0.0.0", 8), "30.0.0.1");

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
    HwRouteDest* self = addDest(0, "10.0.0.0", 8);
    HwRouteNexthop* n = addIndirect(self, "10.1.1.1");
    uint32_t hits = hwIndirectDepthHitCnt;
    hwRouteIndirectRtAdd(self);
    hwRouteIndirectRtDel(self);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.1")), nullptr);
    EXPECT_EQ(hwIndirectDepthHitCnt, hits + 3);
    EXPECT_EQ(logCount("[hwRouteIndirectRtAdd]=>recursion depth 16 reached, stop."), 1);
    EXPECT_EQ(ready(), (std::vector{self}));

    // The pending walk resolves a next hop before recursing, so it ends by itself.
    n->flag &= ~NH_RESOLVED;
    hwRouteIndirectPendDel(self, 1);
    EXPECT_EQ(hwIndirectDepthHitCnt, hits + 3);
}

// Buckets: 10.0.0.0/8 is 521, 10.1.0.0/16 is 905, 10.1.1.0/24 is 265. The
// first covering destination in bucket order wins, not the longest prefix;
// indirect paths are skipped and a connected path gives no next hop.
TEST_F(RouteLists, NexthopLookupTakesFirstCoveringDestinationInBucketOrder) {
    HwRouteDest* d8 = addDest(0, "10.0.0.0", 8);
    HwRouteNexthop* via8 = addNexthop(d8, "1.1.1.1");
    addNexthop(addDest(0, "10.1.0.0", 16), "2.2.2.2");
    addNexthop(addDest(1, "10.1.1.0", 24), "3.3.3.3");  // other VRF
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.7")), via8);
    HwRouteDest* d24 = addDest(0, "10.1.1.0", 24);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.7")), via8);  // no next hops yet
    HwRouteNexthop* beyond = addNexthop(addDest(0, "20.0.0.0", 8), "5.5.5.5");
    addIndirect(d24, "20.0.0.5");
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.7")), beyond);  // all indirect: follow the newest
    HwRouteNexthop* via24 = addNexthop(d24, "4.4.4.4");
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.7")), via24);
    addNexthop(d24, "10.1.1.1", HW_PROTO_KERNEL);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("10.1.1.7")), nullptr);
    EXPECT_EQ(hwRouteIndirectNhopLookup(0, ip4("11.0.0.1")), nullptr);
}

}  // namespace
