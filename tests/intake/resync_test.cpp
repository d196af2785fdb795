// Resynchronisation: the kernel's dump goes through the decoders, and what the
// dump did not hold is swept through the delete handlers. The oracle is the
// kernel's view each test hands out as its dump.
#include <linux/netlink.h>
#include <sys/socket.h>
#include <linux/rtnetlink.h>

#include <cerrno>
#include <functional>
#include <map>
#include <set>

#include "hwroute/hardware.h"
#include "hwroute/resync.h"
#include "intake_test.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- A fake kernel answering dump requests ------------------------------------

struct FakeKernel {
    std::map<uint16_t, std::vector<Bytes>> parts;  // by request type; IPv6 requests get nothing but the end
    int failAtRecv = -1;                           // this receive (counted from 0) fails
    int recvs = 0;
    std::vector<Bytes> pending;
    std::vector<std::pair<uint16_t, uint8_t>> requests;
};
FakeKernel gKernel;

int fakeRequest(uint16_t type, uint8_t family) {
    gKernel.requests.emplace_back(type, family);
    gKernel.pending.clear();
    if (family != AF_INET6)
        for (const Bytes& b : gKernel.parts[type]) gKernel.pending.push_back(b);
    gKernel.pending.push_back(NlDatagram{nlDone()}.bytes());
    return 0;
}

int fakeRecv(uint8_t* buf, int cap) {
    if (gKernel.recvs++ == gKernel.failAtRecv || gKernel.pending.empty()) return -1;
    Bytes b = gKernel.pending.front();
    gKernel.pending.erase(gKernel.pending.begin());
    if (static_cast<int>(b.size()) > cap) return -1;
    std::memcpy(buf, b.data(), b.size());
    return static_cast<int>(b.size());
}

const HwDumpTransport kFake = {fakeRequest, fakeRecv};

NlMessage route(const char* dst, const char* gw, uint8_t family = 2) {
    return nlRoute({.family = family, .prefixLen = static_cast<uint8_t>(family == 2 ? 24 : 64), .protocol = 11,
                    .dst = dst, .gateway = gw, .oif = 3});
}
NlMessage routeDel(const char* dst, const char* gw) {
    return nlRoute({.type = NL_DELROUTE, .prefixLen = 24, .protocol = 11, .dst = dst, .gateway = gw, .oif = 3});
}
NlMessage neigh(const char* dst, uint8_t family = 2) {
    return nlNeigh({.family = family, .ifindex = 3, .dst = dst, .mac = "02:00:00:00:09:09", .port = 2});
}

// The kernel's tables as dump parts: one part of neighbours, one of routes.
void kernelHas(std::vector<NlMessage> neighs, std::vector<NlMessage> routes) {
    gKernel.parts.clear();
    NlDatagram n, r;
    for (const auto& m : neighs) n.add(m);
    for (const auto& m : routes) r.add(m);
    gKernel.parts[RTM_GETNEIGH] = {n.bytes()};
    gKernel.parts[RTM_GETROUTE] = {r.bytes()};
}

std::string text4(uint32_t a) {
    char buf[16];
    return inet_ntoa_2(buf, a);
}

// Paths and neighbours as an operator would list them, after the flush has
// finished every delete.
std::set<std::string> routeSet() {
    hwRouteUpdate();
    std::set<std::string> out;
    for (auto& bucket : ghwRoute.routeTable)
        for (HwRouteDest* d : hwListOf<&HwRouteDest::hashLink>(&bucket))
            for (HwRouteNexthop* nh : hwListOf<&HwRouteNexthop::destLink>(&d->nhopList))
                out.insert(text4(d->destIp) + " via " + text4(nh->nextHop));
    return out;
}
std::set<std::string> arpSet() {
    std::set<std::string> out;
    for (auto& bucket : ghwRoute.arpTable)
        for (HwArpNode* a : hwListOf<&HwArpNode::link>(&bucket)) out.insert(text4(a->nextHop));
    return out;
}

class Resync : public IntakeTest {
protected:
    void SetUp() override {
        IntakeTest::SetUp();
        gKernel = FakeKernel{};
        hwResyncSetTransport(&kFake);
    }
    void TearDown() override {
        hwResyncSetTransport(nullptr);
        IntakeTest::TearDown();
    }
    // What the daemon learnt before notifications were lost.
    void learnt() {
        deliver(NlDatagram{neigh("10.3.0.9"), neigh("10.3.0.10"), neigh("10.3.0.11")});
        deliver(NlDatagram{route("10.30.1.0", "10.3.0.9"), route("10.30.2.0", "10.3.0.9"),
                           route("10.30.3.0", "10.3.0.10"), route("10.30.5.0", "10.3.0.9"),
                           route("10.30.5.0", "10.3.0.11")});
        hwRouteUpdate();
        ASSERT_EQ(ghwRoute.hwOkRouteCnt, 5u) << "learnt paths in hardware";
    }
    int runNow() {
        hwResyncRequest();
        return hwResyncPass(1000000);
    }
};

TEST_F(Resync, TablesEndEqualToTheKernelsAndHardwareFollows) {
    learnt();
    // Lost meanwhile: 10.30.2.0 and 10.30.3.0 deleted, one path of 10.30.5.0
    // gone, neighbour 10.3.0.10 gone, 10.30.4.0 added.
    kernelHas({neigh("10.3.0.9"), neigh("10.3.0.11")},
              {route("10.30.1.0", "10.3.0.9"), route("10.30.4.0", "10.3.0.9"), route("10.30.5.0", "10.3.0.9")});
    simClearHwCalls();
    ASSERT_EQ(runNow(), 1);
    EXPECT_EQ(routeSet(), (std::set<std::string>{"10.30.1.0 via 10.3.0.9", "10.30.4.0 via 10.3.0.9",
                                                 "10.30.5.0 via 10.3.0.9"}));
    EXPECT_EQ(arpSet(), (std::set<std::string>{"10.3.0.9", "10.3.0.11"}));
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 3u) << "hardware holds exactly the kernel's paths";
    EXPECT_EQ(ghwRoute.resyncSweepRouteCnt, 3u);
    EXPECT_EQ(ghwRoute.resyncSweepNeighCnt, 1u);
    EXPECT_EQ(ghwRoute.resyncOkCnt, 1u);
    EXPECT_FALSE(hwResyncWanted());
    const std::vector<std::pair<uint16_t, uint8_t>> asked = {{RTM_GETLINK, AF_UNSPEC}, {RTM_GETNEIGH, AF_INET},
                                                              {RTM_GETNEIGH, AF_INET6}, {RTM_GETROUTE, AF_INET},
                                                              {RTM_GETROUTE, AF_INET6}};
    EXPECT_EQ(gKernel.requests, asked);
}

TEST_F(Resync, AFailedOrCutShortDumpSweepsNothingAndIsRetriedAfterABackOff) {
    auto withFlag = [](Bytes b, uint16_t flag) {
        uint16_t flags = 0;
        std::memcpy(&flags, b.data() + 6, 2);
        flags = static_cast<uint16_t>(flags | flag);
        std::memcpy(b.data() + 6, &flags, 2);
        return b;
    };
    struct Case {
        const char* what;
        std::function<void()> breakIt;
    };
    const Case cases[] = {
        {"a receive fails in the route dump", [] { gKernel.failAtRecv = 4; }},
        {"the kernel reports an error", [] { gKernel.parts[RTM_GETROUTE] = {NlDatagram{nlError(-EBUSY)}.bytes()}; }},
        {"the kernel flags the dump as changed under it",
         [&] { gKernel.parts[RTM_GETROUTE][0] = withFlag(gKernel.parts[RTM_GETROUTE][0], NLM_F_DUMP_INTR); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        gKernel = FakeKernel{};
        learnt();
        const std::set<std::string> before = routeSet();
        kernelHas({neigh("10.3.0.9")}, {route("10.30.1.0", "10.3.0.9")});
        c.breakIt();
        hwResyncRequest();
        EXPECT_EQ(hwResyncPass(5000), -1);
        EXPECT_EQ(routeSet(), before) << "nothing swept after an incomplete dump";
        EXPECT_EQ(ghwRoute.resyncFailCnt, 1u);
        EXPECT_EQ(hwResyncPass(5999), 0) << "waits out its back-off";
        gKernel.failAtRecv = -1;
        kernelHas({neigh("10.3.0.9")}, {route("10.30.1.0", "10.3.0.9")});
        gKernel.recvs = 0;
        EXPECT_EQ(hwResyncPass(6000), 1);
        EXPECT_EQ(routeSet(), std::set<std::string>{"10.30.1.0 via 10.3.0.9"});
    }
    EXPECT_EQ(hwResyncBackoffMs(1), 1000u);
    EXPECT_EQ(hwResyncBackoffMs(3), 4000u);
    EXPECT_EQ(hwResyncBackoffMs(40), 30000u) << "the back-off is capped";
}

TEST_F(Resync, NotificationsQueuedDuringTheDumpWin) {
    learnt();
    // The dump still shows 10.30.1.0 and lacks 10.30.6.0; both changed while
    // it was read, and their notifications wait on the socket.
    kernelHas({neigh("10.3.0.9"), neigh("10.3.0.10"), neigh("10.3.0.11")},
              {route("10.30.1.0", "10.3.0.9"), route("10.30.2.0", "10.3.0.9"), route("10.30.3.0", "10.3.0.10"),
               route("10.30.5.0", "10.3.0.9"), route("10.30.5.0", "10.3.0.11")});
    ASSERT_EQ(runNow(), 1);
    deliver(NlDatagram{routeDel("10.30.1.0", "10.3.0.9"), route("10.30.6.0", "10.3.0.9")});
    EXPECT_EQ(routeSet(), (std::set<std::string>{"10.30.2.0 via 10.3.0.9", "10.30.3.0 via 10.3.0.10",
                                                 "10.30.5.0 via 10.3.0.9", "10.30.5.0 via 10.3.0.11",
                                                 "10.30.6.0 via 10.3.0.9"}));
    EXPECT_EQ(ghwRoute.resyncSweepRouteCnt, 0u);
}

TEST_F(Resync, ADumpLargerThanThePoolsIsCountedAndLeavesTheTablesWhole) {
    reinit(HwTestSizes{.routeMax = 3});
    const char* dests[] = {"10.30.1.0", "10.30.2.0", "10.30.3.0", "10.30.4.0", "10.30.5.0"};
    std::vector<NlMessage> routes;
    for (const char* d : dests) routes.push_back(route(d, "10.3.0.9"));
    kernelHas({neigh("10.3.0.9")}, routes);
    ASSERT_EQ(runNow(), 1);
    EXPECT_EQ(ghwRoute.resyncNoRoomCnt, 2u);
    EXPECT_EQ(routeSet().size(), 3u);
    EXPECT_EQ(ghwRoute.resyncSweepRouteCnt, 0u) << "what fitted was seen, nothing is swept";
    // Later the kernel has fewer routes than the pools hold: they all fit.
    kernelHas({neigh("10.3.0.9")}, {route("10.30.4.0", "10.3.0.9"), route("10.30.5.0", "10.3.0.9")});
    ASSERT_EQ(runNow(), 1);
    ASSERT_TRUE(hwResyncWanted()) << "once more when the swept paths have left hardware";
    hwRouteUpdate();
    ASSERT_EQ(hwResyncPass(1000000), 1);
    EXPECT_FALSE(hwResyncWanted());
    EXPECT_EQ(routeSet(), (std::set<std::string>{"10.30.4.0 via 10.3.0.9", "10.30.5.0 via 10.3.0.9"}));
    EXPECT_EQ(ghwRoute.swDestCnt + hwPoolFreeCount(&ghwRoute.destPool), 3u) << "no destination leaked";
}

TEST_F(Resync, PathsOfThePlatformsOwnEntriesAreLeftAlone) {
    learnt();
    HwRouteDest key{};
    key.destIp = ip4("10.30.2.0");
    key.mask = 0xffffff00u;
    HwRouteDest* d = hwRouteDestTableLookup(&key);
    ASSERT_NE(d, nullptr);
    hwListFirst<&HwRouteNexthop::destLink>(&d->nhopList)->mplsLabelNum = 1;  // a labelled path
    kernelHas({neigh("10.3.0.9")}, {route("10.30.1.0", "10.3.0.9")});
    ASSERT_EQ(runNow(), 1);
    EXPECT_EQ(routeSet(), (std::set<std::string>{"10.30.1.0 via 10.3.0.9", "10.30.2.0 via 10.3.0.9"}));
}

TEST_F(Resync, IpV6EntriesGoThroughTheSameDispatch) {
    gKernel.parts.clear();
    ASSERT_EQ(runNow(), 1);
    // The fake kernel gives IPv6 dumps nothing; feed a part as the IPv6 route dump would.
    hwResyncBegin();
    Bytes part = NlDatagram{neigh("2001:db8::9", 10), route("2001:db8:1::", "2001:db8::9", 10), nlDone()}.bytes();
    EXPECT_EQ(hwResyncFeed(part.data(), static_cast<int>(part.size())), 0);
    hwResyncEnd(true);
    EXPECT_EQ(ghwRoute.rcvNd6AddCnt, 1u);
    EXPECT_EQ(ghwRoute.rcvNoDynamicRoute6AddCnt, 1u);
}

TEST_F(Resync, AnOverrunIsRepairedWithTheRouteDeletedMeanwhile) {
    learnt();
    // The reader meets the overrun; 10.30.2.0 was deleted while notifications were lost.
    // The socket reports the overrun once, then is empty.
    static int calls;
    calls = 0;
    hwRtnotifySetRecv([](int, uint8_t*, size_t, bool* truncated) -> ssize_t {
        *truncated = false;
        errno = calls++ == 0 ? ENOBUFS : EAGAIN;
        return -1;
    });
    hwRtnotifyDrain();
    hwRtnotifySetRecv(nullptr);
    ASSERT_TRUE(hwResyncWanted());
    kernelHas({neigh("10.3.0.9"), neigh("10.3.0.10"), neigh("10.3.0.11")},
              {route("10.30.1.0", "10.3.0.9"), route("10.30.3.0", "10.3.0.10"), route("10.30.5.0", "10.3.0.9"),
               route("10.30.5.0", "10.3.0.11")});
    simClearHwCalls();
    EXPECT_EQ(hwResyncPass(1000), 1);
    EXPECT_EQ(routeSet().count("10.30.2.0 via 10.3.0.9"), 0u);
    EXPECT_EQ(ghwRoute.hwOkRouteCnt, 4u) << "the kernel's four paths";
    EXPECT_EQ(ghwRoute.rcvOverrunCnt, 1u);
}

}  // namespace
