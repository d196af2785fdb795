// Decoding of the hardware byte layouts. Every buffer is big-endian; the
// offsets are those the daemon's builders write (hardware/layout.h names the
// route ones), restated here from the documented layouts so that a fault in
// a builder shows up as a difference instead of being read back the same way.
#include "hwdecode.h"

#include <arpa/inet.h>

#include <cstring>

#include "hwroute/bewriter.h"

namespace {

constexpr size_t kR4Hdr = 28;
constexpr size_t kR6Hdr = 36;
constexpr size_t kRec = 64;
constexpr size_t kLabel = 8;
constexpr size_t kIlmHdr = 20;
constexpr size_t kL2vpnLen = 56;
constexpr size_t kMaxLabels = 3;

struct L2vpnObject {
    uint32_t add, del;
    uint8_t vpnType;
};
constexpr L2vpnObject kL2vpnObjects[] = {{144, 145, 1}, {140, 141, 2}, {352, 353, 5}};

uint16_t u16(const uint8_t* p) { return beRead16(p); }
uint32_t u32(const uint8_t* p) { return beRead32(p); }

template <size_t N>
std::array<uint8_t, N> bytesAt(const uint8_t* p) {
    std::array<uint8_t, N> a{};
    std::memcpy(a.data(), p, N);
    return a;
}

uint8_t maskLen(uint32_t mask) {
    uint8_t n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)) != 0) ++n;
    return n;
}

// A next-hop record at p with room for `room` bytes; returns its length, 0
// when it does not fit.
size_t decodePath(const uint8_t* p, size_t room, HwdPath* out) {
    if (room < kRec) return 0;
    const size_t labels = p[59];
    if (labels > kMaxLabels || room < kRec + kLabel * labels) return 0;
    out->flags = u32(p + 0);
    out->nexthopIp = bytesAt<16>(p + 4);
    out->ext = bytesAt<16>(p + 20);
    out->port = u32(p + 36);
    out->ipPort = u32(p + 40);
    out->nextHopMac = bytesAt<6>(p + 44);
    out->vid = u16(p + 50);
    out->srcMac = bytesAt<6>(p + 52);
    out->op = p[58];
    out->protocol = p[60];
    out->labels.clear();
    for (size_t i = 0; i < labels; ++i) {
        const uint8_t* l = p + kRec + kLabel * i;
        out->labels.push_back({u32(l + 4), l[1], l[0]});
    }
    return kRec + kLabel * labels;
}

size_t headerLen(int family) { return family == 4 ? kR4Hdr : kR6Hdr; }

void decodeHeader(int family, const uint8_t* p, HwdRouteEntry* e) {
    e->family = family;
    e->flags = u32(p + 0);
    e->vrId = u32(p + 4);
    if (family == 4) {
        std::memcpy(e->addr.data(), p + 8, 4);
        e->mask = u32(p + 12);
        e->prefixLen = maskLen(e->mask);
        e->nextHopNum = p[16];
        e->size = p[19];
        e->tunnelIfIndex = u32(p + 20);
    } else {
        e->addr = bytesAt<16>(p + 8);
        e->prefixLen = p[24];
        e->nextHopNum = p[25];
        e->size = p[27];
        e->tunnelIfIndex = u32(p + 28);
    }
}

HwdEntryKind kindOf(const HwdPath& p) {
    if (p.flags & HWD_NHF_NEIGHBOUR) return HwdEntryKind::Neighbour;
    if (p.flags & HWD_NHF_TUNNEL_ENTRY) return HwdEntryKind::Tunnel;
    return HwdEntryKind::Route;
}

// Neighbour and tunnel entries travel alone, one header and one record; a
// tunnel's nextHopNum counts next hops that have no record of their own.
bool decodeSingle(int family, const uint8_t* p, size_t len, HwdRouteEntry* e) {
    const size_t hdr = headerLen(family);
    if (len != hdr + kRec) return false;
    HwdPath path;
    if (decodePath(p + hdr, len - hdr, &path) != kRec) return false;
    if (kindOf(path) == HwdEntryKind::Route) return false;
    decodeHeader(family, p, e);
    e->kind = kindOf(path);
    e->paths.push_back(path);
    return true;
}

// The length of the entry at p: its size byte holds the low 8 bits of the
// word count, so the candidates are size*4 + k*1024. A candidate fits when a
// walk over at most nextHopNum records ends exactly on it; the first that
// holds all nextHopNum records wins, else the first that fits (paths without
// a neighbour are left out of an entry but still counted).
size_t entryLen(int family, const uint8_t* p, size_t room) {
    const size_t hdr = headerLen(family);
    const size_t sizeByte = family == 4 ? p[19] : p[27];
    const size_t num = family == 4 ? p[16] : p[25];
    size_t firstFit = 0;
    for (size_t cand = sizeByte * 4; cand <= room; cand += 1024) {
        if (cand < hdr) continue;
        size_t pos = hdr, records = 0;
        while (pos < cand && records < num) {
            if (pos + kRec > room) break;
            const size_t labels = p[pos + 59];
            if (labels > kMaxLabels) break;
            pos += kRec + kLabel * labels;
            ++records;
        }
        if (pos != cand) continue;
        if (records == num) return cand;
        if (firstFit == 0) firstFit = cand;
    }
    return firstFit;
}

bool decodeRouteObject(HwdCall* call, int family, std::string* err) {
    const uint8_t* p = call->data.data();
    const size_t len = call->data.size();
    HwdRouteEntry single;
    if (decodeSingle(family, p, len, &single)) {
        call->routes.push_back(single);
        return true;
    }
    size_t pos = 0;
    while (pos < len) {
        const size_t hdr = headerLen(family);
        if (len - pos < hdr) {
            *err = "route entry at byte " + std::to_string(pos) + " cut short (" + std::to_string(len - pos) +
                   " bytes, a header has " + std::to_string(hdr) + ")";
            return false;
        }
        const size_t n = entryLen(family, p + pos, len - pos);
        if (n == 0) {
            *err = "route entry at byte " + std::to_string(pos) + ": its size and records do not fit the " +
                   std::to_string(len - pos) + " bytes left";
            return false;
        }
        HwdRouteEntry e;
        decodeHeader(family, p + pos, &e);
        for (size_t at = pos + hdr; at < pos + n;) {
            HwdPath path;
            at += decodePath(p + at, pos + n - at, &path);
            e.paths.push_back(path);
        }
        call->routes.push_back(e);
        pos += n;
    }
    return true;
}

bool decodeIlm(HwdCall* call, std::string* err) {
    const uint8_t* p = call->data.data();
    const size_t len = call->data.size();
    if (len < kIlmHdr + kRec) {
        *err = "ILM entry of " + std::to_string(len) + " bytes, at least 84 expected";
        return false;
    }
    HwdIlm ilm;
    ilm.add = call->objectId == 156;
    ilm.vrfid = u32(p + 0);
    ilm.flags = u32(p + 4);
    ilm.inLabel = u32(p + 12);
    ilm.inVid = u16(p + 16);
    if (decodePath(p + kIlmHdr, len - kIlmHdr, &ilm.path) != len - kIlmHdr) {
        *err = "ILM entry of " + std::to_string(len) + " bytes does not match its label count " +
               std::to_string(p[79]);
        return false;
    }
    call->ilm = ilm;
    return true;
}

bool decodeL2vpn(HwdCall* call, std::string* err) {
    const uint8_t* p = call->data.data();
    if (call->data.size() != kL2vpnLen) {
        *err = "layer-2 VPN record of " + std::to_string(call->data.size()) + " bytes, 56 expected";
        return false;
    }
    HwdL2vpn v;
    for (const L2vpnObject& o : kL2vpnObjects)
        if (call->objectId == o.del) v.add = false;
    v.vfiId = u16(p + 0);
    v.vpnType = p[2];
    v.flags = u32(p + 4);
    v.peEgressVid = u16(p + 8);
    v.peEgressPri = p[10];
    v.ceEgressVid = u16(p + 12);
    v.ceEgressPri = p[14];
    v.cePort = u32(p + 16);
    v.ceVid = u16(p + 20);
    v.peVid = u16(p + 22);
    v.pePort = u32(p + 24);
    v.txOuterLabel = u32(p + 28);
    v.txInnerLabel = u32(p + 32);
    v.rxInnerLabel = u32(p + 36);
    v.txOuterExp = p[40];
    v.txOuterTtl = p[41];
    v.txInnerExp = p[42];
    v.txInnerTtl = p[43];
    v.nextHopMac = bytesAt<6>(p + 44);
    v.srcMac = bytesAt<6>(p + 50);
    call->l2vpn = v;
    return true;
}

std::string hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%#x", v);
    return b;
}

std::string pathText(int family, const HwdPath& p) {
    std::string s = std::string(hwdOpName(p.op)) + " via " + hwdNexthopText(family, p.nexthopIp) + " port " +
                    std::to_string(p.port) + " if " + std::to_string(p.ipPort) + " vid " + std::to_string(p.vid) +
                    " mac " + hwdMacText(p.nextHopMac);
    if (!p.labels.empty()) {
        s += " labels";
        for (const HwdLabel& l : p.labels)
            s += " " + std::to_string(l.label) + "/" + std::to_string(l.exp) + "/" + std::to_string(l.ttl);
    }
    if (p.protocol != 0) s += " proto " + std::to_string(p.protocol);
    if (p.flags != HWD_NHF_PATH) s += " flags " + hex(p.flags);
    return s;
}

std::string routeText(const HwdRouteEntry& e) {
    std::string s = std::string(hwdKindName(e.kind)) + " vrf " + std::to_string(e.vrId) + " " + hwdPrefixText(e);
    if (e.kind == HwdEntryKind::Tunnel) s += " tunnel-if " + std::to_string(e.tunnelIfIndex);
    if (e.flags != 0) s += " flags " + hex(e.flags);
    s += " nexthops " + std::to_string(e.nextHopNum) + ":";
    if (e.paths.empty()) s += " (no path record)";
    for (size_t i = 0; i < e.paths.size(); ++i) s += (i ? "; " : " ") + pathText(e.family, e.paths[i]);
    return s;
}

std::string ilmText(const HwdIlm& i) {
    return std::string("in-label ") + std::to_string(i.inLabel) + " vrf " + std::to_string(i.vrfid) + " flags " +
           hex(i.flags) + " in-vid " + std::to_string(i.inVid) + ": " + pathText(4, i.path);
}

std::string l2vpnText(const HwdL2vpn& v) {
    return "vfi " + std::to_string(v.vfiId) + " type " + std::to_string(v.vpnType) + " flags " + hex(v.flags) +
           " ce-port " + std::to_string(v.cePort) + " ce-vid " + std::to_string(v.ceVid) + " pe-port " +
           std::to_string(v.pePort) + " pe-vid " + std::to_string(v.peVid) + " tx-labels " +
           std::to_string(v.txOuterLabel) + "/" + std::to_string(v.txInnerLabel) + " rx-label " +
           std::to_string(v.rxInnerLabel) + " mac " + hwdMacText(v.nextHopMac) + " src-mac " + hwdMacText(v.srcMac);
}

}  // namespace

bool hwdIsL2vpnObject(uint32_t objectId) {
    for (const L2vpnObject& o : kL2vpnObjects)
        if (objectId == o.add || objectId == o.del) return true;
    return false;
}

std::string hwdObjectName(uint32_t objectId) {
    switch (objectId) {
        case 338: return "ipv4-route";
        case 339: return "ipv6-route";
        case 156: return "ilm-add";
        case 157: return "ilm-del";
        default: break;
    }
    for (const L2vpnObject& o : kL2vpnObjects) {
        if (objectId == o.add) return "l2vpn-add";
        if (objectId == o.del) return "l2vpn-del";
    }
    return "object-" + std::to_string(objectId);
}

bool hwdDecode(HwdCall* call, std::string* err) {
    call->routes.clear();
    call->ilm.reset();
    call->l2vpn.reset();
    std::string why;
    bool ok = true;
    if (call->data.empty()) return true;  // a call without bytes: nothing to decode
    if (call->objectId == 338 || call->objectId == 339)
        ok = decodeRouteObject(call, call->objectId == 338 ? 4 : 6, &why);
    else if (call->objectId == 156 || call->objectId == 157)
        ok = decodeIlm(call, &why);
    else if (hwdIsL2vpnObject(call->objectId))
        ok = decodeL2vpn(call, &why);
    if (!ok && err != nullptr) *err = why;
    return ok;
}

std::string hwdAddrText(int family, const HwdAddr& a) {
    char buf[INET6_ADDRSTRLEN] = "";
    inet_ntop(family == 4 ? AF_INET : AF_INET6, a.data(), buf, sizeof buf);
    return buf;
}

std::string hwdNexthopText(int family, const HwdAddr& a) {
    bool tailZero = true;
    for (size_t i = 4; i < 16; ++i) tailZero = tailZero && a[i] == 0;
    return hwdAddrText(family == 4 || tailZero ? 4 : 6, a);
}

std::string hwdMacText(const HwdMac& m) {
    char b[18];
    std::snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return b;
}

std::string hwdPrefixText(const HwdRouteEntry& e) {
    return hwdAddrText(e.family, e.addr) + "/" + std::to_string(e.prefixLen);
}

const char* hwdOpName(uint8_t op) {
    switch (op) {
        case HWD_OP_KEEP: return "keep";
        case HWD_OP_ADD: return "add";
        case HWD_OP_DEL: return "del";
        case HWD_OP_BACKUP: return "backup";
        default: return "op?";
    }
}

const char* hwdKindName(HwdEntryKind k) {
    switch (k) {
        case HwdEntryKind::Neighbour: return "neighbour";
        case HwdEntryKind::Tunnel: return "tunnel";
        default: return "route";
    }
}

std::string hwdCallLine(const HwdCall& call) {
    std::string s = "#" + std::to_string(call.seq) + " " + hwdObjectName(call.objectId) + " " +
                    (call.result == 0 ? std::string("ok") : "refused(" + std::to_string(call.result) + ")");
    if (call.data.empty()) return s + ": no data";
    for (size_t i = 0; i < call.routes.size(); ++i) s += (i ? " | " : ": ") + routeText(call.routes[i]);
    if (call.ilm) s += ": " + ilmText(*call.ilm);
    if (call.l2vpn) s += ": " + l2vpnText(*call.l2vpn);
    if (call.routes.empty() && !call.ilm && !call.l2vpn) s += ": " + std::to_string(call.data.size()) + " bytes";
    return s;
}

// ---------------------------------------------------------------------------
// State

HwdPrefix hwdPrefixOf(const HwdRouteEntry& e) {
    HwdPrefix k;
    k.family = e.family;
    k.vrf = e.kind == HwdEntryKind::Tunnel ? 0 : e.vrId;
    k.addr = e.addr;
    k.len = e.prefixLen;
    return k;
}

HwdPathKey hwdPathKeyOf(const HwdPath& p) { return {p.nexthopIp, p.ipPort}; }

namespace {

// A delete that concerns only the label part takes the labels off a path
// that stays; one that concerns the path removes it.
void applyPath(HwdRouteState* r, const HwdPath& p) {
    const HwdPathKey key = hwdPathKeyOf(p);
    if (p.op == HWD_OP_DEL) {
        r->backups.erase(key);
        auto it = r->paths.find(key);
        if (it == r->paths.end()) return;
        if ((p.flags & HWD_NHF_PATH) == 0 && (p.flags & HWD_NHF_LABEL) != 0)
            it->second.labels.clear();
        else
            r->paths.erase(it);
        return;
    }
    if (p.op == HWD_OP_BACKUP) {
        r->backups[key] = p;
        return;
    }
    // A kept path is only confirmed: a record may name a path that never got
    // in (direct updates draw their old set from resolved paths).
    if (p.op == HWD_OP_KEEP && r->paths.count(key) == 0) return;
    r->backups.erase(key);
    r->paths[key] = p;
}

void applyRoute(HwdState* s, const HwdRouteEntry& e) {
    const HwdPrefix key = hwdPrefixOf(e);
    if (e.kind == HwdEntryKind::Neighbour || e.kind == HwdEntryKind::Tunnel) {
        const bool del = !e.paths.empty() && e.paths[0].op == HWD_OP_DEL;
        if (e.kind == HwdEntryKind::Neighbour) {
            if (del)
                s->neighbours.erase(key);
            else if (!e.paths.empty())
                s->neighbours[key] = e.paths[0];
        } else if (del) {
            s->tunnels.erase(key);
        } else {
            s->tunnels[key] = e;
        }
        return;
    }
    HwdRouteState& r = s->routes[key];
    for (const HwdPath& p : e.paths) applyPath(&r, p);
    if (r.paths.empty() && r.backups.empty()) s->routes.erase(key);
}

}  // namespace

void HwdState::apply(const HwdCall& call) {
    ++calls;
    if (call.result != 0) {
        ++refused;
        return;
    }
    for (const HwdRouteEntry& e : call.routes) applyRoute(this, e);
    if (call.ilm) {
        const auto key = std::make_pair(call.ilm->vrfid, call.ilm->inLabel);
        if (call.ilm->add)
            ilms[key] = *call.ilm;
        else
            ilms.erase(key);
    }
    if (call.l2vpn) {
        const auto key = std::make_pair(call.l2vpn->vfiId, call.l2vpn->vpnType);
        if (call.l2vpn->add)
            l2vpns[key] = *call.l2vpn;
        else
            l2vpns.erase(key);
    }
}
