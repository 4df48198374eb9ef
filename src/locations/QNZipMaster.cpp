#include "locations/QNZipMaster.h"

#include "locations/BackupFileParts.h"
#include "locations/LocationOwner.h"

#include "common/EngineContract.h"
#include "common/QNStringUtils.h"
#include "common/SafeFile.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>
#include <zlib.h>

namespace {

constexpr size_t BlockSize = 65536;

struct TZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
using TZipPtr = std::unique_ptr<zip_t, TZipCloser>;

[[noreturn]] void ZipFail(const std::string& what, zip_t* z) {
    throw EFileError(what + ": " + (z ? zip_strerror(z) : "unknown error"), EIO);
}

bool FileThere(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Opens an existing archive for reading; null when it does not exist.
TZipPtr OpenArchive(const std::string& archive, int flags = ZIP_RDONLY) {
    struct stat st {};
    if (::stat(archive.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw EFileError("Cannot open the archive " + archive + ": it is not a file.", EINVAL);
    int err = 0;
    zip_t* z = zip_open(archive.c_str(), flags, &err);
    if (z == nullptr) {
        if (err == ZIP_ER_NOENT) return nullptr;
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        std::string msg = "Cannot open the archive " + archive + ": " + zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw EFileError(msg, EIO);
    }
    return TZipPtr(z);
}

struct TFd {
    int Fd = -1;
    explicit TFd(int fd = -1) : Fd(fd) {}
    ~TFd() { Reset(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    void Reset(int fd = -1) {
        if (Fd >= 0) ::close(Fd);
        Fd = fd;
    }
};

// The file a write replaces: an archive reached through a symbolic link is written where
// the link points, so that the link stays and the archive it names gets the change.
std::string WriteTarget(const std::string& archive) {
    struct stat st {};
    if (::lstat(archive.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return archive;
    char* real = ::realpath(archive.c_str(), nullptr);
    if (real == nullptr) return archive;
    std::string out(real);
    std::free(real);
    return out;
}

// A rewrite keeps only the members: data in front of the first one (the program of a
// self-extracting archive) would be lost, so such an archive is never written.
void RefuseArchiveWithPrefix(const std::string& archive) {
    TFd fd(::open(archive.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.Fd < 0 || ::fstat(fd.Fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return;
    char head[4] = {};
    if (::pread(fd.Fd, head, sizeof head, 0) == 4 && head[0] == 'P' && head[1] == 'K' &&
        ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6)))
        return;
    throw EFileError("Cannot write the archive " + archive +
                         ": it holds data in front of its members (a self-extracting program) "
                         "that a rewrite would lose.",
                     EPERM);
}

// Opens Target (the file a write replaces, see WriteTarget) to be rewritten.
TZipPtr OpenForRewrite(const std::string& target, int flags) {
    RefuseArchiveWithPrefix(target);
    return OpenArchive(target, flags);
}

// The index of Member, by its exact name or else by one that differs only in case; -1
// when there is none.
zip_int64_t LocateMember(zip_t* z, const std::string& member) {
    zip_int64_t idx = zip_name_locate(z, member.c_str(), 0);
    return idx >= 0 ? idx : zip_name_locate(z, member.c_str(), ZIP_FL_NOCASE);
}

bool IsSymlinkEntry(zip_t* z, zip_uint64_t index) {
    zip_uint8_t opsys = 0;
    zip_uint32_t attr = 0;
    if (zip_file_get_external_attributes(z, index, 0, &opsys, &attr) != 0) return false;
    return opsys == ZIP_OPSYS_UNIX && S_ISLNK(attr >> 16);
}

TFileInfoRec InfoOf(zip_t* z, zip_uint64_t index, const std::string& name) {
    TFileInfoRec info;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, index, 0, &st) == 0) {
        if (st.valid & ZIP_STAT_MTIME) info.Time = DosDateTimeFromUnix(st.mtime);
        if (st.valid & ZIP_STAT_SIZE) info.Size = static_cast<int64_t>(st.size);
    }
    zip_uint8_t opsys = 0;
    zip_uint32_t attr = 0;
    if (zip_file_get_external_attributes(z, index, 0, &opsys, &attr) == 0) info.Attributes = attr & 0xFF;
    const bool folder = !name.empty() && name.back() == '/';
    if (folder) {
        info.Attributes |= faDirectory;
        info.Size = 0;
    } else if (info.Attributes == 0) {
        info.Attributes = faArchive;
    }
    return info;
}

std::string Folder(const std::string& path) {
    size_t p = path.rfind('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

// Reads a member from the archive block by block.
class TZipMemberStream : public TStream {
public:
    TZipMemberStream(std::shared_ptr<zip_t> zip, zip_uint64_t index, int64_t size, std::string name)
        : FZip(std::move(zip)), FIndex(index), FSize(size), FName(std::move(name)) {
        Open();
    }
    ~TZipMemberStream() override { CloseFile(); }

    // The member holds exactly the size its header gives: a member that expands to more
    // (a crafted archive) or ends before it is an error, not a short or endless read.
    size_t Read(void* buffer, size_t count) override {
        if (count == 0) return 0;
        if (FPos >= FSize) {
            char extra;
            zip_int64_t n = zip_fread(FFile, &extra, 1);
            if (n < 0) throw EFileError("Cannot read " + FName + ": " + zip_file_strerror(FFile), EIO);
            if (n > 0)
                throw EFileError("Cannot read " + FName + ": it holds more than the " +
                                     IntToStr(FSize) + " bytes its header gives.",
                                 EIO);
            return 0;
        }
        count = static_cast<size_t>(std::min<int64_t>(int64_t(count), FSize - FPos));
        zip_int64_t n = zip_fread(FFile, buffer, count);
        if (n < 0) throw EFileError("Cannot read " + FName + ": " + zip_file_strerror(FFile), EIO);
        if (n == 0)
            throw EFileError("Cannot read " + FName + ": it ends after " + IntToStr(FPos) +
                                 " of the " + IntToStr(FSize) + " bytes its header gives.",
                             EIO);
        FPos += n;
        return static_cast<size_t>(n);
    }
    void Write(const void*, size_t) override {
        throw EFileError("The archive member " + FName + " is open for reading only.", EBADF);
    }
    int64_t Size() override { return FSize; }
    int64_t Position() override { return FPos; }
    void SetPosition(int64_t position) override {
        if (position < 0) position = 0;
        if (position < FPos) {
            CloseFile();
            Open();
        }
        std::vector<char> buf(BlockSize);
        while (FPos < position) {
            size_t want = static_cast<size_t>(std::min<int64_t>(position - FPos, BlockSize));
            if (Read(buf.data(), want) == 0) break;
        }
    }
    void SetSize(int64_t) override {
        throw EFileError("The archive member " + FName + " is open for reading only.", EBADF);
    }

private:
    void Open() {
        FFile = zip_fopen_index(FZip.get(), FIndex, 0);
        if (FFile == nullptr) ZipFail("Cannot open " + FName, FZip.get());
        FPos = 0;
    }
    void CloseFile() {
        if (FFile) zip_fclose(FFile);
        FFile = nullptr;
    }
    std::shared_ptr<zip_t> FZip;
    zip_uint64_t FIndex;
    int64_t FSize;
    std::string FName;
    zip_file_t* FFile = nullptr;
    int64_t FPos = 0;
};

// A new file under a fresh hidden name in Folder (open as Dir, or by its path when Dir is
// AT_FDCWD), removed unless released (Name cleared).
struct TTempFile {
    int Dir;
    std::string Name;  // relative to Dir
    std::string Path;  // Folder + the file's name
    int Fd = -1;
    TTempFile(int dir, const std::string& folder, const char* prefix, mode_t mode) : Dir(dir) {
        for (int attempt = 0; attempt < 100 && Fd < 0; ++attempt) {
            const std::string leaf = prefix + QNStringUtils().RandomString(12);
            Path = folder + leaf;
            Name = dir == AT_FDCWD ? Path : leaf;
            Fd = ::openat(Dir, Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (Fd < 0 && errno != EEXIST) break;
        }
        if (Fd < 0) {
            const int err = errno;
            Name.clear();
            throw EFileError("Cannot create a temporary file in " + folder + ": " + SysErrorMessage(err), err);
        }
    }
    ~TTempFile() {
        if (Fd >= 0) ::close(Fd);
        if (!Name.empty()) ::unlinkat(Dir, Name.c_str(), 0);
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    void WriteAll(const char* data, size_t n) {
        while (n > 0) {
            ssize_t w = ::write(Fd, data, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                throw EFileError("Cannot write " + Path + ": " + SysErrorMessage(errno), errno);
            }
            data += w;
            n -= static_cast<size_t>(w);
        }
    }
    void CloseFd() {
        const int fd = Fd;
        Fd = -1;
        if (fd >= 0 && ::close(fd) != 0)
            throw EFileError("Cannot write " + Path + ": " + SysErrorMessage(errno), errno);
    }
};

// Copies Source to the temporary file (left open); CRC and size of what was copied. False
// when the owner's cancel flag stopped it.
bool CopyToTemp(TLocationOwner* owner, TStream& source, TTempFile& temp, uLong& crc, int64_t& size) {
    std::vector<char> buf(BlockSize);
    crc = crc32(0L, Z_NULL, 0);
    size = 0;
    for (;;) {
        if (!owner->Continue()) return false;
        size_t n = source.Read(buf.data(), buf.size());
        if (n == 0) break;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(n));
        temp.WriteAll(buf.data(), n);
        size += static_cast<int64_t>(n);
    }
    return true;
}

// Opens the folder Rel ("" or components joined with "/") below the open folder Base,
// creating missing levels, without following a symbolic link at any level. -1 with
// errno set on failure; BadAt then names the level that failed.
int OpenFolderBelow(int base, const std::string& rel, std::string& badAt) {
    TFd fd(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    if (fd.Fd < 0) return -1;
    size_t start = 0;
    while (start < rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) end = rel.size();
        const std::string part = rel.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        badAt = rel.substr(0, end);
        if (::mkdirat(fd.Fd, part.c_str(), 0755) != 0 && errno != EEXIST) return -1;
        int next = ::openat(fd.Fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return -1;
        fd.Reset(next);
    }
    badAt.clear();
    const int out = fd.Fd;
    fd.Fd = -1;
    return out;
}

// The CRC and size of a file's bytes as they are now; false when it cannot be read.
bool FileCrc(const std::string& path, uLong& crc, int64_t& size) {
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Fd < 0) return false;
    std::vector<char> buf(BlockSize);
    crc = crc32(0L, Z_NULL, 0);
    size = 0;
    for (;;) {
        ssize_t n = ::read(fd.Fd, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(n));
        size += n;
    }
}

int CancelCommit(zip_t*, void* owner) {
    return static_cast<TLocationOwner*>(owner)->Continue() ? 0 : 1;
}

// An archive with no members: libzip removes such a file on commit, so an empty archive
// is written in its place.
void KeepEmptyArchive(const std::string& archive) {
    if (FileThere(archive)) return;
    static const char eocd[22] = {'P', 'K', 5, 6};
    WriteFileAtomic(archive, std::string_view(eocd, sizeof eocd));
}

}  // namespace

std::string ArchiveFileStamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::string();
    return IntToStr(int64_t(st.st_dev)) + ":" + IntToStr(int64_t(st.st_ino)) + ":" +
           IntToStr(int64_t(st.st_size)) + ":" + IntToStr(int64_t(st.st_mtim.tv_sec)) + "." +
           IntToStr(int64_t(st.st_mtim.tv_nsec));
}

TQNZipMaster::TQNZipMaster(TLocationOwner* owner) : FOwner(owner ? owner : DefaultLocationOwner()) {}

TQNZipMaster::~TQNZipMaster() = default;

TQNStringList& TQNZipMaster::Names() {
    if (Dirty && !FZipFileName.empty()) ReadContents();
    return FContentsStore.GetSection("ZipContents");
}
TQNStringList& TQNZipMaster::Infos() {
    if (Dirty && !FZipFileName.empty()) ReadContents();
    return FContentsStore.GetSection("ZipContentsInfo");
}
TQNStringList& TQNZipMaster::Stats() {
    if (Dirty && !FZipFileName.empty()) ReadContents();
    return FContentsStore.GetSection("ZipContentsStats");
}
TQNStringList& TQNZipMaster::Comments() {
    if (Dirty && !FZipFileName.empty()) ReadContents();
    return FContentsStore.GetSection("ZipContentsComments");
}

void TQNZipMaster::Reset() {
    FZipFileName.clear();
    Dirty = true;
}

void TQNZipMaster::SetZipFileName(const std::string& archive) {
    const bool other = archive != FZipFileName;
    if (!other && !Dirty && ArchiveFileStamp(archive) == FListedStamp) return;
    FZipFileName = archive;
    ReadContents();
    if (!other) return;
    try {
        MigrateBackupArchive();
    } catch (const std::exception& e) {
        // The archive stays as it was and can still be listed and read.
        FOwner->ShowStatus("Cannot migrate " + archive + ": " + e.what(), llWarning, true);
    }
}

void TQNZipMaster::EnsureCurrent(const std::string& archive) { SetZipFileName(archive); }

void TQNZipMaster::ReadContents() {
    TQNStringList& names = FContentsStore.GetSection("ZipContents");
    TQNStringList& infos = FContentsStore.GetSection("ZipContentsInfo");
    TQNStringList& stats = FContentsStore.GetSection("ZipContentsStats");
    TQNStringList& comments = FContentsStore.GetSection("ZipContentsComments");
    names.Clear();
    infos.Clear();
    stats.Clear();
    comments.Clear();
    FUnsafe.clear();
    FExact.clear();
    FFolded.clear();
    Dirty = false;
    FListedStamp = ArchiveFileStamp(FZipFileName);
    TZipPtr z = OpenArchive(FZipFileName);
    if (!z) {
        stats.Add("FolderCount=1");
        stats.Add("FileSizeTotal=0");
        stats.Add("FileCount=-1");
        return;
    }
    const zip_int64_t count = zip_get_num_entries(z.get(), 0);
    int64_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* n = zip_get_name(z.get(), static_cast<zip_uint64_t>(i), 0);
        if (n == nullptr) continue;
        std::string name = n;
        TFileInfoRec info = InfoOf(z.get(), static_cast<zip_uint64_t>(i), name);
        const int at = names.Add(name);
        FExact.emplace(name, at);
        FFolded.emplace(LowerCase(name), at);
        infos.Add(info.ToHex());
        comments.Add(std::string());
        FUnsafe.push_back(IsUnsafeMemberName(name) || IsSymlinkEntry(z.get(), static_cast<zip_uint64_t>(i)));
        total += info.Size;
    }
    z.reset();
    stats.Add("FolderCount=1");
    stats.Add("FileSizeTotal=" + IntToStr(total));
    stats.Add("FileCount=" + IntToStr(names.Count()));
    ReadComments();
}

void TQNZipMaster::ReadComments() {
    TQNStringList& names = FContentsStore.GetSection("ZipContents");
    TQNStringList& comments = FContentsStore.GetSection("ZipContentsComments");
    // A member can only have a comment when its notes file is a member too.
    bool anyNotes = false;
    for (int i = 0; i < names.Count() && !anyNotes; ++i)
        anyNotes = names[i].size() > 4 && SameText(names[i].substr(names[i].size() - 4), ".ini");
    if (!anyNotes) return;
    const std::string prefix = "zip://" + FZipFileName + "/";
    const std::vector<std::string> all = names.ToVector();
    TNotesIniFile notes(FOwner);
    for (size_t i = 0; i < all.size() && int(i) < comments.Count(); ++i) {
        const std::string& name = all[i];
        if (name.empty() || name.back() == '/' || FUnsafe[i]) continue;
        const std::string& composed = notes.ComposeFor(prefix + name);
        if (composed.size() <= prefix.size() || composed.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string notesName = composed.substr(prefix.size());
        if (notesName == name || IndexOf(notesName) < 0) continue;
        comments.SetString(int(i), notes.CommentFor(prefix + name));
    }
}

void TQNZipMaster::MigrateBackupArchive() {
    if (FMigrating || FZipFileName.empty()) return;
    TBackupFileParts archive(FOwner);
    archive.SetLocation(FZipFileName);
    if (archive.Counter != -1 || archive.CounterText != "x" || !SameText(archive.ExtraSuffix, ".zip"))
        return;
    const std::string base = archive.Target->BaseName, ext = archive.Target->Extension;
    const std::string own = base + ext;
    const int at = IndexOf(own);
    if (at < 0) return;
    const std::string oldName = Names()[at];
    struct TGuard {
        bool& Flag;
        explicit TGuard(bool& f) : Flag(f) { Flag = true; }
        ~TGuard() { Flag = false; }
    } guard{FMigrating};
    FOwner->ShowStatus("Migrating " + FZipFileName + ".  Please wait...", llProgress, false);
    // The next free version of the file, which must not be a member already.
    TBackupFileParts file(FOwner);
    file.SetLocation(Folder(FZipFileName) + own);
    TBackupFileParts next(FOwner);
    next.SetLocation(file.GetBackupName(true, nullptr));
    int n = std::max(1, next.Counter);
    TBackupPattern& pattern = FOwner->BackupPattern();
    std::string newName;
    for (;; ++n) {
        newName = pattern.FillBackupPattern(base, IntToStr(n), ext);
        if (IndexOf(newName) < 0 && IndexOf(newName + ".diff") < 0) break;
    }
    {
        const std::string target = WriteTarget(FZipFileName);
        TZipPtr z = OpenForRewrite(target, 0);
        if (!z) return;
        zip_int64_t idx = zip_name_locate(z.get(), oldName.c_str(), 0);
        if (idx < 0) return;
        if (zip_file_rename(z.get(), static_cast<zip_uint64_t>(idx), newName.c_str(),
                            ZIP_FL_ENC_UTF_8) != 0)
            ZipFail("Cannot rename " + oldName + " in " + FZipFileName, z.get());
        if (zip_close(z.get()) != 0) ZipFail("Cannot write the archive " + FZipFileName, z.get());
        z.release();
    }
    FReader.reset();
    ReadContents();
    FOwner->ShowStatus("Warning: Migrated ZipEntry \"" + oldName + "\" to \"" + newName +
                           "\" in ZipFile \"" + FZipFileName +
                           "\".  You may needed to rerun your last operation you need/use this ZipEntry.",
                       llWarning, true);
}

bool TQNZipMaster::IsUnsafeMemberName(const std::string& name) {
    if (name.empty()) return true;
    if (name.find('\0') != std::string::npos) return true;
    if (name[0] == '/' || name[0] == '\\') return true;
    if (name.size() >= 2 && name[1] == ':') return true;
    // A file named "." (alone or after a folder) can have no name of its own on disk.
    if (name == "." || (name.size() >= 2 && name.back() == '.' &&
                        (name[name.size() - 2] == '/' || name[name.size() - 2] == '\\')))
        return true;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

int TQNZipMaster::IndexOf(const std::string& member) {
    Names();
    auto e = FExact.find(member);
    if (e != FExact.end()) return e->second;
    auto f = FFolded.find(LowerCase(member));
    return f != FFolded.end() ? f->second : -1;
}

bool TQNZipMaster::MemberExists(const std::string& archive, const std::string& member) {
    EnsureCurrent(archive);
    return IndexOf(member) >= 0;
}

bool TQNZipMaster::MemberOrDiffExists(const std::string& archive, const std::string& member) {
    return MemberExists(archive, member) || MemberExists(archive, member + ".diff");
}

bool TQNZipMaster::MemberInfo(const std::string& archive, const std::string& member,
                              TFileInfoRec& info) {
    EnsureCurrent(archive);
    int i = IndexOf(member);
    info = TFileInfoRec();
    if (i < 0) return false;
    if (auto rec = TFileInfoRec::FromHex(Infos()[i])) info = *rec;
    return true;
}

void TQNZipMaster::Log(const std::string& text, bool verbose) {
    FOwner->ShowStatus(text, llProgress, verbose || VerboseLog);
}

std::shared_ptr<zip> TQNZipMaster::Reader(const std::string& archive) {
    const std::string stamp = ArchiveFileStamp(archive);
    if (stamp.empty()) {
        FReader.reset();
        return nullptr;
    }
    if (FReader && FReaderName == archive && FReaderStamp == stamp) return FReader;
    TZipPtr z = OpenArchive(archive);
    FReader = std::shared_ptr<zip_t>(z.release(), TZipCloser());
    FReaderName = archive;
    FReaderStamp = stamp;
    return FReader;
}

std::string TQNZipMaster::MemberStamp(const std::string& archive, const std::string& member) {
    std::shared_ptr<zip_t> z = Reader(archive);
    if (!z) return std::string();
    zip_int64_t idx = LocateMember(z.get(), member);
    if (idx < 0) return std::string();
    const std::string name = zip_get_name(z.get(), static_cast<zip_uint64_t>(idx), 0);
    zip_stat_t st;
    zip_stat_init(&st);
    if (name.empty() || name.back() == '/' ||
        zip_stat_index(z.get(), static_cast<zip_uint64_t>(idx), 0, &st) != 0)
        return std::string();
    return name + "\n" + IntToStr(int64_t(st.size)) + "\n" + IntToStr(int64_t(st.crc)) + "\n" +
           IntToStr(int64_t(st.mtime));
}

std::unique_ptr<TStream> TQNZipMaster::OpenMember(const std::string& archive,
                                                  const std::string& member) {
    std::shared_ptr<zip_t> z = Reader(archive);
    if (!z) return nullptr;
    zip_int64_t idx = LocateMember(z.get(), member);
    if (idx < 0) return nullptr;
    const std::string name = zip_get_name(z.get(), static_cast<zip_uint64_t>(idx), 0);
    if (!name.empty() && name.back() == '/') return nullptr;
    if (IsUnsafeMemberName(name) || IsSymlinkEntry(z.get(), static_cast<zip_uint64_t>(idx))) {
        FOwner->ShowStatus("Refused to read zip://" + archive + "/" + name +
                               ": the member is a link or its path leaves the archive's folder.",
                           2, true);
        return nullptr;
    }
    TFileInfoRec info = InfoOf(z.get(), static_cast<zip_uint64_t>(idx), name);
    return std::make_unique<TZipMemberStream>(std::move(z), static_cast<zip_uint64_t>(idx),
                                              info.Size, "zip://" + archive + "/" + name);
}

bool TQNZipMaster::ExtractIndex(const std::string& archive, zip_t* z, int64_t index,
                                const std::string& name, const std::string& base,
                                std::string& outPath, bool verbose) {
    const auto idx = static_cast<zip_uint64_t>(index);
    if (IsUnsafeMemberName(name) || IsSymlinkEntry(z, idx)) {
        FOwner->ShowStatus("Refused to read zip://" + archive + "/" + name +
                               ": the member is a link or its path leaves the archive's folder.",
                           2, true);
        return false;
    }
    ForceDirectories(base);
    TFd baseFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (baseFd.Fd < 0)
        throw EFileError("Cannot open the folder " + base + ": " + SysErrorMessage(errno), errno);
    const bool folder = name.back() == '/';
    const std::string folderPart = folder ? name : Folder(name);
    std::string badAt;
    TFd dir(OpenFolderBelow(baseFd.Fd, folderPart, badAt));
    if (dir.Fd < 0) {
        const int err = errno;
        if (err == ELOOP || err == ENOTDIR || err == EEXIST) {
            FOwner->ShowStatus("Refused to extract zip://" + archive + "/" + name + ": " + base +
                                   badAt + " is a link or not a folder.",
                               2, true);
            return false;
        }
        throw EFileError("Cannot create the folder " + base + badAt + ": " + SysErrorMessage(err),
                         err);
    }
    if (folder) {
        outPath = base + name;
        return true;
    }
    const std::string leaf = name.substr(folderPart.size());
    const std::string target = base + name;
    TFileInfoRec info = InfoOf(z, idx, name);
    TZipMemberStream in(std::shared_ptr<zip_t>(z, [](zip_t*) {}), idx, info.Size,
                        "zip://" + archive + "/" + name);
    TTempFile temp(dir.Fd, base + folderPart, ".qnzip-", 0644);
    uLong crc = 0;
    int64_t size = 0;
    if (!CopyToTemp(FOwner, in, temp, crc, size)) return false;
    if (info.Time != 0) {
        struct timespec t[2] = {{0, UTIME_OMIT},
                                {static_cast<time_t>(UnixFromDosDateTime(info.Time)), 0}};
        ::futimens(temp.Fd, t);
    }
    if (info.Attributes & faReadOnly) ::fchmod(temp.Fd, 0444);
    temp.CloseFd();
    if (::renameat(dir.Fd, temp.Name.c_str(), dir.Fd, leaf.c_str()) != 0)
        throw EFileError("Cannot write " + target + ": " + SysErrorMessage(errno), errno);
    temp.Name.clear();
    outPath = target;
    Log("Unzipped zip://" + archive + "/" + name + " to " + target, verbose);
    return true;
}

bool TQNZipMaster::ExtractMember(const std::string& archive, const std::string& member,
                                 std::string& outPath, bool verbose,
                                 const std::string& destFolder) {
    outPath.clear();
    if (member.empty()) return !ExtractAll(archive, verbose, destFolder).Empty();
    std::string base = destFolder.empty() ? Folder(archive) : destFolder;
    if (!base.empty() && base.back() != '/') base += '/';
    std::shared_ptr<zip_t> z = Reader(archive);
    if (!z) return false;
    zip_int64_t idx = LocateMember(z.get(), member);
    if (idx < 0) return false;
    const std::string name = zip_get_name(z.get(), static_cast<zip_uint64_t>(idx), 0);
    if (name.empty() || name.back() == '/') return false;
    return ExtractIndex(archive, z.get(), idx, name, base, outPath, verbose);
}

TQNStringList TQNZipMaster::ExtractAll(const std::string& archive, bool verbose,
                                       const std::string& destFolder) {
    TQNStringList results;
    std::string base = destFolder.empty() ? Folder(archive) : destFolder;
    if (!base.empty() && base.back() != '/') base += '/';
    std::shared_ptr<zip_t> z = Reader(archive);
    if (!z) return results;
    const zip_int64_t count = zip_get_num_entries(z.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        if (!FOwner->Continue()) break;
        const char* n = zip_get_name(z.get(), static_cast<zip_uint64_t>(i), 0);
        if (n == nullptr || *n == '\0') continue;
        std::string out;
        if (ExtractIndex(archive, z.get(), i, n, base, out, verbose)) results.Add(out);
    }
    return results;
}

bool TQNZipMaster::AddFromStream(const std::string& archive, const std::string& member,
                                 TStream& stream, const TFileInfoRec& info) {
    if (IsUnsafeMemberName(member))
        throw EFileError("The member name \"" + member + "\" is not allowed in an archive.", EINVAL);
    const std::string target = WriteTarget(archive);
    TTempFile temp(AT_FDCWD, FOwner->TempFolder(), "zipadd-", 0600);
    uLong crc = 0;
    int64_t size = 0;
    stream.SetPosition(0);
    if (!CopyToTemp(FOwner, stream, temp, crc, size)) return false;
    temp.CloseFd();
    {
        TZipPtr z = OpenForRewrite(target, ZIP_CREATE);
        zip_source_t* src = zip_source_file_create(temp.Path.c_str(), 0, -1, nullptr);
        if (src == nullptr) ZipFail("Cannot add " + member, z.get());
        zip_int64_t idx = zip_file_add(z.get(), member.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (idx < 0) {
            zip_source_free(src);
            ZipFail("Cannot add " + member + " to " + archive, z.get());
        }
        const time_t mtime = info.Time != 0 ? static_cast<time_t>(UnixFromDosDateTime(info.Time))
                                            : ::time(nullptr);
        zip_file_set_mtime(z.get(), static_cast<zip_uint64_t>(idx), mtime, 0);
        const bool folder = !member.empty() && member.back() == '/';
        const zip_uint32_t mode = folder ? 040755u : ((info.Attributes & faReadOnly) ? 0100444u : 0100644u);
        zip_file_set_external_attributes(z.get(), static_cast<zip_uint64_t>(idx), 0, ZIP_OPSYS_UNIX,
                                         (mode << 16) | (info.Attributes & 0xFF));
        if (zip_close(z.get()) != 0) ZipFail("Cannot write the archive " + archive, z.get());
        z.release();
    }
    Dirty = true;
    FReader.reset();
    // Read the member's size and CRC back from the committed archive.
    TZipPtr check = OpenArchive(target);
    zip_stat_t st;
    zip_stat_init(&st);
    if (!check || zip_stat(check.get(), member.c_str(), 0, &st) != 0 ||
        static_cast<int64_t>(st.size) != size || st.crc != crc)
        throw EFileError("The member " + member + " of " + archive +
                             " does not read back as written.", EIO);
    return true;
}

bool TQNZipMaster::AddFile(const std::string& archive, const std::string& filePath,
                           std::string& outLocation, bool verbose) {
    outLocation.clear();
    TQNStringList one;
    one.Add(filePath);
    TQNStringList added = AddFiles(archive, one, verbose);
    if (added.Empty()) return false;
    outLocation = added[0];
    return true;
}

TQNStringList TQNZipMaster::AddFiles(const std::string& archive, const TQNStringList& files,
                                     bool verbose) {
    TQNStringList locations;
    const std::string root = Folder(archive);
    const std::string target = WriteTarget(archive);
    struct TItem {
        std::string File, Member;
    };
    std::vector<TItem> items;
    {
        TZipPtr z;
        for (int i = 0; i < files.Count(); ++i) {
            const std::string& filePath = files[i];
            std::string member;
            if (!root.empty() && filePath.size() > root.size() &&
                SameText(std::string_view(filePath).substr(0, root.size()), root))
                member = filePath.substr(root.size());
            else
                member = filePath.substr(filePath.rfind('/') + 1);
            struct stat st {};
            if (::stat(filePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
                IsUnsafeMemberName(member) || filePath == archive || filePath == target) {
                FOwner->ShowStatus("Cannot add " + filePath + " to " + archive +
                                       ": it is not a file that can be added.",
                                   llWarning, true);
                continue;
            }
            if (!z) {
                z = OpenForRewrite(target, ZIP_CREATE);
                zip_register_cancel_callback_with_state(z.get(), CancelCommit, nullptr, FOwner);
            }
            zip_source_t* src = zip_source_file_create(filePath.c_str(), 0, -1, nullptr);
            if (src == nullptr) ZipFail("Cannot add " + filePath, z.get());
            zip_int64_t idx =
                zip_file_add(z.get(), member.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
            if (idx < 0) {
                zip_source_free(src);
                if (zip_error_code_zip(zip_get_error(z.get())) != ZIP_ER_INVAL)
                    ZipFail("Cannot add " + member + " to " + archive, z.get());
                // A name that is no UTF-8 cannot be a member; the other files still go.
                zip_error_clear(z.get());
                FOwner->ShowStatus("Cannot add " + filePath + " to " + archive +
                                       ": its name is not UTF-8.",
                                   llWarning, true);
                continue;
            }
            zip_file_set_mtime(z.get(), static_cast<zip_uint64_t>(idx), st.st_mtim.tv_sec, 0);
            const uint32_t attr = faArchive | ((st.st_mode & 0222) == 0 ? uint32_t(faReadOnly) : 0u);
            zip_file_set_external_attributes(z.get(), static_cast<zip_uint64_t>(idx), 0,
                                             ZIP_OPSYS_UNIX,
                                             (uint32_t(st.st_mode & 0177777) << 16) | attr);
            items.push_back({filePath, member});
        }
        if (!z) return locations;
        if (!FOwner->Continue()) return locations;
        if (zip_close(z.get()) != 0) {
            if (zip_error_code_zip(zip_get_error(z.get())) == ZIP_ER_CANCELLED) return locations;
            ZipFail("Cannot write the archive " + archive, z.get());
        }
        z.release();
    }
    Dirty = true;
    FReader.reset();
    // Each source goes only when the member reads back as the file is now.
    TZipPtr check = OpenArchive(target);
    for (const TItem& item : items) {
        zip_stat_t st;
        zip_stat_init(&st);
        uLong crc = 0;
        int64_t size = 0;
        if (!check || zip_stat(check.get(), item.Member.c_str(), 0, &st) != 0 ||
            !FileCrc(item.File, crc, size) || static_cast<int64_t>(st.size) != size ||
            st.crc != crc) {
            FOwner->ShowStatus("The member " + item.Member + " of " + archive +
                                   " does not read back as " + item.File + "; the file is kept.",
                               llWarning, true);
            continue;
        }
        const std::string location = "zip://" + archive + "/" + item.Member;
        locations.Add(location);
        Log("Zipped " + item.File + " to " + location, verbose);
        ::unlink(item.File.c_str());
    }
    return locations;
}

bool TQNZipMaster::DeleteMember(const std::string& archive, const std::string& member,
                                bool verbose) {
    const std::string target = WriteTarget(archive);
    TZipPtr z = OpenForRewrite(target, 0);
    if (!z) return false;
    zip_int64_t idx = LocateMember(z.get(), member);
    if (idx < 0) return false;
    if (zip_delete(z.get(), static_cast<zip_uint64_t>(idx)) != 0)
        ZipFail("Cannot delete " + member + " from " + archive, z.get());
    if (zip_close(z.get()) != 0) ZipFail("Cannot write the archive " + archive, z.get());
    z.release();
    KeepEmptyArchive(target);
    Dirty = true;
    FReader.reset();
    Log("Deleted ZipEntry " + member + " from " + archive, verbose);
    return true;
}
