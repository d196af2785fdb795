// Simulated forwarding hardware behind kivScalarSetApi. It accepts every
// call unless a refusal rule covers it, and can keep each call in memory
// (tests) and append it to a trace file, one JSON line per call:
//   {"seq":N,"objectId":N,"flags":N,"len":N,"data":"<lowercase hex>","result":N}
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hwroute/platform.h"
#include "sim.h"
#include "sim_state.h"

namespace {

// Layer-2 VPN objects carry the record itself instead of an octet.
constexpr uint32_t kL2vpnRecordLen = 56;
constexpr uint32_t kL2vpnObjects[] = {140, 141, 144, 145, 352, 353, 0};

struct HwSim {
    std::mutex mutex;
    uint32_t seq = 0;  // every call since reset, numbers the trace
    bool record = false;
    std::vector<SimHwCall> calls;
    FILE* trace = nullptr;
    std::vector<SimRefuseRule> rules;
    uint32_t rulesCallCount = 0;                   // all calls since the rules were set
    std::map<uint32_t, uint32_t> rulesObjectCount;  // per object since the rules were set
    uint64_t malformed = 0;                         // route requests refused as malformed
};

HwSim& hw() {
    static HwSim sim;
    return sim;
}

bool isL2vpnObject(uint32_t objectId) {
    for (uint32_t id : kL2vpnObjects)
        if (id == objectId) return true;
    return false;
}

bool inWindow(uint32_t call, const SimRefuseRule& rule) {
    return call >= rule.fromCall && call - rule.fromCall < rule.count;
}

// Counts the call and tells whether a rule refuses it. Holds hw().mutex.
bool refusedByRules(HwSim& sim, uint32_t objectId) {
    uint32_t overall = ++sim.rulesCallCount;
    uint32_t ofObject = ++sim.rulesObjectCount[objectId];
    for (const SimRefuseRule& rule : sim.rules) {
        if (rule.anyObject ? inWindow(overall, rule) : rule.objectId == objectId && inWindow(ofObject, rule)) {
            return true;
        }
    }
    return false;
}

// The bytes handed over, or false when there are none to read.
bool requestBytes(const HwScalarReq* req, const uint8_t** bytes, uint32_t* len) {
    if (req->data == nullptr) return false;
    if (isL2vpnObject(req->objectId)) {
        *bytes = static_cast<const uint8_t*>(req->data);
        *len = kL2vpnRecordLen;
        return true;
    }
    const octet* o = static_cast<const octet*>(req->data);
    if (o->data == nullptr) return false;
    *bytes = o->data;
    *len = o->len;
    return true;
}

// Route entry headers of the two route objects: header length and the
// offsets of nextHopNum and size.
struct RouteHeaderShape {
    uint32_t len, nextHopNum, size;
};
bool routeHeaderShape(uint32_t objectId, RouteHeaderShape* shape) {
    if (objectId == 338) *shape = {28, 16, 19};
    else if (objectId == 339) *shape = {36, 25, 27};
    else return false;
    return true;
}

// One route entry at `at` is well formed when its nextHopNum records (each
// 64 bytes plus 8 per label) end exactly where its `size` says the entry
// ends. `size` holds the length's low 8 bits, so an entry longer than 1020
// bytes can only be the last one of its request; there the request's end
// is the entry's end. Stores the entry's length.
bool entryWellFormed(const RouteHeaderShape& h, const uint8_t* at, uint32_t left, uint32_t* entryLen) {
    if (left < h.len) return false;
    uint32_t pos = h.len;
    for (uint32_t i = 0; i < at[h.nextHopNum]; ++i) {
        if (pos + 64 > left) return false;
        pos += 64 + 8 * uint32_t(at[pos + 59]);
    }
    if (pos > left || pos % 4 != 0 || ((pos / 4) & 0xFF) != at[h.size]) return false;
    if (pos > 1020 && pos != left) return false;
    *entryLen = pos;
    return true;
}

// A route request whose entries do not describe exactly the records they
// carry: a reader would take one entry's bytes for another's.
bool malformedRoute(uint32_t objectId, const uint8_t* bytes, uint32_t len) {
    RouteHeaderShape h{};
    if (!routeHeaderShape(objectId, &h)) return false;
    if (len == 0) return true;
    // A tunnel entry (its record flagged as one) is a fixed-size buffer whose
    // nextHopNum counts the usable paths of the carrying route while one
    // record travels: it is not described by its record count.
    if (len >= h.len + 4) {
        const uint32_t recFlags = uint32_t(bytes[h.len]) << 24 | uint32_t(bytes[h.len + 1]) << 16 |
                                  uint32_t(bytes[h.len + 2]) << 8 | bytes[h.len + 3];
        if (recFlags & 0x08) return false;
    }
    for (uint32_t at = 0; at < len;) {
        uint32_t entryLen = 0;
        if (!entryWellFormed(h, bytes + at, len - at, &entryLen)) return true;
        at += entryLen;
    }
    return false;
}

void writeTraceLine(FILE* f, const SimHwCall& call) {
    std::fprintf(f, "{\"seq\":%u,\"objectId\":%u,\"flags\":%u,\"len\":%u,\"data\":\"", call.seq, call.objectId,
                 call.flags, static_cast<uint32_t>(call.data.size()));
    for (uint8_t b : call.data) std::fprintf(f, "%02x", b);
    std::fprintf(f, "\",\"result\":%d}\n", call.result);
    std::fflush(f);
}

void closeTrace(HwSim& sim) {
    if (sim.trace != nullptr) std::fclose(sim.trace);
    sim.trace = nullptr;
}

}  // namespace

// A null request is refused without being counted: there is no object to
// count it against. Missing data is counted and traced with no bytes, so a
// caller's mistake shows in the trace.
int kivScalarSetApi(uint32_t /*a*/, uint32_t /*b*/, HwScalarReq* req) {
    if (req == nullptr) return -1;
    HwSim& sim = hw();
    std::lock_guard<std::mutex> lock(sim.mutex);

    const uint8_t* bytes = nullptr;
    uint32_t len = 0;
    bool hasData = requestBytes(req, &bytes, &len);
    bool refused = refusedByRules(sim, req->objectId);
    if (hasData && malformedRoute(req->objectId, bytes, len)) {
        sim.malformed++;
        refused = true;
    }

    SimHwCall call;
    call.seq = ++sim.seq;
    call.objectId = req->objectId;
    call.flags = req->flags;
    if (hasData) call.data.assign(bytes, bytes + len);
    call.result = (!hasData || refused) ? -1 : 0;

    if (sim.trace != nullptr) writeTraceLine(sim.trace, call);
    int result = call.result;
    if (sim.record) sim.calls.push_back(std::move(call));
    return result;
}

uint64_t simHwMalformedCount() {
    HwSim& sim = hw();
    std::lock_guard<std::mutex> lock(sim.mutex);
    return sim.malformed;
}

uint64_t simHwCallCount() {
    HwSim& sim = hw();
    std::lock_guard<std::mutex> lock(sim.mutex);
    return sim.seq;
}

bool simSetTraceFile(const char* path, std::string* err) {
    HwSim& sim = hw();
    std::lock_guard<std::mutex> lock(sim.mutex);
    closeTrace(sim);
    if (path == nullptr) return true;
    // A fresh trace per run: its seq numbers start where the daemon's calls do.
    sim.trace = std::fopen(path, "w");
    if (sim.trace == nullptr) {
        if (err != nullptr) *err = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void simRecordCalls(bool on) {
    std::lock_guard<std::mutex> lock(hw().mutex);
    hw().record = on;
}

const std::vector<SimHwCall>& simHwCalls() { return hw().calls; }

void simClearHwCalls() {
    std::lock_guard<std::mutex> lock(hw().mutex);
    hw().calls.clear();
}

void simHwSetRefuseRules(const std::vector<SimRefuseRule>& rules) {
    HwSim& sim = hw();
    std::lock_guard<std::mutex> lock(sim.mutex);
    sim.rules = rules;
    sim.rulesCallCount = 0;
    sim.rulesObjectCount.clear();
    sim.malformed = 0;
}

void simHwReset() {
    HwSim& sim = hw();
    std::lock_guard<std::mutex> lock(sim.mutex);
    closeTrace(sim);
    sim.seq = 0;
    sim.record = false;
    sim.calls.clear();
    sim.rules.clear();
    sim.rulesCallCount = 0;
    sim.rulesObjectCount.clear();
    sim.malformed = 0;
}
