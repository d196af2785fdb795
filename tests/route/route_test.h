// Route test helpers: requests built as the intake builds them, neighbours
// as the neighbour logic leaves them, units 5 (up), 6 (point to point), 7 (down).
#pragma once

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

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

// Every order of eight events (event 2i, an add, before event 2i + 1, its
// delete) from a fresh state, with a flush after each event: a private path
// always points at a live public route (before and after the flush), a public
// route without users holds no counts, and in the end both are gone, the
// pools are back where they started and `leftOver` is 0.
template <class Nexthop>
void checkPublicCountsInEveryOrder(const std::function<void()>& fresh, const std::function<void()> (&run)[8],
                                   Nexthop* (*pub)(), Nexthop* (*priv)(), const std::vector<NodePool*>& pools,
                                   uint32_t (*leftOver)()) {
    std::array<int, 8> order{0, 1, 2, 3, 4, 5, 6, 7};
    int orders = 0;
    do {
        bool valid = true;
        for (int i = 0; i < 8 && valid; i += 2)
            valid = std::find(order.begin(), order.end(), i) < std::find(order.begin(), order.end(), i + 1);
        if (!valid) continue;
        ++orders;
        fresh();
        std::vector<uint32_t> free;
        for (NodePool* p : pools) free.push_back(hwPoolFreeCount(p));
        std::string trace;
        for (int e : order) {
            trace += std::to_string(e);
            run[e]();
            for (int flushed = 0; flushed < 2; ++flushed) {
                if (flushed) hwRouteUpdate();
                Nexthop* pn = pub();
                if (Nexthop* vn = priv()) {
                    ASSERT_EQ(vn->publicRoute, pn) << "dangling public route after " << trace << " " << flushed;
                    ASSERT_EQ(pn->privateRefCnt, 1u) << trace;
                } else if (pn != nullptr && flushed) {
                    ASSERT_EQ(pn->privateRefCnt + pn->privateMplsRefCnt + pn->privateArpRefCnt, 0u) << trace;
                }
            }
        }
        EXPECT_EQ(pub(), nullptr) << trace;
        EXPECT_EQ(priv(), nullptr) << trace;
        for (std::size_t i = 0; i < pools.size(); ++i) EXPECT_EQ(hwPoolFreeCount(pools[i]), free[i]) << trace;
        EXPECT_EQ(leftOver() + ghwRoute.publicRefImbalanceCnt, 0u) << trace;
        if (::testing::Test::HasFailure()) return;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(orders, 2520);
}
