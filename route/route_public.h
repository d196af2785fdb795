// Reference counts a private (VPN) path holds on the public route it rides
// on, the same for IPv4 and IPv6 private paths.
#pragma once

#include <cstdint>

#include "hwroute/flags.h"
#include "hwroute/records.h"

// The public route this private path rides on now counts one more user.
inline void hwRoutePublicRefsRaise(uint32_t publicFamily, void* publicRoute) {
    if (publicRoute == nullptr) return;
    if (publicFamily == HW_AF_INET) {
        auto* pub = static_cast<HwRouteNexthop*>(publicRoute);
        ++pub->privateRefCnt;
        ++pub->privateArpRefCnt;
        ++pub->privateMplsRefCnt;
    } else if (publicFamily == HW_AF_INET6) {
        auto* pub = static_cast<HwRoute6Nexthop*>(publicRoute);
        ++pub->privateRefCnt;
        ++pub->privateArpRefCnt;
        ++pub->privateMplsRefCnt;
    }
}

// Lower a reference count of a public route; a count that is already 0 stays
// there. A private path whose neighbour came only after it was added never
// raised the count, and wrapping round would keep the public route alive for ever.
template <class Count>
Count hwCountDown(Count& count) {
    if (count != 0) --count;
    return count;
}
