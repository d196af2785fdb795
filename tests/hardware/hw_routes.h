// Fixture of the hardware tests: routes and neighbours built through the
// table functions and pools, interfaces configured on the simulated platform,
// and helpers to read route entries back from the hardware calls.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "hwroute/bewriter.h"
#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwroute/tables.h"
#include "hwtest.h"

// Units 5 and 6 are Ethernet, 6 a VLAN sub-interface.
constexpr uint32_t kEth = 5, kSubIf = 6;
constexpr uint32_t kNewPath = NH_OP_ADD | NH_RESOLVED;  // the resolved new path of a route add
constexpr uint32_t kPresent = NH_HW_OK | NH_RESOLVED;   // a path present in hardware

class HwRouteTest : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {
            "5": {"endType": 6, "vlan": 10, "mac": "00:aa:00:00:00:05"},
            "6": {"endType": 6, "vlan": 20, "mac": "00:aa:00:00:00:06"}}})");
    }

    // A fresh state and call record for the next row of a table.
    void nextRow(const HwTestSizes& sizes = {}) {
        reinit(sizes);
        simClearHwCalls();
    }

    // Destinations and neighbours are all in VRF 3.
    HwRouteDest* dest(const char* ip, const char* mask = "255.255.0.0") {
        HwRouteDest* d = hwRouteDestNodeAlloc();
        d->vrfId = 3;
        d->destIp = ip4(ip);
        d->mask = ip4(mask);
        hwListInit(&d->tunList);
        hwListInit(&d->nhopList);
        hwRouteDestTableAdd(d);
        return d;
    }

    HwRouteNexthop* path(HwRouteDest* d, const char* via, uint32_t flag, uint8_t weight = 1, uint8_t proto = 9) {
        HwRouteNexthop* n = hwRouteNexthopNodeAlloc();
        n->nVrfId = d->vrfId;
        n->ifUnit = kEth;
        n->nextHop = ip4(via);
        n->protoId = proto;
        n->weight = weight;
        n->ifState = 1;
        n->flag = flag;
        hwRouteNexthopTableAdd(d, n);
        n->pDestEntry = d;
        return n;
    }

    // A neighbour in hardware on port 7; its MAC is 00:11:22:33:44:<last octet>.
    HwArpNode* arp(const char* ip) {
        HwArpNode* a = hwArpNodeAlloc();
        a->vpnVrfid = 3;
        a->nextHop = ip4(ip);
        a->ifUnit = kEth;
        a->outPort = 7;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, uint8_t(a->nextHop & 0xff)};
        std::memcpy(a->mac, mac, 6);
        a->status = hwStatusOk;
        hwListInit(&a->tunList);
        hwArpTableAdd(a);
        return a;
    }

    // A path through a neighbour of its own.
    HwRouteNexthop* linked(HwRouteDest* d, const char* via, uint32_t flag, uint8_t weight = 1) {
        arp(via);
        return path(d, via, flag, weight);
    }

    // The entry hwRouteInsertDataToBuf builds for `d` (empty: nothing to send).
    std::vector<uint8_t> build(HwRouteDest* d) {
        static uint8_t buf[HW_ROUTE_ENTRY_MAX];
        std::memset(buf, 0xee, sizeof(buf));
        uint32_t len = 12345;
        EXPECT_EQ(hwRouteInsertDataToBuf(buf, &len, d), 0);
        EXPECT_LE(len, HW_ROUTE_ENTRY_MAX);
        EXPECT_TRUE(len != 0 || buf[0] == 0xee) << "an empty build wrote to the buffer";
        return std::vector<uint8_t>(buf, buf + len);
    }

    std::vector<SimHwCall> callsOf(uint32_t objectId) const {
        std::vector<SimHwCall> out;
        for (const auto& c : hwCalls())
            if (c.objectId == objectId) out.push_back(c);
        return out;
    }
};

inline void expectBytes(const std::vector<uint8_t>& actual, const std::string& expectedHex) {
    const std::vector<uint8_t> expected = hexBytes(expectedHex);
    EXPECT_EQ(actual, expected) << "actual:\n" << hexDump(actual) << "\nexpected:\n" << hexDump(expected);
}

inline uint32_t hdrFlags(const std::vector<uint8_t>& e) { return beRead32(e.data()); }
inline int hdrNextHopNum(const std::vector<uint8_t>& e) { return e.at(16); }

// (last octet of the next hop, op) of each next-hop record of an IPv4 entry.
using Ops = std::vector<std::pair<int, int>>;
inline Ops ops(const std::vector<uint8_t>& e) {
    Ops out;
    for (std::size_t at = 28; at + 64 <= e.size(); at += 64 + 8 * e[at + 59]) out.push_back({e[at + 7], e[at + 58]});
    return out;
}
