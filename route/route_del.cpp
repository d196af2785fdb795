// IPv4 route delete: a path in hardware is marked and queued for the flush,
// which removes it from hardware and frees it; a path that never reached
// hardware is freed here at once. A public route with private users or
// layer-2 VPNs on it stays until its last user goes.
#include <cstdint>

#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

namespace {

#define DEL_LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

bool delRequestValid(const HwRouteDest* dest, const HwRouteNexthop* nh) {
    if (nh->nextHop == 0) return false;
    return !(nh->protoId == HW_PROTO_KERNEL && dest->mask == 0);
}

// A public route with private users is never freed under them, in hardware
// or not: its delete waits for the last of them.
bool heldByPrivateUsers(HwRouteNexthop* nh) {
    if (nh->privateRefCnt == 0) return false;
    ++ghwRoute.rtDelPrivateRefCnt;
    DEL_LOG("[hwRouteRouteDel]=>privateRefCnt is %d public route can not delete.", nh->privateRefCnt);
    nh->flag |= NH_WAIT_PRIVATE;
    return true;
}

// Layer-2 VPN entries point at their public next hop until they are
// deleted: in hardware or not, it waits for the last of them.
bool heldByL2vpnUsers(HwRouteNexthop* nh) {
    if (nh->l2vpnRefCnt == 0) return false;
    ++ghwRoute.rtDelL2vpnRefCnt;
    DEL_LOG("[hwRouteRouteDel]=>l2vpnRefCnt is %d public route can not delete.", nh->l2vpnRefCnt);
    nh->flag |= NH_WAIT_L2VPN;
    return true;
}

// Step 5: a path that is not in hardware as it should be drops its pending
// operations. Returns true when it turns out to be in hardware after all (a
// card-up replay was still pending for it).
bool notNormalSettle(HwRouteNexthop* nh) {
    DEL_LOG("route is not normal flag=%#x.", nh->flag);
    ++ghwRoute.rtDelNoSucessCnt;
    if (nh->flag & NH_OP_VPN_ADD) {
        ++ghwRoute.rtDelVpnInAddCnt;
        nh->flag &= ~NH_OP_VPN_ADD;
    }
    if (!(nh->flag & NH_OP_ADD)) return false;
    ++ghwRoute.rtDelSwAddCnt;
    nh->flag &= ~NH_OP_ADD;
    if (!(nh->flag & NH_CARDUP_PEND)) return false;
    nh->flag &= ~NH_CARDUP_PEND;
    nh->flag |= NH_HW_OK;
    ++ghwRoute.rtDelCardupCnt;
    return true;
}

// Step 7: the path never reached hardware; free it, and its destination when
// that was the last path.
int freeAtOnce(HwRouteDest* dest, HwRouteNexthop* nh) {
    hwRoutePublicRelease(nh, NH_HOLDS_PUBLIC_ALL, hwPublicRouteDelCascade);
    if (!(nh->flag & NH_RESOLVED)) {
        ++ghwRoute.rtDelNoSucPendDelCnt;
        if (!(nh->flag & NH_INDIRECT)) {
            ++ghwRoute.rtDelNoSucIndirectPendDelCnt;
            hwRouteTablePendDelete(nh);
        }
        nh->flag |= NH_RESOLVED;
    }
    ++ghwRoute.rtDelNoSucSwDelCnt;
    if (nh->flag & NH_INDIRECT) {
        ++ghwRoute.rtDelNoSucIndirectSwDelCnt;
        hwRouteIndirectTableDelete(nh);
    }
    // A local path takes its local neighbour with it and closes the gap in the local ordinals.
    if (nh->protoId == HW_PROTO_KERNEL) {
        hwArpFreeAll(nh->nVrfId, nh->nextHop);
        hwRouteLocalWeightsClose(dest, nh);
    }
    hwRouteNexthopTableDelete(nh);
    hwRouteNexthopNodeFree(nh);

    if (dest->nhopRefCnt != 0) {
        ++ghwRoute.rtDelNhopsCnt;
        return 0;
    }
    if (dest->readyState) {
        ++ghwRoute.rtDelReadyDelCnt;
        hwRouteReadyRemove(dest);
    }
    ++ghwRoute.rtDelDestDelCnt;
    hwRouteDestTableDelete(dest);
    hwRouteDestNodeFree(dest);
    return 0;
}

// Step 8: the path is in hardware; mark it and let the flush remove it.
int normalDelete(HwRouteDest* dest, HwRouteNexthop* nh) {
    if (heldByPrivateUsers(nh)) return 0;
    if (heldByL2vpnUsers(nh)) return 0;
    nh->flag |= NH_OP_DEL;
    if (nh->flag & NH_VPN) {
        ++ghwRoute.rtDelVpnSuccessCnt;
        nh->flag |= NH_VPN_DELETED;
        nh->extFlag |= NH_EXT_VPN_WITHDRAWN;
    }
    ++ghwRoute.rtDelNormalCnt;
    if (!dest->readyState) {
        ++ghwRoute.rtDelReadyAddCnt;
        hwRouteReadyAppend(dest);
    }
    hwRouteIndirectRtDel(dest);
    hwRouteRtDelProcess(dest, nh);
    return 0;
}

}  // namespace

int hwRouteRouteDel(HwRouteDest* destRequest, HwRouteNexthop* nexthopRequest) {
    // 1. Validation.
    if (destRequest == nullptr || nexthopRequest == nullptr || !delRequestValid(destRequest, nexthopRequest)) {
        ++ghwRoute.rtDelParamErrCnt;
        DEL_LOG("[hwRouteRouteDel]=>ERROR:receive invalid message.");
        return -1;
    }
    // 2. What was asked.
    DEL_LOG("[hwRouteRouteDel]=>ip route del detected,ifUnit=%d dest=%#x,mask=%#x,nextHop=%#x,prot=%d,weight=%d,"
            "vrfId=%d,flag=0x%x,mplsLabelNum=%d,routeFlag=%#x,nVrfId=%d.",
            nexthopRequest->ifUnit, destRequest->destIp, destRequest->mask, nexthopRequest->nextHop,
            nexthopRequest->protoId, nexthopRequest->weight, destRequest->vrfId, nexthopRequest->flag,
            nexthopRequest->mplsLabelNum, nexthopRequest->routeFlag, nexthopRequest->nVrfId);

    // 3. Lookups. The requests may be the stored records themselves, so they
    // are not read again once the nodes may have been freed.
    HwRouteDest* dest = hwRouteDestTableLookup(destRequest);
    if (dest == nullptr) {
        ++ghwRoute.rtDelNoDestEntryErrCnt;
        DEL_LOG("[hwRouteRouteDel]=>ERROR:no found dest entry.");
        return -1;
    }
    HwRouteNexthop* nh = hwRouteNexthopTableLookup(dest, nexthopRequest);
    if (nh == nullptr) {
        ++ghwRoute.rtDelNoNexthopEntryErrCnt;
        DEL_LOG("[hwRouteRouteDel]=>ERROR:no found nexthop entry.");
        return -1;
    }
    ++ghwRoute.rtDelCnt;

    // 4. Delete again.
    if (nh->flag & NH_OP_DEL) {
        ++ghwRoute.rtDelAgainCnt;
        DEL_LOG("[hwRouteRouteDel]=>ERROR:route entry delete again.");
        return -1;
    }

    // 5. Classify: normal means present in hardware with its neighbour.
    bool normal = (nh->flag & NH_HW_OK) && !(nh->flag & NH_NEIGH_LOST);
    if (!normal && (heldByPrivateUsers(nh) || heldByL2vpnUsers(nh))) return 0;
    if (!normal) normal = notNormalSettle(nh);
    if (normal) return normalDelete(dest, nh);

    // 6. The neighbour logic and the flush finish a path whose neighbour went
    // away; its label and neighbour counts on its public route go now, as
    // for any deleted path, its user count when it is freed.
    if (nh->flag & NH_NEIGH_LOST) {
        ++ghwRoute.rtDelArpDelCnt;
        nh->flag |= NH_OP_DEL;
        hwRoutePublicRelease(nh, NH_HOLDS_PUBLIC_ON_DELETE, hwPublicRouteDelCascade);
        return 0;
    }

    // 7. Never in hardware.
    return freeAtOnce(dest, nh);
}

int hwRouteRtDelProcess(HwRouteDest* dest, HwRouteNexthop* nexthop) {
    // Any deleted path takes down every tunnel the destination carries, even
    // when other paths remain: the tunnels are bound again when a route covers them.
    hwRouteTunDestroyAll(&dest->tunList);

    // The whole path goes: its label and neighbour counts on its public route
    // go now, its user count when the flush frees it.
    hwRoutePublicRelease(nexthop, NH_HOLDS_PUBLIC_ON_DELETE, hwPublicRouteDelCascade);
    return 0;
}
