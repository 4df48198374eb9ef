// The process list and process control, on real processes: copies of sleep in folders of
// their own, so that two programs of the same name run from different places.
#include "platform/Processes.h"

#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

using qntest::TChildProcess;
using qntest::TTempDir;

namespace {

class Processes : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"a", "b"}) {
            std::filesystem::create_directories(Dir / d);
            std::filesystem::copy_file("/bin/sleep", Dir / (std::string(d) + "/helper"));
        }
    }
    // Waits until the kernel reports Path as the executable of the child (it has exec'd).
    void WaitRunning(TChildProcess& p, const std::string& path) {
        ASSERT_TRUE(qntest::WaitFor([&] {
            auto pids = ProcessesRunning(path);
            return std::find(pids.begin(), pids.end(), p.Pid()) != pids.end();
        })) << path;
    }
    TTempDir Dir{"procs"};
    std::string A = Dir / "a/helper", B = Dir / "b/helper";
};

TEST_F(Processes, TheListShowsThisProcessByItsExecutable) {
    auto list = RunningProcesses();
    auto self = std::find_if(list.begin(), list.end(),
                             [](const TProcessInfo& p) { return p.Pid == ::getpid(); });
    ASSERT_NE(self, list.end());
    EXPECT_EQ(self->ExePath, std::filesystem::canonical("/proc/self/exe").string());
}

TEST_F(Processes, OnlyTheProcessesOfThatVeryFileAreMatchedAndEnded) {
    TChildProcess inA({A, "60"}), inB({B, "60"});
    WaitRunning(inA, A);
    WaitRunning(inB, B);
    EXPECT_EQ(ProcessesRunning(A), std::vector<pid_t>{inA.Pid()});
    EXPECT_EQ(ProcessesRunning(A, inA.Pid()), std::vector<pid_t>{});
    // Through a linked folder the same file is found; a link named like the program is
    // not the program.
    std::filesystem::create_directory_symlink(Dir / "a", Dir / "linked");
    std::filesystem::create_symlink(A, Dir / "b/link-to-a");
    EXPECT_EQ(ProcessesRunning(Dir / "linked/helper"), std::vector<pid_t>{inA.Pid()});
    EXPECT_EQ(ProcessesRunning(Dir / "b/link-to-a"), std::vector<pid_t>{});
    EXPECT_EQ(ProcessesRunning(Dir / "missing/helper"), std::vector<pid_t>{});

    EXPECT_FALSE(TerminateProcessesOf(A, inA.Pid()));  // the excluded one is left alone
    EXPECT_TRUE(inA.Running());
    EXPECT_TRUE(TerminateProcessesOf(A, 0));
    EXPECT_EQ(inA.Wait(), std::optional<int>(128 + SIGTERM));
    EXPECT_TRUE(inB.Running());
    EXPECT_FALSE(TerminateProcessesOf(A, 0));  // nothing left to end
}

TEST_F(Processes, AProcessThatIgnoresTheRequestIsKilled) {
    TChildProcess stubborn({"/bin/sh", "-c", "trap '' TERM; exec '" + A + "' 60"});
    WaitRunning(stubborn, A);
    EXPECT_TRUE(TerminateProcessesOf(A, 0, 200));
    EXPECT_EQ(stubborn.Wait(), std::optional<int>(128 + SIGKILL));
}

TEST_F(Processes, WaitForProcessEnd) {
    TChildProcess p({A, "60"});
    WaitRunning(p, A);
    EXPECT_FALSE(WaitForProcessEnd(p.Pid(), 50));
    ::kill(p.Pid(), SIGTERM);
    EXPECT_TRUE(WaitForProcessEnd(p.Pid(), 30000));
}

TEST_F(Processes, ADetachedProcessRunsInASessionOfItsOwnInItsFolder) {
    const std::string program = Dir / "a/report";
    const std::string out = Dir / "out.txt";
    // A file this process holds open without close-on-exec: the new process must not
    // inherit it.
    int held = ::open((Dir / "held").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(held, 3);
    const std::string heldLink = "/proc/$$/fd/" + std::to_string(held);
    // Field 6 of /proc/<pid>/stat is the session id.
    qntest::WriteFile(program, "#!/bin/sh\n{ echo $$; cut -d' ' -f6 /proc/$$/stat; pwd; "
                               "printf '%s\\n' \"$@\"; [ -e " + heldLink + " ] && echo inherited; } > '" +
                                   out + ".part'; mv '" + out + ".part' '" + out + "'\n");
    ::chmod(program.c_str(), 0755);
    std::string error;
    pid_t pid = StartDetachedProcess(program, {Dir / "a b", "-uninstallFinalize"}, Dir / "b", error);
    ASSERT_GT(pid, 0) << error;
    ASSERT_TRUE(qntest::WaitFor([&] { return std::filesystem::exists(out); }));
    ::waitpid(pid, nullptr, 0);
    std::istringstream in(qntest::ReadFile(out));
    std::string ownPid, session, cwd, arg1, arg2;
    std::getline(in, ownPid);
    std::getline(in, session);
    std::getline(in, cwd);
    std::getline(in, arg1);
    std::getline(in, arg2);
    EXPECT_EQ(ownPid, std::to_string(pid));
    EXPECT_EQ(session, ownPid);  // a session leader
    EXPECT_EQ(cwd, Dir / "b");
    EXPECT_EQ(arg1, Dir / "a b");
    EXPECT_EQ(arg2, "-uninstallFinalize");
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rest, "");  // the held file was not inherited
    ::close(held);

    error.clear();
    EXPECT_EQ(StartDetachedProcess(Dir / "missing", {}, Dir.Path(), error), -1);
    EXPECT_EQ(error, "No such file or directory");
}

}  // namespace
