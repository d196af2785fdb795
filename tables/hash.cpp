// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/tables.h"

uint32_t hwRouteKey(uint32_t /*ip*/, uint32_t /*mask*/) { return 0; }
uint32_t hwRouteKey1(uint32_t /*ip*/) { return 0; }
uint32_t hwRoute6Key(const uint8_t* /*addr*/, uint32_t /*prefixLen*/) { return 0; }
uint32_t hwRoute6Key1(const uint8_t* /*addr*/) { return 0; }
int32_t hwRouteIp6AddrMatch(const uint8_t* /*a*/, const uint8_t* /*b*/, uint32_t /*prefixLen*/) { return 0; }
uint32_t hwRoute6ByteSum(const uint8_t* /*addr*/) { return 0; }
