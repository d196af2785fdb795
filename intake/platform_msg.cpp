// The platform's own messages: card, slot and resend events, MPLS
// incoming-label entries, layer-2 VPNs, tunnels and the labelled-entry flush.
#include <arpa/inet.h>

#include <cstring>

#include "decoders.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/intake.h"
#include "hwroute/mpls.h"
#include "hwroute/platform.h"
#include "hwroute/route.h"

namespace {

// Platform slot and card queries that must answer as required before a
// card or slot counts as up.
constexpr uint32_t kSlotAttrReady = 0x1F40031;
constexpr uint32_t kSlotAttrAbsent = 0x1F4002A;
constexpr uint32_t kSlotScalar = 53;
constexpr uint32_t kCardAttrReady = 0x2EE002B;
constexpr uint32_t kCardAttrAbsent = 0x2EE002A;
constexpr uint32_t kCardScalar = 52;
constexpr uint32_t kCardScalarRefused = 2;
constexpr uint32_t kQueryPreset = 168;

constexpr uint16_t kIlmAdd = 129;
constexpr uint16_t kL2vpnAdd = 133;

constexpr uint32_t kLabelShift = 12;

struct CardFields {
    uint32_t sysId;
    uint32_t slotId;
    uint32_t cardId;
    uint32_t type;
};

CardFields cardFields(const uint8_t* m) {
    return {hwRdU32(m + HwCardMsg::sysId), hwRdU32(m + HwCardMsg::slotId), hwRdU32(m + HwCardMsg::cardId),
            hwRdU32(m + HwCardMsg::type)};
}

bool slotIsUp(const CardFields& c) {
    HwSlotKey key{c.sysId, c.slotId, c.type};
    uint32_t preset = kQueryPreset;
    if (kivHwSlotGet(&key, kSlotAttrReady, &preset) != 0) return false;
    if (kivHwSlotGet(&key, kSlotAttrAbsent, nullptr) == 0) return false;
    return kivHwScalarGet(0, kSlotScalar, nullptr) == 0;
}

bool cardIsUp(const CardFields& c) {
    HwCardKey key{c.sysId, c.slotId, c.cardId, c.type};
    uint32_t preset = kQueryPreset;
    if (kivHwCardGet(&key, kCardAttrReady, &preset) != 0) return false;
    if (kivHwCardGet(&key, kCardAttrAbsent, nullptr) == 0) return false;
    uint32_t state = 0;
    if (kivHwScalarGet(0, kCardScalar, &state) != 0) return false;
    return state != kCardScalarRefused;
}

// ---- Layer-2 VPN ------------------------------------------------------------

void decodeL2vpn(const uint8_t* m, HwRouteL2vpnNode* r) {
    r->vfiId = hwRdU16(m + HwL2vpnMsg::vfiId);
    r->vpnType = m[HwL2vpnMsg::vpnType];
    r->family = m[HwL2vpnMsg::family];
    r->flags = hwRdU32(m + HwL2vpnMsg::flags);
    r->cePort = hwRdU32(m + HwL2vpnMsg::cePort);
    r->ceVid = hwRdU16(m + HwL2vpnMsg::ceVid);
    r->ceEgressVid = hwRdU16(m + HwL2vpnMsg::ceEgressVid);
    r->ceEgressPri = m[HwL2vpnMsg::ceEgressPri];
    r->peEgressPri = m[HwL2vpnMsg::peEgressPri];
    r->peEgressVid = hwRdU16(m + HwL2vpnMsg::peEgressVid);
    r->txOuterLabel = hwRdU32(m + HwL2vpnMsg::txOuterLabel);
    r->txInnerLabel = hwRdU32(m + HwL2vpnMsg::txInnerLabel);
    r->rxInnerLabel = hwRdU32(m + HwL2vpnMsg::rxInnerLabel);
    r->txOuterExp = m[HwL2vpnMsg::txOuterExp];
    r->txOuterTtl = m[HwL2vpnMsg::txOuterTtl];
    r->txInnerExp = m[HwL2vpnMsg::txInnerExp];
    r->txInnerTtl = m[HwL2vpnMsg::txInnerTtl];
    if (r->family == HW_AF_INET)
        std::memcpy(r->nexthopIp, m + HwL2vpnMsg::nexthopIp, 4);
    else if (r->family == HW_AF_INET6)
        std::memcpy(r->nexthopIp, m + HwL2vpnMsg::nexthopIp, 16);
    r->status = hwStatusIdle;
}

// The public route of a pseudowire: reached through the pseudowire's next
// hop with one label, the outer label.
HwPublicRoute l2vpnPublicRoute(const uint8_t* m) {
    HwPublicRoute r{};
    r.vrfId = hwRdU32(m + HwL2vpnMsg::pubVrfId);
    r.dest = m + HwL2vpnMsg::pubDest;
    r.prefixLen = m[HwL2vpnMsg::pubPrefixLen];
    r.nextHop = m + HwL2vpnMsg::nexthopIp;
    r.ifUnit = hwRdU32(m + HwL2vpnMsg::pubIfUnit);
    r.protoId = m[HwL2vpnMsg::pubProtoId];
    r.weight = m[HwL2vpnMsg::pubWeight];
    r.labelNum = 1;
    r.labels[0] = hwRdU32(m + HwL2vpnMsg::txOuterLabel) << kLabelShift;
    r.flag = NH_L2VPN_PUBLIC;
    return r;
}

void logL2vpn(const HwRouteL2vpnNode& r) {
    char text[INET6_ADDRSTRLEN];
    if (r.family == HW_AF_INET6) {
        if (inet_ntop(AF_INET6, r.nexthopIp, text, sizeof text) == nullptr) text[0] = '\0';
    } else {
        inet_ntoa_2(text, hwRdAddr4(r.nexthopIp));
    }
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE,
                 "[hwRtnotifyRecv]=>l2vpn: nextHop=%s,vfiId=%d,vpnType=%d,family=%d,flags=0x%x,cePort=%d,ceVid=%d,"
                 "ceEgressVid=%d,ceEgressPri=%d,peEgressPri=%d,peEgressVid=%d,txOuterLabel=%d,txInnerLabel=%d,"
                 "rxInnerLabel=%d,txOuterExp=%d,txOuterTtl=%d,txInnerExp=%d,txInnerTtl=%d.",
                 text, r.vfiId, r.vpnType, r.family, r.flags, r.cePort, r.ceVid, r.ceEgressVid, r.ceEgressPri,
                 r.peEgressPri, r.peEgressVid, r.txOuterLabel, r.txInnerLabel, r.rxInnerLabel, r.txOuterExp,
                 r.txOuterTtl, r.txInnerExp, r.txInnerTtl);
}

// ---- Flush of every labelled entry ----------------------------------------

// Walk a next-hop bucket whose records the body may free, the current one
// or any other: a private path's delete can free its public route, wherever
// that sits. A marker linked right behind the current record keeps the
// place, since unlinking the records around it leaves it in the list; no
// other walk of the bucket runs while the body does.
template <auto Link, class Fn>
void eachFreeingAnyOf(HwListLink* bucket, Fn fn) {
    HwListLink marker;
    for (HwListLink* cur = bucket->next; cur != bucket;) {
        hwListInsertAfter(cur, &marker);
        fn(ownerOf<Link>(cur));
        cur = marker.next;
        hwListRemove(&marker);
    }
}

// The stored records serve as their own delete requests. The label part's
// delete never frees the path itself, so its flag is still there to read.
void flushLabelledRoutes4() {
    for (HwListLink& bucket : ghwRoute.nexthopTable) {
        eachFreeingAnyOf<&HwRouteNexthop::hashLink>(&bucket, [](HwRouteNexthop* nh) {
            if (nh->mplsLabelNum == 0) return;
            hwRouteVpnDel(nh->pDestEntry, nh);
            if (nh->flag & NH_VPN_REQUEST) hwRouteRouteDel(nh->pDestEntry, nh);
        });
    }
}

void flushLabelledRoutes6() {
    for (HwListLink& bucket : ghwRoute.nexthop6Table) {
        eachFreeingAnyOf<&HwRoute6Nexthop::hashLink>(&bucket, [](HwRoute6Nexthop* nh) {
            if (nh->mplsLabelNum == 0) return;
            hwRoute6VpnDel(nh->pDestEntry, nh);
            if (nh->flag & NH_VPN_REQUEST) hwRoute6RouteDel(nh->pDestEntry, nh);
        });
    }
}

}  // namespace

void hwNotifySlotUpMsg(const HwNlMsg& msg, HwNotifyRequests* /*req*/) {
    const CardFields c = cardFields(msg.data);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "hwRtnotifyRecv slot up !sysId=%d,slotId=%d,type=%d", c.sysId, c.slotId,
                 c.type);
    if (kivSelfSysIndex() != c.sysId) return;
    if (slotIsUp(c)) ghwRoute.slotUpFlag = 1;
}

void hwNotifyCardUpMsg(const HwNlMsg& msg, HwNotifyRequests* /*req*/) {
    const CardFields c = cardFields(msg.data);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "hwRtnotifyRecv card up !sysId=%d,slotId=%d,cardId=%d,type=%d", c.sysId,
                 c.slotId, c.cardId, c.type);
    if (kivSelfSysIndex() != c.sysId) return;
    if (cardIsUp(c)) ghwRoute.cardUpFlag = 1;
}

void hwNotifyResendMsg(const HwNlMsg& msg, HwNotifyRequests* /*req*/) {
    const CardFields c = cardFields(msg.data);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "hwRtnotifyRecv RESENDROUTE !sysId=%d,slotId=%d,type=%d", c.sysId,
                 c.slotId, c.type);
    if (kivSelfSysIndex() == c.sysId) ghwRoute.resendRouteFlag = 1;
}

void hwNotifyIlmMsg(const HwNlMsg& msg, HwNotifyRequests* req) {
    const uint8_t* m = msg.data;
    HwRouteIlmNode& ilm = req->ilm;
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "hwRtnotifyRecv ilm msg.");
    if (m[HwMplsMsg::family] == HW_AF_INET) ilm.nextHop = hwRdAddr4(m + HwMplsMsg::nextHop);
    ilm.ifUnit = hwRdU32(m + HwMplsMsg::ifUnit);
    ilm.inIfUnit = hwRdU32(m + HwMplsMsg::inIfUnit);
    ilm.ilmFlags = m[HwMplsMsg::flags];
    ilm.mplsLabelNum = hwNotifyLabelNum(m[HwMplsMsg::labelNum]);
    ilm.swapLabel = hwRdU32(m + HwMplsMsg::swapLabel);
    ilm.mplsLabel = hwRdU32(m + HwMplsMsg::labels);
    ilm.mplsLabel2 = hwRdU32(m + HwMplsMsg::labels + 4);
    ilm.mplsLabel3 = hwRdU32(m + HwMplsMsg::labels + 8);
    ilm.status = static_cast<uint8_t>(hwStatusIdle);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE,
                 "[hwRtnotifyRecv]=>ilm: gateway=%#x,ifUnit=%d,inIfUnit=%d,vrfId=%d,ilmFlags=0x%x,mplsLabel=%d,"
                 "swapLabel=%d.",
                 ilm.nextHop, ilm.ifUnit, ilm.inIfUnit, ilm.vrfId, ilm.ilmFlags, ilm.mplsLabel >> kLabelShift,
                 ilm.swapLabel >> kLabelShift);
    if (msg.type == kIlmAdd)
        hwRouteIlmAdd(&ilm);
    else
        hwRouteIlmDel(&ilm);
}

void hwNotifyL2vpnMsg(const HwNlMsg& msg, HwNotifyRequests* req) {
    const uint8_t* m = msg.data;
    HwPublicRequests pub;
    std::memset(&pub, 0, sizeof pub);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>L2vpn msg.");
    const bool add = msg.type == kL2vpnAdd;
    const uint8_t publicStatus = m[HwL2vpnMsg::publicStatus];
    const uint8_t family = m[HwL2vpnMsg::family];
    if (add && publicStatus == 1) hwNotifyAddPublic(family, l2vpnPublicRoute(m), &pub);

    HwRouteL2vpnNode& l2vpn = req->l2vpn;
    decodeL2vpn(m, &l2vpn);
    logL2vpn(l2vpn);
    if (!add) {
        hwRouteL2vpnDel(&l2vpn);
        return;
    }
    HwPublicArgs args;
    if (!hwNotifyPublicArgs(publicStatus, family, &pub, &args)) return;
    hwRouteL2vpnAdd(&l2vpn, args.family, args.dest, args.nexthop);
}

void hwNotifyTunnelMsg(const HwNlMsg& /*msg*/, HwNotifyRequests* /*req*/) {
    // Tunnels enter through their own entry points, never from notifications.
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>tunnel msg.");
}

void hwNotifyVpnFlushMsg(const HwNlMsg& /*msg*/, HwNotifyRequests* /*req*/) {
    flushLabelledRoutes4();
    flushLabelledRoutes6();
    for (HwRouteIlmNode* ilm : hwListOf<&HwRouteIlmNode::link>(&ghwRoute.ilmList)) hwRouteIlmDel(ilm);
    for (HwRouteL2vpnNode* l2vpn : hwListOf<&HwRouteL2vpnNode::link>(&ghwRoute.l2vpnList)) hwRouteL2vpnDel(l2vpn);
}
