// A sequence of datagrams into one daemon state, a worker pass after each,
// and the invariants checked after every pass. Input: records of a 16-bit
// little-endian length and that many datagram bytes (at most 1024).
#include <cstring>

#include "fuzz_support.h"
#include "hwroute/intake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzFreshState(true);
    uint8_t datagram[1024];
    while (size >= 2) {
        size_t len = size_t(data[0]) | size_t(data[1]) << 8;
        data += 2;
        size -= 2;
        if (len > size) len = size;
        if (len > sizeof datagram) len = sizeof datagram;
        std::memcpy(datagram, data, len);  // the walk sees exactly these bytes
        hwRtnotifyRecv(datagram, int(len));
        fuzzPass();
        fuzzCheckInvariants();
        data += len;
        size -= len;
    }
    return 0;
}
