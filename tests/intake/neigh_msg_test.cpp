// Neighbour and link messages, and the probes of an interface coming up.
#include <string>

#include "intake_test.h"

namespace {

NlNeighFields arp(uint16_t type = NL_NEWNEIGH) {
    return {.type = type, .family = 2, .ifindex = 7, .dst = "10.0.0.1", .mac = "00:11:22:33:44:55", .port = 3, .vrf = 4};
}

NlNeighFields nd6(uint16_t type = NL_NEWNEIGH) {
    return {.type = type, .family = 10, .ifindex = 5, .dst = "fe80::1", .mac = "00:aa:bb:cc:dd:ee", .port = 2, .vrf = 1};
}

}  // namespace

using NeighMsg = IntakeTest;

TEST_F(NeighMsg, ArpAddFillsTheRequestFromHeadAndAttributes) {
    deliver(nlNeigh(arp()));
    EXPECT_EQ(lineWith("arp/nd received"), "[hwRtnotifyRecv] arp/nd received: ifunit 7, family 2.\r\n");
    EXPECT_EQ(lineWith("attrlen_total"), "[hwRtnotifyRecv] attrlen_total 36, attrtype = 1, attrlen 8");
    EXPECT_EQ(lineWith("macstr="), "[hwRtnotifyRecv]=>ifUnit=7,subIfUnit=7,dest=0xa000001,macstr=00:11:22:33:44:55,"
                                   "outPort=3,vpnVrfid=4");
    EXPECT_EQ(ghwRoute.rcvArpAddCnt, 1u);
    HwArpNode* node = hwArpFind(4, ip4("10.0.0.1"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->ifUnit, 7u);
    EXPECT_EQ(node->subIfUnit, 7u);
    EXPECT_EQ(node->outPort, 3u);
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(std::memcmp(node->mac, mac, 6), 0);
    EXPECT_EQ(node->flag & ARP_FLAG_LOCAL, 0) << "only kernel routes make local neighbours";
}

TEST_F(NeighMsg, ArpDeleteReachesTheNeighbourDelete) {
    deliver(nlNeigh(arp()));
    deliver(nlNeigh(arp(NL_DELNEIGH)));
    EXPECT_EQ(ghwRoute.rcvArpDelCnt, 1u);
    EXPECT_EQ(ghwRoute.rcvArpAddCnt, 1u);
}

TEST_F(NeighMsg, ArpWithoutLinkLayerAddressCarriesAZeroMac) {
    auto req = arp();
    req.mac = nullptr;
    deliver(nlNeigh(req));
    EXPECT_TRUE(logged("macstr=00:00:00:00:00:00"));
    EXPECT_EQ(ghwRoute.rcvArpAddCnt, 1u);
}

TEST_F(NeighMsg, MalformedAttributesAreAbsent) {
    struct Case {
        const char* what;
        NlMessage msg;
        const char* expect;
    };
    auto head = [] { return nlNeigh({.type = NL_DELNEIGH, .family = 2, .ifindex = 7}); };
    const Case cases[] = {
        {"3-byte address", head().attr(1, {10, 0, 0}).attrU32(6, 3), "dest=0,macstr=00:00:00:00:00:00,outPort=3"},
        {"5-byte MAC", head().attrAddr(1, "10.0.0.1").attr(2, {1, 2, 3, 4, 5}), "dest=0xa000001,macstr=00:00:00:00:00:00"},
        {"8-byte MAC", head().attr(2, {1, 2, 3, 4, 5, 6, 7, 8}), "macstr=00:00:00:00:00:00"},
        {"short port", head().attr(6, {3, 0}), "outPort=0,"},
        {"short VRF", head().attr(9, {4}), "vpnVrfid=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        logs.clear();
        deliver(c.msg);
        EXPECT_TRUE(logged(c.expect)) << lineWith("macstr=");
    }
}

TEST_F(NeighMsg, NeighbourWithoutAttributesLogsZeroFirstAttribute) {
    deliver(nlNeigh({.type = NL_DELNEIGH, .family = 2, .ifindex = 7}));
    EXPECT_TRUE(logged("[hwRtnotifyRecv] attrlen_total 0, attrtype = 0, attrlen 0"));
}

TEST_F(NeighMsg, OtherFamilyWritesOnlyTheTwoFirstLines) {
    auto req = arp();
    req.family = 7;
    deliver(nlNeigh(req));
    EXPECT_TRUE(logged("arp/nd received: ifunit 7, family 7."));
    EXPECT_TRUE(logged("attrlen_total"));
    EXPECT_FALSE(logged("macstr="));
    EXPECT_EQ(ghwRoute.rcvArpAddCnt + ghwRoute.rcvNd6AddCnt, 0u);
}

TEST_F(NeighMsg, Nd6MessagesLogTheAddressTextAndCount) {
    deliver(nlNeigh(nd6()));
    EXPECT_EQ(lineWith("macstr="), "[hwRtnotifyRecv]=>ifUnit=5,subIfUnit=5,dest=fe80::1,macstr=00:aa:bb:cc:dd:ee,"
                                   "outPort=2,vpnVrfid=1");
    EXPECT_EQ(ghwRoute.rcvNd6AddCnt, 1u);
    deliver(nlNeigh(nd6(NL_DELNEIGH)));
    EXPECT_EQ(ghwRoute.rcvNd6DelCnt, 1u);
}

TEST_F(NeighMsg, Nd6WithAnIpv4SizedAddressHasNoAddress) {
    auto req = nd6();
    req.dst = "10.0.0.1";
    deliver(nlNeigh(req));
    EXPECT_TRUE(logged("dest=::,macstr=00:aa:bb:cc:dd:ee"));
}

// ---- link messages and interface up -----------------------------------------

TEST_F(NeighMsg, OperationalStateDecidesTheInterfaceEvent) {
    struct Case {
        uint16_t type;
        std::optional<uint32_t> state;
        const char* line;  // null: no event
        const char* event;
    };
    const Case cases[] = {
        {NL_NEWLINK, 6, "[hwRtnotifyRecv]=>receive interface link is up", "ifUnit 3,msg type 17"},
        {NL_DELLINK, 6, "[hwRtnotifyRecv]=>receive interface link is up", "ifUnit 3,msg type 17"},
        {NL_NEWLINK, 2, "[hwRtnotifyRecv]=>receive interface link is down", "ifUnit 3,msg type 34"},
        {NL_NEWLINK, 5, nullptr, nullptr},
        {NL_NEWLINK, std::nullopt, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state.value_or(0));
        logs.clear();
        deliver(nlLink({.type = c.type, .ifindex = 3, .operState = c.state}));
        EXPECT_TRUE(logged("[hwRtnotifyRecv]=>if up/down msg,ifi->ifi_index=3"));
        if (c.line == nullptr) {
            EXPECT_FALSE(logged("process interface up/down msg"));
            continue;
        }
        EXPECT_TRUE(logged(c.line));
        EXPECT_EQ(lineWith("process interface"), std::string("process interface up/down msg: ") + c.event);
    }
}

TEST_F(NeighMsg, EveryOperationalStateAttributeIsAnEvent) {
    deliver(nlLink({.ifindex = 3}).attrU32(16, 2).attrU32(16, 6));
    EXPECT_EQ(logCount("process interface up/down msg"), 2);
}

class IfUp : public IntakeTest {
protected:
    // Two gateways that share a pend bucket.
    void SetUp() override {
        IntakeTest::SetUp();
        uint32_t first = ip4("10.3.0.1");
        for (uint32_t a = first + 1; a < first + 100000; ++a) {
            if (hwRouteKey1(a) == hwRouteKey1(first)) {
                older = first;
                newer = a;
                return;
            }
        }
        FAIL() << "no two gateways share a bucket";
    }
    static void addVia(const char* dst, uint32_t gateway, uint32_t oif) {
        char text[16];
        inet_ntoa_2(text, gateway);
        deliver(nlRoute({.prefixLen = 24, .protocol = 11, .dst = dst, .gateway = text, .oif = oif}));
    }
    uint32_t older = 0;
    uint32_t newer = 0;
};

TEST_F(IfUp, ProbesOnlyTheNewestPendingNextHopOfEachBucket) {
    addVia("10.10.1.0", older, 3);
    addVia("10.10.2.0", newer, 3);
    addVia("10.10.3.0", ip4("10.5.5.5"), 5);  // waits on another interface
    ASSERT_EQ(probes.size(), 3u) << "each add probes once";
    probes.clear();

    deliver(nlLink({.ifindex = 3, .operState = 6}));
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].address, newer);
}

TEST_F(IfUp, DownEventAndUnitZeroProbeNothing) {
    addVia("10.10.1.0", older, 3);
    probes.clear();
    deliver(nlLink({.ifindex = 3, .operState = 2}));
    EXPECT_TRUE(probes.empty());
    EXPECT_EQ(hwIfUpDown(0, HW_IF_UP), -1);
    EXPECT_TRUE(probes.empty());
    EXPECT_FALSE(logged("ifUnit 0,msg type"));
    EXPECT_EQ(hwIfUpDown(3, HW_IF_DOWN), 0);
}
