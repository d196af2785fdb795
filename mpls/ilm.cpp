// MPLS incoming-label (ILM) entries: stored in the ILM table, written to
// hardware at once when they need no neighbour or their neighbour is known,
// otherwise probed for and parked on the ILM pend list until the neighbour
// add releases them.
//
// Status of an entry (hardware status codes):
//   2 stored    add; leaving the pend list; hardware delete accepted
//   3 waiting   add without neighbour; neighbour delete (on the pend list
//               exactly while in this state)
//   1 in hw     hardware add accepted
//   4 / 5       hardware add / delete refused
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/frame.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/mpls.h"
#include "hwroute/platform.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

namespace {

#define ILM_LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

constexpr uint8_t kIlmTransit = 0x01;  // label switched to a next hop ("p node")
constexpr uint8_t kMaxLabels = 3;
constexpr uint32_t kLabelShift = 12;

bool ilmRequestValid(const HwRouteIlmNode* r) {
    return r != nullptr && !(r->ifUnit == 0 && r->inIfUnit == 0 && (r->ilmFlags & kIlmTransit));
}

// A fresh record holding the request, in the ILM table; null when the pool is empty.
HwRouteIlmNode* ilmStore(const HwRouteIlmNode* r) {
    HwRouteIlmNode* ilm = hwRouteIlmNodeAlloc();
    if (ilm == nullptr) {
        ILM_LOG("[hwRouteIlmAdd]=>ERROR: hwRouteIlmAdd node alloc fail.");
        return nullptr;
    }
    *ilm = *r;
    hwListInit(&ilm->pendLink);
    // The record holds three outgoing label words; a longer stack is cut.
    if (ilm->mplsLabelNum > kMaxLabels) ilm->mplsLabelNum = kMaxLabels;
    ILM_LOG("[hwRouteIlmAdd]=>Ilm route add detected,nextHop=%#x,status=%d,vrfId=%d,ilmFlags=%d,mplsLabel=%d,"
            "inLabel=%d.",
            ilm->nextHop, ilm->status, ilm->vrfId, ilm->ilmFlags, ilm->mplsLabel >> kLabelShift,
            ilm->swapLabel >> kLabelShift);
    hwRouteIlmTableAdd(ilm);
    return ilm;
}

bool neighbourResolved(const HwRouteIlmNode* ilm) {
    const HwArpNode* arp = hwArpFind(ilm->vrfId, ilm->nextHop);
    return arp != nullptr && arp->status == hwStatusOk;
}

// Steps 5 to 8: a transit entry needs its next hop's MAC unless its interface is point to point.
int transitAdd(HwRouteIlmNode* ilm) {
    uint32_t endType = 0;
    if (kivIfGetApi(ilm->ifUnit, HW_ATTR_END_TYPE, &endType) != 0) {
        // Neither written nor waiting; an identical add later is answered "route exist".
        ILM_LOG("[hwRouteIlmAdd]=>ILM add detected,get end type error.");
        return -1;
    }
    if (hwIsPointToPoint(endType)) {
        ILM_LOG("[hwRouteIlmAdd]=>ILM add detected,add pos route!.");
        hwUpdateIlmRouteAdd(ilm);
        return 0;
    }
    if (neighbourResolved(ilm)) {
        ILM_LOG("[hwRouteIlmAdd]=>nextHop mac exist,notify route to hardware.");
        hwUpdateIlmRouteAdd(ilm);
        return 0;
    }
    ILM_LOG("[hwRouteIlmAdd]=>nextHop mac not exist, send icmp echo request msg.");
    hwPingSend(ilm->nextHop, ilm->vrfId);
    ilm->status = hwStatusWait;
    hwRouteIlmTablePendAdd(ilm);
    return 0;
}

void ilmForget(HwRouteIlmNode* ilm) {
    hwRouteIlmTableDelete(ilm);
    hwRouteIlmNodeFree(ilm);
}

}  // namespace

int hwRouteIlmAdd(HwRouteIlmNode* request) {
    // 1. Validation.
    if (!ilmRequestValid(request)) {
        ILM_LOG("[hwRouteIlmAdd]=>ERROR: hwRouteIlmAdd receive invalid message.");
        return -1;
    }
    // 2. Duplicate (labels compared without EXP and TTL).
    if (hwRouteIlmTableLookup(request) != nullptr) {
        ILM_LOG("[hwRouteIlmAdd]=>ERROR: hwRouteIlmAdd route exist.");
        return 0;
    }
    // 3. Store.
    HwRouteIlmNode* ilm = ilmStore(request);
    if (ilm == nullptr) return -1;
    // 4. Not a transit entry: written at once.
    if (!(ilm->ilmFlags & kIlmTransit)) {
        ILM_LOG("[hwRouteIlmAdd]=>is not p node,notify route to hardware.");
        hwUpdateIlmRouteAdd(ilm);
        return 0;
    }
    return transitAdd(ilm);
}

int hwRouteIlmDel(HwRouteIlmNode* request) {
    // 1. Validation.
    if (request == nullptr) {
        ILM_LOG("[hwRouteIlmDel]=>ERROR: hwRouteIlmDel receive invalid message.");
        return -1;
    }
    // 2. What was asked.
    ILM_LOG("[hwRouteIlmDel]=>Ilm route del detected,nextHop=%#x,status=%d,vrfId=%d,ilmFlags=%d,mplsLabel=%d,"
            "inLabel=%d.",
            request->nextHop, request->status, request->vrfId, request->ilmFlags, request->mplsLabel >> kLabelShift,
            request->swapLabel >> kLabelShift);
    // 3. Lookup.
    HwRouteIlmNode* ilm = hwRouteIlmTableLookup(request);
    if (ilm == nullptr) {
        ILM_LOG("[hwRouteIlmDel]=>ERROR:no found Ilm entry.");
        return -1;
    }
    // 4. Not in hardware: forgotten at once.
    if (ilm->status == hwStatusIdle || ilm->status == hwStatusWait) {
        if (ilm->status == hwStatusWait) hwRouteIlmTablePendDelete(ilm);
        ilmForget(ilm);
        return 0;
    }
    // 5. Out of hardware. A refused delete still frees the record (a
    // deliberate departure from keeping it with status 5): the abnormal
    // table keeps the delete's bytes and sends them until accepted, and
    // the hardware ok count falls then. A kept record would answer a later
    // add of the same entry "route exist" while its delete is still due.
    const int rc = hwUpdateIlmRouteDel(ilm);
    if (rc == -1) ILM_LOG("[hwRouteIlmDel]=>ERROR: hwRouteIlmDel hwUpdateIlmRouteDel error !");
    ilmForget(ilm);
    return rc;
}
