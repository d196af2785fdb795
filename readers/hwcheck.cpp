#include "hwcheck.h"

#include <arpa/inet.h>

#include <cstdlib>

#include "hwroute/flags.h"
#include "nmclient.h"

namespace {

bool parseAddr(const std::string& text, int* family, HwdAddr* out) {
    out->fill(0);
    if (inet_pton(AF_INET, text.c_str(), out->data()) == 1) {
        *family = 4;
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), out->data()) == 1) {
        *family = 6;
        return true;
    }
    return false;
}

bool parsePrefix(const std::string& text, int family, uint32_t vrf, HwdPrefix* p) {
    const size_t slash = text.find('/');
    int f = 0;
    if (slash == std::string::npos || !parseAddr(text.substr(0, slash), &f, &p->addr) || f != family) return false;
    p->family = family;
    p->vrf = vrf;
    p->len = uint8_t(std::strtoul(text.c_str() + slash + 1, nullptr, 10));
    return true;
}

uint32_t num(const std::map<std::string, std::string>& f, const char* key) {
    const auto it = f.find(key);
    return it == f.end() ? 0 : uint32_t(std::strtoul(it->second.c_str(), nullptr, 0));
}

bool parseMac(const std::string& s, HwdMac* mac) {
    unsigned b[6];
    if (std::sscanf(s.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6) return false;
    for (int i = 0; i < 6; ++i) (*mac)[i] = uint8_t(b[i]);
    return true;
}

std::string pathText(int family, const HwdPathKey& k) {
    return "via " + hwdNexthopText(family, k.nexthop) + " if " + std::to_string(k.ipPort);
}

std::string pathSetText(int family, const std::vector<HwdPathKey>& keys) {
    std::string s = "{";
    for (const HwdPathKey& k : keys) s += (s.size() > 1 ? ", " : "") + pathText(family, k);
    return s + "}";
}

class Comparer {
public:
    Comparer(const HwcView& k, const HwcView& s, const HwdState* h) : kernel(k), sw(s), hw(h) {}

    HwcReport run() {
        routesKernelVsSoftware();
        if (hw != nullptr) routesAgainstHardware();
        else routesSoftwareHardwareView();
        neighbours();
        return report;
    }

private:
    void add(const char* kind, const char* object, const HwdPrefix& p, const std::string& text) {
        HwcFinding f{kind, object, p, text};
        (std::string(kind) == "pending" ? report.pending : report.differences).push_back(f);
    }

    static bool inHardware(uint32_t flag) { return (flag & (NH_HW_OK | NH_VPN)) != 0; }
    static bool waits(uint32_t flag) { return (flag & NH_RESOLVED) == 0 && !inHardware(flag); }

    void routesKernelVsSoftware() {
        for (const auto& [prefix, paths] : kernel.routes) {
            const auto it = sw.routes.find(prefix);
            for (const auto& [key, unused] : paths) {
                if (it == sw.routes.end() || it->second.count(key) == 0)
                    add("missing-in-software", "route", prefix,
                        "missing in software: route " + hwcPrefixText(prefix) + " " + pathText(prefix.family, key));
            }
        }
        for (const auto& [prefix, paths] : sw.routes) {
            const auto it = kernel.routes.find(prefix);
            for (const auto& [key, flag] : paths) {
                const bool inKernel = it != kernel.routes.end() && it->second.count(key) != 0;
                if (!inKernel)
                    add("gone-from-kernel", "route", prefix,
                        "gone from the kernel: route " + hwcPrefixText(prefix) + " " + pathText(prefix.family, key) +
                            " (still in software)");
                else if (waits(flag))
                    add("pending", "route", prefix,
                        "pending: route " + hwcPrefixText(prefix) + " " + pathText(prefix.family, key) +
                            " waits for its neighbour");
            }
        }
    }

    // Without a trace the software's own view of what it wrote is checked:
    // a destination with resolved paths of which none reached the hardware.
    void routesSoftwareHardwareView() {
        for (const auto& [prefix, paths] : sw.routes) {
            bool resolved = false, present = false;
            for (const auto& [key, flag] : paths) {
                resolved = resolved || (flag & NH_RESOLVED) != 0;
                present = present || inHardware(flag);
            }
            if (resolved && !present)
                add("missing-in-hardware", "route", prefix,
                    "missing in hardware: route " + hwcPrefixText(prefix) + " (software has not written it)");
        }
    }

    std::vector<HwdPathKey> softwareHwSet(const HwdPrefix& prefix) const {
        std::vector<HwdPathKey> keys;
        const auto it = sw.routes.find(prefix);
        if (it == sw.routes.end()) return keys;
        for (const auto& [key, flag] : it->second)
            if (inHardware(flag)) keys.push_back(key);
        return keys;
    }

    bool softwareResolved(const HwdPrefix& prefix) const {
        const auto it = sw.routes.find(prefix);
        if (it == sw.routes.end()) return false;
        for (const auto& [key, flag] : it->second)
            if ((flag & NH_RESOLVED) != 0 || inHardware(flag)) return true;
        return false;
    }

    void routesAgainstHardware() {
        for (const auto& [prefix, state] : hw->routes) {
            std::vector<HwdPathKey> hwKeys;
            for (const auto& [key, path] : state.paths) hwKeys.push_back(key);
            const std::vector<HwdPathKey> swKeys = softwareHwSet(prefix);
            if (kernel.routes.count(prefix) == 0) {
                add("hardware-not-in-kernel", "route", prefix,
                    "present in hardware but gone from the kernel: route " + hwcPrefixText(prefix) + " " +
                        pathSetText(prefix.family, hwKeys));
            } else if (swKeys != hwKeys) {
                add("different-paths", "route", prefix,
                    "different path set: route " + hwcPrefixText(prefix) + " software " +
                        pathSetText(prefix.family, swKeys) + " hardware " + pathSetText(prefix.family, hwKeys));
            }
            routeMacs(prefix, state);
        }
        for (const auto& [prefix, paths] : sw.routes) {
            if (hw->routes.count(prefix) != 0 || kernel.routes.count(prefix) == 0 || !softwareResolved(prefix))
                continue;
            add("missing-in-hardware", "route", prefix, "missing in hardware: route " + hwcPrefixText(prefix));
        }
    }

    // A path's MAC in hardware against the neighbour it goes through.
    void routeMacs(const HwdPrefix& prefix, const HwdRouteState& state) {
        for (const auto& [key, path] : state.paths) {
            HwdPrefix host{prefix.family, prefix.vrf, key.nexthop, uint8_t(prefix.family == 4 ? 32 : 128)};
            const auto n = sw.neighbours.find(host);
            if (n == sw.neighbours.end() || (n->second.flag & ARP_FLAG_LOCAL) != 0) continue;
            if (n->second.mac != path.nextHopMac)
                add("different-mac", "route", prefix,
                    "different MAC: route " + hwcPrefixText(prefix) + " " + pathText(prefix.family, key) +
                        " hardware " + hwdMacText(path.nextHopMac) + " neighbour " + hwdMacText(n->second.mac));
        }
    }

    void neighbours() {
        for (const auto& [prefix, k] : kernel.neighbours) {
            const auto s = sw.neighbours.find(prefix);
            const std::string name = "neighbour " + hwdAddrText(prefix.family, prefix.addr);
            if (s == sw.neighbours.end()) {
                add("missing-in-software", "neighbour", prefix, "missing in software: " + name);
                continue;
            }
            if (s->second.mac != k.mac)
                add("different-mac", "neighbour", prefix,
                    "different MAC: " + name + " kernel " + hwdMacText(k.mac) + " software " +
                        hwdMacText(s->second.mac));
            if (s->second.status == hwStatusAddAbnormal)
                add("missing-in-hardware", "neighbour", prefix,
                    "missing in hardware: " + name + " (the hardware refused it)");
        }
        for (const auto& [prefix, s] : sw.neighbours) {
            if ((s.flag & ARP_FLAG_LOCAL) != 0 || kernel.neighbours.count(prefix) != 0) continue;
            add("gone-from-kernel", "neighbour", prefix,
                "gone from the kernel: neighbour " + hwdAddrText(prefix.family, prefix.addr) + " (still in software)");
        }
        if (hw != nullptr) neighboursAgainstHardware();
    }

    void neighboursAgainstHardware() {
        for (const auto& [prefix, path] : hw->neighbours) {
            const std::string name = "neighbour " + hwdAddrText(prefix.family, prefix.addr);
            const auto s = sw.neighbours.find(prefix);
            const bool local = s != sw.neighbours.end() && (s->second.flag & ARP_FLAG_LOCAL) != 0;
            if (!local && kernel.neighbours.count(prefix) == 0) {
                add("hardware-not-in-kernel", "neighbour", prefix,
                    "present in hardware but gone from the kernel: " + name);
            } else if (s != sw.neighbours.end() && s->second.mac != path.nextHopMac) {
                add("different-mac", "neighbour", prefix,
                    "different MAC: " + name + " hardware " + hwdMacText(path.nextHopMac) + " software " +
                        hwdMacText(s->second.mac));
            }
        }
        for (const auto& [prefix, s] : sw.neighbours) {
            if (s.status != hwStatusOk || hw->neighbours.count(prefix) != 0) continue;
            add("missing-in-hardware", "neighbour", prefix,
                "missing in hardware: neighbour " + hwdAddrText(prefix.family, prefix.addr));
        }
    }

    const HwcView& kernel;
    const HwcView& sw;
    const HwdState* hw;
    HwcReport report;
};

}  // namespace

std::string hwcPrefixText(const HwdPrefix& p) {
    std::string s = hwdAddrText(p.family, p.addr) + "/" + std::to_string(p.len);
    return p.vrf != 0 ? "vrf " + std::to_string(p.vrf) + " " + s : s;
}

bool hwcSoftwareFromExport(const std::vector<std::string>& lines, HwcView* sw, std::string* err) {
    for (const std::string& line : lines) {
        const auto f = hwdExportFields(line);
        const std::string& kind = f.at("kind");
        const int family = kind == "route4" || kind == "arp" ? 4 : 6;
        if (kind == "route4" || kind == "route6") {
            HwdPrefix p;
            HwdPathKey key;
            int viaFamily = 0;
            if (!f.count("dest") || !f.count("via") || !parsePrefix(f.at("dest"), family, num(f, "vrf"), &p) ||
                !parseAddr(f.at("via"), &viaFamily, &key.nexthop)) {
                *err = "unreadable export line: " + line;
                return false;
            }
            key.ipPort = num(f, "if");
            sw->routes[p][key] = num(f, "flag");
        } else if (kind == "arp" || kind == "nd6") {
            HwdPrefix p;
            p.family = family;
            p.vrf = num(f, "vrf");
            p.len = family == 4 ? 32 : 128;
            int af = 0;
            HwcNeighbour n;
            if (!f.count("addr") || !f.count("mac") || !parseAddr(f.at("addr"), &af, &p.addr) ||
                !parseMac(f.at("mac"), &n.mac)) {
                *err = "unreadable export line: " + line;
                return false;
            }
            n.ifindex = num(f, "if");
            n.status = num(f, "status");
            n.flag = num(f, "flag");
            sw->neighbours[p] = n;
        }
    }
    return true;
}

HwcReport hwcCompare(const HwcView& kernel, const HwcView& sw, const HwdState* hw) {
    return Comparer(kernel, sw, hw).run();
}
