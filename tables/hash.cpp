// Bucket hashes of the route, next-hop and neighbour tables, and the IPv6
// prefix match shared by the IPv6 tables, the indirect walks and tunnels.
#include <cstring>

#include "hwroute/tables.h"

namespace {

// One step of the "times 33 plus byte" hash.
inline uint32_t hashStep(uint32_t h, uint32_t byte) { return h + (h << 5) + byte; }

// The four bytes of a word, least significant first.
inline uint32_t hashWord(uint32_t h, uint32_t word) {
    for (uint32_t shift = 0; shift < 32; shift += 8) h = hashStep(h, (word >> shift) & 0xff);
    return h;
}

}  // namespace

uint32_t hwRouteKey(uint32_t ip, uint32_t mask) { return hashWord(hashWord(0, ip), mask) & 0x3ff; }

uint32_t hwRouteKey1(uint32_t ip) { return ip & 0x7f; }

uint32_t hwRoute6Key(const uint8_t* addr, uint32_t prefixLen) {
    uint32_t h = 0;
    for (int i = 0; i < 16; ++i) h = hashStep(h, addr[i]);
    return hashStep(h, prefixLen & 0xff) & 0x3ff;
}

uint32_t hwRoute6ByteSum(const uint8_t* addr) {
    uint32_t sum = 0;
    for (int i = 0; i < 16; ++i) sum += addr[i];
    return sum;
}

uint32_t hwRoute6Key1(const uint8_t* addr) { return hwRoute6ByteSum(addr) & 0x7f; }

int32_t hwRouteIp6AddrMatch(const uint8_t* a, const uint8_t* b, uint32_t prefixLen) {
    static const uint8_t maskTable[8] = {0x00, 0x80, 0xc0, 0xe0, 0xf0, 0xf8, 0xfc, 0xfe};
    // A missing second address cannot match either; guarding it costs nothing.
    if (a == nullptr || b == nullptr) return -1;
    uint32_t len = prefixLen & 0xff;
    if (len > 128) return -1;
    if (len == 0) return 0;
    if (len == 128) return std::memcmp(a, b, 16) == 0 ? 0 : -1;
    uint32_t whole = len >> 3;
    uint32_t rest = len & 7;
    if (std::memcmp(a, b, whole) != 0) return -1;
    return ((a[whole] ^ b[whole]) & maskTable[rest]) == 0 ? 0 : -1;
}
