// Link and route messages of tunnel interfaces in the kernel's own form:
// ifinfomsg with IFLA_IFNAME, IFLA_MTU and IFLA_LINKINFO { IFLA_INFO_KIND,
// IFLA_INFO_DATA { IFLA_IPTUN_LINK, _LOCAL, _REMOTE, _TTL, _TOS (IPv4 kinds),
// _PROTO, _PMTUDISC (IPv4 kinds) } } and rtmsg with RTA_TABLE, RTA_DST and
// RTA_OIF, numbered as the kernel's rtnetlink, if_link and if_tunnel headers
// number them. Host byte order for lengths and integers, network order for
// addresses.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tunmsg {

constexpr uint16_t kIflaIfname = 3, kIflaMtu = 4, kIflaLinkinfo = 18;
constexpr uint16_t kInfoKind = 1, kInfoData = 2;
constexpr uint16_t kIptunLink = 1, kIptunLocal = 2, kIptunRemote = 3, kIptunTtl = 4, kIptunTos = 5, kIptunProto = 9,
                   kIptunPmtudisc = 10;
constexpr uint16_t kRtaDst = 1, kRtaOif = 4, kRtaTable = 15;
constexpr uint32_t kIffUp = 0x1, kIffRunning = 0x40, kIffNoarp = 0x80, kIffPointopoint = 0x10;

inline void put(std::vector<uint8_t>& b, const void* p, std::size_t n) {
    const auto* c = static_cast<const uint8_t*>(p);
    b.insert(b.end(), c, c + n);
}
template <class T>
void putv(std::vector<uint8_t>& b, T v) {
    put(b, &v, sizeof(v));
}

inline std::vector<uint8_t> attr(uint16_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> b;
    putv<uint16_t>(b, uint16_t(4 + payload.size()));
    putv<uint16_t>(b, type);
    put(b, payload.data(), payload.size());
    b.resize((b.size() + 3) & ~std::size_t(3), 0);
    return b;
}
template <class T>
std::vector<uint8_t> attrOf(uint16_t type, T v) {
    std::vector<uint8_t> p;
    putv(p, v);
    return attr(type, p);
}
inline std::vector<uint8_t> addr(const char* text) {
    uint8_t a[16] = {};
    const bool v6 = std::strchr(text, ':') != nullptr;
    inet_pton(v6 ? AF_INET6 : AF_INET, text, a);
    return std::vector<uint8_t>(a, a + (v6 ? 16 : 4));
}
inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> b;
    for (const auto& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

inline std::vector<uint8_t> message(uint16_t type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> b;
    putv<uint32_t>(b, uint32_t(16 + body.size()));
    putv<uint16_t>(b, type);
    putv<uint16_t>(b, 0);
    putv<uint32_t>(b, 0);
    putv<uint32_t>(b, 0);
    put(b, body.data(), body.size());
    return b;
}

// A link message (16 new or changed, 17 removed) of an "ipip", "sit" or
// "ip6tnl" interface; proto < 0 leaves IFLA_IPTUN_PROTO out.
inline std::vector<uint8_t> link(uint16_t type, int32_t index, uint32_t flags, const char* kind, const char* local,
                                 const char* remote, int proto) {
    const bool v4 = std::strcmp(kind, "ip6tnl") != 0;
    std::vector<uint8_t> data = cat({attrOf<uint32_t>(kIptunLink, 0), attr(kIptunLocal, addr(local)),
                                     attr(kIptunRemote, addr(remote)), attrOf<uint8_t>(kIptunTtl, 64)});
    if (v4) data = cat({data, attrOf<uint8_t>(kIptunTos, 0)});
    if (proto >= 0) data = cat({data, attrOf<uint8_t>(kIptunProto, uint8_t(proto))});
    if (v4) data = cat({data, attrOf<uint8_t>(kIptunPmtudisc, 1)});
    const std::string k(kind);
    const std::string name = "tun" + std::to_string(index);
    const auto text = [](const std::string& t) {
        std::vector<uint8_t> v(t.begin(), t.end());
        v.push_back(0);
        return v;
    };
    const std::vector<uint8_t> info = cat({attr(kInfoKind, text(k)), attr(kInfoData, data)});
    std::vector<uint8_t> body;
    putv<uint8_t>(body, 0);                                   // ifi_family
    putv<uint8_t>(body, 0);
    putv<uint16_t>(body, uint16_t(v4 ? (k == "sit" ? 776 : 768) : 769));  // ifi_type: ARPHRD_SIT / _TUNNEL / _TUNNEL6
    putv<int32_t>(body, index);
    putv<uint32_t>(body, flags);
    putv<uint32_t>(body, 0xFFFFFFFF);                         // ifi_change
    body = cat({body, attr(kIflaIfname, text(name)),
                attrOf<uint32_t>(kIflaMtu, v4 ? 1480 : 1452), attr(kIflaLinkinfo, info)});
    return message(type, body);
}

// A route message (24 new, 25 removed) of the main table through `oif`.
inline std::vector<uint8_t> route(uint16_t type, const char* dst, uint8_t prefixLen, uint32_t oif,
                                  uint32_t table = 254, uint8_t rtType = 1) {
    const bool v6 = std::strchr(dst, ':') != nullptr;
    std::vector<uint8_t> body = {uint8_t(v6 ? 10 : 2), prefixLen, 0, 0, uint8_t(table < 256 ? table : 252), 3, 253,
                                 rtType};
    putv<uint32_t>(body, 0);  // rtm_flags
    body = cat({body, attrOf<uint32_t>(kRtaTable, table), attr(kRtaDst, addr(dst)), attrOf<uint32_t>(kRtaOif, oif)});
    return message(type, body);
}

}  // namespace tunmsg
