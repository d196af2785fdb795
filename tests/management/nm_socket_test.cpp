// The management socket in one process: the socket opened at a temporary
// path, served by hwRouteNmSockRcv, and clients that behave or misbehave;
// then the operator client without a daemon.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "hwroute/global.h"
#include "hwroute/management.h"
#include "hwtest.h"
#include "nm_test_util.h"

namespace {


class NmSocket : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        path_ = "/tmp/hwroute-nm-test-" + std::to_string(getpid()) + ".sock";
        hwRouteNmSockPath = path_.c_str();
        ghwRoute.nmSock = hwRouteNmSockOpen();
        ASSERT_GT(ghwRoute.nmSock, 0);
    }
    void TearDown() override {
        close(ghwRoute.nmSock);
        unlink(path_.c_str());
        hwRouteNmSockPath = HW_NM_SOCKET_PATH;
        HwTest::TearDown();
    }

    std::string path_;
};

TEST_F(NmSocket, SocketFileIsOwnerOnly) {
    struct stat st{};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A connection carries one request after its big-endian length and gets the
// reply the same way; refusals are answered with length 0. Clients that stop
// sending get no answer and are counted as timed out (how long the wait
// lasts is not checked: a loaded machine or an emulator stretches it).
TEST_F(NmSocket, EachConnectionCarriesOneFramedRequest) {
    ghwRoute.hwOkRouteCnt = 21;
    auto framed = [](std::vector<uint8_t> msg, std::size_t keep = SIZE_MAX) {
        std::vector<uint8_t> f = nmU32(uint32_t(msg.size()));
        f.insert(f.end(), msg.begin(), msg.begin() + std::ptrdiff_t(std::min(keep, msg.size())));
        return f;
    };
    const std::vector<uint8_t> request = nmBytes({.cmd = 3});
    const struct { const char* what; std::vector<uint8_t> sent, reply; const char* line; } cases[] = {
        {"request", framed(request), framed(nmBytes({.cmd = 3, .value = nmU32(21)})), "enter func 5"},
        {"refused request", framed(std::vector<uint8_t>(request.begin(), request.begin() + 20)), nmU32(0),
         "lenRx 20 err"},
        {"length above the buffer", nmU32(1519), nmU32(0), "lenRx 1519 too long"},
        {"nothing", {}, {}, "recv timeout"},
        {"the length and half the request", framed(request, 18), {}, "recv timeout"},
    };
    for (const auto& c : cases) {
        logs.clear();
        const uint32_t timeouts = ghwRoute.nmRecvTimeoutCnt;
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path_.copy(addr.sun_path, sizeof(addr.sun_path) - 1);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        send(fd, c.sent.data(), c.sent.size(), 0);
        hwRouteNmSockRcv();  // as the main loop does once the socket is readable
        std::vector<uint8_t> reply;
        uint8_t buf[2048];
        for (ssize_t n; (n = recv(fd, buf, sizeof(buf), 0)) > 0;) reply.insert(reply.end(), buf, buf + n);
        close(fd);
        EXPECT_EQ(reply, c.reply) << c.what;
        EXPECT_TRUE(logged(std::string("[hwrouteNmMsgProcess]=>") + c.line)) << c.what;
        const bool timedOut = c.reply.empty();
        EXPECT_EQ(ghwRoute.nmRecvTimeoutCnt, timeouts + (timedOut ? 1 : 0)) << c.what;
    }
}

// A socket that cannot be bound stops the start-up: no descriptor, nothing
// left at the path.
TEST(NmSocketBind, FailureRefusesTheStartAndLeavesNothingBehind) {
    const std::string base = "/tmp/hwroute-nm-bind-" + std::to_string(getpid());
    const std::string cases[] = {
        base + "-missing-dir/x.sock",          // no such directory
        base + "-" + std::string(120, 'x'),   // longer than a socket address holds
    };
    for (const std::string& path : cases) {
        hwRouteNmSockPath = path.c_str();
        EXPECT_EQ(hwRouteNmSockOpen(), -1) << path;
        EXPECT_NE(access(path.c_str(), F_OK), 0) << path;
    }
    hwRouteNmSockPath = HW_NM_SOCKET_PATH;
}

// The operator client, run as a separate process, with no daemon to ask.
TEST(NmClient, ExplainsAMissingDaemon) {
    const std::string client =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "hwroute-nm";
    if (access(client.c_str(), X_OK) != 0) GTEST_SKIP() << "hwroute-nm is not built next to the tests";
    const std::string absent = "/tmp/hwroute-nm-absent-" + std::to_string(getpid()) + ".sock";
    FILE* p = popen((client + " --socket " + absent + " count 2>&1").c_str(), "r");
    std::string out;
    char buf[512];
    for (std::size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;) out.append(buf, n);
    const int st = pclose(p);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1) << st;
    EXPECT_NE(out.find("cannot connect to " + absent + ": "), std::string::npos) << out;
    EXPECT_NE(out.find("(is hwroute running?)"), std::string::npos) << out;
}

}  // namespace
