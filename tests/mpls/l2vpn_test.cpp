// Layer-2 VPN hardware writers: the object of each VPN type (their status
// moves are the ILM writers' shared ones, tested there).
#include <string>

#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwtest.h"

namespace {

using L2vpnHw = HwTest;

TEST_F(L2vpnHw, EachTypeGoesToItsObjects) {
    const struct {
        uint8_t vpnType;
        uint32_t add, del;
    } cases[] = {{1, 144, 145}, {2, 140, 141}, {5, 352, 353}, {3, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE("vpnType " + std::to_string(c.vpnType));
        SetUp();
        HwRouteL2vpnNode e{};
        e.vpnType = c.vpnType;
        e.family = HW_AF_INET;
        e.status = hwStatusIdle;
        hwUpdateL2vpnAdd(&e);
        ASSERT_EQ(hwUpdateL2vpnDel(&e), 0);
        ASSERT_EQ(hwCalls().size(), 2u);
        EXPECT_EQ(hwCalls()[0].objectId, c.add);
        EXPECT_EQ(hwCalls()[1].objectId, c.del);
        EXPECT_EQ(hwCalls()[1].data.size(), 56u) << "the record itself, without a neighbour: zero MAC and port";
    }
}

}  // namespace
