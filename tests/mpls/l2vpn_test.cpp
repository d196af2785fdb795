// Layer-2 VPN hardware writers: the object of each VPN type and the status
// moves, refusals included.
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

TEST_F(L2vpnHw, WritersMoveTheStatus) {
    struct Case {
        uint32_t before;
        bool add;
        bool refused;
        uint32_t after;
        int calls;
        int result;  // of a delete
    };
    const Case cases[] = {
        {2, true, false, 1, 1, 0},  {4, true, false, 1, 1, 0},  {2, true, true, 4, 1, 0},
        {5, true, false, 1, 0, 0},  {1, true, false, 1, 0, 0},  {3, true, false, 3, 0, 0},
        {1, false, false, 2, 1, 0}, {5, false, true, 5, 1, -1}, {4, false, false, 2, 0, 0},
        {2, false, false, 2, 0, 0}, {3, false, false, 3, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.before) + (c.add ? " add" : " delete"));
        SetUp();
        if (c.refused) platformConfig(R"({"hardware": {"refuse": [{"objectId": 140}, {"objectId": 141}]}})");
        HwRouteL2vpnNode e{};
        e.vpnType = 2;
        e.family = HW_AF_INET;
        e.status = c.before;
        if (c.add)
            hwUpdateL2vpnAdd(&e);
        else
            EXPECT_EQ(hwUpdateL2vpnDel(&e), c.result);
        EXPECT_EQ(e.status, c.after);
        EXPECT_EQ(hwCalls().size(), std::size_t(c.calls));
    }
}

}  // namespace
