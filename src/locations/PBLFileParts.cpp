#include "locations/PBLFileParts.h"

#include "common/SysUtils.h"

#include <cctype>

TPBLFileParts::TPBLFileParts(TLocationOwner* owner) : TURLParts(owner) {}

std::unique_ptr<TURLParts> TPBLFileParts::Create(TLocationOwner* owner) {
    return std::make_unique<TPBLFileParts>(owner);
}

void TPBLFileParts::SetLocation(const std::string& location, const std::string& info,
                                const std::string& comment) {
    TURLParts::SetLocation(location, info, comment);
    std::string word = LowerCase(Scheme.size() >= 3 ? Scheme.substr(0, Scheme.size() - 3) : "");
    size_t e = word.size();
    while (e > 0 && std::isdigit(static_cast<unsigned char>(word[e - 1]))) --e;
    Version = e >= 2 && word.compare(e - 2, 2, "pb") == 0 ? word.substr(e) : std::string();
    Path = StripSeparators(Path);
}

std::string TPBLFileParts::GetLocation() {
    Location = "pb" + Version + "://" + Path + "/" + Name;
    return Location;
}

std::string TPBLFileParts::GetContainerPath() {
    size_t p = Path.rfind('/');
    return p == std::string::npos ? std::string() : Path.substr(0, p + 1);
}

bool TPBLFileParts::IsValid() {
    if (Version.empty() || Version.size() > 4) return false;
    return StrToIntDef(Version, 0) > 0;
}

void TPBLFileParts::CopyFrom(const TURLParts& other) {
    TURLParts::CopyFrom(other);
    if (auto* p = dynamic_cast<const TPBLFileParts*>(&other)) Version = p->Version;
}
