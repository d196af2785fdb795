#include "nlbuild.h"

#include <arpa/inet.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "hwroute/intake.h"

namespace {

template <class T>
void putHost(std::vector<uint8_t>& out, std::size_t off, T v) {
    if (out.size() < off + sizeof(T)) out.resize(off + sizeof(T));
    std::memcpy(out.data() + off, &v, sizeof(T));
}

void putBytes(std::vector<uint8_t>& out, std::size_t off, const std::vector<uint8_t>& b) {
    if (out.size() < off + b.size()) out.resize(off + b.size());
    std::memcpy(out.data() + off, b.data(), b.size());
}

void padTo4(std::vector<uint8_t>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

// An address text into a 16-byte body field (IPv4 uses the first 4 bytes).
void putAddr16(std::vector<uint8_t>& body, std::size_t off, const char* text) {
    if (text == nullptr) return;
    putBytes(body, off, nlAddrBytes(text));
}

// Body offsets count from the start of the message; bodies start at 16.
constexpr std::size_t B(std::size_t msgOffset) { return msgOffset - NL_HDR_LEN; }

}  // namespace

std::vector<uint8_t> nlAddrBytes(const std::string& text) {
    if (text.find(':') != std::string::npos) {
        std::vector<uint8_t> out(16);
        if (inet_pton(AF_INET6, text.c_str(), out.data()) != 1) throw std::invalid_argument("bad IPv6: " + text);
        return out;
    }
    std::vector<uint8_t> out(4);
    if (inet_pton(AF_INET, text.c_str(), out.data()) != 1) throw std::invalid_argument("bad IPv4: " + text);
    return out;
}

std::vector<uint8_t> nlAttrBytes(uint16_t type, const std::vector<uint8_t>& payload) {
    const std::vector<uint8_t> m = NlMessage(0).attr(type, payload).bytes();
    return std::vector<uint8_t>(m.begin() + NL_HDR_LEN, m.end());
}

NlMessage::NlMessage(uint16_t type, std::vector<uint8_t> body) : type_(type), payload_(std::move(body)) {}

NlMessage& NlMessage::attrClaiming(uint16_t type, uint16_t claimedLen, const std::vector<uint8_t>& payload) {
    padTo4(payload_);
    std::size_t at = payload_.size();
    putHost<uint16_t>(payload_, at, claimedLen);
    putHost<uint16_t>(payload_, at + 2, type);
    payload_.insert(payload_.end(), payload.begin(), payload.end());
    padTo4(payload_);
    return *this;
}

NlMessage& NlMessage::attr(uint16_t type, const std::vector<uint8_t>& payload) {
    return attrClaiming(type, static_cast<uint16_t>(4 + payload.size()), payload);
}

NlMessage& NlMessage::attrU32(uint16_t type, uint32_t value) {
    std::vector<uint8_t> p(4);
    std::memcpy(p.data(), &value, 4);
    return attr(type, p);
}

NlMessage& NlMessage::attrAddr(uint16_t type, const std::string& text) { return attr(type, nlAddrBytes(text)); }

NlMessage& NlMessage::attrMac(uint16_t type, const std::string& text) {
    std::vector<uint8_t> p;
    unsigned v;
    int used;
    const char* s = text.c_str();
    while (std::sscanf(s, "%x%n", &v, &used) == 1) {
        p.push_back(static_cast<uint8_t>(v));
        s += used;
        if (*s != ':') break;
        ++s;
    }
    return attr(type, p);
}

NlMessage& NlMessage::claimLength(uint32_t len) {
    claimed_ = len;
    return *this;
}

NlMessage& NlMessage::truncate(std::size_t len) {
    if (len < NL_HDR_LEN) throw std::invalid_argument("a message keeps at least its header");
    if (len - NL_HDR_LEN < payload_.size()) payload_.resize(len - NL_HDR_LEN);
    return *this;
}

std::vector<uint8_t> NlMessage::bytes() const {
    std::vector<uint8_t> out;
    putHost<uint32_t>(out, 0, claimed_ ? *claimed_ : static_cast<uint32_t>(size()));
    putHost<uint16_t>(out, 4, type_);
    putHost<uint16_t>(out, 6, 0);   // flags
    putHost<uint32_t>(out, 8, 0);   // sequence
    putHost<uint32_t>(out, 12, 0);  // port
    out.insert(out.end(), payload_.begin(), payload_.end());
    return out;
}

NlDatagram::NlDatagram(std::initializer_list<NlMessage> msgs) {
    for (const auto& m : msgs) add(m);
}

NlDatagram& NlDatagram::add(const NlMessage& msg) {
    padTo4(bytes_);
    auto b = msg.bytes();
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
}

NlDatagram& NlDatagram::append(const std::vector<uint8_t>& raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
}

NlMessage nlRoute(const NlRouteFields& s) {
    std::vector<uint8_t> head(B(NL_ROUTE_FIXED));
    head[B(16)] = s.family;
    head[B(17)] = s.prefixLen;
    head[B(21)] = s.protocol;
    head[B(23)] = 1;  // unicast; not read by the daemon
    putHost<uint32_t>(head, B(24), s.flags);
    NlMessage m(s.type, head);
    if (s.dst != nullptr) m.attrAddr(NL_RTA_DST, s.dst);
    if (s.oif) m.attrU32(NL_RTA_OIF, *s.oif);
    if (s.gateway != nullptr) m.attrAddr(NL_RTA_GATEWAY, s.gateway);
    if (s.weight) m.attrU32(NL_RTA_WEIGHT, *s.weight);
    if (s.vrf) m.attrU32(NL_RTA_VRF, *s.vrf);
    return m;
}

NlMessage nlNeigh(const NlNeighFields& s) {
    std::vector<uint8_t> head(B(NL_NEIGH_FIXED));
    head[B(16)] = s.family;
    putHost<int32_t>(head, B(20), s.ifindex);
    NlMessage m(s.type, head);
    if (s.dst != nullptr) m.attrAddr(NL_NDA_DST, s.dst);
    if (s.mac != nullptr) m.attrMac(NL_NDA_LLADDR, s.mac);
    if (s.port) m.attrU32(NL_NDA_PORT, *s.port);
    if (s.vrf) m.attrU32(NL_NDA_VRF, *s.vrf);
    return m;
}

NlMessage nlLink(const NlLinkFields& s) {
    std::vector<uint8_t> head(B(NL_LINK_FIXED));
    putHost<int32_t>(head, B(20), s.ifindex);
    NlMessage m(s.type, head);
    if (s.operState) m.attrU32(NL_IFLA_OPERSTATE, *s.operState);
    return m;
}

NlMessage nlMpls(const NlMplsFields& s) {
    std::vector<uint8_t> b(B(NL_MPLS_MSG_LEN));
    putHost<uint32_t>(b, B(16), s.vrfId);
    putHost<uint32_t>(b, B(20), s.inIfUnit);
    putHost<uint32_t>(b, B(24), s.ifUnit);
    putAddr16(b, B(28), s.dst);
    putAddr16(b, B(44), s.nextHop);
    b[B(60)] = s.family;
    b[B(61)] = s.weight;
    b[B(62)] = s.prefixLen;
    b[B(63)] = s.flags;
    b[B(64)] = s.labelNum;
    b[B(65)] = s.publicFamily;
    b[B(66)] = s.op;
    putHost<uint32_t>(b, B(68), s.swapLabel);
    for (int i = 0; i < 3; ++i) putHost<uint32_t>(b, B(72) + 4 * i, s.labels[i]);
    putAddr16(b, B(92), s.pubDst);
    putAddr16(b, B(108), s.pubNextHop);
    putHost<uint32_t>(b, B(88), s.pubVrfId);
    b[B(124)] = s.pubPrefixLen;
    b[B(125)] = s.pubProtoId;
    b[B(127)] = s.publicStatus;
    return NlMessage(s.type, b);
}

NlMessage nlL2vpn(const NlL2vpnFields& s) {
    std::vector<uint8_t> b(B(NL_L2VPN_MSG_LEN));
    putHost<uint16_t>(b, B(24), s.vfiId);
    b[B(26)] = s.vpnType;
    b[B(27)] = s.family;
    putHost<uint32_t>(b, B(32), s.cePort);
    putHost<uint32_t>(b, B(52), s.rxInnerLabel);
    b[B(59)] = s.txInnerTtl;
    putAddr16(b, B(60), s.nextHop);
    putHost<uint16_t>(b, B(36), s.ceVid);
    putHost<uint16_t>(b, B(42), s.peEgressVid);
    putHost<uint32_t>(b, B(44), s.txOuterLabel);
    putHost<uint32_t>(b, B(48), s.txInnerLabel);
    putHost<uint32_t>(b, B(76), s.pubVrfId);
    putHost<uint32_t>(b, B(80), s.pubIfUnit);
    putAddr16(b, B(84), s.pubDst);
    b[B(100)] = s.pubPrefixLen;
    b[B(101)] = s.pubProtoId;
    b[B(103)] = s.publicStatus;
    return NlMessage(s.type, b);
}

NlMessage nlCard(const NlCardFields& s) {
    std::vector<uint8_t> b(B(NL_CARD_MSG_LEN));
    putHost<uint32_t>(b, B(16), s.sysId);
    putHost<uint32_t>(b, B(20), s.slotId);
    putHost<uint32_t>(b, B(24), s.cardId);
    return NlMessage(s.type, b);
}

NlMessage nlError(int32_t code) {
    // The code, then the header of the request that failed (as the kernel sends it).
    std::vector<uint8_t> b(4 + NL_HDR_LEN);
    putHost<int32_t>(b, 0, code);
    putHost<uint32_t>(b, 4, NL_HDR_LEN);
    putHost<uint16_t>(b, 8, NL_NEWROUTE);
    return NlMessage(NL_ERROR, b);
}

NlMessage nlDone() { return NlMessage(NL_DONE, std::vector<uint8_t>(4)); }

// An exact-size copy, so that a read past the received bytes is seen by the address sanitizer.
int nlDeliver(const std::vector<uint8_t>& bytes) {
    std::unique_ptr<uint8_t[]> exact(bytes.empty() ? nullptr : new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    return hwRtnotifyRecv(exact.get(), static_cast<int>(bytes.size()));
}
int nlDeliver(const NlMessage& msg) { return nlDeliver(msg.bytes()); }
int nlDeliver(const NlDatagram& datagram) { return nlDeliver(datagram.bytes()); }
