// Churn soak: route adds and deletes over a fixed set of destinations, with
// the neighbours of their gateways flapping, through the intake as kernel
// datagrams, with a worker pass (flush, probes) after every few messages.
// Prints pool occupancy over time, and at the end checks that withdrawing
// everything returns every pool to where it started.
//
//   churn_soak [CYCLES [DESTINATIONS]]      default: 1000000 100000
//
// A cycle is one add and one delete of a destination path.
#include <arpa/inet.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hwroute/frame.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/route.h"
#include "bench_msgs.h"
#include "sim.h"

namespace {

constexpr uint32_t kEthUnit = 6;
constexpr uint32_t kGateways = 16;       // 10.0.0.2 .. 10.0.0.17
constexpr uint32_t kMessagesPerPass = 64;
constexpr uint32_t kFlapEvery = 5000;    // messages between neighbour deletes
constexpr uint32_t kFlapDown = 2000;     // messages a flapped neighbour stays away

using bench::put16;
using bench::put32;
using bench::routeDatagram;

uint32_t gateway(uint32_t g) { return 0x0a000002u + g; }


// A neighbour message: ndmsg (family, interface, state), destination, MAC.
int neighDatagram(uint8_t* buf, uint16_t type, uint32_t addr, uint8_t macLast) {
    std::memset(buf, 0, 64);
    const int len = 16 + 12 + 8 + 12;
    put32(buf, len);
    put16(buf + 4, type);
    buf[16] = 2;
    put32(buf + 20, kEthUnit);
    put16(buf + 24, 0x02);  // reachable
    uint8_t* a = buf + 28;
    const uint32_t addrBe = htonl(addr);
    put16(a, 8), put16(a + 2, 1), std::memcpy(a + 4, &addrBe, 4);
    const uint8_t mac[6] = {0x02, 0, 0, 0, 0, macLast};
    put16(a + 8, 10), put16(a + 10, 2), std::memcpy(a + 12, mac, 6);
    return len;
}

int dropProbe(const uint8_t*, int len, const void*, int) { return len; }

void pass() {
    hwRouteUpdate();
    hwRoutePendCheck();
}

struct Occupancy {
    uint32_t dest, nexthop, arp;
};

Occupancy inUse(const Occupancy& total) {
    return {total.dest - hwPoolFreeCount(&ghwRoute.destPool), total.nexthop - hwPoolFreeCount(&ghwRoute.nexthopPool),
            total.arp - hwPoolFreeCount(&ghwRoute.arpPool)};
}

// Processor time of this process: on a shared machine wall time says more
// about the neighbours than about the daemon.
double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long peakRssMiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t cycles = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const uint32_t dests = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 100000;
    std::string err;
    if (!simLoadConfigText("{\"interfaces\": {\"6\": {\"endType\": 6, \"mac\": \"02:00:00:00:06:06\", \"vlan\": 0, "
                           "\"operState\": 1, \"port\": 6}}}",
                           &err)) {
        std::fprintf(stderr, "churn_soak: platform config: %s\n", err.c_str());
        return 1;
    }
    simDebugSetFile(nullptr);
    hwPingSetTransport(dropProbe);
    hwRouteStateInit(int32_t(dests), 64, 64, 8, 1, 1, 1, std::calloc);
    const Occupancy total{hwPoolFreeCount(&ghwRoute.destPool), hwPoolFreeCount(&ghwRoute.nexthopPool),
                          hwPoolFreeCount(&ghwRoute.arpPool)};

    uint8_t buf[64];
    uint64_t messages = 0;
    auto send = [&](int len) {
        hwRtnotifyRecv(buf, len);
        if (++messages % kMessagesPerPass == 0) pass();
    };
    for (uint32_t g = 0; g < kGateways; ++g) send(neighDatagram(buf, 28, gateway(g), uint8_t(g)));

    // Each destination has at most one path, through the gateway it was added with.
    std::vector<uint8_t> via(dests, 0xff);
    std::mt19937 rng(1);
    uint64_t adds = 0, deletes = 0, flaps = 0;
    int32_t downGw = -1;
    uint64_t downSince = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = cpuSeconds();
    uint64_t nextReport = 0;
    std::printf("%12s %10s %10s %10s %8s %10s %10s\n", "messages", "dests", "next hops", "neighbours", "ready",
                "hw ok", "cpu s");
    while (deletes < cycles) {
        const uint32_t d = rng() % dests;
        const uint32_t subnet = 0x0b000000u + (d << 8);
        if (via[d] == 0xff) {
            via[d] = uint8_t(rng() % kGateways);
            send(routeDatagram(buf, 24, subnet, gateway(via[d]), kEthUnit));
            ++adds;
        } else {
            send(routeDatagram(buf, 25, subnet, gateway(via[d]), kEthUnit));
            via[d] = 0xff;
            ++deletes;
        }
        if (downGw < 0 && messages % kFlapEvery == 0) {
            downGw = int32_t(rng() % kGateways);
            downSince = messages;
            send(neighDatagram(buf, 29, gateway(uint32_t(downGw)), uint8_t(downGw)));
            ++flaps;
        } else if (downGw >= 0 && messages - downSince >= kFlapDown) {
            send(neighDatagram(buf, 28, gateway(uint32_t(downGw)), uint8_t(downGw + 0x80)));
            downGw = -1;
        }
        if (messages >= nextReport) {
            nextReport += 200000;
            const Occupancy u = inUse(total);
            std::printf("%12llu %10u %10u %10u %8u %10u %10.1f\n", (unsigned long long)messages, u.dest, u.nexthop,
                        u.arp, ghwRoute.readyRouteCnt, ghwRoute.hwOkRouteCnt, cpuSeconds() - cpu0);
            std::fflush(stdout);
        }
    }
    const double churnSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double churnCpu = cpuSeconds() - cpu0;

    // Withdraw everything the kernel announced: routes, then neighbours.
    for (uint32_t d = 0; d < dests; ++d)
        if (via[d] != 0xff) send(routeDatagram(buf, 25, 0x0b000000u + (d << 8), gateway(via[d]), kEthUnit));
    for (uint32_t g = 0; g < kGateways; ++g) send(neighDatagram(buf, 29, gateway(g), uint8_t(g)));
    for (int i = 0; i < 1000 && !hwListEmpty(&ghwRoute.readyList); ++i) pass();
    pass();
    const Occupancy end = inUse(total);
    std::printf("cycles %llu (adds %llu, deletes %llu), neighbour flaps %llu, messages %llu in %.1f s: "
                "%.0f messages/s (%.1f s of processor time: %.0f messages/s); peak RSS %ld MiB; hardware calls %llu\n",
                (unsigned long long)cycles, (unsigned long long)adds, (unsigned long long)deletes,
                (unsigned long long)flaps, (unsigned long long)messages, churnSeconds, double(messages) / churnSeconds,
                churnCpu, double(messages) / churnCpu, peakRssMiB(), (unsigned long long)simHwCallCount());
    std::printf("after withdrawing everything: in use dests %u, next hops %u, neighbours %u; hw ok %u\n", end.dest,
                end.nexthop, end.arp, ghwRoute.hwOkRouteCnt);
    const bool back = end.dest == 0 && end.nexthop == 0 && end.arp == 0;
    std::printf("%s\n", back ? "pools back to the start" : "POOLS DID NOT RETURN TO THE START");
    return back ? 0 : 1;
}
