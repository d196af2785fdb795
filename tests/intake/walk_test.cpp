// The datagram walk: message boundaries, ending types, short bodies, the
// attribute walk, request clearing and the socket.
#include <cstring>
#include <random>

#include "intake_test.h"

namespace {

NlMessage route(const char* dst, uint8_t prefixLen = 24) {
    return nlRoute({.prefixLen = prefixLen, .protocol = 11, .dst = dst, .gateway = "10.9.9.1", .oif = 5});
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

using Walk = IntakeTest;

TEST_F(Walk, MessageBoundariesDecideWhatIsHandled) {
    struct Case {
        const char* what;
        std::vector<uint8_t> datagram;
        std::vector<int> types;   // types the walk looked at
        uint32_t routesHandled;   // route adds decoded
    };
    const auto add1 = route("10.1.0.0");
    const auto add2 = route("10.2.0.0");
    const Case cases[] = {
        {"datagram shorter than a header", std::vector<uint8_t>(15, 0), {}, 0},
        {"first length below a header", NlMessage(add1).claimLength(15).bytes(), {}, 0},
        {"first length beyond the datagram", NlMessage(add1).claimLength(200).bytes(), {}, 0},
        {"done in the middle drops the rest", NlDatagram{add1, nlDone(), add2}.bytes(), {24, 3}, 1},
        {"second message longer than what remains", NlDatagram{add1, NlMessage(add2).claimLength(400)}.bytes(), {24}, 1},
        {"unknown type in the middle is skipped", NlDatagram{add1, NlMessage(20, std::vector<uint8_t>(16)), add2}.bytes(),
         {24, 20, 24}, 2},
        {"unaligned length advances to the next multiple of 4",
         NlDatagram{NlMessage(20, std::vector<uint8_t>(5)), add1}.bytes(), {20, 24}, 1},
        {"error report drops the rest", NlDatagram{nlError(-17), add1}.bytes(), {2}, 0},
        {"a tail of fewer than 16 bytes is ignored", concat(add1.bytes(), std::vector<uint8_t>(12, 0xff)), {24}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        logs.clear();
        deliver(c.datagram);
        EXPECT_EQ(typesSeen(), c.types);
        EXPECT_EQ(ghwRoute.rcvNoDynamicRouteAddCnt, c.routesHandled);
    }
}

TEST_F(Walk, ErrorReportLogsTheTextOfTheNegatedKernelCode) {
    deliver(NlDatagram{nlError(-17), route("10.1.0.0")});
    EXPECT_TRUE(logged("[hwRtnotifyRecv] Route message ERROR: File exists"));
    EXPECT_FALSE(logged("Receive a route socket message"));
    EXPECT_EQ(ghwRoute.rcvNoDynamicRouteAddCnt, 0u);
}

TEST_F(Walk, EveryMessageWritesItsTypeLines) {
    deliver(route("10.1.0.0"));
    EXPECT_EQ(lineWith("p_hdr->nlmsg_type"), "[hwRtnotifyRecv]=>p_hdr->nlmsg_type=24");
    EXPECT_EQ(lineWith("Receive a route socket"), "[hwRtnotifyRecv] Receive a route socket message: type 24.\r\n");
    EXPECT_EQ(lineWith("a route message"), "[hwRtnotifyRecv]  a route message Receive\r\n");
}

// Every handled type, cut one byte short of the body its decoder reads.
TEST_F(Walk, ShortBodiesAreSkippedAndCounted) {
    struct Case {
        uint16_t type;
        std::size_t need;
        bool routeCounter;
    };
    const Case cases[] = {
        {16, 32, false},  {17, 32, false},  {24, 28, true},   {25, 28, true},   {28, 28, false},  {29, 28, false},
        {87, 32, false},  {90, 32, false},  {129, 128, false}, {130, 128, false}, {131, 128, true}, {132, 128, true},
        {133, 104, false}, {134, 104, false}, {135, 32, false}, {136, 32, false}, {2, 20, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        reinit(HwTestSizes{});
        logs.clear();
        // Bytes that would decode as something if they were read.
        deliver(NlMessage(c.type, std::vector<uint8_t>(c.need - NL_HDR_LEN - 1, 0x02)));
        EXPECT_EQ(ghwRoute.rcvNoDynamicRouteMsgErrCnt, c.routeCounter ? 1u : 0u);
        EXPECT_EQ(ghwRoute.rcvRouteMsgErrCnt, c.routeCounter ? 0u : 1u);
        EXPECT_TRUE(logged("too short"));
        EXPECT_EQ(logs.size(), c.type == 2 ? 2u : 3u) << "no decoder line after the skip";
        EXPECT_EQ(ghwRoute.cardUpFlag + ghwRoute.slotUpFlag + ghwRoute.resendRouteFlag, 0u);

        // Exactly the body: decoded, not counted.
        reinit(HwTestSizes{});
        deliver(NlMessage(c.type, std::vector<uint8_t>(c.need - NL_HDR_LEN, 0)));
        EXPECT_EQ(ghwRoute.rcvNoDynamicRouteMsgErrCnt + ghwRoute.rcvRouteMsgErrCnt, 0u);
    }
}

TEST_F(Walk, ShortMessageDoesNotStopTheWalk) {
    deliver(NlDatagram{NlMessage(24, std::vector<uint8_t>(4)), route("10.3.0.0")});
    EXPECT_EQ(ghwRoute.rcvNoDynamicRouteMsgErrCnt, 1u);
    EXPECT_NE(findDest(0, "10.3.0.0", 0xffffff00), nullptr);
}

// Random datagrams in buffers of their exact size: nothing may be read past
// the received bytes (the sanitizer build sees it) and nothing may crash.
TEST_F(Walk, RandomDatagramsAreWalkedSafely) {
    static const uint16_t kTypes[] = {2, 3, 16, 17, 20, 24, 25, 28, 29, 87, 90, 129, 130,
                                      131, 132, 133, 134, 135, 136, 137, 138, 148};
    std::mt19937 rng(20240611);
    auto byte = [&] { return static_cast<uint8_t>(rng()); };
    int decoded = 0;
    for (int i = 0; i < 4000; ++i) {
        if (i % 500 == 0) reinit(HwTestSizes{});
        logs.clear();
        std::vector<uint8_t> d(rng() % 300);
        for (auto& b : d) b = byte();
        // Mostly plausible headers, so that the decoders are reached.
        std::size_t at = 0;
        while (at + 16 <= d.size() && rng() % 8 != 0) {
            uint32_t len = 16 + rng() % (d.size() - at - 15);
            if (rng() % 4 == 0) len = rng() % 512;
            uint16_t type = kTypes[rng() % std::size(kTypes)];
            std::memcpy(&d[at], &len, 4);
            std::memcpy(&d[at + 4], &type, 2);
            // Attribute headers of plausible sizes after the fixed part.
            for (std::size_t a = at + 28; a + 4 <= d.size() && a < at + len; a += 4 + rng() % 24) {
                uint16_t alen = static_cast<uint16_t>(rng() % 28);
                std::memcpy(&d[a], &alen, 2);
            }
            at += (len + 3) & ~3u;
        }
        deliver(d);
        decoded += logCount("Receive a route socket message");
    }
    EXPECT_GT(decoded, 2000) << "the generator must reach the decoders";
}

TEST_F(Walk, RequestsAreClearedBeforeEveryMessage) {
    // The second route carries no gateway, weight or VRF: it must not take
    // the first one's.
    auto first = nlRoute({.prefixLen = 24, .protocol = 11, .dst = "10.1.0.0", .gateway = "10.9.9.1", .oif = 5,
                          .weight = 7, .vrf = 3});
    auto second = nlRoute({.prefixLen = 16, .protocol = 11, .dst = "10.2.0.0"});
    deliver(NlDatagram{first, second});
    EXPECT_TRUE(logged("[hwRtnotifyRecv]=>vrfId=0,dest=0xa020000,mask=0xffff0000,gateway=0,ifUnit=0,proto=11,"
                       "weight=0,routeFlag=0,nVrfId=0"));

    // Neighbours: a MAC of the first message does not reach the second.
    logs.clear();
    deliver(NlDatagram{nlNeigh({.ifindex = 5, .dst = "10.9.9.1", .mac = "00:11:22:33:44:55"}),
                       nlNeigh({.ifindex = 5, .dst = "10.9.9.2"})});
    EXPECT_TRUE(logged("dest=0xa090902,macstr=00:00:00:00:00:00"));
}

TEST_F(Walk, AttributeWalkRules) {
    struct Seen {
        std::vector<std::pair<uint16_t, uint32_t>> attrs;
    };
    auto collect = [](void* ctx, uint16_t type, const uint8_t*, uint32_t len) {
        static_cast<Seen*>(ctx)->attrs.push_back({type, len});
    };
    struct Case {
        const char* what;
        NlMessage msg;
        std::vector<std::pair<uint16_t, uint32_t>> expect;
    };
    auto base = [] { return NlMessage(24, std::vector<uint8_t>(12)); };
    // A 5-byte attribute of type 2 with no padding after it (header in host order).
    std::vector<uint8_t> unpadded(5, 0xaa);
    const uint16_t hdr[2] = {5, 2};
    std::memcpy(unpadded.data(), hdr, 4);
    const Case cases[] = {
        {"payloads of any size, padded", base().attr(1, {1, 2, 3}).attrU32(4, 9), {{1, 3}, {4, 4}}},
        {"length below 4 stops the walk", base().attrU32(4, 1).attrClaiming(5, 3, {}).attrU32(8, 1), {{4, 4}}},
        {"length beyond the message stops the walk", base().attrU32(4, 1).attrClaiming(5, 40, {0, 0, 0, 0}), {{4, 4}}},
        {"fewer than 4 bytes left are not an attribute", base().attrU32(4, 1).append({8, 0}), {{4, 4}}},
        {"empty payload", base().attr(9, {}), {{9, 0}}},
        {"unpadded last attribute", base().attrU32(4, 1).append(unpadded), {{4, 4}, {2, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto bytes = c.msg.bytes();
        Seen seen;
        hwRtnotifyAttrWalk(bytes.data(), static_cast<uint32_t>(bytes.size()), 28, collect, &seen);
        EXPECT_EQ(seen.attrs, c.expect);
    }
}

TEST_F(Walk, AttributeWalkWithoutRoomForAttributesCallsNothing) {
    auto bytes = NlMessage(24, std::vector<uint8_t>(12)).bytes();
    int calls = 0;
    auto count = [](void* ctx, uint16_t, const uint8_t*, uint32_t) { ++*static_cast<int*>(ctx); };
    hwRtnotifyAttrWalk(bytes.data(), 20, 28, count, &calls);  // message shorter than its fixed part
    hwRtnotifyAttrWalk(bytes.data(), 28, 28, count, &calls);
    EXPECT_EQ(calls, 0);
}

TEST_F(Walk, SocketOpensOnceAndCloses) {
    EXPECT_EQ(hwRtnotifyInit(nullptr), -1);
    EXPECT_EQ(hwRtnotifyShutdown(nullptr), -1);
    ghwRoute.notifySock = 0;
    if (hwRtnotifyInit(&ghwRoute) != 0) GTEST_SKIP() << "no netlink sockets in this environment";
    int fd = ghwRoute.notifySock;
    EXPECT_GT(fd, 0);
    EXPECT_EQ(hwRtnotifyInit(&ghwRoute), 0);
    EXPECT_EQ(ghwRoute.notifySock, fd) << "an open socket is kept";
    EXPECT_EQ(hwRtnotifyShutdown(&ghwRoute), 0);
    EXPECT_EQ(ghwRoute.notifySock, 0);
}
