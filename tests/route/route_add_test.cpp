#include "route_test.h"

class RouteAdd : public RouteTest {};

TEST_F(RouteAdd, RefusesInvalidRequestsButAcceptsDefaultRoute) {
    const struct {
        const char* what;
        Path path;
        int result;
    } cases[] = {
        {"next hop 0", {.gw = "0.0.0.0"}, -1},
        {"interface 0", {.ifUnit = 0}, -1},
        {"local route without prefix", {.dest = "0.0.0.0", .len = 0, .proto = HW_PROTO_KERNEL}, -1},
        {"default route of another protocol", {.dest = "0.0.0.0", .len = 0}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(add(c.path), c.result) << c.what;
        EXPECT_EQ(find(c.path) != nullptr, c.result == 0) << c.what;
    }
    EXPECT_EQ(ghwRoute.rtAddParamErrCnt, 3u);
    EXPECT_EQ(ghwRoute.rtAddCnt, 1u);
    EXPECT_EQ(logCount("[hwRouteRouteAdd]=>ERROR:receive invalid message."), 3);
}

TEST_F(RouteAdd, NeighbourMatchFollowsEffectiveVrfAddressAndState) {
    HwRoute6Nexthop pub6{};
    const struct {
        const char* what;
        uint32_t arpVrf;
        const char* arpAddr;
        uint8_t arpStatus;
        Path path;
        uint32_t family;
        bool known;
    } cases[] = {
        {"resolved neighbour of the next hop", 0, "192.168.1.1", hwStatusOk, {}, 0, true},
        {"neighbour in another VRF", 1, "192.168.1.1", hwStatusOk, {}, 0, false},
        {"neighbour not resolved", 0, "192.168.1.1", hwStatusIdle, {}, 0, false},
        {"local path: any neighbour of its VRF in the bucket", 0, "192.168.2.1", hwStatusIdle,
         {.proto = HW_PROTO_KERNEL}, 0, true},
        {"IPv6 public route never resolves an IPv4 neighbour", 0, "192.168.1.1", hwStatusOk, {.vrf = 5},
         HW_AF_INET6, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        probes.clear();
        neighbour(c.arpVrf, c.arpAddr, c.arpStatus);
        ASSERT_EQ(add(c.path, c.family, c.family ? &pub6 : nullptr), 0);
        EXPECT_EQ((find(c.path)->flag & NH_RESOLVED) != 0, c.known);
        EXPECT_EQ(ghwRoute.readyRouteCnt, c.known ? 1u : 0u);
        EXPECT_EQ(ghwRoute.pendRouteCnt, c.known ? 0u : 1u);
        EXPECT_EQ(probes.size(), c.known ? 0u : 1u);
    }
}

TEST_F(RouteAdd, UnknownNeighbourSendsOneProbeAndWaits) {
    Path p{.vrf = 3, .gw = "192.168.7.9"};
    ASSERT_EQ(add(p), 0);
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].address, ip4("192.168.7.9"));
    EXPECT_EQ(probes[0].vrfId, 3u);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 1u);
    EXPECT_EQ(findDest(p)->readyState, 0);
    EXPECT_TRUE(hwCalls().empty());
}

TEST_F(RouteAdd, PointToPointInterfaceGoesToHardwareAtOnce) {
    Path p{.ifUnit = 6};
    ASSERT_EQ(add(p), 0);
    ASSERT_EQ(hwCalls().size(), 1u);
    EXPECT_EQ(hwCalls()[0].objectId, HW_OBJ_ROUTE4);
    EXPECT_TRUE(find(p)->flag & NH_HW_OK);
    EXPECT_EQ(ghwRoute.rtAddPppCnt, 1u);
    EXPECT_TRUE(probes.empty());
}

TEST_F(RouteAdd, SecondAddOfActivePathIsOnlyCountedEvenWithNewWeight) {
    neighbour(0, "192.168.1.1");
    ASSERT_EQ(add(Path{}), 0);
    ASSERT_EQ(add(Path{}), 0);
    ASSERT_EQ(add(Path{.weight = 7}), 0);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 1u);
    EXPECT_EQ(find(Path{})->weight, 1);
    EXPECT_EQ(logCount("[hwRouteRouteAdd]=>route exist."), 2);
}

// Deleted in software and added again before the flush.
constexpr uint32_t kOps = NH_OP_ADD | NH_OP_DEL | NH_OP_CHANGE;

TEST_F(RouteAdd, ReaddWithSameWeightDropsTheQueuedRemoval) {
    neighbour(0, "192.168.1.1");
    HwRouteNexthop* nh = programmed(Path{});
    ASSERT_EQ(del(Path{}), 0);
    ASSERT_EQ(add(Path{}), 0);
    EXPECT_EQ(nh->flag & kOps, 0u);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);
    simClearHwCalls();
    hwRouteUpdate();
    EXPECT_TRUE(hwCalls().empty());
}

TEST_F(RouteAdd, ReaddWithNewWeightOnMultipathReprogramsAtOnce) {
    neighbour(0, "192.168.1.1");
    neighbour(0, "192.168.1.2");
    HwRouteNexthop* nh = programmed(Path{.weight = 5});
    programmed(Path{.gw = "192.168.1.2", .weight = 5});
    ASSERT_EQ(del(Path{}), 0);
    simClearHwCalls();
    ASSERT_EQ(add(Path{.weight = 1}), 0);
    EXPECT_EQ(hwCalls().size(), 2u);  // out with the old weight, in with the new one
    EXPECT_EQ(nh->weight, 1);
    EXPECT_EQ(nh->flag & (kOps | NH_HW_OK), NH_HW_OK);
    EXPECT_EQ(findDest(Path{})->readyState, 0);
}

TEST_F(RouteAdd, ReaddWithNewWeightOnSinglePathLeavesHardwareUntouched) {
    neighbour(0, "192.168.1.1");
    HwRouteNexthop* nh = programmed(Path{.weight = 5});
    ASSERT_EQ(del(Path{}), 0);
    simClearHwCalls();
    ASSERT_EQ(add(Path{.weight = 1}), 0);
    EXPECT_TRUE(hwCalls().empty());
    EXPECT_EQ(nh->weight, 1);
    EXPECT_EQ(nh->flag & (kOps | NH_HW_OK), NH_HW_OK);
    EXPECT_EQ(ghwRoute.rtAddNoSameMetricNoDoCnt, 1u);
}
