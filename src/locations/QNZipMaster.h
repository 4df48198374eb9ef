// The zip component: lists, reads and writes zip archives through libzip.
//
// Safety rules:
// - A member whose name is absolute ("/x", "\x"), carries a drive ("c:"), has a ".."
//   component (with either separator) or is a symbolic link is listed like any other, but
//   it is never read or extracted; the attempt is refused with a log line.
// - Members are read as streams straight from the archive; no member is held whole in
//   memory.
// - Writing goes through libzip, which writes the new archive to a temporary file beside
//   it and renames it into place; a failed write leaves the old archive as it was.
// - A source file added with the move option is deleted only after the archive is
//   committed and the member verified (size and CRC read back from the archive).
#pragma once

#include "locations/URLParts.h"

#include "common/QNMemIniFile.h"

#include <memory>
#include <string>
#include <vector>

class TLocationOwner;
struct zip;

class TQNZipMaster {
public:
    explicit TQNZipMaster(TLocationOwner* owner);
    ~TQNZipMaster();
    TQNZipMaster(const TQNZipMaster&) = delete;
    TQNZipMaster& operator=(const TQNZipMaster&) = delete;

    // Points the component at Archive (reading its contents when it changed).
    void SetZipFileName(const std::string& archive);
    const std::string& ZipFileName() const { return FZipFileName; }
    // Lists the current archive into the four lists and clears Dirty. An archive that does
    // not exist lists as empty with FileCount=-1; a damaged one raises EFileError.
    void ReadContents();
    // Resets the component: no archive, Dirty set.
    void Reset();

    // Member names in directory order (folders end with "/"), their 48-digit records,
    // the lines FolderCount, FileSizeTotal and FileCount, and one comment per member.
    TQNStringList& Names();
    TQNStringList& Infos();
    TQNStringList& Stats();
    TQNStringList& Comments();
    bool Dirty = true;

    // Whether Member is in Archive (ignoring case).
    bool MemberExists(const std::string& archive, const std::string& member);
    bool MemberOrDiffExists(const std::string& archive, const std::string& member);
    // The record of Member; false when it is missing.
    bool MemberInfo(const std::string& archive, const std::string& member, TFileInfoRec& info);
    // A stream over the member's bytes, read from the archive as the caller reads; null
    // when the member is missing or is refused by the safety rules (logged).
    std::unique_ptr<TStream> OpenMember(const std::string& archive, const std::string& member);
    // Extracts Member to DestFolder + Member (DestFolder defaults to the archive's folder)
    // with its date; OutPath receives the path, or stays empty when the member is missing
    // or refused. Logs "Unzipped zip://<archive>/<member> to <path>".
    bool ExtractMember(const std::string& archive, const std::string& member, std::string& outPath,
                       bool verbose, const std::string& destFolder = {});
    // Creates or replaces Member with the whole of Stream, dated Info.Time (UTC fields) and
    // with Info.Attributes; the archive is created when missing. True once committed.
    bool AddFromStream(const std::string& archive, const std::string& member, TStream& stream,
                       const TFileInfoRec& info);
    // Adds the file FilePath: below the archive's folder it keeps its relative path,
    // elsewhere its bare name. After commit and verify the source is deleted and
    // OutLocation = "zip://" + Archive + "/" + member; logs "Zipped <file> to <location>".
    bool AddFile(const std::string& archive, const std::string& filePath, std::string& outLocation,
                 bool verbose);
    // Deletes Member; logs "Deleted ZipEntry <member> from <archive>".
    bool DeleteMember(const std::string& archive, const std::string& member, bool verbose);

    // Whether a member name may never be read or extracted: absolute, with a drive, with
    // a ".." component, or (by its attributes) a symbolic link.
    static bool IsUnsafeMemberName(const std::string& name);

private:
    void EnsureCurrent(const std::string& archive);
    void Log(const std::string& text, bool verbose);
    // The index of Member in the archive as libzip names it, or -1.
    int IndexOf(const std::string& member);
    // The open archive that reads use, reopened when the file changed.
    std::shared_ptr<zip> Reader(const std::string& archive);
    std::shared_ptr<zip> FReader;
    std::string FReaderName;
    std::string FReaderStamp;
    TLocationOwner* FOwner;
    std::string FZipFileName;
    TFMWMemIniFile FContentsStore;
    std::vector<bool> FUnsafe;  // per listed member
};
