// Pieces the commands share for their output on standard error.
#pragma once

#include "app/AppMgr.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <sys/ioctl.h>

// The columns a status line on standard error may fill (one less than the terminal's,
// so that the cursor never wraps).
inline size_t StatusLineWidth() {
    struct winsize ws {};
    return ::ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? size_t(ws.ws_col - 1) : 79;
}

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
