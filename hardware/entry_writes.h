// Entries with writers of their own (ILM, layer-2 VPN, tunnel entries): what
// an answer of the platform does to the entry's status, its counts and the
// abnormal table, once for the three kinds.
//
// A kind K gives:
//   using Node;                                  the record
//   static HwAbnKey key(const Node*);            its abnormal key
//   static Node* lookup(const HwAbnKey&);        the record of a key, or null
//   static void add(Node*); static int del(Node*);   its writers
//   static int resend(const HwAbnKey&, uint8_t* bytes, uint32_t len);  a kept delete
//   static constexpr uint32_t HwRouteGlobal::*ok, *err;   its counts (null: none)
//
// Status moves (writers):
//   add     2, 4, 5 -> platform add: 1 accepted / 4 refused. A refused delete
//                      (5) left the old entry, perhaps with an old MAC, in
//                      hardware: the add rewrites it (a deliberate departure
//                      from taking it back to 1 without a call).
//   delete  1, 5    -> platform delete: 2 accepted / 5 refused, the delete
//                      bytes kept with the abnormal entry
//   delete  4       -> 2, no call
//
// Counts: `ok` is the number of entries the hardware holds: raised by an
// accepted add unless the entry was there already (status 5, or a kept
// delete not sent yet), lowered by an accepted delete, by the retry that
// finally sends a kept delete, and by the card-up replay (the new card holds
// none until rewritten). `err` is the number of the kind's refused writes
// waiting in the abnormal table.
#pragma once

#include <cstring>

#include "hwroute/abnormal.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"

template <class K>
struct HwEntryWrites {
    using Node = typename K::Node;

    static void count(uint32_t HwRouteGlobal::*c, int by) {
        if (c != nullptr) ghwRoute.*c += uint32_t(by);
    }
    static void forget(const HwAbnKey& key, bool* kept = nullptr) {
        if (hwAbnormalForget(key, kept)) count(K::err, -1);
    }
    static void queue(const HwAbnKey& key, const uint8_t* bytes = nullptr, uint32_t len = 0) {
        if (hwAbnormalQueue(key, bytes, len)) count(K::err, +1);
    }

    // Stored (2), refused (4) or whose delete was refused (5).
    static bool addable(const Node* n) {
        return n->status == hwStatusIdle || n->status == hwStatusAddAbnormal || n->status == hwStatusDelAbnormal;
    }

    static void addDone(Node* n, bool accepted) {
        const HwAbnKey key = K::key(n);
        if (!accepted) {
            n->status = hwStatusAddAbnormal;
            return queue(key);
        }
        bool kept = false;
        forget(key, &kept);
        if (n->status != hwStatusDelAbnormal && !kept) count(K::ok, +1);
        n->status = hwStatusOk;
    }

    static void delDone(Node* n, bool accepted, const uint8_t* bytes, uint32_t len) {
        const HwAbnKey key = K::key(n);
        if (!accepted) {
            n->status = hwStatusDelAbnormal;
            return queue(key, bytes, len);
        }
        forget(key);
        n->status = hwStatusIdle;
        count(K::ok, -1);
    }

    // Card-up: an entry in hardware is written again to the new card.
    static void replay(Node* n) {
        if (n->status != hwStatusOk) return;
        n->status = hwStatusIdle;
        count(K::ok, -1);
        K::add(n);
    }

    // The hook, from the current software state: a record still refused is
    // written again, one whose delete was refused is deleted again; one in
    // hardware (rewritten since) or a refused add whose record went leaves
    // nothing to do; otherwise (record gone, stored, or waiting for its
    // neighbour) the kept delete goes out again.
    static HwAbnResult retry(const HwAbnKey& key, const uint8_t* saved, uint32_t len) {
        Node* n = K::lookup(key);
        if (n != nullptr && n->status == hwStatusAddAbnormal) {
            K::add(n);
            return n->status == hwStatusOk ? HwAbnResult::Recovered : HwAbnResult::Refused;
        }
        if (n != nullptr && n->status == hwStatusDelAbnormal) {
            K::del(n);
            return n->status == hwStatusIdle ? HwAbnResult::Recovered : HwAbnResult::Refused;
        }
        if ((n != nullptr && n->status == hwStatusOk) || len == 0) {
            forget(key);
            return HwAbnResult::Superseded;
        }
        uint8_t bytes[HW_ABN_SAVED_MAX];
        std::memcpy(bytes, saved, len);
        if (K::resend(key, bytes, len) != 0) return HwAbnResult::Refused;
        count(K::ok, -1);
        forget(key);
        return HwAbnResult::Recovered;
    }
};
