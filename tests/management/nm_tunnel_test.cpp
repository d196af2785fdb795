// The tunnel operation of the management socket: requests written byte by
// byte from the documented value layout, their validation, and the readable
// form the client turns into such a request.
#include <gtest/gtest.h>

#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/management.h"
#include "hwroute/records.h"
#include "hwroute/tables.h"
#include "builders.h"
#include "nm_test_util.h"

namespace {

// The value of a 4in4 tunnel: 10.9.0.1/24 -> 10.9.0.2, 198.51.100.0/24 into unit 40.
std::vector<uint8_t> tunValue() {
    std::vector<uint8_t> v(76, 0);
    v[1] = 7;                                               // tunId
    v[2] = 2;                                               // tunFamily
    v[3] = 4;                                               // encapsMethod
    v[4] = 10, v[5] = 9, v[6] = 0, v[7] = 1;                // nextHopSrc
    v[20] = v[21] = v[22] = 0xFF;                           // nexthopMask 255.255.255.0
    v[24] = 10, v[25] = 9, v[26] = 0, v[27] = 2;            // nextHopDst
    v[40] = 198, v[41] = 51, v[42] = 100;                   // dest
    v[56] = v[57] = v[58] = 0xFF;                           // routeMask
    v[63] = 40;                                             // tunUnit
    v[73] = 2;                                              // routeFamily
    return v;
}

// A tunnel request, byte by byte: header, index item (indexNum 0), value item.
std::vector<uint8_t> tunReq(uint32_t cmd, const std::vector<uint8_t>& value, uint8_t type = 0) {
    return nmBytes({.func = HW_NM_FUNC_TUNNEL, .cmd = cmd, .type = type, .len = uint16_t(value.size()), .value = value});
}

class NmTunnel : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {"3": {"endType": 6, "mac": "02:00:00:00:00:03", "vlan": 0},
                                           "40": {"tunCreateTick": 5}}})");
        HwArpNode* n = addArp(0, "10.9.0.2", 3, 7, 0, hwStatusOk);
        const uint8_t mac[6] = {2, 0, 0, 0, 0, 2};
        std::memcpy(n->mac, mac, 6);
    }
    // Runs a request; returns the return code at offset 12 and keeps the reply.
    uint32_t run(const std::vector<uint8_t>& request) {
        reply = request;
        const int len = hwRouteNmMsgProcess(reply.data(), int(reply.size()));
        EXPECT_EQ(len, int(reply.size()));
        return (uint32_t(reply[12]) << 24) | (uint32_t(reply[13]) << 16) | (uint32_t(reply[14]) << 8) | reply[15];
    }
    static std::size_t tunnels() { return listed<&HwRouteTunNode::link>(&ghwRoute.tunList).size(); }
    std::vector<uint8_t> reply;
};

TEST_F(NmTunnel, AddReportsTheBindingAndDeleteAndUnitRemovalTakeItOut) {
    EXPECT_EQ(run(tunReq(1, tunValue())), 0u);
    EXPECT_EQ(reply[33 + 74], 1) << "bound to the neighbour";
    EXPECT_EQ(reply[33 + 75], hwStatusOk);
    EXPECT_EQ(tunnels(), 1u);
    EXPECT_EQ(hwCalls().size(), 1u);

    EXPECT_EQ(run(tunReq(2, tunValue())), 0u);
    EXPECT_EQ(reply[33 + 74], 0) << "no tunnel left";
    EXPECT_EQ(tunnels(), 0u);
    EXPECT_EQ(run(tunReq(2, tunValue())), HW_NM_RC_TUN_NOT_FOUND);

    EXPECT_EQ(run(tunReq(1, tunValue())), 0u);
    EXPECT_EQ(run(tunReq(3, nmU32(40), 2)), 0u);
    EXPECT_EQ(tunnels(), 0u);
}

TEST_F(NmTunnel, EveryFieldIsValidatedBeforeTheHandlerRuns) {
    struct Case {
        const char* what;
        uint32_t cmd;
        void (*edit)(std::vector<uint8_t>&);
        uint8_t type;
        uint32_t rc;
    };
    const Case cases[] = {
        {"cmd 4", 4, [](std::vector<uint8_t>&) {}, 0, HW_NM_RC_TUN_BAD_CMD},
        {"value as u32", 1, [](std::vector<uint8_t>& v) { v.resize(4); }, 2, HW_NM_RC_TUN_BAD_VALUE},
        {"value one byte short", 1, [](std::vector<uint8_t>& v) { v.pop_back(); }, 0, HW_NM_RC_TUN_BAD_VALUE},
        {"tunnel family 7", 1, [](std::vector<uint8_t>& v) { v[2] = 7; }, 0, HW_NM_RC_TUN_BAD_FAMILY},
        {"route family 0", 1, [](std::vector<uint8_t>& v) { v[73] = 0; }, 0, HW_NM_RC_TUN_BAD_FAMILY},
        {"unit 0", 1, [](std::vector<uint8_t>& v) { v[63] = 0; }, 0, HW_NM_RC_TUN_BAD_UNIT},
        {"route mask with a hole", 1, [](std::vector<uint8_t>& v) { v[57] = 0x7F; }, 0, HW_NM_RC_TUN_BAD_MASK},
        {"local mask with a hole", 1, [](std::vector<uint8_t>& v) { v[23] = 0x01; }, 0, HW_NM_RC_TUN_BAD_MASK},
        {"IPv6 prefix length 129", 1, [](std::vector<uint8_t>& v) { v[73] = 10, v[56] = v[57] = v[58] = 0, v[59] = 129; },
         0, HW_NM_RC_TUN_BAD_MASK},
        {"IPv4 endpoint with stray bytes", 1, [](std::vector<uint8_t>& v) { v[35] = 1; }, 0, HW_NM_RC_TUN_BAD_ADDRESS},
        {"no far endpoint", 1, [](std::vector<uint8_t>& v) { std::memset(&v[24], 0, 4); }, 0, HW_NM_RC_TUN_BAD_ADDRESS},
        {"endpoints equal", 1, [](std::vector<uint8_t>& v) { v[27] = 1; }, 0, HW_NM_RC_TUN_BAD_ADDRESS},
        {"host bits in the routed prefix", 1, [](std::vector<uint8_t>& v) { v[43] = 5; }, 0, HW_NM_RC_TUN_BAD_ADDRESS},
        {"notify unit 0", 3, [](std::vector<uint8_t>& v) { v = nmU32(0); }, 2, HW_NM_RC_TUN_BAD_UNIT},
        {"notify with octets", 3, [](std::vector<uint8_t>&) {}, 0, HW_NM_RC_TUN_BAD_VALUE},
        {"type 100 with another tick", 1, [](std::vector<uint8_t>& v) { v[67] = 100, v[71] = 9; }, 0, HW_NM_RC_TUN_TICK},
        {"type 100 on a unit nobody knows", 1, [](std::vector<uint8_t>& v) { v[67] = 100, v[60] = 0x7F; }, 0,
         HW_NM_RC_TUN_IF_QUERY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> v = tunValue();
        c.edit(v);
        EXPECT_EQ(run(tunReq(c.cmd, v, c.type)), c.rc);
        EXPECT_EQ(tunnels(), 0u);
        EXPECT_TRUE(hwCalls().empty());
    }
}

TEST_F(NmTunnel, ReadableFormBecomesTheDocumentedValue) {
    const char* words[] = {"unit", "40", "local", "10.9.0.1/24", "remote", "10.9.0.2", "route", "198.51.100.0/24",
                           "id", "7", "encaps", "4"};
    HwRouteTunNode t{};
    char err[128] = "";
    ASSERT_TRUE(hwNmTunnelParse(12, words, &t, err, sizeof(err))) << err;
    uint8_t value[76];
    hwNmTunnelEncode(&t, value);
    EXPECT_EQ(std::vector<uint8_t>(value, value + 76), tunValue());

    struct Bad {
        const char* what;
        std::vector<const char*> words;
    };
    const Bad bad[] = {
        {"no route", {"unit", "40", "local", "10.9.0.1/24", "remote", "10.9.0.2"}},
        {"route without length", {"unit", "40", "local", "10.9.0.1", "remote", "10.9.0.2", "route", "198.51.100.0"}},
        {"mixed endpoint families", {"unit", "40", "local", "2001:db8::1", "remote", "10.9.0.2", "route", "10.0.0.0/8"}},
        {"dangling word", {"unit", "1", "local"}},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        EXPECT_FALSE(hwNmTunnelParse(int(b.words.size()), b.words.data(), &t, err, sizeof(err)));
        EXPECT_NE(err[0], '\0');
    }
}

}  // namespace
