// IPv4 route entries: path comparison, the choice of the paths a destination
// deletes, adds, keeps and backs up in hardware, and the per-path records.
#include <cstring>

#include "hwroute/debug.h"
#include "layout.h"
#include "route_paths.h"

uint32_t hwRouteDelDeferCnt = 0;

namespace {

using Nh = HwRouteNexthop;
using Group = HwPathList<Nh, HW_MAX_SET>;
using Wide = HwPathList<Nh, 2 * HW_MAX_SET>;

int cmpPaths(const Nh* a, const Nh* b) { return hwRouteCompare(a, b); }

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

// ---- path comparison ----------------------------------------------------

// Protocol 3 carries its preference in the weight; every other protocol's
// preference is the platform's (0 when it has none).
uint32_t protoPreference(const Nh* n) {
    if (n->protoId == HW_PROTO_BOOT) return n->weight;
    uint32_t pref = 0;
    if (kivScalarGetApi(n->protoId, HW_ATTR_PROTO_PREF, &pref) != 0) pref = 0;
    return pref;
}

int better(bool aWins) { return aWins ? 1 : -1; }

// ---- path records ---------------------------------------------------------

struct RecordKind {
    uint32_t flags;
    uint8_t op;
};

// Record flags and op of one operation, from the bits of the path the record
// speaks for (the indirect path when there is one).
RecordKind recordKind(const Nh* src, uint32_t operation) {
    const uint32_t f = src->flag;
    const bool labelled = (f & NH_OP_VPN_ADD) || src->mplsLabelNum != 0;
    switch (operation) {
        case HW_NHOP_OP_DEL: {
            ghwRoute.InsertDelNhopCnt++;
            uint32_t flags = 0;
            if (f & (NH_OP_DEL | NH_NEIGH_LOST | NH_OP_BACKUP)) flags |= HW_NHF_PATH;
            if (f & NH_VPN) flags |= HW_NHF_LABEL;
            return {flags, HW_REC_OP_DEL};
        }
        case HW_NHOP_OP_ADD:
            ghwRoute.InsertAddNhopCnt++;
            return {HW_NHF_PATH | (labelled ? HW_NHF_LABEL : 0), HW_REC_OP_ADD};
        case HW_NHOP_OP_BACKUP:
            ghwRoute.InsertBackupNhopCnt++;
            return {HW_NHF_PATH | (labelled ? HW_NHF_LABEL : 0), HW_REC_OP_BACKUP};
        default:  // no change
            if (f & NH_OP_VPN_ADD) return {HW_NHF_LABEL, HW_REC_OP_ADD};
            if (f & NH_VPN_DELETED) return {HW_NHF_LABEL, HW_REC_OP_DEL};
            return {HW_NHF_PATH, HW_REC_OP_NONE};
    }
}

bool tunnelFlagTest(uint32_t flags) {
    return (flags & HW_NHF_TUNNEL) || !(flags & (HW_NHF_PATH | HW_NHF_LABEL | HW_NHF_NEIGHBOUR));
}

void copyLabels(HwNhopRec& r, const Nh* from) {
    const uint32_t words[HW_MAX_LABELS] = {from->label1, from->label2, from->label3};
    r.mplsLabelNum = from->mplsLabelNum <= HW_MAX_LABELS ? from->mplsLabelNum : HW_MAX_LABELS;
    for (uint32_t i = 0; i < HW_MAX_LABELS; ++i) r.labels[i] = words[i];
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
    copyLabels(r, nh);
    if (tunnelFlagTest(r.flags)) ghwRoute.InsertPosTunnelFlagCnt++;
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
    copyLabels(r, src);
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
    copyLabels(r, src);
    if (tunnelFlagTest(r.flags)) ghwRoute.InsertRtTunnelFlagCnt++;
    if (operation == HW_NHOP_OP_NOCHANGE && orig == nullptr) ghwRoute.InsertNoopNhopCnt++;
    LOG("[hwRouteNhopBufInsert] insert nhop info : flags=%#x,pHwNexthop->nexthopIp:%#x,pHwNexthop->port:%d,"
        "pHwNexthop->ipPort:%d,vid=%d,op=%d,mplsLabelNum=%d,protocol=%d.",
        r.flags, arp->nextHop, r.port, r.ipPort, r.vid, r.op, r.mplsLabelNum, r.protocol);
    return packNhopRec(record, r);
}

// ---- the entry build ------------------------------------------------------

struct EntryBuild {
    HwRouteDest* d;
    // Groups sorted from the next-hop list.
    Group removal, kept, add, idle;
    // Lists chosen from them.
    Group bestAdd, bestIdle, backup, keep, promoted;
    Wide del, nw;
    // Paths whose add or backup record was written.
    Wide sent;
    // Records written: the header's nextHopNum.
    uint32_t records = 0;
};

void deferDelete(Nh* n) {
    n->flag |= NH_DEL_DEFERRED;
    hwRouteDelDeferCnt++;
}

// Step 1: sort every next hop into the removal, kept, add and idle groups.
// A full removal group defers the delete (the path stays as it is and goes
// out with a later batch); a full add group makes the candidate a standby;
// full kept and idle groups leave their paths as they are.
void sortGroups(EntryBuild& b) {
    for (Nh* n : hwListOf<&Nh::destLink>(&b.d->nhopList)) {
        // Both marks belong to one build: a push-out decided by a build whose
        // batch was refused is decided again here (left standing, it would
        // have the path settled as removed while the hardware still holds it).
        n->flag &= ~(NH_DEL_DEFERRED | NH_OP_BACKUP);
        const uint32_t f = n->flag;
        const bool present = f & (NH_HW_OK | NH_VPN);
        const bool leaving = f & (NH_OP_DEL | NH_NEIGH_LOST | NH_VPN_DELETED);
        if (present && leaving) {
            if (!b.removal.push(n)) deferDelete(n);
        } else if (present && !(f & NH_OP_VPN_ADD)) {
            b.kept.push(n);
        }
        // A leaving path is never a candidate, whatever add mark it carries
        // (a neighbour change marks every path through it).
        if (!(f & NH_RESOLVED) || (f & (NH_OP_DEL | NH_NEIGH_LOST))) continue;
        if ((f & NH_HW_OK) && !((f & NH_OP_VPN_ADD) && !(f & NH_VPN))) continue;
        if (f & (NH_OP_ADD | NH_OP_VPN_ADD)) {
            if (!b.add.push(n)) n->flag |= NH_STANDBY;
        } else {
            b.idle.push(n);
        }
    }
    LOG("[hwRouteInsertDataToBuf]=>ip route buf on hardware:delOpSuccessCnt=%d,noOpSuccessCnt=%d,addOpFailCnt=%d,"
        "noOpFailCnt=%d",
        b.removal.num, b.kept.num, b.add.num, b.idle.num);
}

// An idle path joins the adds: it is marked for addition, labels included.
template <uint32_t Cap>
void promote(EntryBuild& b, const HwPathList<Nh, Cap>& paths) {
    for (uint32_t i = 0; i < paths.num; ++i) {
        Nh* n = paths.item[i];
        n->flag |= NH_OP_ADD;
        if (n->mplsLabelNum != 0) n->flag |= NH_OP_VPN_ADD;
        b.promoted.push(n);
        b.nw.push(n);
    }
}

// Better new paths push the kept ones out. Each departing path is deleted and
// marked to compete again once it is out. With fast reroute on, the first of
// them stays in hardware as the backup path instead: it keeps its present
// state (no NH_OP_BACKUP), so a later removal of it still reaches the
// hardware; the others are deleted all the same, never dropped silently.
void pushOutKept(EntryBuild& b) {
    for (uint32_t i = 0; i < b.kept.num; ++i) {
        Nh* n = b.kept.item[i];
        if (iprouteFrr != 0 && i == 0) {
            b.backup.num = 0;
            b.backup.push(n);
            continue;
        }
        n->flag |= NH_OP_BACKUP;
        b.del.push(n);
    }
}

// Steps 2 and 3: the best sets and the lists to delete, add, keep and back up.
void chooseLists(EntryBuild& b) {
    b.del.append(b.removal);
    hwBestSetOf(b.add, b.bestAdd, cmpPaths);
    if (iprouteFrr != 0) {
        Group losers;
        for (uint32_t i = 0; i < b.add.num; ++i)
            if (!b.bestAdd.contains(b.add.item[i])) losers.push(b.add.item[i]);
        hwBestSetOf(losers, b.backup, cmpPaths);
    }
    hwBestSetOf(b.idle, b.bestIdle, cmpPaths);

    if (b.bestAdd.num == 0) {
        if (b.kept.num != 0) {
            b.keep.append(b.kept);
        } else if (b.bestIdle.num != 0 && b.del.num != 0) {
            promote(b, b.bestIdle);  // standby paths replace the departing ones
        }
        return;
    }
    if (b.kept.num == 0) {
        const int c = b.bestIdle.num != 0 ? cmpPaths(b.bestAdd.first(), b.bestIdle.first()) : 1;
        if (c >= 0) b.nw.append(b.bestAdd);
        if (c <= 0) promote(b, b.bestIdle);
        return;
    }
    const int c = cmpPaths(b.bestAdd.first(), b.kept.first());
    if (c == 0) {
        b.nw.append(b.bestAdd);
        b.keep.append(b.kept);
    } else if (c > 0) {
        b.nw.append(b.bestAdd);
        pushOutKept(b);
    } else if (iprouteFrr == 0) {
        b.keep.append(b.kept);
    } else {
        b.nw.push(b.kept.first());
        b.backup.num = 0;
        b.backup.push(b.bestAdd.first());
    }
}

uint32_t headerFlags(const EntryBuild& b) {
    const uint32_t d = b.del.num, a = b.nw.num, k = b.keep.num;
    uint32_t flags = 0;
    if (d + k >= 2) flags |= HW_HDR_MULTI_BEFORE;
    if (a >= 2 || (a == 1 && k >= 1) || (d >= 1 && k >= 2)) flags |= HW_HDR_MULTI_AFTER;
    if (d == 1 && k >= 1 && (b.del.item[0]->flag & NH_OP_HW_DEL)) flags |= HW_HDR_LOST_ONE;
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
// records written, so the entry describes exactly what it carries.
uint32_t writeRecords(EntryBuild& b, uint8_t* at) {
    uint32_t len = 0;
    auto put = [&](Nh* n, uint32_t operation) {
        const uint32_t l = hwWritePath(at + len, n, operation);
        len += l;
        if (l != 0) b.records++;
        return l != 0;
    };
    for (uint32_t i = 0; i < b.del.num; ++i) put(b.del.item[i], HW_NHOP_OP_DEL);
    // The kept paths stay, so the adds get only the room they leave under
    // the cap; the others wait as standbys.
    const uint32_t room = hwEcmpCap() > b.keep.num ? hwEcmpCap() - b.keep.num : 0;
    const uint32_t adds = hwMin(b.nw.num, room);
    for (uint32_t i = 0; i < adds; ++i)
        if (put(b.nw.item[i], HW_NHOP_OP_ADD)) b.sent.push(b.nw.item[i]);
    if (iprouteFrr != 0) {
        for (uint32_t i = 0; i < b.backup.num; ++i)
            if (put(b.backup.item[i], HW_NHOP_OP_BACKUP)) b.sent.push(b.backup.item[i]);
    }
    for (uint32_t i = 0; i < b.keep.num; ++i) put(b.keep.item[i], HW_NHOP_OP_NOCHANGE);
    return len;
}

// After a successful batch the settlement marks every resolved add candidate
// present unless it is a standby. So every candidate whose add (or backup)
// record did not go out - beaten by a better path, beyond the path cap, or
// left out for want of a neighbour - is a standby, and every one that did go
// out is not (a standby mark from an earlier, refused build must not hide a
// path that is now in hardware).
void markStandby(EntryBuild& b) {
    auto mark = [&b](Nh* n) {
        if (b.sent.contains(n))
            n->flag &= ~NH_STANDBY;
        else
            n->flag |= NH_STANDBY;
    };
    for (uint32_t i = 0; i < b.add.num; ++i) mark(b.add.item[i]);
    for (uint32_t i = 0; i < b.promoted.num; ++i) mark(b.promoted.item[i]);
}

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

int hwRouteCompare(const HwRouteNexthop* a, const HwRouteNexthop* b) {
    if (b == nullptr) return 1;
    if (a == nullptr) return -1;
    // 1. The interface state: the larger wins.
    if (a->ifState != b->ifState) return better(a->ifState > b->ifState);
    // 2. A pending label addition wins.
    const bool aVpn = a->flag & NH_OP_VPN_ADD, bVpn = b->flag & NH_OP_VPN_ADD;
    if (aVpn != bVpn) return better(aVpn);
    // 3. Different protocols: the smaller preference, then the smaller protocol id.
    if (a->protoId != b->protoId) {
        const uint32_t pa = protoPreference(a), pb = protoPreference(b);
        if (pa != pb) return better(pa < pb);
        return better(a->protoId < b->protoId);
    }
    // 4. Same protocol: the smaller weight; equal weights are equal paths.
    if (a->weight != b->weight) return better(a->weight < b->weight);
    return 0;
}

uint32_t hwRouteNhopBufInsert(uint8_t* record, HwRouteNexthop* nh, HwRouteNexthop* orig, uint32_t op) {
    if (record == nullptr || nh == nullptr) return 0;
    const HwRouteNexthop* src = orig != nullptr ? orig : nh;

    SysIndexIfRecord ifRec{};
    uint32_t endType = 0;
    if (sysIndexTrans(nh->ifUnit, HW_TRANS_IF_RECORD, &ifRec) != 0)
        LOG("sysIndexTrans get end type failed.");
    else
        endType = ifRec.word[5];

    const RecordKind kind = recordKind(src, op);
    HwNhopRec r{};
    r.flags = kind.flags;
    r.op = kind.op;
    if (hwIsPointToPoint(endType)) return pointToPointRecord(record, nh, src, op, r);
    return neighbourRecord(record, nh, orig, op, ifRec, r);
}

int hwRouteInsertDataToBuf(uint8_t* entry, uint32_t* len, HwRouteDest* dest) {
    if (len != nullptr) *len = 0;
    if (entry == nullptr || len == nullptr || dest == nullptr) return 0;

    EntryBuild b{};
    b.d = dest;
    sortGroups(b);
    chooseLists(b);

    const uint32_t d = b.del.num, a = b.nw.num, k = b.keep.num, bk = b.backup.num;
    if (d == 0 && a == 0 && k == 0) {
        markStandby(b);
        return 0;
    }
    LOG("[hwRouteInsertDataToBuf]=>ip route buf on hardware:oldBestCount=%d,newBestCount=%d,noActionCount=%d,"
        "bestBackOpCnt=%d",
        d, a, k, bk);

    const uint32_t length = HW_ROUTE4_HDR_LEN + writeRecords(b, entry + HW_ROUTE4_HDR_LEN);
    markStandby(b);
    if (b.records == 0) return 0;  // every record was left out: nothing to send

    HwRoute4Hdr hdr{};
    hdr.flags = headerFlags(b);
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
