// Layer-2 VPN (pseudowire) entries: stored in the layer-2 VPN table, written
// to hardware at once when the neighbour of their remote edge is resolved,
// otherwise parked on the pend list (and probed for) until the neighbour add
// releases them.
//
// Status of an entry (hardware status codes):
//   2 stored    add; leaving the pend list; hardware delete accepted
//   3 waiting   add without neighbour; neighbour delete (on the pend list
//               exactly while in this state)
//   1 in hw     hardware add accepted
//   4 / 5       hardware add / delete refused
//
// The count on the public next hop (l2vpnRefCnt). An entry stored with a
// public next hop holds exactly one count on it from the add that stores it
// to the delete that frees it; neighbour events never move the count. So the
// count is the number of entries that point at the next hop: the next hop
// cannot be freed under an entry (its deletes wait for the count), and its
// deferred delete (NH_WAIT_L2VPN, NH_WAIT_L2VPN_VPN) runs with the delete of
// the last entry, whatever happened to the neighbours in between. The
// neighbour side is decided by the entries themselves: when the public next
// hop loses its neighbour while an entry still in hardware rides on it
// through another neighbour, its withdrawal waits (NH_WAIT_L2VPN_ARP, which
// holds no count and no neighbour record) until the last such entry leaves
// the hardware, or the neighbour returns.
#include <arpa/inet.h>

#include <cstring>

#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/mpls.h"
#include "hwroute/neighbour.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"
#include "../neighbour/arp_walks.h"

namespace {

#define L2_LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

bool sameAddress(const HwRouteL2vpnNode* e, uint32_t family, const uint8_t* address16) {
    if (address16 == nullptr || e->family != family) return false;
    return std::memcmp(e->nexthopIp, address16, family == HW_AF_INET ? 4 : 16) == 0;
}

void addressText(const HwRouteL2vpnNode* e, char* text, size_t len) {
    if (e->family == HW_AF_INET6) {
        if (inet_ntop(AF_INET6, e->nexthopIp, text, socklen_t(len)) == nullptr) text[0] = '\0';
    } else {
        inet_ntoa_2(text, hwAddr4Of(e->nexthopIp));
    }
}

void logEntry(const char* what, const HwRouteL2vpnNode* e) {
    char text[INET6_ADDRSTRLEN];
    addressText(e, text, sizeof text);
    L2_LOG("L2vpn %s detected,vfiId=%d,vpnType=%d,family=%d,flags=0x%x,cePort=%d,ceVid=%d,ceEgressVid=%d,"
           "ceEgressPri=%d,peEgressPri=%d,peEgressVid=%d,txOuterLabel=%d,txInnerLabel=%d,rxInnerLabel=%d,"
           "txOuterExp=%d,txOuterTtl=%d,txInnerExp=%d,txInnerTtl=%d,nextHop=%s.",
           what, e->vfiId, e->vpnType, e->family, e->flags, e->cePort, e->ceVid, e->ceEgressVid, e->ceEgressPri,
           e->peEgressPri, e->peEgressVid, e->txOuterLabel, e->txInnerLabel, e->rxInnerLabel, e->txOuterExp,
           e->txOuterTtl, e->txInnerExp, e->txInnerTtl, text);
}

// ---- The public next hop ------------------------------------------------------

// Step 2: the public route's next hop, or null. False when keys were given
// and do not name a stored route.
bool findPublic(uint32_t family, void* destKey, void* nexthopKey, void** pub) {
    *pub = nullptr;
    if (destKey == nullptr || nexthopKey == nullptr) return true;
    if (family == HW_AF_INET) {
        HwRouteDest* d = hwRouteDestTableLookup(static_cast<HwRouteDest*>(destKey));
        if (d == nullptr) return L2_LOG("[hwRouteL2vpnAdd]=>ERROR: no public dest found."), false;
        *pub = hwRouteNexthopTableLookup(d, static_cast<HwRouteNexthop*>(nexthopKey));
        if (*pub == nullptr) return L2_LOG("[hwRouteL2vpnAdd]=>ERROR: no public nhop found."), false;
    } else if (family == HW_AF_INET6) {
        HwRoute6Dest* d = hwRoute6DestTableLookup(static_cast<HwRoute6Dest*>(destKey));
        if (d == nullptr) return L2_LOG("[hwRouteL2vpnAdd]=>ERROR: no public dest6 found."), false;
        *pub = hwRoute6NexthopTableLookup(d, static_cast<HwRoute6Nexthop*>(nexthopKey));
        if (*pub == nullptr) return L2_LOG("[hwRouteL2vpnAdd]=>ERROR: no public nhop6 found."), false;
    }
    return true;
}

// A next hop of the entry's own family is kept, and counted once.
void holdPublic(HwRouteL2vpnNode* e, uint32_t publicFamily, void* pub) {
    e->publicNexthop = nullptr;
    if (pub == nullptr || publicFamily != e->family) return;
    e->publicNexthop = pub;
    if (e->family == HW_AF_INET)
        static_cast<HwRouteNexthop*>(pub)->l2vpnRefCnt++;
    else
        static_cast<HwRoute6Nexthop*>(pub)->l2vpnRefCnt++;
}

void withdraw(HwRouteNexthop* pub) { hwPublicWithdraw(pub, hwPublicUncounted); }
void withdraw(HwRoute6Nexthop* pub) { hwPublicWithdraw(pub, hwPublicUncounted); }
int routeDelOf(HwRouteNexthop* pub) { return hwRouteRouteDel(pub->pDestEntry, pub); }
int routeDelOf(HwRoute6Nexthop* pub) { return hwRoute6RouteDel(pub->pDestEntry, pub); }
int vpnDelOf(HwRouteNexthop* pub) { return hwRouteVpnDel(pub->pDestEntry, pub); }
int vpnDelOf(HwRoute6Nexthop* pub) { return hwRoute6VpnDel(pub->pDestEntry, pub); }

// `leaving` leaves the hardware: a public next hop whose withdrawal waited
// for the entries in hardware is withdrawn when no other one remains.
template <class Nh>
void letGoNeighbourWait(Nh* pub, const HwRouteL2vpnNode* leaving) {
    if (!(pub->flag & NH_WAIT_L2VPN_ARP)) return;
    if (hwL2vpnKeepsPublic(pub, leaving, 0, nullptr)) return;
    pub->flag &= ~NH_WAIT_L2VPN_ARP;
    withdraw(pub);
}

// The entry gives its count back; with the last count the deletes that
// waited for the entries run.
template <class Nh>
void releaseCount(Nh* pub, const HwRouteL2vpnNode* leaving) {
    letGoNeighbourWait(pub, leaving);
    if (pub->l2vpnRefCnt == 0) {
        ++ghwRoute.publicRefImbalanceCnt;
        L2_LOG("[hwRouteL2vpnDelProcess]=>ERROR: public l2vpnRefCnt already 0 while an entry holds it.");
        return;
    }
    if (--pub->l2vpnRefCnt != 0) return;
    if (pub->flag & NH_WAIT_L2VPN) {
        pub->flag &= ~(NH_WAIT_L2VPN | NH_WAIT_L2VPN_VPN);
        routeDelOf(pub);  // may free the next hop
    } else if (pub->flag & NH_WAIT_L2VPN_VPN) {
        pub->flag &= ~NH_WAIT_L2VPN_VPN;
        vpnDelOf(pub);
    }
}

// ---- Add -------------------------------------------------------------------------

HwRouteL2vpnNode* store(const HwRouteL2vpnNode* request, uint32_t publicFamily, void* pub) {
    HwRouteL2vpnNode* e = hwRouteL2vpnNodeAlloc();
    if (e == nullptr) {
        L2_LOG("ERROR: hwRouteL2vpnAdd node alloc fail.");
        return nullptr;
    }
    *e = *request;
    hwListInit(&e->pendLink);
    holdPublic(e, publicFamily, pub);
    logEntry("add", e);
    hwRouteL2vpnTableAdd(e);
    return e;
}

// A resolved neighbour at the remote edge, in any VRF.
bool neighbourResolved(const HwRouteL2vpnNode* e) {
    if (e->family == HW_AF_INET) {
        const uint32_t address = hwAddr4Of(e->nexthopIp);
        for (HwArpNode* arp : hwListOf<&HwArpNode::link>(&ghwRoute.arpTable[hwRouteKey1(address)]))
            if (arp->nextHop == address && arp->status == hwStatusOk) return true;
        return false;
    }
    for (HwNd6Node* nd : hwListOf<&HwNd6Node::link>(&ghwRoute.nd6Table[hwRoute6Key1(e->nexthopIp)]))
        if (std::memcmp(nd->nextHop, e->nexthopIp, 16) == 0 && nd->status == hwStatusOk) return true;
    return false;
}

void wait(HwRouteL2vpnNode* e) {
    if (e->family == HW_AF_INET) {
        L2_LOG("nextHop mac not exist, send icmp echo request msg.");
        hwPingSend(hwAddr4Of(e->nexthopIp), e->vfiId);
    } else {
        L2_LOG("nextHop mac not exist, send icmpv6 echo request msg.");
    }
    e->status = hwStatusWait;
    hwRouteL2vpnTablePendAdd(e);
}

}  // namespace

bool hwL2vpnKeepsPublic(const void* pub, const HwRouteL2vpnNode* except, uint32_t lostFamily,
                        const uint8_t* lostAddress16) {
    for (HwRouteL2vpnNode* e = hwRouteL2vpnFirstOn(pub); e != nullptr; e = hwRouteL2vpnNextOn(e)) {
        if (e == except || e->status == hwStatusWait) continue;
        if (!sameAddress(e, lostFamily, lostAddress16)) return true;
    }
    return false;
}

int hwRouteL2vpnAdd(HwRouteL2vpnNode* request, uint32_t publicFamily, void* publicDestKey, void* publicNexthopKey) {
    if (request == nullptr) {
        L2_LOG("ERROR: hwRouteL2vpnAdd receive invalid message.");
        return -1;
    }
    void* pub = nullptr;
    if (!findPublic(publicFamily, publicDestKey, publicNexthopKey, &pub)) return -1;
    if (hwRouteL2vpnTableLookup(request) != nullptr) {
        L2_LOG("ERROR: hwRouteL2vpnAdd route exist.");
        return 0;
    }
    HwRouteL2vpnNode* e = store(request, publicFamily, pub);
    if (e == nullptr) return -1;
    if (!neighbourResolved(e)) {
        wait(e);
        return 0;
    }
    L2_LOG("nextHop mac exist,notify L2vpn to hardware.");
    hwUpdateL2vpnAdd(e);
    return 0;
}

int hwRouteL2vpnDel(HwRouteL2vpnNode* request) {
    if (request == nullptr) {
        L2_LOG("ERROR: hwRouteL2vpnDel receive invalid message.");
        return -1;
    }
    logEntry("del", request);
    // The request may be the stored record itself: not read once it is freed.
    HwRouteL2vpnNode* e = hwRouteL2vpnTableLookup(request);
    if (e == nullptr) {
        L2_LOG("ERROR:no found L2vpn entry.");
        return -1;
    }
    if (e->status == hwStatusWait) {
        hwRouteL2vpnTablePendDelete(e);
    } else if (e->status != hwStatusIdle && hwUpdateL2vpnDel(e) == -1) {
        L2_LOG("ERROR: hwRouteL2vpnDel hwUpdateL2vpnDel error !");
        return -1;
    }
    hwRouteL2vpnTableDelete(e);
    hwRouteL2vpnDelProcess(e);
    hwRouteL2vpnNodeFree(e);
    return 0;
}

int hwRouteL2vpnDelProcess(HwRouteL2vpnNode* entry) {
    if (entry == nullptr || entry->publicNexthop == nullptr) return 0;
    void* pub = entry->publicNexthop;
    entry->publicNexthop = nullptr;
    if (entry->family == HW_AF_INET)
        releaseCount(static_cast<HwRouteNexthop*>(pub), entry);
    else
        releaseCount(static_cast<HwRoute6Nexthop*>(pub), entry);
    return 0;
}

int hwRouteL2vpnArpDelProcess(HwRouteL2vpnNode* entry) {
    if (entry == nullptr || entry->publicNexthop == nullptr) return 0;
    if (entry->family == HW_AF_INET)
        letGoNeighbourWait(static_cast<HwRouteNexthop*>(entry->publicNexthop), entry);
    else
        letGoNeighbourWait(static_cast<HwRoute6Nexthop*>(entry->publicNexthop), entry);
    return 0;
}
