// Debug lines: the category/level filter and the line handed to the sink.
#include <string>
#include <tuple>
#include <vector>

#include "hwroute/debug.h"
#include "hwtest.h"

namespace {

using DebugLog = HwTest;

TEST_F(DebugLog, FilterByCategoryMaskAndLevel) {
    // What, mask, category, filter level, line level, written.
    const std::tuple<const char*, uint32_t, uint32_t, int32_t, int32_t, bool> rows[] = {
        {"mask 0 silences everything", 0, 3, 7, 0, false},
        {"at the level", 7, 1, 2, 2, true},
        {"above the level", 7, 1, 2, 3, false},
        {"start-up line through bit 0", 1, 3, 0, 0, true},
        {"no shared bit", 4, 3, 7, 0, false},
        {"negative filter level", 7, 3, -1, 0, false},
    };
    for (const auto& [what, mask, category, filterLevel, level, written] : rows) {
        SCOPED_TRACE(what);
        logs.clear();
        ghwRoute.debugMask = mask;
        ghwRoute.debugLevel = filterLevel;
        EXPECT_EQ(hwRouteDebug(category, level, "x%d", 1), written ? 12 : -1);
        EXPECT_EQ(logs.size(), written ? 1u : 0u);
    }
}

TEST_F(DebugLog, LineIsPrefixThenTextCutToOneFullLine) {
    const std::string full(1017, 'y');
    EXPECT_EQ(hwRouteDebug(1, 1, "route exist %#x.\r\n", 0x0a000001u), 34);
    EXPECT_EQ(hwRouteDebug(1, 1, "%s", full.c_str()), 1027);
    EXPECT_EQ(hwRouteDebug(1, 1, "%szzz", full.c_str()), 1027);
    EXPECT_EQ(logs, (std::vector<std::string>{"[HWROUTE]:route exist 0xa000001.\r\n", "[HWROUTE]:" + full,
                                              "[HWROUTE]:" + full}));
}

}  // namespace
