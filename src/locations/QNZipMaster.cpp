#include "locations/QNZipMaster.h"

#include "locations/LocationOwner.h"

#include "common/SafeFile.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"

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

    size_t Read(void* buffer, size_t count) override {
        if (count == 0) return 0;
        zip_int64_t n = zip_fread(FFile, buffer, count);
        if (n < 0) throw EFileError("Cannot read " + FName + ": " + zip_file_strerror(FFile), EIO);
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

// A temporary file in Folder that is removed unless released.
struct TTempFile {
    std::string Path;
    int Fd = -1;
    explicit TTempFile(const std::string& folder, const char* prefix) {
        std::string tmpl = folder + prefix + "XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        Fd = ::mkstemp(buf.data());
        if (Fd < 0) throw EFileError("Cannot create a temporary file in " + folder + ": " +
                                         SysErrorMessage(errno), errno);
        Path = buf.data();
    }
    ~TTempFile() {
        if (Fd >= 0) ::close(Fd);
        if (!Path.empty()) ::unlink(Path.c_str());
    }
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
        if (Fd >= 0 && ::close(Fd) != 0) {
            Fd = -1;
            throw EFileError("Cannot write " + Path + ": " + SysErrorMessage(errno), errno);
        }
        Fd = -1;
    }
};

// Copies Source to the temporary file; CRC and size of what was copied. False when the
// owner's cancel flag stopped it.
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
    temp.CloseFd();
    return true;
}

// An archive with no members: libzip removes such a file on commit, so an empty archive
// is written in its place.
void KeepEmptyArchive(const std::string& archive) {
    if (FileThere(archive)) return;
    static const char eocd[22] = {'P', 'K', 5, 6};
    WriteFileAtomic(archive, std::string_view(eocd, sizeof eocd));
}

}  // namespace

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
    if (archive == FZipFileName && !Dirty) return;
    FZipFileName = archive;
    ReadContents();
}

void TQNZipMaster::EnsureCurrent(const std::string& archive) {
    if (archive != FZipFileName || Dirty) SetZipFileName(archive);
}

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
    Dirty = false;
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
        names.Add(name);
        infos.Add(info.ToHex());
        comments.Add(std::string());
        FUnsafe.push_back(IsUnsafeMemberName(name) || IsSymlinkEntry(z.get(), static_cast<zip_uint64_t>(i)));
        total += info.Size;
    }
    stats.Add("FolderCount=1");
    stats.Add("FileSizeTotal=" + IntToStr(total));
    stats.Add("FileCount=" + IntToStr(names.Count()));
}

bool TQNZipMaster::IsUnsafeMemberName(const std::string& name) {
    if (name.empty()) return true;
    if (name.find('\0') != std::string::npos) return true;
    if (name[0] == '/' || name[0] == '\\') return true;
    if (name.size() >= 2 && name[1] == ':') return true;
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
    TQNStringList& names = Names();
    for (int i = 0; i < names.Count(); ++i)
        if (names[i] == member) return i;
    for (int i = 0; i < names.Count(); ++i)
        if (SameText(names[i], member)) return i;
    return -1;
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
    FOwner->ShowStatus(text, 4, true);
    (void)verbose;
}

std::shared_ptr<zip> TQNZipMaster::Reader(const std::string& archive) {
    struct stat st {};
    if (::stat(archive.c_str(), &st) != 0) {
        FReader.reset();
        return nullptr;
    }
    const std::string stamp = IntToStr(int64_t(st.st_dev)) + ":" + IntToStr(int64_t(st.st_ino)) +
                              ":" + IntToStr(int64_t(st.st_size)) + ":" +
                              IntToStr(int64_t(st.st_mtim.tv_sec)) + "." +
                              IntToStr(int64_t(st.st_mtim.tv_nsec));
    if (FReader && FReaderName == archive && FReaderStamp == stamp) return FReader;
    TZipPtr z = OpenArchive(archive);
    FReader = std::shared_ptr<zip_t>(z.release(), TZipCloser());
    FReaderName = archive;
    FReaderStamp = stamp;
    return FReader;
}

std::unique_ptr<TStream> TQNZipMaster::OpenMember(const std::string& archive,
                                                  const std::string& member) {
    std::shared_ptr<zip_t> z = Reader(archive);
    if (!z) return nullptr;
    zip_int64_t idx = zip_name_locate(z.get(), member.c_str(), 0);
    if (idx < 0) idx = zip_name_locate(z.get(), member.c_str(), ZIP_FL_NOCASE);
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

bool TQNZipMaster::ExtractMember(const std::string& archive, const std::string& member,
                                 std::string& outPath, bool verbose,
                                 const std::string& destFolder) {
    outPath.clear();
    std::string base = destFolder.empty() ? Folder(archive) : destFolder;
    if (!base.empty() && base.back() != '/') base += '/';
    std::unique_ptr<TStream> in = OpenMember(archive, member);
    if (!in) return false;
    TFileInfoRec info;
    MemberInfo(archive, member, info);
    const std::string target = base + member;
    ForceDirectories(Folder(target));
    TTempFile temp(Folder(target), ".qnzip-");
    uLong crc = 0;
    int64_t size = 0;
    if (!CopyToTemp(FOwner, *in, temp, crc, size)) return false;
    if (info.Time != 0) {
        struct timespec t[2] = {{0, UTIME_OMIT},
                                {static_cast<time_t>(UnixFromDosDateTime(info.Time)), 0}};
        ::utimensat(AT_FDCWD, temp.Path.c_str(), t, 0);
    }
    if (::rename(temp.Path.c_str(), target.c_str()) != 0)
        throw EFileError("Cannot write " + target + ": " + SysErrorMessage(errno), errno);
    temp.Path.clear();
    outPath = target;
    Log("Unzipped zip://" + archive + "/" + member + " to " + target, verbose);
    return true;
}

bool TQNZipMaster::AddFromStream(const std::string& archive, const std::string& member,
                                 TStream& stream, const TFileInfoRec& info) {
    if (IsUnsafeMemberName(member))
        throw EFileError("The member name \"" + member + "\" is not allowed in an archive.", EINVAL);
    TTempFile temp(FOwner->TempFolder(), "zipadd-");
    uLong crc = 0;
    int64_t size = 0;
    stream.SetPosition(0);
    if (!CopyToTemp(FOwner, stream, temp, crc, size)) return false;
    {
        TZipPtr z = OpenArchive(archive, ZIP_CREATE);
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
    TZipPtr check = OpenArchive(archive);
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
    const std::string root = Folder(archive);
    std::string member;
    if (!root.empty() && filePath.size() > root.size() &&
        SameText(std::string_view(filePath).substr(0, root.size()), root))
        member = filePath.substr(root.size());
    else
        member = filePath.substr(filePath.rfind('/') + 1);
    TFileInfoRec info;
    struct stat st {};
    if (::stat(filePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    info.Time = DosDateTimeFromUnix(st.st_mtim.tv_sec);
    info.Attributes = faArchive | (((st.st_mode & 0222) == 0 ? uint32_t(faReadOnly) : 0u));
    std::unique_ptr<TFileStream> in = TFileStream::OpenRead(filePath);
    if (!AddFromStream(archive, member, *in, info)) return false;
    in.reset();
    outLocation = "zip://" + archive + "/" + member;
    Log("Zipped " + filePath + " to " + outLocation, verbose);
    ::unlink(filePath.c_str());
    return true;
}

bool TQNZipMaster::DeleteMember(const std::string& archive, const std::string& member,
                                bool verbose) {
    TZipPtr z = OpenArchive(archive);
    if (!z) return false;
    z.reset();
    z = OpenArchive(archive, 0);
    zip_int64_t idx = zip_name_locate(z.get(), member.c_str(), 0);
    if (idx < 0) idx = zip_name_locate(z.get(), member.c_str(), ZIP_FL_NOCASE);
    if (idx < 0) return false;
    if (zip_delete(z.get(), static_cast<zip_uint64_t>(idx)) != 0)
        ZipFail("Cannot delete " + member + " from " + archive, z.get());
    if (zip_close(z.get()) != 0) ZipFail("Cannot write the archive " + archive, z.get());
    z.release();
    KeepEmptyArchive(archive);
    Dirty = true;
    FReader.reset();
    Log("Deleted ZipEntry " + member + " from " + archive, verbose);
    return true;
}
