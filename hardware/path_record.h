// One next-hop record of a route entry, shared by the IPv4 and IPv6 families:
// a point-to-point path (the interface's own MAC on both sides), a path
// completed from its neighbour record, and the bare delete of a path whose
// neighbour record is gone. The family supplies the neighbour lookup and one
// hook for its log lines and counters at each step:
//
//   struct F {
//       using Nexthop = ...;
//       static bool neighbour(const Nexthop*, HwPathNeighbour*);
//       static void note(HwRecStep, const Nexthop* nh, const Nexthop* orig, uint32_t op, const HwNhopRec&);
//   };
#pragma once

#include <cstdint>
#include <cstring>

#include "layout.h"
#include "route_paths.h"

// The neighbour data a record is completed from.
struct HwPathNeighbour {
    uint8_t address[16];  // IPv4: first 4 bytes
    uint32_t outPort;
    uint32_t ifUnit;
    uint32_t subIfUnit;
    uint8_t mac[6];
};

// The steps at which a family logs and counts.
enum class HwRecStep { PointToPoint, PointToPointDone, Find, Found, Filled, NoVlan, Done };

inline void hwAddrBytes(uint32_t a, uint8_t out[16]) { hwIp4Bytes(a, out); }
inline void hwAddrBytes(const uint8_t (&a)[16], uint8_t out[16]) { std::memcpy(out, a, 16); }

template <class F>
struct HwPathRecord {
    using Nh = typename F::Nexthop;

    static uint32_t pointToPoint(uint8_t* record, const Nh* nh, const Nh* src, uint32_t operation, HwNhopRec& r) {
        F::note(HwRecStep::PointToPoint, nh, nullptr, operation, r);
        hwAddrBytes(nh->nextHop, r.nexthopIp);
        hwAddrBytes(nh->nextHopExt, r.ext);
        r.port = nh->ifUnit;
        r.ipPort = nh->ifUnit;
        hwInterfaceMac(nh->ifUnit, r.nextHopMac);
        std::memcpy(r.srcMac, r.nextHopMac, 6);
        r.vid = 0;
        r.protocol = nh->protoId;
        if (operation == HW_NHOP_OP_DEL && (src->extFlag & NH_EXT_VPN_WITHDRAWN)) r.flags |= HW_NHF_VPN_WITHDRAWN;
        hwCopyLabels(r, nh);
        F::note(HwRecStep::PointToPointDone, nh, nullptr, operation, r);
        return packNhopRec(record, r);
    }

    // The delete of a path whose neighbour record is gone: the hardware finds
    // the path by its address, so the record carries what is known (address,
    // interface, labels) with no link-layer data, rather than being left out
    // and leaving the path in hardware.
    static uint32_t bareDelete(uint8_t* record, const Nh* nh, const Nh* src, HwNhopRec& r) {
        hwAddrBytes(nh->nextHop, r.nexthopIp);
        hwAddrBytes(src->nextHopExt, r.ext);
        r.ipPort = nh->ifUnit;
        hwInterfaceMac(nh->ifUnit, r.srcMac);
        r.protocol = nh->protoId;
        hwCopyLabels(r, src);
        return packNhopRec(record, r);
    }

    // A path completed from its neighbour record; without one only a delete
    // has a record. `orig` is the indirect path written through `nh`, if any.
    static uint32_t withNeighbour(uint8_t* record, const Nh* nh, const Nh* orig, uint32_t operation,
                                  const SysIndexIfRecord& ifRec, HwNhopRec& r) {
        const Nh* src = orig != nullptr ? orig : nh;
        F::note(HwRecStep::Find, nh, orig, operation, r);
        HwPathNeighbour nb;
        if (!F::neighbour(nh, &nb)) return operation == HW_NHOP_OP_DEL ? bareDelete(record, nh, src, r) : 0;
        F::note(HwRecStep::Found, nh, orig, operation, r);
        std::memcpy(r.nexthopIp, nb.address, 16);
        r.port = nb.outPort;
        r.ipPort = nb.ifUnit;
        std::memcpy(r.nextHopMac, nb.mac, 6);
        F::note(HwRecStep::Filled, nh, orig, operation, r);
        SysIndexIfRecord vlanRec{};
        if (sysIndexTrans(nb.subIfUnit != 0 ? nb.subIfUnit : nb.ifUnit, HW_TRANS_IF_RECORD, &vlanRec) != 0) {
            F::note(HwRecStep::NoVlan, nh, orig, operation, r);
            vlanRec = ifRec;  // the interface record of the next hop's own unit
        }
        r.vid = uint16_t(vlanRec.word[4]);
        hwInterfaceMac(nh->ifUnit, r.srcMac);
        r.protocol = nh->protoId;
        hwAddrBytes(src->nextHopExt, r.ext);
        hwCopyLabels(r, src);
        F::note(HwRecStep::Done, nh, orig, operation, r);
        return packNhopRec(record, r);
    }
};
