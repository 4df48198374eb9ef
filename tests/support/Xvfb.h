// A private X server (Xvfb) for tests that drive real windows.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qntest {

// An X server of its own: Xvfb picks a free display number and tells it through a pipe.
class TXvfb {
public:
    TXvfb() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_t parent = ::getpid();
        FPid = ::fork();
        if (FPid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            ::close(fds[0]);
            if (fds[1] != 3) {
                ::dup2(fds[1], 3);
                ::close(fds[1]);
            }
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            // -noreset: the server stays up between clients; a reset when the last client
            // leaves would refuse the next one for a moment.
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24",
                    "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[32];
            ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, size_t(n));
            if (number.find('\n') != std::string::npos) break;
        }
        ::close(fds[0]);
        while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
        if (!number.empty()) FDisplay = ":" + number;
    }
    ~TXvfb() {
        if (FPid <= 0) return;
        ::kill(FPid, SIGTERM);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::waitpid(FPid, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(FPid, SIGKILL);
                ::waitpid(FPid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;
    const std::string& Display() const { return FDisplay; }
    bool Running() const { return FPid > 0 && ::waitpid(FPid, nullptr, WNOHANG) == 0; }

private:
    pid_t FPid = -1;
    std::string FDisplay;
};

}  // namespace qntest
