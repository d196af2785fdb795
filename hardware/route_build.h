// The route entry build shared by the IPv4 and IPv6 families: the sort of a
// destination's next hops into the removal, kept, add and idle groups, the
// choice of the lists to delete, add, keep and back up, the header flags,
// the records in their order, and the standby marks. The family supplies
// the record types, the comparison and the writer of one path record:
//
//   struct F {
//       using Dest = ...; using Nexthop = ...;
//       static int compare(const Nexthop*, const Nexthop*);
//       static uint32_t writePath(uint8_t* record, Nexthop* n, uint32_t operation);
//       static void deferred();        // a delete left for a later batch
//       static void logGroups(uint32_t removal, uint32_t kept, uint32_t add, uint32_t idle);
//       static constexpr uint32_t kHdrLen;   // the entry header
//       static void logLists(uint32_t del, uint32_t add, uint32_t keep, uint32_t backup);
//       static void header(uint8_t* entry, const Dest*, uint32_t flags, uint32_t records, uint32_t length);
//   };
#pragma once

#include <cstdint>

#include "layout.h"
#include "route_paths.h"

// ---- path comparison (hwRouteCompare, hwRoute6Compare) -------------------

// Protocol 3 carries its preference in the weight; every other protocol's
// preference is the platform's (0 when it has none).
template <class N>
uint32_t hwProtoPreference(const N* n) {
    if (n->protoId == HW_PROTO_BOOT) return n->weight;
    uint32_t pref = 0;
    if (kivScalarGetApi(n->protoId, HW_ATTR_PROTO_PREF, &pref) != 0) pref = 0;
    return pref;
}

// Greater than 0 when `a` is the better path, 0 when equal, below 0 when worse.
template <class N>
int hwPathCompare(const N* a, const N* b) {
    auto better = [](bool aWins) { return aWins ? 1 : -1; };
    if (b == nullptr) return 1;
    if (a == nullptr) return -1;
    // 1. The interface state: the larger wins.
    if (a->ifState != b->ifState) return better(a->ifState > b->ifState);
    // 2. A pending label addition wins.
    const bool aVpn = a->flag & NH_OP_VPN_ADD, bVpn = b->flag & NH_OP_VPN_ADD;
    if (aVpn != bVpn) return better(aVpn);
    // 3. Different protocols: the smaller preference, then the smaller protocol id.
    if (a->protoId != b->protoId) {
        const uint32_t pa = hwProtoPreference(a), pb = hwProtoPreference(b);
        if (pa != pb) return better(pa < pb);
        return better(a->protoId < b->protoId);
    }
    // 4. Same protocol: the smaller weight; equal weights are equal paths.
    if (a->weight != b->weight) return better(a->weight < b->weight);
    return 0;
}

// ---- record flags and op ----------------------------------------------------

struct HwRecordKind {
    uint32_t flags;
    uint8_t op;
};

// Record flags and op of one operation, from the bits of the path the record
// speaks for (the indirect path when there is one).
template <class N>
HwRecordKind hwRecordKind(const N* src, uint32_t operation) {
    const uint32_t f = src->flag;
    const bool labelled = (f & NH_OP_VPN_ADD) || src->mplsLabelNum != 0;
    switch (operation) {
        case HW_NHOP_OP_DEL: {
            uint32_t flags = 0;
            if (f & (NH_OP_DEL | NH_NEIGH_LOST | NH_OP_BACKUP)) flags |= HW_NHF_PATH;
            if (f & NH_VPN) flags |= HW_NHF_LABEL;
            return {flags, HW_REC_OP_DEL};
        }
        case HW_NHOP_OP_ADD:
            return {HW_NHF_PATH | (labelled ? HW_NHF_LABEL : 0), HW_REC_OP_ADD};
        case HW_NHOP_OP_BACKUP:
            return {HW_NHF_PATH | (labelled ? HW_NHF_LABEL : 0), HW_REC_OP_BACKUP};
        default:  // no change
            if (f & NH_OP_VPN_ADD) return {HW_NHF_LABEL, HW_REC_OP_ADD};
            if (f & NH_VPN_DELETED) return {HW_NHF_LABEL, HW_REC_OP_DEL};
            return {HW_NHF_PATH, HW_REC_OP_NONE};
    }
}

template <class N>
void hwCopyLabels(HwNhopRec& r, const N* from) {
    const uint32_t words[HW_MAX_LABELS] = {from->label1, from->label2, from->label3};
    r.mplsLabelNum = from->mplsLabelNum <= HW_MAX_LABELS ? from->mplsLabelNum : HW_MAX_LABELS;
    for (uint32_t i = 0; i < HW_MAX_LABELS; ++i) r.labels[i] = words[i];
}

inline bool hwTunnelFlagTest(uint32_t flags) {
    return (flags & HW_NHF_TUNNEL) || !(flags & (HW_NHF_PATH | HW_NHF_LABEL | HW_NHF_NEIGHBOUR));
}

// ---- the entry build ----------------------------------------------------------

template <class F>
struct HwEntryBuild {
    using Nh = typename F::Nexthop;
    using Group = HwPathList<Nh, HW_MAX_SET>;
    using Wide = HwPathList<Nh, 2 * HW_MAX_SET>;

    typename F::Dest* d;
    // Groups sorted from the next-hop list.
    Group removal, kept, add, idle;
    // Lists chosen from them.
    Group bestAdd, bestIdle, backup, keep, promoted;
    Wide del, nw;
    // Paths whose add or backup record was written.
    Wide sent;
    // Records written: the header's nextHopNum.
    uint32_t records = 0;

    static int cmp(const Nh* a, const Nh* b) { return F::compare(a, b); }

    // Step 1: sort every next hop into the removal, kept, add and idle groups.
    // A full removal group defers the delete (the path stays as it is and goes
    // out with a later batch); a full add group makes the candidate a standby;
    // full kept and idle groups leave their paths as they are.
    void sortGroups() {
        for (Nh* n : hwListOf<&Nh::destLink>(&d->nhopList)) {
            // Both marks belong to one build: a push-out decided by a build whose
            // batch was refused is decided again here (left standing, it would
            // have the path settled as removed while the hardware still holds it).
            n->flag &= ~(NH_DEL_DEFERRED | NH_OP_BACKUP);
            const uint32_t f = n->flag;
            const bool present = f & (NH_HW_OK | NH_VPN);
            const bool leaving = f & (NH_OP_DEL | NH_NEIGH_LOST | NH_VPN_DELETED);
            if (present && leaving) {
                if (!removal.push(n)) {
                    n->flag |= NH_DEL_DEFERRED;
                    F::deferred();
                }
            } else if (present && !(f & NH_OP_VPN_ADD)) {
                kept.push(n);
            }
            // A leaving path is never a candidate, whatever add mark it carries
            // (a neighbour change marks every path through it).
            if (!(f & NH_RESOLVED) || (f & (NH_OP_DEL | NH_NEIGH_LOST))) continue;
            if ((f & NH_HW_OK) && !((f & NH_OP_VPN_ADD) && !(f & NH_VPN))) continue;
            if (f & (NH_OP_ADD | NH_OP_VPN_ADD)) {
                if (!add.push(n)) n->flag |= NH_STANDBY;
            } else {
                idle.push(n);
            }
        }
        F::logGroups(removal.num, kept.num, add.num, idle.num);
    }

    // An idle path joins the adds: it is marked for addition, labels included.
    template <uint32_t Cap>
    void promote(const HwPathList<Nh, Cap>& paths) {
        for (uint32_t i = 0; i < paths.num; ++i) {
            Nh* n = paths.item[i];
            n->flag |= NH_OP_ADD;
            if (n->mplsLabelNum != 0) n->flag |= NH_OP_VPN_ADD;
            promoted.push(n);
            nw.push(n);
        }
    }

    // Better new paths push the kept ones out. Each departing path is deleted and
    // marked to compete again once it is out. With fast reroute on, the first of
    // them stays in hardware as the backup path instead: it keeps its present
    // state (no NH_OP_BACKUP), so a later removal of it still reaches the
    // hardware; the others are deleted all the same, never dropped silently.
    void pushOutKept() {
        for (uint32_t i = 0; i < kept.num; ++i) {
            Nh* n = kept.item[i];
            if (iprouteFrr != 0 && i == 0) {
                backup.num = 0;
                backup.push(n);
                continue;
            }
            n->flag |= NH_OP_BACKUP;
            del.push(n);
        }
    }

    // Present paths are meant to form one best set, but a path can stay
    // present beside better ones (it came back with its neighbour after the
    // others changed weight): only the best of them stay, the others leave
    // and compete again. With fast reroute a worse present path is the
    // backup on purpose and stays.
    void trimKept() {
        if (iprouteFrr != 0) return;
        Group best;
        hwBestSetOf(kept, best, cmp);
        if (best.num == kept.num) return;
        for (uint32_t i = 0; i < kept.num; ++i) {
            Nh* n = kept.item[i];
            if (best.contains(n)) continue;
            n->flag |= NH_OP_BACKUP;
            del.push(n);
        }
        kept = best;
    }

    // Steps 2 and 3: the best sets and the lists to delete, add, keep and back up.
    // The newcomers are the best of the adds or of the idle paths (resolved,
    // not present, nothing queued), whichever is better, both when equal: an
    // idle path better than the present ones is not left idle beside them.
    void chooseLists() {
        del.append(removal);
        trimKept();
        hwBestSetOf(add, bestAdd, cmp);
        if (iprouteFrr != 0) {
            Group losers;
            for (uint32_t i = 0; i < add.num; ++i)
                if (!bestAdd.contains(add.item[i])) losers.push(add.item[i]);
            hwBestSetOf(losers, backup, cmp);
        }
        hwBestSetOf(idle, bestIdle, cmp);

        const int ai = bestAdd.num == 0 ? -1 : bestIdle.num == 0 ? 1 : cmp(bestAdd.first(), bestIdle.first());
        const bool useAdd = bestAdd.num != 0 && ai >= 0;
        const bool useIdle = bestIdle.num != 0 && ai <= 0;
        auto takeNew = [&] {
            if (useAdd) nw.append(bestAdd);
            if (useIdle) promote(bestIdle);
        };
        if (!useAdd && !useIdle) {
            keep.append(kept);
            return;
        }
        if (kept.num == 0) {
            takeNew();
            return;
        }
        const int c = cmp(useAdd ? bestAdd.first() : bestIdle.first(), kept.first());
        if (c == 0) {
            takeNew();
            keep.append(kept);
        } else if (c > 0) {
            takeNew();
            pushOutKept();
        } else if (iprouteFrr == 0 || !useAdd) {
            keep.append(kept);
        } else {
            nw.push(kept.first());
            backup.num = 0;
            backup.push(bestAdd.first());
        }
    }

    bool empty() const { return del.num == 0 && nw.num == 0 && keep.num == 0; }

    uint32_t headerFlags() const {
        const uint32_t dn = del.num, a = nw.num, k = keep.num;
        uint32_t flags = 0;
        if (dn + k >= 2) flags |= HW_HDR_MULTI_BEFORE;
        if (a >= 2 || (a == 1 && k >= 1) || (dn >= 1 && k >= 2)) flags |= HW_HDR_MULTI_AFTER;
        if (dn == 1 && k >= 1 && (del.item[0]->flag & NH_OP_HW_DEL)) flags |= HW_HDR_LOST_ONE;
        return flags;
    }

    // Step 6: the records, in the order delete, add, backup, kept.
    //
    // Every departing path gets its delete record: the settlement takes each of
    // them as gone from hardware, so none may be left out (the path cap limits
    // what a destination holds, not what it gives up). Adds are capped at the
    // path limit; an add that is not written stays a standby (see markStandby).
    //
    // A path whose record cannot be made (no neighbour record, no path that
    // reaches an indirect one) is left out, and the header counts only the
    // records written (`records`), so the entry describes exactly what it carries.
    uint32_t writeRecords(uint8_t* at) {
        uint32_t len = 0;
        auto put = [&](Nh* n, uint32_t operation) {
            const uint32_t l = F::writePath(at + len, n, operation);
            len += l;
            if (l != 0) records++;
            return l != 0;
        };
        for (uint32_t i = 0; i < del.num; ++i) put(del.item[i], HW_NHOP_OP_DEL);
        // The kept paths stay, so the adds get only the room they leave under
        // the cap; the others wait as standbys.
        const uint32_t room = hwEcmpCap() > keep.num ? hwEcmpCap() - keep.num : 0;
        const uint32_t adds = hwMin(nw.num, room);
        for (uint32_t i = 0; i < adds; ++i)
            if (put(nw.item[i], HW_NHOP_OP_ADD)) sent.push(nw.item[i]);
        if (iprouteFrr != 0) {
            for (uint32_t i = 0; i < backup.num; ++i)
                if (put(backup.item[i], HW_NHOP_OP_BACKUP)) sent.push(backup.item[i]);
        }
        for (uint32_t i = 0; i < keep.num; ++i) put(keep.item[i], HW_NHOP_OP_NOCHANGE);
        return len;
    }

    // After a successful batch the settlement marks every resolved add candidate
    // present unless it is a standby. So every candidate whose add (or backup)
    // record did not go out - beaten by a better path, beyond the path cap, or
    // left out for want of a neighbour - is a standby, and every one that did go
    // out is not (a standby mark from an earlier, refused build must not hide a
    // path that is now in hardware).
    void markStandby() {
        auto mark = [this](Nh* n) {
            if (sent.contains(n))
                n->flag &= ~NH_STANDBY;
            else
                n->flag |= NH_STANDBY;
        };
        for (uint32_t i = 0; i < add.num; ++i) mark(add.item[i]);
        for (uint32_t i = 0; i < promoted.num; ++i) mark(promoted.item[i]);
    }

    // A destination's entry (hwRouteInsertDataToBuf, hwRoute6InsertDataToBuf):
    // header and records; *len stays 0 when there is nothing to send.
    static int build(uint8_t* entry, uint32_t* len, typename F::Dest* dest) {
        if (len != nullptr) *len = 0;
        if (entry == nullptr || len == nullptr || dest == nullptr) return 0;
        HwEntryBuild b{};
        b.d = dest;
        b.sortGroups();
        b.chooseLists();
        if (b.empty()) {
            b.markStandby();
            return 0;
        }
        F::logLists(b.del.num, b.nw.num, b.keep.num, b.backup.num);
        const uint32_t length = F::kHdrLen + b.writeRecords(entry + F::kHdrLen);
        b.markStandby();
        if (b.records == 0) return 0;  // every record was left out: nothing to send
        F::header(entry, dest, b.headerFlags(), b.records, length);
        *len = length;
        return 0;
    }
};
