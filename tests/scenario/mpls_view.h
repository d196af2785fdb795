// What the kernel's neighbours, incoming-label entries and pseudowires and
// the platform's tunnels leave in hardware, kept apart from the code under
// test, and the same shape read from the hardware state the accepted calls
// built (the trace decoder's HwdState).
//
// Rules: a neighbour is a host entry with its MAC; an ILM entry on the
// point-to-point link is in hardware always (no MAC); any other ILM entry, a
// pseudowire and a tunnel to a directly connected endpoint are in hardware
// while the kernel knows the neighbour of their next hop, with its MAC.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "hwdecode.h"

using MplsMac = std::array<uint8_t, 6>;

struct MplsView {
    struct Ilm {
        uint32_t nextHop;
        bool pointToPoint;
    };
    std::map<uint32_t, MplsMac> neighbours;  // address -> MAC (VRF 0)
    std::map<uint32_t, Ilm> ilms;            // in-label
    std::map<uint32_t, uint32_t> pseudowires;  // VFI -> remote edge
    std::map<uint32_t, uint32_t> tunnels;      // routed subnet -> endpoint

    // key -> MAC of each kind, "h" hosts, "i" ILM, "p" pseudowires, "t" tunnels.
    using Table = std::map<std::pair<char, uint32_t>, MplsMac>;

    Table expected() const {
        Table out;
        for (const auto& [a, mac] : neighbours) out[{'h', a}] = mac;
        for (const auto& [label, e] : ilms)
            if (e.pointToPoint || neighbours.count(e.nextHop)) out[{'i', label}] = e.pointToPoint ? MplsMac{} : neighbours.at(e.nextHop);
        for (const auto& [vfi, edge] : pseudowires)
            if (neighbours.count(edge)) out[{'p', vfi}] = neighbours.at(edge);
        for (const auto& [subnet, end] : tunnels)
            if (neighbours.count(end)) out[{'t', subnet}] = neighbours.at(end);
        return out;
    }
};

inline uint32_t mplsAddr4(const HwdAddr& a) {
    return uint32_t(a[0]) << 24 | uint32_t(a[1]) << 16 | uint32_t(a[2]) << 8 | a[3];
}

// The same table from the hardware state.
inline MplsView::Table mplsHardware(const HwdState& s) {
    MplsView::Table out;
    auto mac = [](const HwdMac& m) {
        MplsMac r;
        std::copy(m.begin(), m.end(), r.begin());
        return r;
    };
    for (const auto& [p, path] : s.neighbours) out[{'h', mplsAddr4(p.addr)}] = mac(path.nextHopMac);
    for (const auto& [k, e] : s.ilms) out[{'i', k.second}] = mac(e.path.nextHopMac);
    for (const auto& [k, e] : s.l2vpns) out[{'p', k.first}] = mac(e.nextHopMac);
    for (const auto& [p, e] : s.tunnels)
        out[{'t', mplsAddr4(p.addr)}] = e.paths.empty() ? MplsMac{} : mac(e.paths[0].nextHopMac);
    return out;
}

inline std::string mplsDescribe(const MplsView::Table& t) {
    std::string s;
    char buf[64];
    for (const auto& [k, mac] : t) {
        std::snprintf(buf, sizeof buf, "  %c %08x mac ..:%02x\n", k.first, k.second, mac[5]);
        s += buf;
    }
    return s.empty() ? "  (none)\n" : s;
}
