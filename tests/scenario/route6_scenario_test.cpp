// IPv6 routes and neighbours from datagrams to the bytes of object 339: a
// route waits for its neighbour (probed by ICMPv6), goes out when the
// neighbour is learnt, and goes back to waiting when the neighbour goes.
#include <gtest/gtest.h>

#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/tables.h"
#include "scenario.h"

namespace {

constexpr const char* kPeer = "2001:db8:1::2";
constexpr const char* kPeerMac = "02:00:00:00:0a:aa";

// The bytes expected on the wire, by field (big-endian).
const char* kHostEntry =  // /128 host entry of the peer, op `op`
    "00000000 00000000 20010db8000100000000000000000002 80 01 00 19 0000000000000000"
    "00000010 20010db8000100000000000000000002 00000000000000000000000000000000"
    "00000007 00000003 02000000 0aaa 0000 000000000000 %s 00 00 000000";
const char* kRouteEntry =  // 2001:db8:100::/48 via the peer, protocol 4, op `op`
    "00000000 00000000 20010db8010000000000000000000000 30 01 00 19 0000000000000000"
    "00000002 20010db8000100000000000000000002 00000000000000000000000000000000"
    "00000007 00000003 02000000 0aaa 0000 020000000003 %s 00 04 000000";

std::vector<uint8_t> withOp(const char* fmt, const char* op) {
    char hex[512];
    std::snprintf(hex, sizeof hex, fmt, op);
    return hexBytes(hex);
}

class Route6Scenario : public Scenario {
protected:
    void neighbour6(const char* addr, const char* mac, uint16_t type = NL_NEWNEIGH) {
        nlDeliver(nlNeigh({.type = type, .family = 10, .ifindex = int32_t(kEth), .dst = addr, .mac = mac, .port = 7u}));
    }
    void route6(uint16_t type, const char* dst, uint8_t len, const char* gw, uint32_t oif, uint32_t weight = 1) {
        nlDeliver(nlRoute({.type = type, .family = 10, .prefixLen = len, .protocol = 4, .dst = dst, .gateway = gw,
                           .oif = oif, .weight = weight}));
    }
    std::vector<std::vector<uint8_t>> calls6() const { return callsOf(HW_OBJ_ROUTE6); }
};

TEST_F(Route6Scenario, RouteWaitsForItsNeighbourGoesOutAndWaitsAgainWhenItGoes) {
    route6(NL_NEWROUTE, "2001:db8:100::", 48, kPeer, kEth);
    pass();
    EXPECT_TRUE(calls6().empty());
    EXPECT_EQ(ghwRoute.pendRoute6Cnt, 1u);
    // One ICMPv6 echo request at the add and one per pass; the kernel fills the checksum.
    ASSERT_EQ(probes6.size(), 2u);
    EXPECT_BYTES(probes6[0].icmp, hexBytes("80 00 00 00 00 7b 00 00"));
    EXPECT_BYTES(std::vector<uint8_t>(probes6[0].address, probes6[0].address + 16), nlAddrBytes(kPeer));
    EXPECT_EQ(probes6[0].addrLen, 32);

    neighbour6(kPeer, kPeerMac);
    ASSERT_EQ(calls6().size(), 1u);
    EXPECT_BYTES(calls6()[0], withOp(kHostEntry, "01"));
    pass();
    ASSERT_EQ(calls6().size(), 2u);
    EXPECT_BYTES(calls6()[1], withOp(kRouteEntry, "01"));
    EXPECT_EQ(ghwRoute.hwOkRoute6Cnt, 1u);
    EXPECT_EQ(ghwRoute.hwRoute6ProtoStats[0][3], 1u);
    EXPECT_EQ(ghwRoute.pendRoute6Cnt, 0u);

    // The neighbour goes: its host entry, then the route with the next flush;
    // the record is held until then.
    neighbour6(kPeer, kPeerMac, NL_DELNEIGH);
    ASSERT_EQ(calls6().size(), 3u);
    EXPECT_BYTES(calls6()[2], withOp(kHostEntry, "02"));
    EXPECT_EQ(ghwRoute.swNd6Cnt, 1u);
    pass();
    ASSERT_EQ(calls6().size(), 4u);
    EXPECT_BYTES(calls6()[3], withOp(kRouteEntry, "02"));
    EXPECT_EQ(ghwRoute.swNd6Cnt, 0u);
    EXPECT_EQ(ghwRoute.hwOkRoute6Cnt, 0u);
    EXPECT_EQ(ghwRoute.pendRoute6Cnt, 1u);

    // Learnt again with another MAC: the route comes back with it.
    neighbour6(kPeer, "02:00:00:00:0b:bb");
    pass();
    const std::vector<uint8_t> back = calls6().back();
    EXPECT_EQ(back.size(), 100u);
    EXPECT_BYTES(std::vector<uint8_t>(back.begin() + 80, back.begin() + 86), hexBytes("02 00 00 00 0b bb"));
    EXPECT_EQ(back[94], 1);
}

// A MAC change rewrites the host entry and the route in place, with no
// queued flush needed for the route.
TEST_F(Route6Scenario, MacChangeWithdrawsAndRewritesRouteAtOnce) {
    neighbour6(kPeer, kPeerMac);
    route6(NL_NEWROUTE, "2001:db8:100::", 48, kPeer, kEth);
    pass();
    simClearHwCalls();
    neighbour6(kPeer, "02:00:00:00:0b:bb");
    // Route delete, host delete, host add; the route add follows with the flush.
    ASSERT_EQ(calls6().size(), 3u);
    EXPECT_EQ(calls6()[0][94], 2);
    EXPECT_EQ(calls6()[1][94], 2);
    EXPECT_EQ(calls6()[2][94], 1);
    pass();
    ASSERT_EQ(calls6().size(), 4u);
    const std::vector<uint8_t> readd = calls6()[3];
    EXPECT_BYTES(std::vector<uint8_t>(readd.begin() + 80, readd.begin() + 86), hexBytes("020000000bbb"));
    EXPECT_EQ(readd[94], 1);
    EXPECT_EQ(ghwRoute.hwOkRoute6Cnt, 1u);
    EXPECT_EQ(ghwRoute.nd6AddChangeCnt, 1u);
}

TEST_F(Route6Scenario, PointToPointRouteGoesToHardwareAtOnce) {
    route6(NL_NEWROUTE, "2001:db8:200::", 48, "2001:db8:9::1", kPtp);
    ASSERT_EQ(calls6().size(), 1u);
    const std::vector<uint8_t> e = calls6()[0];
    ASSERT_EQ(e.size(), 100u);
    EXPECT_BYTES(std::vector<uint8_t>(e.begin() + 40, e.begin() + 56), nlAddrBytes("2001:db8:9::1"));
    EXPECT_EQ(beRead32(&e[72]), kPtp);  // port
    EXPECT_EQ(beRead32(&e[76]), kPtp);  // ipPort
    EXPECT_EQ(e[94], 1);
    EXPECT_EQ(ghwRoute.rt6AddPppCnt, 1u);
    EXPECT_TRUE(probes6.empty());
}

// Bad input is counted and changes nothing: no hardware call, no record.
TEST_F(Route6Scenario, BadInputIsCountedAndChangesNothing) {
    auto route = [](uint16_t type, const char* dst, uint8_t len, const char* gw) {
        return nlRoute({.type = type, .family = 10, .prefixLen = len, .protocol = 4, .dst = dst, .gateway = gw,
                        .oif = kEth, .weight = 1u});
    };
    auto neigh = [](uint16_t type, const char* dst, const char* mac) {
        return nlNeigh({.type = type, .family = 10, .ifindex = int32_t(kEth), .dst = dst, .mac = mac});
    };
    const struct {
        const char* what;
        NlMessage msg;
        uint32_t HwRouteGlobal::*counter;
    } rows[] = {
        {"link-local destination", route(NL_NEWROUTE, "fe80::", 64, kPeer), &HwRouteGlobal::rt6AddLinkLocalErrCnt},
        {"link-local next hop", route(NL_NEWROUTE, "2001:db8:100::", 48, "fe80::1"),
         &HwRouteGlobal::rt6AddLinkLocalErrCnt},
        {"prefix length 129", route(NL_NEWROUTE, "2001:db8:100::", 129, kPeer), &HwRouteGlobal::rt6AddParamErrCnt},
        {"IPv4-mapped destination", route(NL_NEWROUTE, "::ffff:192.0.2.0", 120, kPeer),
         &HwRouteGlobal::rt6AddParamErrCnt},
        {"IPv4-mapped next hop", route(NL_NEWROUTE, "2001:db8:100::", 48, "::ffff:10.0.0.1"),
         &HwRouteGlobal::rt6AddParamErrCnt},
        {"no next hop", route(NL_NEWROUTE, "2001:db8:100::", 48, nullptr), &HwRouteGlobal::rt6AddParamErrCnt},
        {"delete of an absent route", route(NL_DELROUTE, "2001:db8:100::", 48, kPeer),
         &HwRouteGlobal::rt6DelNoDestEntryErrCnt},
        {"link-local delete", route(NL_DELROUTE, "2001:db8:100::", 48, "fe80::1"),
         &HwRouteGlobal::rt6DelLinkLocalErrCnt},
        {"no MAC", neigh(NL_NEWNEIGH, kPeer, nullptr), &HwRouteGlobal::nd6AddParamErrCnt},
        {"zero MAC", neigh(NL_NEWNEIGH, kPeer, "00:00:00:00:00:00"), &HwRouteGlobal::nd6AddParamErrCnt},
        {"no address", neigh(NL_NEWNEIGH, nullptr, kPeerMac), &HwRouteGlobal::nd6AddParamErrCnt},
        {"no address to delete", neigh(NL_DELNEIGH, nullptr, kPeerMac), &HwRouteGlobal::nd6DelParamErrCnt},
        {"delete of an absent neighbour", neigh(NL_DELNEIGH, kPeer, kPeerMac), &HwRouteGlobal::nd6DelNoEntryErrCnt},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        reinit({});
        simClearHwCalls();
        const uint32_t destFree = hwPoolFreeCount(&ghwRoute.destPool);
        nlDeliver(r.msg);
        pass();
        EXPECT_EQ(ghwRoute.*r.counter, 1u);
        EXPECT_EQ(ghwRoute.rt6AddCnt + ghwRoute.rt6DelCnt + ghwRoute.swNd6Cnt, 0u);
        EXPECT_EQ(hwPoolFreeCount(&ghwRoute.destPool), destFree);
        EXPECT_EQ(calls(), 0u);
        EXPECT_TRUE(probes6.empty());
    }
}

// Local IPv6 addresses: each local route of one address counts on one shared
// record, which goes with the last of them.
TEST_F(Route6Scenario, LocalAddressRecordGoesWithItsLastLocalRoute) {
    auto local = [&](uint16_t type, const char* dst) {
        nlDeliver(nlRoute({.type = type, .family = 10, .prefixLen = 64, .protocol = 2, .dst = dst,
                           .gateway = "2001:db8:1::1", .oif = kPtp}));
    };
    local(NL_NEWROUTE, "2001:db8:1::");
    local(NL_NEWROUTE, "2001:db8:2::");
    pass();
    HwNd6Node key{};
    std::memcpy(key.nextHop, nlAddrBytes("2001:db8:1::1").data(), 16);
    ASSERT_NE(hwNd6TableLookup(&key), nullptr);
    EXPECT_EQ(hwNd6TableLookup(&key)->localRefCnt, 1u);
    EXPECT_EQ(ghwRoute.hwOkNd6Cnt, 0u);  // local records are never written
    local(NL_DELROUTE, "2001:db8:1::");
    pass();
    ASSERT_NE(hwNd6TableLookup(&key), nullptr);
    local(NL_DELROUTE, "2001:db8:2::");
    pass();
    EXPECT_EQ(hwNd6TableLookup(&key), nullptr);
    EXPECT_EQ(ghwRoute.swDest6Cnt, 0u);
}

}  // namespace
