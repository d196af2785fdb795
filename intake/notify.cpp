// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/intake.h"

int hwRtnotifyInit(HwRouteGlobal* /*g*/) { return 0; }
int hwRtnotifyShutdown(HwRouteGlobal* /*g*/) { return 0; }
int hwRtnotifyRecv(const uint8_t* /*buf*/, int /*len*/) { return 0; }
void hwRtnotifyAttrWalk(const uint8_t* /*msg*/, uint32_t /*msgLen*/, uint32_t /*offset*/, HwAttrFn /*fn*/, void* /*ctx*/) { }
