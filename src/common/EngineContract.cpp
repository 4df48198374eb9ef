#include "common/EngineContract.h"

#include <algorithm>

std::atomic<bool> SyncContinue{true};
std::atomic<bool> SyncProcessMessages{false};
std::atomic<bool> VerboseLog{false};

TLogOptions& LogOptions() {
    static TLogOptions options;
    return options;
}

TMsgDlgBtn EscapeAnswer(const TMsgDlgButtons& buttons) {
    for (TMsgDlgBtn b : {TMsgDlgBtn::mbCancel, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbOK})
        if (std::find(buttons.begin(), buttons.end(), b) != buttons.end()) return b;
    return buttons.empty() ? TMsgDlgBtn::mbCancel : buttons.front();
}

void ShowEngineStatus(IEngineHost* host, IStatusControl* status, ILogMemo* memo, const std::string& text,
                      int level, bool toMemo) {
    if (host != nullptr) {
        host->ShowStatus(status, memo, text, false, level, toMemo);
        return;
    }
    if (status) status->SetStatusText(text);
    const TLogOptions& opts = LogOptions();
    if (toMemo && memo && !opts.Disabled && (opts.HasLevel(level) || VerboseLog))
        memo->AddLine(FormatDateTime("yyyy/mm/dd hh:nn:ss", Now()) + ": " + text);
}
