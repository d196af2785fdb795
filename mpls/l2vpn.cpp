// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/mpls.h"

int hwRouteL2vpnAdd(HwRouteL2vpnNode* /*request*/, uint32_t /*publicFamily*/, void* /*publicDestKey*/, void* /*publicNexthopKey*/) { return 0; }
int hwRouteL2vpnDel(HwRouteL2vpnNode* /*request*/) { return 0; }
int hwRouteL2vpnDelProcess(HwRouteL2vpnNode* /*entry*/) { return 0; }
