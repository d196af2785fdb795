// Neighbour test helpers: requests built as the intake builds them, routes
// added through the route handler, and a reader for the recorded IPv4 route
// object calls (route entries and /32 host entries).
#pragma once

#include <cstring>
#include <vector>

#include "hwroute/bewriter.h"
#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwroute/neighbour.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"
#include "hwtest.h"

struct Path { uint32_t vrf = 0; const char* dest = "10.1.0.0"; int len = 16; const char* gw = "192.168.1.1"; };

// One path record of a recorded IPv4 route object call: `host` for a /32
// neighbour host entry rather than a route path; op 1 add, 2 delete, 0 no change.
struct HwRec { uint32_t subnet; bool host; uint32_t port; uint8_t macLast; uint16_t vid; uint8_t op; };

class NeighTest : public HwTest {
protected:
    // Units 5 (VLAN 10, port 3) and 8 (VLAN 20, port 4), both Ethernet.
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {
            "5": {"endType": 6, "operState": 1, "port": 3, "vlan": 10, "mac": "02:00:00:00:00:05"},
            "8": {"endType": 6, "operState": 1, "port": 4, "vlan": 20, "mac": "02:00:00:00:00:08"}}})");
    }

    static HwArpNode arp(const char* addr, uint8_t macLast = 0x42, uint32_t vrf = 0, uint32_t unit = 5) {
        HwArpNode r{};
        r.ifUnit = r.subIfUnit = unit;
        r.nextHop = ip4(addr);
        r.outPort = unit == 5 ? 3 : 4;
        r.vpnVrfid = vrf;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, macLast};
        std::memcpy(r.mac, mac, 6);
        r.status = hwStatusIdle;
        return r;
    }
    static int arpAdd(HwArpNode r) { return hwArpAdd(&r); }
    static int arpDel(HwArpNode r) { return hwArpDel(&r); }
    static HwArpNode* findArp(const char* addr, uint32_t vrf = 0) { return hwArpFind(vrf, ip4(addr)); }
    static uint32_t arpFree() { return hwPoolFreeCount(&ghwRoute.arpPool); }
    std::size_t callCount() const { return hwCalls().size(); }

    struct Req {
        HwRouteDest d{};
        HwRouteNexthop n{};
        explicit Req(const Path& p) {
            d.vrfId = n.nVrfId = p.vrf;
            d.destIp = ip4(p.dest);
            d.mask = ~0u << (32 - p.len);
            n.nextHop = ip4(p.gw);
            n.ifUnit = 5;
            n.protoId = 9;
            n.weight = 1;
        }
    };
    static int routeAdd(const Path& p, uint32_t publicFamily = 0, void* publicRoute = nullptr) {
        Req r(p);
        return hwRouteRouteAdd(&r.d, &r.n, publicFamily, publicRoute);
    }
    static int routeDel(const Path& p) { Req r(p); return hwRouteRouteDel(&r.d, &r.n); }
    static HwRouteNexthop* find(const Path& p) { Req r(p); return hwRouteNexthopTableLookup(hwRouteDestTableLookup(&r.d), &r.n); }

    // Records of the IPv4 route object calls from call `from` on.
    std::vector<HwRec> records(std::size_t from = 0) const {
        std::vector<HwRec> out;
        for (std::size_t c = from; c < hwCalls().size(); ++c) {
            if (hwCalls()[c].objectId != HW_OBJ_ROUTE4) continue;
            for (const HwdRouteEntry& e : decodedCall(hwCalls()[c]).routes)
                for (const HwdPath& p : e.paths)
                    out.push_back({beRead32(e.addr.data()), p.flags == HWD_NHF_NEIGHBOUR, p.port, p.nextHopMac[5],
                                   p.vid, p.op});
        }
        return out;
    }
    // Records with op (1 add, 2 delete) for a route or, with `host`, a host entry.
    int ops(const char* subnet, uint8_t op, std::size_t from = 0, bool host = false) const {
        int n = 0;
        for (const HwRec& r : records(from)) n += r.host == host && r.subnet == ip4(subnet) && r.op == op;
        return n;
    }
};
