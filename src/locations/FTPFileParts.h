// Files on FTP servers: ftp://HOST/FOLDER/NAME, or ftpN://…; "ftp2://" uses the owner's
// second FTP connection, every other form the first. This unit holds the parse; the
// transfers are those of the FTP client.
#pragma once

#include "locations/URLParts.h"

class TFTPFileParts : public TURLParts {
public:
    explicit TFTPFileParts(TLocationOwner* owner);
    static std::unique_ptr<TURLParts> Create(TLocationOwner* owner);

    int ClientIndex = 1;       // 1 or 2: which of the owner's FTP connections
    std::string Host;
    std::string RemoteFolder;  // starts and ends with "/"

    TPartsClass PartsClass() const override { return &TFTPFileParts::Create; }
    std::string_view SeparatorChars() const override { return "/"; }
    void SetLocation(const std::string& location, const std::string& info = {},
                     const std::string& comment = {}) override;
    std::string GetLocation() override;  // Scheme + Path + Name
    std::string GetContainerPath() override { return Scheme + Path + "/"; }
    std::string GetContainer() override { return StripSeparators(Path); }
    // "ftp://" with a host, or "ftp2://" with a host name that holds a dot.
    bool IsValid() override;
    void CopyFrom(const TURLParts& other) override;
};
