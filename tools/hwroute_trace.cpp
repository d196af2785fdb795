// hwroute-trace: the hardware trace as readable lines, or the hardware state
// it leaves.
#include <cstdio>
#include <cstring>
#include <string>

#include "hwdecode.h"
#include "hwdjson.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_BAD_TRACE = 1;
constexpr int EXIT_USAGE = 2;

const char* const USAGE =
    "usage: hwroute-trace [--follow] [--state] [--json] [FILE]\n"
    "\n"
    "Reads a hardware trace (FILE, or standard input when FILE is - or absent)\n"
    "and prints one line per hardware call: sequence number, object, result,\n"
    "then each entry with its prefix or address and its paths (operation, next\n"
    "hop, port, interface, VLAN, MAC, labels).\n"
    "\n"
    "options:\n"
    "  --follow, -f  wait for new calls at the end of the file, like tail -f\n"
    "  --state       print only the hardware state the accepted calls leave\n"
    "  --json        calls as JSON lines; with --state one JSON document\n"
    "  --help        this text\n"
    "\n"
    "exit status: 0 success, 1 the trace cannot be read or is malformed\n"
    "(the message names the file and line), 2 wrong usage\n";

struct Options {
    bool follow = false;
    bool state = false;
    bool json = false;
    std::string file = "-";
};

int usageError(const std::string& text) {
    std::fprintf(stderr, "hwroute-trace: %s (see hwroute-trace --help)\n", text.c_str());
    return EXIT_USAGE;
}

// -1 when the run goes on, else the exit status.
int parseArgs(int argc, char** argv, Options* o) {
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return EXIT_OK;
        }
        if (a == "--follow" || a == "-f") {
            o->follow = true;
        } else if (a == "--state") {
            o->state = true;
        } else if (a == "--json") {
            o->json = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return usageError("unknown option " + a);
        } else if (haveFile) {
            return usageError("only one FILE may be given");
        } else {
            o->file = a;
            haveFile = true;
        }
    }
    if (o->follow && o->state) return usageError("--follow and --state exclude each other");
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const int parsed = parseArgs(argc, argv, &o);
    if (parsed >= 0) return parsed;

    HwdTraceReader reader;
    std::string err;
    if (!reader.open(o.file, o.follow, &err)) {
        std::fprintf(stderr, "hwroute-trace: %s\n", err.c_str());
        return EXIT_BAD_TRACE;
    }
    HwdState state;
    HwdCall call;
    int rc;
    while ((rc = reader.next(&call, &err)) == 1) {
        if (o.state) {
            state.apply(call);
            continue;
        }
        const std::string line = o.json ? hwdCallJson(call).dump() : hwdCallLine(call);
        std::printf("%s\n", line.c_str());
        if (o.follow) std::fflush(stdout);
    }
    if (rc < 0) {
        std::fflush(stdout);
        std::fprintf(stderr, "hwroute-trace: %s\n", err.c_str());
        return EXIT_BAD_TRACE;
    }
    if (o.state) std::fputs(o.json ? (hwdStateJson(state).dump(2) + "\n").c_str() : hwdStateText(state).c_str(), stdout);
    return EXIT_OK;
}
