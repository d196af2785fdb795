// Incoming-label entries and labelled routes from the platform's messages to
// the hardware bytes.
#include "hwroute/flags.h"
#include "scenario.h"

namespace {

constexpr uint32_t lbl(uint32_t label, uint32_t exp = 0, uint32_t ttl = 64) {
    return label << 12 | exp << 9 | 0x100 | ttl;
}

using MplsScenario = Scenario;

std::vector<uint8_t> callsOf(const std::vector<SimHwCall>& calls, uint32_t objectId, std::size_t* count) {
    std::vector<uint8_t> last;
    *count = 0;
    for (const SimHwCall& c : calls) {
        if (c.objectId != objectId) continue;
        ++*count;
        last = c.data;
    }
    return last;
}

// Every path record of the IPv4 route entries sent from call `from` on:
// fn(subnet of its entry, the record's bytes).
template <class Fn>
void eachRouteRecord(const std::vector<SimHwCall>& calls, std::size_t from, Fn fn) {
    for (std::size_t i = from; i < calls.size(); ++i) {
        const std::vector<uint8_t>& b = calls[i].data;
        if (calls[i].objectId != HW_OBJ_ROUTE4) continue;
        for (std::size_t pos = 0, len; pos + 28 <= b.size() && (len = b[pos + 19] * 4u) >= 28; pos += len)
            for (std::size_t r = pos + 28; r + 64 <= pos + len && r + 64 <= b.size(); r += 64 + 8 * b[r + 59])
                fn(beRead32(&b[pos + 8]), &b[r]);
    }
}

// A transit entry for a next hop nobody has resolved yet reaches object 156
// when the neighbour is learnt, and object 157 with the same bytes when it goes.
TEST_F(MplsScenario, IlmEntryFollowsItsNeighbourInHardware) {
    nlDeliver(nlMpls({.type = NL_ILM_ADD, .ifUnit = kEth, .nextHop = "10.0.0.2", .family = 2, .flags = 0x01,
                      .labelNum = 1, .swapLabel = lbl(1000), .labels = {lbl(2000, 5, 9), 0, 0}}));
    pass();
    std::size_t adds = 0, dels = 0;
    callsOf(hwCalls(), HW_OBJ_ILM_ADD, &adds);
    EXPECT_EQ(adds, 0u);
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
    EXPECT_BYTES(callsOf(hwCalls(), HW_OBJ_ILM_ADD, &adds), expected);
    EXPECT_EQ(adds, 1u);

    neighbour("10.0.0.2", "00:aa:bb:cc:dd:ee", NL_DELNEIGH);
    EXPECT_BYTES(callsOf(hwCalls(), HW_OBJ_ILM_DEL, &dels), expected);
    EXPECT_EQ(dels, 1u);
    nlDeliver(nlMpls({.type = NL_ILM_DEL, .ifUnit = kEth, .nextHop = "10.0.0.2", .family = 2, .flags = 0x01,
                      .swapLabel = lbl(1000, 7, 1), .labels = {lbl(2000), 0, 0}}));
    EXPECT_EQ(ghwRoute.swIlmCnt + ghwRoute.pendIlmCnt, 0u);
    callsOf(hwCalls(), HW_OBJ_ILM_DEL, &dels);
    EXPECT_EQ(dels, 1u) << "a waiting entry leaves without a hardware call";
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
    eachRouteRecord(hwCalls(), 0, [&](uint32_t subnet, const uint8_t* r) {
        labelled += subnet == ip4("172.16.0.0") && r[58] == 1 && r[59] == 1 && beRead32(r + 68) == 300;
    });
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
    eachRouteRecord(hwCalls(), before, [&](uint32_t subnet, const uint8_t* r) {
        publicDeletes += subnet == ip4("10.1.0.0") && r[58] == 2;
    });
    EXPECT_EQ(publicDeletes, 1);
    EXPECT_EQ(ghwRoute.swNexthopCnt, 0u);
}

}  // namespace
