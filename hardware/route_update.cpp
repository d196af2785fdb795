// Direct IPv4 route updates: one destination's best path set before and
// after a change of one path, sent at once in a call of its own.
#include <cstring>

#include "hwroute/abnormal.h"
#include "hwroute/debug.h"
#include "layout.h"
#include "route_paths.h"

namespace {

using Nh = HwRouteNexthop;
using Set = HwPathList<Nh, HW_MAX_SET>;

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

int cmpPaths(const Nh* a, const Nh* b) { return hwRouteCompare(a, b); }

// The entry buffer. Two full path sets with three labels per path do not fit
// 1024 bytes, so it is sized for that worst case; it is static because the
// worker task is the only caller and the core takes no memory after start-up.
constexpr uint32_t kDirectBufLen = HW_ROUTE4_HDR_LEN + 2 * HW_MAX_SET * hwNhopRecLen(HW_MAX_LABELS);
uint8_t sEntry[kDirectBufLen];

bool labelled(const Nh* n) { return (n->flag & NH_OP_VPN_ADD) || n->mplsLabelNum != 0; }

// The entry under construction: records after the header, and the paths whose
// add or delete record actually went out. Only those are settled, so a path
// whose record was left out (no neighbour) keeps the state the hardware has.
//
// The header's nextHopNum is the number of records actually written, so the
// entry always describes exactly what it carries (a member whose record
// could not be made is left out of the count, never counted as a record).
struct Entry {
    uint32_t len = HW_ROUTE4_HDR_LEN;
    uint32_t records = 0;
    Set added;
    Set deleted;

    uint32_t write(Nh* n, uint32_t operation) {
        const uint32_t l = hwWritePath(sEntry + len, n, operation);
        len += l;
        if (l == 0) return 0;
        records++;
        if (operation == HW_NHOP_OP_ADD) added.push(n);
        if (operation == HW_NHOP_OP_DEL) deleted.push(n);
        return l;
    }
    void header(const HwRouteDest* d, uint32_t flags) {
        HwRoute4Hdr hdr{};
        hdr.flags = flags;
        hdr.nextHopNum = uint8_t(records);
        hdr.size = uint8_t(len / 4);
        packRoute4Hdr(sEntry, hdr);
        hwTranslateDest4Node(sEntry, d);
    }
    // Nothing is sent for an entry without records. A refusal queues the
    // destination in the abnormal table.
    int send(const HwRouteDest* d) const {
        if (records == 0) return 0;
        if (hwSendEntries(HW_OBJ_ROUTE4, sEntry, len) == 0) return 0;
        hwAbnormalQueue(hwAbnRoute4Key(d->vrfId, d->destIp, d->mask));
        return -1;
    }
};

void startEntry() { std::memset(sEntry, 0, sizeof(sEntry)); }

// Settlement helpers: a path that went into or out of hardware. The counts
// move only when the flag really changes.
void markIn(const HwRouteDest* d, Nh* n, uint32_t* counter) {
    (*counter)++;
    if (n->flag & NH_HW_OK) return;
    n->flag |= NH_HW_OK;
    ghwRoute.hwOkRouteCnt++;
    hwRouteProtoCount(d, n, +1);
}
void markOut(const HwRouteDest* d, Nh* n, uint32_t* counter) {
    (*counter)++;
    if (!(n->flag & NH_HW_OK)) return;
    n->flag &= ~NH_HW_OK;
    ghwRoute.hwOkRouteCnt--;
    hwRouteProtoCount(d, n, -1);
}
void labelIn(Nh* n) {
    n->flag |= NH_VPN;
    ghwRoute.hwVpnCnt++;
}
void labelOutIfSet(Nh* n) {
    if (!(n->flag & NH_VPN)) return;
    n->flag &= ~NH_VPN;
    ghwRoute.hwVpnCnt--;
}
// Operation bits cleared once a direct update carried a path's change. A
// path the kernel deleted keeps NH_OP_DEL (and a path whose neighbour went
// keeps NH_NEIGH_LOST): it is out of hardware now, but only the flush frees
// it and releases its neighbour, and without the mark a later re-add of its
// neighbour would queue it for hardware again.
void clearCarriedOps(Nh* m) { m->flag &= ~(NH_OP_MASK & ~(NH_OP_DEL | NH_NEIGH_LOST)); }

void countError(bool vpn) {
    ghwRoute.hwErrRouteCnt++;
    if (vpn) ghwRoute.abnormalVpnCnt++;
}

// ---- the two sets ---------------------------------------------------------
//
// The old set is what the hardware holds: the present paths (NH_HW_OK), all
// of them. The new set is what it should hold: the best set of the resolved
// paths that are not being deleted and have not lost their neighbour,
// capped; on equal terms a present path keeps its place, so a full set is
// not reshuffled by a newcomer. (Drawing the old set from the resolved paths
// instead would take a path queued for its first add as present and
// miss a present path that lost its resolution.)

bool leaving(const Nh* n) { return n->flag & (NH_OP_DEL | NH_NEIGH_LOST); }

bool eligible(const Nh* n, const Nh* without) {
    return n != without && (n->flag & NH_RESOLVED) && !leaving(n);
}

// The subject of an add whose label part is to be written again (the old
// one was just taken out) is rewritten even though it is present: counted
// in the old set, it would match the new one and nothing would go out.
bool labelPending(const Nh* n) { return (n->flag & NH_OP_VPN_ADD) && !(n->flag & NH_VPN); }

// A present path that is leaving (other than the subject x) is left to the
// flush, which has its destination queued and settles it in software too
// (frees it, releases its held neighbour): a direct update neither deletes
// nor keeps it.
void collectSets(HwRouteDest* d, const Nh* x, const Nh* without, Set& olds, Set& news) {
    Set wide;
    for (Nh* n : hwListOf<&Nh::destLink>(&d->nhopList)) {
        if ((n->flag & NH_HW_OK) && (n == x || !leaving(n)) && !(n == x && labelPending(n))) olds.push(n);
        if (eligible(n, without)) hwBestSetOffer(wide, n, cmpPaths);
    }
    const uint32_t cap = hwEcmpCap();
    for (uint32_t i = 0; i < wide.num && news.num < cap; ++i)
        if (wide.item[i]->flag & NH_HW_OK) news.push(wide.item[i]);
    for (uint32_t i = 0; i < wide.num && news.num < cap; ++i)
        if (!(wide.item[i]->flag & NH_HW_OK)) news.push(wide.item[i]);
}

bool sameMembers(const Set& a, const Set& b) {
    if (a.num != b.num) return false;
    for (uint32_t i = 0; i < a.num; ++i)
        if (!b.contains(a.item[i])) return false;
    return true;
}

bool allIn(const Set& part, const Set& whole) {
    for (uint32_t i = 0; i < part.num; ++i)
        if (!whole.contains(part.item[i])) return false;
    return true;
}

// ---- the three kinds of entry ------------------------------------------------

// The set widens: the new members are added, the present ones are left as
// they are.
int ecmpAdd(HwRouteDest* d, const Set& olds, const Set& news) {
    ghwRoute.ecmpUpdataAddCnt++;
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < news.num; ++i)
        if (!olds.contains(news.item[i])) e.write(news.item[i], HW_NHOP_OP_ADD);
    for (uint32_t i = 0; i < olds.num; ++i) e.write(olds.item[i], HW_NHOP_OP_NOCHANGE);
    const uint32_t flags = olds.num == 1 ? HW_HDR_MULTI_AFTER : HW_HDR_MULTI_AFTER | HW_HDR_MULTI_BEFORE;
    e.header(d, flags);
    LOG("update add ip ecmp route to hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
        d->vrfId, d->destIp, d->mask, flags, e.records);
    if (e.send(d) != 0) {
        LOG("update add ip ecmp route on hardware error,add to abnormal table.");
        for (uint32_t i = 0; i < e.added.num; ++i) countError(e.added.item[i]->mplsLabelNum != 0);
        return -1;
    }
    LOG("add ip ecmp route on hardware success.");
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh* m = e.added.item[i];
        hwRouteClrAllOp(&m->flag);
        markIn(d, m, &ghwRoute.hwRouteA1Cnt);
        if (m->mplsLabelNum != 0) labelIn(m);
    }
    return 0;
}

// One record of the equal-cost delete: every present path is listed, the
// leaving ones with op delete and the others unchanged, protocol 0. Built
// like any path record (a point-to-point member included), then marked.
uint32_t ecmpDelRecord(uint8_t* at, Nh* m, bool leaving) {
    const uint32_t l = hwWritePath(at, m, leaving ? HW_NHOP_OP_DEL : HW_NHOP_OP_NOCHANGE);
    if (l == 0) return 0;
    BeWriter w(at, HW_NHOP_REC_LEN);
    w.at(HW_NH_FLAGS).u32((m->flag & NH_VPN) ? HW_NHF_PATH | HW_NHF_LABEL : HW_NHF_PATH);
    w.at(HW_NH_OP).u8(leaving ? HW_REC_OP_DEL : HW_REC_OP_NONE);
    w.at(HW_NH_PROTOCOL).u8(0);
    return l;
}

// The set narrows: present paths that are not in the new set leave.
int ecmpDel(HwRouteDest* d, const Set& olds, const Set& news) {
    ghwRoute.ecmpUpdataDelCnt++;
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < olds.num; ++i) {
        Nh* m = olds.item[i];
        const bool leaving = !news.contains(m);
        const uint32_t l = ecmpDelRecord(sEntry + e.len, m, leaving);
        if (l == 0) continue;
        e.len += l;
        e.records++;
        if (leaving) e.deleted.push(m);
    }
    const uint32_t flags = news.num == 1 ? HW_HDR_MULTI_BEFORE : HW_HDR_MULTI_BEFORE | HW_HDR_MULTI_AFTER;
    e.header(d, flags);
    LOG("updata del ip ecmp route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
        d->vrfId, d->destIp, d->mask, flags, e.records);
    if (e.send(d) != 0) {
        LOG("updata del ip ecmp route on hardware error.");
        for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
        return -1;
    }
    LOG("updata del ip ecmp route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh* m = e.deleted.item[i];
        clearCarriedOps(m);
        markOut(d, m, &ghwRoute.hwRouteD2Cnt);
        labelOutIfSet(m);
    }
    return 0;
}

// The old set is replaced by the new one: every present path is deleted and
// every new member added (a member of both is deleted and written again,
// which also refreshes its neighbour data).
int replace(HwRouteDest* d, const Set& olds, const Set& news, bool onAdd) {
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < olds.num; ++i) e.write(olds.item[i], HW_NHOP_OP_DEL);
    for (uint32_t i = 0; i < news.num; ++i) e.write(news.item[i], HW_NHOP_OP_ADD);
    const uint32_t flags = onAdd && olds.num >= 2 ? HW_HDR_MULTI_BEFORE : 0;
    e.header(d, flags);
    if (onAdd)
        LOG("add ip route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.", d->vrfId,
            d->destIp, d->mask, flags, e.records);
    else
        LOG("del ip route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.", d->vrfId,
            d->destIp, d->mask, flags, e.records);
    if (e.send(d) != 0) {
        LOG(onAdd ? "add ip route on hardware error." : "del ip route on hardware error.");
        for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
        for (uint32_t i = 0; i < e.added.num; ++i) countError(labelled(e.added.item[i]));
        return -1;
    }
    LOG(onAdd ? "add ip route on hardware success." : "del ip route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh* m = e.deleted.item[i];
        if (e.added.contains(m)) continue;  // written again below
        if (!(m->flag & NH_OP_LABEL_CHANGE)) markOut(d, m, onAdd ? &ghwRoute.hwRouteD1Cnt : &ghwRoute.hwRouteD3Cnt);
        labelOutIfSet(m);
        clearCarriedOps(m);
    }
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh* m = e.added.item[i];
        const bool vpn = labelled(m);
        if (!(m->flag & NH_OP_LABEL_CHANGE)) markIn(d, m, onAdd ? &ghwRoute.hwRouteA2Cnt : &ghwRoute.hwRouteA4Cnt);
        if (vpn && !(m->flag & NH_VPN)) labelIn(m);
        hwRouteClrAllOp(&m->flag);
    }
    return 0;
}

// Brings the hardware from the old set to the new one with the smallest
// entry that does it. Returns -1 when the sets agree (nothing sent) or the
// platform refused, 0 when an entry was accepted.
int sendChange(HwRouteDest* d, const Set& olds, const Set& news, bool onAdd) {
    LOG("old best num %d, new best num %d", olds.num, news.num);
    if (sameMembers(olds, news)) {
        if (olds.num != 0) LOG("two set of routes not changed,do nothing");
        return -1;
    }
    if (olds.num >= 1 && news.num >= 2 && allIn(olds, news)) return ecmpAdd(d, olds, news);
    if (olds.num >= 2 && news.num >= 1 && allIn(news, olds)) return ecmpDel(d, olds, news);
    return replace(d, olds, news, onAdd);
}

// A destination refused earlier: its paths are written again as the
// software has them now. The whole present set is replaced, so a path left
// in hardware with stale neighbour data is refreshed too. A destination
// still on the ready list is left to the flush first.
HwAbnResult retryDest(const HwAbnKey& key, const uint8_t*, uint32_t) {
    HwRouteDest k{};
    k.vrfId = key.vrf;
    k.destIp = beRead32(key.addr);
    k.mask = key.extra;
    HwRouteDest* d = hwRouteDestTableLookup(&k);
    if (d == nullptr) return HwAbnResult::Superseded;
    if (d->readyState) return HwAbnResult::Refused;
    Set olds, news;
    collectSets(d, nullptr, nullptr, olds, news);
    if (olds.num == 0 && news.num == 0) return HwAbnResult::Superseded;
    return replace(d, olds, news, false) == 0 ? HwAbnResult::Recovered : HwAbnResult::Refused;
}

}  // namespace

HwAbnResult hwRouteAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
    return retryDest(key, saved, savedLen);
}

void hwUpdateRouteAdd(HwRouteNexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return;
    HwRouteDest* d = x->pDestEntry;
    Set olds, news;
    collectSets(d, x, nullptr, olds, news);
    (void)sendChange(d, olds, news, true);
}

int hwUpdateRouteDel(HwRouteNexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return -1;
    HwRouteDest* d = x->pDestEntry;
    Set olds, news;
    collectSets(d, x, x, olds, news);
    if (olds.num == 1 && news.num == 0 && olds.item[0] == x && (x->flag & NH_OP_CHANGE)) {
        ghwRoute.hwUpdateDelNodoCnt++;  // the only path is re-weighted: hardware keeps it
        return 1;
    }
    if (olds.num == 0) return news.num == 0 ? -1 : 0;
    return sendChange(d, olds, news, false) == 0 ? 0 : -1;
}

bool hwRouteDestSettled(HwRouteDest* d) {
    if (d == nullptr) return true;
    for (Nh* n : hwListOf<&Nh::destLink>(&d->nhopList))
        if (n->flag & (NH_OP_MASK | NH_OP_HW_DEL)) return false;
    Set olds, news;
    collectSets(d, nullptr, nullptr, olds, news);
    return sameMembers(olds, news);
}
