// The counts a private (labelled) path holds on the public route it rides on.
// Each count is taken and given back by its own bit in the private path's
// flag word, so an event that happens twice (a neighbour lost and learnt
// again, a label part withdrawn and then the whole path deleted) moves the
// public count once, and a public route is deleted or withdrawn exactly when
// its last user lets it go.
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/route.h"
#include "../neighbour/arp_walks.h"

const HwPublicCascade hwPublicRouteDelCascade = {
    &HwRouteGlobal::rtDelNoSucPublic4DelCnt, &HwRouteGlobal::rtDelNoSucPublicVpn4DelCnt,
    &HwRouteGlobal::rtDelNoSucPublic6DelCnt, &HwRouteGlobal::rtDelNoSucPublicVpn6DelCnt, nullptr, nullptr};
const HwPublicCascade hwPublic6RouteDelCascade = {
    &HwRouteGlobal::rt6DelNoSucPublic4DelCnt, &HwRouteGlobal::rt6DelNoSucPublicVpn4DelCnt,
    &HwRouteGlobal::rt6DelNoSucPublic6DelCnt, &HwRouteGlobal::rt6DelNoSucPublicVpn6DelCnt, nullptr, nullptr};
const HwPublicCascade hwPublicVpnDelCascade = {nullptr, &HwRouteGlobal::vpnDelNoSucPublic4DelCnt, nullptr,
                                               &HwRouteGlobal::vpnDelNoSucPublic6DelCnt, nullptr, nullptr};
const HwPublicCascade hwPublic6VpnDelCascade = {nullptr, &HwRouteGlobal::vpn6DelNoSucPublic4DelCnt, nullptr,
                                                &HwRouteGlobal::vpn6DelNoSucPublic6DelCnt, nullptr, nullptr};

// Only the neighbour count moves on an ND6 loss; its withdrawals have counters of their own.
namespace {
const HwPublicWithdrawCounters kPublic4Nd6Counters = {
    &HwRouteGlobal::nd6DelPublicRt4DelCnt, &HwRouteGlobal::nd6DelPublicVpn4DelCnt,
    &HwRouteGlobal::nd6DelPublicReadyAddCnt, &HwRouteGlobal::nd6DelRoutePublicPend4AddCnt};
const HwPublicWithdrawCounters kPublic6Nd6Counters = {
    &HwRouteGlobal::nd6DelPublicRt6DelCnt, &HwRouteGlobal::nd6DelPublicVpn6DelCnt,
    &HwRouteGlobal::nd6DelPublicReady6AddCnt, &HwRouteGlobal::nd6DelRoutePublicPend6AddCnt};
}  // namespace
const HwPublicCascade hwPublicNd6DelCascade = {nullptr, nullptr, nullptr, nullptr, &kPublic4Nd6Counters,
                                               &kPublic6Nd6Counters};

namespace {

#define REF_LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

void bump(uint32_t HwRouteGlobal::*counter) {
    if (counter != nullptr) ++(ghwRoute.*counter);
}

// The deletes a public route of either family waits for.
int routeDelOf(HwRouteNexthop* pub) { return hwRouteRouteDel(pub->pDestEntry, pub); }
int routeDelOf(HwRoute6Nexthop* pub) { return hwRoute6RouteDel(pub->pDestEntry, pub); }
int vpnDelOf(HwRouteNexthop* pub) { return hwRouteVpnDel(pub->pDestEntry, pub); }
int vpnDelOf(HwRoute6Nexthop* pub) { return hwRoute6VpnDel(pub->pDestEntry, pub); }

template <class Pub>
void take(Pub* pub, uint32_t* flag, uint32_t bits) {
    const uint32_t wanted = bits & ~*flag & NH_HOLDS_PUBLIC_ALL;
    if (wanted & NH_HOLDS_PUBLIC) ++pub->privateRefCnt;
    if (wanted & NH_HOLDS_PUBLIC_MPLS) ++pub->privateMplsRefCnt;
    if (wanted & NH_HOLDS_PUBLIC_ARP) ++pub->privateArpRefCnt;
    *flag |= wanted;
}

// Clear the holding bit; true when the count is to be lowered. A held count
// found at 0 is an imbalance somewhere else: shown, and left at 0.
template <class Count>
bool give(uint32_t* flag, uint32_t bit, uint32_t bits, const Count& count, const char* name) {
    if (!(bits & bit) || !(*flag & bit)) return false;
    *flag &= ~bit;
    if (count != 0) return true;
    ++ghwRoute.publicRefImbalanceCnt;
    REF_LOG("[hwRoutePublicRelease]=>ERROR: public %s already 0 while a private path holds it.", name);
    return false;
}

template <class Pub, class PubCounts>
void release(Pub* pub, uint32_t* flag, uint32_t bits, uint32_t HwRouteGlobal::*routeDel,
             uint32_t HwRouteGlobal::*vpnDel, const PubCounts& arpCounters) {
    const bool user = give(flag, NH_HOLDS_PUBLIC, bits, pub->privateRefCnt, "privateRefCnt");
    const bool label = give(flag, NH_HOLDS_PUBLIC_MPLS, bits, pub->privateMplsRefCnt, "privateMplsRefCnt");
    const bool neigh = give(flag, NH_HOLDS_PUBLIC_ARP, bits, pub->privateArpRefCnt, "privateArpRefCnt");
    if (user) --pub->privateRefCnt;
    if (label) --pub->privateMplsRefCnt;
    // The neighbour count first: a public route whose neighbour went while
    // this path still used it is withdrawn before any delete below.
    if (neigh) {
        const bool waited = (pub->flag & NH_WAIT_PRIVATE_ARP) != 0;
        hwPublicRelease(pub, &Pub::privateArpRefCnt, NH_WAIT_PRIVATE_ARP, arpCounters);
        // Withdrawn now: done waiting, a neighbour learnt later starts afresh.
        if (waited && pub->privateArpRefCnt == 0) pub->flag &= ~NH_WAIT_PRIVATE_ARP;
    }

    if (user && pub->privateRefCnt == 0 && (pub->flag & NH_WAIT_PRIVATE)) {
        pub->flag &= ~NH_WAIT_PRIVATE;
        bump(routeDel);
        routeDelOf(pub);
        return;
    }
    if (label && pub->privateMplsRefCnt == 0 && (pub->flag & NH_WAIT_PRIVATE_VPN)) {
        pub->flag &= ~NH_WAIT_PRIVATE_VPN;
        bump(vpnDel);
        vpnDelOf(pub);
    }
}

template <class Priv>
void releaseAny(Priv* nh, uint32_t bits, const HwPublicCascade& c) {
    if (nh == nullptr || !(nh->flag & NH_HOLDS_PUBLIC_ALL)) return;
    if (nh->publicRoute == nullptr) {
        nh->flag &= ~NH_HOLDS_PUBLIC_ALL;
        return;
    }
    if (nh->publicFamily == HW_AF_INET)
        release(static_cast<HwRouteNexthop*>(nh->publicRoute), &nh->flag, bits, c.routeDel4, c.vpnDel4,
                c.withdraw4 != nullptr ? *c.withdraw4 : hwPublic4ArpCounters);
    else if (nh->publicFamily == HW_AF_INET6)
        release(static_cast<HwRoute6Nexthop*>(nh->publicRoute), &nh->flag, bits, c.routeDel6, c.vpnDel6,
                c.withdraw6 != nullptr ? *c.withdraw6 : hwPublic6ArpCounters);
}

// Removed paths parked by the flush, through their pending link (free once
// the flush has taken a path off its pending bucket).
HwListLink sParked4 = {&sParked4, &sParked4};
HwListLink sParked6 = {&sParked6, &sParked6};

template <class Priv>
bool park(HwListLink* parked, Priv* nh) {
    if (!(nh->flag & NH_HOLDS_PUBLIC_ALL) || nh->publicRoute == nullptr) return false;
    hwListInsertTail(parked, &nh->pendLink);
    return true;
}

template <class Priv>
void unpark(HwListLink* parked, const HwPublicCascade& cascade, int (*nodeFree)(Priv*)) {
    while (!hwListEmpty(parked)) {
        Priv* nh = ownerOf<&Priv::pendLink>(parked->next);
        hwListRemove(&nh->pendLink);
        releaseAny(nh, NH_HOLDS_PUBLIC_ALL, cascade);
        nodeFree(nh);
    }
}

template <class Priv>
void takeAny(Priv* nh, uint32_t bits) {
    if (nh == nullptr || nh->publicRoute == nullptr) return;
    if (nh->publicFamily == HW_AF_INET)
        take(static_cast<HwRouteNexthop*>(nh->publicRoute), &nh->flag, bits);
    else if (nh->publicFamily == HW_AF_INET6)
        take(static_cast<HwRoute6Nexthop*>(nh->publicRoute), &nh->flag, bits);
}

}  // namespace

void hwRoutePublicTake(HwRouteNexthop* nexthop, uint32_t bits) { takeAny(nexthop, bits); }
void hwRoute6PublicTake(HwRoute6Nexthop* nexthop, uint32_t bits) { takeAny(nexthop, bits); }

void hwRoutePublicRelease(HwRouteNexthop* nexthop, uint32_t bits, const HwPublicCascade& cascade) {
    releaseAny(nexthop, bits, cascade);
}

void hwRoute6PublicRelease(HwRoute6Nexthop* nexthop, uint32_t bits, const HwPublicCascade& cascade) {
    releaseAny(nexthop, bits, cascade);
}

bool hwRoutePublicPark(HwRouteNexthop* nexthop) { return nexthop != nullptr && park(&sParked4, nexthop); }
bool hwRoute6PublicPark(HwRoute6Nexthop* nexthop) { return nexthop != nullptr && park(&sParked6, nexthop); }

void hwRoutePublicUnpark(void) {
    unpark(&sParked4, hwPublicRouteDelCascade, hwRouteNexthopNodeFree);
    unpark(&sParked6, hwPublic6RouteDelCascade, hwRoute6NexthopNodeFree);
}
