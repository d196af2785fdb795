// Shared test fixture: a fresh global state with small pools, the simulated
// hardware recording every call, debug output captured, probes captured
// instead of sent.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hwdecode.h"
#include "hwroute/global.h"
#include "sim.h"

struct HwTestProbe {
    uint32_t address;   // first octet most significant
    uint32_t vrfId;     // from the address padding
    std::vector<uint8_t> icmp;
};

struct HwTestProbe6 {
    uint8_t address[16];
    uint32_t scopeId;   // kernel interface index of the outgoing interface
    uint32_t vrfId;     // from the word after the address record
    int addrLen;
    std::vector<uint8_t> icmp;
};

struct HwTestSizes {
    int32_t routeMax = 64;
    int32_t arpNum = 64;
    int32_t nd6Num = 64;
    int32_t ecmpMaxNum = 8;
    int32_t ilmNum = 16;
    int32_t l2vpnNum = 16;
    int32_t tunNum = 16;
};

class HwTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Rebuild the state with other pool sizes (the default fixture uses HwTestSizes{}).
    void reinit(const HwTestSizes& sizes);
    // Apply a platform configuration; fails the test when it does not parse.
    void platformConfig(const std::string& json);

    const std::vector<SimHwCall>& hwCalls() const { return simHwCalls(); }
    // The bytes of each call to `objectId` from call `from` on.
    std::vector<std::vector<uint8_t>> callsOf(uint32_t objectId, std::size_t from = 0) const;
    // Every path record of the route entries (both families) sent from call `from` on.
    struct Record {
        HwdRouteEntry entry;
        HwdPath path;
    };
    std::vector<Record> routeRecords(std::size_t from = 0) const;
    // The hardware as the calls from `from` on leave it, decoded outside the code.
    HwdState hwState(std::size_t from = 0) const;
    // Number of captured debug lines containing `text`.
    int logCount(const std::string& text) const;
    bool logged(const std::string& text) const { return logCount(text) > 0; }

    std::vector<std::string> logs;

public:
    // Probes the daemon would have sent, in order.
    static std::vector<HwTestProbe> probes;
    static std::vector<HwTestProbe6> probes6;
};

// Bytes from a hex string ("00 01 ff" or "0001ff").
std::vector<uint8_t> hexBytes(const std::string& hex);
// Readable hex dump for failure messages.
std::string hexDump(const std::vector<uint8_t>& bytes);
// Address helpers: "10.1.2.3" as a number with the first octet most significant.
uint32_t ip4(const char* text);
// An address text as the decoder holds it (IPv4 in the first 4 bytes).
HwdAddr hwdAddrOf(const char* text);
// A big-endian word written into an expected buffer at `at`.
void putBe32(std::vector<uint8_t>& b, std::size_t at, uint32_t v);

// Expected bytes, compared whole with a readable dump on mismatch.
void expectBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected);
inline void expectBytes(const std::vector<uint8_t>& actual, const std::string& expectedHex) {
    expectBytes(actual, hexBytes(expectedHex));
}
#define EXPECT_BYTES(actual, expected) \
    do {                               \
        SCOPED_TRACE(#actual);         \
        expectBytes(actual, expected); \
    } while (0)

// A recorded hardware call decoded by the shared decoder; a call whose bytes
// do not fit its object's layout fails the test.
HwdCall decodedCall(const SimHwCall& call);
// The entries of an IPv4 route buffer built outside a call.
std::vector<HwdRouteEntry> decodedRoute4(const std::vector<uint8_t>& bytes);
