// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/platform.h"

void NM_DEBUG_OUTPUT(const char* /*line*/) { }
