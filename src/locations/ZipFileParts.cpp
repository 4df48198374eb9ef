#include "locations/ZipFileParts.h"

#include "locations/DirectoryParts.h"

#include "common/SysUtils.h"

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
