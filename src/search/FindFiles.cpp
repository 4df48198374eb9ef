#include "search/FindFiles.h"

#include "locations/DirectoryParts.h"
#include "locations/PBLFileParts.h"
#include "locations/ZipFileParts.h"

#include "common/EngineContract.h"
#include "common/SafeFile.h"
#include "common/SysUtils.h"
#include "platform/XdgDirs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// A search the engine makes for itself (the archives of a pattern, one entry looked up):
// its results are kept, and a caller that handles found entries itself (OnFound, results
// not kept) never sees them.
class TOwnSearch {
public:
    explicit TOwnSearch(TFindFiles& engine)
        : FEngine(engine), FOnFound(std::exchange(engine.OnFound, nullptr)),
          FKeep(std::exchange(engine.KeepResults, true)) {}
    ~TOwnSearch() {
        FEngine.OnFound = std::move(FOnFound);
        FEngine.KeepResults = FKeep;
    }
    TOwnSearch(const TOwnSearch&) = delete;
    TOwnSearch& operator=(const TOwnSearch&) = delete;

private:
    TFindFiles& FEngine;
    std::function<bool(TFindEntry&)> FOnFound;
    bool FKeep;
};


bool HasPrefix(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}


std::string ReplaceStarDotStar(const std::string& masks) {
    std::string out;
    out.reserve(masks.size());
    for (size_t i = 0; i < masks.size();) {
        if (i + 3 <= masks.size() && masks[i] == '*' && masks[i + 1] == '.' && masks[i + 2] == '*') {
            out += '*';
            i += 3;
        } else {
            out += masks[i++];
        }
    }
    return out;
}

// Moves Pos back to the first byte of the UTF-8 character it is in (at most 3 bytes).
size_t CharStart(const char* buf, size_t pos, size_t floor) {
    for (int k = 0; k < 3 && pos > floor && (static_cast<unsigned char>(buf[pos]) & 0xC0) == 0x80; ++k)
        --pos;
    return pos;
}

TFileInfoRec DecodeInfo(const std::string& hex) {
    return TFileInfoRec::FromHex(hex).value_or(TFileInfoRec());
}

// Removes Name in the folder open as ParentFd, and everything in it when it is a folder.
// Symbolic links are removed as links; nothing is ever reached through one.
void RemoveTreeAt(int parentFd, const char* name) {
    int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parentFd, name, 0);
        return;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    for (const std::string& n : names) {
        if (::unlinkat(fd, n.c_str(), 0) != 0 && (errno == EISDIR || errno == EPERM))
            RemoveTreeAt(fd, n.c_str());
    }
    ::closedir(dir);
    ::unlinkat(parentFd, name, AT_REMOVEDIR);
}

std::string ThousandsText(uint64_t v) {
    std::string digits = std::to_string(v);
    std::string out;
    int n = static_cast<int>(digits.size());
    for (int i = 0; i < n; ++i) {
        out += digits[static_cast<size_t>(i)];
        int left = n - 1 - i;
        if (left > 0 && left % 3 == 0) out += ',';
    }
    return out;
}

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string PadRight(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

}  // namespace

std::vector<std::string> SplitAtRuns(std::string_view text, bool sets) {
    std::vector<std::string> out;
    std::string cur;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (sets && c == '[') {
            size_t close = text.find(']', i + 1);
            if (close != std::string_view::npos) {
                cur.append(text.substr(i, close + 1 - i));
                i = close + 1;
                continue;
            }
        }
        if (c == '|' && i + 1 < text.size() && text[i + 1] == '|') {
            while (i < text.size() && text[i] == '|') ++i;
            out.push_back(std::move(cur));
            cur.clear();
            continue;
        }
        cur += c;
        ++i;
    }
    out.push_back(std::move(cur));
    return out;
}

// --- TFindEntry ----------------------------------------------------------------------------

void TFindEntry::SetKnown(std::string location, const TFileInfoRec& info, std::string hex,
                          std::string comment, std::string containerPrefix) {
    FLocation = std::move(location);
    FHaveLocation = true;
    FInfo = info;
    FHaveInfo = true;
    FHex = std::move(hex);
    FHaveHex = FHex.size() == TFileInfoRec::HexSize;
    FComment = std::move(comment);
    FHaveComment = true;
    FContainer = std::move(containerPrefix);
}

void TFindEntry::SetLocal(const std::string* prefix, std::string_view rawName, int dirFd,
                          std::string_view openName, unsigned char dType, TFolderNotes* notes) {
    FPrefix = prefix;
    FRawName = rawName;
    DirFd = dirFd;
    OpenName = openName;
    DType = dType;
    FNotes = notes;
}

void TFindEntry::SetInfo(const TFileInfoRec& info) {
    FInfo = info;
    FHaveInfo = true;
}

const std::string& TFindEntry::Location() {
    if (!FHaveLocation) {
        FHaveLocation = true;
        if (FPrefix == nullptr) return FLocation;
        FLocation.reserve(FPrefix->size() + FRawName.size() + 1);
        FLocation = *FPrefix;
        if (!IsSelf) {
            FLocation.append(FRawName);
            if (IsFolder) FLocation += '/';
        }
    }
    return FLocation;
}

const TFileInfoRec& TFindEntry::Info() {
    if (!FHaveInfo) {
        FHaveInfo = true;
        // As a listing reads it: the entry itself, a link by its target when that is a
        // regular file.
        struct stat st {}, target {};
        if (::fstatat(DirFd, std::string(OpenName).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            FVanished = true;
            FReadError = errno == ENOENT ? 0 : errno;
            return FInfo;
        }
        bool haveTarget = S_ISLNK(st.st_mode) &&
                          ::fstatat(DirFd, std::string(OpenName).c_str(), &target, 0) == 0;
        FInfo = InfoFromStat(st, haveTarget ? &target : nullptr);
    }
    return FInfo;
}

const std::string& TFindEntry::InfoHex() {
    if (!FHaveHex) {
        FHex = Info().ToHex();
        FHaveHex = true;
    }
    return FHex;
}

const std::string& TFindEntry::Comment() {
    if (!FHaveComment) {
        FHaveComment = true;
        if (FNotes != nullptr && !IsFolder) FComment = FNotes->CommentFor(FRawName);
    }
    return FComment;
}

std::string_view TFindEntry::ContainerPrefix() {
    if (FPrefix == nullptr) return FContainer;
    return IsFolder ? std::string_view(Location()) : std::string_view(*FPrefix);
}

// --- TFindFileParam ------------------------------------------------------------------------

void TFindFileParam::SetResultName(TQNMemIniFile& store, const std::string& name) {
    ResultName = name;
    ResultNames = &store.GetSection(name);
    ResultInfos = &store.GetSection(name + "\"FileInfo");
    ResultComments = &store.GetSection(name + "\"Comment");
    StatsList = &store.GetSection(name + "\"Stats");
    ResultNames->Clear();
    ResultInfos->Clear();
    ResultComments->Clear();
    StatsList->Clear();
}

void TFindFileParam::SetMasks(const std::string& masks) {
    Masks = ReplaceStarDotStar(masks);
    MaskList = SplitMasks(Masks);
    FCompiled.clear();
    for (const std::string& m : MaskList) {
        TCompiledMask c;
        c.Text = m;
        try {
            c.Mask.emplace(m);
        } catch (const EMaskException&) {
        }
        if (m == "*") {
            c.Fast = TCompiledMask::TFast::All;
        } else if (m.size() > 1 && m[0] == '*' &&
                   m.find_first_of("*?[", 1) == std::string::npos &&
                   std::all_of(m.begin(), m.end(), [](char ch) {
                       return static_cast<unsigned char>(ch) < 0x80;
                   })) {
            c.Fast = TCompiledMask::TFast::Suffix;
            c.Suffix = LowerCase(std::string_view(m).substr(1));
        }
        FCompiled.push_back(std::move(c));
    }
}

bool TFindFileParam::MatchesMasks(std::string_view subject) {
    for (const TCompiledMask& m : FCompiled) {
        switch (m.Fast) {
        case TCompiledMask::TFast::All:
            return true;
        case TCompiledMask::TFast::Suffix: {
            if (subject.size() < m.Suffix.size()) break;
            std::string_view tail = subject.substr(subject.size() - m.Suffix.size());
            bool same = true;
            for (size_t k = 0; k < tail.size() && same; ++k) same = LoCaseChar(tail[k]) == m.Suffix[k];
            if (same) return true;
            break;
        }
        case TCompiledMask::TFast::None:
            if (SameText(subject, m.Text)) return true;
            if (!m.Mask) {
                if (!FReportedInvalid && Engine != nullptr) {
                    FReportedInvalid = true;
                    Engine->ShowStatus(std::string(subject) + " has an invalid mask (*,?,[])",
                                       llProgress, true);
                }
                return false;
            }
            if (m.Mask->Matches(subject)) return true;
            break;
        }
    }
    return false;
}

// --- TFindFiles: life ----------------------------------------------------------------------

TFindFiles::TFindFiles(ILocationGauge* mainGauge, ILogMemo* logMemo, IStatusControl* statusLine,
                       ILocationGauge* copyGauge)
    : ScratchBackup1(std::make_unique<TBackupFileParts>(this)),
      ScratchBackup2(std::make_unique<TBackupFileParts>(this)),
      FMainGauge(mainGauge), FLogMemo(logMemo), FStatusLine(statusLine), FCopyGauge(copyGauge),
      FStore(&ResultStore) {}

TFindFiles::~TFindFiles() {
    if (FTempFolderToRemove.empty()) return;
    const std::string folder = WithoutTrailingSlash(FTempFolderToRemove);
    const size_t slash = folder.rfind('/');
    const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
    int pfd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (pfd < 0) return;
    RemoveTreeAt(pfd, folder.substr(slash + 1).c_str());
    ::close(pfd);
}

std::string TFindFiles::TempFolder() {
    if (!FTempFolder.empty()) return FTempFolder;
    FTempFolder = MakePrivateTempFolder(XdgCacheHome() + "/Quennick/FindFiles");
    FTempFolderToRemove = FTempFolder;
    return FTempFolder;
}

void TFindFiles::ShowStatus(const std::string& text, int level, bool toMemo) {
    ShowEngineStatus(Host(), FStatusLine, FLogMemo, text, level, toMemo);
}

void TFindFiles::ProcessMessages() {
    if (OnProcessMessages) OnProcessMessages();
}

// --- Looking entries up --------------------------------------------------------------------

bool TFindFiles::FindOne(const std::string& location, TFileInfoRec& info) {
    return FindOne(location, nullptr, info);
}

bool TFindFiles::FindOne(const std::string& location, TQNMemIniFile* store, TFileInfoRec& info) {
    info = TFileInfoRec();
    std::unique_ptr<TURLParts> parts = CreateParts(this, location);
    auto* dir = dynamic_cast<TDirectoryParts*>(parts.get());
    if (dir != nullptr) {
        // A local entry is looked up directly: the same record its folder's listing
        // gives, without listing the folder.
        if (!dir->IsValid() || dir->NameHasWildcards || !dir->VirtualPath.empty()) return false;
        const std::string path = dir->GetLocation();
        TFileInfoRec found;
        bool ok = false;
        if (dir->Name.empty()) {
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                found = InfoFromStat(st, nullptr);
                ok = true;
            }
        } else {
            ok = LocalInfoOf(path, found) && !found.IsFolder();
        }
        if (store != nullptr) {
            TFindFileParam p;
            p.SetResultName(*store, "Results");
            if (ok) {
                p.ResultNames->Add(path);
                p.ResultInfos->Add(found.ToHex());
                p.ResultComments->Add(std::string());
            }
            p.StatsList->Add("FolderCount=0");
            p.StatsList->Add("FileSizeTotal=" + IntToStr(ok ? found.Size : 0));
            p.StatsList->Add("FileCount=" + IntToStr(ok && !found.IsFolder() ? 1 : 0));
        }
        if (ok) info = found;
        return ok;
    }
    if (!parts->IsValid()) return false;
    TFMWMemIniFile own;
    TQNMemIniFile& target = store ? *store : own;
    TOwnSearch quiet(*this);
    FindFiles(location, "", false, nullptr, "Results", "", "", &target, 0);
    const TQNStringList& names = target.GetSection("Results");
    const TQNStringList& infos = target.GetSection("Results\"FileInfo");
    if (infos.Count() != 1 || names.Count() != 1 || !SameText(names[0], parts->GetLocation()))
        return false;
    info = DecodeInfo(infos[0]);
    return true;
}

bool TFindFiles::EntryExists(const std::string& location) {
    std::unique_ptr<TURLParts> parts = CreateParts(this, location);
    if (dynamic_cast<TDirectoryParts*>(parts.get()) != nullptr)
        return TLocationOwner::EntryExists(location);
    if (!parts->IsValid()) return false;
    TFMWMemIniFile own;
    TOwnSearch quiet(*this);
    const TQNStringList& found =
        FindFiles(location, "", false, nullptr, "Results", "", "", &own, fsFolders);
    const std::string wanted = parts->GetLocation();
    for (const std::string& f : found.ToVector())
        if (SameText(f, wanted)) return true;
    return false;
}

const TQNStringList& TFindFiles::FindEntries(const std::string& location,
                                             const std::string& resultName,
                                             TQNMemIniFile* store) {
    TOwnSearch quiet(*this);
    return FindFiles(location, "", false, nullptr, resultName, "", "",
                     store ? store : &LookupStore(), 0);
}

// --- The search ----------------------------------------------------------------------------

TQNStringList& TFindFiles::FindFiles(const std::string& masks, const std::string& folders,
                                     bool logFolders, const TFindFileAdvancedSearch* filter,
                                     const std::string& resultName,
                                     const std::string& textPattern,
                                     const std::string& namePattern, TQNMemIniFile* store,
                                     uint8_t flags, TFindEntryEvent onEntry) {
    struct TRestore {
        TQNMemIniFile*& Ref;
        TQNMemIniFile* Saved;
        ~TRestore() { Ref = Saved; }
    } restore{FStore, FStore};

    TFindFileParam p;
    p.Engine = this;
    // Patterns are compiled before anything is touched, so a bad one changes nothing.
    p.NamePattern = namePattern;
    p.TextPattern = textPattern;
    p.NameRegex = TQNRegExpr(namePattern, "gsri-mx");
    p.TextRegex = TQNRegExpr(textPattern, "gsri-mx");
    if (!namePattern.empty()) p.NameRegex.Compile();
    if (!textPattern.empty()) p.TextRegex.Compile();

    if (store == nullptr) {
        FStore = &ResultStore;
        // A search started while another one runs (from its callback) must not pull the
        // listings away that the running one is reading.
        if (FRunning == 0) {
            ClearResults();
            CleanupTempFolder();
        }
    } else {
        FStore = store;
    }
    struct TRunning {
        int& Count;
        TRunning(int& c) : Count(c) { ++Count; }
        ~TRunning() { --Count; }
    } running{FRunning};
    // Names may begin or end with blanks on Linux: the text is used as given.
    p.Locations = folders;
    std::string m = masks;
    if (!folders.empty()) {
        m = CombineFoldersAndMasks(folders, masks);
        p.Locations.clear();
    }
    p.Masks = m;
    p.OnEntry = std::move(onEntry);
    p.Flags = flags;
    p.SetResultName(*FStore, resultName);
    p.Filter = filter;
    p.LogFolders = logFolders;
    p.VirtualPathFilter.clear();

    FindFileMain(p);
    FLastIncomplete = p.Incomplete();
    FLastUnreadable = p.UnreadableCount;
    return *p.ResultNames;
}

std::string TFindFiles::CombineFoldersAndMasks(const std::string& folders,
                                               const std::string& masks) {
    std::vector<std::string> f = SplitAtRuns(folders, false);
    std::vector<std::string> m = SplitAtRuns(masks, true);
    std::string out;
    for (size_t i = 0; i < f.size(); ++i) {
        // One separator after the folder ("/" stays "/", not the "//" of a share).
        TBackupFileParts parts(this);
        parts.SetLocation(!f[i].empty() && f[i].back() == '/' ? f[i] : f[i] + "/");
        if (!out.empty()) out += LocationSeparator;
        out += parts.GetLocation() + (i < m.size() ? m[i] : m[0]);
    }
    return out;
}

void TFindFiles::FindFileMain(TFindFileParam& p) {
    if (p.Locations.empty()) p.Locations = p.Masks;
    if (p.Flags & fsFoldersWithFiles) p.Flags |= fsFolders;
    if (p.Flags & fsZipArchives) {
        std::string first = p.Locations.substr(0, p.Locations.find('|'));
        TBackupFileParts parts(this);
        parts.SetLocation(first);
        if (dynamic_cast<TZipFileParts*>(parts.Target.get()) == nullptr)
            p.Locations += std::string(LocationSeparator) + "zip://" + parts.Target->Path +
                           "*.zip/" + parts.Target->Name;
    }
    p.LocationList = SplitAtRuns(p.Locations, true);
    for (const std::string& location : p.LocationList) {
        if (p.Cancelled) break;
        SearchLocation(p, location);
    }
    TQNStringList& stats = *p.StatsList;
    stats.Clear();
    stats.Add("FolderCount=" + IntToStr(p.FolderCount));
    stats.Add("FileSizeTotal=" + IntToStr(p.FileSizeTotal));
    stats.Add("FileCount=" + IntToStr(p.FileCount));
    if (p.Incomplete()) {
        stats.Add("Incomplete=1");
        stats.Add("UnreadableCount=" + IntToStr(p.UnreadableCount));
    }
}

void TFindFiles::SearchLocation(TFindFileParam& p, const std::string& location) {
    std::unique_ptr<TURLParts> parts = CreateParts(this, location);
    if (!parts->IsValid()) return;
    std::string masks = parts->Name;
    if (auto* zip = dynamic_cast<TZipFileParts*>(parts.get())) masks = zip->MemberFolder + masks;
    p.SetMasks(masks);
    p.VirtualPathFilter.clear();
    if (!parts->VirtualPath.empty()) {
        p.VirtualPathFilter = parts->VirtualPath;
        parts->Path += parts->VirtualPath;
        parts->VirtualPath.clear();
    }
    parts->Name.clear();
    parts->BaseName.clear();
    parts->Extension.clear();
    parts->NameHasWildcards = false;
    const int firstIndex = p.ResultNames->Count();
    const int folderCountBefore = p.FolderCount;

    if (parts->PathHasWildcards && dynamic_cast<TDirectoryParts*>(parts.get()) == nullptr) {
        // An archive pattern such as zip:///x/*.zip/readme.txt: the archives that match
        // it are found first and each is searched.
        std::string path = parts->Path;
        while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
        TDirectoryParts archives(this);
        archives.SetLocation(path);
        TQNStringList found;
        TQNStringList foundInfos;
        {
            TOwnSearch own(*this);
            TQNStringList& names =
                FindFiles(archives.Name, archives.Path, p.LogFolders, nullptr, "SubNames", "", "",
                          FStore, uint8_t(p.Flags & fsRecurse));
            found = names;
            foundInfos = FStore->GetSection("SubNames\"FileInfo");
        }
        for (const char* suffix : {"", "\"FileInfo", "\"Comment", "\"Stats"})
            FStore->EraseSection(std::string("SubNames") + suffix);
        for (int i = 0; i < found.Count() && !p.Cancelled; ++i) {
            std::unique_ptr<TURLParts> each = parts->PartsClass()(this);
            each->SetLocation(parts->Scheme + found[i] + "/",
                              i < foundInfos.Count() ? foundInfos[i] : std::string());
            SearchFolder(p, *each, 0);
        }
    } else {
        SearchFolder(p, *parts, 0);
    }
    if ((p.Flags & fsFoldersWithFiles) && KeepResults)
        FilterFoldersContainingFoundFiles(p, *parts, firstIndex, folderCountBefore);
}

void TFindFiles::Unreadable(TFindFileParam& p, const std::string& message) {
    ++p.UnreadableCount;
    ShowStatus(message, llWarning, true);
}

bool TFindFiles::EnterFolder(TFindFileParam& p, uint64_t dev, uint64_t ino,
                             const std::string& path) {
    for (const auto& id : p.OpenFolders) {
        if (id.first == dev && id.second == ino) {
            Unreadable(p, "File system loop detected: " + path +
                              " is a folder that is already being searched.");
            return false;
        }
    }
    p.OpenFolders.emplace_back(dev, ino);
    return true;
}

namespace {

struct TFolderLeave {
    TFindFileParam& Param;
    bool Active = false;
    ~TFolderLeave() {
        if (Active) Param.OpenFolders.pop_back();
    }
};

struct TFdCloser {
    int Fd;
    ~TFdCloser() {
        if (Fd >= 0) ::close(Fd);
    }
};

}  // namespace

void TFindFiles::SearchFolder(TFindFileParam& p, TURLParts& folder, int depth) {
    const bool local = dynamic_cast<TDirectoryParts*>(&folder) != nullptr;
    if (local && !CacheListings) {
        WalkLocalFolder(p, AT_FDCWD, std::string(), folder.Path, depth);
        return;
    }
    if (!StepAllowed()) {
        p.Cancelled = true;
        return;
    }
    const std::string location = folder.GetLocation();
    if (p.LogFolders) ShowStatus("Searching " + location + "...", llProgress, false);
    TFolderLeave leave{p};
    if (local) {
        // A folder listed by its parent that is no longer a folder (removed, replaced by
        // a file or a link) cannot be searched; a folder reached again through a bind
        // mount is not searched twice.
        const std::string path = WithoutTrailingSlash(folder.Path);
        struct stat st {};
        int rc = depth > 0 ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st);
        if (rc != 0 || !S_ISDIR(st.st_mode)) {
            if (depth > 0) {
                Unreadable(p, "Cannot list folder \"" + location + "\": it is no longer a folder.");
                return;
            }
        } else {
            if (!EnterFolder(p, uint64_t(st.st_dev), uint64_t(st.st_ino), location)) return;
            leave.Active = true;
        }
    }

    try {
        folder.ListContents();
    } catch (const ELocationError&) {
        EraseListing(FStore, location);
        Unreadable(p, "Cannot search " + location +
                          ": this kind of location is not yet available.");
        return;
    } catch (const std::exception& e) {
        EraseListing(FStore, location);
        Unreadable(p, e.what());
        return;
    }
    const TQNStringList& names = folder.Names();
    const TQNStringList& infos = folder.Infos();
    const TQNStringList& comments = folder.Comments();
    const TQNStringList& stats = folder.Stats();
    if (local && depth > 0 && names.Empty()) {
        EraseListing(FStore, location);
        Unreadable(p, "Cannot list folder \"" + location + "\": it is no longer a folder.");
        return;
    }
    folder.Name.clear();
    p.CurrentFolder = &folder;
    const std::string prefix = folder.GetContainerPrefix();

    int only = -1;
    if (!(p.Flags & fsRecurse) && !p.Masks.empty()) {
        if (local) {
            for (int i = 0; i < names.Count(); ++i)
                if (names[i] == p.Masks) {
                    only = i;
                    break;
                }
        } else {
            only = names.IndexOf(p.Masks);
        }
    }
    if (only >= 0) {
        ExamineEntry(p, folder, only, depth, local, prefix, names, infos, comments);
    } else {
        for (int i = 0; i < names.Count() && !p.Cancelled; ++i)
            ExamineEntry(p, folder, i, depth, local, prefix, names, infos, comments);
    }
    if (!(p.Flags & fsRecurse) && (p.Flags & fsFolders))
        p.FolderCount += StrToIntDef(stats.Values("FolderCount"), 0);
    if (stats.Values("FileCount") == "-1") EraseListing(FStore, location);
}

void TFindFiles::Accept(TFindFileParam& p, TFindEntry& e) {
    if (OnFound && !OnFound(e)) return;
    if (KeepResults || e.HaveInfo()) p.FileSizeTotal += e.Info().Size;
    if (!e.IsFolder) ++p.FileCount;
    if (!KeepResults) return;
    p.ResultNames->Add(e.Location());
    p.ResultInfos->Add(e.InfoHex());
    p.ResultComments->Add(e.Comment());
}

void TFindFiles::ExamineEntry(TFindFileParam& p, TURLParts& folder, int index, int depth,
                              bool local, const std::string& prefix, const TQNStringList& names,
                              const TQNStringList& infos, const TQNStringList& comments) {
    const std::string& name = names[index];
    const std::string noText;
    const std::string& hex = index < infos.Count() ? infos[index] : noText;
    const std::string& comment = index < comments.Count() ? comments[index] : noText;
    TFindEntry e;
    e.InRoot = depth == 0;
    std::unique_ptr<TURLParts> parts;
    std::string subject;
    if (local) {
        e.IsFolder = !name.empty() && name.back() == '/';
        e.IsSelf = name == "./";
        std::string location = e.IsSelf ? prefix : prefix + name;
        e.SetKnown(location, DecodeInfo(hex), hex, comment, e.IsFolder ? location : prefix);
        e.Name = e.IsFolder ? std::string_view() : std::string_view(name);
        e.DirFd = AT_FDCWD;
        e.OpenName = e.Location();
        e.DType = DT_UNKNOWN;
    } else {
        parts = folder.PartsClass()(this);
        parts->SetLocation(prefix + name, hex, comment);
        parts->Parent = &folder;
        parts->ParentIndex = index;
        e.IsFolder = parts->Name.empty() || parts->Info.IsFolder();
        e.IsSelf = parts->IsSelfEntry;
        e.SetKnown(parts->GetLocation(), parts->Info, hex, comment, parts->GetContainerPrefix());
        subject = parts->Name;
        if (auto* zip = dynamic_cast<TZipFileParts*>(parts.get())) subject = zip->MemberFolder + subject;
        e.Name = subject;
        e.Parts = parts.get();
    }
    bool descend = true;
    // An archive lists all its members at once, whatever their folders: its folder
    // members are reported, never searched again.
    if (!local && dynamic_cast<TZipFileParts*>(parts.get())) descend = false;
    const bool accepted = FileMatches(p, e, descend);
    if (FMainGauge) FMainGauge->AddProgress(1);
    if (accepted) Accept(p, e);
    if ((p.Flags & fsRecurse) && e.IsFolder && descend && !e.IsSelf && !p.Cancelled) {
        std::unique_ptr<TURLParts> sub;
        if (local) {
            sub = TDirectoryParts::Create(this);
            sub->SetLocation(e.Location());
        } else {
            sub = std::move(parts);
        }
        sub->Parent = &folder;
        sub->ParentIndex = index;
        ++p.FolderCount;
        SearchFolder(p, *sub, depth + 1);
        p.CurrentFolder = &folder;
    }
}

namespace {

// The getdents64 record layout.
struct TDirent64 {
    uint64_t Ino;
    int64_t Off;
    unsigned short RecLen;
    unsigned char Type;
    char Name[1];
};

// Folders deeper than this are opened by their full path, so that a deep tree never
// holds more than this many descriptors open.
constexpr int kMaxOpenDepth = 256;

}  // namespace

// One local folder being walked: its names (in one arena) with their types, and how its
// entries are opened.
struct TFindFiles::TLocalFolder {
    struct TItem {
        uint32_t Off;
        uint32_t Len;
        unsigned char Type;
    };
    TLocalFolder(const std::string& path, int depth) : Path(path), Depth(depth) {}
    const std::string& Path;
    int Depth = 0;
    struct stat Self {};
    std::string Arena;
    std::vector<TItem> Items;
    int DirFd = AT_FDCWD;  // the folder's descriptor, or AT_FDCWD when reached by full paths
    bool KeepFd = true;
    TFolderNotes* Notes = nullptr;
    std::string FullName;  // scratch for full paths
    std::string_view NameOf(const TItem& it) const {
        return std::string_view(Arena).substr(it.Off, it.Len);
    }
};

void TFindFiles::WalkLocalFolder(TFindFileParam& p, int parentFd, const std::string& openName,
                                 const std::string& path, int depth) {
    if (!StepAllowed()) {
        p.Cancelled = true;
        return;
    }
    if (p.LogFolders) ShowStatus("Searching " + path + "...", llProgress, false);
    TLocalFolder f(path, depth);
    const int fd = OpenLocalFolder(p, parentFd, openName, path, depth, f.Self);
    if (fd < 0) return;
    TFdCloser closer{fd};
    TFolderLeave leave{p};
    if (!EnterFolder(p, uint64_t(f.Self.st_dev), uint64_t(f.Self.st_ino), path)) return;
    leave.Active = true;
    if (!ReadLocalNames(p, fd, f)) return;
    TypeAndSortLocalNames(fd, f);
    TFolderNotes notes(this, path);
    for (const auto& it : f.Items)
        if (it.Type != DT_DIR) notes.AddName(f.NameOf(it));
    f.Notes = notes.Empty() ? nullptr : &notes;

    // Deep folders give their descriptor back and are reached by full paths.
    f.KeepFd = depth < kMaxOpenDepth;
    f.DirFd = fd;
    if (!f.KeepFd) {
        ::close(fd);
        closer.Fd = -1;
        f.DirFd = AT_FDCWD;
    }

    // A plain file name without recursion is looked up, not searched for.
    int only = -1;
    if (!(p.Flags & fsRecurse) && !p.Masks.empty()) {
        for (size_t i = 0; i < f.Items.size(); ++i)
            if (f.Items[i].Type != DT_DIR && f.NameOf(f.Items[i]) == p.Masks) {
                only = int(i);
                break;
            }
    }
    if (only >= 0) {
        ExamineLocalEntry(p, f, only);
    } else {
        ExamineLocalEntry(p, f, -1);
        for (size_t i = 0; i < f.Items.size() && !p.Cancelled; ++i) ExamineLocalEntry(p, f, int(i));
    }
    if (!(p.Flags & fsRecurse) && (p.Flags & fsFolders))
        for (const auto& it : f.Items) p.FolderCount += it.Type == DT_DIR ? 1 : 0;
}

int TFindFiles::OpenLocalFolder(TFindFileParam& p, int parentFd, const std::string& openName,
                                const std::string& path, int depth, struct stat& self) {
    // The root may be reached through a link; every folder below only as a folder.
    int fd = depth == 0 || parentFd == AT_FDCWD
                 ? ::open(depth == 0 ? path.c_str() : openName.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | (depth == 0 ? 0 : O_NOFOLLOW))
                 : ::openat(parentFd, openName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (depth == 0 && (err == ENOENT || err == ENOTDIR)) return -1;  // nothing there to find
        if (depth > 0 && (err == ENOENT || err == ENOTDIR || err == ELOOP))
            Unreadable(p, "Cannot list folder \"" + path + "\": it is no longer a folder.");
        else
            Unreadable(p, "Cannot list folder \"" + path + "\": " + SysErrorMessage(err));
        return -1;
    }
    if (::fstat(fd, &self) != 0) {
        Unreadable(p, "Cannot list folder \"" + path + "\": " + SysErrorMessage(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

bool TFindFiles::ReadLocalNames(TFindFileParam& p, int fd, TLocalFolder& f) {
    // The names, read in large blocks.
    if (FDirBuffer.size() < 256 * 1024) FDirBuffer.resize(256 * 1024);
    for (;;) {
        long n = ::syscall(SYS_getdents64, fd, FDirBuffer.data(), FDirBuffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            Unreadable(p, "Cannot list folder \"" + f.Path + "\": " + SysErrorMessage(errno));
            return false;
        }
        if (n == 0) return true;
        for (long off = 0; off < n;) {
            const auto* d = reinterpret_cast<const TDirent64*>(FDirBuffer.data() + off);
            off += d->RecLen;
            const char* nm = d->Name;
            if (nm[0] == '.' && (nm[1] == 0 || (nm[1] == '.' && nm[2] == 0))) continue;
            size_t len = std::strlen(nm);
            f.Items.push_back({uint32_t(f.Arena.size()), uint32_t(len), d->Type});
            f.Arena.append(nm, len);
        }
    }
}

void TFindFiles::TypeAndSortLocalNames(int fd, TLocalFolder& f) {
    for (auto& it : f.Items) {
        if (it.Type != DT_UNKNOWN) continue;
        struct stat st {};
        std::string nm(f.NameOf(it));
        if (::fstatat(fd, nm.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            it.Type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK
                      : S_ISREG(st.st_mode) ? DT_REG : DT_FIFO;
    }
    // The listing's order: the others sorted ignoring case, ties byte-wise.
    std::sort(f.Items.begin(), f.Items.end(), [&](const auto& a, const auto& b) {
        std::string_view x = f.NameOf(a), y = f.NameOf(b);
        int c = CompareText(x, y);
        return c != 0 ? c < 0 : CompareStr(x, y) < 0;
    });
}

void TFindFiles::ExamineLocalEntry(TFindFileParam& p, TLocalFolder& f, int index) {
    TFindEntry e;
    e.InRoot = f.Depth == 0;
    if (index < 0) {  // the folder itself
        e.IsFolder = e.IsSelf = true;
        e.SetLocal(&f.Path, std::string_view(), f.DirFd, ".", DT_DIR, nullptr);
        e.SetInfo(InfoFromStat(f.Self, nullptr));
    } else {
        const auto& it = f.Items[size_t(index)];
        std::string_view nm = f.NameOf(it);
        e.IsFolder = it.Type == DT_DIR;
        e.Name = e.IsFolder ? std::string_view() : nm;
        std::string_view open = nm;
        if (!f.KeepFd) {
            f.FullName = f.Path;
            f.FullName.append(nm);
            open = f.FullName;
        }
        e.SetLocal(&f.Path, nm, f.DirFd, open, it.Type, f.Notes);
    }
    bool descend = true;
    const bool accepted = FileMatches(p, e, descend);
    if (FMainGauge) FMainGauge->AddProgress(1);
    if (accepted) Accept(p, e);
    if ((p.Flags & fsRecurse) && e.IsFolder && descend && !e.IsSelf && !p.Cancelled) {
        ++p.FolderCount;
        std::string sub = e.Location();
        WalkLocalFolder(p, f.DirFd, f.KeepFd ? std::string(e.OpenName) : sub, sub, f.Depth + 1);
    }
}

bool TFindFiles::FileMatches(TFindFileParam& p, TFindEntry& e, bool& descend) {
    if (!Continue()) {
        p.Cancelled = true;
        return false;
    }
    bool match = true;
    if (!e.IsFolder)
        match = p.MatchesMasks((p.Flags & fsMaskFullLocation) ? std::string_view(e.Location()) : e.Name);
    if (match && !p.NamePattern.empty()) {
        bool found = p.NameRegex.ScanText(e.Location()) == TQNRegExpr::TScanResult::Match;
        match = (p.Flags & fsNameMustMatch) ? found : !found;
    }
    if (match && !p.VirtualPathFilter.empty()) {
        match = PosText(p.VirtualPathFilter, e.ContainerPrefix()) > 0;
        if (e.IsFolder && !match) descend = false;
    }
    if (e.IsFolder) {
        // Folders are decided by the options alone: with masks, only when folders are
        // reported (a searched root once, through its own entry); without masks exactly
        // the folders' own entries, so that every folder of a tree is listed once.
        if (!p.Masks.empty()) match = (p.Flags & fsFolders) && (!e.IsSelf || e.InRoot);
        else match = e.IsSelf;
    } else {
        if (match && p.Filter) {
            const TFindFileAdvancedSearch& f = *p.Filter;
            const TFileInfoRec& info = e.Info();
            if ((f.MinTime && info.Time < f.MinTime) || (f.MaxTime && info.Time > f.MaxTime) ||
                (f.MinSize && info.Size < f.MinSize) || (f.MaxSize && info.Size > f.MaxSize) ||
                (!f.CommentContains.empty() && PosText(f.CommentContains, e.Comment()) == 0))
                match = false;
        }
        // The content is read last, only for entries that pass every other test.
        if (match && !p.TextPattern.empty()) match = TextMatches(p, e);
    }
    if (match && (KeepResults || p.OnEntry)) {
        e.Info();
        if (e.Vanished()) {
            // Gone since its folder was read: not found. Anything else is reported.
            if (e.ReadError() != 0)
                Unreadable(p, "Cannot read the information of \"" + e.Location() + "\": " +
                                  SysErrorMessage(e.ReadError()) + ".");
            match = false;
        }
    }
    if (p.OnEntry) {
        if (match) {
            if (p.OnEntry(e.Location(), e.Info()) < 0) match = false;
        } else {
            p.OnEntry(std::string(), Template);
        }
    }
    return match;
}

// --- Text search ---------------------------------------------------------------------------

bool TFindFiles::TextMatches(TFindFileParam& p, TFindEntry& e) {
    TTextResult r;
    if (e.Parts == nullptr) {
        r = SearchLocalFile(p, e);
    } else {
        try {
            std::unique_ptr<TStream> stream = e.Parts->OpenReadStream();
            if (!stream) {
                Unreadable(p, "Cannot read \"" + e.Location() + "\" for the text search.");
                return false;
            }
            r = SearchStream(p, *stream, e.Location());
        } catch (const ELocationError&) {
            Unreadable(p, "Cannot search " + e.Location() +
                              ": this kind of location is not yet available.");
            return false;
        } catch (const std::exception& ex) {
            Unreadable(p, "Cannot read \"" + e.Location() + "\" for the text search: " + ex.what());
            return false;
        }
    }
    switch (r) {
    case TTextResult::Found:
        return (p.Flags & fsTextMustMatch) != 0;
    case TTextResult::NotFound:
        return (p.Flags & fsTextMustMatch) == 0;
    case TTextResult::NotAFile:
    case TTextResult::Unreadable:
    case TTextResult::Failed:
    case TTextResult::Cancelled:
        break;
    }
    return false;
}

TFindFiles::TTextResult TFindFiles::SearchLocalFile(TFindFileParam& p, TFindEntry& e) {
    // Only regular files are opened. An entry the listing saw as a regular file is opened
    // without following links and without blocking, and read only when it still is one;
    // anything else (a link, or a type the listing did not tell) is looked at first, and
    // FIFOs, sockets, devices and links to folders are never opened.
    const std::string name(e.OpenName);
    auto fail = [&](int err) {
        Unreadable(p, "Cannot read \"" + e.Location() + "\" for the text search: " +
                          SysErrorMessage(err) + ".");
        return TTextResult::Unreadable;
    };
    struct stat st {};
    int fd = -1;
    if (e.DType == DT_REG) {
        fd = ::openat(e.DirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        if (fd < 0) return fail(errno);
        if (::fstat(fd, &st) != 0) {
            int err = errno;
            ::close(fd);
            return fail(err);
        }
        if (!S_ISREG(st.st_mode)) {
            ::close(fd);
            return TTextResult::NotAFile;
        }
        e.SetInfo(InfoFromStat(st, nullptr));
    } else {
        if (::fstatat(e.DirFd, name.c_str(), &st, 0) != 0) return fail(errno);
        if (!S_ISREG(st.st_mode)) return TTextResult::NotAFile;
        fd = ::openat(e.DirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return fail(errno);
        struct stat now {};
        if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode) || now.st_dev != st.st_dev ||
            now.st_ino != st.st_ino) {
            ::close(fd);
            Unreadable(p, "Cannot read \"" + e.Location() +
                              "\" for the text search: it changed while it was opened.");
            return TTextResult::Unreadable;
        }
    }
    TFdCloser closer{fd};
    if (st.st_size >= CopyBlockSize)
        ShowStatus("Reading " + e.Location() + " in preparation of text compare.", llProgress, false);
    int readError = 0;
    TTextResult r = ScanPieces(
        p,
        [&](char* buf, size_t count) -> int64_t {
            for (;;) {
                ssize_t n = ::read(fd, buf, count);
                if (n >= 0) return n;
                if (errno == EINTR) continue;
                readError = errno;
                return -1;
            }
        },
        static_cast<int64_t>(st.st_size), e.Location());
    if (r == TTextResult::Unreadable) return fail(readError);
    return r;
}

TFindFiles::TTextResult TFindFiles::SearchStream(TFindFileParam& p, TStream& stream,
                                                 const std::string& location) {
    int64_t size = -1;
    try {
        size = stream.Size() - stream.Position();
    } catch (const std::exception&) {
    }
    if (size >= CopyBlockSize)
        ShowStatus("Reading " + location + " in preparation of text compare.", llProgress, false);
    std::string error;
    TTextResult r = ScanPieces(
        p,
        [&](char* buf, size_t count) -> int64_t {
            try {
                return static_cast<int64_t>(stream.Read(buf, count));
            } catch (const std::exception& e) {
                error = e.what();
                return -1;
            }
        },
        size, location);
    if (r == TTextResult::Unreadable)
        Unreadable(p, "Cannot read \"" + location + "\" for the text search: " + error);
    return r;
}

TFindFiles::TTextResult TFindFiles::ScanPieces(TFindFileParam& p,
                                               const std::function<int64_t(char*, size_t)>& read,
                                               int64_t knownSize, const std::string& location) {
    // A nested search (from an entry callback) gets a buffer of its own.
    std::vector<char> ownBuffer;
    std::vector<char>* buffer = &FTextBuffer;
    if (FTextBufferInUse) buffer = &ownBuffer;
    if (buffer->size() < TextWindowSize) buffer->resize(TextWindowSize);
    struct TInUse {
        bool& Flag;
        bool Was;
        ~TInUse() { Flag = Was; }
    } inUse{FTextBufferInUse, FTextBufferInUse};
    FTextBufferInUse = true;

    // Context kept before the next window's scan start for look-behinds and "\b".
    constexpr size_t kContext = 4096;
    char* buf = buffer->data();
    size_t len = 0;        // bytes in the buffer
    size_t start = 0;      // where matching begins in the buffer
    int64_t total = 0;     // bytes read from the file
    for (;;) {
        const size_t before = len;
        bool eof = false;
        while (len < TextWindowSize) {
            if (knownSize >= 0 && total >= knownSize && len > before) {
                eof = true;  // the whole file as it was when opened
                break;
            }
            int64_t n = read(buf + len, TextWindowSize - len);
            if (n < 0) return TTextResult::Unreadable;
            if (n == 0) {
                eof = true;
                break;
            }
            len += static_cast<size_t>(n);
            total += n;
        }
        // Zero bytes are searched as the byte 1. Text rarely holds one; from the first one
        // on, a branch-free pass (which the compiler vectorises) is quicker than looking
        // for each.
        if (char* z = static_cast<char*>(std::memchr(buf + before, 0, len - before)))
            for (char* end = buf + len; z < end; ++z) *z = static_cast<char>(*z | (*z == 0));
        const std::string_view text(buf, len);
        try {
            if (eof)
                return p.TextRegex.ScanText(text, start, false) == TQNRegExpr::TScanResult::Match
                           ? TTextResult::Found
                           : TTextResult::NotFound;
            size_t partial = 0;
            TQNRegExpr::TScanResult r = p.TextRegex.ScanText(text, start, true, &partial);
            if (r == TQNRegExpr::TScanResult::Match) return TTextResult::Found;
            if (!StepAllowed()) {
                p.Cancelled = true;
                return TTextResult::Cancelled;
            }
            // The next window retries the positions from which a match may still
            // continue, but at most the last TextOverlap bytes.
            size_t keepScan = len;
            if (r == TQNRegExpr::TScanResult::Partial)
                keepScan = std::max(partial, len - TextOverlap);
            if (keepScan < len) keepScan = CharStart(buf, keepScan, start);
            size_t keepFrom = keepScan > kContext ? keepScan - kContext : 0;
            keepFrom = CharStart(buf, keepFrom, 0);
            std::memmove(buf, buf + keepFrom, len - keepFrom);
            len -= keepFrom;
            start = keepScan - keepFrom;
        } catch (const ERegExpr& e) {
            Unreadable(p, "Cannot search the text of \"" + location + "\": " + e.what());
            return TTextResult::Failed;
        }
    }
}

// --- Folders containing found files --------------------------------------------------------

void TFindFiles::FilterFoldersContainingFoundFiles(TFindFileParam& p, TURLParts& root,
                                                   int firstIndex, int folderCountBefore) {
    TQNStringList& names = *p.ResultNames;
    TQNStringList& infos = *p.ResultInfos;
    TQNStringList& comments = *p.ResultComments;
    const bool noFolders = dynamic_cast<TZipFileParts*>(&root) != nullptr ||
                           dynamic_cast<TPBLFileParts*>(&root) != nullptr;
    const std::string rootPrefix = root.GetContainerPrefix();
    std::vector<int> files;
    std::unordered_map<std::string, int> folderAt;
    for (int i = firstIndex; i < names.Count(); ++i) {
        TFileInfoRec info = i < infos.Count() ? DecodeInfo(infos[i]) : TFileInfoRec();
        const std::string& loc = names[i];
        if (info.IsFolder() || (!loc.empty() && loc.back() == '/')) folderAt[loc] = i;
        else files.push_back(i);
    }
    std::set<std::string> collected;
    if (!noFolders) {
        std::string_view last;  // the folder of the file before, collected already
        for (int i : files) {
            const std::string& loc = names[i];
            if (ExtractScheme(loc) != root.Scheme) continue;
            const std::string_view in = std::string_view(loc).substr(0, loc.rfind('/') + 1);
            if (!last.empty() && in == last) continue;
            std::string folder(in);
            if (!folder.empty() && HasPrefix(folder, rootPrefix)) last = in;
            while (!folder.empty() && HasPrefix(folder, rootPrefix)) {
                if (!collected.insert(folder).second) break;  // its parents are in already
                std::string up = folder.substr(0, folder.size() - 1);
                folder = up.substr(0, up.rfind('/') + 1);
                if (up.rfind('/') == std::string::npos) break;
            }
        }
    }
    std::vector<int> kept;
    kept.reserve(static_cast<size_t>(firstIndex) + files.size() + collected.size());
    for (int i = 0; i < firstIndex; ++i) kept.push_back(i);
    kept.insert(kept.end(), files.begin(), files.end());
    for (const std::string& folder : collected) {
        auto it = folderAt.find(folder);
        if (it != folderAt.end()) kept.push_back(it->second);
    }
    names.Select(kept);
    infos.Select(kept);
    comments.Select(kept);
    p.FolderCount = folderCountBefore + static_cast<int>(collected.size());
}

// --- Operations ----------------------------------------------------------------------------

bool TFindFiles::DeleteFile(const std::string& location, bool verbose) {
    TBackupFileParts parts(this);
    parts.SetLocation(location);
    return parts.Delete(verbose);
}

int TFindFiles::DeleteMatching(const std::string& mask, bool deleteFolders) {
    TFMWMemIniFile own;
    TOwnSearch quiet(*this);
    TQNStringList found = FindFiles(mask, "", false, nullptr, "Results", "", "", &own, fsRecurse);
    TCopyResult result;
    DeleteList(found, deleteFolders, result, false, false);
    return result.Files;
}

void TFindFiles::DeleteFolderFiles(const std::string& folder) {
    TQNStringList names, infos;
    try {
        ListFolder("*", folder, true, nullptr, nullptr, &infos, names);
    } catch (const std::exception& e) {
        ShowStatus(e.what(), llWarning, true);
        return;
    }
    TQNStringList files;
    for (int i = 0; i < names.Count(); ++i)
        if (!names[i].empty() && names[i].back() != '/') files.Add(names[i]);
    TCopyResult result;
    DeleteList(files, false, result, false, true);
}

void TFindFiles::EraseListing(TQNMemIniFile* store, const std::string& location) {
    TQNMemIniFile& s = store ? *store : *FStore;
    const std::string name = ListingSectionName(s, location);
    for (const char* suffix : {"", "\"FileInfo", "\"Stats", "\"Comment"})
        s.EraseSection(name + suffix);
}

void TFindFiles::ClearResults() {
    ResultStore.Clear();
    SecondStore.Clear();
    ZipMaster().Reset();
}

void TFindFiles::CleanupTempFolder(const std::string& folder) {
    std::string target = folder;
    if (target.empty()) {
        if (FTempFolder.empty()) return;  // never made, so nothing lies in it
        target = FTempFolder;
    }
    if (!IsLocalAbsolutePath(target)) return;
    const std::string path = WithoutTrailingSlash(target) + "/";
    std::vector<TLocalEntry> entries;
    try {
        ScanLocalFolder(path, entries);
    } catch (const std::exception& e) {
        ShowStatus(e.what(), llWarning, true);
        return;
    }
    for (const TLocalEntry& e : entries)
        if (!e.IsFolder) ::unlink((path + e.Name).c_str());
}

// --- Formats -------------------------------------------------------------------------------

bool SearchIncomplete(const TQNStringList& stats) { return stats.Values("Incomplete") == "1"; }

std::string FormatSize(int64_t size) {
    const uint64_t v = size < 0 ? 0 : static_cast<uint64_t>(size);
    std::string unit;
    if (v >= 1025) {
        static constexpr const char* kUnits = "KMGT";
        for (int k = 3; k >= 0; --k) {
            double scale = 1.0;
            for (int j = 0; j <= k; ++j) scale *= 1024.0;
            double value = static_cast<double>(v) / scale;
            if (value > 1.0) {
                char frac[32];
                std::snprintf(frac, sizeof frac, "%.2f", value);
                std::string s(frac);
                size_t dot = s.find('.');
                uint64_t whole = std::strtoull(s.substr(0, dot).c_str(), nullptr, 10);
                unit = "(" + ThousandsText(whole) + s.substr(dot) + kUnits[k] + "B)";
                break;
            }
        }
    }
    return PadLeft((size < 0 ? "-" : "") + ThousandsText(size < 0 ? uint64_t(-size) : v), 14) +
           PadLeft(unit, 10);
}

std::string FormatInfo(const TFileInfoRec& info) {
    uint32_t t = UtcToLocalDosTime(info.Time);
    if (t < DosTimeEarliest) t = DosTimeEarliest;
    std::string date = FormatDateTime("yyyy/mm/dd hh:nn:ss", DosDateTimeToDateTime(t));
    static constexpr const char* kLetters = "RHSVDA";
    std::string attrs;
    for (int b = 0; b < 6; ++b)
        if (info.Attributes & (1u << b)) attrs += kLetters[b];
    return PadRight(date, 20) + PadRight(FormatSize(info.Size), 24) + PadRight(attrs, 6);
}

// --- Time helpers --------------------------------------------------------------------------

uint32_t DosHourStep() {
    static const uint32_t step =
        PackDosDateTime(1980, 1, 1, 1, 0, 0) - PackDosDateTime(1980, 1, 1, 0, 0, 0);
    return step;
}

bool SameTimeWithinHours(uint32_t a, uint32_t b) {
    const int64_t d = int64_t(a) - int64_t(b);
    const int64_t step = DosHourStep();
    return d % step == 0 && (d < 0 ? -d : d) / step < 10;
}

// --- The program-wide engine ---------------------------------------------------------------

namespace {

struct TProgramEngine {
    std::unique_ptr<TFindFiles> Engine;
    std::unique_ptr<TBackupFileParts> Backup;
    ~TProgramEngine() { Free(); }
    void Make() {
        if (Engine) return;
        Engine = std::make_unique<TFindFiles>();
        Backup = std::make_unique<TBackupFileParts>(Engine.get());
        SetDefaultLocationOwner(Engine.get());
    }
    void Free() {
        if (!Engine) return;
        if (DefaultLocationOwner() == Engine.get()) SetDefaultLocationOwner(nullptr);
        Backup.reset();
        Engine.reset();
    }
};

TProgramEngine& ProgramEngine() {
    static TProgramEngine engine;
    return engine;
}

}  // namespace

TFindFiles& ProgramFindFiles() {
    ProgramEngine().Make();
    return *ProgramEngine().Engine;
}

TBackupFileParts& ProgramBackupFileParts() {
    ProgramEngine().Make();
    return *ProgramEngine().Backup;
}

void FreeProgramFindFiles() { ProgramEngine().Free(); }

void TouchFound(const std::string& location, uint32_t time) {
    TFindFiles& engine = ProgramFindFiles();
    TFMWMemIniFile own;
    TQNStringList found;
    {
        TOwnSearch quiet(engine);
        found = engine.FindFiles(location, "", false, nullptr, "Results", "", "", &own, 0);
    }
    for (const std::string& loc : found.ToVector()) {
        TBackupFileParts parts(&engine);
        parts.SetLocation(loc);
        parts.SetDate(time);
    }
}
