// Records taken from the pools and entered in their tables the way the route
// and neighbour handlers enter them, for tests that start from a given state.
#pragma once

#include <arpa/inet.h>

#include <array>
#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/tables.h"
#include "hwtest.h"

using Ip6 = std::array<uint8_t, 16>;

inline Ip6 ip6(const char* text) {
    Ip6 a{};
    EXPECT_EQ(inet_pton(AF_INET6, text, a.data()), 1) << text;
    return a;
}

inline HwRouteDest* addDest(uint32_t vrf, const char* ip, int len) {
    HwRouteDest* d = hwRouteDestNodeAlloc();
    d->vrfId = vrf;
    d->destIp = ip4(ip);
    d->mask = len == 0 ? 0 : ~0u << (32 - len);
    hwListInit(&d->nhopList);
    hwListInit(&d->tunList);
    hwRouteDestTableAdd(d);
    return d;
}

inline HwRouteNexthop* addNexthop(HwRouteDest* d, const char* via, uint8_t proto = 5, uint8_t weight = 1) {
    HwRouteNexthop* n = hwRouteNexthopNodeAlloc();
    n->nVrfId = d->vrfId;
    n->nextHop = ip4(via);
    n->protoId = proto;
    n->weight = weight;
    hwRouteNexthopTableAdd(d, n);
    n->pDestEntry = d;
    return n;
}

inline HwRoute6Dest* addDest6(uint32_t vrf, const char* ip, uint8_t len) {
    HwRoute6Dest* d = hwRoute6DestNodeAlloc();
    d->vrfId = vrf;
    std::memcpy(d->destIpAddr, ip6(ip).data(), 16);
    d->prefixLen = len;
    hwListInit(&d->nhopList);
    hwListInit(&d->tunList);
    hwRoute6DestTableAdd(d);
    return d;
}

inline HwRoute6Nexthop* addNexthop6(HwRoute6Dest* d, const char* via, uint8_t proto = 5) {
    HwRoute6Nexthop* n = hwRoute6NexthopNodeAlloc();
    n->nVrfId = d->vrfId;
    std::memcpy(n->nextHop, ip6(via).data(), 16);
    n->protoId = proto;
    hwRoute6NexthopTableAdd(d, n);
    n->pDestEntry = d;
    return n;
}

// A neighbour on `unit` and `port`, MAC 00:11:22:33:44:<macLast>.
inline HwArpNode* addArp(uint32_t vrf, const char* ip, uint32_t unit = 0, uint32_t port = 0, uint8_t macLast = 0,
                         uint8_t status = hwStatusIdle) {
    HwArpNode* a = hwArpNodeAlloc();
    a->vpnVrfid = vrf;
    a->nextHop = ip4(ip);
    a->ifUnit = unit;
    a->outPort = port;
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, macLast};
    std::memcpy(a->mac, mac, 6);
    a->status = status;
    hwListInit(&a->tunList);
    hwArpTableAdd(a);
    return a;
}

// The records of a list, in list order.
template <auto Member>
std::vector<typename HwLinkMember<Member>::Owner*> listed(HwListLink* head) {
    std::vector<typename HwLinkMember<Member>::Owner*> out;
    for (auto* r : hwListOf<Member>(head)) out.push_back(r);
    return out;
}
