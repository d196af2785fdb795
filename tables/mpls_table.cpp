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
}

void hwRouteL2vpnTableDelete(HwRouteL2vpnNode* node) {
    if (node == nullptr) return;
    hwListRemove(&node->link);
}

HwRouteL2vpnNode* hwRouteL2vpnTableLookup(const HwRouteL2vpnNode* key) {
    if (key == nullptr) return nullptr;
    for (HwRouteL2vpnNode* rec : hwListOf<&HwRouteL2vpnNode::link>(&ghwRoute.l2vpnList)) {
        if (rec->vfiId != key->vfiId || rec->vpnType != key->vpnType || rec->cePort != key->cePort ||
            rec->ceVid != key->ceVid || rec->family != key->family)
            continue;
        if (std::memcmp(rec->nexthopIp, key->nexthopIp, addrBytes(key->family)) != 0) continue;
        if (rec->txInnerLabel == key->txInnerLabel && rec->rxInnerLabel == key->rxInnerLabel) return rec;
    }
    return nullptr;
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
}

void hwRouteTunTableDelete(HwRouteTunNode* node) {
    if (node == nullptr) return;
    ghwIndex.tun.remove<HwTunToFamily>(node);
    hwListRemove(&node->link);
}

namespace {

bool sameTunnel(const HwRouteTunNode* a, const HwRouteTunNode* b) {
    if (a->routeFamily != b->routeFamily || a->tunFamily != b->tunFamily) return false;
    if (a->routeMask != b->routeMask || a->nexthopMask != b->nexthopMask) return false;
    if (a->tunId != b->tunId || a->encapsMethod != b->encapsMethod) return false;
    std::size_t destLen = addrBytes(b->routeFamily);
    std::size_t endLen = addrBytes(b->tunFamily);
    return std::memcmp(a->dest, b->dest, destLen) == 0 && std::memcmp(a->nextHopSrc, b->nextHopSrc, endLen) == 0 &&
           std::memcmp(a->nextHopDst, b->nextHopDst, endLen) == 0;
}

}  // namespace

HwRouteTunNode* hwRouteTunTableLookup(const HwRouteTunNode* key) {
    if (key == nullptr) return nullptr;
    for (HwRouteTunNode* rec : hwListOf<&HwRouteTunNode::link>(&ghwRoute.tunList)) {
        if (sameTunnel(rec, key)) return rec;
    }
    return nullptr;
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
