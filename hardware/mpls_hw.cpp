// ILM hardware entries: the translation of an incoming-label entry into its
// hardware record (objects 156 add, 157 delete) and the writers that move its
// status (entry_writes.h: status moves, counts, refused writes kept for a
// retry).
#include <cstring>

#include "entry_writes.h"
#include "hwroute/abnormal.h"
#include "hwroute/bewriter.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/platform.h"
#include "hwroute/tables.h"
#include "layout.h"
#include "route_paths.h"

namespace {

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

constexpr uint32_t kLabelShift = 12;

// The interface record of a unit: VLAN id in word 4, end type in word 5.
bool ifRecord(uint32_t ifUnit, SysIndexIfRecord* rec) {
    *rec = SysIndexIfRecord{};
    return sysIndexTrans(ifUnit, HW_TRANS_IF_RECORD, rec) == 0;
}

bool vlanOf(uint32_t ifUnit, uint16_t* vid) {
    SysIndexIfRecord rec;
    const bool ok = ifRecord(ifUnit, &rec);
    if (ok) *vid = uint16_t(rec.word[4]);
    if (!ok) LOG("sysIndexTrans get vlan id failed.");
    return ok;
}

// The interface's own MAC, or the system MAC when the interface has none.
bool sourceMac(uint32_t ifUnit, uint8_t* mac) {
    uint8_t buf[32] = {};
    octet o{buf, sizeof buf};
    if (sysIFGet(ifUnit, SYS_IF_PHYADDR, &o) != 0) {
        std::memset(buf, 0, sizeof buf);
        if (kivScalarGetApi(0, HW_ATTR_SYS_MAC, &o) != 0) {
            LOG("hwTranslateIlmRtNode get SYS_IF_PHYADDR failed.");
            return false;
        }
    }
    std::memcpy(mac, buf, 6);
    return true;
}

struct IlmHw {
    HwIlmHdr hdr{};
    HwNhopRec rec{};
};

// Step 2: towards the next hop, through a point-to-point interface or the
// neighbour of the entry's VRF. False when the translation stops here.
bool nextHopPart(HwRouteIlmNode* ilm, IlmHw* e) {
    SysIndexIfRecord ifRec;
    uint32_t endType = 0;
    if (ifRecord(ilm->ifUnit, &ifRec))
        endType = ifRec.word[5];
    else
        LOG("sysIndexTrans get end type failed.");

    if (hwIsPointToPoint(endType)) {
        e->rec.port = ilm->ifUnit;
        e->rec.ipPort = ilm->ifUnit;
        hwIp4Bytes(ilm->nextHop, e->rec.nexthopIp);
        (void)vlanOf(ilm->ifUnit, &e->rec.vid);
        return true;
    }
    // Its status is not examined: a neighbour being withdrawn still names the MAC to remove.
    HwArpNode* arp = hwArpFind(ilm->vrfId, ilm->nextHop);
    if (arp == nullptr) return true;
    std::memcpy(e->rec.nextHopMac, arp->mac, 6);
    e->rec.port = arp->outPort;
    e->rec.ipPort = arp->ifUnit;
    hwIp4Bytes(ilm->nextHop, e->rec.nexthopIp);
    if (ilm->ifUnit == 0) ilm->ifUnit = arp->ifUnit;  // the stored entry learns its interface
    return vlanOf(arp->subIfUnit != 0 ? arp->subIfUnit : arp->ifUnit, &e->rec.vid);
}

void translate(HwRouteIlmNode* ilm, IlmHw* e) {
    // 1. Header and outgoing labels.
    e->hdr.vrfid = ilm->vrfId;
    e->hdr.flags = ilm->ilmFlags;
    e->hdr.inLabel = ilm->swapLabel >> kLabelShift;
    e->rec.mplsLabelNum = ilm->mplsLabelNum > HW_MAX_LABELS ? HW_MAX_LABELS : ilm->mplsLabelNum;
    e->rec.labels[0] = ilm->mplsLabel;
    e->rec.labels[1] = ilm->mplsLabel2;
    e->rec.labels[2] = ilm->mplsLabel3;
    // 2. Towards the next hop.
    if (ilm->nextHop != 0 && !nextHopPart(ilm, e)) return;
    // 3. Source MAC.
    if (!sourceMac(ilm->ifUnit, e->rec.srcMac)) return;
    // 4. An entry without next hop leaves through its interface's VLAN.
    if (ilm->ifUnit != 0 && ilm->nextHop == 0 && !vlanOf(ilm->ifUnit, &e->rec.vid)) return;
    // 5. Incoming VLAN.
    if (ilm->inIfUnit != 0) (void)vlanOf(ilm->inIfUnit, &e->hdr.inVid);
}

void logEntry(const char* fn, const char* what, const HwRouteIlmNode* ilm, const IlmHw& e, uint32_t len) {
    const uint8_t* m = e.rec.nextHopMac;
    LOG("[%s]=>%s Ilm route on hardware:vrfid=%d,port=%u,nextHopMAC=%02x:%02x:%02x:%02x:%02x:%02x,vid=%d,inVid=%d,"
        "flags=%d,inLabel=%d,status=%d,mplsLabelNum=%d,octet.len=%d.",
        fn, what, e.hdr.vrfid, e.rec.port, m[0], m[1], m[2], m[3], m[4], m[5], e.rec.vid, e.hdr.inVid, e.hdr.flags,
        e.hdr.inLabel, ilm->status, ilm->mplsLabelNum, len);
}

}  // namespace

int hwTranslateIlmRtNode(uint8_t* buffer, HwRouteIlmNode* ilm) {
    if (buffer == nullptr || ilm == nullptr) return -1;
    IlmHw e;
    translate(ilm, &e);
    return int(packIlmHwBuf(buffer, e.hdr, e.rec));
}

namespace {

struct IlmKind {
    using Node = HwRouteIlmNode;
    static constexpr uint32_t HwRouteGlobal::*ok = &HwRouteGlobal::hwOkIlmCnt;
    static constexpr uint32_t HwRouteGlobal::*err = &HwRouteGlobal::hwErrIlmCnt;
    static HwAbnKey key(const Node* ilm) { return hwAbnIlmKey(ilm); }
    static Node* lookup(const HwAbnKey& key) {
        HwRouteIlmNode k{};
        k.nextHop = beRead32(key.addr);
        k.swapLabel = beRead32(key.addr + 4) << kLabelShift;
        k.mplsLabel = beRead32(key.addr + 8) << kLabelShift;
        return hwRouteIlmTableLookup(&k);
    }
    static void add(Node* ilm) { hwUpdateIlmRouteAdd(ilm); }
    static int del(Node* ilm) { return hwUpdateIlmRouteDel(ilm); }
    static int resend(const HwAbnKey&, uint8_t* bytes, uint32_t len) {
        return hwSendEntries(HW_OBJ_ILM_DEL, bytes, len);
    }
};
using IlmWrites = HwEntryWrites<IlmKind>;

}  // namespace

HwAbnKey hwAbnIlmKey(const HwRouteIlmNode* ilm) {
    HwAbnKey k{};
    k.kind = HW_ABN_ILM;
    BeWriter(k.addr, 16).u32(ilm->nextHop).u32(ilm->swapLabel >> kLabelShift).u32(ilm->mplsLabel >> kLabelShift);
    return k;
}

HwAbnResult hwIlmAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
    return IlmWrites::retry(key, saved, savedLen);
}

void hwIlmCardupReplay(HwRouteIlmNode* ilm) { IlmWrites::replay(ilm); }

void hwUpdateIlmRouteAdd(HwRouteIlmNode* ilm) {
    if (ilm == nullptr) return;
    IlmHw e;
    translate(ilm, &e);
    uint8_t buf[HW_ILM_BUF_MAX];
    const uint32_t len = packIlmHwBuf(buf, e.hdr, e.rec);
    logEntry("hwUpdateIlmRouteAdd", "add", ilm, e, len);
    if (!IlmWrites::addable(ilm)) {
        LOG("[hwUpdateIlmRouteAdd]=>add Ilm route on hardware error,status %d is error.", ilm->status);
        return;
    }
    const bool accepted = hwSendEntries(HW_OBJ_ILM_ADD, buf, len) == 0;
    if (accepted)
        LOG("[hwUpdateIlmRouteAdd]=>add Ilm route on hardware success.");
    else
        LOG("[hwUpdateIlmRouteAdd]=>add Ilm route on hardware error.");
    IlmWrites::addDone(ilm, accepted);
}

int hwUpdateIlmRouteDel(HwRouteIlmNode* ilm) {
    if (ilm == nullptr) return -1;
    IlmHw e;
    translate(ilm, &e);
    uint8_t buf[HW_ILM_BUF_MAX];
    const uint32_t len = packIlmHwBuf(buf, e.hdr, e.rec);
    logEntry("hwUpdateIlmRouteDel", "del", ilm, e, len);
    if (ilm->status == hwStatusAddAbnormal) {
        LOG("[hwUpdateIlmRouteDel]=>del Ilm route on hardware success,old status is add abnormal.");
        ilm->status = hwStatusIdle;
        return 0;
    }
    if (ilm->status != hwStatusOk && ilm->status != hwStatusDelAbnormal) {
        LOG("[hwUpdateIlmRouteDel]=>del Ilm on hardware error,status %d is error.", ilm->status);
        return 0;
    }
    const bool accepted = hwSendEntries(HW_OBJ_ILM_DEL, buf, len) == 0;
    if (accepted)
        LOG("[hwUpdateIlmRouteDel]=>del Ilm on hardware success.");
    else
        LOG("[hwUpdateIlmRouteDel]=>del Ilm on hardware error.");
    IlmWrites::delDone(ilm, accepted, buf, len);
    return accepted ? 0 : -1;
}

// ---- Layer-2 VPN entries -----------------------------------------------------
//
// The record (56 bytes) goes to the platform as it is: the request's data
// word points at it, with no octet around it. Status moves as for ILM
// entries above; no statistics counter moves.

namespace {

constexpr uint32_t kL2vpnRecLen = 56;

struct L2vpnObjects {
    uint8_t vpnType;
    uint32_t add, del;
};
constexpr L2vpnObjects kL2vpnObjects[] = {{1, 144, 145}, {2, 140, 141}, {5, 352, 353}};

// Object id of an add or a delete; 0 for a type the platform does not define.
uint32_t l2vpnObject(uint8_t vpnType, bool add) {
    for (const L2vpnObjects& o : kL2vpnObjects)
        if (o.vpnType == vpnType) return add ? o.add : o.del;
    return 0;
}

// The neighbour part, translated from the software records.
struct L2vpnPe {
    uint16_t peVid = 0;
    uint32_t pePort = 0;
    uint8_t nextHopMac[6] = {};
    uint8_t srcMac[6] = {};
};

// The first neighbour at the entry's remote edge, any VRF and any state (a
// neighbour being withdrawn still names the MAC to remove).
bool l2vpnNeighbour(const HwRouteL2vpnNode* e, L2vpnPe* pe, uint32_t* ifUnit, uint32_t* vlanUnit) {
    if (e->family == HW_AF_INET) {
        const uint32_t address = (uint32_t(e->nexthopIp[0]) << 24) | (uint32_t(e->nexthopIp[1]) << 16) |
                                 (uint32_t(e->nexthopIp[2]) << 8) | e->nexthopIp[3];
        for (HwArpNode* arp : hwListOf<&HwArpNode::link>(&ghwRoute.arpTable[hwRouteKey1(address)])) {
            if (arp->nextHop != address) continue;
            std::memcpy(pe->nextHopMac, arp->mac, 6);
            pe->pePort = arp->outPort;
            *ifUnit = arp->ifUnit;
            *vlanUnit = arp->subIfUnit != 0 ? arp->subIfUnit : arp->ifUnit;
            return true;
        }
        return false;
    }
    for (HwNd6Node* nd : hwListOf<&HwNd6Node::link>(&ghwRoute.nd6Table[hwRoute6Key1(e->nexthopIp)])) {
        if (std::memcmp(nd->nextHop, e->nexthopIp, 16) != 0) continue;
        std::memcpy(pe->nextHopMac, nd->macAddr, 6);
        pe->pePort = nd->outPort;
        *ifUnit = nd->ifUnit;
        *vlanUnit = nd->subIfUnit != 0 ? nd->subIfUnit : nd->ifUnit;
        return true;
    }
    return false;
}

// Without a neighbour, or when a query fails, the fields found so far go out.
void l2vpnTranslatePe(const HwRouteL2vpnNode* e, L2vpnPe* pe) {
    uint32_t ifUnit = 0, vlanUnit = 0;
    if (!l2vpnNeighbour(e, pe, &ifUnit, &vlanUnit)) return;
    if (!vlanOf(vlanUnit, &pe->peVid)) return;
    uint8_t buf[32] = {};
    octet o{buf, sizeof buf};
    if (sysIFGet(ifUnit, SYS_IF_PHYADDR, &o) != 0) {
        LOG("hwTranslateL2vpnNode get SYS_IF_PHYADDR failed.");
        return;
    }
    std::memcpy(pe->srcMac, buf, 6);
}

void packL2vpn(uint8_t* p, const HwRouteL2vpnNode* e, const L2vpnPe& pe) {
    BeWriter w(p, kL2vpnRecLen);
    w.zeros(kL2vpnRecLen);
    w.at(0).u16(e->vfiId).u8(e->vpnType);
    w.at(4).u32(e->flags);
    // The provider-side egress VLAN and priority are written as the message
    // gave them: the record has their places and zero would discard them.
    w.at(8).u16(e->peEgressVid).u8(e->peEgressPri);
    w.at(12).u16(e->ceEgressVid).u8(e->ceEgressPri);
    w.at(16).u32(e->cePort).u16(e->ceVid).u16(pe.peVid).u32(pe.pePort);
    w.at(28).u32(e->txOuterLabel).u32(e->txInnerLabel).u32(e->rxInnerLabel);
    w.at(40).u8(e->txOuterExp).u8(e->txOuterTtl).u8(e->txInnerExp).u8(e->txInnerTtl);
    w.at(44).bytes(pe.nextHopMac, 6).bytes(pe.srcMac, 6);
}

void logL2vpn(const char* what, const HwRouteL2vpnNode* e, const L2vpnPe& pe) {
    const uint8_t* n = pe.nextHopMac;
    const uint8_t* s = pe.srcMac;
    LOG("%s L2vpn on hardware:vfiId=%d,vpnType=%d,flags=%d,ceEgressVid=%d,ceEgressPri=%d,peEgressPri=%d,"
        "peEgressVid=%d,cePort=%d,ceVid=%d,peVid=%d,pePort=%d,txOuterLabel=%d,txInnerLabel=%d,rxInnerLabel=%d,"
        "txOuterExp=%d,txOuterTtl=%d,txInnerExp=%d,txInnerTtl=%d,nextHopMac=%02x:%02x:%02x:%02x:%02x:%02x,"
        "srcMac=%02x:%02x:%02x:%02x:%02x:%02x,status=%d.",
        what, e->vfiId, e->vpnType, e->flags, e->ceEgressVid, e->ceEgressPri, e->peEgressPri, e->peEgressVid,
        e->cePort, e->ceVid, pe.peVid, pe.pePort, e->txOuterLabel, e->txInnerLabel, e->rxInnerLabel, e->txOuterExp,
        e->txOuterTtl, e->txInnerExp, e->txInnerTtl, n[0], n[1], n[2], n[3], n[4], n[5], s[0], s[1], s[2], s[3],
        s[4], s[5], e->status);
}

int sendL2vpn(uint8_t vpnType, uint8_t* record, bool add) {
    HwScalarReq req{l2vpnObject(vpnType, add), record, 0, 1};
    return kivScalarSetApi(0, 0, &req);
}

// Its key: remote edge in addr, vfiId/vpnType/family in vrf, the sent inner
// label in extra, CE port, CE VLAN and received inner label in more.
struct L2vpnKind {
    using Node = HwRouteL2vpnNode;
    static constexpr uint32_t HwRouteGlobal::*ok = nullptr;
    static constexpr uint32_t HwRouteGlobal::*err = nullptr;
    static HwAbnKey key(const Node* e) { return hwAbnL2vpnKey(e); }
    static Node* lookup(const HwAbnKey& key) {
        HwRouteL2vpnNode k{};
        k.vfiId = uint16_t(key.vrf >> 16);
        k.vpnType = uint8_t(key.vrf >> 8);
        k.family = uint8_t(key.vrf);
        std::memcpy(k.nexthopIp, key.addr, 16);
        k.txInnerLabel = key.extra;
        k.cePort = beRead32(key.more);
        k.ceVid = beRead16(key.more + 4);
        k.rxInnerLabel = beRead32(key.more + 6);
        return hwRouteL2vpnTableLookup(&k);
    }
    static void add(Node* e) { hwUpdateL2vpnAdd(e); }
    static int del(Node* e) { return hwUpdateL2vpnDel(e); }
    static int resend(const HwAbnKey& key, uint8_t* bytes, uint32_t) { return sendL2vpn(uint8_t(key.vrf >> 8), bytes, false); }
};
using L2vpnWrites = HwEntryWrites<L2vpnKind>;

}  // namespace

int hwTranslateL2vpnNode(uint8_t* buffer, HwRouteL2vpnNode* l2vpn) {
    if (buffer == nullptr || l2vpn == nullptr) return -1;
    L2vpnPe pe;
    l2vpnTranslatePe(l2vpn, &pe);
    packL2vpn(buffer, l2vpn, pe);
    return int(kL2vpnRecLen);
}

HwAbnKey hwAbnL2vpnKey(const HwRouteL2vpnNode* e) {
    HwAbnKey k{};
    k.kind = HW_ABN_L2VPN;
    k.vrf = uint32_t(e->vfiId) << 16 | uint32_t(e->vpnType) << 8 | e->family;
    std::memcpy(k.addr, e->nexthopIp, e->family == HW_AF_INET ? 4 : 16);
    k.extra = e->txInnerLabel;
    BeWriter(k.more, sizeof k.more).u32(e->cePort).u16(e->ceVid).u32(e->rxInnerLabel);
    return k;
}

HwAbnResult hwL2vpnAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
    return L2vpnWrites::retry(key, saved, savedLen);
}

void hwL2vpnCardupReplay(HwRouteL2vpnNode* l2vpn) { L2vpnWrites::replay(l2vpn); }

void hwUpdateL2vpnAdd(HwRouteL2vpnNode* l2vpn) {
    if (l2vpn == nullptr) return;
    L2vpnPe pe;
    l2vpnTranslatePe(l2vpn, &pe);
    uint8_t record[kL2vpnRecLen];
    packL2vpn(record, l2vpn, pe);
    logL2vpn("add", l2vpn, pe);
    if (!L2vpnWrites::addable(l2vpn)) {
        LOG("add L2vpn on hardware error,status %d is error.", l2vpn->status);
        return;
    }
    const bool accepted = sendL2vpn(l2vpn->vpnType, record, true) == 0;
    LOG(accepted ? "add L2vpn on hardware success." : "add L2vpn on hardware error.");
    L2vpnWrites::addDone(l2vpn, accepted);
}

int hwUpdateL2vpnDel(HwRouteL2vpnNode* l2vpn) {
    if (l2vpn == nullptr) return -1;
    L2vpnPe pe;
    l2vpnTranslatePe(l2vpn, &pe);
    uint8_t record[kL2vpnRecLen];
    packL2vpn(record, l2vpn, pe);
    logL2vpn("del", l2vpn, pe);
    if (l2vpn->status == hwStatusAddAbnormal) {
        LOG("del L2vpn on hardware success,old status is add abnormal.");
        l2vpn->status = hwStatusIdle;
        return 0;
    }
    if (l2vpn->status != hwStatusOk && l2vpn->status != hwStatusDelAbnormal) {
        LOG("del L2vpn on hardware error,status %d is error.", l2vpn->status);
        return 0;
    }
    const bool accepted = sendL2vpn(l2vpn->vpnType, record, false) == 0;
    LOG(accepted ? "del L2vpn on hardware success." : "del L2vpn on hardware error.");
    L2vpnWrites::delDone(l2vpn, accepted, record, kL2vpnRecLen);
    return accepted ? 0 : -1;
}
