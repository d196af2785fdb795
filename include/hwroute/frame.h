// Start-up and the worker task.
#pragma once

#include <cstdint>

#include "hwroute/global.h"

int hwRouteInit(int32_t routeMax, int32_t arpNum, int32_t nd6Num, int32_t ecmpMaxNum, int32_t ilmNum, int32_t l2vpnNum,
                int32_t tunNum);
int hwRouteInitEx(int32_t routeMax, int32_t arpNum, int32_t nd6Num, int32_t ecmpMaxNum, int32_t ilmNum,
                  int32_t l2vpnNum, int32_t tunNum, HwAllocFn alloc, HwFreeFn release);
void hwRouteTask(void);

// Steps 1 to 4 of start-up: zero and fill ghwRoute, build the pools, make
// every list head empty. No socket is opened and no task started; tests and
// benchmarks build their state with it.
void hwRouteStateInit(int32_t routeMax, int32_t arpNum, int32_t nd6Num, int32_t ecmpMaxNum, int32_t ilmNum,
                      int32_t l2vpnNum, int32_t tunNum, HwAllocFn alloc);

// One pass of the worker loop. Every datagram already queued is read (up to a
// bound), not one: the reader keeps up with a kernel loading a full table.
void hwRouteTaskPass(void);
