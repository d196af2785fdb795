// Address text and prefix masks, used throughout the daemon.
#include <arpa/inet.h>

#include <cstdio>

#include "decoders.h"
#include "hwroute/intake.h"

namespace {
// ip6_sprintf hands out these in turn, so a few results can sit in one
// printf call; a caller prints the text before the buffer comes round again.
constexpr int kIp6TextBufs = 4;
constexpr int kIp6TextLen = 48;
char ip6Text[kIp6TextBufs][kIp6TextLen];
int ip6TextNext = 0;

}  // namespace

void in_len2mask(void* buf, int len) {
    if (buf == nullptr || len < 0 || len > 32) return;
    uint8_t* out = static_cast<uint8_t*>(buf);
    for (int i = 0; i < 4; ++i) {
        int bits = len - 8 * i;
        if (bits >= 8)
            out[i] = 0xFF;
        else if (bits > 0)
            out[i] = static_cast<uint8_t>(0xFF << (8 - bits));
        else
            out[i] = 0;
    }
}

char* inet_ntoa_2(char* buf, uint32_t addr) {
    std::snprintf(buf, 16, "%d.%d.%d.%d", int(addr >> 24), int((addr >> 16) & 0xFF), int((addr >> 8) & 0xFF),
                  int(addr & 0xFF));
    return buf;
}

const char* ip6_sprintf(const uint8_t* addr) {
    char* out = ip6Text[ip6TextNext];
    ip6TextNext = (ip6TextNext + 1) % kIp6TextBufs;
    if (inet_ntop(AF_INET6, addr, out, kIp6TextLen) == nullptr) out[0] = '\0';
    return out;
}

uint32_t hwNotifyMask(uint8_t prefixLen) {
    uint8_t m[4] = {0, 0, 0, 0};
    in_len2mask(m, prefixLen);
    return hwRdAddr4(m);
}
