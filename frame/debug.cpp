// Debug logging: one filtered, prefixed line per call, handed to the
// platform's debug sink.
#include "hwroute/debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "hwroute/global.h"
#include "hwroute/platform.h"

int32_t hwRtErrDebug = 0;
int32_t hwArpDebug = 0;
uint32_t iprouteFrr = 0;

namespace {
constexpr char kPrefix[] = "[HWROUTE]:";
constexpr int kPrefixLen = sizeof(kPrefix) - 1;  // 10
constexpr int kLineLen = 1028;
// Room for the text: the line minus the prefix and the terminating zero.
constexpr int kTextMax = kLineLen - kPrefixLen - 1;  // 1017
static_assert(kPrefixLen == 10 && kTextMax == 1017);
}  // namespace

bool hwRouteDebugOn(uint32_t category, int32_t level) {
    return (category & ghwRoute.debugMask) != 0 && ghwRoute.debugLevel >= level;
}

int hwRouteDebug(uint32_t category, int32_t level, const char* fmt, ...) {
    // Filter before formatting: suppressed lines cost two comparisons.
    if ((category & ghwRoute.debugMask) == 0) return -1;
    if (ghwRoute.debugLevel < level) return -1;

    char line[kLineLen];
    std::memcpy(line, kPrefix, kPrefixLen);
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(line + kPrefixLen, kTextMax + 1, fmt, ap);
    va_end(ap);
    if (n < 0) return -1;

    // Longer text keeps its first 1017 characters and is still written as
    // one line: a cut message is more use to an operator than none, and the
    // return value says how much was actually handed over.
    if (n > kTextMax) n = kTextMax;
    line[kPrefixLen + n] = '\0';
    NM_DEBUG_OUTPUT(line);
    return n + kPrefixLen;
}

void hwRouteDebugSet(int32_t on) {
    ghwRoute.debugMask = on != 0 ? 7 : 0;
    ghwRoute.debugLevel = on != 0 ? 7 : 0;
}

void hwRouteDebugLevelSet(int32_t level) {
    ghwRoute.debugMask = 7;
    ghwRoute.debugLevel = level;
}
