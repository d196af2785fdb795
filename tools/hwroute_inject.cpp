// hwroute-inject: builds one of the platform's own notification messages
// (incoming labels, labelled routes, layer-2 VPNs, card events, the labelled
// flush, or any type with a raw body) from readable arguments and sends it
// to a running daemon's notification socket, so that those paths run on a
// kernel that never sends them.
//
// Every message is one row of kMessages: its words, netlink type, body
// length, preset bytes and the options it takes. An option is one row of a
// layout's field table (offset, kind), so a new message is a new row.
#include <arpa/inet.h>
#include <dirent.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAIL = 1;   // no daemon socket found, or the send failed
constexpr int EXIT_USAGE = 2;  // wrong arguments

constexpr uint32_t kHdrLen = 16;
constexpr uint32_t kMaxLabels = 3;
constexpr uint32_t kMaxLabelValue = 0xFFFFF;  // 20 bits
constexpr uint32_t kMaxBody = 1024 - kHdrLen;  // the daemon reads datagrams of at most 1024 bytes

// ---- Fields --------------------------------------------------------------------

enum class Kind {
    U8,      // decimal or 0x.. number into one byte
    U16,     // host order
    U32,     // host order
    Bit,     // no value: ORs `arg` into the byte
    Addr,    // IPv4 or IPv6 address into 16 bytes; its family into byte `arg` (when >= 0)
    Addr4,   // IPv4 address into 4 bytes, first octet first
    Prefix,  // ADDR/LEN: address as Addr, length into byte `arg2`
    Label,   // one label stack entry LABEL[/EXP[/TTL]] (host-order u32)
    Labels,  // up to three entries, comma separated; their count into byte `arg`
};

struct Field {
    const char* option;
    Kind kind;
    int offset;  // from the start of the netlink message
    int arg;
    int arg2;
    const char* help;
};

struct Args {
    std::vector<uint8_t> msg;
    std::string error;
};

bool parseNumber(const std::string& text, uint64_t max, uint64_t* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || text[0] == '-' || v > max) return false;
    *out = v;
    return true;
}

void putHost(std::vector<uint8_t>& m, int off, uint64_t v, int width) {
    if (width == 1) m[off] = uint8_t(v);
    if (width == 2) {
        const uint16_t x = uint16_t(v);
        std::memcpy(&m[off], &x, 2);
    }
    if (width == 4) {
        const uint32_t x = uint32_t(v);
        std::memcpy(&m[off], &x, 4);
    }
}

// Returns the family (2 or 10), or 0 when the text is no address.
int parseAddr(const std::string& text, uint8_t out[16]) {
    std::memset(out, 0, 16);
    if (inet_pton(AF_INET, text.c_str(), out) == 1) return 2;
    if (inet_pton(AF_INET6, text.c_str(), out) == 1) return 10;
    return 0;
}

// LABEL[/EXP[/TTL]]; the bottom-of-stack bit is set by the caller.
bool parseLabel(const std::string& text, uint32_t* word, std::string* error) {
    std::vector<std::string> parts;
    std::stringstream ss(text);
    for (std::string p; std::getline(ss, p, '/');) parts.push_back(p);
    uint64_t label = 0, exp = 0, ttl = 255;
    if (parts.empty() || parts.size() > 3 || !parseNumber(parts[0], kMaxLabelValue, &label) ||
        (parts.size() > 1 && !parseNumber(parts[1], 7, &exp)) || (parts.size() > 2 && !parseNumber(parts[2], 255, &ttl))) {
        *error = "bad label '" + text + "' (LABEL[/EXP[/TTL]], label 0.." + std::to_string(kMaxLabelValue) +
                 ", EXP 0..7, TTL 0..255)";
        return false;
    }
    *word = uint32_t(label) << 12 | uint32_t(exp) << 9 | uint32_t(ttl);
    return true;
}

bool applyField(const Field& f, const std::string& value, Args* a) {
    std::vector<uint8_t>& m = a->msg;
    const std::string opt = f.option;
    uint64_t v = 0;
    switch (f.kind) {
        case Kind::U8:
        case Kind::U16:
        case Kind::U32: {
            const int width = f.kind == Kind::U8 ? 1 : f.kind == Kind::U16 ? 2 : 4;
            if (!parseNumber(value, width == 4 ? 0xFFFFFFFFull : (1ull << (8 * width)) - 1, &v)) {
                a->error = "bad value '" + value + "' for " + opt;
                return false;
            }
            putHost(m, f.offset, v, width);
            return true;
        }
        case Kind::Bit:
            m[f.offset] |= uint8_t(f.arg);
            return true;
        case Kind::Addr4:
        case Kind::Addr:
        case Kind::Prefix: {
            std::string addr = value;
            uint64_t len = 0;
            if (f.kind == Kind::Prefix) {
                const auto slash = value.find('/');
                if (slash == std::string::npos || !parseNumber(value.substr(slash + 1), 128, &len)) {
                    a->error = "bad prefix '" + value + "' for " + opt + " (ADDRESS/LENGTH)";
                    return false;
                }
                addr = value.substr(0, slash);
            }
            uint8_t bytes[16];
            const int family = parseAddr(addr, bytes);
            if (family == 0 || (f.kind == Kind::Addr4 && family != 2) || (family == 2 && len > 32)) {
                a->error = "bad address '" + value + "' for " + opt;
                return false;
            }
            std::memcpy(&m[f.offset], bytes, f.kind == Kind::Addr4 ? 4 : 16);
            if (f.kind != Kind::Addr4 && f.arg >= 0) m[f.arg] = uint8_t(family);
            if (f.kind == Kind::Prefix) m[f.arg2] = uint8_t(len);
            return true;
        }
        case Kind::Label: {
            uint32_t word = 0;
            if (!parseLabel(value, &word, &a->error)) return false;
            putHost(m, f.offset, word | 0x100, 4);
            return true;
        }
        case Kind::Labels: {
            std::vector<std::string> items;
            std::stringstream ss(value);
            for (std::string p; std::getline(ss, p, ',');) items.push_back(p);
            if (items.empty() || items.size() > kMaxLabels) {
                a->error = "at most " + std::to_string(kMaxLabels) + " labels for " + opt;
                return false;
            }
            for (std::size_t i = 0; i < items.size(); ++i) {
                uint32_t word = 0;
                if (!parseLabel(items[i], &word, &a->error)) return false;
                if (i + 1 == items.size()) word |= 0x100;  // bottom of stack
                putHost(m, f.offset + int(4 * i), word, 4);
            }
            m[f.arg] = uint8_t(items.size());
            return true;
        }
    }
    return false;
}

// ---- Layouts --------------------------------------------------------------------

// Labelled-route and ILM body.
const Field kMplsFields[] = {
    {"--vrf", Kind::U32, 16, 0, 0, "VRF of the route"},
    {"--in-if", Kind::U32, 20, 0, 0, "incoming interface unit (ILM)"},
    {"--if", Kind::U32, 24, 0, 0, "outgoing interface unit"},
    {"--prefix", Kind::Prefix, 28, 60, 62, "destination ADDRESS/LENGTH (sets the family)"},
    {"--nexthop", Kind::Addr, 44, 60, 0, "next-hop address (sets the family)"},
    {"--weight", Kind::U8, 61, 0, 0, "weight"},
    {"--flags", Kind::U8, 63, 0, 0, "flags byte (ILM: 1 transit; route: 1 delete the route, 4 request bit)"},
    {"--transit", Kind::Bit, 63, 0x01, 0, "ILM: a transit entry (flags bit 0x01)"},
    {"--route", Kind::Bit, 63, 0x01, 0, "route delete: remove the route, not only its labels (flags bit 0x01)"},
    {"--in-label", Kind::Label, 68, 0, 0, "incoming (swap) label LABEL[/EXP[/TTL]] (ILM)"},
    {"--labels", Kind::Labels, 72, 64, 0, "label stack L1[,L2[,L3]], each LABEL[/EXP[/TTL]]"},
    {"--out-labels", Kind::Labels, 72, 64, 0, "outgoing label stack (ILM), as --labels"},
    {"--pub-vrf", Kind::U32, 88, 0, 0, "VRF of the public route"},
    {"--pub-prefix", Kind::Prefix, 92, 65, 124, "public route ADDRESS/LENGTH (sets the public family and status)"},
    {"--pub-nexthop", Kind::Addr, 108, -1, 0, "public route next hop"},
    {"--pub-proto", Kind::U8, 125, 0, 0, "public route protocol (default 3, as ip route add)"},
    {"--pub-weight", Kind::U8, 126, 0, 0, "public route weight"},
};

// Layer-2 VPN body.
const Field kL2vpnFields[] = {
    {"--vfi", Kind::U16, 24, 0, 0, "VFI id"},
    {"--vpn-type", Kind::U8, 26, 0, 0, "VPN type (1, 2 or 5)"},
    {"--nexthop", Kind::Addr, 60, 27, 0, "remote edge address (sets the family)"},
    {"--flags", Kind::U32, 28, 0, 0, "flags"},
    {"--ce-port", Kind::U32, 32, 0, 0, "customer-side port"},
    {"--ce-vid", Kind::U16, 36, 0, 0, "customer-side VLAN"},
    {"--ce-egress-vid", Kind::U16, 38, 0, 0, "customer-side egress VLAN"},
    {"--ce-egress-pri", Kind::U8, 40, 0, 0, "customer-side egress priority"},
    {"--pe-egress-pri", Kind::U8, 41, 0, 0, "provider-side egress priority"},
    {"--pe-egress-vid", Kind::U16, 42, 0, 0, "provider-side egress VLAN"},
    {"--tx-outer-label", Kind::U32, 44, 0, 0, "outer label sent (plain value)"},
    {"--tx-inner-label", Kind::U32, 48, 0, 0, "inner label sent"},
    {"--rx-inner-label", Kind::U32, 52, 0, 0, "inner label received"},
    {"--tx-outer-exp", Kind::U8, 56, 0, 0, "outer EXP"},
    {"--tx-outer-ttl", Kind::U8, 57, 0, 0, "outer TTL"},
    {"--tx-inner-exp", Kind::U8, 58, 0, 0, "inner EXP"},
    {"--tx-inner-ttl", Kind::U8, 59, 0, 0, "inner TTL"},
    {"--pub-vrf", Kind::U32, 76, 0, 0, "VRF of the public route"},
    {"--pub-if", Kind::U32, 80, 0, 0, "interface unit of the public route"},
    {"--pub-prefix", Kind::Prefix, 84, -1, 100, "public route ADDRESS/LENGTH (sets the public status)"},
    {"--pub-proto", Kind::U8, 101, 0, 0, "public route protocol (default 3)"},
    {"--pub-weight", Kind::U8, 102, 0, 0, "public route weight"},
};

// Card, slot and resend body.
const Field kCardFields[] = {
    {"--sys", Kind::U32, 16, 0, 0, "system id"},
    {"--slot", Kind::U32, 20, 0, 0, "slot id"},
    {"--card", Kind::U32, 24, 0, 0, "card id (card up)"},
    {"--type", Kind::U32, 28, 0, 0, "card or slot type"},
};

struct Layout {
    const Field* fields;
    std::size_t count;
};
constexpr Layout kMpls{kMplsFields, sizeof kMplsFields / sizeof kMplsFields[0]};
constexpr Layout kL2vpn{kL2vpnFields, sizeof kL2vpnFields / sizeof kL2vpnFields[0]};
constexpr Layout kCard{kCardFields, sizeof kCardFields / sizeof kCardFields[0]};
constexpr Layout kNone{nullptr, 0};

// A byte the message always carries, unless an option sets it.
struct Preset {
    int offset;
    uint8_t value;
};

struct Message {
    const char* words;  // command words as typed
    uint16_t type;
    uint32_t length;    // whole message, header included
    Layout layout;
    Preset presets[3];
    const char* allowed;  // the layout's options this message takes, space separated (null: all)
    const char* help;
    const char* statusOption;  // given: byte `statusOffset` := 1 ("present")
    int statusOffset;
};

constexpr int kNoPreset = -1;
constexpr uint8_t kOpAdd = 24, kOpDel = 25;
constexpr uint8_t kProtoBoot = 3;

const Message kMessages[] = {
    {"ilm add", 129, 128, kMpls, {{kNoPreset, 0}, {kNoPreset, 0}, {kNoPreset, 0}},
     "--in-if --if --nexthop --flags --transit --in-label --out-labels", "add an incoming-label entry", nullptr, 0},
    {"ilm del", 130, 128, kMpls, {{kNoPreset, 0}, {kNoPreset, 0}, {kNoPreset, 0}},
     "--in-if --if --nexthop --flags --transit --in-label --out-labels", "delete an incoming-label entry", nullptr, 0},
    {"vpn add", 131, 128, kMpls, {{66, kOpAdd}, {125, kProtoBoot}, {kNoPreset, 0}},
     "--vrf --if --prefix --nexthop --weight --flags --labels --pub-vrf --pub-prefix --pub-nexthop --pub-proto "
     "--pub-weight",
     "add a labelled route, optionally riding on a public route", "--pub-prefix", 127},
    {"vpn del", 132, 128, kMpls, {{66, kOpDel}, {kNoPreset, 0}, {kNoPreset, 0}},
     "--vrf --if --prefix --nexthop --weight --flags --route --labels",
     "withdraw a labelled route's labels (with --route: the route)", nullptr, 0},
    {"l2vpn add", 133, 104, kL2vpn, {{101, kProtoBoot}, {kNoPreset, 0}, {kNoPreset, 0}}, nullptr,
     "add a layer-2 VPN entry, optionally with its public route", "--pub-prefix", 103},
    {"l2vpn del", 134, 104, kL2vpn, {{kNoPreset, 0}, {kNoPreset, 0}, {kNoPreset, 0}}, nullptr,
     "delete a layer-2 VPN entry", nullptr, 0},
    {"card-up", 87, 32, kCard, {{kNoPreset, 0}, {kNoPreset, 0}, {kNoPreset, 0}}, nullptr, "a line card came up",
     nullptr, 0},
    {"slot-up", 90, 32, kCard, {{kNoPreset, 0}, {kNoPreset, 0}, {kNoPreset, 0}}, "--sys --slot --type",
     "a slot came up", nullptr, 0},
    {"resend", 135, 32, kCard, {{kNoPreset, 0}, {kNoPreset, 0}, {kNoPreset, 0}}, "--sys --slot --type",
     "ask for everything in hardware to be sent again", nullptr, 0},
    {"vpn-flush", 148, 16, kNone, {{kNoPreset, 0}, {kNoPreset, 0}, {kNoPreset, 0}}, nullptr,
     "remove every labelled route, incoming-label and layer-2 VPN entry", nullptr, 0},
};

bool allows(const Message& m, const char* option) {
    if (m.allowed == nullptr) return true;
    std::stringstream ss(m.allowed);
    for (std::string w; ss >> w;)
        if (w == option) return true;
    return false;
}

const Field* fieldOf(const Message& m, const std::string& option) {
    for (std::size_t i = 0; i < m.layout.count; ++i) {
        const Field& f = m.layout.fields[i];
        if (option == f.option && allows(m, f.option)) return &f;
    }
    return nullptr;
}

void printMessageHelp(const Message& m) {
    std::printf("usage: hwroute-inject [--pid PID | --port PORT | --print] %s [OPTIONS]\n\n%s (type %u).\n", m.words,
                m.help, m.type);
    if (m.layout.count != 0) std::printf("\noptions:\n");
    for (std::size_t i = 0; i < m.layout.count; ++i) {
        const Field& f = m.layout.fields[i];
        if (allows(m, f.option)) std::printf("  %-18s %s\n", f.option, f.help);
    }
    std::printf("\nNumbers are decimal or 0x..; options not given are 0.\n");
}

const char* const USAGE =
    "usage: hwroute-inject [--pid PID | --port PORT | --print] COMMAND [OPTIONS]\n"
    "\n"
    "Builds one platform notification message and unicasts it to the daemon's\n"
    "notification socket (its netlink port, found from --pid, or given as --port),\n"
    "or with --print writes the message bytes in hex instead.\n"
    "\n"
    "commands (COMMAND --help lists its options):\n";

void printUsage(FILE* out) {
    std::fputs(USAGE, out);
    for (const Message& m : kMessages) std::fprintf(out, "  %-12s %s\n", m.words, m.help);
    std::fprintf(out,
                 "  %-12s %s\n\nexit status: 0 sent, 1 no daemon socket or the send failed, 2 wrong usage\n",
                 "raw TYPE HEX", "any type with the body given in hex (after the 16-byte header)");
}

int usageError(const std::string& text) {
    std::fprintf(stderr, "hwroute-inject: %s\n", text.c_str());
    return EXIT_USAGE;
}

void header(std::vector<uint8_t>& m, uint16_t type) {
    const uint32_t len = uint32_t(m.size());
    std::memcpy(&m[0], &len, 4);
    std::memcpy(&m[4], &type, 2);
}

// ---- Building -------------------------------------------------------------------

int buildMessage(const Message& m, const std::vector<std::string>& opts, std::vector<uint8_t>* out) {
    Args a;
    a.msg.assign(m.length, 0);
    for (const Preset& p : m.presets)
        if (p.offset != kNoPreset) a.msg[p.offset] = p.value;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < opts.size(); ++i) {
        const Field* f = fieldOf(m, opts[i]);
        if (f == nullptr) return usageError("unknown option '" + opts[i] + "' for " + m.words + " (see --help)");
        if (!seen.insert(f->option).second) return usageError(std::string("option ") + f->option + " given twice");
        std::string value;
        if (f->kind != Kind::Bit) {
            if (i + 1 >= opts.size()) return usageError(std::string("option ") + f->option + " needs a value");
            value = opts[++i];
        }
        if (!applyField(*f, value, &a)) return usageError(a.error);
        if (m.statusOption != nullptr && std::strcmp(f->option, m.statusOption) == 0) a.msg[m.statusOffset] = 1;
    }
    header(a.msg, m.type);
    *out = a.msg;
    return EXIT_OK;
}

int buildRaw(const std::vector<std::string>& args, std::vector<uint8_t>* out) {
    uint64_t type = 0;
    if (args.empty() || !parseNumber(args[0], 0xFFFF, &type)) return usageError("raw needs a message type 0..65535");
    std::string hex;
    for (std::size_t i = 1; i < args.size(); ++i) hex += args[i];
    std::vector<uint8_t> m(kHdrLen, 0);
    std::string digits;
    for (char c : hex)
        if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2 != 0) return usageError("raw body: odd number of hex digits");
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        uint64_t b = 0;
        if (!parseNumber("0x" + digits.substr(i, 2), 0xFF, &b)) return usageError("raw body: not hex: " + digits);
        m.push_back(uint8_t(b));
    }
    if (m.size() - kHdrLen > kMaxBody) return usageError("raw body longer than " + std::to_string(kMaxBody) + " bytes");
    header(m, uint16_t(type));
    *out = m;
    return EXIT_OK;
}

// ---- Sending --------------------------------------------------------------------

std::set<unsigned long> socketInodes(long pid) {
    std::set<unsigned long> inodes;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return inodes;
    while (dirent* e = readdir(d)) {
        char target[64] = {};
        const std::string path = dir + "/" + e->d_name;
        if (readlink(path.c_str(), target, sizeof target - 1) <= 0) continue;
        unsigned long inode = 0;
        if (std::sscanf(target, "socket:[%lu]", &inode) == 1) inodes.insert(inode);
    }
    closedir(d);
    return inodes;
}

// The netlink port of the process's route socket that listens to groups.
bool portOfPid(long pid, uint32_t* port) {
    const std::set<unsigned long> inodes = socketInodes(pid);
    std::ifstream in("/proc/net/netlink");
    std::string line;
    std::getline(in, line);  // column titles
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string sk;
        int protocol = -1;
        unsigned long portId = 0, inode = 0;
        std::string groups, rmem, wmem, dump, locks, drops;
        if (!(ls >> sk >> protocol >> portId >> groups >> rmem >> wmem >> dump >> locks >> drops >> inode)) continue;
        if (protocol != NETLINK_ROUTE || inodes.count(inode) == 0) continue;
        if (std::strtoul(groups.c_str(), nullptr, 16) == 0) continue;
        *port = uint32_t(portId);
        return true;
    }
    return false;
}

int sendTo(uint32_t port, const std::vector<uint8_t>& msg) {
    const int fd = socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE);
    if (fd < 0) {
        std::fprintf(stderr, "hwroute-inject: netlink socket: %s\n", std::strerror(errno));
        return EXIT_FAIL;
    }
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_pid = port;
    const ssize_t n = sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const int err = errno;
    close(fd);
    if (n != ssize_t(msg.size())) {
        std::fprintf(stderr, "hwroute-inject: send to port %u: %s\n", port, std::strerror(err));
        return EXIT_FAIL;
    }
    return EXIT_OK;
}

void printHex(const std::vector<uint8_t>& msg) {
    for (std::size_t i = 0; i < msg.size(); ++i) std::printf("%02x%s", msg[i], (i + 1) % 16 == 0 ? "\n" : " ");
    if (msg.size() % 16 != 0) std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    long pid = -1;
    uint64_t port = 0;
    bool havePort = false, print = false;
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        const std::string& o = args[i];
        uint64_t v = 0;
        if (o == "--help") {
            printUsage(stdout);
            return EXIT_OK;
        } else if (o == "--print") {
            print = true;
        } else if ((o == "--pid" || o == "--port") && i + 1 < args.size() &&
                   parseNumber(args[i + 1], 0xFFFFFFFFull, &v)) {
            if (o == "--pid") pid = long(v);
            if (o == "--port") port = v, havePort = true;
            ++i;
        } else {
            return usageError("bad option '" + o + "' (see --help)");
        }
    }
    if (i >= args.size()) return usageError("no command (see --help)");

    std::vector<uint8_t> msg;
    int rc = EXIT_USAGE;
    if (args[i] == "raw") {
        std::vector<std::string> rest(args.begin() + long(i) + 1, args.end());
        if (!rest.empty() && rest[0] == "--help") {
            std::printf("usage: hwroute-inject [--pid PID | --port PORT | --print] raw TYPE HEX...\n\n"
                        "Sends a message of TYPE whose body (after the 16-byte header) is HEX; spaces are ignored.\n");
            return EXIT_OK;
        }
        rc = buildRaw(rest, &msg);
    } else {
        const Message* found = nullptr;
        std::size_t used = 0;
        for (const Message& m : kMessages) {
            std::istringstream ws(m.words);
            std::size_t k = i;
            bool match = true;
            for (std::string w; ws >> w; ++k) match = match && k < args.size() && args[k] == w;
            if (match) found = &m, used = k - i;
        }
        if (found == nullptr) return usageError("unknown command '" + args[i] + "' (see --help)");
        std::vector<std::string> rest(args.begin() + long(i + used), args.end());
        if (!rest.empty() && rest[0] == "--help") {
            printMessageHelp(*found);
            return EXIT_OK;
        }
        rc = buildMessage(*found, rest, &msg);
    }
    if (rc != EXIT_OK) return rc;
    if (print) {
        printHex(msg);
        return EXIT_OK;
    }
    if (!havePort) {
        if (pid < 0) return usageError("give --pid PID or --port PORT (or --print)");
        uint32_t p = 0;
        if (!portOfPid(pid, &p)) {
            std::fprintf(stderr, "hwroute-inject: no route notification socket found for pid %ld\n", pid);
            return EXIT_FAIL;
        }
        port = p;
    }
    return sendTo(uint32_t(port), msg);
}
