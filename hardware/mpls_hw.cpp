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

// Not built yet: layer-2 VPN entries are accepted and left alone.
int hwTranslateL2vpnNode(uint8_t* /*buffer*/, HwRouteL2vpnNode* /*l2vpn*/) { return 0; }
void hwUpdateL2vpnAdd(HwRouteL2vpnNode* /*l2vpn*/) {}
int hwUpdateL2vpnDel(HwRouteL2vpnNode* /*l2vpn*/) { return 0; }
