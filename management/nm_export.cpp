// The read-only export operation of the management socket: after the usual
// reply the daemon streams its state as text lines, one record per line, and
// closes the connection. Lines are written through a fixed buffer, so the
// walk obtains no memory; a client that stops reading ends the stream at the
// send time limit.
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "adr.h"
#include "hwroute/bewriter.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/intake.h"
#include "hwroute/management.h"

namespace {

constexpr int kSendTimeoutSec = 5;

class LineOut {
public:
    explicit LineOut(int conn) : conn_(conn) {}

    void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        if (failed_) return;
        if (sizeof(buf_) - used_ < kMaxLine) flush();
        va_list ap;
        va_start(ap, fmt);
        const int n = std::vsnprintf(buf_ + used_, kMaxLine - 1, fmt, ap);
        va_end(ap);
        if (n < 0) return;
        used_ += size_t(n) < kMaxLine - 1 ? size_t(n) : kMaxLine - 2;
        buf_[used_++] = '\n';
    }

    bool flush() {
        size_t off = 0;
        while (!failed_ && off < used_) {
            const ssize_t n = send(conn_, buf_ + off, used_ - off, MSG_NOSIGNAL);
            if (n <= 0) failed_ = true;
            else off += size_t(n);
        }
        used_ = 0;
        return !failed_;
    }

private:
    static constexpr size_t kMaxLine = 512;
    int conn_;
    bool failed_ = false;
    size_t used_ = 0;
    char buf_[16384];
};

void ip4Text(uint32_t a, char* out) {
    std::snprintf(out, 16, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xff, (a >> 8) & 0xff, a & 0xff);
}

void macText(const uint8_t* m, char* out) {
    std::snprintf(out, 18, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
}

uint8_t maskLen(uint32_t mask) {
    uint8_t n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)) != 0) ++n;
    return n;
}

void exportRoutes4(LineOut& out) {
    char dest[16], via[16];
    for (uint32_t b = 0; b < HW_DEST_BUCKETS; ++b) {
        for (HwRouteDest* d : hwListOf<&HwRouteDest::hashLink>(&ghwRoute.routeTable[b])) {
            ip4Text(d->destIp, dest);
            for (HwRouteNexthop* n : hwListOf<&HwRouteNexthop::destLink>(&d->nhopList)) {
                ip4Text(n->nextHop, via);
                out.line("route4 vrf=%u dest=%s/%u via=%s if=%u nvrf=%u proto=%u weight=%u flag=0x%08x labels=%u",
                         d->vrfId, dest, maskLen(d->mask), via, n->ifUnit, n->nVrfId, n->protoId, n->weight, n->flag,
                         n->mplsLabelNum);
            }
        }
    }
}

void exportRoutes6(LineOut& out) {
    char dest[64], via[64];
    for (uint32_t b = 0; b < HW_DEST_BUCKETS; ++b) {
        for (HwRoute6Dest* d : hwListOf<&HwRoute6Dest::hashLink>(&ghwRoute.route6Table[b])) {
            std::snprintf(dest, sizeof dest, "%s", ip6_sprintf(d->destIpAddr));
            for (HwRoute6Nexthop* n : hwListOf<&HwRoute6Nexthop::destLink>(&d->nhopList)) {
                if (n->afNextHop == HW_AF_INET)
                    ip4Text(beRead32(n->nextHop), via);
                else
                    std::snprintf(via, sizeof via, "%s", ip6_sprintf(n->nextHop));
                out.line("route6 vrf=%u dest=%s/%u via=%s if=%u nvrf=%u proto=%u weight=%u flag=0x%08x labels=%u",
                         d->vrfId, dest, d->prefixLen, via, n->ifUnit, n->nVrfId, n->protoId, n->weight, n->flag,
                         n->mplsLabelNum);
            }
        }
    }
}

void exportNeighbours(LineOut& out) {
    char addr[64], mac[18];
    for (uint32_t b = 0; b < HW_NHOP_BUCKETS; ++b) {
        for (HwArpNode* a : hwListOf<&HwArpNode::link>(&ghwRoute.arpTable[b])) {
            ip4Text(a->nextHop, addr);
            macText(a->mac, mac);
            out.line("arp vrf=%u addr=%s mac=%s if=%u subif=%u port=%u status=%u flag=0x%02x", a->vpnVrfid, addr, mac,
                     a->ifUnit, a->subIfUnit, a->outPort, a->status, a->flag);
        }
        for (HwNd6Node* a : hwListOf<&HwNd6Node::link>(&ghwRoute.nd6Table[b])) {
            std::snprintf(addr, sizeof addr, "%s", ip6_sprintf(a->nextHop));
            macText(a->macAddr, mac);
            out.line("nd6 vrf=%u addr=%s mac=%s if=%u subif=%u port=%u status=%u flag=0x%02x", a->vpnVrfid, addr, mac,
                     a->ifUnit, a->subIfUnit, a->outPort, a->status, a->flag);
        }
    }
}

// Counter lines carry the label last: it may hold spaces.
void exportCounters(LineOut& out) {
    bool verbose = false;
    for (std::size_t i = 0; i < hwCounterItemCount; ++i) {
        const HwCounterItem& it = hwCounterItems[i];
        if (it.kind == HwCounterItem::Section) verbose = it.verbose;
        if (it.kind != HwCounterItem::Counter && it.kind != HwCounterItem::Value) continue;
        out.line("counter verbose=%d value=%u label=%s", verbose ? 1 : 0, ghwRoute.*it.field, it.text);
    }
}

// Only the non-zero entries of the 2048 x 16 tables.
void exportStats(LineOut& out) {
    struct Table {
        int family;
        const char* name;
        const HwProtoStats* stats;
    };
    const Table tables[] = {
        {4, "sw", &ghwRoute.swRouteProtoStats},     {4, "hw", &ghwRoute.hwRouteProtoStats},
        {4, "add", &ghwRoute.swRouteProtoAddStats}, {4, "del", &ghwRoute.swRouteProtoDelStats},
        {6, "sw", &ghwRoute.swRoute6ProtoStats},    {6, "hw", &ghwRoute.hwRoute6ProtoStats},
        {6, "add", &ghwRoute.swRoute6ProtoAddStats}, {6, "del", &ghwRoute.swRoute6ProtoDelStats},
    };
    for (const Table& t : tables)
        for (uint32_t v = 0; v < HW_STATS_VRFS; ++v)
            for (uint32_t p = 0; p < HW_STATS_PROTOS; ++p)
                if ((*t.stats)[v][p] != 0)
                    out.line("stat family=%d table=%s vrf=%u proto=%u value=%u", t.family, t.name, v, p + 1,
                             (*t.stats)[v][p]);
}

void sendReply(int conn, const uint8_t* msg, uint32_t len) {
    uint8_t lenBytes[4];
    BeWriter(lenBytes, sizeof lenBytes).u32(len);
    if (send(conn, lenBytes, sizeof lenBytes, MSG_NOSIGNAL) == ssize_t(sizeof lenBytes))
        send(conn, msg, len, MSG_NOSIGNAL);
}

}  // namespace

void hwRouteNmExport(int conn, uint32_t what) {
    timeval tv{};
    tv.tv_sec = kSendTimeoutSec;
    setsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    LineOut out(conn);
    out.line("hwroute-export 1");
    if (what == HW_NM_EXPORT_STATE) {
        exportRoutes4(out);
        exportRoutes6(out);
        exportNeighbours(out);
    } else {
        exportCounters(out);
        exportStats(out);
    }
    out.line("end");
    out.flush();
}

bool hwRouteNmExportServe(int conn, uint8_t* msg, int len) {
    AdrMessage m{};
    if (len < int(ADR_OFF_CMD + 4) || beRead32(msg) != ADR_MAGIC || beRead32(msg + ADR_OFF_FUNC) != HW_NM_FUNC_EXPORT)
        return false;
    if (adr_decodemessage(msg, uint32_t(len), &m) != 0) return false;  // answered as any malformed request
    const bool known = m.cmd == HW_NM_EXPORT_STATE || m.cmd == HW_NM_EXPORT_COUNTERS;
    BeWriter(msg + ADR_OFF_RETCODE, 4).u32(known ? 0 : HW_NM_RC_BAD_SELECTOR);
    sendReply(conn, msg, uint32_t(len));
    if (known) hwRouteNmExport(conn, m.cmd);
    return true;
}
