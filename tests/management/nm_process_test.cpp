// Request handling with raw message bytes: refusals, the reply edited in
// place, the operations behind each func, and a fuzz run under the
// sanitizers.
#include <fcntl.h>

#include <memory>
#include <random>

#include "hwroute/debug.h"
#include "hwroute/management.h"
#include "hwtest.h"
#include "nm_test_util.h"

namespace {

class NmProcess : public HwTest {
protected:
    // Runs the request in place; returns the reply length.
    int process(std::vector<uint8_t>& msg) { return hwRouteNmMsgProcess(msg.data(), int(msg.size())); }
};

NmReq perVrf(uint32_t func, int32_t vrf, uint32_t proto) {
    NmReq r;
    r.func = func;
    r.indexNum = 1;
    r.vrf = vrf;
    r.cmd = proto;
    r.value = nmU32(0xDEADBEEF);
    return r;
}

NmReq setLevel(uint32_t selector, uint32_t level) {
    NmReq r;
    r.func = 8;
    r.cmd = selector;
    r.value = nmU32(level);
    return r;
}

struct Refusal {
    const char* what;
    std::vector<uint8_t> msg;
    const char* line;
};

template <class Edit>
std::vector<uint8_t> edited(NmReq r, Edit edit, std::size_t cutTo = 0) {
    edit(r);
    std::vector<uint8_t> b = nmBytes(r);
    if (cutTo != 0) b.resize(cutTo);
    return b;
}

TEST_F(NmProcess, MalformedRequestsAreRefusedWithTheirLineAndLeftUntouched) {
    const auto same = [](NmReq&) {};
    const Refusal cases[] = {
        {"20 bytes", edited(NmReq{}, same, 20), "lenRx 20 err"},
        {"wrong magic", edited(NmReq{}, [](NmReq& r) { r.magic++; }), "ADR_DECODE_FUNC failed"},
        {"index marker 2", edited(NmReq{}, [](NmReq& r) { r.indexMark = 2; }), "charVal 2 err"},
        {"func 0", edited(NmReq{}, [](NmReq& r) { r.func = 0; }), "func 0 err"},
        {"func 14", edited(NmReq{}, [](NmReq& r) { r.func = 14; }), "func 14 err"},
        {"func 5 with an index", edited(perVrf(5, 0, 1), same), "indexNum 1 err"},
        {"func 1 without an index", edited(NmReq{}, [](NmReq& r) { r.func = 1; }), "indexNum 0 err"},
        {"value marker 4", edited(NmReq{}, [](NmReq& r) { r.valueMark = 4; }), "charVal 4 err"},
        {"u32 of length 2", edited(perVrf(1, 0, 1), [](NmReq& r) { r.len = 2, r.value = {0, 1}; }), "shortVal 2 err"},
        {"26 bytes: no room for the vrfid", edited(NmReq{}, same, 26), "ADR_GET_VRFID failed"},
        {"30 bytes: no value type", edited(NmReq{}, same, 30), "ADR_GET_VALUE_TYPE failed"},
        {"32 bytes: half a length", edited(NmReq{}, same, 32), "ADR_GET_VALUE_LEN failed"},
        {"u32 value missing", edited(NmReq{}, same, 35), "ADR_GET_VALUE failed"},
        {"octets past the end", edited(NmReq{}, [](NmReq& r) { r.type = 0, r.len = 10; }), "ADR_GET_VALUE failed"},
    };
    for (const Refusal& c : cases) {
        logs.clear();
        std::vector<uint8_t> msg = c.msg;
        EXPECT_EQ(process(msg), 0) << c.what;
        EXPECT_EQ(msg, c.msg) << c.what;
        EXPECT_TRUE(logged(std::string("[hwrouteNmMsgProcess]=>") + c.line)) << c.what << ": no line " << c.line;
        EXPECT_FALSE(logged("enter func")) << c.what;
    }
}

TEST_F(NmProcess, DebugLevelSetAnswersZeroAndLeavesTheValueItem) {
    std::vector<uint8_t> msg = nmBytes(setLevel(1, 3));
    const std::vector<uint8_t> sent = msg;
    ASSERT_EQ(process(msg), int(sent.size()));
    EXPECT_EQ(ghwRoute.debugLevel, 3);
    EXPECT_EQ(ghwRoute.debugMask, 7u);
    EXPECT_EQ(nmRead32(msg, 12), 0u);
    EXPECT_EQ(msg, sent);
    EXPECT_TRUE(logged("[hwrouteNmMsgProcess]=>enter func 8, vrfid 0, cmd 1"));
}

TEST_F(NmProcess, SetRefusalsChangeNothing) {
    struct Case {
        const char* what;
        NmReq req;
        uint32_t rc;
    };
    NmReq noValue = setLevel(1, 3);
    noValue.type = 5;  // a type that carries no value
    const Case cases[] = {
        {"selector 2", setLevel(2, 3), 0x03E80010},
        {"selector 0", setLevel(0, 3), 0x03E80010},
        {"no value", noValue, 0x03E80012},
    };
    for (const Case& c : cases) {
        hwRouteDebugLevelSet(6);
        std::vector<uint8_t> msg = nmBytes(c.req);
        std::vector<uint8_t> expected = msg;
        expected[12] = uint8_t(c.rc >> 24);
        expected[13] = uint8_t(c.rc >> 16);
        expected[14] = uint8_t(c.rc >> 8);
        expected[15] = uint8_t(c.rc);
        EXPECT_EQ(process(msg), int(msg.size())) << c.what;
        EXPECT_EQ(msg, expected) << c.what << "\n" << hexDump(msg);
        EXPECT_EQ(ghwRoute.debugLevel, 6) << c.what;
    }
}

TEST_F(NmProcess, PerVrfStatisticsReadTheirOwnTable) {
    struct Case {
        uint32_t func;
        HwProtoStats* table;
    };
    const Case cases[] = {
        {1, &ghwRoute.swRouteProtoStats},   {2, &ghwRoute.hwRouteProtoStats},
        {3, &ghwRoute.swRouteProtoAddStats}, {4, &ghwRoute.swRouteProtoDelStats},
        {9, &ghwRoute.swRoute6ProtoStats},  {10, &ghwRoute.hwRoute6ProtoStats},
        {11, &ghwRoute.swRoute6ProtoAddStats}, {12, &ghwRoute.swRoute6ProtoDelStats},
    };
    for (const Case& c : cases) (*c.table)[2047][15] = 1000 + c.func;
    for (const Case& c : cases) {
        (*c.table)[5][2] = 100 + c.func;
        std::vector<uint8_t> msg = nmBytes(perVrf(c.func, 5, 3));
        ASSERT_EQ(process(msg), 37) << "func " << c.func;
        EXPECT_EQ(nmRead32(msg, 12), 0u);
        EXPECT_EQ(msg[29], 3);
        EXPECT_EQ(msg[30], 2);
        EXPECT_EQ(nmRead32(msg, 33), 100 + c.func) << "func " << c.func;
        // The last entry of the table is inside it.
        msg = nmBytes(perVrf(c.func, 2047, 16));
        process(msg);
        EXPECT_EQ(nmRead32(msg, 33), 1000 + c.func) << "func " << c.func;
    }
}

TEST_F(NmProcess, PerVrfStatisticsOutsideTheTablesAnswerTheirCode) {
    struct Case {
        const char* what;
        int32_t vrf;
        uint32_t proto;
        uint32_t rc;
    };
    const Case cases[] = {
        {"vrf 2048", 2048, 1, 0x03E80011},
        {"vrf -1", -1, 1, 0x03E80011},
        {"protocol 17", 0, 17, 0x03E80011},
        {"protocol 0 writes nothing", 0, 0, 0},
        {"negative protocol writes nothing", 0, 0xFFFFFFFF, 0},
    };
    for (uint32_t func : {1u, 12u}) {
        for (const Case& c : cases) {
            std::vector<uint8_t> msg = nmBytes(perVrf(func, c.vrf, c.proto));
            ASSERT_EQ(process(msg), 37) << c.what;
            EXPECT_EQ(nmRead32(msg, 12), c.rc) << c.what;
            EXPECT_EQ(nmRead32(msg, 33), 0xDEADBEEFu) << c.what << ": value must be left as sent";
        }
    }
}

TEST_F(NmProcess, TableStatisticsSelectTheListedCounters) {
    using F = uint32_t HwRouteGlobal::*;
    const F items4[] = {&HwRouteGlobal::routeMax,          &HwRouteGlobal::swNexthopCnt,
                        &HwRouteGlobal::hwOkRouteCnt,      &HwRouteGlobal::pendRouteCnt,
                        &HwRouteGlobal::hwErrRouteCnt,     &HwRouteGlobal::rcvArpCnt,
                        &HwRouteGlobal::rcvArpAddCnt,      &HwRouteGlobal::rcvArpDelCnt,
                        &HwRouteGlobal::rcvArpChangeCnt,   &HwRouteGlobal::arpAddParamErrCnt,
                        &HwRouteGlobal::arpAddNoMemErrCnt, &HwRouteGlobal::arpAddSameInfoCnt,
                        &HwRouteGlobal::arpDelParamErrCnt, &HwRouteGlobal::arpDelNoEntryErrCnt,
                        &HwRouteGlobal::arpMax,            &HwRouteGlobal::swArpCnt,
                        &HwRouteGlobal::hwOkArpCnt,        &HwRouteGlobal::hwErrArpCnt};
    const F items6[] = {&HwRouteGlobal::routeMax,      &HwRouteGlobal::swNexthop6Cnt, &HwRouteGlobal::hwOkRoute6Cnt,
                        &HwRouteGlobal::pendRoute6Cnt, &HwRouteGlobal::hwErrRoute6Cnt, &HwRouteGlobal::nd6Max,
                        &HwRouteGlobal::swNd6Cnt,      &HwRouteGlobal::hwOkNd6Cnt,    &HwRouteGlobal::hwErrNd6Cnt};
    uint32_t n = 500;
    for (F f : items4) ghwRoute.*f = ++n;
    for (F f : items6)
        if (f != &HwRouteGlobal::routeMax) ghwRoute.*f = ++n;

    auto ask = [&](uint32_t func, uint32_t item) {
        NmReq r;
        r.func = func;
        r.cmd = item;
        r.value = nmU32(0xDEADBEEF);
        std::vector<uint8_t> msg = nmBytes(r);
        EXPECT_EQ(process(msg), 37);
        EXPECT_EQ(nmRead32(msg, 12), 0u);
        return nmRead32(msg, 33);
    };
    for (uint32_t i = 0; i < 18; ++i) EXPECT_EQ(ask(5, i + 1), ghwRoute.*items4[i]) << "IPv4 item " << i + 1;
    for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(ask(13, i + 1), ghwRoute.*items6[i]) << "IPv6 item " << i + 1;
    EXPECT_EQ(ask(5, 19), 0u);
    for (uint32_t outside : {0u, 20u, 0xFFFFFFFFu}) EXPECT_EQ(ask(5, outside), 0xDEADBEEFu) << outside;
    for (uint32_t outside : {0u, 10u}) EXPECT_EQ(ask(13, outside), 0xDEADBEEFu) << outside;
}

// Four octets are read and answered as a big-endian word, for the per-VRF
// statistics only; other operations leave an octet value as sent.
TEST_F(NmProcess, OctetValuesAnswerPerVrfStatisticsOnly) {
    ghwRoute.hwRouteProtoStats[1][0] = 0x01020304;
    NmReq stats = perVrf(2, 1, 1);
    stats.type = 0;
    std::vector<uint8_t> msg = nmBytes(stats);
    ASSERT_EQ(process(msg), 37);
    EXPECT_EQ(msg[30], 0);
    EXPECT_EQ(nmRead32(msg, 33), 0x01020304u);

    ghwRoute.hwOkRouteCnt = 9;
    NmReq table;
    table.cmd = 3;
    table.type = 0;
    table.value = nmU32(0xDEADBEEF);
    msg = nmBytes(table);
    ASSERT_EQ(process(msg), 37);
    EXPECT_EQ(nmRead32(msg, 33), 0xDEADBEEFu);

    NmReq odd = perVrf(2, 1, 1);
    odd.type = 0;
    odd.len = 3;
    odd.value = {7, 7, 7};
    msg = nmBytes(odd);
    ASSERT_EQ(process(msg), 36);
    EXPECT_EQ(nmRead32(msg, 12), 0x03E80012u);
}

TEST_F(NmProcess, ReplyKeepsTheRequestLengthAndItsOtherBytes) {
    ghwRoute.hwOkRouteCnt = 77;
    NmReq r;
    r.cmd = 3;
    std::vector<uint8_t> msg = nmBytes(r);
    msg.insert(msg.end(), {0xAA, 0xBB, 0xCC});
    std::vector<uint8_t> expected = msg;
    expected[36] = 77;
    ASSERT_EQ(process(msg), 40);
    EXPECT_EQ(msg, expected) << hexDump(msg);
}

// Thousands of random and mutated requests, each in a heap buffer of exactly
// its length so the address sanitizer sees any read past the message.
TEST_F(NmProcess, FuzzedRequestsNeverCrashNorGrow) {
    std::mt19937 rng(12345);
    const std::vector<std::vector<uint8_t>> seeds = {
        nmBytes(perVrf(1, 3, 2)), nmBytes(setLevel(1, 2)), nmBytes(NmReq{}), nmBytes(perVrf(11, 0, 16))};
    const int devNull = open("/dev/null", O_WRONLY);
    fflush(stdout);
    const int savedOut = dup(1);
    dup2(devNull, 1);  // func 6 and 7 print dumps
    int accepted = 0;
    for (int i = 0; i < 6000; ++i) {
        std::vector<uint8_t> msg;
        if (i % 3 == 0) {
            msg.resize(rng() % 64);
            for (auto& b : msg) b = uint8_t(rng());
        } else {
            msg = seeds[rng() % seeds.size()];
            const int flips = 1 + int(rng() % 4);
            for (int f = 0; f < flips; ++f) msg[rng() % msg.size()] = uint8_t(rng());
            if (rng() % 4 == 0) msg.resize(rng() % (msg.size() + 1));
            if (rng() % 8 == 0) msg.resize(msg.size() + rng() % 8, uint8_t(rng()));
        }
        const std::size_t len = msg.size();
        std::unique_ptr<uint8_t[]> heap(new uint8_t[len == 0 ? 1 : len]);
        std::copy(msg.begin(), msg.end(), heap.get());
        const int reply = hwRouteNmMsgProcess(len == 0 ? nullptr : heap.get(), int(len));
        if (reply != 0) ++accepted;
        ASSERT_TRUE(reply == 0 || reply == int(len)) << "reply " << reply << " for " << hexDump(msg);
        if (i % 500 == 0) logs.clear();
    }
    fflush(stdout);
    dup2(savedOut, 1);
    close(savedOut);
    close(devNull);
    EXPECT_GT(accepted, 100);  // the mutations also reach the operations
}

}  // namespace
