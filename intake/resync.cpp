// Resynchronisation with the kernel's tables after lost notifications, and
// optionally at start-up: dump, feed every entry through the decoders, then
// sweep what the kernel no longer has.
//
// A resync reads each dump to its end within one pass, with the notification
// socket left waiting. The kernel builds a dump part when the previous one is
// read, so a notification handled between two parts could be older-looking
// than the part that follows it and be overtaken by it; read straight
// through, the dump is applied first and the queued notifications, all of
// them newer or already reflected, are applied after it, which leaves the
// tables equal to the kernel's.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "decoders.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/intake.h"
#include "hwroute/neighbour.h"
#include "hwroute/resync.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

bool hwResyncAtStart = false;

namespace {

// ---- Marks ------------------------------------------------------------------
// One bit per pool element, beside the pool: the records keep their fixed
// sizes. A set bit means "seen in this resync's dump" (or "already swept").

struct MarkMap {
    const unsigned char* base = nullptr;
    uint32_t size = 0;
    uint32_t count = 0;
    uint8_t* bits = nullptr;
};

MarkMap gNexthopMarks;  // IPv4 and IPv6 next hops share their pool
MarkMap gArpMarks;
MarkMap gNd6Marks;

// Right after start-up builds a pool, every element is on its free list; the
// lowest address among them is the start of the pool's block.
void initMarks(MarkMap* m, const NodePool* pool, uint32_t size, HwAllocFn alloc) {
    *m = MarkMap{};
    m->size = size;
    for (const HwListLink* l = pool->next; l != pool; l = l->next) {
        const auto* p = reinterpret_cast<const unsigned char*>(l);
        if (m->base == nullptr || p < m->base) m->base = p;
        ++m->count;
    }
    if (m->count != 0 && alloc != nullptr) m->bits = static_cast<uint8_t*>(alloc((m->count + 7u) / 8u, 1));
}

bool usable(const MarkMap& m) { return m.count == 0 || m.bits != nullptr; }

bool slotOf(const MarkMap& m, const void* rec, uint32_t* slot) {
    const auto* p = static_cast<const unsigned char*>(rec);
    if (m.bits == nullptr || p < m.base) return false;
    const std::size_t off = static_cast<std::size_t>(p - m.base);
    if (off % m.size != 0 || off / m.size >= m.count) return false;
    *slot = static_cast<uint32_t>(off / m.size);
    return true;
}

void setMark(const MarkMap& m, const void* rec) {
    uint32_t s = 0;
    if (slotOf(m, rec, &s)) m.bits[s >> 3] = static_cast<uint8_t>(m.bits[s >> 3] | (1u << (s & 7u)));
}

// A record outside the pool is never swept.
bool isMarked(const MarkMap& m, const void* rec) {
    uint32_t s = 0;
    if (!slotOf(m, rec, &s)) return true;
    return (m.bits[s >> 3] & (1u << (s & 7u))) != 0;
}

void clearMarks(const MarkMap& m) {
    if (m.bits != nullptr) std::memset(m.bits, 0, (m.count + 7u) / 8u);
}

bool poolEmpty(const NodePool& pool) { return pool.next == &pool; }

// ---- State ------------------------------------------------------------------

struct ResyncState {
    bool active = false;       // a dump is being fed
    bool interrupted = false;  // the kernel flagged a part as inconsistent
    bool wanted = false;
    bool again = false;  // a complete resync that should run once more
    uint32_t failures = 0;
    uint64_t retryAtMs = 0;
};
ResyncState gState;

// ---- Kernel dump socket ---------------------------------------------------

int gDumpSock = -1;
uint32_t gDumpSeq = 0;
uint8_t gDumpBuf[HW_NOTIFY_BUF_LEN];

constexpr int kDumpTimeoutSec = 5;

void closeDumpSock() {
    if (gDumpSock >= 0) close(gDumpSock);
    gDumpSock = -1;
}

bool openDumpSock() {
    if (gDumpSock >= 0) return true;
    gDumpSock = socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE);
    if (gDumpSock < 0) return false;
    timeval tv{kDumpTimeoutSec, 0};
    (void)setsockopt(gDumpSock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    if (bind(gDumpSock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        closeDumpSock();
        return false;
    }
    return true;
}

// A dump request: the header and a body whose first byte is the family. The
// route body's table byte stays 0, so every table (every VRF) is dumped.
int kernelRequest(uint16_t type, uint8_t family) {
    if (!openDumpSock()) return -1;
    struct {
        nlmsghdr hdr;
        uint8_t body[16];
    } req{};
    const uint32_t bodyLen = type == RTM_GETLINK ? sizeof(ifinfomsg) : type == RTM_GETNEIGH ? sizeof(ndmsg)
                                                                                             : sizeof(rtmsg);
    req.hdr.nlmsg_len = NLMSG_LENGTH(bodyLen);
    req.hdr.nlmsg_type = type;
    req.hdr.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.hdr.nlmsg_seq = ++gDumpSeq;
    req.body[0] = family;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t n = sendto(gDumpSock, &req, req.hdr.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    return n == static_cast<ssize_t>(req.hdr.nlmsg_len) ? 0 : -1;
}

int kernelRecv(uint8_t* buf, int cap) {
    if (gDumpSock < 0) return -1;
    iovec iov{buf, static_cast<size_t>(cap)};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n = recvmsg(gDumpSock, &msg, 0);
    // A part that did not fit would lose entries: the dump is cut short.
    if (n <= 0 || (msg.msg_flags & MSG_TRUNC) != 0) return -1;
    return static_cast<int>(n);
}

const HwDumpTransport kKernelTransport = {kernelRequest, kernelRecv};
const HwDumpTransport* gTransport = &kKernelTransport;

// What is dumped, in this order: links first (interfaces that came up probe
// their waiting next hops), then neighbours, so that routes arriving after
// them resolve at once.
struct DumpKind {
    uint16_t type;
    uint8_t family;
};
constexpr DumpKind kDumps[] = {
    {RTM_GETLINK, AF_UNSPEC}, {RTM_GETNEIGH, AF_INET}, {RTM_GETNEIGH, AF_INET6},
    {RTM_GETROUTE, AF_INET},  {RTM_GETROUTE, AF_INET6},
};

bool dumpOne(const DumpKind& kind) {
    if (gTransport->request(kind.type, kind.family) != 0) return false;
    for (;;) {
        int n = gTransport->recv(gDumpBuf, static_cast<int>(sizeof gDumpBuf));
        if (n <= 0) return false;
        int r = hwResyncFeed(gDumpBuf, n);
        if (r <= 0) return r == 0;
    }
}

// ---- Sweep ------------------------------------------------------------------

// Paths the platform's own messages made or lean on are left alone: labelled
// paths, public routes carrying labels, and paths still used by labelled
// routes or layer-2 VPNs. Paths already being deleted finish on their own.
template <class Nexthop>
bool sweepable(const Nexthop* nh) {
    if (nh->flag & (NH_VPN | NH_OP_VPN_ADD | NH_VPN_REQUEST | NH_OP_DEL)) return false;
    if (nh->mplsLabelNum != 0 || nh->publicRoute != nullptr) return false;
    return nh->privateRefCnt == 0 && nh->privateMplsRefCnt == 0 && nh->privateArpRefCnt == 0 && nh->l2vpnRefCnt == 0;
}

// Delete requests as the decoder builds them from a kernel route message.
HwRouteDest destRequest(const HwRouteDest& d) {
    HwRouteDest r{};
    r.vrfId = d.vrfId;
    r.destIp = d.destIp;
    r.mask = d.mask;
    return r;
}
HwRoute6Dest destRequest(const HwRoute6Dest& d) {
    HwRoute6Dest r{};
    r.vrfId = d.vrfId;
    std::memcpy(r.destIpAddr, d.destIpAddr, sizeof r.destIpAddr);
    r.prefixLen = d.prefixLen;
    return r;
}
template <class Nexthop>
Nexthop nexthopRequest(const Nexthop& n) {
    Nexthop r{};
    r.nVrfId = n.nVrfId;
    r.ifUnit = n.ifUnit;
    std::memcpy(&r.nextHop, &n.nextHop, sizeof r.nextHop);
    r.protoId = n.protoId;
    r.weight = n.weight;
    r.routeFlag = n.routeFlag;
    return r;
}

template <class Dest, class Nexthop>
struct RouteFamily {
    HwListLink* table;
    Dest* (*lookup)(const Dest*);
    int (*del)(Dest*, Nexthop*);
};

// Deletes the unmarked paths of one destination, one at a time through the
// delete handler; each is marked first so it is never looked at twice. Stops
// when the destination went away with its last path.
template <class Dest, class Nexthop>
void sweepDest(Dest* dest, const RouteFamily<Dest, Nexthop>& fam) {
    const Dest key = destRequest(*dest);
    for (;;) {
        Nexthop* victim = nullptr;
        for (Nexthop* nh : hwListOf<&Nexthop::destLink>(&dest->nhopList)) {
            if (sweepable(nh) && !isMarked(gNexthopMarks, nh)) {
                victim = nh;
                break;
            }
        }
        if (victim == nullptr) return;
        setMark(gNexthopMarks, victim);
        Dest dreq = key;
        Nexthop nreq = nexthopRequest(*victim);
        fam.del(&dreq, &nreq);
        ++ghwRoute.resyncSweepRouteCnt;
        if (fam.lookup(&key) != dest) return;
    }
}

// The next destination of a bucket outlives the deletes of the current one's
// paths: a delete frees only its own path and, with the last one, its own
// destination.
template <class Dest, class Nexthop>
void sweepRoutes(const RouteFamily<Dest, Nexthop>& fam) {
    for (uint32_t b = 0; b < HW_DEST_BUCKETS; ++b) {
        HwListLink* head = &fam.table[b];
        for (HwListLink* l = head->next; l != head;) {
            HwListLink* next = l->next;
            sweepDest(ownerOf<&Dest::hashLink>(l), fam);
            l = next;
        }
    }
}

HwArpNode arpRequest(const HwArpNode& a) {
    HwArpNode r{};
    r.ifUnit = a.ifUnit;
    r.subIfUnit = a.subIfUnit;
    r.nextHop = a.nextHop;
    r.outPort = a.outPort;
    r.vpnVrfid = a.vpnVrfid;
    std::memcpy(r.mac, a.mac, sizeof r.mac);
    r.status = static_cast<uint8_t>(hwStatusIdle);
    return r;
}
HwNd6Node arpRequest(const HwNd6Node& a) {
    HwNd6Node r{};
    r.ifUnit = a.ifUnit;
    r.subIfUnit = a.subIfUnit;
    std::memcpy(r.nextHop, a.nextHop, sizeof r.nextHop);
    r.outPort = a.outPort;
    r.vpnVrfid = a.vpnVrfid;
    std::memcpy(r.macAddr, a.macAddr, sizeof r.macAddr);
    r.status = static_cast<uint8_t>(hwStatusIdle);
    return r;
}

// A neighbour delete may free other records of its bucket (a held record
// released with its last path), so the bucket is searched again from its
// head after each one; neighbour buckets are short and this runs once per resync.
template <class Node>
void sweepNeighbours(HwListLink* table, const MarkMap& marks, int (*del)(Node*)) {
    for (uint32_t b = 0; b < HW_NHOP_BUCKETS; ++b) {
        for (;;) {
            Node* victim = nullptr;
            for (Node* n : hwListOf<&Node::link>(&table[b])) {
                if ((n->flag & ARP_FLAG_HELD) == 0 && !isMarked(marks, n)) {
                    victim = n;
                    break;
                }
            }
            if (victim == nullptr) break;
            setMark(marks, victim);
            Node req = arpRequest(*victim);
            del(&req);
            ++ghwRoute.resyncSweepNeighCnt;
        }
    }
}

void sweepIpv4() {
    sweepRoutes(RouteFamily<HwRouteDest, HwRouteNexthop>{ghwRoute.routeTable, hwRouteDestTableLookup, hwRouteRouteDel});
    sweepNeighbours<HwArpNode>(ghwRoute.arpTable, gArpMarks, hwArpDel);
}

// The IPv6 half: the same walks over the IPv6 tables; empty tables cost one
// look at each bucket head.
void sweepIpv6() {
    sweepRoutes(
        RouteFamily<HwRoute6Dest, HwRoute6Nexthop>{ghwRoute.route6Table, hwRoute6DestTableLookup, hwRoute6RouteDel});
    sweepNeighbours<HwNd6Node>(ghwRoute.nd6Table, gNd6Marks, hwNd6Del);
}

// Walks the messages of a dump part for its end, error reports and the
// kernel's "changed while dumping" flag.
int scanDumpPart(const uint8_t* buf, int len) {
    uint32_t off = 0;
    const auto total = static_cast<uint32_t>(len);
    while (total - off >= HW_NL_HDR_LEN) {
        const uint32_t msgLen = hwRdU32(buf + off);
        if (msgLen < HW_NL_HDR_LEN || msgLen > total - off) return -1;
        const uint16_t type = hwRdU16(buf + off + 4);
        const uint16_t flags = hwRdU16(buf + off + 6);
        if (flags & NLM_F_DUMP_INTR) gState.interrupted = true;
        if (type == HW_NLMSG_ERROR) return -1;
        if (type == HW_NLMSG_DONE) {
            // The end report carries the dump's own result.
            if (msgLen >= HW_NL_HDR_LEN + 4 && hwRdU32(buf + off + HW_NL_HDR_LEN) != 0) return -1;
            return gState.interrupted ? -1 : 0;
        }
        off += (msgLen + 3u) & ~3u;
    }
    return 1;
}

}  // namespace

void hwResyncInit(HwAllocFn alloc) {
    gState = ResyncState{};
    initMarks(&gNexthopMarks, &ghwRoute.nexthopPool, HW_NEXTHOP_NODE_SIZE, alloc);
    initMarks(&gArpMarks, &ghwRoute.arpPool, HW_ARP_NODE_SIZE, alloc);
    initMarks(&gNd6Marks, &ghwRoute.nd6Pool, HW_ND6_NODE_SIZE, alloc);
}

void hwResyncRequest(void) { gState.wanted = true; }
bool hwResyncWanted(void) { return gState.wanted; }

uint32_t hwResyncBackoffMs(uint32_t failures) {
    constexpr uint32_t kFirstMs = 1000;
    constexpr uint32_t kMaxMs = 30000;
    if (failures == 0) return 0;
    if (failures > 5) return kMaxMs;
    const uint32_t ms = kFirstMs << (failures - 1);
    return ms < kMaxMs ? ms : kMaxMs;
}

void hwResyncBegin(void) {
    clearMarks(gNexthopMarks);
    clearMarks(gArpMarks);
    clearMarks(gNd6Marks);
    gState.active = true;
    gState.interrupted = false;
}

int hwResyncFeed(const uint8_t* buf, int len) {
    if (buf == nullptr || len < static_cast<int>(HW_NL_HDR_LEN)) return -1;
    const int status = scanDumpPart(buf, len);
    // The walk itself stops at the end or error report.
    hwRtnotifyRecv(buf, len);
    return status;
}

void hwResyncEnd(bool complete) {
    const bool sweep = gState.active && complete && usable(gNexthopMarks) && usable(gArpMarks) && usable(gNd6Marks);
    gState.active = false;
    if (!sweep) return;
    sweepIpv4();
    sweepIpv6();
}

void hwResyncSetTransport(const HwDumpTransport* transport) {
    gTransport = transport != nullptr ? transport : &kKernelTransport;
    if (transport != nullptr) closeDumpSock();
}

namespace {

// One dump of everything and, when complete, the sweep.
bool resyncRound() {
    hwResyncBegin();
    bool complete = true;
    for (const DumpKind& kind : kDumps) {
        if (!dumpOne(kind)) {
            complete = false;
            break;
        }
    }
    hwResyncEnd(complete);
    // Parts of a dump cut short could still arrive; the next one starts clean.
    if (!complete) closeDumpSock();
    return complete;
}

}  // namespace

int hwResyncRun(void) {
    const uint32_t noRoomBefore = ghwRoute.resyncNoRoomCnt;
    const uint32_t sweptBefore = ghwRoute.resyncSweepRouteCnt + ghwRoute.resyncSweepNeighCnt;
    gState.again = false;
    if (!resyncRound()) return -1;
    // Entries that found no room while stale ones held the pools get another
    // resync once the flush has removed the swept paths from hardware and
    // freed them (on the next pass, after that pass's flush).
    const bool starved = ghwRoute.resyncNoRoomCnt != noRoomBefore;
    const bool freed = ghwRoute.resyncSweepRouteCnt + ghwRoute.resyncSweepNeighCnt != sweptBefore;
    gState.again = starved && freed;
    return 0;
}

int hwResyncPass(uint64_t nowMs) {
    if (!gState.wanted || nowMs < gState.retryAtMs) return 0;
    if (hwResyncRun() == 0) {
        ++ghwRoute.resyncOkCnt;
        gState.wanted = gState.again;
        gState.failures = 0;
        hwRouteDebug(HW_DBG_START, 0, "[hwRouteTask]=>resynchronised with the kernel's tables.");
        return 1;
    }
    ++ghwRoute.resyncFailCnt;
    ++gState.failures;
    gState.retryAtMs = nowMs + hwResyncBackoffMs(gState.failures);
    hwRouteDebug(HW_DBG_START, 0, "[hwRouteTask]=>resync with the kernel failed, retry in %u ms.",
                 hwResyncBackoffMs(gState.failures));
    return -1;
}

// ---- Decoder hooks ----------------------------------------------------------

void hwResyncSeenRoute(const HwRouteDest* dest, const HwRouteNexthop* nexthop) {
    if (!gState.active) return;
    HwRouteDest* d = hwRouteDestTableLookup(dest);
    HwRouteNexthop* nh = d != nullptr ? hwRouteNexthopTableLookup(d, nexthop) : nullptr;
    if (nh != nullptr) setMark(gNexthopMarks, nh);
    else if (poolEmpty(ghwRoute.destPool) || poolEmpty(ghwRoute.nexthopPool)) ++ghwRoute.resyncNoRoomCnt;
}

void hwResyncSeenRoute6(const HwRoute6Dest* dest, const HwRoute6Nexthop* nexthop) {
    if (!gState.active) return;
    HwRoute6Dest* d = hwRoute6DestTableLookup(dest);
    HwRoute6Nexthop* nh = d != nullptr ? hwRoute6NexthopTableLookup(d, nexthop) : nullptr;
    if (nh != nullptr) setMark(gNexthopMarks, nh);
    else if (poolEmpty(ghwRoute.destPool) || poolEmpty(ghwRoute.nexthopPool)) ++ghwRoute.resyncNoRoomCnt;
}

void hwResyncSeenArp(const HwArpNode* arp) {
    if (!gState.active) return;
    if (HwArpNode* found = hwArpTableLookup(arp)) setMark(gArpMarks, found);
    else if (poolEmpty(ghwRoute.arpPool)) ++ghwRoute.resyncNoRoomCnt;
}

void hwResyncSeenNd6(const HwNd6Node* nd6) {
    if (!gState.active) return;
    if (HwNd6Node* found = hwNd6TableLookup(nd6)) setMark(gNd6Marks, found);
    else if (poolEmpty(ghwRoute.nd6Pool)) ++ghwRoute.resyncNoRoomCnt;
}
