// One notification datagram into a fresh daemon state, then one worker pass.
#include "fuzz_support.h"
#include "hwroute/intake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1024) return 0;  // the worker reads at most 1024 bytes
    fuzzFreshState(false);
    hwRtnotifyRecv(data, int(size));
    fuzzPass();
    return 0;
}
