// A long burst of neighbour adds, changes and deletes on a few addresses with
// routes on them must leave the hardware holding exactly what the tables say.
#include <map>
#include <random>

#include "neigh_test.h"

namespace {

TEST_F(NeighTest, BurstOfAddsChangesAndDeletesLeavesHardwareAndPoolsConsistent) {
    auto pools = [] {
        return std::vector{hwPoolFreeCount(&ghwRoute.arpPool), hwPoolFreeCount(&ghwRoute.destPool),
                           hwPoolFreeCount(&ghwRoute.nexthopPool)};
    };
    const std::vector<uint32_t> poolsBefore = pools();
    const char* addresses[] = {"192.168.1.1", "192.168.1.2", "192.168.1.3", "192.168.1.130"};  // .130 shares .2's buckets
    const Path routes[] = {{.dest = "10.1.0.0", .gw = "192.168.1.1"}, {.dest = "10.2.0.0", .gw = "192.168.1.2"},
                           {.dest = "10.3.0.0", .gw = "192.168.1.1"}, {.dest = "10.4.0.0", .gw = "192.168.1.130"}};
    for (const Path& r : routes) ASSERT_EQ(routeAdd(r), 0);

    std::mt19937 rng(20240521);
    for (int i = 0; i < 10000; ++i) {
        const char* addr = addresses[rng() % 4];
        if (rng() % 3 == 0)
            arpDel(arp(addr));
        else
            arpAdd(arp(addr, uint8_t(0x40 + rng() % 2), 0, rng() % 2 ? 5 : 8));
        if (rng() % 4 == 0) hwRouteUpdate();
    }
    for (const char* addr : addresses) arpDel(arp(addr));
    hwRouteUpdate();
    for (const Path& r : routes) ASSERT_EQ(routeDel(r), 0);
    hwRouteUpdate();

    // Add and delete records of each host entry and route alternate, starting with an add.
    std::map<std::pair<bool, uint32_t>, bool> present;
    int faults = 0;
    for (const HwRec& r : records()) {
        if (r.op != 1 && r.op != 2) continue;  // records of kept paths
        bool& in = present[{r.host, r.subnet}];
        faults += (r.op == 1) == in;
        in = r.op == 1;
    }
    EXPECT_EQ(faults, 0);
    EXPECT_EQ(present.size(), 8u) << "4 host entries and 4 routes";
    for (const auto& [key, in] : present) EXPECT_FALSE(in) << std::hex << key.second << " left in hardware";
    EXPECT_EQ(pools(), poolsBefore);
    EXPECT_EQ(ghwRoute.swArpCnt + ghwRoute.pendRouteCnt + ghwRoute.readyRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.hwOkArpCnt + ghwRoute.hwOkRouteCnt, 0u);
}

}  // namespace
