// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/route.h"

int hwRouteVpnAdd(HwRouteDest* /*destRequest*/, HwRouteNexthop* /*nexthopRequest*/, uint32_t /*publicFamily*/, void* /*publicDestRequest*/, void* /*publicNexthopRequest*/) { return 0; }
int hwRouteVpnDel(HwRouteDest* /*destRequest*/, HwRouteNexthop* /*nexthopRequest*/) { return 0; }
int hwRouteVpnDelProcess(HwRouteDest* /*dest*/, HwRouteNexthop* /*nexthop*/) { return 0; }
void hwRoutePrintLable(const HwRouteNexthop* /*nexthop*/) { }
int hwRoute6VpnAdd(HwRoute6Dest* /*destRequest*/, HwRoute6Nexthop* /*nexthopRequest*/, uint32_t /*publicFamily*/, void* /*publicDestRequest*/, void* /*publicNexthopRequest*/) { return 0; }
int hwRoute6VpnDel(HwRoute6Dest* /*destRequest*/, HwRoute6Nexthop* /*nexthopRequest*/) { return 0; }
int hwRoute6VpnDelProcess(HwRoute6Dest* /*dest*/, HwRoute6Nexthop* /*nexthop*/) { return 0; }
void hwRoute6PrintLable(const HwRoute6Nexthop* /*nexthop*/) { }
