// The ready-list flush: batching, the library call, the settlement of the
// next hops after a success and the re-queueing after a refusal.
#include <sys/socket.h>
#include <unistd.h>

#include "hw_routes.h"

namespace {

class Flush : public HwRouteTest {
protected:
    // Ready destination 10.<i>.0.0/24 with `paths` paths via 192.168.<i>.1, .2, ...
    HwRouteDest* readyDest(int i, int paths, uint32_t flag = kNewPath) {
        HwRouteDest* d = dest(("10." + std::to_string(i) + ".0.0").c_str(), "255.255.255.0");
        for (int p = 1; p <= paths; ++p)
            linked(d, ("192.168." + std::to_string(i) + "." + std::to_string(p)).c_str(), flag);
        hwRouteReadyTableAdd(d);
        return d;
    }
    static uint32_t firstFlag(HwRouteDest* d) { return hwListFirst<&HwRouteNexthop::destLink>(&d->nhopList)->flag; }
    std::vector<std::size_t> callLengths() const {
        std::vector<std::size_t> out;
        for (const auto& c : hwCalls()) out.push_back(c.data.size());
        return out;
    }
};
using Lengths = std::vector<std::size_t>;

TEST_F(Flush, NothingGoesOutWhileKernelInputWaits) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, fds), 0);
    ASSERT_EQ(write(fds[1], "ping", 4), 4);
    ghwRoute.notifySock = fds[0];
    HwRouteDest* a = readyDest(1, 1);
    hwRouteUpdate();
    EXPECT_TRUE(hwCalls().empty());
    char buf[8];
    ASSERT_EQ(read(fds[0], buf, sizeof(buf)), 4);
    hwRouteUpdate();
    EXPECT_EQ(firstFlag(a), kPresent);
    ghwRoute.notifySock = 0;
    close(fds[0]);
    close(fds[1]);
}

// Entries are 28 + 64 bytes per path, in ready order; a batch holds about
// 1 KB and the size field counts words in 8 bits. A group holds at most
// HW_MAX_SET records; the deletes past it follow in the next batch.
TEST_F(Flush, BatchBoundaries) {
    struct Case {
        const char* what;
        std::vector<int> paths;  // of each ready destination
        Lengths calls;
        uint32_t flag = kNewPath;
    } cases[] = {
        {"nothing ready: no call", {}, {}},
        {"small ones share a call", {1, 2}, {92 + 156}},
        {"too large together: two calls of one pass", {12, 12}, {796, 796}},
        {"larger than a batch: alone, not blocking the rest", {22, 1}, {1436, 92}},
        {"longer than the size field: never shares a call", {1, 17, 1}, {92, 1116, 92}},
        {"deletes beyond a full group", {HW_MAX_SET + 2}, {28 + HW_MAX_SET * 64, 28 + 2 * 64}, kPresent | NH_OP_DEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow({.routeMax = 160, .arpNum = 160, .ecmpMaxNum = 32});
        std::vector<HwRouteDest*> ds;
        for (std::size_t i = 0; i < c.paths.size(); ++i) ds.push_back(readyDest(int(i + 1), c.paths[i], c.flag));
        // The first destination's key, kept apart: the flush may return the record to its pool.
        const HwRouteDest firstKey = ds.empty() ? HwRouteDest{} : *ds[0];
        ghwRoute.hwOkRouteCnt = c.flag & NH_HW_OK ? c.paths[0] : 0;
        hwRouteUpdate();
        EXPECT_EQ(callLengths(), c.calls);
        if (!ds.empty()) {
            EXPECT_EQ(beRead32(hwCalls().at(0).data.data() + 8), ip4("10.1.0.0")) << "ready order";
        }
        EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);
        EXPECT_EQ(ghwRoute.hwOkRouteCnt, c.flag & NH_HW_OK ? 0 : ghwRoute.swNexthopCnt);
        if (c.flag & NH_OP_DEL) {  // the last delete frees the destination
            EXPECT_EQ(ghwRoute.swNexthopCnt + ghwRoute.swDestCnt, 0u);
            EXPECT_EQ(hwRouteDestTableLookup(&firstKey), nullptr);
        }
    }
}

TEST_F(Flush, SettlementOfPathsThatStay) {
    struct Case {
        const char* what;
        uint32_t before, after;
        uint32_t HwRouteGlobal::*counter;  // raised once; null: none to check
        uint32_t sibling = 0;              // flags of a better path beside it (0: none)
    } cases[] = {
        {"standby add keeps its add, loses standby", kNewPath, kNewPath, &HwRouteGlobal::updateBackupAddCnt, kPresent},
        {"card-up replay is present again", kNewPath | NH_CARDUP_PEND, kPresent, &HwRouteGlobal::cardupHwOkRouteCnt},
        {"pushed-out path competes again", kPresent, kNewPath, &HwRouteGlobal::updateBackUpToDelCnt, kNewPath},
        // Regression: the push-out mark of a refused build, its better path
        // gone before the retry, had the path settled as removed while the
        // hardware still held it.
        {"stale push-out mark, better path gone: stays present", kPresent | NH_OP_BACKUP, kPresent, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow();
        HwRouteDest* d = dest("10.1.0.0", "255.255.255.0");
        if (c.sibling != 0) linked(d, "192.168.1.9", c.sibling, 1);
        HwRouteNexthop* n = linked(d, "192.168.1.1", c.before, 5);
        hwRouteReadyTableAdd(d);
        readyDest(2, 1);  // so the batch always goes out
        hwRouteUpdate();
        EXPECT_EQ(n->flag, c.after);
        if (c.counter != nullptr) {
            EXPECT_EQ(ghwRoute.*c.counter, 1u);
        }
    }
}

// ---- refused batches ------------------------------------------------------------

TEST_F(Flush, RefusedBatchMatesAreRetriedAloneSoOneBadDestinationHoldsNoneBack) {
    HwRouteDest* a = readyDest(1, 1);
    HwRouteDest* b = readyDest(2, 1);
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "count": 2}]}})");  // the batch, then the first retry
    hwRouteUpdate();
    hwRouteUpdate();  // each alone: the first retried is refused again, the other gets through
    EXPECT_EQ(callLengths(), (Lengths{2 * 92, 92, 92}));
    EXPECT_EQ(a->readyState + b->readyState, 1);
    hwRouteUpdate();
    EXPECT_EQ(a->readyState + b->readyState, 0);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 2u);
}

TEST_F(Flush, RefusedBatchIsRetriedOncePerPassUnchangedAndLoggedAtPowersOfTen) {
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "count": 1000}]}})");
    HwRouteDest* d = readyDest(1, 1);
    for (int pass = 0; pass < 12; ++pass) hwRouteUpdate();
    EXPECT_EQ(callLengths().size(), 12u) << "passed over for the rest of each pass";
    EXPECT_EQ(firstFlag(d), kNewPath);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 1u);
    EXPECT_EQ(logCount("times in a row"), 2) << "after 1 and 10";

    platformConfig(R"({"hardware": {"refuse": []}})");
    d->routeFailState = 1;  // as a refusal in a pass cut short by kernel input leaves it
    hwRouteUpdate();
    EXPECT_EQ(callLengths().size(), 12u) << "passed over once more";
    hwRouteUpdate();
    EXPECT_EQ(firstFlag(d), kPresent);
    EXPECT_EQ(hwRouteFlushFailRun, 0u);
}

}  // namespace
