// Node pools: LIFO free lists of zeroed elements, one block each.
#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>
#include <vector>

#include "hwtest.h"

namespace {

struct PoolCase {
    const char* what;
    uint32_t size, count;  // element size; elements in the pool built from kSizes
    void* (*take)();
    int (*give)(void*);
};

template <class T, T* (*Alloc)(), int (*Free)(T*)>
PoolCase pool(const char* what, uint32_t size, uint32_t count) {
    return {what, size, count, [] { return static_cast<void*>(Alloc()); },
            [](void* p) { return Free(static_cast<T*>(p)); }};
}

const HwTestSizes kSizes{4, 4, 4, 8, 4, 4, 4};  // 4 routes make 6 next hops; 4 neighbours make 6
const PoolCase kPools[] = {
    pool<HwRouteDest, hwRouteDestNodeAlloc, hwRouteDestNodeFree>("dest", HW_DEST_NODE_SIZE, 4),
    pool<HwRoute6Dest, hwRoute6DestNodeAlloc, hwRoute6DestNodeFree>("dest6", HW_DEST_NODE_SIZE, 4),
    pool<HwRouteNexthop, hwRouteNexthopNodeAlloc, hwRouteNexthopNodeFree>("nexthop", HW_NEXTHOP_NODE_SIZE, 6),
    pool<HwRoute6Nexthop, hwRoute6NexthopNodeAlloc, hwRoute6NexthopNodeFree>("nexthop6", HW_NEXTHOP_NODE_SIZE, 6),
    pool<HwRouteIlmNode, hwRouteIlmNodeAlloc, hwRouteIlmNodeFree>("ilm", HW_ILM_NODE_SIZE, 4),
    pool<HwRouteL2vpnNode, hwRouteL2vpnNodeAlloc, hwRouteL2vpnNodeFree>("l2vpn", HW_L2VPN_NODE_SIZE, 4),
    pool<HwRouteTunNode, hwRouteTunNodeAlloc, hwRouteTunNodeFree>("tun", HW_TUN_NODE_SIZE, 4),
    pool<HwArpNode, hwArpNodeAlloc, hwArpNodeFree>("arp", HW_ARP_NODE_SIZE, 6),
    pool<HwNd6Node, hwNd6NodeAlloc, hwNd6NodeFree>("nd6", HW_ND6_NODE_SIZE, 6),
};

// Free elements are poisoned under the address sanitizer; this check reads
// them on purpose.
__attribute__((no_sanitize("address"))) bool zeroAfterLinks(const void* element, uint32_t size) {
    auto* b = static_cast<const unsigned char*>(element);
    for (uint32_t i = sizeof(HwListLink); i < size; i++)
        if (b[i] != 0) return false;
    return true;
}

using Pools = HwTest;

TEST_F(Pools, ExhaustReleaseAndRetakeLastInFirstOut) {
    for (const PoolCase& c : kPools) {
        SCOPED_TRACE(c.what);
        reinit(kSizes);
        std::set<void*> seen;
        for (uint32_t i = 0; i < c.count; i++) EXPECT_TRUE(seen.insert(c.take()).second) << "element handed out twice";
        ASSERT_TRUE(seen.size() == c.count && seen.count(nullptr) == 0);
        EXPECT_EQ(c.take(), nullptr);
        void* a = *seen.begin();
        void* b = *seen.rbegin();
        std::memset(b, 0x5a, c.size);  // a caller may use the whole shared element
        EXPECT_EQ(c.give(nullptr), -1);
        EXPECT_EQ(c.give(a), 0);
        EXPECT_EQ(c.give(b), 0);
        EXPECT_TRUE(zeroAfterLinks(b, c.size));
        EXPECT_EQ(c.take(), b);
        EXPECT_EQ(c.take(), a);
        EXPECT_EQ(c.take(), nullptr);
    }
}

TEST_F(Pools, Ipv4AndIpv6DestinationsShareOneLimit) {
    reinit(kSizes);
    for (int i = 0; i < 2; i++) ASSERT_TRUE(hwRouteDestNodeAlloc() && hwRoute6DestNodeAlloc());
    EXPECT_EQ(hwRouteDestNodeAlloc(), nullptr);
    EXPECT_EQ(hwRoute6DestNodeAlloc(), nullptr);
}

// hwRouteMemInit on its own, with an allocator handing out dirty memory.
std::vector<unsigned char> gBlock;

void* dirtyAlloc(std::size_t count, std::size_t size) {
    // A new block each time (the builder must zero it itself): the last one
    // may hold poisoned free elements.
    gBlock = std::vector<unsigned char>(count * size, 0xee);
    return gBlock.data();
}

TEST(MemInit, BuildsZeroedElementsOrAnEmptyPool) {
    // What, element size, count, size of the elements built.
    const std::tuple<const char*, uint32_t, uint32_t, std::size_t> rows[] = {
        {"five elements", 40, 5, 40},
        {"size below a link pair is raised", 1, 3, sizeof(HwListLink)},
        {"count 0 allocates nothing", 48, 0, 0},
    };
    for (const auto& [what, size, count, built] : rows) {
        SCOPED_TRACE(what);
        gBlock.clear();
        NodePool head;
        head.next = head.prev = reinterpret_cast<HwListLink*>(0x1);  // garbage before the build
        EXPECT_EQ(hwRouteMemInit(&head, size, count, dirtyAlloc), built ? 0 : -1);
        EXPECT_EQ(hwPoolFreeCount(&head), count);
        EXPECT_EQ(gBlock.size(), count * built);
        for (HwListLink* l = head.next; l != &head; l = l->next) EXPECT_TRUE(zeroAfterLinks(l, built));
    }
}

}  // namespace

namespace {

// The daemon's start-up allocator behaves as calloc for every size, large
// blocks included, and refuses a size that does not fit in memory's range.
TEST(PoolBlockAlloc, ZeroedBlocksOfEverySizeAndNoneForAnOverflow) {
    for (std::size_t count : {std::size_t(1), std::size_t(4096), std::size_t(3) << 20}) {
        auto* p = static_cast<unsigned char*>(hwPoolBlockAlloc(count, 3));
        ASSERT_NE(p, nullptr) << count;
        EXPECT_TRUE(std::all_of(p, p + count * 3, [](unsigned char c) { return c == 0; })) << count;
        std::free(p);
    }
    EXPECT_EQ(hwPoolBlockAlloc(SIZE_MAX / 2, 4), nullptr);
}

}  // namespace
