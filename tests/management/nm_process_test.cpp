// Request handling with raw message bytes: refusals, the reply edited in
// place, and a fuzz run under the sanitizers.
#include <memory>
#include <random>
#include <utility>

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

TEST_F(NmProcess, MalformedRequestsAreRefusedWithTheirLineAndLeftUntouched) {
    const struct { const char* what; void (*edit)(NmReq&); std::size_t cutTo; const char* line; } cases[] = {
        {"20 bytes", nullptr, 20, "lenRx 20 err"},
        {"wrong magic", [](NmReq& r) { r.magic++; }, 0, "ADR_DECODE_FUNC failed"},
        {"func 14", [](NmReq& r) { r.func = 14; }, 0, "func 14 err"},
        {"func 5 with an index", [](NmReq& r) { r.indexNum = 1; }, 0, "indexNum 1 err"},
        {"u32 of length 2", [](NmReq& r) { r.len = 2, r.value = {0, 1}; }, 0, "shortVal 2 err"},
        {"u32 value missing", nullptr, 35, "ADR_GET_VALUE failed"},
    };
    for (const auto& c : cases) {
        logs.clear();
        NmReq r;
        if (c.edit != nullptr) c.edit(r);
        std::vector<uint8_t> sent = nmBytes(r);
        sent.resize(c.cutTo != 0 ? c.cutTo : sent.size());
        std::vector<uint8_t> msg = sent;
        EXPECT_EQ(process(msg), 0) << c.what;
        EXPECT_EQ(msg, sent) << c.what;
        EXPECT_TRUE(logged(std::string("[hwrouteNmMsgProcess]=>") + c.line)) << c.what << ": no line " << c.line;
        EXPECT_FALSE(logged("enter func")) << c.what;
    }
}

// The reply is the request with the return code at offset 12 and the value
// item rewritten; every other byte, and the length, stay as sent.
TEST_F(NmProcess, ReplyCarriesTheReturnCodeAndTheValue) {
    ghwRoute.swRoute6ProtoDelStats[2047][15] = 1012;
    ghwRoute.hwRouteProtoStats[1][0] = 0x01020304;
    ghwRoute.hwOkRouteCnt = 77;
    // A value of 0xDEADBEEF is the one sent, left as it was.
    const struct { const char* what; NmReq req; uint32_t rc, value; } cases[] = {
        {"debug level set", {.func = 8, .cmd = 1, .value = nmU32(3)}, 0, 3},
        {"set selector 2", {.func = 8, .cmd = 2, .value = nmU32(3)}, 0x03E80010, 3},
        {"set without a value", {.func = 8, .cmd = 1, .type = 5, .value = nmU32(3)}, 0x03E80012, 3},
        {"last table entry", {.func = 12, .cmd = 16, .indexNum = 1, .vrf = 2047}, 0, 1012},
        {"vrf 2048", {.func = 1, .cmd = 1, .indexNum = 1, .vrf = 2048}, 0x03E80011, 0xDEADBEEF},
        {"protocol 17", {.func = 1, .cmd = 17, .indexNum = 1}, 0x03E80011, 0xDEADBEEF},
        {"protocol 0 writes nothing", {.func = 1, .cmd = 0, .indexNum = 1}, 0, 0xDEADBEEF},
        {"four octets answer per-VRF statistics", {.func = 2, .cmd = 1, .indexNum = 1, .vrf = 1, .type = 0}, 0,
         0x01020304},
        {"table item 3", {.cmd = 3}, 0, 77},
        {"table item 20", {.cmd = 20}, 0, 0xDEADBEEF},
        {"bytes after the value", {.cmd = 3, .value = {0xDE, 0xAD, 0xBE, 0xEF, 0xAA, 0xBB, 0xCC}}, 0, 77},
    };
    for (const auto& c : cases) {
        hwRouteDebugLevelSet(6);
        std::vector<uint8_t> msg = nmBytes(c.req);
        NmReq want = c.req;
        want.retcode = c.rc;
        const std::vector<uint8_t> value = nmU32(c.value);
        std::copy(value.begin(), value.end(), want.value.begin());
        EXPECT_EQ(process(msg), int(msg.size())) << c.what;
        EXPECT_EQ(msg, nmBytes(want)) << c.what << "\n" << hexDump(msg);
        EXPECT_EQ(ghwRoute.debugLevel, c.req.func == 8 && c.rc == 0 ? 3 : 6) << c.what;
    }
}

TEST_F(NmProcess, EachPerVrfFuncReadsItsOwnTable) {
    const std::pair<uint32_t, HwProtoStats*> tables[] = {
        {1, &ghwRoute.swRouteProtoStats},     {2, &ghwRoute.hwRouteProtoStats},
        {3, &ghwRoute.swRouteProtoAddStats},  {4, &ghwRoute.swRouteProtoDelStats},
        {9, &ghwRoute.swRoute6ProtoStats},    {10, &ghwRoute.hwRoute6ProtoStats},
        {11, &ghwRoute.swRoute6ProtoAddStats}, {12, &ghwRoute.swRoute6ProtoDelStats},
    };
    for (auto [func, table] : tables) {
        (*table)[5][2] = 100 + func;  // a func reading another table finds 0 or another func's value
        std::vector<uint8_t> msg = nmBytes({.func = func, .cmd = 3, .indexNum = 1, .vrf = 5});
        process(msg);
        EXPECT_EQ(std::vector<uint8_t>(msg.end() - 4, msg.end()), nmU32(100 + func)) << "func " << func;
    }
}

// Thousands of mutated, cut and extended requests, each in a heap buffer of exactly
// its length so the address sanitizer sees any read past the message.
TEST_F(NmProcess, FuzzedRequestsNeverCrashNorGrow) {
    std::mt19937 rng(12345);
    const std::vector<uint8_t> seeds[] = {nmBytes({.func = 1, .cmd = 2, .indexNum = 1, .vrf = 3}),
                                          nmBytes({.func = 8, .cmd = 1, .value = nmU32(2)}), nmBytes({}),
                                          nmBytes({.func = 11, .cmd = 16, .indexNum = 1})};
    int accepted = 0;
    capturedStdout([&] {  // func 6 and 7 print dumps
        for (int i = 0; i < 6000; ++i) {
            std::vector<uint8_t> msg = seeds[rng() % 4];
            for (int f = 1 + int(rng() % 4); f > 0; --f) msg[rng() % msg.size()] = uint8_t(rng());
            if (rng() % 3 == 0) msg.resize(rng() % (msg.size() + 1));
            if (rng() % 8 == 0) msg.resize(msg.size() + rng() % 8, uint8_t(rng()));
            const std::size_t len = msg.size();
            std::unique_ptr<uint8_t[]> heap(new uint8_t[len == 0 ? 1 : len]);
            std::copy(msg.begin(), msg.end(), heap.get());
            const int reply = hwRouteNmMsgProcess(len == 0 ? nullptr : heap.get(), int(len));
            if (reply != 0) ++accepted;
            ASSERT_TRUE(reply == 0 || reply == int(len)) << "reply " << reply << " for " << hexDump(msg);
            if (i % 500 == 0) logs.clear();
        }
    });
    EXPECT_GT(accepted, 100);  // the mutations also reach the operations
}

}  // namespace
