// Ready lists, pending tables and indirect lists of IPv4 and IPv6 routes,
// with the walks over the indirect lists.
//
// States kept here:
//   destination  readyState 0 (not ready) <-> 1 (on the ready list, flushed in arrival order)
//   next hop     NH_RESOLVED set (not pending) <-> clear (on its pending bucket)
//   next hop     NH_INDIRECT set exactly while on the indirect list
#include <cstring>

#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/tables.h"
#include "side_index.h"

uint32_t hwIndirectDepthHitCnt = 0;

// IPv4 ready list, pending table and indirect list.

void hwRouteReadyTableAdd(HwRouteDest* dest) {
    if (dest == nullptr) return;
    hwListInsertTail(&ghwRoute.readyList, &dest->readyLink);
    dest->readyState = 1;
    ghwRoute.readyRouteCnt++;
}

void hwRouteReadyTableDelete(HwRouteDest* dest) {
    if (dest == nullptr) return;
    hwListRemove(&dest->readyLink);
    dest->readyState = 0;
    ghwRoute.readyRouteCnt--;
}

void hwRouteTablePendAdd(HwRouteNexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListInsertFront(&ghwRoute.pendTable[hwRouteKey1(nexthop->nextHop)], &nexthop->pendLink);
    ghwIndex.pend.add<HwNexthop4AtFamily>(nexthop, true);
    ghwRoute.pendRouteCnt++;
}

void hwRouteTablePendDelete(HwRouteNexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListRemove(&nexthop->pendLink);
    ghwIndex.pend.remove<HwNexthop4AtFamily>(nexthop);
    ghwRoute.pendRouteCnt--;
}

// The list and NH_INDIRECT move together, so the hardware layer can tell an
// indirect next hop by its flag alone.
void hwRouteIndirectTableAdd(HwRouteNexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListInsertFront(&ghwRoute.indirectList, &nexthop->indirectLink);
    nexthop->flag |= NH_INDIRECT;
}

void hwRouteIndirectTableDelete(HwRouteNexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListRemove(&nexthop->indirectLink);
    nexthop->flag &= ~NH_INDIRECT;
}

void hwRouteReadyAppend(HwRouteDest* dest) {
    if (dest == nullptr || dest->readyState != 0) return;
    hwRouteReadyTableAdd(dest);
}

void hwRouteReadyRemove(HwRouteDest* dest) {
    if (dest == nullptr || dest->readyState != 1) return;
    hwRouteReadyTableDelete(dest);
}

// A next hop without NH_RESOLVED is already on its pending bucket.
void hwRoutePend(HwRouteNexthop* nexthop) {
    if (nexthop == nullptr || (nexthop->flag & NH_RESOLVED) == 0) return;
    hwRouteTablePendAdd(nexthop);
    nexthop->flag &= ~NH_RESOLVED;
}

// IPv6 ready list, pending table and indirect list.

void hwRoute6ReadyTableAdd(HwRoute6Dest* dest) {
    if (dest == nullptr) return;
    hwListInsertTail(&ghwRoute.ready6List, &dest->readyLink);
    dest->readyState = 1;
    ghwRoute.readyRoute6Cnt++;
}

void hwRoute6ReadyTableDelete(HwRoute6Dest* dest) {
    if (dest == nullptr) return;
    hwListRemove(&dest->readyLink);
    dest->readyState = 0;
    ghwRoute.readyRoute6Cnt--;
}

void hwRoute6TablePendAdd(HwRoute6Nexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListInsertFront(&ghwRoute.pend6Table[hwRoute6Key1(nexthop->nextHop)], &nexthop->pendLink);
    ghwIndex.pend.add<HwNexthop6AtFamily>(nexthop, true);
    ghwRoute.pendRoute6Cnt++;
}

void hwRoute6TablePendDelete(HwRoute6Nexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListRemove(&nexthop->pendLink);
    ghwIndex.pend.remove<HwNexthop6AtFamily>(nexthop);
    ghwRoute.pendRoute6Cnt--;
}

void hwRoute6IndirectTableAdd(HwRoute6Nexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListInsertFront(&ghwRoute.indirect6List, &nexthop->indirectLink);
    nexthop->flag |= NH_INDIRECT;
}

void hwRoute6IndirectTableDelete(HwRoute6Nexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListRemove(&nexthop->indirectLink);
    nexthop->flag &= ~NH_INDIRECT;
}

void hwRoute6ReadyAppend(HwRoute6Dest* dest) {
    if (dest == nullptr || dest->readyState != 0) return;
    hwRoute6ReadyTableAdd(dest);
}

void hwRoute6ReadyRemove(HwRoute6Dest* dest) {
    if (dest == nullptr || dest->readyState != 1) return;
    hwRoute6ReadyTableDelete(dest);
}

void hwRoute6Pend(HwRoute6Nexthop* nexthop) {
    if (nexthop == nullptr || (nexthop->flag & NH_RESOLVED) == 0) return;
    hwRoute6TablePendAdd(nexthop);
    nexthop->flag &= ~NH_RESOLVED;
}

// Indirect walks. The IPv4 and IPv6 walks differ only in the list, the
// covering test and the ready list, which the two families below supply.
namespace {

struct Family4 {
    using Dest = HwRouteDest;
    using Nexthop = HwRouteNexthop;
    using Address = uint32_t;
    static HwListLink* indirectList() { return &ghwRoute.indirectList; }
    static HwListLink* destBuckets() { return ghwRoute.routeTable; }
    static bool covers(const Dest* d, Address address) { return (address & d->mask) == d->destIp; }
    static Address nextHopOf(const Nexthop* n) { return n->nextHop; }
    static void readyAppend(Dest* d) { hwRouteReadyAppend(d); }
};

struct Family6 {
    using Dest = HwRoute6Dest;
    using Nexthop = HwRoute6Nexthop;
    using Address = const uint8_t*;
    static HwListLink* indirectList() { return &ghwRoute.indirect6List; }
    static HwListLink* destBuckets() { return ghwRoute.route6Table; }
    static bool covers(const Dest* d, Address address) {
        return hwRouteIp6AddrMatch(address, d->destIpAddr, d->prefixLen) == 0;
    }
    static Address nextHopOf(const Nexthop* n) { return n->nextHop; }
    static void readyAppend(Dest* d) { hwRoute6ReadyAppend(d); }
};

// A route resolved through itself (or a longer cycle of routes) would make
// every walk below recurse for ever. The walks carry their depth and stop at
// HW_INDIRECT_MAX_DEPTH, which no sane chain of recursive routes reaches;
// hitting it is logged and counted so the cycle can be found.
bool depthReached(const char* fn, int depth) {
    if (depth < HW_INDIRECT_MAX_DEPTH) return false;
    hwIndirectDepthHitCnt++;
    hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[%s]=>recursion depth %d reached, stop.", fn, depth);
    return true;
}

// A route to `d` became usable: the indirect next hops it covers are added
// again, and so are the routes resolved through their destinations.
template <class F>
void indirectRtAdd(typename F::Dest* d, const char* fn, int depth) {
    if (depthReached(fn, depth)) return;
    for (typename F::Nexthop* n : hwListOf<&F::Nexthop::indirectLink>(F::indirectList())) {
        if (!F::covers(d, F::nextHopOf(n))) continue;
        n->flag |= NH_OP_ADD | NH_RESOLVED;
        if (n->pDestEntry == nullptr) continue;
        F::readyAppend(n->pDestEntry);
        indirectRtAdd<F>(n->pDestEntry, fn, depth + 1);
    }
}

// A route to `d` went away: the indirect next hops it covers lost their way out.
template <class F>
void indirectRtDel(typename F::Dest* d, const char* fn, int depth) {
    if (depthReached(fn, depth)) return;
    for (typename F::Nexthop* n : hwListOf<&F::Nexthop::indirectLink>(F::indirectList())) {
        if (!F::covers(d, F::nextHopOf(n))) continue;
        n->flag |= NH_NEIGH_LOST;
        if (n->pDestEntry == nullptr) continue;
        F::readyAppend(n->pDestEntry);
        indirectRtDel<F>(n->pDestEntry, fn, depth + 1);
    }
}

// The unresolved indirect next hops covered by `d` are resolved.
template <class F>
void indirectPendDel(typename F::Dest* d, uint32_t clearLost, const char* fn, int depth) {
    if (depthReached(fn, depth)) return;
    for (typename F::Nexthop* n : hwListOf<&F::Nexthop::indirectLink>(F::indirectList())) {
        if ((n->flag & NH_RESOLVED) != 0 || !F::covers(d, F::nextHopOf(n))) continue;
        n->flag |= NH_RESOLVED;
        if (clearLost != 0) n->flag &= ~(NH_NEIGH_LOST | NH_VPN_NEIGH_LOST);
        if (n->pDestEntry == nullptr) continue;
        indirectPendDel<F>(n->pDestEntry, clearLost, fn, depth + 1);
    }
}

// First destination of `vrfId` covering `address` that has next hops, in
// bucket order (not the longest prefix).
template <class F>
typename F::Dest* firstCoveringDest(uint32_t vrfId, typename F::Address address) {
    HwListLink* buckets = F::destBuckets();
    for (uint32_t i = 0; i < HW_DEST_BUCKETS; ++i) {
        for (typename F::Dest* d : hwListOf<&F::Dest::hashLink>(&buckets[i])) {
            if (d->vrfId == vrfId && F::covers(d, address) && !hwListEmpty(&d->nhopList)) return d;
        }
    }
    return nullptr;
}

template <class F>
typename F::Nexthop* indirectNhopLookup(uint32_t vrfId, typename F::Address address, const char* fn, int depth) {
    if (depthReached(fn, depth)) return nullptr;
    typename F::Dest* d = firstCoveringDest<F>(vrfId, address);
    if (d == nullptr) return nullptr;
    for (typename F::Nexthop* n : hwListOf<&F::Nexthop::destLink>(&d->nhopList)) {
        if ((n->flag & NH_INDIRECT) != 0) continue;
        // A connected or local route: the address is on the link, no gateway.
        return n->protoId == HW_PROTO_KERNEL ? nullptr : n;
    }
    typename F::Nexthop* newest = hwListFirst<&F::Nexthop::destLink>(&d->nhopList);
    return indirectNhopLookup<F>(vrfId, F::nextHopOf(newest), fn, depth + 1);
}

}  // namespace

void hwRouteIndirectRtAdd(HwRouteDest* dest) {
    if (dest == nullptr) return;
    indirectRtAdd<Family4>(dest, "hwRouteIndirectRtAdd", 0);
}

void hwRouteIndirectRtDel(HwRouteDest* dest) {
    if (dest == nullptr) return;
    indirectRtDel<Family4>(dest, "hwRouteIndirectRtDel", 0);
}

void hwRouteIndirectPendDel(HwRouteDest* dest, uint32_t clearLost) {
    if (dest == nullptr) return;
    indirectPendDel<Family4>(dest, clearLost, "hwRouteIndirectPendDel", 0);
}

HwRouteNexthop* hwRouteIndirectNhopLookup(uint32_t vrfId, uint32_t address) {
    return indirectNhopLookup<Family4>(vrfId, address, "hwRouteIndirectNhopLookup", 0);
}

void hwRoute6IndirectRtAdd(HwRoute6Dest* dest) {
    if (dest == nullptr) return;
    indirectRtAdd<Family6>(dest, "hwRoute6IndirectRtAdd", 0);
}

void hwRoute6IndirectRtDel(HwRoute6Dest* dest) {
    if (dest == nullptr) return;
    indirectRtDel<Family6>(dest, "hwRoute6IndirectRtDel", 0);
}

void hwRoute6IndirectPendDel(HwRoute6Dest* dest, uint32_t clearLost) {
    if (dest == nullptr) return;
    indirectPendDel<Family6>(dest, clearLost, "hwRoute6IndirectPendDel", 0);
}

HwRoute6Nexthop* hwRoute6IndirectNhopLookup(uint32_t vrfId, const uint8_t* address) {
    if (address == nullptr) return nullptr;
    return indirectNhopLookup<Family6>(vrfId, address, "hwRoute6IndirectNhopLookup", 0);
}
