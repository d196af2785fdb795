// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/route.h"

int hwRoute6RouteAdd(HwRoute6Dest* /*destRequest*/, HwRoute6Nexthop* /*nexthopRequest*/, uint32_t /*publicFamily*/, void* /*publicRoute*/) { return 0; }
int hwRoute6RouteDel(HwRoute6Dest* /*destRequest*/, HwRoute6Nexthop* /*nexthopRequest*/) { return 0; }
int hwRoute6RtDelProcess(HwRoute6Dest* /*dest*/, HwRoute6Nexthop* /*nexthop*/) { return 0; }
