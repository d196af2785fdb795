// Two views for the convergence tests, both kept outside the code under test:
// what the hardware holds, rebuilt from the IPv4 route calls it accepted, and
// what it ought to hold, derived from the kernel's own routes and neighbours.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "hwroute/bewriter.h"
#include "hwroute/flags.h"
#include "sim.h"

using PathKey = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;  // vrf, subnet, mask, next hop
using HostKey = std::pair<uint32_t, uint32_t>;                         // vrf, address
using Mac = std::array<uint8_t, 6>;

// What the hardware holds after every accepted IPv4 route call, in order: each
// path with the MAC its add record carried, each host entry with its MAC.
struct HwModel {
    std::map<PathKey, Mac> paths;
    std::map<HostKey, Mac> hosts;
    std::size_t applied = 0;

    void apply(const std::vector<SimHwCall>& calls) {
        for (; applied < calls.size(); ++applied) {
            const SimHwCall& c = calls[applied];
            if (c.result != 0 || c.objectId != HW_OBJ_ROUTE4) continue;
            // Accepted requests are well formed (the simulated hardware refuses
            // the others), so each entry's size word gives its length; a
            // length past 1020 bytes travels alone and ends with the request.
            for (std::size_t pos = 0; pos + 28 <= c.data.size();) {
                std::size_t len = std::size_t(c.data[pos + 19]) * 4;
                if (len < 28 || len > c.data.size() - pos || pos + len + 28 > c.data.size()) len = c.data.size() - pos;
                entry(&c.data[pos], len);
                pos += len;
            }
        }
    }
    std::set<PathKey> pathKeys() const {
        std::set<PathKey> out;
        for (const auto& [k, mac] : paths) out.insert(k);
        return out;
    }

private:
    void entry(const uint8_t* e, std::size_t len) {
        const uint32_t vrf = beRead32(e + 4), subnet = beRead32(e + 8), mask = beRead32(e + 12);
        for (std::size_t r = 28; r + 64 <= len; r += 64 + 8 * e[r + 59]) {
            const uint32_t nh = beRead32(e + r + 4);
            const uint8_t op = e[r + 58];
            Mac mac;
            std::copy(e + r + 44, e + r + 50, mac.begin());
            if (beRead32(e + r) == 0x10) {
                if (op == 1) hosts[{vrf, subnet}] = mac;
                if (op == 2) hosts.erase({vrf, subnet});
                continue;
            }
            const PathKey k{vrf, subnet, mask, nh};
            if (op == 1) paths[k] = mac;
            if (op == 2) paths.erase(k);
        }
    }
};

// The kernel's routes (one protocol, paths through gateways) and neighbours,
// and from them the hardware it implies: for each destination the paths of
// the smallest weight among those whose gateway has a neighbour (or whose
// link needs none), each with its neighbour's MAC; each neighbour's host entry.
struct KernelView {
    struct Path {
        uint32_t weight;
        bool pointToPoint;
    };
    using DestKey = std::tuple<uint32_t, uint32_t, uint32_t>;  // vrf, subnet, mask
    std::map<DestKey, std::map<uint32_t, Path>> routes;
    std::map<HostKey, Mac> neighbours;
    Mac pointToPointMac{};  // the point-to-point interface's own MAC
    uint32_t cap = 8;       // best paths a destination may hold

    void addRoute(const DestKey& d, uint32_t gw, uint32_t weight, bool ptp = false) { routes[d][gw] = {weight, ptp}; }
    void delRoute(const DestKey& d, uint32_t gw) {
        auto it = routes.find(d);
        if (it == routes.end()) return;
        it->second.erase(gw);
        if (it->second.empty()) routes.erase(it);
    }
    bool hasRoute(const DestKey& d, uint32_t gw) const {
        auto it = routes.find(d);
        return it != routes.end() && it->second.count(gw) != 0;
    }

    std::map<PathKey, Mac> expectedPaths() const {
        std::map<PathKey, Mac> out;
        for (const auto& [d, paths] : routes) {
            const auto [vrf, subnet, mask] = d;
            uint32_t best = UINT32_MAX;
            for (const auto& [gw, p] : paths)
                if (usable(vrf, gw, p) && p.weight < best) best = p.weight;
            for (const auto& [gw, p] : paths)
                if (usable(vrf, gw, p) && p.weight == best) out[{vrf, subnet, mask, gw}] = macOf(vrf, gw, p);
        }
        return out;
    }
    std::map<HostKey, Mac> expectedHosts() const { return neighbours; }

private:
    bool usable(uint32_t vrf, uint32_t gw, const Path& p) const {
        return p.pointToPoint || neighbours.count({vrf, gw}) != 0;
    }
    Mac macOf(uint32_t vrf, uint32_t gw, const Path& p) const {
        return p.pointToPoint ? pointToPointMac : neighbours.at({vrf, gw});
    }
};

inline std::string describe(const std::map<PathKey, Mac>& paths) {
    std::string s;
    char buf[96];
    for (const auto& [k, mac] : paths) {
        const auto [vrf, subnet, mask, nh] = k;
        std::snprintf(buf, sizeof buf, "  %u %08x/%08x via %08x mac ..:%02x\n", vrf, subnet, mask, nh, mac[5]);
        s += buf;
    }
    return s.empty() ? "  (none)\n" : s;
}
