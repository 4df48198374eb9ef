#include "app/AppMgr.h"

#include "common/QNMemIniFile.h"
#include "common/SafeFile.h"
#include "common/ifutils.h"
#include "platform/RegistryStore.h"
#include "platform/XdgDirs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TAppMgr* AppMgr = nullptr;

namespace {

const char* const SettingsKey = "Software\\Quennick";

// Objects of the manager's unit, alive from first use to the end of the process.
struct TAppUnit {
    TQNMemIniFile Scratch{""};
    std::unique_ptr<TRegistryIniFile> Registry;
};

TAppUnit& Unit() {
    static TAppUnit unit;
    return unit;
}

std::string RealExePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string StripTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

bool MakeDirs(const std::string& path, mode_t mode) {
    if (path.empty()) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirs(path.substr(0, slash), mode))
        return false;
    return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

}  // namespace

TQNMemIniFile& ScratchStore() { return Unit().Scratch; }

TCustomIniFile& RegistrySettings() {
    TAppUnit& u = Unit();
    if (!u.Registry)
        u.Registry = std::make_unique<TRegistryIniFile>(TRegistryRoot::rrCurrentUser, SettingsKey);
    return *u.Registry;
}

bool HasSwitch(const std::vector<std::string>& params, std::string_view name) {
    for (const auto& p : params) {
        if (p.empty() || (p[0] != '-' && p[0] != '/' && p[0] != '\\')) continue;
        if (SameText(std::string_view(p).substr(1), name)) return true;
    }
    return false;
}

void InitAppUnit(const std::vector<std::string>& argv) {
    TAppUnit& u = Unit();
    TRegistryRoot root = HasSwitch(argv, "SVCSimulate") ? TRegistryRoot::rrUsersDefault
                                                        : TRegistryRoot::rrCurrentUser;
    u.Registry = std::make_unique<TRegistryIniFile>(root, SettingsKey);
    try {
        VerboseLog = u.Registry->ReadBool("", "DebugOn", false);
    } catch (const std::exception& e) {
        // An unreadable settings file must not keep the program from starting.
        std::fprintf(stderr, "Cannot read the settings: %s\n", e.what());
        VerboseLog = false;
    }
}

TAppMgr::TAppMgr() = default;

TAppMgr::~TAppMgr() {
    if (FLogStream != nullptr) std::fclose(FLogStream);
    // The per-run folder goes when it is empty; its owners remove what they put there.
    if (FRunDataDirMade) ::rmdir(FRunDataDir.c_str());
    if (AppMgr == this) AppMgr = nullptr;
}

void TAppMgr::Startup(const std::vector<std::string>& argv) {
    std::string arg0 = argv.empty() ? std::string() : Trim(argv[0]);
    std::string exe = ExePath();
    if (exe.empty()) exe = arg0;
    FAppDir = StripTrailingSlashes(ExtractDir(exe));
    if (FAppDir.empty()) FAppDir = ".";
    FExeName = arg0.substr(arg0.rfind('/') == std::string::npos ? 0 : arg0.rfind('/') + 1);
    for (size_t i = 1; i < argv.size(); ++i) FParams.Add(argv[i]);

    std::vector<std::string> params = FParams.ToVector();
    for (const auto& p : params)
        if (SameText(p, "/debug")) {
            OpenLog();
            break;
        }
    MakeRunDataDir();
    if (FHost != nullptr) FHost->SetShowHints(true);

    if (HasSwitch(params, "UninstallApp")) DoUninstallApp();
    if (HasSwitch(params, "uninstallFinalize")) DoUninstallFinalize();
    std::string upper = UpperCase(FAppDir);
    if (upper.find("INSTALL") != std::string::npos && upper.find("UNINSTALL") == std::string::npos)
        DoInstall();
}

void TAppMgr::OpenLog() {
    // log.txt belongs in the program folder; when that is not writable the log goes to the
    // user's state folder instead, and the first line says where.
    std::string primary = FAppDir + "/log.txt";
    std::string fallbackDir = XdgStateHome() + "/Quennick";
    for (const std::string& path : {primary, fallbackDir + "/log.txt"}) {
        if (path != primary && !MakeDirs(fallbackDir, 0700)) continue;
        FLogStream = std::fopen(path.c_str(), "wb");
        if (FLogStream != nullptr) {
            FLogPath = path;
            break;
        }
    }
    if (FLogStream == nullptr) {
        std::fprintf(stderr, "Cannot write log.txt in %s or %s; running without a log file.\n",
                     FAppDir.c_str(), fallbackDir.c_str());
        return;
    }
    if (FLogPath != primary)
        std::fprintf(stderr, "%s is not writable; writing the log to %s\n", FAppDir.c_str(),
                     FLogPath.c_str());
    LogToFile("Log file " + FLogPath);
}

std::string TAppMgr::ExePath() const { return RealExePath(); }

std::string TAppMgr::RunDataRoot() const { return XdgCacheHome() + "/Quennick"; }

void TAppMgr::MakeRunDataDir() {
    std::string root = RunDataRoot();
    std::string stamp = FormatDateTime("yyyymmddhhnnsszzz", CurrentTime());
    FRunDataDir = root + "/" + stamp + "/";
    if (!MakeDirs(root, 0700)) return;
    // Two runs started in the same millisecond must not share a folder: the one that
    // creates the folder owns it, the other takes the next free suffix.
    for (int suffix = 0; suffix < 10000; ++suffix) {
        std::string dir = root + "/" + stamp + (suffix ? "-" + std::to_string(suffix) : "");
        if (::mkdir(dir.c_str(), 0700) == 0) {
            FRunDataDir = dir + "/";
            FRunDataDirMade = true;
            return;
        }
        if (errno != EEXIST) return;
    }
}

bool TAppMgr::LogToFile(const std::string& text) {
    if (FLogStream == nullptr) return false;
    const TFormatSettings& fs = FormatSettings();
    std::string line = FormatDateTime(fs.ShortDateFormat + " " + fs.LongTimeFormat, Now()) +
                       ": " + text + "\n";
    // A failing write (a full disk) must never break the caller.
    if (std::fwrite(line.data(), 1, line.size(), FLogStream) != line.size()) {
        std::clearerr(FLogStream);
        return true;
    }
    std::fflush(FLogStream);
    return true;
}

void TAppMgr::LogToMemo(ILogMemo* memo, const std::string& text, int level) {
    if (FHost != nullptr && FHost->HeapMonitorVisible()) return;
    LogToFile(text);
    if (memo == nullptr) return;
    const TLogOptions& opts = LogOptions();
    try {
        if (!opts.Disabled && (opts.HasLevel(level) || VerboseLog)) {
            memo->AddLine(FormatDateTime("yyyy/mm/dd hh:nn:ss", Now()) + ": " + text);
            memo->SetTopLine(memo->LineCount() - memo->VisibleLineCount() + 2);
        }
    } catch (...) {
        // The log memo never fails its caller.
    }
    try {
        if (memo->LineCount() >= opts.MaxLines && !opts.LogFileName.empty() &&
            FileExists(opts.LogFileName))
            RollOverMemo(memo);
    } catch (...) {
    }
}

void TAppMgr::RollOverMemo(ILogMemo* memo) {
    const std::string& name = LogOptions().LogFileName;
    std::string target = StripTrailingSeparators(ExtractDir(name)) + "/" +
                         ExtractFileBaseName(name) +
                         FormatDateTime("YYYYMMDDhhnnss", Now()) + ".log";
    TQNStringList lines;
    if (FileExists(target)) lines.LoadFromFile(target);
    lines.AddStrings(memo->Lines());
    lines.SaveToFile(target);
    memo->Clear();
    memo->AddLine("Log saved to file " + target);
}

void TAppMgr::ShowStatus(IStatusControl* status, ILogMemo* memo, const std::string& text,
                         bool toFile, int level, bool toMemo) {
    if (status != nullptr) {
        try {
            status->SetStatusText(text);
        } catch (...) {
        }
    }
    if (toMemo) LogToMemo(memo, text, level);
    if (toFile) LogToFile(text);
}

void TAppMgr::ShowStatus(IToolWindow* window, const std::string& text, bool toFile, int level,
                         bool toMemo) {
    if (window == nullptr || window->StatusControl() == nullptr || window->LogMemo() == nullptr)
        return;
    ShowStatus(window->StatusControl(), window->LogMemo(), text, toFile, level, toMemo);
}

void TAppMgr::PushCursor(TCursor cursor) {
    TCursor saved = FHost != nullptr ? FHost->ScreenCursor() : TCursor::crDefault;
    FCursors.Push({saved, CurrentTime()});
    if (FHost != nullptr) FHost->SetScreenCursor(cursor);
}

TDateTime TAppMgr::PopCursor() {
    TCursorQue::TEntry e;
    if (!FCursors.Pop(e)) return 0;
    if (FHost != nullptr) FHost->SetScreenCursor(e.Saved);
    return CurrentTime() - e.StartTime;
}

void TAppMgr::ShowMessageNormal(const std::string& text) {
    PushCursor(TCursor::crDefault);
    try {
        if (FHost != nullptr) FHost->ShowMessage(text);
    } catch (...) {
        PopCursor();
        throw;
    }
    PopCursor();
}

TMsgDlgBtn TAppMgr::MessageDlg(const std::string& text, TMsgDlgType type,
                               const TMsgDlgButtons& buttons) {
    if (FHost == nullptr) return EscapeAnswer(buttons);
    PushCursor(TCursor::crDefault);
    TMsgDlgBtn answer;
    try {
        answer = FHost->MessageDlg(text, type, buttons);
    } catch (...) {
        PopCursor();
        throw;
    }
    PopCursor();
    return answer;
}

std::string TAppMgr::StatusTextOfHint(const std::string& hint) {
    size_t bar = hint.find('|');
    std::string text = bar == std::string::npos ? hint : hint.substr(bar + 1);
    std::string r;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            r += "  ";
            ++i;
        } else {
            r += text[i];
        }
    }
    return r;
}

void TAppMgr::HandleHint(const std::string& hint) {
    IToolWindow* target = FHost != nullptr ? FHost->ActiveToolWindow() : nullptr;
    size_t bar = hint.find('|');
    std::string shortHint = bar == std::string::npos ? hint : hint.substr(0, bar);
    std::string longHint = bar == std::string::npos ? hint : hint.substr(bar + 1);
    std::string status = StatusTextOfHint(hint);
    if (VerboseLog && target != nullptr) {
        LogToMemo(target->LogMemo(), "Hint=" + hint, llProgress);
        LogToMemo(target->LogMemo(), "ShortHint=" + shortHint, llProgress);
        LogToMemo(target->LogMemo(), "LontHint=" + longHint, llProgress);
    }
    FHelpURL.clear();
    if (hint.find("http") != std::string::npos) {
        FHelpURL = shortHint;
        status += "  F1 for video help.";
    }
    if (target == nullptr) return;
    try {
        if (target->StatusControl() == nullptr) throw std::runtime_error("no status control");
        target->StatusControl()->SetStatusText(status);
    } catch (...) {
        if (FHost != nullptr) FHost->ShowMessage("Hint problem.");
    }
}

void CloseApplication(TAppMgr* mgr) {
    if (mgr == nullptr) return;
    mgr->FClosing = true;
    if (mgr->Host() != nullptr) mgr->Host()->Terminate();
}

void Pause(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool IsUserAdmin() { return ::geteuid() == 0; }
