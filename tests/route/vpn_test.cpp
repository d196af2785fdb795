// Labelled routes: the label part of a path and the counts private paths
// hold on the public route they ride on.
#include <cstring>
#include <functional>

#include "hwroute/neighbour.h"
#include "route_test.h"

namespace {

constexpr uint32_t kVrfPrivate = 5;

// A label stack entry: label, EXP 0, bottom of stack, TTL 64.
constexpr uint32_t lbl(uint32_t label) { return label << 12 | 0x100 | 64; }

struct Labels {
    uint8_t num = 2;
    uint32_t w[3] = {lbl(100), lbl(200), 0};
};

const Path kPublic{};  // 10.1.0.0/16 via 192.168.1.1
const Path kPrivate{.vrf = kVrfPrivate, .dest = "172.16.0.0", .len = 24, .gw = "192.168.2.2"};

class Vpn : public RouteTest {
protected:
    struct VReq : Req {
        VReq(const Path& p, const Labels& l) : Req(p) {
            n.mplsLabelNum = l.num;
            n.label1 = l.w[0];
            n.label2 = l.w[1];
            n.label3 = l.w[2];
        }
    };
    // A labelled add of `p`, riding on `pub` when given (IPv4 public route).
    static int vpnAdd(const Path& p, const Labels& l = {}, const Path* pub = nullptr) {
        VReq r(p, l);
        if (pub == nullptr) return hwRouteVpnAdd(&r.d, &r.n, 0, nullptr, nullptr);
        Req pr(*pub);
        return hwRouteVpnAdd(&r.d, &r.n, HW_AF_INET, &pr.d, &pr.n);
    }
    static int vpnDel(const Path& p, uint32_t label1 = lbl(100)) {
        VReq r(p, Labels{});
        r.n.label1 = label1;
        return hwRouteVpnDel(&r.d, &r.n);
    }
    // A neighbour learnt the way the kernel reports it (written as a host entry).
    static int arpAdd(const char* addr, uint32_t vrf = 0) {
        HwArpNode r{};
        r.ifUnit = 5;
        r.nextHop = ip4(addr);
        r.outPort = 3;
        r.vpnVrfid = vrf;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        std::memcpy(r.mac, mac, 6);
        r.status = hwStatusIdle;
        return hwArpAdd(&r);
    }
    static int arpDel(const char* addr, uint32_t vrf = 0) {
        HwArpNode r{};
        r.nextHop = ip4(addr);
        r.vpnVrfid = vrf;
        return hwArpDel(&r);
    }
    // Label counts of the route records written for a destination, in call order.
    std::vector<int> labelCounts(const char* subnet) const {
        std::vector<int> out;
        for (const Record& r : routeRecords())
            if (r.entry.addr == hwdAddrOf(subnet) && r.entry.kind == HwdEntryKind::Route) out.push_back(int(r.path.labels.size()));
        return out;
    }
};

// ---- Add ---------------------------------------------------------------------------

// Each row: the path's state before the add, the labels added, the branch
// taken, and the label count of the path's last record in hardware after
// the flush (an add never replaces a label part already in hardware; a
// revived one with other labels is rewritten).
TEST_F(Vpn, AddTakesTheBranchOfThePathsState) {
    struct Case {
        const char* what;
        std::function<void(Vpn*)> before;
        Labels labels;
        const char* line;
        uint32_t HwRouteGlobal::*counter;
        int labelsInHw;
    };
    const Labels other{1, {lbl(300), 0, 0}};
    const Labels nine{9, {lbl(1), lbl(2), lbl(3)}};
    const Case cases[] = {
        {"new path", [](Vpn*) {}, {}, "[hwRouteVpnAdd]=>vpn add detected,vrfId=0,dest=0xa010000",
         &HwRouteGlobal::vpnAddNormalCnt, 2},
        {"new path, nine labels", [](Vpn*) {}, nine, "[hwRouteVpnAdd]=>vpn add detected", &HwRouteGlobal::vpnAddNormalCnt,
         3},
        {"plain route in hardware", [this](Vpn*) { programmed(kPublic); }, {},
         "[hwRouteVpnAdd]=>route exist,add vpn:flag=", &HwRouteGlobal::vpnAddRtOtherCnt, 2},
        {"label part in hardware, other labels", [](Vpn*) { vpnAdd(kPublic); hwRouteUpdate(); }, other,
         "[hwRouteVpnAdd]=>vpn exist(vpn hw success):flag=", &HwRouteGlobal::vpnAddVpnHwSuccessCnt, 2},
        {"label part pending", [](Vpn*) { vpnAdd(kPublic); }, other, "[hwRouteVpnAdd]=>vpn exist:flag=",
         &HwRouteGlobal::vpnAddVpnExistCnt, 2},
        {"deleted, same labels", [](Vpn*) { vpnAdd(kPublic); hwRouteUpdate(); del(kPublic); }, {},
         "[hwRouteVpnAdd]=>route exist (mpls lable same add to hw)", &HwRouteGlobal::vpnAddRtSameLabelCnt, 2},
        {"deleted, other labels", [](Vpn*) { vpnAdd(kPublic); hwRouteUpdate(); del(kPublic); }, other,
         "[hwRouteVpnAdd]=>route exist (mpls lable diffirent add to hw)", &HwRouteGlobal::vpnAddRtNosameLabelCnt, 1},
        {"label withdrawn, same labels", [](Vpn*) { vpnAdd(kPublic); hwRouteUpdate(); vpnDel(kPublic); }, {},
         "[hwRouteVpnAdd]=>vpn exist (mpls lable same add to hw)", &HwRouteGlobal::vpnAddVpnSameLabelCnt, 2},
        {"label withdrawn, other labels", [](Vpn*) { vpnAdd(kPublic); hwRouteUpdate(); vpnDel(kPublic); }, other,
         "[hwRouteVpnAdd]=>vpn exist (mpls lable diffirent add to hw)", &HwRouteGlobal::vpnAddVpnNosameLabelCnt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        neighbour("192.168.1.1");
        c.before(this);
        ASSERT_EQ(vpnAdd(kPublic, c.labels), 0);
        EXPECT_EQ(ghwRoute.*c.counter, 1u);
        EXPECT_TRUE(logged(c.line));
        hwRouteUpdate();
        HwRouteNexthop* nh = find(kPublic);
        ASSERT_NE(nh, nullptr);  // a revived path is not freed by the flush
        EXPECT_EQ(nh->flag & (NH_HW_OK | NH_VPN | NH_OP_DEL), NH_HW_OK | NH_VPN);
        ASSERT_FALSE(labelCounts("10.1.0.0").empty());
        EXPECT_EQ(labelCounts("10.1.0.0").back(), c.labelsInHw);
    }
}

// Labels changed while the neighbour is away: the path is no longer in
// hardware, so the new labels wait with it and are what its neighbour's
// return writes.
TEST_F(Vpn, LabelChangeWhileTheNeighbourIsLostIsWrittenOnItsReturn) {
    ASSERT_EQ(arpAdd("192.168.1.1"), 0);
    ASSERT_EQ(vpnAdd(kPublic), 0);
    hwRouteUpdate();
    ASSERT_EQ(arpDel("192.168.1.1"), 0);
    hwRouteUpdate();
    ASSERT_EQ(vpnAdd(kPublic, Labels{1, {lbl(300), 0, 0}}), 0);
    EXPECT_EQ(ghwRoute.vpnAddRtOtherCnt, 1u);
    ASSERT_EQ(arpAdd("192.168.1.1"), 0);
    hwRouteUpdate();
    EXPECT_EQ(labelCounts("10.1.0.0"), (std::vector<int>{2, 2, 1}));  // added, removed, added again
    EXPECT_EQ(find(kPublic)->label1, lbl(300));
}

// ---- Delete ------------------------------------------------------------------------

// Requests that find nothing to act on are refused with their line and
// change nothing: the label part stays in hardware, no private path appears.
TEST_F(Vpn, RequestsThatFindNothingAreRefusedWithTheirLine) {
    neighbour("192.168.1.1");
    ASSERT_EQ(vpnAdd(kPublic), 0);
    hwRouteUpdate();
    const Path noDest{.dest = "10.9.0.0"}, noNexthop{.gw = "192.168.1.9"};
    HwRoute6Dest d6{};
    HwRoute6Nexthop n6{};
    d6.destIpAddr[0] = 0x20;
    d6.prefixLen = 64;
    const struct {
        std::function<int()> act;
        const char* line;
    } cases[] = {
        {[] { return vpnDel({.gw = "0.0.0.0"}); }, "[hwRouteVpnDel]=>ERROR:receive invalid message."},
        {[] { return vpnDel({.dest = "10.2.0.0"}); }, "[hwRouteVpnDel]=>ERROR:no found dest entry."},
        {[] { return vpnDel({.gw = "192.168.1.2"}); }, "[hwRouteVpnDel]=>ERROR:no found nexthop entry."},
        {[] { return vpnDel(kPublic, lbl(101)); }, "[hwRouteVpnDel]=>ERROR:no found VPN label entry."},
        {[&] { return vpnAdd(kPrivate, {}, &noDest); }, "[hwRouteVpnAdd]=>ERROR: no public dest found."},
        {[&] { return vpnAdd(kPrivate, {}, &noNexthop); }, "[hwRouteVpnAdd]=>ERROR: no public nhop found."},
        // The IPv6 twins refuse the same way, with their own counters and lines.
        {[&] { return hwRoute6VpnDel(&d6, &n6); }, "[hwRoute6VpnDel]=>ERROR:receive invalid message."},
        {[&] { return n6.nextHop[15] = 1, hwRoute6VpnDel(&d6, &n6); }, "[hwRoute6VpnDel]=>ERROR:no found dest entry."},
        {[&] {
             HwRoute6Dest pd = d6;
             HwRoute6Nexthop pn = n6;
             return hwRoute6VpnAdd(&d6, &n6, HW_AF_INET6, &pd, &pn);
         },
         "[hwRoute6VpnAdd]=>ERROR: no public dest6 found."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.act(), -1) << c.line;
        EXPECT_TRUE(logged(c.line)) << c.line;
    }
    EXPECT_EQ(ghwRoute.vpn6DelParamErrCnt + ghwRoute.vpn6DelNoDestEntryErrCnt + ghwRoute.vpn6AddNoPubDst6ErrCnt, 3u);
    EXPECT_EQ(find(kPrivate), nullptr);
    EXPECT_EQ(ghwRoute.vpnAddCnt, 1u) << "only the first add";
    EXPECT_EQ(find(kPublic)->flag & NH_VPN_DELETED, 0u);
}

// Only the label value counts in a delete: other TTL and EXP bits still match.
TEST_F(Vpn, DeleteMatchesTheLabelValueAndRefusesASecondDelete) {
    neighbour("192.168.1.1");
    ASSERT_EQ(vpnAdd(kPublic), 0);
    hwRouteUpdate();
    EXPECT_EQ(vpnDel(kPublic, (100u << 12) | 0xE00 | 1), 0);
    EXPECT_EQ(vpnDel(kPublic), -1);
    EXPECT_TRUE(logged("[hwRouteVpnDel]=>ERROR:vpn entry delete again."));
    hwRouteUpdate();
    EXPECT_EQ(find(kPublic)->mplsLabelNum, 0);
    EXPECT_EQ(find(kPublic)->flag & (NH_HW_OK | NH_VPN), NH_HW_OK);
}

TEST_F(Vpn, LabelsThatNeverReachedHardwareAreDroppedAtOnce) {
    ASSERT_EQ(vpnAdd(kPublic), 0);  // no neighbour: pending
    ASSERT_EQ(vpnDel(kPublic), 0);
    EXPECT_TRUE(logged("vpn is not normal flag="));
    HwRouteNexthop* nh = find(kPublic);
    ASSERT_NE(nh, nullptr);
    EXPECT_EQ(nh->mplsLabelNum, 0);
    EXPECT_EQ(nh->label1, 0u);
    EXPECT_EQ(nh->flag & (NH_OP_VPN_ADD | NH_VPN | NH_VPN_DELETED), 0u);
}

// ---- Public routes -----------------------------------------------------------------

TEST_F(Vpn, PublicLabelPartWaitsForItsLastLabelledUser) {
    neighbour("192.168.1.1");
    neighbour("192.168.2.2");
    ASSERT_EQ(vpnAdd(kPublic), 0);
    hwRouteUpdate();
    ASSERT_EQ(vpnAdd(kPrivate, {}, &kPublic), 0);
    hwRouteUpdate();
    ASSERT_EQ(vpnDel(kPublic), 0);
    EXPECT_TRUE(logged("[hwRouteVpnDel]=>privateMplsRefCnt is 1 public vpn can not delete."));
    EXPECT_TRUE(find(kPublic)->flag & NH_WAIT_PRIVATE_VPN);
    hwRouteUpdate();  // a flush of the public destination keeps it waiting
    ASSERT_EQ(vpnDel(kPrivate), 0);
    EXPECT_EQ(ghwRoute.vpnDelNoSucPublic4DelCnt, 1u);
    hwRouteUpdate();
    EXPECT_EQ(find(kPublic)->flag & (NH_VPN | NH_WAIT_PRIVATE_VPN), 0u);
    EXPECT_EQ(find(kPublic)->privateMplsRefCnt, 0u);
}

// Regression: the neighbour count stayed raised after the private path went,
// so the public route's own neighbour delete was deferred for ever.
TEST_F(Vpn, PrivateDeleteLetsThePublicNeighbourGo) {
    ASSERT_EQ(arpAdd("192.168.1.1"), 0);
    HwRouteNexthop* pub = programmed(kPublic);
    const Path privateSameGw{.vrf = kVrfPrivate, .dest = "172.16.0.0", .len = 24};
    ASSERT_EQ(add(privateSameGw, HW_AF_INET, pub), 0);
    hwRouteUpdate();
    ASSERT_EQ(del(privateSameGw), 0);
    hwRouteUpdate();
    ASSERT_EQ(arpDel("192.168.1.1"), 0);
    EXPECT_EQ(ghwRoute.arpDelPrivateRefCnt, 0u);
    EXPECT_TRUE(find(kPublic)->flag & NH_NEIGH_LOST);
}

// Regression: the wait bits were cleared with the operation bits by any
// flush of the public destination, and the last private delete never
// completed the public one.
TEST_F(Vpn, DeferredPublicDeleteSurvivesAFlushOfItsDestination) {
    neighbour("192.168.1.1");
    neighbour("192.168.1.2");
    neighbour("192.168.2.2");
    HwRouteNexthop* pub = programmed(kPublic);
    ASSERT_EQ(add(kPrivate, HW_AF_INET, pub), 0);
    hwRouteUpdate();
    ASSERT_EQ(del(kPublic), 0);
    programmed(Path{.gw = "192.168.1.2"});  // the public destination is flushed again
    ASSERT_EQ(del(kPrivate), 0);
    hwRouteUpdate();
    EXPECT_EQ(ghwRoute.rtDelNoSucPublic4DelCnt, 1u);
    EXPECT_EQ(find(kPublic), nullptr);
}

// An imbalance is shown, not hidden by a floor or a wrap.
TEST_F(Vpn, ACountFoundAtZeroIsCountedAndLogged) {
    neighbour("192.168.1.1");
    neighbour("192.168.2.2");
    HwRouteNexthop* pub = programmed(kPublic);
    ASSERT_EQ(vpnAdd(kPrivate, {}, &kPublic), 0);
    pub->privateRefCnt = 0;  // lost somewhere else
    ASSERT_EQ(del(kPrivate), 0);
    EXPECT_EQ(ghwRoute.publicRefImbalanceCnt, 1u);
    EXPECT_TRUE(logged("public privateRefCnt already 0 while a private path holds it."));
    EXPECT_EQ(pub->privateRefCnt, 0u);
}

// Every order of public add/delete, private add/delete and the two
// neighbours' add/delete (each add before its delete), with a flush after
// each event: a private path always points at a live public route (before
// and after the flush), a public route without users holds no counts, and
// everything goes in the end.
TEST_F(Vpn, PublicCountsBalanceInEveryOrderOfEvents) {
    const std::function<void()> run[8] = {
        [] { add(kPublic); },        [] { del(kPublic); },
        [] { vpnAdd(kPrivate, {}, &kPublic); }, [] { del(kPrivate); },
        [] { arpAdd("192.168.1.1"); }, [] { arpDel("192.168.1.1"); },
        [] { arpAdd("192.168.2.2"); }, [] { arpDel("192.168.2.2"); },
    };
    checkPublicCountsInEveryOrder<HwRouteNexthop>(
        [this] { reinit(HwTestSizes{}); }, run, [] { return find(kPublic); }, [] { return find(kPrivate); },
        {&ghwRoute.destPool, &ghwRoute.nexthopPool, &ghwRoute.arpPool},
        [] { return ghwRoute.pendRouteCnt + ghwRoute.readyRouteCnt; });
}

}  // namespace
