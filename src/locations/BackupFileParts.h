// Backup names: the versions of a file live beside it (or in a backup folder) under names
// that the owner's backup pattern, "$File Backup ($Ctr)$Ext", derives from the file's own
// name. For report.txt:
//
//   report.txt                    the file itself                    Counter 0
//   report Backup (3).txt         version 3, a whole copy            Counter 3
//   report Backup (3).txt.diff    version 3 as a difference file     Counter 3, DiffSuffix ".diff"
//   report Backup (x).txt.zip     the file's backup archive          Counter -1, ExtraSuffix ".zip"
//   report Backup (x).txt.ini     the file's notes (comments)        Counter -2, ExtraSuffix ".ini"
//
// TBackupFileParts is a location of any kind seen through this layer: it wraps one
// location object of the kind its text selects (Target), passes the file operations to
// it, parses a backup name back into the file's own name, the version number and the
// suffixes, composes the name of any version, and finds the numbers in use. The text
// "Backup" and the suffixes are matched ignoring case; the last " Backup (…)" of a name
// is the one that counts ("a Backup (1) Backup (2).txt" is version 2 of "a Backup (1).txt").
//
// Rules of this implementation:
// - Reading a name only parses text: it never opens an archive, never searches and never
//   migrates anything, so no name can lead back into itself.
// - The next version number is one above the highest in use; gaps are not filled, since
//   a higher number always means a newer version.
// - The masks that look for versions match the file's own name literally: "[", "*", "?"
//   and "|" in it are escaped, so "f[1].txt" finds "f[1] Backup (2).txt".
// - A version counts as in use only under its exact name (local names are case-sensitive).
#pragma once

#include "locations/BackupPattern.h"
#include "locations/URLParts.h"

#include "common/QNMemIniFile.h"
#include "common/QNRegExpr.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A file name with every mask character of it ("[", "*", "?", "|") written as a set of
// its own, so that the name matches itself as a mask.
std::string EscapeMaskChars(std::string_view name);
// Masks joined with "|" split into the single masks; a "|" inside a set ("[|]") belongs
// to its mask.
std::vector<std::string> SplitMasks(std::string_view masks);

class TBackupFileParts : public TParts {
public:
    // Creates an empty plain TURLParts as Target.
    explicit TBackupFileParts(TLocationOwner* owner);
    ~TBackupFileParts() override;

    int Counter = 0;                // 0 the file itself, N > 0 version N, -1 archive, -2 notes
    std::string CounterText = "0";  // the text between the parentheses as parsed
    std::unique_ptr<TURLParts> Target;
    std::string DiffSuffix;         // ".diff" for a version kept as a difference file
    std::string ExtraSuffix;        // ".zip" archive, ".ini" notes, ".diff" as parsed

    TPartsClass PartsClass() const override { return Target->PartsClass(); }
    TURLParts* URLTarget() override { return Target.get(); }

    std::string GetLocation() override;  // Target's location, also stored in Location
    // Composes Target's name from BaseName, Extension, the counter and the suffixes.
    void RebuildName() override;
    // Re-creates Target for the location's kind, sets it and parses the backup name:
    // Target's BaseName and Extension become those of the file itself.
    void SetLocation(const std::string& location, const std::string& info = {},
                     const std::string& comment = {}) override;

    std::string GetContainerPath() override { return Target->GetContainerPath(); }
    std::string GetLocalFileName() override { return Target->GetLocalFileName(); }
    bool LocalFileExists() override { return Target->LocalFileExists(); }
    bool Delete(bool verbose) override { return Target->Delete(verbose); }
    bool WriteFromStream(TStream& stream, const TFileInfoRec& info) override {
        return Target->WriteFromStream(stream, info);
    }
    std::unique_ptr<TStream> OpenReadStream() override { return Target->OpenReadStream(); }
    bool FileExists() override { return Target->FileExists(); }
    bool ContainerExists() override { return Target->ContainerExists(); }
    int ForceContainerToExist() override { return Target->ForceContainerToExist(); }
    bool IsValid() override { return Target->IsValid(); }
    bool SetAttrib(uint32_t attributes) override { return Target->SetAttrib(attributes); }
    void CopyTo(TParts& dest, int mode, TCopyResult& result) override {
        Target->CopyTo(dest, mode, result);
    }
    void URLMoveTo(TParts& dest, int mode, TCopyResult& result) override {
        Target->URLMoveTo(dest, mode, result);
    }
    int RemoveEmptyFolders(TQNMemIniFile* store, bool includeSelf) override {
        return Target->RemoveEmptyFolders(store, includeSelf);
    }
    bool SetDate(uint32_t time) override { return Target->SetDate(time); }
    std::string GetContainer() override { return Target->GetContainer(); }
    std::string GetPathAndName() override { return Target->GetPathAndName(); }
    std::string MapLocation(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly,
                            bool afterRoot) override {
        return Target->MapLocation(sourceRoot, destRoot, nameOnly, afterRoot);
    }
    std::string GetContainerPrefix() override { return Target->GetContainerPrefix(); }

    // Sets Counter; only -2 (the notes file) rebuilds the name at once, for other values
    // callers call RebuildName themselves after setting what else they change.
    void SetCounter(int n);
    // Copies Other's location parts, Target (of Other's kind), CounterText and the
    // suffixes; Counter stays as it was.
    void Assign(const TBackupFileParts& other);
    // The backup archive of the file: the folder part of Target's Path followed by
    // "<base> Backup (x)<ext>.zip"; BackupArchiveLocation puts it into Target's container
    // path instead.
    std::string BackupArchiveName();
    std::string BackupArchiveLocation();
    // The name of version N in the file's own folder (a whole copy, or with Diff the
    // difference file), as a location of Target's kind.
    std::string VersionLocation(int n, bool diff = false);
    // Looks at the versions in use (in the file's folder, in its backup archive, and for
    // a zip member in its own archive; the searches go into Store, a private store when
    // it is null). With Next the location of the next version (one above the highest in
    // use), else that of the newest version in use, or empty when there is none. Never
    // fails: places that do not exist or cannot be searched hold no versions.
    std::string GetBackupName(bool next, TQNMemIniFile* store = nullptr);
    // Looks for an existing copy of this entry's name in OtherFolder, in the backup
    // archive in BackupFolder, in Reference's archive when Reference is a zip member, and
    // in BackupFolder, in that order; on the first hit this object is set to it.
    bool FindBackupCopy(const std::string& backupFolder, const std::string& otherFolder,
                        TBackupFileParts& reference);

protected:
    // Reads the backup-name parts (Counter, CounterText, suffixes) from Target's name.
    virtual void ParseBackupName();
};

// The per-file notes: a store with the section "Comment", one line per commented version,
// CounterText=comment ("0" for the file itself), kept in "<base> Backup (x)<ext>.ini"
// beside the file. Read and written through the location's own operations, so notes in
// archives and on FTP servers work like local ones.
class TNotesIniFile : public TFMWMemIniFile {
public:
    // An empty store with "<>" headers.
    explicit TNotesIniFile(TLocationOwner* owner);
    ~TNotesIniFile() override;

    // Composes the notes location of Location (without reading anything) and makes it
    // the store's file name; returns it.
    const std::string& ComposeFor(const std::string& location);
    // ComposeFor, then, when that notes location differs from the one loaded last, the
    // store is replaced by its content (empty when the file does not exist, cannot be
    // read or is not a valid location).
    void LoadFor(const std::string& location);
    // The comment of Location's version (its CounterText) from its notes.
    std::string CommentFor(const std::string& location);
    // Writes the store to the notes location when it has at least one section, dated now
    // (UTC) with the archive attribute. False when nothing was written.
    bool Save();

    // The location object of the last ComposeFor: its CounterText is that of the entry,
    // its Target names the notes file.
    TBackupFileParts& Parts() { return *FParts; }
    const std::string& NotesLocation() const { return FNotesLocation; }

    // Notes files larger than this are not loaded.
    static constexpr int64_t MaxNotesSize = 16 * 1024 * 1024;

private:
    void LoadComposed();

    TLocationOwner* FOwner;
    std::unique_ptr<TBackupFileParts> FParts;
    std::string FNotesLocation;
    std::string FLoaded;
    bool FHaveLoaded = false;
};

// The comments of the entries of one local folder. An entry can only have a comment when
// its notes file is one of the folder's entries, so the notes files are picked out of
// the folder's names first (most folders hold none) and only those are read.
class TFolderNotes {
public:
    // FolderPath: the folder's location, ending with "/".
    TFolderNotes(TLocationOwner* owner, std::string folderPath);
    ~TFolderNotes();
    // Offers one entry name of the folder; notes files are remembered.
    void AddName(std::string_view name);
    bool Empty() const { return FNotesNames.empty(); }
    // The comment of the file Name of the folder (empty for folders and when none).
    std::string CommentFor(std::string_view name);

private:
    TLocationOwner* FOwner;
    std::string FFolderPath;
    std::vector<std::string> FNotesNames;
    std::unique_ptr<TNotesIniFile> FNotes;
};
