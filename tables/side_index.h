// Side indexes beside the bucket lists: an open-addressing table of keys
// whose slots name the first record of a chain of records with that key,
// and chain links kept in arrays parallel to the record pool (indexed by
// element number), so that no record grows. Everything is sized from the
// pool at start-up and never reallocated; the slot table has more slots than
// the pool has elements, so it can never fill and never needs a rehash.
//
// A chain keeps the records of one key in the order the bucket list holds
// them: records linked at the front of their bucket are linked at the front
// of their chain, records appended behind their equals at its back.
//
// A family supplies Rec (the record type), Key, keyOf(rec), hash(key) and
// eq(a, b). Families that share one index (IPv4 and IPv6 records of one
// pool) put a different tag in the lowest hash bit, so their keys never meet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwroute/flags.h"
#include "hwroute/global.h"

struct HwSideSlot {
    uint32_t front;  // element number + 1 of the chain's first record; 0: free slot
    uint32_t hash;
};

struct HwSideIndex {
    unsigned char* base = nullptr;  // the pool's block
    uint32_t size = 0;              // element size
    uint32_t count = 0;             // elements
    uint32_t* next = nullptr;       // per element: successor + 1 in its chain, 0 at the end
    uint32_t* prev = nullptr;       // per element: predecessor + 1, 0 at the front, kNotLinked outside
    HwSideSlot* slots = nullptr;
    uint32_t mask = 0;  // slot count - 1

    static constexpr uint32_t kNotLinked = 0xFFFFFFFFu;

    // Element number of a record of the pool, or kNotLinked for anything else.
    uint32_t elemOf(const void* rec) const {
        const auto p = reinterpret_cast<std::uintptr_t>(rec), b = reinterpret_cast<std::uintptr_t>(base);
        if (base == nullptr || p < b) return kNotLinked;
        const std::size_t off = static_cast<std::size_t>(p - b);
        if (off % size != 0 || off / size >= count) return kNotLinked;
        return static_cast<uint32_t>(off / size);
    }
    void* recAt(uint32_t elem) const { return base + static_cast<std::size_t>(elem) * size; }
    bool linked(uint32_t elem) const { return prev[elem] != kNotLinked; }
    // Home slot of a hash; its lowest bit is the family tag, left out here.
    uint32_t home(uint32_t h) const { return (h >> 1) & mask; }

    // Slot holding `key`, or the free slot where it would go (slots[i].front == 0).
    template <class F>
    uint32_t probe(const typename F::Key& key, uint32_t h) const {
        for (uint32_t i = home(h);; i = (i + 1) & mask) {
            const HwSideSlot& s = slots[i];
            if (s.front == 0) return i;
            if (s.hash == h && F::eq(F::keyOf(static_cast<const typename F::Rec*>(recAt(s.front - 1))), key)) return i;
        }
    }

    template <class F>
    typename F::Rec* first(const typename F::Key& key) const {
        if (slots == nullptr) return nullptr;
        const HwSideSlot& s = slots[probe<F>(key, F::hash(key))];
        return s.front == 0 ? nullptr : static_cast<typename F::Rec*>(recAt(s.front - 1));
    }

    template <class F>
    typename F::Rec* after(const typename F::Rec* rec) const {
        const uint32_t e = elemOf(rec);
        if (e == kNotLinked || !linked(e) || next[e] == 0) return nullptr;
        return static_cast<typename F::Rec*>(recAt(next[e] - 1));
    }

    // Link a record into the chain of its key, at the front or the back.
    template <class F>
    void add(const typename F::Rec* rec, bool atFront) {
        const uint32_t e = elemOf(rec);
        if (e == kNotLinked || slots == nullptr) return;
        if (linked(e)) remove<F>(rec);
        const typename F::Key key = F::keyOf(rec);
        const uint32_t h = F::hash(key);
        HwSideSlot& s = slots[probe<F>(key, h)];
        if (s.front == 0) {
            s = {e + 1, h};
            next[e] = prev[e] = 0;
        } else if (atFront) {
            next[e] = s.front;
            prev[e] = 0;
            prev[s.front - 1] = e + 1;
            s.front = e + 1;
        } else {
            uint32_t tail = s.front - 1;
            while (next[tail] != 0) tail = next[tail] - 1;
            next[tail] = e + 1;
            prev[e] = tail + 1;
            next[e] = 0;
        }
    }

    template <class F>
    void remove(const typename F::Rec* rec) {
        const uint32_t e = elemOf(rec);
        if (e == kNotLinked || slots == nullptr || !linked(e)) return;
        const uint32_t p = prev[e], n = next[e];
        if (n != 0) prev[n - 1] = p;
        if (p != 0) {
            next[p - 1] = n;
        } else {
            const typename F::Key key = F::keyOf(rec);
            const uint32_t i = probe<F>(key, F::hash(key));
            if (n != 0)
                slots[i].front = n;
            else
                freeSlot(i);
        }
        prev[e] = kNotLinked;
        next[e] = 0;
    }

    // Linear-probing delete: move later entries of the probe run back so
    // that no lookup stops early at the hole.
    void freeSlot(uint32_t i) {
        for (uint32_t j = (i + 1) & mask; slots[j].front != 0; j = (j + 1) & mask) {
            const uint32_t from = home(slots[j].hash);
            // The entry at j may fill the hole at i unless its home lies cyclically in (i, j].
            const bool homeBetween = i <= j ? (from > i && from <= j) : (from > i || from <= j);
            if (homeBetween) continue;
            slots[i] = slots[j];
            i = j;
        }
        slots[i] = {0, 0};
    }
};

// Hash mixing shared by the families (a 32-bit finaliser over each word).
inline uint32_t hwSideMix(uint32_t h, uint32_t word) {
    h ^= word + 0x9E3779B9u + (h << 6) + (h >> 2);
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

inline uint32_t hwSideMixBytes16(uint32_t h, const uint8_t* a) {
    for (int i = 0; i < 16; i += 4)
        h = hwSideMix(h, (uint32_t(a[i]) << 24) | (uint32_t(a[i + 1]) << 16) | (uint32_t(a[i + 2]) << 8) | a[i + 3]);
    return h;
}

// ---- Ordered groups -----------------------------------------------------------
//
// A list kept in descending key order, equal keys in arrival order, and the
// place a new record goes found without walking it. `members` chains the
// records of each key newest first, so a chain's front is its group's last
// record in the list: a record with a known key goes right behind it. For a
// new key, a treap over one record per group (priority from the key's hash,
// children as element numbers + 1 in arrays beside the pool) finds the group
// with the next greater key in O(log groups); the new record goes behind
// that group's last record, or at the front when there is none. The list
// stays the one order that walks see; this only says where to link.
struct HwOrderedGroups {
    HwSideIndex members;
    uint32_t* left = nullptr;   // per element: treap children; left kNotLinked: not the
    uint32_t* right = nullptr;  // tree node of its group
    uint32_t root = 0;

    template <class F>
    typename F::Rec* recAt(uint32_t e) const {
        return static_cast<typename F::Rec*>(members.recAt(e));
    }
    template <class F>
    uint32_t keyAt(uint32_t e) const {
        return F::keyOf(recAt<F>(e));
    }
    template <class F>
    uint32_t prio(uint32_t e) const {
        return hwSideMix(0x5EEDu, keyAt<F>(e));
    }
    bool linked(const void* rec) const {
        const uint32_t e = members.elemOf(rec);
        return e != HwSideIndex::kNotLinked && members.linked(e);
    }

    // The record a new record with `key` goes behind; null: the list's front.
    template <class F>
    typename F::Rec* placeOf(uint32_t key) const {
        if (typename F::Rec* tail = members.first<F>(key)) return tail;
        uint32_t best = 0;
        for (uint32_t s = root; s != 0;) {
            const uint32_t e = s - 1;
            if (keyAt<F>(e) > key) {
                best = s;
                s = left[e];
            } else {
                s = right[e];
            }
        }
        return best == 0 ? nullptr : members.first<F>(keyAt<F>(best - 1));
    }

    // Record linking into the list; call after it is linked there.
    template <class F>
    void add(const typename F::Rec* rec) {
        const uint32_t e = members.elemOf(rec);
        if (e == HwSideIndex::kNotLinked || left == nullptr) return;
        const bool newGroup = members.first<F>(F::keyOf(rec)) == nullptr;
        members.add<F>(rec, true);
        if (newGroup) insertAt<F>(&root, e);
    }

    template <class F>
    void remove(const typename F::Rec* rec) {
        const uint32_t e = members.elemOf(rec);
        if (e == HwSideIndex::kNotLinked || left == nullptr || !members.linked(e)) return;
        members.remove<F>(rec);
        if (left[e] == HwSideIndex::kNotLinked) return;
        uint32_t* s = slotOf<F>(F::keyOf(rec));
        if (const typename F::Rec* heir = members.first<F>(F::keyOf(rec))) {
            const uint32_t h = members.elemOf(heir);  // the group stays: another record stands for it
            left[h] = left[e];
            right[h] = right[e];
            *s = h + 1;
        } else {
            eraseAt<F>(s);
        }
        left[e] = HwSideIndex::kNotLinked;
        right[e] = 0;
    }

private:
    template <class F>
    uint32_t* slotOf(uint32_t key) {
        uint32_t* s = &root;
        while (*s != 0 && keyAt<F>(*s - 1) != key) s = key < keyAt<F>(*s - 1) ? &left[*s - 1] : &right[*s - 1];
        return s;
    }
    void rotateRight(uint32_t* s) {
        const uint32_t n = *s - 1, l = left[n] - 1;
        left[n] = right[l];
        right[l] = n + 1;
        *s = l + 1;
    }
    void rotateLeft(uint32_t* s) {
        const uint32_t n = *s - 1, r = right[n] - 1;
        right[n] = left[r];
        left[r] = n + 1;
        *s = r + 1;
    }
    template <class F>
    void insertAt(uint32_t* s, uint32_t e) {
        if (*s == 0) {
            *s = e + 1;
            left[e] = right[e] = 0;
            return;
        }
        const uint32_t n = *s - 1;
        if (keyAt<F>(e) < keyAt<F>(n)) {
            insertAt<F>(&left[n], e);
            if (prio<F>(left[n] - 1) > prio<F>(n)) rotateRight(s);
        } else {
            insertAt<F>(&right[n], e);
            if (prio<F>(right[n] - 1) > prio<F>(n)) rotateLeft(s);
        }
    }
    // Rotate the node at *s down to a leaf, then drop it.
    template <class F>
    void eraseAt(uint32_t* s) {
        for (;;) {
            const uint32_t n = *s - 1, l = left[n], r = right[n];
            if (l == 0 && r == 0) {
                *s = 0;
                return;
            }
            if (r == 0 || (l != 0 && prio<F>(l - 1) > prio<F>(r - 1))) {
                rotateRight(s);
                s = &right[*s - 1];
            } else {
                rotateLeft(s);
                s = &left[*s - 1];
            }
        }
    }
};

// The indexes of the daemon's tables, built by hwTableIndexInit.
struct HwTableIndexes {
    HwSideIndex dest;     // destinations (IPv4 and IPv6) by (VRF, prefix, length)
    HwSideIndex nexthop;  // next hops (IPv4 and IPv6) by gateway address, next-hop bucket order
    HwSideIndex pend;     // pending next hops by gateway address, pending bucket order
    HwSideIndex arp;      // ARP records by (VRF, address)
    HwSideIndex nd6;      // ND records by (VRF, address)
    HwSideIndex ilm;          // ILM entries by (next hop, incoming label, outgoing label)
    HwOrderedGroups ilmList;  // where an entry goes in the ILM table
    HwOrderedGroups ilmPend;  // where an entry goes on the ILM pend list
    HwSideIndex tun;          // tunnels by (family, far endpoint), tunnel list order
    HwSideIndex tunKey;       // tunnels by the tunnel table's key
    HwSideIndex l2vpn;        // layer-2 VPN entries by the table's key
    HwSideIndex l2vpnTo;      // layer-2 VPN entries by (family, next hop), table order
    HwSideIndex l2vpnOn;      // layer-2 VPN entries by public next hop, table order
};
extern HwTableIndexes ghwIndex;

// Tunnels by far endpoint in address order (tun_cover.cpp), built after the
// tunnel index and kept by the tunnel table's add and delete.
void hwTunCoverInit(HwAllocFn alloc);
void hwTunCoverAdd(const HwRouteTunNode* tun);
void hwTunCoverRemove(const HwRouteTunNode* tun);

// ---- Families ---------------------------------------------------------------

#include <cstring>

// Destinations: the key of the destination lookups, (vrfId, destIp, mask)
// and (vrfId, 16 address bytes, prefixLen).
struct HwDest4Family {
    using Rec = HwRouteDest;
    struct Key {
        uint32_t vrf, ip, mask;
    };
    static Key keyOf(const Rec* r) { return {r->vrfId, r->destIp, r->mask}; }
    static uint32_t hash(const Key& k) { return hwSideMix(hwSideMix(hwSideMix(1, k.vrf), k.ip), k.mask) & ~1u; }
    static bool eq(const Key& a, const Key& b) { return a.ip == b.ip && a.mask == b.mask && a.vrf == b.vrf; }
};

struct HwDest6Family {
    using Rec = HwRoute6Dest;
    struct Key {
        uint32_t vrf;
        const uint8_t* addr;
        uint8_t len;
    };
    static Key keyOf(const Rec* r) { return {r->vrfId, r->destIpAddr, r->prefixLen}; }
    static uint32_t hash(const Key& k) { return hwSideMix(hwSideMixBytes16(hwSideMix(2, k.vrf), k.addr), k.len) | 1u; }
    static bool eq(const Key& a, const Key& b) {
        return a.len == b.len && a.vrf == b.vrf && std::memcmp(a.addr, b.addr, 16) == 0;
    }
};

// Next hops by gateway address alone: the VRF a path is matched in may
// follow its public route, so only the address is fixed while it is linked.
struct HwNexthop4AtFamily {
    using Rec = HwRouteNexthop;
    using Key = uint32_t;
    static Key keyOf(const Rec* r) { return r->nextHop; }
    static uint32_t hash(Key k) { return hwSideMix(3, k) & ~1u; }
    static bool eq(Key a, Key b) { return a == b; }
};

struct HwNexthop6AtFamily {
    using Rec = HwRoute6Nexthop;
    using Key = const uint8_t*;
    static Key keyOf(const Rec* r) { return r->nextHop; }
    static uint32_t hash(Key k) { return hwSideMixBytes16(4, k) | 1u; }
    static bool eq(Key a, Key b) { return std::memcmp(a, b, 16) == 0; }
};

// Neighbours: (vpnVrfid, address).
struct HwArpFamily {
    using Rec = HwArpNode;
    struct Key {
        uint32_t vrf, address;
    };
    static Key keyOf(const Rec* r) { return {r->vpnVrfid, r->nextHop}; }
    static uint32_t hash(const Key& k) { return hwSideMix(hwSideMix(5, k.vrf), k.address); }
    static bool eq(const Key& a, const Key& b) { return a.address == b.address && a.vrf == b.vrf; }
};

struct HwNd6Family {
    using Rec = HwNd6Node;
    struct Key {
        uint32_t vrf;
        const uint8_t* address;
    };
    static Key keyOf(const Rec* r) { return {r->vpnVrfid, r->nextHop}; }
    static uint32_t hash(const Key& k) { return hwSideMixBytes16(hwSideMix(6, k.vrf), k.address); }
    static bool eq(const Key& a, const Key& b) { return a.vrf == b.vrf && std::memcmp(a.address, b.address, 16) == 0; }
};

// ILM entries: the table's lookup key (labels without EXP, bottom and TTL
// bits), and the next hop both ILM lists are ordered by.
struct HwIlmKeyFamily {
    using Rec = HwRouteIlmNode;
    struct Key {
        uint32_t nextHop, inLabel, outLabel;
    };
    static Key keyOf(const Rec* r) { return {r->nextHop, r->swapLabel >> 12, r->mplsLabel >> 12}; }
    static uint32_t hash(const Key& k) { return hwSideMix(hwSideMix(hwSideMix(7, k.nextHop), k.inLabel), k.outLabel); }
    static bool eq(const Key& a, const Key& b) {
        return a.nextHop == b.nextHop && a.inLabel == b.inLabel && a.outLabel == b.outLabel;
    }
};

struct HwIlmAtFamily {
    using Rec = HwRouteIlmNode;
    using Key = uint32_t;
    static Key keyOf(const Rec* r) { return r->nextHop; }
    static uint32_t hash(Key k) { return hwSideMix(8, k); }
    static bool eq(Key a, Key b) { return a == b; }
};

// Records by far endpoint (a tunnel's, a layer-2 VPN entry's next hop):
// IPv4 addresses are the first 4 bytes.
template <class R, uint8_t R::*Family, uint8_t (R::*Address)[16], uint32_t Tag>
struct HwEndpointFamily {
    using Rec = R;
    struct Key {
        uint8_t family;
        const uint8_t* address;
    };
    static Key keyOf(const Rec* r) { return {r->*Family, r->*Address}; }
    static uint32_t bytes(uint8_t family) { return family == HW_AF_INET ? 4 : 16; }
    static uint32_t hash(const Key& k) {
        uint8_t a[16] = {};
        std::memcpy(a, k.address, bytes(k.family));
        return hwSideMixBytes16(hwSideMix(Tag, k.family), a);
    }
    static bool eq(const Key& a, const Key& b) {
        return a.family == b.family && std::memcmp(a.address, b.address, bytes(a.family)) == 0;
    }
};
using HwTunToFamily = HwEndpointFamily<HwRouteTunNode, &HwRouteTunNode::tunFamily, &HwRouteTunNode::nextHopDst, 9>;
using HwL2vpnToFamily =
    HwEndpointFamily<HwRouteL2vpnNode, &HwRouteL2vpnNode::family, &HwRouteL2vpnNode::nexthopIp, 10>;

// Records by the fields their table's lookup compares (tunnels, layer-2 VPN
// entries): a record or a request stands for its own key. Each record type
// defines hash and eq beside its table.
template <class R>
struct HwOwnKeyFamily {
    using Rec = R;
    using Key = const R*;
    static Key keyOf(const Rec* r) { return r; }
    static uint32_t hash(Key k);
    static bool eq(Key a, Key b);
};
using HwTunKeyFamily = HwOwnKeyFamily<HwRouteTunNode>;
using HwL2vpnKeyFamily = HwOwnKeyFamily<HwRouteL2vpnNode>;

// Layer-2 VPN entries by the public next hop they hold (fixed while linked).
struct HwL2vpnOnFamily {
    using Rec = HwRouteL2vpnNode;
    using Key = const void*;
    static Key keyOf(const Rec* r) { return r->publicNexthop; }
    static uint32_t hash(Key k) {
        const auto p = static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(k));
        return hwSideMix(hwSideMix(12, uint32_t(p)), uint32_t(p >> 32));
    }
    static bool eq(Key a, Key b) { return a == b; }
};
