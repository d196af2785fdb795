// A big-endian writer over a fixed buffer. Hardware buffers and the
// management protocol are big-endian on every host. Writes past the end are
// dropped and remembered in a sticky overflow flag checked once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class BeWriter {
public:
    BeWriter(uint8_t* buf, std::size_t cap) : buf_(buf), cap_(cap) {}

    BeWriter& at(std::size_t pos) {
        pos_ = pos;
        return *this;
    }
    BeWriter& u8(uint8_t v) { return put(&v, 1); }
    BeWriter& u16(uint16_t v) {
        const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
        return put(b, 2);
    }
    BeWriter& u32(uint32_t v) {
        const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        return put(b, 4);
    }
    BeWriter& bytes(const void* p, std::size_t n) { return put(p, n); }
    BeWriter& zeros(std::size_t n) {
        if (!fits(n)) return *this;
        std::memset(buf_ + pos_, 0, n);
        pos_ += n;
        return *this;
    }
    std::size_t pos() const { return pos_; }
    bool overflow() const { return overflow_; }

private:
    bool fits(std::size_t n) {
        if (pos_ > cap_ || n > cap_ - pos_) {
            overflow_ = true;
            return false;
        }
        return true;
    }
    BeWriter& put(const void* p, std::size_t n) {
        if (!fits(n)) return *this;
        std::memcpy(buf_ + pos_, p, n);
        pos_ += n;
        return *this;
    }

    uint8_t* buf_;
    std::size_t cap_;
    std::size_t pos_ = 0;
    bool overflow_ = false;
};

// Big-endian reads, for tests and the management codec.
inline uint32_t beRead32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t beRead16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
