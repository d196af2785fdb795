// Test-side builder of kernel notification datagrams: route, neighbour and
// link messages with attributes, the platform's fixed-body messages (labelled
// routes, ILM, layer-2 VPN, card events), error and done reports, raw
// messages of any type, and datagrams holding several messages.
//
// Byte order follows the kernel of the target: the netlink header, attribute
// headers, attribute integers and body integers are host order; addresses
// (given as text, "10.1.2.3" or "2001:db8::1") are written in network order.
//
//   nlDeliver(nlRoute({.prefixLen = 24, .protocol = 11, .dst = "10.1.0.0",
//                      .gateway = "10.9.9.1", .oif = 3, .vrf = 7}));
//   nlDeliver(NlDatagram{nlRoute({...}), nlDone(), nlRoute({...})});
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

// Message types.
constexpr uint16_t NL_ERROR = 2;
constexpr uint16_t NL_DONE = 3;
constexpr uint16_t NL_NEWLINK = 16;
constexpr uint16_t NL_DELLINK = 17;
constexpr uint16_t NL_NEWROUTE = 24;
constexpr uint16_t NL_DELROUTE = 25;
constexpr uint16_t NL_NEWNEIGH = 28;
constexpr uint16_t NL_DELNEIGH = 29;
constexpr uint16_t NL_CARD_UP = 87;
constexpr uint16_t NL_SLOT_UP = 90;
constexpr uint16_t NL_ILM_ADD = 129;
constexpr uint16_t NL_ILM_DEL = 130;
constexpr uint16_t NL_VPN_ROUTE = 131;   // 132 behaves the same
constexpr uint16_t NL_L2VPN_ADD = 133;
constexpr uint16_t NL_L2VPN_DEL = 134;
constexpr uint16_t NL_RESEND = 135;      // 136 behaves the same
constexpr uint16_t NL_RESEND2 = 136;

// Attribute types.
constexpr uint16_t NL_RTA_DST = 1;
constexpr uint16_t NL_RTA_OIF = 4;
constexpr uint16_t NL_RTA_GATEWAY = 5;
constexpr uint16_t NL_RTA_WEIGHT = 8;
constexpr uint16_t NL_RTA_VRF = 18;
constexpr uint16_t NL_NDA_DST = 1;
constexpr uint16_t NL_NDA_LLADDR = 2;
constexpr uint16_t NL_NDA_PORT = 6;
constexpr uint16_t NL_NDA_VRF = 9;
constexpr uint16_t NL_IFLA_OPERSTATE = 16;

// Fixed sizes: header, and whole messages of the fixed-body types.
constexpr std::size_t NL_HDR_LEN = 16;
constexpr std::size_t NL_ROUTE_FIXED = 28;   // header + route head
constexpr std::size_t NL_NEIGH_FIXED = 28;   // header + neighbour head
constexpr std::size_t NL_LINK_FIXED = 32;    // header + interface head
constexpr std::size_t NL_MPLS_MSG_LEN = 128;
constexpr std::size_t NL_L2VPN_MSG_LEN = 104;
constexpr std::size_t NL_CARD_MSG_LEN = 32;

// One message: a 16-byte header, a body, then attributes (each padded to 4).
class NlMessage {
public:
    explicit NlMessage(uint16_t type, std::vector<uint8_t> body = {});

    NlMessage& attr(uint16_t type, const std::vector<uint8_t>& payload);
    NlMessage& attrU32(uint16_t type, uint32_t value);
    // 4 bytes for an IPv4 text, 16 for IPv6.
    NlMessage& attrAddr(uint16_t type, const std::string& text);
    // "00:11:22:33:44:55" (any number of octets).
    NlMessage& attrMac(uint16_t type, const std::string& text);
    // An attribute whose header claims `claimedLen` whatever the payload is.
    NlMessage& attrClaiming(uint16_t type, uint16_t claimedLen, const std::vector<uint8_t>& payload);

    // The length written into the header; by default the real length.
    NlMessage& claimLength(uint32_t len);
    // Keep only the first `len` bytes (the header still claims the real,
    // shortened length unless claimLength says otherwise).
    NlMessage& truncate(std::size_t len);

    std::size_t size() const { return NL_HDR_LEN + payload_.size(); }
    std::vector<uint8_t> bytes() const;

private:
    uint16_t type_;
    std::optional<uint32_t> claimed_;
    std::vector<uint8_t> payload_;  // body and attributes
};

// Several messages in one datagram, each starting on a 4-byte boundary.
class NlDatagram {
public:
    NlDatagram() = default;
    NlDatagram(std::initializer_list<NlMessage> msgs);
    NlDatagram& add(const NlMessage& msg);
    // Raw bytes appended as they are (no alignment).
    NlDatagram& append(const std::vector<uint8_t>& raw);
    std::vector<uint8_t> bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// Kernel route message (24 add, 25 delete). Absent fields send no attribute.
struct NlRouteFields {
    uint16_t type = NL_NEWROUTE;
    uint8_t family = 2;
    uint8_t prefixLen = 32;
    uint8_t protocol = 0;
    uint32_t flags = 0;
    const char* dst = nullptr;      // attribute 1
    const char* gateway = nullptr;  // attribute 5
    std::optional<uint32_t> oif = std::nullopt;    // attribute 4
    std::optional<uint32_t> weight = std::nullopt; // attribute 8
    std::optional<uint32_t> vrf = std::nullopt;    // attribute 18
};
NlMessage nlRoute(const NlRouteFields& req);

// Kernel neighbour message (28 add or change, 29 delete).
struct NlNeighFields {
    uint16_t type = NL_NEWNEIGH;
    uint8_t family = 2;
    int32_t ifindex = 0;
    const char* dst = nullptr;     // attribute 1
    const char* mac = nullptr;     // attribute 2
    std::optional<uint32_t> port = std::nullopt;  // attribute 6
    std::optional<uint32_t> vrf = std::nullopt;   // attribute 9
};
NlMessage nlNeigh(const NlNeighFields& req);

// Kernel link message (16, 17).
struct NlLinkFields {
    uint16_t type = NL_NEWLINK;
    int32_t ifindex = 0;
    std::optional<uint32_t> operState = std::nullopt;  // attribute 16: 6 up, 2 down
};
NlMessage nlLink(const NlLinkFields& req);

// Labelled route (131, 132) and ILM (129, 130) body, fields in body order.
struct NlMplsFields {
    uint16_t type = NL_VPN_ROUTE;
    uint32_t vrfId = 0;
    uint32_t inIfUnit = 0;
    uint32_t ifUnit = 0;
    const char* dst = nullptr;
    const char* nextHop = nullptr;
    uint8_t family = 2;
    uint8_t weight = 0;
    uint8_t prefixLen = 0;
    uint8_t flags = 0;          // 0x01 delete as plain route, 0x04 request bit
    uint8_t labelNum = 0;
    uint8_t publicFamily = 0;
    uint8_t op = 24;            // 24 add, 25 delete
    uint32_t swapLabel = 0;
    uint32_t labels[3] = {0, 0, 0};
    const char* pubDst = nullptr;
    const char* pubNextHop = nullptr;
    uint8_t pubPrefixLen = 0;
    uint8_t publicStatus = 0;
    uint32_t pubVrfId = 0;
    uint8_t pubProtoId = 0;
};
NlMessage nlMpls(const NlMplsFields& req);

// Layer-2 VPN body (133 add, 134 delete), fields in body order.
struct NlL2vpnFields {
    uint16_t type = NL_L2VPN_ADD;
    uint16_t vfiId = 0;
    uint8_t vpnType = 0;
    uint8_t family = 2;
    uint32_t cePort = 0;
    uint32_t rxInnerLabel = 0;
    uint8_t txInnerTtl = 0;
    const char* nextHop = nullptr;
    uint32_t txOuterLabel = 0;
    uint32_t txInnerLabel = 0;
    uint16_t ceVid = 0;
    uint16_t peEgressVid = 0;
    // The public route (offsets 76 to 103).
    uint32_t pubVrfId = 0;
    uint32_t pubIfUnit = 0;
    const char* pubDst = nullptr;
    uint8_t pubPrefixLen = 0;
    uint8_t pubProtoId = 0;
    uint8_t publicStatus = 0;
};
NlMessage nlL2vpn(const NlL2vpnFields& req);

// Card up (87), slot up (90), RESENDROUTE (135, 136).
struct NlCardFields {
    uint16_t type = NL_CARD_UP;
    uint32_t sysId = 0;
    uint32_t slotId = 0;
    uint32_t cardId = 0;
};
NlMessage nlCard(const NlCardFields& req);

// Error report with the kernel's (negative) code, and end of dump.
NlMessage nlError(int32_t code);
NlMessage nlDone();

// One attribute as bytes (header, payload, padding), to nest in another.
std::vector<uint8_t> nlAttrBytes(uint16_t type, const std::vector<uint8_t>& payload);

// Address text as bytes: 4 for IPv4, 16 for IPv6 (network order).
std::vector<uint8_t> nlAddrBytes(const std::string& text);

// Hand the bytes to the intake as the worker loop does with a received datagram.
int nlDeliver(const std::vector<uint8_t>& bytes);
int nlDeliver(const NlMessage& msg);
int nlDeliver(const NlDatagram& datagram);
