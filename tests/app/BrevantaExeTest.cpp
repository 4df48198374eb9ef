// Starts the real brevanta executable.
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

using qntest::TChildProcess;
using qntest::TTempDir;

namespace {

class BrevantaExe : public ::testing::Test {
protected:
    void SetUp() override {
        // A copy of the program in a folder of its own: log.txt goes next to it.
        std::filesystem::create_directories(Dir / "bin");
        std::filesystem::copy_file(BREVANTA_EXE, Exe);
        std::filesystem::permissions(Exe, std::filesystem::perms(0755));
    }
    std::vector<std::string> Env() const {
        return {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + (Dir / "config"),
                "XDG_CACHE_HOME=" + (Dir / "cache"), "XDG_STATE_HOME=" + (Dir / "state"),
                "XDG_DATA_HOME=" + (Dir / "data")};
    }
    TTempDir Dir;
    std::string Exe = Dir / "bin/brevanta";
};

TEST_F(BrevantaExe, DebugSwitchWritesLogAndTermEndsCleanly) {
    TChildProcess p({Exe, "/debug"}, Env(), Dir.Path(), Dir / "out.txt");
    std::string log = Dir / "bin/log.txt";
    ASSERT_TRUE(qntest::WaitFor([&] { return qntest::ReadFile(log).find("Log file") != std::string::npos; }))
        << qntest::ReadFile(Dir / "out.txt");
    // The per-run folder exists while the program runs (it is made just after the log
    // is opened).
    EXPECT_TRUE(qntest::WaitFor([&] {
        std::error_code ec;
        return std::filesystem::exists(Dir / "cache/Quennick", ec);
    }));
    p.Signal(SIGTERM);
    auto code = p.Wait();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << qntest::ReadFile(Dir / "out.txt");
}

TEST_F(BrevantaExe, DashDebugWritesNoLog) {
    TChildProcess p({Exe, "-debug"}, Env(), Dir.Path(), Dir / "out.txt");
    // Wait until the program is up (it has made its per-run folder), then end it.
    ASSERT_TRUE(qntest::WaitFor([&] {
        std::error_code ec;
        return std::filesystem::exists(Dir / "cache/Quennick", ec) &&
               !std::filesystem::is_empty(Dir / "cache/Quennick", ec);
    })) << qntest::ReadFile(Dir / "out.txt");
    p.Signal(SIGTERM);
    ASSERT_EQ(p.Wait(), std::optional<int>(0)) << qntest::ReadFile(Dir / "out.txt");
    EXPECT_FALSE(std::filesystem::exists(Dir / "bin/log.txt"));
    // The empty per-run folder went with the program.
    EXPECT_TRUE(std::filesystem::is_empty(Dir / "cache/Quennick"));
}

TEST_F(BrevantaExe, HelpListsTheSwitches) {
    TChildProcess p({Exe, "--help"}, Env(), Dir.Path(), Dir / "out.txt");
    ASSERT_EQ(p.Wait(), std::optional<int>(0));
    std::string out = qntest::ReadFile(Dir / "out.txt");
    for (const char* s : {"/debug", "/UninstallApp", "/SVCSimulate", "--list-devices"})
        EXPECT_NE(out.find(s), std::string::npos) << s;
}

}  // namespace
