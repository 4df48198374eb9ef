#include "locations/FTPFileParts.h"

#include "common/SysUtils.h"

#include <cctype>

TFTPFileParts::TFTPFileParts(TLocationOwner* owner) : TURLParts(owner) { Separator = "/"; }

std::unique_ptr<TURLParts> TFTPFileParts::Create(TLocationOwner* owner) {
    return std::make_unique<TFTPFileParts>(owner);
}

void TFTPFileParts::SetLocation(const std::string& location, const std::string& info,
                                const std::string& comment) {
    TURLParts::SetLocation(location, info, comment);
    // "ftp://host" names the server's root folder.
    if (Path.empty() && !Name.empty()) {
        Path = Name + "/";
        Name.clear();
        BaseName.clear();
        Extension.clear();
        NameHasWildcards = false;
    }
    // The digits between "ftp" and "://" choose the connection.
    std::string word = LowerCase(Scheme.size() >= 3 ? Scheme.substr(0, Scheme.size() - 3) : "");
    size_t e = word.size();
    while (e > 0 && std::isdigit(static_cast<unsigned char>(word[e - 1]))) --e;
    ClientIndex = word.substr(e) == "2" ? 2 : 1;
    size_t slash = Path.find('/');
    Host = slash == std::string::npos ? Path : Path.substr(0, slash);
    std::string folder = slash == std::string::npos ? std::string() : Path.substr(slash + 1);
    folder = StripSeparators(folder);
    RemoteFolder = folder.empty() ? "/" : "/" + folder + "/";
}

std::string TFTPFileParts::GetLocation() {
    Location = Scheme + Path + Name;
    return Location;
}

bool TFTPFileParts::IsValid() {
    std::string scheme = LowerCase(Scheme);
    if (Host.empty()) return false;
    return scheme == "ftp://" || (scheme == "ftp2://" && Host.find('.') != std::string::npos);
}

void TFTPFileParts::CopyFrom(const TURLParts& other) {
    TURLParts::CopyFrom(other);
    if (auto* f = dynamic_cast<const TFTPFileParts*>(&other)) {
        ClientIndex = f->ClientIndex;
        Host = f->Host;
        RemoteFolder = f->RemoteFolder;
    }
}
