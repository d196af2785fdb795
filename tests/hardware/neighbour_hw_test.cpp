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
        std::memcpy(n->macAddr, "\x00\x11\x22\x33\x44\x09", 6);
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
    ASSERT_EQ(hwCalls().size(), 2u);
    expectBytes(hwCalls()[0].data,
                // header: flags, vrId, subnetAddr, /32 mask, nextHopNum 1, size 23
                "00000000 00000003 c0a80109 ffffffff 01 0000 17 0000000000000000"
                // record: neighbour flag 0x10, nexthopIp, request bytes
                "00000010 c0a80109 000000000000000000000000 00000000000000000000000000000000"
                // port, ipPort, MAC, VLAN, no source MAC, op add, no labels, no protocol
                "00000007 00000005 001122334409 0014 000000000000 01 00 00 000000");
    EXPECT_EQ(hwCalls()[1].objectId, HW_OBJ_ROUTE6);
    expectBytes(hwCalls()[1].data,
                // header: flags, vrId, subnetAddr, /128, nextHopNum 1, 0, size 25, 8 x 0
                "00000000 00000004 20010db8000000000000000000000009 80 01 00 19 0000000000000000"
                "00000010 20010db8000000000000000000000009 00000000000000000000000000000000"
                "00000007 00000005 001122334409 000a 000000000000 01 00 00 000000");
}

// Both families side by side, with the same outcome, all counts starting at
// 5. A refused write is kept in the abnormal table. Regressions: the IPv6
// writers ignored a refusal; a refused card-up rewrite stayed counted in
// hardware with its card-up mark set.
TEST_F(NeighbourHw, StatusAndCountMoves) {
    constexpr int kIdle = hwStatusIdle, kOk = hwStatusOk, kRefused = hwStatusAddAbnormal;
    struct Case {
        const char* what;
        bool del, refuse, cardup;
        int before, result, after, ok, err;
        bool call = true;
        bool queued = false;
    } cases[] = {
        {"add accepted", false, false, false, kIdle, 0, kOk, 6, 5},
        {"add refused", false, true, false, kIdle, -1, kRefused, 5, 6, true, true},
        {"add refused again: counted once", false, true, false, kRefused, -1, kRefused, 5, 5, true, true},
        {"refused record written at last", false, false, false, kRefused, 0, kOk, 6, 4},
        {"card-up rewrite accepted", false, false, true, kIdle, 0, kOk, 5, 5},
        {"card-up rewrite refused", false, true, true, kIdle, -1, kRefused, 4, 6, true, true},
        {"delete of a present entry", true, false, false, kOk, 0, kIdle, 4, 5},
        {"delete refused: kept for a retry", true, true, false, kOk, 0, kIdle, 4, 5, true, true},
        {"delete after a failed delete", true, false, false, hwStatusDelAbnormal, 0, kIdle, 4, 5},
        {"delete after a failed add", true, false, false, kRefused, 0, kIdle, 5, 4, false},
        {"delete of an entry not in hardware", true, false, false, kIdle, 0, kIdle, 5, 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextRow();
        if (c.refuse) platformConfig(R"({"hardware": {"refuse": [{"objectId": 338}, {"objectId": 339}]}})");
        ghwRoute.hwOkArpCnt = ghwRoute.hwOkNd6Cnt = ghwRoute.hwErrArpCnt = ghwRoute.hwErrNd6Cnt = 5;
        HwArpNode* a = neighbour(uint8_t(c.before));
        HwNd6Node* n = nd6(uint8_t(c.before));
        a->cardupFlag = n->cardupFlag = c.cardup;
        EXPECT_EQ(c.del ? hwUpdateArpDel(a) : hwUpdateArpAdd(a), c.result);
        EXPECT_EQ(c.del ? hwUpdateNd6Del(n) : hwUpdateNd6Add(n), c.result);
        EXPECT_EQ((std::vector<int>{a->status, a->cardupFlag, n->status, n->cardupFlag}),
                  (std::vector<int>{c.after, 0, c.after, 0}));
        EXPECT_EQ(hwCalls().size(), c.call ? 2u : 0u);
        for (const auto& call : hwCalls()) EXPECT_EQ(call.data.at(call.objectId == HW_OBJ_ROUTE4 ? 86 : 94), c.del ? 2 : 1);
        EXPECT_EQ((std::vector<int>{int(ghwRoute.hwOkArpCnt), int(ghwRoute.hwErrArpCnt), int(ghwRoute.hwOkNd6Cnt),
                                    int(ghwRoute.hwErrNd6Cnt)}),
                  (std::vector<int>{c.ok, c.err, c.ok, c.err}));
        EXPECT_EQ(ghwRoute.abnPendingCnt, c.queued ? 2u : 0u);
    }
}

}  // namespace
