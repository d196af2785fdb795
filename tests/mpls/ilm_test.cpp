// MPLS incoming-label entries: add and delete handling, the hardware entry
// bytes of objects 156 and 157, and the status moves of the writers.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hwroute/abnormal.h"
#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwroute/mpls.h"
#include "hwroute/neighbour.h"
#include "hwroute/tables.h"
#include "hwtest.h"

namespace {

constexpr uint32_t lbl(uint32_t label, uint32_t exp = 0, uint32_t ttl = 64) {
    return label << 12 | exp << 9 | 0x100 | ttl;
}

class Ilm : public HwTest {
protected:
    // Units 5 (Ethernet, VLAN 10), 6 (point to point, VLAN 30), 8 (Ethernet, VLAN 20).
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {
            "5": {"endType": 6, "operState": 1, "port": 3, "vlan": 10, "mac": "02:00:00:00:00:05"},
            "6": {"endType": 22, "operState": 1, "port": 4, "vlan": 30, "mac": "02:00:00:00:00:06"},
            "8": {"endType": 6, "operState": 1, "port": 9, "vlan": 20, "mac": "02:00:00:00:00:08"}},
            "systemMac": "02:00:00:00:00:01"})");
    }
    // A transit entry towards 192.168.1.1 on unit 5: in label 1000, out labels 2000 and 3000.
    static HwRouteIlmNode transit() {
        HwRouteIlmNode r{};
        r.ifUnit = 5;
        r.nextHop = ip4("192.168.1.1");
        r.swapLabel = lbl(1000);
        r.mplsLabel = lbl(2000, 5, 9);
        r.mplsLabel2 = lbl(3000, 0, 255);
        r.mplsLabelNum = 2;
        r.ilmFlags = 0x01;
        r.status = hwStatusIdle;
        return r;
    }
    static int add(HwRouteIlmNode r) { return hwRouteIlmAdd(&r); }
    static int del(HwRouteIlmNode r) { return hwRouteIlmDel(&r); }
    static HwRouteIlmNode* stored(HwRouteIlmNode r) { return hwRouteIlmTableLookup(&r); }
    static int arpAdd(const char* addr, uint32_t unit = 5) {
        HwArpNode r{};
        r.ifUnit = r.subIfUnit = unit;
        r.nextHop = ip4(addr);
        r.outPort = 3;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        std::memcpy(r.mac, mac, 6);
        r.status = hwStatusIdle;
        return hwArpAdd(&r);
    }
    static int arpDel(const char* addr) {
        HwArpNode r{};
        r.nextHop = ip4(addr);
        return hwArpDel(&r);
    }
    int ilmCalls(uint32_t objectId) const {
        int n = 0;
        for (const SimHwCall& c : hwCalls()) n += c.objectId == objectId;
        return n;
    }
    std::vector<uint8_t> lastIlmCall() const {
        for (auto it = hwCalls().rbegin(); it != hwCalls().rend(); ++it)
            if (it->objectId == HW_OBJ_ILM_ADD || it->objectId == HW_OBJ_ILM_DEL) return it->data;
        return {};
    }
};

#define EXPECT_HEX(actual, hex)                                                                         \
    do {                                                                                                \
        const std::vector<uint8_t> e_ = hexBytes(hex), a_ = (actual);                                   \
        EXPECT_EQ(a_, e_) << "actual:\n" << hexDump(a_) << "\nexpected:\n" << hexDump(e_);              \
    } while (0)

// Header 0-19, next-hop record 20-83, one 8-byte element per outgoing label.
TEST_F(Ilm, HardwareEntryFollowsTheDocumentedLayout) {
    ASSERT_EQ(arpAdd("192.168.1.1"), 0);
    HwRouteIlmNode withInVlan = transit();
    withInVlan.inIfUnit = 8;
    ASSERT_EQ(add(withInVlan), 0);
    EXPECT_HEX(lastIlmCall(),
               "00000000 00000001 00000000 000003e8 0014 00 01"   // vrfid flags - inLabel inVid - 1
               "00000000 c0a80101 00000000 00000000 00000000"    // flags nexthopIp
               "00000000 00000000 00000000 00000000"             // request bytes
               "00000003 00000005 001122334455 000a"              // port ipPort nextHopMac vid
               "020000000005 00 02 00000000"                      // srcMac op mplsLabelNum protocol
               "09 05 0000 000007d0  ff 00 0000 00000bb8");       // ttl exp - label, twice

    // Three labels on a point-to-point unit: port and ipPort are the unit.
    HwRouteIlmNode ptp = transit();
    ptp.ifUnit = 6;
    ptp.nextHop = ip4("10.9.9.9");
    ptp.swapLabel = lbl(7);
    ptp.mplsLabel3 = lbl(4000, 7, 1);
    ptp.mplsLabelNum = 3;
    ASSERT_EQ(add(ptp), 0);
    EXPECT_HEX(lastIlmCall(),
               "00000000 00000001 00000000 00000007 0000 00 01"
               "00000000 0a090909 00000000 00000000 00000000"
               "00000000 00000000 00000000 00000000"
               "00000006 00000006 000000000000 001e"
               "020000000006 00 03 00000000"
               "09 05 0000 000007d0  ff 00 0000 00000bb8  01 07 0000 00000fa0");

    // No next hop, no labels: 84 bytes, leaving through its unit's VLAN.
    HwRouteIlmNode local{};
    local.ifUnit = 5;
    local.swapLabel = lbl(8);
    local.status = hwStatusIdle;
    ASSERT_EQ(add(local), 0);
    EXPECT_HEX(lastIlmCall(),
               "00000000 00000000 00000000 00000008 0000 00 01"
               "00000000 00000000 00000000 00000000 00000000"
               "00000000 00000000 00000000 00000000"
               "00000000 00000000 000000000000 000a"
               "020000000005 00 00 00000000");
}

TEST_F(Ilm, AddTakesTheBranchOfTheEntry) {
    struct Case {
        const char* what;
        const char* config;
        bool neighbour;
        HwRouteIlmNode request;
        int result;
        const char* line;
        int writes;       // object 156 calls
        uint8_t status;   // of the stored record; 0: none stored
    };
    HwRouteIlmNode invalid = transit();
    invalid.ifUnit = 0;
    HwRouteIlmNode nonTransit = transit();
    nonTransit.ilmFlags = 0;
    nonTransit.ifUnit = 0;
    HwRouteIlmNode ptp = transit();
    ptp.ifUnit = 6;
    HwRouteIlmNode unknownUnit = transit();
    unknownUnit.ifUnit = 77;
    const Case cases[] = {
        {"transit without interfaces", "{}", true, invalid, -1, "ERROR: hwRouteIlmAdd receive invalid message.", 0, 0},
        {"not transit", "{}", false, nonTransit, 0, "=>is not p node,notify route to hardware.", 1, hwStatusOk},
        {"point to point", "{}", false, ptp, 0, "=>ILM add detected,add pos route!.", 1, hwStatusOk},
        {"neighbour known", "{}", true, transit(), 0, "=>nextHop mac exist,notify route to hardware.", 1, hwStatusOk},
        {"neighbour unknown", "{}", false, transit(), 0, "=>nextHop mac not exist, send icmp echo request msg.", 0,
         hwStatusWait},
        {"unknown interface", R"({"interfaces": {"77": {"fail": ["endType"]}}})", false, unknownUnit, -1,
         "=>ILM add detected,get end type error.", 0, hwStatusIdle},
        {"hardware refuses", R"({"hardware": {"refuse": [{"objectId": 156, "fromCall": 1, "count": 1}]}})", true,
         transit(), 0, "=>add Ilm route on hardware error.", 1, hwStatusAddAbnormal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.neighbour) {
            ASSERT_EQ(arpAdd("192.168.1.1"), 0);
        }
        platformConfig(c.config);
        EXPECT_EQ(add(c.request), c.result);
        EXPECT_TRUE(logged(c.line));
        EXPECT_EQ(ilmCalls(HW_OBJ_ILM_ADD), c.writes);
        HwRouteIlmNode* s = stored(c.request);
        EXPECT_EQ(s == nullptr ? 0 : s->status, c.status);
        EXPECT_EQ(ghwRoute.swIlmCnt, c.status == 0 ? 0u : 1u);
        EXPECT_EQ(ghwRoute.pendIlmCnt, c.status == hwStatusWait ? 1u : 0u);
        EXPECT_EQ(ghwRoute.hwOkIlmCnt, c.status == hwStatusOk ? 1u : 0u);
        EXPECT_EQ(ghwRoute.hwErrIlmCnt, c.status == hwStatusAddAbnormal ? 1u : 0u);
        EXPECT_EQ(probes.size(), c.status == hwStatusWait ? 1u : 0u);
    }
}

TEST_F(Ilm, RepeatedAddsAndAFullPoolChangeNothing) {
    HwTestSizes one;
    one.ilmNum = 1;
    reinit(one);
    ASSERT_EQ(add(transit()), 0);
    HwRouteIlmNode sameLabels = transit();
    sameLabels.swapLabel = lbl(1000, 3, 1);  // EXP and TTL are not part of the key
    sameLabels.mplsLabel = lbl(2000, 0, 2);
    EXPECT_EQ(add(sameLabels), 0);
    EXPECT_TRUE(logged("[hwRouteIlmAdd]=>ERROR: hwRouteIlmAdd route exist."));
    HwRouteIlmNode other = transit();
    other.swapLabel = lbl(1001);
    EXPECT_EQ(add(other), -1);
    EXPECT_TRUE(logged("[hwRouteIlmAdd]=>ERROR: hwRouteIlmAdd node alloc fail."));
    EXPECT_EQ(ghwRoute.swIlmCnt, 1u);
    EXPECT_EQ(ghwRoute.pendIlmCnt, 1u);
    EXPECT_EQ(stored(other), nullptr);
    EXPECT_EQ(del(transit()), 0);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.ilmPool), 1u);
}

TEST_F(Ilm, DeleteByStatus) {
    struct Case {
        const char* what;
        bool neighbour;
        const char* refuse;  // hardware refusal set before the delete
        int result;
        int removes;         // object 157 calls
        bool kept;
    };
    const Case cases[] = {
        {"waiting: no call", false, nullptr, 0, 0, false},
        {"in hardware", true, nullptr, 0, 1, false},
        {"delete refused: freed, its delete kept", true,
         R"({"hardware": {"refuse": [{"objectId": 157, "fromCall": 1, "count": 1}]}})", -1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.neighbour) {
            ASSERT_EQ(arpAdd("192.168.1.1"), 0);
        }
        ASSERT_EQ(add(transit()), 0);
        if (c.refuse != nullptr) platformConfig(c.refuse);
        EXPECT_EQ(del(transit()), c.result);
        EXPECT_EQ(ilmCalls(HW_OBJ_ILM_DEL), c.removes);
        EXPECT_EQ(stored(transit()), nullptr);
        EXPECT_EQ(ghwRoute.pendIlmCnt, 0u);
        EXPECT_EQ(ghwRoute.hwOkIlmCnt, c.kept ? 1u : 0u) << "still in hardware";
    }
    // The refused one's delete goes out again with the next pass, with the same bytes.
    const std::vector<uint8_t> refused = lastIlmCall();
    hwAbnormalRetry();
    EXPECT_EQ(ilmCalls(HW_OBJ_ILM_DEL), 2);
    EXPECT_EQ(lastIlmCall(), refused);
    EXPECT_EQ(ghwRoute.hwOkIlmCnt + ghwRoute.hwErrIlmCnt, 0u);
    EXPECT_EQ(del(transit()), -1);
    EXPECT_TRUE(logged("[hwRouteIlmDel]=>ERROR:no found Ilm entry."));
}

// The record moves as the writers say, whatever the order of calls.
TEST_F(Ilm, WritersMoveTheStatus) {
    struct Case {
        uint8_t before;
        bool add;
        bool refused;
        uint8_t after;
        int calls;
    };
    const Case cases[] = {
        {2, true, false, 1, 1}, {4, true, false, 1, 1}, {2, true, true, 4, 1}, {5, true, false, 1, 1},
        {1, true, false, 1, 0}, {3, true, false, 3, 0}, {1, false, false, 2, 1}, {5, false, true, 5, 1},
        {4, false, false, 2, 0}, {2, false, false, 2, 0}, {3, false, false, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.before) + (c.add ? " add" : " delete"));
        SetUp();
        if (c.refused) platformConfig(R"({"hardware": {"refuse": [{"objectId": 156}, {"objectId": 157}]}})");
        HwRouteIlmNode r = transit();
        r.status = c.before;
        if (c.add)
            hwUpdateIlmRouteAdd(&r);
        else
            hwUpdateIlmRouteDel(&r);
        EXPECT_EQ(r.status, c.after);
        EXPECT_EQ(hwCalls().size(), std::size_t(c.calls));
    }
}

// A transit entry without interface: its end type cannot be asked, so it is
// stored without waiting; its neighbour's arrival still writes it, and the
// entry learns the neighbour's interface. (Waiting for and following the
// neighbour: the convergence scenarios.)
TEST_F(Ilm, EntryWithoutInterfaceIsWrittenByItsNeighbour) {
    HwRouteIlmNode noUnit = transit();
    noUnit.ifUnit = 0;
    noUnit.inIfUnit = 8;
    ASSERT_EQ(add(noUnit), -1);
    ASSERT_EQ(stored(noUnit)->status, hwStatusIdle);
    ASSERT_EQ(arpAdd("192.168.1.1"), 0);
    EXPECT_EQ(ilmCalls(HW_OBJ_ILM_ADD), 1);
    EXPECT_EQ(stored(noUnit)->ifUnit, 5u);
}

// Both ILM lists stay in descending next-hop order with equal next hops in
// arrival order, and every stored entry is found by its key, through random
// churn over few next hops (long runs of equals) and over many (many groups).
// The model is a plain vector kept in that order.
TEST_F(Ilm, ListsKeepTheirOrderAndLookupsFindEveryEntryThroughChurn) {
    for (const uint32_t gateways : {3u, 1000u}) {
        SCOPED_TRACE(gateways);
        HwTestSizes sizes;
        sizes.ilmNum = 400;
        reinit(sizes);
        std::mt19937 rng(gateways);
        std::vector<HwRouteIlmNode*> table, pend;
        auto modelInsert = [](std::vector<HwRouteIlmNode*>& m, HwRouteIlmNode* n) {
            m.insert(std::find_if(m.begin(), m.end(), [n](const HwRouteIlmNode* r) { return r->nextHop < n->nextHop; }),
                     n);
        };
        auto same = [](HwListLink* head, const std::vector<HwRouteIlmNode*>& m, bool pendList) {
            std::vector<HwRouteIlmNode*> seen;
            for (HwListLink* l = head->next; l != head; l = l->next)
                seen.push_back(pendList ? ownerOf<&HwRouteIlmNode::pendLink>(l) : ownerOf<&HwRouteIlmNode::link>(l));
            return seen == m;
        };
        uint32_t label = 16;
        for (int step = 0; step < 4000; ++step) {
            const uint32_t op = rng() % 4;
            if (op < 2 && table.size() < 400) {
                HwRouteIlmNode* n = hwRouteIlmNodeAlloc();
                ASSERT_NE(n, nullptr);
                *n = HwRouteIlmNode{};
                n->nextHop = 0x0a000000u + rng() % gateways;
                n->swapLabel = lbl(label++);
                hwRouteIlmTableAdd(n);
                modelInsert(table, n);
                if (op == 1) {
                    hwRouteIlmTablePendAdd(n);
                    modelInsert(pend, n);
                }
            } else if (!table.empty()) {
                HwRouteIlmNode* n = table[rng() % table.size()];
                if (op == 2 && hwRouteIlmPending(n)) {
                    hwRouteIlmTablePendDelete(n);
                    pend.erase(std::find(pend.begin(), pend.end(), n));
                    continue;
                }
                if (hwRouteIlmPending(n)) {
                    hwRouteIlmTablePendDelete(n);
                    pend.erase(std::find(pend.begin(), pend.end(), n));
                }
                hwRouteIlmTableDelete(n);
                table.erase(std::find(table.begin(), table.end(), n));
                hwRouteIlmNodeFree(n);
            }
            if (step % 97 == 0 || step == 3999) {
                ASSERT_TRUE(same(&ghwRoute.ilmList, table, false)) << "step " << step;
                ASSERT_TRUE(same(&ghwRoute.ilmPendList, pend, true)) << "step " << step;
                for (HwRouteIlmNode* n : table) {
                    HwRouteIlmNode key = *n;
                    key.swapLabel |= 0xfff;  // EXP, bottom and TTL bits are not part of the key
                    ASSERT_EQ(hwRouteIlmTableLookup(&key), n);
                    ASSERT_EQ(hwRouteIlmPending(n), std::find(pend.begin(), pend.end(), n) != pend.end());
                }
            }
        }
    }
}

}  // namespace
