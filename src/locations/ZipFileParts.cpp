#include "locations/ZipFileParts.h"

#include "locations/DirectoryParts.h"
#include "locations/LocationOwner.h"

#include "common/EngineContract.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"

#include <ctime>
#include <functional>
#include <sys/stat.h>

TZipFileParts::TZipFileParts(TLocationOwner* owner) : TURLParts(owner) {}

std::unique_ptr<TURLParts> TZipFileParts::Create(TLocationOwner* owner) {
    return std::make_unique<TZipFileParts>(owner);
}

void TZipFileParts::SetLocation(const std::string& location, const std::string& info,
                                const std::string& comment) {
    TURLParts::SetLocation(location, info, comment);
    MemberFolder.clear();
    std::string vpc;
    const std::string text = CutVirtualPathTag(location, vpc);
    size_t start = 0;
    while (SameText(std::string_view(text).substr(start, 6), "zip://")) start += 6;
    size_t end = std::string::npos;
    for (size_t i = start; i + 4 <= text.size(); ++i) {
        std::string_view ext = std::string_view(text).substr(i, 4);
        if ((SameText(ext, ".zip") || SameText(ext, ".exe") || SameText(ext, ".jar")) &&
            (i + 4 == text.size() || IsSeparatorChar(text[i + 4]))) {
            // A folder so named ("/data/old.zip/") is part of the archive's path.
            struct stat st {};
            if (i + 4 < text.size() && ::stat(text.substr(start, i + 4 - start).c_str(), &st) == 0 &&
                S_ISDIR(st.st_mode))
                continue;
            end = i + 4;
            break;
        }
    }
    FArchiveFound = end != std::string::npos;
    if (!FArchiveFound) return;
    Path = text.substr(start, end - start);
    size_t m = end;
    while (m < text.size() && IsSeparatorChar(text[m])) ++m;
    const std::string member = text.substr(m);
    size_t sep = std::string::npos;
    for (size_t i = member.size(); i > 0; --i)
        if (IsSeparatorChar(member[i - 1])) {
            sep = i - 1;
            break;
        }
    MemberFolder = sep == std::string::npos ? std::string() : member.substr(0, sep + 1);
    Name = sep == std::string::npos ? member : member.substr(sep + 1);
    // The extension runs from the first dot of the member's name: data.tar.gz → .tar.gz.
    size_t dot = Name.find('.');
    BaseName = dot == std::string::npos ? Name : Name.substr(0, dot);
    Extension = dot == std::string::npos ? std::string() : Name.substr(dot);
    NameHasWildcards = Name.find_first_of("*?") != std::string::npos;
    PathHasWildcards = Path.find_first_of("*?") != std::string::npos;
    IsSelfEntry = false;
}

std::string TZipFileParts::GetLocation() {
    Location = "zip://" + Path + "/" + MemberFolder + Name;
    return Location;
}

std::string TZipFileParts::GetContainerPath() {
    size_t p = Path.rfind('/');
    return p == std::string::npos ? std::string() : Path.substr(0, p + 1);
}

bool TZipFileParts::IsValid() {
    return Scheme == "zip://" && FArchiveFound &&
           PartsClassFor(Path) == &TDirectoryParts::Create && IsLocalAbsolutePath(Path);
}

void TZipFileParts::CopyFrom(const TURLParts& other) {
    TURLParts::CopyFrom(other);
    if (auto* z = dynamic_cast<const TZipFileParts*>(&other)) {
        MemberFolder = z->MemberFolder;
        FArchiveFound = z->FArchiveFound;
    }
}

// --- Operations ----------------------------------------------------------------------------

TQNZipMaster& TZipFileParts::ZipMaster() { return Owner->ZipMaster(); }

std::string TZipFileParts::GetLocalFileName() {
    // The copy's folder is keyed by the archive and by the member's name, size, CRC and
    // date, so a copy is used again only while the member is unchanged. A member whose
    // path leaves the folder is never looked for there; the extraction refuses it.
    const std::string stamp = ZipMaster().MemberStamp(Path, MemberPath());
    if (stamp.empty()) return std::string();
    const std::string name = stamp.substr(0, stamp.find('\n'));
    const std::string folder = Owner->TempFolder() + "zip-" +
                               IntToHex(std::hash<std::string>()(Path + "\n" + stamp), 16) + "/";
    const std::string local = folder + name;
    struct stat lst {};
    if (!TQNZipMaster::IsUnsafeMemberName(name) && ::lstat(local.c_str(), &lst) == 0 &&
        S_ISREG(lst.st_mode))
        return local;
    std::string out;
    if (!ZipMaster().ExtractMember(Path, name, out, false, folder)) return std::string();
    return out;
}

bool TZipFileParts::FileExists() {
    if (!ContainerExists()) return false;
    return ZipMaster().MemberExists(Path, MemberPath());
}

bool TZipFileParts::ContainerExists() {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::unique_ptr<TStream> TZipFileParts::OpenReadStream() {
    if (Name.empty()) return nullptr;
    return ZipMaster().OpenMember(Path, MemberPath());
}

bool TZipFileParts::WriteFromStream(TStream& stream, const TFileInfoRec& info) {
    return ZipMaster().AddFromStream(Path, MemberPath(), stream, info);
}

bool TZipFileParts::Delete(bool verbose) {
    return ZipMaster().DeleteMember(Path, MemberPath(), verbose);
}

bool TZipFileParts::SetDate(uint32_t time) {
    std::unique_ptr<TStream> in = OpenReadStream();
    if (!in) return false;
    TFileInfoRec info;
    ZipMaster().MemberInfo(Path, MemberPath(), info);
    info.Time = time == 0 ? DosDateTimeFromUnix(::time(nullptr)) : LocalToUtcDosTime(time);
    Info.Time = info.Time;
    return ZipMaster().AddFromStream(Path, MemberPath(), *in, info);
}

void TZipFileParts::CopyTo(TParts& dest, int mode, TCopyResult& result) {
    result.Files = 0;
    result.CreatedFolders = 0;
    // A member written over its own archive would replace every other member.
    if (auto* to = dynamic_cast<TDirectoryParts*>(dest.URLTarget())) {
        if (SameFileObject(Path, to->GetLocation())) {
            Owner->ShowStatus("Cannot copy " + GetLocation() + " to " + dest.GetLocation() +
                                  ": it is the member's own archive.",
                              llError, true);
            return;
        }
    }
    std::unique_ptr<TStream> in = OpenReadStream();
    if (!in) return;
    TFileInfoRec info = Info;
    if (info.Time == 0 && info.Size == 0) ZipMaster().MemberInfo(Path, MemberPath(), info);
    result.CreatedFolders = dest.ForceContainerToExist();
    if (!dest.WriteFromStream(*in, info)) return;
    result.Files = 1;
    LogCopy(dest, mode);
}

void TZipFileParts::URLMoveTo(TParts& dest, int mode, TCopyResult& result) {
    result.Clear();
    // A member moved onto itself (its own name, or a spelling in other case that finds
    // it) would be replaced by itself and then deleted.
    if (auto* to = dynamic_cast<TZipFileParts*>(dest.URLTarget())) {
        if (to->Path == Path || SameFileObject(Path, to->Path)) {
            const std::string stamp = ZipMaster().MemberStamp(Path, MemberPath());
            const std::string own = stamp.substr(0, stamp.find('\n'));
            if (to->MemberPath() == MemberPath() || to->MemberPath() == own) {
                Owner->ShowStatus("Error, could not...Moved " + GetLocation() + " to " +
                                      dest.GetLocation() + ": it is the same member.",
                                  llError, true);
                return;
            }
        }
    }
    CopyTo(dest, mode, result);
    // The member goes only once the copy reads back the same.
    if (result.Files > 0 && Owner->CompareContents(*this, dest))
        ZipMaster().DeleteMember(Path, MemberPath(), false);
    else
        result.Files = 0;
    Owner->ShowStatus(std::string(result.Files == 0 ? "Error, could not..." : "") + "Moved " +
                          GetLocation() + " to " + dest.GetLocation(),
                      mode, mode != 0);
}

int TZipFileParts::ListContents() {
    BindListing();
    TQNStringList& names = Names();
    // The listing remembers the archive file it was read from; a changed file (written
    // through another object or by another program) is listed again.
    const std::string archive = StripSeparators(Path);
    auto stamp = [&archive] {
        std::string s = ArchiveFileStamp(archive);
        return s.empty() ? std::string("none") : s;
    };
    if (names.Empty() || Stats().Values("ArchiveStamp") != stamp()) {
        TQNZipMaster& zip = ZipMaster();
        zip.SetZipFileName(archive);
        names = zip.Names();
        Infos() = zip.Infos();
        Stats() = zip.Stats();
        Comments() = zip.Comments();
        // Taken after the listing: pointing the component at a backup archive may migrate it.
        Stats().SetValue("ArchiveStamp", stamp());
    }
    return names.Count();
}
