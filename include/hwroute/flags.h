// Next-hop flag bits, hardware status codes, platform ids and the
// point-to-point end types. Shared by every subsystem.
#pragma once

#include <cstdint>

// Next-hop `flag` word.
constexpr uint32_t NH_OP_ADD = 0x40000000;
constexpr uint32_t NH_OP_DEL = 0x20000000;
constexpr uint32_t NH_NEIGH_LOST = 0x10000000;
constexpr uint32_t NH_OP_HW_DEL = 0x08000000;
constexpr uint32_t NH_OP_CHANGE = 0x04000000;
constexpr uint32_t NH_OP_BACKUP = 0x02000000;
constexpr uint32_t NH_OP_VPN_ADD = 0x01000000;
constexpr uint32_t NH_VPN_DELETED = 0x00800000;
constexpr uint32_t NH_VPN_NEIGH_LOST = 0x00400000;
constexpr uint32_t NH_WAIT_PRIVATE = 0x00200000;
constexpr uint32_t NH_WAIT_PRIVATE_VPN = 0x00100000;
constexpr uint32_t NH_WAIT_PRIVATE_ARP = 0x00080000;
constexpr uint32_t NH_WAIT_L2VPN = 0x00040000;
constexpr uint32_t NH_WAIT_L2VPN_VPN = 0x00020000;
constexpr uint32_t NH_WAIT_L2VPN_ARP = 0x00010000;
constexpr uint32_t NH_HW_OK = 0x00008000;
constexpr uint32_t NH_VPN = 0x00004000;
constexpr uint32_t NH_RESOLVED = 0x00002000;
constexpr uint32_t NH_CARDUP_PEND = 0x00001000;
constexpr uint32_t NH_INDIRECT = 0x00000800;
constexpr uint32_t NH_L2VPN_PUBLIC = 0x00000400;
constexpr uint32_t NH_STANDBY = 0x00000200;
constexpr uint32_t NH_VPN_REQUEST = 0x00000100;  // set by the intake from the VPN message flags
constexpr uint32_t NH_OP_LABEL_CHANGE = 0x00000080;

// Bits a private path sets while it holds one count on its public next hop:
// privateRefCnt while the path exists, privateMplsRefCnt while its label part
// is not withdrawn, privateArpRefCnt while its neighbour is known. Taking and
// giving back by bit keeps the counts balanced whatever the order of events.
constexpr uint32_t NH_HOLDS_PUBLIC = 0x00000002;
constexpr uint32_t NH_HOLDS_PUBLIC_MPLS = 0x00000004;
constexpr uint32_t NH_HOLDS_PUBLIC_ARP = 0x00000008;
constexpr uint32_t NH_HOLDS_PUBLIC_ALL = NH_HOLDS_PUBLIC | NH_HOLDS_PUBLIC_MPLS | NH_HOLDS_PUBLIC_ARP;

// The operation bits cleared after a successful hardware operation. The
// NH_WAIT_PRIVATE* bits are states, not operations: a public route keeps
// waiting for its private users however often its destination is flushed.
constexpr uint32_t NH_OP_MASK = 0x73000000u | 0x00c00000u;

// `extFlag` bit: the labelled part is withdrawn.
constexpr uint8_t NH_EXT_VPN_WITHDRAWN = 0x40;

// Hardware status of ILM, L2VPN, tunnel, ARP and ND6 entries.
constexpr uint32_t hwStatusOk = 1;
constexpr uint32_t hwStatusIdle = 2;
constexpr uint32_t hwStatusWait = 3;
constexpr uint32_t hwStatusAddAbnormal = 4;
constexpr uint32_t hwStatusDelAbnormal = 5;

// Neighbour record `flag` bits.
constexpr uint8_t ARP_FLAG_HELD = 0x01;
constexpr uint8_t ARP_FLAG_LOCAL = 0x04;
// The first host entry write was refused, so what waits for the neighbour
// has not been released yet; the retry that gets it written releases it.
constexpr uint8_t ARP_FLAG_UNRELEASED = 0x10;

// Address families as carried in messages and records.
constexpr uint32_t HW_AF_INET = 2;
constexpr uint32_t HW_AF_INET6 = 10;

// Routing protocol of connected and local routes.
constexpr uint8_t HW_PROTO_KERNEL = 2;
// Routing protocol whose weight is its own preference.
constexpr uint8_t HW_PROTO_BOOT = 3;

// Platform object ids.
constexpr uint32_t HW_OBJ_ROUTE4 = 338;
constexpr uint32_t HW_OBJ_ROUTE6 = 339;
constexpr uint32_t HW_OBJ_ILM_ADD = 156;
constexpr uint32_t HW_OBJ_ILM_DEL = 157;

// Platform attribute ids.
constexpr uint32_t HW_ATTR_END_TYPE = 7;        // kivIfGetApi
constexpr uint32_t HW_ATTR_TUN_IF = 5211;       // kivIfGetApi
constexpr uint32_t HW_ATTR_PROTO_PREF = 55;     // kivScalarGetApi
constexpr uint32_t HW_ATTR_SYS_MAC = 11;        // kivScalarGetApi
constexpr uint32_t HW_TRANS_IF_INDEX = 9;       // kivIndexTrans
constexpr uint32_t HW_TRANS_IF_RECORD = 6;      // sysIndexTrans
constexpr uint32_t HW_TRANS_LOCAL_PORT = 1;     // sysIndexTrans
constexpr uint32_t SYS_IF_PHYADDR = 33;         // sysIFGet
constexpr uint32_t SYS_IF_OPER_STATE = 31;      // sysIFGet

// Interfaces of these end types are point to point and need no neighbour.
constexpr bool hwIsPointToPoint(uint32_t endType) {
    return endType == 7 || endType == 8 || endType == 9 || endType == 10 || endType == 11 || endType == 15 ||
           endType == 22;
}

// Interface up/down events.
constexpr uint32_t HW_IF_UP = 0x11;
constexpr uint32_t HW_IF_DOWN = 0x22;
