#include "PulseFixture.h"

#include "common/SafeFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <signal.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Single-quoted for /bin/sh.
std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

const char* const FolderPrefix = "brevanta-pulse.";

// Removes the folders of earlier runs whose test process died without cleaning up; the
// folders of runs still going on (their owner process exists) stay.
void RemoveStaleFolders() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(FolderPrefix, 0) != 0) continue;
        std::string owner;
        try {
            owner = ReadFileBytes(entry.path().string() + "/owner");
        } catch (const std::exception&) {
            continue;  // being created right now, or not ours
        }
        long pid = std::strtol(owner.c_str(), nullptr, 10);
        if (pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
            std::error_code rmEc;
            std::filesystem::remove_all(entry.path(), rmEc);
        }
    }
}

}  // namespace

TPulseDaemon::TPulseDaemon() {
    const std::string program = FindProgram("pulseaudio");
    if (program.empty()) throw std::runtime_error("pulseaudio is not installed (scripts/install-deps.sh)");

    RemoveStaleFolders();
    // A short base keeps the socket path well inside the 108 bytes of a unix address.
    std::string base = std::string("/tmp/") + FolderPrefix + "XXXXXX";
    std::vector<char> templ(base.begin(), base.end());
    templ.push_back('\0');
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp: " + SysErrorMessage(errno));
    FFolder = templ.data();
    FServer = "unix:" + FFolder + "/native";
    for (const char* sub : {"/runtime", "/state", "/home"})
        std::filesystem::create_directory(FFolder + sub);

    using D = TPulseTestDevices;
    const std::string config =
        "load-module module-null-sink sink_name=" + std::string(D::SinkA) +
        " sink_properties=\"device.description='" + D::SinkADescription + "'\"\n" +
        "load-module module-null-sink sink_name=" + D::SinkB +
        " sink_properties=\"device.description='" + D::SinkBDescription + "'\"\n" +
        "load-module module-sine-source source_name=" + D::Sine + " frequency=440 rate=8000" +
        " source_properties=\"device.description='" + D::SineDescription + "'\"\n" +
        "set-default-sink " + D::SinkA + "\n" +
        "set-default-source " + D::Sine + "\n" +
        // Last, so that the socket appears only when the devices exist.
        "load-module module-native-protocol-unix auth-anonymous=1 socket=" + FFolder + "/native\n";
    WriteFileAtomic(FFolder + "/owner", std::to_string(getpid()) + "\n");
    WriteFileAtomic(FFolder + "/daemon.pa", config);
    WriteFileAtomic(FFolder + "/client.conf", "autospawn = no\n");

    // Everything the child needs is built before fork: after it only exec-safe calls.
    std::vector<std::string> args = {
        program,
        "-n",
        "-F", FFolder + "/daemon.pa",
        "--daemonize=no",
        "--system=no",
        "--use-pid-file=no",
        "--exit-idle-time=-1",
        "--disallow-exit=yes",
        // As a desktop's daemon runs (there through rtkit): its threads keep time on a
        // busy machine. Where the system refuses, the daemon only warns.
        "--realtime=yes",
        "--high-priority=yes",
        "--no-cpu-limit=yes",
        "--log-target=stderr",
        "--log-level=notice",
    };
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        for (const char* drop : {"PULSE_", "HOME=", "XDG_RUNTIME_DIR=", "DISPLAY=", "DBUS_SESSION_BUS_ADDRESS="})
            if (v.rfind(drop, 0) == 0) v.clear();
        if (!v.empty()) env.push_back(v);
    }
    env.push_back("HOME=" + FFolder + "/home");
    env.push_back("XDG_RUNTIME_DIR=" + FFolder + "/runtime");
    env.push_back("PULSE_RUNTIME_PATH=" + FFolder + "/runtime");
    env.push_back("PULSE_STATE_PATH=" + FFolder + "/state");
    env.push_back("PULSE_CLIENTCONFIG=" + FFolder + "/client.conf");
    env.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::string logPath = FFolder + "/daemon.log";
    int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (logFd < 0) throw std::runtime_error("cannot create " + logPath + ": " + SysErrorMessage(errno));
    const pid_t parent = getpid();
    FPid = fork();
    if (FPid == 0) {
        // The daemon must not outlive a test process that crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int forkErr = errno;
    close(logFd);
    if (FPid < 0) throw std::runtime_error("fork: " + SysErrorMessage(forkErr));

    // The test process and its children talk to this daemon only.
    setenv("PULSE_SERVER", FServer.c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (FFolder + "/client.conf").c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", (FFolder + "/runtime").c_str(), 1);

    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Pactl("info") != 0) {
        if (!Running() || Clock::now() > deadline) {
            std::string log = Log();
            Stop();
            throw std::runtime_error("the test sound server did not start:\n" + log);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // poll step
    }
}

TPulseDaemon::~TPulseDaemon() { Stop(); }

bool TPulseDaemon::Running() {
    if (FPid <= 0) return false;
    int status = 0;
    pid_t r = waitpid(FPid, &status, WNOHANG);
    if (r == FPid) FPid = -1;
    return FPid > 0;
}

void TPulseDaemon::Stop() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Running() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // poll step
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            int status = 0;
            waitpid(FPid, &status, 0);
            FPid = -1;
        }
    }
    if (!FFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(FFolder, ec);
        FFolder.clear();
    }
}

int TPulseDaemon::Pactl(const std::string& args, std::string* output) const {
    std::string cmd = "pactl -s " + ShellQuote(FServer) + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TPulseDaemon::Log() const {
    try {
        return ReadFileBytes(FFolder + "/daemon.log");
    } catch (const std::exception& e) {
        return e.what();
    }
}

namespace {

class TPulseEnvironment : public testing::Environment {
public:
    void SetUp() override {
        try {
            Daemon = std::make_unique<TPulseDaemon>();
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
    }
    void TearDown() override { Daemon.reset(); }
    static std::unique_ptr<TPulseDaemon> Daemon;
};

std::unique_ptr<TPulseDaemon> TPulseEnvironment::Daemon;

// GoogleTest takes ownership of the environment.
[[maybe_unused]] testing::Environment* const PulseEnvironment =
    testing::AddGlobalTestEnvironment(std::make_unique<TPulseEnvironment>().release());

}  // namespace

TPulseDaemon& PulseDaemon() {
    if (!TPulseEnvironment::Daemon) throw std::runtime_error("the test sound server is not running");
    return *TPulseEnvironment::Daemon;
}
