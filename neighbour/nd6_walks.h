// Walks of the ND6 handlers: the IPv6 next hops, layer-2 VPN entries and
// tunnels that forward through one IPv6 neighbour.
#pragma once

#include <cstdint>
#include <cstring>

#include "arp_walks.h"

// The next hops through one IPv6 neighbour, found by the side lists of its
// address. IPv4 next hops of IPv6 routes share those lists (their address
// is held in 16 bytes) but belong to ARP neighbours, so they are left out.
template <class Fn>
void hwNd6EachPendingPath(const HwNd6Node* nd, Fn fn) {
    hwNd6EachPending(nd, [&fn](HwRoute6Nexthop* nh) {
        if (nh->afNextHop != HW_AF_INET) fn(nh);
    });
}

template <class Fn>
void hwNd6EachPath(const HwNd6Node* nd, Fn fn) {
    hwNd6EachNexthop(nd, [&fn](HwRoute6Nexthop* nh) {
        if (nh->afNextHop != HW_AF_INET) fn(nh);
    });
}

// IPv6 next hops with this address, whatever their VRF.
template <class Fn>
void hwNd6EachPathAt(const uint8_t* address, Fn fn) {
    hwRoute6EachNexthopAt(address, [&fn](HwRoute6Nexthop* nh) {
        if (nh->afNextHop != HW_AF_INET) fn(nh);
    });
}

// IPv6 tunnels whose endpoint is this directly connected neighbour.
struct HwTun6ToNeighbour {
    const uint8_t* address;
    bool operator()(const HwRouteTunNode* t) const {
        return t->tunFamily == HW_AF_INET6 && t->dstType == 1 && std::memcmp(t->nextHopDst, address, 16) == 0;
    }
};
