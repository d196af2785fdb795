// IPv4 route entries: the per-path records and the entry of a destination
// (the choice of its paths is the shared build of route_build.h).
#include <cstring>

#include "hwroute/debug.h"
#include "layout.h"
#include "route_build.h"
#include "route_paths.h"

uint32_t hwRouteDelDeferCnt = 0;

namespace {

using Nh = HwRouteNexthop;

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

// ---- path records ---------------------------------------------------------

// Record flags and op of one operation, counted by operation.
HwRecordKind recordKind(const Nh* src, uint32_t operation) {
    if (operation == HW_NHOP_OP_DEL) ghwRoute.InsertDelNhopCnt++;
    if (operation == HW_NHOP_OP_ADD) ghwRoute.InsertAddNhopCnt++;
    if (operation == HW_NHOP_OP_BACKUP) ghwRoute.InsertBackupNhopCnt++;
    return hwRecordKind(src, operation);
}

uint32_t pointToPointRecord(uint8_t* record, const Nh* nh, const Nh* src, uint32_t operation, HwNhopRec& r) {
    LOG("hwRouteNhopBufInsert pos route.");
    hwIp4Bytes(nh->nextHop, r.nexthopIp);
    hwIp4Bytes(nh->nextHopExt, r.ext);
    r.port = nh->ifUnit;
    r.ipPort = nh->ifUnit;
    hwInterfaceMac(nh->ifUnit, r.nextHopMac);
    std::memcpy(r.srcMac, r.nextHopMac, 6);
    r.vid = 0;
    r.protocol = nh->protoId;
    if (operation == HW_NHOP_OP_DEL && (src->extFlag & NH_EXT_VPN_WITHDRAWN)) r.flags |= HW_NHF_VPN_WITHDRAWN;
    hwCopyLabels(r, nh);
    if (hwTunnelFlagTest(r.flags)) ghwRoute.InsertPosTunnelFlagCnt++;
    return packNhopRec(record, r);
}

// The delete of a path whose neighbour record is gone: the hardware finds
// the path by its address, so the record carries what is known (address,
// interface, labels) with no link-layer data, rather than being left out
// and leaving the path in hardware.
uint32_t bareDeleteRecord(uint8_t* record, const Nh* nh, const Nh* src, HwNhopRec& r) {
    hwIp4Bytes(nh->nextHop, r.nexthopIp);
    hwIp4Bytes(src->nextHopExt, r.ext);
    r.ipPort = nh->ifUnit;
    hwInterfaceMac(nh->ifUnit, r.srcMac);
    r.protocol = nh->protoId;
    hwCopyLabels(r, src);
    return packNhopRec(record, r);
}

uint32_t neighbourRecord(uint8_t* record, const Nh* nh, const Nh* orig, uint32_t operation,
                         const SysIndexIfRecord& ifRec, HwNhopRec& r) {
    const Nh* src = orig != nullptr ? orig : nh;
    LOG("[hwRouteNhopBufInsert] to find nhop:%#x.", nh->nextHop);
    const HwArpNode* arp = hwPathNeighbour(nh);
    if (arp == nullptr) return operation == HW_NHOP_OP_DEL ? bareDeleteRecord(record, nh, src, r) : 0;
    LOG("[hwRouteNhopBufInsert] insert nhop:%#x,nVrfId:%d.", nh->nextHop, nh->nVrfId);
    hwIp4Bytes(arp->nextHop, r.nexthopIp);
    r.port = arp->outPort;
    r.ipPort = arp->ifUnit;
    std::memcpy(r.nextHopMac, arp->mac, 6);
    LOG("[hwRouteNhopBufInsert] insert nhop pCurrentArp->nextHop:%#x,pHwNexthop->port:%d,pHwNexthop->ipPort:%d.",
        arp->nextHop, r.port, r.ipPort);
    SysIndexIfRecord vlanRec{};
    const uint32_t vlanUnit = arp->subIfUnit != 0 ? arp->subIfUnit : arp->ifUnit;
    if (sysIndexTrans(vlanUnit, HW_TRANS_IF_RECORD, &vlanRec) != 0) {
        LOG("sysIndexTrans get vlan id failed.");
        vlanRec = ifRec;  // the interface record of the next hop's own unit
    }
    r.vid = uint16_t(vlanRec.word[4]);
    hwInterfaceMac(nh->ifUnit, r.srcMac);
    r.protocol = nh->protoId;
    hwIp4Bytes(src->nextHopExt, r.ext);
    hwCopyLabels(r, src);
    if (hwTunnelFlagTest(r.flags)) ghwRoute.InsertRtTunnelFlagCnt++;
    if (operation == HW_NHOP_OP_NOCHANGE && orig == nullptr) ghwRoute.InsertNoopNhopCnt++;
    LOG("[hwRouteNhopBufInsert] insert nhop info : flags=%#x,pHwNexthop->nexthopIp:%#x,pHwNexthop->port:%d,"
        "pHwNexthop->ipPort:%d,vid=%d,op=%d,mplsLabelNum=%d,protocol=%d.",
        r.flags, arp->nextHop, r.port, r.ipPort, r.vid, r.op, r.mplsLabelNum, r.protocol);
    return packNhopRec(record, r);
}

// ---- the entry build ------------------------------------------------------

struct Build4 {
    using Dest = HwRouteDest;
    using Nexthop = HwRouteNexthop;
    static int compare(const Nh* a, const Nh* b) { return hwRouteCompare(a, b); }
    static uint32_t writePath(uint8_t* record, Nh* n, uint32_t operation) { return hwWritePath(record, n, operation); }
    static void deferred() { hwRouteDelDeferCnt++; }
    static void logGroups(uint32_t removal, uint32_t kept, uint32_t add, uint32_t idle) {
        LOG("[hwRouteInsertDataToBuf]=>ip route buf on hardware:delOpSuccessCnt=%d,noOpSuccessCnt=%d,addOpFailCnt=%d,"
            "noOpFailCnt=%d",
            removal, kept, add, idle);
    }
};

}  // namespace

int hwRouteClrAllOp(uint32_t* flag) {
    if (flag == nullptr) return -1;
    *flag &= ~NH_OP_MASK;
    return 0;
}

void hwTranslateDest4Node(uint8_t* header, const HwRouteDest* dest) {
    if (header == nullptr || dest == nullptr) return;
    BeWriter w(header, HW_ROUTE4_HDR_LEN);
    w.at(HW_R4_VRID).u32(dest->vrfId);          // 4   vrId
    w.at(HW_R4_SUBNET_ADDR).u32(dest->destIp);  // 8   subnetAddr
    w.at(HW_R4_SUBNET_MASK).u32(dest->mask);    // 12  subnetMask
}

int hwRouteCompare(const HwRouteNexthop* a, const HwRouteNexthop* b) { return hwPathCompare(a, b); }

uint32_t hwRouteNhopBufInsert(uint8_t* record, HwRouteNexthop* nh, HwRouteNexthop* orig, uint32_t op) {
    if (record == nullptr || nh == nullptr) return 0;
    const HwRouteNexthop* src = orig != nullptr ? orig : nh;

    SysIndexIfRecord ifRec{};
    uint32_t endType = 0;
    if (sysIndexTrans(nh->ifUnit, HW_TRANS_IF_RECORD, &ifRec) != 0)
        LOG("sysIndexTrans get end type failed.");
    else
        endType = ifRec.word[5];

    const HwRecordKind kind = recordKind(src, op);
    HwNhopRec r{};
    r.flags = kind.flags;
    r.op = kind.op;
    if (hwIsPointToPoint(endType)) return pointToPointRecord(record, nh, src, op, r);
    return neighbourRecord(record, nh, orig, op, ifRec, r);
}

int hwRouteInsertDataToBuf(uint8_t* entry, uint32_t* len, HwRouteDest* dest) {
    if (len != nullptr) *len = 0;
    if (entry == nullptr || len == nullptr || dest == nullptr) return 0;

    HwEntryBuild<Build4> b{};
    b.d = dest;
    b.sortGroups();
    b.chooseLists();
    if (b.empty()) {
        b.markStandby();
        return 0;
    }
    LOG("[hwRouteInsertDataToBuf]=>ip route buf on hardware:oldBestCount=%d,newBestCount=%d,noActionCount=%d,"
        "bestBackOpCnt=%d",
        b.del.num, b.nw.num, b.keep.num, b.backup.num);

    const uint32_t length = HW_ROUTE4_HDR_LEN + b.writeRecords(entry + HW_ROUTE4_HDR_LEN);
    b.markStandby();
    if (b.records == 0) return 0;  // every record was left out: nothing to send

    HwRoute4Hdr hdr{};
    hdr.flags = b.headerFlags();
    hdr.nextHopNum = uint8_t(b.records);
    hdr.size = uint8_t(length / 4);  // low 8 bits; a longer entry travels alone (see the flush)
    packRoute4Hdr(entry, hdr);
    hwTranslateDest4Node(entry, dest);
    LOG("[hwRouteInsertDataToBuf]=>ip route buf on hardware:flags=%#x,vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,"
        "nextHopNum=%d,size=%d,bufLen=%d",
        hdr.flags, dest->vrfId, dest->destIp, dest->mask, hdr.nextHopNum, hdr.size, length);
    *len = length;
    return 0;
}
