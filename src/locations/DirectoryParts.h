// Files and folders of the local file system.
//
// Linux rules of this kind:
// - "/" separates components; a backslash belongs to the name. A location is valid when
//   it is absolute: its Drive is "/". Relative paths, drive letters ("c:\…") and network
//   shares ("\\server\share", "//server/share") are not valid locations.
// - The root "/" is an ordinary folder location; an empty location stays empty.
// - Listings read the folder with readdir and fstatat without following symbolic links:
//   a link is listed as a file (attributes 32), with the size and time of its target
//   when that is a regular file, so no walk ever enters a folder through a link.
//   FIFOs, sockets and devices are listed as files but never opened for reading.
// - A listing starts with the folder's own entry "./", followed by the other entries
//   sorted ignoring case (ties byte-wise); ".." is left out; folder names end with "/".
// - Records: Time from the last-write time in UTC (before 1980: 1980-01-01 00:00),
//   Size 0 for folders, Attributes 16 for folders and 32 for everything else, plus 1
//   (read-only) when the owner may not write.
// - Writing goes to a temporary file beside the target that is renamed over it once
//   complete; a cancelled or failed write leaves the old file as it was. The data is
//   flushed to the disk before the rename, unless the owner defers the flushes of new
//   files (LocationOwner.h).
#pragma once

#include "locations/URLParts.h"

#include <string>
#include <sys/stat.h>
#include <vector>

class TDirectoryParts : public TURLParts {
public:
    explicit TDirectoryParts(TLocationOwner* owner);
    ~TDirectoryParts() override;
    static std::unique_ptr<TURLParts> Create(TLocationOwner* owner);

    std::string Drive;  // "/" for an absolute path, empty otherwise

    TPartsClass PartsClass() const override { return &TDirectoryParts::Create; }
    std::string_view SeparatorChars() const override { return "/"; }

    void SetLocation(const std::string& location, const std::string& info = {},
                     const std::string& comment = {}) override;
    std::string GetLocation() override;  // Scheme + Path + VirtualPath + Name
    std::string GetContainerPath() override { return Path; }
    std::string GetLocalFileName() override { return GetLocation(); }
    std::string GetContainer() override;
    bool FileExists() override;
    bool ContainerExists() override;
    bool IsValid() override;
    int ForceContainerToExist() override;
    bool Delete(bool verbose) override;
    std::unique_ptr<TStream> OpenReadStream() override;
    bool WriteFromStream(TStream& stream, const TFileInfoRec& info) override;
    bool SetAttrib(uint32_t attributes) override;
    bool SetDate(uint32_t time) override;
    void CopyTo(TParts& dest, int mode, TCopyResult& result) override;
    void URLMoveTo(TParts& dest, int mode, TCopyResult& result) override;
    int RemoveEmptyFolders(TQNMemIniFile* store, bool includeSelf) override;
    std::string MapLocation(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly,
                            bool afterRoot) override;
    int ListContents() override;
    void CopyFrom(const TURLParts& other) override;
};

// The information record of a local path as a listing gives it (no link followed into a
// folder); false when the path does not exist.
bool LocalInfoOf(const std::string& path, TFileInfoRec& info);
// The record of a stat result; Target is the result of following a link (may be null).
TFileInfoRec InfoFromStat(const struct stat& st, const struct stat* target);
// Whether Location is an absolute local path without NUL characters or a share prefix.
bool IsLocalAbsolutePath(std::string_view path);
// Path without its trailing "/" characters; the root stays "/".
std::string WithoutTrailingSlash(const std::string& path);

// One entry of a local folder as a listing reads it.
struct TLocalEntry {
    std::string Name;  // "." for the folder's own entry
    bool IsFolder = false;
    TFileInfoRec Info;
};
// Reads Folder (absolute, ending with "/") into Entries in listing order: "." first,
// then the others sorted ignoring case, ties byte-wise; ".." is left out. False when the
// folder does not exist; EFileError when it exists but cannot be read.
bool ScanLocalFolder(const std::string& folder, std::vector<TLocalEntry>& entries);
