// The platform configuration file through the loader's public entry point.
#include <string>

#include "fuzz_support.h"
#include "sim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string err;
    const bool ok = simLoadConfigText(std::string(reinterpret_cast<const char*>(data), size), &err);
    if (!ok && (err.empty() || err.find('\n') != std::string::npos)) __builtin_trap();  // one line of reason
    simReset();
    return 0;
}
