// IPv4 neighbours end to end: neighbour datagrams move host entries and every
// route that forwards through them.
#include <gtest/gtest.h>

#include "hwroute/abnormal.h"
#include "hwroute/flags.h"
#include "hwroute/records.h"
#include "hwroute/tables.h"
#include "scenario.h"

namespace {

class NeighbourScenario : public Scenario {
protected:
    void routeVia(const char* dest, const char* gw) { route(NL_NEWROUTE, dest, 24, gw, kEth); }
    // op byte and first-path MAC of recorded call i, and its destination.
    static uint8_t op(const SimHwCall& c) { return c.data.at(86); }
    static uint8_t macLast(const SimHwCall& c) { return c.data.at(77); }
    static uint32_t dest(const SimHwCall& c) { return beRead32(&c.data.at(8)); }
    static uint32_t mask(const SimHwCall& c) { return beRead32(&c.data.at(12)); }
    HwArpNode* arp(const char* addr) { return hwArpFind(0, ip4(addr)); }
};

TEST_F(NeighbourScenario, MacChangeWithdrawsAndRewritesTheHostEntryAndItsRoutes) {
    neighbour("10.9.0.2", "02:00:00:00:00:02");
    routeVia("198.51.100.0", "10.9.0.2");
    routeVia("203.0.113.0", "10.9.0.2");
    pass();
    const std::size_t before = calls();

    neighbour("10.9.0.2", "02:00:00:00:00:22");
    EXPECT_EQ(ghwRoute.arpAddChangeCnt, 1u);
    pass();
    // Route deletes, the old host entry out, the new one in, then the routes again.
    std::vector<std::pair<uint32_t, uint8_t>> seen;
    for (std::size_t i = before; i < calls(); ++i) seen.emplace_back(dest(hwCalls()[i]), op(hwCalls()[i]));
    const uint32_t host = ip4("10.9.0.2");
    ASSERT_GE(seen.size(), 5u);
    EXPECT_EQ(seen[0].second, 2);
    EXPECT_EQ(seen[1].second, 2);
    EXPECT_EQ(seen[2], std::make_pair(host, uint8_t(2)));
    EXPECT_EQ(seen[3], std::make_pair(host, uint8_t(1)));
    EXPECT_EQ(macLast(hwCalls()[before + 3]), 0x22);
    EXPECT_EQ(macLast(hwCalls().back()), 0x22) << "routes carry the new MAC";
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 2u);
    EXPECT_EQ(ghwRoute.hwOkArpCnt, 1u);
}

TEST_F(NeighbourScenario, DeletedNeighbourIsHeldUntilTheFlushTakesItsRouteOut) {
    const uint32_t arpFree = hwPoolFreeCount(&ghwRoute.arpPool);
    neighbour("10.9.0.2", "02:00:00:00:00:02");
    routeVia("198.51.100.0", "10.9.0.2");
    pass();
    neighbour("10.9.0.2", "02:00:00:00:00:02", NL_DELNEIGH);
    EXPECT_EQ(op(hwCalls().back()), 2) << "host entry removed at once";
    ASSERT_NE(arp("10.9.0.2"), nullptr);
    EXPECT_EQ(arp("10.9.0.2")->flag & ARP_FLAG_HELD, ARP_FLAG_HELD);
    EXPECT_EQ(arp("10.9.0.2")->refCnt, 1u);
    pass();
    EXPECT_EQ(dest(hwCalls().back()), ip4("198.51.100.0"));
    EXPECT_EQ(op(hwCalls().back()), 2);
    EXPECT_EQ(arp("10.9.0.2"), nullptr);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.arpPool), arpFree);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 1u) << "the route waits for the neighbour again";
}

// Regression: a refused host entry was never written again, and the routes
// through the neighbour waited for good.
TEST_F(NeighbourScenario, RefusedHostEntryIsRetriedAndThenReleasesItsRoutes) {
    platformConfig(R"({"interfaces": {"3": {"endType": 6, "mac": "02:00:00:00:00:03", "vlan": 0, "operState": 1}},
                       "hardware": {"refuse": [{"objectId": 338, "fromCall": 1, "count": 2}]}})");
    routeVia("198.51.100.0", "10.9.0.2");
    neighbour("10.9.0.2", "02:00:00:00:00:02");
    EXPECT_EQ(arp("10.9.0.2")->status, hwStatusAddAbnormal);
    EXPECT_EQ(ghwRoute.hwErrArpCnt, 1u);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 1u);
    neighbour("10.9.0.2", "02:00:00:00:00:02");
    EXPECT_TRUE(logged("no change,do nothing more."));
    pass();  // the first retry is refused too
    EXPECT_EQ(calls(), 2u);
    EXPECT_EQ(ghwRoute.hwErrArpCnt, 1u) << "one refused record, counted once";
    pass();  // backing off
    EXPECT_EQ(calls(), 2u);
    pass();  // written, the route queued
    EXPECT_EQ(arp("10.9.0.2")->status, hwStatusOk);
    EXPECT_EQ(ghwRoute.hwErrArpCnt, 0u);
    EXPECT_EQ(ghwRoute.hwOkArpCnt, 1u);
    EXPECT_EQ(ghwRoute.pendRouteCnt, 0u);
    pass();
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);
    EXPECT_EQ(ghwRoute.abnQueuedCnt, 1u);
    EXPECT_EQ(ghwRoute.abnRetriedCnt, 2u);
    EXPECT_EQ(ghwRoute.abnRecoveredCnt, 1u);
    EXPECT_EQ(ghwRoute.abnPendingCnt, 0u);
}

TEST_F(NeighbourScenario, ConnectedRouteMakesALocalNeighbourThatTheKernelCannotOverwrite) {
    route(NL_NEWROUTE, "10.9.0.1", 32, nullptr, kEth, 2);
    HwArpNode* local = arp("10.9.0.1");
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->flag & ARP_FLAG_LOCAL, ARP_FLAG_LOCAL);
    EXPECT_EQ(local->mac[5], 0x03) << "the interface's own MAC";
    neighbour("10.9.0.1", "02:00:00:00:00:77");
    EXPECT_EQ(ghwRoute.arpAddLocalErrCnt, 1u);
    EXPECT_EQ(arp("10.9.0.1")->mac[5], 0x03);

    route(NL_DELROUTE, "10.9.0.1", 32, nullptr, kEth, 2);
    pass();
    EXPECT_EQ(arp("10.9.0.1"), nullptr) << "the local neighbour leaves with its route";
}

TEST_F(NeighbourScenario, WrongLengthAddressIsIgnoredNotReadPastItsEnd) {
    NlMessage m = nlNeigh({.family = 2, .ifindex = int32_t(kEth), .mac = "02:00:00:00:00:02"});
    m.attr(NL_NDA_DST, {10, 9, 0});
    nlDeliver(m);
    EXPECT_EQ(ghwRoute.arpAddParamErrNexthopNullCnt, 1u);
    EXPECT_EQ(ghwRoute.swArpCnt, 0u);
}

}  // namespace
