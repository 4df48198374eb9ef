#include "locations/DirectoryParts.h"

#include "locations/LocationOwner.h"
#include "common/Streams.h"

#include "common/EngineContract.h"
#include "common/QNStringUtils.h"
#include "common/SafeFile.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <tuple>
#include <typeinfo>
#include <unistd.h>

namespace {

bool HasNul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

// Path up to and including its last "/".
std::string DirOf(const std::string& path) {
    size_t p = path.rfind('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

[[noreturn]] void FailPath(const std::string& what, const std::string& path, int err) {
    throw EFileError(what + " \"" + path + "\": " + SysErrorMessage(err), err);
}

// Whether an unnamed file can be given a name later: through its /proc/self/fd entry.
bool UnnamedFilesUsable() {
    static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
    return usable;
}

// A free name ".qncopy-XXXXXXXX" in Target's folder, taken by Make (which returns a
// negative number with errno EEXIST when the name is in use): the name and Make's result.
// Any other failure raises What.
template <class TMake>
std::pair<int, std::string> TakeTemporaryName(const std::string& target, const char* what, TMake make) {
    const std::string dir = DirOf(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = dir + ".qncopy-" + QNStringUtils().RandomString(8);
        const int rc = make(temp);
        if (rc >= 0) return {rc, temp};
        if (errno != EEXIST) FailPath(what, target, errno);
    }
    FailPath(what, target, EEXIST);
}

// A new file ".qncopy-XXXXXXXX" in Target's folder: its descriptor and name.
std::pair<int, std::string> CreateTemporaryBeside(const std::string& target) {
    return TakeTemporaryName(target, "Cannot create file", [](const std::string& temp) {
        return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    });
}

struct TDirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

// --- Local helpers ---------------------------------------------------------------------

std::string WithoutTrailingSlash(const std::string& path) {
    size_t n = path.size();
    while (n > 1 && path[n - 1] == '/') --n;
    return path.substr(0, n);
}

bool IsLocalAbsolutePath(std::string_view path) {
    return !path.empty() && path[0] == '/' && !(path.size() > 1 && path[1] == '/') &&
           !HasNul(path);
}

TFileInfoRec InfoFromStat(const struct stat& st, const struct stat* target) {
    const bool isDir = S_ISDIR(st.st_mode);
    const struct stat& src =
        S_ISLNK(st.st_mode) && target != nullptr && S_ISREG(target->st_mode) ? *target : st;
    TFileInfoRec rec;
    rec.Time = DosDateTimeFromUnix(static_cast<int64_t>(src.st_mtim.tv_sec));
    rec.SetFineTime(static_cast<int64_t>(src.st_mtim.tv_sec), static_cast<uint32_t>(src.st_mtim.tv_nsec));
    if (!S_ISREG(st.st_mode) && !isDir) rec.SetNotPlain();
    rec.Size = isDir ? 0 : static_cast<int64_t>(src.st_size);
    rec.Attributes = isDir ? faDirectory : faArchive;
    if ((src.st_mode & S_IWUSR) == 0 && !S_ISLNK(src.st_mode)) rec.Attributes |= faReadOnly;
    return rec;
}

bool LocalInfoOf(const std::string& path, TFileInfoRec& info) {
    info = TFileInfoRec();
    if (HasNul(path)) return false;
    std::string p = WithoutTrailingSlash(path);
    struct stat st {}, target {};
    if (::lstat(p.c_str(), &st) != 0) return false;
    bool haveTarget = S_ISLNK(st.st_mode) && ::stat(p.c_str(), &target) == 0;
    info = InfoFromStat(st, haveTarget ? &target : nullptr);
    return true;
}

bool ScanLocalFolder(const std::string& folder, std::vector<TLocalEntry>& entries) {
    entries.clear();
    if (HasNul(folder)) return false;
    std::unique_ptr<DIR, TDirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        FailPath("Cannot list folder", folder, errno);
    }
    const int dfd = ::dirfd(dir.get());
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(dir.get());
        if (e == nullptr) {
            if (errno != 0) FailPath("Cannot list folder", folder, errno);
            break;
        }
        std::string name = e->d_name;
        if (name == "..") continue;
        struct stat st {}, target {};
        if (::fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone since readdir saw it
            FailPath("Cannot read the information of", folder + name, errno);
        }
        bool haveTarget = S_ISLNK(st.st_mode) && ::fstatat(dfd, name.c_str(), &target, 0) == 0;
        entries.push_back({name, S_ISDIR(st.st_mode), InfoFromStat(st, haveTarget ? &target : nullptr)});
    }
    std::sort(entries.begin(), entries.end(), [](const TLocalEntry& a, const TLocalEntry& b) {
        if ((a.Name == ".") != (b.Name == ".")) return a.Name == ".";
        int c = CompareText(a.Name, b.Name);
        if (c != 0) return c < 0;
        return CompareStr(a.Name, b.Name) < 0;
    });
    return true;
}

// --- TDirectoryParts -------------------------------------------------------------------

TDirectoryParts::TDirectoryParts(TLocationOwner* owner) : TURLParts(owner) { Separator = "/"; }

TDirectoryParts::~TDirectoryParts() {
    if (Temporary && !Name.empty() && IsValid()) ::unlink(GetLocation().c_str());
}

std::unique_ptr<TURLParts> TDirectoryParts::Create(TLocationOwner* owner) {
    return std::make_unique<TDirectoryParts>(owner);
}

void TDirectoryParts::SetLocation(const std::string& location, const std::string& info,
                                  const std::string& comment) {
    TURLParts::SetLocation(location, info, comment);
    Drive = IsLocalAbsolutePath(Path) ? "/" : "";
}

std::string TDirectoryParts::GetLocation() { return Scheme + Path + VirtualPath + Name; }

std::string TDirectoryParts::GetContainer() { return StripSeparators(Path); }

bool TDirectoryParts::IsValid() { return !Drive.empty() && Scheme.empty() && !HasNul(GetLocation()); }

bool TDirectoryParts::FileExists() {
    if (NameHasWildcards || Name.empty() || !IsValid()) return false;
    struct stat st {};
    return ::lstat(GetLocation().c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool TDirectoryParts::ContainerExists() { return IsValid() && DirectoryExists(Path); }

int TDirectoryParts::ForceContainerToExist() {
    if (!IsValid()) return 0;
    return Owner->ForceFoldersLogged(DirOf(GetLocation()), true);
}

bool TDirectoryParts::Delete(bool verbose) {
    if (!IsValid()) return false;
    const std::string location = GetLocation();
    if (Name.empty()) return Owner->DeleteFolder(location, verbose);
    struct stat st {};
    if (::lstat(location.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (::unlink(location.c_str()) != 0) return false;
    if (verbose || VerboseLog) Owner->ShowStatus("Deleted file " + location, llDeletion, true);
    return true;
}

std::unique_ptr<TStream> TDirectoryParts::OpenReadStream() {
    if (NameHasWildcards || Name.empty() || !IsValid()) return nullptr;
    // Only regular files (or links to them) are ever opened: FIFOs, sockets and devices
    // are listed but not read.
    const std::string location = GetLocation();
    struct stat st {};
    if (::lstat(location.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
    if (S_ISLNK(st.st_mode) && ::stat(location.c_str(), &st) != 0) return nullptr;
    if (!S_ISREG(st.st_mode)) return nullptr;
    return TFileStream::OpenRead(location);
}

bool TDirectoryParts::WriteFromStream(TStream& stream, const TFileInfoRec& info) {
    const std::string target = GetLocation();
    if (!IsValid() || Name.empty() || NameHasWildcards)
        throw ELocationError("Cannot write \"" + target + "\": it does not name a file.");
    struct stat old {};
    const bool exists = ::lstat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) FailPath("Cannot write file", target, EISDIR);
    stream.SetPosition(0);

    // The new content goes to a file without a name in the target's folder, so that a copy
    // cut short, even by a kill, leaves nothing behind; only a complete copy gets a name.
    // Where the file system has no unnamed files, a temporary name beside the target
    // stands in (and stays behind if the process is killed).
    const std::string dir = DirOf(target);
    const bool unnamed = UnnamedFilesUsable();
    int fd = unnamed ? ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666) : -1;
    std::string temp;
    if (fd < 0) {
        std::tie(fd, temp) = CreateTemporaryBeside(target);
    }
    TFileStream out(fd, temp.empty() ? target : temp);
    struct TRemoveGuard {
        std::string Path;
        ~TRemoveGuard() {
            if (!Path.empty()) ::unlink(Path.c_str());
        }
    } guard{temp};

    if (!Owner->CopyStreamWithProgress(stream, out, info, "Saving " + target)) return false;

    struct stat created {};
    if (::fstat(fd, &created) != 0) FailPath("Cannot write file", target, errno);
    mode_t mode = (exists && S_ISREG(old.st_mode) ? old.st_mode : created.st_mode) & 07777;
    if (info.Attributes & faReadOnly) mode &= ~mode_t(0222);
    else mode |= S_IWUSR;
    if (::fchmod(fd, mode) != 0) FailPath("Cannot write file", target, errno);
    if (info.Time != 0) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_NOW;
        // The whole time where the record holds it, else the two-second time.
        times[1].tv_sec = static_cast<time_t>(info.UnixSeconds());
        times[1].tv_nsec = static_cast<long>(info.Nanoseconds());
        if (::futimens(fd, times) != 0) FailPath("Cannot set the date of", target, errno);
    }
    // The data of a replacing copy is on the disk before the name shows it, so the file
    // is either the old or the new version; new files may wait for the owner's flush.
    const bool defer = Owner->DeferFlushes();
    if (exists || !defer) out.Flush();
    if (defer) Owner->NoteDeferredFlush(fd, created.st_dev);
    const bool unflushed = defer && !exists;
    int rc = -1;
    if (temp.empty()) {
        // An unnamed copy: a new file gets its name directly (never over a file that
        // appeared meanwhile); one that replaces a file is named beside it first.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (!exists) {
            rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW);
            if (rc != 0 && errno != EEXIST) FailPath("Cannot write file", target, errno);
        }
        if (rc != 0) {
            if (unflushed) out.Flush();
            temp = TakeTemporaryName(target, "Cannot write file", [&](const std::string& name) {
                       return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
                   }).second;
            guard.Path = temp;
            rc = ::rename(temp.c_str(), target.c_str());
        }
    } else {
        rc = unflushed ? ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE)
                       : ::rename(temp.c_str(), target.c_str());
        if (rc != 0 && unflushed && (errno == EEXIST || errno == EINVAL || errno == ENOSYS)) {
            // A file appeared at the target meanwhile, or the file system has no exclusive
            // rename: the copy is flushed and replaces like any other.
            out.Flush();
            rc = ::rename(temp.c_str(), target.c_str());
        }
    }
    if (rc != 0) FailPath("Cannot write file", target, errno);
    guard.Path.clear();
    out.Close();
    if (!defer) {
        int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
    }
    return true;
}

bool TDirectoryParts::SetAttrib(uint32_t attributes) {
    if (!IsValid()) return false;
    const std::string path = WithoutTrailingSlash(GetLocation());
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & faReadOnly) mode &= ~mode_t(0222);
    else mode |= S_IWUSR;
    return ::chmod(path.c_str(), mode) == 0;
}

bool TDirectoryParts::SetDate(uint32_t time) {
    if (!IsValid()) return false;
    const std::string path = WithoutTrailingSlash(GetLocation());
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    if (time == 0) {
        times[1].tv_sec = 0;
        times[1].tv_nsec = UTIME_NOW;
    } else {
        times[1].tv_sec = static_cast<time_t>(UnixFromLocalDosDateTime(time));
        times[1].tv_nsec = 0;
    }
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

void TDirectoryParts::CopyTo(TParts& dest, int mode, TCopyResult& result) {
    result.Clear();
    if (dest.GetLocation() == GetLocation()) return;
    std::unique_ptr<TStream> stream = OpenReadStream();
    if (!stream) return;
    // Without a supplied record the file's own date and attributes travel with it.
    TFileInfoRec info = Info;
    if (InfoHex.empty()) LocalInfoOf(GetLocation(), info);
    result.CreatedFolders = dest.ForceContainerToExist();
    if (!dest.WriteFromStream(*stream, info)) return;
    result.Files = 1;
    LogCopy(dest, mode);
}

void TDirectoryParts::URLMoveTo(TParts& dest, int mode, TCopyResult& result) {
    result.Clear();
    // The copy must be in place before the source goes.
    TDeferFlushesScope immediate(*Owner, false);
    TURLParts* target = dest.URLTarget();
    if (target != nullptr && typeid(*target) == typeid(TDirectoryParts)) {
        // Local to local: a rename, or across file systems a verified copy (MoveLocation).
        Owner->MoveLocation(GetLocation(), target->GetLocation(), result, mode);
        return;
    }
    if (Name.empty()) return;
    TCopyResult copied;
    CopyTo(dest, mode, copied);
    result.CreatedFolders = copied.CreatedFolders;
    if (copied.Files != 1) return;
    if (!Owner->CompareContents(*this, dest)) {
        Owner->ShowStatus("Error Moving " + GetLocation() + " to " + dest.GetLocation() +
                              ".  The copy differs from the source, which is kept.",
                          llError, true);
        return;
    }
    if (::unlink(GetLocation().c_str()) == 0) result.Files = 1;
}

int TDirectoryParts::RemoveEmptyFolders(TQNMemIniFile* store, bool includeSelf) {
    if (!IsValid()) return 0;
    return Owner->RemoveEmptyFolders(Path, store, includeSelf);
}

std::string TDirectoryParts::MapLocation(TURLParts& sourceRoot, TURLParts& destRoot,
                                         bool nameOnly, bool afterRoot) {
    return MapLocationCommon(sourceRoot, destRoot, nameOnly, afterRoot);
}

int TDirectoryParts::ListContents() {
    BindListing();
    TQNStringList& names = Names();
    if (names.Empty())
        Owner->ListFolder("*", Path, false, &Comments(), &Stats(), &Infos(), names);
    return names.Count();
}

void TDirectoryParts::CopyFrom(const TURLParts& other) {
    TURLParts::CopyFrom(other);
    if (auto* d = dynamic_cast<const TDirectoryParts*>(&other)) Drive = d->Drive;
    else Drive = IsLocalAbsolutePath(Path) ? "/" : "";
}
