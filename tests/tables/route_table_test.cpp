// The per-protocol statistics (destination keys are covered by the side-index tests).
#include "builders.h"

namespace {

class RouteTable : public HwTest {};

// Protocols 1..16 of VRFs below 2048 are counted; anything else lies outside
// the tables and must be skipped, not written into the neighbouring table.
TEST_F(RouteTable, ProtocolStatisticsCountOnlyInsideTheirTables) {
    const struct {
        uint32_t vrf;
        uint8_t proto;
        uint64_t counted;  // add and delete, both families
    } cases[] = {{7, 5, 4}, {2047, 16, 4}, {0, 0, 0}, {0, 17, 0}, {5, 255, 0}, {2048, 1, 0}, {0xfffffff0u, 16, 0}};
    for (const auto& c : cases) {
        reinit(HwTestSizes{});
        hwRouteNexthopTableDelete(addNexthop(addDest(c.vrf, "20.0.0.0", 8), "10.0.0.1", c.proto));
        hwRoute6NexthopTableDelete(addNexthop6(addDest6(c.vrf, "2001:db8::", 32), "fe80::1", c.proto));
        uint64_t sum = 0;
        for (uint32_t v = 0; v < HW_STATS_VRFS; ++v)
            for (uint32_t p = 0; p < HW_STATS_PROTOS; ++p)
                sum += ghwRoute.swRouteProtoStats[v][p] + ghwRoute.swRouteProtoAddStats[v][p] +
                       ghwRoute.swRouteProtoDelStats[v][p] + ghwRoute.swRoute6ProtoStats[v][p] +
                       ghwRoute.swRoute6ProtoAddStats[v][p] + ghwRoute.swRoute6ProtoDelStats[v][p];
        EXPECT_EQ(sum, c.counted) << "vrf " << c.vrf << " protocol " << int(c.proto);
        EXPECT_EQ(c.counted ? ghwRoute.swRouteProtoDelStats[c.vrf][c.proto - 1] : 1u, 1u);
    }
}

}  // namespace
