// IPv4 routes end to end: datagrams in, hardware bytes and counters out.
#include <gtest/gtest.h>

#include "hwroute/flags.h"
#include "hwroute/records.h"
#include "hwroute/tables.h"
#include "scenario.h"

namespace {

// Expected buffers are written field by field from the entry layouts.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes& u8(uint8_t v) { b.push_back(v); return *this; }
    Bytes& u16(uint16_t v) { return u8(uint8_t(v >> 8)).u8(uint8_t(v)); }
    Bytes& u32(uint32_t v) { return u16(uint16_t(v >> 16)).u16(uint16_t(v)); }
    Bytes& zero(std::size_t n) { b.insert(b.end(), n, 0); return *this; }
    Bytes& mac(uint8_t last) { return u8(2).zero(4).u8(last); }
    Bytes& add(const Bytes& o) { b.insert(b.end(), o.b.begin(), o.b.end()); return *this; }
};

Bytes header4(uint32_t flags, uint32_t dest, uint32_t mask, uint8_t paths, uint8_t words) {
    return Bytes().u32(flags).u32(0).u32(dest).u32(mask).u8(paths).zero(2).u8(words).zero(8);
}

// A path through a neighbour on the Ethernet port (unit 3, port 7, own MAC ..:03).
Bytes path(uint32_t flags, uint32_t nexthop, uint8_t macLast, uint8_t op, uint8_t proto = 4) {
    return Bytes().u32(flags).u32(nexthop).zero(12).zero(16).u32(7).u32(kEth).mac(macLast).u16(0).mac(3).u8(op).u8(0).u8(proto).zero(3);
}

const uint32_t kDest = 0xc6336400;  // 198.51.100.0
const uint32_t kMask24 = 0xffffff00;
const uint32_t kNh2 = 0x0a090002, kNh3 = 0x0a090003;

HwRouteNexthop* findPath(uint32_t dest, uint32_t mask, uint32_t nexthop, uint8_t proto = 4) {
    HwRouteDest key{};
    key.destIp = dest;
    key.mask = mask;
    HwRouteDest* d = hwRouteDestTableLookup(&key);
    if (d == nullptr) return nullptr;
    HwRouteNexthop nk{};
    nk.nextHop = nexthop;
    nk.protoId = proto;
    return hwRouteNexthopTableLookup(d, &nk);
}

class RouteScenario : public Scenario {};

TEST_F(RouteScenario, SinglePathThroughResolvedNeighbourIsOneEntryOf92Bytes) {
    neighbour("10.9.0.2", "02:00:00:00:00:02");
    ASSERT_EQ(calls(), 1u);
    EXPECT_EQ(hwCalls()[0].data, header4(0, kNh2, 0xffffffff, 1, 23).add(Bytes().u32(0x10).u32(kNh2).zero(28).u32(7).u32(kEth).mac(2).zero(8).u8(1).zero(5)).b);

    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.2", kEth);
    EXPECT_EQ(calls(), 1u) << "the route waits for the flush";
    pass();
    ASSERT_EQ(calls(), 2u);
    EXPECT_EQ(hwCalls()[1].objectId, HW_OBJ_ROUTE4);
    EXPECT_BYTES(lastCall(), header4(0, kDest, kMask24, 1, 23).add(path(2, kNh2, 2, 1)).b);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);
    EXPECT_EQ(ghwRoute.hwRouteProtoStats[0][3], 1u);
    EXPECT_EQ(ghwRoute.swRouteProtoStats[0][3], 1u);
    EXPECT_EQ(ghwRoute.updateSendMsgCnt, 1u);
    EXPECT_NE(findPath(kDest, kMask24, kNh2)->flag & NH_HW_OK, 0u);
}

TEST_F(RouteScenario, RouteWaitsForItsNeighbourIsProbedAndGoesOutWhenLearnt) {
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.2", kEth);
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].address, kNh2);
    EXPECT_EQ(probes[0].icmp, hexBytes("08 00 f7 84 00 7b 00 00"));
    EXPECT_EQ(ghwRoute.pendRouteCnt, 1u);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 0u);

    pass();  // nothing to send; the pending next hop is probed again
    EXPECT_EQ(calls(), 0u);
    EXPECT_EQ(probes.size(), 2u);

    neighbour("10.9.0.2", "02:00:00:00:00:02");
    EXPECT_EQ(ghwRoute.pendRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 1u);
    pass();
    ASSERT_EQ(calls(), 2u);
    EXPECT_BYTES(lastCall(), header4(0, kDest, kMask24, 1, 23).add(path(2, kNh2, 2, 1)).b);
}

TEST_F(RouteScenario, TwoEqualPathsGoOutTogetherAndOneLeavesAlone) {
    neighbour("10.9.0.2", "02:00:00:00:00:02");
    neighbour("10.9.0.3", "02:00:00:00:00:03");
    nlDeliver(NlDatagram{nlRoute({.prefixLen = 24, .protocol = 4, .dst = "198.51.100.0", .gateway = "10.9.0.2", .oif = kEth, .weight = 1u}),
                         nlRoute({.prefixLen = 24, .protocol = 4, .dst = "198.51.100.0", .gateway = "10.9.0.3", .oif = kEth, .weight = 1u})});
    pass();
    // Newest path first: both adds, several paths after the change.
    EXPECT_BYTES(lastCall(), header4(0x01, kDest, kMask24, 2, 39).add(path(2, kNh3, 3, 1)).add(path(2, kNh2, 2, 1)).b);

    route(NL_DELROUTE, "198.51.100.0", 24, "10.9.0.2", kEth);
    pass();
    // One delete, one path kept unchanged; several paths before the change.
    EXPECT_BYTES(lastCall(), header4(0x02, kDest, kMask24, 2, 39).add(path(2, kNh2, 2, 2)).add(path(2, kNh3, 3, 0)).b);
    EXPECT_EQ(findPath(kDest, kMask24, kNh2), nullptr);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 1u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);
}

TEST_F(RouteScenario, WorsePathWaitsInStandbyAndOnlyTheKeptPathIsWritten) {
    neighbour("10.9.0.2", "02:00:00:00:00:02");
    neighbour("10.9.0.3", "02:00:00:00:00:03");
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.2", kEth, 4, 1);
    pass();
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.3", kEth, 4, 5);
    pass();
    EXPECT_BYTES(lastCall(), header4(0, kDest, kMask24, 1, 23).add(path(2, kNh2, 2, 0)).b);
    const HwRouteNexthop* worse = findPath(kDest, kMask24, kNh3);
    ASSERT_NE(worse, nullptr);
    EXPECT_EQ(worse->flag & NH_HW_OK, 0u);
    EXPECT_NE(worse->flag & NH_OP_ADD, 0u) << "it stays a candidate";
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);
}

TEST_F(RouteScenario, Protocol3WeightIsItsPreferenceAndBeatsAWorsePreferredProtocol) {
    neighbour("10.9.0.2", "02:00:00:00:00:02");
    neighbour("10.9.0.3", "02:00:00:00:00:03");
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.2", kEth, 4, 1);  // static: preference 10
    pass();
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.3", kEth, 3, 5);  // boot: weight 5 is its preference
    pass();
    EXPECT_BYTES(lastCall(), header4(0, kDest, kMask24, 2, 39).add(path(2, kNh2, 2, 2)).add(path(2, kNh3, 3, 1, 3)).b);
    EXPECT_NE(findPath(kDest, kMask24, kNh3, 3)->flag & NH_HW_OK, 0u);
    const HwRouteNexthop* old = findPath(kDest, kMask24, kNh2);
    EXPECT_EQ(old->flag & NH_HW_OK, 0u);
    EXPECT_NE(old->flag & NH_OP_ADD, 0u) << "the pushed-out path competes again";
}

TEST_F(RouteScenario, DeletesAreRefusedTwiceAndPendingPathsAreFreedAtOnce) {
    const uint32_t destFree = hwPoolFreeCount(&ghwRoute.destPool);
    const uint32_t nhFree = hwPoolFreeCount(&ghwRoute.nexthopPool);
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.2", kEth);
    route(NL_DELROUTE, "198.51.100.0", 24, "10.9.0.2", kEth);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.destPool), destFree);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.nexthopPool), nhFree);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.rtDelNoSucPendDelCnt, 1u);

    neighbour("10.9.0.2", "02:00:00:00:00:02");
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.2", kEth);
    pass();
    nlDeliver(NlDatagram{nlRoute({.type = NL_DELROUTE, .prefixLen = 24, .protocol = 4, .dst = "198.51.100.0", .gateway = "10.9.0.2", .oif = kEth}),
                         nlRoute({.type = NL_DELROUTE, .prefixLen = 24, .protocol = 4, .dst = "198.51.100.0", .gateway = "10.9.0.2", .oif = kEth})});
    EXPECT_EQ(ghwRoute.rtDelAgainCnt, 1u);
    EXPECT_TRUE(logged("[hwRouteRouteDel]=>ERROR:route entry delete again."));
    pass();
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.destPool), destFree);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.hwRouteProtoStats[0][3], 0u);
}

TEST_F(RouteScenario, PointToPointRouteIsWrittenAtOnceWithTheInterfaceAsPort) {
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.2", kPtp);
    ASSERT_EQ(calls(), 1u);
    const Bytes ptpPath = Bytes().u32(2).u32(kNh2).zero(28).u32(kPtp).u32(kPtp).mac(9).u16(0).mac(9).u8(1).u8(0).u8(4).zero(3);
    EXPECT_BYTES(lastCall(), header4(0, kDest, kMask24, 1, 23).add(ptpPath).b);
    EXPECT_TRUE(probes.empty());
    EXPECT_EQ(ghwRoute.rtAddPppCnt, 1u);
}

TEST_F(RouteScenario, RefusedBatchReturnsToTheReadyListIsSkippedOnceAndRetried) {
    platformConfig(R"({"interfaces": {"3": {"endType": 6, "mac": "02:00:00:00:00:03", "vlan": 0, "operState": 1}},
                       "hardware": {"refuse": [{"objectId": 338, "fromCall": 2, "count": 1}]}})");
    neighbour("10.9.0.2", "02:00:00:00:00:02");  // call 1
    route(NL_NEWROUTE, "198.51.100.0", 24, "10.9.0.2", kEth);
    pass();
    ASSERT_EQ(calls(), 2u);
    EXPECT_NE(hwCalls()[1].result, 0);
    EXPECT_EQ(ghwRoute.hwErrRouteCnt, 1u);
    EXPECT_EQ(ghwRoute.readyRouteCnt, 1u);
    EXPECT_EQ(findPath(kDest, kMask24, kNh2)->flag & NH_HW_OK, 0u);
    pass();
    ASSERT_EQ(calls(), 3u);
    EXPECT_EQ(hwCalls()[2].result, 0);
    EXPECT_EQ(hwCalls()[2].data, hwCalls()[1].data) << "the same change is built again";
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);
}

}  // namespace
