// Scenario tests: real netlink datagrams into the intake, the worker's flush,
// and the exact bytes the simulated hardware received.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hwroute/bewriter.h"
#include "hwroute/frame.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/route.h"
#include "hwtest.h"
#include "nlbuild.h"

// Unit 3: an Ethernet port; unit 9: a point-to-point link.
constexpr uint32_t kEth = 3;
constexpr uint32_t kPtp = 9;

class Scenario : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {
            "3": {"endType": 6, "mac": "02:00:00:00:00:03", "vlan": 0, "operState": 1},
            "9": {"endType": 22, "mac": "02:00:00:00:00:09", "vlan": 0, "operState": 1}},
            "protocolPreference": {"4": 10, "11": 20}})");
    }

    // The kernel learns a neighbour on the Ethernet port.
    void neighbour(const char* addr, const char* mac, uint16_t type = NL_NEWNEIGH) {
        nlDeliver(nlNeigh({.type = type, .family = 2, .ifindex = int32_t(kEth), .dst = addr, .mac = mac, .port = 7u}));
    }
    void route(uint16_t type, const char* dst, uint8_t len, const char* gw, uint32_t oif, uint8_t proto = 4,
               uint32_t weight = 1) {
        nlDeliver(nlRoute({.type = type, .family = 2, .prefixLen = len, .protocol = proto, .dst = dst, .gateway = gw,
                           .oif = oif, .weight = weight}));
    }
    // The work of one worker pass after its input: the flush, the card-up
    // replay when asked for, and the probe checks (without the one-second wait).
    void pass() {
        hwRouteUpdate();
        if (ghwRoute.slotUpFlag || ghwRoute.cardUpFlag || ghwRoute.resendRouteFlag) {
            hwRouteCardupProcess();
            ghwRoute.slotUpFlag = ghwRoute.cardUpFlag = ghwRoute.resendRouteFlag = 0;
        }
        hwRoutePendCheck();
        hwRoute6PendCheck();
    }
    // The next `count` hardware calls are refused.
    void refuseNext(int count) {
        char rules[96];
        std::snprintf(rules, sizeof rules, R"({"hardware": {"refuse": [{"fromCall": 1, "count": %d}]}})", count);
        platformConfig(rules);
    }
    // A neighbour table's counts against its records: records, those in
    // hardware (written, or a delete refused), those whose write was refused.
    template <class Node>
    static void expectNeighbourCounts(HwListLink* table, uint32_t sw, uint32_t ok, uint32_t err,
                                      const std::string& what) {
        uint32_t records = 0, in = 0, refused = 0;
        for (uint32_t i = 0; i < HW_NHOP_BUCKETS; ++i)
            for (Node* n : hwListOf<&Node::link>(&table[i])) {
                ++records;
                in += n->status == hwStatusOk || n->status == hwStatusDelAbnormal;
                refused += n->status == hwStatusAddAbnormal;
            }
        EXPECT_EQ(sw, records) << what;
        EXPECT_EQ(ok, in) << what;
        EXPECT_EQ(err, refused) << what;
    }
    std::vector<uint8_t> lastCall() const { return hwCalls().empty() ? std::vector<uint8_t>{} : hwCalls().back().data; }
    std::size_t calls() const { return hwCalls().size(); }
};
