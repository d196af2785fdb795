// The ready-list flush: batching, the library call, the settlement of the
// next hops after a success and the re-queueing after a refusal.
#include <sys/socket.h>
#include <unistd.h>

#include "hw_routes.h"

namespace {

class Flush : public HwRouteTest {
protected:
    // A ready destination with `paths` paths via 192.168.<third>.1, .2, ...
    HwRouteDest* readyDest(const char* prefix, int third, int paths, uint32_t flag = kNewPath) {
        HwRouteDest* d = dest(prefix, "255.255.255.0");
        for (int i = 1; i <= paths; ++i)
            linked(d, ("192.168." + std::to_string(third) + "." + std::to_string(i)).c_str(), flag);
        hwRouteReadyTableAdd(d);
        return d;
    }
    static uint32_t firstFlag(HwRouteDest* d) { return hwListFirst<&HwRouteNexthop::destLink>(&d->nhopList)->flag; }
    void refuseRoutes(int count) {
        platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "count": )" + std::to_string(count) + "}]}}");
    }
    std::vector<std::size_t> callLengths() const {
        std::vector<std::size_t> out;
        for (const auto& c : callsOf(HW_OBJ_ROUTE4)) out.push_back(c.data.size());
        return out;
    }
};

TEST_F(Flush, ReadyDestinationsShareOneCallOnceNoKernelInputWaits) {
    hwRouteUpdate();
    EXPECT_TRUE(hwCalls().empty()) << "empty ready list";

    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, fds), 0);
    ASSERT_EQ(write(fds[1], "ping", 4), 4);
    ghwRoute.notifySock = fds[0];
    HwRouteDest* a = readyDest("10.1.0.0", 1, 1);
    HwRouteDest* b = readyDest("10.2.0.0", 2, 1);
    hwRouteUpdate();
    EXPECT_TRUE(hwCalls().empty()) << "kernel input goes first";
    char buf[8];
    ASSERT_EQ(read(fds[0], buf, sizeof(buf)), 4);

    auto expected = build(a);
    const auto second = build(b);
    expected.insert(expected.end(), second.begin(), second.end());
    hwRouteUpdate();
    const auto calls = callsOf(HW_OBJ_ROUTE4);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].data, expected) << "entries in ready order";
    EXPECT_EQ(firstFlag(a), kPresent);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 2u);
    ghwRoute.notifySock = 0;
    close(fds[0]);
    close(fds[1]);
}

// Entries are 28 + 64 bytes per path; a batch holds about 1 KB and the size
// field counts words in 8 bits.
TEST_F(Flush, BatchBoundaries) {
    struct Case {
        const char* what;
        std::vector<int> paths;  // of each ready destination
        std::vector<std::size_t> calls;
    } cases[] = {
        {"too large together: two calls of one pass", {12, 12}, {796, 796}},
        {"larger than a batch: alone, not blocking the rest", {22, 1}, {1436, 92}},
        {"longer than the size field: never shares a call", {1, 17, 1}, {92, 1116, 92}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow({.ecmpMaxNum = 32});
        for (std::size_t i = 0; i < c.paths.size(); ++i)
            readyDest(("10." + std::to_string(i + 1) + ".0.0").c_str(), int(i + 1), c.paths[i]);
        hwRouteUpdate();
        EXPECT_EQ(callLengths(), c.calls);
        EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);
    }
}

// A group holds at most HW_MAX_SET records; the deletes past it follow in the
// next batch, and the last one frees the destination.
TEST_F(Flush, DeletesBeyondAFullGroupGoOutInAFollowingBatchThenTheDestinationIsFreed) {
    reinit(HwTestSizes{.routeMax = 120, .arpNum = 100});
    HwRouteDest* d = readyDest("10.1.0.0", 1, HW_MAX_SET + 2, kPresent | NH_OP_DEL);
    ghwRoute.hwOkRouteCnt = HW_MAX_SET + 2;
    hwRouteUpdate();
    EXPECT_EQ(callLengths(), (std::vector<std::size_t>{28 + HW_MAX_SET * 64, 28 + 2 * 64}));
    EXPECT_EQ(ops(callsOf(HW_OBJ_ROUTE4).at(1).data), (Ops{{2, 2}, {1, 2}}));
    EXPECT_EQ(ghwRoute.swNexthopCnt, 0u);
    EXPECT_EQ(ghwRoute.swDestCnt, 0u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
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
        {"pushed-out path competes again", kPresent | NH_OP_BACKUP, kNewPath, &HwRouteGlobal::updateBackUpToDelCnt},
        {"unresolved add waits", NH_OP_ADD, NH_OP_ADD, &HwRouteGlobal::updateNoArpAddCnt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow();
        HwRouteDest* d = dest("10.1.0.0", "255.255.255.0");
        if (c.betterSibling) linked(d, "192.168.1.9", kPresent, 1);
        HwRouteNexthop* n = linked(d, "192.168.1.1", c.before, 5);
        hwRouteReadyTableAdd(d);
        readyDest("10.2.0.0", 2, 1);  // so the batch always goes out
        hwRouteUpdate();
        EXPECT_EQ(n->flag, c.after);
        EXPECT_EQ(ghwRoute.*c.counter, 1u);
    }
}

TEST_F(Flush, RemovedKernelPathTakesItsLocalNeighbourAndClosesTheOrdinals) {
    HwRouteDest* d = dest("10.1.0.0", "255.255.255.0");
    HwRouteNexthop* third = path(d, "10.1.0.3", kPresent, 3, HW_PROTO_KERNEL);
    HwRouteNexthop* second = path(d, "10.1.0.2", kPresent, 2, HW_PROTO_KERNEL);
    path(d, "10.1.0.1", kPresent | NH_OP_DEL, 1, HW_PROTO_KERNEL);
    for (const char* a : {"10.1.0.1", "10.1.0.2", "10.1.0.3"}) arp(a)->flag = ARP_FLAG_LOCAL;
    hwRouteReadyTableAdd(d);
    hwRouteUpdate();
    EXPECT_EQ(hwArpFind(3, ip4("10.1.0.1")), nullptr);
    EXPECT_NE(hwArpFind(3, ip4("10.1.0.2")), nullptr);
    EXPECT_EQ(second->weight, 1);
    EXPECT_EQ(third->weight, 2);
}

// ---- refused batches ------------------------------------------------------------

TEST_F(Flush, RefusedBatchMatesAreRetriedAloneSoOneBadDestinationHoldsNoneBack) {
    HwRouteDest* a = readyDest("10.1.0.0", 1, 1);
    HwRouteDest* b = readyDest("10.2.0.0", 2, 1);
    refuseRoutes(2);  // the batch, then the first retry
    hwRouteUpdate();
    hwRouteUpdate();  // each alone: the first retried is refused again, the other gets through
    EXPECT_EQ(callLengths(), (std::vector<std::size_t>{2 * 92, 92, 92}));
    EXPECT_EQ(a->readyState + b->readyState, 1);
    hwRouteUpdate();
    EXPECT_EQ(a->readyState + b->readyState, 0);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 2u);
}

TEST_F(Flush, RefusedBatchIsRetriedOncePerPassUnchangedAndLoggedAtPowersOfTen) {
    refuseRoutes(1000);
    HwRouteDest* d = readyDest("10.1.0.0", 1, 1);
    for (int pass = 0; pass < 12; ++pass) hwRouteUpdate();
    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4).size(), 12u) << "passed over for the rest of each pass";
    EXPECT_EQ(firstFlag(d), kNewPath);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 1u);
    EXPECT_EQ(logCount("update ipv4 routes item failed 1 times in a row"), 1);
    EXPECT_EQ(logCount("update ipv4 routes item failed 10 times in a row"), 1);
    EXPECT_EQ(logCount("times in a row"), 2);

    platformConfig(R"({"hardware": {"refuse": []}})");
    d->routeFailState = 1;  // as a refusal in a pass cut short by kernel input leaves it
    hwRouteUpdate();
    EXPECT_EQ(callsOf(HW_OBJ_ROUTE4).size(), 12u) << "passed over once more";
    hwRouteUpdate();
    EXPECT_EQ(firstFlag(d), kPresent);
    EXPECT_EQ(hwRouteFlushFailRun, 0u);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);
}

}  // namespace
