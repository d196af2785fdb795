// The datagram walk: message boundaries, ending types, short bodies and
// request clearing.
#include <cstring>
#include <random>
#include <tuple>

#include "intake_test.h"

using Bytes = std::vector<uint8_t>;
using Walk = IntakeTest;

TEST_F(Walk, MessageBoundariesDecideWhatIsHandled) {
    const auto add1 = nlRoute({.prefixLen = 24, .protocol = 11, .dst = "10.1.0.0", .oif = 5});
    const auto add2 = nlRoute({.prefixLen = 24, .protocol = 11, .dst = "10.2.0.0", .oif = 5});
    // What, datagram, messages the walk looked at, route adds decoded.
    const std::tuple<const char*, Bytes, int, uint32_t> cases[] = {
        {"datagram shorter than a header", Bytes(15, 0), 0, 0},
        {"first length beyond the datagram", NlMessage(add1).claimLength(200).bytes(), 0, 0},
        {"done in the middle drops the rest", NlDatagram{add1, nlDone(), add2}.bytes(), 2, 1},
        {"second message longer than what remains", NlDatagram{add1, NlMessage(add2).claimLength(400)}.bytes(), 1, 1},
        {"unknown type in the middle is skipped", NlDatagram{add1, NlMessage(20, Bytes(16)), add2}.bytes(), 3, 2},
        {"unaligned length advances to a multiple of 4", NlDatagram{NlMessage(20, Bytes(5)), add1}.bytes(), 2, 1},
        {"short message does not stop the walk", NlDatagram{NlMessage(24, Bytes(4)), add1}.bytes(), 2, 1},
        {"error report drops the rest", NlDatagram{nlError(-17), add1}.bytes(), 1, 0},
        {"a tail of fewer than 16 bytes is ignored", NlDatagram{add1}.append(Bytes(12, 0xff)).bytes(), 1, 1},
    };
    for (const auto& [what, datagram, types, routes] : cases) {
        SCOPED_TRACE(what);
        reinit(HwTestSizes{});
        logs.clear();
        deliver(datagram);
        EXPECT_EQ(logCount("=>p_hdr->nlmsg_type="), types);
        EXPECT_EQ(ghwRoute.rcvNoDynamicRouteAddCnt, routes);
    }
    deliver(nlError(-17));
    EXPECT_TRUE(logged("[hwRtnotifyRecv] Route message ERROR: File exists"));
}

// Every handled type, cut one byte short of the body its decoder reads.
TEST_F(Walk, ShortBodiesAreSkippedAndCounted) {
    // Type, body the decoder reads, whether the route error counter takes it.
    const std::tuple<uint16_t, std::size_t, bool> cases[] = {
        {16, 32, false},   {17, 32, false},   {24, 28, true},   {25, 28, true},   {28, 28, false},  {29, 28, false},
        {87, 32, false},   {90, 32, false},   {129, 128, false}, {130, 128, false}, {131, 128, true}, {132, 128, true},
        {133, 104, false}, {134, 104, false}, {135, 32, false}, {136, 32, false}, {2, 20, false},
    };
    for (const auto& [type, need, routeCounter] : cases) {
        SCOPED_TRACE(type);
        reinit(HwTestSizes{});
        logs.clear();
        // Bytes that would decode as something if they were read.
        deliver(NlMessage(type, Bytes(need - NL_HDR_LEN - 1, 0x02)));
        EXPECT_EQ(ghwRoute.rcvNoDynamicRouteMsgErrCnt, routeCounter ? 1u : 0u);
        EXPECT_EQ(ghwRoute.rcvRouteMsgErrCnt, routeCounter ? 0u : 1u);
        EXPECT_EQ(logs.size(), type == 2 ? 2u : 3u) << "no decoder line after the skip";
        EXPECT_EQ(ghwRoute.cardUpFlag + ghwRoute.slotUpFlag + ghwRoute.resendRouteFlag, 0u);

        // Exactly the body: decoded, not counted.
        reinit(HwTestSizes{});
        deliver(NlMessage(type, Bytes(need - NL_HDR_LEN, 0)));
        EXPECT_EQ(ghwRoute.rcvNoDynamicRouteMsgErrCnt + ghwRoute.rcvRouteMsgErrCnt, 0u);
    }
}

// Random datagrams in buffers of their exact size: nothing may be read past
// the received bytes (the sanitizer build sees it) and nothing may crash.
TEST_F(Walk, RandomDatagramsAreWalkedSafely) {
    static const uint16_t kTypes[] = {2,   3,   16,  17,  20,  24,  25,  28,  29,  87,  90,
                                      129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 148};
    std::mt19937 rng(20240611);
    int decoded = 0;
    for (int i = 0; i < 4000; ++i) {
        if (i % 500 == 0) reinit(HwTestSizes{});
        logs.clear();
        Bytes d(rng() % 300);
        for (auto& b : d) b = static_cast<uint8_t>(rng());
        // Mostly plausible headers, so that the decoders are reached.
        std::size_t at = 0;
        while (at + 16 <= d.size() && rng() % 8 != 0) {
            uint32_t len = rng() % 4 == 0 ? rng() % 512 : 16 + rng() % (d.size() - at - 15);
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
