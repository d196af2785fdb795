#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform_test.h"

namespace {

using InterfaceServices = PlatformTest;

// Above INT_MAX: never a kernel interface index.
constexpr uint32_t kVirtualUnit = 3000000000u;

TEST_F(InterfaceServices, UnitNeitherInKernelNorConfiguredFailsEveryQuery) {
    for (uint32_t unit : {0u, kVirtualUnit}) {
        UnitAnswers a = queryUnit(unit);
        EXPECT_NE(a.macRc, 0) << unit;
        EXPECT_NE(a.operRc, 0) << unit;
        EXPECT_NE(a.endRc, 0) << unit;
        EXPECT_NE(a.recordRc, 0) << unit;
        EXPECT_NE(a.indexRc, 0) << unit;
        EXPECT_NE(a.tunnelRc, 0) << unit;
    }
}

TEST_F(InterfaceServices, ConfiguredUnitWithoutValuesGetsTheDocumentedDefaults) {
    load(R"({"interfaces": {"3000000000": {}}, "systemMac": "02:00:00:00:00:42", "tunCreateTick": 9})");
    UnitAnswers a = queryUnit(kVirtualUnit);
    ASSERT_EQ(a.macRc | a.operRc | a.endRc | a.recordRc | a.indexRc | a.tunnelRc, 0);
    EXPECT_EQ(macText(a.mac), "02:00:00:00:00:42");
    EXPECT_EQ(a.operState, 1u);
    EXPECT_EQ(a.endType, 6u);
    EXPECT_EQ(a.recordEndType, 6u);
    EXPECT_EQ(a.vlan, 0u);
    EXPECT_EQ(a.port, kVirtualUnit);
    EXPECT_EQ(a.index, kVirtualUnit);
    EXPECT_EQ(a.tick, 9u);
}

struct FailCase {
    const char* query;
    bool mac, oper, end, record, index, tunnel;  // true: that call fails
};

TEST_F(InterfaceServices, FailListMakesExactlyTheNamedQueriesFail) {
    const FailCase cases[] = {
        {"mac", true, false, false, false, false, false},
        {"operState", false, true, false, false, false, false},
        // The interface record carries the end type and the VLAN id.
        {"endType", false, false, true, true, false, false},
        {"vlan", false, false, false, true, false, false},
        {"index", false, false, false, false, true, false},
        {"tunnel", false, false, false, false, false, true},
    };
    for (const FailCase& c : cases) {
        load(std::string(R"({"interfaces": {"3000000000": {"endType": 6, "fail": [")") + c.query + "\"]}}}");
        UnitAnswers a = queryUnit(kVirtualUnit);
        EXPECT_EQ(a.macRc != 0, c.mac) << c.query;
        EXPECT_EQ(a.operRc != 0, c.oper) << c.query;
        EXPECT_EQ(a.endRc != 0, c.end) << c.query;
        EXPECT_EQ(a.recordRc != 0, c.record) << c.query;
        EXPECT_EQ(a.indexRc != 0, c.index) << c.query;
        EXPECT_EQ(a.tunnelRc != 0, c.tunnel) << c.query;
    }
}

TEST_F(InterfaceServices, TunnelRecordIsZeroedWithTheTickBigEndianAtByteTwo) {
    load(R"({"interfaces": {"3000000000": {"tunCreateTick": 305419896}}})");  // 0x12345678
    uint8_t rec[64];
    std::memset(rec, 0xee, sizeof(rec));
    octet o{rec, sizeof(rec)};
    ASSERT_EQ(kivIfGetApi(kVirtualUnit, 5211, &o), 0);
    uint8_t want[64] = {0, 0, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(0, std::memcmp(rec, want, sizeof(want)));
}

TEST_F(InterfaceServices, BuffersTooSmallForTheAnswerAreRefused) {
    load(R"({"interfaces": {"3000000000": {}}})");
    uint8_t buf[64] = {};
    octet shortMac{buf, 5};
    octet shortRecord{buf, 63};
    octet noData{nullptr, 64};
    EXPECT_NE(sysIFGet(kVirtualUnit, 33, &shortMac), 0);
    EXPECT_NE(sysIFGet(kVirtualUnit, 33, &noData), 0);
    EXPECT_NE(kivIfGetApi(kVirtualUnit, 5211, &shortRecord), 0);
    EXPECT_NE(kivScalarGetApi(0, 11, &shortMac), 0);
    EXPECT_NE(sysIFGet(kVirtualUnit, 33, nullptr), 0);
    EXPECT_NE(sysIFGet(kVirtualUnit, 34, buf), 0) << "unknown attribute";
}

TEST_F(InterfaceServices, LoopbackIsAnsweredByTheKernelUnlessConfigured) {
    uint32_t lo = if_nametoindex("lo");
    if (lo == 0) GTEST_SKIP() << "no loopback interface";
    UnitAnswers a = queryUnit(lo);
    ASSERT_EQ(a.macRc | a.endRc | a.recordRc | a.indexRc, 0);
    EXPECT_EQ(a.endType, 24u);
    EXPECT_EQ(a.vlan, 0u);
    EXPECT_EQ(a.index, lo);
    EXPECT_EQ(macText(a.mac), "02:00:00:00:00:01") << "no hardware address: the system MAC";

    load(R"({"interfaces": {")" + std::to_string(lo) + R"(": {"mac": "02:00:00:00:00:07"}}})");
    a = queryUnit(lo);
    EXPECT_EQ(macText(a.mac), "02:00:00:00:00:07") << "a configured value overrides the kernel";
    EXPECT_EQ(a.endType, 24u) << "values not configured still come from the kernel";
}

// Interfaces of a private network namespace: a veth pair (Ethernet, down
// until both ends are up) and a tun device (point-to-point). The child
// reports "name endType operState mac" lines; the host namespace is not touched.
std::string kernelAnswersInPrivateNamespace() {
    int fds[2];
    if (pipe(fds) != 0) return "";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (unshare(CLONE_NEWNET) != 0) _exit(3);
        const char* setup =
            "ip link add v0 type veth peer name v1 && ip link set v0 address 02:11:22:33:44:55 && "
            "ip link set lo up && ip link set v0 up";
        if (std::system(setup) != 0) _exit(4);
        bool tun = std::system("ip tuntap add t0 mode tun 2>/dev/null") == 0;
        std::string out;
        for (const char* name : {"lo", "v0", "t0"}) {
            uint32_t unit = if_nametoindex(name);
            if (unit == 0 || (!tun && std::string(name) == "t0")) continue;
            UnitAnswers a = queryUnit(unit);
            out += std::string(name) + " " + std::to_string(a.endType) + " " + std::to_string(a.operState) + " " +
                   macText(a.mac) + "\n";
        }
        if (write(fds[1], out.data(), out.size()) < 0) _exit(5);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof(buf))) > 0) out.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "";
    return out;
}

TEST_F(InterfaceServices, KernelInterfacesAnswerEndTypeStateAndMac) {
    std::string out = kernelAnswersInPrivateNamespace();
    if (out.empty()) GTEST_SKIP() << "cannot build a private network namespace here";
    EXPECT_NE(out.find("lo 24 1 02:00:00:00:00:01\n"), std::string::npos) << out;
    EXPECT_NE(out.find("v0 6 2 02:11:22:33:44:55\n"), std::string::npos) << "peer down: no carrier\n" << out;
    if (out.find("t0 ") != std::string::npos) {
        EXPECT_NE(out.find("t0 22 2 "), std::string::npos) << out;
    }
}

TEST_F(InterfaceServices, ProtocolPreferenceFromTheDefaultTableOrTheConfiguration) {
    struct Row {
        uint32_t protocol;
        uint32_t preference;
    };
    const Row defaults[] = {{2, 0}, {4, 1}, {186, 20}, {188, 110}, {189, 120}, {1, 255}, {200, 255}};
    for (const Row& r : defaults) {
        uint32_t pref = 0xdead;
        EXPECT_EQ(kivScalarGetApi(r.protocol, 55, &pref), 0) << r.protocol;
        EXPECT_EQ(pref, r.preference) << r.protocol;
    }
    uint32_t pref = 0;
    EXPECT_NE(kivScalarGetApi(0, 55, &pref), 0);
    EXPECT_NE(kivScalarGetApi(256, 55, &pref), 0);

    load(R"({"protocolPreference": {"4": 50}})");
    ASSERT_EQ(kivScalarGetApi(4, 55, &pref), 0);
    EXPECT_EQ(pref, 50u);
    ASSERT_EQ(kivScalarGetApi(188, 55, &pref), 0);
    EXPECT_EQ(pref, 110u) << "other protocols keep the default";
}

TEST_F(InterfaceServices, SystemWideFailListRefusesThoseQueries) {
    load(R"({"fail": ["localPort", "systemMac", "protocolPreference"]})");
    uint32_t v;
    SysIndexKey key{{1, 1, -2, 0, 0, 1, 0}};
    uint8_t mac[32];
    octet o{mac, sizeof(mac)};
    EXPECT_NE(sysIndexTrans(&key, 1, &v), 0);
    EXPECT_NE(kivScalarGetApi(0, 11, &o), 0);
    EXPECT_NE(kivScalarGetApi(4, 55, &v), 0);
}

// A card-up (slot-up) event is accepted when the first query answers 0, the
// second non-zero and the scalar 0 (and for cards a value other than 2).
TEST_F(InterfaceServices, CardAndSlotDefaultsAcceptAnEventOfThisSystem) {
    HwCardKey card{0, 1, 2, 3};
    HwSlotKey slot{0, 1, 3};
    uint32_t preset = 168;
    EXPECT_EQ(kivSelfSysIndex(), 0u);
    EXPECT_EQ(kivHwSlotGet(&slot, 0x1F40031, &preset), 0);
    EXPECT_NE(kivHwSlotGet(&slot, 0x1F4002A, nullptr), 0);
    EXPECT_EQ(kivHwScalarGet(0, 53, nullptr), 0);
    EXPECT_EQ(kivHwCardGet(&card, 0x2EE002B, &preset), 0);
    EXPECT_NE(kivHwCardGet(&card, 0x2EE002A, nullptr), 0);
    uint32_t value = 0;
    EXPECT_EQ(kivHwScalarGet(0, 52, &value), 0);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(preset, 168u) << "no value configured: the output is left alone";
    EXPECT_NE(kivHwCardGet(&card, 0x2EE0000, &preset), 0) << "unknown attribute";
    EXPECT_NE(kivHwCardGet(nullptr, 0x2EE002B, &preset), 0);
}

TEST_F(InterfaceServices, CardQueriesCanBeOverriddenPerAttribute) {
    load(R"({"selfSysIndex": 7, "cardQueries": {"slot": {"0x1F4002A": 0},
             "card": {"49152043": {"result": 0, "value": 5}}, "scalar": {"52": {"result": 0, "value": 2}}}})");
    HwCardKey card{7, 1, 2, 3};
    HwSlotKey slot{7, 1, 3};
    uint32_t out = 168;
    EXPECT_EQ(kivSelfSysIndex(), 7u);
    EXPECT_EQ(kivHwSlotGet(&slot, 0x1F4002A, nullptr), 0);
    EXPECT_EQ(kivHwSlotGet(&slot, 0x1F40031, &out), 0) << "attributes not named keep their default";
    EXPECT_EQ(kivHwCardGet(&card, 0x2EE002B, &out), 0);
    EXPECT_EQ(out, 5u);
    EXPECT_EQ(kivHwScalarGet(0, 52, &out), 0);
    EXPECT_EQ(out, 2u);
}

}  // namespace
