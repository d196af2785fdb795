// The IPv4 route entry: which paths are deleted, added, kept and backed up,
// and the bytes of the header and the path records.
#include <algorithm>

#include "hw_routes.h"
#include "hwroute/debug.h"

namespace {

class RouteBuf : public HwRouteTest {
protected:
    void TearDown() override {
        iprouteFrr = 0;
        HwRouteTest::TearDown();
    }
};

// 10.1.0.0/16 in VRF 3, one resolved new path 192.168.1.1 through unit 5
// (VLAN 10), protocol 9, neighbour on port 7.
TEST_F(RouteBuf, SingleNewPathGives92ByteEntryWithSize23) {
    HwRouteDest* d = dest(3, "10.1.0.0", "255.255.0.0");
    path(d, "192.168.1.1", kNewPath);
    arp(3, "192.168.1.1");

    expectBytes(build(d),
                // header: flags, vrId, subnetAddr, subnetMask, nextHopNum, 0 0, size, 8 x 0
                "00000000 00000003 0a010000 ffff0000 01 0000 17 0000000000000000"
                // record: flags 0x02, nexthopIp, request bytes
                "00000002 c0a80101 000000000000000000000000 00000000000000000000000000000000"
                // port, ipPort, nextHopMac, vid, srcMac, op add, no labels, protocol, 3 x 0
                "00000007 00000005 001122334401 000a 00aa00000005 01 00 09 000000");
    EXPECT_EQ(ghwRoute.InsertAddNhopCnt, 1u);
}

// Paths are 192.168.1.<octet>, created in row order (so the newest, last in
// the row, comes first in list order); records are (octet, op).
TEST_F(RouteBuf, PathGroupsAndTheirRecords) {
    struct P {
        int octet;
        uint32_t flag;
        uint8_t weight = 1;
        bool neighbour = true;
    };
    struct Case {
        const char* what;
        std::vector<P> paths;
        uint32_t hdrFlags;
        int nextHopNum;
        std::vector<std::pair<int, int>> recs;
        std::vector<int> standby;  // octets left as standby adds
        std::vector<int> pushedOut = {};
    } cases[] = {
        {"two equal new paths", {{1, kNewPath}, {2, kNewPath}}, 0x01, 2, {{2, 1}, {1, 1}}, {}},
        {"present path deleted, new one added", {{1, kPresent | NH_OP_DEL}, {2, kNewPath}}, 0, 2, {{1, 2}, {2, 1}},
         {}},
        {"equal new path beside a kept one", {{1, kPresent}, {2, kNewPath}}, 0x01, 2, {{2, 1}, {1, 0}}, {}},
        {"worse new path is a standby", {{1, kPresent, 1}, {2, kNewPath, 5}}, 0, 1, {{1, 0}}, {2}},
        {"present path without change", {{1, kPresent}}, 0, 1, {{1, 0}}, {}},
        {"nothing present, nothing resolved", {{1, NH_OP_ADD}}, 0, 0, {}, {}},
        {"lost neighbour beside a kept path", {{1, kPresent}, {2, kPresent | NH_NEIGH_LOST | NH_OP_HW_DEL}}, 0x06, 2,
         {{2, 2}, {1, 0}}, {}},
        {"better new path pushes the kept one out", {{1, kPresent, 5}, {3, kNewPath, 1}}, 0, 2, {{1, 2}, {3, 1}},
         {}, {1}},
        {"idle path better than the add is promoted", {{1, NH_RESOLVED, 1}, {2, kNewPath, 5}}, 0, 1, {{1, 1}}, {2}},
        {"candidate without neighbour is not sent", {{1, kNewPath, 1, false}, {2, kNewPath}}, 0x01, 2, {{2, 1}},
         {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        HwRouteDest* d = dest(3, "10.1.0.0", "255.255.0.0");
        std::vector<HwRouteNexthop*> made;
        for (const P& p : c.paths) {
            const std::string via = "192.168.1." + std::to_string(p.octet);
            made.push_back(path(d, via.c_str(), p.flag, 9, p.weight));
            if (p.neighbour) arp(3, via.c_str());
        }
        const auto e = build(d);
        if (c.recs.empty()) {
            EXPECT_TRUE(e.empty());
            continue;
        }
        EXPECT_EQ(hdrFlags(e), c.hdrFlags);
        EXPECT_EQ(hdrNextHopNum(e), c.nextHopNum);
        std::vector<std::pair<int, int>> got;
        for (const RecView& r : records(e)) got.push_back({int(r.nexthopIp & 0xff), r.op});
        EXPECT_EQ(got, c.recs);
        for (std::size_t i = 0; i < made.size(); ++i) {
            const int octet = c.paths[i].octet;
            const bool standby = std::find(c.standby.begin(), c.standby.end(), octet) != c.standby.end();
            const bool out = std::find(c.pushedOut.begin(), c.pushedOut.end(), octet) != c.pushedOut.end();
            EXPECT_EQ(bool(made[i]->flag & NH_STANDBY), standby) << "path ." << octet;
            EXPECT_EQ(bool(made[i]->flag & NH_OP_BACKUP), out) << "path ." << octet;
        }
    }
}

TEST_F(RouteBuf, TwoLabelsMakeAn80ByteRecordOfTtlExpLabel) {
    HwRouteDest* d = dest(3, "10.1.0.0", "255.255.0.0");
    HwRouteNexthop* n = path(d, "192.168.1.1", kNewPath);
    n->mplsLabelNum = 2;
    n->label1 = (100u << 12) | (5u << 9) | 64u;
    n->label2 = (200u << 12) | (1u << 8) | 255u;  // bottom of stack
    arp(3, "192.168.1.1");

    const auto e = build(d);
    ASSERT_EQ(e.size(), 28u + 80);
    EXPECT_EQ(hdrSize(e), 27);
    EXPECT_EQ(records(e).at(0).flags, 0x06u);  // path and label part
    expectBytes(std::vector<uint8_t>(e.begin() + 28 + 64, e.end()),
                "40 05 0000 00000064"    // ttl 64, exp 5, label 100
                "ff 00 0000 000000c8");  // ttl 255, exp 0, label 200
}

TEST_F(RouteBuf, PointToPointPathUsesItsInterfaceInsteadOfANeighbour) {
    HwRouteDest* d = dest(0, "10.2.0.0", "255.255.0.0");
    HwRouteNexthop* n = path(d, "172.16.0.1", kNewPath, 9, 1, kPpp);
    n->nextHopExt = 0x01020304;
    expectBytes(build(d),
                "00000000 00000000 0a020000 ffff0000 01 0000 17 0000000000000000"
                "00000002 ac100001 000000000000000000000000 01020304 000000000000000000000000"
                // port and ipPort are the unit, both MACs the interface's, no VLAN
                "00000009 00000009" + std::string(kPppMac) + "0000" + kPppMac + "01 00 09 000000");

    n->flag = kPresent | NH_OP_DEL;  // its labelled part withdrawn
    n->extFlag = NH_EXT_VPN_WITHDRAWN;
    EXPECT_EQ(records(build(d)).at(0).flags, 0x42u);
}

TEST_F(RouteBuf, PathComparisonRulesInOrder) {
    platformConfig(R"({"protocolPreference": {"9": 10, "11": 10, "12": 20}})");
    HwRouteDest* d = dest(3, "10.1.0.0", "255.255.0.0");
    HwRouteNexthop* a = path(d, "192.168.1.1", kNewPath);
    HwRouteNexthop* b = path(d, "192.168.1.2", kNewPath);
    struct Case {
        const char* what;
        uint8_t aState, aProto, aWeight;
        uint32_t aFlag;
        uint8_t bState, bProto, bWeight;
        uint32_t bFlag;
        int expect;  // sign of compare(a, b)
    } cases[] = {
        {"larger interface state wins", 2, 9, 9, 0, 1, 9, 1, NH_OP_VPN_ADD, 1},
        {"pending label addition wins", 1, 12, 9, NH_OP_VPN_ADD, 1, 9, 1, 0, 1},
        {"protocol 3 weight 5 beats preference 10", 1, 3, 5, 0, 1, 9, 1, 0, 1},
        {"protocol 3 weight 15 loses to preference 10", 1, 3, 15, 0, 1, 9, 1, 0, -1},
        {"smaller preference wins", 1, 12, 1, 0, 1, 9, 1, 0, -1},
        {"equal preference: smaller protocol wins", 1, 9, 7, 0, 1, 11, 1, 0, 1},
        {"same protocol: smaller weight wins", 1, 9, 1, 0, 1, 9, 2, 0, 1},
        {"same protocol and weight: equal", 1, 9, 4, 0, 1, 9, 4, 0, 0},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        a->ifState = c.aState, a->protoId = c.aProto, a->weight = c.aWeight, a->flag = c.aFlag;
        b->ifState = c.bState, b->protoId = c.bProto, b->weight = c.bWeight, b->flag = c.bFlag;
        EXPECT_EQ(sign(hwRouteCompare(a, b)), c.expect);
        EXPECT_EQ(sign(hwRouteCompare(b, a)), -c.expect);
    }
    EXPECT_EQ(hwRouteCompare(a, nullptr), 1);
    EXPECT_EQ(hwRouteCompare(nullptr, a), -1);
}

TEST_F(RouteBuf, AddsBeyondThePathLimitStayStandbyAndTheSentOnesDoNot) {
    reinit(HwTestSizes{.ecmpMaxNum = 2});
    HwRouteDest* d = dest(3, "10.1.0.0", "255.255.0.0");
    std::vector<HwRouteNexthop*> paths;
    for (const char* via : {"192.168.1.1", "192.168.1.2", "192.168.1.3"}) {
        paths.push_back(path(d, via, kNewPath | NH_STANDBY));  // marks left from a refused build
        arp(3, via);
    }
    const auto e = build(d);
    EXPECT_EQ(hdrNextHopNum(e), 3);  // counted before the cap
    const auto r = records(e);
    ASSERT_EQ(r.size(), 2u);
    for (HwRouteNexthop* n : paths) {
        const bool sent = n->nextHop == r[0].nexthopIp || n->nextHop == r[1].nexthopIp;
        EXPECT_EQ(bool(n->flag & NH_STANDBY), !sent) << std::hex << n->nextHop;
    }
}

TEST_F(RouteBuf, WithFastRerouteDepartingPathsAreDeletedAndTheFirstStaysAsBackup) {
    iprouteFrr = 1;
    HwRouteDest* d = dest(3, "10.1.0.0", "255.255.0.0");
    HwRouteNexthop* second = path(d, "192.168.1.2", kPresent, 9, 5);
    HwRouteNexthop* first = path(d, "192.168.1.1", kPresent, 9, 5);
    path(d, "192.168.1.3", kNewPath, 9, 1);
    for (const char* via : {"192.168.1.1", "192.168.1.2", "192.168.1.3"}) arp(3, via);

    std::vector<std::pair<uint32_t, int>> got;
    for (const RecView& r : records(build(d))) got.push_back({r.nexthopIp & 0xff, r.op});
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, int>>{{2, 2}, {3, 1}, {1, 4}}));
    EXPECT_TRUE(second->flag & NH_OP_BACKUP);
    EXPECT_FALSE(first->flag & NH_OP_BACKUP) << "the backup path stays present in software";
}

TEST_F(RouteBuf, DeletesBeyondAFullGroupAreDeferredNotDropped) {
    reinit(HwTestSizes{.routeMax = 120, .arpNum = 100});  // 180 next hops, 150 neighbours
    HwRouteDest* d = dest(3, "10.1.0.0", "255.255.0.0");
    std::vector<HwRouteNexthop*> paths;
    for (uint32_t i = 1; i <= HW_MAX_SET + 2; ++i) {
        const std::string via = "192.168.1." + std::to_string(i);
        paths.push_back(path(d, via.c_str(), kPresent | NH_OP_DEL));
        arp(3, via.c_str());
    }
    const uint32_t before = hwRouteDelDeferCnt;
    EXPECT_EQ(build(d).size(), 28u + HW_MAX_SET * 64);
    uint32_t deferred = 0;
    for (HwRouteNexthop* n : paths) deferred += (n->flag & NH_DEL_DEFERRED) != 0;
    EXPECT_EQ(deferred, 2u);
    EXPECT_EQ(hwRouteDelDeferCnt - before, 2u);
}

}  // namespace
