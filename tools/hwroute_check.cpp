// hwroute-check: is the hardware what the kernel says? Compares the kernel's
// routes and neighbours (a netlink dump in this namespace) with the daemon's
// software state (the management export) and, given a trace, with the
// hardware state rebuilt from it.
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "hwcheck.h"
#include "hwdecode.h"
#include "hwroute/management.h"
#include "nmclient.h"

namespace {

constexpr int EXIT_AGREE = 0;
constexpr int EXIT_DIFFER = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_CANNOT = 3;

const char* const USAGE =
    "usage: hwroute-check [--socket PATH] [--trace FILE] [--json] [--quiet] [--timeout SEC]\n"
    "\n"
    "Compares the kernel's routes and neighbours (in the network namespace it\n"
    "runs in) with the daemon's software state and, with --trace, with the\n"
    "hardware state rebuilt from the hardware trace. Prints one line per\n"
    "difference (missing in software, missing in hardware, present in hardware\n"
    "but gone from the kernel, different path set or MAC), one line per route\n"
    "that waits for its neighbour (pending, not a difference), and a summary.\n"
    "\n"
    "options:\n"
    "  --socket PATH   management socket (default " "%s" ")\n"
    "  --trace FILE    hardware trace to rebuild the hardware state from\n"
    "  --json          one JSON document instead of lines\n"
    "  --quiet         only the summary line\n"
    "  --timeout SEC   how long to wait for the daemon (default 30)\n"
    "  --help          this text\n"
    "\n"
    "exit status: 0 all agree, 1 differences found, 2 wrong usage,\n"
    "3 the comparison could not be made (daemon unreachable, trace unreadable)\n";

struct Options {
    std::string socketPath = HW_NM_SOCKET_PATH;
    std::string trace;
    bool json = false;
    bool quiet = false;
    int timeoutSec = 30;
};

int usageError(const std::string& text) {
    std::fprintf(stderr, "hwroute-check: %s (see hwroute-check --help)\n", text.c_str());
    return EXIT_USAGE;
}

int parseArgs(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            std::printf(USAGE, HW_NM_SOCKET_PATH);
            return EXIT_AGREE;
        }
        if (a == "--json") {
            o->json = true;
        } else if (a == "--quiet") {
            o->quiet = true;
        } else if (a == "--socket" || a == "--trace" || a == "--timeout") {
            if (!hasValue) return usageError(a + " needs a value");
            const std::string v = argv[++i];
            if (a == "--socket") o->socketPath = v;
            if (a == "--trace") o->trace = v;
            if (a == "--timeout") {
                char* end = nullptr;
                const long t = std::strtol(v.c_str(), &end, 10);
                if (v.empty() || *end != '\0' || t < 1 || t > 3600) return usageError("--timeout needs seconds (1..3600)");
                o->timeoutSec = int(t);
            }
        } else {
            return usageError(a.rfind("-", 0) == 0 ? "unknown option " + a : "unexpected argument " + a);
        }
    }
    return -1;
}

// ---------------------------------------------------------------------------
// The kernel's tables

class RtDump {
public:
    ~RtDump() {
        if (fd_ >= 0) close(fd_);
    }

    bool dump(uint16_t type, std::vector<std::vector<uint8_t>>* msgs, std::string* err) {
        if (fd_ < 0 && !open(err)) return false;
        struct {
            nlmsghdr h;
            rtgenmsg g;
        } req{};
        req.h.nlmsg_len = sizeof req;
        req.h.nlmsg_type = type;
        req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        req.h.nlmsg_seq = ++seq_;
        req.g.rtgen_family = AF_UNSPEC;
        if (send(fd_, &req, sizeof req, 0) < 0) return fail("netlink dump request", err);
        std::vector<uint8_t> buf(1 << 16);
        for (;;) {
            const ssize_t got = recv(fd_, buf.data(), buf.size(), 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return fail("netlink dump", err);
            size_t n = size_t(got);
            for (auto* h = reinterpret_cast<nlmsghdr*>(buf.data()); NLMSG_OK(h, n); h = NLMSG_NEXT(h, n)) {
                if (h->nlmsg_type == NLMSG_DONE) return true;
                if (h->nlmsg_type == NLMSG_ERROR) {
                    errno = -reinterpret_cast<nlmsgerr*>(NLMSG_DATA(h))->error;
                    return fail("netlink dump", err);
                }
                const auto* p = reinterpret_cast<const uint8_t*>(h);
                msgs->emplace_back(p, p + h->nlmsg_len);
            }
        }
    }

private:
    bool open(std::string* err) {
        fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        return fd_ >= 0 || fail("netlink socket", err);
    }
    static bool fail(const char* what, std::string* err) {
        *err = std::string("cannot read the kernel's tables: ") + what + ": " + std::strerror(errno);
        return false;
    }
    int fd_ = -1;
    uint32_t seq_ = 0;
};

// Attributes of a message after its fixed part.
std::map<uint16_t, std::pair<const uint8_t*, size_t>> attrs(const std::vector<uint8_t>& m, size_t fixed) {
    std::map<uint16_t, std::pair<const uint8_t*, size_t>> out;
    size_t pos = NLMSG_HDRLEN + NLMSG_ALIGN(fixed);
    while (pos + sizeof(rtattr) <= m.size()) {
        const auto* a = reinterpret_cast<const rtattr*>(m.data() + pos);
        if (a->rta_len < sizeof(rtattr) || pos + a->rta_len > m.size()) break;
        out[a->rta_type & NLA_TYPE_MASK] = {m.data() + pos + RTA_LENGTH(0), a->rta_len - RTA_LENGTH(0)};
        pos += RTA_ALIGN(a->rta_len);
    }
    return out;
}

uint32_t u32At(const std::pair<const uint8_t*, size_t>& v) {
    uint32_t x = 0;
    if (v.second >= 4) std::memcpy(&x, v.first, 4);
    return x;
}

void addKernelRoute(const std::vector<uint8_t>& m, HwcView* k) {
    const auto* rt = reinterpret_cast<const rtmsg*>(m.data() + NLMSG_HDRLEN);
    if ((rt->rtm_family != AF_INET && rt->rtm_family != AF_INET6) || (rt->rtm_flags & RTM_F_CLONED)) return;
    const auto a = attrs(m, sizeof(rtmsg));
    if (a.count(RTA_DST) == 0) return;  // the daemon takes routes with a destination only
    const int family = rt->rtm_family == AF_INET ? 4 : 6;
    const size_t alen = family == 4 ? 4 : 16;
    HwdPrefix p;
    p.family = family;
    p.len = rt->rtm_dst_len;
    std::memcpy(p.addr.data(), a.at(RTA_DST).first, std::min(alen, a.at(RTA_DST).second));
    // IPv6 link-local and multicast destinations are not forwarded by the
    // hardware: the daemon refuses them, so they are not expected there.
    if (family == 6 && (p.addr[0] == 0xff || (p.addr[0] == 0xfe && (p.addr[1] & 0xc0) == 0x80))) return;
    HwcPaths& paths = k->routes[p];
    auto addPath = [&](const uint8_t* gw, size_t gwLen, uint32_t oif) {
        HwdPathKey key;
        // Kernel-protocol IPv4 routes go through the destination itself.
        if (family == 4 && rt->rtm_protocol == RTPROT_KERNEL)
            key.nexthop = p.addr;
        else if (gw != nullptr)
            std::memcpy(key.nexthop.data(), gw, std::min(gwLen, size_t(16)));
        key.ipPort = oif;
        paths[key] = 0;
    };
    if (a.count(RTA_MULTIPATH) != 0) {
        const auto [data, len] = a.at(RTA_MULTIPATH);
        for (size_t pos = 0; pos + sizeof(rtnexthop) <= len;) {
            const auto* nh = reinterpret_cast<const rtnexthop*>(data + pos);
            if (nh->rtnh_len < sizeof(rtnexthop)) break;
            const uint8_t* gw = nullptr;
            size_t gwLen = 0;
            for (size_t ap = RTNH_ALIGN(sizeof(rtnexthop)); ap + sizeof(rtattr) <= nh->rtnh_len;) {
                const auto* at = reinterpret_cast<const rtattr*>(data + pos + ap);
                if (at->rta_len < sizeof(rtattr)) break;
                if (at->rta_type == RTA_GATEWAY) {
                    gw = data + pos + ap + RTA_LENGTH(0);
                    gwLen = at->rta_len - RTA_LENGTH(0);
                }
                ap += RTA_ALIGN(at->rta_len);
            }
            addPath(gw, gwLen, uint32_t(nh->rtnh_ifindex));
            pos += RTNH_ALIGN(nh->rtnh_len);
        }
        return;
    }
    const auto gw = a.find(RTA_GATEWAY);
    addPath(gw == a.end() ? nullptr : gw->second.first, gw == a.end() ? 0 : gw->second.second,
            a.count(RTA_OIF) ? u32At(a.at(RTA_OIF)) : 0);
}

void addKernelNeighbour(const std::vector<uint8_t>& m, HwcView* k) {
    const auto* nd = reinterpret_cast<const ndmsg*>(m.data() + NLMSG_HDRLEN);
    if (nd->ndm_family != AF_INET && nd->ndm_family != AF_INET6) return;
    if (nd->ndm_state & (NUD_NOARP | NUD_FAILED | NUD_INCOMPLETE)) return;
    const auto a = attrs(m, sizeof(ndmsg));
    if (a.count(NDA_DST) == 0 || a.count(NDA_LLADDR) == 0 || a.at(NDA_LLADDR).second != 6) return;
    HwdPrefix p;
    p.family = nd->ndm_family == AF_INET ? 4 : 6;
    p.len = p.family == 4 ? 32 : 128;
    std::memcpy(p.addr.data(), a.at(NDA_DST).first, std::min(size_t(16), a.at(NDA_DST).second));
    HwcNeighbour n;
    std::memcpy(n.mac.data(), a.at(NDA_LLADDR).first, 6);
    n.ifindex = uint32_t(nd->ndm_ifindex);
    k->neighbours[p] = n;
}

bool kernelView(HwcView* k, std::string* err) {
    RtDump d;
    std::vector<std::vector<uint8_t>> routes, neighs;
    if (!d.dump(RTM_GETROUTE, &routes, err) || !d.dump(RTM_GETNEIGH, &neighs, err)) return false;
    for (const auto& m : routes) addKernelRoute(m, k);
    for (const auto& m : neighs) addKernelNeighbour(m, k);
    return true;
}

// ---------------------------------------------------------------------------

bool hardwareView(const std::string& trace, HwdState* hw, std::string* err) {
    HwdTraceReader reader;
    if (!reader.open(trace, false, err)) return false;
    HwdCall call;
    int rc;
    while ((rc = reader.next(&call, err)) == 1) hw->apply(call);
    return rc == 0;
}

size_t pathCount(const HwcView& v) {
    size_t n = 0;
    for (const auto& [p, paths] : v.routes) n += paths.size();
    return n;
}

std::string summary(const HwcReport& r, const HwcView& k, const HwcView& sw, const HwdState* hw) {
    std::string s = r.differences.empty() ? "all agree" : std::to_string(r.differences.size()) + " difference" +
                                                            (r.differences.size() == 1 ? "" : "s");
    s += ", " + std::to_string(r.pending.size()) + " pending; kernel " + std::to_string(pathCount(k)) + " paths " +
         std::to_string(k.neighbours.size()) + " neighbours, software " + std::to_string(pathCount(sw)) + " paths " +
         std::to_string(sw.neighbours.size()) + " neighbours";
    if (hw != nullptr)
        s += ", hardware " + std::to_string(hw->routes.size()) + " routes " + std::to_string(hw->neighbours.size()) +
             " neighbours";
    return s;
}

nlohmann::json findingsJson(const std::vector<HwcFinding>& list) {
    nlohmann::json a = nlohmann::json::array();
    for (const HwcFinding& f : list)
        a.push_back({{"kind", f.kind},
                     {"object", f.object},
                     {"family", f.prefix.family == 4 ? "ipv4" : "ipv6"},
                     {"vrf", f.prefix.vrf},
                     {"prefix", hwdAddrText(f.prefix.family, f.prefix.addr) + "/" + std::to_string(f.prefix.len)},
                     {"text", f.text}});
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const int parsed = parseArgs(argc, argv, &o);
    if (parsed >= 0) return parsed;

    std::string err;
    HwcView kernel, sw;
    HwdState hw;
    std::vector<std::string> lines;
    if (!kernelView(&kernel, &err) || !hwdNmExport(o.socketPath, HW_NM_EXPORT_STATE, o.timeoutSec, &lines, &err) ||
        !hwcSoftwareFromExport(lines, &sw, &err) || (!o.trace.empty() && !hardwareView(o.trace, &hw, &err))) {
        std::fprintf(stderr, "hwroute-check: %s\n", err.c_str());
        return EXIT_CANNOT;
    }
    const HwdState* hwp = o.trace.empty() ? nullptr : &hw;
    const HwcReport r = hwcCompare(kernel, sw, hwp);
    if (o.json) {
        nlohmann::json j = {{"agree", r.differences.empty()},
                            {"differences", findingsJson(r.differences)},
                            {"pending", findingsJson(r.pending)},
                            {"summary", summary(r, kernel, sw, hwp)},
                            {"hardwareChecked", hwp != nullptr}};
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        if (!o.quiet) {
            for (const HwcFinding& f : r.differences) std::printf("%s\n", f.text.c_str());
            for (const HwcFinding& f : r.pending) std::printf("%s\n", f.text.c_str());
        }
        std::printf("hwroute-check: %s\n", summary(r, kernel, sw, hwp).c_str());
    }
    return r.differences.empty() ? EXIT_AGREE : EXIT_DIFFER;
}
