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
    EXPECT_EQ(hwSend(338, {0x00, 0x0a, 0xff, 0x10}), 0);
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
              "{\"seq\":1,\"objectId\":338,\"flags\":1,\"len\":4,\"data\":\"000aff10\",\"result\":0}\n"
              "{\"seq\":2,\"objectId\":157,\"flags\":1,\"len\":1,\"data\":\"ab\",\"result\":-1}\n"
              "{\"seq\":3,\"objectId\":156,\"flags\":3,\"len\":0,\"data\":\"\",\"result\":-1}\n"
              "{\"seq\":4,\"objectId\":144,\"flags\":1,\"len\":56,\"data\":\"5a" + std::string(110, '0') +
                  "\",\"result\":0}\n");
}

}  // namespace
