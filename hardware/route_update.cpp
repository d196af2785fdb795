// Direct IPv4 route updates: one destination's best path set before and
// after a change of one path, sent at once in a call of its own.
#include <cstring>

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

bool samePath(const Nh* a, const Nh* b) {
    return a->nextHop == b->nextHop && a->protoId == b->protoId && a->nVrfId == b->nVrfId;
}

// The paths an update changes in hardware are x's address in x's VRF. (A path
// of another VRF through the same address is not touched: its record is
// written unchanged, so hardware and software keep agreeing about it.)
bool sameAddress(const Nh* a, const Nh* x) { return a->nextHop == x->nextHop && a->nVrfId == x->nVrfId; }

bool labelled(const Nh* n) { return (n->flag & NH_OP_VPN_ADD) || n->mplsLabelNum != 0; }

// The entry under construction: records after the header, and the paths whose
// add or delete record actually went out. Only those are settled, so a path
// whose record was left out (no neighbour) keeps the state the hardware has.
struct Entry {
    uint32_t len = HW_ROUTE4_HDR_LEN;
    Set added;
    Set deleted;

    void write(Nh* n, uint32_t operation) {
        const uint32_t l = hwWritePath(sEntry + len, n, operation);
        len += l;
        if (l == 0) return;
        if (operation == HW_NHOP_OP_ADD) added.push(n);
        if (operation == HW_NHOP_OP_DEL) deleted.push(n);
    }
    void header(const HwRouteDest* d, uint32_t flags, uint32_t nextHopNum) {
        HwRoute4Hdr hdr{};
        hdr.flags = flags;
        hdr.nextHopNum = uint8_t(nextHopNum);
        hdr.size = uint8_t(len / 4);
        packRoute4Hdr(sEntry, hdr);
        hwTranslateDest4Node(sEntry, d);
    }
    int send() const { return hwSendEntries(HW_OBJ_ROUTE4, sEntry, len); }
};

void startEntry() { std::memset(sEntry, 0, sizeof(sEntry)); }

// Settlement helpers: a path that went into or out of hardware. The old set
// of a direct update is drawn from resolved paths, present or not, so the
// in-hardware counts move only when the flag really changes.
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
void countError(bool vpn) {
    ghwRoute.hwErrRouteCnt++;
    if (vpn) ghwRoute.abnormalVpnCnt++;
}

// ---- hwUpdateRouteAdd -------------------------------------------------------

void collectAddSets(HwRouteDest* d, const Nh* x, Set& olds, Set& news) {
    for (Nh* n : hwListOf<&Nh::destLink>(&d->nhopList)) {
        if (!(n->flag & (NH_RESOLVED | NH_NEIGH_LOST))) continue;
        if (!samePath(n, x) && hwBestSetOffer(olds, n, cmpPaths) == HwOffer::Leader) ghwRoute.hwUpdateAddOldCnt++;
        if (n->flag & (NH_OP_DEL | NH_NEIGH_LOST)) {
            ghwRoute.hwUpdateAddSwDelCnt++;
            continue;
        }
        if (hwBestSetOffer(news, n, cmpPaths) == HwOffer::Leader) ghwRoute.hwUpdateAddNewCnt++;
    }
}

// The set widens: x's new path is added, the present ones are left as they are.
void ecmpAdd(HwRouteDest* d, Nh* x, const Set& olds, uint32_t o, const Set& news, uint32_t n) {
    ghwRoute.ecmpUpdataAddCnt++;
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < n; ++i)
        if (sameAddress(news.item[i], x)) e.write(news.item[i], HW_NHOP_OP_ADD);
    for (uint32_t i = 0; i < o; ++i) e.write(olds.item[i], HW_NHOP_OP_NOCHANGE);
    const uint32_t flags = o == 1 ? HW_HDR_MULTI_AFTER : HW_HDR_MULTI_AFTER | HW_HDR_MULTI_BEFORE;
    e.header(d, flags, n);
    LOG("update add ip ecmp route to hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
        d->vrfId, d->destIp, d->mask, flags, n);
    if (e.send() != 0) {
        LOG("update add ip ecmp route on hardware error,add to abnormal table.");
        for (uint32_t i = 0; i < e.added.num; ++i) countError(e.added.item[i]->mplsLabelNum != 0);
        return;
    }
    LOG("add ip ecmp route on hardware success.");
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh* m = e.added.item[i];
        hwRouteClrAllOp(&m->flag);
        markIn(d, m, &ghwRoute.hwRouteA1Cnt);
        if (m->mplsLabelNum != 0) labelIn(m);
    }
}

// The old best set is replaced by the new one.
void replaceOnAdd(HwRouteDest* d, const Set& olds, uint32_t o, const Set& news, uint32_t n) {
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < o; ++i) e.write(olds.item[i], HW_NHOP_OP_DEL);
    for (uint32_t i = 0; i < n; ++i) e.write(news.item[i], HW_NHOP_OP_ADD);
    const uint32_t flags = o >= 2 ? HW_HDR_MULTI_BEFORE : 0;
    e.header(d, flags, o + n);
    LOG("add ip route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.", d->vrfId,
        d->destIp, d->mask, flags, o + n);
    if (e.send() != 0) {
        LOG("add ip route on hardware error.");
        for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
        for (uint32_t i = 0; i < e.added.num; ++i) countError(labelled(e.added.item[i]));
        return;
    }
    LOG("add ip route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh* m = e.deleted.item[i];
        hwRouteClrAllOp(&m->flag);
        markOut(d, m, &ghwRoute.hwRouteD1Cnt);
        labelOutIfSet(m);
    }
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh* m = e.added.item[i];
        if (!(m->flag & NH_OP_LABEL_CHANGE)) markIn(d, m, &ghwRoute.hwRouteA2Cnt);
        if (labelled(m)) labelIn(m);
        hwRouteClrAllOp(&m->flag);
    }
}

// ---- hwUpdateRouteDel -------------------------------------------------------

void collectDelSets(HwRouteDest* d, const Nh* x, Set& olds, Set& news) {
    for (Nh* n : hwListOf<&Nh::destLink>(&d->nhopList)) {
        if (!(n->flag & NH_RESOLVED)) continue;
        hwBestSetOffer(olds, n, cmpPaths);
        if (!samePath(n, x)) hwBestSetOffer(news, n, cmpPaths);
    }
}

// One record of the equal-cost delete: every present path is listed, x's
// address with op delete and the others unchanged. Returns the bytes written,
// or -1 when the VLAN query failed.
int32_t ecmpDelRecord(uint8_t* at, Nh* m, const Nh* x) {
    const HwArpNode* arp = hwPathNeighbour(m);
    if (arp == nullptr) return 0;
    HwNhopRec r{};
    SysIndexIfRecord vlanRec{};
    const uint32_t vlanUnit = arp->subIfUnit != 0 ? arp->subIfUnit : arp->ifUnit;
    if (sysIndexTrans(vlanUnit, HW_TRANS_IF_RECORD, &vlanRec) != 0) {
        LOG("sysIndexTrans get vlan id failed.");
        return -1;
    }
    r.flags = (m->flag & NH_VPN) ? HW_NHF_PATH | HW_NHF_LABEL : HW_NHF_PATH;
    hwIp4Bytes(arp->nextHop, r.nexthopIp);
    hwIp4Bytes(m->nextHopExt, r.ext);
    r.port = arp->outPort;
    r.ipPort = arp->ifUnit;
    std::memcpy(r.nextHopMac, arp->mac, 6);
    r.vid = uint16_t(vlanRec.word[4]);
    hwInterfaceMac(m->ifUnit, r.srcMac);
    r.op = sameAddress(m, x) ? HW_REC_OP_DEL : HW_REC_OP_NONE;
    r.protocol = 0;
    const uint32_t words[HW_MAX_LABELS] = {m->label1, m->label2, m->label3};
    r.mplsLabelNum = m->mplsLabelNum;
    std::memcpy(r.labels, words, sizeof(words));
    return int32_t(packNhopRec(at, r));
}

int ecmpDel(HwRouteDest* d, const Nh* x, const Set& olds, uint32_t o, uint32_t n) {
    ghwRoute.ecmpUpdataDelCnt++;
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < o; ++i) {
        Nh* m = olds.item[i];
        const int32_t l = ecmpDelRecord(sEntry + e.len, m, x);
        if (l < 0) return -1;
        e.len += uint32_t(l);
        if (l > 0 && sameAddress(m, x)) e.deleted.push(m);
    }
    const uint32_t flags = n == 1 ? HW_HDR_MULTI_BEFORE : HW_HDR_MULTI_BEFORE | HW_HDR_MULTI_AFTER;
    e.header(d, flags, o);
    LOG("updata del ip ecmp route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
        d->vrfId, d->destIp, d->mask, flags, o);
    if (e.send() != 0) {
        LOG("updata del ip ecmp route on hardware error.");
        for (uint32_t i = 0; i < o; ++i) {
            if (!sameAddress(olds.item[i], x)) continue;
            countError(olds.item[i]->flag & NH_VPN);
            return -1;
        }
        return 0;
    }
    LOG("updata del ip ecmp route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh* m = e.deleted.item[i];
        hwRouteClrAllOp(&m->flag);
        markOut(d, m, &ghwRoute.hwRouteD2Cnt);
        labelOutIfSet(m);
    }
    return 0;
}

int replaceOnDel(HwRouteDest* d, const Set& olds, uint32_t o, const Set& news, uint32_t n) {
    startEntry();
    Entry e;
    for (uint32_t i = 0; i < o; ++i) e.write(olds.item[i], HW_NHOP_OP_DEL);
    for (uint32_t i = 0; i < n; ++i) e.write(news.item[i], HW_NHOP_OP_ADD);
    e.header(d, 0, o + n);
    LOG("del ip route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.", d->vrfId,
        d->destIp, d->mask, 0u, o + n);
    if (e.send() != 0) {
        LOG("del ip route on hardware error.");
        for (uint32_t i = 0; i < e.deleted.num; ++i) countError(e.deleted.item[i]->flag & NH_VPN);
        return 0;
    }
    LOG("del ip route on hardware success.");
    for (uint32_t i = 0; i < e.deleted.num; ++i) {
        Nh* m = e.deleted.item[i];
        if (!(m->flag & NH_OP_LABEL_CHANGE)) markOut(d, m, &ghwRoute.hwRouteD3Cnt);
        labelOutIfSet(m);
        hwRouteClrAllOp(&m->flag);
    }
    for (uint32_t i = 0; i < e.added.num; ++i) {
        Nh* m = e.added.item[i];
        const bool vpn = labelled(m);
        hwRouteClrAllOp(&m->flag);
        markIn(d, m, &ghwRoute.hwRouteA4Cnt);
        if (vpn) labelIn(m);
    }
    return 0;
}

}  // namespace

void hwUpdateRouteAdd(HwRouteNexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return;
    HwRouteDest* d = x->pDestEntry;
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

int hwUpdateRouteDel(HwRouteNexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return -1;
    HwRouteDest* d = x->pDestEntry;
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
        ghwRoute.hwUpdateDelNodoCnt++;  // the only path is re-weighted: hardware keeps it
        return 1;
    }
    if (o >= 2 && n >= 1) return ecmpDel(d, x, olds, o, n);
    if (o == 0) return 0;
    return replaceOnDel(d, olds, o, news, n);
}
