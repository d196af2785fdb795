// Kernel notification intake: the notification socket, the datagram walk and
// the message decoders.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "hwroute/global.h"

int hwRtnotifyInit(HwRouteGlobal* g);
int hwRtnotifyShutdown(HwRouteGlobal* g);
int hwRtnotifyRecv(const uint8_t* buf, int len);

int hwIfUpDown(uint32_t ifUnit, uint32_t event);

// Text and mask helpers.
void in_len2mask(void* buf, int len);
char* inet_ntoa_2(char* buf, uint32_t addr);
const char* ip6_sprintf(const uint8_t* addr);

// Attribute walk: calls fn(type, payload, payloadLen) for every attribute
// that fits, starting `offset` bytes into the message of length `msgLen`.
using HwAttrFn = void (*)(void* ctx, uint16_t type, const uint8_t* payload, uint32_t len);
void hwRtnotifyAttrWalk(const uint8_t* msg, uint32_t msgLen, uint32_t offset, HwAttrFn fn, void* ctx);

// ---- Reader: every queued datagram of a pass, bounded ----------------------

// Receive buffer asked of the kernel for the notification socket (--rcvbuf).
extern int32_t hwRtnotifyRcvBuf;

// Largest datagram read whole; a longer one is counted ("rcvTruncCnt") and
// walked as far as it fits.
constexpr uint32_t HW_NOTIFY_BUF_LEN = 65536;
// At most this many datagrams, and at most this long, per pass.
constexpr uint32_t HW_NOTIFY_PASS_MAX = 4096;
constexpr uint32_t HW_NOTIFY_PASS_MS = 250;

// How a datagram is received: as recv(2) (-1 with errno on failure), with
// *truncated set when the datagram was longer than `cap`. Tests install
// their own; null restores the socket.
using HwNotifyRecvFn = ssize_t (*)(int fd, uint8_t* buf, size_t cap, bool* truncated);
void hwRtnotifySetRecv(HwNotifyRecvFn fn);

// Reads and walks the datagrams queued on the notification socket. Returns
// the number of datagrams walked.
uint32_t hwRtnotifyDrain(void);
