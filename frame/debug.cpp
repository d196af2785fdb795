// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/debug.h"

int hwRouteDebug(uint32_t /*category*/, int32_t /*level*/, const char* /*fmt*/, ...) { return 0; }
void hwRouteDebugSet(int32_t /*on*/) { }
void hwRouteDebugLevelSet(int32_t /*level*/) { }
