// Walks of the ND6 handlers: the IPv6 next hops, layer-2 VPN entries and
// tunnels that forward through one IPv6 neighbour. The next-hop walks are
// kept in these few helpers so that they can follow a per-neighbour index
// instead of the bucket of the address without touching the handlers.
#pragma once

#include <cstdint>
#include <cstring>

#include "arp_walks.h"

// An IPv6-addressed next hop that matches the neighbour (effective VRF and
// the 16 address bytes). IPv4 next hops of IPv6 routes share the tables but
// belong to ARP neighbours.
inline bool hwNexthop6OnNd6(const HwRoute6Nexthop* nh, const HwNd6Node* nd) {
    return nh->afNextHop != HW_AF_INET && hwNexthop6MatchesNd6(nh, nd);
}

// Pending IPv6 next hops that match the neighbour. The body may take the next
// hop off the pend table.
template <class Fn>
void hwNd6EachPending(const HwNd6Node* nd, Fn fn) {
    HwListLink* bucket = &ghwRoute.pend6Table[hwRoute6Key1(nd->nextHop)];
    for (HwRoute6Nexthop* nh : hwListOf<&HwRoute6Nexthop::pendLink>(bucket))
        if (hwNexthop6OnNd6(nh, nd)) fn(nh);
}

// IPv6 next hops that match the neighbour.
template <class Fn>
void hwNd6EachNexthop(const HwNd6Node* nd, Fn fn) {
    HwListLink* bucket = &ghwRoute.nexthop6Table[hwRoute6Key1(nd->nextHop)];
    for (HwRoute6Nexthop* nh : hwListOf<&HwRoute6Nexthop::hashLink>(bucket))
        if (hwNexthop6OnNd6(nh, nd)) fn(nh);
}

// IPv6 next hops with this address, whatever their VRF.
template <class Fn>
void hwNd6EachNexthopAt(const uint8_t* address, Fn fn) {
    HwListLink* bucket = &ghwRoute.nexthop6Table[hwRoute6Key1(address)];
    for (HwRoute6Nexthop* nh : hwListOf<&HwRoute6Nexthop::hashLink>(bucket))
        if (nh->afNextHop != HW_AF_INET && std::memcmp(nh->nextHop, address, 16) == 0) fn(nh);
}

// IPv6 layer-2 VPN entries whose remote edge is this address (any VRF).
struct HwL2vpn6Towards {
    const uint8_t* address;
    bool operator()(const HwRouteL2vpnNode* e) const {
        return e->family == HW_AF_INET6 && std::memcmp(e->nexthopIp, address, 16) == 0;
    }
};

// IPv6 tunnels whose endpoint is this directly connected neighbour.
struct HwTun6ToNeighbour {
    const uint8_t* address;
    bool operator()(const HwRouteTunNode* t) const {
        return t->tunFamily == HW_AF_INET6 && t->dstType == 1 && std::memcmp(t->nextHopDst, address, 16) == 0;
    }
};

// IPv6 tunnels routed through a destination whose prefix covers their endpoint.
struct HwTun6IntoDest {
    const HwRoute6Dest* dest;
    bool operator()(const HwRouteTunNode* t) const {
        return t->tunFamily == HW_AF_INET6 && t->dstType == 2 &&
               hwRouteIp6AddrMatch(dest->destIpAddr, t->nextHopDst, dest->prefixLen) == 0;
    }
};
