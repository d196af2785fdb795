// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/mpls.h"

int hwRouteIlmAdd(HwRouteIlmNode* /*request*/) { return 0; }
int hwRouteIlmDel(HwRouteIlmNode* /*request*/) { return 0; }
