// Resynchronisation with the kernel's tables: after notifications were lost
// (the notification socket overran) and, on request, at start-up. The kernel
// dumps its links, neighbours and routes on a second socket; every entry goes
// through the same decoders and handlers as a notification, and afterwards
// every route path and neighbour learnt from the kernel that the dump did not
// contain is removed through the normal delete handlers (mark and sweep).
#pragma once

#include <cstdint>

#include "hwroute/global.h"
#include "hwroute/records.h"

// --sync-at-start: one resync before the loop's first pass.
extern bool hwResyncAtStart;

// Builds the mark bitmaps beside the next-hop, ARP and ND6 pools and resets
// the resync state. Called by start-up right after the pools are built.
void hwResyncInit(HwAllocFn alloc);

// Ask for a resync at the next chance.
void hwResyncRequest(void);
bool hwResyncWanted(void);

// Called once per loop pass: runs a wanted resync when its back-off has
// passed. Returns 1 after a complete resync, -1 after a failed one, 0 when
// nothing was due.
int hwResyncPass(uint64_t nowMs);

// One resync now: dump everything, sweep only if every dump was complete.
// Returns 0 when complete, -1 when a dump failed or was cut short.
int hwResyncRun(void);

// The steps of a resync, for the run above and for tests.
void hwResyncBegin(void);
// One dump datagram: 1 wants more, 0 the dump ended well, -1 it failed
// (error report, interrupted dump).
int hwResyncFeed(const uint8_t* buf, int len);
// Ends the resync; sweeps only when `complete`.
void hwResyncEnd(bool complete);

// Where dump requests go and their answers come from. The default is a
// second netlink socket; tests install their own.
struct HwDumpTransport {
    int (*request)(uint16_t type, uint8_t family);  // 0 when sent
    int (*recv)(uint8_t* buf, int cap);              // bytes, or -1
};
void hwResyncSetTransport(const HwDumpTransport* transport);

// Back-off before retrying after `failures` failed resyncs, in milliseconds.
uint32_t hwResyncBackoffMs(uint32_t failures);

// Decoder hooks, called after a kernel entry went to its add handler; they
// mark the stored record while a resync runs (and count an entry that found
// no room), and do nothing otherwise.
void hwResyncSeenRoute(const HwRouteDest* dest, const HwRouteNexthop* nexthop);
void hwResyncSeenRoute6(const HwRoute6Dest* dest, const HwRoute6Nexthop* nexthop);
void hwResyncSeenArp(const HwArpNode* arp);
void hwResyncSeenNd6(const HwNd6Node* nd6);
