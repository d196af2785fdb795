// Debug logging: every diagnostic line goes through hwRouteDebug, filtered by
// a category mask and a level, prefixed "[HWROUTE]:" and handed to the
// platform sink NM_DEBUG_OUTPUT.
#pragma once

#include <cstdint>

int hwRouteDebug(uint32_t category, int32_t level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void hwRouteDebugSet(int32_t on);
void hwRouteDebugLevelSet(int32_t level);

// Operator/debugger switches; nothing in the daemon changes them.
extern int32_t hwRtErrDebug;
extern int32_t hwArpDebug;
extern uint32_t iprouteFrr;

// Categories and levels used by the callers.
constexpr uint32_t HW_DBG_MOD = 1;      // category 1: everything but start-up
constexpr uint32_t HW_DBG_START = 3;    // category 3: start-up lines
constexpr int32_t HW_DBG_INTAKE = 1;    // intake, management, card-up start
constexpr int32_t HW_DBG_ROUTE = 2;     // route, VPN, ILM, L2VPN, tunnel, hardware
constexpr int32_t HW_DBG_NEIGH = 3;     // ARP and ND6 add and delete
constexpr int32_t HW_DBG_IFACE = 4;     // interface up/down
constexpr int32_t HW_DBG_PROBE = 5;     // probe sending

// Whether a line of this category and level would be written, so that a
// caller can skip formatting costly arguments (address texts) when it would not.
bool hwRouteDebugOn(uint32_t category, int32_t level);
