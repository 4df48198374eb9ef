#include "platform/Processes.h"

#include "common/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace {

struct TDirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(TFd&& o) noexcept : FFd(o.FFd) { o.FFd = -1; }
    TFd& operator=(TFd&&) = delete;
    TFd(const TFd&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int PidfdSignal(int fd, int sig) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, sig, nullptr, 0));
}

// Whether the process behind the handle has ended.
bool Ended(int pidfd) {
    pollfd p{pidfd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// A process we may signal, held by a handle so that its pid cannot be reused under us.
struct TTarget {
    pid_t Pid;
    TFd Handle;
};

// Waits until every target has ended or the bound passes; true when all ended.
bool WaitEnded(std::vector<TTarget>& targets, int boundMs) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        std::vector<pollfd> fds;
        for (const TTarget& t : targets)
            if (!Ended(t.Handle.Get())) fds.push_back({t.Handle.Get(), POLLIN, 0});
        if (fds.empty()) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return false;
        ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left, 100)));
    }
}

}  // namespace

std::string ProcessExePath(pid_t pid) {
    char buf[PATH_MAX];
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::vector<TProcessInfo> RunningProcesses() {
    std::vector<TProcessInfo> list;
    std::unique_ptr<DIR, TDirCloser> dir(::opendir("/proc"));
    if (!dir) return list;
    while (dirent* e = ::readdir(dir.get())) {
        const char* name = e->d_name;
        if (*name < '1' || *name > '9') continue;
        char* end = nullptr;
        long pid = std::strtol(name, &end, 10);
        if (*end != '\0' || pid <= 0) continue;
        std::string exe = ProcessExePath(static_cast<pid_t>(pid));
        if (!exe.empty()) list.push_back({static_cast<pid_t>(pid), exe});
    }
    std::sort(list.begin(), list.end(),
              [](const TProcessInfo& a, const TProcessInfo& b) { return a.Pid < b.Pid; });
    return list;
}

std::string ExecutableIdentity(const std::string& path) {
    size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == std::string::npos || slash + 1 == path.size())
        return {};
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    char buf[PATH_MAX];
    if (::realpath(folder.c_str(), buf) == nullptr) return {};
    std::string real = buf;
    return (real == "/" ? real : real + "/") + path.substr(slash + 1);
}

std::vector<pid_t> ProcessesRunning(const std::string& path, pid_t excludePid) {
    std::vector<pid_t> pids;
    std::string identity = ExecutableIdentity(path);
    if (identity.empty()) return pids;
    for (const TProcessInfo& p : RunningProcesses())
        if (p.Pid != excludePid && p.ExePath == identity) pids.push_back(p.Pid);
    return pids;
}

bool TerminateProcessesOf(const std::string& path, pid_t excludePid, int graceMs) {
    std::string identity = ExecutableIdentity(path);
    if (identity.empty()) return false;
    std::vector<TTarget> targets;
    for (pid_t pid : ProcessesRunning(path, excludePid)) {
        TFd handle(PidfdOpen(pid));
        if (handle.Get() < 0) continue;  // gone meanwhile
        // The pid may have been reused between the listing and the handle: check the
        // executable again now that the handle pins the process.
        if (ProcessExePath(pid) != identity) continue;
        if (PidfdSignal(handle.Get(), SIGTERM) != 0) continue;
        targets.push_back({pid, std::move(handle)});
    }
    if (targets.empty()) return false;
    if (!WaitEnded(targets, graceMs)) {
        for (TTarget& t : targets)
            if (!Ended(t.Handle.Get())) PidfdSignal(t.Handle.Get(), SIGKILL);
        WaitEnded(targets, 5000);
    }
    return true;
}

bool WaitForProcessEnd(pid_t pid, int boundMs) {
    TFd handle(PidfdOpen(pid));
    if (handle.Get() < 0) return true;
    std::vector<TTarget> one;
    one.push_back({pid, std::move(handle)});
    return WaitEnded(one, boundMs);
}

pid_t StartDetachedProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& folder, std::string& error) {
    error.clear();
    std::vector<std::string> argStrings;
    argStrings.push_back(program);
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        error = "out of memory";
        return -1;
    }
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        error = "out of memory";
        return -1;
    }
    int rc = 0;
    if (!folder.empty()) rc = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // A session of its own: the new process outlives this one and its terminal. The
    // default signal dispositions and an empty signal mask, whatever this process set.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (rc == 0)
        rc = posix_spawnattr_setflags(
            &attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (rc == 0) rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = SysErrorMessage(rc);
        return -1;
    }
    return pid;
}
