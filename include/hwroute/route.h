// Unicast route logic: route add and delete, labelled (VPN) routes, probes.
#pragma once

#include <cstdint>

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
