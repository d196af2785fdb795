// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/platform.h"

int kivScalarGetApi(uint32_t /*index*/, uint32_t /*attr*/, void* /*out*/) { return 0; }
int kivIfGetApi(uint32_t /*ifUnit*/, uint32_t /*attr*/, void* /*out*/) { return 0; }
int kivIndexTrans(uint32_t /*ifUnit*/, uint32_t /*kind*/, void* /*out*/) { return 0; }
int sysIndexTrans(uint32_t /*ifUnit*/, uint32_t /*kind*/, void* /*out*/) { return 0; }
int sysIndexTrans(const SysIndexKey* /*key*/, uint32_t /*kind*/, void* /*out*/) { return 0; }
int sysIFGet(uint32_t /*ifUnit*/, uint32_t /*attr*/, void* /*out*/) { return 0; }
uint32_t kivSelfSysIndex(void) { return 0; }
int kivHwCardGet(const void* /*key*/, uint32_t /*attr*/, void* /*out*/) { return 0; }
int kivHwSlotGet(const void* /*key*/, uint32_t /*attr*/, void* /*out*/) { return 0; }
int kivHwScalarGet(uint32_t /*zero*/, uint32_t /*scalar*/, void* /*out*/) { return 0; }
