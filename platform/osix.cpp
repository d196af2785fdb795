// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/platform.h"

int OsixCreateTask(const char* /*name*/, uint32_t /*priority*/, uint32_t /*stackSize*/, OsixTaskEntry /*entry*/, uint32_t /*arg1*/, uint32_t /*arg2*/, uint32_t* /*taskId*/) { return 0; }
uint32_t OsixCreateMSem(uint32_t /*kind*/) { return 0; }
void kivCatchSegFault(int /*argc*/, char** /*argv*/) { }
