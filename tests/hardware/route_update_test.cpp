// Direct IPv4 route updates: the best set before and after one path changes,
// sent at once, and the settlement of the paths concerned.
#include "hw_routes.h"

namespace {

class RouteUpdate : public HwRouteTest {};

// The path at `subject` is added (or deleted when `del`).
TEST_F(RouteUpdate, BestSetBeforeAndAfterOneChange) {
    struct Case {
        const char* what;
        std::vector<P> paths;
        std::size_t subject;
        bool del;
        int result;
        uint32_t hdrFlags;
        Ops recs;                // empty: no call
        std::vector<int> inHw;   // octets of the paths present afterwards
        bool refuse = false;
    } cases[] = {
        {"first path", {{1, kNewPath}}, 0, false, 0, 0, {{1, 1}}, {1}},
        {"second equal path widens the set", {{1, kPresent}, {2, kNewPath}}, 1, false, 0, 0x01, {{2, 1}, {1, 0}},
         {1, 2}},
        {"better path replaces the present one", {{1, kPresent, 5}, {2, kNewPath, 1}}, 1, false, 0, 0,
         {{1, 2}, {2, 1}}, {2}},
        {"re-weighting the only path", {{1, kPresent | NH_OP_DEL | NH_OP_CHANGE}}, 0, true, 1, 0, {}, {1}},
        {"deleting one of three equal paths", {{1, kPresent}, {2, kPresent | NH_OP_DEL}, {3, kPresent}}, 1, true, 0,
         0x03, {{3, 0}, {2, 2}, {1, 0}}, {1, 3}},
        {"add of a worse path changes nothing", {{1, kPresent, 1}, {2, kNewPath, 5}}, 1, false, 0, 0, {}, {1}},
        {"delete outside the set changes nothing", {{1, kPresent, 1}, {2, NH_RESOLVED | NH_OP_DEL, 5}}, 1, true, -1, 0,
         {}, {1}},
        {"refused add marks nothing", {{1, kNewPath}}, 0, false, 0, 0, {{1, 1}}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow();
        if (c.refuse) platformConfig(R"({"hardware": {"refuse": [{"objectId": 338}]}})");
        const std::vector<HwRouteNexthop*> made = paths(dest("10.1.0.0"), c.paths);
        for (HwRouteNexthop* n : made) ghwRoute.hwOkRouteCnt += (n->flag & NH_HW_OK) != 0;
        HwRouteNexthop* x = made[c.subject];
        if (c.del)
            EXPECT_EQ(hwUpdateRouteDel(x), c.result);
        else
            hwUpdateRouteAdd(x);
        const auto& calls = hwCalls();
        ASSERT_EQ(calls.size(), c.recs.empty() ? 0u : 1u);
        if (!calls.empty()) {
            EXPECT_EQ(beRead32(calls[0].data.data()), c.hdrFlags);
            EXPECT_EQ(ops(calls[0].data), c.recs);
        }
        std::vector<int> inHw;
        for (HwRouteNexthop* n : made)
            if (n->flag & NH_HW_OK) inHw.push_back(int(n->nextHop & 0xff));
        EXPECT_EQ(inHw, c.inHw);
        EXPECT_EQ(ghwRoute.hwOkRouteCnt, c.inHw.size());
    }
}

}  // namespace
