#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform_test.h"

namespace {

using SimulatedHardware = PlatformTest;

TEST_F(SimulatedHardware, RefusalWindowsCountCallsPerObjectOrOverall) {
    const struct {
        const char* what, *rules;
        std::vector<uint32_t> objects;
        std::vector<int> results;
    } cases[] = {
        {"per object: the 2nd and 3rd call of 338", R"([{"objectId": 338, "fromCall": 2, "count": 2}])",
         {338, 339, 338, 338, 339, 338}, {0, 0, -1, -1, 0, 0}},
        {"overall: the 3rd call whatever its object", R"([{"fromCall": 3, "count": 1}])",
         {338, 339, 156, 338}, {0, 0, -1, 0}},
        {"defaults: the next call of 156", R"([{"objectId": 156}])", {338, 156, 156}, {0, -1, 0}},
        {"two windows", R"([{"objectId": 339, "fromCall": 1}, {"fromCall": 4}])",
         {339, 339, 338, 338, 338}, {-1, 0, 0, -1, 0}},
    };
    for (const auto& c : cases) {
        hwSend(338);  // calls before the rules do not count
        load(std::string(R"({"hardware": {"refuse": )") + c.rules + "}}");
        std::vector<int> results;
        for (uint32_t id : c.objects) results.push_back(hwSend(id) == 0 ? 0 : -1);
        EXPECT_EQ(results, c.results) << c.what;
    }
}

// Calls without bytes to read are refused and traced; layer-2 VPN objects
// hand over their 56-byte record instead of an octet.
TEST_F(SimulatedHardware, TraceHasOneExactJsonLinePerCall) {
    const std::string path = "/tmp/hwroute-trace-" + std::to_string(getpid());
    std::string err;
    ASSERT_TRUE(simSetTraceFile(path.c_str(), &err)) << err;
    load(R"({"hardware": {"refuse": [{"objectId": 157}]}})");
    EXPECT_EQ(hwSend(156, {0x00, 0x0a, 0xff, 0x10}), 0);
    EXPECT_NE(hwSend(157), 0);
    HwScalarReq noData{156, nullptr, 0, 3};
    EXPECT_NE(kivScalarSetApi(0, 0, &noData), 0);
    uint8_t record[56] = {0x5a};
    HwScalarReq l2vpn{144, record, 0, 1};
    EXPECT_EQ(kivScalarSetApi(0, 0, &l2vpn), 0);
    // Written and flushed at once: readable before the trace is closed.
    std::stringstream trace;
    trace << std::ifstream(path).rdbuf();
    std::remove(path.c_str());
    EXPECT_EQ(trace.str(),
              "{\"seq\":1,\"objectId\":156,\"flags\":1,\"len\":4,\"data\":\"000aff10\",\"result\":0}\n"
              "{\"seq\":2,\"objectId\":157,\"flags\":1,\"len\":1,\"data\":\"ab\",\"result\":-1}\n"
              "{\"seq\":3,\"objectId\":156,\"flags\":3,\"len\":0,\"data\":\"\",\"result\":-1}\n"
              "{\"seq\":4,\"objectId\":144,\"flags\":1,\"len\":56,\"data\":\"5a" + std::string(110, '0') +
                  "\",\"result\":0}\n");
}

// Route entries (objects 338 and 339) whose nextHopNum or size does not match
// the records they carry are refused and counted: a reader would take the
// next entry's bytes for a record.
TEST_F(SimulatedHardware, RefusesAndCountsRouteEntriesThatMisdescribeTheirRecords) {
    // An IPv4 entry: header (28) then `records` 64-byte records, the third
    // record (when there is one) with `labels` labels.
    auto entry4 = [](uint8_t nextHopNum, int records, uint8_t labels = 0, int sizeDelta = 0) {
        std::vector<uint8_t> e(28, 0);
        for (int i = 0; i < records; ++i) {
            std::vector<uint8_t> r(64, 0);
            if (i == 0) r[59] = labels;
            r.resize(64 + (i == 0 ? 8 * labels : 0), 0);
            e.insert(e.end(), r.begin(), r.end());
        }
        e[16] = nextHopNum;
        e[19] = uint8_t(int(e.size() / 4) + sizeDelta);
        return e;
    };
    auto cat = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    std::vector<uint8_t> v6(36 + 64, 0);
    v6[25] = 1;
    v6[27] = 25;
    std::vector<uint8_t> v6Headless = v6;
    v6Headless.resize(36);
    const struct {
        const char* what;
        uint32_t objectId;
        std::vector<uint8_t> bytes;
        bool refused;
    } cases[] = {
        {"one record, counted", 338, entry4(1, 1), false},
        {"two records, one labelled", 338, entry4(2, 2, 2), false},
        {"two entries back to back", 338, cat(entry4(1, 1), entry4(2, 2)), false},
        {"header says one, no record", 338, entry4(1, 0), true},
        {"header says one, two records", 338, entry4(1, 2), true},
        {"size one word short", 338, entry4(1, 1, 0, -1), true},
        {"labels not in the size", 338, entry4(1, 1, 1, -2), true},
        {"first entry claims the second's record", 338, cat(entry4(2, 1), entry4(1, 1)), true},
        {"truncated header", 338, std::vector<uint8_t>(20, 0), true},
        {"IPv6 entry with its record", 339, v6, false},
        {"IPv6 header says one, no record", 339, v6Headless, true},
        {"other objects are not read", 156, entry4(1, 0), false},
    };
    uint64_t refusals = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(hwSend(c.objectId, c.bytes) != 0, c.refused) << c.what;
        if (c.refused) ++refusals;
        EXPECT_EQ(simHwMalformedCount(), refusals) << c.what;
    }
}

}  // namespace
