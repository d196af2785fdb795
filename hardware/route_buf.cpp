// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/hardware.h"

int hwRouteInsertDataToBuf(uint8_t* /*entry*/, uint32_t* /*len*/, HwRouteDest* /*dest*/) { return 0; }
uint32_t hwRouteNhopBufInsert(uint8_t* /*record*/, HwRouteNexthop* /*nh*/, HwRouteNexthop* /*orig*/, uint32_t /*op*/) { return 0; }
int hwRouteCompare(const HwRouteNexthop* /*a*/, const HwRouteNexthop* /*b*/) { return 0; }
void hwTranslateDest4Node(uint8_t* /*header*/, const HwRouteDest* /*dest*/) { }
int hwRouteClrAllOp(uint32_t* /*flag*/) { return 0; }
