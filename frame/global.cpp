// The one global state record and the printed counter list.
#include "hwroute/global.h"

HwRouteGlobal ghwRoute;

const HwCounterItem hwCounterItems[] = {
#define HW_SECTION(verbose, title) {HwCounterItem::Section, (verbose) != 0, title, nullptr, nullptr},
#define HW_SOCKET_LINE() {HwCounterItem::SocketLine, false, nullptr, nullptr, nullptr},
#define HW_COUNTER(field, label, sep) {HwCounterItem::Counter, false, label, sep, &HwRouteGlobal::field},
#define HW_VALUE(field, label, sep) {HwCounterItem::Value, false, label, sep, &HwRouteGlobal::field},
#define HW_EOL(suffix) {HwCounterItem::EndOfLine, false, suffix, nullptr, nullptr},
#include "hwroute/counters4.def"
#include "hwroute/counters6.def"
#undef HW_SECTION
#undef HW_SOCKET_LINE
#undef HW_COUNTER
#undef HW_VALUE
#undef HW_EOL
};
const std::size_t hwCounterItemCount = sizeof(hwCounterItems) / sizeof(hwCounterItems[0]);

// A counter added to the list but not counted here (or the reverse) fails the build.
namespace {
constexpr std::size_t countCounters(bool ipv6) {
    std::size_t n4 = 0, n6 = 0;
#define HW_SECTION(verbose, title)
#define HW_SOCKET_LINE()
#define HW_COUNTER(field, label, sep) ++n;
#define HW_VALUE(field, label, sep)
#define HW_EOL(suffix)
    {
        std::size_t& n = n4;
#include "hwroute/counters4.def"
    }
    {
        std::size_t& n = n6;
#include "hwroute/counters6.def"
    }
#undef HW_SECTION
#undef HW_SOCKET_LINE
#undef HW_COUNTER
#undef HW_VALUE
#undef HW_EOL
    return ipv6 ? n6 : n4;
}
static_assert(countCounters(false) == HW_COUNTERS4, "IPv4 counter block");
static_assert(countCounters(true) == HW_COUNTERS6, "IPv6 counter block");
}  // namespace
