// Reading the hardware calls back: the byte layouts of every object the
// daemon writes (route batches, neighbour host entries and tunnels of the
// IPv4 and IPv6 route objects, ILM entries, layer-2 VPN records), the trace
// file the simulated hardware writes, and the hardware state rebuilt from a
// sequence of calls. The tools and the tests decode through this one place.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

using HwdAddr = std::array<uint8_t, 16>;  // IPv4 in the first 4 bytes
using HwdMac = std::array<uint8_t, 6>;

struct HwdLabel {
    uint32_t label;
    uint8_t exp;
    uint8_t ttl;
};

// One next-hop record (64 bytes and its label elements).
struct HwdPath {
    uint32_t flags = 0;
    HwdAddr nexthopIp{};
    HwdAddr ext{};
    uint32_t port = 0;
    uint32_t ipPort = 0;
    HwdMac nextHopMac{};
    uint16_t vid = 0;
    HwdMac srcMac{};
    uint8_t op = 0;
    uint8_t protocol = 0;
    std::vector<HwdLabel> labels;
};

// What an entry of the route objects is, told by its record flags.
enum class HwdEntryKind { Route, Neighbour, Tunnel };

// One entry of object 338 (family 4) or 339 (family 6).
struct HwdRouteEntry {
    int family = 4;
    HwdEntryKind kind = HwdEntryKind::Route;
    uint32_t flags = 0;
    uint32_t vrId = 0;
    HwdAddr addr{};
    uint8_t prefixLen = 0;
    uint32_t mask = 0;  // IPv4 only
    uint8_t nextHopNum = 0;
    uint8_t size = 0;
    uint32_t tunnelIfIndex = 0;
    std::vector<HwdPath> paths;
};

struct HwdIlm {
    bool add = true;
    uint32_t vrfid = 0;
    uint32_t flags = 0;
    uint32_t inLabel = 0;
    uint16_t inVid = 0;
    HwdPath path;
};

struct HwdL2vpn {
    bool add = true;
    uint16_t vfiId = 0;
    uint8_t vpnType = 0;
    uint32_t flags = 0;
    uint16_t peEgressVid = 0;
    uint8_t peEgressPri = 0;
    uint16_t ceEgressVid = 0;
    uint8_t ceEgressPri = 0;
    uint32_t cePort = 0;
    uint16_t ceVid = 0;
    uint16_t peVid = 0;
    uint32_t pePort = 0;
    uint32_t txOuterLabel = 0;
    uint32_t txInnerLabel = 0;
    uint32_t rxInnerLabel = 0;
    uint8_t txOuterExp = 0;
    uint8_t txOuterTtl = 0;
    uint8_t txInnerExp = 0;
    uint8_t txInnerTtl = 0;
    HwdMac nextHopMac{};
    HwdMac srcMac{};
};

// One hardware call and what its bytes say.
struct HwdCall {
    uint32_t seq = 0;
    uint32_t objectId = 0;
    uint32_t flags = 0;
    int result = 0;
    std::vector<uint8_t> data;
    std::vector<HwdRouteEntry> routes;  // objects 338 and 339
    std::optional<HwdIlm> ilm;          // objects 156 and 157
    std::optional<HwdL2vpn> l2vpn;      // objects 140/141, 144/145, 352/353
};

// Record op values and flags as the hardware reads them.
constexpr uint8_t HWD_OP_KEEP = 0;
constexpr uint8_t HWD_OP_ADD = 1;
constexpr uint8_t HWD_OP_DEL = 2;
constexpr uint8_t HWD_OP_BACKUP = 4;
constexpr uint32_t HWD_NHF_PATH = 0x02;
constexpr uint32_t HWD_NHF_LABEL = 0x04;
constexpr uint32_t HWD_NHF_TUNNEL_ENTRY = 0x08;
constexpr uint32_t HWD_NHF_NEIGHBOUR = 0x10;

// Decodes call->data by call->objectId into the entry fields. False with a
// reason when the bytes do not fit the object's layout; an unknown object
// decodes to nothing and is not an error.
bool hwdDecode(HwdCall* call, std::string* err);

// "ipv4-route", "ilm-add", "l2vpn-add"...; "object-N" for unknown ids.
std::string hwdObjectName(uint32_t objectId);
bool hwdIsL2vpnObject(uint32_t objectId);

// Text forms.
std::string hwdAddrText(int family, const HwdAddr& a);
// An address of a record whose family is not fixed by the object (the
// next hop of an IPv6 route may be IPv4): IPv4 when bytes 4 to 15 are 0.
std::string hwdNexthopText(int family, const HwdAddr& a);
std::string hwdMacText(const HwdMac& m);
std::string hwdPrefixText(const HwdRouteEntry& e);
const char* hwdOpName(uint8_t op);
const char* hwdKindName(HwdEntryKind k);
// One readable line for a call, without a newline.
std::string hwdCallLine(const HwdCall& call);

// ---------------------------------------------------------------------------
// Trace files: one JSON object per line,
//   {"seq":N,"objectId":N,"flags":N,"len":N,"data":"<hex>","result":N}

// Parses and decodes one line. False with a reason (without file and line).
bool hwdParseTraceLine(const std::string& line, HwdCall* call, std::string* err);

// Reads calls from a file or standard input ("-"). With `follow`, the end of
// the file is waited at (like tail -f) instead of ending the read.
class HwdTraceReader {
public:
    // False with "FILE: reason" when the file cannot be opened.
    bool open(const std::string& path, bool follow, std::string* err);
    ~HwdTraceReader();
    // 1: a call; 0: end of the trace; -1: an error "FILE:LINE: reason".
    int next(HwdCall* call, std::string* err);
    const std::string& name() const { return name_; }

private:
    bool readLine(std::string* line, bool* complete);
    FILE* file_ = nullptr;
    bool owned_ = false;
    bool follow_ = false;
    std::string name_;
    std::string pending_;  // a partial last line while following
    size_t lineNo_ = 0;
};

// ---------------------------------------------------------------------------
// The hardware state a sequence of accepted calls leaves.

struct HwdPrefix {
    int family = 4;
    uint32_t vrf = 0;
    HwdAddr addr{};
    uint8_t len = 0;
    auto operator<=>(const HwdPrefix&) const = default;
};

// A path in a route is told apart by its next hop and interface.
struct HwdPathKey {
    HwdAddr nexthop{};
    uint32_t ipPort = 0;
    auto operator<=>(const HwdPathKey&) const = default;
};

struct HwdRouteState {
    std::map<HwdPathKey, HwdPath> paths;
    std::map<HwdPathKey, HwdPath> backups;
};

struct HwdState {
    std::map<HwdPrefix, HwdRouteState> routes;
    std::map<HwdPrefix, HwdPath> neighbours;  // host entries: /32 and /128
    std::map<HwdPrefix, HwdRouteEntry> tunnels;
    std::map<std::pair<uint32_t, uint32_t>, HwdIlm> ilms;        // (vrfid, inLabel)
    std::map<std::pair<uint16_t, uint8_t>, HwdL2vpn> l2vpns;     // (vfiId, vpnType)
    uint32_t calls = 0;
    uint32_t refused = 0;

    // Refused calls change nothing (the hardware did not take them).
    void apply(const HwdCall& call);
};

HwdPrefix hwdPrefixOf(const HwdRouteEntry& e);
HwdPathKey hwdPathKeyOf(const HwdPath& p);
