#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "platform_test.h"

namespace {

std::atomic<bool> gTaskRan{false};
std::atomic<size_t> gTaskStack{0};
std::atomic<bool> gTaskOnOtherThread{false};
pthread_t gTestThread;

void recordTask() {
    pthread_attr_t attr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &size);
        pthread_attr_destroy(&attr);
    }
    gTaskStack = size;
    gTaskOnOtherThread = !pthread_equal(pthread_self(), gTestThread);
    gTaskRan = true;
}

TEST(TaskLibrary, CreateTaskRunsTheEntryOnItsOwnThreadWithTheRequestedStack) {
    gTestThread = pthread_self();
    uint32_t taskId = 0;
    ASSERT_EQ(OsixCreateTask("hwRoute", 45, 0x80000, recordTask, 0, 0, &taskId), 0);
    for (int i = 0; i < 500 && !gTaskRan; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(gTaskRan);
    EXPECT_TRUE(gTaskOnOtherThread);
    EXPECT_GE(gTaskStack.load(), size_t(0x80000));
    EXPECT_NE(taskId, 0u);
    EXPECT_NE(OsixCreateTask("none", 45, 0x80000, nullptr, 0, 0, &taskId), 0);
}

TEST(TaskLibrary, MutexSemaphoresGetDistinctNonZeroHandles) {
    std::set<uint32_t> handles;
    for (int i = 0; i < 4; ++i) {
        uint32_t h = OsixCreateMSem(5);
        EXPECT_NE(h, 0u);
        handles.insert(h);
    }
    EXPECT_EQ(handles.size(), 4u);
}

// ---- crash handler ----------------------------------------------------------

// An address the compiler cannot see through, in the unmapped first page.
volatile uintptr_t gBadAddress = 16;

__attribute__((noinline, no_sanitize("address", "undefined"))) void writeToBadAddress() {
    *reinterpret_cast<volatile int*>(gBadAddress) = 1;
}

struct Crash {
    int signal;        // how the child must die
    const char* name;  // as the handler's first line names it
    void (*crash)();
};

// Runs `crash` in a child that installed the handler; returns its standard
// error and sets `status`.
std::string crashChild(void (*crash)(), int* status) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDERR_FILENO);
        char name[] = "crashtest";
        char* argv[] = {name, nullptr};
        kivCatchSegFault(1, argv);
        crash();
        _exit(0);
    }
    close(fds[1]);
    std::string err;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof(buf))) > 0) err.append(buf, size_t(n));
    close(fds[0]);
    waitpid(pid, status, 0);
    return err;
}

TEST(CrashHandler, ReportsTheSignalAndABacktraceThenDiesOfIt) {
    const Crash cases[] = {
        {SIGSEGV, "SIGSEGV", writeToBadAddress},
        {SIGABRT, "SIGABRT", [] { std::abort(); }},
        {SIGBUS, "SIGBUS", [] { raise(SIGBUS); }},
    };
    for (const Crash& c : cases) {
        // Signal numbers differ between architectures.
        const std::string title =
            "crashtest: fatal signal " + std::to_string(c.signal) + " (" + c.name + "), backtrace:\n";
        int status = 0;
        std::string err = crashChild(c.crash, &status);
        ASSERT_TRUE(WIFSIGNALED(status)) << title << "status " << status << "\n" << err;
        EXPECT_EQ(WTERMSIG(status), c.signal) << title << err;
        size_t at = err.find(title);
        ASSERT_NE(at, std::string::npos) << err;
        // backtrace_symbols_fd lines end in "[0x<address>]".
        EXPECT_NE(err.find("[0x", at), std::string::npos) << "no backtrace line:\n" << err;
    }
}

}  // namespace
