// Building the side indexes at start-up, and the side lists of next hops by
// gateway address that the neighbour handlers walk.
#include "side_index.h"

#include <cstring>

#include "hwroute/tables.h"

HwTableIndexes ghwIndex;

namespace {

uint32_t slotsFor(uint32_t keys) {
    uint32_t n = 1;
    while (n <= keys && n < 0x80000000u) n <<= 1;
    return n;
}

// Index the elements of a pool built by hwRouteMemInit: its free list runs
// from the highest element down to the block itself. The slot table gets
// more slots than `spread` times the elements, so it never fills. Returns false
// when the index memory cannot be had.
bool build(HwSideIndex& idx, NodePool* pool, uint32_t size, uint32_t spread, HwAllocFn alloc) {
    idx = HwSideIndex{};
    if (hwListEmpty(pool)) return true;
    auto* low = reinterpret_cast<unsigned char*>(pool->prev);
    auto* high = reinterpret_cast<unsigned char*>(pool->next);
    idx.base = low;
    idx.size = size;
    idx.count = static_cast<uint32_t>((high - low) / size) + 1;
    const uint32_t slots = slotsFor(idx.count > 0x7FFFFFFFu / spread ? 0x7FFFFFFFu : idx.count * spread);
    idx.next = static_cast<uint32_t*>(alloc(idx.count, sizeof(uint32_t)));
    idx.prev = static_cast<uint32_t*>(alloc(idx.count, sizeof(uint32_t)));
    idx.slots = static_cast<HwSideSlot*>(alloc(slots, sizeof(HwSideSlot)));
    if (idx.next == nullptr || idx.prev == nullptr || idx.slots == nullptr) {
        idx = HwSideIndex{};
        return false;
    }
    std::memset(idx.prev, 0xFF, static_cast<std::size_t>(idx.count) * sizeof(uint32_t));
    std::memset(idx.slots, 0, static_cast<std::size_t>(slots) * sizeof(HwSideSlot));
    idx.mask = slots - 1;
    return true;
}

// A pool whose index cannot be built is left empty, like a pool whose block
// could not be had: its users count the failed allocations.
void buildOrEmpty(HwSideIndex& idx, NodePool* pool, uint32_t size, uint32_t spread, HwAllocFn alloc) {
    if (!build(idx, pool, size, spread, alloc)) hwListInit(pool);
}

bool buildGroups(HwOrderedGroups& g, NodePool* pool, uint32_t size, HwAllocFn alloc) {
    g = HwOrderedGroups{};
    if (!build(g.members, pool, size, 1, alloc)) return false;
    if (g.members.count == 0) return true;
    g.left = static_cast<uint32_t*>(alloc(g.members.count, sizeof(uint32_t)));
    g.right = static_cast<uint32_t*>(alloc(g.members.count, sizeof(uint32_t)));
    if (g.left == nullptr || g.right == nullptr) return false;
    std::memset(g.left, 0xFF, static_cast<std::size_t>(g.members.count) * sizeof(uint32_t));
    return true;
}

}  // namespace

void hwTableIndexInit(HwAllocFn alloc) {
    HwRouteGlobal& g = ghwRoute;
    // Destinations and neighbours: every element may hold a key of its own,
    // so the slot tables are kept at most half full.
    buildOrEmpty(ghwIndex.dest, &g.destPool, HW_DEST_NODE_SIZE, 2, alloc);
    buildOrEmpty(ghwIndex.arp, &g.arpPool, HW_ARP_NODE_SIZE, 2, alloc);
    buildOrEmpty(ghwIndex.nd6, &g.nd6Pool, HW_ND6_NODE_SIZE, 2, alloc);
    // Next hops: one key per gateway address, a handful at full scale, but
    // never more than there are next hops.
    const bool nexthopOk = build(ghwIndex.nexthop, &g.nexthopPool, HW_NEXTHOP_NODE_SIZE, 1, alloc) &&
                           build(ghwIndex.pend, &g.nexthopPool, HW_NEXTHOP_NODE_SIZE, 1, alloc);
    if (!nexthopOk) {
        ghwIndex.nexthop = HwSideIndex{};
        ghwIndex.pend = HwSideIndex{};
        hwListInit(&g.nexthopPool);
    }
    // ILM entries: one key each; the two lists' groups, one per next hop.
    const bool ilmOk = build(ghwIndex.ilm, &g.ilmPool, HW_ILM_NODE_SIZE, 2, alloc) &&
                       buildGroups(ghwIndex.ilmList, &g.ilmPool, HW_ILM_NODE_SIZE, alloc) &&
                       buildGroups(ghwIndex.ilmPend, &g.ilmPool, HW_ILM_NODE_SIZE, alloc);
    // Tunnels and layer-2 VPN entries: a key each, and chains by endpoint and
    // by public next hop.
    if (!build(ghwIndex.tun, &g.tunPool, HW_TUN_NODE_SIZE, 2, alloc) ||
        !build(ghwIndex.tunKey, &g.tunPool, HW_TUN_NODE_SIZE, 2, alloc))
        hwListInit(&g.tunPool);
    hwTunCoverInit(alloc);
    if (!build(ghwIndex.l2vpn, &g.l2vpnPool, HW_L2VPN_NODE_SIZE, 2, alloc) ||
        !build(ghwIndex.l2vpnTo, &g.l2vpnPool, HW_L2VPN_NODE_SIZE, 1, alloc) ||
        !build(ghwIndex.l2vpnOn, &g.l2vpnPool, HW_L2VPN_NODE_SIZE, 1, alloc))
        hwListInit(&g.l2vpnPool);
    if (!ilmOk) {
        ghwIndex.ilm = HwSideIndex{};
        ghwIndex.ilmList = HwOrderedGroups{};
        ghwIndex.ilmPend = HwOrderedGroups{};
        hwListInit(&g.ilmPool);
    }
}

// ---- Side lists of next hops by gateway address ------------------------------

HwRouteNexthop* hwRouteNexthopFirstAt(uint32_t address) {
    return ghwIndex.nexthop.first<HwNexthop4AtFamily>(address);
}
HwRouteNexthop* hwRouteNexthopNextAt(const HwRouteNexthop* nh) {
    return ghwIndex.nexthop.after<HwNexthop4AtFamily>(nh);
}
HwRouteNexthop* hwRoutePendFirstAt(uint32_t address) { return ghwIndex.pend.first<HwNexthop4AtFamily>(address); }
HwRouteNexthop* hwRoutePendNextAt(const HwRouteNexthop* nh) { return ghwIndex.pend.after<HwNexthop4AtFamily>(nh); }

HwRoute6Nexthop* hwRoute6NexthopFirstAt(const uint8_t* address) {
    return address == nullptr ? nullptr : ghwIndex.nexthop.first<HwNexthop6AtFamily>(address);
}
HwRoute6Nexthop* hwRoute6NexthopNextAt(const HwRoute6Nexthop* nh) {
    return ghwIndex.nexthop.after<HwNexthop6AtFamily>(nh);
}
HwRoute6Nexthop* hwRoute6PendFirstAt(const uint8_t* address) {
    return address == nullptr ? nullptr : ghwIndex.pend.first<HwNexthop6AtFamily>(address);
}
HwRoute6Nexthop* hwRoute6PendNextAt(const HwRoute6Nexthop* nh) { return ghwIndex.pend.after<HwNexthop6AtFamily>(nh); }

HwRouteTunNode* hwRouteTunFirstTo(uint8_t family, const uint8_t* address) {
    return address == nullptr ? nullptr : ghwIndex.tun.first<HwTunToFamily>(HwTunToFamily::Key{family, address});
}
HwRouteTunNode* hwRouteTunNextTo(const HwRouteTunNode* tun) { return ghwIndex.tun.after<HwTunToFamily>(tun); }
