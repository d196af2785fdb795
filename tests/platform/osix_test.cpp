#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform_test.h"

namespace {

// A child that installed the handler gets SIGSEGV: the handler names the
// signal, prints a backtrace, and the child dies of the signal.
TEST(CrashHandler, ReportsTheSignalAndABacktraceThenDiesOfIt) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        char name[] = "crashtest";
        char* argv[] = {name, nullptr};
        kivCatchSegFault(1, argv);
        raise(SIGSEGV);
        _exit(0);
    }
    close(fds[1]);
    std::string err;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof(buf))) > 0;) err.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << "status " << status << "\n" << err;
    // Signal numbers differ between architectures; backtrace lines end in "[0x<address>]".
    const size_t at = err.find("crashtest: fatal signal " + std::to_string(SIGSEGV) + " (SIGSEGV), backtrace:\n");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_NE(err.find("[0x", at), std::string::npos) << "no backtrace line:\n" << err;
}

}  // namespace
