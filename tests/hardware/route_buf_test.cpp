// The IPv4 route entry: which paths are deleted, added, kept and backed up,
// and the bytes of the header and the path records.
#include "hw_routes.h"
#include "hwroute/debug.h"

namespace {

class RouteBuf : public HwRouteTest {};

// Paths are created in row order, so the last in the row comes first in list order.
TEST_F(RouteBuf, PathGroupsAndTheirRecords) {
    constexpr uint32_t kRefused = kNewPath | NH_STANDBY;  // marks left from a refused build
    struct Case {
        const char* what;
        std::vector<P> paths;
        uint32_t hdrFlags;
        int nextHopNum;  // the records sent, nothing else
        Ops recs;
        int32_t pathLimit = 8;
        bool fastReroute = false;
    } cases[] = {
        {"single new path", {{1, kNewPath}}, 0, 1, {{1, 1}}},
        {"two equal new paths", {{1, kNewPath}, {2, kNewPath}}, 0x01, 2, {{2, 1}, {1, 1}}},
        {"present path deleted, new one added", {{1, kPresent | NH_OP_DEL}, {2, kNewPath}}, 0, 2, {{1, 2}, {2, 1}}},
        {"equal new path beside a kept one", {{1, kPresent}, {2, kNewPath}}, 0x01, 2, {{2, 1}, {1, 0}}},
        {"worse new path is a standby", {{1, kPresent, 1}, {2, kNewPath, 5, true, NH_STANDBY}}, 0, 1, {{1, 0}}},
        {"nothing present, nothing resolved: length 0", {{1, NH_OP_ADD}}, 0, 0, {}},
        {"lost neighbour beside a kept path", {{1, kPresent}, {2, kPresent | NH_NEIGH_LOST | NH_OP_HW_DEL}}, 0x06, 2,
         {{2, 2}, {1, 0}}},
        {"better new path pushes the kept one out", {{1, kPresent, 5, true, NH_OP_BACKUP}, {3, kNewPath, 1}}, 0, 2,
         {{1, 2}, {3, 1}}},
        {"idle path better than the add is promoted", {{1, NH_RESOLVED, 1}, {2, kNewPath, 5, true, NH_STANDBY}}, 0,
         1, {{1, 1}}},
        {"candidate without neighbour is not sent", {{1, kNewPath, 1, false, NH_STANDBY}, {2, kNewPath}}, 0x01, 1,
         {{2, 1}}},
        {"adds beyond the path limit stay standby, the sent ones do not",
         {{1, kRefused, 1, true, NH_STANDBY}, {2, kRefused}, {3, kRefused}}, 0x01, 2, {{3, 1}, {2, 1}}, 2},
        {"with fast reroute the first departing path stays as backup in software",
         {{2, kPresent, 5, true, NH_OP_BACKUP}, {1, kPresent, 5}, {3, kNewPath, 1}}, 0, 3, {{2, 2}, {3, 1}, {1, 4}},
         8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow({.ecmpMaxNum = c.pathLimit});
        iprouteFrr = c.fastReroute;
        HwRouteDest* d = dest("10.1.0.0");
        const std::vector<HwRouteNexthop*> made = paths(d, c.paths);
        const auto e = build(d);
        EXPECT_EQ(ops(e), c.recs);
        if (e.empty()) continue;
        EXPECT_EQ(e[19] * 4u, 28 + 64 * c.recs.size()) << "size in words";
        EXPECT_EQ(beRead32(e.data()), c.hdrFlags);
        EXPECT_EQ(e[16], c.nextHopNum);
        for (std::size_t i = 0; i < made.size(); ++i)
            EXPECT_EQ(made[i]->flag & (NH_STANDBY | NH_OP_BACKUP), c.paths[i].marks) << "path ." << c.paths[i].octet;
    }
    iprouteFrr = 0;
}

TEST_F(RouteBuf, TwoLabelsMakeAn80ByteRecordOfTtlExpLabel) {
    HwRouteDest* d = dest("10.1.0.0");
    HwRouteNexthop* n = linked(d, "192.168.1.1", kNewPath);
    n->mplsLabelNum = 2;
    n->label1 = (100u << 12) | (5u << 9) | 64u;
    n->label2 = (200u << 12) | (1u << 8) | 255u;  // bottom of stack
    const auto e = build(d);
    ASSERT_EQ(e.size(), 28u + 80);
    EXPECT_EQ(e[19], 27) << "size in words";
    EXPECT_EQ(beRead32(e.data() + 28), 0x06u) << "path and label part";
    expectBytes(std::vector<uint8_t>(e.begin() + 28 + 64, e.end()),
                "40 05 0000 00000064"    // ttl 64, exp 5, label 100
                "ff 00 0000 000000c8");  // ttl 255, exp 0, label 200
}

TEST_F(RouteBuf, PathComparisonRulesInOrder) {
    platformConfig(R"({"protocolPreference": {"9": 10, "11": 10, "12": 20}})");
    HwRouteDest* d = dest("10.1.0.0");
    HwRouteNexthop* a = path(d, "192.168.1.1", 0);
    HwRouteNexthop* b = path(d, "192.168.1.2", 0);
    struct Side { uint8_t state, proto, weight; uint32_t flag; };
    struct Case { const char* what; Side a, b; int compare; } cases[] = {
        {"larger interface state wins", {2, 9, 9, 0}, {1, 9, 1, NH_OP_VPN_ADD}, 1},
        {"pending label addition wins", {1, 12, 9, NH_OP_VPN_ADD}, {1, 9, 1, 0}, 1},
        {"protocol 3 weight 5 beats preference 10", {1, 3, 5, 0}, {1, 9, 1, 0}, 1},
        {"protocol 3 weight 15 loses to preference 10", {1, 3, 15, 0}, {1, 9, 1, 0}, -1},
        {"equal preference: smaller protocol wins", {1, 9, 7, 0}, {1, 11, 1, 0}, 1},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        a->ifState = c.a.state, a->protoId = c.a.proto, a->weight = c.a.weight, a->flag = c.a.flag;
        b->ifState = c.b.state, b->protoId = c.b.proto, b->weight = c.b.weight, b->flag = c.b.flag;
        EXPECT_EQ(sign(hwRouteCompare(a, b)), c.compare);
        EXPECT_EQ(sign(hwRouteCompare(b, a)), -c.compare);
    }
    EXPECT_EQ(hwRouteCompare(a, nullptr), 1);
}

}  // namespace
