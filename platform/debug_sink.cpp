// Debug sink: one output line per debug line, to standard error unless the
// daemon chose a log file. The daemon's format strings carry their own
// "\r\n" or "\n\r"; a log reads better with those turned into one clean line:
// leading and trailing CR/LF are dropped, an inner run of CR/LF becomes one
// space, and the line ends with "\n". Lines may come from the main thread
// (start-up) and the worker task, so writing is serialised.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "hwroute/platform.h"
#include "sim.h"
#include "sim_state.h"

namespace {

struct DebugSink {
    std::mutex mutex;
    bool toDefault = true;  // standard error, looked up at each write
    FILE* file = nullptr;   // used when !toDefault; nullptr: no file output
    std::vector<std::string>* capture = nullptr;
};

DebugSink& sink() {
    static DebugSink s;
    return s;
}

bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

// Writes the normalised line without building a copy of it.
void writeNormalised(FILE* f, const char* line) {
    const char* p = line;
    while (isLineBreak(*p)) ++p;
    while (*p != '\0') {
        const char* run = p;
        while (*p != '\0' && !isLineBreak(*p)) ++p;
        std::fwrite(run, 1, static_cast<size_t>(p - run), f);
        const char* breaks = p;
        while (isLineBreak(*p)) ++p;
        if (p != breaks && *p != '\0') std::fputc(' ', f);
    }
    std::fputc('\n', f);
    std::fflush(f);
}

}  // namespace

void NM_DEBUG_OUTPUT(const char* line) {
    if (line == nullptr) return;
    DebugSink& s = sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    FILE* f = s.toDefault ? stderr : s.file;
    if (f != nullptr) writeNormalised(f, line);
    if (s.capture != nullptr) s.capture->emplace_back(line);
}

void simDebugSetFile(FILE* file) {
    std::lock_guard<std::mutex> lock(sink().mutex);
    sink().toDefault = false;
    sink().file = file;
}

void simDebugCapture(std::vector<std::string>* lines) {
    std::lock_guard<std::mutex> lock(sink().mutex);
    sink().capture = lines;
}

void simDebugReset() {
    std::lock_guard<std::mutex> lock(sink().mutex);
    sink().toDefault = true;
    sink().file = nullptr;
    sink().capture = nullptr;
}
