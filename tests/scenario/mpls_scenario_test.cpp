// Incoming-label entries and labelled routes from the platform's messages to
// the hardware bytes.
#include "hwroute/flags.h"
#include "scenario.h"

namespace {

constexpr uint32_t lbl(uint32_t label, uint32_t exp = 0, uint32_t ttl = 64) {
    return label << 12 | exp << 9 | 0x100 | ttl;
}

using MplsScenario = Scenario;

// A transit entry for a next hop nobody has resolved yet reaches object 156
// when the neighbour is learnt, and object 157 with the same bytes when it goes.
TEST_F(MplsScenario, IlmEntryFollowsItsNeighbourInHardware) {
    nlDeliver(nlMpls({.type = NL_ILM_ADD, .ifUnit = kEth, .nextHop = "10.0.0.2", .family = 2, .flags = 0x01,
                      .labelNum = 1, .swapLabel = lbl(1000), .labels = {lbl(2000, 5, 9), 0, 0}}));
    pass();
    EXPECT_TRUE(callsOf(HW_OBJ_ILM_ADD).empty());
    ASSERT_FALSE(probes.empty());
    EXPECT_EQ(probes.front().address, ip4("10.0.0.2"));

    neighbour("10.0.0.2", "00:aa:bb:cc:dd:ee");
    const std::vector<uint8_t> expected = hexBytes(
        "00000000 00000001 00000000 000003e8 0000 00 01"  // vrfid flags - inLabel inVid - 1
        "00000000 0a000002 00000000 00000000 00000000"   // record flags, next hop
        "00000000 00000000 00000000 00000000"
        "00000007 00000003 00aabbccddee 0000"             // port ipPort MAC vid
        "020000000003 00 01 00000000"                     // srcMac op labels protocol
        "09 05 0000 000007d0");                           // TTL EXP - label
    EXPECT_EQ(callsOf(HW_OBJ_ILM_ADD), std::vector<std::vector<uint8_t>>{expected});

    neighbour("10.0.0.2", "00:aa:bb:cc:dd:ee", NL_DELNEIGH);
    EXPECT_EQ(callsOf(HW_OBJ_ILM_DEL), std::vector<std::vector<uint8_t>>{expected});
    nlDeliver(nlMpls({.type = NL_ILM_DEL, .ifUnit = kEth, .nextHop = "10.0.0.2", .family = 2, .flags = 0x01,
                      .swapLabel = lbl(1000, 7, 1), .labels = {lbl(2000), 0, 0}}));
    EXPECT_EQ(ghwRoute.swIlmCnt + ghwRoute.pendIlmCnt, 0u);
    EXPECT_EQ(callsOf(HW_OBJ_ILM_DEL).size(), 1u) << "a waiting entry leaves without a hardware call";
}

// A labelled route over a kernel route: its labels reach hardware, and the
// kernel's delete of the public route waits until the labelled route goes.
TEST_F(MplsScenario, PublicRouteDeleteWaitsForTheLabelledRoute) {
    neighbour("10.0.0.2", "00:aa:bb:cc:dd:ee");
    route(NL_NEWROUTE, "10.1.0.0", 16, "10.0.0.2", kEth, 3);
    pass();
    nlDeliver(nlMpls({.type = NL_VPN_ROUTE, .vrfId = 5, .ifUnit = kEth, .dst = "172.16.0.0", .nextHop = "10.0.0.2",
                      .family = 2, .prefixLen = 24, .labelNum = 1, .publicFamily = 2, .op = 24,
                      .labels = {lbl(300), 0, 0}, .pubDst = "10.1.0.0", .pubNextHop = "10.0.0.2", .pubPrefixLen = 16,
                      .publicStatus = 1, .pubProtoId = 3}));
    pass();
    EXPECT_EQ(ghwRoute.rcvMplsV4PubV4AddCnt, 1u);
    // The labelled route's record: an add with one label element, label 300.
    int labelled = 0;
    for (const Record& r : routeRecords())
        labelled += r.entry.addr == hwdAddrOf("172.16.0.0") && r.path.op == HWD_OP_ADD && r.path.labels.size() == 1 &&
                    r.path.labels[0].label == 300;
    EXPECT_EQ(labelled, 1);

    const std::size_t before = hwCalls().size();
    route(NL_DELROUTE, "10.1.0.0", 16, "10.0.0.2", kEth, 3);
    pass();
    EXPECT_EQ(ghwRoute.rtDelPrivateRefCnt, 1u);
    EXPECT_EQ(hwCalls().size(), before) << "nothing leaves the hardware yet";

    nlDeliver(nlMpls({.type = uint16_t(NL_VPN_ROUTE + 1), .vrfId = 5, .ifUnit = kEth, .dst = "172.16.0.0", .nextHop = "10.0.0.2",
                      .family = 2, .prefixLen = 24, .flags = 0x01, .op = 25, .labels = {lbl(300), 0, 0}}));
    pass();
    EXPECT_EQ(ghwRoute.rtDelNoSucPublic4DelCnt, 1u);
    int publicDeletes = 0;
    for (const Record& r : routeRecords(before))
        publicDeletes += r.entry.addr == hwdAddrOf("10.1.0.0") && r.path.op == HWD_OP_DEL;
    EXPECT_EQ(publicDeletes, 1);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 0u);
}

}  // namespace
