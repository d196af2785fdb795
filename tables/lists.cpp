// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/tables.h"

void hwRouteReadyTableAdd(HwRouteDest* /*dest*/) { }
void hwRouteReadyTableDelete(HwRouteDest* /*dest*/) { }
void hwRouteTablePendAdd(HwRouteNexthop* /*nexthop*/) { }
void hwRouteTablePendDelete(HwRouteNexthop* /*nexthop*/) { }
void hwRouteIndirectTableAdd(HwRouteNexthop* /*nexthop*/) { }
void hwRouteIndirectTableDelete(HwRouteNexthop* /*nexthop*/) { }
void hwRouteIndirectRtAdd(HwRouteDest* /*dest*/) { }
void hwRouteIndirectRtDel(HwRouteDest* /*dest*/) { }
void hwRouteIndirectPendDel(HwRouteDest* /*dest*/, uint32_t /*clearLost*/) { }
HwRouteNexthop* hwRouteIndirectNhopLookup(uint32_t /*vrfId*/, uint32_t /*address*/) { return nullptr; }
void hwRoute6ReadyTableAdd(HwRoute6Dest* /*dest*/) { }
void hwRoute6ReadyTableDelete(HwRoute6Dest* /*dest*/) { }
void hwRoute6TablePendAdd(HwRoute6Nexthop* /*nexthop*/) { }
void hwRoute6TablePendDelete(HwRoute6Nexthop* /*nexthop*/) { }
void hwRoute6IndirectTableAdd(HwRoute6Nexthop* /*nexthop*/) { }
void hwRoute6IndirectTableDelete(HwRoute6Nexthop* /*nexthop*/) { }
void hwRoute6IndirectRtAdd(HwRoute6Dest* /*dest*/) { }
void hwRoute6IndirectRtDel(HwRoute6Dest* /*dest*/) { }
void hwRoute6IndirectPendDel(HwRoute6Dest* /*dest*/, uint32_t /*clearLost*/) { }
HwRoute6Nexthop* hwRoute6IndirectNhopLookup(uint32_t /*vrfId*/, const uint8_t* /*address*/) { return nullptr; }
void hwRouteReadyAppend(HwRouteDest* /*dest*/) { }
void hwRouteReadyRemove(HwRouteDest* /*dest*/) { }
void hwRoute6ReadyAppend(HwRoute6Dest* /*dest*/) { }
void hwRoute6ReadyRemove(HwRoute6Dest* /*dest*/) { }
void hwRoutePend(HwRouteNexthop* /*nexthop*/) { }
void hwRoute6Pend(HwRoute6Nexthop* /*nexthop*/) { }
