// Direct IPv4 route updates: the best set before and after one path changes,
// sent at once, and the settlement of the paths concerned.
#include "hw_routes.h"

namespace {

class RouteUpdate : public HwRouteTest {
protected:
    HwRouteDest* d = nullptr;

    void SetUp() override {
        HwRouteTest::SetUp();
        d = dest(3, "10.1.0.0", "255.255.0.0");
    }

    HwRouteNexthop* via(const char* address, uint32_t flag, uint8_t weight = 1) {
        arp(3, address);
        return path(d, address, flag, 9, weight);
    }

    std::vector<uint8_t> onlyCall() {
        const auto calls = callsOf(HW_OBJ_ROUTE4);
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? std::vector<uint8_t>{} : calls[0].data;
    }
};

TEST_F(RouteUpdate, FirstPathIsAddedAndMarkedPresent) {
    HwRouteNexthop* x = via("192.168.1.1", kNewPath);
    hwUpdateRouteAdd(x);

    const auto e = onlyCall();
    EXPECT_EQ(e.size(), 92u);
    EXPECT_EQ(hdrFlags(e), 0u);
    EXPECT_EQ(hdrNextHopNum(e), 1);
    EXPECT_EQ(records(e).at(0).op, 1);
    EXPECT_EQ(x->flag, kPresent);
    EXPECT_EQ(ghwRoute.hwRouteA2Cnt, 1u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);
    EXPECT_EQ(ghwRoute.hwRouteProtoStats[3][8], 1u);
    EXPECT_TRUE(logged("add ip route on hardware success."));
}

TEST_F(RouteUpdate, SecondEqualPathWidensTheSet) {
    HwRouteNexthop* present = via("192.168.1.1", kPresent);
    HwRouteNexthop* x = via("192.168.1.2", kNewPath);
    hwUpdateRouteAdd(x);

    const auto e = onlyCall();
    EXPECT_EQ(hdrFlags(e), 0x01u);
    EXPECT_EQ(hdrNextHopNum(e), 2);
    const auto r = records(e);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].nexthopIp, ip4("192.168.1.2"));
    EXPECT_EQ(r[0].op, 1);
    EXPECT_EQ(r[1].nexthopIp, ip4("192.168.1.1"));
    EXPECT_EQ(r[1].op, 0);
    EXPECT_EQ(x->flag, kPresent);
    EXPECT_EQ(present->flag, kPresent);
    EXPECT_EQ(ghwRoute.ecmpUpdataAddCnt, 1u);
    EXPECT_EQ(ghwRoute.hwRouteA1Cnt, 1u);
}

TEST_F(RouteUpdate, BetterPathReplacesThePresentOne) {
    HwRouteNexthop* old = via("192.168.1.1", kPresent, 5);
    HwRouteNexthop* x = via("192.168.1.2", kNewPath, 1);
    ghwRoute.hwOkRouteCnt = 1;
    hwUpdateRouteAdd(x);

    const auto e = onlyCall();
    EXPECT_EQ(hdrFlags(e), 0u);
    EXPECT_EQ(hdrNextHopNum(e), 2);
    const auto r = records(e);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].nexthopIp, ip4("192.168.1.1"));
    EXPECT_EQ(r[0].op, 2);
    EXPECT_EQ(r[1].nexthopIp, ip4("192.168.1.2"));
    EXPECT_EQ(r[1].op, 1);
    EXPECT_FALSE(old->flag & NH_HW_OK);
    EXPECT_TRUE(x->flag & NH_HW_OK);
    EXPECT_EQ(ghwRoute.hwRouteD1Cnt, 1u);
    EXPECT_EQ(ghwRoute.hwRouteA2Cnt, 1u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);
}

TEST_F(RouteUpdate, ReweightingTheOnlyPathSendsNothingAndReturnsOne) {
    HwRouteNexthop* x = via("192.168.1.1", kPresent | NH_OP_DEL | NH_OP_CHANGE);
    EXPECT_EQ(hwUpdateRouteDel(x), 1);
    EXPECT_TRUE(hwCalls().empty());
    EXPECT_EQ(ghwRoute.hwUpdateDelNodoCnt, 1u);
    EXPECT_TRUE(x->flag & NH_HW_OK);
}

TEST_F(RouteUpdate, DeletingOneOfThreeEqualPathsListsAllWithOnlyItsOwnDeleted) {
    via("192.168.1.1", kPresent);
    HwRouteNexthop* x = via("192.168.1.2", kPresent | NH_OP_DEL);
    via("192.168.1.3", kPresent);
    ghwRoute.hwOkRouteCnt = 3;

    EXPECT_EQ(hwUpdateRouteDel(x), 0);
    const auto e = onlyCall();
    EXPECT_EQ(hdrFlags(e), 0x03u);
    EXPECT_EQ(hdrNextHopNum(e), 3);
    const auto r = records(e);
    ASSERT_EQ(r.size(), 3u);
    for (const RecView& rec : r) {
        EXPECT_EQ(rec.flags, 0x02u);
        EXPECT_EQ(rec.op, rec.nexthopIp == ip4("192.168.1.2") ? 2 : 0) << std::hex << rec.nexthopIp;
    }
    EXPECT_EQ(e.at(28 + 60), 0) << "protocol is 0 in equal-cost delete records";
    EXPECT_FALSE(x->flag & NH_HW_OK);
    EXPECT_EQ(ghwRoute.hwRouteD2Cnt, 1u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 2u);
}

TEST_F(RouteUpdate, DeletingTheBestPathHandsOverToTheNextBest) {
    HwRouteNexthop* x = via("192.168.1.1", kPresent | NH_OP_DEL, 1);
    HwRouteNexthop* next = via("192.168.1.2", NH_RESOLVED, 5);

    EXPECT_EQ(hwUpdateRouteDel(x), 0);
    const auto r = records(onlyCall());
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].op, 2);
    EXPECT_EQ(r[1].op, 1);
    EXPECT_FALSE(x->flag & NH_HW_OK);
    EXPECT_EQ(next->flag, kPresent);
    EXPECT_EQ(ghwRoute.hwRouteD3Cnt, 1u);
    EXPECT_EQ(ghwRoute.hwRouteA4Cnt, 1u);
}

TEST_F(RouteUpdate, UnchangedBestSetSendsNothing) {
    struct Case {
        const char* what;
        bool del;
        int result;
    } cases[] = {{"add of a worse path", false, 0}, {"delete of a path outside the set", true, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        d = dest(3, "10.1.0.0", "255.255.0.0");
        via("192.168.1.1", kPresent, 1);
        HwRouteNexthop* x = via("192.168.1.2", NH_RESOLVED | (c.del ? NH_OP_DEL : NH_OP_ADD), 5);
        if (c.del)
            EXPECT_EQ(hwUpdateRouteDel(x), c.result);
        else
            hwUpdateRouteAdd(x);
        EXPECT_TRUE(hwCalls().empty());
        EXPECT_TRUE(logged("two set of routes not changed,do nothing"));
    }
}

TEST_F(RouteUpdate, RefusedUpdateOnlyCounts) {
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338}]}})");
    HwRouteNexthop* x = via("192.168.1.1", kNewPath);
    hwUpdateRouteAdd(x);
    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4).size(), 1u);
    EXPECT_EQ(x->flag, kNewPath);
    EXPECT_EQ(ghwRoute.hwErrRouteCnt, 1u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
}

TEST_F(RouteUpdate, FailedVlanQueryAbandonsTheEqualCostDelete) {
    platformConfig(R"({"interfaces": {"8": {"endType": 6, "fail": ["vlan"]}}})");
    via("192.168.1.1", kPresent);
    HwRouteNexthop* x = via("192.168.1.2", kPresent | NH_OP_DEL);
    hwArpFind(3, ip4("192.168.1.2"))->ifUnit = 8;

    EXPECT_EQ(hwUpdateRouteDel(x), -1);
    EXPECT_TRUE(hwCalls().empty());
    EXPECT_TRUE(x->flag & NH_HW_OK);
    EXPECT_TRUE(logged("sysIndexTrans get vlan id failed."));
}

TEST_F(RouteUpdate, PathWithoutNeighbourIsNotMarkedPresent) {
    HwRouteNexthop* x = path(d, "192.168.1.1", kNewPath);  // no neighbour record
    hwUpdateRouteAdd(x);
    EXPECT_EQ(onlyCall().size(), 28u);
    EXPECT_FALSE(x->flag & NH_HW_OK);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
}

}  // namespace
