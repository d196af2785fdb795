// Start-up and the worker task. Start-up sizes and builds ghwRoute, opens the
// notification and management sockets and starts the one worker task that
// owns all state from then on.
#include <sys/select.h>
#include <sys/socket.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "hwroute/abnormal.h"
#include "hwroute/debug.h"
#include "hwroute/frame.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/management.h"
#include "hwroute/mpls.h"
#include "hwroute/platform.h"
#include "hwroute/resync.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

namespace {

// Highest descriptor fixed when the worker task starts; -1 until then. A pass
// run outside the task (tests, tools) takes the descriptors as they are now.
int taskMaxFd = -1;

int currentMaxFd() { return ghwRoute.notifySock > ghwRoute.nmSock ? ghwRoute.notifySock : ghwRoute.nmSock; }

// A count plus half of itself, by integer shift: 100 gives 150, 7 gives 10.
// Unsigned, so an absurd argument wraps instead of overflowing; such a pool
// then fails to allocate and stays empty.
uint32_t plusHalf(int32_t n) {
    const auto u = static_cast<uint32_t>(n);
    return u + (u >> 1);
}

void initHeads(HwListLink* heads, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) hwListInit(&heads[i]);
}

void initAllHeads() {
    HwRouteGlobal& g = ghwRoute;
    initHeads(g.routeTable, HW_DEST_BUCKETS);
    initHeads(g.route6Table, HW_DEST_BUCKETS);
    initHeads(g.nexthopTable, HW_NHOP_BUCKETS);
    initHeads(g.pendTable, HW_NHOP_BUCKETS);
    initHeads(g.arpTable, HW_NHOP_BUCKETS);
    initHeads(g.nexthop6Table, HW_NHOP_BUCKETS);
    initHeads(g.pend6Table, HW_NHOP_BUCKETS);
    initHeads(g.nd6Table, HW_NHOP_BUCKETS);
    for (HwListLink* head : {&g.readyList, &g.indirectList, &g.ilmList, &g.ilmPendList, &g.l2vpnList,
                             &g.l2vpnPendList, &g.tunList, &g.ready6List, &g.indirect6List})
        hwListInit(head);
}

void printOut(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// Descriptor 0 means "not open" and is never watched. A descriptor outside
// the 1024-bit set cannot be watched either; leaving it out keeps select from
// writing past the set.
void watch(int fd, fd_set* set) {
    if (fd > 0 && fd < FD_SETSIZE) FD_SET(fd, set);
}

bool readable(int fd, const fd_set* set) { return fd > 0 && fd < FD_SETSIZE && FD_ISSET(fd, set); }

uint64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// A card-up, slot-up or resend seen in this or an earlier pass: one replay for all.
void replayAfterCardUp() {
    if (ghwRoute.slotUpFlag == 0 && ghwRoute.cardUpFlag == 0 && ghwRoute.resendRouteFlag == 0) return;
    hwRouteCardupProcess();
    ghwRoute.slotUpFlag = 0;
    ghwRoute.cardUpFlag = 0;
    ghwRoute.resendRouteFlag = 0;
}

}  // namespace

void hwRouteStateInit(int32_t routeMax, int32_t arpNum, int32_t nd6Num, int32_t ecmpMaxNum, int32_t ilmNum,
                      int32_t l2vpnNum, int32_t tunNum, HwAllocFn alloc) {
    HwRouteGlobal& g = ghwRoute;
    std::memset(&g, 0, sizeof(g));

    g.routeMax = static_cast<uint32_t>(routeMax);
    g.arpMax = plusHalf(arpNum);
    g.nd6Max = plusHalf(nd6Num);
    g.ecmpMaxNum = ecmpMaxNum;

    // A pool that cannot be built stays empty; its users report the failed allocations.
    hwRouteMemInit(&g.destPool, HW_DEST_NODE_SIZE, g.routeMax, alloc);
    hwRouteMemInit(&g.nexthopPool, HW_NEXTHOP_NODE_SIZE, plusHalf(routeMax), alloc);
    hwRouteMemInit(&g.ilmPool, HW_ILM_NODE_SIZE, static_cast<uint32_t>(ilmNum), alloc);
    hwRouteMemInit(&g.l2vpnPool, HW_L2VPN_NODE_SIZE, static_cast<uint32_t>(l2vpnNum), alloc);
    hwRouteMemInit(&g.tunPool, HW_TUN_NODE_SIZE, static_cast<uint32_t>(tunNum), alloc);
    hwRouteMemInit(&g.arpPool, HW_ARP_NODE_SIZE, g.arpMax, alloc);
    hwRouteMemInit(&g.nd6Pool, HW_ND6_NODE_SIZE, g.nd6Max, alloc);
    hwTableIndexInit(alloc);

    initAllHeads();
    hwResyncInit(alloc);

    // Refused direct writes, retried from each pass's flush: one hook per kind.
    hwAbnormalReset();
    hwAbnormalRegister(HW_ABN_ROUTE4, hwRouteAbnormalRetry);
    hwAbnormalRegister(HW_ABN_ARP, hwArpAbnormalRetry);
    hwAbnormalRegister(HW_ABN_ROUTE6, hwRoute6AbnormalRetry);
    hwAbnormalRegister(HW_ABN_ND6, hwNd6AbnormalRetry);
    hwAbnormalRegister(HW_ABN_ILM, hwIlmAbnormalRetry);
    hwAbnormalRegister(HW_ABN_L2VPN, hwL2vpnAbnormalRetry);
    hwAbnormalRegister(HW_ABN_TUN, hwTunAbnormalRetry);
}

int hwRouteInitEx(int32_t routeMax, int32_t arpNum, int32_t nd6Num, int32_t ecmpMaxNum, int32_t ilmNum,
                  int32_t l2vpnNum, int32_t tunNum, HwAllocFn alloc, HwFreeFn /*release*/) {
    // The release function is never called: pools live as long as the process.
    hwRouteStateInit(routeMax, arpNum, nd6Num, ecmpMaxNum, ilmNum, l2vpnNum, tunNum, alloc);

    if (hwRtnotifyInit(&ghwRoute) != 0) {
        hwRouteDebug(HW_DBG_START, 0, "hwRtnotifyInit failed");
        return -1;
    }
    ghwRoute.nmSock = hwRouteNmSockOpen();
    if (ghwRoute.nmSock < 0) {
        printOut("\n\r hwRouteInitEx create nm socket ERROR!");
        return -1;
    }
    ghwRoute.routeSem = OsixCreateMSem(5);
    uint32_t taskId = 0;
    OsixCreateTask("hwRoute", 45, 0x80000, hwRouteTask, 0, 0, &taskId);
    hwRouteDebug(HW_DBG_START, 0, "HW route initialize finish !");
    return 0;
}

int hwRouteInit(int32_t routeMax, int32_t arpNum, int32_t nd6Num, int32_t ecmpMaxNum, int32_t ilmNum,
                int32_t l2vpnNum, int32_t tunNum) {
    return hwRouteInitEx(routeMax, arpNum, nd6Num, ecmpMaxNum, ilmNum, l2vpnNum, tunNum, std::calloc, std::free);
}

void hwRouteTask(void) {
    // Sockets opened or closed later are not seen by the loop.
    taskMaxFd = currentMaxFd();
    if (hwResyncAtStart) {
        hwResyncRequest();
        (void)hwResyncPass(monotonicMs());
    }
    for (;;) hwRouteTaskPass();
}

void hwRouteTaskPass(void) {
    const int notifySock = ghwRoute.notifySock;
    const int nmSock = ghwRoute.nmSock;
    const int maxFd = taskMaxFd >= 0 ? taskMaxFd : currentMaxFd();

    fd_set readSet;
    FD_ZERO(&readSet);
    watch(notifySock, &readSet);
    watch(nmSock, &readSet);
    timeval timeout{1, 0};

    // Never ask select to look beyond the 1024-bit set.
    const int nfds = maxFd + 1 < FD_SETSIZE ? maxFd + 1 : FD_SETSIZE;
    int ready = select(nfds, &readSet, nullptr, nullptr, &timeout);
    if (ready < 0) {
        printOut("\n\r hwRouteTask select error !\n\r");
    } else if (ready > 0) {
        // Only a positive result makes the set meaningful: after a timeout
        // the kernel leaves the bits of descriptors beyond its table as they
        // were. A management request waiting together with a notification is
        // served first.
        if (readable(nmSock, &readSet)) hwRouteNmSockRcv();
        if (readable(notifySock, &readSet)) (void)hwRtnotifyDrain();
    }
    // Lost notifications (or a resync that failed and waited out its back-off).
    (void)hwResyncPass(monotonicMs());

    hwRouteUpdate();
    replayAfterCardUp();
    hwRoutePendCheck();
    hwRoute6PendCheck();
    hwRouteTunWatchRun();
}
