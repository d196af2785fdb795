// MPLS incoming-label entries, layer-2 VPN entries and tunnels.
#pragma once

#include <cstdint>

#include "hwroute/records.h"

int hwRouteIlmAdd(HwRouteIlmNode* request);
int hwRouteIlmDel(HwRouteIlmNode* request);

int hwRouteL2vpnAdd(HwRouteL2vpnNode* request, uint32_t publicFamily, void* publicDestKey, void* publicNexthopKey);
int hwRouteL2vpnDel(HwRouteL2vpnNode* request);
int hwRouteL2vpnDelProcess(HwRouteL2vpnNode* entry);
// True when a layer-2 VPN entry other than `except`, not waiting for its
// neighbour, rides on the public next hop `pub` through a remote edge other
// than (lostFamily, lostAddress16); a null address excludes no edge.
bool hwL2vpnKeepsPublic(const void* pub, const HwRouteL2vpnNode* except, uint32_t lostFamily,
                        const uint8_t* lostAddress16);

// Exported entry points: the only way tunnels enter.
int hwRouteTunAdd(HwRouteTunNode* request);
int hwRouteTunDel(HwRouteTunNode* request);
int hwRouteTunNotifier(uint32_t tunUnit);

// Tunnel outcomes that have no counter in the counter dump.
struct HwTunStats {
    uint32_t addBoundCnt;     // bound and written (or refused by the hardware)
    uint32_t addDropCnt;      // neither a neighbour nor a covering destination: not kept
    uint32_t addExistCnt;     // an equal tunnel was there already
    uint32_t addNoMemCnt;     // tunnel pool empty
    uint32_t addIfErrCnt;     // type 100: the interface query failed
    uint32_t addTickErrCnt;   // type 100: creation ticks differ
    uint32_t delCnt;          // removed
    uint32_t delNotFoundCnt;  // no equal tunnel
    uint32_t delHwErrCnt;     // the hardware refused the delete; the tunnel stays
};
extern HwTunStats ghwTunStats;

// Runs what the platform's tunnel software asked for since the last pass:
// its removals, then (when due) an add of every tunnel it wants that the
// tunnel list does not hold. Called by the worker task between passes.
void hwRouteTunWatchRun(void);
