// hwroute-nm: the operator's client of the daemon's management socket. It
// sends one request per run and prints the answer as text or JSON.
#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adr.h"
#include "metrics.h"
#include "nmclient.h"
#include "hwroute/bewriter.h"
#include "hwroute/management.h"
#include "hwroute/records.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAIL = 1;   // the daemon is unreachable, refused or answered an error
constexpr int EXIT_USAGE = 2;

const char* const USAGE =
    "usage: hwroute-nm [--socket PATH] [--json] [--timeout SEC] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  stats sw|hw|add|del [--v6] --vrf V --proto P\n"
    "        routes of one VRF (0..2047) and protocol (1..16): in software, in\n"
    "        hardware, added or deleted since start\n"
    "  stats\n"
    "        every non-zero per-VRF, per-protocol statistic (--json: as JSON)\n"
    "  table-stats [--v6] ITEM\n"
    "        one table counter, by number or name (table-stats list shows them)\n"
    "  show SECTION\n"
    "        the daemon prints one software table on its standard output;\n"
    "        SECTION is a number 1..16 or a name (show list shows them)\n"
    "  count [--verbose]\n"
    "        the daemon prints every statistics counter on its standard output\n"
    "        (a management request always prints the summary and the verbose part)\n"
    "  count --json | --summary\n"
    "        the counters here instead: every counter as JSON, or the summary\n"
    "        part alone (as text, or as JSON with --json)\n"
    "  metrics\n"
    "        every counter and the per-VRF, per-protocol statistics in the text\n"
    "        exposition format of metrics scrapers\n"
    "  debug LEVEL\n"
    "        set the daemon's debug level (all categories up to LEVEL; -1: off)\n"
    "  tunnel add|del unit N local ADDR[/LEN] remote ADDR route PREFIX/LEN\n"
    "         [id N] [encaps N] [type N] [tick N]\n"
    "        add or delete a tunnel by hand: routed prefix into tunnel interface\n"
    "        unit N between the two endpoints (LEN: the local subnet; without it\n"
    "        the far endpoint is never taken as directly connected)\n"
    "  tunnel notify unit N\n"
    "        delete every tunnel of tunnel interface unit N\n"
    "  raw --func F --cmd C [--vrf V] [--value N] [--index-num N]\n"
    "        send one request as given and show the return code and value\n"
    "\n"
    "options:\n"
    "  --socket PATH   management socket (default %s)\n"
    "  --json          one JSON object on standard output, also for errors\n"
    "  --timeout SEC   how long to wait for the answer (default 30)\n"
    "  --help          this text\n"
    "\n"
    "exit status: 0 success, 1 the daemon is unreachable or refused the request,\n"
    "2 wrong usage\n";

struct Named {
    int number;
    const char* name;
    const char* label;  // the counter's label in the daemon's counter dump
};

const Named tableItems4[] = {
    {1, "total-routes", "total routeCnt"},
    {2, "sw-nexthops", "sw nexthopCnt"},
    {3, "hardware-ok-routes", "hardware ok routeCnt"},
    {4, "pend-routes", "pend routeCnt"},
    {5, "hardware-error-routes", "hardware error routeCnt"},
    {6, "rcv-arp", "rcvArpCnt"},
    {7, "rcv-arp-add", "rcvArpAddCnt"},
    {8, "rcv-arp-del", "rcvArpDelCnt"},
    {9, "rcv-arp-change", "rcvArpChangeCnt"},
    {10, "arp-add-param-errors", "arpAddParamErrCnt"},
    {11, "arp-add-no-memory", "arpAddNoMemErrCnt"},
    {12, "arp-add-same-info", "arpAddSameInfoCnt"},
    {13, "arp-del-param-errors", "arpDelParamErrCnt"},
    {14, "arp-del-no-entry", "arpDelNoEntryErrCnt"},
    {15, "total-arp", "total arpCnt"},
    {16, "software-arp", "software arpCnt"},
    {17, "hardware-ok-arp", "hardware ok arpCnt"},
    {18, "hardware-error-arp", "hardware error arpCnt"},
    {19, "reserved", "reserved (always 0)"},
};

const Named tableItems6[] = {
    {1, "total-routes", "total routeCnt"},
    {2, "sw-nexthops", "sw nexthop6Cnt"},
    {3, "hardware-ok-routes", "hardware ok route6Cnt"},
    {4, "pend-routes", "pend route6Cnt"},
    {5, "hardware-error-routes", "hardware error route6Cnt"},
    {6, "total-nd6", "total nd6Cnt"},
    {7, "software-nd6", "software nd6Cnt"},
    {8, "hardware-ok-nd6", "hardware ok nd6Cnt"},
    {9, "hardware-error-nd6", "hardware error nd6Cnt"},
};

const Named sections[] = {
    {1, "ipv4-dest", "IPv4 destinations with their next hops"},
    {2, "ipv4-nexthop", "IPv4 next hops"},
    {3, "ipv4-pend", "IPv4 next hops waiting for a neighbour"},
    {4, "ipv4-indirect", "IPv4 indirect next hops"},
    {5, "ipv4-ilm", "incoming-label entries"},
    {6, "ipv4-ilm-pend", "incoming-label entries waiting for a neighbour"},
    {7, "l2vpn", "layer-2 VPN entries"},
    {8, "l2vpn-pend", "layer-2 VPN entries waiting for a neighbour"},
    {9, "ipv4-arp", "ARP entries"},
    {10, "ipv6-dest", "IPv6 destinations with their next hops"},
    {11, "ipv6-nexthop", "IPv6 next hops"},
    {12, "ipv6-pend", "IPv6 next hops waiting for a neighbour"},
    {13, "ipv6-indirect", "IPv6 indirect next hops"},
    {14, "ipv6-nd6", "IPv6 neighbour entries"},
    {15, "tunnel", "tunnels"},
    {16, "all", "every table"},
};

template <std::size_t N>
const Named* findNamed(const Named (&list)[N], const std::string& text) {
    char* end = nullptr;
    const long n = strtol(text.c_str(), &end, 10);
    const bool numeric = !text.empty() && *end == '\0';
    for (const Named& e : list)
        if ((numeric && e.number == n) || text == e.name) return &e;
    return nullptr;
}

template <std::size_t N>
void printNamed(FILE* out, const Named (&list)[N]) {
    for (const Named& e : list) fprintf(out, "  %2d  %-22s %s\n", e.number, e.name, e.label);
}

struct StatsKind {
    const char* name;
    uint32_t func4;
    uint32_t func6;
    const char* what;
};

const StatsKind statsKinds[] = {
    {"sw", 1, 9, "routes in software"},
    {"hw", 2, 10, "routes in hardware"},
    {"add", 3, 11, "routes added"},
    {"del", 4, 12, "routes deleted"},
};

const char* rcText(uint32_t rc) {
    switch (rc) {
        case HW_NM_RC_BAD_SELECTOR:
            return "set selector other than 1";
        case HW_NM_RC_OUT_OF_TABLE:
            return "VRF id or protocol outside the statistics tables";
        case HW_NM_RC_NO_VALUE:
            return "the request carries no 32-bit value";
        default: {
            const char* tunnel = hwNmTunnelRcText(rc);
            return tunnel != nullptr ? tunnel : "unknown return code";
        }
    }
}

// Minimal JSON string quoting for the texts this tool prints.
std::string jsonText(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        if (ch == '"' || ch == '\\') out += '\\';
        if (static_cast<unsigned char>(ch) < 0x20) continue;
        out += ch;
    }
    return out + "\"";
}

// The longest request this client sends: the tunnel request.
constexpr uint32_t kMaxMsgLen = ADR_OFF_VALUE_DATA + HW_NM_TUN_REQ_LEN;

struct Options {
    std::string socketPath = HW_NM_SOCKET_PATH;
    bool json = false;
    int timeoutSec = 30;
    bool v6 = false;
    bool verbose = false;
    bool summary = false;
    bool hasVrf = false, hasProto = false, hasFunc = false, hasCmd = false, hasIndexNum = false;
    long vrf = 0, proto = 0, func = 0, cmd = 0, value = 0, indexNum = 0;
    std::vector<std::string> words;  // command and its positional arguments
};

class Client {
public:
    explicit Client(const Options& o) : opt_(o) {}

    // Print an error (text on stderr; with --json also an object on stdout).
    int fail(int status, const std::string& text, uint32_t rc = 0) const {
        fprintf(stderr, "hwroute-nm: %s\n", text.c_str());
        if (opt_.json) {
            char rcHex[16];
            snprintf(rcHex, sizeof(rcHex), "0x%08x", rc);
            printf("{\"ok\":false,\"error\":%s%s%s}\n", jsonText(text).c_str(), rc != 0 ? ",\"rc\":" : "",
                   rc != 0 ? jsonText(rcHex).c_str() : "");
        }
        return status;
    }

    // Send one request; on success `reply` holds the decoded answer.
    int transact(const AdrMessage& req, AdrMessage* reply) {
        uint8_t out[4 + kMaxMsgLen];
        const int len = adr_encodemessage(out + 4, sizeof(out) - 4, &req);
        if (len < 0) return fail(EXIT_FAIL, "request does not fit");
        BeWriter(out, 4).u32(uint32_t(len));
        const int fd = connectDaemon();
        if (fd < 0) return EXIT_FAIL;
        const int status = exchange(fd, out, 4 + len, req, reply);
        close(fd);
        return status;
    }

private:
    int connectDaemon() {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (fd < 0 || opt_.socketPath.size() >= sizeof(addr.sun_path)) {
            fail(EXIT_FAIL, "cannot connect to " + opt_.socketPath + ": " +
                                (fd < 0 ? strerror(errno) : "path too long") + " (is hwroute running?)");
            if (fd >= 0) close(fd);
            return -1;
        }
        memcpy(addr.sun_path, opt_.socketPath.c_str(), opt_.socketPath.size() + 1);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
            fail(EXIT_FAIL, "cannot connect to " + opt_.socketPath + ": " + strerror(errno) + " (is hwroute running?)");
            close(fd);
            return -1;
        }
        timeval tv{};
        tv.tv_sec = opt_.timeoutSec;
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        return fd;
    }

    static bool recvAll(int fd, uint8_t* buf, std::size_t len) {
        std::size_t got = 0;
        while (got < len) {
            const ssize_t n = recv(fd, buf + got, len - got, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            got += std::size_t(n);
        }
        return true;
    }

    int exchange(int fd, const uint8_t* out, int outLen, const AdrMessage& req, AdrMessage* reply) {
        if (send(fd, out, std::size_t(outLen), MSG_NOSIGNAL) != outLen)
            return fail(EXIT_FAIL, std::string("cannot send the request: ") + strerror(errno));
        uint8_t lenBytes[4];
        if (!recvAll(fd, lenBytes, sizeof(lenBytes)))
            return fail(EXIT_FAIL, "no answer from the daemon (connection closed or timed out)");
        const uint32_t replyLen = beRead32(lenBytes);
        if (replyLen == 0) return fail(EXIT_FAIL, "request refused by the daemon (malformed)");
        if (replyLen != uint32_t(outLen - 4))
            return fail(EXIT_FAIL, "unexpected answer length " + std::to_string(replyLen));
        if (!recvAll(fd, buf_, replyLen)) return fail(EXIT_FAIL, "answer cut short");
        if (adr_decodemessage(buf_, replyLen, reply) != 0 || reply->seq != req.seq)
            return fail(EXIT_FAIL, "malformed answer from the daemon");
        if (reply->retcode != 0) {
            char text[160];
            snprintf(text, sizeof(text), "the daemon refused the request: return code 0x%08x (%s)", reply->retcode,
                     rcText(reply->retcode));
            return fail(EXIT_FAIL, text, reply->retcode);
        }
        return EXIT_OK;
    }

    const Options& opt_;
    uint8_t buf_[kMaxMsgLen];
};

AdrMessage makeRequest(uint32_t func, uint32_t cmd, uint8_t indexNum, int32_t vrf, uint32_t value,
                       uint8_t* valueBytes) {
    BeWriter(valueBytes, 4).u32(value);
    AdrMessage m{};
    m.seq = uint32_t(getpid()) ^ uint32_t(time(nullptr));
    m.func = func;
    m.cmd = cmd;
    m.indexNum = indexNum;
    m.vrfid = vrf;
    m.valueType = ADR_TYPE_U32;
    m.valueLen = 4;
    m.value = valueBytes;
    return m;
}

uint32_t replyValue(const AdrMessage& m) {
    return m.valueType == ADR_TYPE_U32 && m.valueLen == 4 ? beRead32(m.value) : 0;
}

int usageError(const std::string& text) {
    fprintf(stderr, "hwroute-nm: %s (see hwroute-nm --help)\n", text.c_str());
    return EXIT_USAGE;
}

// ---------------------------------------------------------------------------
// Commands

// Counters and statistics through the daemon's export.
bool fetchCounters(const Options& o, std::vector<HwdCounter>* counters, std::vector<HwdStat>* stats, int* status) {
    std::vector<std::string> lines;
    std::string err;
    if (!hwdNmExport(o.socketPath, HW_NM_EXPORT_COUNTERS, o.timeoutSec, &lines, &err) ||
        !hwdCountersFromExport(lines, counters, stats, &err)) {
        *status = Client(o).fail(EXIT_FAIL, err);
        return false;
    }
    return true;
}

int cmdStatsAll(const Options& o) {
    if (o.hasVrf || o.hasProto || o.v6) return usageError("stats without sw, hw, add or del takes no --vrf, --proto or --v6");
    std::vector<HwdCounter> counters;
    std::vector<HwdStat> stats;
    int status = EXIT_OK;
    if (!fetchCounters(o, &counters, &stats, &status)) return status;
    if (o.json) {
        printf("%s\n", nlohmann::json({{"ok", true}, {"stats", hwdStatsJson(stats)}}).dump().c_str());
        return EXIT_OK;
    }
    for (const HwdStat& s : stats)
        printf("%s %-3s vrf %u protocol %u: %u\n", s.family == 4 ? "IPv4" : "IPv6", s.table.c_str(), s.vrf, s.proto,
               s.value);
    return EXIT_OK;
}

int cmdMetrics(const Options& o) {
    if (o.words.size() != 1) return usageError("metrics takes no argument");
    if (o.json) return usageError("metrics has no --json form (see count --json and stats --json)");
    std::vector<HwdCounter> counters;
    std::vector<HwdStat> stats;
    int status = EXIT_OK;
    if (!fetchCounters(o, &counters, &stats, &status)) return status;
    fputs(hwdMetricsText(counters, stats).c_str(), stdout);
    return EXIT_OK;
}

int cmdCountHere(const Options& o) {
    std::vector<HwdCounter> counters;
    std::vector<HwdStat> stats;
    int status = EXIT_OK;
    if (!fetchCounters(o, &counters, &stats, &status)) return status;
    if (o.json) {
        printf("%s\n",
               nlohmann::json({{"ok", true}, {"counters", hwdCountersJson(counters, o.summary)}}).dump().c_str());
        return EXIT_OK;
    }
    for (const HwdCounter& c : counters)
        if (!c.verbose) printf("%s: %u\n", c.label.c_str(), c.value);
    return EXIT_OK;
}

int cmdStats(const Options& o) {
    if (o.words.size() == 1) return cmdStatsAll(o);
    if (o.words.size() != 2) return usageError("stats needs one of sw, hw, add, del");
    const StatsKind* kind = nullptr;
    for (const StatsKind& k : statsKinds)
        if (o.words[1] == k.name) kind = &k;
    if (kind == nullptr) return usageError("unknown statistics '" + o.words[1] + "' (sw, hw, add, del)");
    if (!o.hasVrf || !o.hasProto) return usageError("stats needs --vrf and --proto");
    if (o.vrf < 0 || o.vrf > 2047) return usageError("--vrf must be 0..2047");
    if (o.proto < 1 || o.proto > 16) return usageError("--proto must be 1..16");
    uint8_t valueBytes[4];
    const uint32_t func = o.v6 ? kind->func6 : kind->func4;
    Client client(o);
    AdrMessage reply{};
    const int st = client.transact(makeRequest(func, uint32_t(o.proto), 1, int32_t(o.vrf), 0, valueBytes), &reply);
    if (st != EXIT_OK) return st;
    const uint32_t value = replyValue(reply);
    if (o.json)
        printf("{\"ok\":true,\"family\":%s,\"stats\":%s,\"vrf\":%ld,\"proto\":%ld,\"value\":%u}\n",
               o.v6 ? "\"ipv6\"" : "\"ipv4\"", jsonText(kind->name).c_str(), o.vrf, o.proto, value);
    else
        printf("%s %s, vrf %ld, protocol %ld: %u\n", o.v6 ? "IPv6" : "IPv4", kind->what, o.vrf, o.proto, value);
    return EXIT_OK;
}

int cmdTableStats(const Options& o) {
    if (o.words.size() == 2 && o.words[1] == "list") {
        if (o.v6)
            printNamed(stdout, tableItems6);
        else
            printNamed(stdout, tableItems4);
        return EXIT_OK;
    }
    if (o.words.size() != 2) return usageError("table-stats needs one ITEM");
    const Named* item = o.v6 ? findNamed(tableItems6, o.words[1]) : findNamed(tableItems4, o.words[1]);
    if (item == nullptr) {
        fprintf(stderr, "hwroute-nm: unknown %s table item '%s'; items:\n", o.v6 ? "IPv6" : "IPv4", o.words[1].c_str());
        if (o.v6)
            printNamed(stderr, tableItems6);
        else
            printNamed(stderr, tableItems4);
        return EXIT_USAGE;
    }
    uint8_t valueBytes[4];
    Client client(o);
    AdrMessage reply{};
    const int st = client.transact(makeRequest(o.v6 ? 13 : 5, uint32_t(item->number), 0, 0, 0, valueBytes), &reply);
    if (st != EXIT_OK) return st;
    const uint32_t value = replyValue(reply);
    if (o.json)
        printf("{\"ok\":true,\"family\":%s,\"item\":%d,\"name\":%s,\"label\":%s,\"value\":%u}\n",
               o.v6 ? "\"ipv6\"" : "\"ipv4\"", item->number, jsonText(item->name).c_str(),
               jsonText(item->label).c_str(), value);
    else
        printf("%s: %u\n", item->label, value);
    return EXIT_OK;
}

int printedByDaemon(const Options& o, const char* what, int number, const char* name) {
    if (o.json)
        printf("{\"ok\":true,\"printed\":%s,\"number\":%d,\"name\":%s,\"output\":\"daemon standard output\"}\n",
               jsonText(what).c_str(), number, jsonText(name).c_str());
    else
        printf("hwroute-nm: the daemon printed %s on its own standard output (see its console or log)\n", what);
    return EXIT_OK;
}

int cmdShow(const Options& o) {
    if (o.words.size() == 2 && o.words[1] == "list") {
        printNamed(stdout, sections);
        return EXIT_OK;
    }
    if (o.words.size() != 2) return usageError("show needs one SECTION");
    const Named* section = findNamed(sections, o.words[1]);
    if (section == nullptr) {
        fprintf(stderr, "hwroute-nm: unknown section '%s'; sections:\n", o.words[1].c_str());
        printNamed(stderr, sections);
        return EXIT_USAGE;
    }
    uint8_t valueBytes[4];
    Client client(o);
    AdrMessage reply{};
    const int st = client.transact(makeRequest(6, uint32_t(section->number), 0, 0, 0, valueBytes), &reply);
    if (st != EXIT_OK) return st;
    const std::string what = std::string("table ") + std::to_string(section->number) + " (" + section->name + ")";
    return printedByDaemon(o, what.c_str(), section->number, section->name);
}

int cmdCount(const Options& o) {
    if (o.words.size() != 1) return usageError("count takes no argument");
    if (o.json || o.summary) return cmdCountHere(o);
    uint8_t valueBytes[4];
    Client client(o);
    AdrMessage reply{};
    // Any mode above 0 prints the summary and the verbose counters.
    const int st = client.transact(makeRequest(7, 1, 0, 0, 0, valueBytes), &reply);
    if (st != EXIT_OK) return st;
    return printedByDaemon(o, "its counter dump (summary and verbose part)", 1, "count");
}

int cmdDebug(const Options& o) {
    if (o.words.size() != 2) return usageError("debug needs one LEVEL");
    char* end = nullptr;
    const long level = strtol(o.words[1].c_str(), &end, 10);
    if (o.words[1].empty() || *end != '\0') return usageError("LEVEL must be a number");
    uint8_t valueBytes[4];
    Client client(o);
    AdrMessage reply{};
    const int st = client.transact(makeRequest(8, 1, 0, 0, uint32_t(int32_t(level)), valueBytes), &reply);
    if (st != EXIT_OK) return st;
    if (o.json)
        printf("{\"ok\":true,\"debugLevel\":%ld}\n", level);
    else
        printf("debug level set to %ld\n", level);
    return EXIT_OK;
}

bool parseLong(const char* text, long* out);

// Tunnel add, delete and unit removal (the daemon's tunnel operation).
int cmdTunnel(const Options& o) {
    const std::string op = o.words.size() >= 2 ? o.words[1] : "";
    const uint32_t cmd = op == "add" ? HW_NM_TUN_ADD : op == "del" ? HW_NM_TUN_DEL : op == "notify" ? HW_NM_TUN_NOTIFY : 0;
    if (cmd == 0) return usageError("tunnel needs add, del or notify");
    uint8_t value[HW_NM_TUN_REQ_LEN];
    AdrMessage req = makeRequest(HW_NM_FUNC_TUNNEL, cmd, 0, 0, 0, value);
    if (cmd == HW_NM_TUN_NOTIFY) {
        long unit = 0;
        if (o.words.size() != 4 || o.words[2] != "unit" || !parseLong(o.words[3].c_str(), &unit) || unit <= 0)
            return usageError("tunnel notify needs unit N");
        BeWriter(value, 4).u32(uint32_t(unit));
    } else {
        std::vector<const char*> words;
        for (std::size_t i = 2; i < o.words.size(); ++i) words.push_back(o.words[i].c_str());
        HwRouteTunNode t{};
        char err[160];
        if (!hwNmTunnelParse(int(words.size()), words.data(), &t, err, sizeof(err))) return usageError(err);
        hwNmTunnelEncode(&t, value);
        req.valueType = ADR_TYPE_OCTETS;
        req.valueLen = HW_NM_TUN_REQ_LEN;
    }
    Client client(o);
    AdrMessage reply{};
    const int st = client.transact(req, &reply);
    if (st != EXIT_OK) return st;
    if (cmd == HW_NM_TUN_NOTIFY) {
        printf(o.json ? "{\"ok\":true}\n" : "tunnels of the unit removed\n");
        return EXIT_OK;
    }
    const int binding = reply.valueLen == HW_NM_TUN_REQ_LEN ? reply.value[HW_NM_TUN_OUT_BINDING] : 0;
    const int status = reply.valueLen == HW_NM_TUN_REQ_LEN ? reply.value[HW_NM_TUN_OUT_STATUS] : 0;
    static const char* const bindings[] = {"none", "neighbour", "route"};
    const char* bound = binding >= 0 && binding <= 2 ? bindings[binding] : "?";
    if (o.json)
        printf("{\"ok\":true,\"binding\":%s,\"status\":%d}\n", jsonText(bound).c_str(), status);
    else if (cmd == HW_NM_TUN_DEL)
        printf("tunnel deleted\n");
    else if (binding == 0)
        printf("tunnel not kept: no resolved neighbour and no covering route for the far endpoint\n");
    else
        printf("tunnel bound to a %s, hardware status %d\n", bound, status);
    return EXIT_OK;
}

int cmdRaw(const Options& o) {
    if (o.words.size() != 1) return usageError("raw takes options only");
    if (!o.hasFunc || !o.hasCmd) return usageError("raw needs --func and --cmd");
    const bool perVrf = (o.func >= 1 && o.func <= 4) || (o.func >= 9 && o.func <= 12);
    const long indexNum = o.hasIndexNum ? o.indexNum : (perVrf ? 1 : 0);
    uint8_t valueBytes[4];
    Client client(o);
    AdrMessage reply{};
    const AdrMessage req = makeRequest(uint32_t(o.func), uint32_t(o.cmd), uint8_t(indexNum), int32_t(o.vrf),
                                       uint32_t(o.value), valueBytes);
    const int st = client.transact(req, &reply);
    if (st != EXIT_OK) return st;
    const uint32_t value = replyValue(reply);
    if (o.json)
        printf("{\"ok\":true,\"func\":%u,\"cmd\":%u,\"vrf\":%d,\"rc\":\"0x%08x\",\"value\":%u}\n", reply.func,
               reply.cmd, reply.vrfid, reply.retcode, value);
    else
        printf("func %u cmd %u vrf %d: return code 0x%08x, value %u\n", reply.func, reply.cmd, reply.vrfid,
               reply.retcode, value);
    return EXIT_OK;
}

// ---------------------------------------------------------------------------
// Arguments

bool parseLong(const char* text, long* out) {
    char* end = nullptr;
    errno = 0;
    const long v = strtol(text, &end, 0);
    if (*text == '\0' || *end != '\0' || errno != 0) return false;
    *out = v;
    return true;
}

// Options may stand anywhere; everything else is the command and its words.
// Returns -1 when parsing succeeded, else the exit status.
int parseArgs(int argc, char** argv, Options* o) {
    struct NumOpt {
        const char* name;
        long* target;
        bool* seen;
    };
    bool ignored = false;
    const NumOpt numOpts[] = {
        {"--vrf", &o->vrf, &o->hasVrf},        {"--proto", &o->proto, &o->hasProto},
        {"--func", &o->func, &o->hasFunc},     {"--cmd", &o->cmd, &o->hasCmd},
        {"--value", &o->value, &ignored},      {"--index-num", &o->indexNum, &o->hasIndexNum},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            printf(USAGE, HW_NM_SOCKET_PATH);
            return EXIT_OK;
        }
        if (a == "--json") {
            o->json = true;
            continue;
        }
        if (a == "--v6") {
            o->v6 = true;
            continue;
        }
        if (a == "--verbose") {
            o->verbose = true;
            continue;
        }
        if (a == "--summary") {
            o->summary = true;
            continue;
        }
        if (a == "--socket" || a == "--timeout") {
            if (i + 1 >= argc) return usageError(a + " needs a value");
            if (a == "--socket") o->socketPath = argv[++i];
            long t = 0;
            if (a == "--timeout" && (!parseLong(argv[++i], &t) || t < 1)) return usageError("--timeout needs seconds");
            if (a == "--timeout") o->timeoutSec = int(t);
            continue;
        }
        const NumOpt* num = nullptr;
        for (const NumOpt& n : numOpts)
            if (a == n.name) num = &n;
        if (num != nullptr) {
            if (i + 1 >= argc || !parseLong(argv[i + 1], num->target)) return usageError(a + " needs a number");
            *num->seen = true;
            ++i;
            continue;
        }
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) return usageError("unknown option " + a);
        o->words.push_back(a);
    }
    if (o->words.empty()) return usageError("no command given");
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const int parsed = parseArgs(argc, argv, &o);
    if (parsed >= 0) return parsed;
    const std::string& command = o.words[0];
    if (command == "stats") return cmdStats(o);
    if (command == "table-stats") return cmdTableStats(o);
    if (command == "show") return cmdShow(o);
    if (command == "count") return cmdCount(o);
    if (command == "debug") return cmdDebug(o);
    if (command == "raw") return cmdRaw(o);
    if (command == "metrics") return cmdMetrics(o);
    if (command == "tunnel") return cmdTunnel(o);
    return usageError("unknown command '" + command + "'");
}
