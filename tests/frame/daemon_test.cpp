// The hwroute executable's command line: usage, and a bad platform
// configuration refused before anything starts.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

struct RunResult {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class Daemon : public ::testing::Test {
protected:
    void SetUp() override {
        char self[4096];
        ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
        ASSERT_GT(n, 0);
        self[n] = '\0';
        std::string dir(self);
        binary = dir.substr(0, dir.rfind('/')) + "/../hwroute";
        if (access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "no daemon binary at " << binary;
        char tmpl[] = "/tmp/hwroute-frame.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        tmp = tmpl;
    }
    void TearDown() override {
        if (!tmp.empty()) std::filesystem::remove_all(tmp);
    }
    // The daemon never exits on its own once started; the timeout turns a
    // start that should not have happened into a failure instead of a hang.
    RunResult run(const std::string& args) {
        std::string cmd = "timeout 10 '" + binary + "' " + args + " >'" + tmp + "/out' 2>'" + tmp + "/err' </dev/null";
        RunResult r;
        int rc = std::system(cmd.c_str());
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.out = slurp(tmp + "/out");
        r.err = slurp(tmp + "/err");
        return r;
    }
    std::string binary, tmp;
};

TEST_F(Daemon, HelpGoesToStandardOutput) {
    RunResult r = run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: hwroute", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(Daemon, WrongUsageGoesToStandardErrorWithStatus2) {
    const char* cases[] = {"1 2 3 4 5 6 7", "1 2 3 4 5 6 7 8 9", "--bogus x 1 2 3 4 5 6 7 8", "--log", ""};
    for (const char* args : cases) {
        SCOPED_TRACE(args);
        RunResult r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: hwroute"), std::string::npos) << r.err;
    }
}

TEST_F(Daemon, BadPlatformConfigIsOneLineAndNoSocket) {
    const std::string sock = tmp + "/nm.sock";
    const struct {
        const char* what;
        std::string file;
        const char* content;
    } cases[] = {
        {"not json", tmp + "/bad.json", "{ \"interfaces\": "},
        {"unknown key", tmp + "/key.json", "{ \"noSuchKey\": 1 }"},
        {"missing file", tmp + "/missing.json", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.content != nullptr) std::ofstream(c.file) << c.content;
        RunResult r = run("--nm-socket '" + sock + "' --platform-config '" + c.file + "' 10 10 10 8 10 10 10 0");
        EXPECT_EQ(r.status, 2);
        const std::string prefix = "hwroute: " + c.file + ": ";
        EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
        EXPECT_GT(r.err.size(), prefix.size() + 1) << "no reason given";
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not exactly one line: " << r.err;
        struct stat st;
        EXPECT_NE(stat(sock.c_str(), &st), 0) << "management socket was opened";
    }
}

}  // namespace
