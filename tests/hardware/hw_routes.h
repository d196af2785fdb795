// Fixture of the hardware tests: routes and neighbours built through the
// table functions and pools, interfaces configured on the simulated platform,
// and helpers to read route entries back from the hardware calls.
#pragma once

#include <arpa/inet.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "hwroute/bewriter.h"
#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwroute/tables.h"
#include "hwtest.h"

// Interfaces of every test: 5 and 6 are Ethernet (6 a VLAN sub-interface),
// 9 is point to point.
constexpr uint32_t kEth = 5;
constexpr uint32_t kSubIf = 6;
constexpr uint32_t kPpp = 9;
constexpr const char* kEthMac = "00aa00000005";
constexpr const char* kPppMac = "00aa00000009";

// The resolved new path of a route add.
constexpr uint32_t kNewPath = NH_OP_ADD | NH_RESOLVED;
// A path present in hardware.
constexpr uint32_t kPresent = NH_HW_OK | NH_RESOLVED;

class HwRouteTest : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {
            "5": {"endType": 6, "vlan": 10, "mac": "00:aa:00:00:00:05"},
            "6": {"endType": 6, "vlan": 20, "mac": "00:aa:00:00:00:06"},
            "9": {"endType": 22, "vlan": 0, "mac": "00:aa:00:00:00:09"}}})");
    }

    HwRouteDest* dest(uint32_t vrf, const char* ip, const char* mask) {
        HwRouteDest* d = hwRouteDestNodeAlloc();
        EXPECT_NE(d, nullptr);
        d->vrfId = vrf;
        d->destIp = ip4(ip);
        d->mask = ip4(mask);
        hwListInit(&d->tunList);
        hwListInit(&d->nhopList);
        hwRouteDestTableAdd(d);
        return d;
    }

    HwRouteNexthop* path(HwRouteDest* d, const char* via, uint32_t flag, uint8_t proto = 9, uint8_t weight = 1,
                         uint32_t ifUnit = kEth) {
        HwRouteNexthop* n = hwRouteNexthopNodeAlloc();
        EXPECT_NE(n, nullptr);
        n->nVrfId = d->vrfId;
        n->ifUnit = ifUnit;
        n->nextHop = ip4(via);
        n->protoId = proto;
        n->weight = weight;
        n->ifState = 1;
        n->flag = flag;
        hwRouteNexthopTableAdd(d, n);
        n->pDestEntry = d;
        return n;
    }

    // A neighbour in hardware; its MAC is 00:11:22:33:44:<last octet>.
    HwArpNode* arp(uint32_t vrf, const char* ip, uint32_t ifUnit = kEth, uint32_t subIfUnit = 0,
                   uint32_t outPort = 7) {
        HwArpNode* a = hwArpNodeAlloc();
        EXPECT_NE(a, nullptr);
        a->vpnVrfid = vrf;
        a->nextHop = ip4(ip);
        a->ifUnit = ifUnit;
        a->subIfUnit = subIfUnit;
        a->outPort = outPort;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, uint8_t(a->nextHop & 0xff)};
        std::memcpy(a->mac, mac, 6);
        a->status = hwStatusOk;
        hwListInit(&a->tunList);
        hwArpTableAdd(a);
        return a;
    }

    // The entry hwRouteInsertDataToBuf builds for `d` (empty: nothing to send).
    std::vector<uint8_t> build(HwRouteDest* d) {
        static uint8_t buf[HW_ROUTE_ENTRY_MAX];
        std::memset(buf, 0xee, sizeof(buf));
        uint32_t len = 12345;
        EXPECT_EQ(hwRouteInsertDataToBuf(buf, &len, d), 0);
        EXPECT_LE(len, HW_ROUTE_ENTRY_MAX);
        if (len == 0) {
            EXPECT_EQ(buf[0], 0xee) << "an empty build wrote to the buffer";
        }
        return std::vector<uint8_t>(buf, buf + len);
    }

    std::vector<SimHwCall> callsOf(uint32_t objectId) const {
        std::vector<SimHwCall> out;
        for (const auto& c : hwCalls())
            if (c.objectId == objectId) out.push_back(c);
        return out;
    }
};

// Whole-buffer comparison with a readable dump of both sides.
inline void expectBytes(const std::vector<uint8_t>& actual, const std::string& expectedHex) {
    const std::vector<uint8_t> expected = hexBytes(expectedHex);
    EXPECT_EQ(actual, expected) << "actual (" << actual.size() << " bytes):\n"
                                << hexDump(actual) << "\nexpected (" << expected.size() << " bytes):\n"
                                << hexDump(expected);
}

// Fields of a route entry read back.
inline uint32_t hdrFlags(const std::vector<uint8_t>& e) { return beRead32(e.data()); }
inline uint8_t hdrNextHopNum(const std::vector<uint8_t>& e) { return e.at(16); }
inline uint8_t hdrSize(const std::vector<uint8_t>& e) { return e.at(19); }

struct RecView {
    uint32_t flags;
    uint32_t nexthopIp;
    uint8_t op;
    uint8_t labels;
};

// The next-hop records of an IPv4 entry, in order.
inline std::vector<RecView> records(const std::vector<uint8_t>& e) {
    std::vector<RecView> out;
    for (std::size_t at = 28; at + 64 <= e.size();) {
        const uint8_t* r = e.data() + at;
        out.push_back({beRead32(r), beRead32(r + 4), r[58], r[59]});
        at += 64 + 8 * r[59];
    }
    return out;
}
