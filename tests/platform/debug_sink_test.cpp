#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <utility>

#include "platform_test.h"

namespace {

using DebugSink = PlatformTest;

// What the sink writes to its file while `run` runs.
template <class Run>
std::string sinkOutput(Run run) {
    char* buf = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&buf, &size);
    simDebugSetFile(file);
    run();
    simDebugSetFile(nullptr);  // the sink lets go of the file first
    std::fclose(file);
    std::string text(buf, size);
    std::free(buf);
    return text;
}

TEST_F(DebugSink, TurnsTheDaemonsLineBreaksIntoOneCleanLine) {
    const std::pair<const char*, const char*> rows[] = {
        {"\n\r[HWROUTE]:leading and trailing\n\r", "[HWROUTE]:leading and trailing\n"},
        {"[HWROUTE]:a\r\n\r\nb", "[HWROUTE]:a b\n"},
        {"[HWROUTE]:x\ny\rz\r\n", "[HWROUTE]:x y z\n"},
        {"[HWROUTE]:keeps  inner\tblanks", "[HWROUTE]:keeps  inner\tblanks\n"},
        {"\r\n", "\n"},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(sinkOutput([in = in] { NM_DEBUG_OUTPUT(in); }), out) << in;
}

// Lines from the main thread and the worker must not interleave.
TEST_F(DebugSink, LinesFromTwoThreadsStayWhole) {
    const std::string a = "[HWROUTE]:" + std::string(300, 'a'), b = "[HWROUTE]:" + std::string(300, 'b');
    auto writer = [](std::string text) { for (int i = 0; i < 2000; ++i) NM_DEBUG_OUTPUT(text.c_str()); };
    std::istringstream out(sinkOutput([&] {
        std::thread t1(writer, "\r\n" + a + "\r\n"), t2(writer, "\n\r" + b + "\n\r");
        t1.join(), t2.join();
    }));
    int lines = 0;
    for (std::string line; std::getline(out, line); ++lines) ASSERT_TRUE(line == a || line == b) << line;
    EXPECT_EQ(lines, 4000);
}

}  // namespace
