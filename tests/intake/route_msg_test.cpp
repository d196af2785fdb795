// Route messages: kernel IPv4 and IPv6 routes, the local neighbour of
// kernel-protocol routes, labelled routes, and the text and mask helpers.
#include <arpa/inet.h>

#include <cstring>

#include "intake_test.h"

namespace {

NlRouteFields route4(uint16_t type = NL_NEWROUTE) {
    return {.type = type, .prefixLen = 24, .protocol = 11, .flags = 0x10, .dst = "10.1.2.0", .gateway = "10.9.9.1",
            .oif = 5, .weight = 3, .vrf = 7};
}

NlRouteFields local4(const char* addr = "192.168.1.1") {
    return {.prefixLen = 32, .protocol = 2, .dst = addr, .gateway = "10.9.9.9", .oif = 5, .vrf = 4};
}

std::vector<uint8_t> addr16(const char* text) {
    auto b = nlAddrBytes(text);
    b.resize(16);
    return b;
}

}  // namespace

using RouteMsg = IntakeTest;

TEST_F(RouteMsg, Ipv4AddReachesTheTablesWithEveryDecodedField) {
    deliver(nlRoute(route4()));
    EXPECT_EQ(ghwRoute.rcvNoDynamicRouteAddCnt, 1u);
    EXPECT_EQ(lineWith("=>vrfId="), "[hwRtnotifyRecv]=>vrfId=7,dest=0xa010200,mask=0xffffff00,gateway=0xa090901,"
                                    "ifUnit=5,proto=11,weight=3,routeFlag=0x10,nVrfId=7");
    HwRouteDest* dest = findDest(7, "10.1.2.0", 0xffffff00);
    ASSERT_NE(dest, nullptr);
    HwRouteNexthop* nh = findNexthop(dest, 7, "10.9.9.1", 11);
    ASSERT_NE(nh, nullptr);
    EXPECT_EQ(nh->ifUnit, 5u);
    EXPECT_EQ(nh->weight, 3);
    EXPECT_EQ(nh->routeFlag, 0x10u);
}

TEST_F(RouteMsg, Ipv4DeleteReachesTheRouteDelete) {
    deliver(nlRoute(route4()));
    ASSERT_NE(findDest(7, "10.1.2.0", 0xffffff00), nullptr);
    deliver(nlRoute(route4(NL_DELROUTE)));
    EXPECT_EQ(ghwRoute.rcvNoDynamicRouteDelCnt, 1u);
    EXPECT_TRUE(logged("[hwRouteRouteDel]=>ip route del detected,ifUnit=5 dest=0xa010200,mask=0xffffff00,"
                       "nextHop=0xa090901,prot=11,weight=3,vrfId=7"));
    EXPECT_EQ(findNexthop(findDest(7, "10.1.2.0", 0xffffff00), 7, "10.9.9.1", 11), nullptr)
        << "a path that never reached hardware is gone at once";
}

TEST_F(RouteMsg, WeightTakesTheLowByteOfAttribute8) {
    auto req = route4();
    req.weight = 0x105;
    deliver(nlRoute(req));
    HwRouteNexthop* nh = findNexthop(findDest(7, "10.1.2.0", 0xffffff00), 7, "10.9.9.1", 11);
    ASSERT_NE(nh, nullptr);
    EXPECT_EQ(nh->weight, 5);
}

TEST_F(RouteMsg, PrefixLengthBecomesMask) {
    struct Case {
        uint8_t len;
        const char* mask;
    };
    const Case cases[] = {{0, "mask=0,"}, {8, "mask=0xff000000,"}, {23, "mask=0xfffffe00,"},
                          {32, "mask=0xffffffff,"}, {33, "mask=0,"}, {255, "mask=0,"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.len));
        logs.clear();
        auto req = route4(NL_DELROUTE);
        req.prefixLen = c.len;
        deliver(nlRoute(req));
        EXPECT_TRUE(logged(c.mask));
    }
}

TEST_F(RouteMsg, AttributesOfTheWrongSizeAreAbsentAndLaterDuplicatesWin) {
    struct Case {
        const char* what;
        NlMessage msg;
        const char* expect;
    };
    auto base = [] { return nlRoute({.type = NL_DELROUTE, .prefixLen = 24, .protocol = 11}); };
    // Attribute integers are host order: 5 followed by four more bytes.
    std::vector<uint8_t> longer(8, 9);
    const uint32_t five = 5;
    std::memcpy(longer.data(), &five, 4);
    const Case cases[] = {
        {"3-byte IPv4 destination", base().attr(1, {10, 1, 2}), "vrfId=0,dest=0,"},
        {"16-byte address in an IPv4 route", base().attr(5, addr16("2001:db8::1")), "gateway=0,"},
        {"2-byte interface", base().attr(4, {5, 5}), "ifUnit=0,"},
        {"longer interface payload is read", base().attr(4, longer), "ifUnit=5,"},
        {"later duplicate wins", base().attrU32(4, 5).attrU32(4, 6), "ifUnit=6,"},
        {"a bad later duplicate does not erase", base().attrU32(18, 8).attr(18, {1}), "vrfId=8,"},
        {"unknown attributes are skipped", base().attrU32(15, 1).attrU32(4, 2), "ifUnit=2,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        logs.clear();
        deliver(c.msg);
        EXPECT_TRUE(logged(c.expect)) << lineWith("=>vrfId=");
    }
}

TEST_F(RouteMsg, OtherFamiliesEndTheMessage) {
    auto req = route4();
    req.family = 7;
    deliver(nlRoute(req));
    EXPECT_TRUE(logged("a route message Receive"));
    EXPECT_FALSE(logged("=>vrfId="));
    EXPECT_EQ(ghwRoute.rcvNoDynamicRouteAddCnt, 0u);
}

// ---- kernel protocol: local neighbour first ---------------------------------

TEST_F(RouteMsg, KernelProtocolRouteEntersLocalNeighbourAndPointsAtItself) {
    deliver(nlRoute(local4()));
    EXPECT_TRUE(logged("gateway=0xc0a80101,ifUnit=5,proto=2")) << "the next hop becomes the destination";
    HwArpNode* arp = hwArpFind(4, ip4("192.168.1.1"));
    ASSERT_NE(arp, nullptr);
    EXPECT_TRUE(arp->flag & ARP_FLAG_LOCAL);
    EXPECT_EQ(arp->ifUnit, 5u);
    EXPECT_EQ(arp->subIfUnit, 0u);
    EXPECT_EQ(arp->outPort, 9u) << "the platform's local port";
    const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 0x05};
    EXPECT_EQ(std::memcmp(arp->mac, mac, 6), 0);
    HwRouteNexthop* nh = findNexthop(findDest(4, "192.168.1.1", 0xffffffff), 4, "192.168.1.1", 2);
    ASSERT_NE(nh, nullptr);
    EXPECT_EQ(ghwRoute.rcvLocaltoDelArpCnt, 0u);
}

TEST_F(RouteMsg, KernelProtocolRouteReplacesAnEarlierLocalNeighbour) {
    deliver(nlRoute(local4()));
    deliver(nlRoute(local4()));
    EXPECT_EQ(ghwRoute.rcvLocaltoDelArpCnt, 1u);
    EXPECT_NE(hwArpFind(4, ip4("192.168.1.1")), nullptr);
}

TEST_F(RouteMsg, UnknownLocalPortDropsTheWholeRoute) {
    platformConfig(R"({"fail": ["localPort"]})");
    deliver(nlRoute(local4()));
    EXPECT_EQ(lineWith("sysIndexTrans"), "sysIndexTrans get port failed.");
    EXPECT_EQ(hwArpFind(4, ip4("192.168.1.1")), nullptr);
    EXPECT_EQ(findDest(4, "192.168.1.1", 0xffffffff), nullptr);
    EXPECT_EQ(ghwRoute.rcvNoDynamicRouteAddCnt, 1u) << "counted before the drop";
}

TEST_F(RouteMsg, KernelProtocolDeleteDoesNotTouchNeighbours) {
    deliver(nlRoute(local4()));
    auto del = local4();
    del.type = NL_DELROUTE;
    platformConfig(R"({"fail": ["localPort"]})");
    deliver(nlRoute(del));
    EXPECT_FALSE(logged("sysIndexTrans get port failed.")) << "only adds enter a local neighbour";
    EXPECT_EQ(ghwRoute.rcvNoDynamicRouteDelCnt, 1u);
}

// ---- IPv6 --------------------------------------------------------------------

TEST_F(RouteMsg, Ipv6RouteLogsEveryDecodedField) {
    deliver(nlRoute({.family = 10, .prefixLen = 64, .protocol = 11, .flags = 0x10, .dst = "2001:db8:1::",
                     .gateway = "fe80::1", .oif = 5, .weight = 0x102, .vrf = 3}));
    EXPECT_EQ(lineWith("=>vrfId="), "[hwRtnotifyRecv]=>vrfId=3,ifUnit=5,dest=2001:db8:1::,prefixLen=64,"
                                    "nextHop=fe80::1,proto=11,weight=2,vrfId=3,routeFlag=0x10,nVrfId=3");
    EXPECT_EQ(ghwRoute.rcvNoDynamicRoute6AddCnt, 1u);
}

TEST_F(RouteMsg, Ipv6ClonedRouteIsIgnoredOnlyWithTheClonedFlag) {
    struct Case {
        const char* what;
        uint32_t flags;
        const char* gateway;
        uint32_t counted;
    };
    const Case cases[] = {
        {"destination equals next hop, cloned", 0x200, "2001:db8::5", 0},
        {"destination equals next hop, not cloned", 0x100, "2001:db8::5", 1},
        {"cloned flag, other next hop", 0x200, "2001:db8::6", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        logs.clear();
        deliver(nlRoute({.family = 10, .prefixLen = 128, .protocol = 11, .flags = c.flags, .dst = "2001:db8::5",
                         .gateway = c.gateway, .oif = 5}));
        EXPECT_EQ(ghwRoute.rcvNoDynamicRoute6AddCnt, c.counted);
        EXPECT_EQ(logged("[hwRtnotifyRecv]=>recv clone route,do nothing!"), c.counted == 0);
    }
}

TEST_F(RouteMsg, Ipv6KernelRouteKeepsItsNextHopAndNeedsALocalPort) {
    platformConfig(R"({"fail": ["localPort"]})");
    deliver(nlRoute({.family = 10, .prefixLen = 128, .protocol = 2, .dst = "2001:db8::5", .oif = 5}));
    EXPECT_TRUE(logged("dest=2001:db8::5,prefixLen=128,nextHop=::,proto=2")) << "no rewrite for IPv6";
    EXPECT_TRUE(logged("sysIndexTrans get port failed."));
    EXPECT_EQ(ghwRoute.rcvNoDynamicRoute6AddCnt, 1u);
}

TEST_F(RouteMsg, Ipv6DeleteIsCounted) {
    deliver(nlRoute({.type = NL_DELROUTE, .family = 10, .prefixLen = 64, .protocol = 11, .dst = "2001:db8::",
                     .gateway = "fe80::1", .oif = 5}));
    EXPECT_EQ(ghwRoute.rcvNoDynamicRoute6DelCnt, 1u);
}

// ---- labelled routes ---------------------------------------------------------

namespace {
NlMplsFields vpn4() {
    return {.type = NL_VPN_ROUTE, .vrfId = 12, .ifUnit = 5, .dst = "172.16.1.0", .nextHop = "10.9.9.1", .family = 2,
            .weight = 4, .prefixLen = 24, .labelNum = 2, .op = 24, .labels = {0x12345000, 0x6789a100, 0}};
}
}  // namespace

TEST_F(RouteMsg, LabelledIpv4RouteLogsItsFields) {
    deliver(nlMpls(vpn4()));
    EXPECT_EQ(ghwRoute.rcvMplsMsgCnt, 1u);
    EXPECT_EQ(ghwRoute.rcvMplsV4Cnt, 1u);
    EXPECT_EQ(ghwRoute.rcvMplsV4VpnAddCnt, 1u);
    EXPECT_TRUE(logged("[hwRtnotifyRecv]=> vpn msg"));
    EXPECT_EQ(lineWith("vpn msg: "), "[hwRtnotifyRecv]=> vpn msg: ifUnit=5,dest=0xac100100,mask=0xffffff00,"
                                     "gateway=0xa090901,proto=0,weight=4,vrfId=12,mplsLabelNum=2,publicStatus=0,flags=0.");
}

TEST_F(RouteMsg, LabelledRouteCountersFollowOperationAndFlags) {
    struct Case {
        const char* what;
        uint16_t type;
        uint8_t family;
        uint8_t op;
        uint8_t flags;
        uint32_t HwRouteGlobal::*counter;
    };
    const Case cases[] = {
        {"v4 add", 131, 2, 24, 0, &HwRouteGlobal::rcvMplsV4VpnAddCnt},
        {"v4 add through 132", 132, 2, 24, 0, &HwRouteGlobal::rcvMplsV4VpnAddCnt},
        {"v4 delete as plain route", 131, 2, 25, 0x01, &HwRouteGlobal::rcvMplsV4RouteDelCnt},
        {"v4 delete of the labels", 132, 2, 25, 0x04, &HwRouteGlobal::rcvMplsV4VpnDelCnt},
        {"v6 add", 131, 10, 24, 0, &HwRouteGlobal::rcvMplsV6VpnAddCnt},
        {"v6 delete as plain route", 131, 10, 25, 0x01, &HwRouteGlobal::rcvMplsV6RouteDelCnt},
        {"v6 delete of the labels", 132, 10, 25, 0, &HwRouteGlobal::rcvMplsV6VpnDelCnt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        auto req = vpn4();
        req.type = c.type;
        req.family = c.family;
        if (c.family == 10) {
            req.dst = "2001:db8:5::";
            req.nextHop = "2001:db8::1";
        }
        req.op = c.op;
        req.flags = c.flags;
        deliver(nlMpls(req));
        EXPECT_EQ(ghwRoute.*c.counter, 1u);
        EXPECT_EQ(ghwRoute.rcvMplsV4VpnAddCnt + ghwRoute.rcvMplsV4RouteDelCnt + ghwRoute.rcvMplsV4VpnDelCnt +
                      ghwRoute.rcvMplsV6VpnAddCnt + ghwRoute.rcvMplsV6RouteDelCnt + ghwRoute.rcvMplsV6VpnDelCnt,
                  1u);
    }
}

TEST_F(RouteMsg, LabelledRouteWithAnotherOperationOrFamilyDoesNothingMore) {
    auto req = vpn4();
    req.op = 26;
    deliver(nlMpls(req));
    EXPECT_EQ(ghwRoute.rcvMplsV4Cnt, 1u);
    EXPECT_EQ(ghwRoute.rcvMplsV4VpnAddCnt + ghwRoute.rcvMplsV4VpnDelCnt + ghwRoute.rcvMplsV4RouteDelCnt, 0u);
    req.family = 7;
    deliver(nlMpls(req));
    EXPECT_EQ(ghwRoute.rcvMplsMsgCnt, 2u);
    EXPECT_EQ(ghwRoute.rcvMplsV4Cnt + ghwRoute.rcvMplsV6Cnt, 1u);
}

TEST_F(RouteMsg, PublicRouteIsAddedFirstOnlyForAddsWithPublicStatus) {
    struct Case {
        const char* what;
        uint8_t family;
        uint8_t publicFamily;
        uint8_t publicStatus;
        uint8_t op;
        uint32_t HwRouteGlobal::*counter;  // null: no public route
    };
    const Case cases[] = {
        {"v4 over v4", 2, 2, 1, 24, &HwRouteGlobal::rcvMplsV4PubV4AddCnt},
        {"v4 over v6", 2, 10, 1, 24, &HwRouteGlobal::rcvMplsV4PubV6AddCnt},
        {"v6 over v6", 10, 10, 1, 24, &HwRouteGlobal::rcvMplsV6PubV6AddCnt},
        {"v6 over v4", 10, 2, 1, 24, &HwRouteGlobal::rcvMplsV6PubV4AddCnt},
        {"no public status", 2, 2, 0, 24, nullptr},
        {"delete", 2, 2, 1, 25, nullptr},
        {"unknown public family", 2, 7, 1, 24, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        auto req = vpn4();
        req.family = c.family;
        if (c.family == 10) {
            req.dst = "2001:db8:5::";
            req.nextHop = "2001:db8::1";
        }
        req.publicFamily = c.publicFamily;
        req.publicStatus = c.publicStatus;
        req.op = c.op;
        req.pubVrfId = 0;
        req.pubDst = c.publicFamily == 10 ? "2001:db8:9::" : "10.9.9.0";
        req.pubNextHop = c.publicFamily == 10 ? "fe80::9" : "10.8.8.8";
        req.pubPrefixLen = 24;
        req.pubProtoId = 8;
        deliver(nlMpls(req));
        uint32_t total = ghwRoute.rcvMplsV4PubV4AddCnt + ghwRoute.rcvMplsV4PubV6AddCnt +
                         ghwRoute.rcvMplsV6PubV6AddCnt + ghwRoute.rcvMplsV6PubV4AddCnt;
        EXPECT_EQ(total, c.counter ? 1u : 0u);
        if (c.counter) {
            EXPECT_EQ(ghwRoute.*c.counter, 1u);
        }
    }
}

TEST_F(RouteMsg, LabelCountAboveThreeIsClamped) {
    auto req = vpn4();
    req.labelNum = 5;
    deliver(nlMpls(req));
    EXPECT_TRUE(logged("mplsLabelNum 5 above 3, clamped."));
    EXPECT_TRUE(logged("mplsLabelNum=3,publicStatus=0"));
}

// ---- text and masks ------------------------------------------------------------

TEST(IntakeText, PrefixLengthToMaskBytes) {
    struct Case {
        int len;
        std::vector<uint8_t> mask;
    };
    const std::vector<uint8_t> untouched = {0xde, 0xad, 0xbe, 0xef};
    const Case cases[] = {
        {0, {0, 0, 0, 0}},          {1, {0x80, 0, 0, 0}},     {12, {0xff, 0xf0, 0, 0}},
        {24, {0xff, 0xff, 0xff, 0}}, {31, {0xff, 0xff, 0xff, 0xfe}}, {32, {0xff, 0xff, 0xff, 0xff}},
        {33, untouched},            {-1, untouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.len);
        std::vector<uint8_t> buf = untouched;
        in_len2mask(buf.data(), c.len);
        EXPECT_EQ(buf, c.mask);
    }
}

TEST(IntakeText, DottedTextOfAnAddressNumber) {
    char buf[16];
    EXPECT_STREQ(inet_ntoa_2(buf, 0x0a010203), "10.1.2.3");
    EXPECT_STREQ(inet_ntoa_2(buf, 0xffffffff), "255.255.255.255");
    EXPECT_STREQ(inet_ntoa_2(buf, 0), "0.0.0.0");
    EXPECT_EQ(inet_ntoa_2(buf, 1), buf);
}

TEST(IntakeText, Ip6TextStaysValidForSeveralCallsInOneLine) {
    auto a = addr16("2001:db8::1");
    auto b = addr16("fe80::2");
    const char* ta = ip6_sprintf(a.data());
    const char* tb = ip6_sprintf(b.data());
    EXPECT_STREQ(ta, "2001:db8::1");
    EXPECT_STREQ(tb, "fe80::2");
}
