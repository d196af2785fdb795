// Direct IPv6 route updates: one destination's best path set before and
// after a change of one path, sent at once to object 339 in a call of its
// own. The twin of the IPv4 direct updates (the present set to the best set,
// entries counting only the records they carry, refusals kept in the
// abnormal table), with 16-byte next hops.
#include <cstring>

#include "hwroute/abnormal.h"
#include "hwroute/debug.h"
#include "hwroute/intake.h"
#include "layout.h"
#include "route6_paths.h"
#include "route_build.h"
#include "route_paths.h"

namespace {

using Nh6 = HwRoute6Nexthop;
using Set = HwPathList<Nh6, HW_MAX_SET>;

// Address texts are formatted only for lines that are written.
#define LOG(...)                                                                        \
    do {                                                                                \
        if (hwRouteDebugOn(HW_DBG_MOD, HW_DBG_ROUTE)) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__); \
    } while (0)

int cmpPaths(const Nh6* a, const Nh6* b) { return hwRoute6Compare(a, b); }

// Sized for two full path sets with three labels per path (see the IPv4 twin).
constexpr uint32_t kDirectBufLen = HW_ROUTE6_HDR_LEN + 2 * HW_MAX_SET * hwNhopRecLen(HW_MAX_LABELS);
uint8_t sEntry[kDirectBufLen];

bool labelled(const Nh6* n) { return (n->flag & NH_OP_VPN_ADD) || n->mplsLabelNum != 0; }

// The entry under construction and the paths whose add or delete record went
// out: only those are settled. The header's nextHopNum counts the records
// actually written.
struct Entry {
    uint32_t len = HW_ROUTE6_HDR_LEN;
    uint32_t records = 0;
    Set added;
    Set deleted;

    uint32_t write(Nh6* n, uint32_t operation) {
        const uint32_t l = hwRoute6NhopBufInsert(sEntry + len, n, nullptr, operation);
        len += l;
        if (l == 0) return 0;
        records++;
        if (operation == HW_NHOP_OP_ADD) added.push(n);
        if (operation == HW_NHOP_OP_DEL) deleted.push(n);
        return l;
    }
    void header(const HwRoute6Dest* d, uint32_t flags) {
        HwRoute6Hdr hdr{};
        hdr.flags = flags;
        hdr.nextHopNum = uint8_t(records);
        hdr.size = uint8_t(len / 4);
        packRoute6Hdr(sEntry, hdr);
        hwTranslateDest6Node(sEntry, d);
    }
    // Nothing is sent for an entry without records. A refusal queues the
    // destination in the abnormal table.
    int send(const HwRoute6Dest* d) const {
        if (records == 0) return 0;
        if (hwSendEntries(HW_OBJ_ROUTE6, sEntry, len) == 0) return 0;
        hwAbnormalQueue(hwAbnRoute6Key(d->vrfId, d->destIpAddr, d->prefixLen));
        return -1;
    }
};

void startEntry() { std::memset(sEntry, 0, sizeof(sEntry)); }

// A path went into or out of hardware; the in-hardware counts follow the flag.
void markIn(const HwRoute6Dest* d, Nh6* n, uint32_t* counter) {
    (*counter)++;
    if (n->flag & NH_HW_OK) return;
    n->flag |= NH_HW_OK;
    ghwRoute.hwOkRoute6Cnt++;
    hwRoute6ProtoCount(d, n, +1);
}
void markOut(const HwRoute6Dest* d, Nh6* n, uint32_t* counter) {
    (*counter)++;
    if (!(n->flag & NH_HW_OK)) return;
    n->flag &= ~NH_HW_OK;
    ghwRoute.hwOkRoute6Cnt--;
    hwRoute6ProtoCount(d, n, -1);
}
void labelIn(Nh6* n) {
    n->flag |= NH_VPN;
    ghwRoute.hwVpn6Cnt++;
}
void labelOutIfSet(Nh6* n) {
    if (!(n->flag & NH_VPN)) return;
    n->flag &= ~NH_VPN;
    ghwRoute.hwVpn6Cnt--;
}
// Operation bits cleared once a direct update carried a path's change; a
// deleted path keeps NH_OP_DEL and a path whose neighbour went keeps
// NH_NEIGH_LOST, for the flush to free and release them (as for IPv4).
void clearCarriedOps(Nh6* m) { m->flag &= ~(NH_OP_MASK & ~(NH_OP_DEL | NH_NEIGH_LOST)); }

void countError(bool vpn) {
    ghwRoute.hwErrRoute6Cnt++;
    if (vpn) ghwRoute.abnormalVpn6Cnt++;
}

const char* destText(const HwRoute6Dest* d) { return ip6_sprintf(d->destIpAddr); }

// ---- the two sets ---------------------------------------------------------
//
// The old set is what the hardware holds: the present paths, all of them.
// The new set is the capped best set of the resolved paths that are not
// leaving; on equal terms a present path keeps its place.

bool leaving(const Nh6* n) { return n->flag & (NH_OP_DEL | NH_NEIGH_LOST); }

bool eligible(const Nh6* n, const Nh6* without) {
    return n != without && (n->flag & NH_RESOLVED) && !leaving(n);
}

// The subject of an add whose label part is to be written again (the old
// one was just taken out) is rewritten even though it is present: counted
// in the old set, it would match the new one and nothing would go out.
bool labelPending(const Nh6* n) { return (n->flag & NH_OP_VPN_ADD) && !(n->flag & NH_VPN); }

// A present path that is leaving (other than the subject x) is left to the
// flush, which has its destination queued and settles it in software too.
void collectSets(HwRoute6Dest* d, const Nh6* x, const Nh6* without, Set& olds, Set& news) {
    Set wide;
    for (Nh6* n : hwListOf<&Nh6::destLink>(&d->nhopList)) {
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

// The set widens: the new members are added, the present ones left as they are.
int ecmpAdd(HwRoute6Dest* d, const Set& olds, const Set& news) {
    ghwRoute.ecmpUpdataAdd6Cnt++;
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < news.num; ++i)
        if (!olds.contains(news.item[i])) e.write(news.item[i], HW_NHOP_OP_ADD);
    for (uint32_t i = 0; i < olds.num; ++i) e.write(olds.item[i], HW_NHOP_OP_NOCHANGE);
    const uint32_t flags = olds.num == 1 ? HW_HDR_MULTI_AFTER : HW_HDR_MULTI_AFTER | HW_HDR_MULTI_BEFORE;
    e.header(d, flags);
    LOG("update add ip6 ecmp route to hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
        d->vrfId, destText(d), d->prefixLen, flags, e.records);
    if (e.send(d) != 0) {
        LOG("update add ip6 ecmp route on hardware error,add to abnormal table.");
        for (uint32_t i = 0; i < e.added.num; ++i) countError(e.added.item[i]->mplsLabelNum != 0);
        return -1;
    }
    LOG("add ip6 ecmp route on hardware success.");
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh6* m = e.added.item[i];
        hwRouteClrAllOp(&m->flag);
        markIn(d, m, &ghwRoute.hwRoute6A2Cnt);
        if (m->mplsLabelNum != 0) labelIn(m);
    }
    return 0;
}

// One record of the equal-cost delete: every present path is listed, the
// leaving ones with op delete and the others unchanged, protocol 0.
uint32_t ecmpDelRecord(uint8_t* at, Nh6* m, bool leaves) {
    const uint32_t l = hwRoute6NhopBufInsert(at, m, nullptr, leaves ? HW_NHOP_OP_DEL : HW_NHOP_OP_NOCHANGE);
    if (l == 0) return 0;
    BeWriter w(at, HW_NHOP_REC_LEN);
    w.at(HW_NH_FLAGS).u32((m->flag & NH_VPN) ? HW_NHF_PATH | HW_NHF_LABEL : HW_NHF_PATH);
    w.at(HW_NH_OP).u8(leaves ? HW_REC_OP_DEL : HW_REC_OP_NONE);
    w.at(HW_NH_PROTOCOL).u8(0);
    return l;
}

// The set narrows: present paths that are not in the new set leave.
int ecmpDel(HwRoute6Dest* d, const Set& olds, const Set& news) {
    ghwRoute.ecmp6UpdataDelCnt++;
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < olds.num; ++i) {
        Nh6* m = olds.item[i];
        const bool leaves = !news.contains(m);
        const uint32_t l = ecmpDelRecord(sEntry + e.len, m, leaves);
        if (l == 0) continue;
        e.len += l;
        e.records++;
        if (leaves) e.deleted.push(m);
    }
    const uint32_t flags = news.num == 1 ? HW_HDR_MULTI_BEFORE : HW_HDR_MULTI_BEFORE | HW_HDR_MULTI_AFTER;
    e.header(d, flags);
    LOG("updata del ipv6 ecmp route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
        d->vrfId, destText(d), d->prefixLen, flags, e.records);
    if (e.send(d) != 0) {
        LOG("updata del ipv6 ecmp route on hardware error.");
        for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
        return -1;
    }
    LOG("updata del ipv6 ecmp route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh6* m = e.deleted.item[i];
        clearCarriedOps(m);
        markOut(d, m, &ghwRoute.hwRoute6D3Cnt);
        labelOutIfSet(m);
    }
    return 0;
}

// The old set is replaced by the new one: every present path is deleted and
// every new member added (a member of both is deleted and written again).
int replace(HwRoute6Dest* d, const Set& olds, const Set& news, bool onAdd) {
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < olds.num; ++i) e.write(olds.item[i], HW_NHOP_OP_DEL);
    for (uint32_t i = 0; i < news.num; ++i) e.write(news.item[i], HW_NHOP_OP_ADD);
    const uint32_t flags = onAdd && olds.num >= 2 ? HW_HDR_MULTI_BEFORE : 0;
    e.header(d, flags);
    if (onAdd)
        LOG("add ip6 route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.", d->vrfId,
            destText(d), d->prefixLen, flags, e.records);
    else
        LOG("del ipv6 route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.", d->vrfId,
            destText(d), d->prefixLen, flags, e.records);
    if (e.send(d) != 0) {
        LOG(onAdd ? "add ip6 route on hardware error." : "del ipv6 route on hardware error.");
        for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
        for (uint32_t i = 0; i < e.added.num; ++i) countError(labelled(e.added.item[i]));
        return -1;
    }
    LOG(onAdd ? "add ip6 route on hardware success." : "del ipv6 route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh6* m = e.deleted.item[i];
        if (e.added.contains(m)) continue;  // written again below
        // The IPv6 replacing add counts its old paths in the IPv4 D2 counter.
        if (!(m->flag & NH_OP_LABEL_CHANGE)) markOut(d, m, onAdd ? &ghwRoute.hwRouteD2Cnt : &ghwRoute.hwRoute6D4Cnt);
        labelOutIfSet(m);
        clearCarriedOps(m);
    }
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh6* m = e.added.item[i];
        const bool vpn = labelled(m);
        if (!(m->flag & NH_OP_LABEL_CHANGE)) markIn(d, m, onAdd ? &ghwRoute.hwRoute6A3Cnt : &ghwRoute.hwRoute6A4Cnt);
        if (vpn && !(m->flag & NH_VPN)) labelIn(m);
        hwRouteClrAllOp(&m->flag);
    }
    return 0;
}

// Brings the hardware from the old set to the new one with the smallest
// entry that does it. -1 when the sets agree (nothing sent) or the platform
// refused, 0 when an entry was accepted.
int sendChange(HwRoute6Dest* d, const Set& olds, const Set& news, bool onAdd) {
    LOG("old best num %d, new best num %d", olds.num, news.num);
    if (sameMembers(olds, news)) {
        if (olds.num != 0) LOG("two set of routes not changed,do nothing");
        return -1;
    }
    if (olds.num >= 1 && news.num >= 2 && allIn(olds, news)) return ecmpAdd(d, olds, news);
    if (olds.num >= 2 && news.num >= 1 && allIn(news, olds)) return ecmpDel(d, olds, news);
    return replace(d, olds, news, onAdd);
}

// A destination refused earlier is written again as the software has it now;
// one still on the ready list is left to the flush first.
HwAbnResult retryDest(const HwAbnKey& key) {
    HwRoute6Dest k{};
    k.vrfId = key.vrf;
    std::memcpy(k.destIpAddr, key.addr, 16);
    k.prefixLen = uint8_t(key.extra);
    HwRoute6Dest* d = hwRoute6DestTableLookup(&k);
    if (d == nullptr) return HwAbnResult::Superseded;
    if (d->readyState) return HwAbnResult::Refused;
    Set olds, news;
    collectSets(d, nullptr, nullptr, olds, news);
    if (olds.num == 0 && news.num == 0) return HwAbnResult::Superseded;
    return replace(d, olds, news, false) == 0 ? HwAbnResult::Recovered : HwAbnResult::Refused;
}

}  // namespace

HwAbnResult hwRoute6AbnormalRetry(const HwAbnKey& key, const uint8_t*, uint32_t) { return retryDest(key); }

void hwUpdateRoute6Add(HwRoute6Nexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return;
    HwRoute6Dest* d = x->pDestEntry;
    Set olds, news;
    collectSets(d, x, nullptr, olds, news);
    (void)sendChange(d, olds, news, true);
}

int hwUpdateRoute6Del(HwRoute6Nexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return -1;
    HwRoute6Dest* d = x->pDestEntry;
    Set olds, news;
    collectSets(d, x, x, olds, news);
    if (olds.num == 1 && news.num == 0 && olds.item[0] == x && (x->flag & NH_OP_CHANGE)) {
        ghwRoute.hwUpdate6DelNodoCnt++;  // the only path is re-weighted: hardware keeps it
        return 1;
    }
    if (olds.num == 0) return news.num == 0 ? -1 : 0;
    return sendChange(d, olds, news, false) == 0 ? 0 : -1;
}

bool hwRoute6DestSettled(HwRoute6Dest* d) {
    if (d == nullptr) return true;
    for (Nh6* n : hwListOf<&Nh6::destLink>(&d->nhopList))
        if (n->flag & (NH_OP_MASK | NH_OP_HW_DEL)) return false;
    Set olds, news;
    collectSets(d, nullptr, nullptr, olds, news);
    return sameMembers(olds, news);
}
