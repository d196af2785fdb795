// Destination and next-hop tables: keys, buckets, counters and the
// per-protocol statistics.
#include "builders.h"

namespace {

class RouteTable : public HwTest {};

TEST_F(RouteTable, MaskAndVrfArePartOfTheDestinationKey) {
    HwRouteDest* slash8 = addDest(0, "10.0.0.0", "255.0.0.0");
    HwRouteDest* slash16 = addDest(0, "10.0.0.0", "255.255.0.0");
    HwRouteDest* otherVrf = addDest(1, "10.0.0.0", "255.0.0.0");
    HwRouteDest key{};
    key.destIp = ip4("10.0.0.0");
    key.mask = ip4("255.0.0.0");
    EXPECT_EQ(hwRouteDestTableLookup(&key), slash8);
    key.vrfId = 1;
    EXPECT_EQ(hwRouteDestTableLookup(&key), otherVrf);
    key.mask = ip4("255.255.0.0");
    EXPECT_EQ(hwRouteDestTableLookup(&key), nullptr);
    key.vrfId = 0;
    EXPECT_EQ(hwRouteDestTableLookup(&key), slash16);
    // The same prefix in two VRFs: one bucket, newest first.
    EXPECT_EQ(listed<&HwRouteDest::hashLink>(&ghwRoute.routeTable[521]), (std::vector{otherVrf, slash8}));

    HwRoute6Dest* v6 = addDest6(0, "2001:db8::", 32);
    HwRoute6Dest key6 = *v6;
    EXPECT_EQ(hwRoute6DestTableLookup(&key6), v6);
    key6.prefixLen = 48;
    EXPECT_EQ(hwRoute6DestTableLookup(&key6), nullptr);
}

TEST_F(RouteTable, NexthopsSharingLowSevenBitsShareNexthopAndPendBuckets) {
    HwRouteNexthop* a = addNexthop(addDest(0, "20.0.0.0", "255.0.0.0"), 0, "10.0.0.1", 5);
    HwRouteNexthop* b = addNexthop(addDest(0, "30.0.0.0", "255.0.0.0"), 0, "10.0.1.129", 5);
    hwRouteTablePendAdd(a);
    hwRouteTablePendAdd(b);
    EXPECT_EQ(listed<&HwRouteNexthop::hashLink>(&ghwRoute.nexthopTable[1]), (std::vector{b, a}));
    EXPECT_EQ(listed<&HwRouteNexthop::pendLink>(&ghwRoute.pendTable[1]), (std::vector{b, a}));
}

TEST_F(RouteTable, NexthopLookupMatchesVrfAddressAndProtocolOnly) {
    HwRouteDest* d = addDest(0, "20.0.0.0", "255.0.0.0");
    HwRouteNexthop* stored = addNexthop(d, 3, "10.0.0.1", 5, 10);
    stored->ifUnit = 1;
    struct Case {
        const char* what;
        uint32_t vrf;
        const char* via;
        uint8_t proto, weight;
        uint32_t ifUnit;
        bool found;
    } cases[] = {
        {"other weight", 3, "10.0.0.1", 5, 20, 1, true}, {"other interface", 3, "10.0.0.1", 5, 10, 7, true},
        {"other vrf", 4, "10.0.0.1", 5, 10, 1, false},   {"other address", 3, "10.0.0.2", 5, 10, 1, false},
        {"other protocol", 3, "10.0.0.1", 6, 10, 1, false},
    };
    for (const Case& c : cases) {
        HwRouteNexthop req{};
        req.nVrfId = c.vrf;
        req.nextHop = ip4(c.via);
        req.protoId = c.proto;
        req.weight = c.weight;
        req.ifUnit = c.ifUnit;
        EXPECT_EQ(hwRouteNexthopTableLookup(d, &req), c.found ? stored : nullptr) << c.what;
    }
}

TEST_F(RouteTable, NexthopAddAndDeleteMoveCountersAndProtocolEntries) {
    HwRouteDest* d = addDest(7, "20.0.0.0", "255.0.0.0");
    HwRouteNexthop* n = addNexthop(d, 7, "10.0.0.1", 5);
    EXPECT_EQ(d->nhopRefCnt, 1);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 1u);
    EXPECT_EQ(ghwRoute.swRouteProtoStats[7][4], 1u);
    EXPECT_EQ(ghwRoute.swRouteProtoAddStats[7][4], 1u);

    hwRouteNexthopTableDelete(n);
    EXPECT_EQ(d->nhopRefCnt, 0);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 0u);
    EXPECT_EQ(ghwRoute.swNexthopAddCnt, 1u);
    EXPECT_EQ(ghwRoute.swNexthopDelCnt, 1u);
    EXPECT_EQ(ghwRoute.swRouteProtoStats[7][4], 0u);
    EXPECT_EQ(ghwRoute.swRouteProtoDelStats[7][4], 1u);
    EXPECT_TRUE(hwListEmpty(&d->nhopList));
    EXPECT_TRUE(hwListEmpty(&ghwRoute.nexthopTable[1]));

    hwRouteDestTableDelete(d);
    EXPECT_EQ(ghwRoute.swDestCnt, 0u);
    EXPECT_EQ(ghwRoute.swDestAddCnt, 1u);
    EXPECT_EQ(ghwRoute.swDestDelCnt, 1u);
}

// Protocol 0 is never counted; VRFs from 2048 and protocols above 16 lie
// outside the tables and must be skipped, not written into the neighbouring table.
TEST_F(RouteTable, RoutesOutsideTheProtocolTableAreNotCounted) {
    struct Case {
        uint32_t vrf;
        uint8_t proto;
    } cases[] = {{0, 0}, {0, 17}, {5, 255}, {2048, 1}, {0xfffffff0u, 16}};
    for (const Case& c : cases) {
        reinit(HwTestSizes{});
        hwRouteNexthopTableDelete(addNexthop(addDest(c.vrf, "20.0.0.0", "255.0.0.0"), c.vrf, "10.0.0.1", c.proto));
        hwRoute6NexthopTableDelete(addNexthop6(addDest6(c.vrf, "2001:db8::", 32), c.vrf, "fe80::1", c.proto));
        EXPECT_EQ(ghwRoute.swNexthopDelCnt + ghwRoute.swNexthop6DelCnt, 2u);
        uint64_t sum = 0;
        for (uint32_t v = 0; v < HW_STATS_VRFS; ++v) {
            for (uint32_t p = 0; p < HW_STATS_PROTOS; ++p) {
                sum += ghwRoute.swRouteProtoAddStats[v][p] + ghwRoute.swRouteProtoDelStats[v][p] +
                       ghwRoute.swRoute6ProtoAddStats[v][p] + ghwRoute.swRoute6ProtoDelStats[v][p];
            }
        }
        EXPECT_EQ(sum, 0u) << "vrf " << c.vrf << " protocol " << int(c.proto);
    }
    EXPECT_EQ(hwProtoStatsEntry(ghwRoute.swRouteProtoStats, 2047, 16), &ghwRoute.swRouteProtoStats[2047][15]);
}

TEST_F(RouteTable, LocalWeightsCloseTheGapLeftByAGoneLocalPath) {
    HwRouteDest* d = addDest(0, "10.0.0.0", "255.255.255.0");
    HwRouteNexthop* first = addNexthop(d, 0, "10.0.0.1", HW_PROTO_KERNEL, 1);
    HwRouteNexthop* gone = addNexthop(d, 0, "10.0.0.2", HW_PROTO_KERNEL, 2);
    HwRouteNexthop* third = addNexthop(d, 0, "10.0.0.3", HW_PROTO_KERNEL, 3);
    HwRouteNexthop* other = addNexthop(d, 0, "10.0.0.9", 5, 9);
    hwRouteNexthopTableDelete(gone);
    hwRouteLocalWeightsClose(d, gone);
    EXPECT_EQ(first->weight, 1);
    EXPECT_EQ(third->weight, 2);
    EXPECT_EQ(other->weight, 9);
}

}  // namespace
