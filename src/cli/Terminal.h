// Pieces the commands share for their output on standard error.
#pragma once

#include "common/EngineContract.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <csignal>
#include <sys/ioctl.h>

// The columns a status line on standard error may fill (one less than the terminal's,
// so that the cursor never wraps).
inline size_t StatusLineWidth() {
    struct winsize ws {};
    return ::ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? size_t(ws.ws_col - 1) : 79;
}

// One line of standard error that shows the latest status, drawn again at most once
// per Period.
class TStatusLine {
public:
    explicit TStatusLine(std::chrono::milliseconds period) : FPeriod(period) {}
    // Text (control characters as blanks) and Tail after it, cut from the left to fit.
    void Draw(std::string_view text, std::string_view tail = {}, bool force = false) {
        const auto now = std::chrono::steady_clock::now();
        if (!force && FDrawn && now - FLast < FPeriod) return;
        FLast = now;
        FDrawn = true;
        const size_t width = StatusLineWidth();
        std::string line;
        for (char c : text) line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        if (line.size() + tail.size() > width && width > tail.size() + 3)
            line = "..." + line.substr(line.size() - (width - tail.size() - 3));
        std::fprintf(stderr, "\r%s%.*s\x1b[K", line.c_str(), static_cast<int>(tail.size()), tail.data());
        std::fflush(stderr);
        FShown = true;
    }
    // Removes the line, so that other output can start at the left edge.
    void Clear() {
        if (!FShown) return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        FShown = false;
    }

private:
    std::chrono::milliseconds FPeriod;
    bool FShown = false, FDrawn = false;
    std::chrono::steady_clock::time_point FLast{};
};

// A log line without its "yyyy/mm/dd hh:nn:ss: " stamp.
inline std::string_view WithoutLogStamp(std::string_view line) {
    if (line.size() > 21 && line[4] == '/' && line[7] == '/' && line[19] == ':' && line[20] == ' ')
        line.remove_prefix(21);
    return line;
}

// The engine's log memo of a command: each line, without its stamp, goes to Print.
class TCommandMemo : public ILogMemo {
public:
    explicit TCommandMemo(std::function<void(std::string_view)> print) : FPrint(std::move(print)) {}
    int LineCount() const override { return FCount; }
    void AddLine(const std::string& line) override {
        FPrint(WithoutLogStamp(line));
        ++FCount;
    }
    TQNStringList Lines() const override { return {}; }
    void Clear() override {}
    int VisibleLineCount() const override { return 0; }
    void SetTopLine(int) override {}

private:
    std::function<void(std::string_view)> FPrint;
    int FCount = 0;
};

// While it lives, SIGINT and SIGTERM are the program-wide stop (SyncContinue cleared: a
// run stops between two steps and still reports); with IgnorePipe a closed output does not
// end the process half-way either. Afterwards the old handlers are back and SyncContinue
// is set again.
class TInterruptScope {
public:
    explicit TInterruptScope(bool ignorePipe) : FPipe(ignorePipe) {
        struct sigaction sa {}, ign {};
        sa.sa_handler = [](int) { SyncContinue.store(false); };
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, &FInt);
        ::sigaction(SIGTERM, &sa, &FTerm);
        if (FPipe) {
            ign.sa_handler = SIG_IGN;
            sigemptyset(&ign.sa_mask);
            ::sigaction(SIGPIPE, &ign, &FOldPipe);
        }
        SyncContinue.store(true);
    }
    ~TInterruptScope() {
        ::sigaction(SIGINT, &FInt, nullptr);
        ::sigaction(SIGTERM, &FTerm, nullptr);
        if (FPipe) ::sigaction(SIGPIPE, &FOldPipe, nullptr);
        SyncContinue.store(true);
    }
    TInterruptScope(const TInterruptScope&) = delete;
    TInterruptScope& operator=(const TInterruptScope&) = delete;
    // Whether a stop came while the scope lived.
    static bool Interrupted() { return !SyncContinue.load(); }

private:
    bool FPipe;
    struct sigaction FInt {}, FTerm {}, FOldPipe {};
};
