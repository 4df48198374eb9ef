// What location objects need of the engine that owns them, and the file operations
// built on it.
//
// Every location object belongs to one owner. The owner supplies the store in which
// folder listings are cached, a private temporary folder, two progress gauges, the
// status line and log, the cancel flag and two look-ups (one entry's information, the
// entries that match a mask). The search engine is the owner the program uses; the
// simple owner below serves tests and the command line.
//
// The file operations (block copy with progress, folder creation, folder deletion,
// move, copy, list deletion, removal of empty folders, folder listing) are members of
// the owner, so every engine derived from it offers them. Long operations poll
// Continue() between steps and leave nothing half-written when it turns false.
#pragma once

#include "locations/BackupPattern.h"
#include "locations/URLParts.h"

#include "common/DateUtils.h"
#include "common/QNMemIniFile.h"
#include "common/QNStringList.h"

#include <atomic>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

class IEngineHost;
class ILogMemo;
class IStatusControl;
class TQNZipMaster;

// A progress gauge with a stack of nested ranges.
class ILocationGauge {
public:
    virtual ~ILocationGauge() = default;
    // Pushes a range 0..Maximum at Progress and shows the gauge.
    virtual void PushRange(int64_t maximum, int64_t progress) = 0;
    // Restores the previous range, or hides the gauge when none is left.
    virtual void PopRange() = 0;
    virtual void AddProgress(int64_t delta) = 0;
};

// Pushes a gauge range for the life of the object.
class TGaugeRange {
public:
    TGaugeRange(ILocationGauge* gauge, int64_t maximum) : FGauge(gauge) {
        if (FGauge) FGauge->PushRange(maximum, 0);
    }
    ~TGaugeRange() {
        if (FGauge) FGauge->PopRange();
    }
    TGaugeRange(const TGaugeRange&) = delete;
    TGaugeRange& operator=(const TGaugeRange&) = delete;
    void Step() {
        if (FGauge) FGauge->AddProgress(1);
    }

private:
    ILocationGauge* FGauge;
};

// Copy blocks of this many bytes.
inline constexpr int64_t CopyBlockSize = 1048576;

class TLocationOwner {
public:
    TLocationOwner();
    virtual ~TLocationOwner();
    TLocationOwner(const TLocationOwner&) = delete;
    TLocationOwner& operator=(const TLocationOwner&) = delete;

    // --- Resources -----------------------------------------------------------------------
    // The store in which folder listings are cached.
    virtual TQNMemIniFile& CurrentStore() = 0;
    // The private temporary folder, with a trailing "/", created on first use.
    virtual std::string TempFolder() = 0;
    virtual ILocationGauge* MainGauge() { return nullptr; }  // a step per entry
    virtual ILocationGauge* CopyGauge() { return nullptr; }  // a step per copied block
    // Shows Text in the status line; with ToMemo also logs it at Level (the log keeps it
    // when the level is enabled or verbose logging is on).
    virtual void ShowStatus(const std::string& text, int level, bool toMemo) = 0;
    // False once work is to stop: this owner's run was cancelled, or the program is
    // stopping (the program-wide SyncContinue, cleared by a signal or by closing).
    virtual bool Continue();
    // The cancel state of this owner's run: Cancel stops its long work until Resume, and
    // touches no other owner's work. Any thread.
    void Cancel() { FCancelled.store(true); }
    void Resume() { FCancelled.store(false); }
    bool Cancelled() const { return FCancelled.load(); }
    // Lets pending window messages run; called between steps when SyncProcessMessages is set.
    virtual void ProcessMessages() {}
    // The local time that <dtn:> tags show.
    virtual TDateTime CurrentTime() { return Now(); }
    // The information record of one file location; false (Info zero) when there is none.
    // Folders are not found. The default looks local files up directly.
    virtual bool FindOne(const std::string& location, TFileInfoRec& info);
    // Whether a file or folder exists at Location (a counter tag takes the first number
    // whose location is free). The default asks the location's kind; for local paths it
    // never follows a final symbolic link.
    virtual bool EntryExists(const std::string& location);
    // The entries that Location names: a folder location whose name holds masks joined
    // with "|" (matched ignoring case, or equal to the name), searched without recursion
    // and without folders. The result goes into the section ResultName of Store, with
    // the companions "FileInfo and "Comment; when Store is null into a private store of
    // the owner, so no store that another caller uses is cleared. Returns the section of
    // locations. The default lists local folders; the search engine runs its search.
    virtual const TQNStringList& FindEntries(const std::string& location,
                                             const std::string& resultName,
                                             TQNMemIniFile* store);
    // The pattern of the owner's backup names (BackupFileParts.h).
    TBackupPattern& BackupPattern() { return FBackupPattern; }
    // The owner's zip component, which every zip location of the owner uses, so one
    // object's write is seen by the next object's listing.
    TQNZipMaster& ZipMaster();

    // --- File operations -----------------------------------------------------------------
    // Empties Dest, then copies Source from its position to its end in blocks of 1 MiB.
    // Info.Size (or the stream's size when it is 0) only scales the copy gauge: a source
    // that grew or shrank since it was listed is still copied whole. With at least one
    // whole block the gauge gets that count plus one and Message is shown (level 4, not
    // logged). Between blocks pending messages run (when asked) and Continue() is polled.
    // Both streams end at position 0. True when the end of Source was reached.
    bool CopyStreamWithProgress(TStream& source, TStream& dest, const TFileInfoRec& info,
                                const std::string& message);
    // Creates the missing folders of Path, prefix by prefix; with Log each one created is
    // counted and logged "Created Directory <prefix>" (level 4, memo). Returns the count;
    // a folder that cannot be made raises EFileError with the system's reason.
    int ForceFoldersLogged(const std::string& path, bool log);
    // Removes the folder when it is empty (never through a symbolic link); logs "Deleted
    // directory <path>" (level 3) when Verbose or VerboseLog.
    bool DeleteFolder(const std::string& path, bool verbose);
    // Moves a file or folder. A file replaces an existing Dest atomically; across file
    // systems it is copied beside Dest, renamed into place, compared with the source and
    // only then is the source deleted. A folder never replaces anything.
    void MoveLocation(const std::string& source, const std::string& dest, TCopyResult& result,
                      int verbose);
    // Copies Source to Dest (any kinds) with Info as the record to apply; logs "Copied"
    // (or "Backed up" for Mode 2) at level Mode, into the memo when Mode is not 0.
    void CopyLocation(const std::string& source, const std::string& dest, TCopyResult& result,
                      int mode, const TFileInfoRec& info);
    // Deletes the locations in order (files count in Result.Files); with DeleteFolders
    // then removes the folders involved that are empty, deepest first (counted in
    // Result.CreatedFolders). Stops at once, without the folder pass, when Continue()
    // turns false.
    void DeleteList(const TQNStringList& locations, bool deleteFolders, TCopyResult& result,
                    bool verbose, bool quiet);
    // Removes every empty folder of the tree below Path, deepest first (with IncludeSelf
    // also Path itself). Symbolic links are never followed and files never deleted.
    // Store's section "DirectoryListing" (CurrentStore() when Store is null) receives the
    // folders of the tree. Returns the number removed.
    int RemoveEmptyFolders(const std::string& path, TQNMemIniFile* store, bool includeSelf);
    // Lists Folder (see DirectoryParts.h for the rules) into the lists; every list but
    // Names may be null. Comments come from the per-file notes (TNotesIniFile) in the
    // folder; folders have none. Returns the number of names.
    int ListFolder(const std::string& mask, const std::string& folder, bool fullPaths,
                   TQNStringList* comments, TQNStringList* stats, TQNStringList* infos,
                   TQNStringList& names);
    // Whether both entries can be read and hold the same bytes.
    bool CompareContents(TParts& a, TParts& b);

    // --- Durability of local writes --------------------------------------------------------
    // A local write is durable when it returns: the new data is flushed to the disk before
    // it is renamed over the target, then the folder is flushed. While flushes are
    // deferred, a write that creates a file (nothing was at the target) is renamed into
    // place without them, and so is the folder of any write; FlushDeferredWrites then
    // flushes each file system written to once. A write that replaces a file still flushes
    // its data before the rename, so the old version is never lost. Whoever defers flushes
    // before relying on the new files (recording them, deleting their sources); the owner
    // flushes whatever is left when it goes.
    bool DeferFlushes() const { return FDeferFlushes; }
    void SetDeferFlushes(bool defer) { FDeferFlushes = defer; }
    // For writes: the file system of Fd (Device) is flushed by FlushDeferredWrites.
    void NoteDeferredFlush(int fd, dev_t device);
    // Flushes every file system noted since the last call; false when one of the flushes
    // failed (the files written since may not be on the disk).
    bool FlushDeferredWrites();

    // The program that runs this owner's work: status and log lines go through it. None by
    // default (the command line, tests): then they go to the owner's own controls.
    void SetHost(IEngineHost* host) { FHost = host; }
    IEngineHost* Host() const { return FHost; }

protected:
    // Runs pending messages when SyncProcessMessages is set; returns Continue().
    bool StepAllowed();
    // A store of the owner's own for look-ups, emptied before each use.
    TFMWMemIniFile& LookupStore();

private:
    TBackupPattern FBackupPattern;
    std::unique_ptr<TFMWMemIniFile> FLookupStore;
    std::unique_ptr<TQNZipMaster> FZipMaster;
    bool FDeferFlushes = false;
    // One open descriptor per file system with deferred flushes.
    std::vector<std::pair<dev_t, int>> FFlushHandles;
    IEngineHost* FHost = nullptr;
    std::atomic<bool> FCancelled{false};
};

// Sets whether the owner defers flushes for the life of the object, then restores the
// previous setting (the flush itself is left to the caller).
class TDeferFlushesScope {
public:
    TDeferFlushesScope(TLocationOwner& owner, bool defer)
        : FOwner(owner), FOld(owner.DeferFlushes()) {
        owner.SetDeferFlushes(defer);
    }
    ~TDeferFlushesScope() { FOwner.SetDeferFlushes(FOld); }
    TDeferFlushesScope(const TDeferFlushesScope&) = delete;
    TDeferFlushesScope& operator=(const TDeferFlushesScope&) = delete;

private:
    TLocationOwner& FOwner;
    bool FOld;
};

// A message the simple owner received.
struct TOwnerMessage {
    std::string Text;
    int Level;
    bool ToMemo;
};

// An owner for tests and the command line: its own result store, a temporary folder
// that it creates on demand and removes with everything in it, optional gauges, status
// line and memo, a cancel switch, and a record of every message.
class TSimpleLocationOwner : public TLocationOwner {
public:
    // TempRoot: where the temporary folder is made; empty for the user's cache folder.
    explicit TSimpleLocationOwner(std::string tempRoot = {});
    ~TSimpleLocationOwner() override;

    TQNMemIniFile& CurrentStore() override { return *FStore; }
    std::string TempFolder() override;
    ILocationGauge* MainGauge() override { return FMainGauge; }
    ILocationGauge* CopyGauge() override { return FCopyGauge; }
    void ShowStatus(const std::string& text, int level, bool toMemo) override;
    TDateTime CurrentTime() override;

    TFMWMemIniFile& ResultStore() { return FResultStore; }
    // Null restores the own result store.
    void SetCurrentStore(TQNMemIniFile* store) { FStore = store ? store : &FResultStore; }
    void SetGauges(ILocationGauge* mainGauge, ILocationGauge* copyGauge) {
        FMainGauge = mainGauge;
        FCopyGauge = copyGauge;
    }
    void SetLogTargets(IStatusControl* status, ILogMemo* memo) {
        FStatus = status;
        FMemo = memo;
    }
    // Pins the time <dtn:> tags show (0 returns to the clock).
    void SetFixedTime(TDateTime t) { FFixedTime = t; }

    const std::vector<TOwnerMessage>& Messages() const { return FMessages; }
    // Whether a message containing Text was logged into the memo.
    bool Logged(std::string_view text) const;
    void ClearMessages() { FMessages.clear(); }

private:
    std::string FTempRoot;
    std::string FTempFolder;
    TFMWMemIniFile FResultStore;
    TQNMemIniFile* FStore = &FResultStore;
    ILocationGauge* FMainGauge = nullptr;
    ILocationGauge* FCopyGauge = nullptr;
    IStatusControl* FStatus = nullptr;
    ILogMemo* FMemo = nullptr;
    TDateTime FFixedTime = 0;
    std::vector<TOwnerMessage> FMessages;
};

// Makes a new private temporary folder below Root (missing levels of Root are made with
// mode 0700): Root + "/" + the local time "yyyymmddhhnnsszzz" + "-" + six random
// characters, mode 0700, never shared with another caller. Returns it with a trailing
// "/"; raises EFileError when it cannot be made.
std::string MakePrivateTempFolder(const std::string& root);

// The program-wide owner that objects created without one use: the one registered with
// SetDefaultLocationOwner (the program-wide search engine), else a simple owner made on
// first use.
TLocationOwner* DefaultLocationOwner();
void SetDefaultLocationOwner(TLocationOwner* owner);
