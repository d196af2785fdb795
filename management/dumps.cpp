// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/management.h"

void activeShow(int32_t /*section*/, int32_t /*limit*/) { }
int routeCount(int32_t /*mode*/) { return 0; }
char* llAddrConvert(const uint8_t* /*bytes*/, int /*count*/) { return nullptr; }
