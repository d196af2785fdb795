// Neighbour host entries: the 92- and 100-byte buffers and the status moves
// of the four writers.
#include <arpa/inet.h>

#include "hw_routes.h"

namespace {

class NeighbourHw : public HwRouteTest {
protected:
    HwArpNode* neighbour(uint8_t status, uint32_t subIfUnit = 0) {
        HwArpNode* a = arp("192.168.1.9");
        a->status = status;
        a->subIfUnit = subIfUnit;
        return a;
    }
    HwNd6Node* nd6(uint8_t status) {
        HwNd6Node* n = hwNd6NodeAlloc();
        n->vpnVrfid = 4;
        inet_pton(AF_INET6, "2001:db8::9", n->nextHop);
        n->ifUnit = kEth;
        n->outPort = 7;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x09};
        std::memcpy(n->macAddr, mac, 6);
        n->status = status;
        hwListInit(&n->tunList);
        hwNd6TableAdd(n);
        return n;
    }
};

// The IPv4 entry on sub-interface 6 carries its VLAN 20; the IPv6 one without
// a sub-interface carries unit 5's VLAN 10.
TEST_F(NeighbourHw, AddWritesTheHostEntryWithTheVlanOfItsSubInterface) {
    EXPECT_EQ(hwUpdateArpAdd(neighbour(hwStatusIdle, kSubIf)), 0);
    EXPECT_EQ(hwUpdateNd6Add(nd6(hwStatusIdle)), 0);
    const auto v4 = callsOf(HW_OBJ_ROUTE4), v6 = callsOf(HW_OBJ_ROUTE6);
    ASSERT_EQ(v4.size(), 1u);
    ASSERT_EQ(v6.size(), 1u);
    expectBytes(v4[0].data,
                // header: flags, vrId, subnetAddr, /32 mask, nextHopNum 1, size 23
                "00000000 00000003 c0a80109 ffffffff 01 0000 17 0000000000000000"
                // record: neighbour flag 0x10, nexthopIp, request bytes
                "00000010 c0a80109 000000000000000000000000 00000000000000000000000000000000"
                // port, ipPort, MAC, VLAN, no source MAC, op add, no labels, no protocol
                "00000007 00000005 001122334409 0014 000000000000 01 00 00 000000");
    expectBytes(v6[0].data,
                // header: flags, vrId, subnetAddr, /128, nextHopNum 1, 0, size 25, 8 x 0
                "00000000 00000004 20010db8000000000000000000000009 80 01 00 19 0000000000000000"
                "00000010 20010db8000000000000000000000009 00000000000000000000000000000000"
                "00000007 00000005 001122334409 000a 000000000000 01 00 00 000000");
}

// The IPv6 writer ignores the answer; a card-up rewrite was counted when the
// entry was first written.
TEST_F(NeighbourHw, AddOutcomes) {
    struct Case { const char* what; bool refuse, cardup; int result; uint8_t status, cardupAfter; uint32_t ok, err; };
    const Case cases[] = {
        {"accepted", false, false, 0, hwStatusOk, 0, 1, 0},
        {"card-up rewrite accepted", false, true, 0, hwStatusOk, 0, 0, 0},
        {"card-up rewrite refused", true, true, -1, hwStatusAddAbnormal, 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow();
        platformConfig(c.refuse ? R"({"hardware": {"refuse": [{"objectId": 338}, {"objectId": 339}]}})"
                                : R"({"hardware": {"refuse": []}})");
        HwArpNode* a = neighbour(hwStatusIdle);
        HwNd6Node* n = nd6(hwStatusIdle);
        a->cardupFlag = n->cardupFlag = c.cardup;
        EXPECT_EQ(hwUpdateArpAdd(a), c.result);
        EXPECT_EQ(a->status, c.status);
        EXPECT_EQ(a->cardupFlag, c.cardupAfter);
        EXPECT_EQ(ghwRoute.hwOkArpCnt, c.ok);
        EXPECT_EQ(ghwRoute.hwErrArpCnt, c.err);
        EXPECT_EQ(hwUpdateNd6Add(n), 0);
        EXPECT_EQ(n->status, hwStatusOk);
        EXPECT_EQ(n->cardupFlag, 0);
        EXPECT_EQ(ghwRoute.hwOkNd6Cnt, c.cardup ? 0u : 1u);
    }
}

TEST_F(NeighbourHw, DeleteByStatus) {
    struct Case { const char* what; uint8_t status; bool call; int okDelta, errDelta; } cases[] = {
        {"present", hwStatusOk, true, -1, 0},
        {"delete failed before", hwStatusDelAbnormal, true, -1, 0},
        {"add had failed", hwStatusAddAbnormal, false, 0, -1},
        {"not in hardware", hwStatusIdle, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow();
        ghwRoute.hwOkArpCnt = ghwRoute.hwOkNd6Cnt = ghwRoute.hwErrArpCnt = ghwRoute.hwErrNd6Cnt = 5;
        HwArpNode* a = neighbour(c.status);
        HwNd6Node* n = nd6(c.status);
        EXPECT_EQ(hwUpdateArpDel(a), 0);
        EXPECT_EQ(hwUpdateNd6Del(n), 0);
        std::vector<int> ops;  // of the IPv4 and the IPv6 entry
        for (const auto& call : hwCalls()) ops.push_back(call.data.at(call.objectId == HW_OBJ_ROUTE4 ? 86 : 94));
        EXPECT_EQ(ops, (c.call ? std::vector<int>{2, 2} : std::vector<int>{}));
        EXPECT_EQ(a->status, hwStatusIdle);
        EXPECT_EQ(n->status, hwStatusIdle);
        EXPECT_EQ(int(ghwRoute.hwOkArpCnt) - 5, c.okDelta);
        EXPECT_EQ(int(ghwRoute.hwErrArpCnt) - 5, c.errDelta);
        EXPECT_EQ(int(ghwRoute.hwOkNd6Cnt) - 5, c.okDelta);
        EXPECT_EQ(int(ghwRoute.hwErrNd6Cnt) - 5, c.errDelta);
    }
}

// When the VLAN of the interface cannot be read, the deletes and the IPv6
// add give up without a call and leave the status as it was; the IPv4 add
// goes on with VLAN 0.
TEST_F(NeighbourHw, FailedVlanQuery) {
    platformConfig(R"({"interfaces": {"8": {"endType": 6, "fail": ["vlan"]}}})");
    HwArpNode* a = neighbour(hwStatusOk);
    HwNd6Node* n = nd6(hwStatusOk);
    a->ifUnit = n->ifUnit = 8;
    HwRouteDest* d = dest("10.1.0.0");
    linked(d, "192.168.1.1", kPresent);
    HwRouteNexthop* x = path(d, "192.168.1.9", kPresent | NH_OP_DEL);  // one of two equal paths, through `a`
    EXPECT_EQ(hwUpdateArpDel(a), -1);
    EXPECT_EQ(hwUpdateNd6Add(n), -1);
    EXPECT_EQ(hwUpdateNd6Del(n), -1);
    EXPECT_EQ(hwUpdateRouteDel(x), -1);
    EXPECT_TRUE(hwCalls().empty());
    EXPECT_EQ(a->status, hwStatusOk);
    EXPECT_EQ(n->status, hwStatusOk);
    EXPECT_TRUE(x->flag & NH_HW_OK);

    a->status = hwStatusIdle;
    EXPECT_EQ(hwUpdateArpAdd(a), 0);
    EXPECT_EQ(beRead16(callsOf(HW_OBJ_ROUTE4).at(0).data.data() + 78), 0);
}

}  // namespace
