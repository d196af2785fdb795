// Fixed-size node pools. Every table node comes from one of these free lists,
// built once at start-up from one block each; nothing is obtained later.
// Pools are last-in, first-out and hand out zeroed elements whose first two
// words are the link pair that held them in the pool.
#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/global.h"

// Under AddressSanitizer a free element is poisoned past its link pair, so a
// use of a record after it went back to its pool is reported like a use of
// freed heap memory (the pools are carved from one allocation, which the
// sanitizer would otherwise see as live throughout).
#if defined(__SANITIZE_ADDRESS__)
#define HW_POOL_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HW_POOL_POISON 1
#endif
#endif
#ifdef HW_POOL_POISON
#include <sanitizer/asan_interface.h>
#endif

namespace {

void poisonFree(void* element, std::size_t size) {
#ifdef HW_POOL_POISON
    ASAN_POISON_MEMORY_REGION(static_cast<unsigned char*>(element) + sizeof(HwListLink), size - sizeof(HwListLink));
#else
    (void)element;
    (void)size;
#endif
}

void unpoison(void* element, std::size_t size) {
#ifdef HW_POOL_POISON
    ASAN_UNPOISON_MEMORY_REGION(element, size);
#else
    (void)element;
    (void)size;
#endif
}

// Take the first free element; its link words keep their old values.
void* poolTake(NodePool* head, uint32_t size) {
    HwListLink* first = head->next;
    if (first == head) return nullptr;
    hwListRemove(first);
    unpoison(first, size);
    return first;
}

// Zero the whole element and put it back at the front.
int poolGive(NodePool* head, void* element, uint32_t size) {
    if (element == nullptr) return -1;
    std::memset(element, 0, size);
    hwListInsertFront(head, static_cast<HwListLink*>(element));
    poisonFree(element, size);
    return 0;
}

// The records keep their pool links in their first two words.
static_assert(offsetof(HwRouteDest, hashLink) == 0 && offsetof(HwRoute6Dest, hashLink) == 0);
static_assert(offsetof(HwRouteNexthop, hashLink) == 0 && offsetof(HwRoute6Nexthop, hashLink) == 0);
static_assert(offsetof(HwRouteIlmNode, link) == 0 && offsetof(HwRouteL2vpnNode, link) == 0);
static_assert(offsetof(HwRouteTunNode, link) == 0);
static_assert(offsetof(HwArpNode, link) == 0 && offsetof(HwNd6Node, link) == 0);

// One typed allocate / release pair over a pool of ghwRoute.
template <class T, NodePool HwRouteGlobal::*Pool, uint32_t Size>
struct PoolOf {
    static_assert(sizeof(T) <= Size);
    static T* take() { return static_cast<T*>(poolTake(&(ghwRoute.*Pool), Size)); }
    static int give(T* node) { return poolGive(&(ghwRoute.*Pool), node, Size); }
};

using DestPool = PoolOf<HwRouteDest, &HwRouteGlobal::destPool, HW_DEST_NODE_SIZE>;
using Dest6Pool = PoolOf<HwRoute6Dest, &HwRouteGlobal::destPool, HW_DEST_NODE_SIZE>;
using NexthopPool = PoolOf<HwRouteNexthop, &HwRouteGlobal::nexthopPool, HW_NEXTHOP_NODE_SIZE>;
using Nexthop6Pool = PoolOf<HwRoute6Nexthop, &HwRouteGlobal::nexthopPool, HW_NEXTHOP_NODE_SIZE>;
using IlmPool = PoolOf<HwRouteIlmNode, &HwRouteGlobal::ilmPool, HW_ILM_NODE_SIZE>;
using L2vpnPool = PoolOf<HwRouteL2vpnNode, &HwRouteGlobal::l2vpnPool, HW_L2VPN_NODE_SIZE>;
using TunPool = PoolOf<HwRouteTunNode, &HwRouteGlobal::tunPool, HW_TUN_NODE_SIZE>;
using ArpPool = PoolOf<HwArpNode, &HwRouteGlobal::arpPool, HW_ARP_NODE_SIZE>;
using Nd6Pool = PoolOf<HwNd6Node, &HwRouteGlobal::nd6Pool, HW_ND6_NODE_SIZE>;

}  // namespace

int hwRouteMemInit(NodePool* head, uint32_t size, uint32_t count, HwAllocFn alloc) {
    hwListInit(head);
    if (size < sizeof(HwListLink)) size = sizeof(HwListLink);
    if (count == 0) return -1;
    if (alloc == nullptr) return -1;
    auto* block = static_cast<unsigned char*>(alloc(count, size));
    if (block == nullptr) return -1;
    // Inserting in address order at the front leaves the highest address first.
    unpoison(block, std::size_t(count) * size);
    for (uint32_t i = 0; i < count; i++) {
        unsigned char* element = block + static_cast<std::size_t>(i) * size;
        std::memset(element, 0, size);
        hwListInsertFront(head, reinterpret_cast<HwListLink*>(element));
        poisonFree(element, size);
    }
    return 0;
}

HwRouteDest* hwRouteDestNodeAlloc(void) { return DestPool::take(); }
int hwRouteDestNodeFree(HwRouteDest* node) { return DestPool::give(node); }
HwRoute6Dest* hwRoute6DestNodeAlloc(void) { return Dest6Pool::take(); }
int hwRoute6DestNodeFree(HwRoute6Dest* node) { return Dest6Pool::give(node); }
HwRouteNexthop* hwRouteNexthopNodeAlloc(void) { return NexthopPool::take(); }
int hwRouteNexthopNodeFree(HwRouteNexthop* node) { return NexthopPool::give(node); }
HwRoute6Nexthop* hwRoute6NexthopNodeAlloc(void) { return Nexthop6Pool::take(); }
int hwRoute6NexthopNodeFree(HwRoute6Nexthop* node) { return Nexthop6Pool::give(node); }
HwRouteIlmNode* hwRouteIlmNodeAlloc(void) { return IlmPool::take(); }
int hwRouteIlmNodeFree(HwRouteIlmNode* node) { return IlmPool::give(node); }
HwRouteL2vpnNode* hwRouteL2vpnNodeAlloc(void) { return L2vpnPool::take(); }
int hwRouteL2vpnNodeFree(HwRouteL2vpnNode* node) { return L2vpnPool::give(node); }
HwRouteTunNode* hwRouteTunNodeAlloc(void) { return TunPool::take(); }
int hwRouteTunNodeFree(HwRouteTunNode* node) { return TunPool::give(node); }
HwArpNode* hwArpNodeAlloc(void) { return ArpPool::take(); }
// A record freed while its host entry write stands refused takes its share
// of the error count with it, whichever path frees it (a delete of a
// refused record, a held one released by the flush, a local address).
template <class Pool, class Node>
int giveNeighbour(Node* node, uint32_t* errCount) {
    if (node != nullptr && node->status == hwStatusAddAbnormal && *errCount != 0) {
        (*errCount)--;
        node->status = hwStatusIdle;
    }
    return Pool::give(node);
}
int hwArpNodeFree(HwArpNode* node) { return giveNeighbour<ArpPool>(node, &ghwRoute.hwErrArpCnt); }
HwNd6Node* hwNd6NodeAlloc(void) { return Nd6Pool::take(); }
int hwNd6NodeFree(HwNd6Node* node) { return giveNeighbour<Nd6Pool>(node, &ghwRoute.hwErrNd6Cnt); }

uint32_t hwPoolFreeCount(const NodePool* head) {
    uint32_t n = 0;
    for (const HwListLink* l = head->next; l != head; l = l->next) n++;
    return n;
}

// Only the worker task touches ghwRoute after start-up, so there is nothing to lock.
void hwRouteLock(void) {}
void hwRouteUnlock(void) {}
