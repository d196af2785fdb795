// The management socket end to end in one process: the socket opened at a
// temporary path, served by hwRouteNmSockRcv in a thread, and clients that
// behave or misbehave; then the operator client against it.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "hwroute/global.h"
#include "hwroute/management.h"
#include "hwtest.h"
#include "nm_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

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
        if (path_.empty()) return HwTest::TearDown();  // skipped before the socket was opened
        if (server_.joinable()) server_.join();
        close(ghwRoute.nmSock);
        unlink(path_.c_str());
        hwRouteNmSockPath = HW_NM_SOCKET_PATH;
        hwRouteNmSockMode = 0600;
        HwTest::TearDown();
    }

    // Serve one connection in a thread, as the main loop does once the
    // socket is readable. Returns at once when nobody connects within 5 s.
    void serveOne() {
        server_ = std::thread([this] {
            pollfd p{ghwRoute.nmSock, POLLIN, 0};
            const auto start = Clock::now();
            if (poll(&p, 1, 5000) > 0) hwRouteNmSockRcv();
            served_ = Clock::now() - start;
        });
    }
    Clock::duration finish() {
        server_.join();
        return served_;
    }

    int connectClient() {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof(a.sun_path), "%s", path_.c_str());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        return fd;
    }

    // Everything the daemon sent until it closed the connection.
    static std::vector<uint8_t> readAll(int fd) {
        std::vector<uint8_t> out;
        uint8_t buf[2048];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof(buf), 0)) > 0) out.insert(out.end(), buf, buf + n);
        return out;
    }

    std::string path_;
    std::thread server_;
    Clock::duration served_{};
};

std::vector<uint8_t> framed(const std::vector<uint8_t>& msg) {
    std::vector<uint8_t> f = nmU32(uint32_t(msg.size()));
    f.insert(f.end(), msg.begin(), msg.end());
    return f;
}

TEST_F(NmSocket, SocketFileIsOwnerOnlyByDefaultAndTakesTheConfiguredMode) {
    struct stat st{};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    close(ghwRoute.nmSock);
    hwRouteNmSockMode = 0660;
    ghwRoute.nmSock = hwRouteNmSockOpen();  // also replaces the stale socket file
    ASSERT_GT(ghwRoute.nmSock, 0);
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
}

TEST_F(NmSocket, RequestIsAnsweredWithItsLengthAndTheValue) {
    ghwRoute.hwOkRouteCnt = 21;
    NmReq r;
    r.cmd = 3;
    serveOne();
    const int fd = connectClient();
    const std::vector<uint8_t> frame = framed(nmBytes(r));
    ASSERT_EQ(send(fd, frame.data(), frame.size(), 0), ssize_t(frame.size()));
    const std::vector<uint8_t> reply = readAll(fd);
    close(fd);
    finish();
    ASSERT_EQ(reply.size(), 41u) << hexDump(reply);
    EXPECT_EQ(nmRead32(reply, 0), 37u);
    EXPECT_EQ(nmRead32(reply, 4 + 4), 0x0BADF00Du);  // sequence number echoed
    EXPECT_EQ(nmRead32(reply, 4 + 33), 21u);
}

TEST_F(NmSocket, RefusedRequestIsAnsweredWithLengthZero) {
    serveOne();
    const int fd = connectClient();
    std::vector<uint8_t> msg = nmBytes(NmReq{});
    msg.resize(20);
    const std::vector<uint8_t> frame = framed(msg);
    send(fd, frame.data(), frame.size(), 0);
    EXPECT_EQ(readAll(fd), nmU32(0));
    close(fd);
    finish();
    EXPECT_TRUE(logged("[hwrouteNmMsgProcess]=>lenRx 20 err"));
    EXPECT_TRUE(logged("[hwrouteNmMsgProcess]=>call hwRouteNmSockRcv failed"));
}

TEST_F(NmSocket, LengthAboveTheBufferIsRefusedUnread) {
    const uint32_t timeouts = hwNmRecvTimeoutCnt;
    serveOne();
    const int fd = connectClient();
    const std::vector<uint8_t> prefix = nmU32(2000);
    send(fd, prefix.data(), prefix.size(), 0);
    EXPECT_EQ(readAll(fd), nmU32(0));
    close(fd);
    finish();
    EXPECT_TRUE(logged("[hwrouteNmMsgProcess]=>lenRx 2000 too long"));
    EXPECT_EQ(hwNmRecvTimeoutCnt, timeouts);  // answered without waiting for the body
}

// Clients that stop sending hold the worker for about a second, no longer,
// get no answer, and are counted.
TEST_F(NmSocket, SilentOrHalfSentRequestsTimeOut) {
    const std::vector<uint8_t> full = framed(nmBytes(NmReq{}));
    struct Case {
        const char* what;
        std::size_t bytes;
    };
    const Case cases[] = {{"nothing", 0}, {"half a length", 2}, {"length and half the message", 4 + 18}};
    for (const Case& c : cases) {
        const uint32_t before = hwNmRecvTimeoutCnt;
        logs.clear();
        serveOne();
        const int fd = connectClient();
        if (c.bytes != 0) send(fd, full.data(), c.bytes, 0);
        const std::vector<uint8_t> reply = readAll(fd);  // returns when the daemon closes
        close(fd);
        const auto took = finish();
        EXPECT_TRUE(reply.empty()) << c.what;
        EXPECT_EQ(hwNmRecvTimeoutCnt, before + 1) << c.what;
        EXPECT_TRUE(logged("[hwrouteNmMsgProcess]=>recv timeout")) << c.what;
        EXPECT_GE(took, std::chrono::milliseconds(900)) << c.what;
        EXPECT_LT(took, std::chrono::milliseconds(1800)) << c.what;
    }
}

// ---------------------------------------------------------------------------
// The operator client, run as a separate process.

std::string clientPath() {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof(self) - 1) <= 0) return "";
    std::string dir(self);
    dir = dir.substr(0, dir.rfind('/'));
    const std::string path = dir.substr(0, dir.rfind('/')) + "/hwroute-nm";
    return access(path.c_str(), X_OK) == 0 ? path : "";
}

struct ClientRun {
    int status;
    std::string out;  // standard output and error
};

ClientRun runClient(const std::string& args) {
    FILE* p = popen((clientPath() + " " + args + " 2>&1").c_str(), "r");
    ClientRun r{-1, ""};
    if (p == nullptr) return r;
    char buf[512];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class NmClient : public NmSocket {
protected:
    void SetUp() override {
        if (clientPath().empty()) GTEST_SKIP() << "hwroute-nm is not built next to the tests";
        NmSocket::SetUp();
    }
    ClientRun ask(const std::string& args) {
        serveOne();
        ClientRun r = runClient("--socket " + path_ + " " + args);
        finish();
        return r;
    }
};

TEST_F(NmClient, ReadsStatisticsAndCounters) {
    ghwRoute.swRoute6ProtoStats[3][1] = 42;
    ghwRoute.hwOkRouteCnt = 17;
    ClientRun r = ask("stats sw --v6 --vrf 3 --proto 2");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "IPv6 routes in software, vrf 3, protocol 2: 42\n");

    r = ask("table-stats hardware-ok-routes");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "hardware ok routeCnt: 17\n");

    r = ask("--json table-stats 3");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"value\":17"), std::string::npos) << r.out;
}

TEST_F(NmClient, SetsTheDebugLevelAndAsksForDumps) {
    ClientRun r = ask("debug 2");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(ghwRoute.debugLevel, 2);

    StdoutCapture cap;
    r = ask("show ipv4-arp");
    const std::string daemonOut = cap.finish();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("printed table 9 (ipv4-arp) on its own standard output"), std::string::npos) << r.out;
    EXPECT_NE(daemonOut.find("[9]activeShow all ipv4 arp table show"), std::string::npos);
}

TEST_F(NmClient, ExplainsRefusalsAndAMissingDaemon) {
    ClientRun r = ask("raw --func 8 --cmd 2 --value 1");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("return code 0x03e80010"), std::string::npos) << r.out;

    r = ask("raw --func 5 --cmd 1 --index-num 1");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("request refused by the daemon (malformed)"), std::string::npos) << r.out;

    r = runClient("--socket " + path_ + ".absent count");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot connect to " + path_ + ".absent: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(is hwroute running?)"), std::string::npos) << r.out;

    r = runClient("table-stats no-such-item");
    EXPECT_EQ(r.status, 2) << r.out;
}

}  // namespace
