// Neighbour messages (ARP and IPv6 neighbours) and link up/down messages.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "decoders.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/intake.h"
#include "hwroute/neighbour.h"
#include "hwroute/resync.h"
#include "hwroute/platform.h"
#include "hwroute/route.h"

namespace {

// Neighbour message head.
constexpr uint32_t kNdFamily = 16;
constexpr uint32_t kNdIfIndex = 20;

// Neighbour attributes.
constexpr uint16_t kNdaDst = 1;
constexpr uint16_t kNdaLladdr = 2;
constexpr uint16_t kNdaPort = 6;
constexpr uint16_t kNdaVrf = 9;

constexpr HwAttrRule kNeigh4Attrs[] = {
    {kNdaDst, 4, true}, {kNdaLladdr, 6, true}, {kNdaPort, 4, false}, {kNdaVrf, 4, false},
};
constexpr HwAttrRule kNeigh6Attrs[] = {
    {kNdaDst, 16, true}, {kNdaLladdr, 6, true}, {kNdaPort, 4, false}, {kNdaVrf, 4, false},
};

// Link message head and its operational-state attribute.
constexpr uint32_t kIfiIndex = 20;
constexpr uint16_t kIflaOperState = 16;
constexpr uint32_t kOperUp = 6;
constexpr uint32_t kOperDown = 2;

constexpr uint16_t kNeighAdd = 28;

constexpr int kMacTextLen = 18;

void macText(const uint8_t* mac, char* out) {
    std::snprintf(out, kMacTextLen, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

// The fields both neighbour records share, from the message head and attributes.
template <class Node>
void decodeNeighCommon(const HwAttrs& a, uint32_t ifIndex, Node* node) {
    node->ifUnit = ifIndex;
    node->subIfUnit = ifIndex;
    node->status = static_cast<uint8_t>(hwStatusIdle);
    if (const uint8_t* p = a.get(kNdaPort)) node->outPort = hwRdU32(p);
    if (const uint8_t* p = a.get(kNdaVrf)) node->vpnVrfid = hwRdU32(p);
}

void arpMsg(const HwNlMsg& msg, uint32_t ifIndex, HwArpNode* arp) {
    HwAttrs a;
    hwNotifyCollectAttrs(msg, HW_NDMSG_FIXED, kNeigh4Attrs, &a);
    decodeNeighCommon(a, ifIndex, arp);
    if (const uint8_t* p = a.get(kNdaDst)) arp->nextHop = hwRdAddr4(p);
    if (const uint8_t* p = a.get(kNdaLladdr)) std::memcpy(arp->mac, p, 6);

    char mac[kMacTextLen];
    macText(arp->mac, mac);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE,
                 "[hwRtnotifyRecv]=>ifUnit=%d,subIfUnit=%d,dest=%#x,macstr=%s,outPort=%d,vpnVrfid=%d", arp->ifUnit,
                 arp->subIfUnit, arp->nextHop, mac, arp->outPort, arp->vpnVrfid);
    if (msg.type == kNeighAdd) {
        ++ghwRoute.rcvArpAddCnt;
        hwArpAdd(arp);
        hwResyncSeenArp(arp);
        return;
    }
    ++ghwRoute.rcvArpDelCnt;
    hwArpDel(arp);
}

void nd6Msg(const HwNlMsg& msg, uint32_t ifIndex, HwNd6Node* nd6) {
    HwAttrs a;
    hwNotifyCollectAttrs(msg, HW_NDMSG_FIXED, kNeigh6Attrs, &a);
    decodeNeighCommon(a, ifIndex, nd6);
    if (const uint8_t* p = a.get(kNdaDst)) std::memcpy(nd6->nextHop, p, 16);
    if (const uint8_t* p = a.get(kNdaLladdr)) std::memcpy(nd6->macAddr, p, 6);

    char mac[kMacTextLen];
    macText(nd6->macAddr, mac);
    char dest[INET6_ADDRSTRLEN];
    if (inet_ntop(AF_INET6, nd6->nextHop, dest, sizeof dest) == nullptr) dest[0] = '\0';
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE,
                 "[hwRtnotifyRecv]=>ifUnit=%d,subIfUnit=%d,dest=%s,macstr=%s,outPort=%d,vpnVrfid=%d", nd6->ifUnit,
                 nd6->subIfUnit, dest, mac, nd6->outPort, nd6->vpnVrfid);
    if (msg.type == kNeighAdd) {
        ++ghwRoute.rcvNd6AddCnt;
        hwNd6Add(nd6);
        hwResyncSeenNd6(nd6);
        return;
    }
    ++ghwRoute.rcvNd6DelCnt;
    hwNd6Del(nd6);
}

// Every operational-state attribute of a link message is an event.
void linkAttr(void* ctx, uint16_t type, const uint8_t* payload, uint32_t len) {
    if (type != kIflaOperState || len == 0) return;
    const uint32_t ifIndex = *static_cast<const uint32_t*>(ctx);
    // A stock kernel sends the operational state as one byte; a four-byte
    // value is read whole.
    const uint32_t state = len >= 4 ? hwRdU32(payload) : payload[0];
    if (state == kOperUp) {
        hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>receive interface link is up");
        hwIfUpDown(ifIndex, HW_IF_UP);
    } else if (state == kOperDown) {
        hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>receive interface link is down");
        hwIfUpDown(ifIndex, HW_IF_DOWN);
    }
}

// The most recently pended next hop of an IPv4 and of an IPv6 pend bucket.
HwRouteNexthop* pendFront(uint32_t bucket) {
    return hwListFirst<&HwRouteNexthop::pendLink>(&ghwRoute.pendTable[bucket]);
}
HwRoute6Nexthop* pend6Front(uint32_t bucket) {
    return hwListFirst<&HwRoute6Nexthop::pendLink>(&ghwRoute.pend6Table[bucket]);
}

}  // namespace

void hwNotifyNeighMsg(const HwNlMsg& msg, HwNotifyRequests* req) {
    const uint8_t* m = msg.data;
    const uint8_t family = m[kNdFamily];
    const uint32_t ifIndex = hwRdU32(m + kNdIfIndex);
    const uint32_t attrTotal = msg.len - HW_NDMSG_FIXED;
    // The first attribute's header as it stands, for the log (zero when there is none).
    uint16_t firstType = 0;
    uint16_t firstLen = 0;
    if (attrTotal >= 4) {
        firstLen = hwRdU16(m + HW_NDMSG_FIXED);
        firstType = hwRdU16(m + HW_NDMSG_FIXED + 2);
    }
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv] arp/nd received: ifunit %d, family %d.\r\n",
                 static_cast<int32_t>(ifIndex), family);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv] attrlen_total %d, attrtype = %d, attrlen %d", attrTotal,
                 firstType, firstLen);
    if (family == HW_AF_INET)
        arpMsg(msg, ifIndex, &req->arp);
    else if (family == HW_AF_INET6)
        nd6Msg(msg, ifIndex, &req->nd6);
}

void hwNotifyLinkMsg(const HwNlMsg& msg, HwNotifyRequests* /*req*/) {
    uint32_t ifIndex = hwRdU32(msg.data + kIfiIndex);
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>if up/down msg,ifi->ifi_index=%d",
                 static_cast<int32_t>(ifIndex));
    hwRtnotifyAttrWalk(msg.data, msg.len, HW_IFMSG_FIXED, linkAttr, &ifIndex);
}

// An interface that comes up gets its waiting next hops probed at once, one
// per pend bucket (the newest); the per-pass check probes the others later.
int hwIfUpDown(uint32_t ifUnit, uint32_t event) {
    if (ifUnit == 0) return -1;
    hwRouteDebug(HW_DBG_MOD, HW_DBG_IFACE, "process interface up/down msg: ifUnit %d,msg type %d", ifUnit, event);
    if (event != HW_IF_UP) return 0;
    for (uint32_t i = 0; i < HW_NHOP_BUCKETS; ++i) {
        if (const HwRouteNexthop* nh = pendFront(i); nh != nullptr && nh->ifUnit == ifUnit)
            hwPingSend(nh->nextHop, nh->nVrfId);
        // IPv6 next hops are probed too (an IPv4 one of an IPv6 route by ICMP).
        if (const HwRoute6Nexthop* nh6 = pend6Front(i); nh6 != nullptr && nh6->ifUnit == ifUnit) {
            if (nh6->afNextHop == HW_AF_INET)
                hwPingSend(hwRdAddr4(nh6->nextHop), nh6->nVrfId);
            else
                hwPing6Send(nh6->nextHop, nh6->nVrfId, nh6->ifUnit);
        }
    }
    return 0;
}
