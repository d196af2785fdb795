// Walks and small steps shared by the neighbour handlers.
#include "arp_walks.h"

#include "hwroute/debug.h"
#include "hwroute/hardware.h"

uint32_t hwAddr4Of(const uint8_t* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | uint32_t(bytes[3]);
}

void hwAddr4To16(uint32_t address, uint8_t* out16) {
    std::memset(out16, 0, 16);
    out16[0] = uint8_t(address >> 24);
    out16[1] = uint8_t(address >> 16);
    out16[2] = uint8_t(address >> 8);
    out16[3] = uint8_t(address);
}

void hwArpLogRequest(const char* fn, const char* what, const HwArpNode* r) {
    hwRouteDebug(HW_DBG_MOD, HW_DBG_NEIGH,
                 "[%s]=>%s detected,ifUnit=%d,nextHop=0x%x,outPort=%d,mac=%02x:%02x:%02x:%02x:%02x:%02x,status=%d,"
                 "vpnVrfid=%d.",
                 fn, what, int(r->ifUnit), unsigned(r->nextHop), int(r->outPort), r->mac[0], r->mac[1], r->mac[2],
                 r->mac[3], r->mac[4], r->mac[5], int(r->status), int(r->vpnVrfid));
}

// ---- Ready and pend lists ---------------------------------------------------

bool hwNeighReadyAppend(HwRouteDest* dest) {
    if (dest == nullptr || dest->readyState != 0) return false;
    hwRouteReadyTableAdd(dest);
    return true;
}

bool hwNeighReadyAppend(HwRoute6Dest* dest) {
    if (dest == nullptr || dest->readyState != 0) return false;
    hwRoute6ReadyTableAdd(dest);
    return true;
}

bool hwNeighPend(HwRouteNexthop* nh) {
    if ((nh->flag & NH_RESOLVED) == 0) return false;
    hwRouteTablePendAdd(nh);
    nh->flag &= ~NH_RESOLVED;
    return true;
}

bool hwNeighPend(HwRoute6Nexthop* nh) {
    if ((nh->flag & NH_RESOLVED) == 0) return false;
    hwRoute6TablePendAdd(nh);
    nh->flag &= ~NH_RESOLVED;
    return true;
}

void hwNeighUnpend(HwRouteNexthop* nh) {
    hwRouteTablePendDelete(nh);
    nh->flag |= NH_RESOLVED;
}

void hwNeighUnpend(HwRoute6Nexthop* nh) {
    hwRoute6TablePendDelete(nh);
    nh->flag |= NH_RESOLVED;
}

bool hwNexthop6OnArp(const HwRoute6Nexthop* nh, const HwArpNode* arp, const uint8_t* address16) {
    if (nh->afNextHop != HW_AF_INET) return false;
    if (std::memcmp(nh->nextHop, address16, 16) != 0) return false;
    uint32_t vrf = 0;
    return hwNexthop6EffectiveVrf(nh, &vrf) && vrf == arp->vpnVrfid;
}

// ---- ILM, layer-2 VPN and tunnel lists --------------------------------------

// Membership is read from the pend list's index: the pend links of an entry
// that never waited are not meaningful.
bool hwIlmWaiting(const HwRouteIlmNode* ilm) { return hwRouteIlmPending(ilm); }

void hwIlmWait(HwRouteIlmNode* ilm) {
    ilm->status = hwStatusWait;
    if (!hwIlmWaiting(ilm)) hwRouteIlmTablePendAdd(ilm);
}

// An entry is on the pend list exactly while its status is 3.
void hwL2vpnWait(HwRouteL2vpnNode* e) {
    if (e->status != hwStatusWait) hwRouteL2vpnTablePendAdd(e);
    e->status = hwStatusWait;
}

void hwL2vpnUnwait(HwRouteL2vpnNode* e) {
    if (e->status != hwStatusWait) return;
    e->status = hwStatusIdle;
    hwRouteL2vpnTablePendDelete(e);
}

// Through the tunnels of this far endpoint only, in tunnel list order.
void hwArpBindNeighbourTunnels(HwArpNode* arp) {
    const uint8_t address[4] = {uint8_t(arp->nextHop >> 24), uint8_t(arp->nextHop >> 16), uint8_t(arp->nextHop >> 8),
                                uint8_t(arp->nextHop)};
    const HwTunToNeighbour mine{arp->nextHop};
    for (HwRouteTunNode* t = hwRouteTunFirstTo(HW_AF_INET, address); t != nullptr; t = hwRouteTunNextTo(t)) {
        if (!mine(t)) continue;
        hwRouteTunBind(t, &arp->tunList, arp);
        hwUpdateTunAdd(t);
    }
}

void hwArpBindRouteTunnels(HwRouteDest* dest) { hwRouteTunAttach(dest); }

void hwTunWithdrawAll(HwListLink* entryTunList) {
    if (entryTunList->next == nullptr) return;  // a list head nobody has initialised yet is empty
    for (HwRouteTunNode* t : hwListOf<&HwRouteTunNode::bindLink>(entryTunList)) hwUpdateTunDel(t);
}

// ---- Public next hops --------------------------------------------------------

const HwPublicWithdrawCounters hwPublic4ArpCounters = {
    &HwRouteGlobal::arpDelPublicRt4DelCnt, &HwRouteGlobal::arpDelPublicVpn4DelCnt,
    &HwRouteGlobal::arpDelPublicReadyAddCnt, &HwRouteGlobal::arpDelRoutePublicPend4AddCnt};
const HwPublicWithdrawCounters hwPublic6ArpCounters = {
    &HwRouteGlobal::arpDelPublicRt6DelCnt, &HwRouteGlobal::arpDelPublicVpn6DelCnt,
    &HwRouteGlobal::arpDelPublicReady6AddCnt, &HwRouteGlobal::arpDelRoutePublicPend6AddCnt};
const HwPublicWithdrawCounters hwPublicUncounted = {nullptr, nullptr, nullptr, nullptr};

namespace {

void bump(uint32_t HwRouteGlobal::*counter) {
    if (counter != nullptr) (ghwRoute.*counter)++;
}

// The public next hop leaves the hardware with the next flush, and waits for
// its neighbour again. The same for both families.
template <class Nexthop>
void withdrawPublic(Nexthop* pub, const HwPublicWithdrawCounters& c) {
    if (pub->flag & NH_HW_OK) {
        bump(c.routeDel);
        pub->flag |= NH_NEIGH_LOST;
    }
    if (pub->flag & NH_VPN) {
        bump(c.vpnDel);
        pub->flag |= NH_VPN_NEIGH_LOST;
    }
    if (hwNeighReadyAppend(pub->pDestEntry)) bump(c.readyAdd);
    if (pub->pDestEntry != nullptr) hwRouteTunDestroyAll(&pub->pDestEntry->tunList);
    bump(c.pendAdd);
    hwNeighPend(pub);
}

// Only a lowering that reaches 0 withdraws, so a public next hop is withdrawn
// once however many users go, and a count already at 0 is left alone.
template <class Nexthop>
void releasePublic(Nexthop* pub, uint32_t Nexthop::*count, uint32_t waitBit, const HwPublicWithdrawCounters& c) {
    if (pub == nullptr || pub->*count == 0) return;
    pub->*count -= 1;
    if (pub->*count == 0 && (pub->flag & waitBit)) withdrawPublic(pub, c);
}

}  // namespace

void hwPublicRelease(HwRouteNexthop* pub, uint32_t HwRouteNexthop::*count, uint32_t waitBit,
                     const HwPublicWithdrawCounters& counters) {
    releasePublic(pub, count, waitBit, counters);
}

void hwPublicRelease(HwRoute6Nexthop* pub, uint32_t HwRoute6Nexthop::*count, uint32_t waitBit,
                     const HwPublicWithdrawCounters& counters) {
    releasePublic(pub, count, waitBit, counters);
}

void hwPublicWithdraw(HwRouteNexthop* pub, const HwPublicWithdrawCounters& counters) { withdrawPublic(pub, counters); }
void hwPublicWithdraw(HwRoute6Nexthop* pub, const HwPublicWithdrawCounters& counters) { withdrawPublic(pub, counters); }
