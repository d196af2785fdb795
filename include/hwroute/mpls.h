// MPLS incoming-label entries, layer-2 VPN entries and tunnels.
#pragma once

#include <cstdint>

#include "hwroute/records.h"

int hwRouteIlmAdd(HwRouteIlmNode* request);
int hwRouteIlmDel(HwRouteIlmNode* request);

int hwRouteL2vpnAdd(HwRouteL2vpnNode* request, uint32_t publicFamily, void* publicDestKey, void* publicNexthopKey);
int hwRouteL2vpnDel(HwRouteL2vpnNode* request);
int hwRouteL2vpnDelProcess(HwRouteL2vpnNode* entry);

// Exported entry points: the only way tunnels enter.
int hwRouteTunAdd(HwRouteTunNode* request);
int hwRouteTunDel(HwRouteTunNode* request);
int hwRouteTunNotifier(uint32_t tunUnit);
