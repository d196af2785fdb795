#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform_test.h"

namespace {

class SimulatedHardware : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        simRecordCalls(true);
    }

    // One call with a small octet payload; returns the hardware's answer.
    int send(uint32_t objectId, std::vector<uint8_t> bytes = {0xab}) {
        octet o{bytes.data(), uint32_t(bytes.size())};
        HwScalarReq req{objectId, &o, 0, 1};
        return kivScalarSetApi(0, 0, &req);
    }

    std::vector<int> sendAll(const std::vector<uint32_t>& objects) {
        std::vector<int> results;
        for (uint32_t id : objects) results.push_back(send(id) == 0 ? 0 : -1);
        return results;
    }
};

TEST_F(SimulatedHardware, AcceptsAndRecordsEachCall) {
    EXPECT_EQ(send(338, {1, 2, 3}), 0);
    uint8_t none = 0;
    octet empty{&none, 0};
    HwScalarReq req{156, &empty, 0, 1};
    EXPECT_EQ(kivScalarSetApi(0, 0, &req), 0);
    const auto& calls = simHwCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].seq, 1u);
    EXPECT_EQ(calls[0].objectId, 338u);
    EXPECT_EQ(calls[0].flags, 1u);
    EXPECT_EQ(calls[0].data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(calls[1].seq, 2u);
    EXPECT_TRUE(calls[1].data.empty());
}

TEST_F(SimulatedHardware, LayerTwoVpnObjectsCarryTheRecordItself) {
    uint8_t record[56];
    for (int i = 0; i < 56; ++i) record[i] = uint8_t(i);
    for (uint32_t id : {140u, 141u, 144u, 145u, 352u, 353u, 0u}) {
        simClearHwCalls();
        HwScalarReq req{id, record, 0, 1};
        ASSERT_EQ(kivScalarSetApi(0, 0, &req), 0) << id;
        ASSERT_EQ(simHwCalls().size(), 1u) << id;
        EXPECT_EQ(simHwCalls()[0].data, std::vector<uint8_t>(record, record + 56)) << id;
    }
}

TEST_F(SimulatedHardware, NullRequestOrDataIsRefusedWithoutCrashing) {
    EXPECT_NE(kivScalarSetApi(0, 0, nullptr), 0);
    HwScalarReq noData{338, nullptr, 0, 1};
    EXPECT_NE(kivScalarSetApi(0, 0, &noData), 0);
    octet empty{nullptr, 12};
    HwScalarReq noBytes{338, &empty, 0, 1};
    EXPECT_NE(kivScalarSetApi(0, 0, &noBytes), 0);
    HwScalarReq noRecord{144, nullptr, 0, 1};
    EXPECT_NE(kivScalarSetApi(0, 0, &noRecord), 0);
    EXPECT_EQ(simHwCalls().size(), 3u) << "only the null request itself goes unrecorded";
}

struct RefuseCase {
    const char* what;
    const char* rules;
    std::vector<uint32_t> objects;
    std::vector<int> results;
};

TEST_F(SimulatedHardware, RefusalWindowsCountCallsPerObjectOrOverall) {
    const RefuseCase cases[] = {
        {"per object: the 2nd and 3rd call of 338", R"([{"objectId": 338, "fromCall": 2, "count": 2}])",
         {338, 339, 338, 338, 339, 338}, {0, 0, -1, -1, 0, 0}},
        {"overall: the 3rd call whatever its object", R"([{"fromCall": 3, "count": 1}])",
         {338, 339, 156, 338}, {0, 0, -1, 0}},
        {"defaults: the next call of 156", R"([{"objectId": 156}])", {338, 156, 156}, {0, -1, 0}},
        {"two windows", R"([{"objectId": 339, "fromCall": 1}, {"fromCall": 4}])",
         {339, 339, 338, 338, 338}, {-1, 0, 0, -1, 0}},
        {"empty list refuses nothing", "[]", {338, 338}, {0, 0}},
    };
    for (const RefuseCase& c : cases) {
        send(338);  // calls before the rules do not count
        load(std::string(R"({"hardware": {"refuse": )") + c.rules + "}}");
        EXPECT_EQ(sendAll(c.objects), c.results) << c.what;
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(SimulatedHardware, TraceHasOneExactJsonLinePerCall) {
    std::string path = "/tmp/hwroute-trace-" + std::to_string(getpid());
    std::string err;
    ASSERT_TRUE(simSetTraceFile(path.c_str(), &err)) << err;
    load(R"({"hardware": {"refuse": [{"objectId": 157}]}})");
    send(338, {0x00, 0x0a, 0xff, 0x10});
    send(157, {0xab});
    HwScalarReq noData{156, nullptr, 0, 3};
    kivScalarSetApi(0, 0, &noData);
    // Written and flushed at once: readable before the trace is closed.
    EXPECT_EQ(readFile(path),
              "{\"seq\":1,\"objectId\":338,\"flags\":1,\"len\":4,\"data\":\"000aff10\",\"result\":0}\n"
              "{\"seq\":2,\"objectId\":157,\"flags\":1,\"len\":1,\"data\":\"ab\",\"result\":-1}\n"
              "{\"seq\":3,\"objectId\":156,\"flags\":3,\"len\":0,\"data\":\"\",\"result\":-1}\n");
    simReset();
    simRecordCalls(true);
    send(338);
    std::string after = readFile(path);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 3) << "reset closes the trace";
    EXPECT_EQ(simHwCalls().at(0).seq, 1u) << "reset restarts the numbering";
    std::remove(path.c_str());
}

TEST_F(SimulatedHardware, TraceFileThatCannotBeOpenedIsReported) {
    std::string err;
    EXPECT_FALSE(simSetTraceFile("/nonexistent/dir/trace", &err));
    EXPECT_EQ(err, "cannot open /nonexistent/dir/trace: No such file or directory");
}

}  // namespace
