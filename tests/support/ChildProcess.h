// Starts a real program for a test and makes sure it never outlives the test.
#pragma once

#include <csignal>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qntest {

// How a child is started: extra environment ("NAME=value" entries), working folder,
// where its output goes (stderr with stdout unless ErrorFile is given), whether its
// input is /dev/null, whether it runs in a session of its own (without a controlling
// terminal), and a user to run as (0: the test's own).
struct TChildOptions {
    std::vector<std::string> Env;
    std::string Cwd;
    std::string OutputFile;
    std::string ErrorFile;
    bool NoInput = false;
    bool NewSession = false;
    uid_t AsUser = 0;
};

class TChildProcess {
public:
    // Starts Argv[0] (a path) with the given extra environment and working folder; stdout
    // and stderr go to OutputFile when given.
    TChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                  const std::string& cwd = {}, const std::string& outputFile = {})
        : TChildProcess(argv, Options(env, cwd, outputFile)) {}

    TChildProcess(const std::vector<std::string>& argv, const TChildOptions& o) {
        // Everything the child needs is prepared before the fork: after it only
        // async-signal-safe calls run.
        std::vector<std::string> envStrings;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry(*e);
            std::string name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const auto& x : o.Env) replaced |= x.substr(0, x.find('=')) == name;
            if (!replaced) envStrings.push_back(entry);
        }
        envStrings.insert(envStrings.end(), o.Env.begin(), o.Env.end());
        std::vector<char*> envp;
        for (auto& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argStrings = argv;
        std::vector<char*> args;
        for (auto& a : argStrings) args.push_back(a.data());
        args.push_back(nullptr);
        pid_t parent = ::getpid();
        FPid = ::fork();
        if (FPid == 0) {
            // The child dies with the test process, so a crash leaves nothing running.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            if (o.NewSession) ::setsid();
            if (!o.Cwd.empty() && ::chdir(o.Cwd.c_str()) != 0) ::_exit(126);
            if (!o.OutputFile.empty()) {
                int fd = ::open(o.OutputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0) ::_exit(125);
                ::dup2(fd, 1);
                ::dup2(fd, 2);
                ::close(fd);
            }
            if (!o.ErrorFile.empty()) {
                int fd = ::open(o.ErrorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0) ::_exit(125);
                ::dup2(fd, 2);
                ::close(fd);
            }
            if (o.NoInput) {
                int fd = ::open("/dev/null", O_RDONLY);
                if (fd < 0) ::_exit(125);
                ::dup2(fd, 0);
                ::close(fd);
            }
            if (o.AsUser != 0 &&
                (::setgroups(0, nullptr) != 0 || ::setgid(o.AsUser) != 0 || ::setuid(o.AsUser) != 0))
                ::_exit(124);
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
    }
    ~TChildProcess() {
        if (FPid > 0 && !FExit) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return FPid; }
    bool Running() {
        Poll();
        return !FExit.has_value();
    }
    void Signal(int sig) {
        if (Running()) ::kill(FPid, sig);
    }
    // Waits for the exit within Bound; the exit code, 128+signal, or nullopt on timeout.
    std::optional<int> Wait(std::chrono::milliseconds bound = std::chrono::seconds(60)) {
        auto until = std::chrono::steady_clock::now() + bound;
        while (Running()) {
            if (std::chrono::steady_clock::now() > until) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return FExit;
    }

private:
    static TChildOptions Options(const std::vector<std::string>& env, const std::string& cwd,
                                 const std::string& outputFile) {
        TChildOptions o;
        o.Env = env;
        o.Cwd = cwd;
        o.OutputFile = outputFile;
        return o;
    }
    void Poll() {
        if (FPid <= 0 || FExit) return;
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            if (WIFEXITED(status)) FExit = WEXITSTATUS(status);
            else if (WIFSIGNALED(status)) FExit = 128 + WTERMSIG(status);
        }
    }
    pid_t FPid = -1;
    std::optional<int> FExit;
};

}  // namespace qntest
