// Fixture of the hardware tests: routes and neighbours built through the
// table functions and pools, interfaces configured on the simulated platform,
// and helpers to read route entries back from the hardware calls.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "builders.h"
#include "hwroute/bewriter.h"
#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwroute/tables.h"
#include "hwtest.h"

// Units 5 and 6 are Ethernet, 6 a VLAN sub-interface.
constexpr uint32_t kEth = 5, kSubIf = 6;
constexpr uint32_t kNewPath = NH_OP_ADD | NH_RESOLVED;  // the resolved new path of a route add
constexpr uint32_t kPresent = NH_HW_OK | NH_RESOLVED;   // a path present in hardware

// A path via 192.168.1.<octet>; `marks` are the standby and backup bits expected after.
struct P { int octet; uint32_t flag; uint8_t weight = 1; bool neighbour = true; uint32_t marks = 0; };

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
        return addDest(3, ip, __builtin_popcount(ip4(mask)));
    }

    HwRouteNexthop* path(HwRouteDest* d, const char* via, uint32_t flag, uint8_t weight = 1, uint8_t proto = 9) {
        HwRouteNexthop* n = addNexthop(d, via, proto, weight);
        n->ifUnit = kEth;
        n->ifState = 1;
        n->flag = flag;
        return n;
    }

    // A neighbour in hardware on port 7; its MAC is 00:11:22:33:44:<last octet>.
    HwArpNode* arp(const char* ip) { return addArp(3, ip, kEth, 7, uint8_t(ip4(ip) & 0xff), hwStatusOk); }

    // A path through a neighbour of its own.
    HwRouteNexthop* linked(HwRouteDest* d, const char* via, uint32_t flag, uint8_t weight = 1) {
        arp(via);
        return path(d, via, flag, weight);
    }

    // The paths of a table row, created in row order (the last comes first in list order).
    std::vector<HwRouteNexthop*> paths(HwRouteDest* d, const std::vector<P>& ps) {
        std::vector<HwRouteNexthop*> out;
        for (const P& p : ps) {
            const std::string via = "192.168.1." + std::to_string(p.octet);
            out.push_back(p.neighbour ? linked(d, via.c_str(), p.flag, p.weight) : path(d, via.c_str(), p.flag));
        }
        return out;
    }

    // The entry hwRouteInsertDataToBuf builds for `d` (empty: nothing to send).
    std::vector<uint8_t> build(HwRouteDest* d) {
        static uint8_t buf[HW_ROUTE_ENTRY_MAX];
        std::memset(buf, 0xee, sizeof(buf));
        uint32_t len = 12345;
        EXPECT_EQ(hwRouteInsertDataToBuf(buf, &len, d), 0);
        EXPECT_TRUE(len != 0 || buf[0] == 0xee) << "an empty build wrote to the buffer";
        return std::vector<uint8_t>(buf, buf + len);
    }
};

// (last octet of the next hop, op) of each next-hop record of an IPv4 entry.
using Ops = std::vector<std::pair<int, int>>;
inline Ops ops(const std::vector<uint8_t>& e) {
    Ops out;
    for (const HwdRouteEntry& entry : decodedRoute4(e))
        for (const HwdPath& p : entry.paths) out.push_back({p.nexthopIp[3], p.op});
    return out;
}
