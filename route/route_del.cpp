// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/route.h"

int hwRouteRouteDel(HwRouteDest* /*destRequest*/, HwRouteNexthop* /*nexthopRequest*/) { return 0; }
int hwRouteRtDelProcess(HwRouteDest* /*dest*/, HwRouteNexthop* /*nexthop*/) { return 0; }
