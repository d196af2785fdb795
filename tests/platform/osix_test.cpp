#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform_test.h"

namespace {

// An address the compiler cannot see through, in the unmapped first page.
volatile uintptr_t gBadAddress = 16;

__attribute__((noinline, no_sanitize("address", "undefined"))) void writeToBadAddress() {
    *reinterpret_cast<volatile int*>(gBadAddress) = 1;
}

// A child that installed the handler writes to an unmapped address: the
// handler names the signal, prints a backtrace, and the child dies of it.
TEST(CrashHandler, ReportsTheSignalAndABacktraceThenDiesOfIt) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        char name[] = "crashtest";
        char* argv[] = {name, nullptr};
        kivCatchSegFault(1, argv);
        writeToBadAddress();
        _exit(0);
    }
    close(fds[1]);
    std::string err;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof(buf))) > 0;) err.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << "\n" << err;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV) << err;
    // Signal numbers differ between architectures.
    const std::string title = "crashtest: fatal signal " + std::to_string(SIGSEGV) + " (SIGSEGV), backtrace:\n";
    const size_t at = err.find(title);
    ASSERT_NE(at, std::string::npos) << err;
    // backtrace_symbols_fd lines end in "[0x<address>]".
    EXPECT_NE(err.find("[0x", at), std::string::npos) << "no backtrace line:\n" << err;
}

}  // namespace
