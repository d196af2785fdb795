// Internal interface of the intake: the message view handed to the decoders,
// the request records of one message, safe field readers and the decoders.
#pragma once

#include <cstdint>
#include <cstring>

#include "hwroute/records.h"

// Netlink header fields.
constexpr uint32_t HW_NL_HDR_LEN = 16;
constexpr uint16_t HW_NLMSG_ERROR = 2;
constexpr uint16_t HW_NLMSG_DONE = 3;

// Fixed parts before the attributes of the standard messages.
constexpr uint32_t HW_RTMSG_FIXED = 28;
constexpr uint32_t HW_NDMSG_FIXED = 28;
constexpr uint32_t HW_IFMSG_FIXED = 32;

// Whole-message sizes of the platform's fixed bodies.
constexpr uint32_t HW_MPLS_MSG_LEN = 128;
constexpr uint32_t HW_L2VPN_MSG_LEN = 104;
constexpr uint32_t HW_CARD_MSG_LEN = 32;

// Labelled-route and ILM message body: offsets from the start of the message.
// Addresses are 16-byte fields; an IPv4 address uses the first 4 bytes.
namespace HwMplsMsg {
constexpr uint32_t vrfId = 16;
constexpr uint32_t inIfUnit = 20;
constexpr uint32_t ifUnit = 24;
constexpr uint32_t dest = 28;
constexpr uint32_t nextHop = 44;
constexpr uint32_t family = 60;
constexpr uint32_t weight = 61;
constexpr uint32_t prefixLen = 62;
constexpr uint32_t flags = 63;
constexpr uint32_t labelNum = 64;
constexpr uint32_t publicFamily = 65;
constexpr uint32_t operation = 66;
constexpr uint32_t swapLabel = 68;
constexpr uint32_t labels = 72;  // three u32 words
constexpr uint32_t pubVrfId = 88;
constexpr uint32_t pubDest = 92;
constexpr uint32_t pubNextHop = 108;
constexpr uint32_t pubPrefixLen = 124;
constexpr uint32_t pubProtoId = 125;
constexpr uint32_t pubWeight = 126;
constexpr uint32_t publicStatus = 127;
}  // namespace HwMplsMsg

// Labelled-route flags byte.
constexpr uint8_t HW_MPLS_FLAG_ROUTE_DEL = 0x01;  // a delete removes the plain route
constexpr uint8_t HW_MPLS_FLAG_REQUEST = 0x04;    // sets NH_VPN_REQUEST on add
// Operation byte.
constexpr uint8_t HW_MPLS_OP_ADD = 24;
constexpr uint8_t HW_MPLS_OP_DEL = 25;

// Layer-2 VPN message body.
namespace HwL2vpnMsg {
constexpr uint32_t vfiId = 24;
constexpr uint32_t vpnType = 26;
constexpr uint32_t family = 27;
constexpr uint32_t flags = 28;
constexpr uint32_t cePort = 32;
constexpr uint32_t ceVid = 36;
constexpr uint32_t ceEgressVid = 38;
constexpr uint32_t ceEgressPri = 40;
constexpr uint32_t peEgressPri = 41;
constexpr uint32_t peEgressVid = 42;
constexpr uint32_t txOuterLabel = 44;
constexpr uint32_t txInnerLabel = 48;
constexpr uint32_t rxInnerLabel = 52;
constexpr uint32_t txOuterExp = 56;
constexpr uint32_t txOuterTtl = 57;
constexpr uint32_t txInnerExp = 58;
constexpr uint32_t txInnerTtl = 59;
constexpr uint32_t nexthopIp = 60;
constexpr uint32_t pubVrfId = 76;
constexpr uint32_t pubIfUnit = 80;
constexpr uint32_t pubDest = 84;
constexpr uint32_t pubPrefixLen = 100;
constexpr uint32_t pubProtoId = 101;
constexpr uint32_t pubWeight = 102;
constexpr uint32_t publicStatus = 103;
}  // namespace HwL2vpnMsg

// Card, slot and resend message body.
namespace HwCardMsg {
constexpr uint32_t sysId = 16;
constexpr uint32_t slotId = 20;
constexpr uint32_t cardId = 24;
constexpr uint32_t type = 28;
}  // namespace HwCardMsg

// One message of a datagram: `len` bytes from `data` are known to be there
// and at least the fixed body of `type`.
struct HwNlMsg {
    const uint8_t* data;
    uint32_t len;
    uint16_t type;
};

// The request records a message is decoded into. Cleared before every message.
struct HwNotifyRequests {
    HwRouteDest dest;
    HwRouteNexthop nexthop;
    HwRoute6Dest dest6;
    HwRoute6Nexthop nexthop6;
    HwArpNode arp;
    HwNd6Node nd6;
    HwRouteIlmNode ilm;
    HwRouteL2vpnNode l2vpn;
};

// Public (underlay) route requests of a labelled-route or L2VPN message,
// cleared at the start of every such message.
struct HwPublicRequests {
    HwRouteDest dest;
    HwRouteNexthop nexthop;
    HwRoute6Dest dest6;
    HwRoute6Nexthop nexthop6;
};

// Readers over message bytes that may sit at any alignment. Integers of the
// kernel and the platform messages are host order; IPv4 addresses are network
// order and become numbers with the first octet most significant.
inline uint32_t hwRdU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint16_t hwRdU16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint32_t hwRdAddr4(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Attributes of one message, collected in one pass before any field is read.
// A rule names a wanted type and its payload size: an address must have
// exactly its size, an integer at least its size; an attribute that breaks
// its rule counts as absent. When a type occurs twice the later one wins.
struct HwAttrRule {
    uint16_t type;
    uint16_t size;
    bool exact;
};
constexpr uint16_t HW_ATTR_SLOTS = 32;
struct HwAttrs {
    const uint8_t* at[HW_ATTR_SLOTS];
    const uint8_t* get(uint16_t type) const { return type < HW_ATTR_SLOTS ? at[type] : nullptr; }
};
void hwNotifyCollectAttrs(const HwNlMsg& msg, uint32_t fixed, const HwAttrRule* rules, uint32_t ruleCount,
                          HwAttrs* out);
template <uint32_t N>
inline void hwNotifyCollectAttrs(const HwNlMsg& msg, uint32_t fixed, const HwAttrRule (&rules)[N], HwAttrs* out) {
    hwNotifyCollectAttrs(msg, fixed, rules, N, out);
}

// The public route a labelled-route or L2VPN message carries along.
struct HwPublicRoute {
    uint32_t vrfId;
    const uint8_t* dest;     // 16-byte field
    uint8_t prefixLen;
    const uint8_t* nextHop;  // 16-byte field
    uint32_t ifUnit;
    uint8_t protoId;
    uint8_t weight;
    uint8_t labelNum;
    uint32_t labels[3];
    uint32_t flag;
};
// Fill the public pair of `family` (2 or 10) and add it as a labelled route
// on its own. Answers false, adding nothing, for another family.
bool hwNotifyAddPublic(uint8_t family, const HwPublicRoute& route, HwPublicRequests* pub);

// The public-route arguments of the labelled-route or L2VPN add that follows:
// family 0 and no records without a public route, the pair of the public
// family with one. False when the public family is neither 2 nor 10 (no add).
struct HwPublicArgs {
    uint32_t family;
    void* dest;
    void* nexthop;
};
bool hwNotifyPublicArgs(uint8_t publicStatus, uint8_t family, HwPublicRequests* pub, HwPublicArgs* args);

// The mask of a prefix length as a number (0 for lengths above 32).
uint32_t hwNotifyMask(uint8_t prefixLen);

// More labels than the records hold are cut to three (logged).
uint8_t hwNotifyLabelNum(uint8_t labelNum);

// Decoders (the walk has checked the fixed-body length).
void hwNotifyRouteMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyVpnMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyNeighMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyLinkMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyIlmMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyL2vpnMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyTunnelMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyVpnFlushMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyCardUpMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifySlotUpMsg(const HwNlMsg& msg, HwNotifyRequests* req);
void hwNotifyResendMsg(const HwNlMsg& msg, HwNotifyRequests* req);
