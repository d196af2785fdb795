// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/platform.h"

int kivScalarSetApi(uint32_t /*a*/, uint32_t /*b*/, HwScalarReq* /*req*/) { return 0; }
