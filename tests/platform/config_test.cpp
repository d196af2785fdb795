#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform_test.h"

namespace {

using ConfigLoad = PlatformTest;

std::string writeTempFile(const std::string& text) {
    char path[] = "/tmp/hwroute-platform-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    std::string content = text;
    EXPECT_EQ(write(fd, content.data(), content.size()), ssize_t(content.size()));
    close(fd);
    return path;
}

uint32_t localPort() {
    uint32_t port = 0xdeadbeef;
    SysIndexKey key{{1, 1, -2, 0, 0, 1, 0}};
    EXPECT_EQ(sysIndexTrans(&key, 1, &port), 0);
    return port;
}

TEST_F(ConfigLoad, FileWithEveryKeyIsVisibleThroughTheQueries) {
    std::string path = writeTempFile(R"({
      "interfaces": {
        "3000000000": { "endType": 22, "vlan": 10, "port": 3, "mac": "00:11:22:AA:bb:cc",
                  "operState": 2, "tunCreateTick": 77, "fail": ["index"] }
      },
      "localPort": 9,
      "systemMac": "02:00:00:00:00:99",
      "protocolPreference": { "188": 5 },
      "selfSysIndex": 3,
      "tunCreateTick": 12,
      "cardQueries": { "scalar": { "52": { "result": 0, "value": 2 } } },
      "hardware": { "refuse": [ { "objectId": 338, "fromCall": 1, "count": 1 } ] }
    })");
    std::string err;
    ASSERT_TRUE(simLoadConfigFile(path.c_str(), &err)) << err;
    std::remove(path.c_str());

    UnitAnswers a = queryUnit(3000000000u);
    EXPECT_EQ(macText(a.mac), "00:11:22:aa:bb:cc");
    EXPECT_EQ(a.operState, 2u);
    EXPECT_EQ(a.endType, 22u);
    EXPECT_EQ(a.vlan, 10u);
    EXPECT_EQ(a.port, 3u);
    EXPECT_EQ(a.tick, 77u);
    EXPECT_NE(a.indexRc, 0);
    EXPECT_EQ(localPort(), 9u);
    uint8_t mac[32] = {};
    octet o{mac, sizeof(mac)};
    ASSERT_EQ(kivScalarGetApi(0, 11, &o), 0);
    EXPECT_EQ(macText(mac), "02:00:00:00:00:99");
    uint32_t pref = 0;
    ASSERT_EQ(kivScalarGetApi(188, 55, &pref), 0);
    EXPECT_EQ(pref, 5u);
    EXPECT_EQ(kivSelfSysIndex(), 3u);
    uint32_t value = 0;
    EXPECT_EQ(kivHwScalarGet(0, 52, &value), 0);
    EXPECT_EQ(value, 2u);
    uint8_t data[4] = {};
    octet d{data, sizeof(data)};
    HwScalarReq req{338, &d, 0, 1};
    EXPECT_NE(kivScalarSetApi(0, 0, &req), 0);
}

struct BadConfig {
    const char* json;
    const char* error;
};

TEST_F(ConfigLoad, RefusesABadFileWithOneLineNamingTheProblem) {
    const BadConfig cases[] = {
        {R"({"interfaces":{"5":{"vlam":1}}})", R"(unknown key "interfaces.5.vlam")"},
        {R"({"frobnicate":1})", R"(unknown key "frobnicate")"},
        {R"({"hardware":{"refuse":[{"object":1}]}})", R"(unknown key "hardware.refuse[0].object")"},
        {R"({"cardQueries":{"blade":{}}})", R"(unknown key "cardQueries.blade")"},
        {R"({"localPort":"3"})", R"("localPort" must be an integer from 0 to 4294967295)"},
        {R"({"localPort":1.5})", R"("localPort" must be an integer from 0 to 4294967295)"},
        {R"({"selfSysIndex":-1})", R"("selfSysIndex" must be an integer from 0 to 4294967295)"},
        {R"({"interfaces":{"5":{"vlan":4096}}})", R"("interfaces.5.vlan" must be an integer from 0 to 4095)"},
        {R"({"systemMac":"02:00:00:00:00"})", R"("systemMac" must be a MAC address like "aa:bb:cc:dd:ee:ff")"},
        {R"({"interfaces":{"5":{"mac":"02-00-00-00-00-01"}}})",
         R"("interfaces.5.mac" must be a MAC address like "aa:bb:cc:dd:ee:ff")"},
        {R"({"interfaces":{"eth0":{}}})",
         R"("interfaces.eth0": an interface unit must be a decimal number from 0 to 4294967295)"},
        {R"({"interfaces":{"5":{"fail":["macc"]}}})",
         R"("interfaces.5.fail" names an unknown query "macc" (known: mac, operState, endType, vlan, index, tunnel))"},
        {R"({"interfaces":{"5":{"fail":"mac"}}})", R"("interfaces.5.fail" must be a list of query names)"},
        {R"({"interfaces":[]})", R"("interfaces" must be an object keyed by interface unit)"},
        {R"({"protocolPreference":{"256":1}})",
         R"("protocolPreference.256": a protocol must be a decimal number from 1 to 255)"},
        {R"({"hardware":{"refuse":[{"fromCall":0}]}})",
         R"("hardware.refuse[0].fromCall" must be an integer from 1 to 4294967295)"},
        {R"({"hardware":{"refuse":{}}})", R"("hardware.refuse" must be a list)"},
        {R"({"cardQueries":{"slot":{"0xZZ":0}}})",
         R"("cardQueries.slot.0xZZ": an attribute id must be a decimal or 0x-prefixed hex number)"},
        {R"([1])", "the configuration must be a JSON object"},
        {"{\"localPort\": 1,}", "not valid JSON: line 1, column 17: expected a string key"},
    };
    for (const BadConfig& c : cases) {
        std::string err;
        EXPECT_FALSE(simLoadConfigText(c.json, &err)) << c.json;
        EXPECT_EQ(err, c.error) << c.json;
        EXPECT_EQ(err.find('\n'), std::string::npos) << c.json;
    }
}

TEST_F(ConfigLoad, MissingFileIsRefusedWithTheReason) {
    std::string err;
    EXPECT_FALSE(simLoadConfigFile("/nonexistent/hwroute.json", &err));
    EXPECT_EQ(err, "cannot open: No such file or directory");
}

TEST_F(ConfigLoad, FailedLoadAppliesNothing) {
    load(R"({"localPort": 4, "interfaces": {"3000000000": {"vlan": 7}}})");
    std::string err;
    // Every part before the mistake is valid, refusal rules included.
    ASSERT_FALSE(simLoadConfigText(R"({"localPort": 5, "interfaces": {"3000000000": {"vlan": 8}},
        "hardware": {"refuse": [{"count": 10}]}, "selfSysIndex": "x"})",
                                   &err));
    EXPECT_EQ(localPort(), 4u);
    EXPECT_EQ(queryUnit(3000000000u).vlan, 7u);
    uint8_t data[1] = {0};
    octet d{data, 1};
    HwScalarReq req{338, &d, 0, 1};
    EXPECT_EQ(kivScalarSetApi(0, 0, &req), 0) << "refusal rules of a refused file must not apply";
}

TEST_F(ConfigLoad, LaterLoadsLayerOnTopValueByValue) {
    load(R"({"interfaces": {"3000000000": {"vlan": 7, "mac": "02:aa:00:00:00:01", "fail": ["mac"]}}})");
    load(R"({"interfaces": {"3000000000": {"operState": 2, "fail": []}}, "localPort": 1})");
    UnitAnswers a = queryUnit(3000000000u);
    EXPECT_EQ(a.vlan, 7u) << "values of the earlier load stay";
    EXPECT_EQ(a.operState, 2u);
    EXPECT_EQ(a.macRc, 0) << "a later fail list replaces the earlier one";
    EXPECT_EQ(macText(a.mac), "02:aa:00:00:00:01");
    EXPECT_EQ(localPort(), 1u);

    simReset();
    EXPECT_NE(queryUnit(3000000000u).recordRc, 0) << "reset forgets configured units";
    EXPECT_EQ(localPort(), 0u);
}

}  // namespace
