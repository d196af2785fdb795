// IPv6 neighbours (ND6): the twins of the ARP add and delete on the ND6
// table, with IPv6 next hops, IPv6 layer-2 VPN entries and IPv6 tunnels in
// place of the IPv4 ones. There are no ILM entries and no IPv4-addressed
// next hops on this side. Records go through the states of the ARP side
// (see arp_walks.h); a local record is shared by the local routes counted in
// its localRefCnt.
#include <cstring>

#include "hwroute/debug.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/mpls.h"
#include "hwroute/neighbour.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"
#include "nd6_walks.h"

namespace {

// Address texts are formatted only for lines that are written.
#define LOG(...)                                                                        \
    do {                                                                                \
        if (hwRouteDebugOn(HW_DBG_MOD, HW_DBG_NEIGH)) hwRouteDebug(HW_DBG_MOD, HW_DBG_NEIGH, __VA_ARGS__); \
    } while (0)

using Nh6 = HwRoute6Nexthop;

bool zero(const uint8_t* bytes, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

void nd6Free(HwNd6Node* nd) {
    hwNd6TableDelete(nd);
    hwNd6NodeFree(nd);
}

void logRequest(const char* prefix, const char* what, const HwNd6Node* r, bool withLocal) {
    const uint8_t* m = r->macAddr;
    if (withLocal)
        LOG("%s%s detected,ifUnit=%d,nextHop=%s,outPort=%d,mac=%02x:%02x:%02x:%02x:%02x:%02x,status=%d,vpnVrfid=%d,"
            "localRefCnt=%d.",
            prefix, what, int(r->ifUnit), ip6_sprintf(r->nextHop), int(r->outPort), m[0], m[1], m[2], m[3], m[4], m[5],
            int(r->status), int(r->vpnVrfid), int(r->localRefCnt));
    else
        LOG("%s%s detected,ifUnit=%d,nextHop=%s,outPort=%d,mac=%02x:%02x:%02x:%02x:%02x:%02x,status=%d,vpnVrfid=%d.",
            prefix, what, int(r->ifUnit), ip6_sprintf(r->nextHop), int(r->outPort), m[0], m[1], m[2], m[3], m[4], m[5],
            int(r->status), int(r->vpnVrfid));
}

// A path whose delete is queued is left to the flush, which frees it. A
// change of the neighbour takes it out of hardware at once like the others
// (it keeps its delete mark) but does not mark it to be written again: the
// path the kernel deleted would come back with the rewrite.
bool deleting(const Nh6* nh) { return (nh->flag & NH_OP_DEL) != 0; }

// ---- add: same information ------------------------------------------------------

// A neighbour learnt again with the same MAC while held: its paths that are
// still in hardware stay as they are, so their destination need not be
// flushed for them - but it stays queued when another of its paths has a
// change waiting (dropping it would strand that change) or the path is back
// beside better ones that came meanwhile.
void fastReleasePending(HwNd6Node* nd) {
    hwNd6EachPendingPath(nd, [](Nh6* nh) {
        ghwRoute.nd6AddFastPendDelCnt++;
        hwNeighUnpend(nh);
        nh->flag &= ~(NH_NEIGH_LOST | NH_VPN_NEIGH_LOST | NH_OP_HW_DEL);
        HwRoute6Dest* dest = nh->pDestEntry;
        if (dest != nullptr && dest->readyState == 1 && hwRoute6DestSettled(dest)) {
            ghwRoute.Nd6AddFastReadyDelCnt++;
            hwRoute6ReadyTableDelete(dest);
        }
        hwRoute6IndirectPendDel(dest, 1);
    });
}

// Paths that are not in hardware are queued for the next flush.
void fastReaddRoutes(HwNd6Node* nd) {
    hwNd6EachPath(nd, [](Nh6* nh) {
        nh->flag &= ~(NH_WAIT_PRIVATE_ARP | NH_WAIT_L2VPN_ARP);  // its neighbour is back: nothing to withdraw later
        if ((nh->flag & NH_HW_OK) || deleting(nh)) return;
        ghwRoute.nd6AddRouteWantAddCnt++;
        hwNexthopMarkAdd(nh);
        hwRoute6PublicTake(nh, NH_HOLDS_PUBLIC_ARP);
        if (hwNeighReadyAppend(nh->pDestEntry)) ghwRoute.nd6AddRtWantReadyAddCnt++;
        hwRoute6IndirectRtAdd(nh->pDestEntry);
    });
}

void newReleaseL2vpn(HwNd6Node* nd);

// A rewrite refused on a change: as on the IPv4 side, pseudowires that came
// while it was refused waited for it and are written now.
void releaseAgain(HwNd6Node* nd) {
    fastReleasePending(nd);
    fastReaddRoutes(nd);
    newReleaseL2vpn(nd);
}

int nd6AddSame(HwNd6Node* nd) {
    ghwRoute.nd6AddSameInfoCnt++;
    if (nd->status == hwStatusDelAbnormal) {
        nd->status = hwStatusOk;
        if (nd->cardupFlag == 1) nd->cardupFlag = 0;
        ghwRoute.nd6AddAbmlErrCnt++;
        return 0;
    }
    if (!hwArpHeld(nd) && nd->status != hwStatusIdle) {
        LOG("[hwNd6Add]=>no change,do nothing more.");
        ghwRoute.nd6AddRedupErrCnt++;
        return 0;
    }
    if (hwUpdateNd6Add(nd) != 0) {
        LOG("[hwNd6Add]=>ERROR: hwUpdateNd6Add error.");
        // A held record stays held (paths in hardware still use it); its
        // refused status keeps the flush from freeing it, and the retry
        // that writes it brings its paths back.
        return -1;
    }
    hwArpUnhold(nd);
    releaseAgain(nd);
    return 0;
}

// ---- add: changed information ---------------------------------------------------

// Through the tunnels of this far endpoint only, in tunnel list order.
void bindNeighbourTunnels(HwNd6Node* nd) {
    const HwTun6ToNeighbour mine{nd->nextHop};
    for (HwRouteTunNode* t = hwRouteTunFirstTo(HW_AF_INET6, nd->nextHop); t != nullptr; t = hwRouteTunNextTo(t)) {
        if (!mine(t)) continue;
        hwRouteTunBind(t, &nd->tunList, nd);
        hwUpdateTunAdd(t);
    }
}

void bindRouteTunnels(HwRoute6Dest* dest) { hwRouteTunAttach(dest); }

void changeWithdrawRoutes(HwNd6Node* nd) {
    hwNd6EachPendingPath(nd, [](Nh6* nh) {
        ghwRoute.nd6ChangeFastPendDelCnt++;
        hwNeighUnpend(nh);
    });
    // A path whose delete is queued leaves the hardware now too (it keeps
    // its delete mark, so the flush still frees it): left on the old MAC, it
    // would stay there if the kernel added it again before the flush.
    hwNd6EachPath(nd, [](Nh6* nh) {
        HwRoute6Dest* dest = nh->pDestEntry;
        if (dest != nullptr && dest->readyState == 1) {
            if ((nh->flag & NH_OP_ADD) && (nh->flag & NH_CARDUP_PEND)) nh->flag |= NH_HW_OK;
            nh->flag &= ~(NH_NEIGH_LOST | NH_VPN_NEIGH_LOST | NH_OP_HW_DEL);
            ghwRoute.nd6ChangeReadyDelCnt++;
            hwRoute6ReadyTableDelete(dest);
        }
        if ((nh->flag & NH_HW_OK) == 0) return;
        ghwRoute.nd6changeRouteDelCnt++;
        hwUpdateRoute6Del(nh);
        if (dest != nullptr) hwTunWithdrawAll(&dest->tunList);
    });
}

// Every path to the address, whatever its VRF, is written again.
void changeReaddRoutes(const uint8_t* address) {
    hwNd6EachPathAt(address, [](Nh6* nh) {
        if (deleting(nh)) {
            hwNeighReadyAppend(nh->pDestEntry);  // its delete goes out with the next flush
            return;
        }
        ghwRoute.nd6changeRouteAddCnt++;
        hwNexthopMarkAdd(nh);
        HwRoute6Dest* dest = nh->pDestEntry;
        if (hwNeighReadyAppend(dest)) ghwRoute.nd6changeReadyAddCnt++;
        if (dest != nullptr) bindRouteTunnels(dest);
    });
}

void takeInformation(HwNd6Node* nd, const HwNd6Node* r) {
    std::memcpy(nd->macAddr, r->macAddr, sizeof nd->macAddr);
    nd->outPort = r->outPort;
    nd->ifUnit = r->ifUnit;
    nd->subIfUnit = r->subIfUnit;
}

int nd6AddChanged(HwNd6Node* nd, const HwNd6Node* r) {
    ghwRoute.nd6AddChangeCnt++;
    // A record whose first write was refused has released nothing yet:
    // only its data changes, and the write is tried again.
    if (nd->flag & ARP_FLAG_UNRELEASED) {
        takeInformation(nd, r);
        return hwNd6RetryWrite(nd);
    }

    // Withdraw everything that used the old MAC.
    hwL2vpnEachTo(HW_AF_INET6, nd->nextHop, hwUpdateL2vpnDel);
    hwTunWithdrawAll(&nd->tunList);
    changeWithdrawRoutes(nd);
    if (hwArpHeld(nd)) {
        hwArpUnhold(nd);
        ghwRoute.nd6ChangeArpSwDelCnt++;
    } else {
        hwUpdateNd6Del(nd);
    }

    // Rewrite the host entry and everything through it.
    takeInformation(nd, r);
    (void)hwUpdateNd6Add(nd);  // a refusal shows in status and the hardware counters
    hwL2vpnEachTo(HW_AF_INET6, nd->nextHop, hwUpdateL2vpnAdd);
    bindNeighbourTunnels(nd);
    changeReaddRoutes(nd->nextHop);
    return 0;
}

// ---- add: new neighbour ---------------------------------------------------------

// Layer-2 VPN entries towards the address leave the pend list and are
// written; the released ones take back their count on the public next hop
// (as on the IPv4 side).
void newReleaseL2vpn(HwNd6Node* nd) {
    hwL2vpnEachTo(HW_AF_INET6, nd->nextHop, hwL2vpnUnwait);
    hwL2vpnEachTo(HW_AF_INET6, nd->nextHop, hwUpdateL2vpnAdd);
}

void newAddRoutes(HwNd6Node* nd) {
    hwNd6EachPendingPath(nd, [](Nh6* nh) {
        ghwRoute.nd6AddNormalPendDelCnt++;
        hwNeighUnpend(nh);
        hwRoute6IndirectPendDel(nh->pDestEntry, 0);
    });
    newReleaseL2vpn(nd);
    bindNeighbourTunnels(nd);
    hwNd6EachPath(nd, [](Nh6* nh) {
        ghwRoute.nd6AddHardRouteCnt++;
        nh->flag &= ~(NH_WAIT_PRIVATE_ARP | NH_WAIT_L2VPN_ARP);
        hwNexthopMarkAdd(nh);
        HwRoute6Dest* dest = nh->pDestEntry;
        if (hwNeighReadyAppend(dest)) ghwRoute.nd6AddReadyAddCnt++;
        hwRoute6IndirectRtAdd(dest);
        hwRoute6PublicTake(nh, NH_HOLDS_PUBLIC_ARP);
        if (dest != nullptr) bindRouteTunnels(dest);
    });
}

int nd6AddNew(const HwNd6Node* r) {
    HwNd6Node* nd = hwNd6NodeAlloc();
    if (nd == nullptr) {
        LOG("[hwNd6Add]=>ERROR: hwNd6 node alloc fail.");
        ghwRoute.nd6AddNoMemErrCnt++;
        return -1;
    }
    *nd = *r;
    hwListInit(&nd->tunList);
    hwNd6TableAdd(nd);
    if (nd->flag & ARP_FLAG_LOCAL) return 0;  // the router's own addresses are stored only

    ghwRoute.nd6AddHardwareCnt++;
    if (hwUpdateNd6Add(nd) != 0) {
        LOG("[hwNd6Add]=>ERROR: hwUpdateNd6Add error.");
        nd->flag |= ARP_FLAG_UNRELEASED;  // released by the retry that gets it written
        return -1;
    }
    newAddRoutes(nd);
    return 0;
}

// ---- delete ---------------------------------------------------------------------

void cardupFix(Nh6* nh) {
    if ((nh->flag & NH_CARDUP_PEND) == 0) return;
    ghwRoute.nd6DelCardupAddCnt++;
    if (nh->flag & NH_OP_ADD) {
        ghwRoute.nd6DelCardupRtAddCnt++;
        nh->flag = (nh->flag | NH_HW_OK) & ~NH_OP_ADD;
    }
    if (nh->flag & NH_OP_VPN_ADD) {
        ghwRoute.nd6DelCardupVpnAddCnt++;
        nh->flag = (nh->flag | NH_VPN) & ~NH_OP_VPN_ADD;
    }
    nh->flag &= ~NH_CARDUP_PEND;
}

void lostWhileDeleting(HwNd6Node* nd, Nh6* nh) {
    ghwRoute.nd6DelProtoDelCnt++;
    hwArpHold(nd);
    nh->flag |= NH_NEIGH_LOST;
    if (nh->flag & NH_VPN) nh->flag |= NH_VPN_NEIGH_LOST;
    if (hwNeighPend(nh)) ghwRoute.nd6DelProtoPendDelCnt++;
}

void lostInHardware(HwNd6Node* nd, Nh6* nh) {
    ghwRoute.nd6DelRtDelCnt++;
    hwArpHold(nd);
    nh->flag |= NH_NEIGH_LOST | NH_OP_HW_DEL;
    if (nh->flag & NH_VPN) {
        ghwRoute.nd6DelVpnDelCnt++;
        nh->flag |= NH_VPN_NEIGH_LOST;
        nh->extFlag |= NH_EXT_VPN_WITHDRAWN;
    }
    HwRoute6Dest* dest = nh->pDestEntry;
    if (hwNeighReadyAppend(dest)) ghwRoute.nd6DelReadyAddCnt++;
    hwRoute6IndirectRtDel(dest);
    hwRouteNd6DelProcess(dest, nh);
    ghwRoute.nd6DelRoutePendAddCnt++;
    hwNeighPend(nh);
}

void lostNexthop(HwNd6Node* nd, Nh6* nh) {
    if (nh->flag & NH_OP_DEL) return lostWhileDeleting(nd, nh);
    cardupFix(nh);
    if (nh->privateArpRefCnt != 0) {
        ghwRoute.nd6DelPrivateRefCnt++;
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[hwNd6Del]=>privateArpRefCnt is %d public route can not delete.",
                     int(nh->privateArpRefCnt));
        nh->flag |= NH_WAIT_PRIVATE_ARP;
        hwArpHold(nd);
        return;
    }
    if (nh->l2vpnRefCnt != 0 && hwL2vpnKeepsPublic(nh, nullptr, HW_AF_INET6, nd->nextHop)) {
        ghwRoute.nd6DelL2vpnRefCnt++;
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[hwNd6Del]=>l2vpnRefCnt is %d public route can not delete.",
                     int(nh->l2vpnRefCnt));
        nh->flag |= NH_WAIT_L2VPN_ARP;  // not held, as on the IPv4 side
        return;
    }
    if (nh->flag & NH_HW_OK) return lostInHardware(nd, nh);
    ghwRoute.nd6DelRtNoSucCnt++;
    hwRouteNd6DelProcess(nullptr, nh);
    if (hwNeighPend(nh)) ghwRoute.nd6DelRtNoSucPendAddCnt++;
}

// As on the IPv4 side: a refused hardware delete leaves the entry waiting,
// its delete kept in the abnormal table until the hardware takes it.
void lostL2vpn(HwRouteL2vpnNode* e) {
    hwUpdateL2vpnDel(e);
    hwRouteL2vpnArpDelProcess(e);
    hwL2vpnWait(e);
}

}  // namespace

int hwNd6RetryWrite(HwNd6Node* nd) { return hwNeighRetryWrite(nd, hwUpdateNd6Add, newAddRoutes, releaseAgain); }

int hwNd6Add(HwNd6Node* request) {
    if (request == nullptr || zero(request->nextHop, 16) || request->ifUnit == 0 || zero(request->macAddr, 6)) {
        ghwRoute.nd6AddParamErrCnt++;
        LOG("[hwNd6Add]=>ERROR: hwNd6Add receive invalid message.");
        return -1;
    }
    ghwRoute.nd6AddNormalCnt++;
    logRequest("[hwNd6Add]=>", "nd6 add", request, true);

    HwNd6Node* nd = hwNd6TableLookup(request);
    if (nd == nullptr) return nd6AddNew(request);
    if (nd->flag & ARP_FLAG_LOCAL) {
        ghwRoute.nd6AddLocalErrCnt++;
        return 0;
    }
    if ((request->flag & ARP_FLAG_LOCAL) && hwArpHeld(nd)) {
        // The router's own address over a held neighbour: stored only, as on
        // the IPv4 side, and held until the flush has removed its paths.
        takeInformation(nd, request);
        nd->localRefCnt = request->localRefCnt;
        nd->flag |= ARP_FLAG_LOCAL;
        nd->status = hwStatusIdle;
        return 0;
    }
    if (std::memcmp(nd->macAddr, request->macAddr, 6) == 0 && nd->outPort == request->outPort) return nd6AddSame(nd);
    return nd6AddChanged(nd, request);
}

int hwNd6Del(HwNd6Node* request) {
    if (request == nullptr || zero(request->nextHop, 16)) {
        ghwRoute.nd6DelParamErrCnt++;
        LOG("[hwNd6Del]=>ERROR: receive invalid message.");
        return -1;
    }
    logRequest("", "nd6 delete", request, false);
    HwNd6Node* nd = hwNd6TableLookup(request);
    if (nd == nullptr) {
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[hwNd6Del]=>ERROR:no found arp entry.");
        ghwRoute.nd6DelNoEntryErrCnt++;
        return -1;
    }
    // Not in hardware (a local record among them).
    if (!hwArpInHardware(nd)) {
        ghwRoute.nd6DelStateNoSuccessCnt++;
        if (!hwNeighUnwrittenWithDependants(nd, &HwRouteGlobal::hwErrNd6Cnt, nd6Free)) return 0;
    } else {
        ghwRoute.nd6DelNormalDelCnt++;
        if (hwUpdateNd6Del(nd) == -1) {
            ghwRoute.nd6DelHwFailCnt++;
            hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[hwNd6Del]=>ERROR: hwUpdateNd6Del error !");
            return -1;
        }
    }

    // Dependents.
    hwNd6EachPath(nd, [nd](Nh6* nh) { lostNexthop(nd, nh); });
    hwL2vpnEachTo(HW_AF_INET6, nd->nextHop, lostL2vpn);
    hwRouteTunDestroyAll(&nd->tunList);

    // Held until the flush has removed the routes that still use it.
    if (hwArpHeld(nd)) {
        ghwRoute.nd6DelRtRelateCnt++;
        return 0;
    }
    ghwRoute.nd6DelSwDelCnt++;
    nd6Free(nd);
    return 0;
}

int hwRouteNd6DelProcess(HwRoute6Dest* dest, HwRoute6Nexthop* nexthop) {
    // Only the neighbour count: the path itself still rides on its public route.
    hwRoute6PublicRelease(nexthop, NH_HOLDS_PUBLIC_ARP, hwPublicNd6DelCascade);
    if (dest != nullptr) hwRouteTunDestroyAll(&dest->tunList);
    return 0;
}
