// ARP delete: the kernel withdrew an IPv4 neighbour. Everything that forwards
// through its MAC leaves the hardware and waits for it again; while routes
// that used it are still in hardware the record stays, held, and the flush
// counts it down as it removes them.
#include "hwroute/debug.h"
#include "hwroute/hardware.h"
#include "hwroute/mpls.h"
#include "hwroute/neighbour.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"
#include "arp_walks.h"

namespace {

bool arpDelRequestValid(const HwArpNode* request) {
    if (request != nullptr && request->nextHop != 0) return true;
    ghwRoute.arpDelParamErrCnt++;
    if (request == nullptr)
        ghwRoute.arpDelParamErrParamNullCnt++;
    else
        ghwRoute.arpDelParamErrNexthopNullCnt++;
    hwRouteDebug(HW_DBG_MOD, HW_DBG_NEIGH, "[hwArpDel]=>ERROR: hwArpDel receive invalid message.");
    return false;
}

void arpFree(HwArpNode* arp) {
    hwArpTableDelete(arp);
    hwArpNodeFree(arp);
}

// A route that was waiting to be replayed after a card came up is treated as
// being in hardware.
void cardupFix(HwRouteNexthop* nh) {
    if ((nh->flag & NH_CARDUP_PEND) == 0) return;
    ghwRoute.arpDelCardupAddCnt++;
    if (nh->flag & NH_OP_ADD) {
        ghwRoute.arpDelCardupRtAddCnt++;
        nh->flag = (nh->flag | NH_HW_OK) & ~NH_OP_ADD;
    }
    if (nh->flag & NH_OP_VPN_ADD) {
        ghwRoute.arpDelCardupVpnAddCnt++;
        nh->flag = (nh->flag | NH_VPN) & ~NH_OP_VPN_ADD;
    }
    nh->flag &= ~NH_CARDUP_PEND;
}

// The path is already being deleted: the flush removes it and counts the
// neighbour down.
void lostWhileDeleting(HwArpNode* arp, HwRouteNexthop* nh) {
    ghwRoute.arpDelProtoDelCnt++;
    hwArpHold(arp);
    nh->flag |= NH_NEIGH_LOST;
    if (nh->flag & NH_VPN) nh->flag |= NH_VPN_NEIGH_LOST;
    if (hwNeighPend(nh)) ghwRoute.arpDelProtoPendDelCnt++;
}

// The path is in hardware: the next flush removes it.
void lostInHardware(HwArpNode* arp, HwRouteNexthop* nh) {
    ghwRoute.arpDelRtDelCnt++;
    hwArpHold(arp);
    nh->flag |= NH_NEIGH_LOST | NH_OP_HW_DEL;
    if (nh->flag & NH_VPN) {
        ghwRoute.arpDelVpnDelCnt++;
        nh->flag |= NH_VPN_NEIGH_LOST;
        nh->extFlag |= NH_EXT_VPN_WITHDRAWN;
    }
    HwRouteDest* dest = nh->pDestEntry;
    if (hwNeighReadyAppend(dest)) ghwRoute.arpDelReadyAddCnt++;
    hwRouteIndirectRtDel(dest);
    hwRouteArpDelProcess(dest, nh);
    ghwRoute.arpDelRoutePendAddCnt++;
    hwNeighPend(nh);
}

// Layer-2 VPN entries on the public route that stay in hardware through
// another neighbour keep it; those towards this neighbour leave with it.
bool keptByL2vpn(const HwArpNode* arp, const HwRouteNexthop* nh) {
    if (nh->l2vpnRefCnt == 0) return false;
    uint8_t address16[16];
    hwAddr4To16(arp->nextHop, address16);
    return hwL2vpnKeepsPublic(nh, nullptr, HW_AF_INET, address16);
}

void lostNexthop(HwArpNode* arp, HwRouteNexthop* nh) {
    if (nh->flag & NH_OP_DEL) return lostWhileDeleting(arp, nh);
    cardupFix(nh);
    if (nh->privateArpRefCnt != 0) {
        ghwRoute.arpDelPrivateRefCnt++;
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[hwArpDel]=>hwArpDel privateArpRefCnt is %d public route can not delete.",
                     int(nh->privateArpRefCnt));
        nh->flag |= NH_WAIT_PRIVATE_ARP;
        hwArpHold(arp);
        return;
    }
    if (keptByL2vpn(arp, nh)) {
        ghwRoute.arpDelL2vpnRefCnt++;
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[hwArpDel]=>hwArpDel l2vpnRefCnt is %d public route can not delete.",
                     int(nh->l2vpnRefCnt));
        // Not held: the path's later delete finds it by its address.
        nh->flag |= NH_WAIT_L2VPN_ARP;
        return;
    }
    if (nh->flag & NH_HW_OK) return lostInHardware(arp, nh);
    ghwRoute.arpDelRtNoSucCnt++;
    hwRouteArpDelProcess(nullptr, nh);
    if (hwNeighPend(nh)) ghwRoute.arpDelRtNoSucPendAddCnt++;
}

// IPv6 routes over this IPv4 neighbour leave the hardware at once.
void lostNexthop6(HwRoute6Nexthop* nh) {
    ghwRoute.arpDelRt6DelCnt++;
    hwUpdateRoute6Del(nh);
    hwNeighPend(nh);
}

// A refused hardware delete below leaves the entry waiting all the same: the
// abnormal table keeps the delete and sends it until the hardware takes it
// (the ok count falls then), unless the neighbour's return rewrites the
// entry first.
void lostL2vpn(HwRouteL2vpnNode* e) {
    hwUpdateL2vpnDel(e);
    hwRouteL2vpnArpDelProcess(e);
    hwL2vpnWait(e);
}

void lostIlm(HwRouteIlmNode* ilm) {
    hwUpdateIlmRouteDel(ilm);
    hwIlmWait(ilm);
}

}  // namespace

int hwArpDel(HwArpNode* request) {
    // 1-3. Validate, log, find the record.
    if (!arpDelRequestValid(request)) return -1;
    hwArpLogRequest("hwArpDel", "arp delete", request);
    HwArpNode* arp = hwArpTableLookup(request);
    if (arp == nullptr) {
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[hwArpDel]=>ERROR:no found arp entry.");
        ghwRoute.arpDelNoEntryErrCnt++;
        return -1;
    }

    // 4. Not in hardware.
    if (!hwArpInHardware(arp)) {
        ghwRoute.arpDelStateNoSuccessCnt++;
        if (!hwNeighUnwrittenWithDependants(arp, &HwRouteGlobal::hwErrArpCnt, arpFree)) return 0;
    } else {
        // 5. The host entry first; a refusal changes nothing else.
        ghwRoute.arpDelNormalDelCnt++;
        if (hwUpdateArpDel(arp) == -1) {
            ghwRoute.arpDelHwFailCnt++;
            hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, "[hwArpDel]=>ERROR: hwArpDel hwUpdateArpDel error !");
            return -1;
        }
    }

    // 6-10. Dependents.
    hwArpEachNexthop(arp, [arp](HwRouteNexthop* nh) { lostNexthop(arp, nh); });
    hwArpEachNexthop6(arp, lostNexthop6);
    hwL2vpnEachTo(arp->nextHop, lostL2vpn);
    hwIlmEachAt<&HwRouteIlmNode::link>(&ghwRoute.ilmList, hwRouteIlmFirstAt(arp->nextHop),
                                       HwIlmTowards{arp->vpnVrfid, arp->nextHop, false}, lostIlm);
    hwRouteTunDestroyAll(&arp->tunList);

    // 11. Held until the flush has removed the routes that still use it.
    if (hwArpHeld(arp)) {
        ghwRoute.arpDelRtRelateCnt++;
        return 0;
    }
    ghwRoute.arpDelSwDelCnt++;
    arpFree(arp);
    return 0;
}

int hwRouteArpDelProcess(HwRouteDest* dest, HwRouteNexthop* nexthop) {
    // Only the neighbour count: the path itself still rides on its public route.
    hwRoutePublicRelease(nexthop, NH_HOLDS_PUBLIC_ARP, hwPublicRouteDelCascade);
    if (dest != nullptr) hwRouteTunDestroyAll(&dest->tunList);
    return 0;
}
