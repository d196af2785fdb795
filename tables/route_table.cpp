// Destination and next-hop tables of IPv4 and IPv6 routes, with the
// software counters and the per-VRF, per-protocol statistics they keep.
#include <cstring>

#include "hwroute/tables.h"
#include "side_index.h"

uint32_t* hwProtoStatsEntry(HwProtoStats& table, uint32_t vrfId, uint32_t protoId) {
    // Protocol 0 is never counted, and a VRF or protocol beyond the table is
    // skipped rather than written past its end: the route still works, it is
    // only missing from the per-protocol statistics.
    if (protoId == 0 || protoId > HW_STATS_PROTOS) return nullptr;
    if (vrfId >= HW_STATS_VRFS) return nullptr;
    return &table[vrfId][protoId - 1];
}

namespace {

void protoStatAdd(HwProtoStats& table, uint32_t vrfId, uint32_t protoId, int32_t delta) {
    uint32_t* entry = hwProtoStatsEntry(table, vrfId, protoId);
    if (entry != nullptr) *entry += static_cast<uint32_t>(delta);
}

}  // namespace

// IPv4 destinations.

void hwRouteDestTableAdd(HwRouteDest* dest) {
    if (dest == nullptr) return;
    hwListInsertFront(&ghwRoute.routeTable[hwRouteKey(dest->destIp, dest->mask)], &dest->hashLink);
    ghwIndex.dest.add<HwDest4Family>(dest, true);
    ghwRoute.swDestCnt++;
    ghwRoute.swDestAddCnt++;
}

void hwRouteDestTableDelete(HwRouteDest* dest) {
    if (dest == nullptr) return;
    hwListRemove(&dest->hashLink);
    ghwIndex.dest.remove<HwDest4Family>(dest);
    ghwRoute.swDestCnt--;
    ghwRoute.swDestDelCnt++;
}

HwRouteDest* hwRouteDestTableLookup(const HwRouteDest* request) {
    if (request == nullptr) return nullptr;
    // A lookup is followed by an add (linked at the front of the bucket) or
    // a delete (unlinked from its bucket neighbours); fetching those records
    // now overlaps their cache misses with the index probe.
    __builtin_prefetch(ghwRoute.routeTable[hwRouteKey(request->destIp, request->mask)].next, 1);
    // The newest record of the key, as the first match of its bucket would be.
    HwRouteDest* found = ghwIndex.dest.first<HwDest4Family>(HwDest4Family::keyOf(request));
    if (found != nullptr) {
        __builtin_prefetch(found->hashLink.next, 1);
        __builtin_prefetch(found->hashLink.prev, 1);
    }
    return found;
}

// IPv4 next hops.

void hwRouteNexthopTableAdd(HwRouteDest* dest, HwRouteNexthop* nexthop) {
    if (dest == nullptr || nexthop == nullptr) return;
    hwListInsertFront(&ghwRoute.nexthopTable[hwRouteKey1(nexthop->nextHop)], &nexthop->hashLink);
    ghwIndex.nexthop.add<HwNexthop4AtFamily>(nexthop, true);
    hwListInsertFront(&dest->nhopList, &nexthop->destLink);
    dest->nhopRefCnt++;
    ghwRoute.swNexthopCnt++;
    ghwRoute.swNexthopAddCnt++;
    protoStatAdd(ghwRoute.swRouteProtoStats, dest->vrfId, nexthop->protoId, 1);
    protoStatAdd(ghwRoute.swRouteProtoAddStats, dest->vrfId, nexthop->protoId, 1);
}

void hwRouteNexthopTableDelete(HwRouteNexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListRemove(&nexthop->hashLink);
    ghwIndex.nexthop.remove<HwNexthop4AtFamily>(nexthop);
    hwListRemove(&nexthop->destLink);
    ghwRoute.swNexthopCnt--;
    ghwRoute.swNexthopDelCnt++;
    HwRouteDest* owner = nexthop->pDestEntry;
    if (owner == nullptr) return;
    owner->nhopRefCnt--;
    protoStatAdd(ghwRoute.swRouteProtoStats, owner->vrfId, nexthop->protoId, -1);
    protoStatAdd(ghwRoute.swRouteProtoDelStats, owner->vrfId, nexthop->protoId, 1);
}

HwRouteNexthop* hwRouteNexthopTableLookup(HwRouteDest* dest, const HwRouteNexthop* request) {
    if (dest == nullptr || request == nullptr) return nullptr;
    for (HwRouteNexthop* n : hwListOf<&HwRouteNexthop::destLink>(&dest->nhopList)) {
        if (n->nVrfId == request->nVrfId && n->nextHop == request->nextHop && n->protoId == request->protoId) return n;
    }
    return nullptr;
}

// IPv6 destinations.

void hwRoute6DestTableAdd(HwRoute6Dest* dest) {
    if (dest == nullptr) return;
    hwListInsertFront(&ghwRoute.route6Table[hwRoute6Key(dest->destIpAddr, dest->prefixLen)], &dest->hashLink);
    ghwIndex.dest.add<HwDest6Family>(dest, true);
    ghwRoute.swDest6Cnt++;
    ghwRoute.swDest6AddCnt++;
}

void hwRoute6DestTableDelete(HwRoute6Dest* dest) {
    if (dest == nullptr) return;
    hwListRemove(&dest->hashLink);
    ghwIndex.dest.remove<HwDest6Family>(dest);
    ghwRoute.swDest6Cnt--;
    ghwRoute.swDest6DelCnt++;
}

HwRoute6Dest* hwRoute6DestTableLookup(const HwRoute6Dest* request) {
    if (request == nullptr) return nullptr;
    return ghwIndex.dest.first<HwDest6Family>(HwDest6Family::keyOf(request));
}

// IPv6 next hops.

void hwRoute6NexthopTableAdd(HwRoute6Dest* dest, HwRoute6Nexthop* nexthop) {
    if (dest == nullptr || nexthop == nullptr) return;
    hwListInsertFront(&ghwRoute.nexthop6Table[hwRoute6Key1(nexthop->nextHop)], &nexthop->hashLink);
    ghwIndex.nexthop.add<HwNexthop6AtFamily>(nexthop, true);
    hwListInsertFront(&dest->nhopList, &nexthop->destLink);
    dest->nhopRefCnt++;
    ghwRoute.swNexthop6Cnt++;
    ghwRoute.swNexthop6AddCnt++;
    protoStatAdd(ghwRoute.swRoute6ProtoStats, dest->vrfId, nexthop->protoId, 1);
    protoStatAdd(ghwRoute.swRoute6ProtoAddStats, dest->vrfId, nexthop->protoId, 1);
}

void hwRoute6NexthopTableDelete(HwRoute6Nexthop* nexthop) {
    if (nexthop == nullptr) return;
    hwListRemove(&nexthop->hashLink);
    ghwIndex.nexthop.remove<HwNexthop6AtFamily>(nexthop);
    hwListRemove(&nexthop->destLink);
    ghwRoute.swNexthop6Cnt--;
    ghwRoute.swNexthop6DelCnt++;
    HwRoute6Dest* owner = nexthop->pDestEntry;
    if (owner == nullptr) return;
    owner->nhopRefCnt--;
    protoStatAdd(ghwRoute.swRoute6ProtoStats, owner->vrfId, nexthop->protoId, -1);
    protoStatAdd(ghwRoute.swRoute6ProtoDelStats, owner->vrfId, nexthop->protoId, 1);
}

HwRoute6Nexthop* hwRoute6NexthopTableLookup(HwRoute6Dest* dest, const HwRoute6Nexthop* request) {
    if (dest == nullptr || request == nullptr) return nullptr;
    for (HwRoute6Nexthop* n : hwListOf<&HwRoute6Nexthop::destLink>(&dest->nhopList)) {
        if (n->nVrfId == request->nVrfId && std::memcmp(n->nextHop, request->nextHop, 16) == 0 &&
            n->protoId == request->protoId)
            return n;
    }
    return nullptr;
}

void hwRouteLocalWeightsClose(HwRouteDest* dest, const HwRouteNexthop* gone) {
    if (dest == nullptr || gone == nullptr) return;
    for (HwRouteNexthop* n : hwListOf<&HwRouteNexthop::destLink>(&dest->nhopList)) {
        if (n == gone || n->protoId != gone->protoId) continue;
        if (n->weight > gone->weight) n->weight--;
    }
}
