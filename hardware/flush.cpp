// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/hardware.h"

void hwRouteUpdate(void) { }
