// ARP add: a neighbour is learnt, learnt again or changes its MAC or port.
// The record is stored or updated and written as a /32 host entry, and
// everything that waited for it is released: pending routes go to the ready
// list, ILM and layer-2 VPN entries leave their pend lists and are written,
// tunnels are bound and written. A change withdraws every dependent entry
// first and writes it again with the new data.
#include <cstring>

#include "hwroute/debug.h"
#include "hwroute/hardware.h"
#include "hwroute/neighbour.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"
#include "arp_walks.h"

namespace {

void arpAddLog(const char* text) { hwRouteDebug(HW_DBG_MOD, HW_DBG_NEIGH, "[hwArpAdd]=>%s", text); }

bool macIsZero(const uint8_t* mac) {
    static const uint8_t zero[6] = {};
    return std::memcmp(mac, zero, sizeof zero) == 0;
}

// First match wins: no address, then no unit, then no MAC.
bool arpAddRequestValid(const HwArpNode* r) {
    if (r != nullptr && r->nextHop != 0 && r->ifUnit != 0 && !macIsZero(r->mac)) return true;
    ghwRoute.arpAddParamErrCnt++;
    if (r == nullptr)
        ghwRoute.arpAddParamErrParamNullCnt++;
    else if (r->nextHop == 0)
        ghwRoute.arpAddParamErrNexthopNullCnt++;
    else if (r->ifUnit == 0)
        ghwRoute.arpAddParamErrIfunitNullCnt++;
    else
        ghwRoute.arpAddParamErrMacNullCnt++;
    arpAddLog("ERROR: hwArpAdd receive invalid message.");
    return false;
}

bool sameInformation(const HwArpNode* arp, const HwArpNode* r) {
    return std::memcmp(arp->mac, r->mac, sizeof arp->mac) == 0 && arp->outPort == r->outPort;
}

// IPv4 next hops of IPv6 routes that are not in hardware are queued for the
// next flush. One that waits on the IPv6 pend table (put there when this
// neighbour went away) is taken off it first: nothing else would ever
// resolve it, and an unresolved add is never written.
void readdNexthop6(HwRoute6Nexthop* nh, uint32_t HwRouteGlobal::*added, uint32_t HwRouteGlobal::*readied) {
    ghwRoute.*added += 1;
    if ((nh->flag & NH_RESOLVED) == 0) hwNeighUnpend(nh);
    hwNexthopMarkAdd(nh);
    if (hwNeighReadyAppend(nh->pDestEntry)) ghwRoute.*readied += 1;
}

void readdNexthops6(HwArpNode* arp) {
    hwArpEachNexthop6(arp, [](HwRoute6Nexthop* nh) {
        if (nh->flag & NH_HW_OK) return;
        readdNexthop6(nh, &HwRouteGlobal::arpAddRt6AddCnt, &HwRouteGlobal::arpAddRt6ReadyAddCnt);
        hwRoute6IndirectRtAdd(nh->pDestEntry);
    });
}

// ---- Same information ---------------------------------------------------------

// Pending next hops are resolved again. A route that is still in
// hardware (its removal not flushed yet) needs nothing sent, so its
// destination leaves the ready list - unless it still needs the flush: a
// change of one of its paths is queued (dropping it would strand that
// change), or the path is back beside better ones that came meanwhile.
void fastReleasePending(HwArpNode* arp) {
    hwArpEachPending(arp, [](HwRouteNexthop* nh) {
        ghwRoute.arpAddFastPendDelCnt++;
        hwNeighUnpend(nh);
        nh->flag &= ~(NH_NEIGH_LOST | NH_VPN_NEIGH_LOST | NH_OP_HW_DEL);
        HwRouteDest* dest = nh->pDestEntry;
        if (dest != nullptr && dest->readyState == 1 && hwRouteDestSettled(dest)) {
            ghwRoute.arpAddFastReadyDelCnt++;
            hwRouteReadyTableDelete(dest);
        }
        hwRouteIndirectPendDel(dest, 1);
    });
}

// Paths that are not in hardware are queued for the next flush.
void fastReaddRoutes(HwArpNode* arp) {
    hwArpEachNexthop(arp, [](HwRouteNexthop* nh) {
        nh->flag &= ~(NH_WAIT_PRIVATE_ARP | NH_WAIT_L2VPN_ARP);  // its neighbour is back: nothing to withdraw later
        if (nh->flag & NH_HW_OK) return;
        ghwRoute.arpAddRouteWantAddCnt++;
        hwNexthopMarkAdd(nh);
        hwRoutePublicTake(nh, NH_HOLDS_PUBLIC_ARP);
        if (hwNeighReadyAppend(nh->pDestEntry)) ghwRoute.arpAddRtWantReadyAddCnt++;
        hwRouteIndirectRtAdd(nh->pDestEntry);
    });
}

int arpAddSame(HwArpNode* arp) {
    ghwRoute.arpAddSameInfoCnt++;
    if (arp->status == hwStatusDelAbnormal) {
        arp->status = hwStatusOk;
        if (arp->cardupFlag == 1) arp->cardupFlag = 0;
        ghwRoute.arpAddAbmlErrCnt++;
        return 0;
    }
    // An entry whose write was refused (status 4) lands here too: only a
    // change of MAC or port, or a delete and a new add, brings it back.
    if (!hwArpHeld(arp) && arp->status != hwStatusIdle) {
        arpAddLog("no change,do nothing more.");
        ghwRoute.arpAddRedupErrCnt++;
        return 0;
    }
    if (hwUpdateArpAdd(arp) != 0) {
        arpAddLog("ERROR: hwUpdateArpAdd error.");
        // A held record stays held (paths in hardware still use it); its
        // refused status keeps the flush from freeing it, and the retry
        // that writes it brings its paths back.
        return -1;
    }
    hwArpUnhold(arp);
    fastReleasePending(arp);
    fastReaddRoutes(arp);
    // The delete that held this record took its IPv6 routes out of hardware
    // and pended them; they come back the way a new neighbour brings them.
    readdNexthops6(arp);
    return 0;
}

// ---- Changed information --------------------------------------------------------

// Pending next hops are resolved; the rewrite below queues them.
void changeReleasePending(HwArpNode* arp) {
    hwArpEachPending(arp, [](HwRouteNexthop* nh) {
        ghwRoute.arpChangeFastPendDelCnt++;
        hwNeighUnpend(nh);
    });
}

// Queued changes are dropped (everything is rewritten below) and paths
// in hardware are removed at once, with the tunnels routed through them.
void changeWithdrawRoutes(HwArpNode* arp) {
    hwArpEachNexthop(arp, [](HwRouteNexthop* nh) {
        HwRouteDest* dest = nh->pDestEntry;
        if (dest != nullptr && dest->readyState == 1) {
            if ((nh->flag & NH_OP_ADD) && (nh->flag & NH_CARDUP_PEND)) nh->flag |= NH_HW_OK;
            nh->flag &= ~(NH_NEIGH_LOST | NH_VPN_NEIGH_LOST | NH_OP_HW_DEL);
            ghwRoute.arpchangeReadyDelCnt++;
            hwRouteReadyTableDelete(dest);
        }
        if ((nh->flag & NH_HW_OK) == 0) return;
        ghwRoute.arpchangeRouteDelCnt++;
        hwUpdateRouteDel(nh);
        if (dest != nullptr) hwTunWithdrawAll(&dest->tunList);
    });
}

// Every path to the address, whatever its VRF, is written again.
void changeReaddRoutes(uint32_t address) {
    hwArpEachNexthopAt(address, [](HwRouteNexthop* nh) {
        ghwRoute.arpchangeRouteAddCnt++;
        hwNexthopMarkAdd(nh);
        HwRouteDest* dest = nh->pDestEntry;
        if (hwNeighReadyAppend(dest)) ghwRoute.arpchangeReadyAddCnt++;
        if (dest != nullptr) hwArpBindRouteTunnels(dest);
    });
}

void takeInformation(HwArpNode* arp, const HwArpNode* r) {
    std::memcpy(arp->mac, r->mac, sizeof arp->mac);
    arp->outPort = r->outPort;
    arp->ifUnit = r->ifUnit;
    arp->subIfUnit = r->subIfUnit;
}

// Waiting ILM entries of this VRF and address, and layer-2 VPN entries
// towards it, leave their pend lists (status 2) for a writer to take them.
void ilmLeavePend(HwArpNode* arp) {
    hwIlmEachAt<&HwRouteIlmNode::pendLink>(&ghwRoute.ilmPendList, hwRouteIlmPendFirstAt(arp->nextHop),
                                           HwIlmTowards{arp->vpnVrfid, arp->nextHop, false}, [](HwRouteIlmNode* ilm) {
                                               ilm->status = hwStatusIdle;
                                               hwRouteIlmTablePendDelete(ilm);
                                           });
}

void l2vpnLeavePend(HwArpNode* arp) { hwL2vpnEachTo(arp->nextHop, hwL2vpnUnwait); }

int arpAddChanged(HwArpNode* arp, const HwArpNode* r) {
    ghwRoute.arpAddChangeCnt++;
    // A record whose first write was refused has released nothing yet:
    // only its data changes, and the write is tried again (releasing the
    // waiters would resolve paths through a neighbour not written).
    if (arp->flag & ARP_FLAG_UNRELEASED) {
        takeInformation(arp, r);
        return hwArpRetryWrite(arp);
    }
    const uint32_t address = arp->nextHop;
    const HwIlmTowards ilmAtAddress{0, address, true};

    // 1-6. Withdraw everything that used the old MAC.
    hwIlmEachAt<&HwRouteIlmNode::link>(&ghwRoute.ilmList, hwRouteIlmFirstAt(address), ilmAtAddress, hwUpdateIlmRouteDel);
    hwL2vpnEachTo(address, hwUpdateL2vpnDel);
    hwTunWithdrawAll(&arp->tunList);
    changeReleasePending(arp);
    changeWithdrawRoutes(arp);
    hwArpEachNexthop6(arp, hwUpdateRoute6Del);

    // 7-8. Rewrite the host entry.
    if (hwArpHeld(arp)) {
        hwArpUnhold(arp);
        ghwRoute.arpChangeArpSwDelCnt++;
    } else {
        hwUpdateArpDel(arp);
    }
    takeInformation(arp, r);
    (void)hwUpdateArpAdd(arp);  // a refusal shows in status and the hardware counters
    // Entries that came while the old host entry's write was refused waited
    // for it; they go out with the others now (else with the retry).
    if (arp->status == hwStatusOk) {
        ilmLeavePend(arp);
        l2vpnLeavePend(arp);
    }

    // 9-13. Write everything again.
    hwIlmEachAt<&HwRouteIlmNode::link>(&ghwRoute.ilmList, hwRouteIlmFirstAt(address), ilmAtAddress, hwUpdateIlmRouteAdd);
    hwL2vpnEachTo(address, hwUpdateL2vpnAdd);
    hwArpBindNeighbourTunnels(arp);
    changeReaddRoutes(address);
    hwArpEachNexthop6(arp, [](HwRoute6Nexthop* nh) {
        readdNexthop6(nh, &HwRouteGlobal::arpchangeRt6AddCnt, &HwRouteGlobal::arpchangeRt6ReadyAddCnt);
    });
    return 0;
}

// ---- New neighbour ------------------------------------------------------------------

// Pending next hops are resolved, and the routes resolved through them.
void newReleasePending(HwArpNode* arp) {
    hwArpEachPending(arp, [](HwRouteNexthop* nh) {
        ghwRoute.arpAddNormalPendDelCnt++;
        hwNeighUnpend(nh);
        hwRouteIndirectPendDel(nh->pDestEntry, 0);
    });
}

// ILM entries of this VRF and address leave the pend list and are written.
void newReleaseIlm(HwArpNode* arp) {
    ilmLeavePend(arp);
    hwIlmEachAt<&HwRouteIlmNode::link>(&ghwRoute.ilmList, hwRouteIlmFirstAt(arp->nextHop),
                                       HwIlmTowards{arp->vpnVrfid, arp->nextHop, false}, hwUpdateIlmRouteAdd);
}

// Layer-2 VPN entries towards the address leave the pend list and are
// written. Their counts on their public next hops do not move: an entry
// holds its one count from its add to its delete.
void newReleaseL2vpn(HwArpNode* arp) {
    l2vpnLeavePend(arp);
    hwL2vpnEachTo(arp->nextHop, hwUpdateL2vpnAdd);
}

// Every path through the neighbour is queued, with the tunnels routed through it.
void newAddRoutes(HwArpNode* arp) {
    hwArpEachNexthop(arp, [](HwRouteNexthop* nh) {
        ghwRoute.arpAddHardRouteCnt++;
        nh->flag &= ~(NH_WAIT_PRIVATE_ARP | NH_WAIT_L2VPN_ARP);
        hwNexthopMarkAdd(nh);
        HwRouteDest* dest = nh->pDestEntry;
        if (hwNeighReadyAppend(dest)) ghwRoute.arpAddReadyAddCnt++;
        hwRouteIndirectRtAdd(dest);
        hwRoutePublicTake(nh, NH_HOLDS_PUBLIC_ARP);
        if (dest != nullptr) hwArpBindRouteTunnels(dest);
    });
}

void releaseWaiters(HwArpNode* arp);

// The router's own address replaces a neighbour that is held (paths in
// hardware still use it): the record becomes the local one, stored only and
// never written (a rewrite would put the router's own MAC in hardware, and
// the local record is later freed without a hardware delete). It stays held
// until the flush has removed those paths.
int arpAddLocalOverHeld(HwArpNode* arp, const HwArpNode* r) {
    takeInformation(arp, r);
    arp->flag |= ARP_FLAG_LOCAL;
    arp->status = hwStatusIdle;
    return 0;
}

int arpAddNew(const HwArpNode* r) {
    ghwRoute.arpAddNormalCnt++;
    HwArpNode* arp = hwArpNodeAlloc();
    if (arp == nullptr) {
        arpAddLog("ERROR: hwArp node alloc fail.");
        ghwRoute.arpAddNoMemErrCnt++;
        return -1;
    }
    *arp = *r;
    hwListInit(&arp->tunList);
    hwArpTableAdd(arp);

    // 1. The router's own addresses are stored only.
    if (arp->flag & ARP_FLAG_LOCAL) return 0;

    // 2. The host entry; when refused, everything keeps waiting.
    ghwRoute.arpAddHardwareCnt++;
    if (hwUpdateArpAdd(arp) != 0) {
        arpAddLog("ERROR: hwUpdateArpAdd error.");
        arp->flag |= ARP_FLAG_UNRELEASED;  // released by the retry that gets it written
        return -1;
    }
    releaseWaiters(arp);
    return 0;
}

}  // namespace

// A rewrite refused on a change or on a held record's return: what waits on
// the pend table is resolved (paths still in hardware on this MAC stay
// there), and paths not in hardware are queued again.
int hwArpRetryWrite(HwArpNode* arp) {
    // As when a held record is learnt again and written at once, the IPv6
    // paths over it come back; ILM entries and pseudowires that arrived while
    // the rewrite was refused waited for it: they are written now.
    return hwNeighRetryWrite(arp, hwUpdateArpAdd, releaseWaiters, [](HwArpNode* a) {
        fastReleasePending(a);
        fastReaddRoutes(a);
        readdNexthops6(a);
        newReleaseIlm(a);
        newReleaseL2vpn(a);
    });
}

namespace {

// 3-10. Release what waited for a new neighbour.
void releaseWaiters(HwArpNode* arp) {
    newReleasePending(arp);
    newReleaseIlm(arp);
    newReleaseL2vpn(arp);
    hwArpBindNeighbourTunnels(arp);
    newAddRoutes(arp);
    readdNexthops6(arp);
}

}  // namespace

int hwArpAdd(HwArpNode* request) {
    if (!arpAddRequestValid(request)) return -1;
    hwArpLogRequest("hwArpAdd", "arp add", request);

    HwArpNode* arp = hwArpTableLookup(request);
    if (arp == nullptr) return arpAddNew(request);
    if (arp->flag & ARP_FLAG_LOCAL) {
        ghwRoute.arpAddLocalErrCnt++;
        return 0;
    }
    if ((request->flag & ARP_FLAG_LOCAL) && hwArpHeld(arp)) return arpAddLocalOverHeld(arp, request);
    if (sameInformation(arp, request)) return arpAddSame(arp);
    return arpAddChanged(arp, request);
}
