// The global state record `ghwRoute` and its node pools. Zeroed and filled
// once at start-up, then touched only by the worker task.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwroute/list.h"
#include "hwroute/records.h"

constexpr uint32_t HW_DEST_BUCKETS = 1024;
constexpr uint32_t HW_NHOP_BUCKETS = 128;
constexpr uint32_t HW_STATS_VRFS = 2048;
constexpr uint32_t HW_STATS_PROTOS = 16;

using HwProtoStats = uint32_t[HW_STATS_VRFS][HW_STATS_PROTOS];

// A pool is a link pair heading a list of free, zeroed elements.
using NodePool = HwListLink;

struct HwRouteGlobal {
    NodePool ilmPool;
    NodePool l2vpnPool;
    NodePool tunPool;
    NodePool arpPool;
    HwListLink routeTable[HW_DEST_BUCKETS];
    HwListLink nexthopTable[HW_NHOP_BUCKETS];
    HwListLink pendTable[HW_NHOP_BUCKETS];
    HwListLink readyList;
    HwListLink indirectList;
    HwListLink ilmList;
    HwListLink ilmPendList;
    HwListLink l2vpnList;
    HwListLink l2vpnPendList;
    HwListLink tunList;
    HwListLink arpTable[HW_NHOP_BUCKETS];
    uint32_t routeSem;
    uint32_t debugMask;
    int32_t debugLevel;
    int32_t ecmpMaxNum;
    int32_t notifySock;
    int32_t nmSock;
    HwProtoStats swRouteProtoStats;
    HwProtoStats hwRouteProtoStats;
    HwProtoStats swRouteProtoAddStats;
    HwProtoStats swRouteProtoDelStats;
#define HW_SECTION(verbose, title)
#define HW_SOCKET_LINE()
#define HW_COUNTER(field, label, sep) uint32_t field;
#define HW_VALUE(field, label, sep)
#define HW_EOL(suffix)
#include "hwroute/counters4.def"
    uint32_t routeMax;
    uint32_t arpMax;
    uint32_t unused[2];
    uint32_t slotUpFlag;
    uint32_t cardUpFlag;
    uint32_t resendRouteFlag;
    NodePool destPool;
    NodePool nexthopPool;
    NodePool nd6Pool;
    HwListLink route6Table[HW_DEST_BUCKETS];
    HwListLink nexthop6Table[HW_NHOP_BUCKETS];
    HwListLink pend6Table[HW_NHOP_BUCKETS];
    HwListLink ready6List;
    HwListLink indirect6List;
    HwListLink nd6Table[HW_NHOP_BUCKETS];
    HwProtoStats swRoute6ProtoStats;
    HwProtoStats hwRoute6ProtoStats;
    HwProtoStats swRoute6ProtoAddStats;
    HwProtoStats swRoute6ProtoDelStats;
#include "hwroute/counters6.def"
#undef HW_SECTION
#undef HW_SOCKET_LINE
#undef HW_COUNTER
#undef HW_VALUE
#undef HW_EOL
    uint32_t nd6Max;
};

extern HwRouteGlobal ghwRoute;

// One entry of the printed counter list (see counters4.def).
struct HwCounterItem {
    enum Kind : uint8_t { Section, SocketLine, Counter, Value, EndOfLine } kind;
    bool verbose;           // Section only
    const char* text;       // Section: title; Counter/Value: label; EndOfLine: suffix
    const char* sep;        // Counter/Value: between label and value
    uint32_t HwRouteGlobal::*field;  // Counter/Value
};

// The IPv4 block followed by the IPv6 block, in definition order.
extern const HwCounterItem hwCounterItems[];
extern const std::size_t hwCounterItemCount;
constexpr std::size_t HW_COUNTERS4 = 269;
constexpr std::size_t HW_COUNTERS6 = 212;

// Pools.
using HwAllocFn = void* (*)(std::size_t count, std::size_t size);
using HwFreeFn = void (*)(void*);

int hwRouteMemInit(NodePool* head, uint32_t size, uint32_t count, HwAllocFn alloc);

HwRouteDest* hwRouteDestNodeAlloc(void);
int hwRouteDestNodeFree(HwRouteDest* node);
HwRoute6Dest* hwRoute6DestNodeAlloc(void);
int hwRoute6DestNodeFree(HwRoute6Dest* node);
HwRouteNexthop* hwRouteNexthopNodeAlloc(void);
int hwRouteNexthopNodeFree(HwRouteNexthop* node);
HwRoute6Nexthop* hwRoute6NexthopNodeAlloc(void);
int hwRoute6NexthopNodeFree(HwRoute6Nexthop* node);
HwRouteIlmNode* hwRouteIlmNodeAlloc(void);
int hwRouteIlmNodeFree(HwRouteIlmNode* node);
HwRouteL2vpnNode* hwRouteL2vpnNodeAlloc(void);
int hwRouteL2vpnNodeFree(HwRouteL2vpnNode* node);
HwRouteTunNode* hwRouteTunNodeAlloc(void);
int hwRouteTunNodeFree(HwRouteTunNode* node);
HwArpNode* hwArpNodeAlloc(void);
int hwArpNodeFree(HwArpNode* node);
HwNd6Node* hwNd6NodeAlloc(void);
int hwNd6NodeFree(HwNd6Node* node);

// Number of free elements of a pool (walks the free list; for tests and tools).
uint32_t hwPoolFreeCount(const NodePool* head);

void hwRouteLock(void);
void hwRouteUnlock(void);
