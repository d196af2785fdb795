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
}

// A new path is ready when its neighbour is known in its effective VRF, is
// written at once on a point-to-point interface, and otherwise waits with its
// neighbour probed once, in the path's VRF.
TEST_F(RouteAdd, NewPathIsReadyWaitingOrWrittenAtOnce) {
    enum Outcome { Ready, Waits, Written };
    const struct {
        const char* what;
        const char* arpAddr;
        uint8_t arpStatus;
        Path path;
        Outcome outcome;
    } cases[] = {
        {"resolved neighbour of the next hop", "192.168.1.1", hwStatusOk, {}, Ready},
        {"neighbour in another VRF", "192.168.1.1", hwStatusOk, {.vrf = 3}, Waits},
        {"neighbour not resolved", "192.168.1.1", hwStatusIdle, {}, Waits},
        {"local path: any neighbour of its VRF in the bucket", "192.168.2.1", hwStatusIdle, {.proto = HW_PROTO_KERNEL},
         Ready},
        {"point-to-point interface", "192.168.9.9", hwStatusOk, {.ifUnit = 6}, Written},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        probes.clear();
        simClearHwCalls();
        neighbour(c.arpAddr, c.arpStatus);
        ASSERT_EQ(add(c.path), 0);
        EXPECT_EQ(ghwRoute.readyRouteCnt, c.outcome == Ready ? 1u : 0u);
        EXPECT_EQ(ghwRoute.pendRouteCnt, c.outcome == Waits ? 1u : 0u);
        EXPECT_EQ(probes.size(), c.outcome == Waits ? 1u : 0u);
        for (const auto& probe : probes) EXPECT_EQ(probe.vrfId, c.path.vrf);
        EXPECT_EQ(hwCalls().size(), c.outcome == Written ? 1u : 0u);
    }
}

TEST_F(RouteAdd, SecondAddOfActivePathIsOnlyCountedEvenWithNewWeight) {
    neighbour("192.168.1.1");
    for (uint8_t weight : {1, 1, 7}) ASSERT_EQ(add(Path{.weight = weight}), 0);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 1u);
    EXPECT_EQ(find(Path{})->weight, 1);
    EXPECT_EQ(logCount("[hwRouteRouteAdd]=>route exist."), 2);
}

// Deleted in software and added again before the flush: the queued delete is
// dropped. A new weight on one of several paths is written at once (out with
// the old weight, in with the new one); the only path is left to the flush.
TEST_F(RouteAdd, ReaddBeforeTheFlushCancelsTheDelete) {
    const struct {
        const char* what;
        bool twoPaths;
        uint8_t weight;
        size_t calls;
        uint32_t ready;
    } cases[] = {{"same weight", false, 5, 0, 0},
                 {"new weight, several paths", true, 1, 2, 0},
                 {"new weight, only path", false, 1, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        for (const char* gw : {"192.168.1.1", "192.168.1.2"}) neighbour(gw);
        HwRouteNexthop* nh = programmed(Path{.weight = 5});
        if (c.twoPaths) programmed(Path{.gw = "192.168.1.2", .weight = 5});
        ASSERT_EQ(del(Path{}), 0);
        simClearHwCalls();
        ASSERT_EQ(add(Path{.weight = c.weight}), 0);
        EXPECT_EQ(hwCalls().size(), c.calls);
        EXPECT_EQ(ghwRoute.readyRouteCnt, c.ready);
        EXPECT_EQ(nh->weight, c.weight);
        EXPECT_EQ(nh->flag & (NH_OP_ADD | NH_OP_DEL | NH_OP_CHANGE | NH_HW_OK), NH_HW_OK);
    }
}
