// Kernel route notifications built by hand for the benchmarks, in the
// kernel's own layout (host-order header and attributes, network-order
// addresses): one IPv4 /24 static route per message. And the runner that
// gives each benchmark run a process of its own.
#pragma once

#include <arpa/inet.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace bench {

inline void put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Header, route head, destination, interface and gateway attributes; `buf`
// holds at least 64 bytes. Returns the message length.
inline int routeDatagram(uint8_t* buf, uint16_t type, uint32_t dest, uint32_t gateway, uint32_t ifUnit) {
    std::memset(buf, 0, 64);
    const int len = 16 + 12 + 8 + 8 + 8;
    put32(buf, len);
    put16(buf + 4, type);
    buf[16] = 2;   // family
    buf[17] = 24;  // prefix length
    buf[21] = 4;   // protocol: static
    uint8_t* a = buf + 28;
    const uint32_t destBe = htonl(dest), gwBe = htonl(gateway);
    put16(a, 8), put16(a + 2, 1), std::memcpy(a + 4, &destBe, 4);
    put16(a + 8, 8), put16(a + 10, 4), put32(a + 12, ifUnit);
    put16(a + 16, 8), put16(a + 18, 5), std::memcpy(a + 20, &gwBe, 4);
    return len;
}

// Runs `fn` in a process of its own (fresh pools and caches for each run).
template <class Fn>
void inChild(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        fn();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

}  // namespace bench
