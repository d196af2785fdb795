// Neighbour tables and the effective-VRF rule.
#include "builders.h"

namespace {

class NeighbourTable : public HwTest {};

// Buckets are descending by address (IPv6: byte sum), equal keys keep arrival order.
TEST_F(NeighbourTable, BucketsAreDescendingAndEqualAddressesKeepInsertionOrder) {
    // All four addresses have the low 7 bits 0x01: bucket 1.
    HwArpNode* lowVrf0 = addArp(0, "10.0.0.1");
    HwArpNode* high = addArp(0, "10.0.1.129");
    HwArpNode* lowVrf1 = addArp(1, "10.0.0.1");
    HwArpNode* mid = addArp(0, "10.0.0.129");
    EXPECT_EQ(listed<&HwArpNode::link>(&ghwRoute.arpTable[1]), (std::vector{high, mid, lowVrf0, lowVrf1}));
    EXPECT_EQ(hwArpFind(1, ip4("10.0.0.1")), lowVrf1);
    hwArpFreeAll(0, ip4("10.0.0.1"));
    EXPECT_EQ(listed<&HwArpNode::link>(&ghwRoute.arpTable[1]), (std::vector{high, mid, lowVrf1}));

    // Byte sums 127, 383, 127, 255: all bucket 127.
    const char* addrs[] = {"::7f", "fe80::1", "::1:7e", "::ff"};
    HwNd6Node* n[4];
    for (int i = 0; i < 4; ++i) {
        n[i] = hwNd6NodeAlloc();
        std::memcpy(n[i]->nextHop, ip6(addrs[i]).data(), 16);
        hwNd6TableAdd(n[i]);
    }
    EXPECT_EQ(listed<&HwNd6Node::link>(&ghwRoute.nd6Table[127]), (std::vector{n[1], n[3], n[0], n[2]}));
    EXPECT_EQ(hwNd6Find(0, ip6("::1:7e").data()), n[2]);
}

// A private next hop of VRF 5 riding on an IPv4 public route of VRF 9 or an
// IPv6 one of VRF 11.
TEST_F(NeighbourTable, EffectiveVrfIsThePublicRouteVrfOnlyForItsOwnFamily) {
    HwRouteNexthop* pub4 = addNexthop(addDest(9, "1.0.0.0", 8), "10.0.0.1");
    HwRoute6Nexthop* pub6 = addNexthop6(addDest6(11, "2001:db8::", 32), "fe80::1");
    HwRouteNexthop* priv = addNexthop(addDest(5, "2.0.0.0", 8), "10.0.0.1");
    HwRoute6Nexthop* priv6 = addNexthop6(addDest6(5, "2001:db9::", 32), "fe80::1");
    HwArpNode* arpVrf9 = addArp(9, "10.0.0.1");
    const struct {
        uint8_t family;
        void* route;
        int vrf4, vrf6;  // -1: does not take part
    } cases[] = {{0, nullptr, 5, 5}, {2, pub4, 9, -1}, {10, pub6, -1, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.family);
        priv->publicFamily = priv6->publicFamily = c.family;
        priv->publicRoute = priv6->publicRoute = c.route;
        uint32_t vrf = 0;
        EXPECT_EQ(hwNexthopEffectiveVrf(priv, &vrf) ? int(vrf) : -1, c.vrf4);
        EXPECT_EQ(hwNexthop6EffectiveVrf(priv6, &vrf) ? int(vrf) : -1, c.vrf6);
        EXPECT_EQ(hwNexthopMatchesArp(priv, arpVrf9), c.vrf4 == 9);
    }
}

}  // namespace
