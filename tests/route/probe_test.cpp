#include <vector>

#include "route_test.h"

class Probe : public RouteTest {};

TEST_F(Probe, EchoRequestBytesAndVrfInAddressPadding) {
    EXPECT_EQ(checksum(hexBytes("08 00 00 00 00 7b 00 00").data(), 8), 0xf784);
    EXPECT_EQ(checksum(hexBytes("00 01 f2 03 f4 f5 f6 f7 01").data(), 9), 0x210d);  // carries folded, odd byte high
    EXPECT_EQ(hwPingSend(ip4("10.0.0.1"), 0x01020304), 0);
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].icmp, hexBytes("08 00 f7 84 00 7b 00 00")) << hexDump(probes[0].icmp);
    EXPECT_EQ(probes[0].address, ip4("10.0.0.1"));
    EXPECT_EQ(probes[0].vrfId, 0x01020304u);
}

TEST_F(Probe, PendCheckProbesFrontOfEachBucketOnInterfacesThatAreUp) {
    for (Path p : {Path{}, Path{.gw = "192.168.2.1"}, Path{.gw = "192.168.1.2"}, Path{.gw = "192.168.1.3", .ifUnit = 7}})
        ASSERT_EQ(add(p), 0);
    probes.clear();
    hwRoutePendCheck();
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_EQ(probes[0].address, ip4("192.168.2.1"));  // pended after 192.168.1.1 in the same bucket
    EXPECT_EQ(probes[1].address, ip4("192.168.1.2"));
}

// A run of ILM entries with one next hop is probed once; layer-2 VPNs are
// probed towards IPv4 edges only, in the VPN instance.
TEST_F(Probe, PendCheckProbesEachRunOfIlmNextHopsOnceAndIpv4L2vpns) {
    const uint32_t A = ip4("10.0.0.1"), B = ip4("10.0.0.2");
    const struct {
        std::vector<uint32_t> nextHops;
        size_t probes;
    } cases[] = {{{A, A, B}, 2}, {{A, B, A}, 3}, {{A, 0, A}, 1}};
    for (const auto& c : cases) {
        reinit(HwTestSizes{});
        probes.clear();
        std::vector<HwRouteIlmNode> ilms(c.nextHops.size());
        for (size_t i = 0; i < ilms.size(); ++i) {
            ilms[i].nextHop = c.nextHops[i];
            hwListInsertTail(&ghwRoute.ilmPendList, &ilms[i].pendLink);
        }
        hwRoutePendCheck();
        EXPECT_EQ(probes.size(), c.probes) << ::testing::PrintToString(c.nextHops);
    }
    reinit(HwTestSizes{});
    probes.clear();
    HwRouteL2vpnNode v4{}, v6{};
    v4.vfiId = 12;
    v4.family = HW_AF_INET;
    v4.nexthopIp[0] = 10, v4.nexthopIp[3] = 7;
    v6.family = HW_AF_INET6;
    v6.nexthopIp[0] = 0xfe;
    for (HwRouteL2vpnNode* v : {&v4, &v6}) hwListInsertTail(&ghwRoute.l2vpnPendList, &v->pendLink);
    hwRoutePendCheck();
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].address, ip4("10.0.0.7"));
    EXPECT_EQ(probes[0].vrfId, 12u);
}
