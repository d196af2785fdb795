// Path lists and the best-set rule shared by the route entry build and the
// direct route updates. Lists are fixed arrays: nothing is allocated, and a
// full list refuses further members (the callers decide what a refused
// member means).
#pragma once

#include <cstdint>
#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/platform.h"
#include "hwroute/tables.h"
#include "layout.h"

template <class N, uint32_t Cap>
struct HwPathList {
    N* item[Cap];
    uint32_t num = 0;

    bool push(N* n) {
        if (num >= Cap) return false;
        item[num++] = n;
        return true;
    }
    N* first() const { return num != 0 ? item[0] : nullptr; }
    bool contains(const N* n) const {
        for (uint32_t i = 0; i < num; ++i)
            if (item[i] == n) return true;
        return false;
    }
    template <uint32_t C2>
    void append(const HwPathList<N, C2>& other) {
        for (uint32_t i = 0; i < other.num; ++i) push(other.item[i]);
    }
};

enum class HwOffer { Leader, Equal, Worse, Full };

// Best-set rule: a member better than the set's first replaces the whole set,
// an equal one joins it, a worse one is passed over. An empty set loses to
// anything. A full set refuses equal members (the set stays capped).
template <class N, uint32_t Cap, class Cmp>
HwOffer hwBestSetOffer(HwPathList<N, Cap>& set, N* n, Cmp cmp) {
    const int c = cmp(n, set.first());
    if (c > 0) {
        set.num = 0;
        set.push(n);
        return HwOffer::Leader;
    }
    if (c < 0) return HwOffer::Worse;
    return set.push(n) ? HwOffer::Equal : HwOffer::Full;
}

template <class N, uint32_t C1, uint32_t C2, class Cmp>
void hwBestSetOf(const HwPathList<N, C1>& from, HwPathList<N, C2>& to, Cmp cmp) {
    to.num = 0;
    for (uint32_t i = 0; i < from.num; ++i) hwBestSetOffer(to, from.item[i], cmp);
}

// The first `count` members of two sets are the same next hops in the same order.
template <class N, uint32_t Cap>
bool hwSamePaths(const HwPathList<N, Cap>& a, const HwPathList<N, Cap>& b, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (a.item[i] != b.item[i]) return false;
    return true;
}

// How many best paths a destination may hold in hardware. A start-up value
// below 1 would keep every route out of hardware for good, and one above the
// set size cannot be honoured, so it is held to 1..HW_MAX_SET.
inline uint32_t hwEcmpCap() {
    const int32_t v = ghwRoute.ecmpMaxNum;
    if (v < 1) return 1;
    if (uint32_t(v) > HW_MAX_SET) return HW_MAX_SET;
    return uint32_t(v);
}

inline uint32_t hwMin(uint32_t a, uint32_t b) { return a < b ? a : b; }

// The MAC address of an interface (SYS_IF_PHYADDR), zero when the platform
// has none.
inline void hwInterfaceMac(uint32_t ifUnit, uint8_t mac[6]) {
    uint8_t buf[32] = {};
    octet o{buf, sizeof(buf)};
    (void)sysIFGet(ifUnit, SYS_IF_PHYADDR, &o);
    std::memcpy(mac, buf, 6);
}

// The first neighbour record (any state) of a next hop's effective VRF and address.
inline HwArpNode* hwPathNeighbour(const HwRouteNexthop* nh) {
    uint32_t vrf = 0;
    if (!hwNexthopEffectiveVrf(nh, &vrf)) return nullptr;
    return hwArpFind(vrf, nh->nextHop);
}

// A path's record. An indirect path is written through the next hop that
// actually reaches it, found in its destination's VRF, and is left out when
// there is none. Returns the bytes written.
inline uint32_t hwWritePath(uint8_t* record, HwRouteNexthop* n, uint32_t operation) {
    if (!(n->flag & NH_INDIRECT)) return hwRouteNhopBufInsert(record, n, nullptr, operation);
    const uint32_t vrf = n->pDestEntry != nullptr ? n->pDestEntry->vrfId : n->nVrfId;
    HwRouteNexthop* real = hwRouteIndirectNhopLookup(vrf, n->nextHop);
    if (real == nullptr) return 0;
    return hwRouteNhopBufInsert(record, real, n, operation);
}

// Hardware per-protocol count of a path, when its (VRF, protocol) is counted.
inline void hwRouteProtoCount(const HwRouteDest* d, const HwRouteNexthop* n, int delta) {
    uint32_t* e = hwProtoStatsEntry(ghwRoute.hwRouteProtoStats, d->vrfId, n->protoId);
    if (e != nullptr) *e += uint32_t(delta);
}
inline void hwRoute6ProtoCount(const HwRoute6Dest* d, const HwRoute6Nexthop* n, int delta) {
    uint32_t* e = hwProtoStatsEntry(ghwRoute.hwRoute6ProtoStats, d->vrfId, n->protoId);
    if (e != nullptr) *e += uint32_t(delta);
}

// One IPv4 or IPv6 route request to the hardware.
inline int hwSendEntries(uint32_t objectId, uint8_t* buf, uint32_t len) {
    octet o{buf, len};
    HwScalarReq req{objectId, &o, 0, 1};
    return kivScalarSetApi(0, 0, &req);
}
