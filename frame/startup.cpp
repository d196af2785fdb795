// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/frame.h"

int hwRouteInit(int32_t /*routeMax*/, int32_t /*arpNum*/, int32_t /*nd6Num*/, int32_t /*ecmpMaxNum*/, int32_t /*ilmNum*/, int32_t /*l2vpnNum*/, int32_t /*tunNum*/) { return 0; }
int hwRouteInitEx(int32_t /*routeMax*/, int32_t /*arpNum*/, int32_t /*nd6Num*/, int32_t /*ecmpMaxNum*/, int32_t /*ilmNum*/, int32_t /*l2vpnNum*/, int32_t /*tunNum*/, HwAllocFn /*alloc*/, HwFreeFn /*release*/) { return 0; }
void hwRouteStateInit(int32_t /*routeMax*/, int32_t /*arpNum*/, int32_t /*nd6Num*/, int32_t /*ecmpMaxNum*/, int32_t /*ilmNum*/, int32_t /*l2vpnNum*/, int32_t /*tunNum*/, HwAllocFn /*alloc*/) { }
void hwRouteTask(void) { }
void hwRouteTaskPass(uint8_t* /*buffer*/) { }
