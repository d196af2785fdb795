// The hwroute executable's command line: usage, and a bad platform
// configuration refused before anything starts.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

class Daemon : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "no daemon binary at " << binary;
        fs::create_directories(tmp);
    }
    void TearDown() override { fs::remove_all(tmp); }
    // The exit status; the timeout turns a start that should not have
    // happened into a failure instead of a hang.
    int run(const std::string& args) {
        std::string cmd = "timeout 10 '" + binary + "' " + args + " >" + tmp + "/out 2>" + tmp + "/err </dev/null";
        int rc = std::system(cmd.c_str());
        std::ifstream o(tmp + "/out"), e(tmp + "/err");
        out.assign(std::istreambuf_iterator<char>(o), {});
        err.assign(std::istreambuf_iterator<char>(e), {});
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    const std::string binary = fs::read_symlink("/proc/self/exe").parent_path() / "../hwroute";
    const std::string tmp = "/tmp/hwroute-frame." + std::to_string(getpid());
    std::string out, err;
};

TEST_F(Daemon, HelpGoesToStandardOutputAndWrongUsageToStandardError) {
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(out.rfind("usage: hwroute", 0), 0u) << out;
    EXPECT_EQ(err, "");
    for (const char* args : {"1 2 3 4 5 6 7", "1 2 3 4 5 6 7 8 9", "--bogus x 1 2 3 4 5 6 7 8", "--log", ""}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(run(args), 2);
        EXPECT_EQ(out, "");
        EXPECT_NE(err.find("usage: hwroute"), std::string::npos) << err;
    }
}

TEST_F(Daemon, BadPlatformConfigIsOneLineAndNoSocket) {
    const std::pair<const char*, const char*> cases[] = {
        {"not-json", "{ \"interfaces\": "}, {"unknown-key", "{ \"noSuchKey\": 1 }"}, {"missing", nullptr}};
    for (const auto& [name, content] : cases) {
        SCOPED_TRACE(name);
        const std::string file = tmp + "/" + name + ".json";
        if (content != nullptr) std::ofstream(file) << content;
        EXPECT_EQ(run("--nm-socket " + tmp + "/nm.sock --platform-config " + file + " 10 10 10 8 10 10 10 0"), 2);
        const std::string prefix = "hwroute: " + file + ": ";
        EXPECT_EQ(err.rfind(prefix, 0), 0u) << err;
        EXPECT_GT(err.size(), prefix.size() + 1) << "no reason given";
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "not exactly one line: " << err;
        EXPECT_FALSE(fs::exists(tmp + "/nm.sock")) << "management socket was opened";
    }
}

}  // namespace
