// A long burst of neighbour adds, changes and deletes on a few addresses with
// routes on them must leave the hardware holding exactly what the tables say.
#include <map>
#include <random>

#include "neigh_test.h"

namespace {

// Add and delete records of one host entry or route must alternate,
// starting with an add; counts the breaks and whether it ends in hardware.
struct Alternation {
    int faults = 0;
    bool present = false;
    void see(uint8_t op) {
        if (op != 1 && op != 2) return;  // records of kept paths
        faults += (op == 1) == present;
        present = op == 1;
    }
};

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

    std::map<uint32_t, Alternation> hosts, paths;
    for (const HwRec& r : records()) (r.host ? hosts : paths)[r.subnet].see(r.op);
    EXPECT_EQ(hosts.size(), 4u);
    EXPECT_EQ(paths.size(), 4u);
    for (auto* seen : {&hosts, &paths})
        for (const auto& [subnet, s] : *seen) {
            EXPECT_EQ(s.faults, 0) << std::hex << subnet;
            EXPECT_FALSE(s.present) << std::hex << subnet << " left in hardware";
        }
    EXPECT_EQ(pools(), poolsBefore);
    EXPECT_EQ(ghwRoute.swArpCnt + ghwRoute.pendRouteCnt + ghwRoute.readyRouteCnt, 0u);
    EXPECT_EQ(ghwRoute.hwOkArpCnt + ghwRoute.hwOkRouteCnt, 0u);
}

}  // namespace
