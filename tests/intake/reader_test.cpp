// The notification reader: every queued datagram in one pass, bounded; real
// link messages read whole; overruns counted and turned into a resync.
#include <cerrno>
#include <algorithm>
#include <deque>

#include "hwroute/resync.h"
#include "intake_test.h"
#include "link_capture.h"

namespace {

// What the fake socket hands out, in order; an empty queue answers EAGAIN.
struct Receipt {
    std::vector<uint8_t> bytes;
    int err = 0;             // non-zero: the receive fails with this errno
    size_t realLen = 0;      // longer than bytes: the datagram was truncated
};
std::deque<Receipt> gQueue;
bool gEndless = false;  // a socket that never runs dry
std::vector<uint8_t> gEndlessBytes;

ssize_t fakeRecv(int /*fd*/, uint8_t* buf, size_t cap, bool* truncated) {
    *truncated = false;
    if (gEndless) {
        std::memcpy(buf, gEndlessBytes.data(), gEndlessBytes.size());
        return static_cast<ssize_t>(gEndlessBytes.size());
    }
    if (gQueue.empty()) {
        errno = EAGAIN;
        return -1;
    }
    Receipt r = gQueue.front();
    gQueue.pop_front();
    if (r.err != 0) {
        errno = r.err;
        return -1;
    }
    const size_t n = r.bytes.size() < cap ? r.bytes.size() : cap;
    std::memcpy(buf, r.bytes.data(), n);
    *truncated = r.realLen > n;
    return static_cast<ssize_t>(n);
}

// The capture is little-endian; a big-endian host reads its header, the
// interface head and the top-level attribute headers in its own order.
std::vector<uint8_t> hostOrder(std::vector<uint8_t> b) {
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        auto swap = [&b](size_t off, size_t width) { std::reverse(b.begin() + off, b.begin() + off + width); };
        const size_t len = b[0] | b[1] << 8 | b[2] << 16 | static_cast<size_t>(b[3]) << 24;
        for (auto [off, w] : {std::pair{0, 4}, {4, 2}, {6, 2}, {8, 4}, {12, 4}, {18, 2}, {20, 4}, {24, 4}, {28, 4}})
            swap(off, w);
        for (size_t off = 32; off + 4 <= len;) {
            const size_t alen = b[off] | b[off + 1] << 8;
            swap(off, 2);
            swap(off + 2, 2);
            if (alen < 4) break;
            off += (alen + 3) & ~size_t{3};
        }
    }
    return b;
}

std::vector<uint8_t> route(const char* dst, const char* gateway) {
    return nlRoute({.prefixLen = 24, .protocol = 11, .dst = dst, .gateway = gateway, .oif = 3}).bytes();
}

uint32_t paths() { return ghwRoute.swNexthopCnt; }

class Reader : public IntakeTest {
protected:
    void SetUp() override {
        IntakeTest::SetUp();
        gQueue.clear();
        gEndless = false;
        hwRtnotifySetRecv(fakeRecv);
    }
    void TearDown() override {
        hwRtnotifySetRecv(nullptr);
        IntakeTest::TearDown();
    }
};

TEST_F(Reader, OnePassReadsEveryQueuedDatagram) {
    const char* dests[] = {"10.20.1.0", "10.20.2.0", "10.20.3.0", "10.20.4.0", "10.20.5.0"};
    for (const char* d : dests) gQueue.push_back({route(d, "10.3.0.9")});
    EXPECT_EQ(hwRtnotifyDrain(), 5u);
    EXPECT_EQ(paths(), 5u);
    EXPECT_EQ(ghwRoute.notifyOkNum, 5u);
    EXPECT_EQ(ghwRoute.rcvErrNum, 0u) << "the empty queue at the end is no error";
    EXPECT_EQ(hwRtnotifyDrain(), 0u);
    EXPECT_EQ(ghwRoute.rcvErrNum, 1u) << "a pass woken for nothing still counts its failed read";
}

TEST_F(Reader, AnEndlessQueueStillEndsThePass) {
    gEndless = true;
    gEndlessBytes = route("10.20.1.0", "10.3.0.9");
    EXPECT_LE(hwRtnotifyDrain(), HW_NOTIFY_PASS_MAX);
    EXPECT_GT(ghwRoute.notifyOkNum, 0u);
}

TEST_F(Reader, CapturedLinkMessagesAreReadWholeAndActedOn) {
    const std::vector<uint8_t> up = hostOrder(hexBytes(kCapturedLinkUp));
    const std::vector<uint8_t> down = hostOrder(hexBytes(kCapturedLinkDown));
    ASSERT_GT(up.size(), 1024u) << "the capture is longer than the old read";
    // A next hop waiting on interface 3 is probed again when it comes up.
    deliver(nlRoute({.prefixLen = 24, .protocol = 11, .dst = "10.20.1.0", .gateway = "10.3.0.9", .oif = 3}));
    probes.clear();
    gQueue.push_back({down});
    gQueue.push_back({up});
    EXPECT_EQ(hwRtnotifyDrain(), 2u);
    EXPECT_EQ(logCount("process interface up/down msg: ifUnit 3,msg type 34"), 1);
    EXPECT_EQ(logCount("process interface up/down msg: ifUnit 3,msg type 17"), 1);
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].address, ip4("10.3.0.9"));
    EXPECT_EQ(ghwRoute.rcvTruncCnt, 0u);
}

TEST_F(Reader, FaultsAreCountedAndTheReadGoesOn) {
    struct Case {
        const char* what;
        Receipt fault;
        uint32_t walked, overruns, truncs, errors;
        bool resync;
    };
    const Case cases[] = {
        {"an overrun between two datagrams", {{}, ENOBUFS}, 2, 1, 0, 1, true},
        {"a truncated datagram is counted and walked", {route("10.20.9.0", "10.3.0.9"), 0, 70000}, 3, 0, 1, 0, false},
        {"another failure ends the pass", {{}, EIO}, 1, 0, 0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reinit(HwTestSizes{});
        logs.clear();
        gQueue = {{route("10.20.1.0", "10.3.0.9")}, c.fault, {route("10.20.2.0", "10.3.0.9")}};
        EXPECT_EQ(hwRtnotifyDrain(), c.walked);
        EXPECT_EQ(ghwRoute.rcvOverrunCnt, c.overruns);
        EXPECT_EQ(ghwRoute.rcvTruncCnt, c.truncs);
        EXPECT_EQ(ghwRoute.rcvErrNum, c.errors);
        EXPECT_EQ(hwResyncWanted(), c.resync);
        EXPECT_EQ(logCount("notification socket overrun"), static_cast<int>(c.overruns));
        gQueue.clear();
    }
}

}  // namespace
