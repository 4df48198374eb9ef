// The owner's operations that are built on the kinds of location (folders, backups,
// archives): they stand above the location objects, which use only the owner's
// resources and basic file operations (LocationOwner.cpp).
#include "locations/LocationOwner.h"

#include "locations/BackupFileParts.h"
#include "locations/DirectoryParts.h"
#include "locations/QNZipMaster.h"

#include "common/EngineContract.h"
#include "common/Masks.h"
#include "common/SafeFile.h"
#include "common/ifutils.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string AsFolder(const std::string& path) {
    std::string p = WithoutTrailingSlash(path);
    return p == "/" ? p : p + "/";
}

bool IsFolderNoFollow(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Why a location that gave no stream cannot be read: the system's reason for a local
// path, else that the location has no such file.
std::string UnreadableReason(const std::string& location) {
    if (!IsLocalAbsolutePath(location)) return "there is no such file.";
    const std::string path = WithoutTrailingSlash(location);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return SysErrorMessage(errno) + ".";
    if (S_ISDIR(st.st_mode)) return "it is a folder.";
    if (S_ISLNK(st.st_mode)) {
        struct stat target {};
        if (::stat(path.c_str(), &target) != 0)
            return "it is a link that leads nowhere (" + SysErrorMessage(errno) + ").";
        st = target;
        if (S_ISDIR(st.st_mode)) return "it is a link to a folder.";
    }
    if (!S_ISREG(st.st_mode)) return "it is a pipe, socket or device, not a file.";
    return "it cannot be opened.";
}

}  // namespace

// The owner's zip component is made on first use and goes with the owner.
TLocationOwner::TLocationOwner() = default;

TLocationOwner::~TLocationOwner() {
    try {
        FlushDeferredWrites();
    } catch (...) {
    }
}

TQNZipMaster& TLocationOwner::ZipMaster() {
    if (!FZipMaster) FZipMaster = std::make_unique<TQNZipMaster>(this);
    return *FZipMaster;
}

bool TLocationOwner::FindOne(const std::string& location, TFileInfoRec& info) {
    info = TFileInfoRec();
    std::unique_ptr<TURLParts> parts = CreateParts(this, location);
    auto* dir = dynamic_cast<TDirectoryParts*>(parts.get());
    if (dir == nullptr || !dir->IsValid() || dir->Name.empty() || dir->NameHasWildcards)
        return false;
    TFileInfoRec found;
    if (!LocalInfoOf(dir->GetLocation(), found) || found.IsFolder()) return false;
    info = found;
    return true;
}

bool TLocationOwner::EntryExists(const std::string& location) {
    std::unique_ptr<TURLParts> parts = CreateParts(this, location);
    if (!parts->IsValid()) return false;
    if (auto* dir = dynamic_cast<TDirectoryParts*>(parts.get())) {
        struct stat st {};
        return ::lstat(WithoutTrailingSlash(dir->GetLocation()).c_str(), &st) == 0;
    }
    return parts->Name.empty() ? parts->ContainerExists() : parts->FileExists();
}

const TQNStringList& TLocationOwner::FindEntries(const std::string& location,
                                                 const std::string& resultName,
                                                 TQNMemIniFile* store) {
    TQNMemIniFile& target = store ? *store : LookupStore();
    TQNStringList& names = target.GetSection(resultName);
    TQNStringList& infos = target.GetSection(resultName + "\"FileInfo");
    TQNStringList& comments = target.GetSection(resultName + "\"Comment");
    names.Clear();
    infos.Clear();
    comments.Clear();
    std::unique_ptr<TURLParts> parts = CreateParts(this, location);
    auto* dir = dynamic_cast<TDirectoryParts*>(parts.get());
    if (dir == nullptr || !dir->IsValid()) return names;
    std::vector<std::string> masks = SplitMasks(dir->Name);
    std::vector<TMask> compiled;
    for (const std::string& m : masks) {
        try {
            compiled.emplace_back(m);
        } catch (const EMaskException&) {
        }
    }
    std::vector<TLocalEntry> entries;
    try {
        ScanLocalFolder(dir->Path, entries);
    } catch (const EFileError& e) {
        ShowStatus(e.what(), llWarning, true);
    }
    for (const TLocalEntry& e : entries) {
        if (e.IsFolder) continue;
        bool match = false;
        for (const std::string& m : masks) match = match || SameText(e.Name, m);
        for (const TMask& m : compiled) match = match || m.Matches(e.Name);
        if (!match) continue;
        names.Add(dir->Path + e.Name);
        infos.Add(e.Info.ToHex());
        comments.Add(std::string());
    }
    return names;
}

void TLocationOwner::MoveLocation(const std::string& source, const std::string& dest,
                                  TCopyResult& result, int verbose) {
    result.Clear();
    if (source == dest) return;
    const std::string s = WithoutTrailingSlash(source), d = WithoutTrailingSlash(dest);
    if (s == d || !IsLocalAbsolutePath(s) || !IsLocalAbsolutePath(d) || s == "/") return;
    const bool toMemo = verbose != 0 || VerboseLog;
    struct stat st {};
    if (::lstat(s.c_str(), &st) != 0) return;

    std::string parent = WithoutTrailingSlash(d.substr(0, d.rfind('/') + 1));
    if (!DirectoryExists(parent)) {
        try {
            result.CreatedFolders = ForceFoldersLogged(parent, verbose != 0);
        } catch (const EFileError& e) {
            ShowStatus("Error Moving " + s + " to " + d + ".  " + e.what(), llError, true);
            return;
        }
    }

    auto reportError = [&](int err) {
        std::string text = "Error Moving " + s + " to " + d + ".  ";
        text += err == EEXIST || err == ENOTEMPTY ? std::string("Destination probably exists.")
                                                  : SysErrorMessage(err) + ".";
        ShowStatus(text, verbose, toMemo);
    };

    if (S_ISDIR(st.st_mode)) {
        // A folder never replaces anything at its destination.
        int rc = ::renameat2(AT_FDCWD, s.c_str(), AT_FDCWD, d.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            struct stat dst {};
            if (::lstat(d.c_str(), &dst) == 0) errno = EEXIST;
            else rc = ::rename(s.c_str(), d.c_str());
        }
        if (rc != 0) {
            reportError(errno);
            return;
        }
        result.Folders = 1;
    } else if (::rename(s.c_str(), d.c_str()) == 0) {
        // A rename replaces an existing destination in one step.
        result.Files = 1;
    } else if (errno == EXDEV && S_ISREG(st.st_mode)) {
        // Across file systems: a complete copy beside the destination, renamed into place,
        // compared with the source; only then does the source go.
        TDeferFlushesScope immediate(*this, false);
        TFileInfoRec info;
        FindOne(s, info);
        TCopyResult copied;
        try {
            CopyLocation(s, d, copied, verbose, info);
        } catch (const std::exception& e) {
            ShowStatus("Error Moving " + s + " to " + d + ".  " + e.what(), llError, true);
            return;
        }
        result.CreatedFolders += copied.CreatedFolders;
        if (copied.Files != 1) return;
        TDirectoryParts a(this), b(this);
        a.SetLocation(s);
        b.SetLocation(d);
        if (!CompareContents(a, b)) {
            ShowStatus("Error Moving " + s + " to " + d +
                           ".  The copy differs from the source, which is kept.",
                       llError, true);
            return;
        }
        if (::unlink(s.c_str()) != 0) {
            reportError(errno);
            return;
        }
        result.Files = 1;
    } else {
        reportError(errno);
        return;
    }
    ShowStatus("Moved " + s + " to " + d, verbose, toMemo);
}

void TLocationOwner::CopyLocation(const std::string& source, const std::string& dest,
                                  TCopyResult& result, int mode, const TFileInfoRec& info) {
    if (source == dest) return;
    const std::string label = mode == 2 ? "Backed up" : "Copied";
    result.Clear();
    TBackupFileParts src(this), dst(this);
    src.SetLocation(source);
    dst.SetLocation(dest);
    if (!src.IsValid()) throw ELocationError("\"" + source + "\" is not a location that can be read.");
    if (!dst.IsValid()) throw ELocationError("\"" + dest + "\" is not a location that can be written.");
    src.Target->Info = info;
    src.Target->InfoHex = info.ToHex();
    std::unique_ptr<TStream> stream = src.OpenReadStream();
    if (!stream) throw ELocationError("Cannot read \"" + source + "\": " + UnreadableReason(source));
    result.CreatedFolders = dst.ForceContainerToExist();
    if (!dst.WriteFromStream(*stream, info)) return;
    ShowStatus(label + " " + source + " to " + dest, mode, mode != 0);
    result.Files = 1;
}

void TLocationOwner::DeleteList(const TQNStringList& locations, bool deleteFolders,
                                TCopyResult& result, bool verbose, bool quiet) {
    result.Clear();
    // Case-sensitive, so that /a/X/ and /a/x/ stay two folders; sorted, so that every
    // folder comes after its parent and the backward walk meets the deepest first.
    TQNStringList folderList;
    folderList.SetCaseSensitive(true);
    folderList.SetSorted(true);
    folderList.SetDuplicates(TDuplicates::dupIgnore);
    ILocationGauge* gauge = quiet ? nullptr : MainGauge();
    if (!quiet) ShowStatus("Deleting files/folders.....", llProgress, false);
    {
        TGaugeRange range(gauge, locations.Count());
        for (int i = 0; i < locations.Count(); ++i) {
            if (!StepAllowed()) return;
            range.Step();
            try {
                std::unique_ptr<TURLParts> parts = CreateParts(this, locations[i]);
                if (!parts->IsValid()) continue;
                if (!parts->Name.empty()) {
                    if (parts->Delete(verbose)) ++result.Files;
                    folderList.Add(parts->GetContainerPath());
                } else {
                    folderList.Add(parts->GetLocation());
                }
            } catch (const std::exception& e) {
                ShowStatus("Error deleting " + locations[i] + ": " + e.what(), llError, true);
            }
        }
    }
    if (!deleteFolders) return;
    TGaugeRange range(gauge, folderList.Count());
    for (int i = folderList.Count() - 1; i >= 0; --i) {
        if (!StepAllowed()) return;
        range.Step();
        try {
            std::unique_ptr<TURLParts> parts = CreateParts(this, folderList[i]);
            if (parts->IsValid() && parts->Delete(verbose)) ++result.CreatedFolders;
        } catch (const std::exception& e) {
            ShowStatus("Error deleting " + folderList[i] + ": " + e.what(), llError, true);
        }
    }
}

int TLocationOwner::ForceFoldersLogged(const std::string& path, bool log) {
    if (!IsLocalAbsolutePath(path)) return 0;
    // Usually the whole folder is there already.
    if (DirectoryExists(path)) return 0;
    int count = 0;
    std::string prefix = "/";
    size_t start = 1;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            prefix += path.substr(start, end - start) + "/";
            if (!DirectoryExists(prefix)) {
                if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
                    const int err = errno;
                    throw EFileError("Cannot create the folder \"" + prefix + "\": " + SysErrorMessage(err), err);
                }
                if (log) {
                    ++count;
                    ShowStatus("Created Directory " + prefix, llProgress, true);
                }
            }
        }
        start = end + 1;
    }
    return count;
}

bool TLocationOwner::DeleteFolder(const std::string& path, bool verbose) {
    if (!IsLocalAbsolutePath(path)) return false;
    std::string p = WithoutTrailingSlash(path);
    if (p == "/" || !IsFolderNoFollow(p)) return false;
    if (::rmdir(p.c_str()) != 0) return false;
    if (verbose || VerboseLog) ShowStatus("Deleted directory " + path, llDeletion, true);
    return true;
}

int TLocationOwner::RemoveEmptyFolders(const std::string& path, TQNMemIniFile* store,
                                       bool includeSelf) {
    if (!IsLocalAbsolutePath(path)) return 0;
    TQNMemIniFile& target = store ? *store : CurrentStore();
    TQNStringList& listing = target.GetSection("DirectoryListing");
    listing.Clear();
    // Every folder of the tree once, parents before children; links are listed as files,
    // so the walk never leaves the tree through one.
    std::vector<std::string> pending{AsFolder(path)};
    while (!pending.empty()) {
        if (!StepAllowed()) break;
        std::string folder = pending.back();
        pending.pop_back();
        listing.Add(folder);
        std::vector<TLocalEntry> entries;
        try {
            ScanLocalFolder(folder, entries);
        } catch (const EFileError& e) {
            ShowStatus(e.what(), llWarning, true);
            continue;
        }
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->IsFolder && it->Name != ".") pending.push_back(folder + it->Name + "/");
    }
    if (!includeSelf && listing.Count() > 0) listing.Delete(0);
    TQNStringList folders(listing);
    TCopyResult result;
    DeleteList(folders, true, result, true, true);
    return result.CreatedFolders;
}

int TLocationOwner::ListFolder(const std::string& mask, const std::string& folder,
                               bool fullPaths, TQNStringList* comments, TQNStringList* stats,
                               TQNStringList* infos, TQNStringList& names) {
    const std::string folderPath = AsFolder(folder);
    names.Clear();
    if (comments) comments->Clear();
    if (stats) stats->Clear();
    if (infos) infos->Clear();
    std::vector<TLocalEntry> entries;
    if (IsLocalAbsolutePath(folderPath)) ScanLocalFolder(folderPath, entries);
    TMask m(mask.empty() ? std::string_view("*") : std::string_view(mask));
    int folders = 0, files = 0;
    int64_t total = 0;
    ILocationGauge* gauge = MainGauge();
    // Comments come from the notes files among the folder's entries.
    std::unique_ptr<TFolderNotes> notes;
    if (comments) {
        notes = std::make_unique<TFolderNotes>(this, folderPath);
        for (const TLocalEntry& e : entries)
            if (!e.IsFolder) notes->AddName(e.Name);
    }
    for (const TLocalEntry& e : entries) {
        if (!m.Matches(e.Name)) continue;
        names.Add((fullPaths ? folderPath : std::string()) + e.Name + (e.IsFolder ? "/" : ""));
        if (infos) infos->Add(e.Info.ToHex());
        if (comments)
            comments->Add(notes->Empty() || e.IsFolder ? std::string() : notes->CommentFor(e.Name));
        if (e.IsFolder) {
            if (e.Name != ".") ++folders;
        } else {
            ++files;
        }
        total += e.Info.Size;
        if (gauge) gauge->AddProgress(1);
    }
    if (stats) {
        stats->Add("FolderCount=" + IntToStr(folders));
        stats->Add("FileSizeTotal=" + IntToStr(total));
        stats->Add("FileCount=" + IntToStr(files));
    }
    return names.Count();
}
