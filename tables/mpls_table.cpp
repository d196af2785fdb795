// ILM table and pend list, layer-2 VPN table and pend list, tunnel list and
// the binding of tunnels to the entries that carry them.
#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwroute/tables.h"
#include "side_index.h"

namespace {

// The 20-bit label of a label stack entry (EXP, bottom of stack and TTL dropped).
inline uint32_t labelOf(uint32_t entry) { return entry >> 12; }

// Address bytes compared for a family: 4 for IPv4, 16 otherwise.
inline std::size_t addrBytes(uint32_t family) { return family == HW_AF_INET ? 4 : 16; }

// Linked on some list: a removed link keeps its old pointers, but its old
// neighbour no longer points back at it.
inline bool linked(const HwListLink* link) { return link->next != nullptr && link->next->prev == link; }

}  // namespace

// ILM table and pend list, both in descending nextHop order, equal next hops
// in arrival order. The side indexes say where an entry goes and find it by
// its key, so neither walks the list.

namespace {

template <auto Link>
void ilmLinkOrdered(HwListLink* head, HwOrderedGroups& groups, HwRouteIlmNode* node) {
    HwRouteIlmNode* behind = groups.placeOf<HwIlmAtFamily>(node->nextHop);
    hwListInsertAfter(behind == nullptr ? head : linkOf<Link>(behind), linkOf<Link>(node));
    groups.add<HwIlmAtFamily>(node);
}

// Back from the group's last entry (its chain's front) to its first.
template <auto Link>
HwRouteIlmNode* groupFirst(HwListLink* head, const HwOrderedGroups& groups, uint32_t nextHop) {
    HwRouteIlmNode* first = groups.members.first<HwIlmAtFamily>(nextHop);
    if (first == nullptr) return nullptr;
    for (HwListLink* l = linkOf<Link>(first)->prev; l != head && ownerOf<Link>(l)->nextHop == nextHop; l = l->prev)
        first = ownerOf<Link>(l);
    return first;
}

}  // namespace

void hwRouteIlmTableAdd(HwRouteIlmNode* node) {
    if (node == nullptr) return;
    ilmLinkOrdered<&HwRouteIlmNode::link>(&ghwRoute.ilmList, ghwIndex.ilmList, node);
    ghwIndex.ilm.add<HwIlmKeyFamily>(node, true);
    ghwRoute.swIlmCnt++;
}

void hwRouteIlmTableDelete(HwRouteIlmNode* node) {
    if (node == nullptr) return;
    ghwIndex.ilmList.remove<HwIlmAtFamily>(node);
    ghwIndex.ilm.remove<HwIlmKeyFamily>(node);
    hwListRemove(&node->link);
    ghwRoute.swIlmCnt--;
}

HwRouteIlmNode* hwRouteIlmTableLookup(const HwRouteIlmNode* key) {
    if (key == nullptr) return nullptr;
    return ghwIndex.ilm.first<HwIlmKeyFamily>(HwIlmKeyFamily::keyOf(key));
}

void hwRouteIlmTablePendAdd(HwRouteIlmNode* node) {
    if (node == nullptr) return;
    ilmLinkOrdered<&HwRouteIlmNode::pendLink>(&ghwRoute.ilmPendList, ghwIndex.ilmPend, node);
    ghwRoute.pendIlmCnt++;
}

void hwRouteIlmTablePendDelete(HwRouteIlmNode* node) {
    if (node == nullptr) return;
    ghwIndex.ilmPend.remove<HwIlmAtFamily>(node);
    hwListRemove(&node->pendLink);
    ghwRoute.pendIlmCnt--;
}

bool hwRouteIlmPending(const HwRouteIlmNode* node) { return node != nullptr && ghwIndex.ilmPend.linked(node); }

HwRouteIlmNode* hwRouteIlmFirstAt(uint32_t nextHop) {
    return groupFirst<&HwRouteIlmNode::link>(&ghwRoute.ilmList, ghwIndex.ilmList, nextHop);
}

HwRouteIlmNode* hwRouteIlmPendFirstAt(uint32_t nextHop) {
    return groupFirst<&HwRouteIlmNode::pendLink>(&ghwRoute.ilmPendList, ghwIndex.ilmPend, nextHop);
}

// Layer-2 VPN table and pend list: newest first, no counters.

void hwRouteL2vpnTableAdd(HwRouteL2vpnNode* node) {
    if (node == nullptr) return;
    hwListInsertFront(&ghwRoute.l2vpnList, &node->link);
    ghwIndex.l2vpn.add<HwL2vpnKeyFamily>(node, true);
    ghwIndex.l2vpnTo.add<HwL2vpnToFamily>(node, true);
    ghwIndex.l2vpnOn.add<HwL2vpnOnFamily>(node, true);
}

void hwRouteL2vpnTableDelete(HwRouteL2vpnNode* node) {
    if (node == nullptr) return;
    ghwIndex.l2vpn.remove<HwL2vpnKeyFamily>(node);
    ghwIndex.l2vpnTo.remove<HwL2vpnToFamily>(node);
    ghwIndex.l2vpnOn.remove<HwL2vpnOnFamily>(node);
    hwListRemove(&node->link);
}

HwRouteL2vpnNode* hwRouteL2vpnTableLookup(const HwRouteL2vpnNode* key) {
    return key == nullptr ? nullptr : ghwIndex.l2vpn.first<HwL2vpnKeyFamily>(key);
}

HwRouteL2vpnNode* hwRouteL2vpnFirstTo(uint8_t family, const uint8_t* address) {
    return address == nullptr ? nullptr : ghwIndex.l2vpnTo.first<HwL2vpnToFamily>(HwL2vpnToFamily::Key{family, address});
}
HwRouteL2vpnNode* hwRouteL2vpnNextTo(const HwRouteL2vpnNode* e) { return ghwIndex.l2vpnTo.after<HwL2vpnToFamily>(e); }

HwRouteL2vpnNode* hwRouteL2vpnFirstOn(const void* publicNexthop) {
    return publicNexthop == nullptr ? nullptr : ghwIndex.l2vpnOn.first<HwL2vpnOnFamily>(publicNexthop);
}
HwRouteL2vpnNode* hwRouteL2vpnNextOn(const HwRouteL2vpnNode* e) { return ghwIndex.l2vpnOn.after<HwL2vpnOnFamily>(e); }

template <>
uint32_t HwL2vpnKeyFamily::hash(Key k) {
    uint8_t a[16] = {};
    std::memcpy(a, k->nexthopIp, addrBytes(k->family));
    uint32_t h = hwSideMix(hwSideMix(10, (uint32_t(k->vfiId) << 16) | (uint32_t(k->vpnType) << 8) | k->family), k->cePort);
    h = hwSideMix(hwSideMix(hwSideMix(h, k->ceVid), k->txInnerLabel), k->rxInnerLabel);
    return hwSideMixBytes16(h, a);
}

template <>
bool HwL2vpnKeyFamily::eq(Key a, Key b) {
    return a->vfiId == b->vfiId && a->vpnType == b->vpnType && a->cePort == b->cePort && a->ceVid == b->ceVid &&
           a->family == b->family && std::memcmp(a->nexthopIp, b->nexthopIp, addrBytes(b->family)) == 0 &&
           a->txInnerLabel == b->txInnerLabel && a->rxInnerLabel == b->rxInnerLabel;
}

void hwRouteL2vpnTablePendAdd(HwRouteL2vpnNode* node) {
    if (node == nullptr) return;
    hwListInsertFront(&ghwRoute.l2vpnPendList, &node->pendLink);
}

void hwRouteL2vpnTablePendDelete(HwRouteL2vpnNode* node) {
    if (node == nullptr) return;
    hwListRemove(&node->pendLink);
}

// Tunnel list: newest first, no counter; the tunnels of one far endpoint
// are also chained in that order beside it.

void hwRouteTunTableAdd(HwRouteTunNode* node) {
    if (node == nullptr) return;
    hwListInsertFront(&ghwRoute.tunList, &node->link);
    ghwIndex.tun.add<HwTunToFamily>(node, true);
    ghwIndex.tunKey.add<HwTunKeyFamily>(node, true);
    hwTunCoverAdd(node);
}

void hwRouteTunTableDelete(HwRouteTunNode* node) {
    if (node == nullptr) return;
    ghwIndex.tun.remove<HwTunToFamily>(node);
    ghwIndex.tunKey.remove<HwTunKeyFamily>(node);
    hwTunCoverRemove(node);
    hwListRemove(&node->link);
}

// Two tunnels are the same when these fields agree: the route and endpoint
// families and masks, the id and method, the route and both endpoints.
template <>
bool HwTunKeyFamily::eq(Key a, Key b) {
    if (a->routeFamily != b->routeFamily || a->tunFamily != b->tunFamily) return false;
    if (a->routeMask != b->routeMask || a->nexthopMask != b->nexthopMask) return false;
    if (a->tunId != b->tunId || a->encapsMethod != b->encapsMethod) return false;
    std::size_t destLen = addrBytes(b->routeFamily);
    std::size_t endLen = addrBytes(b->tunFamily);
    return std::memcmp(a->dest, b->dest, destLen) == 0 && std::memcmp(a->nextHopSrc, b->nextHopSrc, endLen) == 0 &&
           std::memcmp(a->nextHopDst, b->nextHopDst, endLen) == 0;
}

template <>
uint32_t HwTunKeyFamily::hash(Key k) {
    uint8_t dest[16] = {}, src[16] = {}, dst[16] = {};
    std::memcpy(dest, k->dest, addrBytes(k->routeFamily));
    std::memcpy(src, k->nextHopSrc, addrBytes(k->tunFamily));
    std::memcpy(dst, k->nextHopDst, addrBytes(k->tunFamily));
    uint32_t h = hwSideMix(hwSideMix(11, (uint32_t(k->routeFamily) << 16) | k->tunFamily), k->routeMask);
    h = hwSideMix(hwSideMix(h, k->nexthopMask), (uint32_t(k->tunId) << 8) | k->encapsMethod);
    return hwSideMixBytes16(hwSideMixBytes16(hwSideMixBytes16(h, dest), src), dst);
}

HwRouteTunNode* hwRouteTunTableLookup(const HwRouteTunNode* key) {
    return key == nullptr ? nullptr : ghwIndex.tunKey.first<HwTunKeyFamily>(key);
}

// A tunnel is on at most one entry's list: binding takes it off the old one.
void hwRouteTunBind(HwRouteTunNode* tun, HwListLink* entryTunList, void* entry) {
    if (tun == nullptr || entryTunList == nullptr) return;
    // A record straight from its pool has an all-zero list head: that is an
    // empty list which nobody has initialised yet.
    if (entryTunList->next == nullptr) hwListInit(entryTunList);
    if (linked(&tun->bindLink)) hwListRemove(&tun->bindLink);
    tun->dstEntry = entry;
    hwListInsertFront(entryTunList, &tun->bindLink);
}

void hwRouteTunDestroyAll(HwListLink* entryTunList) {
    if (entryTunList == nullptr || entryTunList->next == nullptr) return;
    for (HwRouteTunNode* tun : hwListOf<&HwRouteTunNode::bindLink>(entryTunList)) {
        hwUpdateTunDel(tun);
        hwListRemove(&tun->bindLink);
        hwRouteTunTableDelete(tun);
        hwRouteTunNodeFree(tun);
    }
}
