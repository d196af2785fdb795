// Neighbour and link messages, and the probes of an interface coming up.
#include <optional>
#include <string>
#include <tuple>

#include "intake_test.h"

using NeighMsg = IntakeTest;

// The second carries no MAC: it must not take the first one's.
TEST_F(NeighMsg, MessageFillsAClearedRequestFromHeadAndAttributes) {
    deliver(NlDatagram{
        nlNeigh({.family = 2, .ifindex = 7, .dst = "10.0.0.1", .mac = "00:11:22:33:44:55", .port = 3, .vrf = 4}),
        nlNeigh({.ifindex = 5, .dst = "10.9.9.2"}),
        nlNeigh({.family = 10, .ifindex = 5, .dst = "fe80::1", .mac = "00:aa:bb:cc:dd:ee", .port = 2, .vrf = 1}),
        nlNeigh({.family = 7, .ifindex = 5, .dst = "10.0.0.2"})});
    EXPECT_TRUE(logged("=>ifUnit=7,subIfUnit=7,dest=0xa000001,macstr=00:11:22:33:44:55,outPort=3,vpnVrfid=4"));
    EXPECT_TRUE(logged("=>ifUnit=5,subIfUnit=5,dest=fe80::1,macstr=00:aa:bb:cc:dd:ee,outPort=2,vpnVrfid=1"));
    EXPECT_TRUE(logged("dest=0xa090902,macstr=00:00:00:00:00:00"));
    EXPECT_EQ(logCount("macstr="), 3) << "another family is not decoded";
    HwArpNode* node = hwArpFind(4, ip4("10.0.0.1"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->mac[5], 0x55);
    EXPECT_EQ(node->flag & ARP_FLAG_LOCAL, 0) << "only kernel routes make local neighbours";
}

TEST_F(NeighMsg, MalformedAttributesAreAbsent) {
    auto head = [](uint8_t family = 2) { return nlNeigh({.type = NL_DELNEIGH, .family = family, .ifindex = 7}); };
    const std::tuple<const char*, NlMessage, const char*> cases[] = {
        {"3-byte address", head().attr(1, {10, 0, 0}).attrU32(6, 3), "dest=0,macstr=00:00:00:00:00:00,outPort=3"},
        {"IPv4-sized address in an IPv6 message", head(10).attrAddr(1, "10.0.0.1"), "dest=::,"},
        {"5-byte MAC", head().attrAddr(1, "10.0.0.1").attr(2, {1, 2, 3, 4, 5}), "0xa000001,macstr=00:00:00:00:00:00"},
    };
    for (const auto& [what, msg, expect] : cases) {
        SCOPED_TRACE(what);
        logs.clear();
        deliver(msg);
        EXPECT_TRUE(logged(expect)) << lineWith("macstr=");
    }
}

TEST_F(NeighMsg, OperationalStateDecidesTheInterfaceEvent) {
    // Message type, operational state, event written (empty: none).
    const std::tuple<uint16_t, std::optional<uint32_t>, std::string> cases[] = {
        {NL_NEWLINK, 6, "ifUnit 3,msg type 17"}, {NL_DELLINK, 6, "ifUnit 3,msg type 17"},
        {NL_NEWLINK, 2, "ifUnit 3,msg type 34"}, {NL_NEWLINK, 5, ""},
        {NL_NEWLINK, std::nullopt, ""},
    };
    for (const auto& [type, state, event] : cases) {
        SCOPED_TRACE(state.value_or(0));
        logs.clear();
        deliver(nlLink({.type = type, .ifindex = 3, .operState = state}));
        EXPECT_EQ(lineWith("process interface"), event.empty() ? "" : "process interface up/down msg: " + event);
    }
}

TEST_F(NeighMsg, InterfaceUpProbesOnlyTheNewestPendingNextHopOfEachBucket) {
    const uint32_t older = ip4("10.3.0.1");
    uint32_t newer = older + 1;
    while (hwRouteKey1(newer) != hwRouteKey1(older)) ASSERT_LT(++newer, older + 100000) << "no shared bucket";
    auto addVia = [](const char* dst, uint32_t gateway, uint32_t oif) {
        char text[16];
        const char* via = inet_ntoa_2(text, gateway);
        deliver(nlRoute({.prefixLen = 24, .protocol = 11, .dst = dst, .gateway = via, .oif = oif}));
    };
    addVia("10.10.1.0", older, 3);
    addVia("10.10.2.0", newer, 3);
    addVia("10.10.3.0", ip4("10.5.5.5"), 5);  // waits on another interface
    ASSERT_EQ(probes.size(), 3u) << "each add probes once";
    probes.clear();
    deliver(nlLink({.ifindex = 3, .operState = 2}));
    EXPECT_TRUE(probes.empty()) << "down probes nothing";
    deliver(nlLink({.ifindex = 3, .operState = 6}));
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].address, newer);
}
