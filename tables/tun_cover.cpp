// Tunnels by far endpoint in address order, so that a destination finds the
// tunnels it covers with a binary search rather than a walk of the tunnel
// list on every route add and neighbour event.
//
// The order array holds element numbers of the tunnel pool, sorted by
// (family, endpoint); each element also keeps the sequence number of its
// table add, so the tunnels found are handed out newest first, the order of
// the tunnel list (whose adds insert at the front). Everything is sized from
// the pool at start-up; a tunnel add or delete moves the array's tail, which
// is fine for the rare tunnel events and keeps the per-route query at
// O(log T + tunnels found).
#include <algorithm>
#include <cstring>

#include "hwroute/hardware.h"
#include "hwroute/tables.h"
#include "side_index.h"

namespace {

struct TunCover {
    uint32_t* order = nullptr;  // element numbers by (family, endpoint)
    uint32_t* seq = nullptr;    // per element: the sequence number of its add
    HwRouteTunNode** found = nullptr;  // one query's matches
    uint32_t num = 0;
    uint32_t nextSeq = 0;
};

TunCover sCover;

const HwRouteTunNode* tunAt(uint32_t elem) { return static_cast<const HwRouteTunNode*>(ghwIndex.tun.recAt(elem)); }

uint32_t bytesOf(uint8_t family) { return family == HW_AF_INET ? 4 : 16; }

// Orders (family, address) pairs; IPv4 compares its first 4 bytes.
int compareKey(uint8_t fa, const uint8_t* a, uint8_t fb, const uint8_t* b) {
    if (fa != fb) return fa < fb ? -1 : 1;
    return std::memcmp(a, b, bytesOf(fa));
}

// First position whose key is not below (family, address).
uint32_t lowerBound(uint8_t family, const uint8_t* address) {
    uint32_t lo = 0, hi = sCover.num;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        const HwRouteTunNode* t = tunAt(sCover.order[mid]);
        if (compareKey(t->tunFamily, t->nextHopDst, family, address) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

}  // namespace

void hwTunCoverInit(HwAllocFn alloc) {
    sCover = TunCover{};
    const uint32_t count = ghwIndex.tun.count;
    if (count == 0) return;
    sCover.order = static_cast<uint32_t*>(alloc(count, sizeof(uint32_t)));
    sCover.seq = static_cast<uint32_t*>(alloc(count, sizeof(uint32_t)));
    sCover.found = static_cast<HwRouteTunNode**>(alloc(count, sizeof(HwRouteTunNode*)));
    if (sCover.order == nullptr || sCover.seq == nullptr || sCover.found == nullptr) {
        sCover = TunCover{};
        hwListInit(&ghwRoute.tunPool);  // no tunnels rather than tunnels nobody finds
    }
}

void hwTunCoverAdd(const HwRouteTunNode* tun) {
    const uint32_t e = ghwIndex.tun.elemOf(tun);
    if (e == HwSideIndex::kNotLinked || sCover.order == nullptr) return;
    const uint32_t at = lowerBound(tun->tunFamily, tun->nextHopDst);
    std::memmove(sCover.order + at + 1, sCover.order + at, (sCover.num - at) * sizeof(uint32_t));
    sCover.order[at] = e;
    sCover.num++;
    sCover.seq[e] = ++sCover.nextSeq;
}

void hwTunCoverRemove(const HwRouteTunNode* tun) {
    const uint32_t e = ghwIndex.tun.elemOf(tun);
    if (e == HwSideIndex::kNotLinked || sCover.order == nullptr) return;
    for (uint32_t at = lowerBound(tun->tunFamily, tun->nextHopDst); at < sCover.num; ++at) {
        if (sCover.order[at] != e) continue;
        std::memmove(sCover.order + at, sCover.order + at + 1, (sCover.num - at - 1) * sizeof(uint32_t));
        sCover.num--;
        return;
    }
}

uint32_t hwRouteTunCovered(uint8_t family, const uint8_t* low, const uint8_t* high, HwRouteTunNode* const** tunnels) {
    *tunnels = sCover.found;
    if (sCover.order == nullptr) return 0;
    uint32_t n = 0;
    for (uint32_t at = lowerBound(family, low); at < sCover.num; ++at) {
        const uint32_t e = sCover.order[at];
        const HwRouteTunNode* t = tunAt(e);
        if (compareKey(t->tunFamily, t->nextHopDst, family, high) > 0) break;
        sCover.found[n++] = static_cast<HwRouteTunNode*>(ghwIndex.tun.recAt(e));
    }
    std::sort(sCover.found, sCover.found + n, [](const HwRouteTunNode* a, const HwRouteTunNode* b) {
        return sCover.seq[ghwIndex.tun.elemOf(a)] > sCover.seq[ghwIndex.tun.elemOf(b)];
    });
    return n;
}

namespace {

constexpr uint16_t kDstRoute = 2;  // a tunnel routed through a covering destination

void attach(HwRouteTunNode* t, HwListLink* tunList, void* dest) {
    hwRouteTunBind(t, tunList, dest);
    hwUpdateTunAdd(t);
}

}  // namespace

// The range narrows the search; the covering rule (endpoint masked with the
// destination's mask is its address) still decides each tunnel.
void hwRouteTunAttach(HwRouteDest* dest) {
    if (dest == nullptr) return;
    const uint32_t last = dest->destIp | ~dest->mask;
    uint8_t low[4], high[4];
    for (int i = 0; i < 4; ++i) {
        low[i] = uint8_t(dest->destIp >> (24 - 8 * i));
        high[i] = uint8_t(last >> (24 - 8 * i));
    }
    HwRouteTunNode* const* tuns;
    const uint32_t n = hwRouteTunCovered(HW_AF_INET, low, high, &tuns);
    for (uint32_t i = 0; i < n; ++i) {
        HwRouteTunNode* t = tuns[i];
        const uint8_t* a = t->nextHopDst;
        const uint32_t endpoint = (uint32_t(a[0]) << 24) | (uint32_t(a[1]) << 16) | (uint32_t(a[2]) << 8) | a[3];
        if (t->dstType == kDstRoute && (endpoint & dest->mask) == dest->destIp) attach(t, &dest->tunList, dest);
    }
}

void hwRouteTunAttach(HwRoute6Dest* dest) {
    if (dest == nullptr) return;
    const uint32_t len = dest->prefixLen < 128 ? dest->prefixLen : 128;
    uint8_t low[16], high[16];
    for (uint32_t i = 0; i < 16; ++i) {
        const uint32_t bits = len > 8 * i ? len - 8 * i : 0;
        const uint8_t keep = bits >= 8 ? 0xFF : uint8_t(0xFF00 >> bits);
        low[i] = dest->destIpAddr[i] & keep;
        high[i] = uint8_t(dest->destIpAddr[i] | ~keep);
    }
    HwRouteTunNode* const* tuns;
    const uint32_t n = hwRouteTunCovered(HW_AF_INET6, low, high, &tuns);
    for (uint32_t i = 0; i < n; ++i) {
        HwRouteTunNode* t = tuns[i];
        if (t->dstType == kDstRoute && hwRouteIp6AddrMatch(dest->destIpAddr, t->nextHopDst, dest->prefixLen) == 0)
            attach(t, &dest->tunList, dest);
    }
}
