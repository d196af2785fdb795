// Route test helpers: requests built as the intake builds them, neighbours
// as the neighbour logic leaves them, units 5 (up), 6 (point to point), 7 (down).
#pragma once

#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"
#include "hwtest.h"

struct Path {
    uint32_t vrf = 0;
    const char* dest = "10.1.0.0";
    int len = 16;
    const char* gw = "192.168.1.1";
    uint32_t ifUnit = 5;
    uint8_t proto = 9;
    uint8_t weight = 1;
};

class RouteTest : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {
            "5": {"endType": 6, "operState": 1, "port": 3, "vlan": 10, "mac": "02:00:00:00:00:05"},
            "6": {"endType": 22, "operState": 1, "port": 4, "vlan": 0, "mac": "02:00:00:00:00:06"},
            "7": {"endType": 6, "operState": 2, "port": 5, "vlan": 0, "mac": "02:00:00:00:00:07"}}})");
    }
    struct Req {
        HwRouteDest d{};
        HwRouteNexthop n{};
        explicit Req(const Path& p) {
            d.vrfId = n.nVrfId = p.vrf;
            d.destIp = ip4(p.dest);
            d.mask = p.len == 0 ? 0 : ~0u << (32 - p.len);
            n.nextHop = ip4(p.gw);
            n.ifUnit = p.ifUnit;
            n.protoId = p.proto;
            n.weight = p.weight;
        }
    };
    static int add(const Path& p, uint32_t family = 0, void* pub = nullptr) {
        Req r(p);
        return hwRouteRouteAdd(&r.d, &r.n, family, pub);
    }
    static int del(const Path& p) {
        Req r(p);
        return hwRouteRouteDel(&r.d, &r.n);
    }
    static HwRouteNexthop* find(const Path& p) {
        Req r(p);
        return hwRouteNexthopTableLookup(hwRouteDestTableLookup(&r.d), &r.n);
    }
    static void neighbour(const char* addr, uint8_t status = hwStatusOk, uint8_t flag = 0) {
        HwArpNode* a = hwArpNodeAlloc();
        a->ifUnit = 5;
        a->nextHop = ip4(addr);
        a->status = status;
        a->flag = flag;
        hwArpTableAdd(a);
    }
    // Added and flushed: the path is in hardware.
    HwRouteNexthop* programmed(const Path& p, uint32_t family = 0, void* pub = nullptr) {
        EXPECT_EQ(add(p, family, pub), 0);
        hwRouteUpdate();
        EXPECT_TRUE(find(p)->flag & NH_HW_OK);
        return find(p);
    }
};
