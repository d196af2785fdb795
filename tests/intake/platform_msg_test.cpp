// The platform's messages: card, slot and resend events, ILM and layer-2 VPN.
#include <tuple>

#include "intake_test.h"

using PlatformMsg = IntakeTest;

TEST_F(PlatformMsg, CardEventsSetTheirFlagOnlyWhenThePlatformAgrees) {
    using G = HwRouteGlobal;
    // What, configuration on top of the defaults, message, flag raised (null: none).
    const std::tuple<const char*, const char*, NlCardFields, uint32_t G::*> cases[] = {
        {"card up of this system", "{}", {.type = NL_CARD_UP, .slotId = 2, .cardId = 1}, &G::cardUpFlag},
        {"card up of another system", "{}", {.type = NL_CARD_UP, .sysId = 1}, nullptr},
        {"card up, system id configured", R"({"selfSysIndex": 5})", {.type = NL_CARD_UP, .sysId = 5}, &G::cardUpFlag},
        {"card up, scalar 52 answers 2", R"({"cardQueries": {"scalar": {"52": {"result": 0, "value": 2}}}})",
         {.type = NL_CARD_UP}, nullptr},
        {"card up, scalar 52 answers 3", R"({"cardQueries": {"scalar": {"52": {"result": 0, "value": 3}}}})",
         {.type = NL_CARD_UP}, &G::cardUpFlag},
        {"slot up of this system", "{}", {.type = NL_SLOT_UP, .slotId = 3}, &G::slotUpFlag},
        {"slot up of another system", "{}", {.type = NL_SLOT_UP, .sysId = 2}, nullptr},
        {"resend asks no card query", R"({"cardQueries": {"scalar": {"52": {"result": 0, "value": 2}}}})",
         {.type = NL_RESEND2}, &G::resendRouteFlag},
        {"resend of another system", "{}", {.type = NL_RESEND, .sysId = 9}, nullptr},
    };
    for (const auto& [what, config, msg, flag] : cases) {
        SCOPED_TRACE(what);
        SetUp();  // fresh state and platform defaults
        platformConfig(config);
        deliver(nlCard(msg));
        for (auto f : {&G::cardUpFlag, &G::slotUpFlag, &G::resendRouteFlag})
            EXPECT_EQ(ghwRoute.*f, f == flag ? 1u : 0u);
    }
}

TEST_F(PlatformMsg, IlmMessageFillsTheRequest) {
    deliver(nlMpls({.type = NL_ILM_ADD, .vrfId = 44, .inIfUnit = 6, .ifUnit = 5, .nextHop = "10.9.9.1", .family = 2,
                    .flags = 0x21, .labelNum = 9, .swapLabel = 0x64000, .labels = {0x3e8100, 0, 0}}));
    EXPECT_TRUE(logged("=>ilm: gateway=0xa090901,ifUnit=5,inIfUnit=6,vrfId=0,ilmFlags=0x21,mplsLabel=1000,"
                       "swapLabel=100."));
    EXPECT_TRUE(logged("mplsLabelNum 9 above 3, clamped."));
    deliver(nlMpls({.type = NL_ILM_DEL, .ifUnit = 5, .nextHop = "2001:db8::1", .family = 10}));
    EXPECT_TRUE(logged("=>ilm: gateway=0,ifUnit=5")) << "the next hop is IPv4 only";
}

TEST_F(PlatformMsg, L2vpnMessageDecodesTheBodyInOrder) {
    deliver(nlL2vpn({.type = NL_L2VPN_DEL, .vfiId = 1, .vpnType = 2, .family = 2, .cePort = 4,
                     .rxInnerLabel = 12, .txInnerTtl = 16, .nextHop = "10.9.9.1"}));
    EXPECT_TRUE(logged("=>l2vpn: nextHop=10.9.9.1,vfiId=1,vpnType=2,family=2,flags=0x0,cePort=4,"));
    EXPECT_TRUE(logged("rxInnerLabel=12,txOuterExp=0,txOuterTtl=0,txInnerExp=0,txInnerTtl=16."));
    deliver(nlL2vpn({.type = NL_L2VPN_DEL, .family = 7, .nextHop = "10.9.9.1"}));
    EXPECT_TRUE(logged("=>l2vpn: nextHop=0.0.0.0,")) << "another family carries no next hop";
}
