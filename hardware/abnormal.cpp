// The abnormal table (see hwroute/abnormal.h). Entries are tried again with
// a back-off of 1, 2, 4, ... up to HW_ABN_MAX_BACKOFF worker passes, without
// limit: the platform may refuse for a long while (a card being replaced).
#include "hwroute/abnormal.h"

#include <cstring>

#include "hwroute/debug.h"
#include "hwroute/global.h"
#include "hwroute/bewriter.h"

namespace {

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

struct Entry {
    HwAbnKey key;
    uint32_t due;      // pass of the next try
    uint32_t backoff;  // passes before the try after that
    uint32_t savedLen;
    uint8_t saved[HW_ABN_SAVED_MAX];
};

// Static: the core takes no memory after start-up.
Entry sEntries[HW_ABN_ENTRIES];
HwAbnRetryFn sHooks[HW_ABN_KINDS];
uint32_t sPass = 0;

bool sameKey(const HwAbnKey& a, const HwAbnKey& b) {
    return a.kind == b.kind && a.vrf == b.vrf && a.extra == b.extra && std::memcmp(a.addr, b.addr, 16) == 0 &&
           std::memcmp(a.more, b.more, sizeof a.more) == 0;
}

// The entry of `key`, or null. Only refusals and retries walk the table.
Entry* find(const HwAbnKey& key) {
    for (Entry& e : sEntries)
        if (e.key.kind != HW_ABN_NONE && sameKey(e.key, key)) return &e;
    return nullptr;
}

Entry* freeEntry() {
    for (Entry& e : sEntries)
        if (e.key.kind == HW_ABN_NONE) return &e;
    return nullptr;
}

void release(Entry& e) {
    e.key.kind = HW_ABN_NONE;
    ghwRoute.abnPendingCnt--;
}

// A hook may have forgotten its entry already (its rewrite was accepted):
// the entry is then released once, by that forget.
void tryEntry(Entry& e) {
    ghwRoute.abnRetriedCnt++;
    const HwAbnKey key = e.key;
    const HwAbnResult r = sHooks[key.kind](key, e.saved, e.savedLen);
    const bool still = e.key.kind != HW_ABN_NONE && sameKey(e.key, key);
    if (r == HwAbnResult::Recovered) {
        ghwRoute.abnRecoveredCnt++;
        if (still) release(e);
    } else if (r == HwAbnResult::Superseded) {
        ghwRoute.abnSupersededCnt++;
        if (still) release(e);
    } else if (still) {
        e.due = sPass + e.backoff;
        if (e.backoff < HW_ABN_MAX_BACKOFF) e.backoff *= 2;
    }
}

}  // namespace

void hwAbnormalRegister(uint8_t kind, HwAbnRetryFn retry) {
    if (kind != HW_ABN_NONE && kind < HW_ABN_KINDS) sHooks[kind] = retry;
}

bool hwAbnormalQueue(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
    if (key.kind == HW_ABN_NONE || key.kind >= HW_ABN_KINDS || sHooks[key.kind] == nullptr) return false;
    Entry* e = find(key);
    const bool made = e == nullptr;
    if (e == nullptr) {
        e = freeEntry();
        if (e == nullptr) {
            ghwRoute.abnFullCnt++;
            LOG("abnormal table full, refused write of kind %d not kept.", key.kind);
            return false;
        }
        e->key = key;
        e->savedLen = 0;
        ghwRoute.abnPendingCnt++;
        ghwRoute.abnQueuedCnt++;
    }
    e->due = sPass + 1;
    e->backoff = 2;
    // Bytes given replace the kept ones; a refusal without bytes keeps them.
    if (saved != nullptr && savedLen != 0 && savedLen <= HW_ABN_SAVED_MAX) {
        std::memcpy(e->saved, saved, savedLen);
        e->savedLen = savedLen;
    }
    return made;
}

bool hwAbnormalForget(const HwAbnKey& key, bool* hadSaved) {
    if (hadSaved != nullptr) *hadSaved = false;
    if (ghwRoute.abnPendingCnt == 0) return false;
    Entry* e = find(key);
    if (e == nullptr) return false;
    if (hadSaved != nullptr) *hadSaved = e->savedLen != 0;
    release(*e);
    return true;
}

void hwAbnormalRetry(void) {
    sPass++;
    if (ghwRoute.abnPendingCnt == 0) return;
    for (Entry& e : sEntries)
        if (e.key.kind != HW_ABN_NONE && int32_t(sPass - e.due) >= 0) tryEntry(e);
}

void hwAbnormalReset(void) {
    for (Entry& e : sEntries) e.key.kind = HW_ABN_NONE;
    ghwRoute.abnQueuedCnt = ghwRoute.abnRetriedCnt = ghwRoute.abnRecoveredCnt = 0;
    ghwRoute.abnSupersededCnt = ghwRoute.abnFullCnt = ghwRoute.abnPendingCnt = 0;
    sPass = 0;
}

HwAbnKey hwAbnRoute4Key(uint32_t vrf, uint32_t destIp, uint32_t mask) {
    HwAbnKey k{};
    k.kind = HW_ABN_ROUTE4;
    k.vrf = vrf;
    BeWriter(k.addr, 4).u32(destIp);
    k.extra = mask;
    return k;
}

HwAbnKey hwAbnArpKey(uint32_t vrf, uint32_t address) {
    HwAbnKey k{};
    k.kind = HW_ABN_ARP;
    k.vrf = vrf;
    BeWriter(k.addr, 4).u32(address);
    return k;
}

HwAbnKey hwAbnRoute6Key(uint32_t vrf, const uint8_t* destIpAddr, uint32_t prefixLen) {
    HwAbnKey k{};
    k.kind = HW_ABN_ROUTE6;
    k.vrf = vrf;
    std::memcpy(k.addr, destIpAddr, 16);
    k.extra = prefixLen;
    return k;
}

HwAbnKey hwAbnNd6Key(uint32_t vrf, const uint8_t* address) {
    HwAbnKey k{};
    k.kind = HW_ABN_ND6;
    k.vrf = vrf;
    std::memcpy(k.addr, address, 16);
    return k;
}
