// Members of zip archives: zip://ARCHIVE/MEMBER, where the archive path runs up to the
// first ".zip", ".exe" or ".jar" (ignoring case) that ends a path component. This unit
// holds the parse; the archive operations are those of the zip component.
#pragma once

#include "locations/URLParts.h"

class TZipFileParts : public TURLParts {
public:
    explicit TZipFileParts(TLocationOwner* owner);
    static std::unique_ptr<TURLParts> Create(TLocationOwner* owner);

    std::string MemberFolder;  // the member's folder inside the archive, empty or ending "/"

    TPartsClass PartsClass() const override { return &TZipFileParts::Create; }
    void SetLocation(const std::string& location, const std::string& info = {},
                     const std::string& comment = {}) override;
    std::string GetLocation() override;  // "zip://" + Path + "/" + MemberFolder + Name
    std::string GetContainerPrefix() override { return Scheme + Path + "/"; }
    std::string GetContainerPath() override;  // the folder of the archive
    std::string GetContainer() override { return Path; }
    // The scheme is exactly "zip://" and the archive is a valid local file location.
    bool IsValid() override;
    void CopyFrom(const TURLParts& other) override;

private:
    bool FArchiveFound = false;
};
