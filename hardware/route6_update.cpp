// Direct IPv6 route updates: one destination's best path set before and
// after a change of one path, sent at once to object 339 in a call of its
// own. The twin of the IPv4 direct updates, with 16-byte next hops matched
// whole and the equal-cost delete completed from ND6 neighbours.
#include <cstring>

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

bool sameAddress(const Nh6* a, const Nh6* x) {
    return std::memcmp(a->nextHop, x->nextHop, 16) == 0 && a->nVrfId == x->nVrfId;
}
bool samePath(const Nh6* a, const Nh6* b) { return sameAddress(a, b) && a->protoId == b->protoId; }
bool labelled(const Nh6* n) { return (n->flag & NH_OP_VPN_ADD) || n->mplsLabelNum != 0; }

// The entry under construction and the paths whose add or delete record went
// out: only those are settled.
struct Entry {
    uint32_t len = HW_ROUTE6_HDR_LEN;
    Set added;
    Set deleted;

    // No clearing of the whole buffer: the header and every record are
    // packed over zeroed bytes of their own.
    void write(Nh6* n, uint32_t operation) {
        const uint32_t l = hwRoute6NhopBufInsert(sEntry + len, n, nullptr, operation);
        len += l;
        if (l == 0) return;
        if (operation == HW_NHOP_OP_ADD) added.push(n);
        if (operation == HW_NHOP_OP_DEL) deleted.push(n);
    }
    void header(const HwRoute6Dest* d, uint32_t flags, uint32_t nextHopNum) {
        HwRoute6Hdr hdr{};
        hdr.flags = flags;
        hdr.nextHopNum = uint8_t(nextHopNum);
        hdr.size = uint8_t(len / 4);
        packRoute6Hdr(sEntry, hdr);
        hwTranslateDest6Node(sEntry, d);
    }
    int send() const { return hwSendEntries(HW_OBJ_ROUTE6, sEntry, len); }
};

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
void countError(bool vpn) {
    ghwRoute.hwErrRoute6Cnt++;
    if (vpn) ghwRoute.abnormalVpn6Cnt++;
}

const char* destText(const HwRoute6Dest* d) { return ip6_sprintf(d->destIpAddr); }

// ---- hwUpdateRoute6Add ------------------------------------------------------

void collectAddSets(HwRoute6Dest* d, const Nh6* x, Set& olds, Set& news) {
    for (Nh6* n : hwListOf<&Nh6::destLink>(&d->nhopList)) {
        if (!(n->flag & (NH_RESOLVED | NH_NEIGH_LOST))) continue;
        if (!samePath(n, x) && hwBestSetOffer(olds, n, cmpPaths) == HwOffer::Leader) ghwRoute.hwUpdateAdd6OldCnt++;
        if (n->flag & (NH_OP_DEL | NH_NEIGH_LOST)) {
            ghwRoute.hwUpdateAdd6SwDelCnt++;
            continue;
        }
        if (hwBestSetOffer(news, n, cmpPaths) == HwOffer::Leader) ghwRoute.hwUpdateAdd6NewCnt++;
    }
}

void ecmpAdd(HwRoute6Dest* d, Nh6* x, const Set& olds, uint32_t o, const Set& news, uint32_t n) {
    ghwRoute.ecmpUpdataAdd6Cnt++;
    Entry e;
    for (uint32_t i = 0; i < n; ++i)
        if (sameAddress(news.item[i], x)) e.write(news.item[i], HW_NHOP_OP_ADD);
    for (uint32_t i = 0; i < o; ++i) e.write(olds.item[i], HW_NHOP_OP_NOCHANGE);
    const uint32_t flags = o == 1 ? HW_HDR_MULTI_AFTER : HW_HDR_MULTI_AFTER | HW_HDR_MULTI_BEFORE;
    e.header(d, flags, n);
    LOG("update add ip6 ecmp route to hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
        d->vrfId, destText(d), d->prefixLen, flags, n);
    if (e.send() != 0) {
        LOG("update add ip6 ecmp route on hardware error,add to abnormal table.");
        for (uint32_t i = 0; i < e.added.num; ++i) countError(e.added.item[i]->mplsLabelNum != 0);
        return;
    }
    LOG("add ip6 ecmp route on hardware success.");
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh6* m = e.added.item[i];
        hwRouteClrAllOp(&m->flag);
        markIn(d, m, &ghwRoute.hwRoute6A2Cnt);
        if (m->mplsLabelNum != 0) labelIn(m);
    }
}

void replaceOnAdd(HwRoute6Dest* d, const Set& olds, uint32_t o, const Set& news, uint32_t n) {
    Entry e;
    for (uint32_t i = 0; i < o; ++i) e.write(olds.item[i], HW_NHOP_OP_DEL);
    for (uint32_t i = 0; i < n; ++i) e.write(news.item[i], HW_NHOP_OP_ADD);
    const uint32_t flags = o >= 2 ? HW_HDR_MULTI_BEFORE : 0;
    e.header(d, flags, o + n);
    LOG("add ip6 route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.", d->vrfId,
        destText(d), d->prefixLen, flags, o + n);
    if (e.send() != 0) {
        LOG("add ip6 route on hardware error.");
        for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
        for (uint32_t i = 0; i < e.added.num; ++i) countError(labelled(e.added.item[i]));
        return;
    }
    LOG("add ip6 route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh6* m = e.deleted.item[i];
        hwRouteClrAllOp(&m->flag);
        markOut(d, m, &ghwRoute.hwRouteD2Cnt);  // the IPv6 replacing add counts its old paths here
        labelOutIfSet(m);
    }
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh6* m = e.added.item[i];
        if (!(m->flag & NH_OP_LABEL_CHANGE)) markIn(d, m, &ghwRoute.hwRoute6A3Cnt);
        if (labelled(m)) labelIn(m);
        hwRouteClrAllOp(&m->flag);
    }
}

// ---- hwUpdateRoute6Del ------------------------------------------------------

void collectDelSets(HwRoute6Dest* d, const Nh6* x, Set& olds, Set& news) {
    for (Nh6* n : hwListOf<&Nh6::destLink>(&d->nhopList)) {
        if (!(n->flag & NH_RESOLVED)) continue;
        hwBestSetOffer(olds, n, cmpPaths);
        if (!samePath(n, x)) hwBestSetOffer(news, n, cmpPaths);
    }
}

// One record of the equal-cost delete; -1 when the VLAN query failed.
int32_t ecmpDelRecord(uint8_t* at, Nh6* m, const Nh6* x) {
    HwPath6Neighbour nb;
    if (!hwPath6Neighbour(m, &nb)) return 0;
    SysIndexIfRecord vlanRec{};
    if (sysIndexTrans(nb.subIfUnit != 0 ? nb.subIfUnit : nb.ifUnit, HW_TRANS_IF_RECORD, &vlanRec) != 0) {
        LOG("sysIndexTrans get vlan id failed.");
        return -1;
    }
    HwNhopRec r{};
    r.flags = (m->flag & NH_VPN) ? HW_NHF_PATH | HW_NHF_LABEL : HW_NHF_PATH;
    std::memcpy(r.nexthopIp, nb.address, 16);
    std::memcpy(r.ext, m->nextHopExt, 16);
    r.port = nb.outPort;
    r.ipPort = nb.ifUnit;
    std::memcpy(r.nextHopMac, nb.mac, 6);
    r.vid = uint16_t(vlanRec.word[4]);
    hwInterfaceMac(m->ifUnit, r.srcMac);
    r.op = sameAddress(m, x) ? HW_REC_OP_DEL : HW_REC_OP_NONE;
    r.protocol = 0;
    hwCopyLabels(r, m);
    return int32_t(packNhopRec(at, r));
}

int ecmpDel(HwRoute6Dest* d, const Nh6* x, const Set& olds, uint32_t o, uint32_t n) {
    ghwRoute.ecmp6UpdataDelCnt++;
    Entry e;
    for (uint32_t i = 0; i < o; ++i) {
        Nh6* m = olds.item[i];
        const int32_t l = ecmpDelRecord(sEntry + e.len, m, x);
        if (l < 0) return -1;
        e.len += uint32_t(l);
        if (l > 0 && sameAddress(m, x)) e.deleted.push(m);
    }
    const uint32_t flags = n == 1 ? HW_HDR_MULTI_BEFORE : HW_HDR_MULTI_BEFORE | HW_HDR_MULTI_AFTER;
    e.header(d, flags, o);
    LOG("updata del ipv6 ecmp route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
        d->vrfId, destText(d), d->prefixLen, flags, o);
    if (e.send() != 0) {
        LOG("updata del ipv6 ecmp route on hardware error.");
        for (uint32_t i = 0; i < o; ++i) {
            if (!sameAddress(olds.item[i], x)) continue;
            countError(olds.item[i]->flag & NH_VPN);
            return -1;
        }
        return 0;
    }
    LOG("updata del ipv6 ecmp route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh6* m = e.deleted.item[i];
        hwRouteClrAllOp(&m->flag);
        markOut(d, m, &ghwRoute.hwRoute6D3Cnt);
        labelOutIfSet(m);
    }
    return 0;
}

int replaceOnDel(HwRoute6Dest* d, const Set& olds, uint32_t o, const Set& news, uint32_t n) {
    Entry e;
    for (uint32_t i = 0; i < o; ++i) e.write(olds.item[i], HW_NHOP_OP_DEL);
    for (uint32_t i = 0; i < n; ++i) e.write(news.item[i], HW_NHOP_OP_ADD);
    e.header(d, 0, o + n);
    LOG("del ipv6 route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.", d->vrfId,
        destText(d), d->prefixLen, 0u, o + n);
    if (e.send() != 0) {
        LOG("del ipv6 route on hardware error.");
        for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
        return 0;
    }
    LOG("del ipv6 route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh6* m = e.deleted.item[i];
        if (!(m->flag & NH_OP_LABEL_CHANGE)) markOut(d, m, &ghwRoute.hwRoute6D4Cnt);
        labelOutIfSet(m);
        hwRouteClrAllOp(&m->flag);
    }
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh6* m = e.added.item[i];
        const bool vpn = labelled(m);
        hwRouteClrAllOp(&m->flag);
        markIn(d, m, &ghwRoute.hwRoute6A4Cnt);
        if (vpn) labelIn(m);
    }
    return 0;
}

}  // namespace

void hwUpdateRoute6Add(HwRoute6Nexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return;
    HwRoute6Dest* d = x->pDestEntry;
    Set olds, news;
    collectAddSets(d, x, olds, news);
    const uint32_t o = hwMin(hwEcmpCap(), olds.num), n = hwMin(hwEcmpCap(), news.num);
    LOG("old best num %d, new best num %d", o, n);
    if (o == n) {
        if (o == 0) return;
        if (hwSamePaths(olds, news, n)) {
            LOG("two set of routes not changed,do nothing");
            return;
        }
    }
    if (o >= 1 && n >= 2) {
        ecmpAdd(d, x, olds, o, news, n);
        return;
    }
    if (n >= 1) replaceOnAdd(d, olds, o, news, n);
}

int hwUpdateRoute6Del(HwRoute6Nexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return -1;
    HwRoute6Dest* d = x->pDestEntry;
    Set olds, news;
    collectDelSets(d, x, olds, news);
    const uint32_t o = hwMin(hwEcmpCap(), olds.num), n = hwMin(hwEcmpCap(), news.num);
    LOG("old best num %d, new best num %d", o, n);
    if (o == n) {
        if (o == 0) return -1;
        if (hwSamePaths(olds, news, n)) {
            LOG("two set of routes not changed,do nothing");
            return -1;
        }
    }
    if (o == 1 && n == 0 && (olds.item[0]->flag & NH_OP_CHANGE)) {
        ghwRoute.hwUpdate6DelNodoCnt++;  // the only path is re-weighted: hardware keeps it
        return 1;
    }
    if (o >= 2 && n >= 1) return ecmpDel(d, x, olds, o, n);
    if (o == 0) return 0;
    return replaceOnDel(d, olds, o, news, n);
}
