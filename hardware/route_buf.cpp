// IPv4 route entries: the per-path records and the entry of a destination
// (the choice of its paths is the shared build of route_build.h).
#include <cstring>

#include "hwroute/debug.h"
#include "layout.h"
#include "path_record.h"
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

// The IPv4 neighbour of a path, and the family's log lines and counters.
struct Rec4 {
    using Nexthop = Nh;
    static bool neighbour(const Nh* nh, HwPathNeighbour* out) {
        const HwArpNode* arp = hwPathNeighbour(nh);
        if (arp == nullptr) return false;
        *out = {{}, arp->outPort, arp->ifUnit, arp->subIfUnit, {}};
        hwIp4Bytes(arp->nextHop, out->address);
        std::memcpy(out->mac, arp->mac, 6);
        return true;
    }
    // The neighbour record is found by the next hop's address, so nh->nextHop
    // is the neighbour's address in the lines below.
    static void note(HwRecStep step, const Nh* nh, const Nh* orig, uint32_t operation, const HwNhopRec& r) {
        switch (step) {
            case HwRecStep::PointToPoint:
                LOG("hwRouteNhopBufInsert pos route.");
                break;
            case HwRecStep::PointToPointDone:
                if (hwTunnelFlagTest(r.flags)) ghwRoute.InsertPosTunnelFlagCnt++;
                break;
            case HwRecStep::Find:
                LOG("[hwRouteNhopBufInsert] to find nhop:%#x.", nh->nextHop);
                break;
            case HwRecStep::Found:
                LOG("[hwRouteNhopBufInsert] insert nhop:%#x,nVrfId:%d.", nh->nextHop, nh->nVrfId);
                break;
            case HwRecStep::Filled:
                LOG("[hwRouteNhopBufInsert] insert nhop pCurrentArp->nextHop:%#x,pHwNexthop->port:%d,"
                    "pHwNexthop->ipPort:%d.",
                    nh->nextHop, r.port, r.ipPort);
                break;
            case HwRecStep::NoVlan:
                LOG("sysIndexTrans get vlan id failed.");
                break;
            case HwRecStep::Done:
                if (hwTunnelFlagTest(r.flags)) ghwRoute.InsertRtTunnelFlagCnt++;
                if (operation == HW_NHOP_OP_NOCHANGE && orig == nullptr) ghwRoute.InsertNoopNhopCnt++;
                LOG("[hwRouteNhopBufInsert] insert nhop info : flags=%#x,pHwNexthop->nexthopIp:%#x,pHwNexthop->port:%d,"
                    "pHwNexthop->ipPort:%d,vid=%d,op=%d,mplsLabelNum=%d,protocol=%d.",
                    r.flags, nh->nextHop, r.port, r.ipPort, r.vid, r.op, r.mplsLabelNum, r.protocol);
                break;
        }
    }
};
using Record4 = HwPathRecord<Rec4>;

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
    static constexpr uint32_t kHdrLen = HW_ROUTE4_HDR_LEN;
    static void logLists(uint32_t del, uint32_t add, uint32_t keep, uint32_t backup) {
        LOG("[hwRouteInsertDataToBuf]=>ip route buf on hardware:oldBestCount=%d,newBestCount=%d,noActionCount=%d,"
            "bestBackOpCnt=%d",
            del, add, keep, backup);
    }
    static void header(uint8_t* entry, const HwRouteDest* dest, uint32_t flags, uint32_t records, uint32_t length) {
        HwRoute4Hdr hdr{};
        hdr.flags = flags;
        hdr.nextHopNum = uint8_t(records);
        hdr.size = uint8_t(length / 4);  // low 8 bits; a longer entry travels alone (see the flush)
        packRoute4Hdr(entry, hdr);
        hwTranslateDest4Node(entry, dest);
        LOG("[hwRouteInsertDataToBuf]=>ip route buf on hardware:flags=%#x,vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,"
            "nextHopNum=%d,size=%d,bufLen=%d",
            hdr.flags, dest->vrfId, dest->destIp, dest->mask, hdr.nextHopNum, hdr.size, length);
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
    if (hwIsPointToPoint(endType)) return Record4::pointToPoint(record, nh, src, op, r);
    return Record4::withNeighbour(record, nh, orig, op, ifRec, r);
}

int hwRouteInsertDataToBuf(uint8_t* entry, uint32_t* len, HwRouteDest* dest) {
    return HwEntryBuild<Build4>::build(entry, len, dest);
}
