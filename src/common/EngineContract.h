// What every engine of the suite shares with the program that runs it: the program-wide
// flags, log levels and options, the log memo and status line a window hands an engine,
// the kinds of message boxes and their answers, and IEngineHost, what an engine may ask
// of its program (the diagnostic log, the status line, the busy cursor).
//
// Engines (locations, search, sync, the command line) include this unit and never the
// application manager: the manager is one IEngineHost, and an engine reaches the host its
// owner gave it. An engine without a host (the command line, tests) writes its status to
// the controls it was given, if any.
#pragma once

#include "common/DateUtils.h"
#include "common/QNStringList.h"

#include <atomic>
#include <bitset>
#include <string>
#include <vector>

// Program-wide flags.
extern std::atomic<bool> SyncContinue;         // long loops stop when cleared
extern std::atomic<bool> SyncProcessMessages;  // long loops let window messages run
extern std::atomic<bool> VerboseLog;           // log every level; registry value "DebugOn"

// Log levels used across the suite.
enum TLogLevel : int {
    llDeletion = 3,
    llProgress = 4,
    llWarning = 5,
    llError = 6,
};

struct TLogOptions {
    bool Disabled = false;
    int MaxLines = 1000000;
    std::bitset<8> Levels = 0b01111110;  // {1..6}
    std::string LogFileName;
    bool HasLevel(int level) const { return level >= 0 && level < 8 && Levels.test(size_t(level)); }
};

// The program's log options (one object for the whole program).
TLogOptions& LogOptions();

// Busy cursor shapes.
enum class TCursor { crDefault, crArrow, crHourGlass, crHourGlassPointer };

// A multi-line log control of a tool window.
class ILogMemo {
public:
    virtual ~ILogMemo() = default;
    virtual int LineCount() const = 0;
    virtual void AddLine(const std::string& line) = 0;
    virtual TQNStringList Lines() const = 0;
    virtual void Clear() = 0;
    virtual int VisibleLineCount() const = 0;
    virtual void SetTopLine(int line) = 0;
};

// A status line.
class IStatusControl {
public:
    virtual ~IStatusControl() = default;
    virtual void SetStatusText(const std::string& text) = 0;  // sets and repaints
};

// A tool window of the framework: it provides the status control and the log memo.
class IToolWindow {
public:
    virtual ~IToolWindow() = default;
    virtual IStatusControl* StatusControl() = 0;
    virtual ILogMemo* LogMemo() = 0;
};

// Standard message dialogs: the kind of message and the buttons; the answer is the
// button pressed.
enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };
enum class TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbRetry };
using TMsgDlgButtons = std::vector<TMsgDlgBtn>;

// The answer of a dialog that was closed without a button (Escape, the window's close
// box), and of a host that cannot ask: Cancel when offered, else No, else OK, else the
// first button.
TMsgDlgBtn EscapeAnswer(const TMsgDlgButtons& buttons);

// What an engine may ask of the program that runs it.
class IEngineHost {
public:
    virtual ~IEngineHost() = default;
    // Appends a line to the program's diagnostic log; false when none is written.
    virtual bool LogToFile(const std::string& text) = 0;
    // Shows Text on Status and, at a level the log options take (and ToMemo), in Memo;
    // in the diagnostic log too when ToFile.
    virtual void ShowStatus(IStatusControl* status, ILogMemo* memo, const std::string& text, bool toFile,
                            int level, bool toMemo) = 0;
    virtual void PushCursor(TCursor cursor) = 0;
    // Restores the cursor of the matching push; the time of that push.
    virtual TDateTime PopCursor() = 0;
};

// ShowStatus for an engine: through Host when it has one, else Text on Status and, at
// a level the log options take (and ToMemo), a dated line in Memo.
void ShowEngineStatus(IEngineHost* host, IStatusControl* status, ILogMemo* memo, const std::string& text,
                      int level, bool toMemo);
