// The hwroute daemon: options, then eight decimal arguments, then start-up
// and a main thread that only sleeps while the worker task runs.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <string>

#include "hwroute/debug.h"
#include "hwroute/frame.h"
#include "hwroute/management.h"
#include "hwroute/intake.h"
#include "hwroute/platform.h"
#include "hwroute/resync.h"
#include "sim.h"

namespace {

constexpr int kArgCount = 8;

const char kUsage[] =
    "usage: hwroute [options] routeMax arpNum nd6Num ecmpMaxNum ilmNum l2vpnNum tunNum debug\n"
    "\n"
    "  routeMax    destination records (next hops get routeMax plus half)\n"
    "  arpNum      ARP entries (the pool gets arpNum plus half)\n"
    "  nd6Num      IPv6 neighbour entries (the pool gets nd6Num plus half)\n"
    "  ecmpMaxNum  most equal-cost next hops of one destination written to hardware\n"
    "  ilmNum      MPLS incoming-label entries\n"
    "  l2vpnNum    layer-2 VPN entries\n"
    "  tunNum      tunnel entries\n"
    "  debug       0 turns debug output off, anything else turns it fully on\n"
    "\n"
    "options (before the arguments):\n"
    "  --platform-config FILE  platform configuration (JSON) for the interface and hardware services\n"
    "  --hw-trace FILE         append one JSON line per hardware call to FILE\n"
    "  --log FILE              append debug lines to FILE instead of standard error\n"
    "  --nm-socket PATH        management socket path (default /tmp/hwrouteNm.socket)\n"
    "  --nm-socket-mode OCTAL  file mode of the management socket (default 0600)\n"
    "  --rcvbuf BYTES          receive buffer of the notification socket (default 2000000)\n"
    "  --sync-at-start         read the kernel's routes, neighbours and links once before\n"
    "                          the loop starts (default: learn from notifications only)\n"
    "  --help                  print this text and exit\n";

[[noreturn]] void usageError(const char* why) {
    std::fprintf(stderr, "hwroute: %s\n%s", why, kUsage);
    std::exit(2);
}

// A file the daemon was told to use cannot be used: one line, then exit
// before any socket is opened.
[[noreturn]] void fileError(const char* file, const std::string& reason) {
    std::fprintf(stderr, "hwroute: %s: %s\n", file, reason.c_str());
    std::exit(2);
}

uint32_t parseMode(const char* text) {
    char* end = nullptr;
    errno = 0;
    unsigned long mode = std::strtoul(text, &end, 8);
    if (errno != 0 || end == text || *end != '\0' || mode > 07777) usageError("--nm-socket-mode needs an octal file mode");
    return static_cast<uint32_t>(mode);
}

int32_t parseBytes(const char* text) {
    char* end = nullptr;
    errno = 0;
    long bytes = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || bytes <= 0 || bytes > INT32_MAX)
        usageError("--rcvbuf needs a positive number of bytes");
    return static_cast<int32_t>(bytes);
}

void applyOption(const char* name, const char* value) {
    std::string err;
    if (std::strcmp(name, "--platform-config") == 0) {
        if (!simLoadConfigFile(value, &err)) fileError(value, err);
    } else if (std::strcmp(name, "--hw-trace") == 0) {
        if (!simSetTraceFile(value, &err)) fileError(value, err);
    } else if (std::strcmp(name, "--log") == 0) {
        FILE* log = std::fopen(value, "a");
        if (log == nullptr) fileError(value, std::strerror(errno));
        simDebugSetFile(log);
    } else if (std::strcmp(name, "--nm-socket") == 0) {
        hwRouteNmSockPath = value;
    } else if (std::strcmp(name, "--nm-socket-mode") == 0) {
        hwRouteNmSockMode = parseMode(value);
    } else if (std::strcmp(name, "--rcvbuf") == 0) {
        hwRtnotifyRcvBuf = parseBytes(value);
    } else {
        std::string why = std::string("unknown option ") + name;
        usageError(why.c_str());
    }
}

// Options without a value.
bool applyFlag(const char* name) {
    if (std::strcmp(name, "--sync-at-start") != 0) return false;
    hwResyncAtStart = true;
    return true;
}

// Options come first; the first argument that does not begin with "--" starts
// the eight numbers (so "-1" is a number, as atoi reads it). Returns the index
// of the first number.
int parseOptions(int argc, char** argv) {
    int i = 1;
    while (i < argc && std::strncmp(argv[i], "--", 2) == 0) {
        const char* name = argv[i];
        if (std::strcmp(name, "--help") == 0) {
            std::fputs(kUsage, stdout);
            std::fflush(stdout);
            std::exit(0);
        }
        if (applyFlag(name)) {
            ++i;
            continue;
        }
        if (i + 1 >= argc) {
            std::string why = std::string(name) + " needs a value";
            usageError(why.c_str());
        }
        applyOption(name, argv[i + 1]);
        i += 2;
    }
    return i;
}

// Pools of size 0 are built empty and every later allocation from them fails;
// say so once, since the daemon itself stays silent about it.
void reportEmptyPools(const int32_t* a) {
    std::string names;
    auto note = [&names](bool empty, const char* pools) {
        if (!empty) return;
        names += names.empty() ? "" : ", ";
        names += pools;
    };
    note(a[0] == 0, "destination and next-hop (argument 1)");
    note(a[1] == 0, "ARP (argument 2)");
    note(a[2] == 0, "ND6 (argument 3)");
    note(a[4] == 0, "ILM (argument 5)");
    note(a[5] == 0, "L2VPN (argument 6)");
    note(a[6] == 0, "tunnel (argument 7)");
    if (!names.empty()) std::fprintf(stderr, "hwroute: size 0 leaves these pools empty: %s\n", names.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // Management dumps print to standard output; line buffering keeps them in
    // step with the rest of a log.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    int first = parseOptions(argc, argv);
    // The numbers are read without a count check by the start-up proper; a
    // missing or extra number is far more likely a typo than intent, so it is
    // refused before anything starts.
    if (argc - first != kArgCount) usageError("expected exactly eight numbers");

    kivCatchSegFault(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);

    int32_t a[kArgCount];
    for (int i = 0; i < kArgCount; i++) a[i] = std::atoi(argv[first + i]);
    reportEmptyPools(a);

    hwRouteInit(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    hwRouteDebugSet(a[7]);
    for (;;) sleep(10);
}
