// The road of a route through the daemon's own handlers: neighbour learnt,
// route added, flushed to hardware, route deleted, flushed again.
#include "hw_routes.h"
#include "hwroute/neighbour.h"
#include "hwroute/route.h"

namespace {

class Road : public HwRouteTest {
protected:
    // The records the intake hands to the handlers.
    static HwArpNode arpRequest(uint32_t vrf, const char* address) {
        HwArpNode r{};
        r.ifUnit = kEth;
        r.nextHop = ip4(address);
        r.outPort = 7;
        r.vpnVrfid = vrf;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, uint8_t(r.nextHop & 0xff)};
        std::memcpy(r.mac, mac, 6);
        r.status = hwStatusIdle;
        return r;
    }
    static int routeAdd(uint32_t vrf, const char* gw, uint8_t weight = 1) {
        HwRouteDest d{};
        HwRouteNexthop n{};
        d.vrfId = n.nVrfId = vrf;
        d.destIp = ip4("10.1.0.0");
        d.mask = ip4("255.255.0.0");
        n.nextHop = ip4(gw);
        n.ifUnit = kEth;
        n.protoId = 9;
        n.weight = weight;
        return hwRouteRouteAdd(&d, &n, 0, nullptr);
    }
    static int routeDel(uint32_t vrf, const char* gw) {
        HwRouteDest d{};
        HwRouteNexthop n{};
        d.vrfId = n.nVrfId = vrf;
        d.destIp = ip4("10.1.0.0");
        d.mask = ip4("255.255.0.0");
        n.nextHop = ip4(gw);
        n.ifUnit = kEth;
        n.protoId = 9;
        return hwRouteRouteDel(&d, &n);
    }
    std::vector<uint8_t> lastRouteEntry() {
        // The last IPv4 call that is not a neighbour host entry.
        const auto calls = callsOf(HW_OBJ_ROUTE4);
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->data.size() >= 32 && beRead32(it->data.data() + 12) != 0xFFFFFFFFu) return it->data;
        return {};
    }
};

TEST_F(Road, RouteThroughALearntNeighbourReachesHardwareAndLeavesIt) {
    HwArpNode req = arpRequest(3, "192.168.1.1");
    ASSERT_EQ(hwArpAdd(&req), 0);
    ASSERT_EQ(routeAdd(3, "192.168.1.1"), 0);
    hwRouteUpdate();

    expectBytes(lastRouteEntry(),
                "00000000 00000003 0a010000 ffff0000 01 0000 17 0000000000000000"
                "00000002 c0a80101 000000000000000000000000 00000000000000000000000000000000"
                "00000007 00000005 001122334401 000a 00aa00000005 01 00 09 000000");
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 1u);

    ASSERT_EQ(routeDel(3, "192.168.1.1"), 0);
    hwRouteUpdate();
    const auto del = records(lastRouteEntry());
    ASSERT_EQ(del.size(), 1u);
    EXPECT_EQ(del[0].op, 2);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 0u);
    EXPECT_EQ(ghwRoute.swDestCnt, 0u);
}

}  // namespace
