#include "locations/LocationOwner.h"

#include "locations/BackupFileParts.h"
#include "locations/DirectoryParts.h"
#include "locations/QNZipMaster.h"
#include "common/Streams.h"

#include "common/EngineContract.h"
#include "common/Masks.h"
#include "common/SafeFile.h"
#include "common/ifutils.h"
#include "platform/XdgDirs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string AsFolder(const std::string& path) {
    std::string p = WithoutTrailingSlash(path);
    return p == "/" ? p : p + "/";
}

bool IsFolderNoFollow(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

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

// Copies up to Block bytes from In to Out in the kernel; the count (0 at the end of In),
// or nullopt when the kernel cannot copy between the two (only told while First is set,
// before anything was copied); other failures raise.
std::optional<size_t> KernelCopyBlock(TFileStream& in, TFileStream& out, size_t block, bool first) {
    size_t n = 0;
    while (n < block) {
        ssize_t r = ::copy_file_range(in.Handle(), nullptr, out.Handle(), nullptr, block - n, 0);
        if (r > 0) {
            n += static_cast<size_t>(r);
            first = false;
            continue;
        }
        if (r == 0) break;
        if (errno == EINTR) continue;
        const int err = errno;
        if (first && (err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP ||
                      err == EBADF || err == EPERM))
            return std::nullopt;
        throw EFileError("Cannot write file \"" + out.FileName() + "\": " + SysErrorMessage(err), err);
    }
    return n;
}

}  // namespace

TLocationOwner::TLocationOwner() = default;

TLocationOwner::~TLocationOwner() {
    try {
        FlushDeferredWrites();
    } catch (...) {
    }
}

// --- Durability of local writes ------------------------------------------------------------

void TLocationOwner::NoteDeferredFlush(int fd, dev_t device) {
    // The disk starts writing the file now, while the next ones are copied, so that the
    // flush at the end has less to wait for.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    for (const auto& h : FFlushHandles)
        if (h.first == device) return;
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        // Without a handle of its own the file system is flushed at once.
        ::syncfs(fd);
        return;
    }
    FFlushHandles.emplace_back(device, copy);
}

bool TLocationOwner::FlushDeferredWrites() {
    std::vector<std::pair<dev_t, int>> handles;
    handles.swap(FFlushHandles);
    int err = 0;
    for (const auto& h : handles) {
        if (::syncfs(h.second) != 0 && err == 0) err = errno;
        ::close(h.second);
    }
    errno = err;
    return err == 0;
}

TQNZipMaster& TLocationOwner::ZipMaster() {
    if (!FZipMaster) FZipMaster = std::make_unique<TQNZipMaster>(this);
    return *FZipMaster;
}

// --- Hooks with defaults -------------------------------------------------------------------

bool TLocationOwner::Continue() { return !Cancelled() && SyncContinue.load(); }

bool TLocationOwner::StepAllowed() {
    if (SyncProcessMessages) ProcessMessages();
    return Continue();
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

TFMWMemIniFile& TLocationOwner::LookupStore() {
    if (!FLookupStore) FLookupStore = std::make_unique<TFMWMemIniFile>();
    FLookupStore->Clear();
    return *FLookupStore;
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

// --- Block copy ----------------------------------------------------------------------------

bool TLocationOwner::CopyStreamWithProgress(TStream& source, TStream& dest,
                                            const TFileInfoRec& info,
                                            const std::string& message) {
    dest.SetSize(0);
    dest.SetPosition(0);
    int64_t expected = info.Size > 0 ? info.Size : source.Size() - source.Position();
    int64_t wholeBlocks = expected / CopyBlockSize;
    ILocationGauge* gauge = wholeBlocks >= 1 ? CopyGauge() : nullptr;
    TGaugeRange range(gauge, wholeBlocks + 1);
    if (wholeBlocks >= 1) ShowStatus(message, llProgress, false);

    struct TRewind {
        TStream& A;
        TStream& B;
        ~TRewind() {
            try {
                A.SetPosition(0);
                B.SetPosition(0);
            } catch (...) {
            }
        }
    } rewind{source, dest};

    // Between two local files the kernel copies the blocks; anything else (or a kernel or
    // file system that cannot) goes through a buffer.
    auto* in = dynamic_cast<TFileStream*>(&source);
    auto* out = dynamic_cast<TFileStream*>(&dest);
    bool kernelCopy = in != nullptr && out != nullptr;
    bool copiedAny = false;
    std::unique_ptr<char[]> buffer;
    const size_t block = static_cast<size_t>(CopyBlockSize);
    for (;;) {
        if (!StepAllowed()) return false;
        size_t n = 0;
        if (kernelCopy) {
            std::optional<size_t> copied = KernelCopyBlock(*in, *out, block, !copiedAny);
            // Some files (those of /proc, for one) report nothing to the kernel copy but
            // can be read.
            kernelCopy = copied.has_value() && (*copied > 0 || copiedAny);
            if (!kernelCopy) continue;
            n = *copied;
            copiedAny |= n > 0;
        } else {
            if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(block);
            n = source.ReadFull(buffer.get(), block);
            if (n > 0) dest.Write(buffer.get(), n);
        }
        if (n == 0) return true;
        range.Step();
        if (n < block) return true;
    }
}

bool TLocationOwner::CompareContents(TParts& a, TParts& b) {
    std::unique_ptr<TStream> sa = a.OpenReadStream();
    std::unique_ptr<TStream> sb = b.OpenReadStream();
    if (!sa || !sb || sa->Size() != sb->Size()) return false;
    int64_t blocks = sa->Size() / CopyBlockSize;
    TGaugeRange range(blocks != 0 ? CopyGauge() : nullptr, blocks + 1);
    const size_t block = static_cast<size_t>(CopyBlockSize);
    auto ba = std::make_unique_for_overwrite<char[]>(block);
    auto bb = std::make_unique_for_overwrite<char[]>(block);
    for (;;) {
        if (!StepAllowed()) return false;
        size_t na = sa->ReadFull(ba.get(), block);
        size_t nb = sb->ReadFull(bb.get(), block);
        if (na != nb || std::memcmp(ba.get(), bb.get(), na) != 0) return false;
        range.Step();
        if (na < block) return true;
    }
}

// --- Folders -------------------------------------------------------------------------------

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
                if (::mkdir(prefix.c_str(), 0777) != 0) break;  // the write reports why
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

// --- Move and copy -------------------------------------------------------------------------

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
    if (!DirectoryExists(parent)) result.CreatedFolders = ForceFoldersLogged(parent, verbose != 0);

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
        CopyLocation(s, d, copied, verbose, info);
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
    if (!src.IsValid() || !dst.IsValid()) return;
    src.Target->Info = info;
    src.Target->InfoHex = info.ToHex();
    result.CreatedFolders = dst.ForceContainerToExist();
    std::unique_ptr<TStream> stream = src.OpenReadStream();
    if (!stream) return;
    if (!dst.WriteFromStream(*stream, info)) return;
    ShowStatus(label + " " + source + " to " + dest, mode, mode != 0);
    result.Files = 1;
}

// --- Deleting ------------------------------------------------------------------------------

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

// --- Listing -------------------------------------------------------------------------------

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

// --- TSimpleLocationOwner ------------------------------------------------------------------

TSimpleLocationOwner::TSimpleLocationOwner(std::string tempRoot) : FTempRoot(std::move(tempRoot)) {}

TSimpleLocationOwner::~TSimpleLocationOwner() {
    if (!FTempFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(FTempFolder, ec);  // never follows links
    }
}

std::string TSimpleLocationOwner::TempFolder() {
    if (!FTempFolder.empty()) return FTempFolder;
    FTempFolder = MakePrivateTempFolder(FTempRoot.empty() ? XdgCacheHome() + "/Quennick/FindFiles"
                                                          : WithoutTrailingSlash(FTempRoot));
    return FTempFolder;
}

std::string MakePrivateTempFolder(const std::string& root) {
    for (size_t end = root.find('/', 1);; end = root.find('/', end + 1)) {
        std::string prefix = root.substr(0, end);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            int err = errno;
            throw EFileError("Cannot create the folder \"" + prefix + "\": " + SysErrorMessage(err), err);
        }
        if (end == std::string::npos) break;
    }
    std::string tmpl = root + "/" + FormatDateTime("yyyymmddhhnnsszzz", Now()) + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        int err = errno;
        throw EFileError("Cannot create the temporary folder \"" + tmpl + "\": " +
                             SysErrorMessage(err),
                         err);
    }
    return std::string(buf.data()) + "/";
}

void TSimpleLocationOwner::ShowStatus(const std::string& text, int level, bool toMemo) {
    FMessages.push_back({text, level, toMemo});
    ShowEngineStatus(Host(), FStatus, FMemo, text, level, toMemo);
}

TDateTime TSimpleLocationOwner::CurrentTime() { return FFixedTime != 0 ? FFixedTime : Now(); }

bool TSimpleLocationOwner::Logged(std::string_view text) const {
    for (const TOwnerMessage& m : FMessages)
        if (m.ToMemo && m.Text.find(text) != std::string::npos) return true;
    return false;
}

// --- Program-wide owner --------------------------------------------------------------------

namespace {
TLocationOwner* GRegisteredOwner = nullptr;
}

TLocationOwner* DefaultLocationOwner() {
    if (GRegisteredOwner) return GRegisteredOwner;
    static TSimpleLocationOwner fallback;
    return &fallback;
}

void SetDefaultLocationOwner(TLocationOwner* owner) { GRegisteredOwner = owner; }
