// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/hardware.h"

void hwUpdateRouteAdd(HwRouteNexthop* /*nexthop*/) { }
int hwUpdateRouteDel(HwRouteNexthop* /*nexthop*/) { return 0; }
