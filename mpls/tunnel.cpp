// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/mpls.h"

int hwRouteTunAdd(HwRouteTunNode* /*request*/) { return 0; }
int hwRouteTunDel(HwRouteTunNode* /*request*/) { return 0; }
int hwRouteTunNotifier(uint32_t /*tunUnit*/) { return 0; }
