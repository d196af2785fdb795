// The IPv6 pair of views of kernel_view.h, both kept outside the code under
// test: what the IPv6 route object holds, rebuilt from the calls it accepted
// (route paths and ND6 host entries), and what the kernel's own IPv6 routes
// and neighbours imply.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "hwroute/bewriter.h"
#include "hwroute/flags.h"
#include "hwroute/intake.h"
#include "kernel_view.h"
#include "sim.h"

using Addr6 = std::array<uint8_t, 16>;
using Path6Key = std::tuple<uint32_t, Addr6, uint8_t, Addr6>;  // vrf, subnet, prefix length, next hop
using Host6Key = std::pair<uint32_t, Addr6>;                     // vrf, address

// Object 339 after every accepted call, in order: entries are a 36-byte
// header (vrId at 4, subnet at 8, prefix length at 24, size in words at 27)
// and 64-byte records (0x10 at 0 marks a host entry; next hop at 4, MAC at
// 44, op at 58, label count at 59, 8 bytes per label after).
struct Hw6Model {
    std::map<Path6Key, Mac> paths;
    std::map<Host6Key, Mac> hosts;
    std::size_t applied = 0;

    void apply(const std::vector<SimHwCall>& calls) {
        for (; applied < calls.size(); ++applied) {
            const SimHwCall& c = calls[applied];
            if (c.result != 0 || c.objectId != HW_OBJ_ROUTE6) continue;
            for (std::size_t pos = 0; pos + 36 <= c.data.size();) {
                std::size_t len = std::size_t(c.data[pos + 27]) * 4;
                if (len < 36 || len > c.data.size() - pos) len = c.data.size() - pos;  // a long entry travels alone
                entry(&c.data[pos], len);
                pos += len;
            }
        }
    }

private:
    void entry(const uint8_t* e, std::size_t len) {
        const uint32_t vrf = beRead32(e + 4);
        Addr6 subnet;
        std::copy(e + 8, e + 24, subnet.begin());
        for (std::size_t r = 36; r + 64 <= len; r += 64 + 8 * e[r + 59]) {
            Addr6 nh;
            std::copy(e + r + 4, e + r + 20, nh.begin());
            Mac mac;
            std::copy(e + r + 44, e + r + 50, mac.begin());
            const uint8_t op = e[r + 58];
            if (beRead32(e + r) == 0x10) {
                if (op == 1) hosts[{vrf, subnet}] = mac;
                if (op == 2) hosts.erase({vrf, subnet});
                continue;
            }
            const Path6Key k{vrf, subnet, e[24], nh};
            if (op == 1) paths[k] = mac;
            if (op == 2) paths.erase(k);
        }
    }
};

// The kernel's IPv6 routes (one protocol, paths through gateways) and ND6
// neighbours: each destination's paths of the smallest weight among those
// whose gateway has a neighbour (or whose link needs none), each with its
// neighbour's MAC; each neighbour's host entry.
struct KernelView6 {
    struct Path {
        uint32_t weight;
        bool pointToPoint;
    };
    using DestKey = std::tuple<uint32_t, Addr6, uint8_t>;  // vrf, subnet, prefix length
    std::map<DestKey, std::map<Addr6, Path>> routes;
    std::map<Host6Key, Mac> neighbours;
    Mac pointToPointMac{};

    bool hasRoute(const DestKey& d, const Addr6& gw) const {
        auto it = routes.find(d);
        return it != routes.end() && it->second.count(gw) != 0;
    }
    void delRoute(const DestKey& d, const Addr6& gw) {
        auto it = routes.find(d);
        if (it == routes.end()) return;
        it->second.erase(gw);
        if (it->second.empty()) routes.erase(it);
    }

    std::map<Path6Key, Mac> expectedPaths() const {
        std::map<Path6Key, Mac> out;
        for (const auto& [d, paths] : routes) {
            const auto& [vrf, subnet, len] = d;
            uint32_t best = UINT32_MAX;
            for (const auto& [gw, p] : paths)
                if (usable(vrf, gw, p) && p.weight < best) best = p.weight;
            for (const auto& [gw, p] : paths)
                if (usable(vrf, gw, p) && p.weight == best)
                    out[{vrf, subnet, len, gw}] = p.pointToPoint ? pointToPointMac : neighbours.at({vrf, gw});
        }
        return out;
    }

private:
    bool usable(uint32_t vrf, const Addr6& gw, const Path& p) const {
        return p.pointToPoint || neighbours.count({vrf, gw}) != 0;
    }
};

inline std::string describe(const std::map<Path6Key, Mac>& paths) {
    std::string s;
    for (const auto& [k, mac] : paths) {
        const auto& [vrf, subnet, len, nh] = k;
        s += "  " + std::to_string(vrf) + " " + ip6_sprintf(subnet.data()) + "/" + std::to_string(len);
        s += std::string(" via ") + ip6_sprintf(nh.data()) + " mac ..:" + std::to_string(mac[5]) + "\n";
    }
    return s.empty() ? "  (none)\n" : s;
}
