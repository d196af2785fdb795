// IPv4 route add: one path of a route enters the destination and next-hop
// tables and either goes to hardware now, waits on the ready list for the
// next flush, or waits on the pending table for its neighbour.
#include <cstdint>

#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/platform.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

namespace {

#define ADD_LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

bool addRequestValid(const HwRouteDest* dest, const HwRouteNexthop* nh) {
    if (nh->nextHop == 0 || nh->ifUnit == 0) return false;
    // A default route is fine, but a connected or local route always has a prefix.
    return !(nh->protoId == HW_PROTO_KERNEL && dest->mask == 0);
}

// Step 2: the destination of the request, created when it is new.
HwRouteDest* destFindOrCreate(const HwRouteDest* request) {
    HwRouteDest* dest = hwRouteDestTableLookup(request);
    if (dest != nullptr) return dest;

    dest = hwRouteDestNodeAlloc();
    if (dest == nullptr) {
        ++ghwRoute.rtAddNoDestMemErrCnt;
        ADD_LOG("[hwRouteRouteAdd]=>ERROR: dest node alloc fail.");
        return nullptr;
    }
    *dest = *request;
    // Only the key is taken from the request: list state starts empty whatever it carried.
    dest->readyState = 0;
    dest->routeFailState = 0;
    dest->nhopRefCnt = 0;
    hwListInit(&dest->tunList);
    hwListInit(&dest->nhopList);
    ++ghwRoute.rtAddDestAddCnt;
    hwRouteDestTableAdd(dest);
    return dest;
}

// Step 4: several local (kernel-protocol) paths of one destination are told
// apart by their weight, which counts up from the highest one present.
void localOrdinalAssign(HwRouteDest* dest, HwRouteNexthop* request) {
    if (request->protoId != HW_PROTO_KERNEL) return;
    bool anyLocal = false;
    uint8_t highest = 0;
    for (HwRouteNexthop* nh : hwListOf<&HwRouteNexthop::destLink>(&dest->nhopList)) {
        if (nh->protoId != HW_PROTO_KERNEL) continue;
        if (!anyLocal || nh->weight > highest) highest = nh->weight;
        anyLocal = true;
    }
    if (!anyLocal) return;
    ADD_LOG("[hwRouteRouteAdd]=>receive multi local route!");
    request->weight = uint8_t(highest + 1);
}

// A private path counts on its public route from its creation (user, and
// label user when it carries labels); its neighbour count follows the
// neighbour, taken here or when the neighbour arrives later.
uint32_t publicHoldsOf(const HwRouteNexthop* nh) {
    uint32_t bits = NH_HOLDS_PUBLIC;
    if (nh->mplsLabelNum != 0) bits |= NH_HOLDS_PUBLIC_MPLS;
    return bits;
}

// Step 5: a fresh next hop holding the request, linked into the tables.
HwRouteNexthop* nexthopCreate(HwRouteDest* dest, const HwRouteNexthop* request, uint32_t publicFamily,
                              void* publicRoute) {
    HwRouteNexthop* nh = hwRouteNexthopNodeAlloc();
    if (nh == nullptr) {
        ++ghwRoute.rtAddNoNhopMemErrCnt;
        ADD_LOG("[hwRouteRouteAdd]=>ERROR:nhop node alloc fail.");
        return nullptr;
    }
    ++ghwRoute.rtAddNhopAddCnt;
    *nh = *request;
    // The pending and indirect links belong to this node now, not to whatever the request pointed at.
    hwListInit(&nh->pendLink);
    hwListInit(&nh->indirectLink);
    hwRouteNexthopTableAdd(dest, nh);
    nh->pDestEntry = dest;
    nh->publicFamily = uint8_t(publicFamily);
    nh->publicRoute = publicRoute;
    nh->flag = (nh->flag & ~NH_HOLDS_PUBLIC_ALL) | NH_OP_ADD;
    hwRoutePublicTake(nh, publicHoldsOf(nh));
    nh->ifState = 1;
    ADD_LOG("[hwRouteRouteAdd]=>ip route add detected,vrfId=%d,dest=%#x,mask=%#x,nextHop=%#x,prot=%d,weight=%d,"
            "ifUnit=%d,flag=0x%x,mplsLabelNum=%d,routeFlag=%#x,nVrfId=%d.",
            dest->vrfId, dest->destIp, dest->mask, nh->nextHop, nh->protoId, nh->weight, nh->ifUnit, nh->flag,
            nh->mplsLabelNum, nh->routeFlag, nh->nVrfId);
    return nh;
}

// Step 6: the interface's end type; 0 when the platform cannot tell.
uint32_t endTypeOf(uint32_t ifUnit) {
    uint32_t endType = 0;
    if (kivIfGetApi(ifUnit, HW_ATTR_END_TYPE, &endType) != 0) {
        ++ghwRoute.rtAddNoEndCnt;
        ADD_LOG("[hwRouteRouteAdd]=>ip route add detected,get end type error.");
        endType = 0;
    }
    return endType;
}

// Step 7: is there a neighbour through which the next hop forwards? A private
// route is matched in its public route's VRF. For a local path any neighbour
// of that VRF in the bucket will do: the intake has just entered the path's
// own local neighbour.
bool neighbourKnown(const HwRouteNexthop* nh) {
    uint32_t vrf = 0;
    if (!hwNexthopEffectiveVrf(nh, &vrf)) return false;
    for (HwArpNode* arp = hwArpFind(vrf, nh->nextHop); arp != nullptr; arp = hwArpFindNext(arp)) {
        if (nh->protoId == HW_PROTO_KERNEL || arp->status == hwStatusOk) return true;
    }
    if (nh->protoId != HW_PROTO_KERNEL) return false;
    // Rarely reached: a local path whose own neighbour is missing still
    // takes any neighbour of the VRF that shares its bucket.
    HwListLink* bucket = &ghwRoute.arpTable[hwRouteKey1(nh->nextHop)];
    for (HwArpNode* arp : hwListOf<&HwArpNode::link>(bucket)) {
        if (arp->vpnVrfid == vrf) return true;
    }
    return false;
}

// Step 8: the neighbour is known, the path can be programmed.
int neighbourKnownAdd(HwRouteDest* dest, HwRouteNexthop* nh, const HwRouteNexthop* request) {
    ADD_LOG("[hwRouteRouteAdd]=>nextHop mac exist,notify route to hardware.");
    ++ghwRoute.rtAddNormalCnt;
    nh->flag |= NH_RESOLVED;

    if (request->flag & NH_L2VPN_PUBLIC) {
        // The public route of a layer-2 VPN goes to hardware at once, not through the flush.
        ++ghwRoute.rtAddL2vpnPublicAddCnt;
        if (dest->readyState) {
            ++ghwRoute.rtAddReadyDelCnt;
            hwRouteReadyRemove(dest);
        }
        hwUpdateRouteAdd(nh);
        return 0;
    }

    if (!dest->readyState) {
        ++ghwRoute.rtAddNormalReadyAddCnt;
        hwRouteReadyAppend(dest);
    }
    hwRouteIndirectRtAdd(dest);
    hwRoutePublicTake(nh, NH_HOLDS_PUBLIC_ARP);
    hwRouteTunAttach(dest);  // the tunnels whose far end it covers are carried by it from now on
    return 0;
}

// Step 9: no neighbour yet; provoke one and wait on the pending table.
int neighbourUnknownAdd(HwRouteNexthop* nh) {
    ADD_LOG("[hwRouteRouteAdd]=>nextHop mac not exist, send icmp echo request msg.");
    hwPingSend(nh->nextHop, nh->nVrfId);
    ++ghwRoute.rtAddPendAddCnt;
    // A new next hop is on no pending bucket yet, whatever its NH_RESOLVED bit
    // says, so it is pended directly rather than through the resolved-only guard.
    hwRouteTablePendAdd(nh);
    nh->flag &= ~NH_RESOLVED;
    return 0;
}

// Another path of the destination still has a change queued for the flush.
// Taking the destination off the ready list would drop that change, so a
// revived path takes it off only when it is the destination's only business
// there (a deliberate departure from always taking it off).
bool otherPathQueued(HwRouteDest* dest, const HwRouteNexthop* nh) {
    for (HwRouteNexthop* n : hwListOf<&HwRouteNexthop::destLink>(&dest->nhopList))
        if (n != nh && (n->flag & NH_OP_MASK) != 0) return true;
    return false;
}

// Step 10, different weight: take the path out of hardware and put it back
// with its new weight, unless it is the destination's only path, which the
// hardware keeps as it is.
int metricChange(HwRouteDest* dest, HwRouteNexthop* nh, uint8_t weight) {
    ++ghwRoute.rtAddNoSameMetricCnt;
    nh->flag |= NH_OP_DEL | NH_OP_CHANGE;
    int result = hwUpdateRouteDel(nh);
    nh->weight = weight;
    if (result == 1) {
        ++ghwRoute.rtAddNoSameMetricNoDoCnt;
        nh->flag &= ~(NH_OP_CHANGE | NH_OP_DEL);
        return 1;
    }
    // The path stays in the kernel: whatever the delete managed (it may have
    // been refused, or the path may never have been present), it is now an
    // add candidate and nothing else, so the add below weighs it with its
    // new weight instead of passing it over as deleted.
    nh->flag &= ~(NH_OP_DEL | NH_OP_CHANGE);
    if (dest->readyState && !otherPathQueued(dest, nh)) {
        ++ghwRoute.rtAddNoSameMetricReadyDelCnt;
        hwRouteReadyRemove(dest);
    }
    nh->flag |= NH_OP_ADD;
    hwUpdateRouteAdd(nh);
    return 0;
}

// Step 10: the path exists already. Only a path deleted in software and not
// yet flushed is revived; anything else is a duplicate.
int existingPathAdd(HwRouteDest* dest, HwRouteNexthop* nh, const HwRouteNexthop* request) {
    // Added again while its delete waits for private users: the delete is off.
    nh->flag &= ~(NH_WAIT_PRIVATE | NH_WAIT_L2VPN);
    if (!(nh->flag & NH_OP_DEL)) {
        ++ghwRoute.rtAddRedupErrCnt;
        ADD_LOG("[hwRouteRouteAdd]=>route exist.");
        return 0;
    }
    ++ghwRoute.rtAddSwDelCnt;
    nh->flag &= ~NH_OP_DEL;
    // The delete gave the public route's counts back; the revived path takes them again.
    hwRoutePublicTake(nh, publicHoldsOf(nh) | ((nh->flag & NH_NEIGH_LOST) ? 0 : NH_HOLDS_PUBLIC_ARP));

    // With its neighbour lost the path is not in hardware: nothing to send.
    if (!(nh->flag & NH_NEIGH_LOST)) {
        ++ghwRoute.rtAddNoArpDelCnt;
        if (nh->weight == request->weight) {
            // Still in hardware as it is: the queued removal is simply dropped,
            // and the destination needs no flush when nothing else changed
            // meanwhile. A path taken out meanwhile (a neighbour change
            // removes its paths at once) goes back with the flush instead, as
            // does a destination whose other paths changed (the revived path
            // may no longer be among the best).
            ++ghwRoute.rtAddSameMetricCnt;
            if (!(nh->flag & NH_HW_OK)) {
                nh->flag |= NH_OP_ADD;
                if (nh->mplsLabelNum != 0) nh->flag |= NH_OP_VPN_ADD;
            }
            if (!hwRouteDestSettled(dest)) {
                if (!dest->readyState) hwRouteReadyAppend(dest);
            } else if (dest->readyState) {
                ++ghwRoute.rtAddSameMetricReadyDelCnt;
                hwRouteReadyRemove(dest);
            }
        } else if (metricChange(dest, nh, request->weight) == 1) {
            return 0;
        }
    }
    nh->weight = request->weight;
    ++ghwRoute.rtAddRedupErrCnt;
    ADD_LOG("[hwRouteRouteAdd]=>route exist.");
    return 0;
}

}  // namespace

int hwRouteRouteAdd(HwRouteDest* destRequest, HwRouteNexthop* nexthopRequest, uint32_t publicFamily,
                    void* publicRoute) {
    // 1. Validation.
    if (destRequest == nullptr || nexthopRequest == nullptr || !addRequestValid(destRequest, nexthopRequest)) {
        ++ghwRoute.rtAddParamErrCnt;
        ADD_LOG("[hwRouteRouteAdd]=>ERROR:receive invalid message.");
        return -1;
    }
    ++ghwRoute.rtAddCnt;

    // 2. Destination.
    HwRouteDest* dest = destFindOrCreate(destRequest);
    if (dest == nullptr) return -1;

    // 3. Existing path.
    HwRouteNexthop* nh = hwRouteNexthopTableLookup(dest, nexthopRequest);
    if (nh != nullptr) return existingPathAdd(dest, nh, nexthopRequest);

    // 4. Local ordinal.
    localOrdinalAssign(dest, nexthopRequest);

    // 5. New next hop; a destination created above stays when this fails.
    nh = nexthopCreate(dest, nexthopRequest, publicFamily, publicRoute);
    if (nh == nullptr) return -1;

    // 6. Point-to-point interfaces need no neighbour.
    if (hwIsPointToPoint(endTypeOf(nh->ifUnit))) {
        ++ghwRoute.rtAddPppCnt;
        ADD_LOG("[hwRouteRouteAdd]=>ip route add detected,add pos route!.");
        nh->flag |= NH_RESOLVED;
        hwUpdateRouteAdd(nh);
        return 0;
    }

    // 7. to 9. Neighbour known or not.
    if (neighbourKnown(nh)) return neighbourKnownAdd(dest, nh, nexthopRequest);
    return neighbourUnknownAdd(nh);
}
