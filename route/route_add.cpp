// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/route.h"

int hwRouteRouteAdd(HwRouteDest* /*destRequest*/, HwRouteNexthop* /*nexthopRequest*/, uint32_t /*publicFamily*/, void* /*publicRoute*/) { return 0; }
