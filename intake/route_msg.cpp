// Route messages: the kernel's IPv4 and IPv6 routes (with the local
// neighbour of kernel-protocol routes) and the platform's labelled routes.
#include <cstring>

#include "decoders.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/intake.h"
#include "hwroute/neighbour.h"
#include "hwroute/platform.h"
#include "hwroute/resync.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

namespace {

// Route message head.
constexpr uint32_t kRtFamily = 16;
constexpr uint32_t kRtPrefixLen = 17;
constexpr uint32_t kRtProtocol = 21;
constexpr uint32_t kRtFlags = 24;

// Route attributes.
constexpr uint16_t kRtaDst = 1;
constexpr uint16_t kRtaOif = 4;
constexpr uint16_t kRtaGateway = 5;
constexpr uint16_t kRtaWeight = 8;
constexpr uint16_t kRtaVrf = 18;

constexpr HwAttrRule kRoute4Attrs[] = {
    {kRtaDst, 4, true}, {kRtaOif, 4, false}, {kRtaGateway, 4, true}, {kRtaWeight, 4, false}, {kRtaVrf, 4, false},
};
constexpr HwAttrRule kRoute6Attrs[] = {
    {kRtaDst, 16, true}, {kRtaOif, 4, false}, {kRtaGateway, 16, true}, {kRtaWeight, 4, false}, {kRtaVrf, 4, false},
};

// The kernel's flag of cloned (cached) routes.
constexpr uint32_t kRtCloned = 0x200;

constexpr uint16_t kRouteAdd = 24;

constexpr uint8_t kMaxLabels = 3;

// Port of local addresses: the platform's fixed key for it.
constexpr SysIndexKey kLocalPortKey = {{1, 1, -2, 0, 0, 1, 0}};

template <class Dest, class Nexthop>
void decodeCommonAttrs(const HwAttrs& a, Dest* dest, Nexthop* nh) {
    if (const uint8_t* p = a.get(kRtaOif)) nh->ifUnit = hwRdU32(p);
    if (const uint8_t* p = a.get(kRtaWeight)) nh->weight = static_cast<uint8_t>(hwRdU32(p) & 0xFF);
    if (const uint8_t* p = a.get(kRtaVrf)) {
        dest->vrfId = hwRdU32(p);
        nh->nVrfId = dest->vrfId;
    }
}

// The interface's MAC address (all zero when the platform has none).
void localMac(uint32_t ifUnit, uint8_t* mac) {
    uint8_t buf[32];
    std::memset(buf, 0, sizeof buf);
    octet o{buf, sizeof buf};
    (void)sysIFGet(ifUnit, SYS_IF_PHYADDR, &o);
    std::memcpy(mac, buf, 6);
}

bool localPort(uint32_t* outPort) {
    if (sysIndexTrans(&kLocalPortKey, HW_TRANS_LOCAL_PORT, outPort) == 0) return true;
    hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "sysIndexTrans get port failed.");
    return false;
}

// Kernel-protocol routes get a local neighbour first, replacing any earlier
// one for the address. False when the port is unknown: the route is dropped.
bool enterLocalArp(const HwRouteNexthop& nh, HwArpNode* arp) {
    arp->nextHop = nh.nextHop;
    localMac(nh.ifUnit, arp->mac);
    if (!localPort(&arp->outPort)) return false;
    arp->ifUnit = nh.ifUnit;
    arp->vpnVrfid = nh.nVrfId;
    arp->flag |= ARP_FLAG_LOCAL;
    arp->status = static_cast<uint8_t>(hwStatusIdle);
    if (hwArpTableLookup(arp) != nullptr) {
        ++ghwRoute.rcvLocaltoDelArpCnt;
        hwArpDel(arp);
    }
    hwArpAdd(arp);
    hwResyncSeenArp(arp);
    return true;
}

// The IPv6 twin carries a reference count instead of counting.
bool enterLocalNd6(const HwRoute6Nexthop& nh, HwNd6Node* nd6) {
    std::memcpy(nd6->nextHop, nh.nextHop, sizeof nd6->nextHop);
    localMac(nh.ifUnit, nd6->macAddr);
    if (!localPort(&nd6->outPort)) return false;
    nd6->ifUnit = nh.ifUnit;
    nd6->vpnVrfid = nh.nVrfId;
    nd6->flag |= ARP_FLAG_LOCAL;
    nd6->status = static_cast<uint8_t>(hwStatusIdle);
    if (const HwNd6Node* found = hwNd6TableLookup(nd6)) {
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "hwRtnotifyRecv find local nd6 localRefCnt=%d.", found->localRefCnt);
        nd6->localRefCnt = found->localRefCnt + 1;
        hwNd6Del(nd6);
    }
    hwNd6Add(nd6);
    hwResyncSeenNd6(nd6);
    return true;
}

void route4Msg(const HwNlMsg& msg, HwRouteDest* dest, HwRouteNexthop* nh, HwArpNode* arp) {
    const uint8_t* m = msg.data;
    dest->mask = hwNotifyMask(m[kRtPrefixLen]);
    nh->routeFlag = hwRdU32(m + kRtFlags);
    nh->protoId = m[kRtProtocol];
    HwAttrs a;
    hwNotifyCollectAttrs(msg, HW_RTMSG_FIXED, kRoute4Attrs, &a);
    if (const uint8_t* p = a.get(kRtaDst)) dest->destIp = hwRdAddr4(p);
    if (const uint8_t* p = a.get(kRtaGateway)) nh->nextHop = hwRdAddr4(p);
    decodeCommonAttrs(a, dest, nh);
    if (nh->protoId == HW_PROTO_KERNEL) nh->nextHop = dest->destIp;

    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE,
                 "[hwRtnotifyRecv]=>vrfId=%d,dest=%#x,mask=%#x,gateway=%#x,ifUnit=%d,proto=%d,weight=%d,routeFlag=%#x,"
                 "nVrfId=%d",
                 dest->vrfId, dest->destIp, dest->mask, nh->nextHop, nh->ifUnit, nh->protoId, nh->weight,
                 nh->routeFlag, nh->nVrfId);

    if (msg.type == kRouteAdd) {
        ++ghwRoute.rcvNoDynamicRouteAddCnt;
        if (nh->protoId == HW_PROTO_KERNEL && !enterLocalArp(*nh, arp)) return;
        hwRouteRouteAdd(dest, nh, 0, nullptr);
        hwResyncSeenRoute(dest, nh);
        return;
    }
    ++ghwRoute.rcvNoDynamicRouteDelCnt;
    hwRouteRouteDel(dest, nh);
}

bool isCloned(const HwRoute6Dest& dest, const HwRoute6Nexthop& nh) {
    return std::memcmp(dest.destIpAddr, nh.nextHop, 16) == 0 && (nh.routeFlag & kRtCloned) != 0;
}

void route6Msg(const HwNlMsg& msg, HwRoute6Dest* dest, HwRoute6Nexthop* nh, HwNd6Node* nd6) {
    const uint8_t* m = msg.data;
    dest->prefixLen = m[kRtPrefixLen];
    nh->routeFlag = hwRdU32(m + kRtFlags);
    nh->protoId = m[kRtProtocol];
    HwAttrs a;
    hwNotifyCollectAttrs(msg, HW_RTMSG_FIXED, kRoute6Attrs, &a);
    if (const uint8_t* p = a.get(kRtaDst)) std::memcpy(dest->destIpAddr, p, 16);
    if (const uint8_t* p = a.get(kRtaGateway)) std::memcpy(nh->nextHop, p, 16);
    decodeCommonAttrs(a, dest, nh);

    if (hwRouteDebugOn(HW_DBG_MOD, HW_DBG_INTAKE))  // the address texts cost more than the line
        hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE,
                 "[hwRtnotifyRecv]=>vrfId=%d,ifUnit=%d,dest=%s,prefixLen=%d,nextHop=%s,proto=%d,weight=%d,vrfId=%d,"
                 "routeFlag=%#x,nVrfId=%d",
                 dest->vrfId, nh->ifUnit, ip6_sprintf(dest->destIpAddr), dest->prefixLen, ip6_sprintf(nh->nextHop),
                 nh->protoId, nh->weight, dest->vrfId, nh->routeFlag, nh->nVrfId);

    if (isCloned(*dest, *nh)) {
        hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>recv clone route,do nothing!");
        return;
    }
    if (msg.type == kRouteAdd) {
        ++ghwRoute.rcvNoDynamicRoute6AddCnt;
        if (nh->protoId == HW_PROTO_KERNEL && !enterLocalNd6(*nh, nd6)) return;
        hwRoute6RouteAdd(dest, nh, 0, nullptr);
        hwResyncSeenRoute6(dest, nh);
        return;
    }
    ++ghwRoute.rcvNoDynamicRoute6DelCnt;
    hwRoute6RouteDel(dest, nh);
}

// ---- Labelled routes ------------------------------------------------------

template <class Nexthop>
void decodeLabels(const uint8_t* m, Nexthop* nh) {
    nh->mplsLabelNum = hwNotifyLabelNum(m[HwMplsMsg::labelNum]);
    nh->label1 = hwRdU32(m + HwMplsMsg::labels);
    nh->label2 = hwRdU32(m + HwMplsMsg::labels + 4);
    nh->label3 = hwRdU32(m + HwMplsMsg::labels + 8);
}

// The public route of a labelled route: its own addresses, VRF, protocol and
// weight, the labelled route's interface and labels.
template <class Nexthop>
HwPublicRoute vpnPublicRoute(const uint8_t* m, const Nexthop& nh) {
    HwPublicRoute r{};
    r.vrfId = hwRdU32(m + HwMplsMsg::pubVrfId);
    r.dest = m + HwMplsMsg::pubDest;
    r.prefixLen = m[HwMplsMsg::pubPrefixLen];
    r.nextHop = m + HwMplsMsg::pubNextHop;
    r.ifUnit = nh.ifUnit;
    r.protoId = m[HwMplsMsg::pubProtoId];
    r.weight = m[HwMplsMsg::pubWeight];
    r.labelNum = nh.mplsLabelNum;
    r.labels[0] = nh.label1;
    r.labels[1] = nh.label2;
    r.labels[2] = nh.label3;
    return r;
}

// What a labelled-route message asks for once its route request is filled.
struct VpnOp {
    uint8_t operation;
    uint8_t flags;
    uint8_t publicStatus;
    uint8_t publicFamily;
    bool addsPublic() const { return publicStatus == 1 && operation == HW_MPLS_OP_ADD; }
};

VpnOp vpnOp(const uint8_t* m) {
    return {m[HwMplsMsg::operation], m[HwMplsMsg::flags], m[HwMplsMsg::publicStatus], m[HwMplsMsg::publicFamily]};
}

// A family's calls and counters for the request of a labelled-route message.
template <class Dest, class Nexthop>
struct VpnCalls {
    int (*add)(Dest*, Nexthop*, uint32_t, void*, void*);
    int (*routeDel)(Dest*, Nexthop*);
    int (*vpnDel)(Dest*, Nexthop*);
    uint32_t HwRouteGlobal::*addCnt;
    uint32_t HwRouteGlobal::*routeDelCnt;
    uint32_t HwRouteGlobal::*vpnDelCnt;
};
constexpr VpnCalls<HwRouteDest, HwRouteNexthop> kVpn4{&hwRouteVpnAdd,
                                                      &hwRouteRouteDel,
                                                      &hwRouteVpnDel,
                                                      &HwRouteGlobal::rcvMplsV4VpnAddCnt,
                                                      &HwRouteGlobal::rcvMplsV4RouteDelCnt,
                                                      &HwRouteGlobal::rcvMplsV4VpnDelCnt};
constexpr VpnCalls<HwRoute6Dest, HwRoute6Nexthop> kVpn6{&hwRoute6VpnAdd,
                                                        &hwRoute6RouteDel,
                                                        &hwRoute6VpnDel,
                                                        &HwRouteGlobal::rcvMplsV6VpnAddCnt,
                                                        &HwRouteGlobal::rcvMplsV6RouteDelCnt,
                                                        &HwRouteGlobal::rcvMplsV6VpnDelCnt};

// The request itself, once the route is decoded: an add (with its public
// route), a delete of the route, or a delete of its label part.
template <class Dest, class Nexthop>
void vpnRequest(const VpnOp& op, Dest* dest, Nexthop* nh, HwPublicRequests* pub, const VpnCalls<Dest, Nexthop>& c) {
    if (op.operation == HW_MPLS_OP_ADD) {
        ++(ghwRoute.*c.addCnt);
        if (op.flags & HW_MPLS_FLAG_REQUEST) nh->flag |= NH_VPN_REQUEST;
        HwPublicArgs args;
        if (!hwNotifyPublicArgs(op.publicStatus, op.publicFamily, pub, &args)) return;
        c.add(dest, nh, args.family, args.dest, args.nexthop);
        return;
    }
    if (op.operation != HW_MPLS_OP_DEL) return;
    if (op.flags & HW_MPLS_FLAG_ROUTE_DEL) {
        ++(ghwRoute.*c.routeDelCnt);
        c.routeDel(dest, nh);
        return;
    }
    ++(ghwRoute.*c.vpnDelCnt);
    c.vpnDel(dest, nh);
}

void vpn4Msg(const uint8_t* m, HwRouteDest* dest, HwRouteNexthop* nh, HwPublicRequests* pub) {
    ++ghwRoute.rcvMplsV4Cnt;
    const VpnOp op = vpnOp(m);
    dest->destIp = hwRdAddr4(m + HwMplsMsg::dest);
    dest->mask = hwNotifyMask(m[HwMplsMsg::prefixLen]);
    nh->nextHop = hwRdAddr4(m + HwMplsMsg::nextHop);
    nh->ifUnit = hwRdU32(m + HwMplsMsg::ifUnit);
    nh->weight = m[HwMplsMsg::weight];
    dest->vrfId = hwRdU32(m + HwMplsMsg::vrfId);
    nh->nVrfId = dest->vrfId;
    decodeLabels(m, nh);
    nh->extFlag = op.flags;

    if (op.addsPublic() && hwNotifyAddPublic(op.publicFamily, vpnPublicRoute(m, *nh), pub)) {
        if (op.publicFamily == HW_AF_INET)
            ++ghwRoute.rcvMplsV4PubV4AddCnt;
        else
            ++ghwRoute.rcvMplsV4PubV6AddCnt;
    }
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE,
                 "[hwRtnotifyRecv]=> vpn msg: ifUnit=%d,dest=%#x,mask=%#x,gateway=%#x,proto=%d,weight=%d,vrfId=%d,"
                 "mplsLabelNum=%d,publicStatus=%d,flags=%d.",
                 nh->ifUnit, dest->destIp, dest->mask, nh->nextHop, nh->protoId, nh->weight, dest->vrfId,
                 nh->mplsLabelNum, op.publicStatus, op.flags);

    vpnRequest(op, dest, nh, pub, kVpn4);
}

void vpn6Msg(const uint8_t* m, HwRoute6Dest* dest, HwRoute6Nexthop* nh, HwPublicRequests* pub) {
    ++ghwRoute.rcvMplsV6Cnt;
    const VpnOp op = vpnOp(m);
    std::memcpy(dest->destIpAddr, m + HwMplsMsg::dest, 16);
    dest->prefixLen = m[HwMplsMsg::prefixLen];
    std::memcpy(nh->nextHop, m + HwMplsMsg::nextHop, 16);
    nh->afNextHop = m[HwMplsMsg::family];
    nh->ifUnit = hwRdU32(m + HwMplsMsg::ifUnit);
    nh->weight = m[HwMplsMsg::weight];
    dest->vrfId = hwRdU32(m + HwMplsMsg::vrfId);
    nh->nVrfId = dest->vrfId;
    decodeLabels(m, nh);
    nh->extFlag = op.flags;

    if (op.addsPublic() && hwNotifyAddPublic(op.publicFamily, vpnPublicRoute(m, *nh), pub)) {
        if (op.publicFamily == HW_AF_INET6)
            ++ghwRoute.rcvMplsV6PubV6AddCnt;
        else
            ++ghwRoute.rcvMplsV6PubV4AddCnt;
    }
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE,
                 "[hwRtnotifyRecv]=>vpn msg: ifUnit=%d,dest=%s,prefixLen=%d,afNextHop=%d,nextHop=%s,proto=%d,weight=%d,"
                 "vrfId=%d,mplsLabelNum=%d,publicStatus=%d.",
                 nh->ifUnit, ip6_sprintf(dest->destIpAddr), dest->prefixLen, nh->afNextHop, ip6_sprintf(nh->nextHop),
                 nh->protoId, nh->weight, dest->vrfId, nh->mplsLabelNum, op.publicStatus);

    vpnRequest(op, dest, nh, pub, kVpn6);
}

template <class Nexthop>
void fillPublicNexthop(const HwPublicRoute& r, Nexthop* nh) {
    nh->nVrfId = r.vrfId;
    nh->ifUnit = r.ifUnit;
    nh->protoId = r.protoId;
    nh->weight = r.weight;
    nh->mplsLabelNum = r.labelNum;
    nh->label1 = r.labels[0];
    nh->label2 = r.labels[1];
    nh->label3 = r.labels[2];
    nh->flag = r.flag;
}

}  // namespace

void hwNotifyRouteMsg(const HwNlMsg& msg, HwNotifyRequests* req) {
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]  a route message Receive\r\n");
    const uint8_t family = msg.data[kRtFamily];
    if (family == HW_AF_INET)
        route4Msg(msg, &req->dest, &req->nexthop, &req->arp);
    else if (family == HW_AF_INET6)
        route6Msg(msg, &req->dest6, &req->nexthop6, &req->nd6);
}

void hwNotifyVpnMsg(const HwNlMsg& msg, HwNotifyRequests* req) {
    ++ghwRoute.rcvMplsMsgCnt;
    HwPublicRequests pub;
    std::memset(&pub, 0, sizeof pub);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=> vpn msg");
    const uint8_t family = msg.data[HwMplsMsg::family];
    if (family == HW_AF_INET)
        vpn4Msg(msg.data, &req->dest, &req->nexthop, &pub);
    else if (family == HW_AF_INET6)
        vpn6Msg(msg.data, &req->dest6, &req->nexthop6, &pub);
}

// The records hold three label words and the route handlers expect at most
// three labels; a longer stack from the kernel is cut rather than refused so
// that the route itself still reaches the hardware with its first three labels.
uint8_t hwNotifyLabelNum(uint8_t labelNum) {
    if (labelNum <= kMaxLabels) return labelNum;
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>mplsLabelNum %d above 3, clamped.", labelNum);
    return kMaxLabels;
}

bool hwNotifyAddPublic(uint8_t family, const HwPublicRoute& r, HwPublicRequests* pub) {
    if (family == HW_AF_INET) {
        pub->dest.vrfId = r.vrfId;
        pub->dest.destIp = hwRdAddr4(r.dest);
        pub->dest.mask = hwNotifyMask(r.prefixLen);
        pub->nexthop.nextHop = hwRdAddr4(r.nextHop);
        fillPublicNexthop(r, &pub->nexthop);
        hwRouteVpnAdd(&pub->dest, &pub->nexthop, 0, nullptr, nullptr);
        return true;
    }
    if (family == HW_AF_INET6) {
        pub->dest6.vrfId = r.vrfId;
        std::memcpy(pub->dest6.destIpAddr, r.dest, 16);
        pub->dest6.prefixLen = r.prefixLen;
        std::memcpy(pub->nexthop6.nextHop, r.nextHop, 16);
        fillPublicNexthop(r, &pub->nexthop6);
        hwRoute6VpnAdd(&pub->dest6, &pub->nexthop6, 0, nullptr, nullptr);
        return true;
    }
    return false;
}

bool hwNotifyPublicArgs(uint8_t publicStatus, uint8_t family, HwPublicRequests* pub, HwPublicArgs* args) {
    if (publicStatus != 1) {
        *args = {0, nullptr, nullptr};
        return true;
    }
    if (family == HW_AF_INET) {
        *args = {HW_AF_INET, &pub->dest, &pub->nexthop};
        return true;
    }
    if (family == HW_AF_INET6) {
        *args = {HW_AF_INET6, &pub->dest6, &pub->nexthop6};
        return true;
    }
    return false;
}
