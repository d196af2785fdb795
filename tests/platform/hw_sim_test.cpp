#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform_test.h"

namespace {

class SimulatedHardware : public PlatformTest {
protected:
    // One call with a small octet payload; returns the hardware's answer.
    static int send(uint32_t objectId, std::vector<uint8_t> bytes = {0xab}) {
        octet o{bytes.data(), uint32_t(bytes.size())};
        HwScalarReq req{objectId, &o, 0, 1};
        return kivScalarSetApi(0, 0, &req);
    }
};

TEST_F(SimulatedHardware, RefusalWindowsCountCallsPerObjectOrOverall) {
    struct Case {
        const char* what;
        const char* rules;
        std::vector<uint32_t> objects;
        std::vector<int> results;
    };
    const Case cases[] = {
        {"per object: the 2nd and 3rd call of 338", R"([{"objectId": 338, "fromCall": 2, "count": 2}])",
         {338, 339, 338, 338, 339, 338}, {0, 0, -1, -1, 0, 0}},
        {"overall: the 3rd call whatever its object", R"([{"fromCall": 3, "count": 1}])",
         {338, 339, 156, 338}, {0, 0, -1, 0}},
        {"defaults: the next call of 156", R"([{"objectId": 156}])", {338, 156, 156}, {0, -1, 0}},
        {"two windows", R"([{"objectId": 339, "fromCall": 1}, {"fromCall": 4}])",
         {339, 339, 338, 338, 338}, {-1, 0, 0, -1, 0}},
        {"empty list refuses nothing", "[]", {338, 338}, {0, 0}},
    };
    for (const Case& c : cases) {
        send(338);  // calls before the rules do not count
        load(std::string(R"({"hardware": {"refuse": )") + c.rules + "}}");
        std::vector<int> results;
        for (uint32_t id : c.objects) results.push_back(send(id) == 0 ? 0 : -1);
        EXPECT_EQ(results, c.results) << c.what;
    }
}

// Calls without bytes to read are refused, counted and traced; layer-2 VPN
// objects hand over their 56-byte record instead of an octet.
TEST_F(SimulatedHardware, TraceHasOneExactJsonLinePerCall) {
    const std::string path = "/tmp/hwroute-trace-" + std::to_string(getpid());
    std::string err;
    ASSERT_TRUE(simSetTraceFile(path.c_str(), &err)) << err;
    auto trace = [&] {
        std::stringstream s;
        s << std::ifstream(path).rdbuf();
        return s.str();
    };
    load(R"({"hardware": {"refuse": [{"objectId": 157}]}})");
    EXPECT_EQ(send(338, {0x00, 0x0a, 0xff, 0x10}), 0);
    EXPECT_NE(send(157), 0);
    HwScalarReq noData{156, nullptr, 0, 3};
    EXPECT_NE(kivScalarSetApi(0, 0, &noData), 0);
    EXPECT_NE(kivScalarSetApi(0, 0, nullptr), 0);
    uint8_t record[56] = {0x5a};
    HwScalarReq l2vpn{144, record, 0, 1};
    EXPECT_EQ(kivScalarSetApi(0, 0, &l2vpn), 0);
    // Written and flushed at once: readable before the trace is closed.
    const std::string lines =
        "{\"seq\":1,\"objectId\":338,\"flags\":1,\"len\":4,\"data\":\"000aff10\",\"result\":0}\n"
        "{\"seq\":2,\"objectId\":157,\"flags\":1,\"len\":1,\"data\":\"ab\",\"result\":-1}\n"
        "{\"seq\":3,\"objectId\":156,\"flags\":3,\"len\":0,\"data\":\"\",\"result\":-1}\n"
        "{\"seq\":4,\"objectId\":144,\"flags\":1,\"len\":56,\"data\":\"5a" + std::string(110, '0') + "\",\"result\":0}\n";
    EXPECT_EQ(trace(), lines);

    simReset();
    send(338);
    EXPECT_EQ(trace(), lines) << "reset closes the trace";
    EXPECT_EQ(simHwCallCount(), 1u) << "reset restarts the numbering";
    std::remove(path.c_str());
    EXPECT_FALSE(simSetTraceFile("/nonexistent/dir/trace", &err));
    EXPECT_EQ(err, "cannot open /nonexistent/dir/trace: No such file or directory");
}

}  // namespace
