// The sync engine: runs the profiles of one sync document, searching each profile's source
// and destination, comparing every source entry with its destination counterpart and the
// profile's history, and copying, backing up, asking or leaving it by the profile's
// options; afterwards it repeats deletions and records the new history and statistics.
//
// Safety rules of this engine (it works on users' only copies):
// - A profile whose source root is missing, or whose source search could not look at
//   everything, repeats no deletions and keeps its old history; a warning is logged.
// - Automatic runs never delete more than the safety threshold allows: above it the
//   deletions are postponed (their history entries kept) and a warning is logged.
// - Whatever a profile throws, the run goes on with the next profile, and at the end the
//   timer returns to the state it had before the run, so later runs are never refused.
// - Copies go through the owner's temporary-name-then-rename copy; a failed copy never
//   enters the history; a failed backup of a destination stops its overwrite; a move
//   deletes the source only after a complete copy of the same size, and never when the
//   destination is the source itself under another name.
// - A replaced destination and every backup are flushed to the disk before the rename;
//   new files of a pass are flushed together at its end, and a pass whose flush fails
//   records no history.
// - Nothing is copied, backed up, created or deleted through a folder of the destination
//   that is a link (it may lead anywhere); a file that is a link is replaced, not its target.
// - A destination inside its source is no part of the source; in a source inside its
//   destination nothing is copied or deleted.
// - A destination not in the destination search is looked up by its name before it is
//   taken for absent; presence is a flag of its own, never a special date.
// - Size and content comparisons only narrow a decision to copy; they never turn "keep
//   the newer destination" into an overwrite.
#pragma once

#include "sync/SyncDocument.h"
#include "sync/SyncProfile.h"
#include "sync/SyncPrompter.h"

#include "common/DateUtils.h"
#include "common/QNMemIniFile.h"
#include "locations/PlainFolderMap.h"
#include "locations/URLParts.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class TFindFiles;

// Statistics of one profile pass or of a whole run.
struct TSyncStats {
    std::string ProfileOrSync;
    int32_t SearchedFiles = 0;
    int32_t SearchedFolders = 0;
    int64_t SearchedFileSize = 0;
    double SearchedFindTime = 0;
    int32_t SearchedDestFiles = 0;
    int32_t SearchedDestFolders = 0;
    int64_t SearchedDestFileSize = 0;
    double SearchedDestFindTime = 0;
    int32_t FilesSynced = 0;
    int64_t FilesSizeSynced = 0;
    int32_t FilesDeleted = 0;
    int32_t FoldersDeleted = 0;
    int32_t FilesMoved = 0;
    int32_t FoldersMoved = 0;
    int32_t FilesDifferenced = 0;
    int32_t FilesZipped = 0;
    double SyncCompareTime = 0;
    double CopyTime = 0;
    int32_t WarningCount = 0;
    int32_t BackupCount = 0;
    int32_t ContentCompared = 0;
    int32_t SizeDiffered = 0;
    int32_t FoldersCreated = 0;
    int64_t BackupSizeTotal = 0;
    int32_t ErrorCount = 0;
    double TotalSyncTime = 0;
};

// Adds every numeric field of From into To; the text is not touched.
void AddStats(const TSyncStats& from, TSyncStats& to);
// The summary: the title line (ProfileOrSync) and one line per counter.
std::vector<std::string> SyncSummaryLines(const TSyncStats& stats);


// Why a file is copied or deleted.
enum class TSyncReason {
    New,          // the destination is not there
    Changed,      // the dates say the source changed
    Size,         // the sizes differ (a destination cut short keeps its date)
    Content,      // same size, other contents
    Newer,        // the destination is newer and is replaced as the options say
    Link,         // a symbolic link made or changed
    Deleted,      // the source is gone
    BackupOnly,   // nothing copied: only a backup of the destination is made
    Always,       // dates are not compared: every file is copied
};
std::string_view SyncReasonText(TSyncReason reason);

// One change of a run: a copy of Source to Dest, or the deletion of Dest (Source is
// then the history entry that went); BackupFirst when the destination is backed up
// before it is replaced or deleted.
struct TSyncChange {
    bool Deletion = false;
    std::string Source, Dest;
    TSyncReason Reason = TSyncReason::New;
    bool BackupFirst = false;
};

// The clock the engine reads (tests drive it).
class ISyncClock {
public:
    virtual ~ISyncClock() = default;
    virtual TDateTime Now() = 0;
};

// The engine's timer: the window's timer ticks call the automatic pass.
class ISyncTimer {
public:
    virtual ~ISyncTimer() = default;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual void SetInterval(int milliseconds) = 0;
};

// The MS-DOS time of 1980-01-01 00:00, the earliest there is.
inline constexpr uint32_t EarliestDosTime = 0x00210000;

// The next time an AbsoluteTime profile is due (0: always due).
TDateTime NextAbsoluteTime(double interval, TDateTime lastTime);

class TFileSyncMgr {
public:
    // Engine does the searches and file operations; Prompter answers the questions.
    // Clock and Timer may be null (the system clock, no timer).
    TFileSyncMgr(TFindFiles& engine, ISyncPrompter& prompter, ISyncClock* clock = nullptr,
                 ISyncTimer* timer = nullptr);
    ~TFileSyncMgr();
    TFileSyncMgr(const TFileSyncMgr&) = delete;
    TFileSyncMgr& operator=(const TFileSyncMgr&) = delete;

    // The profiles the engine works on (the engine copies of the window's profiles).
    TSyncProfileList Profiles;

    // One run over the profiles whose working options contain every option of Mask
    // ([ManRefresh]: manual; [ManRefresh, BackupIfChanged]: backup refresh, which gives
    // every destination file that has a backup a new one and compares nothing;
    // [AutoDetect]: automatic pass); adds the run's totals into
    // Stats. Returns false when the run was refused (one is already under way, or
    // OnBeforeSync said no).
    bool Sync(TSyncStats& stats, TFileSyncOptions mask);
    // Stops this manager's run (its engine's) after the current file; no other engine's
    // work. The next Sync starts afresh; a program-wide stop (SyncContinue cleared) holds
    // until the program clears it.
    void Cancel();
    bool Running() const { return FRunning; }
    // Takes the timer interval, the automatic-save interval, the backup name pattern and
    // the log settings from the document's options.
    void LoadOptions(const TSyncDocOptions& options);
    // Whether a detection pass found changes that wait for a sync.
    bool HasPendingChanges() const;

    // Automatic passes process no profile before this time.
    TDateTime NotBefore = 0;
    // OnAutoSave is called at the start of a run once this much time (days) has passed
    // since the last automatic save.
    double AutoSaveInterval = 30.0 / 1440;
    // Comment put on the backups of the run.
    std::string BackupComment;
    // Previews before each profile is synced (taken from the document's options by
    // LoadOptions; the window turns them on for one run): the history, or the
    // destination, and the source are written as lists beside the document
    // (DocumentPath + "_<time>_HistFile.txt", ..._DestFile.txt, ..._SourceFile.txt),
    // OnCompareFiles shows the two side by side, and the user is asked "Continue?".
    bool HistoryPreview = false;
    bool DestPreview = false;
    std::string DocumentPath;
    std::function<void(const std::string& first, const std::string& second)> OnCompareFiles;
    bool VerboseLog = false;
    // A manual run in which nobody can answer the question about a large number of
    // deletions (a command line without a terminal) postpones them as automatic runs do:
    // they stay in the history and wait for a run that can ask.
    bool PostponeLargeDeletions = false;

    std::function<bool()> OnBeforeSync;
    std::function<void()> OnAfterSync;
    std::function<void()> OnAutoSave;
    std::function<void()> OnProfilesChanged;
    std::function<void(const TSyncStats&)> OnStats;
    std::function<void(TLogItem level, const std::string& text)> OnLog;
    // A detection pass names each change it counts (TSyncChange).
    std::function<void(const TSyncChange& change)> OnChangeDetected;

    // --- The per-file steps (public so that the run's parts can be driven alone) --------
    struct TDecision {
        bool Copy = false;
        bool BackupDest = false;      // back the destination up, then replace it
        bool BackupOnChange = false;
        bool AlignTime = false;       // same contents, other date: the destination takes the source's
        TSyncReason Reason = TSyncReason::New;
    };
    // Backs File up as a whole copy under its next backup name; returns the name, or empty
    // when no backup was made (not a plain file, counter below MinCounter, or a failure,
    // which is logged and counted).
    std::string BackupFile(const std::string& file, const TFileInfoRec& info,
                           const std::string& comment, int minCounter = 1);

    const TSyncStats& ProfileStats() const { return FStats; }

private:
    struct TEntry;
    struct TPass;
    void ProcessProfile(int index, TSyncStats& stats, TDateTime runStart);
    // One pass over a profile, in these steps: SetupPass (roots, location models, search
    // flags), SearchPass (the source and, beside it, the destination; false when there is
    // nothing to compare), OrderSourceEntries (filter profiles, name order), MatchHistory,
    // the previews, CompareAndCopy (MakeEntry, then SyncFolderEntry or DecideEntry and
    // SyncFile for each entry; false when cancelled), and FinishPass (the deletions, the
    // detection times and RecordHistory).
    void FullScan(int index, TDateTime runStart);
    void SetupPass(TPass& pass);
    bool SearchPass(TPass& pass);
    void OrderSourceEntries(TPass& pass);
    void MatchHistory(TPass& pass);
    bool CompareAndCopy(TPass& pass, bool& flushed);
    // The entry of source line K with its destination and history; false when the line
    // is no entry of the profile (the root, a copy inside the source, an unmappable name).
    bool MakeEntry(const TPass& pass, int k, TEntry& e);
    bool SyncFolderEntry(const TEntry& e);
    // What to do with one file entry.
    TDecision DecideFile(const TEntry& e);
    // Contents decide where dates and sizes cannot: true when the two files hold the same
    // bytes (counted in ContentCompared).
    bool SameContentsCounted(const TEntry& e);
    // A source entry that is a symbolic link: the destination becomes a link with the same
    // target text (never followed). False when it failed (logged).
    bool SyncLinkEntry(const TEntry& e);
    // The destination takes the source's date (same contents).
    void AlignDestTime(const TEntry& e);
    void ReportChange(const TEntry& e, TSyncReason reason, bool backupFirst);
    // Counts a pipe, socket or device of the source; the run names the first and the count
    // once, at its end.
    void NoteSpecialFile(const std::string& name);
    void FinishPass(TPass& pass, bool flushed, TDateTime runStart);
    void RecordHistory(TPass& pass, const std::vector<TEntry>& postponed);
    bool SyncFile(const TEntry& e, const TDecision& d);
    void SyncDeleted(int index, std::vector<TEntry>& postponed);
    // The previews asked for; cancels the run unless the user goes on.
    void Previews(const std::string& line, const TQNStringList& sources, const TQNStringList& sourceInfos,
                  const TQNStringList& dests, const TQNStringList& destInfos);
    // With BackupFileDifferences: the previous version becomes a difference file against
    // the newest one, deleted only once the difference file rebuilds it byte for byte.
    void DifferencePrevious(const std::string& previous, const std::string& newest);
    // Backup refresh: every listed file that has a backup already gets a new one.
    void UpgradeBackups(const TQNStringList& files, const TQNStringList& infos);
    std::string DestName(const std::string& sourceEntry, const TFileInfoRec& info);
    // Flushes the new copies of the pass to the disk; false (an error logged) when that
    // failed, and the pass then records no history.
    bool FlushCopies(const std::string& line);
    // Whether a folder of Dest below the destination root is a link: such a name leads out
    // of the destination and is never written or deleted.
    bool BeyondALink(const std::string& dest);
    // Whether Dest lies in the source folder of a profile whose source is inside its
    // destination: nothing is copied there or deleted there.
    bool IntoTheSource(const std::string& dest) const;
    void Log(TLogItem level, const std::string& text);
    void Warn(const std::string& text);
    void Error(const std::string& text);
    TDateTime Now();

    TFindFiles& FEngine;
    ISyncPrompter& FPrompter;
    ISyncClock* FClock;
    ISyncTimer* FTimer;
    TFMWMemIniFile FWorkStore;
    TFMWMemIniFile FDestStore;  // the destination listing of the current profile pass
    bool FRunning = false;
    TDateTime FLastAutoSave = 0;
    bool FManual = false;
    bool FRefresh = false;  // a backup refresh run
    bool FSyncNow = false;
    bool FDetectOnly = false;
    TFileSyncOptions FOptions;  // working options of the current profile
    TSyncProfile* FProfile = nullptr;
    std::string FSourceRoot, FDestRoot;
    bool FSourceLocal = true, FDestLocal = true;  // local folders (else zip archives)
    std::unique_ptr<TURLParts> FSourceParts, FDestParts;
    TPlainFolderMap FPlainMap;  // the short way of DestName for the current profile
    TSyncStats FStats;
    bool FStatsAdded = false;  // FStats are in the run's totals already
    bool FNotedUnsupported = false;
    int FSpecialFiles = 0;  // pipes, sockets and devices skipped in the run
    std::string FFirstSpecial;
    bool FLogOff = false;
    bool FLogLevels[LogItemCount] = {true, true, true, true, true, true, true};
    // History of the current profile: seen marks; source entries: processed marks.
    std::vector<bool> FHistorySeen;
    std::vector<bool> FProcessed;
    // Folders of the current pass's destination looked at by BeyondALink: whether a link.
    std::unordered_map<std::string, bool> FLinkFolders;
};
