// Labelled-route and incoming-label benchmark: N labelled routes riding on
// one public route, and N incoming-label entries towards one resolved next
// hop, each fed as the platform's message datagrams through the intake and
// removed the same way; then the public route's neighbour goes and comes
// back with all of them on it.
//
// Then N entries, each towards a next hop of its own that never resolves.
//
// Then N layer-2 VPN entries towards the resolved next hop: added, rewritten
// by a MAC change of the neighbour, deleted.
//
// Then N routes through the resolved next hop added beside 0 and 1000
// tunnels routed through covering destinations (none covered by them).
//
//   mpls_bench [N ...]            default: 1000 10000
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_msgs.h"
#include "hwroute/frame.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/mpls.h"
#include "hwroute/neighbour.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"
#include "sim.h"

namespace {

constexpr uint32_t kEthUnit = 6;
constexpr uint8_t kGw[4] = {10, 0, 0, 2};
constexpr uint32_t kGateway = 0x0a000002;
constexpr int kMsgLen = 128;
constexpr uint16_t kRouteAdd = 24;

void put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// The labelled-route / incoming-label message body: offsets from the message start.
int mplsDatagram(uint8_t* b, uint16_t type, uint8_t op, uint32_t i, bool withPublic, uint32_t nextHop = kGateway) {
    std::memset(b, 0, kMsgLen);
    put32(b, kMsgLen);
    std::memcpy(b + 4, &type, 2);
    put32(b + 16, 5);                   // vrfId
    put32(b + 24, kEthUnit);            // ifUnit
    const uint32_t dest = 0xac100000u + (i << 8);
    for (int k = 0; k < 4; ++k) b[28 + k] = uint8_t(dest >> (24 - 8 * k));
    for (int k = 0; k < 4; ++k) b[44 + k] = uint8_t(nextHop >> (24 - 8 * k));  // next hop
    b[60] = 2;                          // family
    b[62] = 24;                         // prefix length
    b[63] = 0x01;                       // ILM: transit; route delete: remove the route
    b[64] = 1;                          // one label
    b[65] = withPublic ? 2 : 0;         // public family
    b[66] = op;
    put32(b + 68, (100000 + i) << 12 | 0x1ff);  // ILM incoming label
    put32(b + 72, (200000 + i) << 12 | 0x1ff);
    if (withPublic) {
        b[92] = 10, b[93] = 1;          // public 10.1.0.0/16 via 10.0.0.2, protocol 3
        std::memcpy(b + 108, kGw, 4);
        b[124] = 16;
        b[125] = 3;
        b[127] = 1;
    }
    return kMsgLen;
}

// Probes for unresolved next hops are counted by the daemon and dropped here.
int dropProbe(const uint8_t*, int len, const void*, int) { return len; }

double seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void flushAll() {
    while (!hwListEmpty(&ghwRoute.readyList)) hwRouteUpdate();
}

HwArpNode neighbour() {
    HwArpNode arp{};
    arp.ifUnit = arp.subIfUnit = kEthUnit;
    arp.nextHop = kGateway;
    arp.status = 2;
    const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 0x02};
    std::memcpy(arp.mac, mac, 6);
    return arp;
}

template <class Fn>
double perItem(uint32_t n, Fn fn) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    return seconds(t0) * 1e6 / n;
}

void run(uint32_t n) {
    hwRouteStateInit(int32_t(n + 16), 64, 64, 8, int32_t(n), 1, 1, std::calloc);
    HwArpNode arp = neighbour();
    hwArpAdd(&arp);
    uint8_t b[kMsgLen];
    const double vpnAdd = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i) hwRtnotifyRecv(b, mplsDatagram(b, 131, 24, i, true));
        flushAll();
    });
    const double ilmAdd = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i) hwRtnotifyRecv(b, mplsDatagram(b, 129, 0, i, false));
    });
    const uint32_t okIlm = ghwRoute.hwOkIlmCnt;
    const double neighLoss = perItem(n, [&] {
        HwArpNode gone = neighbour();
        hwArpDel(&gone);
        flushAll();
        HwArpNode back = neighbour();
        hwArpAdd(&back);
        flushAll();
    });
    const uint32_t okIlmAfter = ghwRoute.hwOkIlmCnt;
    const double ilmDel = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i) hwRtnotifyRecv(b, mplsDatagram(b, 130, 0, i, false));
    });
    // Every entry towards a next hop of its own, none of them resolved: each
    // add opens a new group on both ILM lists, in random order.
    auto spread = [](uint32_t i) { return 0x0b000000u + (i * 2654435761u) % 0x00ffffffu; };
    const double ilmSpreadAdd = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i) hwRtnotifyRecv(b, mplsDatagram(b, 129, 0, i, false, spread(i)));
    });
    const uint32_t waiting = ghwRoute.pendIlmCnt;
    const double ilmSpreadDel = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i) hwRtnotifyRecv(b, mplsDatagram(b, 130, 0, i, false, spread(i)));
    });
    const double vpnDel = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i) hwRtnotifyRecv(b, mplsDatagram(b, 132, 25, i, false));
        flushAll();
    });
    std::printf("%7u  vpn add %7.2f us  ilm add %7.2f us  neighbour lost+back %7.2f us/entry  ilm del %7.2f us  "
                "ilm add/del, a next hop each %7.2f/%7.2f us (%u waiting)  "
                "vpn del %7.2f us  ilm in hw %u/%u  left: nexthops %u ilm %u imbalance %u\n",
                n, vpnAdd, ilmAdd, neighLoss, ilmDel, ilmSpreadAdd, ilmSpreadDel, waiting, vpnDel, okIlm, okIlmAfter,
                ghwRoute.swNexthopCnt, ghwRoute.swIlmCnt, ghwRoute.publicRefImbalanceCnt);
    std::fflush(stdout);
}

// A pseudowire towards the gateway; `i` makes its key (VFI and CE port) its own.
HwRouteL2vpnNode pseudowire(uint32_t i) {
    HwRouteL2vpnNode e{};
    e.vfiId = uint16_t(i % 4000 + 1);
    e.vpnType = 1;
    e.family = 2;
    e.cePort = i / 4000 + 1;
    e.txInnerLabel = 300000 + i;
    e.rxInnerLabel = 400000 + i;
    e.status = hwStatusIdle;  // as the intake hands it over
    std::memcpy(e.nexthopIp, kGw, 4);
    return e;
}

uint32_t l2vpnInHardware() {
    uint32_t n = 0;
    for (HwRouteL2vpnNode* e : hwListOf<&HwRouteL2vpnNode::link>(&ghwRoute.l2vpnList)) n += e->status == hwStatusOk;
    return n;
}

void runL2vpn(uint32_t n) {
    hwRouteStateInit(64, 64, 64, 8, 16, int32_t(n), 1, std::calloc);
    HwArpNode arp = neighbour();
    hwArpAdd(&arp);
    const double add = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i) {
            HwRouteL2vpnNode e = pseudowire(i);
            hwRouteL2vpnAdd(&e, 0, nullptr, nullptr);
        }
    });
    const uint32_t inHw = l2vpnInHardware();
    const double change = perItem(n, [&] {
        HwArpNode moved = neighbour();
        moved.mac[5] = 0x22;
        hwArpAdd(&moved);
    });
    // Another neighbour comes and goes 1000 times beside the N entries.
    const double other = perItem(1000, [&] {
        for (uint32_t k = 0; k < 1000; ++k) {
            HwArpNode o = neighbour();
            o.nextHop = kGateway + 1;
            hwArpAdd(&o);
            hwArpDel(&o);
        }
    });
    const double del = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i) {
            HwRouteL2vpnNode e = pseudowire(i);
            hwRouteL2vpnDel(&e);
        }
    });
    std::printf("%7u  l2vpn add %7.2f us  neighbour MAC change %7.2f us/entry  other neighbour add+del %7.2f us  l2vpn del %7.2f us  in hw %u  left %u\n",
                n, add, change, other, del, inHw, ghwRoute.l2vpnList.next == &ghwRoute.l2vpnList ? 0u : 1u);
    std::fflush(stdout);
}

void runTunnels(uint32_t n, uint32_t tunnels) {
    hwRouteStateInit(int32_t(n + 16), 64, 64, 8, 16, 1, int32_t(tunnels + 1), std::calloc);
    HwArpNode arp = neighbour();
    hwArpAdd(&arp);
    for (uint32_t i = 0; i < tunnels; ++i) {
        HwRouteTunNode* t = hwRouteTunNodeAlloc();
        t->tunFamily = HW_AF_INET;
        t->tunId = uint16_t(i);
        t->dstType = 2;
        t->nextHopDst[0] = 192, t->nextHopDst[1] = 168, t->nextHopDst[2] = uint8_t(i >> 8), t->nextHopDst[3] = uint8_t(i);
        hwRouteTunTableAdd(t);
    }
    uint8_t b[64];
    const double add = perItem(n, [&] {
        for (uint32_t i = 0; i < n; ++i)
            hwRtnotifyRecv(b, bench::routeDatagram(b, kRouteAdd, 0xac000000u + (i << 8), kGateway, kEthUnit));
        flushAll();
    });
    std::printf("%7u  route add beside %4u tunnels %7.2f us  in hw %u\n", n, tunnels, add, ghwRoute.hwOkRouteCnt);
    std::fflush(stdout);
}

using bench::inChild;

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint32_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(uint32_t(std::strtoul(argv[i], nullptr, 10)));
    if (sizes.empty()) sizes = {1000, 10000};
    std::string err;
    if (!simLoadConfigText(R"({"interfaces": {"6": {"endType": 6, "mac": "02:00:00:00:06:06", "vlan": 0,
                           "operState": 1}}})",
                           &err)) {
        std::fprintf(stderr, "mpls_bench: platform config: %s\n", err.c_str());
        return 1;
    }
    simDebugSetFile(nullptr);
    hwPingSetTransport(dropProbe);
    for (uint32_t n : sizes) inChild([n] { run(n); });
    for (uint32_t n : sizes) inChild([n] { runL2vpn(n); });
    for (uint32_t n : sizes)
        for (uint32_t tunnels : {0u, 1000u}) inChild([n, tunnels] { runTunnels(n, tunnels); });
    return 0;
}
