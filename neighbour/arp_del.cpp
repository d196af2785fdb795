// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/neighbour.h"

int hwArpDel(HwArpNode* /*request*/) { return 0; }
int hwRouteArpDelProcess(HwRouteDest* /*dest*/, HwRouteNexthop* /*nexthop*/) { return 0; }
int hwRouteL2vpnArpDelProcess(HwRouteL2vpnNode* /*entry*/) { return 0; }
