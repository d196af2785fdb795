// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/neighbour.h"

int hwNd6Add(HwNd6Node* /*request*/) { return 0; }
int hwNd6Del(HwNd6Node* /*request*/) { return 0; }
int hwRouteNd6DelProcess(HwRoute6Dest* /*dest*/, HwRoute6Nexthop* /*nexthop*/) { return 0; }
