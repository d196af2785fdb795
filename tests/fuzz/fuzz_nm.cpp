// One management request, as received into the 1518-byte buffer.
#include <cstring>

#include "fuzz_support.h"
#include "hwroute/debug.h"
#include "hwroute/management.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > size_t(HW_NM_BUF_LEN)) return 0;  // refused unread by the socket
    static bool once = false;
    if (!once) {
        fuzzFreshState(false);
        once = true;
    }
    hwRouteDebugSet(1);  // a set request of the previous input does not carry over
    uint8_t buf[HW_NM_BUF_LEN];
    std::memcpy(buf, data, size);
    const int reply = hwRouteNmMsgProcess(buf, int(size));
    if (reply != 0 && reply != int(size)) __builtin_trap();  // the reply is the request edited in place
    return 0;
}
