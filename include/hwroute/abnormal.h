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
    HW_ABN_ILM = 5,     // an incoming-label entry: next hop and the two labels (addr)
    HW_ABN_L2VPN = 6,   // a layer-2 VPN entry: remote edge (addr), vfi/type/family, labels, CE side
    HW_ABN_TUN = 7,     // a tunnel entry: dest (addr), mask, endpoints and the rest of its identity
    HW_ABN_KINDS = 8
};

struct HwAbnKey {
    uint8_t kind;
    uint32_t vrf;
    uint8_t addr[16];
    uint32_t extra;  // mask, prefix length, label: whatever else the kind needs
    uint8_t more[40];  // further identity bytes of the kinds whose key is long (layer-2 VPN, tunnel)
};

// What a retry found.
enum class HwAbnResult : uint8_t {
    Recovered,   // rewritten and accepted
    Superseded,  // nothing left to write: the object went, or a later write covered it
    Refused      // refused again: tried later
};

// A kind's hook. `saved` holds the bytes queued with the entry (may be empty).
using HwAbnRetryFn = HwAbnResult (*)(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);

// Bytes an entry can keep: the longest delete kept is an ILM record with
// three labels (108); layer-2 VPN records take 56, tunnel entries 92 or 100.
constexpr uint32_t HW_ABN_SAVED_MAX = 108;
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
// `queued` counts new entries only. True when a new entry was made.
bool hwAbnormalQueue(const HwAbnKey& key, const uint8_t* saved = nullptr, uint32_t savedLen = 0);
// Forget the entry of `key`, when there is one (a later write of the object
// was accepted). Not counted as superseded. True when there was one;
// `hadSaved` (when given) tells whether it kept bytes. A hook may forget its
// own entry while it runs.
bool hwAbnormalForget(const HwAbnKey& key, bool* hadSaved = nullptr);
// One worker pass: try the entries that are due.
void hwAbnormalRetry(void);
// Empty table, zero counters (start-up).
void hwAbnormalReset(void);

// Keys of the IPv4 kinds.
HwAbnKey hwAbnRoute4Key(uint32_t vrf, uint32_t destIp, uint32_t mask);
HwAbnKey hwAbnArpKey(uint32_t vrf, uint32_t address);
HwAbnKey hwAbnRoute6Key(uint32_t vrf, const uint8_t* destIpAddr, uint32_t prefixLen);
HwAbnKey hwAbnNd6Key(uint32_t vrf, const uint8_t* address);

struct HwRouteIlmNode;
struct HwRouteL2vpnNode;
struct HwRouteTunNode;
// Keys of the ILM, layer-2 VPN and tunnel kinds: the fields their tables'
// lookups compare, so a retry finds the entry again (or learns it is gone).
HwAbnKey hwAbnIlmKey(const HwRouteIlmNode* ilm);
HwAbnKey hwAbnL2vpnKey(const HwRouteL2vpnNode* e);
HwAbnKey hwAbnTunKey(const HwRouteTunNode* tun);

// The hooks, registered at start-up.
HwAbnResult hwRouteAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwArpAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwRoute6AbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwNd6AbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwIlmAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwL2vpnAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
HwAbnResult hwTunAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen);
