// Debug lines: the category/level filter and the line handed to the sink.
#include <string>

#include "hwroute/debug.h"
#include "hwtest.h"

namespace {

using DebugLog = HwTest;

TEST_F(DebugLog, FilterByCategoryMaskAndLevel) {
    struct {
        const char* what;
        uint32_t mask;
        int32_t filterLevel;
        uint32_t category;
        int32_t level;
        bool written;
    } rows[] = {
        {"mask 0 silences level 0", 0, 7, 3, 0, false},
        {"mask 0 silences category 1", 0, 7, 1, -1, false},
        {"at the level", 7, 2, 1, 2, true},
        {"above the level", 7, 2, 1, 3, false},
        {"start-up line through bit 0", 1, 0, 3, 0, true},
        {"start-up line through bit 1", 2, 0, 3, 0, true},
        {"no shared bit", 4, 7, 3, 0, false},
        {"negative filter level", 7, -1, 3, 0, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        logs.clear();
        ghwRoute.debugMask = r.mask;
        ghwRoute.debugLevel = r.filterLevel;
        int n = hwRouteDebug(r.category, r.level, "x%d", 1);
        EXPECT_EQ(n, r.written ? 12 : -1);
        EXPECT_EQ(logs.size(), r.written ? 1u : 0u);
    }
}

TEST_F(DebugLog, SwitchesSetMaskAndLevel) {
    hwRouteDebugSet(5);
    EXPECT_EQ(ghwRoute.debugMask, 7u);
    EXPECT_EQ(ghwRoute.debugLevel, 7);
    hwRouteDebugSet(0);
    EXPECT_EQ(ghwRoute.debugMask, 0u);
    EXPECT_EQ(ghwRoute.debugLevel, 0);
    hwRouteDebugLevelSet(2);
    EXPECT_EQ(hwRouteDebug(HW_DBG_MOD, 2, "two"), 13);
    EXPECT_EQ(hwRouteDebug(HW_DBG_MOD, 3, "three"), -1);
    EXPECT_EQ(logs, std::vector<std::string>{"[HWROUTE]:two"});
}

TEST_F(DebugLog, LineIsPrefixThenTextWithNoLineEndAdded) {
    EXPECT_EQ(hwRouteDebug(1, 1, "[hwRouteRouteAdd]=>route exist %#x.\r\n", 0x0a000001u), 53);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], "[HWROUTE]:[hwRouteRouteAdd]=>route exist 0xa000001.\r\n");
}

TEST_F(DebugLog, LongTextIsCutToOneFullLine) {
    std::string text(2000, 'y');
    EXPECT_EQ(hwRouteDebug(1, 1, "%s", text.c_str()), 1027);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], "[HWROUTE]:" + text.substr(0, 1017));
    logs.clear();
    EXPECT_EQ(hwRouteDebug(1, 1, "%s", text.substr(0, 1017).c_str()), 1027);
    EXPECT_EQ(logs.at(0).size(), 1027u);
}

TEST_F(DebugLog, FormattingErrorWritesNothing) {
    // A wide character the C locale cannot convert makes formatting fail.
    EXPECT_EQ(hwRouteDebug(1, 1, "%ls", L"\u00e9"), -1);
    EXPECT_TRUE(logs.empty());
}

}  // namespace
