// Helpers of the management tests: requests written byte by byte from the
// documented layout (independent of the codec), and a capture of the
// process's standard output.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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
    std::vector<uint8_t> value = {0, 0, 0, 0};
};

inline void nmPut(std::vector<uint8_t>& b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}

inline std::vector<uint8_t> nmBytes(const NmReq& r) {
    std::vector<uint8_t> b;
    nmPut(b, r.magic, 4);
    nmPut(b, r.seq, 4);
    nmPut(b, r.func, 4);
    nmPut(b, r.retcode, 4);
    nmPut(b, r.cmd, 4);
    b.push_back(r.indexMark);
    b.push_back(r.indexNum);
    nmPut(b, 0, 3);
    nmPut(b, uint32_t(r.vrf), 4);
    b.push_back(r.valueMark);
    b.push_back(r.type);
    nmPut(b, r.len, 2);
    b.insert(b.end(), r.value.begin(), r.value.end());
    return b;
}

inline std::vector<uint8_t> nmU32(uint32_t v) {
    std::vector<uint8_t> b;
    nmPut(b, v, 4);
    return b;
}

inline uint32_t nmRead32(const std::vector<uint8_t>& b, std::size_t off) {
    return (uint32_t(b[off]) << 24) | (uint32_t(b[off + 1]) << 16) | (uint32_t(b[off + 2]) << 8) | b[off + 3];
}

// Redirects file descriptor 1 into a temporary file until finish().
class StdoutCapture {
public:
    StdoutCapture() {
        fflush(stdout);
        saved_ = dup(1);
        file_ = tmpfile();
        dup2(fileno(file_), 1);
    }
    ~StdoutCapture() { finish(); }
    std::string finish() {
        if (file_ == nullptr) return text_;
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        rewind(file_);
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof(buf), file_)) > 0) text_.append(buf, n);
        fclose(file_);
        file_ = nullptr;
        return text_;
    }

private:
    int saved_ = -1;
    FILE* file_ = nullptr;
    std::string text_;
};
