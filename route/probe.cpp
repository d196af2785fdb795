// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/route.h"

int hwPingSend(uint32_t /*address*/, uint32_t /*vrfId*/) { return 0; }
uint16_t checksum(const void* /*buf*/, int /*len*/) { return 0; }
int hwRoutePendCheck(void) { return 0; }
int hwRoute6PendCheck(void) { return 0; }
void hwPingSetTransport(HwProbeTransport /*transport*/) { }
