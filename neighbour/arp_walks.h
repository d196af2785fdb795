// Walks shared by the neighbour handlers: everything that forwards through
// one neighbour is found by its address (and, for routes and ILM entries, its
// VRF). The IPv4 and IPv6 record kinds get overloads of the same name so the
// ND6 handlers can follow the same shapes.
#pragma once

#include <cstdint>
#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/list.h"
#include "hwroute/records.h"
#include "hwroute/tables.h"

// ---- Addresses ------------------------------------------------------------

// An IPv4 address held in a 16-byte address field (first octet first).
uint32_t hwAddr4Of(const uint8_t* bytes);
// The 16-byte form of an IPv4 next hop of an IPv6 route: the address in the
// first four bytes, zero in the other twelve.
void hwAddr4To16(uint32_t address, uint8_t* out16);

// ---- Neighbour state ------------------------------------------------------
//
// Life of a neighbour record (status, held bit):
//   learnt         -> 1 written, or 4 refused (kept; the same report again is
//                     "no change" until its MAC or port changes)
//   1 or 5, delete -> host entry removed (2); freed, or held while paths in
//                     hardware still use its MAC (refCnt counts them)
//   held           -> freed by the flush that removes the last such path, or
//                     written again (1, not held) when learnt again
//   2 or 4, delete -> freed; a held record stays as it is
//   local          -> stored only (2), never written

// ND6 records follow the same life, so the helpers below take either kind.

// A neighbour whose host entry is in hardware (ok, or a delete that failed).
template <class Node>
inline bool hwArpInHardware(const Node* arp) {
    return arp->status == hwStatusOk || arp->status == hwStatusDelAbnormal;
}
template <class Node>
inline bool hwArpHeld(const Node* arp) {
    return (arp->flag & ARP_FLAG_HELD) != 0;
}
template <class Node>
inline void hwArpHold(Node* arp) {
    arp->flag |= ARP_FLAG_HELD;
    arp->refCnt++;
}
template <class Node>
inline void hwArpUnhold(Node* arp) {
    arp->flag &= static_cast<uint8_t>(~ARP_FLAG_HELD);
    arp->refCnt = 0;
}

// A refused host entry written by a retry. Its first write (ARP_FLAG_UNRELEASED)
// releases what waited for the neighbour as for a new one (`releaseWaiters`);
// a rewrite (a change, a held record learnt again, a card-up replay) makes
// the record live again and `releaseAgain` resolves what waits on it.
template <class Node, class Write, class First, class Again>
int hwNeighRetryWrite(Node* n, Write write, First releaseWaiters, Again releaseAgain) {
    if (n == nullptr || write(n) != 0) return -1;
    if (n->flag & ARP_FLAG_UNRELEASED) {
        n->flag &= static_cast<uint8_t>(~ARP_FLAG_UNRELEASED);
        releaseWaiters(n);
        return 0;
    }
    hwArpUnhold(n);
    releaseAgain(n);
    return 0;
}

// A neighbour withdrawn while its host entry is not in hardware. A record
// whose rewrite was refused no longer wants it (the retry must not bring back
// what the kernel withdrew); if it had released its dependants before the
// refusal (a change), they go as for a record in hardware (true). A held
// record stays held; any other record has no dependants and is freed.
template <class Node>
bool hwNeighUnwrittenWithDependants(Node* n, uint32_t HwRouteGlobal::*errCount, void (*freeRecord)(Node*)) {
    if (n->status == hwStatusAddAbnormal && !(n->flag & ARP_FLAG_UNRELEASED)) {
        n->status = hwStatusIdle;
        ghwRoute.*errCount -= 1;
        return !hwArpHeld(n);
    }
    if (!hwArpHeld(n)) freeRecord(n);
    return false;
}

// The "<what> detected" line of the ARP handlers, with the request's fields.
void hwArpLogRequest(const char* fn, const char* what, const HwArpNode* request);

// ---- Lists of next hops and destinations ----------------------------------

// Mark a path to be (re)written: NH_OP_ADD, and NH_OP_VPN_ADD when it has labels.
template <class Nexthop>
inline void hwNexthopMarkAdd(Nexthop* nh) {
    nh->flag |= NH_OP_ADD;
    if (nh->mplsLabelNum != 0) nh->flag |= NH_OP_VPN_ADD;
}

// Append to the ready list unless already there; true when appended.
bool hwNeighReadyAppend(HwRouteDest* dest);
bool hwNeighReadyAppend(HwRoute6Dest* dest);
// Put a resolved next hop on its pend bucket and clear NH_RESOLVED; a next
// hop that is pending already stays there once. True when it was pended.
bool hwNeighPend(HwRouteNexthop* nh);
bool hwNeighPend(HwRoute6Nexthop* nh);
// Take a pending next hop off its pend bucket and set NH_RESOLVED.
void hwNeighUnpend(HwRouteNexthop* nh);
void hwNeighUnpend(HwRoute6Nexthop* nh);

// The walks below follow the side lists of the gateway address, so a
// neighbour event costs in proportion to the paths through that address
// (in every VRF), whatever else shares its bucket; they visit the matching
// next hops in the order of their buckets.

// Pending IPv4 next hops that match the neighbour (effective VRF and address).
// The body may take the next hop off the pend table.
template <class Fn>
void hwArpEachPending(const HwArpNode* arp, Fn fn) {
    hwRouteEachPendingAt(arp->nextHop, [arp, &fn](HwRouteNexthop* nh) {
        if (hwNexthopMatchesArp(nh, arp)) fn(nh);
    });
}

// IPv4 next hops that match the neighbour (effective VRF and address).
template <class Fn>
void hwArpEachNexthop(const HwArpNode* arp, Fn fn) {
    hwRouteEachNexthopAt(arp->nextHop, [arp, &fn](HwRouteNexthop* nh) {
        if (hwNexthopMatchesArp(nh, arp)) fn(nh);
    });
}

// IPv4 next hops with this address, whatever their VRF.
template <class Fn>
void hwArpEachNexthopAt(uint32_t address, Fn fn) {
    hwRouteEachNexthopAt(address, fn);
}

// IPv6 next hops of IPv4 family whose address is the neighbour's, matched
// with the effective-VRF rule of IPv6 records.
bool hwNexthop6OnArp(const HwRoute6Nexthop* nh, const HwArpNode* arp, const uint8_t* address16);

template <class Fn>
void hwArpEachNexthop6(const HwArpNode* arp, Fn fn) {
    uint8_t address16[16];
    hwAddr4To16(arp->nextHop, address16);
    hwRoute6EachNexthopAt(address16, [arp, &address16, &fn](HwRoute6Nexthop* nh) {
        if (hwNexthop6OnArp(nh, arp, address16)) fn(nh);
    });
}

// The IPv6 counterparts: pending and all IPv6 next hops that match an ND
// neighbour (effective VRF and the 16 address bytes).
template <class Fn>
void hwNd6EachPending(const HwNd6Node* nd6, Fn fn) {
    hwRoute6EachPendingAt(nd6->nextHop, [nd6, &fn](HwRoute6Nexthop* nh) {
        if (hwNexthop6MatchesNd6(nh, nd6)) fn(nh);
    });
}

template <class Fn>
void hwNd6EachNexthop(const HwNd6Node* nd6, Fn fn) {
    hwRoute6EachNexthopAt(nd6->nextHop, [nd6, &fn](HwRoute6Nexthop* nh) {
        if (hwNexthop6MatchesNd6(nh, nd6)) fn(nh);
    });
}

// ---- ILM, layer-2 VPN and tunnel lists -------------------------------------

// ILM entries towards an address; `anyVrf` leaves the VRF out of the match.
struct HwIlmTowards {
    uint32_t vrf;
    uint32_t address;
    bool anyVrf;
    bool operator()(const HwRouteIlmNode* ilm) const {
        return ilm->nextHop == address && (anyVrf || ilm->vrfId == vrf);
    }
};

// The entries of `towards`'s address on an ILM list (`first` from
// hwRouteIlmFirstAt / hwRouteIlmPendFirstAt: they are consecutive there), in
// list order; the body may take the current entry off the list it walks.
template <auto Link, class Fn>
void hwIlmEachAt(HwListLink* head, HwRouteIlmNode* first, const HwIlmTowards& towards, Fn fn) {
    for (HwListLink* l = first == nullptr ? head : linkOf<Link>(first); l != head;) {
        HwRouteIlmNode* ilm = ownerOf<Link>(l);
        if (ilm->nextHop != towards.address) return;
        l = l->next;
        if (towards(ilm)) fn(ilm);
    }
}

// IPv4 layer-2 VPN entries whose remote edge is this address (any VRF).
// Layer-2 VPN entries towards an address (4 bytes for IPv4), in table order.
// The body may take the entry off the pend list, not out of the table.
template <class Fn>
void hwL2vpnEachTo(uint8_t family, const uint8_t* address, Fn fn) {
    for (HwRouteL2vpnNode* e = hwRouteL2vpnFirstTo(family, address); e != nullptr;) {
        HwRouteL2vpnNode* next = hwRouteL2vpnNextTo(e);
        fn(e);
        e = next;
    }
}
template <class Fn>
void hwL2vpnEachTo(uint32_t address, Fn fn) {
    uint8_t a[16];
    hwAddr4To16(address, a);
    hwL2vpnEachTo(HW_AF_INET, a, fn);
}

// IPv4 tunnels whose endpoint is this directly connected neighbour.
struct HwTunToNeighbour {
    uint32_t address;
    bool operator()(const HwRouteTunNode* t) const {
        return t->tunFamily == HW_AF_INET && t->dstType == 1 && hwAddr4Of(t->nextHopDst) == address;
    }
};

bool hwIlmWaiting(const HwRouteIlmNode* ilm);      // on the ILM pend list

// Withdraw an entry that lost its neighbour: status 3 and on the pend list
// (an entry already there stays there once).
void hwIlmWait(HwRouteIlmNode* ilm);
void hwL2vpnWait(HwRouteL2vpnNode* e);
// Off the pend list, when on it (status 3 again idle).
void hwL2vpnUnwait(HwRouteL2vpnNode* e);

// Bind to the neighbour and write every IPv4 tunnel whose endpoint it is.
void hwArpBindNeighbourTunnels(HwArpNode* arp);
// Bind to the destination and write every IPv4 tunnel routed through it.
void hwArpBindRouteTunnels(HwRouteDest* dest);
// Hardware delete of every tunnel on an entry's list; they stay bound.
void hwTunWithdrawAll(HwListLink* entryTunList);

// ---- Public next hops -------------------------------------------------------

// Counters raised while a public next hop is withdrawn because its last
// private user (or layer-2 VPN entry) lost its neighbour. Null members are not
// counted.
struct HwPublicWithdrawCounters {
    uint32_t HwRouteGlobal::*routeDel;  // it was in hardware
    uint32_t HwRouteGlobal::*vpnDel;    // its labelled part was in hardware
    uint32_t HwRouteGlobal::*readyAdd;  // its destination was put on the ready list
    uint32_t HwRouteGlobal::*pendAdd;   // it was put on the pend table
};
extern const HwPublicWithdrawCounters hwPublic4ArpCounters;
extern const HwPublicWithdrawCounters hwPublic6ArpCounters;
extern const HwPublicWithdrawCounters hwPublicUncounted;

// Lower one user count of a public next hop (never below 0). When that
// lowering brings it to 0 and the next hop waits on it (`waitBit`), withdraw
// the next hop: neighbour lost, destination ready, its tunnels destroyed, on
// the pend table.
void hwPublicRelease(HwRouteNexthop* pub, uint32_t HwRouteNexthop::*count, uint32_t waitBit,
                     const HwPublicWithdrawCounters& counters);
void hwPublicRelease(HwRoute6Nexthop* pub, uint32_t HwRoute6Nexthop::*count, uint32_t waitBit,
                     const HwPublicWithdrawCounters& counters);
// The withdrawal itself, for a public next hop whose wait ended otherwise.
void hwPublicWithdraw(HwRouteNexthop* pub, const HwPublicWithdrawCounters& counters);
void hwPublicWithdraw(HwRoute6Nexthop* pub, const HwPublicWithdrawCounters& counters);
