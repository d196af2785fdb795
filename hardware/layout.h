// Byte layouts of the hardware buffers: the IPv4 and IPv6 route entry
// headers, the 64-byte next-hop record, its 8-byte label elements and the
// neighbour host entries. Only offsets, widths and packing live here; what
// goes into the fields is decided by the builders and writers.
//
// Every buffer is big-endian on every host. Each pack function zeroes its
// bytes and then sets the fields in offset order; the callers provide room
// for the whole buffer.
#pragma once

#include <cstdint>
#include <cstring>

#include "hwroute/bewriter.h"
#include "hwroute/hardware.h"

// IPv4 route entry header, 28 bytes.
constexpr uint32_t HW_R4_FLAGS = 0;         // u32 flags
constexpr uint32_t HW_R4_VRID = 4;          // u32 vrId
constexpr uint32_t HW_R4_SUBNET_ADDR = 8;   // u32 subnetAddr
constexpr uint32_t HW_R4_SUBNET_MASK = 12;  // u32 subnetMask
constexpr uint32_t HW_R4_NEXTHOP_NUM = 16;  // u8 nextHopNum
constexpr uint32_t HW_R4_SIZE = 19;         // u8 size (entry length in words, low 8 bits)

// IPv6 route entry header, 36 bytes.
constexpr uint32_t HW_R6_FLAGS = 0;            // u32 flags
constexpr uint32_t HW_R6_VRID = 4;             // u32 vrId
constexpr uint32_t HW_R6_SUBNET_ADDR = 8;      // 16 bytes subnetAddr
constexpr uint32_t HW_R6_SUBNET_MASK_LEN = 24; // u8 subnetMaskLen
constexpr uint32_t HW_R6_NEXTHOP_NUM = 25;     // u8 nextHopNum
constexpr uint32_t HW_R6_SIZE = 27;            // u8 size

// Next-hop record, 64 bytes followed by its label elements.
constexpr uint32_t HW_NH_FLAGS = 0;          // u32 flags
constexpr uint32_t HW_NH_NEXTHOP_IP = 4;     // 16 bytes nexthopIp (IPv4 in the first 4)
constexpr uint32_t HW_NH_EXT = 20;           // 16 bytes carried from the request
constexpr uint32_t HW_NH_PORT = 36;          // u32 port
constexpr uint32_t HW_NH_IP_PORT = 40;       // u32 ipPort
constexpr uint32_t HW_NH_NEXTHOP_MAC = 44;   // 6 bytes nextHopMac
constexpr uint32_t HW_NH_VID = 50;           // u16 vid
constexpr uint32_t HW_NH_SRC_MAC = 52;       // 6 bytes srcMac
constexpr uint32_t HW_NH_OP = 58;            // u8 op
constexpr uint32_t HW_NH_LABEL_NUM = 59;     // u8 mplsLabelNum
constexpr uint32_t HW_NH_PROTOCOL = 60;      // u8 protocol

// Label element, 8 bytes.
constexpr uint32_t HW_LBL_TTL = 0;    // u8 ttl   (label word bits 0 to 7)
constexpr uint32_t HW_LBL_EXP = 1;    // u8 exp   (label word bits 9 to 11)
constexpr uint32_t HW_LBL_LABEL = 4;  // u32 label (label word bits 12 to 31)

// Record flags.
constexpr uint32_t HW_NHF_TUNNEL = 0x01;
constexpr uint32_t HW_NHF_PATH = 0x02;
constexpr uint32_t HW_NHF_LABEL = 0x04;
constexpr uint32_t HW_NHF_TUNNEL_ENTRY = 0x08;
constexpr uint32_t HW_NHF_NEIGHBOUR = 0x10;
constexpr uint32_t HW_NHF_VPN_WITHDRAWN = 0x40;

// Record `op` values as the hardware reads them.
constexpr uint8_t HW_REC_OP_NONE = 0;
constexpr uint8_t HW_REC_OP_ADD = 1;
constexpr uint8_t HW_REC_OP_DEL = 2;
constexpr uint8_t HW_REC_OP_BACKUP = 4;

// Route entry header flags.
constexpr uint32_t HW_HDR_MULTI_AFTER = 0x01;   // several paths after the change
constexpr uint32_t HW_HDR_MULTI_BEFORE = 0x02;  // several paths before the change
constexpr uint32_t HW_HDR_LOST_ONE = 0x04;      // one path lost its neighbour, others stay

// Neighbour host entries.
constexpr uint32_t HW_ARP_BUF_LEN = HW_ROUTE4_HDR_LEN + HW_NHOP_REC_LEN;  // 92
constexpr uint32_t HW_ND6_BUF_LEN = HW_ROUTE6_HDR_LEN + HW_NHOP_REC_LEN;  // 100
static_assert(HW_ARP_BUF_LEN == 92 && HW_ND6_BUF_LEN == 100);

constexpr uint32_t HW_MAX_LABELS = 3;

struct HwRoute4Hdr {
    uint32_t flags;
    uint32_t vrId;
    uint32_t subnetAddr;
    uint32_t subnetMask;
    uint8_t nextHopNum;
    uint8_t size;
};

struct HwRoute6Hdr {
    uint32_t flags;
    uint32_t vrId;
    uint8_t subnetAddr[16];
    uint8_t subnetMaskLen;
    uint8_t nextHopNum;
    uint8_t size;
};

// One next-hop record as the builders fill it. IPv4 addresses go into the
// first four bytes of nexthopIp and ext (see hwIp4Bytes).
struct HwNhopRec {
    uint32_t flags;
    uint8_t nexthopIp[16];
    uint8_t ext[16];
    uint32_t port;
    uint32_t ipPort;
    uint8_t nextHopMac[6];
    uint16_t vid;
    uint8_t srcMac[6];
    uint8_t op;
    uint8_t mplsLabelNum;  // at most HW_MAX_LABELS
    uint8_t protocol;
    uint32_t labels[HW_MAX_LABELS];
};

// Length of a next-hop record with its label elements.
constexpr uint32_t hwNhopRecLen(uint32_t labels) { return HW_NHOP_REC_LEN + HW_LABEL_REC_LEN * labels; }

// An IPv4 address (first octet most significant) as the first 4 of 16 bytes.
inline void hwIp4Bytes(uint32_t addr, uint8_t out[16]) {
    std::memset(out, 0, 16);
    BeWriter(out, 4).u32(addr);
}

inline void packRoute4Hdr(uint8_t* p, const HwRoute4Hdr& h) {
    BeWriter w(p, HW_ROUTE4_HDR_LEN);
    w.zeros(HW_ROUTE4_HDR_LEN);
    w.at(HW_R4_FLAGS).u32(h.flags);             // 0   flags
    w.at(HW_R4_VRID).u32(h.vrId);               // 4   vrId
    w.at(HW_R4_SUBNET_ADDR).u32(h.subnetAddr);  // 8   subnetAddr
    w.at(HW_R4_SUBNET_MASK).u32(h.subnetMask);  // 12  subnetMask
    w.at(HW_R4_NEXTHOP_NUM).u8(h.nextHopNum);   // 16  nextHopNum; 17-18 zero
    w.at(HW_R4_SIZE).u8(h.size);                // 19  size; 20-27 zero
}

inline void packRoute6Hdr(uint8_t* p, const HwRoute6Hdr& h) {
    BeWriter w(p, HW_ROUTE6_HDR_LEN);
    w.zeros(HW_ROUTE6_HDR_LEN);
    w.at(HW_R6_FLAGS).u32(h.flags);                    // 0   flags
    w.at(HW_R6_VRID).u32(h.vrId);                      // 4   vrId
    w.at(HW_R6_SUBNET_ADDR).bytes(h.subnetAddr, 16);   // 8   subnetAddr
    w.at(HW_R6_SUBNET_MASK_LEN).u8(h.subnetMaskLen);   // 24  subnetMaskLen
    w.at(HW_R6_NEXTHOP_NUM).u8(h.nextHopNum);          // 25  nextHopNum; 26 zero
    w.at(HW_R6_SIZE).u8(h.size);                       // 27  size; 28-35 zero
}

// One label element from an MPLS label stack entry.
inline void packLabelElem(uint8_t* p, uint32_t word) {
    BeWriter w(p, HW_LABEL_REC_LEN);
    w.zeros(HW_LABEL_REC_LEN);
    w.at(HW_LBL_TTL).u8(uint8_t(word & 0xff));         // 0  ttl; 2-3 zero
    w.at(HW_LBL_EXP).u8(uint8_t((word >> 9) & 0x7));   // 1  exp
    w.at(HW_LBL_LABEL).u32(word >> 12);                // 4  label
}

// The record and its label elements; returns the bytes written.
inline uint32_t packNhopRec(uint8_t* p, const HwNhopRec& r) {
    const uint32_t labels = r.mplsLabelNum <= HW_MAX_LABELS ? r.mplsLabelNum : HW_MAX_LABELS;
    BeWriter w(p, HW_NHOP_REC_LEN);
    w.zeros(HW_NHOP_REC_LEN);
    w.at(HW_NH_FLAGS).u32(r.flags);                   // 0   flags
    w.at(HW_NH_NEXTHOP_IP).bytes(r.nexthopIp, 16);    // 4   nexthopIp
    w.at(HW_NH_EXT).bytes(r.ext, 16);                 // 20  request bytes
    w.at(HW_NH_PORT).u32(r.port);                     // 36  port
    w.at(HW_NH_IP_PORT).u32(r.ipPort);                // 40  ipPort
    w.at(HW_NH_NEXTHOP_MAC).bytes(r.nextHopMac, 6);   // 44  nextHopMac
    w.at(HW_NH_VID).u16(r.vid);                       // 50  vid
    w.at(HW_NH_SRC_MAC).bytes(r.srcMac, 6);           // 52  srcMac
    w.at(HW_NH_OP).u8(r.op);                          // 58  op
    w.at(HW_NH_LABEL_NUM).u8(uint8_t(labels));        // 59  mplsLabelNum
    w.at(HW_NH_PROTOCOL).u8(r.protocol);              // 60  protocol; 61-63 zero
    for (uint32_t i = 0; i < labels; ++i) packLabelElem(p + hwNhopRecLen(i), r.labels[i]);  // 64 + 8i
    return hwNhopRecLen(labels);
}

// Neighbour host entries: one header for a host prefix and one record with
// the neighbour flag; no labels, no protocol, no source MAC.
struct HwNeighEntry {
    uint32_t vrId;
    uint8_t address[16];  // IPv4: first 4 bytes
    uint32_t port;
    uint32_t ipPort;
    uint8_t mac[6];
    uint16_t vid;
    uint8_t op;  // HW_REC_OP_ADD or HW_REC_OP_DEL
};

inline HwNhopRec hwNeighRec(const HwNeighEntry& e) {
    HwNhopRec r{};
    r.flags = HW_NHF_NEIGHBOUR;
    std::memcpy(r.nexthopIp, e.address, 16);
    r.port = e.port;
    r.ipPort = e.ipPort;
    std::memcpy(r.nextHopMac, e.mac, 6);
    r.vid = e.vid;
    r.op = e.op;
    return r;
}

// IPv4 neighbour entry, 92 bytes.
inline void packArpHwBuf(uint8_t* p, const HwNeighEntry& e) {
    HwRoute4Hdr h{};
    h.vrId = e.vrId;
    h.subnetAddr = beRead32(e.address);
    h.subnetMask = 0xFFFFFFFFu;
    h.nextHopNum = 1;
    h.size = HW_ARP_BUF_LEN / 4;
    packRoute4Hdr(p, h);                                // 0   header (/32)
    packNhopRec(p + HW_ROUTE4_HDR_LEN, hwNeighRec(e));  // 28  record
}

// IPv6 neighbour entry, 100 bytes.
inline void packNd6HwBuf(uint8_t* p, const HwNeighEntry& e) {
    HwRoute6Hdr h{};
    h.vrId = e.vrId;
    std::memcpy(h.subnetAddr, e.address, 16);
    h.subnetMaskLen = 128;
    h.nextHopNum = 1;
    h.size = HW_ND6_BUF_LEN / 4;
    packRoute6Hdr(p, h);                                // 0   header (/128)
    packNhopRec(p + HW_ROUTE6_HDR_LEN, hwNeighRec(e));  // 36  record
}

// ILM entry: a 20-byte header followed by one next-hop record (with its
// label elements: the outgoing label stack) at offset 20. The next-hop
// record's flags, request bytes, op and protocol stay 0.
constexpr uint32_t HW_ILM_VRFID = 0;      // u32 vrfid
constexpr uint32_t HW_ILM_FLAGS = 4;      // u32 flags (ilmFlags)
constexpr uint32_t HW_ILM_IN_LABEL = 12;  // u32 inLabel
constexpr uint32_t HW_ILM_IN_VID = 16;    // u16 inVid
constexpr uint32_t HW_ILM_FIXED = 19;     // u8 always 1
constexpr uint32_t HW_ILM_HDR_LEN = 20;
constexpr uint32_t HW_ILM_BUF_MAX = HW_ILM_HDR_LEN + HW_NHOP_REC_LEN + HW_MAX_LABELS * HW_LABEL_REC_LEN;  // 108
static_assert(HW_ILM_HDR_LEN + HW_NHOP_REC_LEN == 84 && HW_ILM_BUF_MAX == 108);

struct HwIlmHdr {
    uint32_t vrfid;
    uint32_t flags;
    uint32_t inLabel;
    uint16_t inVid;
};

// Header and record; returns the entry length (84 + 8 per label).
inline uint32_t packIlmHwBuf(uint8_t* p, const HwIlmHdr& h, const HwNhopRec& r) {
    BeWriter w(p, HW_ILM_HDR_LEN);
    w.zeros(HW_ILM_HDR_LEN);
    w.at(HW_ILM_VRFID).u32(h.vrfid);        // 0   vrfid
    w.at(HW_ILM_FLAGS).u32(h.flags);        // 4   flags; 8-11 zero
    w.at(HW_ILM_IN_LABEL).u32(h.inLabel);   // 12  inLabel
    w.at(HW_ILM_IN_VID).u16(h.inVid);       // 16  inVid; 18 zero
    w.at(HW_ILM_FIXED).u8(1);               // 19  fixed 1
    return HW_ILM_HDR_LEN + packNhopRec(p + HW_ILM_HDR_LEN, r);  // 20  next-hop record
}

// Tunnel entries: a route entry of the routed family with one next-hop record
// (flag 0x08) and the tunnel interface index in the header's spare word.
// IPv4 entry 92 bytes, IPv6 entry 100 bytes; the record's address field takes
// 4 or 16 bytes by the family of the tunnel endpoints.
constexpr uint32_t HW_R4_TUN_IF_INDEX = 20;  // u32 tunnelIfIndex (IPv4 header)
constexpr uint32_t HW_R6_TUN_IF_INDEX = 28;  // u32 tunnelIfIndex (IPv6 header)
constexpr uint32_t HW_TUN4_BUF_LEN = HW_ROUTE4_HDR_LEN + HW_NHOP_REC_LEN;  // 92
constexpr uint32_t HW_TUN6_BUF_LEN = HW_ROUTE6_HDR_LEN + HW_NHOP_REC_LEN;  // 100
constexpr uint32_t HW_TUN_BUF_ZERO = 1500;  // bytes a tunnel buffer is zeroed over
static_assert(HW_TUN4_BUF_LEN == 92 && HW_TUN6_BUF_LEN == 100);

// What a tunnel entry carries besides its header.
struct HwTunEntry {
    uint8_t subnetAddr[16];  // IPv4: first 4 bytes
    uint32_t mask;           // IPv4 mask, or IPv6 prefix length (low byte)
    uint32_t tunnelIfIndex;
    uint8_t nextHopNum;
    uint8_t size;            // 0 until the translation reached its end
    HwNhopRec rec;           // flags, nexthopIp, port, ipPort, nextHopMac, vid, op
};

// The first `ipLen` bytes of rec.nexthopIp are written; the rest of the
// 16-byte field stays zero.
inline void packTun4Buf(uint8_t* p, const HwTunEntry& e) {
    HwRoute4Hdr h{};
    h.subnetAddr = beRead32(e.subnetAddr);
    h.subnetMask = e.mask;
    h.nextHopNum = e.nextHopNum;
    h.size = e.size;
    packRoute4Hdr(p, h);                                          // 0   header, vrId 0
    BeWriter(p, HW_TUN4_BUF_LEN).at(HW_R4_TUN_IF_INDEX).u32(e.tunnelIfIndex);  // 20  tunnelIfIndex
    packNhopRec(p + HW_ROUTE4_HDR_LEN, e.rec);                    // 28  record (flags 0x08 at 28)
}

inline void packTun6Buf(uint8_t* p, const HwTunEntry& e) {
    HwRoute6Hdr h{};
    std::memcpy(h.subnetAddr, e.subnetAddr, 16);
    h.subnetMaskLen = uint8_t(e.mask);
    h.nextHopNum = e.nextHopNum;
    h.size = e.size;
    packRoute6Hdr(p, h);                                          // 0   header, vrId 0
    BeWriter(p, HW_TUN6_BUF_LEN).at(HW_R6_TUN_IF_INDEX).u32(e.tunnelIfIndex);  // 28  tunnelIfIndex
    packNhopRec(p + HW_ROUTE6_HDR_LEN, e.rec);                    // 36  record (flags 0x08 at 36)
}
