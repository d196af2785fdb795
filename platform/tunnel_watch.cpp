// Kernel tunnel watch: the stand-in for the platform software that owns IP
// tunnels. It reads the link messages of ipip, sit and ip6tnl interfaces and
// the routes that point into them, and keeps the tunnel requests they imply:
//
//   tunUnit        the tunnel interface's index
//   tunFamily      2 for ipip and sit, 10 for ip6tnl (family of the endpoints)
//   nextHopSrc     IFLA_IPTUN_LOCAL        nextHopDst  IFLA_IPTUN_REMOTE
//   nexthopMask    mask (IPv4) or prefix length (IPv6) of the local endpoint's
//                  address on its link; 0 when no interface holds it
//   dest, routeMask, routeFamily   the route's destination and prefix
//   tunId          low 16 bits of the interface index (two interfaces with the
//                  same endpoints stay two tunnels)
//   encapsMethod   the carried protocol: 4 for IPv4 routes, 41 for IPv6 routes
//   tunType 100, tunCreateTick  the tick at which the interface was first
//                  seen; kivIfGetApi 5211 answers it for the unit
//   status         2 (not in hardware)
//
// A route is mapped when it is a unicast route of the main table whose
// output interface (RTA_OIF) is a watched tunnel and whose family the
// tunnel's mode carries (IFLA_IPTUN_PROTO 4: IPv4, 41: IPv6, 0: both).
// IPv6 link-local and multicast prefixes, which the kernel puts on every
// interface, are not mapped; neither are multipath routes.
//
// The route's removal gives a delete; the interface's removal, or the
// interface going administratively down (the kernel then drops its IPv4
// routes without a message), gives a removal of the unit; new endpoints
// give a removal of the unit and the routes again with the new endpoints.
//
// A message cut short (a datagram longer than the read) is read as far as it
// goes: the interface head and the link information come early in a link
// message.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_link.h>
#include <linux/if_tunnel.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <time.h>

#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hwroute/flags.h"
#include "hwroute/platform.h"
#include "sim_state.h"

namespace {

constexpr uint32_t kNlHdrLen = 16;
constexpr uint32_t kIfMsgEnd = 32;   // header + ifinfomsg
constexpr uint32_t kRtMsgEnd = 28;   // header + rtmsg
constexpr uint32_t kTunTypeTickCheck = 100;
constexpr uint8_t kProtoIpip = 4;
constexpr uint8_t kProtoIpv6 = 41;
constexpr uint16_t kAttrTypeMask = 0x3FFF;  // without the nested and byte-order flags

uint32_t rd32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t rd16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Attributes of one level: the payload of each type that fits in [p, p+len).
struct Attrs {
    const uint8_t* at[64] = {};
    uint16_t len[64] = {};
    Attrs(const uint8_t* p, uint32_t total) {
        while (total >= 4) {
            const uint16_t alen = rd16(p);
            const uint16_t type = rd16(p + 2) & kAttrTypeMask;
            if (alen < 4 || alen > total) return;
            if (type < 64) {
                at[type] = p + 4;
                len[type] = uint16_t(alen - 4);
            }
            const uint32_t step = (alen + 3u) & ~3u;
            if (step >= total) return;
            p += step;
            total -= step;
        }
    }
    const uint8_t* get(uint16_t type, uint32_t minLen) const { return at[type] && len[type] >= minLen ? at[type] : nullptr; }
};

uint32_t nowTick() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(ts.tv_sec) * 100u + uint32_t(ts.tv_nsec / 10000000L);
}

double nowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A watched tunnel interface.
struct TunIf {
    uint32_t family = 0;  // of the endpoints
    uint8_t local[16] = {};
    uint8_t remote[16] = {};
    uint8_t proto = 0;  // 0: IPv4 and IPv6, 4: IPv4, 41: IPv6
    uint32_t tick = 0;
    bool up = false;

    bool sameEndpoints(const TunIf& o) const {
        return family == o.family && proto == o.proto && std::memcmp(local, o.local, 16) == 0 &&
               std::memcmp(remote, o.remote, 16) == 0;
    }
    bool carries(uint32_t routeFamily) const {
        return proto == 0 || (proto == kProtoIpip && routeFamily == HW_AF_INET) ||
               (proto == kProtoIpv6 && routeFamily == HW_AF_INET6);
    }
};

// One route into a tunnel and the request it gave.
struct Routed {
    uint32_t unit;
    uint32_t family;
    uint8_t dest[16];
    uint8_t prefixLen;
    HwRouteTunNode request;

    bool same(uint32_t u, uint32_t f, const uint8_t* d, uint8_t len) const {
        return unit == u && family == f && prefixLen == len && std::memcmp(dest, d, 16) == 0;
    }
};

struct Watch {
    std::mutex mutex;
    std::map<uint32_t, TunIf> ifs;
    std::vector<Routed> wanted;
    std::deque<HwTunEvent> events;
    bool changed = false;   // wanted tunnels added since the last offer
    bool activity = false;  // neighbours or routes added since the last offer
    double lastOffer = -1e9;
};

Watch& watch() {
    static Watch w;
    return w;
}

// ---- the local endpoint's subnet ---------------------------------------------

uint32_t prefixBits(const uint8_t* mask, uint32_t bytes) {
    uint32_t bits = 0;
    for (uint32_t i = 0; i < bytes; ++i)
        for (int b = 7; b >= 0 && ((mask[i] >> b) & 1); --b) ++bits;
    return bits;
}

// Mask (IPv4, as a number) or prefix length (IPv6) of the interface address
// equal to `local`; 0 when no interface of this namespace holds it.
uint32_t localMask(uint32_t family, const uint8_t* local) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    uint32_t mask = 0;
    for (ifaddrs* a = list; a != nullptr && mask == 0; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_netmask == nullptr) continue;
        if (family == HW_AF_INET && a->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
            const auto* nm = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask);
            if (std::memcmp(&in->sin_addr, local, 4) == 0) mask = ntohl(nm->sin_addr.s_addr);
        } else if (family == HW_AF_INET6 && a->ifa_addr->sa_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
            const auto* nm6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_netmask);
            if (std::memcmp(&in6->sin6_addr, local, 16) == 0) mask = prefixBits(nm6->sin6_addr.s6_addr, 16);
        }
    }
    freeifaddrs(list);
    return mask;
}

// ---- requests -----------------------------------------------------------------

uint32_t routeMaskOf(uint32_t family, uint8_t prefixLen) {
    if (family != HW_AF_INET) return prefixLen;
    return prefixLen == 0 ? 0 : 0xFFFFFFFFu << (32 - prefixLen);
}

HwRouteTunNode requestOf(uint32_t unit, const TunIf& t, uint32_t family, const uint8_t* dest, uint8_t prefixLen) {
    HwRouteTunNode r{};
    r.tunId = uint16_t(unit & 0xFFFF);
    r.tunFamily = uint8_t(t.family);
    r.encapsMethod = family == HW_AF_INET ? kProtoIpip : kProtoIpv6;
    std::memcpy(r.nextHopSrc, t.local, 16);
    r.nexthopMask = localMask(t.family, t.local);
    std::memcpy(r.nextHopDst, t.remote, 16);
    std::memcpy(r.dest, dest, 16);
    r.routeMask = routeMaskOf(family, prefixLen);
    r.tunUnit = unit;
    r.tunType = kTunTypeTickCheck;
    r.tunCreateTick = t.tick;
    r.routeFamily = uint16_t(family);
    r.status = hwStatusIdle;
    return r;
}

// Everything of the unit leaves the hardware; its routes are forgotten.
void dropUnit(Watch& w, uint32_t unit) {
    bool had = false;
    for (auto it = w.wanted.begin(); it != w.wanted.end();) {
        if (it->unit != unit) {
            ++it;
            continue;
        }
        had = true;
        it = w.wanted.erase(it);
    }
    if (had) w.events.push_back(HwTunEvent{HW_TUN_EV_NOTIFY, unit, {}});
}

// New endpoints: the unit's tunnels go, and come back with the new endpoints.
void renewUnit(Watch& w, uint32_t unit, const TunIf& t) {
    w.events.push_back(HwTunEvent{HW_TUN_EV_NOTIFY, unit, {}});
    for (Routed& r : w.wanted) {
        if (r.unit != unit) continue;
        r.request = requestOf(unit, t, r.family, r.dest, r.prefixLen);
        w.changed = true;
    }
}

// ---- link messages -------------------------------------------------------------

// The tunnel an interface is, from its link information; false for any other kind.
bool tunnelOf(const Attrs& link, TunIf* t) {
    const uint8_t* info = link.get(IFLA_LINKINFO, 4);
    if (info == nullptr) return false;
    const Attrs li(info, link.len[IFLA_LINKINFO]);
    const uint8_t* kind = li.get(IFLA_INFO_KIND, 1);
    const uint8_t* data = li.get(IFLA_INFO_DATA, 4);
    if (kind == nullptr || data == nullptr) return false;
    const std::string name(reinterpret_cast<const char*>(kind), strnlen(reinterpret_cast<const char*>(kind), li.len[IFLA_INFO_KIND]));
    uint32_t addrLen = 0;
    if (name == "ipip") {
        t->family = HW_AF_INET, t->proto = kProtoIpip, addrLen = 4;
    } else if (name == "sit") {
        t->family = HW_AF_INET, t->proto = kProtoIpv6, addrLen = 4;
    } else if (name == "ip6tnl") {
        t->family = HW_AF_INET6, t->proto = 0, addrLen = 16;
    } else {
        return false;
    }
    const Attrs d(data, li.len[IFLA_INFO_DATA]);
    if (const uint8_t* p = d.get(IFLA_IPTUN_LOCAL, addrLen)) std::memcpy(t->local, p, addrLen);
    if (const uint8_t* p = d.get(IFLA_IPTUN_REMOTE, addrLen)) std::memcpy(t->remote, p, addrLen);
    if (const uint8_t* p = d.get(IFLA_IPTUN_PROTO, 1)) t->proto = *p;
    static const uint8_t kNone[16] = {};
    return std::memcmp(t->remote, kNone, 16) != 0;  // a tunnel without a far end (the fallback devices) is not watched
}

void linkMsg(Watch& w, uint16_t type, const uint8_t* m, uint32_t len) {
    if (len < kIfMsgEnd) return;
    const uint32_t unit = rd32(m + 20);
    const bool up = (rd32(m + 24) & IFF_UP) != 0;
    auto known = w.ifs.find(unit);
    if (type == RTM_DELLINK) {
        if (known == w.ifs.end()) return;
        dropUnit(w, unit);
        w.ifs.erase(known);
        return;
    }
    const Attrs link(m + kIfMsgEnd, len - kIfMsgEnd);
    TunIf t;
    const bool hasInfo = link.get(IFLA_LINKINFO, 4) != nullptr;
    if (!tunnelOf(link, &t)) {
        // Link information of another kind: the index now names another interface.
        if (known != w.ifs.end() && hasInfo) {
            dropUnit(w, unit);
            w.ifs.erase(known);
        } else if (known != w.ifs.end()) {
            if (known->second.up && !up) dropUnit(w, unit);
            known->second.up = up;
        }
        return;
    }
    t.up = up;
    if (known == w.ifs.end()) {
        t.tick = nowTick();
        w.ifs.emplace(unit, t);
        return;
    }
    t.tick = known->second.tick;
    const bool renewed = !known->second.sameEndpoints(t);
    const bool wentDown = known->second.up && !up;
    known->second = t;
    if (wentDown)
        dropUnit(w, unit);
    else if (renewed)
        renewUnit(w, unit, t);
}

// ---- route messages ----------------------------------------------------------

bool linkLocalOrMulticast(const uint8_t* a) { return (a[0] == 0xFE && (a[1] & 0xC0) == 0x80) || a[0] == 0xFF; }

void routeMsg(Watch& w, uint16_t type, const uint8_t* m, uint32_t len) {
    if (len < kRtMsgEnd) return;
    const uint8_t family = m[16], prefixLen = m[17], rtType = m[23];
    const Attrs a(m + kRtMsgEnd, len - kRtMsgEnd);
    uint32_t table = m[20];
    if (const uint8_t* p = a.get(RTA_TABLE, 4)) table = rd32(p);
    const uint8_t* oif = a.get(RTA_OIF, 4);
    if (oif == nullptr || table != RT_TABLE_MAIN || rtType != RTN_UNICAST) return;
    if ((family != HW_AF_INET || prefixLen > 32) && (family != HW_AF_INET6 || prefixLen > 128)) return;
    const uint32_t unit = rd32(oif);
    auto tun = w.ifs.find(unit);
    if (tun == w.ifs.end() || !tun->second.carries(family)) return;
    uint8_t dest[16] = {};
    if (const uint8_t* p = a.get(RTA_DST, family == HW_AF_INET ? 4 : 16)) std::memcpy(dest, p, family == HW_AF_INET ? 4 : 16);
    if (family == HW_AF_INET6 && linkLocalOrMulticast(dest)) return;
    auto it = w.wanted.begin();
    while (it != w.wanted.end() && !it->same(unit, family, dest, prefixLen)) ++it;
    if (type == RTM_NEWROUTE) {
        if (it != w.wanted.end()) return;  // a replace or a second report of the same route
        Routed r{unit, family, {}, prefixLen, requestOf(unit, tun->second, family, dest, prefixLen)};
        std::memcpy(r.dest, dest, 16);
        w.wanted.push_back(r);
        w.changed = true;
        return;
    }
    if (it == w.wanted.end()) return;
    w.events.push_back(HwTunEvent{HW_TUN_EV_DEL, unit, it->request});
    w.wanted.erase(it);
}

}  // namespace

void kivTunWatchDatagram(const uint8_t* buf, uint32_t len) {
    if (buf == nullptr) return;
    Watch& w = watch();
    std::lock_guard<std::mutex> lock(w.mutex);
    while (len >= kNlHdrLen) {
        const uint32_t msgLen = rd32(buf);
        const uint16_t type = rd16(buf + 4);
        if (msgLen < kNlHdrLen) return;
        const uint32_t have = msgLen < len ? msgLen : len;  // a message cut short is read as far as it goes
        if (type == RTM_NEWLINK || type == RTM_DELLINK) linkMsg(w, type, buf, have);
        if (type == RTM_NEWROUTE || type == RTM_DELROUTE) routeMsg(w, type, buf, have);
        if (type == RTM_NEWROUTE || type == RTM_NEWNEIGH) w.activity = true;
        const uint32_t step = (msgLen + 3u) & ~3u;
        if (step >= len) return;
        buf += step;
        len -= step;
    }
}

int kivTunEventGet(HwTunEvent* ev) {
    Watch& w = watch();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (ev == nullptr || w.events.empty()) return -1;
    *ev = w.events.front();
    w.events.pop_front();
    return 0;
}

bool kivTunRetryDue(void) {
    Watch& w = watch();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.wanted.empty()) return false;
    const double now = nowSeconds();
    if (!w.changed && !(w.activity && now - w.lastOffer >= 1.0)) return false;
    w.changed = false;
    w.activity = false;
    w.lastOffer = now;
    return true;
}

int kivTunWantedGet(uint32_t i, HwRouteTunNode* out) {
    Watch& w = watch();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (out == nullptr || i >= w.wanted.size()) return -1;
    *out = w.wanted[i].request;
    return 0;
}

bool simTunWatchTick(uint32_t unit, uint32_t* tick) {
    Watch& w = watch();
    std::lock_guard<std::mutex> lock(w.mutex);
    auto it = w.ifs.find(unit);
    if (it == w.ifs.end()) return false;
    *tick = it->second.tick;
    return true;
}

void simTunWatchReset() {
    Watch& w = watch();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.ifs.clear();
    w.wanted.clear();
    w.events.clear();
    w.changed = w.activity = false;
    w.lastOffer = -1e9;
}
