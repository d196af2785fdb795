// The tunnel operation of the management socket: the tunnel entry points by
// hand. The request is validated field by field before a handler sees it, and
// each refusal has its own return code. Served by the worker task between
// notification passes, like every management request, so it never enters a
// handler that is running.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adr.h"
#include "hwroute/bewriter.h"
#include "hwroute/flags.h"
#include "hwroute/management.h"
#include "hwroute/mpls.h"
#include "hwroute/records.h"
#include "hwroute/tables.h"

namespace {

// Offsets of the request in the value.
constexpr uint32_t kTunId = 0, kTunFamily = 2, kEncaps = 3, kSrc = 4, kNhMask = 20, kDst = 24, kDest = 40,
                   kRouteMask = 56, kUnit = 60, kType = 64, kTick = 68, kRouteFamily = 72;

bool familyOk(uint32_t f) { return f == HW_AF_INET || f == HW_AF_INET6; }

bool allZero(const uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

// An IPv4 mask is contiguous: its complement plus one is a power of two.
bool contiguous(uint32_t mask) {
    const uint32_t inv = ~mask;
    return (inv & (inv + 1)) == 0;
}

bool maskOk(uint32_t family, uint32_t mask) { return family == HW_AF_INET ? contiguous(mask) : mask <= 128; }

// An address of a family in its 16-byte field: IPv4 leaves 12 bytes zero.
bool addressOk(uint32_t family, const uint8_t* a) { return family != HW_AF_INET || allZero(a + 4, 12); }

// No bit of `dest` outside its prefix.
bool hostBitsClear(uint32_t family, const uint8_t* dest, uint32_t mask) {
    if (family == HW_AF_INET) return (beRead32(dest) & ~mask) == 0;
    for (uint32_t bit = mask; bit < 128; ++bit)
        if ((dest[bit / 8] >> (7 - bit % 8)) & 1) return false;
    return true;
}

uint32_t validate(const HwRouteTunNode& t) {
    if (!familyOk(t.tunFamily) || !familyOk(t.routeFamily)) return HW_NM_RC_TUN_BAD_FAMILY;
    if (t.tunUnit == 0) return HW_NM_RC_TUN_BAD_UNIT;
    if (!maskOk(t.tunFamily, t.nexthopMask) || !maskOk(t.routeFamily, t.routeMask)) return HW_NM_RC_TUN_BAD_MASK;
    const uint32_t endLen = t.tunFamily == HW_AF_INET ? 4 : 16;
    if (!addressOk(t.tunFamily, t.nextHopSrc) || !addressOk(t.tunFamily, t.nextHopDst) ||
        !addressOk(t.routeFamily, t.dest))
        return HW_NM_RC_TUN_BAD_ADDRESS;
    if (allZero(t.nextHopSrc, endLen) || allZero(t.nextHopDst, endLen) ||
        std::memcmp(t.nextHopSrc, t.nextHopDst, endLen) == 0)
        return HW_NM_RC_TUN_BAD_ADDRESS;
    if (!hostBitsClear(t.routeFamily, t.dest, t.routeMask)) return HW_NM_RC_TUN_BAD_ADDRESS;
    return 0;
}

// Which outcome a -1 of a handler was, told by the counter it raised.
uint32_t addFailure(const HwTunStats& before) {
    if (ghwTunStats.addTickErrCnt != before.addTickErrCnt) return HW_NM_RC_TUN_TICK;
    if (ghwTunStats.addIfErrCnt != before.addIfErrCnt) return HW_NM_RC_TUN_IF_QUERY;
    return HW_NM_RC_TUN_NO_MEMORY;
}

uint32_t delFailure(const HwTunStats& before) {
    return ghwTunStats.delNotFoundCnt != before.delNotFoundCnt ? HW_NM_RC_TUN_NOT_FOUND : HW_NM_RC_TUN_HW_REFUSED;
}

void writeOutcome(uint8_t* value, const HwRouteTunNode& key) {
    const HwRouteTunNode* stored = hwRouteTunTableLookup(&key);
    value[HW_NM_TUN_OUT_BINDING] = stored != nullptr ? uint8_t(stored->dstType) : 0;
    value[HW_NM_TUN_OUT_STATUS] = stored != nullptr ? uint8_t(stored->status) : 0;
}

uint32_t notify(uint8_t valueType, const uint8_t* value, uint32_t len) {
    if (valueType != ADR_TYPE_U32 || len != 4) return HW_NM_RC_TUN_BAD_VALUE;
    const uint32_t unit = beRead32(value);
    if (unit == 0) return HW_NM_RC_TUN_BAD_UNIT;
    hwRouteTunNotifier(unit);
    return 0;
}

// ---- the readable form -------------------------------------------------------

bool parseNumber(const char* text, uint32_t max, uint32_t* out) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 0);
    if (*text == '\0' || *text == '-' || *end != '\0' || v > max) return false;
    *out = uint32_t(v);
    return true;
}

// "ADDR" or "ADDR/LEN"; hasLen tells which. Family 2 or 10 by the text.
bool parseAddress(const char* text, uint8_t* out16, uint32_t* family, uint32_t* len, bool* hasLen) {
    char buf[64];
    if (std::strlen(text) >= sizeof(buf)) return false;
    std::strcpy(buf, text);
    char* slash = std::strchr(buf, '/');
    *hasLen = slash != nullptr;
    if (slash != nullptr) *slash = '\0';
    std::memset(out16, 0, 16);
    *family = std::strchr(buf, ':') != nullptr ? HW_AF_INET6 : HW_AF_INET;
    if (inet_pton(*family == HW_AF_INET ? AF_INET : AF_INET6, buf, out16) != 1) return false;
    return slash == nullptr || parseNumber(slash + 1, *family == HW_AF_INET ? 32 : 128, len);
}

uint32_t maskOf(uint32_t family, uint32_t len) {
    if (family != HW_AF_INET) return len;
    return len == 0 ? 0 : 0xFFFFFFFFu << (32 - len);
}

struct ParseState {
    HwRouteTunNode* t;
    char* err;
    uint32_t errLen;
    bool haveUnit = false, haveLocal = false, haveRemote = false, haveRoute = false;
    uint32_t localFamily = 0, remoteFamily = 0;

    bool fail(const char* what, const char* word) {
        std::snprintf(err, errLen, "%s: '%s'", what, word);
        return false;
    }

    bool take(const char* key, const char* value) {
        uint32_t n = 0, family = 0, len = 0;
        bool hasLen = false;
        if (std::strcmp(key, "unit") == 0) {
            haveUnit = parseNumber(value, UINT32_MAX, &t->tunUnit) && t->tunUnit != 0;
            return haveUnit || fail("unit must be a number from 1", value);
        }
        if (std::strcmp(key, "local") == 0) {
            if (!parseAddress(value, t->nextHopSrc, &localFamily, &len, &hasLen)) return fail("bad local address", value);
            t->nexthopMask = hasLen ? maskOf(localFamily, len) : 0;
            return haveLocal = true;
        }
        if (std::strcmp(key, "remote") == 0) {
            if (!parseAddress(value, t->nextHopDst, &remoteFamily, &len, &hasLen) || hasLen)
                return fail("bad remote address", value);
            return haveRemote = true;
        }
        if (std::strcmp(key, "route") == 0) {
            if (!parseAddress(value, t->dest, &family, &len, &hasLen) || !hasLen)
                return fail("route needs PREFIX/LEN", value);
            t->routeFamily = uint16_t(family);
            t->routeMask = maskOf(family, len);
            return haveRoute = true;
        }
        if (std::strcmp(key, "id") == 0 && parseNumber(value, 0xFFFF, &n)) return t->tunId = uint16_t(n), true;
        if (std::strcmp(key, "encaps") == 0 && parseNumber(value, 0xFF, &n)) return t->encapsMethod = uint8_t(n), true;
        if (std::strcmp(key, "type") == 0 && parseNumber(value, UINT32_MAX, &n)) return t->tunType = n, true;
        if (std::strcmp(key, "tick") == 0 && parseNumber(value, UINT32_MAX, &n)) return t->tunCreateTick = n, true;
        return fail("unknown or bad argument", key);
    }
};

}  // namespace

void hwNmTunnelEncode(const HwRouteTunNode* t, uint8_t* out) {
    BeWriter w(out, HW_NM_TUN_REQ_LEN);
    w.zeros(HW_NM_TUN_REQ_LEN);
    w.at(kTunId).u16(t->tunId);
    w.at(kTunFamily).u8(t->tunFamily);
    w.at(kEncaps).u8(t->encapsMethod);
    w.at(kSrc).bytes(t->nextHopSrc, 16);
    w.at(kNhMask).u32(t->nexthopMask);
    w.at(kDst).bytes(t->nextHopDst, 16);
    w.at(kDest).bytes(t->dest, 16);
    w.at(kRouteMask).u32(t->routeMask);
    w.at(kUnit).u32(t->tunUnit);
    w.at(kType).u32(t->tunType);
    w.at(kTick).u32(t->tunCreateTick);
    w.at(kRouteFamily).u16(t->routeFamily);
}

uint32_t hwNmTunnelDecode(const uint8_t* in, uint32_t len, HwRouteTunNode* t) {
    if (in == nullptr || len != HW_NM_TUN_REQ_LEN) return HW_NM_RC_TUN_BAD_VALUE;
    std::memset(t, 0, sizeof(*t));
    t->tunId = beRead16(in + kTunId);
    t->tunFamily = in[kTunFamily];
    t->encapsMethod = in[kEncaps];
    std::memcpy(t->nextHopSrc, in + kSrc, 16);
    t->nexthopMask = beRead32(in + kNhMask);
    std::memcpy(t->nextHopDst, in + kDst, 16);
    std::memcpy(t->dest, in + kDest, 16);
    t->routeMask = beRead32(in + kRouteMask);
    t->tunUnit = beRead32(in + kUnit);
    t->tunType = beRead32(in + kType);
    t->tunCreateTick = beRead32(in + kTick);
    t->routeFamily = beRead16(in + kRouteFamily);
    t->status = hwStatusIdle;  // a new tunnel is not in hardware yet
    return validate(*t);
}

uint32_t hwRouteNmTunnelApi(uint32_t cmd, uint8_t valueType, uint8_t* value, uint32_t len) {
    if (cmd == HW_NM_TUN_NOTIFY) return notify(valueType, value, len);
    if (cmd != HW_NM_TUN_ADD && cmd != HW_NM_TUN_DEL) return HW_NM_RC_TUN_BAD_CMD;
    if (valueType != ADR_TYPE_OCTETS) return HW_NM_RC_TUN_BAD_VALUE;
    HwRouteTunNode t;
    if (const uint32_t rc = hwNmTunnelDecode(value, len, &t); rc != 0) return rc;
    const HwTunStats before = ghwTunStats;
    if (cmd == HW_NM_TUN_ADD && hwRouteTunAdd(&t) != 0) return addFailure(before);
    if (cmd == HW_NM_TUN_DEL && hwRouteTunDel(&t) != 0) return delFailure(before);
    writeOutcome(value, t);
    return 0;
}

bool hwNmTunnelParse(int count, const char* const* words, HwRouteTunNode* out, char* err, uint32_t errLen) {
    std::memset(out, 0, sizeof(*out));
    out->status = hwStatusIdle;
    ParseState s{out, err, errLen};
    if (count % 2 != 0) return s.fail("arguments come in pairs", words[count - 1]);
    for (int i = 0; i < count; i += 2)
        if (!s.take(words[i], words[i + 1])) return false;
    if (!s.haveUnit || !s.haveLocal || !s.haveRemote || !s.haveRoute)
        return s.fail("needed", "unit, local, remote and route");
    if (s.localFamily != s.remoteFamily) return s.fail("endpoints of two families", "local/remote");
    out->tunFamily = uint8_t(s.localFamily);
    return true;
}

const char* hwNmTunnelRcText(uint32_t rc) {
    switch (rc) {
        case HW_NM_RC_TUN_BAD_CMD: return "tunnel operation other than add, del, notify";
        case HW_NM_RC_TUN_BAD_VALUE: return "tunnel request of the wrong type or length";
        case HW_NM_RC_TUN_BAD_FAMILY: return "address family other than IPv4 or IPv6";
        case HW_NM_RC_TUN_BAD_ADDRESS: return "endpoint missing or equal, or host bits in the routed prefix";
        case HW_NM_RC_TUN_BAD_MASK: return "mask not contiguous or prefix length over 128";
        case HW_NM_RC_TUN_BAD_UNIT: return "tunnel unit 0";
        case HW_NM_RC_TUN_TICK: return "creation tick differs from the interface's";
        case HW_NM_RC_TUN_IF_QUERY: return "the tunnel interface could not be queried";
        case HW_NM_RC_TUN_NO_MEMORY: return "tunnel pool empty";
        case HW_NM_RC_TUN_NOT_FOUND: return "no such tunnel";
        case HW_NM_RC_TUN_HW_REFUSED: return "the hardware refused the delete; the tunnel stays";
        default: return nullptr;
    }
}
