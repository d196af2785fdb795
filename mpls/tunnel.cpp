// Tunnels: the exported entry points that add and delete them, and the
// binding of a new tunnel to the entry that supplies its first hop.
//
// A tunnel is bound to one entry:
//   dstType 1  the neighbour of its far endpoint (endpoint on a local subnet)
//   dstType 2  the first destination, in table order, that covers the far
//              endpoint and has a usable next hop
// A tunnel that finds neither is not kept. Its hardware status moves are
// those of the tunnel writers (hwUpdateTunAdd, hwUpdateTunDel).
#include <cstdio>
#include <cstring>

#include "hwroute/bewriter.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/mpls.h"
#include "hwroute/platform.h"
#include "hwroute/tables.h"

HwTunStats ghwTunStats{};

namespace {

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

constexpr uint32_t kTunTypeTickCheck = 100;
constexpr uint32_t kTunRecordLen = 64;
constexpr uint32_t kTunRecordTickAt = 2;
constexpr uint16_t kDstNeighbour = 1;
constexpr uint16_t kDstRoute = 2;
constexpr int kIp4TextLen = 16;

uint32_t ip4Of(const uint8_t* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

// Text of a 16-byte address field in its family's form.
struct AddrText {
    char buf[48];
    AddrText(uint32_t family, const uint8_t* bytes) {
        if (family == HW_AF_INET)
            inet_ntoa_2(buf, ip4Of(bytes));
        else
            std::snprintf(buf, sizeof(buf), "%s", ip6_sprintf(bytes));
    }
};

void logRequest(const char* what, const HwRouteTunNode* t, bool withFamily) {
    AddrText dest(t->routeFamily, t->dest), src(t->tunFamily, t->nextHopSrc), dst(t->tunFamily, t->nextHopDst);
    if (t->tunFamily == HW_AF_INET) {
        char mask[kIp4TextLen];
        inet_ntoa_2(mask, t->nexthopMask);
        if (withFamily)
            LOG("Tunnel %s detected, tunFamily=%d,destIpAddr=%s,routeMask=%d,tunUnit=%d,srcIp=%s,mask=%s,dstIp=%s,"
                "tunId=%d,encapsMethod=%d.",
                what, t->tunFamily, dest.buf, int(t->routeMask), int(t->tunUnit), src.buf, mask, dst.buf, t->tunId,
                t->encapsMethod);
        else
            LOG("Tunnel %s detected, destIpAddr=%s,routeMask=%d,tunUnit=%d,srcIp=%s,mask=%s,dstIp=%s,tunId=%d,"
                "encapsMethod=%d.",
                what, dest.buf, int(t->routeMask), int(t->tunUnit), src.buf, mask, dst.buf, t->tunId,
                t->encapsMethod);
        return;
    }
    if (withFamily)
        LOG("Tunnel %s detected, tunFamily=%d,,destIpAddr=%s,routeMask=%#x,tunUnit=%d,srcIp=%s,mask=%d,dstIp=%s,"
            "tunId=%d,encapsMethod=%d.",
            what, t->tunFamily, dest.buf, t->routeMask, int(t->tunUnit), src.buf, int(t->nexthopMask), dst.buf,
            t->tunId, t->encapsMethod);
    else
        LOG("Tunnel %s detected, destIpAddr=%s,routeMask=%#x,tunUnit=%d,srcIp=%s,mask=%d,dstIp=%s,tunId=%d,"
            "encapsMethod=%d.",
            what, dest.buf, t->routeMask, int(t->tunUnit), src.buf, int(t->nexthopMask), dst.buf, t->tunId,
            t->encapsMethod);
}

// Only tunnels of type 100 are checked: the interface must still be the one
// the request was made for. False when the query fails or the ticks differ.
bool tickConsistent(const HwRouteTunNode* request) {
    if (request->tunType != kTunTypeTickCheck) return true;
    uint8_t record[kTunRecordLen] = {};
    octet o{record, sizeof(record)};
    if (kivIfGetApi(request->tunUnit, HW_ATTR_TUN_IF, &o) != 0) {
        ghwTunStats.addIfErrCnt++;
        return false;
    }
    const uint32_t tick = beRead32(record + kTunRecordTickAt);
    if (tick == request->tunCreateTick) return true;
    LOG("ERROR: tunCreateTick is not consistent ! ticks from kivIfGetApi :%d, ticks from msg :%d ", int(tick),
        int(request->tunCreateTick));
    ghwTunStats.addTickErrCnt++;
    return false;
}

bool linked(const HwListLink* link) { return link->next != nullptr && link->next->prev == link; }

// Off the bound entry's list (if on one) and off the tunnel list; back to the pool.
void destroy(HwRouteTunNode* tun) {
    if (linked(&tun->bindLink)) hwListRemove(&tun->bindLink);
    hwRouteTunTableDelete(tun);
    hwRouteTunNodeFree(tun);
}

template <class Nexthop>
bool usable(const Nexthop* nh) {
    return (nh->flag & NH_HW_OK) != 0 && (nh->flag & (NH_OP_DEL | NH_NEIGH_LOST | NH_OP_BACKUP)) == 0;
}

template <class Dest, class Nexthop>
bool hasUsableNexthop(Dest* d) {
    for (const Nexthop* nh : hwListOf<&Nexthop::destLink>(&d->nhopList))
        if (usable(nh)) return true;
    return false;
}

// The endpoint families: how a far endpoint is matched against neighbours
// and destinations, and where the tunnel is bound.
struct Family4 {
    static bool sameSubnet(const HwRouteTunNode* t) {
        return t->nexthopMask != 0 && (ip4Of(t->nextHopSrc) & t->nexthopMask) == (ip4Of(t->nextHopDst) & t->nexthopMask);
    }
    // A resolved neighbour of the far endpoint in any VRF.
    static bool bindNeighbour(HwRouteTunNode* t) {
        const uint32_t address = ip4Of(t->nextHopDst);
        for (HwArpNode* arp : hwListOf<&HwArpNode::link>(&ghwRoute.arpTable[hwRouteKey1(address)])) {
            if (arp->nextHop != address || arp->status != hwStatusOk) continue;
            hwRouteTunBind(t, &arp->tunList, arp);
            return true;
        }
        return false;
    }
    // The first covering destination in bucket order, not the longest prefix.
    static bool bindDestination(HwRouteTunNode* t) {
        const uint32_t address = ip4Of(t->nextHopDst);
        for (uint32_t i = 0; i < HW_DEST_BUCKETS; ++i) {
            for (HwRouteDest* d : hwListOf<&HwRouteDest::hashLink>(&ghwRoute.routeTable[i])) {
                if (d->destIp != (address & d->mask) || !hasUsableNexthop<HwRouteDest, HwRouteNexthop>(d)) continue;
                hwRouteTunBind(t, &d->tunList, d);
                return true;
            }
        }
        return false;
    }
};

struct Family6 {
    static bool sameSubnet(const HwRouteTunNode* t) {
        return t->nexthopMask != 0 && hwRouteIp6AddrMatch(t->nextHopSrc, t->nextHopDst, t->nexthopMask & 0xFF) == 0;
    }
    static bool bindNeighbour(HwRouteTunNode* t) {
        for (HwNd6Node* nd6 : hwListOf<&HwNd6Node::link>(&ghwRoute.nd6Table[hwRoute6Key1(t->nextHopDst)])) {
            if (std::memcmp(nd6->nextHop, t->nextHopDst, 16) != 0 || nd6->status != hwStatusOk) continue;
            hwRouteTunBind(t, &nd6->tunList, nd6);
            return true;
        }
        return false;
    }
    static bool bindDestination(HwRouteTunNode* t) {
        for (uint32_t i = 0; i < HW_DEST_BUCKETS; ++i) {
            for (HwRoute6Dest* d : hwListOf<&HwRoute6Dest::hashLink>(&ghwRoute.route6Table[i])) {
                if (hwRouteIp6AddrMatch(d->destIpAddr, t->nextHopDst, d->prefixLen) != 0) continue;
                if (!hasUsableNexthop<HwRoute6Dest, HwRoute6Nexthop>(d)) continue;
                hwRouteTunBind(t, &d->tunList, d);
                return true;
            }
        }
        return false;
    }
};

// Steps 4 and 5 of the add: a local far endpoint goes to its neighbour; any
// other to a covering destination, failing that to its neighbour; with
// neither the tunnel is dropped (result 0 all the same).
template <class F>
int bindAndWrite(HwRouteTunNode* t) {
    bool bound = false;
    if (F::sameSubnet(t)) {
        t->dstType = kDstNeighbour;
    } else {
        t->dstType = kDstRoute;
        bound = F::bindDestination(t);
        if (!bound) t->dstType = kDstNeighbour;
    }
    if (!bound && t->dstType == kDstNeighbour) {
        bound = F::bindNeighbour(t);
        if (bound) LOG("nextHop mac exist,notify tun to hardware.");
    }
    if (!bound) {
        ghwTunStats.addDropCnt++;
        destroy(t);
        return 0;
    }
    ghwTunStats.addBoundCnt++;
    hwUpdateTunAdd(t);
    return 0;
}

}  // namespace

int hwRouteTunAdd(HwRouteTunNode* request) {
    if (request == nullptr) return -1;
    if (!tickConsistent(request)) return -1;
    if (hwRouteTunTableLookup(request) != nullptr) {
        LOG("ERROR: hwRouteTunAdd route exist.");
        ghwTunStats.addExistCnt++;
        return 0;
    }
    HwRouteTunNode* t = hwRouteTunNodeAlloc();
    if (t == nullptr) {
        LOG("ERROR: hwRouteTunAdd node alloc fail.");
        ghwTunStats.addNoMemCnt++;
        return -1;
    }
    std::memcpy(t, request, sizeof(*t));
    // The request's list links and bound entry mean nothing in the stored record.
    t->link = HwListLink{nullptr, nullptr};
    t->bindLink = HwListLink{nullptr, nullptr};
    t->dstEntry = nullptr;
    logRequest("add", t, false);
    hwRouteTunTableAdd(t);
    return t->tunFamily == HW_AF_INET ? bindAndWrite<Family4>(t) : bindAndWrite<Family6>(t);
}

int hwRouteTunDel(HwRouteTunNode* request) {
    if (request == nullptr) return -1;
    logRequest("del", request, true);
    HwRouteTunNode* t = hwRouteTunTableLookup(request);
    if (t == nullptr) {
        LOG("ERROR:no found tunnel entry.");
        ghwTunStats.delNotFoundCnt++;
        return -1;
    }
    // A refused delete still frees the tunnel, as for ILM entries: its
    // bytes wait in the abnormal table until the hardware takes them.
    if (t->status != hwStatusIdle && t->status != hwStatusWait && hwUpdateTunDel(t) != 0) {
        LOG("ERROR: hwRouteTunDel hwUpdateTunDel error !");
        ghwTunStats.delHwErrCnt++;
        destroy(t);
        return -1;
    }
    ghwTunStats.delCnt++;
    destroy(t);
    return 0;
}

int hwRouteTunNotifier(uint32_t tunUnit) {
    for (HwRouteTunNode* t : hwListOf<&HwRouteTunNode::link>(&ghwRoute.tunList)) {
        if (t->tunUnit != tunUnit) continue;
        hwRouteDebug(HW_DBG_START, 0, "hwRouteTunNotifier found tunnel unit=%d.", int(tunUnit));
        hwRouteTunDel(t);
    }
    return 0;
}

// ---- requests of the platform's tunnel software -------------------------------

void hwRouteTunWatchRun(void) {
    HwTunEvent ev;
    while (kivTunEventGet(&ev) == 0) {
        if (ev.op == HW_TUN_EV_NOTIFY) {
            hwRouteTunNotifier(ev.unit);
        } else if (hwRouteTunTableLookup(&ev.request) != nullptr) {
            hwRouteTunDel(&ev.request);  // a tunnel that was never kept has nothing to delete
        }
    }
    if (!kivTunRetryDue()) return;
    // Tunnels that were dropped for want of a path, or destroyed with their
    // neighbour or route, are offered again; an equal stored one is left alone.
    HwRouteTunNode request;
    for (uint32_t i = 0; kivTunWantedGet(i, &request) == 0; ++i) {
        if (hwRouteTunTableLookup(&request) == nullptr) hwRouteTunAdd(&request);
    }
}
