// Members of zip archives: zip://ARCHIVE/MEMBER, where the archive path runs up to the
// first ".zip", ".exe" or ".jar" (ignoring case) that ends a path component and is not
// an existing folder. This unit holds the parse; the archive operations are those of the
// zip component (QNZipMaster.h). A listing of any zip location holds every member of its
// archive by its full member path (folders end with "/"); a cached listing is filled
// again once the archive file changed. The local copy of a member (GetLocalFileName)
// lives in a folder of the owner's temporary folder that is keyed by the archive's path
// and the member's name, size, CRC and date, so the same member path in two archives
// never shares a copy and a changed member is extracted again.
#pragma once

#include "locations/QNZipMaster.h"
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

    std::string GetLocalFileName() override;
    bool FileExists() override;
    bool ContainerExists() override;
    int ForceContainerToExist() override { return 0; }
    std::unique_ptr<TStream> OpenReadStream() override;
    bool WriteFromStream(TStream& stream, const TFileInfoRec& info) override;
    bool Delete(bool verbose) override;
    bool SetAttrib(uint32_t) override { return true; }
    bool SetDate(uint32_t time) override;
    void CopyTo(TParts& dest, int mode, TCopyResult& result) override;
    void URLMoveTo(TParts& dest, int mode, TCopyResult& result) override;
    int RemoveEmptyFolders(TQNMemIniFile*, bool) override { return 0; }
    std::string MapLocation(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly,
                            bool afterRoot) override {
        return MapLocationCommon(sourceRoot, destRoot, nameOnly, afterRoot);
    }
    int ListContents() override;

    // The member path inside the archive.
    std::string MemberPath() const { return MemberFolder + Name; }
    // The owner's zip component.
    TQNZipMaster& ZipMaster();

private:
    bool FArchiveFound = false;
};
