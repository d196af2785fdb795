#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "hwroute/bewriter.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/frame.h"
#include "hwroute/hardware.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"
#include "sim.h"

namespace {

// Pool sizes small enough that exhaustion is reached by a few hundred bytes.
constexpr int32_t kRoutes = 48, kArps = 32, kNd6 = 32, kEcmp = 4, kIlm = 16, kL2vpn = 16, kTun = 8;

// Every interface unit the corpus uses is configured in full, so no query
// reaches the host's kernel: answers do not depend on the machine.
std::string fuzzPlatformConfig() {
    std::string units;
    for (int unit = 0; unit <= 32; ++unit) {
        char one[200];
        std::snprintf(one, sizeof one,
                      "%s\"%d\": {\"endType\": %d, \"vlan\": %d, \"port\": %d, \"mac\": \"02:00:00:00:01:%02x\", "
                      "\"operState\": 1, \"tunCreateTick\": %d}",
                      unit == 0 ? "" : ", ", unit, unit % 3 == 0 ? 6 : 22, unit % 5, unit + 1, unit, unit);
        units += one;
    }
    return "{\"interfaces\": {" + units + "}, \"systemMac\": \"02:00:00:00:00:01\"}";
}

// The arena the pools are carved from, reused by every input.
struct Arena {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(8u << 20);
    std::size_t used = 0;
} arena;

void* arenaAlloc(std::size_t count, std::size_t size) {
    const std::size_t n = (count * size + 15) & ~std::size_t(15);
    if (arena.used + n > arena.bytes.size()) return nullptr;
    void* p = arena.bytes.data() + arena.used;
    arena.used += n;
    return p;  // hwRouteMemInit zeroes (and unpoisons) what it carves
}

int dropProbe(const uint8_t*, int len, const void*, int) { return len; }

[[noreturn]] void broken(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "fuzz invariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

// A circular list whose links agree both ways, at most `bound` elements.
std::size_t walk(const HwListLink* head, std::size_t bound, const char* what) {
    std::size_t n = 0;
    for (const HwListLink* l = head; n == 0 || l != head; l = l->next) {
        if (l->next == nullptr || l->prev == nullptr) broken(what, "null link");
        if (l->next->prev != l || l->prev->next != l) broken(what, "links disagree");
        if (l != head && ++n > bound) broken(what, "longer than its pool");
        if (l->next == head) break;
    }
    return n;
}

template <std::size_t N>
std::size_t walkAll(HwListLink (&heads)[N], std::size_t bound, const char* what) {
    std::size_t n = 0;
    for (HwListLink& h : heads) n += walk(&h, bound, what);
    return n;
}

uint32_t plusHalf(int32_t n) { return uint32_t(n) + (uint32_t(n) >> 1); }

void checkLists() {
    HwRouteGlobal& g = ghwRoute;
    const std::size_t dests = g.routeMax, nhops = plusHalf(kRoutes);
    walkAll(g.nexthopTable, nhops, "nexthopTable");
    walkAll(g.pendTable, nhops, "pendTable");
    walkAll(g.nexthop6Table, nhops, "nexthop6Table");
    walkAll(g.pend6Table, nhops, "pend6Table");
    for (HwListLink* l : {&g.readyList, &g.ready6List}) walk(l, dests, "ready list");
    for (HwListLink* l : {&g.indirectList, &g.indirect6List}) walk(l, nhops, "indirect list");
    for (HwListLink* l : {&g.ilmList, &g.ilmPendList}) walk(l, kIlm, "ILM list");
    for (HwListLink* l : {&g.l2vpnList, &g.l2vpnPendList}) walk(l, kL2vpn, "L2VPN list");
    walk(&g.tunList, kTun, "tunnel list");

    // A record is either free in its pool or reachable from its table.
    const std::size_t v4 = walkAll(g.routeTable, dests, "routeTable");
    const std::size_t v6 = walkAll(g.route6Table, dests, "route6Table");
    if (v4 != g.swDestCnt) broken("swDestCnt", std::to_string(v4) + " in the table");
    if (v6 != g.swDest6Cnt) broken("swDest6Cnt", std::to_string(v6) + " in the table");
    if (v4 + v6 + walk(&g.destPool, dests, "destPool") != dests) broken("destination pool leaks");
    std::size_t nh4 = 0, nh6 = 0;
    for (HwListLink& b : g.routeTable)
        for (HwRouteDest* d : hwListOf<&HwRouteDest::hashLink>(&b)) nh4 += walk(&d->nhopList, nhops, "nhopList");
    for (HwListLink& b : g.route6Table)
        for (HwRoute6Dest* d : hwListOf<&HwRoute6Dest::hashLink>(&b)) nh6 += walk(&d->nhopList, nhops, "nhop6List");
    if (nh4 != g.swNexthopCnt) broken("swNexthopCnt", std::to_string(nh4) + " in the tables");
    if (nh4 + nh6 + walk(&g.nexthopPool, nhops, "nexthopPool") != nhops) broken("next-hop pool leaks");
    const std::size_t arps = walkAll(g.arpTable, g.arpMax, "arpTable");
    if (arps + walk(&g.arpPool, g.arpMax, "arpPool") != g.arpMax) broken("ARP pool leaks");
    const std::size_t nd6 = walkAll(g.nd6Table, g.nd6Max, "nd6Table");
    if (nd6 + walk(&g.nd6Pool, g.nd6Max, "nd6Pool") != g.nd6Max) broken("ND6 pool leaks");
}

// What the hardware holds after every accepted IPv4 route call, in order.
using PathKey = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;  // vrf, subnet, mask, next hop
struct HwModel {
    std::set<PathKey> paths;
    std::size_t applied = 0;
    void apply(const std::vector<SimHwCall>& calls) {
        for (; applied < calls.size(); ++applied) {
            const SimHwCall& c = calls[applied];
            if (c.result != 0 || c.objectId != HW_OBJ_ROUTE4) continue;
            for (std::size_t pos = 0; pos + 28 <= c.data.size();) {
                const std::size_t words = c.data[pos + 19], left = c.data.size() - pos;
                const std::size_t len = words * 4 >= 28 && words * 4 <= left ? words * 4 : left;
                entry(&c.data[pos], len);
                pos += len;
            }
        }
    }
    void entry(const uint8_t* e, std::size_t len) {
        const uint32_t vrf = beRead32(e + 4), subnet = beRead32(e + 8), mask = beRead32(e + 12);
        for (std::size_t r = 28; r + 64 <= len; r += 64 + 8 * e[r + 59]) {
            if (beRead32(e + r) == 0x10) continue;  // neighbour host entry
            const PathKey k{vrf, subnet, mask, beRead32(e + r + 4)};
            if (e[r + 58] == 1) paths.insert(k);
            // A delete of the label part alone (label flag without the path
            // flag) leaves the path in hardware.
            const uint32_t flags = beRead32(e + r);
            if (e[r + 58] == 2 && !((flags & 0x04) && !(flags & 0x02))) paths.erase(k);
        }
    }
} model;

// Settled paths only: with destinations still queued the flush has work left.
void checkHardware() {
    model.apply(simHwCalls());
    if (ghwRoute.readyList.next != &ghwRoute.readyList) return;
    std::set<PathKey> sw;
    for (HwListLink& b : ghwRoute.routeTable)
        for (HwRouteDest* d : hwListOf<&HwRouteDest::hashLink>(&b))
            for (HwRouteNexthop* n : hwListOf<&HwRouteNexthop::destLink>(&d->nhopList))
                if (n->flag & NH_HW_OK) sw.insert({d->vrfId, d->destIp, d->mask, n->nextHop});
    if (sw != model.paths)
        broken("hardware model", std::to_string(sw.size()) + " paths in software, " +
                                     std::to_string(model.paths.size()) + " in hardware");
    if (ghwRoute.hwOkRouteCnt != sw.size()) broken("hwOkRouteCnt");
}

}  // namespace

void fuzzOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string err;
    if (!simLoadConfigText(fuzzPlatformConfig(), &err)) broken("fuzzing configuration", err);
    simDebugSetFile(std::fopen("/dev/null", "w"));
    hwPingSetTransport(dropProbe);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) broken("stdout");
}

void fuzzFreshState(bool recordHw) {
    fuzzOnce();
    arena.used = 0;
    hwRouteStateInit(kRoutes, kArps, kNd6, kEcmp, kIlm, kL2vpn, kTun, arenaAlloc);
    hwRouteDebugSet(1);  // every debug line is formatted: their arguments are checked too
    simRecordCalls(recordHw);
    simClearHwCalls();
    model = HwModel{};
}

void fuzzPass() {
    hwRouteUpdate();
    if (ghwRoute.slotUpFlag != 0 || ghwRoute.cardUpFlag != 0 || ghwRoute.resendRouteFlag != 0) {
        hwRouteCardupProcess();
        ghwRoute.slotUpFlag = ghwRoute.cardUpFlag = ghwRoute.resendRouteFlag = 0;
    }
    hwRoutePendCheck();
    hwRoute6PendCheck();
}

void fuzzCheckInvariants() {
    checkLists();
    checkHardware();
}
