// IPv6 route entries: the 36-byte header, the per-path records (full 16-byte
// addresses, completed from ND6 neighbours) and the entry of a destination,
// built with the path choice shared with IPv4 (route_build.h); and the
// single-path write of an IPv6 route whose next hop is an IPv4 address.
#include <cstring>

#include "hwroute/abnormal.h"
#include "hwroute/debug.h"
#include "hwroute/intake.h"
#include "layout.h"
#include "path_record.h"
#include "route6_paths.h"
#include "route_build.h"
#include "route_paths.h"

uint32_t hwRoute6DelDeferCnt = 0;

namespace {

using Nh6 = HwRoute6Nexthop;

// Address texts are formatted only for lines that are written.
#define LOG(...)                                                                        \
    do {                                                                                \
        if (hwRouteDebugOn(HW_DBG_MOD, HW_DBG_ROUTE)) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__); \
    } while (0)

// The text of a next hop: dotted for an IPv4 next hop, IPv6 text otherwise.
const char* nexthopText(const Nh6* n, char* buf4) {
    if (n->afNextHop != HW_AF_INET) return ip6_sprintf(n->nextHop);
    const uint32_t a = (uint32_t(n->nextHop[0]) << 24) | (uint32_t(n->nextHop[1]) << 16) |
                       (uint32_t(n->nextHop[2]) << 8) | n->nextHop[3];
    return inet_ntoa_2(buf4, a);
}

// The IPv6 family's neighbour lookup, log lines and counters.
struct Rec6 {
    using Nexthop = Nh6;
    static bool neighbour(const Nh6* nh, HwPathNeighbour* out) { return hwPath6Neighbour(nh, out); }
    static void note(HwRecStep step, const Nh6* nh, const Nh6*, uint32_t, const HwNhopRec&) {
        char text[16];
        switch (step) {
            case HwRecStep::PointToPoint:
                LOG("hwRoute6NhopBufInsert pos route.");
                break;
            case HwRecStep::Find:
                LOG("[hwRoute6NhopBufInsert] to find nhop:%s.", nexthopText(nh, text));
                break;
            case HwRecStep::Found:
                LOG("[hwRoute6NhopBufInsert] insert nhop:%s,nVrfId:%d.", nexthopText(nh, text), nh->nVrfId);
                break;
            case HwRecStep::NoVlan:
                LOG("sysIndexTrans get vlan id failed.");
                break;
            default:
                break;
        }
    }
};
using Record6 = HwPathRecord<Rec6>;

// A path's record; an indirect path through the next hop that reaches it.
uint32_t writePath6(uint8_t* record, Nh6* n, uint32_t operation) {
    if (!(n->flag & NH_INDIRECT)) return hwRoute6NhopBufInsert(record, n, nullptr, operation);
    const uint32_t vrf = n->pDestEntry != nullptr ? n->pDestEntry->vrfId : n->nVrfId;
    Nh6* real = hwRoute6IndirectNhopLookup(vrf, n->nextHop);
    if (real == nullptr) return 0;
    return hwRoute6NhopBufInsert(record, real, n, operation);
}

struct Build6 {
    using Dest = HwRoute6Dest;
    using Nexthop = HwRoute6Nexthop;
    static int compare(const Nh6* a, const Nh6* b) { return hwRoute6Compare(a, b); }
    static uint32_t writePath(uint8_t* record, Nh6* n, uint32_t operation) { return writePath6(record, n, operation); }
    static void deferred() { hwRoute6DelDeferCnt++; }
    static void logGroups(uint32_t, uint32_t, uint32_t, uint32_t) {}  // the IPv6 build logs no classification
    static constexpr uint32_t kHdrLen = HW_ROUTE6_HDR_LEN;
    static void logLists(uint32_t del, uint32_t add, uint32_t keep, uint32_t backup) {
        LOG("[hwRoute6InsertDataToBuf]=>ip route buf on hardware:oldBestCount=%d,newBestCount=%d,noActionCount=%d,"
            "bestBackOpCnt=%d",
            del, add, keep, backup);
    }
    static void header(uint8_t* entry, const HwRoute6Dest* dest, uint32_t flags, uint32_t records, uint32_t length);
};

void header6(uint8_t* entry, const HwRoute6Dest* dest, uint32_t flags, uint32_t nextHopNum, uint32_t length) {
    HwRoute6Hdr hdr{};
    hdr.flags = flags;
    hdr.nextHopNum = uint8_t(nextHopNum);
    hdr.size = uint8_t(length / 4);  // low 8 bits; a longer entry travels alone (see the flush)
    packRoute6Hdr(entry, hdr);
    hwTranslateDest6Node(entry, dest);
}

void Build6::header(uint8_t* entry, const HwRoute6Dest* dest, uint32_t flags, uint32_t records, uint32_t length) {
    header6(entry, dest, flags, records, length);
    LOG("[hwRoute6InsertDataToBuf]=>ip6 route buf on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,nextHopNum=%d,"
        "size=%d,bufLen=%d",
        dest->vrfId, ip6_sprintf(dest->destIpAddr), dest->prefixLen, records, (length / 4) & 0xff, length);
}

}  // namespace

void hwTranslateDest6Node(uint8_t* header, const HwRoute6Dest* dest) {
    if (header == nullptr || dest == nullptr) return;
    BeWriter w(header, HW_ROUTE6_HDR_LEN);
    w.at(HW_R6_VRID).u32(dest->vrfId);                     // 4   vrId
    w.at(HW_R6_SUBNET_ADDR).bytes(dest->destIpAddr, 16);   // 8   subnetAddr
    w.at(HW_R6_SUBNET_MASK_LEN).u8(dest->prefixLen);       // 24  subnetMaskLen
}

int hwRoute6Compare(const HwRoute6Nexthop* a, const HwRoute6Nexthop* b) { return hwPathCompare(a, b); }

uint32_t hwRoute6NhopBufInsert(uint8_t* record, HwRoute6Nexthop* nh, HwRoute6Nexthop* orig, uint32_t op) {
    if (record == nullptr || nh == nullptr) return 0;
    const HwRoute6Nexthop* src = orig != nullptr ? orig : nh;

    // Unlike IPv4, a path whose interface kind is unknown is left out - but
    // not its delete, which goes out with what is known (a deliberate
    // departure: left out, the path would stay in hardware for good once its
    // interface is gone).
    SysIndexIfRecord ifRec{};
    if (sysIndexTrans(nh->ifUnit, HW_TRANS_IF_RECORD, &ifRec) != 0) {
        LOG("sysIndexTrans get end type failed.");
        if (op != HW_NHOP_OP_DEL) return 0;
    }
    const HwRecordKind kind = hwRecordKind(src, op);
    HwNhopRec r{};
    r.flags = kind.flags;
    r.op = kind.op;
    if (hwIsPointToPoint(ifRec.word[5])) return Record6::pointToPoint(record, nh, src, op, r);
    return Record6::withNeighbour(record, nh, orig, op, ifRec, r);
}

int hwRoute6InsertDataToBuf(uint8_t* entry, uint32_t* len, HwRoute6Dest* dest) {
    return HwEntryBuild<Build6>::build(entry, len, dest);
}

// An IPv6 route over an IPv4 next hop: one path, completed from the ARP
// record of the next hop's VRF and address when that is in hardware
// (nothing is sent without it). The operation bits are cleared whatever the
// answer: a refused add is not the flush's to retry but the abnormal table's,
// which writes the destination again from its paths as they are then.
void hwUpdateRoute6In4Add(HwRoute6Nexthop* x) {
    if (x == nullptr || x->pDestEntry == nullptr) return;
    HwRoute6Dest* d = x->pDestEntry;
    uint8_t buf[HW_ROUTE6_HDR_LEN + HW_NHOP_REC_LEN + HW_MAX_LABELS * HW_LABEL_REC_LEN] = {};
    uint32_t len = HW_ROUTE6_HDR_LEN;

    const uint32_t a = (uint32_t(x->nextHop[0]) << 24) | (uint32_t(x->nextHop[1]) << 16) |
                       (uint32_t(x->nextHop[2]) << 8) | x->nextHop[3];
    const HwArpNode* arp = hwArpFind(x->nVrfId, a);
    if (arp != nullptr && arp->status == hwStatusOk) {
        HwNhopRec r{};
        r.flags = HW_NHF_PATH | (((x->flag & NH_OP_VPN_ADD) || x->mplsLabelNum != 0) ? HW_NHF_LABEL : 0);
        std::memcpy(r.nexthopIp, x->nextHop, 4);
        r.port = arp->outPort;
        r.ipPort = arp->ifUnit;
        std::memcpy(r.nextHopMac, arp->mac, 6);
        SysIndexIfRecord vlanRec{};
        if (sysIndexTrans(arp->subIfUnit != 0 ? arp->subIfUnit : arp->ifUnit, HW_TRANS_IF_RECORD, &vlanRec) != 0) {
            LOG("sysIndexTrans get vlan id failed.");
            return;
        }
        r.vid = uint16_t(vlanRec.word[4]);
        hwInterfaceMac(x->ifUnit, r.srcMac);
        r.op = HW_REC_OP_ADD;
        hwCopyLabels(r, x);
        len += packNhopRec(buf + len, r);
    }
    if (len == HW_ROUTE6_HDR_LEN) {
        // No record can be made: an entry counts only the records it carries,
        // so nothing is sent (the path waits for its neighbour's add).
        LOG("[hwUpdateRoute6In4Add]=>no resolved neighbour, nothing sent.");
        hwRouteClrAllOp(&x->flag);
        return;
    }
    header6(buf, d, 0, 1, len);
    LOG("[hwUpdateRoute6In4Add]=>add ipv6 route to hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d.", d->vrfId,
        ip6_sprintf(d->destIpAddr), d->prefixLen);
    if (hwSendEntries(HW_OBJ_ROUTE6, buf, len) == 0) {
        LOG("[hwUpdateRoute6In4Add]=>add ipv6 route to hardware success.");
        ghwRoute.hwRoute6A5Cnt++;
        if (!(x->flag & NH_HW_OK)) {  // the in-hardware counts follow the flag
            x->flag |= NH_HW_OK;
            ghwRoute.hwOkRoute6Cnt++;
            hwRoute6ProtoCount(d, x, +1);
        }
    } else {
        LOG("[hwUpdateRoute6In4Add]=>add ipv6 route to hardware error.");
        ghwRoute.hwErrRoute6Cnt++;
        hwAbnormalQueue(hwAbnRoute6Key(d->vrfId, d->destIpAddr, d->prefixLen));
    }
    hwRouteClrAllOp(&x->flag);
}
