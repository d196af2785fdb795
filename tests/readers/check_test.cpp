// The comparison of the kernel, software and hardware views, one row per
// kind of finding; hardware state is built from decoded calls.
#include <gtest/gtest.h>

#include "hwcheck.h"
#include "hwroute/flags.h"

namespace {

constexpr uint32_t kInHw = NH_HW_OK | NH_RESOLVED;

HwdAddr addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return HwdAddr{a, b, c, d}; }
HwdPrefix prefix(uint8_t third, uint8_t len = 24) { return {4, 0, addr(10, 0, third, 0), len}; }
HwdPrefix host(uint8_t last) { return {4, 0, addr(10, 9, 0, last), 32}; }
HwdPathKey via(uint8_t last) { return {addr(10, 9, 0, last), 5}; }

HwdPath hwPath(uint8_t last, uint8_t mac) {
    HwdPath p;
    p.nexthopIp = addr(10, 9, 0, last);
    p.ipPort = 5;
    p.nextHopMac = {2, 0, 0, 0, 0, mac};
    return p;
}

HwcNeighbour neigh(uint8_t mac, uint32_t status = hwStatusOk, uint32_t flag = 0) {
    HwcNeighbour n;
    n.mac = {2, 0, 0, 0, 0, mac};
    n.ifindex = 5;
    n.status = status;
    n.flag = flag;
    return n;
}

struct Views {
    HwcView kernel, sw;
    HwdState hw;
};

// Route 10.0.1.0/24 via 10.9.0.2 and its neighbour agree everywhere.
Views agreeing() {
    Views v;
    v.kernel.routes[prefix(1)][via(2)] = 0;
    v.kernel.neighbours[host(2)] = neigh(2);
    v.sw = v.kernel;
    v.sw.routes[prefix(1)][via(2)] = kInHw;
    v.hw.routes[prefix(1)].paths[hwdPathKeyOf(hwPath(2, 2))] = hwPath(2, 2);
    v.hw.neighbours[host(2)] = hwPath(2, 2);
    return v;
}

TEST(Check, EachKindOfDifferenceIsFoundOnce) {
    struct Case {
        const char* name;
        void (*change)(Views&);
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {"all agree", [](Views&) {}, {}},
        {"a kernel route the daemon never heard of",
         [](Views& v) { v.kernel.routes[prefix(7)][via(2)] = 0; }, {"missing-in-software"}},
        {"a software route the kernel withdrew", [](Views& v) { v.kernel.routes.erase(prefix(1)); },
         {"gone-from-kernel", "hardware-not-in-kernel"}},
        {"the hardware lost the route", [](Views& v) { v.hw.routes.clear(); }, {"missing-in-hardware"}},
        {"the hardware has one path of two",
         [](Views& v) {
             v.kernel.routes[prefix(1)][via(3)] = 0;
             v.sw.routes[prefix(1)][via(3)] = kInHw;
         },
         {"different-paths"}},
        {"a route path with a stale MAC",
         [](Views& v) { v.hw.routes[prefix(1)].paths.begin()->second.nextHopMac[5] = 9; }, {"different-mac"}},
        {"a neighbour whose MAC changed in the kernel only",
         [](Views& v) { v.kernel.neighbours[host(2)].mac[5] = 8; }, {"different-mac"}},
        {"a neighbour the hardware refused",
         [](Views& v) {
             v.sw.neighbours[host(2)].status = hwStatusAddAbnormal;
             v.hw.neighbours.clear();
         },
         {"missing-in-hardware"}},
        {"a host entry left in hardware",
         [](Views& v) { v.hw.neighbours[host(4)] = hwPath(4, 4); }, {"hardware-not-in-kernel"}},
        {"the router's own address is not a kernel neighbour",
         [](Views& v) {
             v.sw.neighbours[host(1)] = neigh(1, hwStatusOk, ARP_FLAG_LOCAL);
             v.hw.neighbours[host(1)] = hwPath(1, 1);
         },
         {}},
        {"a route waiting for its neighbour is pending only",
         [](Views& v) {
             v.kernel.routes[prefix(8)][via(6)] = 0;
             v.sw.routes[prefix(8)][via(6)] = NH_OP_ADD;
         },
         {}},
    };
    for (const Case& c : cases) {
        Views v = agreeing();
        c.change(v);
        const HwcReport r = hwcCompare(v.kernel, v.sw, &v.hw);
        std::vector<std::string> kinds;
        for (const HwcFinding& f : r.differences) kinds.push_back(f.kind);
        EXPECT_EQ(kinds, c.kinds) << c.name;
    }
}

TEST(Check, WithoutATraceTheSoftwaresOwnHardwareViewIsUsed) {
    Views v = agreeing();
    v.sw.routes[prefix(1)][via(2)] = NH_RESOLVED | NH_OP_ADD;  // resolved, never written
    const HwcReport r = hwcCompare(v.kernel, v.sw, nullptr);
    ASSERT_EQ(r.differences.size(), 1u);
    EXPECT_EQ(r.differences[0].text, "missing in hardware: route 10.0.1.0/24 (software has not written it)");
}

}  // namespace
