// Helpers of the management tests: requests written byte by byte from the
// documented layout (independent of the codec), and a capture of the
// process's standard output.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Defaults: a table statistics request whose u32 value (0xDEADBEEF) shows
// whether the daemon wrote it.
struct NmReq {
    uint32_t magic = 0x41445231, seq = 0x0BADF00D, func = 5, retcode = 0, cmd = 0;
    uint8_t indexMark = 1, indexNum = 0;
    int32_t vrf = 0;
    uint8_t valueMark = 3, type = 2;
    uint16_t len = 4;
    std::vector<uint8_t> value = {0xDE, 0xAD, 0xBE, 0xEF};
};

inline void nmPut(std::vector<uint8_t>& b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}

inline std::vector<uint8_t> nmU32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

inline std::vector<uint8_t> nmBytes(const NmReq& r) {
    std::vector<uint8_t> b;
    for (uint32_t word : {r.magic, r.seq, r.func, r.retcode, r.cmd}) nmPut(b, word, 4);
    b.insert(b.end(), {r.indexMark, r.indexNum, 0, 0, 0});
    nmPut(b, uint32_t(r.vrf), 4);
    b.insert(b.end(), {r.valueMark, r.type});
    nmPut(b, r.len, 2);
    b.insert(b.end(), r.value.begin(), r.value.end());
    return b;
}

// What `run` writes on file descriptor 1.
template <class Run>
std::string capturedStdout(Run run) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}
