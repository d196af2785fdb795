// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/intake.h"

int hwIfUpDown(uint32_t /*ifUnit*/, uint32_t /*event*/) { return 0; }
