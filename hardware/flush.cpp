// The ready-list flush: once per loop pass the IPv4 and then the IPv6 ready
// destinations are packed into batches, each batch goes to the hardware in
// one call, and after a success the software next hops are brought into line
// with what the hardware now holds.
//
// A destination's way through here:
//   ready --taken--> in a batch (off the ready list, readyState 0)
//     batch accepted: settled (paths present, deleted paths and empty
//                     destinations freed)
//     batch refused:  back at the front of the ready list, routeFailState 1,
//                     passed over once, then in a later batch
#include <sys/ioctl.h>

#include <cstring>

#include "hwroute/abnormal.h"
#include "hwroute/debug.h"
#include "hwroute/intake.h"
#include "hwroute/route.h"
#include "layout.h"
#include "route_paths.h"

uint32_t hwRouteFlushFailRun = 0;
uint32_t hwRoute6FlushFailRun = 0;
uint32_t hwRouteFlushSoloCnt = 0;
uint32_t hwRoute6FlushSoloCnt = 0;

namespace {

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

// The batch buffer: HW_BATCH_BYTES of packed entries and, past them, room for
// one worst-case entry, so that a destination sent in a batch of its own, or
// an entry that came out longer than its estimate, can never overflow it.
// Static because the core takes no memory after start-up and a worst-case
// entry is too large for the task's stack; the two families flush one after
// the other and share it.
uint8_t sBatch[HW_BATCH_BYTES + HW_ROUTE_ENTRY_MAX];

// Counts hwRouteUpdate calls, so that a destination refused in this call is
// not tried again before the next one.
uint32_t sFlushCall = 0;

bool kernelInputWaiting() {
    if (ghwRoute.notifySock == 0) return false;
    int bytes = 0;
    if (ioctl(ghwRoute.notifySock, FIONREAD, &bytes) != 0) return false;
    return bytes > 0;
}

// ---- destinations that keep failing ----------------------------------------
//
// A refused batch says nothing about which of its destinations the hardware
// would not take, so every one of them becomes a suspect and is sent in a
// batch of its own from then on: the good ones get through on their next
// try and stop being suspects, while one the hardware keeps refusing no
// longer holds its former batch-mates back. A suspect is retried once per
// flush call, without limit. The list only holds addresses for comparison
// (a freed destination's entry merely ages out), and when it is full the
// oldest entry gives way. It is emptied whenever its ready list is found
// empty (no suspect can be waiting then) and when the take counter shows a
// fresh state (start-up or cleared statistics), so no address can outlive
// the destinations it stood for by more than one drained list.
constexpr uint32_t kSuspects = 32;

struct SuspectList {
    const void* dest[kSuspects];
    uint32_t failedCall[kSuspects];
    uint32_t next;

    int find(const void* d) const {
        for (uint32_t i = 0; i < kSuspects; ++i)
            if (dest[i] == d) return int(i);
        return -1;
    }
    void note(const void* d) {
        int i = find(d);
        if (i < 0) {
            i = int(next);
            next = (next + 1) % kSuspects;
        }
        dest[i] = d;
        failedCall[i] = sFlushCall;
    }
    void drop(const void* d) {
        const int i = find(d);
        if (i >= 0) dest[i] = nullptr;
    }
    void clear() {
        for (const void*& d : dest) d = nullptr;
    }
};

SuspectList sSuspects4;
SuspectList sSuspects6;

// Log a run of refused batches at 1, 10, 100, ... so a stuck one shows
// without flooding the log.
void noteFailure(uint32_t* run, const char* family) {
    (*run)++;
    uint32_t p = 1;
    while (p < *run && p <= 0xFFFFFFFFu / 10) p *= 10;
    if (p == *run) LOG("update %s routes item failed %u times in a row", family, *run);
}

// ---- IPv4 settlement --------------------------------------------------------

using Nh = HwRouteNexthop;
using Nh6 = HwRoute6Nexthop;

// The held neighbour (ARP or ND6) a removed path depended on loses one
// dependant, and goes when it has none left (true) - unless it is wanted
// still (the kernel has reported it again and its host entry waits for a
// retry, or it became the router's own address): then it only stops being held.
template <class Node>
bool lastDependantGone(Node* nb) {
    if (nb->refCnt > 0) nb->refCnt--;
    if (nb->refCnt != 0) return false;
    if (nb->status == hwStatusAddAbnormal || (nb->flag & ARP_FLAG_LOCAL)) {
        nb->flag &= uint8_t(~ARP_FLAG_HELD);
        return false;
    }
    return true;
}

void releaseHeldArp(const Nh* n) {
    uint32_t vrf = 0;
    if (!hwNexthopEffectiveVrf(n, &vrf)) return;
    for (HwArpNode* arp = hwArpFind(vrf, n->nextHop); arp != nullptr; arp = hwArpFindNext(arp)) {
        if (!(arp->flag & ARP_FLAG_HELD)) continue;
        if (!lastDependantGone(arp)) return;
        hwArpTableDelete(arp);
        hwArpNodeFree(arp);
        return;
    }
}

// Step 1, the label part. Returns false when the path is to be left entirely
// as it is (a label addition still waiting for its neighbour).
template <class N>
bool settleLabel(N* n, uint32_t* vpnCnt, uint32_t* cardupVpnCnt, uint32_t* swVpnDelCnt) {
    const uint32_t f = n->flag;
    if (f & (NH_VPN_DELETED | NH_VPN_NEIGH_LOST)) {
        (*vpnCnt)--;
        (*swVpnDelCnt)++;
        n->flag &= ~NH_VPN;
        if (f & NH_VPN_DELETED) {
            uint32_t* words[HW_MAX_LABELS] = {&n->label1, &n->label2, &n->label3};
            for (uint32_t i = 0; i < n->mplsLabelNum && i < HW_MAX_LABELS; ++i) *words[i] = 0;
            n->mplsLabelNum = 0;
        }
        return true;
    }
    if (!(f & NH_OP_VPN_ADD)) return true;
    if (!(f & NH_RESOLVED)) return false;
    n->flag |= NH_VPN;
    if (f & NH_CARDUP_PEND)
        (*cardupVpnCnt)++;
    else
        (*vpnCnt)++;
    return true;
}

// Step 2, a path that stays.
void settleStaying4(const HwRouteDest* d, Nh* n) {
    const uint32_t f = n->flag;
    if (!(f & NH_OP_ADD)) {
        hwRouteClrAllOp(&n->flag);
        return;
    }
    if (!(f & NH_RESOLVED)) {
        ghwRoute.updateNoArpAddCnt++;
        return;
    }
    if (f & NH_STANDBY) {
        ghwRoute.updateBackupAddCnt++;
        n->flag &= ~NH_STANDBY;  // still an add candidate for a later build
        return;
    }
    n->flag |= NH_HW_OK;
    if (f & NH_CARDUP_PEND) {
        ghwRoute.cardupHwOkRouteCnt++;
        n->flag &= ~NH_CARDUP_PEND;
    } else {
        ghwRoute.hwRouteA6Cnt++;
        // The in-hardware counts follow the flag: a path written again while
        // present (a rewrite after a refused delete) is not counted twice.
        if (!(f & NH_HW_OK)) {
            ghwRoute.hwOkRouteCnt++;
            hwRouteProtoCount(d, n, +1);
        }
    }
    hwRouteClrAllOp(&n->flag);
}

// Step 3.4, the software path goes. Returns true when its destination went too.
bool freePath4(HwRouteDest* d, Nh* n) {
    if (n->protoId == HW_PROTO_KERNEL) {
        hwArpFreeAll(n->nVrfId, n->nextHop);  // the local address of a connected route
        hwRouteLocalWeightsClose(d, n);
    }
    if (!(n->flag & NH_RESOLVED)) {
        ghwRoute.updatePendDelCnt++;
        if (!(n->flag & NH_INDIRECT)) hwRouteTablePendDelete(n);
        n->flag |= NH_RESOLVED;
    }
    ghwRoute.updateSwRouteDelCnt++;
    if (n->flag & NH_INDIRECT) hwRouteIndirectTableDelete(n);
    hwRouteNexthopTableDelete(n);
    if (!hwRoutePublicPark(n)) hwRouteNexthopNodeFree(n);
    if (d->nhopRefCnt != 0) return false;
    hwRouteReadyRemove(d);
    hwRouteDestTableDelete(d);
    hwRouteDestNodeFree(d);
    return true;
}

// Step 3, a path that was removed from hardware.
bool settleRemoved4(HwRouteDest* d, Nh* n) {
    if ((n->flag & NH_NEIGH_LOST) && !(n->flag & NH_INDIRECT)) {
        LOG("[hwRouteUpdate] del route destIpAddr:%#x nextHop:%#x ", d->destIp, n->nextHop);
        releaseHeldArp(n);
    }
    const bool wasIn = (n->flag & NH_HW_OK) != 0;
    n->flag &= ~(NH_HW_OK | NH_OP_HW_DEL);
    ghwRoute.hwRouteD5Cnt++;
    if (wasIn) {  // a path that never reached hardware leaves the counts alone
        ghwRoute.hwOkRouteCnt--;
        hwRouteProtoCount(d, n, -1);
    }
    if (n->flag & NH_OP_DEL) return freePath4(d, n);
    if (n->flag & NH_OP_BACKUP) {
        ghwRoute.updateBackUpToDelCnt++;
        n->flag = (n->flag & ~NH_OP_BACKUP) | NH_OP_ADD;  // competes again in a later build
        return false;
    }
    hwRouteClrAllOp(&n->flag);
    return false;
}

// The settlement of one destination after its batch was accepted. Returns
// true when the destination was freed. A path whose delete the build could
// not carry is left as it was, and the destination is queued again so the
// delete goes out next.
bool settleDest4(HwRouteDest* d) {
    bool deferred = false;
    for (Nh* n : hwListOf<&Nh::destLink>(&d->nhopList)) {
        if (n->flag & NH_DEL_DEFERRED) {
            n->flag &= ~NH_DEL_DEFERRED;
            deferred = true;
            continue;
        }
        if (!settleLabel(n, &ghwRoute.hwVpnCnt, &ghwRoute.hwCardupVpnCnt, &ghwRoute.updateSwVpnDelCnt)) continue;
        if (!(n->flag & (NH_OP_DEL | NH_NEIGH_LOST | NH_OP_BACKUP))) {
            settleStaying4(d, n);
            continue;
        }
        if (settleRemoved4(d, n)) return true;
    }
    if (deferred) hwRouteReadyAppend(d);
    return false;
}

// ---- IPv6 settlement --------------------------------------------------------

void releaseHeldNd6(const Nh6* n) {
    uint32_t vrf = 0;
    if (!hwNexthop6EffectiveVrf(n, &vrf)) return;
    for (HwNd6Node* nd = hwNd6Find(vrf, n->nextHop); nd != nullptr; nd = hwNd6FindNext(nd)) {
        if (!(nd->flag & ARP_FLAG_HELD)) continue;
        if (!lastDependantGone(nd)) return;
        hwNd6TableDelete(nd);
        hwNd6NodeFree(nd);
        return;
    }
}

// A local IPv6 address is shared by the local routes counted in localRefCnt:
// the record goes with the last of them.
void releaseLocalNd6(const Nh6* n) {
    hwNd6EachAt(n->nVrfId, n->nextHop, [](HwNd6Node* nd) {
        LOG("update del local nd6 item nextHop=%s,localRefCnt=%d", ip6_sprintf(nd->nextHop), nd->localRefCnt);
        if (nd->localRefCnt != 0) {
            nd->localRefCnt--;
            return;
        }
        if (nd->flag & ARP_FLAG_HELD) {  // freed by the flush that removes its last path
            nd->flag &= uint8_t(~ARP_FLAG_LOCAL);
            return;
        }
        hwNd6TableDelete(nd);
        hwNd6NodeFree(nd);
    });
}

// The local ordinals of the destination's other kernel-protocol paths stay dense.
void closeLocalWeights6(HwRoute6Dest* d, const Nh6* gone) {
    for (Nh6* n : hwListOf<&Nh6::destLink>(&d->nhopList)) {
        if (n == gone || n->protoId != gone->protoId) continue;
        if (n->weight > gone->weight) n->weight--;
    }
}

void settleStaying6(const HwRoute6Dest* d, Nh6* n) {
    const uint32_t f = n->flag;
    if (!(f & NH_OP_ADD)) {
        hwRouteClrAllOp(&n->flag);
        return;
    }
    if (!(f & NH_RESOLVED)) return;
    if (f & NH_STANDBY) {
        n->flag &= ~NH_STANDBY;
        return;
    }
    n->flag |= NH_HW_OK;
    if (f & NH_CARDUP_PEND) {
        ghwRoute.cardupHwOkRoute6Cnt++;
        n->flag &= ~NH_CARDUP_PEND;
    } else {
        ghwRoute.hwRoute6A1Cnt++;
        if (!(f & NH_HW_OK)) {
            ghwRoute.hwOkRoute6Cnt++;
            hwRoute6ProtoCount(d, n, +1);
        }
    }
    hwRouteClrAllOp(&n->flag);
}

bool freePath6(HwRoute6Dest* d, Nh6* n) {
    if (n->protoId == HW_PROTO_KERNEL) {
        releaseLocalNd6(n);
        closeLocalWeights6(d, n);
    }
    if (!(n->flag & NH_RESOLVED)) {
        ghwRoute.updatePend6DelCnt++;
        if (!(n->flag & NH_INDIRECT)) hwRoute6TablePendDelete(n);
        n->flag |= NH_RESOLVED;
    }
    ghwRoute.updateSwRoute6DelCnt++;
    if (n->flag & NH_INDIRECT) hwRoute6IndirectTableDelete(n);
    hwRoute6NexthopTableDelete(n);
    if (!hwRoute6PublicPark(n)) hwRoute6NexthopNodeFree(n);
    if (d->nhopRefCnt != 0) return false;
    hwRoute6ReadyRemove(d);
    hwRoute6DestTableDelete(d);
    hwRoute6DestNodeFree(d);
    return true;
}

bool settleRemoved6(HwRoute6Dest* d, Nh6* n) {
    if ((n->flag & NH_NEIGH_LOST) && !(n->flag & NH_INDIRECT)) releaseHeldNd6(n);
    const bool wasIn = (n->flag & NH_HW_OK) != 0;
    n->flag &= ~(NH_HW_OK | NH_OP_HW_DEL);
    ghwRoute.hwRoute6D1Cnt++;
    if (wasIn) {
        ghwRoute.hwOkRoute6Cnt--;
        hwRoute6ProtoCount(d, n, -1);
    }
    if (n->flag & NH_OP_DEL) return freePath6(d, n);
    if (n->flag & NH_OP_BACKUP) {
        ghwRoute.updateBackUp6ToDelCnt++;
        n->flag = (n->flag & ~NH_OP_BACKUP) | NH_OP_ADD;
        return false;
    }
    hwRouteClrAllOp(&n->flag);
    return false;
}

bool settleDest6(HwRoute6Dest* d) {
    bool deferred = false;
    for (Nh6* n : hwListOf<&Nh6::destLink>(&d->nhopList)) {
        if (n->flag & NH_DEL_DEFERRED) {
            n->flag &= ~NH_DEL_DEFERRED;
            deferred = true;
            continue;
        }
        if (!settleLabel(n, &ghwRoute.hwVpn6Cnt, &ghwRoute.hwCardupVpn6Cnt, &ghwRoute.updateSwVpn6DelCnt)) continue;
        if (!(n->flag & (NH_OP_DEL | NH_NEIGH_LOST | NH_OP_BACKUP))) {
            settleStaying6(d, n);
            continue;
        }
        if (settleRemoved6(d, n)) return true;
    }
    if (deferred) hwRoute6ReadyAppend(d);
    return false;
}

// ---- the two families -------------------------------------------------------

struct Family4 {
    using Dest = HwRouteDest;
    using Nexthop = HwRouteNexthop;
    static constexpr uint32_t kHdrLen = HW_ROUTE4_HDR_LEN;
    static constexpr uint32_t kObjectId = HW_OBJ_ROUTE4;
    static constexpr const char* kName = "ipv4";
    static HwListLink* readyList() { return &ghwRoute.readyList; }
    static uint32_t& readyCnt() { return ghwRoute.readyRouteCnt; }
    static uint32_t& errCnt() { return ghwRoute.hwErrRouteCnt; }
    static uint32_t& failRun() { return hwRouteFlushFailRun; }
    static uint32_t& soloCnt() { return hwRouteFlushSoloCnt; }
    static SuspectList& suspects() { return sSuspects4; }
    static uint32_t& takeCnt() { return ghwRoute.updateReadyDelCnt; }
    static void take(Dest* d) {
        takeCnt()++;
        hwRouteReadyTableDelete(d);
    }
    static void countSend() { ghwRoute.updateSendMsgCnt++; }
    static void build(uint8_t* entry, uint32_t* len, Dest* d) { hwRouteInsertDataToBuf(entry, len, d); }
    static bool settle(Dest* d) { return settleDest4(d); }
    static void logResult(bool ok) {
        if (ok)
            LOG("update ipv4 routes item success");
        else
            LOG("update ipv4 routes item failed");
    }
};

struct Family6 {
    using Dest = HwRoute6Dest;
    using Nexthop = HwRoute6Nexthop;
    static constexpr uint32_t kHdrLen = HW_ROUTE6_HDR_LEN;
    static constexpr uint32_t kObjectId = HW_OBJ_ROUTE6;
    static constexpr const char* kName = "ipv6";
    static HwListLink* readyList() { return &ghwRoute.ready6List; }
    static uint32_t& readyCnt() { return ghwRoute.readyRoute6Cnt; }
    static uint32_t& errCnt() { return ghwRoute.hwErrRoute6Cnt; }
    static uint32_t& failRun() { return hwRoute6FlushFailRun; }
    static uint32_t& soloCnt() { return hwRoute6FlushSoloCnt; }
    static SuspectList& suspects() { return sSuspects6; }
    static uint32_t& takeCnt() { return ghwRoute.updateReady6DelCnt; }
    static void take(Dest* d) {
        takeCnt()++;
        hwRoute6ReadyTableDelete(d);
    }
    static void countSend() {}
    static void build(uint8_t* entry, uint32_t* len, Dest* d) { hwRoute6InsertDataToBuf(entry, len, d); }
    static bool settle(Dest* d) { return settleDest6(d); }
    static void logResult(bool ok) {
        if (ok)
            LOG("update ipv6 routes item success");
        else
            LOG("update ipv6 routes item failed");
    }
};

// ---- one batch ---------------------------------------------------------------

template <class F>
struct Batch {
    HwListLink list;         // taken destinations, newest first, through their ready link
    uint32_t used = 0;       // entry bytes in sBatch
    uint32_t allowance = 0;  // label bytes of the destinations walked so far
    bool solo = false;       // carries one destination on its own
};

template <class F>
uint32_t labelBytes(typename F::Dest* d) {
    uint32_t bytes = 0;
    for (typename F::Nexthop* n : hwListOf<&F::Nexthop::destLink>(&d->nhopList))
        bytes += HW_LABEL_REC_LEN * n->mplsLabelNum;
    return bytes;
}

// Back where it was on the ready list, in front of `next`: its entry did not
// fit this batch after all (it came out longer than its estimate).
template <class F>
void putBack(typename F::Dest* d, HwListLink* next) {
    hwListRemove(&d->readyLink);
    hwListInsertAfter(next->prev, &d->readyLink);
    d->readyState = 1;
    F::readyCnt()++;
}

enum class Walk { Go, Stop };

// Step 3 for one ready destination.
//
// A destination goes in a batch of its own when it is a suspect (see
// SuspectList) or when its estimate alone passes the length the 8-bit `size`
// field can carry (this includes every destination whose estimate alone
// exceeds the batch: without this rule it would stop the walk for good and
// block every destination behind it). Its entry is built in the room past
// the batch bytes, so no estimate can overflow the buffer.
template <class F>
Walk offer(Batch<F>& b, typename F::Dest* d, HwListLink* next) {
    if (d->routeFailState == 1) {
        d->routeFailState = 0;
        return Walk::Go;
    }
    const int s = F::suspects().find(d);
    if (s >= 0 && F::suspects().failedCall[s] == sFlushCall) return Walk::Go;

    const uint32_t labels = labelBytes<F>(d);
    const uint32_t own = F::kHdrLen + HW_NHOP_REC_LEN * d->nhopRefCnt;
    b.allowance += labels;
    const bool alone = s >= 0 || own + labels > HW_SIZE_FIELD_MAX_BYTES;
    if (alone && b.used != 0) return Walk::Stop;  // heads the next batch
    if (!alone && b.used + own + b.allowance > HW_BATCH_BYTES) return Walk::Stop;

    F::take(d);
    hwListInsertFront(&b.list, &d->readyLink);
    uint32_t len = 0;
    F::build(sBatch + b.used, &len, d);
    if (len == 0) {
        // Nothing to send: the hardware already agrees, so the destination
        // is settled at once (a deleted path that is out of hardware is
        // freed, a lost neighbour's hold released) instead of being left
        // off the ready list with its marks for good.
        hwListRemove(&d->readyLink);
        F::settle(d);
        return Walk::Go;
    }
    const bool tooLong = len > HW_SIZE_FIELD_MAX_BYTES || b.used + len > HW_BATCH_BYTES;
    if (tooLong && b.used != 0) {
        putBack<F>(d, next);
        return Walk::Stop;
    }
    b.used += len;
    if (!alone && !tooLong) return Walk::Go;
    b.solo = true;
    return Walk::Stop;
}

template <class F>
void collect(Batch<F>& b) {
    HwListLink* head = F::readyList();
    for (HwListLink* cur = head->next; cur != head;) {
        HwListLink* next = cur->next;
        if (offer(b, ownerOf<&F::Dest::readyLink>(cur), next) == Walk::Stop) return;
        cur = next;
    }
}

template <class F>
void accepted(Batch<F>& b) {
    for (typename F::Dest* d : hwListOf<&F::Dest::readyLink>(&b.list)) {
        hwListRemove(&d->readyLink);
        F::suspects().drop(d);
        F::settle(d);
    }
    F::failRun() = 0;
    F::logResult(true);
}

// The batch goes back in front of the ready list in its own order; its
// next hops keep their bits, so the same changes are built again later.
template <class F>
void refused(Batch<F>& b) {
    for (typename F::Dest* d : hwListOf<&F::Dest::readyLink>(&b.list)) {
        F::errCnt()++;
        F::readyCnt()++;
        d->routeFailState = 1;
        d->readyState = 1;
        F::suspects().note(d);
    }
    while (!hwListEmpty(&b.list)) {
        HwListLink* last = b.list.prev;
        hwListRemove(last);
        hwListInsertFront(F::readyList(), last);
    }
    F::logResult(false);
    noteFailure(&F::failRun(), F::kName);
}

template <class F>
void send(Batch<F>& b) {
    if (b.solo) F::soloCnt()++;
    F::countSend();
    if (hwSendEntries(F::kObjectId, sBatch, b.used) == 0)
        accepted(b);
    else
        refused(b);
}

template <class F>
void flushFamily() {
    if (F::takeCnt() == 0) {
        F::suspects().clear();
        F::failRun() = 0;
    }
    for (;;) {
        if (hwListEmpty(F::readyList())) {
            F::suspects().clear();
            return;
        }
        if (kernelInputWaiting()) return;  // kernel input before more hardware work
        Batch<F> b;
        hwListInit(&b.list);
        std::memset(sBatch, 0, HW_BATCH_BYTES);
        collect(b);
        if (b.used != 0) send(b);
        hwRoutePublicUnpark();    // paths freed by this batch let their public routes go
        if (b.used == 0) return;  // taken destinations with nothing to send stay off the list
    }
}

}  // namespace

void hwRouteUpdate(void) {
    sFlushCall++;
    flushFamily<Family4>();
    flushFamily<Family6>();
    hwAbnormalRetry();  // refused direct writes, after the queued changes went out
}
