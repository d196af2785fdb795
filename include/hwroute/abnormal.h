// The abnormal table: hardware writes the platform refused outside the
// ready-list flush (direct route updates, neighbour host entries), kept so
// the hardware still ends equal to the software once the refusals stop.
//
// An entry names what was refused by key, never by record, so it outlives
// the record: each retry looks the object up again and rewrites it from the
// current software state (a retry never brings back what was deleted since).
// Each kind of object joins with one hook that does that re-evaluation.
#pragma once

#include <cstdint>

enum HwAbnKind : uint8_t {
    HW_ABN_NONE = 0,
    HW_ABN_ROUTE4 = 1,  // a destination: vrf, address (first 4 bytes), mask
    HW_ABN_ARP = 2,     // a neighbour host entry: vrf, address
    HW_ABN_ROUTE6 = 3,  // an IPv6 destination: vrf, address (16 bytes), prefix length
    HW_ABN_ND6 = 4,     // an IPv6 neighbour host entry: vrf, address (16 bytes)
    HW_ABN_ILM = 5,     // an incoming-label entry
    HW_ABN_L2VPN = 6,   // a layer-2 VPN entry
    HW_ABN_TUN = 7,     // a tunnel entry
    HW_ABN_KINDS = 8
};

struct HwAbnKey {
    uint8_t kind;
    uint32_t vrf;
    uint8_t addr[16];
    uint32_t extra;  // mask, prefix length, label: whatever else the kind needs
};

// What a retry found.
enum class HwAbnResult : uint8_t {
    Recovered,   // rewritten and accepted
    Superseded,  // nothing left to write: the object went, or a later write covered it
    Refused      // refused again: tried later
};

// A kind's hook. `saved` holds the bytes queued with the entry (may be empty).
using HwAbnRetryFn = HwAbnResult (*)(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);

// Bytes an entry can keep (a neighbour delete buffer).
constexpr uint32_t HW_ABN_SAVED_MAX = 100;
// Entries the table holds. Refusals are rare, so a fixed table is enough; a
// refusal that finds it full is counted in `full` and not kept.
constexpr uint32_t HW_ABN_ENTRIES = 1024;
// Longest wait between two tries of one entry, in worker passes.
constexpr uint32_t HW_ABN_MAX_BACKOFF = 32;

// Its counters are in the counter list (ghwRoute): abnQueuedCnt (refusals
// taken in), abnRetriedCnt (tries made), abnRecoveredCnt (rewrites accepted),
// abnSupersededCnt (entries dropped, nothing left to write), abnFullCnt
// (refusals not kept, the table was full) and abnPendingCnt (entries now).

void hwAbnormalRegister(uint8_t kind, HwAbnRetryFn retry);
// Keep (or refresh) the entry of `key`; a new refusal of a queued object
// resets its back-off and, when it brings bytes, replaces the saved ones.
// `queued` counts new entries only.
void hwAbnormalQueue(const HwAbnKey& key, const uint8_t* saved = nullptr, uint32_t savedLen = 0);
// Forget the entry of `key`, when there is one (a later write of the object
// was accepted). Not counted as superseded.
void hwAbnormalForget(const HwAbnKey& key);
// One worker pass: try the entries that are due.
void hwAbnormalRetry(void);
// Empty table, zero counters (start-up).
void hwAbnormalReset(void);

// Keys of the IPv4 kinds.
HwAbnKey hwAbnRoute4Key(uint32_t vrf, uint32_t destIp, uint32_t mask);
HwAbnKey hwAbnArpKey(uint32_t vrf, uint32_t address);
HwAbnKey hwAbnRoute6Key(uint32_t vrf, const uint8_t* destIpAddr, uint32_t prefixLen);
HwAbnKey hwAbnNd6Key(uint32_t vrf, const uint8_t* address);

// The hooks of the IPv4 kinds, registered at start-up.
HwAbnResult hwRouteAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwArpAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwRoute6AbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwNd6AbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
