// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/management.h"

int hwRouteNmSockOpen(void) { return 0; }
void hwRouteNmSockRcv(void) { }
int hwRouteNmMsgProcess(uint8_t* /*msg*/, int /*len*/) { return 0; }
