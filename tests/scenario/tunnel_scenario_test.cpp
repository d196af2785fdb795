// Tunnels: requests through the exported entry points, neighbours and routes
// from datagrams, and the exact tunnel entries the simulated hardware got.
// Expected buffers are written from the documented tunnel entry layout
// (IPv4 entry 92 bytes, IPv6 entry 100 bytes), not from the builders.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/mpls.h"
#include "hwroute/platform.h"
#include "hwroute/records.h"
#include "hwroute/tables.h"
#include "builders.h"
#include "scenario.h"
#include "tunmsg.h"

namespace {

constexpr uint32_t kTunUnit = 40;
const char* const kMac2 = "02:00:00:00:00:02";
const uint8_t kMac2Bytes[6] = {2, 0, 0, 0, 0, 2};

void addrBytes(const char* text, uint8_t* out16) { std::memcpy(out16, hwdAddrOf(text).data(), 16); }

uint32_t family(const char* text) { return std::strchr(text, ':') != nullptr ? HW_AF_INET6 : HW_AF_INET; }

// A tunnel request as the platform hands it over: endpoints src/dst with the
// local subnet's mask (IPv4 mask or IPv6 prefix length), the routed prefix.
HwRouteTunNode tunnel(const char* src, uint32_t nexthopMask, const char* dst, const char* dest, uint32_t routeMask,
                      uint32_t unit = kTunUnit) {
    HwRouteTunNode t{};
    t.tunId = 1;
    t.tunFamily = uint8_t(family(src));
    t.encapsMethod = 4;
    addrBytes(src, t.nextHopSrc);
    t.nexthopMask = nexthopMask;
    addrBytes(dst, t.nextHopDst);
    addrBytes(dest, t.dest);
    t.routeMask = routeMask;
    t.tunUnit = unit;
    t.routeFamily = uint16_t(family(dest));
    t.status = hwStatusIdle;
    return t;
}

// Field writers over an expected buffer, at the documented offsets.
void putAddr(std::vector<uint8_t>& b, std::size_t at, const char* text, std::size_t len) {
    std::memcpy(&b[at], hwdAddrOf(text).data(), len);
}

struct Hop {
    const char* address;
    std::size_t addrLen;  // 4 or 16 bytes of nexthopIp
    uint32_t port, ipPort;
    const uint8_t* mac;
    uint8_t op;
};

// IPv4 tunnel entry: header 0..27, record at 28.
std::vector<uint8_t> tun4Entry(const char* subnet, uint32_t mask, uint8_t num, uint32_t ifIndex, const Hop& h) {
    std::vector<uint8_t> b(92, 0);
    putAddr(b, 8, subnet, 4);
    putBe32(b, 12, mask);
    b[16] = num;
    b[19] = 23;
    putBe32(b, 20, ifIndex);
    putBe32(b, 28, 0x08);
    putAddr(b, 32, h.address, h.addrLen);
    putBe32(b, 64, h.port);
    putBe32(b, 68, h.ipPort);
    std::memcpy(&b[72], h.mac, 6);
    b[86] = h.op;
    return b;
}

// IPv6 tunnel entry: header 0..35, record at 36.
std::vector<uint8_t> tun6Entry(const char* subnet, uint8_t prefixLen, uint8_t num, uint32_t ifIndex, const Hop& h) {
    std::vector<uint8_t> b(100, 0);
    putAddr(b, 8, subnet, 16);
    b[24] = prefixLen;
    b[25] = num;
    b[27] = 25;
    putBe32(b, 28, ifIndex);
    putBe32(b, 36, 0x08);
    putAddr(b, 40, h.address, h.addrLen);
    putBe32(b, 72, h.port);
    putBe32(b, 76, h.ipPort);
    std::memcpy(&b[80], h.mac, 6);
    b[94] = h.op;
    return b;
}

class TunnelScenario : public Scenario {
protected:
    // An IPv6 neighbour resolved on the Ethernet port, entered in its table
    // (the IPv6 neighbour handler is not part of this suite).
    HwNd6Node* nd6(const char* addr, const uint8_t* mac) {
        HwNd6Node* n = hwNd6NodeAlloc();
        n->ifUnit = kEth;
        addrBytes(addr, n->nextHop);
        n->outPort = 7;
        std::memcpy(n->macAddr, mac, 6);
        n->status = hwStatusOk;
        hwNd6TableAdd(n);
        return n;
    }
    HwRouteTunNode* find(const HwRouteTunNode& req) { return hwRouteTunTableLookup(&req); }
    // A tunnel bound to the neighbour 10.9.0.2 and one carried by 10.20.0.0/16.
    void directAndRouted(HwRouteTunNode* direct, HwRouteTunNode* routed) {
        neighbour("10.9.0.2", kMac2);
        neighbour("10.9.0.9", "02:00:00:00:00:09");
        route(NL_NEWROUTE, "10.20.0.0", 16, "10.9.0.9", kEth);
        pass();
        *direct = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.100.0", 0xFFFFFF00);
        *routed = tunnel("10.9.0.1", 0xFFFFFF00, "10.20.0.7", "198.51.101.0", 0xFFFFFF00);
        ASSERT_EQ(hwRouteTunAdd(direct), 0);
        ASSERT_EQ(hwRouteTunAdd(routed), 0);
    }
    static std::size_t tunnels() { return listed<&HwRouteTunNode::link>(&ghwRoute.tunList).size(); }
    // The calls for the tunnel unit from call `from` on.
    std::vector<std::vector<uint8_t>> unitCalls(std::size_t from) const {
        std::vector<std::vector<uint8_t>> out;
        for (const std::vector<uint8_t>& d : callsOf(HW_OBJ_ROUTE4, from))
            if (beRead32(&d.at(20)) == kTunUnit) out.push_back(d);
        return out;
    }
};

// ---- entries of the four family combinations ------------------------------

struct FamilyCase {
    const char* what;
    HwRouteTunNode req;
    uint32_t objectId;
    std::vector<uint8_t> add;
};

TEST_F(TunnelScenario, EachFamilyCombinationIsWrittenByteExactToItsObject) {
    neighbour("10.9.0.2", kMac2);
    nd6("2001:db8:9::2", kMac2Bytes);
    const Hop v4{"10.9.0.2", 4, 7, kEth, kMac2Bytes, 1};
    const Hop v6{"2001:db8:9::2", 16, 7, kEth, kMac2Bytes, 1};
    const FamilyCase cases[] = {
        {"4in4", tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.100.0", 0xFFFFFF00), 338,
         tun4Entry("198.51.100.0", 0xFFFFFF00, 1, kTunUnit, v4)},
        {"6in4", tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "2001:db8:100::", 48), 339,
         tun6Entry("2001:db8:100::", 48, 1, kTunUnit, v4)},
        {"6in6", tunnel("2001:db8:9::1", 64, "2001:db8:9::2", "2001:db8:200::", 40), 339,
         tun6Entry("2001:db8:200::", 40, 1, kTunUnit, v6)},
        {"4in6", tunnel("2001:db8:9::1", 64, "2001:db8:9::2", "203.0.113.0", 0xFFFFFF80), 338,
         tun4Entry("203.0.113.0", 0xFFFFFF80, 1, kTunUnit, v6)},
    };
    for (const FamilyCase& c : cases) {
        SCOPED_TRACE(c.what);
        HwRouteTunNode req = c.req;
        const std::size_t before = calls();
        EXPECT_EQ(hwRouteTunAdd(&req), 0);
        ASSERT_EQ(calls(), before + 1);
        EXPECT_EQ(hwCalls().back().objectId, c.objectId);
        EXPECT_BYTES(lastCall(), c.add);
        ASSERT_NE(find(req), nullptr);
        EXPECT_EQ(find(req)->dstType, 1);
        EXPECT_EQ(find(req)->status, hwStatusOk);

        // The delete sends the same entry with op 2.
        std::vector<uint8_t> del = c.add;
        del[c.objectId == 338 ? 86 : 94] = 2;
        EXPECT_EQ(hwRouteTunDel(&req), 0);
        EXPECT_BYTES(lastCall(), del);
        EXPECT_EQ(find(req), nullptr);
    }
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.tunPool), 16u) << "every record back in the pool";
}

// ---- binding rules ---------------------------------------------------------

struct BindCase {
    const char* what;
    uint32_t nexthopMask;
    bool neighbourKnown;
    bool coveringRoute;
    int dstType;  // 0: dropped
};

TEST_F(TunnelScenario, BindingFollowsTheLocalSubnetThenCoveringRouteThenNeighbourOrder) {
    const BindCase cases[] = {
        {"local endpoint with its neighbour", 0xFFFFFF00, true, true, 1},
        {"local endpoint, neighbour not learnt yet: dropped, not kept waiting", 0xFFFFFF00, false, true, 0},
        {"mask 0 is never local: a covering route wins", 0, true, true, 2},
        {"mask 0 without a covering route falls back to the neighbour", 0, true, false, 1},
        {"mask 0 with neither: dropped", 0, false, false, 0},
        {"remote endpoint outside the local subnet uses the covering route", 0xFFFFFFFE, true, true, 2},
    };
    for (const BindCase& c : cases) {
        SCOPED_TRACE(c.what);
        Scenario::SetUp();  // a fresh state for each case
        if (c.neighbourKnown) neighbour("10.9.0.2", kMac2);
        neighbour("10.9.0.9", "02:00:00:00:00:09");
        if (c.coveringRoute) route(NL_NEWROUTE, "10.9.0.0", 16, "10.9.0.9", kEth);
        pass();
        const uint32_t drops = ghwTunStats.addDropCnt;
        HwRouteTunNode req = tunnel("10.9.0.1", c.nexthopMask, "10.9.0.2", "198.51.100.0", 0xFFFFFF00);
        EXPECT_EQ(hwRouteTunAdd(&req), 0);
        HwRouteTunNode* t = find(req);
        if (c.dstType == 0) {
            EXPECT_EQ(t, nullptr);
            EXPECT_EQ(ghwTunStats.addDropCnt, drops + 1);
            continue;
        }
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->dstType, c.dstType);
        EXPECT_EQ(t->status, hwStatusOk);
        if (c.dstType == 1) {
            EXPECT_EQ(t->dstEntry, hwArpFind(0, ip4("10.9.0.2")));
        }
    }
}

TEST_F(TunnelScenario, FirstCoveringDestinationInTableOrderIsTakenNotTheLongestPrefix) {
    neighbour("10.9.0.9", "02:00:00:00:00:09");
    // 10.20.30.0/24 hashes to bucket 729, 10.0.0.0/8 to bucket 521: the /8 comes first.
    route(NL_NEWROUTE, "10.20.30.0", 24, "10.9.0.9", kEth);
    route(NL_NEWROUTE, "10.0.0.0", 8, "10.9.0.9", kEth);
    pass();
    HwRouteTunNode req = tunnel("192.0.2.1", 0, "10.20.30.40", "198.51.100.0", 0xFFFFFF00);
    EXPECT_EQ(hwRouteTunAdd(&req), 0);
    ASSERT_NE(find(req), nullptr);
    const auto* d = static_cast<const HwRouteDest*>(find(req)->dstEntry);
    EXPECT_EQ(d->destIp, ip4("10.0.0.0"));
    EXPECT_EQ(d->mask, 0xFF000000u);
}

TEST_F(TunnelScenario, RouteBoundEntryCountsEveryUsablePathAndCarriesTheLastOne) {
    neighbour("10.9.0.8", "02:00:00:00:00:08");
    neighbour("10.9.0.9", "02:00:00:00:00:09");
    route(NL_NEWROUTE, "10.20.0.0", 16, "10.9.0.8", kEth);
    route(NL_NEWROUTE, "10.20.0.0", 16, "10.9.0.9", kEth);
    pass();
    HwRouteTunNode req = tunnel("192.0.2.1", 0, "10.20.30.40", "198.51.100.0", 0xFFFFFF00);
    EXPECT_EQ(hwRouteTunAdd(&req), 0);
    // The next-hop list is newest first, so the path through 10.9.0.8 is walked last.
    const uint8_t mac8[6] = {2, 0, 0, 0, 0, 8};
    EXPECT_BYTES(lastCall(), tun4Entry("198.51.100.0", 0xFFFFFF00, 2, kTunUnit, {"10.9.0.8", 4, 7, kEth, mac8, 1}));
}

// ---- creation-tick check ---------------------------------------------------

struct TickCase {
    const char* what;
    uint32_t tunType;
    const char* unitConfig;
    int result;
    bool kept;
};

TEST_F(TunnelScenario, OnlyType100IsCheckedAgainstTheInterfaceCreationTick) {
    const TickCase cases[] = {
        {"type 100, same tick", 100, R"({"tunCreateTick": 77})", 0, true},
        {"type 100, other tick", 100, R"({"tunCreateTick": 78})", -1, false},
        {"type 100, interface query fails", 100, R"({"tunCreateTick": 77, "fail": ["tunnel"]})", -1, false},
        {"other type, other tick: not checked", 5, R"({"tunCreateTick": 78})", 0, true},
    };
    for (const TickCase& c : cases) {
        SCOPED_TRACE(c.what);
        Scenario::SetUp();  // a fresh state for each case
        platformConfig(std::string(R"({"interfaces": {"40": )") + c.unitConfig + "}}");
        neighbour("10.9.0.2", kMac2);
        const std::size_t before = calls();
        HwRouteTunNode req = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.100.0", 0xFFFFFF00);
        req.tunType = c.tunType;
        req.tunCreateTick = 77;
        EXPECT_EQ(hwRouteTunAdd(&req), c.result);
        EXPECT_EQ(find(req) != nullptr, c.kept);
        EXPECT_EQ(calls(), before + (c.kept ? 1 : 0));
    }
    EXPECT_TRUE(logged("ERROR: tunCreateTick is not consistent ! ticks from kivIfGetApi :78, ticks from msg :77"));
}

// ---- requests that change nothing -------------------------------------------

TEST_F(TunnelScenario, DuplicateAbsentAndUnusedUnitRequestsChangeNothing) {
    neighbour("10.9.0.2", kMac2);
    HwRouteTunNode req = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.100.0", 0xFFFFFF00);
    ASSERT_EQ(hwRouteTunAdd(&req), 0);
    const std::size_t before = calls();

    EXPECT_EQ(hwRouteTunAdd(&req), 0);
    EXPECT_TRUE(logged("ERROR: hwRouteTunAdd route exist."));
    HwRouteTunNode other = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.101.0", 0xFFFFFF00);
    EXPECT_EQ(hwRouteTunDel(&other), -1);
    EXPECT_TRUE(logged("ERROR:no found tunnel entry."));
    EXPECT_EQ(hwRouteTunNotifier(kTunUnit + 1), 0);

    EXPECT_EQ(calls(), before);
    EXPECT_EQ(tunnels(), 1u);
    EXPECT_EQ(find(req)->status, hwStatusOk);
}

TEST_F(TunnelScenario, NotifierRemovesEveryTunnelOfTheUnitAndOnlyThose) {
    neighbour("10.9.0.2", kMac2);
    HwRouteTunNode a = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.100.0", 0xFFFFFF00);
    HwRouteTunNode b = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.101.0", 0xFFFFFF00);
    HwRouteTunNode c = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.102.0", 0xFFFFFF00, kTunUnit + 1);
    for (HwRouteTunNode* r : {&a, &b, &c}) ASSERT_EQ(hwRouteTunAdd(r), 0);
    const std::size_t before = calls();
    EXPECT_EQ(hwRouteTunNotifier(kTunUnit), 0);
    EXPECT_EQ(calls(), before + 2);
    for (std::size_t i = before; i < calls(); ++i) EXPECT_EQ(hwCalls()[i].data.at(86), 2) << "deletes";
    EXPECT_EQ(find(a), nullptr);
    EXPECT_EQ(find(b), nullptr);
    EXPECT_NE(find(c), nullptr);
    EXPECT_EQ(logCount("hwRouteTunNotifier found tunnel unit=40."), 2);
}

// ---- hardware status transitions --------------------------------------------

TEST_F(TunnelScenario, RefusedWritesMoveOnlyTheStatus) {
    neighbour("10.9.0.2", kMac2);
    HwRouteTunNode req = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.100.0", 0xFFFFFF00);

    // A refused add keeps the tunnel with status 4; its delete needs no platform call.
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "fromCall": 1, "count": 1}]}})");
    EXPECT_EQ(hwRouteTunAdd(&req), 0);
    ASSERT_NE(find(req), nullptr);
    EXPECT_EQ(find(req)->status, hwStatusAddAbnormal);
    std::size_t before = calls();
    EXPECT_EQ(hwRouteTunDel(&req), 0);
    EXPECT_EQ(calls(), before);
    EXPECT_EQ(find(req), nullptr);

    // A refused delete reports -1 and leaves the tunnel in hardware with status 5;
    // an add then takes it back to 1 without a call, and the next delete goes out.
    EXPECT_EQ(hwRouteTunAdd(&req), 0);
    platformConfig(R"({"hardware": {"refuse": [{"objectId": 338, "fromCall": 1, "count": 1}]}})");
    EXPECT_EQ(hwRouteTunDel(&req), -1);
    EXPECT_TRUE(logged("ERROR: hwRouteTunDel hwUpdateTunDel error !"));
    ASSERT_NE(find(req), nullptr);
    HwRouteTunNode* t = find(req);
    EXPECT_EQ(t->status, hwStatusDelAbnormal);
    before = calls();
    hwUpdateTunAdd(t);
    EXPECT_EQ(t->status, hwStatusOk);
    EXPECT_EQ(calls(), before);
    EXPECT_EQ(hwRouteTunDel(&req), 0);
    EXPECT_EQ(calls(), before + 1);
}

// ---- what neighbour and route events do to tunnels -------------------------

// Only the tunnels of the changed address are rewritten (withdrawn newest
// bound first, written again in tunnel list order, newest first).
TEST_F(TunnelScenario, NeighbourMacChangeRewritesBoundTunnelsOnce) {
    neighbour("10.9.0.2", kMac2);
    neighbour("10.9.0.3", kMac2);
    HwRouteTunNode req = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.100.0", 0xFFFFFF00);
    ASSERT_EQ(hwRouteTunAdd(&req), 0);
    HwRouteTunNode other = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.3", "198.51.101.0", 0xFFFFFF00, kTunUnit + 2);
    HwRouteTunNode second = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.102.0", 0xFFFFFF00, kTunUnit + 1);
    ASSERT_EQ(hwRouteTunAdd(&other), 0);
    ASSERT_EQ(hwRouteTunAdd(&second), 0);
    const std::size_t before = calls();
    neighbour("10.9.0.2", "02:00:00:00:00:22");
    const uint8_t mac22[6] = {2, 0, 0, 0, 0, 0x22};
    const std::vector<std::vector<uint8_t>> tunnelCalls = unitCalls(before);
    ASSERT_EQ(tunnelCalls.size(), 2u);
    EXPECT_BYTES(tunnelCalls[0], tun4Entry("198.51.100.0", 0xFFFFFF00, 1, kTunUnit, {"10.9.0.2", 4, 7, kEth, kMac2Bytes, 2}));
    EXPECT_BYTES(tunnelCalls[1], tun4Entry("198.51.100.0", 0xFFFFFF00, 1, kTunUnit, {"10.9.0.2", 4, 7, kEth, mac22, 1}));
    HwArpNode* arp = hwArpFind(0, ip4("10.9.0.2"));
    int onList = 0;
    for (HwRouteTunNode* t : hwListOf<&HwRouteTunNode::bindLink>(&arp->tunList)) onList += t == find(req) ? 1 : 0;
    EXPECT_EQ(onList, 1);
    EXPECT_EQ(find(req)->status, hwStatusOk);
    std::vector<uint32_t> unitOps;
    for (std::size_t i = before; i < calls(); ++i) {
        const std::vector<uint8_t>& d = hwCalls()[i].data;
        if (hwCalls()[i].objectId == 338 && beRead32(&d.at(28)) == 8) unitOps.push_back(beRead32(&d.at(20)) * 10 + d.at(86));
    }
    EXPECT_EQ(unitOps, (std::vector<uint32_t>{412, 402, 411, 401}));
}

TEST_F(TunnelScenario, LosingTheNeighbourOrTheCarryingRouteDestroysTheTunnel) {
    HwRouteTunNode direct, routed;
    directAndRouted(&direct, &routed);
    ASSERT_EQ(find(routed)->dstType, 2);

    std::size_t before = calls();
    neighbour("10.9.0.2", kMac2, NL_DELNEIGH);
    EXPECT_EQ(find(direct), nullptr);
    EXPECT_NE(find(routed), nullptr);
    ASSERT_EQ(unitCalls(before).size(), 1u);
    EXPECT_EQ(unitCalls(before)[0].at(86), 2);

    route(NL_DELROUTE, "10.20.0.0", 16, "10.9.0.9", kEth);
    EXPECT_EQ(find(routed), nullptr);
    EXPECT_EQ(tunnels(), 0u);
    EXPECT_EQ(hwPoolFreeCount(&ghwRoute.tunPool), 16u);
}

TEST_F(TunnelScenario, CardUpReplayRewritesTunnelsWhileTheirRoutePathsWaitForTheFlush) {
    HwRouteTunNode direct, routed;
    directAndRouted(&direct, &routed);
    const std::size_t before = calls();
    hwRouteCardupProcess();
    const std::vector<std::vector<uint8_t>> tunnelCalls = unitCalls(before);
    ASSERT_EQ(tunnelCalls.size(), 2u);
    // Newest first: the routed tunnel, whose path is re-queued and not usable
    // until the flush, goes out with no path and op 0.
    const uint8_t noMac[6] = {};
    EXPECT_BYTES(tunnelCalls[0], tun4Entry("198.51.101.0", 0xFFFFFF00, 0, kTunUnit, {"0.0.0.0", 4, 0, 0, noMac, 0}));
    EXPECT_BYTES(tunnelCalls[1], tun4Entry("198.51.100.0", 0xFFFFFF00, 1, kTunUnit, {"10.9.0.2", 4, 7, kEth, kMac2Bytes, 1}));
    EXPECT_EQ(find(direct)->status, hwStatusOk);
    EXPECT_EQ(find(routed)->status, hwStatusOk);
}

TEST_F(TunnelScenario, FailedVlanLookupSendsNothingAndCountsAsRefused) {
    neighbour("10.9.0.2", kMac2);
    HwRouteTunNode req = tunnel("10.9.0.1", 0xFFFFFF00, "10.9.0.2", "198.51.100.0", 0xFFFFFF00);
    platformConfig(R"({"interfaces": {"3": {"fail": ["vlan"]}}})");
    const std::size_t before = calls();
    EXPECT_EQ(hwRouteTunAdd(&req), 0);
    EXPECT_EQ(calls(), before);
    EXPECT_TRUE(logged("sysIndexTrans get vlan id failed."));
    ASSERT_NE(find(req), nullptr);
    EXPECT_EQ(find(req)->status, hwStatusAddAbnormal);
}

// ---- the kernel's tunnel interfaces ----------------------------------------

TEST_F(TunnelScenario, KernelTunnelInterfaceWithARouteIntoItIsWrittenAndLeavesWithTheInterface) {
    neighbour("10.9.0.2", kMac2);
    const auto feed = [](const std::vector<uint8_t>& m) { kivTunWatchDatagram(m.data(), uint32_t(m.size())); };
    constexpr uint32_t kUp = tunmsg::kIffUp | tunmsg::kIffRunning;
    feed(tunmsg::link(16, 4242, kUp, "ipip", "127.0.0.1", "10.9.0.2", 4));
    feed(tunmsg::route(24, "198.51.100.0", 24, 4242));
    const std::size_t before = calls();
    hwRouteTunWatchRun();
    ASSERT_EQ(calls(), before + 1);
    // The local endpoint is on 127.0.0.0/8, the far end is not: no covering
    // route, so the far end's own neighbour carries it.
    EXPECT_BYTES(lastCall(), tun4Entry("198.51.100.0", 0xFFFFFF00, 1, 4242, {"10.9.0.2", 4, 7, kEth, kMac2Bytes, 1}));
    EXPECT_EQ(tunnels(), 1u);

    hwRouteTunWatchRun();
    EXPECT_EQ(calls(), before + 1) << "nothing new, nothing offered again";

    feed(tunmsg::link(17, 4242, kUp, "ipip", "127.0.0.1", "10.9.0.2", 4));
    hwRouteTunWatchRun();
    ASSERT_EQ(calls(), before + 2);
    EXPECT_EQ(lastCall().at(86), 2);
    EXPECT_EQ(tunnels(), 0u);
}

}  // namespace
