// Node pools: LIFO free lists of zeroed elements, one block each.
#include <cstdlib>
#include <cstring>
#include <set>

#include "hwtest.h"

namespace {

struct PoolCase {
    const char* what;
    NodePool HwRouteGlobal::*pool;
    uint32_t size;
    void* (*take)();
    int (*give)(void*);
};

template <class T, T* (*Alloc)(), int (*Free)(T*)>
PoolCase poolCase(const char* what, NodePool HwRouteGlobal::*pool, uint32_t size) {
    return {what, pool, size, [] { return static_cast<void*>(Alloc()); },
            [](void* p) { return Free(static_cast<T*>(p)); }};
}

const PoolCase kPools[] = {
    poolCase<HwRouteDest, hwRouteDestNodeAlloc, hwRouteDestNodeFree>("dest", &HwRouteGlobal::destPool, HW_DEST_NODE_SIZE),
    poolCase<HwRoute6Dest, hwRoute6DestNodeAlloc, hwRoute6DestNodeFree>("dest6", &HwRouteGlobal::destPool, HW_DEST_NODE_SIZE),
    poolCase<HwRouteNexthop, hwRouteNexthopNodeAlloc, hwRouteNexthopNodeFree>("nexthop", &HwRouteGlobal::nexthopPool, HW_NEXTHOP_NODE_SIZE),
    poolCase<HwRoute6Nexthop, hwRoute6NexthopNodeAlloc, hwRoute6NexthopNodeFree>("nexthop6", &HwRouteGlobal::nexthopPool, HW_NEXTHOP_NODE_SIZE),
    poolCase<HwRouteIlmNode, hwRouteIlmNodeAlloc, hwRouteIlmNodeFree>("ilm", &HwRouteGlobal::ilmPool, HW_ILM_NODE_SIZE),
    poolCase<HwRouteL2vpnNode, hwRouteL2vpnNodeAlloc, hwRouteL2vpnNodeFree>("l2vpn", &HwRouteGlobal::l2vpnPool, HW_L2VPN_NODE_SIZE),
    poolCase<HwRouteTunNode, hwRouteTunNodeAlloc, hwRouteTunNodeFree>("tun", &HwRouteGlobal::tunPool, HW_TUN_NODE_SIZE),
    poolCase<HwArpNode, hwArpNodeAlloc, hwArpNodeFree>("arp", &HwRouteGlobal::arpPool, HW_ARP_NODE_SIZE),
    poolCase<HwNd6Node, hwNd6NodeAlloc, hwNd6NodeFree>("nd6", &HwRouteGlobal::nd6Pool, HW_ND6_NODE_SIZE),
};

bool zeroAfterLinks(const void* element, uint32_t size) {
    auto* b = static_cast<const unsigned char*>(element);
    for (uint32_t i = sizeof(HwListLink); i < size; i++)
        if (b[i] != 0) return false;
    return true;
}

using Pools = HwTest;

TEST_F(Pools, ExhaustedPoolGivesBackExactlyTheReleasedElement) {
    for (const PoolCase& c : kPools) {
        SCOPED_TRACE(c.what);
        reinit({4, 4, 4, 8, 4, 4, 4});  // dest 4, nexthop 6, arp/nd6 6, ilm/l2vpn/tun 4
        uint32_t n = hwPoolFreeCount(&(ghwRoute.*c.pool));
        ASSERT_GT(n, 1u);
        std::set<void*> seen;
        void* middle = nullptr;
        for (uint32_t i = 0; i < n; i++) {
            void* e = c.take();
            ASSERT_NE(e, nullptr);
            EXPECT_TRUE(seen.insert(e).second) << "element handed out twice";
            if (i == n / 2) middle = e;
        }
        EXPECT_EQ(c.take(), nullptr);
        EXPECT_EQ(c.give(middle), 0);
        EXPECT_EQ(c.take(), middle);
        EXPECT_EQ(c.take(), nullptr);
    }
}

TEST_F(Pools, ReleaseIsLastInFirstOutAndZeroesWholeElement) {
    for (const PoolCase& c : kPools) {
        SCOPED_TRACE(c.what);
        void* a = c.take();
        void* b = c.take();
        ASSERT_TRUE(a && b);
        std::memset(a, 0xa5, c.size);  // a caller may use the whole shared element
        std::memset(b, 0x5a, c.size);
        EXPECT_EQ(c.give(a), 0);
        EXPECT_EQ(c.give(b), 0);
        EXPECT_EQ(c.give(nullptr), -1);
        EXPECT_TRUE(zeroAfterLinks(a, c.size));
        EXPECT_TRUE(zeroAfterLinks(b, c.size));
        EXPECT_EQ(c.take(), b);
        EXPECT_EQ(c.take(), a);
    }
}

TEST_F(Pools, Ipv4AndIpv6DestinationsShareOneLimit) {
    reinit({2, 4, 4, 8, 4, 4, 4});
    HwRouteDest* d4 = hwRouteDestNodeAlloc();
    HwRoute6Dest* d6 = hwRoute6DestNodeAlloc();
    ASSERT_TRUE(d4 && d6);
    EXPECT_EQ(hwRouteDestNodeAlloc(), nullptr);
    EXPECT_EQ(hwRoute6DestNodeAlloc(), nullptr);
    EXPECT_EQ(hwRouteDestNodeFree(d4), 0);
    EXPECT_EQ(static_cast<void*>(hwRoute6DestNodeAlloc()), static_cast<void*>(d4));
}

// hwRouteMemInit on its own, with allocators that misbehave in known ways.
struct RawBlock {
    std::size_t count = 0, size = 0;
    void* block = nullptr;
    int calls = 0;
};
RawBlock gRaw;

void* dirtyAlloc(std::size_t count, std::size_t size) {
    gRaw.calls++;
    gRaw.count = count;
    gRaw.size = size;
    gRaw.block = std::malloc(count * size);
    std::memset(gRaw.block, 0xee, count * size);  // builder must zero it itself
    return gRaw.block;
}
void* failingAlloc(std::size_t, std::size_t) {
    gRaw.calls++;
    return nullptr;
}

class MemInit : public ::testing::Test {
protected:
    void SetUp() override {
        gRaw = {};
        head.next = head.prev = reinterpret_cast<HwListLink*>(0x1);  // garbage before the build
    }
    void TearDown() override { std::free(gRaw.block); }
    NodePool head;
};

TEST_F(MemInit, HighestAddressComesFirstAndEveryElementIsZeroed) {
    ASSERT_EQ(hwRouteMemInit(&head, 40, 5, dirtyAlloc), 0);
    auto* base = static_cast<unsigned char*>(gRaw.block);
    int i = 4;
    for (HwListLink* l = head.next; l != &head; l = l->next, i--) {
        EXPECT_EQ(reinterpret_cast<unsigned char*>(l), base + i * 40);
        EXPECT_TRUE(zeroAfterLinks(l, 40));
    }
    EXPECT_EQ(i, -1);
}

TEST_F(MemInit, SizeBelowALinkPairIsRaisedToHoldTheLinks) {
    // On the 32-bit target a link pair is the 8 bytes the minimum is named for.
    ASSERT_EQ(hwRouteMemInit(&head, 1, 3, dirtyAlloc), 0);
    EXPECT_EQ(gRaw.size, sizeof(HwListLink));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(head.next) - reinterpret_cast<uintptr_t>(head.next->next),
              sizeof(HwListLink));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(gRaw.size, 8u);
    }
}

TEST_F(MemInit, ZeroCountOrFailedAllocationLeavesAnEmptyPool) {
    EXPECT_EQ(hwRouteMemInit(&head, 48, 0, dirtyAlloc), -1);
    EXPECT_EQ(gRaw.calls, 0);
    EXPECT_TRUE(hwListEmpty(&head));
    EXPECT_EQ(hwRouteMemInit(&head, 48, 3, failingAlloc), -1);
    EXPECT_TRUE(hwListEmpty(&head));
    EXPECT_EQ(hwRouteMemInit(&head, 48, 3, nullptr), -1);
    EXPECT_TRUE(hwListEmpty(&head));
}

}  // namespace
