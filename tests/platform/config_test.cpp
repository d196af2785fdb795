#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <utility>

#include "platform_test.h"

namespace {

using ConfigLoad = PlatformTest;

uint32_t localPort() {
    uint32_t port = 0xdeadbeef;
    SysIndexKey key{{1, 1, -2, 0, 0, 1, 0}};
    EXPECT_EQ(sysIndexTrans(&key, 1, &port), 0);
    return port;
}

TEST_F(ConfigLoad, FileIsVisibleThroughTheQueriesAndLaterLoadsLayerOnTop) {
    const std::string path = "/tmp/hwroute-platform-" + std::to_string(getpid()) + ".json";
    std::ofstream(path) << R"({"localPort": 9, "interfaces": {"3000000000":
        {"endType": 22, "vlan": 10, "port": 3, "mac": "00:11:22:AA:bb:cc", "operState": 2, "fail": ["index"]}}})";
    std::string err;
    ASSERT_TRUE(simLoadConfigFile(path.c_str(), &err)) << err;
    std::remove(path.c_str());
    UnitAnswers a = queryUnit(3000000000u);
    EXPECT_EQ(macText(a.mac), "00:11:22:aa:bb:cc");
    EXPECT_EQ(std::vector<uint32_t>({a.operState, a.endType, a.vlan, a.port}), std::vector<uint32_t>({2, 22, 10, 3}));
    EXPECT_NE(a.indexRc, 0);
    EXPECT_EQ(localPort(), 9u);

    // A unit's values stay unless named again; a fail list replaces the earlier one.
    load(R"({"interfaces": {"3000000000": {"operState": 1, "fail": []}}})");
    a = queryUnit(3000000000u);
    EXPECT_EQ(std::vector<uint32_t>({a.operState, a.vlan, uint32_t(a.indexRc)}), std::vector<uint32_t>({1, 10, 0}));
}

// A refused file names its problem in one line and applies nothing, not even
// the valid parts before the mistake.
TEST_F(ConfigLoad, RefusesABadFileWithOneLineAndAppliesNothing) {
    load(R"({"localPort": 4, "interfaces": {"3000000000": {"vlan": 7}}})");
    const std::pair<std::string, const char*> cases[] = {
        {R"({"localPort": 5, "interfaces": {"3000000000": {"vlan": 8}}, "hardware": {"refuse": [{"count": 10}]},
            "selfSysIndex": "x"})",
         R"("selfSysIndex" must be an integer from 0 to 4294967295)"},
        {R"({"interfaces":{"5":{"vlam":1}}})", R"(unknown key "interfaces.5.vlam")"},
        {R"({"interfaces":{"5":{"vlan":4096}}})", R"("interfaces.5.vlan" must be an integer from 0 to 4095)"},
        {R"({"systemMac":"02:00:00:00:00"})", R"("systemMac" must be a MAC address like "aa:bb:cc:dd:ee:ff")"},
        {R"({"interfaces":{"5":{"fail":["macc"]}}})",
         R"("interfaces.5.fail" names an unknown query "macc" (known: mac, operState, endType, vlan, index, tunnel))"},
        {R"([1])", "the configuration must be a JSON object"},
        {"{\"localPort\": 1,}", "not valid JSON: line 1, column 17: expected a string key"},
        {"{\"localPort\": 1,\n \"localPort\": 2}", "not valid JSON: line 2, column 2: duplicate key \"localPort\""},
        {"{\"localPort\": 01}", "not valid JSON: line 1, column 16: leading zero in a number"},
        {std::string(66, '['), "not valid JSON: line 1, column 66: nesting too deep"},
        {"{\"localPort\": 1}\n x", "not valid JSON: line 2, column 2: unexpected text after the value"},
        {"{\"systemMac\": \"02:00", "not valid JSON: line 1, column 21: unterminated string"},
        {"{\"systemMac\": \"\\q\"}", "not valid JSON: line 1, column 17: unknown escape in string"},
        {"{\"localPort\" 1}", "not valid JSON: line 1, column 14: expected ':'"},
        {"{\"localPort\": tru}", "not valid JSON: line 1, column 18: expected a value"},
        {"{\"localPort\": 1.}", "not valid JSON: line 1, column 17: expected a digit"},
        // Found by fuzzing: an escaped line break in a key split the reason in two.
        {R"({"interfaces":{"5\n":{}}})",
         R"("interfaces.5\u000a": an interface unit must be a decimal number from 0 to 4294967295)"},
        {R"({"interfaces":{"5":{"fail":["m\u0001"]}}})",
         R"("interfaces.5.fail" names an unknown query "m\u0001" (known: mac, operState, endType, vlan, index, tunnel))"},
    };
    std::string err;
    for (const auto& [json, error] : cases) {
        EXPECT_FALSE(simLoadConfigText(json, &err)) << json;
        EXPECT_EQ(err, error) << json;
    }
    EXPECT_EQ(localPort(), 4u);
    EXPECT_EQ(queryUnit(3000000000u).vlan, 7u);
    EXPECT_EQ(hwSend(338), 0) << "refusal rules of a refused file must not apply";
}

}  // namespace
