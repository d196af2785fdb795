// Route messages: kernel IPv4 and IPv6 routes, the local neighbour of
// kernel-protocol routes, labelled routes and the mask helper.
#include <algorithm>
#include <tuple>

#include "intake_test.h"

using RouteMsg = IntakeTest;

// The second IPv4 route carries no gateway, weight or VRF: it must not take the first one's.
TEST_F(RouteMsg, Ipv4AndIpv6RoutesDecodeEachFromAClearedRequest) {
    deliver(NlDatagram{nlRoute({.prefixLen = 24, .protocol = 11, .flags = 0x10, .dst = "10.1.2.0",
                                .gateway = "10.9.9.1", .oif = 5, .weight = 3, .vrf = 7}),
                       nlRoute({.prefixLen = 16, .protocol = 11, .dst = "10.2.0.0"}),
                       nlRoute({.family = 10, .prefixLen = 64, .protocol = 11, .dst = "2001:db8:1::",
                                .gateway = "fe80::1", .oif = 5, .weight = 0x102, .vrf = 3}),
                       nlRoute({.family = 7, .prefixLen = 24, .dst = "10.1.2.0"})});
    EXPECT_TRUE(logged("=>vrfId=7,dest=0xa010200,mask=0xffffff00,gateway=0xa090901,ifUnit=5,proto=11,weight=3,"
                       "routeFlag=0x10,nVrfId=7"));
    EXPECT_TRUE(logged("dest=2001:db8:1::,prefixLen=64,nextHop=fe80::1,proto=11,weight=2,vrfId=3"));
    EXPECT_TRUE(logged("=>vrfId=0,dest=0xa020000,mask=0xffff0000,gateway=0,ifUnit=0,proto=11,weight=0,routeFlag=0,"
                       "nVrfId=0"));
    EXPECT_EQ(logCount("=>vrfId="), 3) << "another family is not decoded";
}

TEST_F(RouteMsg, AttributesDecodeOrAreAbsent) {
    auto base = [](uint8_t len = 24) { return nlRoute({.type = NL_DELROUTE, .prefixLen = len, .protocol = 11}); };
    const std::tuple<const char*, NlMessage, const char*> cases[] = {
        {"prefix 23", base(23), "mask=0xfffffe00,"},
        {"weight takes the low byte", base().attrU32(8, 0x105), "weight=5,"},
        {"3-byte IPv4 destination, padded", base().attr(1, {10, 1, 2}).attrU32(4, 5),
         "dest=0,mask=0xffffff00,gateway=0,ifUnit=5,"},
        // A 5-byte interface attribute ending the message; the value reads the same in either byte order.
        {"unpadded last attribute, longer than needed",
         base().attrClaiming(4, 9, {5, 0, 0, 5, 9}).truncate(NL_ROUTE_FIXED + 9), "ifUnit=83886085,"},
        {"a bad later duplicate does not erase", base().attrU32(18, 8).attr(18, {1}), "vrfId=8,"},
        {"length below 4 stops the walk", base().attrU32(4, 2).attrClaiming(5, 3, {}).attrU32(8, 7),
         "ifUnit=2,proto=11,weight=0,"},
        {"length beyond the message stops the walk", base().attrU32(4, 2).attrClaiming(8, 40, {7, 0, 0, 0}),
         "ifUnit=2,proto=11,weight=0,"},
    };
    for (const auto& [what, msg, expect] : cases) {
        SCOPED_TRACE(what);
        logs.clear();
        deliver(msg);
        EXPECT_TRUE(logged(expect)) << lineWith("=>vrfId=");
    }
}

TEST_F(RouteMsg, KernelProtocolRouteEntersLocalNeighbourAndPointsAtItself) {
    const NlRouteFields local{.prefixLen = 32, .protocol = 2, .dst = "192.168.1.1", .gateway = "10.9.9.9", .oif = 5,
                              .vrf = 4};
    deliver(nlRoute(local));
    EXPECT_TRUE(logged("gateway=0xc0a80101,ifUnit=5,proto=2")) << "the next hop becomes the destination";
    HwArpNode* arp = hwArpFind(4, ip4("192.168.1.1"));
    ASSERT_NE(arp, nullptr);
    EXPECT_TRUE(arp->flag & ARP_FLAG_LOCAL);
    EXPECT_EQ(arp->outPort, 9u) << "the platform's local port";
    EXPECT_EQ(arp->mac[5], 0x05) << "the interface's own MAC";
    deliver(nlRoute(local));
    EXPECT_EQ(ghwRoute.rcvLocaltoDelArpCnt, 1u) << "an earlier local neighbour is replaced";
}

TEST_F(RouteMsg, Ipv6ClonedRouteIsIgnoredOnlyWithTheClonedFlag) {
    const std::tuple<const char*, uint32_t, const char*, uint32_t> cases[] = {
        {"destination equals next hop, cloned", 0x200, "2001:db8::5", 0},
        {"destination equals next hop, not cloned", 0x100, "2001:db8::5", 1},
        {"cloned flag, other next hop", 0x200, "2001:db8::6", 1},
    };
    for (const auto& [what, flags, gateway, counted] : cases) {
        SCOPED_TRACE(what);
        reinit(HwTestSizes{});
        deliver(nlRoute({.family = 10, .prefixLen = 128, .protocol = 11, .flags = flags, .dst = "2001:db8::5",
                         .gateway = gateway, .oif = 5}));
        EXPECT_EQ(ghwRoute.rcvNoDynamicRoute6AddCnt, counted);
    }
}

// ---- labelled routes ---------------------------------------------------------

namespace {
NlMplsFields vpn(uint16_t type, uint8_t family, uint8_t op, uint8_t flags = 0, uint8_t publicFamily = 0,
                 uint8_t publicStatus = 0) {
    const bool v6 = family == 10, pub6 = publicFamily == 10;
    return {.type = type, .vrfId = 12, .ifUnit = 5, .dst = v6 ? "2001:db8:5::" : "172.16.1.0",
            .nextHop = v6 ? "2001:db8::1" : "10.9.9.1", .family = family, .weight = 4, .prefixLen = 24,
            .flags = flags, .labelNum = 5, .publicFamily = publicFamily, .op = op,
            .labels = {0x12345000, 0x6789a100, 0}, .pubDst = pub6 ? "2001:db8:9::" : "10.9.9.0",
            .pubNextHop = pub6 ? "fe80::9" : "10.8.8.8", .pubPrefixLen = 24, .publicStatus = publicStatus};
}
}  // namespace

TEST_F(RouteMsg, LabelledRouteDecodesItsFieldsAndClampsTheLabelCount) {
    deliver(nlMpls(vpn(NL_VPN_ROUTE, 2, 24)));
    EXPECT_TRUE(logged("mplsLabelNum 5 above 3, clamped."));
    EXPECT_TRUE(logged("=> vpn msg: ifUnit=5,dest=0xac100100,mask=0xffffff00,gateway=0xa090901,proto=0,weight=4,"
                       "vrfId=12,mplsLabelNum=3,publicStatus=0,flags=0."));
}

TEST_F(RouteMsg, LabelledRouteOperationFamilyAndFlagsPickTheActions) {
    using G = HwRouteGlobal;
    using Counters = std::vector<uint32_t G::*>;
    const Counters all = {&G::rcvMplsV4VpnAddCnt,   &G::rcvMplsV4RouteDelCnt, &G::rcvMplsV4VpnDelCnt,
                          &G::rcvMplsV6VpnAddCnt,   &G::rcvMplsV6RouteDelCnt, &G::rcvMplsV6VpnDelCnt,
                          &G::rcvMplsV4PubV4AddCnt, &G::rcvMplsV4PubV6AddCnt, &G::rcvMplsV6PubV6AddCnt,
                          &G::rcvMplsV6PubV4AddCnt};
    const std::tuple<const char*, NlMplsFields, Counters> cases[] = {
        {"v4 add through 132", vpn(132, 2, 24), {&G::rcvMplsV4VpnAddCnt}},
        {"v4 delete as plain route", vpn(131, 2, 25, 0x01), {&G::rcvMplsV4RouteDelCnt}},
        {"v4 delete of the labels", vpn(132, 2, 25, 0x04), {&G::rcvMplsV4VpnDelCnt}},
        {"v6 add", vpn(131, 10, 24), {&G::rcvMplsV6VpnAddCnt}},
        {"v6 delete of the labels", vpn(132, 10, 25), {&G::rcvMplsV6VpnDelCnt}},
        {"v4 over public v6", vpn(131, 2, 24, 0, 10, 1), {&G::rcvMplsV4VpnAddCnt, &G::rcvMplsV4PubV6AddCnt}},
        {"v6 over public v4", vpn(131, 10, 24, 0, 2, 1), {&G::rcvMplsV6VpnAddCnt, &G::rcvMplsV6PubV4AddCnt}},
        {"public family without public status", vpn(131, 2, 24, 0, 2, 0), {&G::rcvMplsV4VpnAddCnt}},
        {"public route on a delete", vpn(132, 2, 25, 0x04, 2, 1), {&G::rcvMplsV4VpnDelCnt}},
    };
    for (const auto& [what, req, raised] : cases) {
        SCOPED_TRACE(what);
        reinit(HwTestSizes{});
        deliver(nlMpls(req));
        for (auto counter : all)
            EXPECT_EQ(ghwRoute.*counter, std::count(raised.begin(), raised.end(), counter) ? 1u : 0u);
    }
}

TEST(IntakeText, PrefixLengthToMaskBytes) {
    const std::vector<uint8_t> untouched = {0xde, 0xad, 0xbe, 0xef};
    const std::pair<int, std::vector<uint8_t>> cases[] = {
        {0, {0, 0, 0, 0}},           {1, {0x80, 0, 0, 0}},           {12, {0xff, 0xf0, 0, 0}},
        {31, {0xff, 0xff, 0xff, 0xfe}}, {32, {0xff, 0xff, 0xff, 0xff}}, {33, untouched},
        {-1, untouched},
    };
    for (const auto& [len, mask] : cases) {
        SCOPED_TRACE(len);
        std::vector<uint8_t> buf = untouched;
        in_len2mask(buf.data(), len);
        EXPECT_EQ(buf, mask);
    }
}
