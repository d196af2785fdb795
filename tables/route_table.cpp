// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/tables.h"

void hwRouteDestTableAdd(HwRouteDest* /*dest*/) { }
void hwRouteDestTableDelete(HwRouteDest* /*dest*/) { }
HwRouteDest* hwRouteDestTableLookup(const HwRouteDest* /*request*/) { return nullptr; }
void hwRouteNexthopTableAdd(HwRouteDest* /*dest*/, HwRouteNexthop* /*nexthop*/) { }
void hwRouteNexthopTableDelete(HwRouteNexthop* /*nexthop*/) { }
HwRouteNexthop* hwRouteNexthopTableLookup(HwRouteDest* /*dest*/, const HwRouteNexthop* /*request*/) { return nullptr; }
void hwRoute6DestTableAdd(HwRoute6Dest* /*dest*/) { }
void hwRoute6DestTableDelete(HwRoute6Dest* /*dest*/) { }
HwRoute6Dest* hwRoute6DestTableLookup(const HwRoute6Dest* /*request*/) { return nullptr; }
void hwRoute6NexthopTableAdd(HwRoute6Dest* /*dest*/, HwRoute6Nexthop* /*nexthop*/) { }
void hwRoute6NexthopTableDelete(HwRoute6Nexthop* /*nexthop*/) { }
HwRoute6Nexthop* hwRoute6NexthopTableLookup(HwRoute6Dest* /*dest*/, const HwRoute6Nexthop* /*request*/) { return nullptr; }
uint32_t* hwProtoStatsEntry(HwProtoStats& /*table*/, uint32_t /*vrfId*/, uint32_t /*protoId*/) { return nullptr; }
void hwRouteLocalWeightsClose(HwRouteDest* /*dest*/, const HwRouteNexthop* /*gone*/) { }
