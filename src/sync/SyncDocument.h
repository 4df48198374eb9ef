// Sync documents (".fmw", also ".qns"): an ordered list of profiles with the document
// options, the log and the statistics log, kept in one sectioned settings file.
//
// Sections (profile index i counts from 0 in list order; a double quote is part of a
// section name):
//
//   Options                       document options, key=value
//   Profiles                      the profile lines, in order
//   Profile-i                     Option=<508 hex digits>, FilterRegularExpression=…,
//                                 TextInFileRegularExpression=…
//   Profile-i-Files               HistoryFiles
//   Profile-i-Files"FileInfo      HistoryFileInfo
//   Profile-i-Files"Stats         HistoryStats
//   Profile-i-FTPSourceLoginInfo  FTPSourceLoginInfo
//   Profile-i-FTPDestLoginInfo    FTPDestLoginInfo
//   Log                           the lines of the window's log
//   LogStats                      statistics rows, cells joined by "; "
//
// The whole file is regenerated on every save, from the profiles, the log, the
// statistics and the "Options" section of the document store (keys the program does not
// know are kept). A save is crash-safe: the new text goes to a temporary file beside the
// document and is flushed; only then does the previous document become "<name>.bak" (a
// second name for the same file, so the document's own name never goes missing), and the
// temporary file is renamed over the document. At every moment the document's name holds
// either the old or the new document, whole. The ".bak" always holds the version before
// the latest save: the only other copy of every profile's history.
//
// A document written by an older version is upgraded on loading, step by step (see
// SyncUpgrade.h); the program then says so, and the next save writes the current layout.
#pragma once

#include "common/QNMemIniFile.h"
#include "common/QNStringList.h"
#include "sync/SyncProfile.h"
#include "sync/SyncLayout.h"
#include "sync/SyncPrompter.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TCustomIniFile;
class TLocationOwner;

// The version this program writes into "Options"/"Version". Versions compare as plain
// byte strings, so it keeps the form "d.dd" (one digit before the point) and stays above
// every upgrade threshold.
inline constexpr std::string_view FMWVersion = "3.40";
inline constexpr std::string_view FMWProductName = "File Mirrowyn";
// "Version" of a document that has none.
inline constexpr std::string_view FMWOldestVersion = "1.00";

// Log levels of the sync tool.
enum TLogItem : int {
    liNothing,
    liFileCopied,
    liFileBackedUp,
    liFileDeleted,
    liInformation,
    liWarning,
    liError,
};
inline constexpr int LogItemCount = 7;
// The level's name without its "li" prefix ("FileCopied"); its option key is "Log" + name.
std::string_view LogItemName(TLogItem item);

// --- Document options ----------------------------------------------------------------------


// The options this subsystem reads, with their defaults.
struct TSyncDocOptions {
    std::string Version{FMWOldestVersion};
    int TimerInterval = 1;                // seconds
    double AutoSaveInterval = 1.0 / 48;   // days
    std::string BackupLabel = "$File Backup ($Ctr)$Ext";
    bool TurnOffLogging = false;
    bool ClearLogAfterSaving = true;
    int MaxLogLinesBeforeSaving = 1000;
    double SaveLogTimeOfDay = 0.5;        // 12:00
    int SaveLogDayOfWeek = 0;             // 0 … 6
    bool SaveLogDaily = false;
    bool DontSaveLog = false;
    bool SaveLogWeekly = true;
    bool LogLevels[LogItemCount] = {true, true, true, true, true, true, true};
    bool HintsOn = true;
    bool NewVersionNotification = true;
    std::string LastDirectory;            // an existing folder (the home folder by default)
    bool StartupProgramIcons = true;
    bool FileComparePreview = false;      // "On"/"Off", set by the window for one run
    bool FileCompareHistoryPreview = false;
    bool FileCompareMoveRenamePreview = false;
};
// Reads the "Options" section. Doubles are 16 hexadecimal digits of their 8 bytes in
// memory order (little endian); a value that does not decode gives the default.
// "LastDirectory" that is not an existing folder gives the user's home folder (the stored
// default "c:" names no folder here).
TSyncDocOptions ReadSyncDocOptions(const TMemIniFile& store);
double ReadHexDouble(const TMemIniFile& store, std::string_view section, std::string_view key,
                     double def);
void WriteHexDouble(TMemIniFile& store, std::string_view section, std::string_view key,
                    double value);

// --- Profiles in a store -------------------------------------------------------------------

// Writes profile i: its section (the three keys) and its five list sections, all of them
// even when empty.
void WriteProfileToStore(TQNMemIniFile& store, int i, const TSyncProfile& profile);
// Reads profile i (missing sections and keys read as empty; a missing or short "Option"
// value as zero bytes). Returns false when the "Option" value was unreadable. The lists of
// the profile's sections move out of the store, which keeps those sections empty (a save
// writes them anew from the profiles).
bool ReadProfileFromStore(TMemIniFile& store, int i, TSyncProfile& profile);
// Every profile, then the "Profiles" section. A profile with an EngineCopy is written from
// the copy (where the engine keeps history and run state) after the user's settings were
// copied into it, so neither the history nor the latest edits are lost.
void SaveProfilesToStore(TQNMemIniFile& store, TSyncProfileList& profiles);
// Replaces Profiles by the lines of "Profiles", each with a profile (and EngineCopy, a
// full copy) read from its sections, whose lists move out of the store.
void LoadProfilesFromStore(TMemIniFile& store, TSyncProfileList& profiles);

// --- Saving --------------------------------------------------------------------------------

// The stages of a document write, for tests that check the file between them.
enum class TDocWriteStage { NewWritten, BackupMade, Replaced };
using TDocWriteProbe = std::function<void(TDocWriteStage stage)>;
// Writes Data as the document Path, keeping the previous document as Path + ".bak"
// (see the top of this header). Raises EFileError when it fails; the document is then
// unchanged and no temporary file is left.
void WriteDocumentFile(const std::string& path, std::string_view data,
                       const TDocWriteProbe& probe = {});

// --- The document --------------------------------------------------------------------------

class TSyncDocument {
public:
    // Prompter answers every question and shows every message. Settings (the
    // application's registry settings) receive "File Mirrowyn"/"LastFile"; null records
    // nothing. AppVersion is what "Options"/"Version" is compared with and written as.
    explicit TSyncDocument(ISyncPrompter& prompter, TCustomIniFile* settings = nullptr,
                           std::string appVersion = std::string(FMWVersion));
    TSyncDocument(const TSyncDocument&) = delete;
    TSyncDocument& operator=(const TSyncDocument&) = delete;

    // The open document in memory (the engine's DocumentStore). Its "Options" section is
    // the live document options.
    TFMWMemIniFile& DocumentStore() { return FStore; }
    TSyncProfileList& Profiles() { return FProfiles; }
    TQNStringList& Log() { return FLog; }
    TQNStringList& LogStats() { return FLogStats; }
    TSyncDocOptions Options() const { return ReadSyncDocOptions(FStore); }

    // The program that runs the document (its diagnostic log and busy cursor); none by
    // default.
    void SetHost(IEngineHost* host) { FHost = host; }
    const std::string& FileName() const { return FFileName; }
    bool Modified() const { return FModified; }
    // A document named on the command line is not recorded as "LastFile".
    bool FromCommandLine = false;
    // Called whenever the document's name changes (log file and preview file names
    // follow it).
    std::function<void(const std::string& fileName)> OnFileNameChanged;

    // Marks the document modified; an untitled document asks for a file name at once
    // (SaveFile).
    void MarkModified();

    // Loads Path (empty: an untitled new document). A missing file gives a new document
    // under that name, with CurrentOptions (null: the default options) and the current
    // version. A document of a newer version is opened only when the user agrees;
    // otherwise an untitled new document is loaded and false returned. Raises EFileError
    // when the file exists but cannot be read; the open document is then unchanged.
    bool LoadFile(const std::string& path, const TQNStringList* currentOptions = nullptr);
    // The thresholds of the upgrade steps the last LoadFile ran, in order.
    const std::vector<std::string>& UpgradeStepsRun() const { return FStepsRun; }

    // Saves under the document's name (an untitled document asks for one first). A
    // failing write says so, with the system's reason, and offers Save As (from the
    // command line it only keeps the reason). True when the document was saved.
    bool SaveFile();
    // Why the last save failed (empty after a good one).
    const std::string& LastSaveError() const { return FLastSaveError; }
    // Asks for a new name, then saves under it. False when cancelled.
    bool SaveAs();
    // Before switching documents: asks "Do you wish to save changes…?" when modified.
    // True when the caller may go on (saved, or No); false for Cancel or a failed save.
    bool QuerySaveChanges();
    // Asks to save changes, then loads an untitled empty document and marks it modified,
    // which asks for its file name. False when the question was cancelled.
    bool New();

    // The dialogs of Save As and Open.
    TSyncFileDialog SaveDialog() const;
    TSyncFileDialog OpenDialog() const;

    // --- Editing profiles ------------------------------------------------------------------
    // The trimmed Text becomes the source of each profile in Selected in turn (the line is
    // text + " -> " + its destination); stops after the first profile whose source check
    // fails. Returns false when a check failed. Owner: whose location objects check the
    // source (null: the program-wide owner).
    bool SetSource(const std::vector<int>& selected, std::string_view text,
                   TLocationOwner* owner = nullptr);
    // The trimmed Text becomes the destination of each profile in Selected, after the
    // destination checks; stops after the first profile whose destination is reported
    // as improper. Returns false then.
    bool SetDest(const std::vector<int>& selected, std::string_view text,
                 TLocationOwner* owner = nullptr);
    // A new profile for a dropped file or folder location (empty destination), appended;
    // the source check runs on it. Returns its index.
    int AddDroppedProfile(const std::string& location, bool folder,
                          TLocationOwner* owner = nullptr);

private:
    void SetFileName(const std::string& fileName);
    void NewDocument(const TQNStringList* currentOptions);
    void FillFromStore();
    bool WriteUnder(std::string path);
    std::string AskSaveName();
    void RecordLastFile();
    bool CheckSource(const std::string& source, TLocationOwner* owner);
    void CheckSameFolders(int index);

    ISyncPrompter& FPrompter;
    TCustomIniFile* FSettings;
    std::string FAppVersion;
    TFMWMemIniFile FStore;
    TSyncProfileList FProfiles;
    TQNStringList FLog;
    TQNStringList FLogStats;
    std::string FFileName;
    bool FModified = false;
    IEngineHost* FHost = nullptr;
    bool FSaving = false;
    std::vector<std::string> FStepsRun;
    std::string FLastSaveError;
};
