// Convergence of the incoming-label (ILM), pseudowire and tunnel entries
// through refused writes: the hardware, rebuilt from the accepted calls by the
// trace decoder, against what the kernel's and the platform's requests imply
// (mpls_view.h), never against the software's own tables.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "hwroute/abnormal.h"
#include "hwroute/flags.h"
#include "hwroute/mpls.h"
#include "hwroute/tables.h"
#include "mpls_view.h"
#include "scenario.h"

namespace {

constexpr uint32_t lbl(uint32_t label) { return label << 12 | 0x100 | 64; }

const char* const kGws[] = {"10.9.0.2", "10.9.0.3", "10.9.0.4"};
const char* const kMacs[] = {"02:00:00:00:00:0a", "02:00:00:00:00:0b"};
constexpr int kEntries = 5;  // of each kind; ILM entry 4 is on the point-to-point link

MplsMac macOf(const char* text) {
    unsigned v[6];
    std::sscanf(text, "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    return {uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]), uint8_t(v[3]), uint8_t(v[4]), uint8_t(v[5])};
}

// Requests go in through the intake (ILM entries, pseudowires, neighbours)
// and the exported entry points (tunnels); the same change goes to the view.
class ConvergeMpls : public Scenario {
protected:
    MplsView view;
    HwdState hw;
    std::size_t applied = 0;
    uint64_t malformedBefore = 0;

    void nextRow() {
        reinit({});
        platformConfig(R"({"hardware": {"refuse": []}})");
        simClearHwCalls();
        view = MplsView{};
        hw = HwdState{};
        applied = 0;
        malformedBefore = simHwMalformedCount();
    }
    void refuse(const char* rules) { platformConfig(std::string(R"({"hardware": {"refuse": )") + rules + "}}"); }

    void neigh(int g, int mac, bool del = false) {
        neighbour(kGws[g], kMacs[mac], del ? NL_DELNEIGH : NL_NEWNEIGH);
        if (del)
            view.neighbours.erase(ip4(kGws[g]));
        else
            view.neighbours[ip4(kGws[g])] = macOf(kMacs[mac]);
    }
    void ilm(int k, bool del = false) {
        const bool ptp = k == 4;
        const char* gw = ptp ? "10.8.0.2" : kGws[k % 3];
        const uint32_t label = 1000 + uint32_t(k);
        nlDeliver(nlMpls({.type = del ? NL_ILM_DEL : NL_ILM_ADD, .ifUnit = ptp ? kPtp : kEth, .nextHop = gw,
                          .family = 2, .flags = 0x01, .labelNum = 1, .swapLabel = lbl(label),
                          .labels = {lbl(label + 1000), 0, 0}}));
        if (del)
            view.ilms.erase(label);
        else
            view.ilms[label] = {ip4(gw), ptp};
    }
    void pseudowire(int k, bool del = false) {
        const uint16_t vfi = uint16_t(1 + k);
        nlDeliver(nlL2vpn({.type = del ? NL_L2VPN_DEL : NL_L2VPN_ADD, .vfiId = vfi, .vpnType = 2, .family = 2,
                           .cePort = 4, .rxInnerLabel = 300u + vfi, .nextHop = kGws[k % 3],
                           .txInnerLabel = 200u + vfi, .ceVid = 10}));
        if (del)
            view.pseudowires.erase(vfi);
        else
            view.pseudowires[vfi] = ip4(kGws[k % 3]);
    }
    // A tunnel into 198.51.(100+k).0/24 towards a neighbour on the local subnet.
    static HwRouteTunNode tunnelRequest(uint32_t subnet, uint32_t end) {
        HwRouteTunNode t{};
        t.tunId = 1;
        t.tunFamily = HW_AF_INET;
        t.encapsMethod = 4;
        BeWriter(t.nextHopSrc, 4).u32(ip4("10.9.0.1"));
        t.nexthopMask = 0xFFFFFF00;
        BeWriter(t.nextHopDst, 4).u32(end);
        BeWriter(t.dest, 4).u32(subnet);
        t.routeMask = 0xFFFFFF00;
        t.tunUnit = 40 + (subnet >> 8 & 0xff);
        t.routeFamily = HW_AF_INET;
        t.status = hwStatusIdle;
        return t;
    }
    void tunnel(int k, bool del = false) {
        const uint32_t subnet = ip4("198.51.100.0") + (uint32_t(k) << 8);
        HwRouteTunNode req = tunnelRequest(subnet, ip4(kGws[k % 3]));
        if (del) {
            if (hwRouteTunTableLookup(&req) != nullptr) hwRouteTunDel(&req);  // as the tunnel watch asks
            view.tunnels.erase(subnet);
        } else {
            hwRouteTunAdd(&req);
            view.tunnels[subnet] = ip4(kGws[k % 3]);
        }
    }
    // A worker pass; then the platform's tunnel software offers again the
    // tunnels it wants that were dropped for want of a neighbour.
    void step() {
        pass();
        for (const auto& [subnet, end] : view.tunnels) {
            HwRouteTunNode req = tunnelRequest(subnet, end);
            if (hwRouteTunTableLookup(&req) == nullptr) hwRouteTunAdd(&req);
        }
        for (; applied < hwCalls().size(); ++applied) hw.apply(decodedCall(hwCalls()[applied]));
    }
    // The ILM count is what the hardware holds, refusals or not.
    void expectCounts(const std::string& what) {
        for (; applied < hwCalls().size(); ++applied) hw.apply(decodedCall(hwCalls()[applied]));
        EXPECT_EQ(ghwRoute.hwOkIlmCnt, hw.ilms.size()) << what;
    }
    void expectConverged(const std::string& what) {
        platformConfig(R"({"hardware": {"refuse": []}})");
        for (int i = 0; i < 2 * int(HW_ABN_MAX_BACKOFF) + 4; ++i) step();
        const MplsView::Table have = mplsHardware(hw), want = view.expected();
        EXPECT_EQ(have, want) << what << "\nhardware:\n" << mplsDescribe(have) << "requests:\n" << mplsDescribe(want);
        expectCounts(what);
        EXPECT_EQ(ghwRoute.hwErrIlmCnt, 0u) << what;
        EXPECT_EQ(ghwRoute.swIlmCnt, view.ilms.size()) << what;
        EXPECT_EQ(ghwRoute.abnPendingCnt, 0u) << what;
        EXPECT_EQ(simHwMalformedCount(), malformedBefore) << what;
    }
    void allThree(int k, bool del = false) {
        ilm(k, del);
        pseudowire(k, del);
        tunnel(k, del);
    }
};

// Each row failed before its fix: a refused write was left as it was.
TEST_F(ConvergeMpls, RefusedWritesEndOnTheRequests) {
    const struct {
        const char* what;
        std::function<void()> steps;
    } rows[] = {
        {"an ILM entry whose delete is refused as its neighbour goes leaves on a retry",
         [&] {
             neigh(0, 0), ilm(0), step();
             refuse(R"([{"objectId": 157, "fromCall": 1, "count": 1}])");
             neigh(0, 0, true);
             expectCounts("still in hardware, still counted");
         }},
        {"a pseudowire whose delete is refused as its neighbour goes leaves on a retry",
         [&] {
             neigh(0, 0), pseudowire(0), step();
             refuse(R"([{"objectId": 141, "fromCall": 1, "count": 1}])");
             neigh(0, 0, true);
         }},
        {"a tunnel destroyed with its neighbour, its delete refused, leaves on a retry",
         [&] {
             neigh(0, 0), tunnel(0), step();
             refuse(R"([{"objectId": 338, "fromCall": 2, "count": 1}])");  // after the host entry's delete
             neigh(0, 0, true);
         }},
        {"a new MAC reaches the entries whose delete was refused in the change",
         [&] {
             neigh(0, 0), allThree(0), step();
             refuse(R"([{"objectId": 157, "fromCall": 1, "count": 1}, {"objectId": 141, "fromCall": 1, "count": 1},
                        {"objectId": 338, "fromCall": 1, "count": 1}])");
             neigh(0, 1);
         }},
        {"refused adds are written by a retry",
         [&] {
             neigh(0, 0), step();
             refuse(R"([{"objectId": 156, "fromCall": 1, "count": 1}, {"objectId": 140, "fromCall": 1, "count": 1},
                        {"objectId": 338, "fromCall": 1, "count": 1}])");
             allThree(0), ilm(4);
         }},
        {"refused deletes of the kernel and the platform leave nothing behind",
         [&] {
             neigh(0, 0), allThree(0), ilm(4), step();
             refuse(R"([{"objectId": 157, "fromCall": 1, "count": 2}, {"objectId": 141, "fromCall": 1, "count": 1},
                        {"objectId": 338, "fromCall": 1, "count": 1}])");
             allThree(0, true), ilm(4, true);
             expectCounts("refused deletes, still counted");
         }},
        {"entries that come while their neighbour's rewrite is refused are written by its retry",
         [&] {
             neigh(0, 0), step();
             refuse(R"([{"objectId": 338, "fromCall": 2, "count": 1}])");  // the change's host add
             neigh(0, 1), ilm(0), pseudowire(0);
         }},
        {"... or by its next change",
         [&] {
             neigh(0, 0), step();
             refuse(R"([{"objectId": 338, "fromCall": 2, "count": 1}])");
             neigh(0, 1), ilm(0), pseudowire(0), neigh(0, 0);
         }},
        {"a card-up rewrite counts each entry once; a refused one when its retry writes it",
         [&] {
             neigh(0, 0), neigh(1, 0), ilm(0), ilm(1), ilm(4), step();
             refuse(R"([{"objectId": 156, "fromCall": 1, "count": 1}])");
             ghwRoute.cardUpFlag = 1;
             step();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        nextRow();
        row.steps();
        expectConverged(row.what);
    }
}

// Random neighbours, ILM entries, pseudowires and tunnels, with the platform
// refusing windows of calls; once it accepts again, the hardware ends equal
// to what the requests left, and the ILM count to what the hardware holds.
class MplsRefusalConvergence : public ConvergeMpls, public ::testing::WithParamInterface<unsigned> {};

TEST_P(MplsRefusalConvergence, HardwareEndsEqualToTheRequests) {
    std::mt19937 rng(GetParam());
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const uint32_t freeIlm = hwPoolFreeCount(&ghwRoute.ilmPool), freeL2 = hwPoolFreeCount(&ghwRoute.l2vpnPool);
    const uint32_t freeTun = hwPoolFreeCount(&ghwRoute.tunPool), freeArp = hwPoolFreeCount(&ghwRoute.arpPool);
    char rules[96];
    const std::string seed = "seed " + std::to_string(GetParam());
    for (int i = 0; i < 300; ++i) {
        if (i % 20 == 0 && pick(4) != 0) {
            std::snprintf(rules, sizeof rules, R"([{"fromCall": %d, "count": %d}])", 1 + pick(5), 1 + pick(4));
            refuse(rules);
        }
        const int k = pick(kEntries), what = pick(9);
        if (what < 2)
            neigh(pick(3), pick(2), pick(3) == 0);
        else if (what < 4)
            ilm(k, pick(2) == 0);
        else if (what < 6)
            pseudowire(k, pick(2) == 0);
        else if (what < 8)
            tunnel(k, pick(2) == 0);
        else
            step();
        expectCounts(seed + " step " + std::to_string(i));
    }
    expectConverged(seed + ", refusals over");

    for (int k = 0; k < kEntries; ++k) allThree(k, true);
    for (int g = 0; g < 3; ++g) neigh(g, 0, true);
    expectConverged(seed + ", all withdrawn");
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.ilmPool), freeIlm);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.l2vpnPool), freeL2);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.tunPool), freeTun);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.arpPool), freeArp);
}

std::vector<unsigned> seeds() {
    std::vector<unsigned> out;
    for (unsigned s = 1; s <= 300; ++s) out.push_back(s);
    return out;
}

INSTANTIATE_TEST_SUITE_P(Seeds, MplsRefusalConvergence, ::testing::ValuesIn(seeds()));

}  // namespace
