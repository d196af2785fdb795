// Task library and crash handler on POSIX threads and signals.
#include <execinfo.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "hwroute/platform.h"

namespace {

// Task identifiers handed out through the caller's slot; 0 is never used.
std::atomic<uint32_t> gNextTaskId{1};

void* runTask(void* arg) {
    OsixTaskEntry entry = reinterpret_cast<OsixTaskEntry>(arg);
    entry();
    return nullptr;
}

// The semaphore handles index a fixed table; 0 stays the failure value.
constexpr uint32_t kMaxSems = 32;
pthread_mutex_t gSems[kMaxSems];
std::atomic<uint32_t> gSemCount{0};

}  // namespace

// The priority has no meaning for ordinary host threads and is not applied;
// the two argument words are accepted and not used (the entry takes none).
int OsixCreateTask(const char* /*name*/, uint32_t /*priority*/, uint32_t stackSize, OsixTaskEntry entry,
                   uint32_t /*arg1*/, uint32_t /*arg2*/, uint32_t* taskId) {
    if (entry == nullptr) return -1;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return -1;
    const size_t minStack = size_t(PTHREAD_STACK_MIN);
    size_t stack = size_t(stackSize) < minStack ? minStack : size_t(stackSize);
    pthread_t thread;
    int rc = pthread_attr_setstacksize(&attr, stack);
    if (rc == 0) rc = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (rc == 0) rc = pthread_create(&thread, &attr, runTask, reinterpret_cast<void*>(entry));
    pthread_attr_destroy(&attr);
    if (rc != 0) return -1;
    if (taskId != nullptr) *taskId = gNextTaskId.fetch_add(1);
    return 0;
}

// Every kind gives a plain mutex: the daemon only creates one and never takes it.
uint32_t OsixCreateMSem(uint32_t /*kind*/) {
    uint32_t slot = gSemCount.fetch_add(1);
    if (slot >= kMaxSems) return 0;
    if (pthread_mutex_init(&gSems[slot], nullptr) != 0) return 0;
    return slot + 1;
}

// ---- crash handler ----------------------------------------------------------

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 64;

char gProgramName[256] = "hwroute";
// Own stack for the handler, so a stack overflow can still be reported.
alignas(16) char gAltStack[64 * 1024];

const char* signalName(int sig) {
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

// Only write(2) from here on: no stdio, no allocation.
void writeText(const char* s) {
    size_t n = std::strlen(s);
    while (n > 0) {
        ssize_t w = write(STDERR_FILENO, s, n);
        if (w <= 0) return;
        s += w;
        n -= size_t(w);
    }
}

void writeNumber(int v) {
    char buf[16];
    char* p = buf + sizeof(buf);
    *--p = '\0';
    unsigned u = v < 0 ? 0u - unsigned(v) : unsigned(v);
    do {
        *--p = char('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) *--p = '-';
    writeText(p);
}

void crashHandler(int sig) {
    writeText(gProgramName);
    writeText(": fatal signal ");
    writeNumber(sig);
    writeText(" (");
    writeText(signalName(sig));
    writeText("), backtrace:\n");
    void* frames[kMaxFrames];
    int n = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, n, STDERR_FILENO);
    // Die of the same signal with its default action, so the parent and any
    // core-dump setting see the real cause.
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

void kivCatchSegFault(int argc, char** argv) {
    if (argc > 0 && argv != nullptr && argv[0] != nullptr) {
        std::strncpy(gProgramName, argv[0], sizeof(gProgramName) - 1);
        gProgramName[sizeof(gProgramName) - 1] = '\0';
    }
    // The first backtrace() loads the unwinder, which allocates; do it now
    // rather than inside the handler.
    void* warm[1];
    backtrace(warm, 1);

    stack_t ss{};
    ss.ss_sp = gAltStack;
    ss.ss_size = sizeof(gAltStack);
    sigaltstack(&ss, nullptr);

    struct sigaction sa{};
    sa.sa_handler = crashHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int sig : kCrashSignals) sigaction(sig, &sa, nullptr);
}
