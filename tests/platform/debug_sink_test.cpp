#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform_test.h"

namespace {

class DebugSink : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        simDebugSetFile(file);
    }
    void TearDown() override {
        PlatformTest::TearDown();  // the sink lets go of the file first
        std::fclose(file);
    }

    std::string written() {
        std::fflush(file);
        std::rewind(file);
        std::string s;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), file)) > 0) s.append(buf, n);
        return s;
    }

    FILE* file = nullptr;
};

TEST_F(DebugSink, TurnsTheDaemonsLineBreaksIntoOneCleanLine) {
    struct Row {
        const char* in;
        const char* out;
    };
    const Row rows[] = {
        {"[HWROUTE]:plain", "[HWROUTE]:plain\n"},
        {"\n\r[HWROUTE]:leading and trailing\n\r", "[HWROUTE]:leading and trailing\n"},
        {"[HWROUTE]:a\r\n\r\nb", "[HWROUTE]:a b\n"},
        {"[HWROUTE]:x\ny\rz\r\n", "[HWROUTE]:x y z\n"},
        {"[HWROUTE]:keeps  inner\tblanks", "[HWROUTE]:keeps  inner\tblanks\n"},
        {"\r\n", "\n"},
        {"", "\n"},
    };
    std::string expected;
    for (const Row& r : rows) {
        NM_DEBUG_OUTPUT(r.in);
        expected += r.out;
    }
    EXPECT_EQ(written(), expected);
}

TEST_F(DebugSink, CaptureKeepsTheLineExactlyAsHandedOver) {
    std::vector<std::string> lines;
    simDebugCapture(&lines);
    NM_DEBUG_OUTPUT("\n\r[HWROUTE]:x\n\r");
    simDebugSetFile(nullptr);
    NM_DEBUG_OUTPUT("captured, not written");
    simDebugCapture(nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"\n\r[HWROUTE]:x\n\r", "captured, not written"}));
    EXPECT_EQ(written(), "[HWROUTE]:x\n");
}

// Lines from the main thread and the worker must not interleave.
TEST_F(DebugSink, LinesFromTwoThreadsStayWhole) {
    constexpr int kLines = 2000;
    auto writer = [](const char* text) {
        for (int i = 0; i < kLines; ++i) NM_DEBUG_OUTPUT(text);
    };
    const std::string a = "\r\n[HWROUTE]:" + std::string(300, 'a') + "\r\n";
    const std::string b = "\n\r[HWROUTE]:" + std::string(300, 'b') + "\n\r";
    std::thread t1(writer, a.c_str());
    std::thread t2(writer, b.c_str());
    t1.join();
    t2.join();
    std::string out = written();
    const std::string lineA = "[HWROUTE]:" + std::string(300, 'a') + "\n";
    const std::string lineB = "[HWROUTE]:" + std::string(300, 'b') + "\n";
    int countA = 0, countB = 0;
    for (size_t pos = 0; pos < out.size();) {
        size_t end = out.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = out.substr(pos, end + 1 - pos);
        if (line == lineA) ++countA;
        else if (line == lineB) ++countB;
        else FAIL() << "torn line: " << line;
        pos = end + 1;
    }
    EXPECT_EQ(countA, kLines);
    EXPECT_EQ(countB, kLines);
}

}  // namespace
