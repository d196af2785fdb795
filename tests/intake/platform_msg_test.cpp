// The platform's messages: card, slot and resend events, ILM, layer-2 VPN,
// tunnel and the flush of labelled entries.
#include "intake_test.h"

using PlatformMsg = IntakeTest;

TEST_F(PlatformMsg, CardEventsSetTheirFlagOnlyWhenThePlatformAgrees) {
    struct Case {
        const char* what;
        const char* config;  // on top of the defaults
        NlCardFields msg;
        uint32_t HwRouteGlobal::*flag;  // null: no flag
    };
    const Case cases[] = {
        {"card up of this system", "{}", {.type = NL_CARD_UP, .slotId = 2, .cardId = 1}, &HwRouteGlobal::cardUpFlag},
        {"card up of another system", "{}", {.type = NL_CARD_UP, .sysId = 1}, nullptr},
        {"card up, system id configured", R"({"selfSysIndex": 5})", {.type = NL_CARD_UP, .sysId = 5},
         &HwRouteGlobal::cardUpFlag},
        {"card up, scalar 52 answers 2", R"({"cardQueries": {"scalar": {"52": {"result": 0, "value": 2}}}})",
         {.type = NL_CARD_UP}, nullptr},
        {"card up, scalar 52 answers 3", R"({"cardQueries": {"scalar": {"52": {"result": 0, "value": 3}}}})",
         {.type = NL_CARD_UP}, &HwRouteGlobal::cardUpFlag},
        {"card up, scalar 52 fails", R"({"cardQueries": {"scalar": {"52": {"result": -1, "value": 1}}}})",
         {.type = NL_CARD_UP}, nullptr},
        {"card up, ready query fails", R"({"cardQueries": {"card": {"0x2EE002B": 1}}})", {.type = NL_CARD_UP},
         nullptr},
        {"card up, absence query succeeds", R"({"cardQueries": {"card": {"0x2EE002A": 0}}})", {.type = NL_CARD_UP},
         nullptr},
        {"slot up of this system", "{}", {.type = NL_SLOT_UP, .slotId = 3}, &HwRouteGlobal::slotUpFlag},
        {"slot up of another system", "{}", {.type = NL_SLOT_UP, .sysId = 2}, nullptr},
        {"slot up, ready query fails", R"({"cardQueries": {"slot": {"0x1F40031": 1}}})", {.type = NL_SLOT_UP},
         nullptr},
        {"slot up, absence query succeeds", R"({"cardQueries": {"slot": {"0x1F4002A": 0}}})", {.type = NL_SLOT_UP},
         nullptr},
        {"slot up, scalar 53 fails", R"({"cardQueries": {"scalar": {"53": 1}}})", {.type = NL_SLOT_UP}, nullptr},
        {"resend 135", "{}", {.type = NL_RESEND}, &HwRouteGlobal::resendRouteFlag},
        {"resend 136", "{}", {.type = NL_RESEND2}, &HwRouteGlobal::resendRouteFlag},
        {"resend asks no card query", R"({"cardQueries": {"scalar": {"52": {"result": 0, "value": 2}}}})",
         {.type = NL_RESEND}, &HwRouteGlobal::resendRouteFlag},
        {"resend of another system", "{}", {.type = NL_RESEND, .sysId = 9}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetPlatform();
        reinit(HwTestSizes{});
        platformConfig(c.config);
        deliver(nlCard(c.msg));
        for (auto f : {&HwRouteGlobal::cardUpFlag, &HwRouteGlobal::slotUpFlag, &HwRouteGlobal::resendRouteFlag})
            EXPECT_EQ(ghwRoute.*f, f == c.flag ? 1u : 0u);
    }
}

TEST_F(PlatformMsg, CardEventLinesCarryTheBody) {
    deliver(NlDatagram{nlCard({.type = NL_CARD_UP, .sysId = 1, .slotId = 2, .cardId = 3, .cardType = 4}),
                       nlCard({.type = NL_SLOT_UP, .sysId = 1, .slotId = 2, .cardType = 4}),
                       nlCard({.type = NL_RESEND2, .sysId = 1, .slotId = 2, .cardType = 4})});
    EXPECT_EQ(lineWith("card up"), "hwRtnotifyRecv card up !sysId=1,slotId=2,cardId=3,type=4");
    EXPECT_EQ(lineWith("slot up"), "hwRtnotifyRecv slot up !sysId=1,slotId=2,type=4");
    EXPECT_EQ(lineWith("RESENDROUTE"), "hwRtnotifyRecv RESENDROUTE !sysId=1,slotId=2,type=4");
}

TEST_F(PlatformMsg, IlmMessageFillsTheRequest) {
    deliver(nlMpls({.type = NL_ILM_ADD, .vrfId = 44, .inIfUnit = 6, .ifUnit = 5, .nextHop = "10.9.9.1", .family = 2,
                    .flags = 0x21, .labelNum = 1, .swapLabel = 0x64000, .labels = {0x3e8100, 0, 0}}));
    EXPECT_TRUE(logged("hwRtnotifyRecv ilm msg."));
    EXPECT_EQ(lineWith("=>ilm:"), "[hwRtnotifyRecv]=>ilm: gateway=0xa090901,ifUnit=5,inIfUnit=6,vrfId=0,"
                                  "ilmFlags=0x21,mplsLabel=1000,swapLabel=100.");
}

TEST_F(PlatformMsg, IlmNextHopIsIpv4Only) {
    deliver(nlMpls({.type = NL_ILM_DEL, .ifUnit = 5, .nextHop = "2001:db8::1", .family = 10}));
    EXPECT_TRUE(logged("=>ilm: gateway=0,ifUnit=5"));
}

TEST_F(PlatformMsg, IlmLabelCountAboveThreeIsClamped) {
    deliver(nlMpls({.type = NL_ILM_ADD, .ifUnit = 5, .nextHop = "10.9.9.1", .family = 2, .labelNum = 9}));
    EXPECT_TRUE(logged("mplsLabelNum 9 above 3, clamped."));
}

TEST_F(PlatformMsg, L2vpnMessageLogsTheSeventeenFieldsInBodyOrder) {
    deliver(nlL2vpn({.type = NL_L2VPN_DEL, .vfiId = 1, .vpnType = 2, .family = 2, .flags = 0x30, .cePort = 4,
                     .ceVid = 5, .ceEgressVid = 6, .ceEgressPri = 7, .peEgressPri = 8, .peEgressVid = 9,
                     .txOuterLabel = 10, .txInnerLabel = 11, .rxInnerLabel = 12, .txOuterExp = 13, .txOuterTtl = 14,
                     .txInnerExp = 15, .txInnerTtl = 16, .nextHop = "10.9.9.1"}));
    EXPECT_TRUE(logged("[hwRtnotifyRecv]=>L2vpn msg."));
    EXPECT_EQ(lineWith("=>l2vpn:"),
              "[hwRtnotifyRecv]=>l2vpn: nextHop=10.9.9.1,vfiId=1,vpnType=2,family=2,flags=0x30,cePort=4,ceVid=5,"
              "ceEgressVid=6,ceEgressPri=7,peEgressPri=8,peEgressVid=9,txOuterLabel=10,txInnerLabel=11,"
              "rxInnerLabel=12,txOuterExp=13,txOuterTtl=14,txInnerExp=15,txInnerTtl=16.");
}

TEST_F(PlatformMsg, L2vpnNextHopTextFollowsTheFamily) {
    deliver(nlL2vpn({.type = NL_L2VPN_DEL, .family = 10, .nextHop = "2001:db8::7"}));
    EXPECT_TRUE(logged("=>l2vpn: nextHop=2001:db8::7,"));
    logs.clear();
    deliver(nlL2vpn({.type = NL_L2VPN_DEL, .family = 7, .nextHop = "10.9.9.1"}));
    EXPECT_TRUE(logged("=>l2vpn: nextHop=0.0.0.0,")) << "another family carries no next hop";
}

TEST_F(PlatformMsg, TunnelMessagesOnlyLog) {
    deliver(NlDatagram{NlMessage(NL_TUNNEL, std::vector<uint8_t>(40, 1)), NlMessage(NL_TUNNEL2)});
    EXPECT_EQ(logCount("[hwRtnotifyRecv]=>tunnel msg."), 2);
    EXPECT_TRUE(hwCalls().empty());
}

TEST_F(PlatformMsg, VpnFlushWithNothingLabelledChangesNothing) {
    deliver(nlRoute({.prefixLen = 24, .protocol = 11, .dst = "10.1.0.0", .gateway = "10.9.9.1", .oif = 5}));
    logs.clear();
    deliver(NlMessage(NL_VPN_FLUSH));
    EXPECT_EQ(logs.size(), 2u) << "the walk's lines only";
    EXPECT_NE(findDest(0, "10.1.0.0", 0xffffff00), nullptr);
}
