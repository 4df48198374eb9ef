#include "sync/FileSyncMgr.h"
#include "sync/SyncPreview.h"

#include "diff/DiffMgr.h"
#include "search/FindFiles.h"
#include "sync/SyncDocument.h"

#include "common/SafeFile.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"
#include "locations/BackupFileParts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using O = TFileSyncOption;

// --- Statistics ----------------------------------------------------------------------------

void AddStats(const TSyncStats& f, TSyncStats& t) {
    t.SearchedFiles += f.SearchedFiles;
    t.SearchedFolders += f.SearchedFolders;
    t.SearchedFileSize += f.SearchedFileSize;
    t.SearchedFindTime += f.SearchedFindTime;
    t.SearchedDestFiles += f.SearchedDestFiles;
    t.SearchedDestFolders += f.SearchedDestFolders;
    t.SearchedDestFileSize += f.SearchedDestFileSize;
    t.SearchedDestFindTime += f.SearchedDestFindTime;
    t.FilesSynced += f.FilesSynced;
    t.FilesSizeSynced += f.FilesSizeSynced;
    t.FilesDeleted += f.FilesDeleted;
    t.FoldersDeleted += f.FoldersDeleted;
    t.FilesMoved += f.FilesMoved;
    t.FoldersMoved += f.FoldersMoved;
    t.FilesDifferenced += f.FilesDifferenced;
    t.FilesZipped += f.FilesZipped;
    t.SyncCompareTime += f.SyncCompareTime;
    t.CopyTime += f.CopyTime;
    t.WarningCount += f.WarningCount;
    t.BackupCount += f.BackupCount;
    t.ContentCompared += f.ContentCompared;
    t.SizeDiffered += f.SizeDiffered;
    t.FoldersCreated += f.FoldersCreated;
    t.BackupSizeTotal += f.BackupSizeTotal;
    t.ErrorCount += f.ErrorCount;
    t.TotalSyncTime += f.TotalSyncTime;
}

std::vector<std::string> SyncSummaryLines(const TSyncStats& s) {
    auto n = [](int64_t v) { return std::to_string(v); };
    return {
        s.ProfileOrSync,
        n(s.SearchedFiles) + " source file(s) searched.  ",
        n(s.SearchedFolders) + " source folder(s) searched.  ",
        FormatSize(s.SearchedFileSize) + " source filesize searched.  ",
        n(s.SearchedDestFiles) + " destination file(s) searched.  ",
        n(s.SearchedDestFolders) + " destination folder(s) searched.",
        FormatSize(s.SearchedDestFileSize) + " destination filesize searched.",
        n(s.FilesSynced) + " file(s) synced.",
        FormatSize(s.FilesSizeSynced) + " filesize synced.",
        n(s.FilesDeleted) + " file(s) deleted.",
        n(s.FoldersDeleted) + " folders(s) deleted.",
        n(s.FilesMoved) + " file(s) moved.",
        n(s.FoldersMoved) + " folders(s) moved.",
        n(s.FilesDifferenced) + " file(s) differenced.",
        n(s.FilesZipped) + " file(s) zipped.",
        n(s.WarningCount) + " warning(s) encountered.",
        n(s.BackupCount) + " file(s) backed up.",
        n(s.FoldersCreated) + " folders created.",
        FormatSize(s.BackupSizeTotal) + " filesize backed up.",
        n(s.ErrorCount) + " error(s) encountered.",
    };
}

TDateTime NextAbsoluteTime(double interval, TDateTime lastTime) {
    if (!(interval > 0)) return 0;
    double days = std::floor(interval);
    double timePart = interval - days;
    int seconds = static_cast<int>(std::lround(timePart * 86400));
    int h = seconds / 3600, m = (seconds / 60) % 60;
    double lastDay = std::floor(lastTime);
    int lastSeconds = static_cast<int>(std::lround((lastTime - lastDay) * 86400));
    int H = lastSeconds / 3600, M = (lastSeconds / 60) % 60;
    if (days > 0) return lastDay + interval;
    if (h > 0) return lastDay + H / 24.0 + interval;
    if (m > 0) return lastDay + H / 24.0 + M / 1440.0 + interval;
    return 0;
}

std::string_view SyncReasonText(TSyncReason reason) {
    switch (reason) {
        case TSyncReason::New: return "new";
        case TSyncReason::Changed: return "changed";
        case TSyncReason::Size: return "size";
        case TSyncReason::Content: return "content";
        case TSyncReason::Newer: return "newer destination";
        case TSyncReason::Link: return "link";
        case TSyncReason::Deleted: return "deleted";
        case TSyncReason::BackupOnly: return "backup";
        case TSyncReason::Always: return "dates not compared";
    }
    return "changed";
}

// --- The engine ----------------------------------------------------------------------------

struct TFileSyncMgr::TEntry {
    int SourceIndex = -1;
    std::string Source;
    TFileInfoRec SourceInfo;
    std::string Dest;
    TFileInfoRec DestInfo;
    bool DestExists = false;  // the destination is really there
    int HistoryIndex = -1;  // the entry's line in the profile's history, or -1
    // The source's record at the last completed sync; without one, the source's own
    // record when the names differ (nothing is known to have changed), else the earliest
    // time.
    TFileInfoRec History;
    TFileInfoRec HistoryInfo;  // as stored (zero without one), for the verbose log
    // With a phantom destination: the real destination's record, when it is there.
    bool OnDisk = false;
    TFileInfoRec DiskInfo;
};

namespace {

constexpr double MillisecondsPerDay = 86400000.0;

TFileInfoRec InfoAt(const TQNStringList& infos, int i) {
    if (i < 0 || i >= infos.Count()) return {};
    return TFileInfoRec::FromHex(infos[i]).value_or(TFileInfoRec{});
}

int64_t StatValue(const TQNStringList& stats, const char* name) {
    return TryStrToInt64(stats.Values(name)).value_or(0);
}

bool HasWildcardOrTag(std::string_view s) {
    return s.find_first_of("*?<") != std::string_view::npos;
}

// An engine that searches on another thread: its messages wait until the thread that
// started it passes them on.
class TBesideEngine : public TFindFiles {
public:
    // Run: the engine whose run this search is part of; its cancel stops this one too.
    explicit TBesideEngine(const TLocationOwner& run) : FRun(run) {}
    bool Continue() override { return !FRun.Cancelled() && TFindFiles::Continue(); }
    void ShowStatus(const std::string& text, int level, bool toMemo) override {
        if (toMemo) FMessages.push_back({text, level});
    }
    void PassMessagesTo(TLocationOwner& owner) {
        for (const auto& [text, level] : FMessages) owner.ShowStatus(text, level, true);
        FMessages.clear();
    }

private:
    const TLocationOwner& FRun;
    std::vector<std::pair<std::string, int>> FMessages;
};

// The folder a destination names, with a trailing "/".
std::string DestRootFolder(const std::string& dest) {
    if (HasWildcardOrTag(dest)) return SyncRootFolder(dest);
    if (!dest.empty() && dest.back() != '/') return dest + "/";
    return dest;
}

// A name for messages: control characters shown as "\xNN", so that a name never breaks
// a log line.
std::string ShownName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

class TSystemClock : public ISyncClock {
public:
    TDateTime Now() override { return ::Now(); }
};

}  // namespace

TFileSyncMgr::TFileSyncMgr(TFindFiles& engine, ISyncPrompter& prompter, ISyncClock* clock,
                           ISyncTimer* timer)
    : FEngine(engine), FPrompter(prompter), FClock(clock), FTimer(timer) {
    FLastAutoSave = Now();
    NotBefore = FLastAutoSave + 5.0 / 1440;
}

TFileSyncMgr::~TFileSyncMgr() = default;

bool TFileSyncMgr::HasPendingChanges() const {
    int64_t total = 0;
    for (int i = 0; i < Profiles.Count(); ++i) total += Profiles.Profile(i).ChangeCount;
    return total > 0;
}

TDateTime TFileSyncMgr::Now() {
    if (FClock) return FClock->Now();
    return ::Now();
}

void TFileSyncMgr::Previews(const std::string& line, const TQNStringList& sources,
                            const TQNStringList& sourceInfos, const TQNStringList& dests,
                            const TQNStringList& destInfos) {
    const TSyncProfile& p = *FProfile;
    const TDateTime time = Now();
    if (DocumentPath.empty()) {  // the lists are kept beside the document
        Error("A preview needs a saved document: profile " + line + " was not synced.");
        FEngine.Cancel();
        return;
    }
    const std::string& base = DocumentPath;
    struct TPreview {
        bool Wanted;
        const char* Kind;
        const char* Status;
        const TQNStringList& Names;
        const TQNStringList& Infos;
        const std::string& Root;
    } previews[] = {
        {HistoryPreview, "Hist", "History", p.HistoryFiles, p.HistoryFileInfo, FSourceRoot},
        {DestPreview, "Dest", "Dest", dests, destInfos, FDestRoot},
    };
    const std::string sourceFile = PreviewFileName(base, time, "Source");
    bool sourceWritten = false;
    for (const TPreview& v : previews) {
        if (!v.Wanted || !FEngine.Continue()) continue;
        const std::string otherFile = PreviewFileName(base, time, v.Kind);
        try {
            if (!sourceWritten) {
                FPrompter.ShowStatus("Creating File Comparison Preview Lists...Source...please wait...");
                WritePreviewList(sourceFile, sources, sourceInfos, FSourceRoot, line);
                sourceWritten = true;
            }
            FPrompter.ShowStatus(std::string("Creating File Comparison Preview Lists...") + v.Status +
                                 "...please wait...");
            WritePreviewList(otherFile, v.Names, v.Infos, v.Root, line);
        } catch (const std::exception& e) {
            // Without the preview the user asked for, nothing is synced.
            Error("Error creating the preview " + otherFile + ": " + e.what());
            FEngine.Cancel();
            return;
        }
        if (OnCompareFiles) OnCompareFiles(otherFile, sourceFile);
        if (FPrompter.Ask(TSyncQuestion::PreviewContinue, "Continue?", TMsgDlgType::mtConfirmation,
                                 {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel}) != TMsgDlgBtn::mbOK)
            FEngine.Cancel();
    }
}

void TFileSyncMgr::Cancel() { FEngine.Cancel(); }

void TFileSyncMgr::LoadOptions(const TSyncDocOptions& options) {
    AutoSaveInterval = options.AutoSaveInterval;
    HistoryPreview = options.FileCompareHistoryPreview;
    DestPreview = options.FileComparePreview;
    if (FTimer) FTimer->SetInterval(options.TimerInterval * 1000);
    FEngine.SetBackupPattern(options.BackupLabel);
    FLogOff = options.TurnOffLogging;
    for (int i = 0; i < LogItemCount; ++i) FLogLevels[i] = options.LogLevels[i];
}

void TFileSyncMgr::Log(TLogItem level, const std::string& text) {
    const bool enabled = !FLogOff && int(level) >= 0 && int(level) < LogItemCount && FLogLevels[int(level)];
    if (OnLog && (enabled || VerboseLog)) OnLog(level, text);
}

void TFileSyncMgr::Warn(const std::string& text) {
    Log(liWarning, text);
    FStats.WarningCount++;
}

void TFileSyncMgr::Error(const std::string& text) {
    Log(liError, text);
    FStats.ErrorCount++;
}

bool TFileSyncMgr::Sync(TSyncStats& stats, TFileSyncOptions mask) {
    if (FRunning) return false;
    if (OnBeforeSync && !OnBeforeSync()) return false;
    if (Now() >= FLastAutoSave + AutoSaveInterval) {
        FLastAutoSave = Now();
        if (OnAutoSave) OnAutoSave();
    }

    // Whatever happens below, the engine ends idle with its timer as it was.
    struct TRunGuard {
        TFileSyncMgr& M;
        bool TimerWasEnabled;
        ~TRunGuard() {
            M.FRunning = false;
            M.FProfile = nullptr;
            M.FWorkStore.Clear();
            M.FDestStore.Clear();
            if (M.FTimer) M.FTimer->SetEnabled(TimerWasEnabled);
        }
    } guard{*this, FTimer && FTimer->Enabled()};
    FRunning = true;
    if (FTimer) FTimer->SetEnabled(false);

    FManual = mask.Contains(O::ManRefresh);
    FRefresh = mask.Contains(O::BackupIfChanged);
    FNotedUnsupported = false;
    FSpecialFiles = 0;
    FFirstSpecial.clear();
    FEngine.Resume();  // a new run; a program-wide stop still holds
    if (FManual) NotBefore = 0;
    FWorkStore.Clear();
    FDestStore.Clear();
    const TDateTime runStart = Now();

    for (int i = 0; i < Profiles.Count() && FEngine.Continue(); ++i) {
        TSyncProfile& profile = Profiles.Profile(i);
        FOptions = profile.Options;
        if (FOptions.Contains(O::FilterPreviousProfile) || ProfileDest(Profiles.Line(i)).empty())
            continue;
        if (FOptions.Contains(O::AutoRefresh)) FOptions.Include(O::AutoDetect);
        if (FOptions.ContainsAll(mask)) {
            FProfile = &profile;
            FStats = TSyncStats();
            FStatsAdded = false;
            try {
                ProcessProfile(i, stats, runStart);
            } catch (const std::exception& e) {
                // The profile keeps its history; the others still run (unless the user
                // cancelled).
                Error("Error encountered in profile " + std::to_string(i + 1) + ": " + e.what());
                if (FStatsAdded)
                    stats.ErrorCount++;
                else
                    AddStats(FStats, stats);
            }
            FProfile = nullptr;
        }
        profile.Options = FOptions;
    }

    if (FSpecialFiles > 0)
        Log(liInformation, "Notice: " + std::to_string(FSpecialFiles) +
                               " pipe(s), socket(s) or device(s) skipped, the first " +
                               ShownName(FFirstSpecial) + ": only files, folders and links are synced.");
    if (OnProfilesChanged) OnProfilesChanged();
    if (stats.SearchedFiles > 0) {
        stats.ProfileOrSync = FManual ? "Manual Sync Summary" : "Auto Sync Summary";
        if (OnStats && (stats.FilesSynced > 0 || FManual)) OnStats(stats);
    }
    if (OnAfterSync) OnAfterSync();
    return true;
}

void TFileSyncMgr::ProcessProfile(int i, TSyncStats& stats, TDateTime runStart) {
    TSyncProfile& p = *FProfile;
    const TDateTime now = Now();
    const TDateTime nextAbsolute = NextAbsoluteTime(p.DetectInterval, p.LastDetectTime);
    const bool absolute = FOptions.Contains(O::AbsoluteTime);
    const bool autoDetect = FOptions.Contains(O::AutoDetect);
    const bool due = (FManual && p.Selected) ||
                     (autoDetect && (now > p.ChangeDetectedTime + p.SyncDelay ||
                                     (absolute && now > nextAbsolute) ||
                                     (!absolute && now > p.LastDetectTime + p.DetectInterval)));
    if (!due || now < NotBefore) return;

    const std::string& line = Profiles.Line(i);
    TProfileDrives drives = CheckProfileDrives(line, p);
    if (!drives.Available()) {
        if (!drives.SourceAvailable)
            Warn("Warning: Source folder of profile " + line +
                 " is missing.  No deletions are repeated and the history is kept.");
        Log(liInformation, "Profile " + std::to_string(i + 1) +
                               " contains a drive that is currently not available.");
        p.LastDetectTime = runStart;
        // The warning counts in the run's totals like any other.
        AddStats(FStats, stats);
        FStatsAdded = true;
        return;
    }

    FSyncNow = FOptions.Contains(O::AutoRefresh) && !FManual &&
               (now > p.ChangeDetectedTime + p.SyncDelay ||
                (!absolute && now > p.LastDetectTime + p.DetectInterval + p.SyncDelay) ||
                (absolute && now > nextAbsolute + p.SyncDelay));
    FDetectOnly = !FManual && autoDetect && p.ChangeCount == 0 && !FSyncNow;
    p.DetectOnly = FDetectOnly;
    if (!((FManual && p.Selected) || FDetectOnly || FSyncNow)) return;

    p.ChangeCount = 0;
    FPrompter.ShowStatus(
        (FManual ? "Analyzing source and destination files for profile "
                 : "Auto-detecting source and destination files for profile ") +
        line + "...");
    FStats.ProfileOrSync = line;
    const TDateTime started = Now();
    FullScan(i, runStart);
    FStats.TotalSyncTime = Now() - started;
    AddStats(FStats, stats);
    FStatsAdded = true;
    if (OnStats && (FStats.FilesSynced + FStats.FilesDeleted > 0 || FManual)) OnStats(FStats);
}

bool TFileSyncMgr::FlushCopies(const std::string& line) {
    if (FEngine.FlushDeferredWrites()) return true;
    const int err = errno;
    Error("Error encountered.  The files copied for profile " + line +
          " could not be flushed to the disk: " + SysErrorMessage(err) + ".  The history is kept.");
    return false;
}

bool TFileSyncMgr::BeyondALink(const std::string& dest) {
    if (!FDestLocal) return false;  // an archive's members are no files of the disk
    // The root itself is the user's choice, link or not; below it every folder must be one.
    // (Names that would leave the root are refused when they are mapped.)
    if (dest.size() <= FDestRoot.size() || dest.compare(0, FDestRoot.size(), FDestRoot) != 0)
        return false;
    for (size_t slash = dest.find('/', FDestRoot.size()); slash != std::string::npos;
         slash = dest.find('/', slash + 1)) {
        std::string folder = dest.substr(0, slash);
        auto known = FLinkFolders.find(folder);
        if (known == FLinkFolders.end()) {
            struct stat st {};
            const bool link = ::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
            known = FLinkFolders.emplace(std::move(folder), link).first;
        }
        if (known->second) return true;
    }
    return false;
}

bool TFileSyncMgr::IntoTheSource(const std::string& dest) const {
    return FSourceRoot != FDestRoot && FSourceRoot.size() > FDestRoot.size() &&
           dest.compare(0, FSourceRoot.size(), FSourceRoot) == 0;
}

std::string TFileSyncMgr::DestName(const std::string& sourceEntry, const TFileInfoRec& info) {
    // The location model maps the entry (tags of the destination expanded); a name it
    // refuses, such as one that would leave the destination root, is not synced. A plain
    // folder mapping takes the short way.
    std::string plain;
    if (FPlainMap.Map(sourceEntry, info.IsFolder(), plain)) return plain;
    try {
        auto entry = CreateParts(&FEngine, sourceEntry, info.ToHex());
        return entry->MapLocation(*FSourceParts, *FDestParts,
                                  FOptions.Contains(O::SingleDestFolder),
                                  FOptions.Contains(O::RootRelativeDir));
    } catch (const std::exception& e) {
        Error("Error encountered.  No destination for " + sourceEntry + ": " + e.what());
        return {};
    }
}

// What one profile pass searched and found; the steps of FullScan fill it in turn.
struct TFileSyncMgr::TPass {
    int Index = 0;
    std::string Line, Source, Dest;
    uint8_t Flags = 0;             // the search flags of the source
    std::string SrcName, DstName;  // the listings' sections in the work and destination stores
    bool RootThere = false;        // the source root is a folder
    bool Complete = false;         // the source search looked at everything
    const TQNStringList* SrcList = nullptr;
    const TQNStringList* SrcInfos = nullptr;
    const TQNStringList* DstList = nullptr;
    const TQNStringList* DstInfos = nullptr;
    // Keys point into the destination listing, which stays as it is for the rest of the pass.
    std::unordered_map<std::string_view, int> DestIndex;
    std::vector<int> Order;           // the source entries to process, in folded-name order
    std::vector<std::string> Folded;  // their folded names (by source index)
    std::vector<int> HistoryOf;       // the history entry of each source entry, or -1
};

void TFileSyncMgr::FullScan(int i, TDateTime runStart) {
    TPass pass;
    pass.Index = i;
    pass.Line = Profiles.Line(i);
    SetupPass(pass);
    if (!SearchPass(pass)) return;
    if (FRefresh) {
        UpgradeBackups(*pass.DstList, *pass.DstInfos);
        return;
    }
    OrderSourceEntries(pass);
    MatchHistory(pass);
    if (HistoryPreview || DestPreview) {
        TQNStringList names, infos;
        for (int k : pass.Order) {
            names.Add((*pass.SrcList)[k]);
            infos.Add(k < pass.SrcInfos->Count() ? (*pass.SrcInfos)[k] : std::string());
        }
        Previews(pass.Line, names, infos, *pass.DstList, *pass.DstInfos);
    }
    bool flushed = true;
    if (!CompareAndCopy(pass, flushed)) {  // cancelled
        NotBefore = Now() + 5.0 / 1440;
        return;
    }
    FinishPass(pass, flushed, runStart);
}

void TFileSyncMgr::SetupPass(TPass& pass) {
    const std::string& line = pass.Line;
    pass.Source = ProfileSource(line);
    pass.Dest = ProfileDest(line);
    auto usable = [](const std::string& l) { return IsLocalLocation(l) || IsZipLocation(l); };
    if (!usable(pass.Source) || !usable(pass.Dest))
        throw std::runtime_error("only local folders and zip archives can be synced yet: " + line);
    FSourceLocal = IsLocalLocation(pass.Source);
    FDestLocal = IsLocalLocation(pass.Dest);
    FSourceRoot = SyncRootFolder(pass.Source);
    FDestRoot = DestRootFolder(pass.Dest);
    if (FSourceRoot.empty() || FDestRoot.empty())
        throw std::runtime_error("the profile names no folder: " + line);
    // A profile that syncs a folder onto itself only keeps backups: nothing is deleted,
    // moved, overwritten or compared.
    FSourceParts = CreateParts(&FEngine, FSourceRoot);
    FDestParts = CreateParts(&FEngine, pass.Dest);
    if (FDestRoot == FSourceRoot) FOptions = FOptions & TFileSyncOptions::FromBits(0xFE3DC3F7);
    if (FOptions.Contains(O::RootRelativeDir)) FOptions.Exclude(O::SingleDestFolder);
    FPlainMap.Setup(*FSourceParts, *FDestParts, FOptions.Contains(O::SingleDestFolder),
                    FOptions.Contains(O::RootRelativeDir));
    // Members of an archive keep their folders below the root like files of a folder do.
    if ((!FSourceLocal || !FDestLocal) && !FOptions.Contains(O::SingleDestFolder) &&
        !FOptions.Contains(O::RootRelativeDir))
        FPlainMap.SetupPrefixes(FSourceRoot, FDestRoot);

    pass.Flags = 0;
    if (FOptions.Contains(O::CascadeDir)) pass.Flags |= fsRecurse;
    pass.Flags |= FOptions.Contains(O::EmptyFolders) ? fsFolders : fsFoldersWithFiles;
    if (FOptions.Contains(O::RegExpFilterInclude)) pass.Flags |= fsNameMustMatch;
    if (FOptions.Contains(O::TextInFileInclude)) pass.Flags |= fsTextMustMatch;
    pass.SrcName = "Profile-" + std::to_string(pass.Index) + "-Files";
    pass.DstName = "FilesDest-" + line;
}

bool TFileSyncMgr::SearchPass(TPass& pass) {
    TSyncProfile& p = *FProfile;
    // Folder listings stay in the work store for one profile pass only: an earlier
    // profile of the run may have changed the folders this one searches.
    FWorkStore.Clear();
    // The destination is searched beside the source, on a thread of its own with an engine
    // of its own; both only read.
    std::error_code ec;
    pass.RootThere = FSourceLocal ? std::filesystem::is_directory(FSourceRoot, ec)
                                  : std::filesystem::is_regular_file(ZipArchiveOf(FSourceRoot), ec);
    const std::string mask = pass.Source.substr(FSourceRoot.size());
    FDestStore.Clear();
    FLinkFolders.clear();
    TBesideEngine beside(FEngine);
    beside.CacheListings = FEngine.CacheListings;
    std::exception_ptr destError;
    std::thread destSearch;
    struct TJoin {
        std::thread& Thread;
        ~TJoin() {
            if (Thread.joinable()) Thread.join();
        }
    } join{destSearch};
    const TDateTime t0 = Now();
    if (pass.RootThere || FRefresh)
        destSearch = std::thread([&] {
            try {
                beside.FindFiles(FDestRoot + (mask.empty() ? "*" : mask), "", false, nullptr,
                                 pass.DstName, "", p.FilterRegExpr, &FDestStore,
                                 static_cast<uint8_t>(pass.Flags & ~(fsTextMustMatch)));
            } catch (...) {
                destError = std::current_exception();
            }
        });

    // Source (a backup refresh only looks at the destination).
    if (!FRefresh)
        FEngine.FindFiles(pass.Source, "", false, nullptr, pass.SrcName, p.TextInFileRegExpr,
                          p.FilterRegExpr, &FWorkStore, pass.Flags);
    FStats.SearchedFindTime = Now() - t0;
    const TQNStringList& srcStats = FWorkStore.GetSection(pass.SrcName + "\"Stats");
    FStats.SearchedFiles = static_cast<int32_t>(StatValue(srcStats, "FileCount"));
    FStats.SearchedFolders = static_cast<int32_t>(StatValue(srcStats, "FolderCount"));
    FStats.SearchedFileSize = StatValue(srcStats, "FileSizeTotal");
    pass.Complete = pass.RootThere && !SearchIncomplete(srcStats);
    if (FRefresh) {
    } else if (!pass.RootThere)
        Warn("Warning: Source folder " + FSourceRoot +
             " is missing.  No deletions are repeated and the history is kept.");
    else if (!pass.Complete)
        Warn("Warning: The search of " + pass.Source +
             " was incomplete.  No deletions are repeated and the history is kept.");
    if (!pass.RootThere && !FRefresh) return false;

    // Destination: the whole destination search, by name.
    destSearch.join();
    beside.PassMessagesTo(FEngine);
    if (destError) std::rethrow_exception(destError);
    FStats.SearchedDestFindTime = Now() - t0;
    const TQNStringList& dstStats = FDestStore.GetSection(pass.DstName + "\"Stats");
    FStats.SearchedDestFiles = static_cast<int32_t>(StatValue(dstStats, "FileCount"));
    FStats.SearchedDestFolders = static_cast<int32_t>(StatValue(dstStats, "FolderCount"));
    FStats.SearchedDestFileSize = StatValue(dstStats, "FileSizeTotal");
    pass.DstList = &FDestStore.GetSection(pass.DstName);
    pass.DstInfos = &FDestStore.GetSection(pass.DstName + "\"FileInfo");
    pass.SrcList = &FWorkStore.GetSection(pass.SrcName);
    pass.SrcInfos = &FWorkStore.GetSection(pass.SrcName + "\"FileInfo");
    pass.DestIndex.reserve(pass.DstList->Count());
    for (int k = 0; k < pass.DstList->Count(); ++k) pass.DestIndex.emplace((*pass.DstList)[k], k);
    return true;
}

void TFileSyncMgr::OrderSourceEntries(TPass& pass) {
    // Source entries in name order, without those the filter profiles below this one find.
    const TQNStringList& srcList = *pass.SrcList;
    std::unordered_set<std::string> filtered;
    for (int j = pass.Index + 1;
         j < Profiles.Count() && Profiles.Profile(j).Has(O::FilterPreviousProfile); ++j) {
        FPrompter.ShowStatus("Filtering out files...." + Profiles.Line(j));
        const std::string filterName = "ProfileFilter-" + std::to_string(j) + "-Files";
        uint8_t filterFlags = 0;
        if (Profiles.Profile(j).Has(O::CascadeDir)) filterFlags |= fsRecurse;
        if (FOptions.Contains(O::EmptyFolders)) filterFlags |= fsFolders;
        const TQNStringList& found = FEngine.FindFiles(ProfileSource(Profiles.Line(j)), "", false,
                                                       nullptr, filterName, "", "", &FWorkStore,
                                                       filterFlags);
        for (int k = 0; k < found.Count(); ++k) filtered.insert(found[k]);
    }
    pass.Order.reserve(srcList.Count());
    for (int k = 0; k < srcList.Count(); ++k)
        if (!filtered.count(srcList[k])) pass.Order.push_back(k);
    // Folded names order the entries as CompareText does.
    pass.Folded.assign(srcList.Count(), std::string());
    for (int k : pass.Order) pass.Folded[k] = LowerCase(srcList[k]);
    std::sort(pass.Order.begin(), pass.Order.end(),
              [&](int a, int b) { return pass.Folded[a] < pass.Folded[b]; });
}

void TFileSyncMgr::MatchHistory(TPass& pass) {
    // The history entry of each source entry: the one of its own name, else one that
    // differs from it only in case and that no source entry has by its own name (a
    // history written where case did not count). "a.txt" and "A.txt" are two files, and
    // neither is ever judged or deleted by the other's entry.
    const TSyncProfile& p = *FProfile;
    const TQNStringList& srcList = *pass.SrcList;
    pass.HistoryOf.assign(srcList.Count(), -1);
    std::unordered_map<std::string_view, int> exact;
    exact.reserve(p.HistoryFiles.Count());
    for (int k = 0; k < p.HistoryFiles.Count(); ++k) exact.emplace(p.HistoryFiles[k], k);
    std::vector<bool> claimed(p.HistoryFiles.Count(), false);
    for (int k : pass.Order)
        if (auto h = exact.find(srcList[k]); h != exact.end()) {
            pass.HistoryOf[k] = h->second;
            claimed[h->second] = true;
        }
    std::unordered_map<std::string, std::vector<int>> byFolded;
    for (int k = 0; k < p.HistoryFiles.Count(); ++k)
        if (!claimed[k]) byFolded[LowerCase(p.HistoryFiles[k])].push_back(k);
    for (int k : pass.Order) {
        if (pass.HistoryOf[k] >= 0 || byFolded.empty()) continue;
        auto f = byFolded.find(pass.Folded[k]);
        if (f == byFolded.end()) continue;
        for (int h : f->second)
            if (!claimed[h]) {
                pass.HistoryOf[k] = h;
                claimed[h] = true;
                break;
            }
    }
    FHistorySeen.assign(p.HistoryFiles.Count(), false);
    FProcessed.assign(srcList.Count(), false);
}

bool TFileSyncMgr::CompareAndCopy(TPass& pass, bool& flushed) {
    FPrompter.ShowStatus("Syncing destination files for profile " + pass.Line + "....");
    // New copies are flushed to the disk together, once, before the history records them
    // (FlushCopies); replaced files and backups are flushed one by one as always. A pass
    // that moves files flushes each copy before its source goes.
    TDeferFlushesScope defer(FEngine, !FDetectOnly && !FOptions.Contains(O::MoveFile));
    struct TFlushGuard {
        TLocationOwner& Owner;
        ~TFlushGuard() { Owner.FlushDeferredWrites(); }
    } flushGuard{FEngine};
    const TDateTime compareStart = Now();
    bool cancelled = false;
    for (int k : pass.Order) {
        if (SyncProcessMessages) FEngine.ProcessMessages();
        if (!FEngine.Continue()) {
            cancelled = true;
            break;
        }
        TEntry e;
        if (!MakeEntry(pass, k, e)) continue;
        FProcessed[k] = true;
        if (e.SourceInfo.IsFolder()) {
            if (!SyncFolderEntry(e)) FProcessed[k] = false;
            continue;
        }
        // Links stay links; pipes, sockets and devices hold no file to copy.
        struct stat st {};
        if (FSourceLocal && e.SourceInfo.NotPlain() && ::lstat(e.Source.c_str(), &st) == 0 &&
            !S_ISREG(st.st_mode)) {
            if (S_ISLNK(st.st_mode)) {
                if (!SyncLinkEntry(e)) FProcessed[k] = false;
            } else if (!S_ISDIR(st.st_mode)) {
                NoteSpecialFile(e.Source);
                FProcessed[k] = false;
            }
            continue;
        }
        if (!SyncFile(e, DecideFile(e))) FProcessed[k] = false;
    }
    flushed = FlushCopies(pass.Line);
    FStats.SyncCompareTime = Now() - compareStart - FStats.CopyTime;
    return !cancelled;
}

bool TFileSyncMgr::MakeEntry(const TPass& pass, int k, TEntry& e) {
    const TQNStringList& srcList = *pass.SrcList;
    // The source entry is there: its history entry is no deletion, whatever becomes of it.
    if (pass.HistoryOf[k] >= 0) FHistorySeen[pass.HistoryOf[k]] = true;
    // The source root itself is no entry of the profile: it maps onto the destination
    // root, which a deletion must never reach.
    if (srcList[k].size() <= FSourceRoot.size()) return false;
    // A destination inside the source: its files are the copies, never sources.
    const bool destInside = FDestRoot != FSourceRoot && FDestRoot.size() > FSourceRoot.size() &&
                            FDestRoot.compare(0, FSourceRoot.size(), FSourceRoot) == 0;
    if (destInside && srcList[k].compare(0, FDestRoot.size(), FDestRoot) == 0) return false;
    if (srcList[k].find_first_of("\r\n\x05") != std::string::npos) {
        Error("Error encountered.  " + ShownName(srcList[k]) +
              " is not synced: its name holds a line break or the byte 5, which a sync "
              "document cannot keep apart.");
        return false;
    }
    e.SourceIndex = k;
    e.Source = srcList[k];
    e.SourceInfo = InfoAt(*pass.SrcInfos, k);
    e.Dest = DestName(e.Source, e.SourceInfo);
    if (e.Dest.size() <= FDestRoot.size()) return false;
    if (IntoTheSource(e.Dest)) {
        Warn("Warning: " + e.Dest + " lies in the source folder of the profile.  " + e.Source +
             " is not synced.");
        return false;
    }
    const TSyncProfile& p = *FProfile;
    e.HistoryIndex = pass.HistoryOf[k];
    if (e.HistoryIndex >= 0) {
        e.HistoryInfo = InfoAt(p.HistoryFileInfo, e.HistoryIndex);
        e.History = e.HistoryInfo;
    } else if (e.Source != e.Dest || FOptions.Contains(O::PhantomDestination)) {
        e.History = e.SourceInfo;
    } else {
        e.History = TFileInfoRec{EarliestDosTime, 0, 0, 0, 0};
    }

    if (FOptions.Contains(O::PhantomDestination)) {
        e.DestInfo = e.SourceInfo;
        e.DestExists = FEngine.EntryExists(e.Dest);
        e.OnDisk = e.DestExists && FEngine.FindOne(e.Dest, nullptr, e.DiskInfo);
    } else if (auto d = pass.DestIndex.find(e.Dest); d != pass.DestIndex.end()) {
        e.DestInfo = InfoAt(*pass.DstInfos, d->second);
        e.DestExists = true;
    } else {
        // Filtered out of the destination search, or not there: ask for it by name.
        TFileInfoRec info;
        if (FEngine.FindOne(e.Dest, nullptr, info)) {
            e.DestInfo = info;
            e.DestExists = true;
        }
    }
    return true;
}

bool TFileSyncMgr::SyncFolderEntry(const TEntry& e) {
    // Archives keep no folders of their own: their members' names hold them.
    if (e.DestExists || FDetectOnly || !FDestLocal || BeyondALink(e.Dest)) return true;
    std::error_code fec;
    std::filesystem::path folder(e.Dest);
    int created = 0;
    for (auto f = folder.parent_path(); !f.empty() && !std::filesystem::exists(f, fec);
         f = f.parent_path())
        ++created;
    if (std::filesystem::create_directories(folder, fec)) FStats.FoldersCreated += created;
    if (fec) {
        Error("Error encountered.  Destination folder: " + e.Dest + " could not be created.  " +
              SysErrorMessage(fec.value()) + ".");
        return false;
    }
    return true;
}

void TFileSyncMgr::FinishPass(TPass& pass, bool flushed, TDateTime runStart) {
    TSyncProfile& p = *FProfile;
    NotBefore = 0;
    std::vector<TEntry> postponed;
    if (FOptions.Contains(O::SyncDeletedObjects)) {
        if (pass.Complete)
            SyncDeleted(pass.Index, postponed);
        else
            Log(liWarning, "Warning: Deletions of profile " + pass.Line + " not repeated.");
    }
    if (p.ChangeCount > 0) {
        p.ChangeDetectedTime = Now();
    } else {
        p.LastDetectTime = runStart;
        p.ChangeDetectedTime = p.LastDetectTime + NoChangeDetected;
    }
    if (OnProfilesChanged) OnProfilesChanged();
    if (p.ChangeCount > 0 || !pass.Complete || !FEngine.Continue() || !flushed) return;
    RecordHistory(pass, postponed);
}

void TFileSyncMgr::RecordHistory(TPass& pass, const std::vector<TEntry>& postponed) {
    // The new history: the processed source entries, plus deletions still to come.
    TSyncProfile& p = *FProfile;
    const TQNStringList& srcList = *pass.SrcList;
    const TQNStringList& srcInfos = *pass.SrcInfos;
    std::vector<int> kept;
    kept.reserve(pass.Order.size());
    for (int k : pass.Order)
        if (FProcessed[k]) kept.push_back(k);
    TQNStringList files, infos;
    TQNStringList& listed = FWorkStore.GetSection(pass.SrcName);
    TQNStringList& listedInfos = FWorkStore.GetSection(pass.SrcName + "\"FileInfo");
    if (srcInfos.Count() >= srcList.Count() && !listed.Sorted() && !listedInfos.Sorted()) {
        // The listing is not needed any more: its lines move into the history.
        listed.Select(kept);
        listedInfos.Select(kept);
        files.TakeFrom(std::move(listed));
        infos.TakeFrom(std::move(listedInfos));
    } else {
        files.Reserve(static_cast<int>(kept.size() + postponed.size()));
        infos.Reserve(static_cast<int>(kept.size() + postponed.size()));
        for (int k : kept) {
            files.Add(srcList[k]);
            infos.Add(srcInfos.Count() > k ? srcInfos[k] : TFileInfoRec().ToHex());
        }
    }
    for (const TEntry& e : postponed) {
        files.Add(e.Source);
        infos.Add(e.SourceInfo.ToHex());
    }
    // An entry that failed keeps what the last completed sync recorded of it, so that the
    // next run still sees its change.
    for (int k : pass.Order)
        if (!FProcessed[k] && pass.HistoryOf[k] >= 0) {
            files.Add(p.HistoryFiles[pass.HistoryOf[k]]);
            infos.Add(InfoAt(p.HistoryFileInfo, pass.HistoryOf[k]).ToHex());
        }
    p.HistoryFiles.TakeFrom(std::move(files));
    p.HistoryFileInfo.TakeFrom(std::move(infos));
    p.HistoryStats.Assign(FWorkStore.GetSection(pass.SrcName + "\"Stats"));
}
TFileSyncMgr::TDecision TFileSyncMgr::DecideFile(const TEntry& e) {
    TDecision d;
    const bool phantom = FOptions.Contains(O::PhantomDestination);
    // Without date comparisons every file is copied; a phantom destination is the source.
    const bool compareDates = (e.DestExists || phantom) && FOptions.Contains(O::SyncIfDateChanged);
    const TFileInfoRec& source = e.SourceInfo;
    const TFileInfoRec& dest = phantom ? e.SourceInfo : e.DestInfo;
    // The source changed since the last sync: its own file system tells, to the
    // nanosecond where both records have it.
    const bool sourceChanged = CompareExactTime(source, e.History) != 0;
    bool keep = false;      // the destination stays as it is, whatever the sizes say
    bool declined = false;  // the user said to replace it without a backup
    if (!compareDates) {
        d.Copy = true;
        d.Reason = e.DestExists ? TSyncReason::Always : TSyncReason::New;
    } else if (CompareCoarseTime(source, dest) < 0) {
        // The destination is newer.
        d.Copy = sourceChanged;
        if (FOptions.Contains(O::PromptIfNewer)) {
            TMsgDlgBtn a = FPrompter.Ask(
                TSyncQuestion::DestinationNewer,
                "Destination \r\n" + e.Dest + "\r\nis newer than source \r\n" + e.Source +
                    ".\r\nBackup Destination File before syncing?",
                TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel});
            if (a == TMsgDlgBtn::mbYes) {
                d.BackupDest = d.Copy = true;
            } else if (a == TMsgDlgBtn::mbNo) {
                d.Copy = declined = true;
            } else {
                // Cancel keeps the newer destination, as the question's answer says.
                if (sourceChanged)
                    Warn("Warning: Destination file " + e.Dest + " is newer than source file and was kept: "
                         "the change of " + e.Source + " is not synced.");
                d.Copy = false;
                keep = true;
            }
        } else if (FOptions.Contains(O::BackupIfNewer)) {
            d.BackupDest = d.Copy = true;
        } else if (FOptions.Contains(O::OverwriteIfNewer)) {
            d.Copy = true;
        } else if (!d.Copy) {
            keep = true;
            Warn("Warning: Destination file " + e.Dest +
                 " is newer than source file.  Turn on \"Prompt if Newer\", \"Backup if "
                 "Newer\", \"Overwrite if Newer\", or \"Backup Destination On Change\" options.");
        }
        d.Reason = sourceChanged ? TSyncReason::Changed : TSyncReason::Newer;
    } else {
        // The source is as new or newer.
        const bool destChanged = CompareCoarseTime(dest, e.History) != 0;
        if (!(FOptions.Contains(O::BackupIfChanged) && CompareExactTime(source, e.History) > 0) &&
            destChanged) {
            if (FOptions.Contains(O::PromptIfNewer)) {
                TMsgDlgBtn a = FPrompter.Ask(
                    TSyncQuestion::BothChanged,
                    "Both the source\r\n" + e.Source + "\r\nand destination \r\n" + e.Dest +
                        "\r\nfiles have changed.  \r\nWould you like to backup the destination "
                        "file?",
                    TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo});
                if (a == TMsgDlgBtn::mbYes)
                    d.BackupDest = true;
                else
                    declined = true;
            } else if (FOptions.Contains(O::BackupIfNewer)) {
                d.BackupDest = true;
            }
        }
        d.Copy = CompareCoarseTime(source, dest) != 0 || sourceChanged || d.BackupDest;
        d.Reason = TSyncReason::Changed;
    }

    // Sizes and contents decide what the dates cannot: a destination whose size differs
    // from its source's is no copy of it (one cut short keeps its date), and before a copy
    // of the same size is made the contents are compared when the profile compares sizes.
    // They never overrule a kept newer destination.
    const bool compareSizes = FOptions.Contains(O::CompareContent) || FOptions.Contains(O::CompareFileSize);
    if (compareSizes) FOptions.Include(O::CompareFileSize);
    if (!keep && !phantom) {
        if (!compareDates) {
            if (compareSizes && d.Copy) FStats.SizeDiffered++;  // an absent size always differs
        } else if (source.Size != dest.Size) {
            if (!d.Copy) {
                d.Copy = true;
                d.Reason = TSyncReason::Size;
            }
            if (compareSizes) FStats.SizeDiffered++;
        } else if (d.Copy && compareSizes) {
            if (SameContentsCounted(e)) {
                d.Copy = d.BackupDest = false;
                d.AlignTime = CompareExactTime(source, dest) != 0;
            } else {
                d.Reason = TSyncReason::Content;
            }
        }
    }
    // A destination that is not what the last sync left (another date, or its date with
    // another size) is never replaced without a backup, unless the user said so for this
    // file. Pipes and devices hold nothing to keep.
    const bool onDisk = phantom ? e.OnDisk : e.DestExists;
    const TFileInfoRec& disk = phantom ? e.DiskInfo : e.DestInfo;
    if (d.Copy && !d.BackupDest && onDisk && e.Source != e.Dest && !declined &&
        (CompareCoarseTime(disk, e.History) != 0 || (e.HistoryIndex >= 0 && disk.Size != e.History.Size))) {
        struct stat st {};
        d.BackupDest = !FDestLocal || (::lstat(e.Dest.c_str(), &st) == 0 && S_ISREG(st.st_mode));
    }
    d.BackupOnChange = FOptions.Contains(O::BackupIfChanged) && d.Copy;
    return d;
}

bool TFileSyncMgr::SameContentsCounted(const TEntry& e) {
    FPrompter.ShowStatus("Comparing contents " + e.Source + " with " + e.Dest);
    FStats.ContentCompared++;
    if (FSourceLocal && FDestLocal) return SameFileContents(e.Source, e.Dest);
    try {
        auto a = CreateParts(&FEngine, e.Source), b = CreateParts(&FEngine, e.Dest);
        return FEngine.CompareContents(*a, *b);
    } catch (const std::exception&) {
        return false;  // what cannot be read counts as different
    }
}

void TFileSyncMgr::AlignDestTime(const TEntry& e) {
    // (A member of an archive is compared again next time rather than rewrite the archive.)
    if (!FDestLocal || BeyondALink(e.Dest)) return;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(e.SourceInfo.UnixSeconds());
    times[1].tv_nsec = static_cast<long>(e.SourceInfo.Nanoseconds());
    // Only the date changes, of the file itself (never a link's target).
    if (::utimensat(AT_FDCWD, e.Dest.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 && VerboseLog)
        Log(liInformation, "Same contents: " + e.Dest + " takes the date of " + e.Source);
}

void TFileSyncMgr::ReportChange(const TEntry& e, TSyncReason reason, bool backupFirst) {
    FProfile->ChangeCount++;
    if (OnChangeDetected) OnChangeDetected(TSyncChange{false, e.Source, e.Dest, reason, backupFirst});
}

void TFileSyncMgr::NoteSpecialFile(const std::string& name) {
    if (FSpecialFiles++ == 0) FFirstSpecial = name;
}

bool TFileSyncMgr::SyncLinkEntry(const TEntry& e) {
    auto readLink = [](const std::string& path, std::string& text) {
        std::vector<char> buf(256);
        for (;;) {
            const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
            if (n < 0) return false;
            if (size_t(n) < buf.size()) {
                text.assign(buf.data(), size_t(n));
                return true;
            }
            buf.resize(buf.size() * 2);
        }
    };
    std::string target;
    if (!readLink(e.Source, target)) {
        Error("Error encountered.  The link " + e.Source + " cannot be read: " + SysErrorMessage(errno) + ".");
        return false;
    }
    if (!FDestLocal) {
        Warn("Warning: " + e.Source + " is a symbolic link, which a zip archive does not keep.  It is not synced.");
        return false;
    }
    struct stat st {};
    const bool there = ::lstat(e.Dest.c_str(), &st) == 0;
    std::string current;
    if (there && S_ISLNK(st.st_mode) && readLink(e.Dest, current) && current == target) return true;
    if (there && S_ISDIR(st.st_mode)) {
        Error("Error encountered.  Destination " + e.Dest + " is a folder: the link " + e.Source +
              " is not synced.");
        return false;
    }
    const bool fileThere = there && !S_ISLNK(st.st_mode);
    if (FDetectOnly) {
        ReportChange(e, TSyncReason::Link, fileThere);
        return true;
    }
    if (BeyondALink(e.Dest)) {
        Warn("Warning: Destination file " + e.Dest + " lies in a folder that is a link.  It is not synced.");
        return false;
    }
    if (fileThere) {
        // A file of the user's at the link's name is kept as a backup first.
        TFileInfoRec info;
        FEngine.FindOne(e.Dest, nullptr, info);
        if (BackupFile(e.Dest, info, BackupComment).empty()) return false;
    }
    const std::string folder = e.Dest.substr(0, e.Dest.rfind('/'));
    try {
        FStats.FoldersCreated += FEngine.ForceFoldersLogged(folder + "/", false);
    } catch (const std::exception& ex) {
        Error("Error encountered.  Destination file: " + e.Dest + " could not be created.  " + ex.what() + ".");
        return false;
    }
    // The new link gets a name of its own beside its place, then takes the place at once.
    std::string temp;
    int err = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = folder + "/.qnlink-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        if (::symlink(target.c_str(), temp.c_str()) == 0) {
            err = 0;
            break;
        }
        err = errno;
        if (err != EEXIST) break;
    }
    if (err == 0 && ::rename(temp.c_str(), e.Dest.c_str()) != 0) {
        err = errno;
        ::unlink(temp.c_str());
    }
    if (err != 0) {
        Error("Error encountered.  Destination file: " + e.Dest + " could not be created.  " +
              SysErrorMessage(err) + ".");
        return false;
    }
    FStats.FilesSynced++;
    Log(liFileCopied, "Linked " + e.Dest + " to " + target);
    if (FOptions.Contains(O::MoveFile) && FEngine.Continue() && ::unlink(e.Source.c_str()) == 0)
        FStats.FilesDeleted++;
    return true;
}

bool TFileSyncMgr::SyncFile(const TEntry& e, const TDecision& d) {
    if (!d.Copy && !d.BackupDest && !d.BackupOnChange) {
        if (d.AlignTime && !FDetectOnly) AlignDestTime(e);
        return true;
    }
    if (FDetectOnly) {
        ReportChange(e, d.Copy || e.Source != e.Dest ? d.Reason : TSyncReason::BackupOnly,
                     e.DestExists && (d.BackupDest || d.BackupOnChange));
        return true;
    }
    if (VerboseLog) {
        Log(liInformation, "Sorc:" + FormatInfo(e.SourceInfo) + e.Source);
        Log(liInformation, "Dest:" + FormatInfo(e.DestInfo) + e.Dest);
        Log(liInformation, "Hist:" + FormatInfo(e.HistoryInfo) + e.Source);
    }
    if (BeyondALink(e.Dest)) {
        // The name leads through a link out of the destination: the file there is not ours.
        Warn("Warning: Destination file " + e.Dest +
             " lies in a folder that is a link.  It is not synced.");
        return false;
    }
    const bool exists = e.DestExists;
    // Backups on change: the destination as it is now needs a backup of its own unless its
    // newest backup holds it already (every copy is backed up once it is in place), or,
    // without any backup yet, unless it has the source's date. (A folder synced onto
    // itself only backs up the version it holds.)
    bool unsaved = false;
    if (d.BackupOnChange && exists && e.Source != e.Dest) {
        TBackupFileParts parts(&FEngine);
        parts.SetLocation(e.Dest);
        TBackupFileParts next(&FEngine);
        next.SetLocation(parts.GetBackupName(true));
        if (next.Counter > 1) {
            TFileInfoRec newest;
            unsaved = !(FEngine.FindOne(parts.VersionLocation(next.Counter - 1, false), nullptr, newest) &&
                        newest.Time == e.DestInfo.Time && newest.Size == e.DestInfo.Size);
        } else {
            unsaved = e.DestInfo.Time != e.SourceInfo.Time;
        }
    }
    if (d.BackupDest && exists) {
        // The destination holds changes of its own: without its backup it is not replaced.
        if (BackupFile(e.Dest, e.DestInfo, BackupComment).empty()) return false;
    } else if (unsaved) {
        if (BackupFile(e.Dest, e.DestInfo, "").empty()) return false;
    }
    if (e.Source != e.Dest) {
        TCopyResult result;
        const TDateTime t0 = Now();
        std::string why;
        try {
            FEngine.CopyLocation(e.Source, e.Dest, result, 1, e.SourceInfo);
            if (result.Files == 0)
                why = FEngine.Continue() ? "The copy did not complete." : "The run was stopped.";
        } catch (const std::exception& ex) {
            why = ex.what();
            if (why.empty() || why.back() != '.') why += '.';
        }
        FStats.CopyTime += Now() - t0;
        FStats.FoldersCreated += result.CreatedFolders;
        if (!why.empty()) {
            Error("Error encountered.  Destination file: " + e.Dest + " could not be created.  " + why);
            return false;
        }
        FStats.FilesSynced += result.Files;
        FStats.FilesSizeSynced += e.SourceInfo.Size;
        if (FOptions.Contains(O::MoveFile) && FEngine.Continue()) {
            TFileInfoRec copiedInfo;
            // A destination that reaches the source by another name (through a link) holds
            // no copy of its own: the source is its only one.
            if (SameFileObject(e.Source, e.Dest)) {
                Error("Error encountered.  Source file " + e.Source + " kept: its destination " +
                      e.Dest + " is the same file.");
            } else if (FEngine.FindOne(e.Dest, nullptr, copiedInfo) &&
                       copiedInfo.Size == e.SourceInfo.Size) {
                if (FEngine.DeleteFile(e.Source, false)) FStats.FilesDeleted++;
            } else {
                Error("Error encountered.  Source file " + e.Source +
                      " kept: its copy is not complete.");
            }
        }
    }
    if (d.BackupOnChange && (exists || !BackupComment.empty()))
        BackupFile(e.Dest, e.SourceInfo, BackupComment);
    return true;
}

std::string TFileSyncMgr::BackupFile(const std::string& file, const TFileInfoRec& info,
                                     const std::string& comment, int minCounter) {
    std::string name;
    try {
        TBackupFileParts parts(&FEngine);
        parts.SetLocation(file, info.ToHex());
        if (parts.Counter != 0) {
            // A file named like a backup (or a backup archive, or notes) gets none of its own.
            if (minCounter <= 1)
                Error("Error backing up file " + file + ": its name is that of a backup, which gets no "
                      "backup of its own.  It is left as it is.");
            return {};
        }
        TBackupFileParts next(&FEngine);
        next.SetLocation(parts.GetBackupName(true));
        if (next.Counter < 1 || next.Counter < minCounter) {
            if (minCounter <= 1)
                Error("Error backing up file " + file + ": no free backup name.  It is left as it is.");
            return {};
        }
        // Always a whole copy: a file of its own named "x.diff" keeps its whole name.
        name = parts.VersionLocation(next.Counter, false);
        if (!FNotedUnsupported && (!comment.empty() || FOptions.Contains(O::ZipBackups))) {
            FNotedUnsupported = true;
            Log(liInformation,
                "Backups are kept as whole copies or difference files: comments and backup "
                "archives are not available yet.");
        }
        TCopyResult result;
        const TDateTime t0 = Now();
        // A backup is on the disk before the file it keeps can be replaced.
        TDeferFlushesScope immediate(FEngine, false);
        FEngine.CopyLocation(file, name, result, 2, info);
        FStats.CopyTime += Now() - t0;
        if (result.Files == 0)
            throw std::runtime_error(FEngine.Continue() ? "The copy did not complete." : "The run was stopped.");
        FStats.BackupCount++;
        FStats.BackupSizeTotal += info.Size;
        if (FOptions.Contains(O::BackupFileDifferences) && next.Counter > 1 && FDestLocal)
            DifferencePrevious(parts.VersionLocation(next.Counter - 1, false), name);
        return name;
    } catch (const std::exception& e) {
        std::string why = e.what();
        if (!why.empty() && why.back() != '.') why += '.';
        Error("Error backing up file " + file + " to " + name + ".  " + why);
        return {};
    }
}

void TFileSyncMgr::DifferencePrevious(const std::string& previous, const std::string& newest) {
    // Only a whole copy on the disk is turned into a difference file, and only when none of
    // that name is there already.
    struct stat st {};
    if (::lstat(previous.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const std::string diff = previous + ".diff";
    if (::lstat(diff.c_str(), &st) == 0) {
        Warn("Warning: " + diff + " exists already: " + previous + " stays a whole copy.");
        return;
    }
    // The version is deleted only once its difference file rebuilds it byte for byte.
    if (std::string why = MakeVerifiedDifference(newest, previous, diff, 25); !why.empty()) {
        Error("Error encountered.  " + previous + " is kept as a whole copy: " + why);
        return;
    }
    FStats.FilesDifferenced++;
    Log(liFileBackedUp, "Differenced " + previous + " to " + diff);
}

void TFileSyncMgr::UpgradeBackups(const TQNStringList& files, const TQNStringList& infos) {
    for (int k = 0; k < files.Count() && FEngine.Continue(); ++k) {
        if (SyncProcessMessages) FEngine.ProcessMessages();
        TFileInfoRec info = InfoAt(infos, k);
        if (info.IsFolder()) continue;
        FPrompter.ShowStatus("Updating destination file backups-" + files[k] + ".  Please wait.");
        BackupFile(files[k], info, "V3.24 Upgraded Backup", 2);
    }
}

void TFileSyncMgr::SyncDeleted(int i, std::vector<TEntry>& postponed) {
    TSyncProfile& p = *FProfile;
    FPrompter.ShowStatus("Syncing any deleted files....");
    TQNStringList names;
    std::vector<TEntry> entries;
    for (int k = p.HistoryFiles.Count() - 1; k >= 0; --k) {
        if (SyncProcessMessages) FEngine.ProcessMessages();
        if (FHistorySeen[k] || !FEngine.Continue() || FOptions.Contains(O::MoveFile)) continue;
        const std::string& h = p.HistoryFiles[k];
        if (h.size() <= FSourceRoot.size() || h.compare(0, FSourceRoot.size(), FSourceRoot) != 0)
            continue;
        FHistorySeen[k] = true;
        if (h.find_first_of("\r\n\x05") != std::string::npos) {
            // Written by an older version: the name may stand for another file.
            Warn("Warning: " + ShownName(h) +
                 " is not deleted in the destination: its name holds a line break or the byte 5, "
                 "so the history cannot tell which file it was.");
            continue;
        }
        std::string d = DestName(h, InfoAt(p.HistoryFileInfo, k));
        if (SameText(d, h) || d.size() <= FDestRoot.size()) continue;
        if (IntoTheSource(d)) continue;
        if (BeyondALink(d)) {
            Warn("Warning: " + d + " lies in a folder that is a link.  It is not deleted.");
            continue;
        }
        names.Add(d);
        TEntry e;
        e.Source = h;
        e.SourceInfo = InfoAt(p.HistoryFileInfo, k);
        entries.push_back(e);
    }
    // A destination that is not what the last sync left (another date, or another size)
    // is backed up before it goes (a link holds nothing to keep).
    std::vector<TFileInfoRec> changed(names.Count());
    std::vector<bool> needsBackup(names.Count(), false);
    for (int k = 0; k < names.Count(); ++k) {
        struct stat st {};
        needsBackup[k] = (!FDestLocal || (::lstat(names[k].c_str(), &st) == 0 && S_ISREG(st.st_mode))) &&
                         FEngine.FindOne(names[k], nullptr, changed[k]) &&
                         (CompareCoarseTime(changed[k], entries[k].SourceInfo) != 0 ||
                          changed[k].Size != entries[k].SourceInfo.Size);
    }
    if (FDetectOnly) {
        p.ChangeCount += names.Count();
        if (OnChangeDetected)
            for (int k = 0; k < names.Count(); ++k)
                OnChangeDetected(TSyncChange{true, entries[k].Source, names[k], TSyncReason::Deleted,
                                             static_cast<bool>(needsBackup[k])});
        return;
    }
    if (names.Empty()) return;
    const int historyCount = p.HistoryFiles.Count();
    if (names.Count() >= 26 && names.Count() > 0.25 * historyCount) {
        if (FSyncNow || !FManual || PostponeLargeDeletions) {
            // Nobody is asked in an automatic run: the deletions wait for a manual one.
            Warn("Warning: " + std::to_string(names.Count()) + " deletions of profile " +
                 Profiles.Line(i) + " postponed: more files than usual are missing in the source.");
            postponed = std::move(entries);
            return;
        }
        const int count = names.Count();
        const std::string text =
            "It appears a large number of files are preparing for deletion=" +
            std::to_string(count) + "\r\n" + "Last search turned up " +
            std::to_string(historyCount) + " files/folders.\r\n" + "This search turned up " +
            std::to_string(FStats.SearchedFiles + FStats.SearchedFolders) +
            " files/folders.\r\n" +
            "There may be a mistake in the source part of the profile in the new search.\r\n" +
            "You want to delete the " + std::to_string(count) + " files?";
        if (FPrompter.Ask(TSyncQuestion::LargeDeletion, text, TMsgDlgType::mtWarning,
                                 {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel}) != TMsgDlgBtn::mbOK)
            return;
    }
    // A deletion that does not happen stays in the history, so that the next run tries
    // it again.
    TQNStringList deletions;
    std::vector<int> tried;
    for (int k = 0; k < names.Count(); ++k) {
        if (needsBackup[k] && BackupFile(names[k], changed[k], BackupComment).empty()) {
            Error("Error encountered.  " + names[k] +
                  " is not deleted: it changed since the last sync and its backup failed.");
            postponed.push_back(entries[k]);
            continue;
        }
        deletions.Add(names[k]);
        tried.push_back(k);
    }
    TCopyResult result;
    FEngine.DeleteList(deletions, !FOptions.Contains(O::EmptyFolders), result, true, true);
    if (result.Files < deletions.Count())
        for (size_t i = 0; i < tried.size(); ++i) {
            const int k = tried[i];
            if (!FEngine.EntryExists(names[k])) continue;
            Error("Error encountered.  " + names[k] + " could not be deleted.  It is tried again next time.");
            postponed.push_back(entries[k]);
        }
    FStats.FilesDeleted += result.Files;
    FStats.FoldersDeleted += result.CreatedFolders;
    FPrompter.ShowStatus("Ready.");
}
