// The notification reader: every datagram already queued, bounded per pass.
//
// Deliberately not one datagram per pass: a kernel loading a full table sends
// a route every few tens of microseconds, and a reader that flushes and probes
// between two datagrams falls behind until the socket overflows. Reading the
// whole queue (up to a count and a time per pass) keeps up, and management
// requests, the flush and the probes still run at least once a second.
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <cstdio>

#include "hwroute/debug.h"
#include "hwroute/global.h"
#include "hwroute/intake.h"
#include "hwroute/resync.h"

int32_t hwRtnotifyRcvBuf = 2000000;

namespace {

// Static, not on the task's stack: a real link message (about 1.5 KB) and
// a dump part (up to 32 KB) both fit whole.
uint8_t gNotifyBuf[HW_NOTIFY_BUF_LEN];

ssize_t socketRecv(int fd, uint8_t* buf, size_t cap, bool* truncated) {
    iovec iov{buf, cap};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
    *truncated = n >= 0 && (msg.msg_flags & MSG_TRUNC) != 0;
    return n;
}

HwNotifyRecvFn gRecv = socketRecv;

uint64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void printOut(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// Notifications were lost: count, say so once, and ask for the kernel's tables.
void overrun() {
    ++ghwRoute.rcvOverrunCnt;
    hwRouteDebug(HW_DBG_START, 0, "[hwRouteTask]=>notification socket overrun, resynchronising with the kernel.");
    hwResyncRequest();
}

void recvFailed(int err) {
    printOut("\n\r hwRouteTask recv error\n\r");
    ghwRoute.rcvErrNum++;
    if (hwRtErrDebug != 0) printOut("\n\r hwRouteTask recv msg error.\n\r");
    if (err == ENOBUFS) overrun();
}

}  // namespace

void hwRtnotifySetRecv(HwNotifyRecvFn fn) { gRecv = fn != nullptr ? fn : socketRecv; }

uint32_t hwRtnotifyDrain(void) {
    const uint64_t start = nowMs();
    uint32_t walked = 0;
    for (uint32_t attempt = 0; attempt < HW_NOTIFY_PASS_MAX; ++attempt) {
        if ((attempt & 63u) == 63u && nowMs() - start >= HW_NOTIFY_PASS_MS) break;
        bool truncated = false;
        errno = 0;
        ssize_t n = gRecv(ghwRoute.notifySock, gNotifyBuf, sizeof gNotifyBuf, &truncated);
        const int err = errno;
        // The queue is empty: the normal end of a pass that read something.
        if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK) && attempt > 0) break;
        ghwRoute.totalRouteMsgNum++;
        if (n <= 0) {
            recvFailed(err);
            // After an overrun the socket goes on delivering; anything else ends the pass.
            if (err == ENOBUFS) continue;
            break;
        }
        if (truncated) ++ghwRoute.rcvTruncCnt;
        const int len = n > static_cast<ssize_t>(sizeof gNotifyBuf) ? static_cast<int>(sizeof gNotifyBuf)
                                                                     : static_cast<int>(n);
        if (hwRtnotifyRecv(gNotifyBuf, len) == 0) ghwRoute.notifyOkNum++;
        ++walked;
    }
    return walked;
}
