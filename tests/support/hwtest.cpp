#include "hwtest.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "hwroute/debug.h"
#include "hwroute/frame.h"
#include "hwroute/route.h"

std::vector<HwTestProbe> HwTest::probes;

namespace {
std::vector<void*> gAllocations;

void* trackingAlloc(std::size_t count, std::size_t size) {
    void* p = std::calloc(count, size);
    if (p != nullptr) gAllocations.push_back(p);
    return p;
}

void releaseAll() {
    for (void* p : gAllocations) std::free(p);
    gAllocations.clear();
}

int captureProbe(const uint8_t* icmp, int len, const void* sockaddrIn, int /*addrLen*/) {
    sockaddr_in sin;
    std::memcpy(&sin, sockaddrIn, sizeof(sin));
    uint32_t vrf;
    std::memcpy(&vrf, sin.sin_zero, sizeof(vrf));
    HwTest::probes.push_back({ntohl(sin.sin_addr.s_addr), vrf, std::vector<uint8_t>(icmp, icmp + len)});
    return len;
}

// An ICMPv6 probe: the standard address record, then the VRF word.
int captureProbe6(const uint8_t* icmp, int len, const void* addr, int addrLen) {
    HwTestProbe6 p{};
    sockaddr_in6 sin6;
    std::memcpy(&sin6, addr, sizeof(sin6));
    std::memcpy(p.address, &sin6.sin6_addr, 16);
    p.scopeId = sin6.sin6_scope_id;
    if (addrLen >= int(sizeof(sin6) + 4)) std::memcpy(&p.vrfId, static_cast<const uint8_t*>(addr) + sizeof(sin6), 4);
    p.addrLen = addrLen;
    p.icmp.assign(icmp, icmp + len);
    HwTest::probes6.push_back(p);
    return len;
}
}  // namespace

std::vector<HwTestProbe6> HwTest::probes6;

void HwTest::SetUp() {
    simReset();
    simRecordCalls(true);
    simDebugSetFile(nullptr);
    simDebugCapture(&logs);
    probes.clear();
    hwPingSetTransport(captureProbe);
    probes6.clear();
    hwPing6SetTransport(captureProbe6);
    reinit(HwTestSizes{});
}

void HwTest::TearDown() {
    // Every test also checks that no route entry sent misdescribed its records.
    EXPECT_EQ(simHwMalformedCount(), 0u) << "the simulated hardware refused a malformed route entry";
    simDebugCapture(nullptr);
    hwPingSetTransport(nullptr);
    hwPing6SetTransport(nullptr);
    releaseAll();
    simReset();
}

void HwTest::reinit(const HwTestSizes& s) {
    releaseAll();
    hwRouteStateInit(s.routeMax, s.arpNum, s.nd6Num, s.ecmpMaxNum, s.ilmNum, s.l2vpnNum, s.tunNum, trackingAlloc);
    hwRouteDebugSet(1);
}

void HwTest::platformConfig(const std::string& json) {
    std::string err;
    ASSERT_TRUE(simLoadConfigText(json, &err)) << err;
}

std::vector<std::vector<uint8_t>> HwTest::callsOf(uint32_t objectId, std::size_t from) const {
    std::vector<std::vector<uint8_t>> out;
    for (std::size_t i = from; i < hwCalls().size(); ++i)
        if (hwCalls()[i].objectId == objectId) out.push_back(hwCalls()[i].data);
    return out;
}

std::vector<HwTest::Record> HwTest::routeRecords(std::size_t from) const {
    std::vector<Record> out;
    for (std::size_t i = from; i < hwCalls().size(); ++i)
        for (const HwdRouteEntry& e : decodedCall(hwCalls()[i]).routes)
            for (const HwdPath& p : e.paths) out.push_back({e, p});
    return out;
}

HwdState HwTest::hwState(std::size_t from) const {
    HwdState s;
    for (std::size_t i = from; i < hwCalls().size(); ++i) s.apply(decodedCall(hwCalls()[i]));
    return s;
}

int HwTest::logCount(const std::string& text) const {
    int n = 0;
    for (const auto& l : logs)
        if (l.find(text) != std::string::npos) ++n;
    return n;
}

std::vector<uint8_t> hexBytes(const std::string& hex) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string hexDump(const std::vector<uint8_t>& bytes) {
    std::ostringstream os;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) os << (i ? "\n" : "") << std::hex << std::setw(4) << std::setfill('0') << i << ":";
        os << ' ' << std::hex << std::setw(2) << std::setfill('0') << unsigned(bytes[i]);
    }
    return os.str();
}

uint32_t ip4(const char* text) {
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return ntohl(a.s_addr);
}

HwdAddr hwdAddrOf(const char* text) {
    HwdAddr a{};
    EXPECT_EQ(inet_pton(std::strchr(text, ':') != nullptr ? AF_INET6 : AF_INET, text, a.data()), 1) << text;
    return a;
}

void putBe32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + std::size_t(i)) = uint8_t(v >> (24 - 8 * i));
}

void expectBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
    EXPECT_EQ(actual, expected) << "actual:\n" << hexDump(actual) << "\nexpected:\n" << hexDump(expected);
}

HwdCall decodedCall(const SimHwCall& call) {
    HwdCall c;
    c.seq = call.seq;
    c.objectId = call.objectId;
    c.flags = call.flags;
    c.result = call.result;
    c.data = call.data;
    std::string err;
    EXPECT_TRUE(hwdDecode(&c, &err)) << "call #" << call.seq << " object " << call.objectId << ": " << err << "\n"
                                     << hexDump(call.data);
    return c;
}

std::vector<HwdRouteEntry> decodedRoute4(const std::vector<uint8_t>& bytes) {
    SimHwCall call{0, 338, 0, bytes, 0};
    return decodedCall(call).routes;
}
