// Neighbour host entries: the 92- and 100-byte buffers and the status moves
// of the four writers.
#include <arpa/inet.h>

#include "hw_routes.h"

namespace {

class NeighbourHw : public HwRouteTest {
protected:
    HwArpNode* neighbour(uint8_t status) {
        HwArpNode* a = arp(3, "192.168.1.9");
        a->status = status;
        return a;
    }

    HwNd6Node* nd6(uint8_t status, uint32_t subIfUnit = 0) {
        HwNd6Node* n = hwNd6NodeAlloc();
        EXPECT_NE(n, nullptr);
        n->vpnVrfid = 4;
        EXPECT_EQ(inet_pton(AF_INET6, "2001:db8::9", n->nextHop), 1);
        n->ifUnit = kEth;
        n->subIfUnit = subIfUnit;
        n->outPort = 7;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x09};
        std::memcpy(n->macAddr, mac, 6);
        n->status = status;
        hwListInit(&n->tunList);
        hwNd6TableAdd(n);
        return n;
    }
};

TEST_F(NeighbourHw, ArpAddWritesThe92ByteHostEntry) {
    HwArpNode* a = neighbour(hwStatusIdle);
    EXPECT_EQ(hwUpdateArpAdd(a), 0);

    const auto calls = callsOf(HW_OBJ_ROUTE4);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].flags, 1u);
    expectBytes(calls[0].data,
                // header: flags, vrId, subnetAddr, /32 mask, nextHopNum 1, size 23
                "00000000 00000003 c0a80109 ffffffff 01 0000 17 0000000000000000"
                // record: neighbour flag 0x10, nexthopIp, request bytes
                "00000010 c0a80109 000000000000000000000000 00000000000000000000000000000000"
                // port, ipPort, MAC, VLAN 10, no source MAC, op add, no labels, no protocol
                "00000007 00000005 001122334409 000a 000000000000 01 00 00 000000");
    EXPECT_EQ(a->status, hwStatusOk);
    EXPECT_EQ(ghwRoute.hwOkArpCnt, 1u);
}

TEST_F(NeighbourHw, Nd6AddWritesThe100ByteHostEntry) {
    HwNd6Node* n = nd6(hwStatusIdle);
    EXPECT_EQ(hwUpdateNd6Add(n), 0);

    const auto calls = callsOf(HW_OBJ_ROUTE6);
    ASSERT_EQ(calls.size(), 1u);
    expectBytes(calls[0].data,
                // header: flags, vrId, subnetAddr, /128, nextHopNum 1, 0, size 25, 8 x 0
                "00000000 00000004 20010db8000000000000000000000009 80 01 00 19 0000000000000000"
                "00000010 20010db8000000000000000000000009 00000000000000000000000000000000"
                "00000007 00000005 001122334409 000a 000000000000 01 00 00 000000");
    EXPECT_EQ(n->status, hwStatusOk);
    EXPECT_EQ(ghwRoute.hwOkNd6Cnt, 1u);
}

TEST_F(NeighbourHw, VlanComesFromTheSubInterfaceWhenThereIsOne) {
    struct Case {
        const char* what;
        uint32_t subIfUnit;
        uint16_t vid;
    } cases[] = {{"subIfUnit 0: the interface's VLAN", 0, 10}, {"subIfUnit 6: its own VLAN", kSubIf, 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        simClearHwCalls();
        HwArpNode* a = neighbour(hwStatusIdle);
        a->subIfUnit = c.subIfUnit;
        hwUpdateArpAdd(a);
        hwUpdateNd6Add(nd6(hwStatusIdle, c.subIfUnit));
        const auto v4 = callsOf(HW_OBJ_ROUTE4), v6 = callsOf(HW_OBJ_ROUTE6);
        ASSERT_EQ(v4.size(), 1u);
        ASSERT_EQ(v6.size(), 1u);
        EXPECT_EQ(beRead16(v4[0].data.data() + 78), c.vid);
        EXPECT_EQ(beRead16(v6[0].data.data() + 86), c.vid);
    }
}

TEST_F(NeighbourHw, AddOutcomes) {
    struct Case {
        const char* what;
        bool refuse, cardup;
        int result;
        uint8_t status, cardupAfter;
        int okDelta, errDelta;
    } cases[] = {
        {"accepted", false, false, 0, hwStatusOk, 0, 1, 0},
        {"refused", true, false, -1, hwStatusAddAbnormal, 0, 0, 1},
        {"card-up rewrite accepted: counted before", false, true, 0, hwStatusOk, 0, 0, 0},
        {"card-up rewrite refused", true, true, -1, hwStatusAddAbnormal, 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        platformConfig(c.refuse ? R"({"hardware": {"refuse": [{"objectId": 338}]}})"
                                : R"({"hardware": {"refuse": []}})");
        HwArpNode* a = neighbour(hwStatusIdle);
        a->cardupFlag = c.cardup;
        EXPECT_EQ(hwUpdateArpAdd(a), c.result);
        EXPECT_EQ(a->status, c.status);
        EXPECT_EQ(a->cardupFlag, c.cardupAfter);
        EXPECT_EQ(int(ghwRoute.hwOkArpCnt), c.okDelta);
        EXPECT_EQ(int(ghwRoute.hwErrArpCnt), c.errDelta);
    }
}

TEST_F(NeighbourHw, Nd6AddIgnoresTheAnswerAndCountsACardUpRewriteOnce) {
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 339, "count": 2}]}})");
    HwNd6Node* n = nd6(hwStatusIdle);
    EXPECT_EQ(hwUpdateNd6Add(n), 0);
    EXPECT_EQ(n->status, hwStatusOk);
    n->status = hwStatusIdle;
    n->cardupFlag = 1;
    EXPECT_EQ(hwUpdateNd6Add(n), 0);
    EXPECT_EQ(n->status, hwStatusOk);
    EXPECT_EQ(n->cardupFlag, 0);
    EXPECT_EQ(ghwRoute.hwOkNd6Cnt, 1u);
}

TEST_F(NeighbourHw, DeleteByStatus) {
    struct Case {
        const char* what;
        uint8_t status;
        bool call;
        uint8_t after;
        int okDelta, errDelta;
    } cases[] = {
        {"present", hwStatusOk, true, hwStatusIdle, -1, 0},
        {"delete failed before", hwStatusDelAbnormal, true, hwStatusIdle, -1, 0},
        {"add had failed", hwStatusAddAbnormal, false, hwStatusIdle, 0, -1},
        {"not in hardware", hwStatusIdle, false, hwStatusIdle, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        simClearHwCalls();
        logs.clear();
        ghwRoute.hwOkArpCnt = ghwRoute.hwOkNd6Cnt = 5;
        ghwRoute.hwErrArpCnt = ghwRoute.hwErrNd6Cnt = 5;
        HwArpNode* a = neighbour(c.status);
        HwNd6Node* n = nd6(c.status);
        EXPECT_EQ(hwUpdateArpDel(a), 0);
        EXPECT_EQ(hwUpdateNd6Del(n), 0);
        const auto v4 = callsOf(HW_OBJ_ROUTE4), v6 = callsOf(HW_OBJ_ROUTE6);
        ASSERT_EQ(v4.size(), c.call ? 1u : 0u);
        ASSERT_EQ(v6.size(), c.call ? 1u : 0u);
        if (c.call) {
            EXPECT_EQ(v4[0].data.at(86), 2) << "op delete";
            EXPECT_EQ(v6[0].data.at(94), 2) << "op delete";
        }
        EXPECT_EQ(a->status, c.after);
        EXPECT_EQ(n->status, c.after);
        EXPECT_EQ(int(ghwRoute.hwOkArpCnt) - 5, c.okDelta);
        EXPECT_EQ(int(ghwRoute.hwErrArpCnt) - 5, c.errDelta);
        EXPECT_EQ(int(ghwRoute.hwOkNd6Cnt) - 5, c.okDelta);
        EXPECT_EQ(int(ghwRoute.hwErrNd6Cnt) - 5, c.errDelta);
        if (c.status == hwStatusIdle) {
            EXPECT_TRUE(logged("del arp to hardware error,status 2 is error."));
            EXPECT_TRUE(logged("del nd6 to hardware error,status 2 is error."));
        }
    }
}

TEST_F(NeighbourHw, FailedVlanQuery) {
    platformConfig(R"({"interfaces": {"8": {"endType": 6, "fail": ["vlan"]}}})");
    HwArpNode* a = neighbour(hwStatusOk);
    a->ifUnit = 8;
    HwNd6Node* n = nd6(hwStatusOk);
    n->ifUnit = 8;

    // The IPv4 delete and both IPv6 writers give up without a call.
    EXPECT_EQ(hwUpdateArpDel(a), -1);
    EXPECT_EQ(hwUpdateNd6Add(n), -1);
    EXPECT_EQ(hwUpdateNd6Del(n), -1);
    EXPECT_TRUE(hwCalls().empty());
    EXPECT_EQ(a->status, hwStatusOk);
    EXPECT_EQ(n->status, hwStatusOk);

    // The IPv4 add goes on with VLAN 0.
    a->status = hwStatusIdle;
    EXPECT_EQ(hwUpdateArpAdd(a), 0);
    const auto calls = callsOf(HW_OBJ_ROUTE4);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(beRead16(calls[0].data.data() + 78), 0);
    EXPECT_TRUE(logged("[hwUpdateArpAdd]=>sysIndexTrans get vlan id failed."));
}

}  // namespace
