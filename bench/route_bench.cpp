// Route churn benchmark: feeds N route-add datagrams (one route per datagram,
// as the kernel sends them) through the intake, flushes to the simulated
// hardware, then deletes them all the same way.
//
//   route_bench [N ...]            default: 10000 100000 1000000
//   route_bench flap [N]           neighbour flap, default N = 1000000
//
// Two next-hop kinds are measured: a point-to-point interface (each add is
// written to hardware at once) and an Ethernet next hop whose neighbour is
// already resolved (adds wait on the ready list and go out in batches), each
// for IPv4 /24 routes and IPv6 /48 routes.
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hwroute/debug.h"
#include "hwroute/frame.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/neighbour.h"
#include "bench_msgs.h"
#include "sim.h"

namespace {

constexpr uint32_t kPtpUnit = 5;
constexpr uint32_t kEthUnit = 6;
constexpr uint32_t kEthGateway = 0x0a000002;  // 10.0.0.2

using bench::put16;
using bench::put32;
using bench::routeDatagram;


const uint8_t kEthGateway6[16] = {0x20, 0x01, 0x0d, 0xb8, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

// The same for IPv6: route i is 2001:dXX:XXXX::/48 (i below 2^24).
int route6Datagram(uint8_t* buf, uint16_t type, uint32_t i, uint32_t ifUnit) {
    std::memset(buf, 0, 96);
    const int len = 16 + 12 + 20 + 8 + 20;
    put32(buf, len);
    put16(buf + 4, type);
    buf[16] = 10;  // family
    buf[17] = 48;  // prefix length
    buf[21] = 4;   // protocol: static
    uint8_t* a = buf + 28;
    const uint8_t dest[16] = {0x20, 0x01, 0x0d, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
    put16(a, 20), put16(a + 2, 1), std::memcpy(a + 4, dest, 16);
    put16(a + 20, 8), put16(a + 22, 4), put32(a + 24, ifUnit);
    put16(a + 28, 20), put16(a + 30, 5), std::memcpy(a + 32, kEthGateway6, 16);
    return len;
}

// Times are CPU time of this process: the development machine is shared
// with other builds, and wall clock there measures their load as much as
// this code. On an idle machine the two agree.
struct Clock {
    using time_point = double;
    static double now() {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    }
};

double seconds(double t0) { return Clock::now() - t0; }

void flushAll() {
    while (!hwListEmpty(&ghwRoute.readyList) || !hwListEmpty(&ghwRoute.ready6List)) hwRouteUpdate();
}

uint32_t hwCalls() { return static_cast<uint32_t>(simHwCallCount()); }

std::size_t gPoolBytes = 0;

void* countingAlloc(std::size_t count, std::size_t size) {
    gPoolBytes += count * size;
    return std::calloc(count, size);
}

// Longest chain of the destination table: every lookup of a new
// destination walks its whole bucket.
uint32_t longestDestBucket(bool v6) {
    uint32_t longest = 0;
    for (HwListLink& bucket : v6 ? ghwRoute.route6Table : ghwRoute.routeTable) {
        uint32_t n = 0;
        for (HwListLink* l = bucket.next; l != &bucket; l = l->next) ++n;
        if (n > longest) longest = n;
    }
    return longest;
}

// One route datagram of either family.
int datagram(uint8_t* buf, bool v6, uint16_t type, uint32_t i, uint32_t unit) {
    if (v6) return route6Datagram(buf, type, i, unit);
    return routeDatagram(buf, type, 0x0b000000u + (i << 8), kEthGateway, unit);
}

void run(uint32_t n, bool ptp, bool v6) {
    hwRouteStateInit(static_cast<int32_t>(n), 64, 64, 8, 1, 1, 1, countingAlloc);
    const uint32_t unit = ptp ? kPtpUnit : kEthUnit;
    if (!ptp && v6) {
        HwNd6Node nd{};
        nd.ifUnit = nd.subIfUnit = kEthUnit;
        std::memcpy(nd.nextHop, kEthGateway6, 16);
        nd.status = 2;
        const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 0x02};
        std::memcpy(nd.macAddr, mac, 6);
        hwNd6Add(&nd);
    } else if (!ptp) {
        HwArpNode arp{};
        arp.ifUnit = arp.subIfUnit = kEthUnit;
        arp.nextHop = kEthGateway;
        arp.status = 2;
        const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 0x02};
        std::memcpy(arp.mac, mac, 6);
        hwArpAdd(&arp);
    }
    uint8_t buf[96];
    const uint32_t calls0 = hwCalls();

    auto t0 = Clock::now();
    for (uint32_t i = 0; i < n; ++i) hwRtnotifyRecv(buf, datagram(buf, v6, 24, i, unit));
    const double add = seconds(t0);
    const uint32_t callsAdd = hwCalls() - calls0;
    const uint32_t longest = longestDestBucket(v6);

    t0 = Clock::now();
    flushAll();
    const double flushAdd = seconds(t0);
    const uint32_t callsFlushAdd = hwCalls() - calls0 - callsAdd;

    t0 = Clock::now();
    for (uint32_t i = 0; i < n; ++i) hwRtnotifyRecv(buf, datagram(buf, v6, 25, i, unit));
    const double del = seconds(t0);
    const uint32_t calls1 = hwCalls();
    t0 = Clock::now();
    flushAll();
    const double flushDel = seconds(t0);
    const uint32_t callsFlushDel = hwCalls() - calls1;

    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%-9s %9u  add %7.3f us  flush(add) %7.3f us  del %7.3f us  flush(del) %7.3f us  "
                "calls add %u + flush %u, del-flush %u  left: dest %u nexthop %u  hw ok %u  longest bucket %u  "
                "pools %zu MiB  peak RSS %ld MiB\n",
                ptp ? (v6 ? "ptp6" : "ptp") : (v6 ? "ethernet6" : "ethernet"), n, add * 1e6 / n, flushAdd * 1e6 / n, del * 1e6 / n, flushDel * 1e6 / n, callsAdd,
                callsFlushAdd, callsFlushDel, ghwRoute.swDestCnt + ghwRoute.swDest6Cnt, ghwRoute.swNexthopCnt + ghwRoute.swNexthop6Cnt,
                ghwRoute.hwOkRouteCnt + ghwRoute.hwOkRoute6Cnt,
                longest, gPoolBytes >> 20, ru.ru_maxrss / 1024);
    std::fflush(stdout);
}

// ---- Neighbour flap ----------------------------------------------------------
//
// N Ethernet routes spread over four gateways (10.0.0.2-5), all in hardware.
// One gateway's neighbour is then deleted and learnt again, flushing after
// each event, as the kernel reports an ARP entry that goes stale and comes
// back. The same is then done for a host that shares the gateways' bucket
// (10.0.0.130, no routes through it) to show that an unrelated neighbour
// costs nothing.

constexpr uint32_t kGateways[] = {0x0a000002, 0x0a000003, 0x0a000004, 0x0a000005};
constexpr uint32_t kBystander = 0x0a000082;

HwArpNode arpRequest(uint32_t address) {
    HwArpNode arp{};
    arp.ifUnit = arp.subIfUnit = kEthUnit;
    arp.nextHop = address;
    arp.status = 2;
    const uint8_t mac[6] = {0x02, 0, 0, 0, 0, uint8_t(address)};
    std::memcpy(arp.mac, mac, 6);
    return arp;
}

struct FlapTimes {
    double del, delFlush, add, addFlush;
};

FlapTimes flapOnce(uint32_t address) {
    FlapTimes t{};
    HwArpNode req = arpRequest(address);
    auto t0 = Clock::now();
    hwArpDel(&req);
    t.del = seconds(t0);
    t0 = Clock::now();
    flushAll();
    t.delFlush = seconds(t0);
    req = arpRequest(address);
    t0 = Clock::now();
    hwArpAdd(&req);
    t.add = seconds(t0);
    t0 = Clock::now();
    flushAll();
    t.addFlush = seconds(t0);
    return t;
}

void runFlap(uint32_t n) {
    hwRouteStateInit(static_cast<int32_t>(n), 64, 64, 8, 1, 1, 1, countingAlloc);
    for (uint32_t gw : kGateways) {
        HwArpNode arp = arpRequest(gw);
        hwArpAdd(&arp);
    }
    HwArpNode bystander = arpRequest(kBystander);
    hwArpAdd(&bystander);
    uint8_t buf[64];
    for (uint32_t i = 0; i < n; ++i)
        hwRtnotifyRecv(buf, routeDatagram(buf, 24, 0x0b000000u + (i << 8), kGateways[i % 4], kEthUnit));
    flushAll();
    const uint32_t paths = (n + 3) / 4;
    const uint32_t inHw = ghwRoute.hwOkRouteCnt;

    FlapTimes best{1e9, 1e9, 1e9, 1e9};
    for (int round = 0; round < 3; ++round) {
        const FlapTimes t = flapOnce(kGateways[0]);
        best = {std::min(best.del, t.del), std::min(best.delFlush, t.delFlush), std::min(best.add, t.add),
                std::min(best.addFlush, t.addFlush)};
    }
    FlapTimes other{1e9, 1e9, 1e9, 1e9};
    for (int round = 0; round < 3; ++round) {
        const FlapTimes t = flapOnce(kBystander);
        other = {std::min(other.del, t.del), std::min(other.delFlush, t.delFlush), std::min(other.add, t.add),
                 std::min(other.addFlush, t.addFlush)};
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("flap %u routes / 4 gateways, %u paths through the flapped one (hw ok %u, after %u):\n"
                "  gateway   delete %8.2f ms (%6.3f us/path) + flush %8.2f ms   add %8.2f ms (%6.3f us/path) + "
                "flush %8.2f ms\n"
                "  bystander delete %8.2f us + flush %6.2f us   add %8.2f us + flush %6.2f us\n"
                "  pools %zu MiB  peak RSS %ld MiB\n",
                n, paths, inHw, ghwRoute.hwOkRouteCnt, best.del * 1e3, best.del * 1e6 / paths, best.delFlush * 1e3,
                best.add * 1e3, best.add * 1e6 / paths, best.addFlush * 1e3, other.del * 1e6, other.delFlush * 1e6,
                other.add * 1e6, other.addFlush * 1e6, gPoolBytes >> 20, ru.ru_maxrss / 1024);
    std::fflush(stdout);
}

using bench::inChild;

}  // namespace

int main(int argc, char** argv) {
    const bool flap = argc > 1 && std::strcmp(argv[1], "flap") == 0;
    std::vector<uint32_t> sizes;
    for (int i = flap ? 2 : 1; i < argc; ++i) sizes.push_back(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)));
    if (sizes.empty()) sizes = flap ? std::vector<uint32_t>{1000000} : std::vector<uint32_t>{10000, 100000, 1000000};
    std::string err;
    const std::string config = "{\"interfaces\": {\"5\": {\"endType\": 22, \"mac\": \"02:00:00:00:05:05\", \"vlan\": 0, \"operState\": 1},"
                               " \"6\": {\"endType\": 6, \"mac\": \"02:00:00:00:06:06\", \"vlan\": 0, \"operState\": 1}}}";
    if (!simLoadConfigText(config, &err)) {
        std::fprintf(stderr, "route_bench: platform config: %s\n", err.c_str());
        return 1;
    }
    simDebugSetFile(nullptr);
    // Each run in a child process of its own, so its peak memory is its own.
    for (uint32_t n : sizes) {
        if (flap) {
            inChild([n] { runFlap(n); });
            continue;
        }
        for (bool v6 : {false, true})
            for (bool ptp : {true, false}) inChild([n, ptp, v6] { run(n, ptp, v6); });
    }
    return 0;
}
