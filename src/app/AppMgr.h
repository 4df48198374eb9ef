// The application manager: command line, derived folders, diagnostic log, status line,
// busy cursor, hint handling and the orderly exit. Exactly one manager exists per
// process, reachable through AppMgr.
//
// The manager is window-free: whatever it needs of the windows reaches it through the
// small interfaces below (a log memo, a status control, a tool window, the application
// host), which the forms library implements on Qt and which tests script.
#pragma once

#include "common/DateUtils.h"
#include "common/EngineContract.h"
#include "common/QNStringList.h"

#include <atomic>
#include <bitset>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class TCustomIniFile;

// What the manager needs of the windowing system.
class IAppHost {
public:
    virtual ~IAppHost() = default;
    virtual void Terminate() = 0;  // end the message loop
    virtual TCursor ScreenCursor() const = 0;
    virtual void SetScreenCursor(TCursor cursor) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
    // Asks with a standard message dialog. A host without dialogs answers as if the box
    // had been closed (EscapeAnswer), so nothing is done that was not confirmed.
    virtual TMsgDlgBtn MessageDlg(const std::string& text, TMsgDlgType type,
                                  const TMsgDlgButtons& buttons) {
        (void)text;
        (void)type;
        return EscapeAnswer(buttons);
    }
    virtual void SetShowHints(bool on) = 0;
    virtual bool HeapMonitorVisible() const = 0;
    virtual IToolWindow* ActiveToolWindow() = 0;  // active tool child window of the main form
};

// True when Params holds the switch: a parameter whose first character is "-", "/" or
// "\" and whose remainder equals Name, ignoring case.
bool HasSwitch(const std::vector<std::string>& params, std::string_view name);

// The busy-cursor stack: last in, first out. Every entry keeps the cursor it replaced and
// the time of its own push, so nested pairs each measure their own time.
class TCursorQue {
public:
    struct TEntry {
        TCursor Saved;
        TDateTime StartTime;
    };
    void Push(const TEntry& e) { FItems.push_back(e); }
    // False on an empty stack.
    bool Pop(TEntry& e) {
        if (FItems.empty()) return false;
        e = FItems.back();
        FItems.pop_back();
        return true;
    }
    size_t size() const { return FItems.size(); }

private:
    std::vector<TEntry> FItems;
};

class TAppMgr;
// The one manager of the process (owned by the program body).
extern TAppMgr* AppMgr;

class TAppMgr : public IEngineHost {
public:
    // Builds a manager of class T from the command line (argv[0] first), makes it the
    // process's AppMgr and runs its start-up steps, including an uninstall stage when the
    // command line asks for one. Host may be null (no windows).
    template <class T>
    static std::unique_ptr<T> Create(const std::vector<std::string>& argv, IAppHost* host) {
        auto mgr = std::make_unique<T>();
        mgr->FHost = host;
        AppMgr = mgr.get();
        mgr->Startup(argv);
        return mgr;
    }

    TAppMgr();
    ~TAppMgr() override;
    TAppMgr(const TAppMgr&) = delete;
    TAppMgr& operator=(const TAppMgr&) = delete;

    bool FClosing = false;
    std::string FAppDir;      // folder of the running executable, no trailing "/"
    std::string FExeName;     // name the executable was started under
    TQNStringList FParams;    // parameters 1..N, verbatim
    std::string FRunDataDir;  // per-run scratch folder, ends with "/"
    std::string FHelpURL;     // help address of the hint under the mouse
    std::string FLogPath;     // where log.txt went, empty when no log is written

    void SetHost(IAppHost* host) { FHost = host; }
    IAppHost* Host() const { return FHost; }

    bool LogOpen() const { return FLogStream != nullptr; }
    bool LogToFile(const std::string& text) override;
    void LogToMemo(ILogMemo* memo, const std::string& text, int level);
    void ShowStatus(IStatusControl* status, ILogMemo* memo, const std::string& text, bool toFile,
                    int level, bool toMemo) override;
    void ShowStatus(IToolWindow* window, const std::string& text, bool toFile, int level,
                    bool toMemo);
    void PushCursor(TCursor cursor) override;
    TDateTime PopCursor() override;
    size_t CursorDepth() const { return FCursors.size(); }
    void ShowMessageNormal(const std::string& text);
    // A standard message dialog with the default cursor (restored afterwards); without a
    // host the escape answer.
    TMsgDlgBtn MessageDlg(const std::string& text, TMsgDlgType type,
                          const TMsgDlgButtons& buttons);
    // The application's hint handler.
    void HandleHint(const std::string& hint);

    // Hooks for tests and for start-up details that differ between runs.
    static std::string StatusTextOfHint(const std::string& hint);

protected:
    virtual void DoInstall() {}
    virtual void DoUninstallApp() = 0;
    virtual void DoUninstallFinalize() = 0;

    // The folder under which per-run folders are made; the user's cache folder by default.
    virtual std::string RunDataRoot() const;
    // The running executable's real path.
    virtual std::string ExePath() const;
    virtual TDateTime CurrentTime() const { return Now(); }

private:
    void Startup(const std::vector<std::string>& argv);
    void OpenLog();
    void MakeRunDataDir();
    void RollOverMemo(ILogMemo* memo);


    IAppHost* FHost = nullptr;
    std::FILE* FLogStream = nullptr;
    TCursorQue FCursors;
    bool FRunDataDirMade = false;
};

// Sets the closing flag and ends the message loop.
void CloseApplication(TAppMgr* mgr);

// Program-wide objects of the manager's unit (the log options are the contract's).
class TQNMemIniFile;
TQNMemIniFile& ScratchStore();
TCustomIniFile& RegistrySettings();

// Unit initialisation: opens the registry settings (the service-simulation switch picks
// the .DEFAULT root) and reads "DebugOn" into VerboseLog. Safe to call more than once.
void InitAppUnit(const std::vector<std::string>& argv);

// Blocks the calling thread.
void Pause(int milliseconds);

// True for the superuser (effective user id 0).
bool IsUserAdmin();
