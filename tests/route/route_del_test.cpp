#include "route_test.h"

class RouteDel : public RouteTest {};

TEST_F(RouteDel, RefusesInvalidUnknownAndRepeatedDeletes) {
    neighbour("192.168.1.1");
    HwRouteNexthop* nh = programmed(Path{});
    const struct {
        Path path;
        const char* line;
    } refused[] = {
        {{.gw = "0.0.0.0"}, "ERROR:receive invalid message."},
        {{.dest = "0.0.0.0", .len = 0, .proto = HW_PROTO_KERNEL}, "ERROR:receive invalid message."},
        {{.dest = "10.2.0.0"}, "ERROR:no found dest entry."},
        {{.proto = 4}, "ERROR:no found nexthop entry."},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(del(c.path), -1) << c.line;
        EXPECT_TRUE(logged(std::string("[hwRouteRouteDel]=>") + c.line)) << c.line;
    }
    ASSERT_EQ(del(Path{}), 0);
    EXPECT_TRUE(nh->flag & NH_OP_DEL);  // the flush takes it out of hardware and frees it
    EXPECT_EQ(del(Path{}), -1);
    EXPECT_TRUE(logged("[hwRouteRouteDel]=>ERROR:route entry delete again."));
}

TEST_F(RouteDel, LocalOrdinalsStayDenseAndLocalNeighbourGoesWithItsPath) {
    const char* gws[] = {"10.1.1.1", "10.1.1.2", "10.1.1.3"};
    auto local = [&](int i) { return Path{.dest = "10.1.1.0", .len = 24, .gw = gws[i], .proto = HW_PROTO_KERNEL}; };
    for (int i = 0; i < 3; ++i) {
        neighbour(gws[i], hwStatusIdle, ARP_FLAG_LOCAL);
        ASSERT_EQ(add(local(i)), 0);
        EXPECT_EQ(find(local(i))->weight, i + 1);
    }
    ASSERT_EQ(del(local(1)), 0);
    EXPECT_EQ(find(local(0))->weight, 1);
    EXPECT_EQ(find(local(2))->weight, 2);
    EXPECT_EQ(hwArpFind(0, ip4(gws[1])), nullptr);
}

TEST_F(RouteDel, PublicRouteWaitsForItsLastPrivateUser) {
    neighbour("192.168.1.1");
    HwRouteNexthop* pub = programmed(Path{});
    programmed(Path{.vrf = 5, .dest = "172.16.0.0"}, HW_AF_INET, pub);
    programmed(Path{.vrf = 6, .dest = "172.16.0.0"}, HW_AF_INET, pub);
    ASSERT_EQ(del(Path{}), 0);
    EXPECT_EQ(pub->flag & (NH_WAIT_PRIVATE | NH_OP_DEL), NH_WAIT_PRIVATE);
    ASSERT_EQ(del(Path{.vrf = 5, .dest = "172.16.0.0"}), 0);
    hwRouteUpdate();
    EXPECT_FALSE(pub->flag & NH_OP_DEL);
    // The last user lets go when the flush has taken it out of hardware (its
    // delete record reads the public route), and the public route goes in the same flush.
    ASSERT_EQ(del(Path{.vrf = 6, .dest = "172.16.0.0"}), 0);
    EXPECT_EQ(pub->privateRefCnt, 1u);
    hwRouteUpdate();
    EXPECT_EQ(ghwRoute.rtDelNoSucPublic4DelCnt, 1u);
    EXPECT_EQ(find(Path{}), nullptr);
}

TEST_F(RouteDel, ExhaustedPoolsFailCleanlyAndDeletesGiveBackExactly) {
    reinit(HwTestSizes{.routeMax = 2});  // 2 destinations, 3 next hops
    uint32_t dests = hwPoolFreeCount(&ghwRoute.destPool), nexthops = hwPoolFreeCount(&ghwRoute.nexthopPool);
    const Path a1, a2{.gw = "192.168.1.2"}, b1{.dest = "10.2.0.0"}, b2{.dest = "10.2.0.0", .gw = "192.168.1.2"};
    for (const Path& p : {a1, a2, b1}) ASSERT_EQ(add(p), 0);
    EXPECT_EQ(add(b2), -1);
    EXPECT_EQ(add(Path{.dest = "10.3.0.0"}), -1);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 3u);
    for (const Path& p : {a1, a2, b1}) ASSERT_EQ(del(p), 0);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.destPool), dests);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.nexthopPool), nexthops);
}

// A tunnel towards 10.1.9.0 rides on the covering 10.1.0.0/16.
TEST_F(RouteDel, CoveringRouteCarriesTunnelUntilAnyOfItsPathsGoes) {
    HwRouteTunNode* tun = hwRouteTunNodeAlloc();
    tun->tunFamily = HW_AF_INET;
    tun->dstType = 2;
    tun->nextHopDst[0] = 10, tun->nextHopDst[1] = 1, tun->nextHopDst[2] = 9;
    hwRouteTunTableAdd(tun);
    for (const char* gw : {"192.168.1.1", "192.168.1.2"}) {
        neighbour(gw);
        programmed(Path{.gw = gw});
    }
    ASSERT_EQ(tun->dstEntry, find(Path{})->pDestEntry);
    ASSERT_EQ(del(Path{}), 0);
    EXPECT_TRUE(hwListEmpty(&ghwRoute.tunList));
}
