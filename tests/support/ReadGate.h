// Holds another process in the middle of reading a file, so that a test can look at what
// that process has written so far and signal it at exactly that point.
#pragma once

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/fanotify.h>
#include <thread>
#include <unistd.h>

namespace qntest {

// Every read of Path by a process other than this one asks the gate first (fanotify
// permission events). The first PassReads of them go on at once; the next one waits until
// Release (or the gate's end), and every later one goes on again. A process that waits is
// killable; other signals reach it when the read goes on.
class TReadGate {
public:
    TReadGate(const std::string& path, int passReads) : FPass(passReads) {
        FFan = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
        if (FFan < 0) {
            FError = "fanotify_init: " + std::string(std::strerror(errno));
            return;
        }
        if (::fanotify_mark(FFan, FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, path.c_str()) != 0 ||
            ::pipe2(FStop, O_CLOEXEC) != 0) {
            FError = "fanotify_mark " + path + ": " + std::strerror(errno);
            ::close(FFan);
            FFan = -1;
            return;
        }
        FThread = std::thread([this] { Serve(); });
    }
    ~TReadGate() {
        if (FFan < 0) return;
        Release();
        char c = 0;
        (void)!::write(FStop[1], &c, 1);
        FThread.join();
        ::close(FStop[0]);
        ::close(FStop[1]);
        ::close(FFan);  // answers anything still pending with "allow"
    }
    TReadGate(const TReadGate&) = delete;
    TReadGate& operator=(const TReadGate&) = delete;

    // Empty when the gate works; otherwise why not (permission events need CAP_SYS_ADMIN).
    const std::string& Error() const { return FError; }

    // True once a read waits at the gate.
    bool WaitHeld(std::chrono::milliseconds bound) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, bound, [this] { return FHeld >= 0; });
    }

    // Lets the waiting read (and every later one) go on.
    void Release() {
        std::lock_guard lock(FMutex);
        FReleased = true;
        if (FHeld >= 0) Answer(FHeld);
        FHeld = -1;
    }

private:
    void Answer(int fd) {
        fanotify_response r{};
        r.fd = fd;
        r.response = FAN_ALLOW;
        (void)!::write(FFan, &r, sizeof r);
        ::close(fd);
    }

    void Serve() {
        const pid_t self = ::getpid();
        alignas(fanotify_event_metadata) char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{FFan, POLLIN, 0}, {FStop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            ssize_t n = ::read(FFan, buffer, sizeof buffer);
            if (n <= 0) continue;
            auto* m = reinterpret_cast<fanotify_event_metadata*>(buffer);
            for (; FAN_EVENT_OK(m, n); m = FAN_EVENT_NEXT(m, n)) {
                if (m->fd < 0) continue;
                std::lock_guard lock(FMutex);
                const bool hold = m->pid != self && !FReleased && FHeld < 0 && FSeen++ >= FPass;
                if (!hold) {
                    Answer(m->fd);
                    continue;
                }
                FHeld = m->fd;
                FChanged.notify_all();
            }
        }
    }

    int FPass;
    int FSeen = 0;
    int FFan = -1;
    int FStop[2] = {-1, -1};
    int FHeld = -1;
    bool FReleased = false;
    std::string FError;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::thread FThread;
};

}  // namespace qntest
