// Link and route messages of tunnel interfaces in the kernel's own form:
// ifinfomsg with IFLA_IFNAME, IFLA_MTU and IFLA_LINKINFO { IFLA_INFO_KIND,
// IFLA_INFO_DATA { IFLA_IPTUN_LINK, _LOCAL, _REMOTE, _TTL, _TOS (IPv4 kinds),
// _PROTO, _PMTUDISC (IPv4 kinds) } } and rtmsg with RTA_TABLE, RTA_DST and
// RTA_OIF, numbered as the kernel's rtnetlink, if_link and if_tunnel headers
// number them. Host byte order for lengths and integers, network order for
// addresses.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "nlbuild.h"

namespace tunmsg {

constexpr uint16_t kIflaIfname = 3, kIflaMtu = 4, kIflaLinkinfo = 18;
constexpr uint16_t kInfoKind = 1, kInfoData = 2;
constexpr uint16_t kIptunLink = 1, kIptunLocal = 2, kIptunRemote = 3, kIptunTtl = 4, kIptunTos = 5, kIptunProto = 9,
                   kIptunPmtudisc = 10;
constexpr uint16_t kRtaDst = 1, kRtaOif = 4, kRtaTable = 15;
constexpr uint32_t kIffUp = 0x1, kIffRunning = 0x40, kIffNoarp = 0x80, kIffPointopoint = 0x10;

template <class T>
std::vector<uint8_t> bytesOf(T v) {
    std::vector<uint8_t> b(sizeof(T));
    std::memcpy(b.data(), &v, sizeof(T));
    return b;
}
inline std::vector<uint8_t> text(const std::string& t) { return std::vector<uint8_t>(t.c_str(), t.c_str() + t.size() + 1); }
inline std::vector<uint8_t> addr(const char* text) { return nlAddrBytes(text); }
inline void append(std::vector<uint8_t>& b, uint16_t type, const std::vector<uint8_t>& payload) {
    const std::vector<uint8_t> a = nlAttrBytes(type, payload);
    b.insert(b.end(), a.begin(), a.end());
}

// A link message (16 new or changed, 17 removed) of an "ipip", "sit" or
// "ip6tnl" interface; proto < 0 leaves IFLA_IPTUN_PROTO out.
inline std::vector<uint8_t> link(uint16_t type, int32_t index, uint32_t flags, const char* kind, const char* local,
                                 const char* remote, int proto) {
    const bool v4 = std::strcmp(kind, "ip6tnl") != 0;
    std::vector<uint8_t> data, info;
    append(data, kIptunLink, bytesOf<uint32_t>(0));
    append(data, kIptunLocal, addr(local));
    append(data, kIptunRemote, addr(remote));
    append(data, kIptunTtl, bytesOf<uint8_t>(64));
    if (v4) append(data, kIptunTos, bytesOf<uint8_t>(0));
    if (proto >= 0) append(data, kIptunProto, bytesOf<uint8_t>(uint8_t(proto)));
    if (v4) append(data, kIptunPmtudisc, bytesOf<uint8_t>(1));
    append(info, kInfoKind, text(kind));
    append(info, kInfoData, data);
    // ifi_family, pad, ifi_type (ARPHRD_SIT / _TUNNEL / _TUNNEL6), index, flags, ifi_change.
    std::vector<uint8_t> body = {0, 0};
    for (const auto& f : {bytesOf<uint16_t>(v4 ? (std::strcmp(kind, "sit") == 0 ? 776 : 768) : 769),
                          bytesOf(index), bytesOf(flags), bytesOf<uint32_t>(0xFFFFFFFF)})
        body.insert(body.end(), f.begin(), f.end());
    return NlMessage(type, body)
        .attr(kIflaIfname, text("tun" + std::to_string(index)))
        .attrU32(kIflaMtu, v4 ? 1480 : 1452)
        .attr(kIflaLinkinfo, info)
        .bytes();
}

// A route message (24 new, 25 removed) of the main table through `oif`.
inline std::vector<uint8_t> route(uint16_t type, const char* dst, uint8_t prefixLen, uint32_t oif,
                                  uint32_t table = 254, uint8_t rtType = 1) {
    const bool v6 = std::strchr(dst, ':') != nullptr;
    std::vector<uint8_t> body = {uint8_t(v6 ? 10 : 2), prefixLen, 0, 0, uint8_t(table < 256 ? table : 252), 3, 253,
                                 rtType, 0, 0, 0, 0};  // ... rtm_flags
    return NlMessage(type, body).attrU32(kRtaTable, table).attr(kRtaDst, addr(dst)).attrU32(kRtaOif, oif).bytes();
}

}  // namespace tunmsg
