// ILM hardware entries: the translation of an incoming-label entry into its
// hardware record (objects 156 add, 157 delete) and the writers that move its
// status.
//
// Status moves:
//   add     2, 4 -> platform add: 1 accepted / 4 refused (error counter + 1)
//   add     5    -> 1, no call (still in hardware from the refused delete)
//   add     1, 3 -> unchanged, error line
//   delete  1, 5 -> platform delete: 2 accepted / 5 refused (error counter + 1)
//   delete  4    -> 2, no call
//   delete  2, 3 -> unchanged, error line, result 0
#include <cstring>

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

void hwUpdateIlmRouteAdd(HwRouteIlmNode* ilm) {
    if (ilm == nullptr) return;
    IlmHw e;
    translate(ilm, &e);
    uint8_t buf[HW_ILM_BUF_MAX];
    const uint32_t len = packIlmHwBuf(buf, e.hdr, e.rec);
    logEntry("hwUpdateIlmRouteAdd", "add", ilm, e, len);
    switch (ilm->status) {
        case hwStatusDelAbnormal:
            LOG("[hwUpdateIlmRouteAdd]=>add Ilm on hardware success,old status is add abnormal.");
            ilm->status = hwStatusOk;
            return;
        case hwStatusIdle:
        case hwStatusAddAbnormal:
            if (hwSendEntries(HW_OBJ_ILM_ADD, buf, len) != 0) {
                LOG("[hwUpdateIlmRouteAdd]=>add Ilm route on hardware error.");
                ilm->status = hwStatusAddAbnormal;
                ghwRoute.hwErrIlmCnt++;
                return;
            }
            LOG("[hwUpdateIlmRouteAdd]=>add Ilm route on hardware success.");
            ilm->status = hwStatusOk;
            ghwRoute.hwOkIlmCnt++;
            return;
        default:
            LOG("[hwUpdateIlmRouteAdd]=>add Ilm route on hardware error,status %d is error.", ilm->status);
            return;
    }
}

int hwUpdateIlmRouteDel(HwRouteIlmNode* ilm) {
    if (ilm == nullptr) return -1;
    IlmHw e;
    translate(ilm, &e);
    uint8_t buf[HW_ILM_BUF_MAX];
    const uint32_t len = packIlmHwBuf(buf, e.hdr, e.rec);
    logEntry("hwUpdateIlmRouteDel", "del", ilm, e, len);
    switch (ilm->status) {
        case hwStatusAddAbnormal:
            LOG("[hwUpdateIlmRouteDel]=>del Ilm route on hardware success,old status is add abnormal.");
            ilm->status = hwStatusIdle;
            return 0;
        case hwStatusOk:
        case hwStatusDelAbnormal:
            if (hwSendEntries(HW_OBJ_ILM_DEL, buf, len) != 0) {
                LOG("[hwUpdateIlmRouteDel]=>del Ilm on hardware error.");
                ilm->status = hwStatusDelAbnormal;
                ghwRoute.hwErrIlmCnt++;
                return -1;
            }
            LOG("[hwUpdateIlmRouteDel]=>del Ilm on hardware success.");
            // A refused delete left the entry (and its ok count) in hardware: lowered once, here.
            ilm->status = hwStatusIdle;
            ghwRoute.hwOkIlmCnt--;
            return 0;
        default:
            LOG("[hwUpdateIlmRouteDel]=>del Ilm on hardware error,status %d is error.", ilm->status);
            return 0;
    }
}

// ---- Layer-2 VPN entries -----------------------------------------------------
//
// The record (56 bytes) goes to the platform as it is: the request's data
// word points at it, with no octet around it. Status moves as for ILM
// entries above, without counters.

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

int sendL2vpn(HwRouteL2vpnNode* e, uint8_t* record, bool add) {
    HwScalarReq req{l2vpnObject(e->vpnType, add), record, 0, 1};
    return kivScalarSetApi(0, 0, &req);
}

}  // namespace

int hwTranslateL2vpnNode(uint8_t* buffer, HwRouteL2vpnNode* l2vpn) {
    if (buffer == nullptr || l2vpn == nullptr) return -1;
    L2vpnPe pe;
    l2vpnTranslatePe(l2vpn, &pe);
    packL2vpn(buffer, l2vpn, pe);
    return int(kL2vpnRecLen);
}

void hwUpdateL2vpnAdd(HwRouteL2vpnNode* l2vpn) {
    if (l2vpn == nullptr) return;
    L2vpnPe pe;
    l2vpnTranslatePe(l2vpn, &pe);
    uint8_t record[kL2vpnRecLen];
    packL2vpn(record, l2vpn, pe);
    logL2vpn("add", l2vpn, pe);
    switch (l2vpn->status) {
        case hwStatusDelAbnormal:
            LOG("add L2vpn on hardware success,old status is add abnormal.");
            l2vpn->status = hwStatusOk;
            return;
        case hwStatusIdle:
        case hwStatusAddAbnormal:
            if (sendL2vpn(l2vpn, record, true) != 0) {
                LOG("add L2vpn on hardware error.");
                l2vpn->status = hwStatusAddAbnormal;
                return;
            }
            LOG("add L2vpn on hardware success.");
            l2vpn->status = hwStatusOk;
            return;
        default:
            LOG("add L2vpn on hardware error,status %d is error.", l2vpn->status);
            return;
    }
}

int hwUpdateL2vpnDel(HwRouteL2vpnNode* l2vpn) {
    if (l2vpn == nullptr) return -1;
    L2vpnPe pe;
    l2vpnTranslatePe(l2vpn, &pe);
    uint8_t record[kL2vpnRecLen];
    packL2vpn(record, l2vpn, pe);
    logL2vpn("del", l2vpn, pe);
    switch (l2vpn->status) {
        case hwStatusAddAbnormal:
            LOG("del L2vpn on hardware success,old status is add abnormal.");
            l2vpn->status = hwStatusIdle;
            return 0;
        case hwStatusOk:
        case hwStatusDelAbnormal:
            if (sendL2vpn(l2vpn, record, false) != 0) {
                LOG("del L2vpn on hardware error.");
                l2vpn->status = hwStatusDelAbnormal;
                return -1;
            }
            LOG("del L2vpn on hardware success.");
            l2vpn->status = hwStatusIdle;
            return 0;
        default:
            LOG("del L2vpn on hardware error,status %d is error.", l2vpn->status);
            return 0;
    }
}
