// The zip component: lists, reads and writes zip archives through libzip.
//
// Safety rules:
// - A member whose name is absolute ("/x", "\x"), carries a drive ("c:"), has a ".."
//   component (with either separator), ends in a "." component or is a symbolic link
//   is listed like any other, but it is never read or extracted; the attempt is refused
//   with a log line.
// - Members are read as streams straight from the archive; no member is held whole in
//   memory. A member yields exactly the size its header gives: more or fewer bytes are
//   an error.
// - Writing goes through libzip, which writes the new archive to a temporary file beside
//   it and renames it into place; a failed write leaves the old archive as it was. An
//   archive with data in front of its first member (a self-extracting program), which
//   a rewrite would drop, is never written: the write raises EFileError. An archive
//   reached through a symbolic link is written where the link points; the link stays.
// - A source file added with the move option is deleted only after the archive is
//   committed and the member verified (size and CRC read back from the archive and
//   compared with the source as it is then).
// - Extraction writes each file to a temporary name beside its target and renames it into
//   place, so a failed write (a full disk, a size limit) leaves no partial file. The
//   folders below the target folder are opened one by one without following symbolic
//   links: a link among them refuses the member, so nothing is written outside.
// - Many files go into an archive in one commit with AddFiles; each AddFile or
//   AddFromStream is a commit of its own, which rewrites the archive.
//
// The listing is kept until the archive file changes (by its device, inode, size and
// modification time), so a write by another object or process is seen at the next use.
//
// Pointing the component at a backup archive ("report Backup (x).txt.zip") that holds a
// member named after the file itself ("report.txt") renames that member to the next
// free version name, in one commit, and logs a warning.
#pragma once

#include "locations/URLParts.h"

#include "common/QNMemIniFile.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class TLocationOwner;

// The archive file as it is now (device, inode, size, modification time), to tell whether
// it changed since it was read; empty when it is missing.
std::string ArchiveFileStamp(const std::string& path);
struct zip;

class TQNZipMaster {
public:
    explicit TQNZipMaster(TLocationOwner* owner);
    ~TQNZipMaster();
    TQNZipMaster(const TQNZipMaster&) = delete;
    TQNZipMaster& operator=(const TQNZipMaster&) = delete;

    // Points the component at Archive, reading its contents when the name differs, Dirty
    // is set or the file changed since it was listed. A different name also runs the
    // migration of a backup archive's member named after its file.
    void SetZipFileName(const std::string& archive);
    const std::string& ZipFileName() const { return FZipFileName; }
    // Lists the current archive into the four lists and clears Dirty. An archive that does
    // not exist lists as empty with FileCount=-1; a damaged one raises EFileError.
    void ReadContents();
    // Resets the component: no archive, Dirty set.
    void Reset();

    // Member names in directory order (folders end with "/"), their 48-digit records,
    // the lines FolderCount, FileSizeTotal and FileCount, and one comment per member
    // (from the notes file of the member inside the same archive).
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
    // The member's own name, size, CRC and date, which change whenever its bytes or date
    // do; empty when the member is missing or is a folder.
    std::string MemberStamp(const std::string& archive, const std::string& member);
    // A stream over the member's bytes, read from the archive as the caller reads; null
    // when the member is missing or is refused by the safety rules (logged).
    std::unique_ptr<TStream> OpenMember(const std::string& archive, const std::string& member);
    // Extracts Member to DestFolder + Member (DestFolder defaults to the archive's folder)
    // with its date; OutPath receives the path, or stays empty when the member is missing
    // or refused. Logs "Unzipped zip://<archive>/<member> to <path>". A write that fails
    // raises EFileError and leaves no file behind. An empty Member extracts every member
    // (ExtractAll) and is true when any was written; OutPath then stays empty.
    bool ExtractMember(const std::string& archive, const std::string& member, std::string& outPath,
                       bool verbose, const std::string& destFolder = {});
    // Extracts every member in turn into DestFolder (default the archive's folder);
    // folder members become folders, refused members are skipped (logged). Returns the
    // paths written. Stops when the owner's cancel flag is set; a failing write raises
    // EFileError (the members extracted before it stay).
    TQNStringList ExtractAll(const std::string& archive, bool verbose,
                             const std::string& destFolder = {});
    // Creates or replaces Member with the whole of Stream, dated Info.Time (UTC fields) and
    // with Info.Attributes; the archive is created when missing. True once committed.
    bool AddFromStream(const std::string& archive, const std::string& member, TStream& stream,
                       const TFileInfoRec& info);
    // Adds the file FilePath: below the archive's folder it keeps its relative path,
    // elsewhere its bare name. After commit and verify the source is deleted and
    // OutLocation = "zip://" + Archive + "/" + member; logs "Zipped <file> to <location>".
    bool AddFile(const std::string& archive, const std::string& filePath, std::string& outLocation,
                 bool verbose);
    // AddFile for every path, in one commit of the archive. Paths that are not regular
    // files or whose names are not UTF-8 are skipped (logged). Returns the locations of
    // the members added; their sources are deleted once verified. A commit that fails raises EFileError and keeps
    // every source; a cancelled one returns an empty list.
    TQNStringList AddFiles(const std::string& archive, const TQNStringList& files, bool verbose);
    // Deletes Member; logs "Deleted ZipEntry <member> from <archive>".
    bool DeleteMember(const std::string& archive, const std::string& member, bool verbose);

    // Whether a member name may never be read or extracted: absolute, with a drive, with
    // a ".." component, or ending in a "." component (a file with no name of its own).
    // Symbolic links are refused by their attributes as well.
    static bool IsUnsafeMemberName(const std::string& name);

private:
    void EnsureCurrent(const std::string& archive);
    void Log(const std::string& text, bool verbose);
    // The index of Member in the listing (exact name first, then ignoring case), or -1.
    int IndexOf(const std::string& member);
    // Writes the member at Index of the open archive to Base + Name; false when refused.
    bool ExtractIndex(const std::string& archive, zip* z, int64_t index, const std::string& name,
                      const std::string& base, std::string& outPath, bool verbose);
    void MigrateBackupArchive();
    void ReadComments();
    // The open archive that reads use, reopened when the file changed.
    std::shared_ptr<zip> Reader(const std::string& archive);
    std::shared_ptr<zip> FReader;
    std::string FReaderName;
    std::string FReaderStamp;
    TLocationOwner* FOwner;
    std::string FZipFileName;
    TFMWMemIniFile FContentsStore;
    std::vector<bool> FUnsafe;  // per listed member
    std::string FListedStamp;   // the archive file as it was listed
    std::unordered_map<std::string, int> FExact, FFolded;  // name (lower-cased) -> index
    bool FMigrating = false;
};
