// The ready-list flush: batching, the library call, the settlement of the
// next hops after a success and the re-queueing after a refusal.
#include <sys/socket.h>
#include <unistd.h>

#include "hw_routes.h"

namespace {

class Flush : public HwRouteTest {
protected:
    // A ready destination with `paths` resolved new paths via 192.168.<third>.1, .2, ...
    HwRouteDest* readyDest(const char* prefix, int third, int paths, uint32_t flag = kNewPath) {
        HwRouteDest* d = dest(3, prefix, "255.255.255.0");
        for (int i = 1; i <= paths; ++i) {
            const std::string via = "192.168." + std::to_string(third) + "." + std::to_string(i);
            path(d, via.c_str(), flag);
            arp(3, via.c_str());
        }
        hwRouteReadyTableAdd(d);
        return d;
    }
    static HwRouteNexthop* firstPath(HwRouteDest* d) { return hwListFirst<&HwRouteNexthop::destLink>(&d->nhopList); }
    void refuseRoutes(int fromCall, int count) {
        platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "fromCall": )" + std::to_string(fromCall) +
                       R"(, "count": )" + std::to_string(count) + "}]}}");
    }
    std::vector<std::size_t> callLengths() const {
        std::vector<std::size_t> out;
        for (const auto& c : callsOf(HW_OBJ_ROUTE4)) out.push_back(c.data.size());
        return out;
    }
};

TEST_F(Flush, EmptyReadyListMakesNoCall) {
    hwRouteUpdate();
    EXPECT_TRUE(hwCalls().empty());
}

TEST_F(Flush, ReadyDestinationsShareOneCallAndTheirPathsBecomePresent) {
    HwRouteDest* a = readyDest("10.1.0.0", 1, 1);
    HwRouteDest* b = readyDest("10.2.0.0", 2, 1);
    auto expected = build(a);
    const auto second = build(b);
    expected.insert(expected.end(), second.begin(), second.end());

    hwRouteUpdate();
    const auto calls = callsOf(HW_OBJ_ROUTE4);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].flags, 1u);
    EXPECT_EQ(calls[0].data, expected) << "entries in ready order";
    EXPECT_EQ(firstPath(a)->flag, kPresent);
    EXPECT_EQ(a->readyState, 0);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.updateReadyDelCnt, 2u);
    EXPECT_EQ(ghwRoute.updateSendMsgCnt, 1u);
    EXPECT_EQ(ghwRoute.hwRouteA6Cnt, 2u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 2u);
    EXPECT_EQ(ghwRoute.hwRouteProtoStats[3][9 - 1], 2u);
    EXPECT_TRUE(logged("update ipv4 routes item success"));
}

TEST_F(Flush, WaitingKernelInputHoldsTheFlushBack) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, fds), 0);
    ASSERT_EQ(write(fds[1], "ping", 4), 4);
    ghwRoute.notifySock = fds[0];
    readyDest("10.1.0.0", 1, 1);

    hwRouteUpdate();
    EXPECT_TRUE(hwCalls().empty());
    char buf[8];
    ASSERT_EQ(read(fds[0], buf, sizeof(buf)), 4);
    hwRouteUpdate();
    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4).size(), 1u);
    ghwRoute.notifySock = 0;
    close(fds[0]);
    close(fds[1]);
}

TEST_F(Flush, TwoDestinationsTooLargeTogetherGoInTwoCallsOfOnePass) {
    reinit(HwTestSizes{.ecmpMaxNum = 32});
    readyDest("10.1.0.0", 1, 12);  // estimate 28 + 12 x 64 = 796
    readyDest("10.2.0.0", 2, 12);
    hwRouteUpdate();
    EXPECT_EQ(callLengths(), (std::vector<std::size_t>{796, 796}));
    EXPECT_EQ(ghwRoute.updateSendMsgCnt, 2u);
}

TEST_F(Flush, RefusedBatchReturnsUnchangedAndIsPassedOverOnce) {
    refuseRoutes(1, 1);
    HwRouteDest* d = readyDest("10.1.0.0", 1, 1);

    hwRouteUpdate();
    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4).size(), 1u);
    EXPECT_EQ(d->readyState, 1);
    EXPECT_EQ(d->routeFailState, 0);  // passed over once within the same call
    EXPECT_EQ(ghwRoute.readyRouteCnt, 1u);
    EXPECT_EQ(ghwRoute.hwErrRouteCnt, 1u);
    EXPECT_EQ(firstPath(d)->flag, kNewPath);
    EXPECT_TRUE(logged("update ipv4 routes item failed"));

    d->routeFailState = 1;  // as a refusal in a call cut short by kernel input leaves it
    hwRouteUpdate();
    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4).size(), 1u);
    EXPECT_EQ(d->routeFailState, 0);

    hwRouteUpdate();
    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4).size(), 2u);
    EXPECT_EQ(firstPath(d)->flag, kPresent);
}

TEST_F(Flush, DeletedLastPathIsFreedWithItsDestination) {
    HwRouteDest* d = readyDest("10.1.0.0", 1, 1, kPresent | NH_OP_DEL);
    ghwRoute.hwOkRouteCnt = 1;
    ghwRoute.hwRouteProtoStats[3][8] = 1;

    hwRouteUpdate();
    const auto calls = callsOf(HW_OBJ_ROUTE4);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(records(calls[0].data).at(0).op, 2);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 0u);
    EXPECT_EQ(ghwRoute.swDestCnt, 0u);
    EXPECT_EQ(ghwRoute.updateSwRouteDelCnt, 1u);
    EXPECT_EQ(ghwRoute.hwRouteD5Cnt, 1u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.hwRouteProtoStats[3][8], 0u);
    EXPECT_EQ(hwRouteDestTableLookup(d), nullptr);
}

TEST_F(Flush, SettlementOfPathsThatStay) {
    struct Case {
        const char* what;
        uint32_t before, after;
        uint32_t HwRouteGlobal::*counter;
        bool betterSibling = false;  // a present path that beats it
    } cases[] = {
        {"standby add keeps its add, loses standby", kNewPath, kNewPath, &HwRouteGlobal::updateBackupAddCnt, true},
        {"card-up replay is present again", kNewPath | NH_CARDUP_PEND, kPresent, &HwRouteGlobal::cardupHwOkRouteCnt},
        {"pushed-out path competes again", kPresent | NH_OP_BACKUP, NH_RESOLVED | NH_OP_ADD,
         &HwRouteGlobal::updateBackUpToDelCnt},
        {"unresolved add waits", NH_OP_ADD, NH_OP_ADD, &HwRouteGlobal::updateNoArpAddCnt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        HwRouteDest* d = dest(3, "10.1.0.0", "255.255.255.0");
        if (c.betterSibling) {
            path(d, "192.168.1.9", kPresent, 9, 1);
            arp(3, "192.168.1.9");
        }
        HwRouteNexthop* n = path(d, "192.168.1.1", c.before, 9, 5);
        arp(3, "192.168.1.1");
        hwRouteReadyTableAdd(d);
        readyDest("10.2.0.0", 2, 1);  // so the batch always goes out
        hwRouteUpdate();
        EXPECT_EQ(n->flag, c.after);
        EXPECT_EQ(ghwRoute.*c.counter, 1u);
    }
}

TEST_F(Flush, HeldNeighbourGoesWithItsLastDependentPath) {
    HwArpNode* held = arp(3, "192.168.1.1");
    held->flag = ARP_FLAG_HELD;
    held->refCnt = 2;
    auto removeRouteThroughIt = [this](const char* prefix) {
        HwRouteDest* d = dest(3, prefix, "255.255.255.0");
        path(d, "192.168.1.1", kPresent | NH_NEIGH_LOST);
        hwRouteReadyTableAdd(d);
        hwRouteUpdate();
    };
    removeRouteThroughIt("10.1.0.0");
    ASSERT_EQ(hwArpFind(3, ip4("192.168.1.1")), held);
    EXPECT_EQ(held->refCnt, 1u);
    removeRouteThroughIt("10.2.0.0");
    EXPECT_EQ(hwArpFind(3, ip4("192.168.1.1")), nullptr);
    EXPECT_EQ(logCount("[hwRouteUpdate] del route destIpAddr:"), 2);
}

TEST_F(Flush, RemovedKernelPathTakesItsLocalNeighbourAndClosesTheOrdinals) {
    HwRouteDest* d = dest(3, "10.1.0.0", "255.255.255.0");
    HwRouteNexthop* third = path(d, "10.1.0.3", kPresent, HW_PROTO_KERNEL, 3);
    HwRouteNexthop* second = path(d, "10.1.0.2", kPresent, HW_PROTO_KERNEL, 2);
    path(d, "10.1.0.1", kPresent | NH_OP_DEL, HW_PROTO_KERNEL, 1);
    for (const char* a : {"10.1.0.1", "10.1.0.2", "10.1.0.3"}) arp(3, a)->flag = ARP_FLAG_LOCAL;
    hwRouteReadyTableAdd(d);

    hwRouteUpdate();
    EXPECT_EQ(hwArpFind(3, ip4("10.1.0.1")), nullptr);
    EXPECT_NE(hwArpFind(3, ip4("10.1.0.2")), nullptr);
    EXPECT_EQ(second->weight, 1);
    EXPECT_EQ(third->weight, 2);
}

// ---- destinations that do not fit a batch -----------------------------------

TEST_F(Flush, DestinationLargerThanABatchGoesAloneAndDoesNotBlockTheOthers) {
    reinit(HwTestSizes{.ecmpMaxNum = 32});
    readyDest("10.1.0.0", 1, 22);  // estimate 28 + 22 x 64 = 1436
    readyDest("10.2.0.0", 2, 1);
    const uint32_t solo = hwRouteFlushSoloCnt;

    hwRouteUpdate();
    EXPECT_EQ(callLengths(), (std::vector<std::size_t>{1436, 92}));
    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4)[0].data[19], uint8_t(1436 / 4));  // low 8 bits; the call's length says it
    EXPECT_EQ(hwRouteFlushSoloCnt - solo, 1u);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);
}

TEST_F(Flush, EntryLongerThanTheSizeFieldNeverSharesACall) {
    reinit(HwTestSizes{.ecmpMaxNum = 32});
    readyDest("10.1.0.0", 1, 1);
    readyDest("10.2.0.0", 2, 17);  // 28 + 17 x 64 = 1116 bytes
    readyDest("10.3.0.0", 3, 1);
    hwRouteUpdate();
    EXPECT_EQ(callLengths(), (std::vector<std::size_t>{92, 1116, 92}));
}

TEST_F(Flush, DeferredDeletesGoOutInAFollowingBatch) {
    reinit(HwTestSizes{.routeMax = 120, .arpNum = 100});
    readyDest("10.1.0.0", 1, HW_MAX_SET + 2, kPresent | NH_OP_DEL);
    ghwRoute.hwOkRouteCnt = HW_MAX_SET + 2;

    hwRouteUpdate();
    EXPECT_EQ(callLengths(), (std::vector<std::size_t>{28 + HW_MAX_SET * 64, 28 + 2 * 64}));
    EXPECT_EQ(ghwRoute.swNexthopCnt, 0u);
    EXPECT_EQ(ghwRoute.swDestCnt, 0u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
}

// ---- batches that keep failing --------------------------------------------------

TEST_F(Flush, RefusedBatchMatesAreRetriedAloneSoOneBadDestinationHoldsNoneBack) {
    HwRouteDest* a = readyDest("10.1.0.0", 1, 1);
    HwRouteDest* b = readyDest("10.2.0.0", 2, 1);
    refuseRoutes(1, 2);  // the batch, then the first retry

    hwRouteUpdate();
    hwRouteUpdate();  // each alone: the first retried is refused again, the other gets through
    EXPECT_EQ(callLengths(), (std::vector<std::size_t>{2 * 92, 92, 92}));
    EXPECT_EQ(a->readyState + b->readyState, 1);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);

    hwRouteUpdate();
    EXPECT_EQ(a->readyState + b->readyState, 0);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 2u);
}

TEST_F(Flush, StuckBatchIsRetriedEveryPassAndLoggedAtPowersOfTen) {
    refuseRoutes(1, 1000);
    readyDest("10.1.0.0", 1, 1);
    for (int pass = 0; pass < 12; ++pass) hwRouteUpdate();

    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4).size(), 12u);  // once per pass
    EXPECT_EQ(hwRouteFlushFailRun, 12u);
    EXPECT_EQ(logCount("update ipv4 routes item failed 1 times in a row"), 1);
    EXPECT_EQ(logCount("update ipv4 routes item failed 10 times in a row"), 1);
    EXPECT_EQ(logCount("times in a row"), 2);

    platformConfig(R"({"hardware": {"refuse": []}})");
    hwRouteUpdate();
    EXPECT_EQ(hwRouteFlushFailRun, 0u);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);
}

}  // namespace
