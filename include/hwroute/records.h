// The records of the data model. Requests decoded by the intake use the same
// layouts, so a handler keeps a request by copying it into a pool element.
#pragma once

#include <cstdint>
#include <type_traits>

#include "hwroute/list.h"

// IPv4 destination.
struct HwRouteDest {
    HwListLink hashLink;   // chain of the destination bucket
    HwListLink readyLink;  // membership of the IPv4 ready list
    uint32_t vrfId;
    uint32_t destIp;
    uint32_t mask;
    uint8_t readyState;
    uint8_t routeFailState;
    uint16_t nhopRefCnt;
    HwListLink tunList;   // tunnels bound to this destination
    HwListLink nhopList;  // next hops, newest first
};

// IPv4 next hop: one path of a destination.
struct HwRouteNexthop {
    HwListLink hashLink;      // next-hop bucket, keyed by nextHop
    HwListLink destLink;      // owning destination's next-hop list
    HwListLink pendLink;      // pending bucket
    HwListLink indirectLink;  // indirect list
    uint32_t nVrfId;
    uint32_t ifUnit;
    uint32_t nextHop;
    uint32_t nextHopExt;  // carried from the request, written to hardware unchanged
    uint8_t protoId;
    uint8_t weight;
    uint8_t ifState;
    uint8_t extFlag;
    uint32_t routeFlag;
    uint32_t flag;
    uint32_t label1;
    uint32_t label2;
    uint32_t label3;
    uint8_t srcMac[6];
    uint8_t mplsLabelNum;
    uint8_t publicFamily;
    uint32_t privateRefCnt;
    uint32_t privateMplsRefCnt;
    uint32_t privateArpRefCnt;
    uint32_t l2vpnRefCnt;
    void* publicRoute;  // HwRouteNexthop or HwRoute6Nexthop by publicFamily
    HwRouteDest* pDestEntry;
};

// IPv6 destination.
struct HwRoute6Dest {
    HwListLink hashLink;
    HwListLink readyLink;
    uint32_t vrfId;
    uint8_t destIpAddr[16];
    uint8_t prefixLen;
    uint8_t readyState;
    uint8_t routeFailState;
    uint8_t nhopRefCnt;
    HwListLink tunList;
    HwListLink nhopList;
};

// IPv6 next hop.
struct HwRoute6Nexthop {
    HwListLink hashLink;
    HwListLink destLink;
    HwListLink pendLink;
    HwListLink indirectLink;
    uint32_t nVrfId;
    uint32_t ifUnit;
    uint8_t nextHop[16];     // an IPv4 next hop (afNextHop 2) uses the first 4 bytes
    uint8_t nextHopExt[16];  // carried from the request
    uint8_t protoId;
    uint8_t weight;
    uint8_t ifState;
    uint8_t extFlag;
    uint32_t routeFlag;
    uint32_t flag;
    uint32_t label1;
    uint32_t label2;
    uint32_t label3;
    uint8_t srcMac[6];
    uint8_t afNextHop;
    uint8_t addrPos;
    uint8_t mplsLabelNum;
    uint8_t publicFamily;
    uint16_t privateRefCnt;
    uint32_t privateArpRefCnt;
    uint32_t privateMplsRefCnt;
    uint32_t l2vpnRefCnt;
    void* publicRoute;
    HwRoute6Dest* pDestEntry;
};

// The status byte of a neighbour: hardware status in the high nibble,
// card-up flag in the low nibble (0x21: idle, being rewritten after card up).
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define HW_STATUS_NIBBLES \
    uint8_t status : 4;   \
    uint8_t cardupFlag : 4;
#else
#define HW_STATUS_NIBBLES   \
    uint8_t cardupFlag : 4; \
    uint8_t status : 4;
#endif

// IPv4 neighbour (ARP entry), one per (vpnVrfid, nextHop).
struct HwArpNode {
    HwListLink link;  // neighbour table bucket
    uint32_t ifUnit;
    uint32_t subIfUnit;
    uint32_t nextHop;
    uint32_t outPort;
    uint32_t vpnVrfid;
    uint8_t mac[6];
    HW_STATUS_NIBBLES
    uint8_t flag;  // ARP_FLAG_HELD, ARP_FLAG_LOCAL
    uint32_t refCnt;
    HwListLink tunList;  // tunnels bound to this neighbour
};

// IPv6 neighbour (ND entry).
struct HwNd6Node {
    HwListLink link;
    uint32_t ifUnit;
    uint32_t subIfUnit;
    uint8_t nextHop[16];
    uint32_t outPort;
    uint32_t vpnVrfid;
    uint8_t macAddr[6];
    HW_STATUS_NIBBLES
    uint8_t flag;
    uint32_t refCnt;
    uint32_t localRefCnt;
    HwListLink tunList;
};

#undef HW_STATUS_NIBBLES

// MPLS incoming-label entry.
struct HwRouteIlmNode {
    HwListLink link;      // ILM table
    HwListLink pendLink;  // ILM pend list
    uint32_t ifUnit;
    uint32_t nextHop;
    uint32_t inIfUnit;
    uint32_t vrfId;
    uint32_t swapLabel;
    uint32_t mplsLabel;
    uint32_t mplsLabel2;
    uint32_t mplsLabel3;
    uint8_t ilmFlags;
    uint8_t status;
    uint8_t mplsLabelNum;
};

// Layer-2 VPN (pseudowire attachment) entry.
struct HwRouteL2vpnNode {
    HwListLink link;
    HwListLink pendLink;
    uint16_t vfiId;
    uint8_t vpnType;
    uint8_t family;
    uint32_t flags;
    uint32_t cePort;
    uint16_t ceVid;
    uint16_t ceEgressVid;
    uint8_t ceEgressPri;
    uint8_t peEgressPri;
    uint16_t peEgressVid;
    uint32_t txOuterLabel;
    uint32_t txInnerLabel;
    uint32_t rxInnerLabel;
    uint8_t txOuterExp;
    uint8_t txOuterTtl;
    uint8_t txInnerExp;
    uint8_t txInnerTtl;
    uint8_t nexthopIp[16];
    uint32_t status;
    void* publicNexthop;  // HwRouteNexthop (family 2) or HwRoute6Nexthop (family 10)
};

// Tunnel entry.
struct HwRouteTunNode {
    HwListLink link;      // tunnel list
    HwListLink bindLink;  // tunnel list of the bound entry
    uint16_t tunId;
    uint8_t tunFamily;
    uint8_t encapsMethod;
    uint8_t nextHopSrc[16];
    uint32_t nexthopMask;
    uint8_t nextHopDst[16];
    uint8_t dest[16];
    uint32_t routeMask;
    uint32_t tunUnit;
    uint32_t tunType;
    uint32_t tunCreateTick;
    uint16_t dstType;
    uint16_t routeFamily;
    void* dstEntry;  // HwArpNode / HwNd6Node (dstType 1) or HwRouteDest / HwRoute6Dest (dstType 2)
    uint32_t status;
};

// Pool element sizes: IPv4 and IPv6 destinations share one pool, and so do
// IPv4 and IPv6 next hops, so their elements fit the larger record.
constexpr uint32_t hwMax(uint32_t a, uint32_t b) { return a > b ? a : b; }
constexpr uint32_t HW_DEST_NODE_SIZE = hwMax(sizeof(HwRouteDest), sizeof(HwRoute6Dest));
constexpr uint32_t HW_NEXTHOP_NODE_SIZE = hwMax(sizeof(HwRouteNexthop), sizeof(HwRoute6Nexthop));
constexpr uint32_t HW_ILM_NODE_SIZE = sizeof(HwRouteIlmNode);
constexpr uint32_t HW_L2VPN_NODE_SIZE = sizeof(HwRouteL2vpnNode);
constexpr uint32_t HW_TUN_NODE_SIZE = sizeof(HwRouteTunNode);
constexpr uint32_t HW_ARP_NODE_SIZE = sizeof(HwArpNode);
constexpr uint32_t HW_ND6_NODE_SIZE = sizeof(HwNd6Node);

static_assert(std::is_standard_layout_v<HwRouteDest> && std::is_trivially_copyable_v<HwRouteDest>);
static_assert(std::is_standard_layout_v<HwRouteNexthop> && std::is_trivially_copyable_v<HwRouteNexthop>);
static_assert(std::is_standard_layout_v<HwRoute6Dest> && std::is_trivially_copyable_v<HwRoute6Dest>);
static_assert(std::is_standard_layout_v<HwRoute6Nexthop> && std::is_trivially_copyable_v<HwRoute6Nexthop>);
static_assert(std::is_standard_layout_v<HwArpNode> && std::is_trivially_copyable_v<HwArpNode>);
static_assert(std::is_standard_layout_v<HwNd6Node> && std::is_trivially_copyable_v<HwNd6Node>);
static_assert(std::is_standard_layout_v<HwRouteIlmNode> && std::is_trivially_copyable_v<HwRouteIlmNode>);
static_assert(std::is_standard_layout_v<HwRouteL2vpnNode> && std::is_trivially_copyable_v<HwRouteL2vpnNode>);
static_assert(std::is_standard_layout_v<HwRouteTunNode> && std::is_trivially_copyable_v<HwRouteTunNode>);

// On the 32-bit target the records have exactly the sizes the hardware
// library and the management tools were built against.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(HW_DEST_NODE_SIZE == 56);
static_assert(HW_NEXTHOP_NODE_SIZE == 128);
static_assert(sizeof(HwRouteNexthop) == 104);
static_assert(HW_ILM_NODE_SIZE == 52);
static_assert(HW_L2VPN_NODE_SIZE == 76);
static_assert(HW_TUN_NODE_SIZE == 100);
static_assert(HW_ARP_NODE_SIZE == 48);
static_assert(HW_ND6_NODE_SIZE == 64);
#endif
