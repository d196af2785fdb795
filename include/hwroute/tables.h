// Software tables: hash functions, destination and next-hop tables, the
// ready, pending and indirect lists, the neighbour tables, and the ILM,
// layer-2 VPN and tunnel lists.
#pragma once

#include <cstdint>

#include "hwroute/global.h"
#include "hwroute/records.h"

// Hashes.
uint32_t hwRouteKey(uint32_t ip, uint32_t mask);
uint32_t hwRouteKey1(uint32_t ip);
uint32_t hwRoute6Key(const uint8_t* addr, uint32_t prefixLen);
uint32_t hwRoute6Key1(const uint8_t* addr);
int32_t hwRouteIp6AddrMatch(const uint8_t* a, const uint8_t* b, uint32_t prefixLen);
uint32_t hwRoute6ByteSum(const uint8_t* addr);

// IPv4 destinations and next hops.
void hwRouteDestTableAdd(HwRouteDest* dest);
void hwRouteDestTableDelete(HwRouteDest* dest);
HwRouteDest* hwRouteDestTableLookup(const HwRouteDest* request);
void hwRouteNexthopTableAdd(HwRouteDest* dest, HwRouteNexthop* nexthop);
void hwRouteNexthopTableDelete(HwRouteNexthop* nexthop);
HwRouteNexthop* hwRouteNexthopTableLookup(HwRouteDest* dest, const HwRouteNexthop* request);

// IPv6 destinations and next hops.
void hwRoute6DestTableAdd(HwRoute6Dest* dest);
void hwRoute6DestTableDelete(HwRoute6Dest* dest);
HwRoute6Dest* hwRoute6DestTableLookup(const HwRoute6Dest* request);
void hwRoute6NexthopTableAdd(HwRoute6Dest* dest, HwRoute6Nexthop* nexthop);
void hwRoute6NexthopTableDelete(HwRoute6Nexthop* nexthop);
HwRoute6Nexthop* hwRoute6NexthopTableLookup(HwRoute6Dest* dest, const HwRoute6Nexthop* request);

// The per-VRF, per-protocol statistics entry of (vrfId, protoId), or null
// when the pair lies outside the table (protocol 0, above 16, or VRF 2048 and up).
uint32_t* hwProtoStatsEntry(HwProtoStats& table, uint32_t vrfId, uint32_t protoId);

// Ready, pending and indirect lists.
void hwRouteReadyTableAdd(HwRouteDest* dest);
void hwRouteReadyTableDelete(HwRouteDest* dest);
void hwRouteTablePendAdd(HwRouteNexthop* nexthop);
void hwRouteTablePendDelete(HwRouteNexthop* nexthop);
void hwRouteIndirectTableAdd(HwRouteNexthop* nexthop);
void hwRouteIndirectTableDelete(HwRouteNexthop* nexthop);
void hwRouteIndirectRtAdd(HwRouteDest* dest);
void hwRouteIndirectRtDel(HwRouteDest* dest);
void hwRouteIndirectPendDel(HwRouteDest* dest, uint32_t clearLost);
HwRouteNexthop* hwRouteIndirectNhopLookup(uint32_t vrfId, uint32_t address);

void hwRoute6ReadyTableAdd(HwRoute6Dest* dest);
void hwRoute6ReadyTableDelete(HwRoute6Dest* dest);
void hwRoute6TablePendAdd(HwRoute6Nexthop* nexthop);
void hwRoute6TablePendDelete(HwRoute6Nexthop* nexthop);
void hwRoute6IndirectTableAdd(HwRoute6Nexthop* nexthop);
void hwRoute6IndirectTableDelete(HwRoute6Nexthop* nexthop);
void hwRoute6IndirectRtAdd(HwRoute6Dest* dest);
void hwRoute6IndirectRtDel(HwRoute6Dest* dest);
void hwRoute6IndirectPendDel(HwRoute6Dest* dest, uint32_t clearLost);
HwRoute6Nexthop* hwRoute6IndirectNhopLookup(uint32_t vrfId, const uint8_t* address);

// The recursion of the indirect walks and lookups stops at this depth; a
// route resolved through itself is then logged and counted instead of
// recursing for ever.
constexpr int HW_INDIRECT_MAX_DEPTH = 16;
extern uint32_t hwIndirectDepthHitCnt;

// Helpers that keep the list guards in one place.
void hwRouteReadyAppend(HwRouteDest* dest);     // append when not ready yet
void hwRouteReadyRemove(HwRouteDest* dest);     // remove when ready
void hwRoute6ReadyAppend(HwRoute6Dest* dest);
void hwRoute6ReadyRemove(HwRoute6Dest* dest);
void hwRoutePend(HwRouteNexthop* nexthop);      // pend when resolved, clear NH_RESOLVED
void hwRoute6Pend(HwRoute6Nexthop* nexthop);

// Delete and free every IPv4 neighbour record with this VRF and address (the
// local entry of a connected route that goes away).
void hwArpFreeAll(uint32_t vrf, uint32_t address);
// After a local (protocol 2) path of `dest` with this weight went away, lower
// by one the weight of every other next hop of `dest` with the same protocol
// and a greater weight, so the local ordinals stay dense.
void hwRouteLocalWeightsClose(HwRouteDest* dest, const HwRouteNexthop* gone);

// Neighbour tables.
void hwArpTableAdd(HwArpNode* node);
void hwArpTableDelete(HwArpNode* node);
HwArpNode* hwArpTableLookup(const HwArpNode* key);
void hwNd6TableAdd(HwNd6Node* node);
void hwNd6TableDelete(HwNd6Node* node);
HwNd6Node* hwNd6TableLookup(const HwNd6Node* key);

// Effective VRF of a next hop: a private route that rides on a public route
// is matched in the public route's VRF. Returns false when the next hop does
// not take part in matching for this family.
bool hwNexthopEffectiveVrf(const HwRouteNexthop* nh, uint32_t* vrf);
bool hwNexthop6EffectiveVrf(const HwRoute6Nexthop* nh, uint32_t* vrf);
bool hwNexthopMatchesArp(const HwRouteNexthop* nh, const HwArpNode* arp);
bool hwNexthop6MatchesNd6(const HwRoute6Nexthop* nh, const HwNd6Node* nd6);
// First neighbour record with this VRF and address (any state), or null.
HwArpNode* hwArpFind(uint32_t vrf, uint32_t address);
HwNd6Node* hwNd6Find(uint32_t vrf, const uint8_t* address);

// ILM, layer-2 VPN and tunnel lists.
void hwRouteIlmTableAdd(HwRouteIlmNode* node);
void hwRouteIlmTableDelete(HwRouteIlmNode* node);
HwRouteIlmNode* hwRouteIlmTableLookup(const HwRouteIlmNode* key);
void hwRouteIlmTablePendAdd(HwRouteIlmNode* node);
void hwRouteIlmTablePendDelete(HwRouteIlmNode* node);
bool hwRouteIlmPending(const HwRouteIlmNode* node);  // on the ILM pend list
// First entry towards `nextHop` in the ILM table / on the ILM pend list
// (the entries of one next hop are consecutive on both), null when none.
HwRouteIlmNode* hwRouteIlmFirstAt(uint32_t nextHop);
HwRouteIlmNode* hwRouteIlmPendFirstAt(uint32_t nextHop);
// Tunnels whose far endpoint is `address` (4 bytes for IPv4), in tunnel list order.
HwRouteTunNode* hwRouteTunFirstTo(uint8_t family, const uint8_t* address);
HwRouteTunNode* hwRouteTunNextTo(const HwRouteTunNode* tun);
void hwRouteL2vpnTableAdd(HwRouteL2vpnNode* node);
void hwRouteL2vpnTableDelete(HwRouteL2vpnNode* node);
HwRouteL2vpnNode* hwRouteL2vpnTableLookup(const HwRouteL2vpnNode* key);
// Layer-2 VPN entries towards `address` (4 bytes for IPv4) / holding a public
// next hop, in table order.
HwRouteL2vpnNode* hwRouteL2vpnFirstTo(uint8_t family, const uint8_t* address);
HwRouteL2vpnNode* hwRouteL2vpnNextTo(const HwRouteL2vpnNode* e);
HwRouteL2vpnNode* hwRouteL2vpnFirstOn(const void* publicNexthop);
HwRouteL2vpnNode* hwRouteL2vpnNextOn(const HwRouteL2vpnNode* e);
void hwRouteL2vpnTablePendAdd(HwRouteL2vpnNode* node);
void hwRouteL2vpnTablePendDelete(HwRouteL2vpnNode* node);
// Tunnels whose far endpoint lies between `low` and `high` (4 bytes for
// IPv4), newest first as on the tunnel list; the array stays valid until the
// next call.
uint32_t hwRouteTunCovered(uint8_t family, const uint8_t* low, const uint8_t* high, HwRouteTunNode* const** tunnels);
// The tunnels routed through a destination (dstType 2) whose far end `dest`
// covers are bound to it and written, newest first.
void hwRouteTunAttach(HwRouteDest* dest);
void hwRouteTunAttach(HwRoute6Dest* dest);
void hwRouteTunTableAdd(HwRouteTunNode* node);
void hwRouteTunTableDelete(HwRouteTunNode* node);
HwRouteTunNode* hwRouteTunTableLookup(const HwRouteTunNode* key);

// Bind a tunnel to an entry's tunnel list: unlink it from any list it is on,
// set dstEntry, link it at the head.
void hwRouteTunBind(HwRouteTunNode* tun, HwListLink* entryTunList, void* entry);
// Hardware delete, unlink, remove from the tunnel list and free every tunnel of an entry's list.
void hwRouteTunDestroyAll(HwListLink* entryTunList);

// ---- Indexes beside the bucket lists -----------------------------------------
//
// Destinations, neighbours and next hops are also held in side indexes, so
// that the lookups above and the walks below take expected constant time at
// any table size: destinations by their lookup key, neighbours by (VRF,
// address), next hops and pending next hops by gateway address. The buckets
// keep their order for everything that shows or replays it; a side list
// holds the records of one key in the order their bucket holds them. The
// indexes are sized from the pools and allocated once, by hwTableIndexInit
// right after the pools (a pool whose index cannot be allocated stays empty).
void hwTableIndexInit(HwAllocFn alloc);

// Next records with the same (VRF, address) as `node`, in bucket order.
HwArpNode* hwArpFindNext(const HwArpNode* node);
HwNd6Node* hwNd6FindNext(const HwNd6Node* node);

// Side lists of next hops by gateway address, any VRF, in the order of the
// next-hop bucket (FirstAt/NextAt) and of the pending bucket (PendFirstAt/
// PendNextAt). A next hop is on the pending side list exactly while it is
// on its pending bucket. An IPv6 next hop of IPv4 family is listed under its
// 16-byte form (address first, then zeros).
HwRouteNexthop* hwRouteNexthopFirstAt(uint32_t address);
HwRouteNexthop* hwRouteNexthopNextAt(const HwRouteNexthop* nh);
HwRouteNexthop* hwRoutePendFirstAt(uint32_t address);
HwRouteNexthop* hwRoutePendNextAt(const HwRouteNexthop* nh);
HwRoute6Nexthop* hwRoute6NexthopFirstAt(const uint8_t* address);
HwRoute6Nexthop* hwRoute6NexthopNextAt(const HwRoute6Nexthop* nh);
HwRoute6Nexthop* hwRoute6PendFirstAt(const uint8_t* address);
HwRoute6Nexthop* hwRoute6PendNextAt(const HwRoute6Nexthop* nh);

// Walks over one side list. The successor is read before the body runs, so
// the body may unlink (or free) the record it is given, but not its successor.
template <class Rec, class Next, class Fn>
void hwSideWalk(Rec* first, Next next, Fn fn) {
    for (Rec* rec = first; rec != nullptr;) {
        Rec* following = next(rec);
        fn(rec);
        rec = following;
    }
}

template <class Fn>
void hwArpEachAt(uint32_t vrf, uint32_t address, Fn fn) {
    hwSideWalk<HwArpNode>(hwArpFind(vrf, address), hwArpFindNext, fn);
}
template <class Fn>
void hwNd6EachAt(uint32_t vrf, const uint8_t* address, Fn fn) {
    hwSideWalk<HwNd6Node>(hwNd6Find(vrf, address), hwNd6FindNext, fn);
}
template <class Fn>
void hwRouteEachNexthopAt(uint32_t address, Fn fn) {
    hwSideWalk<HwRouteNexthop>(hwRouteNexthopFirstAt(address), hwRouteNexthopNextAt, fn);
}
template <class Fn>
void hwRouteEachPendingAt(uint32_t address, Fn fn) {
    hwSideWalk<HwRouteNexthop>(hwRoutePendFirstAt(address), hwRoutePendNextAt, fn);
}
template <class Fn>
void hwRoute6EachNexthopAt(const uint8_t* address, Fn fn) {
    hwSideWalk<HwRoute6Nexthop>(hwRoute6NexthopFirstAt(address), hwRoute6NexthopNextAt, fn);
}
template <class Fn>
void hwRoute6EachPendingAt(const uint8_t* address, Fn fn) {
    hwSideWalk<HwRoute6Nexthop>(hwRoute6PendFirstAt(address), hwRoute6PendNextAt, fn);
}
