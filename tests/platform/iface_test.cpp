#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "platform_test.h"

namespace {

using InterfaceServices = PlatformTest;

// Above INT_MAX: never a kernel interface index.
constexpr uint32_t kVirtualUnit = 3000000000u;

TEST_F(InterfaceServices, ConfiguredUnitWithoutValuesGetsTheDocumentedDefaults) {
    load(R"({"interfaces": {"3000000000": {}}, "systemMac": "02:00:00:00:00:42", "tunCreateTick": 9})");
    const UnitAnswers a = queryUnit(kVirtualUnit);
    ASSERT_EQ(a.macRc | a.operRc | a.endRc | a.recordRc | a.indexRc | a.tunnelRc, 0);
    EXPECT_EQ(macText(a.mac), "02:00:00:00:00:42");
    EXPECT_EQ(std::vector<uint32_t>({a.operState, a.endType, a.recordEndType, a.vlan, a.port, a.index, a.tick}),
              std::vector<uint32_t>({1, 6, 6, 0, kVirtualUnit, kVirtualUnit, 9}));
}

TEST_F(InterfaceServices, FailListMakesExactlyTheNamedQueriesFail) {
    // Which of mac, operState, endType, interface record, index and tunnel fail.
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "111111"},  // not configured at all
        {"mac", "100000"},   {"operState", "010000"}, {"vlan", "000100"},
        {"index", "000010"}, {"tunnel", "000001"},
        {"endType", "001100"},  // the interface record carries the end type and the VLAN id
    };
    for (const auto& [query, want] : cases) {
        simReset();
        if (query != nullptr) load(std::string(R"({"interfaces": {"3000000000": {"fail": [")") + query + "\"]}}}");
        const UnitAnswers a = queryUnit(kVirtualUnit);
        std::string failed;
        for (int rc : {a.macRc, a.operRc, a.endRc, a.recordRc, a.indexRc, a.tunnelRc}) failed += rc != 0 ? '1' : '0';
        EXPECT_EQ(failed, want) << (query != nullptr ? query : "not configured");
    }
}

TEST_F(InterfaceServices, ConfiguredValuesOverrideTheKernelOneByOne) {
    const uint32_t lo = if_nametoindex("lo");
    if (lo == 0) GTEST_SKIP() << "no loopback interface";
    load(R"({"interfaces": {")" + std::to_string(lo) + R"(": {"mac": "02:00:00:00:00:07"}}})");
    const UnitAnswers a = queryUnit(lo);
    EXPECT_EQ(macText(a.mac), "02:00:00:00:00:07");
    EXPECT_EQ(a.endType, 24u) << "values not configured still come from the kernel";
    EXPECT_EQ(a.index, lo);
}

// Interfaces of a private network namespace, entered for this test only: the
// loopback (no hardware address: the system MAC) and one end of a veth pair,
// down while its peer is.
TEST_F(InterfaceServices, KernelInterfacesAnswerEndTypeStateAndMac) {
    const int host = open("/proc/thread-self/ns/net", O_RDONLY);
    const bool entered = host >= 0 && unshare(CLONE_NEWNET) == 0;
    const bool built = entered && std::system("ip link add v0 type veth peer name v1 && ip link set lo up && "
                                              "ip link set v0 address 02:11:22:33:44:55 up") == 0;
    const UnitAnswers lo = queryUnit(if_nametoindex("lo")), v0 = queryUnit(if_nametoindex("v0"));
    EXPECT_TRUE(!entered || setns(host, CLONE_NEWNET) == 0);
    close(host);
    if (!built) GTEST_SKIP() << "no private network namespace here";
    EXPECT_EQ(std::vector<uint32_t>({lo.endType, lo.operState, v0.endType, v0.operState}),
              std::vector<uint32_t>({24, 1, 6, 2}));
    EXPECT_EQ(macText(lo.mac) + " " + macText(v0.mac), "02:00:00:00:00:01 02:11:22:33:44:55");
}

// Protocol 0 and 256 are out of range.
TEST_F(InterfaceServices, ProtocolPreferenceFromTheDefaultTableOrTheConfiguration) {
    load(R"({"protocolPreference": {"4": 50}})");
    const std::pair<uint32_t, uint32_t> rows[] = {{2, 0}, {4, 50}, {188, 110}, {1, 255}, {0, 0xdead}, {256, 0xdead}};
    for (auto [protocol, preference] : rows) {
        uint32_t pref = 0xdead;
        EXPECT_EQ(kivScalarGetApi(protocol, 55, &pref) == 0, preference != 0xdead) << protocol;
        EXPECT_EQ(pref, preference) << protocol;
    }
}

}  // namespace
