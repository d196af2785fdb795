// Neighbour tables, the effective-VRF rule and tunnel binding.
#include "builders.h"

namespace {

class NeighbourTable : public HwTest {};

TEST_F(NeighbourTable, ArpBucketIsDescendingAndEqualAddressesKeepInsertionOrder) {
    // All four addresses have the low 7 bits 0x01: bucket 1.
    HwArpNode* lowVrf0 = addArp(0, "10.0.0.1");
    HwArpNode* high = addArp(0, "10.0.1.129");
    HwArpNode* lowVrf1 = addArp(1, "10.0.0.1");
    HwArpNode* mid = addArp(0, "10.0.0.129");
    EXPECT_EQ(listed<&HwArpNode::link>(&ghwRoute.arpTable[1]), (std::vector{high, mid, lowVrf0, lowVrf1}));
    EXPECT_EQ(hwArpFind(1, ip4("10.0.0.1")), lowVrf1);
    EXPECT_EQ(hwArpFind(2, ip4("10.0.0.1")), nullptr);
    EXPECT_EQ(ghwRoute.arpAddLstCnt, 4u);

    hwArpFreeAll(0, ip4("10.0.0.1"));
    EXPECT_EQ(listed<&HwArpNode::link>(&ghwRoute.arpTable[1]), (std::vector{high, mid, lowVrf1}));
    EXPECT_EQ(ghwRoute.swArpCnt, 3u);
    EXPECT_EQ(ghwRoute.arpDelLstCnt, 1u);
}

TEST_F(NeighbourTable, Nd6BucketIsDescendingByteSum) {
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
    EXPECT_EQ(ghwRoute.swNd6Cnt, 4u);
}

// A private next hop of VRF 5 riding on an IPv4 public route of VRF 9 or an
// IPv6 one of VRF 11.
TEST_F(NeighbourTable, EffectiveVrfIsThePublicRouteVrfOnlyForItsOwnFamily) {
    HwRouteNexthop* pub4 = addNexthop(addDest(9, "1.0.0.0", "255.0.0.0"), 9, "10.0.0.1", 5);
    HwRoute6Nexthop* pub6 = addNexthop6(addDest6(11, "2001:db8::", 32), 11, "fe80::1", 5);
    HwRouteNexthop* priv = addNexthop(addDest(5, "2.0.0.0", "255.0.0.0"), 5, "10.0.0.1", 5);
    HwRoute6Nexthop* priv6 = addNexthop6(addDest6(5, "2001:db9::", 32), 5, "fe80::1", 5);
    HwArpNode* arpVrf9 = addArp(9, "10.0.0.1");
    struct Case {
        uint8_t family;
        void* route;
        int vrf4;  // -1: does not take part
        int vrf6;
    } cases[] = {{0, nullptr, 5, 5}, {2, pub4, 9, -1}, {10, pub6, -1, 11}};
    for (const Case& c : cases) {
        priv->publicFamily = priv6->publicFamily = c.family;
        priv->publicRoute = priv6->publicRoute = c.route;
        uint32_t vrf = 0;
        bool takesPart = hwNexthopEffectiveVrf(priv, &vrf);
        EXPECT_EQ(takesPart ? int(vrf) : -1, c.vrf4) << "family " << int(c.family);
        takesPart = hwNexthop6EffectiveVrf(priv6, &vrf);
        EXPECT_EQ(takesPart ? int(vrf) : -1, c.vrf6) << "family " << int(c.family);
        EXPECT_EQ(hwNexthopMatchesArp(priv, arpVrf9), c.vrf4 == 9) << "family " << int(c.family);
    }
}

TEST_F(NeighbourTable, TunnelBindingLeavesATunnelOnExactlyOneList) {
    HwArpNode* arp = addArp(0, "20.0.0.1");
    HwRouteDest* dest = addDest(0, "20.0.0.0", "255.0.0.0");
    HwRouteTunNode* t = hwRouteTunNodeAlloc();
    HwRouteTunNode* other = hwRouteTunNodeAlloc();
    hwRouteTunTableAdd(t);
    hwRouteTunTableAdd(other);
    hwRouteTunBind(t, &arp->tunList, arp);
    hwRouteTunBind(other, &arp->tunList, arp);
    hwRouteTunBind(t, &arp->tunList, arp);
    EXPECT_EQ(listed<&HwRouteTunNode::bindLink>(&arp->tunList), (std::vector{t, other}));

    hwRouteTunBind(t, &dest->tunList, dest);
    EXPECT_EQ(t->dstEntry, dest);
    EXPECT_EQ(listed<&HwRouteTunNode::bindLink>(&dest->tunList), (std::vector{t}));
    EXPECT_EQ(listed<&HwRouteTunNode::bindLink>(&arp->tunList), (std::vector{other}));

    uint32_t freeBefore = hwPoolFreeCount(&ghwRoute.tunPool);
    hwRouteTunDestroyAll(&arp->tunList);
    EXPECT_TRUE(hwListEmpty(&arp->tunList));
    EXPECT_EQ(listed<&HwRouteTunNode::link>(&ghwRoute.tunList), (std::vector{t}));
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.tunPool), freeBefore + 1);
}

}  // namespace
