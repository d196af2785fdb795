// The direct route update shared by the IPv4 and IPv6 families: one
// destination's best path set before and after a change of one path, sent at
// once in a call of its own. The family supplies the record types, the entry
// header, the object, the abnormal key, the path writer, its counters and its
// log lines:
//
//   struct F {
//       using Dest = ...; using Nexthop = ...; using Hdr = ...;
//       static constexpr uint32_t kHdrLen, kObject;
//       static constexpr auto compare, writePath, pack, translate, protoCount;
//       static HwAbnKey abnKey(const Dest*);
//       static Dest* lookup(const HwAbnKey&);
//       static constexpr HwUpdateCounters counters;
//       static constexpr HwUpdateTexts texts;
//       static void logEntry(HwUpdateKind, const Dest*, uint32_t flags, uint32_t records);
//   };
#pragma once

#include <cstdint>
#include <cstring>

#include "hwroute/abnormal.h"
#include "hwroute/debug.h"
#include "layout.h"
#include "route_paths.h"

// The four kinds of direct entry (a replacement logs and counts apart on an
// add and on a delete).
enum HwUpdateKind : uint32_t { HW_UPD_ECMP_ADD, HW_UPD_ECMP_DEL, HW_UPD_ADD, HW_UPD_DEL, HW_UPD_KINDS };
enum HwUpdateMove : uint32_t { HW_UPD_IN, HW_UPD_OUT };

using HwUpdateCounter = uint32_t HwRouteGlobal::*;

struct HwUpdateCounters {
    HwUpdateCounter ok, vpn, err, abnVpn;  // in hardware, labelled, refused, refused labelled
    HwUpdateCounter ecmpAdd, ecmpDel;      // equal-cost entries sent
    HwUpdateCounter delNodo;               // a delete the hardware need not see
    HwUpdateCounter settle[HW_UPD_KINDS][2];  // {into, out of} hardware per kind of entry
};

// A family's log lines per kind of entry. The entry lines' formats are the
// family's logEntry to fill (its arguments are the same for all four).
struct HwUpdateTexts {
    const char* entry[HW_UPD_KINDS];
    const char* error[HW_UPD_KINDS];
    const char* success[HW_UPD_KINDS];
};

#define HW_UPDATE_LOG(...)                                                                                 \
    do {                                                                                                   \
        if (hwRouteDebugOn(HW_DBG_MOD, HW_DBG_ROUTE)) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__); \
    } while (0)

template <class F>
struct HwDirectUpdate {
    using Nh = typename F::Nexthop;
    using Dest = typename F::Dest;
    using Set = HwPathList<Nh, HW_MAX_SET>;

    // The entry buffer. Two full path sets with three labels per path do not
    // fit 1024 bytes, so it is sized for that worst case; it is static (one per
    // family) because the worker task is the only caller and the core takes no
    // memory after start-up.
    static constexpr uint32_t kBufLen = F::kHdrLen + 2 * HW_MAX_SET * hwNhopRecLen(HW_MAX_LABELS);
    static inline uint8_t sEntry[kBufLen];

    static void count(HwUpdateCounter c) { ghwRoute.*c += 1; }
    static void uncount(HwUpdateCounter c) { ghwRoute.*c -= 1; }

    static bool labelled(const Nh* n) { return (n->flag & NH_OP_VPN_ADD) || n->mplsLabelNum != 0; }

    // The entry under construction: records after the header, and the paths
    // whose add or delete record actually went out. Only those are settled, so
    // a path whose record was left out (no neighbour) keeps the state the
    // hardware has.
    //
    // The header's nextHopNum is the number of records actually written, so the
    // entry always describes exactly what it carries (a member whose record
    // could not be made is left out of the count, never counted as a record).
    struct Entry {
        uint32_t len = F::kHdrLen;
        uint32_t records = 0;
        Set added;
        Set deleted;

        Entry() { std::memset(sEntry, 0, sizeof(sEntry)); }

        uint32_t write(Nh* n, uint32_t operation) {
            const uint32_t l = F::writePath(sEntry + len, n, operation);
            len += l;
            if (l == 0) return 0;
            records++;
            if (operation == HW_NHOP_OP_ADD) added.push(n);
            if (operation == HW_NHOP_OP_DEL) deleted.push(n);
            return l;
        }
        void header(const Dest* d, uint32_t flags) {
            typename F::Hdr hdr{};
            hdr.flags = flags;
            hdr.nextHopNum = uint8_t(records);
            hdr.size = uint8_t(len / 4);
            F::pack(sEntry, hdr);
            F::translate(sEntry, d);
        }
        // Nothing is sent for an entry without records. A refusal queues the
        // destination in the abnormal table.
        int send(const Dest* d) const {
            if (records == 0) return 0;
            if (hwSendEntries(F::kObject, sEntry, len) == 0) return 0;
            hwAbnormalQueue(F::abnKey(d));
            return -1;
        }
    };

    // Settlement helpers: a path that went into or out of hardware. The counts
    // move only when the flag really changes.
    static void markIn(const Dest* d, Nh* n, HwUpdateCounter counter) {
        count(counter);
        if (n->flag & NH_HW_OK) return;
        n->flag |= NH_HW_OK;
        count(F::counters.ok);
        F::protoCount(d, n, +1);
    }
    static void markOut(const Dest* d, Nh* n, HwUpdateCounter counter) {
        count(counter);
        if (!(n->flag & NH_HW_OK)) return;
        n->flag &= ~NH_HW_OK;
        uncount(F::counters.ok);
        F::protoCount(d, n, -1);
    }
    static void labelIn(Nh* n) {
        n->flag |= NH_VPN;
        count(F::counters.vpn);
    }
    static void labelOutIfSet(Nh* n) {
        if (!(n->flag & NH_VPN)) return;
        n->flag &= ~NH_VPN;
        uncount(F::counters.vpn);
    }
    // Operation bits cleared once a direct update carried a path's change. A
    // path the kernel deleted keeps NH_OP_DEL (and a path whose neighbour went
    // keeps NH_NEIGH_LOST): it is out of hardware now, but only the flush frees
    // it and releases its neighbour, and without the mark a later re-add of its
    // neighbour would queue it for hardware again.
    static void clearCarriedOps(Nh* m) { m->flag &= ~(NH_OP_MASK & ~(NH_OP_DEL | NH_NEIGH_LOST)); }

    static void countError(bool vpn) {
        count(F::counters.err);
        if (vpn) count(F::counters.abnVpn);
    }

    static void logResult(HwUpdateKind k, bool ok) { HW_UPDATE_LOG("%s", ok ? F::texts.success[k] : F::texts.error[k]); }

    // ---- the two sets -------------------------------------------------------
    //
    // The old set is what the hardware holds: the present paths (NH_HW_OK), all
    // of them. The new set is what it should hold: the best set of the resolved
    // paths that are not being deleted and have not lost their neighbour,
    // capped; on equal terms a present path keeps its place, so a full set is
    // not reshuffled by a newcomer. (Drawing the old set from the resolved paths
    // instead would take a path queued for its first add as present and
    // miss a present path that lost its resolution.)

    static bool leaving(const Nh* n) { return n->flag & (NH_OP_DEL | NH_NEIGH_LOST); }

    static bool eligible(const Nh* n, const Nh* without) {
        return n != without && (n->flag & NH_RESOLVED) && !leaving(n);
    }

    // The subject of an add whose label part is to be written again (the old
    // one was just taken out) is rewritten even though it is present: counted
    // in the old set, it would match the new one and nothing would go out.
    static bool labelPending(const Nh* n) { return (n->flag & NH_OP_VPN_ADD) && !(n->flag & NH_VPN); }

    // A present path that is leaving (other than the subject x) is left to the
    // flush, which has its destination queued and settles it in software too
    // (frees it, releases its held neighbour): a direct update neither deletes
    // nor keeps it.
    static void collectSets(Dest* d, const Nh* x, const Nh* without, Set& olds, Set& news) {
        Set wide;
        for (Nh* n : hwListOf<&Nh::destLink>(&d->nhopList)) {
            if ((n->flag & NH_HW_OK) && (n == x || !leaving(n)) && !(n == x && labelPending(n))) olds.push(n);
            if (eligible(n, without)) hwBestSetOffer(wide, n, F::compare);
        }
        const uint32_t cap = hwEcmpCap();
        for (uint32_t i = 0; i < wide.num && news.num < cap; ++i)
            if (wide.item[i]->flag & NH_HW_OK) news.push(wide.item[i]);
        for (uint32_t i = 0; i < wide.num && news.num < cap; ++i)
            if (!(wide.item[i]->flag & NH_HW_OK)) news.push(wide.item[i]);
    }

    static bool sameMembers(const Set& a, const Set& b) { return a.num == b.num && allIn(a, b); }

    static bool allIn(const Set& part, const Set& whole) {
        for (uint32_t i = 0; i < part.num; ++i)
            if (!whole.contains(part.item[i])) return false;
        return true;
    }

    // ---- the three kinds of entry ----------------------------------------------

    // The set widens: the new members are added, the present ones are left as
    // they are.
    static int ecmpAdd(Dest* d, const Set& olds, const Set& news) {
        count(F::counters.ecmpAdd);
        Entry e;
        for (uint32_t i = 0; i < news.num; ++i)
            if (!olds.contains(news.item[i])) e.write(news.item[i], HW_NHOP_OP_ADD);
        for (uint32_t i = 0; i < olds.num; ++i) e.write(olds.item[i], HW_NHOP_OP_NOCHANGE);
        const uint32_t flags = olds.num == 1 ? HW_HDR_MULTI_AFTER : HW_HDR_MULTI_AFTER | HW_HDR_MULTI_BEFORE;
        e.header(d, flags);
        F::logEntry(HW_UPD_ECMP_ADD, d, flags, e.records);
        if (e.send(d) != 0) {
            logResult(HW_UPD_ECMP_ADD, false);
            for (uint32_t i = 0; i < e.added.num; ++i) countError(e.added.item[i]->mplsLabelNum != 0);
            return -1;
        }
        logResult(HW_UPD_ECMP_ADD, true);
        for (uint32_t i = 0; i < e.added.num; ++i) {
            Nh* m = e.added.item[i];
            hwRouteClrAllOp(&m->flag);
            markIn(d, m, F::counters.settle[HW_UPD_ECMP_ADD][HW_UPD_IN]);
            if (m->mplsLabelNum != 0) labelIn(m);
        }
        return 0;
    }

    // One record of the equal-cost delete: every present path is listed, the
    // leaving ones with op delete and the others unchanged, protocol 0. Built
    // like any path record (a point-to-point member included), then marked.
    static uint32_t ecmpDelRecord(uint8_t* at, Nh* m, bool leaves) {
        const uint32_t l = F::writePath(at, m, leaves ? HW_NHOP_OP_DEL : HW_NHOP_OP_NOCHANGE);
        if (l == 0) return 0;
        BeWriter w(at, HW_NHOP_REC_LEN);
        w.at(HW_NH_FLAGS).u32((m->flag & NH_VPN) ? HW_NHF_PATH | HW_NHF_LABEL : HW_NHF_PATH);
        w.at(HW_NH_OP).u8(leaves ? HW_REC_OP_DEL : HW_REC_OP_NONE);
        w.at(HW_NH_PROTOCOL).u8(0);
        return l;
    }

    // The set narrows: present paths that are not in the new set leave.
    static int ecmpDel(Dest* d, const Set& olds, const Set& news) {
        count(F::counters.ecmpDel);
        Entry e;
        for (uint32_t i = 0; i < olds.num; ++i) {
            Nh* m = olds.item[i];
            const bool leaves = !news.contains(m);
            const uint32_t l = ecmpDelRecord(sEntry + e.len, m, leaves);
            if (l == 0) continue;
            e.len += l;
            e.records++;
            if (leaves) e.deleted.push(m);
        }
        const uint32_t flags = news.num == 1 ? HW_HDR_MULTI_BEFORE : HW_HDR_MULTI_BEFORE | HW_HDR_MULTI_AFTER;
        e.header(d, flags);
        F::logEntry(HW_UPD_ECMP_DEL, d, flags, e.records);
        if (e.send(d) != 0) {
            logResult(HW_UPD_ECMP_DEL, false);
            for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
            return -1;
        }
        logResult(HW_UPD_ECMP_DEL, true);
        for (uint32_t i = 0; i < e.deleted.num; ++i) {
            Nh* m = e.deleted.item[i];
            clearCarriedOps(m);
            markOut(d, m, F::counters.settle[HW_UPD_ECMP_DEL][HW_UPD_OUT]);
            labelOutIfSet(m);
        }
        return 0;
    }

    // Settles a replacement the platform took: the deleted paths went out and
    // the added ones in (a member of both was written again and stays).
    static void settleReplace(Dest* d, const Entry& e, HwUpdateKind k) {
        for (uint32_t i = 0; i < e.deleted.num; ++i) {
            Nh* m = e.deleted.item[i];
            if (e.added.contains(m)) continue;  // written again below
            if (!(m->flag & NH_OP_LABEL_CHANGE)) markOut(d, m, F::counters.settle[k][HW_UPD_OUT]);
            labelOutIfSet(m);
            clearCarriedOps(m);
        }
        for (uint32_t i = 0; i < e.added.num; ++i) {
            Nh* m = e.added.item[i];
            const bool vpn = labelled(m);
            if (!(m->flag & NH_OP_LABEL_CHANGE)) markIn(d, m, F::counters.settle[k][HW_UPD_IN]);
            if (vpn && !(m->flag & NH_VPN)) labelIn(m);
            hwRouteClrAllOp(&m->flag);
        }
    }

    // The old set is replaced by the new one: every present path is deleted and
    // every new member added (a member of both is deleted and written again,
    // which also refreshes its neighbour data).
    static int replace(Dest* d, const Set& olds, const Set& news, bool onAdd) {
        const HwUpdateKind k = onAdd ? HW_UPD_ADD : HW_UPD_DEL;
        Entry e;
        for (uint32_t i = 0; i < olds.num; ++i) e.write(olds.item[i], HW_NHOP_OP_DEL);
        for (uint32_t i = 0; i < news.num; ++i) e.write(news.item[i], HW_NHOP_OP_ADD);
        const uint32_t flags = onAdd && olds.num >= 2 ? HW_HDR_MULTI_BEFORE : 0;
        e.header(d, flags);
        F::logEntry(k, d, flags, e.records);
        if (e.send(d) != 0) {
            logResult(k, false);
            for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
            for (uint32_t i = 0; i < e.added.num; ++i) countError(labelled(e.added.item[i]));
            return -1;
        }
        logResult(k, true);
        settleReplace(d, e, k);
        return 0;
    }

    // Brings the hardware from the old set to the new one with the smallest
    // entry that does it. Returns -1 when the sets agree (nothing sent) or the
    // platform refused, 0 when an entry was accepted.
    static int sendChange(Dest* d, const Set& olds, const Set& news, bool onAdd) {
        HW_UPDATE_LOG("old best num %d, new best num %d", olds.num, news.num);
        if (sameMembers(olds, news)) {
            if (olds.num != 0) HW_UPDATE_LOG("two set of routes not changed,do nothing");
            return -1;
        }
        if (olds.num >= 1 && news.num >= 2 && allIn(olds, news)) return ecmpAdd(d, olds, news);
        if (olds.num >= 2 && news.num >= 1 && allIn(news, olds)) return ecmpDel(d, olds, news);
        return replace(d, olds, news, onAdd);
    }

    // ---- the family's public calls ---------------------------------------------

    // A destination refused earlier: its paths are written again as the
    // software has them now. The whole present set is replaced, so a path left
    // in hardware with stale neighbour data is refreshed too. A destination
    // still on the ready list is left to the flush first.
    static HwAbnResult retry(const HwAbnKey& key) {
        Dest* d = F::lookup(key);
        if (d == nullptr) return HwAbnResult::Superseded;
        if (d->readyState) return HwAbnResult::Refused;
        Set olds, news;
        collectSets(d, nullptr, nullptr, olds, news);
        if (olds.num == 0 && news.num == 0) return HwAbnResult::Superseded;
        return replace(d, olds, news, false) == 0 ? HwAbnResult::Recovered : HwAbnResult::Refused;
    }

    static void add(Nh* x) {
        if (x == nullptr || x->pDestEntry == nullptr) return;
        Dest* d = x->pDestEntry;
        Set olds, news;
        collectSets(d, x, nullptr, olds, news);
        (void)sendChange(d, olds, news, true);
    }

    static int del(Nh* x) {
        if (x == nullptr || x->pDestEntry == nullptr) return -1;
        Dest* d = x->pDestEntry;
        Set olds, news;
        collectSets(d, x, x, olds, news);
        if (olds.num == 1 && news.num == 0 && olds.item[0] == x && (x->flag & NH_OP_CHANGE)) {
            count(F::counters.delNodo);  // the only path is re-weighted: hardware keeps it
            return 1;
        }
        if (olds.num == 0) return news.num == 0 ? -1 : 0;
        return sendChange(d, olds, news, false) == 0 ? 0 : -1;
    }

    static bool settled(Dest* d) {
        if (d == nullptr) return true;
        for (Nh* n : hwListOf<&Nh::destLink>(&d->nhopList))
            if (n->flag & (NH_OP_MASK | NH_OP_HW_DEL)) return false;
        Set olds, news;
        collectSets(d, nullptr, nullptr, olds, news);
        return sameMembers(olds, news);
    }
};

#undef HW_UPDATE_LOG
