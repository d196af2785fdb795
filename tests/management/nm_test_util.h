// Helpers of the management tests: requests written byte by byte from the
// documented layout (independent of the codec), and a capture of the
// process's standard output.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Defaults: a table statistics request whose u32 value (0xDEADBEEF) shows
// whether the daemon wrote it.
struct NmReq {
    uint32_t magic = 0x41445231;
    uint32_t seq = 0x0BADF00D;
    uint32_t func = 5;
    uint32_t retcode = 0;
    uint32_t cmd = 0;
    uint8_t indexMark = 1;
    uint8_t indexNum = 0;
    int32_t vrf = 0;
    uint8_t valueMark = 3;
    uint8_t type = 2;
    uint16_t len = 4;
    std::vector<uint8_t> value = {0xDE, 0xAD, 0xBE, 0xEF};
};

inline void nmPut(std::vector<uint8_t>& b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}

inline std::vector<uint8_t> nmU32(uint32_t v) {
    std::vector<uint8_t> b;
    nmPut(b, v, 4);
    return b;
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
    fflush(stdout);
    const int saved = dup(1);
    FILE* file = tmpfile();
    dup2(fileno(file), 1);
    run();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    rewind(file);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof(buf), file)) > 0;) text.append(buf, n);
    fclose(file);
    return text;
}
