// Platform configuration: a JSON object that overrides what the interface
// services answer and makes the simulated hardware refuse calls.
//
//   {
//     "interfaces": {                  // keyed by ifUnit, a decimal string
//       "5": { "endType": 6, "vlan": 10, "port": 3, "mac": "00:11:22:33:44:55",
//              "operState": 1, "tunCreateTick": 7,
//              "fail": ["mac", "operState", "endType", "vlan", "index", "tunnel"] }
//     },
//     "localPort": 0,                  // sysIndexTrans(key, 1)
//     "systemMac": "02:00:00:00:00:01",
//     "protocolPreference": { "188": 110 },   // protocol 1..255 -> preference
//     "selfSysIndex": 0,
//     "tunCreateTick": 0,              // for units that name none
//     "fail": ["localPort", "systemMac", "protocolPreference"],
//     "cardQueries": {                 // attribute (decimal or "0x..") -> answer
//       "slot":   { "0x1F4002A": 1 },
//       "card":   { "0x2EE002B": { "result": 0, "value": 168 } },
//       "scalar": { "52": { "result": 0, "value": 1 } }
//     },
//     "hardware": { "refuse": [ { "objectId": 338, "fromCall": 2, "count": 1 } ] }
//   }
//
// Loads are layered: each one applies the keys it names on top of the active
// configuration (a unit's fields one by one; a "fail" list replaces the one
// before), so a test can configure interfaces first and refusals later.
// simReset goes back to the defaults. A load that fails changes nothing.
// "hardware.refuse" replaces the refusal rules and restarts their call
// counting, so "fromCall": 1 is the first hardware call after the load.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "json.h"
#include "sim.h"
#include "sim_state.h"

namespace {

SimConfig gConfig = simDefaultConfig();

struct QueryName {
    const char* name;
    uint32_t bit;
};

constexpr QueryName kUnitQueries[] = {
    {"mac", SIM_Q_MAC},     {"operState", SIM_Q_OPER_STATE}, {"endType", SIM_Q_END_TYPE},
    {"vlan", SIM_Q_VLAN},   {"index", SIM_Q_INDEX},          {"tunnel", SIM_Q_TUNNEL},
};
constexpr QueryName kSystemQueries[] = {
    {"localPort", SIM_Q_LOCAL_PORT},
    {"systemMac", SIM_Q_SYSTEM_MAC},
    {"protocolPreference", SIM_Q_PROTOCOL_PREFERENCE},
};

// Keys and names come from the file: a control character in one is written
// as \u00XX, so the reason stays one printable line.
std::string quoted(const std::string& path) {
    std::string out = "\"";
    for (unsigned char c : path) {
        if (c >= 0x20 && c != 0x7f) {
            out += char(c);
            continue;
        }
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04x", c);
        out += esc;
    }
    return out + "\"";
}

bool parseDecimalU32(const std::string& s, uint32_t* out) {
    if (s.empty() || s.size() > 10) return false;
    if (s.size() > 1 && s[0] == '0') return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > UINT32_MAX) return false;
    *out = uint32_t(v);
    return true;
}

// Hex digits [first, first + count) of `s` as a number; false on a non-digit.
bool parseHexDigits(const std::string& s, size_t first, size_t count, uint32_t* out) {
    uint32_t v = 0;
    for (size_t i = first; i < first + count; ++i) {
        char c = s[i];
        int d = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
        if (d < 0) return false;
        v = v << 4 | uint32_t(d);
    }
    *out = v;
    return true;
}

// Attribute ids are easier to read in hex: "0x1F40031" or "32768049".
bool parseAttributeId(const std::string& s, uint32_t* out) {
    if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return parseDecimalU32(s, out);
    return s.size() <= 10 && parseHexDigits(s, 2, s.size() - 2, out);
}

// "aa:bb:cc:dd:ee:ff", either case.
bool parseMac(const std::string& s, SimMac* out) {
    if (s.size() != 17) return false;
    SimMac mac{};
    for (size_t i = 0; i < 6; ++i) {
        uint32_t octetValue;
        if (i > 0 && s[i * 3 - 1] != ':') return false;
        if (!parseHexDigits(s, i * 3, 2, &octetValue)) return false;
        mac[i] = uint8_t(octetValue);
    }
    *out = mac;
    return true;
}

// Applies a parsed document onto a copy of the active configuration.
class ConfigBuilder {
public:
    explicit ConfigBuilder(const SimConfig& base) : cfg(base) {}

    bool apply(const JsonValue& root) {
        if (root.kind != JsonValue::Kind::Object) return fail("the configuration must be a JSON object");
        for (const auto& [key, value] : root.members) {
            if (!applyTopLevel(key, value)) return false;
        }
        return true;
    }

    SimConfig cfg;
    bool hasRefuse = false;
    std::vector<SimRefuseRule> refuse;
    std::string error;

private:
    bool fail(const std::string& what) {
        error = what;
        return false;
    }
    bool unknownKey(const std::string& path) { return fail("unknown key " + quoted(path)); }
    bool wrongType(const std::string& path, const char* expected) {
        return fail(quoted(path) + " must be " + expected);
    }

    bool readInt(const JsonValue& v, const std::string& path, int64_t min, int64_t max, int64_t* out) {
        if (v.kind != JsonValue::Kind::Number || !v.integral || v.integer < min || v.integer > max) {
            return fail(quoted(path) + " must be an integer from " + std::to_string(min) + " to " +
                        std::to_string(max));
        }
        *out = v.integer;
        return true;
    }
    bool readU32(const JsonValue& v, const std::string& path, uint32_t min, uint32_t max, uint32_t* out) {
        int64_t x;
        if (!readInt(v, path, min, max, &x)) return false;
        *out = uint32_t(x);
        return true;
    }
    template <typename T>
    bool readU32(const JsonValue& v, const std::string& path, uint32_t max, T* out) {
        uint32_t x;
        if (!readU32(v, path, 0, max, &x)) return false;
        *out = x;
        return true;
    }
    bool readMac(const JsonValue& v, const std::string& path, SimMac* out) {
        if (v.kind != JsonValue::Kind::String || !parseMac(v.text, out)) {
            return wrongType(path, "a MAC address like \"aa:bb:cc:dd:ee:ff\"");
        }
        return true;
    }
    template <size_t N>
    bool readQueryList(const JsonValue& v, const std::string& path, const QueryName (&names)[N], uint32_t* mask) {
        if (v.kind != JsonValue::Kind::Array) return wrongType(path, "a list of query names");
        uint32_t bits = 0;
        for (const JsonValue& item : v.items) {
            if (item.kind != JsonValue::Kind::String) return wrongType(path, "a list of query names");
            uint32_t bit = lookupQuery(item.text, names);
            if (bit == 0) {
                return fail(quoted(path) + " names an unknown query " + quoted(item.text) + " (known: " +
                            knownQueries(names) + ")");
            }
            bits |= bit;
        }
        *mask = bits;
        return true;
    }
    template <size_t N>
    static uint32_t lookupQuery(const std::string& name, const QueryName (&names)[N]) {
        for (const QueryName& q : names)
            if (name == q.name) return q.bit;
        return 0;
    }
    template <size_t N>
    static std::string knownQueries(const QueryName (&names)[N]) {
        std::string s;
        for (const QueryName& q : names) s += (s.empty() ? "" : ", ") + std::string(q.name);
        return s;
    }

    bool applyTopLevel(const std::string& key, const JsonValue& v) {
        if (key == "interfaces") return applyInterfaces(v);
        if (key == "localPort") return readU32(v, key, UINT32_MAX, &cfg.localPort);
        if (key == "systemMac") return readMac(v, key, &cfg.systemMac);
        if (key == "protocolPreference") return applyProtocolPreference(v);
        if (key == "selfSysIndex") return readU32(v, key, UINT32_MAX, &cfg.selfSysIndex);
        if (key == "tunCreateTick") return readU32(v, key, UINT32_MAX, &cfg.tunCreateTick);
        if (key == "fail") return readQueryList(v, key, kSystemQueries, &cfg.failMask);
        if (key == "cardQueries") return applyCardQueries(v);
        if (key == "hardware") return applyHardware(v);
        return unknownKey(key);
    }

    bool applyInterfaces(const JsonValue& v) {
        if (v.kind != JsonValue::Kind::Object) return wrongType("interfaces", "an object keyed by interface unit");
        for (const auto& [unitText, unitValue] : v.members) {
            std::string path = "interfaces." + unitText;
            uint32_t unit;
            if (!parseDecimalU32(unitText, &unit)) {
                return fail(quoted(path) + ": an interface unit must be a decimal number from 0 to 4294967295");
            }
            if (!applyUnit(path, unitValue, &cfg.units[unit])) return false;
        }
        return true;
    }

    bool applyUnit(const std::string& path, const JsonValue& v, SimUnitConfig* unit) {
        if (v.kind != JsonValue::Kind::Object) return wrongType(path, "an object");
        for (const auto& [key, value] : v.members) {
            std::string p = path + "." + key;
            bool ok = key == "endType"         ? readU32(value, p, UINT32_MAX, &unit->endType)
                      : key == "vlan"          ? readU32(value, p, 4095, &unit->vlan)
                      : key == "port"          ? readU32(value, p, UINT32_MAX, &unit->port)
                      : key == "operState"     ? readU32(value, p, UINT32_MAX, &unit->operState)
                      : key == "tunCreateTick" ? readU32(value, p, UINT32_MAX, &unit->tunCreateTick)
                      : key == "mac"           ? readUnitMac(value, p, unit)
                      : key == "fail"          ? readQueryList(value, p, kUnitQueries, &unit->failMask)
                                               : unknownKey(p);
            if (!ok) return false;
        }
        return true;
    }

    bool readUnitMac(const JsonValue& v, const std::string& path, SimUnitConfig* unit) {
        SimMac mac;
        if (!readMac(v, path, &mac)) return false;
        unit->mac = mac;
        return true;
    }

    bool applyProtocolPreference(const JsonValue& v) {
        if (v.kind != JsonValue::Kind::Object) return wrongType("protocolPreference", "an object keyed by protocol");
        for (const auto& [protoText, value] : v.members) {
            std::string path = "protocolPreference." + protoText;
            uint32_t proto;
            if (!parseDecimalU32(protoText, &proto) || proto < 1 || proto > 255) {
                return fail(quoted(path) + ": a protocol must be a decimal number from 1 to 255");
            }
            if (!readU32(value, path, UINT32_MAX, &cfg.protocolPreference[proto])) return false;
        }
        return true;
    }

    bool applyCardQueries(const JsonValue& v) {
        if (v.kind != JsonValue::Kind::Object) return wrongType("cardQueries", "an object");
        for (const auto& [kind, table] : v.members) {
            std::string path = "cardQueries." + kind;
            bool ok = kind == "slot"     ? applyQueryTable(path, table, &cfg.slotQueries)
                      : kind == "card"   ? applyQueryTable(path, table, &cfg.cardQueries)
                      : kind == "scalar" ? applyQueryTable(path, table, &cfg.scalarQueries)
                                         : unknownKey(path);
            if (!ok) return false;
        }
        return true;
    }

    bool applyQueryTable(const std::string& path, const JsonValue& v, std::map<uint32_t, SimQueryAnswer>* table) {
        if (v.kind != JsonValue::Kind::Object) return wrongType(path, "an object keyed by attribute id");
        for (const auto& [attrText, answer] : v.members) {
            std::string p = path + "." + attrText;
            uint32_t attr;
            if (!parseAttributeId(attrText, &attr)) {
                return fail(quoted(p) + ": an attribute id must be a decimal or 0x-prefixed hex number");
            }
            if (!readQueryAnswer(p, answer, &(*table)[attr])) return false;
        }
        return true;
    }

    // An answer is a bare result, or {"result": R, "value": V}.
    bool readQueryAnswer(const std::string& path, const JsonValue& v, SimQueryAnswer* out) {
        int64_t result;
        if (v.kind == JsonValue::Kind::Number) {
            if (!readInt(v, path, INT32_MIN, INT32_MAX, &result)) return false;
            *out = SimQueryAnswer{int32_t(result), false, 0};
            return true;
        }
        if (v.kind != JsonValue::Kind::Object) {
            return wrongType(path, "a result or an object with \"result\" and \"value\"");
        }
        SimQueryAnswer answer;
        for (const auto& [key, value] : v.members) {
            std::string p = path + "." + key;
            if (key == "result") {
                if (!readInt(value, p, INT32_MIN, INT32_MAX, &result)) return false;
                answer.result = int32_t(result);
            } else if (key == "value") {
                if (!readU32(value, p, UINT32_MAX, &answer.value)) return false;
                answer.hasValue = true;
            } else {
                return unknownKey(p);
            }
        }
        *out = answer;
        return true;
    }

    bool applyHardware(const JsonValue& v) {
        if (v.kind != JsonValue::Kind::Object) return wrongType("hardware", "an object");
        for (const auto& [key, value] : v.members) {
            if (key != "refuse") return unknownKey("hardware." + key);
            if (!applyRefuse(value)) return false;
        }
        return true;
    }

    bool applyRefuse(const JsonValue& v) {
        if (v.kind != JsonValue::Kind::Array) return wrongType("hardware.refuse", "a list");
        std::vector<SimRefuseRule> rules;
        for (size_t i = 0; i < v.items.size(); ++i) {
            SimRefuseRule rule;
            if (!readRefuseRule("hardware.refuse[" + std::to_string(i) + "]", v.items[i], &rule)) return false;
            rules.push_back(rule);
        }
        hasRefuse = true;
        refuse = std::move(rules);
        return true;
    }

    // {"objectId": N (absent: every call counts), "fromCall": K (default 1), "count": C (default 1)}
    bool readRefuseRule(const std::string& path, const JsonValue& v, SimRefuseRule* rule) {
        if (v.kind != JsonValue::Kind::Object) return wrongType(path, "an object");
        for (const auto& [key, value] : v.members) {
            std::string p = path + "." + key;
            bool ok = key == "objectId"   ? readU32(value, p, 0, UINT32_MAX, &rule->objectId)
                      : key == "fromCall" ? readU32(value, p, 1, UINT32_MAX, &rule->fromCall)
                      : key == "count"    ? readU32(value, p, 1, UINT32_MAX, &rule->count)
                                          : unknownKey(p);
            if (!ok) return false;
            if (key == "objectId") rule->anyObject = false;
        }
        return true;
    }
};

}  // namespace

SimConfig simDefaultConfig() {
    SimConfig c;
    // Card and slot answers under which an event of this system is accepted.
    c.slotQueries[0x1F40031] = {0, false, 0};
    c.slotQueries[0x1F4002A] = {1, false, 0};
    c.cardQueries[0x2EE002B] = {0, false, 0};
    c.cardQueries[0x2EE002A] = {1, false, 0};
    c.scalarQueries[53] = {0, false, 0};
    c.scalarQueries[52] = {0, true, 1};
    return c;
}

std::mutex& simConfigMutex() {
    static std::mutex m;
    return m;
}

const SimConfig& simConfigLocked() { return gConfig; }

bool simLoadConfigText(const std::string& json, std::string* err) {
    JsonValue root;
    std::string parseError;
    if (!jsonParse(json, &root, &parseError)) {
        if (err != nullptr) *err = "not valid JSON: " + parseError;
        return false;
    }
    SimConfig base;
    {
        std::lock_guard<std::mutex> lock(simConfigMutex());
        base = gConfig;
    }
    ConfigBuilder builder(base);
    if (!builder.apply(root)) {
        if (err != nullptr) *err = builder.error;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(simConfigMutex());
        gConfig = std::move(builder.cfg);
    }
    if (builder.hasRefuse) simHwSetRefuseRules(builder.refuse);
    return true;
}

bool simLoadConfigFile(const char* path, std::string* err) {
    std::ifstream in(path != nullptr ? path : "", std::ios::binary);
    if (!in) {
        if (err != nullptr) *err = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        if (err != nullptr) *err = "cannot read the file";
        return false;
    }
    return simLoadConfigText(text.str(), err);
}

void simReset() {
    {
        std::lock_guard<std::mutex> lock(simConfigMutex());
        gConfig = simDefaultConfig();
    }
    simHwReset();
    simDebugReset();
    simTunWatchReset();
}
