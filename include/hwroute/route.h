// Unicast route logic: route add and delete, labelled (VPN) routes, probes.
#pragma once

#include <cstdint>

#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/records.h"

int hwRouteRouteAdd(HwRouteDest* destRequest, HwRouteNexthop* nexthopRequest, uint32_t publicFamily,
                    void* publicRoute);
int hwRouteRouteDel(HwRouteDest* destRequest, HwRouteNexthop* nexthopRequest);
int hwRouteRtDelProcess(HwRouteDest* dest, HwRouteNexthop* nexthop);

int hwRoute6RouteAdd(HwRoute6Dest* destRequest, HwRoute6Nexthop* nexthopRequest, uint32_t publicFamily,
                     void* publicRoute);
int hwRoute6RouteDel(HwRoute6Dest* destRequest, HwRoute6Nexthop* nexthopRequest);
int hwRoute6RtDelProcess(HwRoute6Dest* dest, HwRoute6Nexthop* nexthop);

int hwRouteVpnAdd(HwRouteDest* destRequest, HwRouteNexthop* nexthopRequest, uint32_t publicFamily,
                  void* publicDestRequest, void* publicNexthopRequest);
int hwRouteVpnDel(HwRouteDest* destRequest, HwRouteNexthop* nexthopRequest);
int hwRouteVpnDelProcess(HwRouteDest* dest, HwRouteNexthop* nexthop);
void hwRoutePrintLable(const HwRouteNexthop* nexthop);
int hwRoute6VpnAdd(HwRoute6Dest* destRequest, HwRoute6Nexthop* nexthopRequest, uint32_t publicFamily,
                   void* publicDestRequest, void* publicNexthopRequest);
int hwRoute6VpnDel(HwRoute6Dest* destRequest, HwRoute6Nexthop* nexthopRequest);
int hwRoute6VpnDelProcess(HwRoute6Dest* dest, HwRoute6Nexthop* nexthop);
void hwRoute6PrintLable(const HwRoute6Nexthop* nexthop);

// Probing.
int hwPingSend(uint32_t address, uint32_t vrfId);
// ICMPv6 echo request to a 16-byte address in VRF vrfId, out of interface unit ifUnit.
int hwPing6Send(const uint8_t* address, uint32_t vrfId, uint32_t ifUnit);
uint16_t checksum(const void* buf, int len);
int hwRoutePendCheck(void);
int hwRoute6PendCheck(void);

// The way a finished probe leaves the daemon. The default opens a raw ICMP
// socket per probe; tests install their own to see the bytes without sending.
// The function gets the 8-byte echo request, the 16-byte destination address
// record (VRF in its padding) and returns what the send returned.
using HwProbeTransport = int (*)(const uint8_t* icmp, int len, const void* sockaddrIn, int addrLen);
void hwPingSetTransport(HwProbeTransport transport);
// The same for ICMPv6 probes: the 8-byte echo request and the destination
// address record (sockaddr_in6 followed by the VRF word).
void hwPing6SetTransport(HwProbeTransport transport);

// Counts of a private path on its public next hop (the NH_HOLDS_PUBLIC* bits
// say which it holds). Take raises the counts named by `bits` that the path
// does not hold yet; release gives back those it holds and, when a count the
// public route waits on reaches 0, completes the public route's deferred
// delete (route, label part) or withdrawal (neighbour lost). A count found at
// 0 while a path holds it is an imbalance: counted and logged, never wrapped.
struct HwPublicWithdrawCounters;
struct HwPublicCascade {
    uint32_t HwRouteGlobal::*routeDel4;  // deferred route delete of an IPv4 public next hop
    uint32_t HwRouteGlobal::*vpnDel4;    // deferred label delete of an IPv4 public next hop
    uint32_t HwRouteGlobal::*routeDel6;
    uint32_t HwRouteGlobal::*vpnDel6;
    // Withdrawal counters of a public next hop whose last neighbour user let
    // it go; null: the ARP delete's.
    const HwPublicWithdrawCounters* withdraw4;
    const HwPublicWithdrawCounters* withdraw6;
};
extern const HwPublicCascade hwPublicRouteDelCascade;   // a private IPv4 path deleted
extern const HwPublicCascade hwPublic6RouteDelCascade;  // a private IPv6 path deleted
extern const HwPublicCascade hwPublicVpnDelCascade;     // a private label part withdrawn
extern const HwPublicCascade hwPublic6VpnDelCascade;
extern const HwPublicCascade hwPublicNd6DelCascade;     // a private IPv6 path lost its ND6 neighbour
// A deleted private path gives back its label and neighbour counts at once;
// its user count stays until its record is freed, because until then its
// hardware delete and its neighbour lookups still read the public route.
constexpr uint32_t NH_HOLDS_PUBLIC_ON_DELETE = NH_HOLDS_PUBLIC_MPLS | NH_HOLDS_PUBLIC_ARP;
void hwRoutePublicTake(HwRouteNexthop* nexthop, uint32_t bits);
void hwRoute6PublicTake(HwRoute6Nexthop* nexthop, uint32_t bits);
void hwRoutePublicRelease(HwRouteNexthop* nexthop, uint32_t bits, const HwPublicCascade& cascade);
void hwRoute6PublicRelease(HwRoute6Nexthop* nexthop, uint32_t bits, const HwPublicCascade& cascade);
// The flush frees removed paths while it settles a batch, and a public delete
// set off there could reach destinations of that same batch. So a removed
// path that still holds counts is parked instead (out of every table; true:
// the caller must not free it), and the flush lets the parked paths go, each
// releasing its counts and returning to its pool, once the batch is settled.
bool hwRoutePublicPark(HwRouteNexthop* nexthop);
bool hwRoute6PublicPark(HwRoute6Nexthop* nexthop);
void hwRoutePublicUnpark(void);
