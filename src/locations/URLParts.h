// The location model: a location string names a file or folder in a local folder, inside
// a zip archive, on an FTP server or in a PowerBuilder library, and the parts classes
// parse it and offer one set of file operations on every kind.
//
//   TParts            the operations every kind offers
//   ├─ TURLParts      the common parse, the cached listing, destination mapping
//   │  ├─ TDirectoryParts   local folders and files      (DirectoryParts.h)
//   │  ├─ TZipFileParts     zip archive members          (ZipFileParts.h)
//   │  ├─ TFTPFileParts     files on FTP servers         (FTPFileParts.h)
//   │  └─ TPBLFileParts     PowerBuilder library entries (PBLFileParts.h)
//   └─ TBackupFileParts  wraps one TURLParts and adds the backup-name layer
//
// Location syntax: an optional scheme (word characters and "://" at the very start),
// then the path. "<vpc:TEXT>" anywhere is cut out and becomes VirtualPath; the tags
// <dtn:FORMAT>, <dtf:FORMAT>, <#FORMAT>, <file:>, <filebase:> and <ext:> stay in the text
// and are expanded only by MapLocation. The rest splits at its last separator into Path
// (ending with one separator) and Name, and Name at its last "." into BaseName and
// Extension. Several locations are joined with "||", several masks with "|".
//
// Local paths on Linux: "/" is the only separator (a backslash is an ordinary character
// of a file name), names compare case-sensitively, only absolute paths are valid, and
// the root "/" is addressable. Blanks at the ends of names are kept: trim at the input
// boundary, never inside the model.
#pragma once

#include "common/DateUtils.h"
#include "common/QNStringList.h"
#include "common/Streams.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

class TLocationOwner;
class TQNMemIniFile;
class TURLParts;

// A location that cannot be used for what was asked: an operation its kind does not
// offer, a destination that would leave its root, a refused tag.
class ELocationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Attribute bits of an information record.
enum : uint32_t {
    faReadOnly = 1,
    faHidden = 2,
    faSysFile = 4,
    faDirectory = 16,
    faArchive = 32,
};

// --- MS-DOS date-times ---------------------------------------------------------------------
// Bits 25-31 year-1980, 21-24 month, 16-20 day, 11-15 hours, 5-10 minutes, 0-4 seconds/2.
// Zero means "no date". Values compare as unsigned 32-bit numbers.

inline constexpr uint32_t DosTimeEarliest = 0x00210000;  // 1980-01-01 00:00:00
inline constexpr uint32_t DosTimeLatest = 0xFF9FBF7D;    // 2107-12-31 23:59:58

// Packs broken-down fields; a year before 1980 gives DosTimeEarliest (a time that still
// reads as present), one after 2107 DosTimeLatest. Odd seconds round down.
uint32_t PackDosDateTime(int year, int month, int day, int hour, int min, int sec);
// The MS-DOS date-time of a moment given in seconds since 1970 (UTC), with UTC fields.
uint32_t DosDateTimeFromUnix(int64_t seconds);
// The moment (seconds since 1970) that a UTC MS-DOS date-time names; 0 for 0.
int64_t UnixFromDosDateTime(uint32_t dos);
// The same fields read as local time.
int64_t UnixFromLocalDosDateTime(uint32_t dos);
// Converts between UTC and local fields through the process's time zone; 0 stays 0.
uint32_t UtcToLocalDosTime(uint32_t dos);
uint32_t LocalToUtcDosTime(uint32_t dos);
// The fields as a TDateTime, no zone conversion; 0 gives 0.
TDateTime DosDateTimeToDateTime(uint32_t dos);

// --- Information record --------------------------------------------------------------------

// 24 bytes, little-endian, exchanged as 48 upper-case hexadecimal digits in byte order.
struct TFileInfoRec {
    uint32_t Time = 0;        // offset 0: MS-DOS date-time of the last write, UTC fields
    uint32_t Reserved1 = 0;   // offset 4
    int64_t Size = 0;         // offset 8
    uint32_t Attributes = 0;  // offset 16
    uint32_t Reserved2 = 0;   // offset 20

    static constexpr size_t ByteSize = 24;
    static constexpr size_t HexSize = 48;

    bool IsFolder() const { return (Attributes & faDirectory) != 0; }

    // The modification time beyond what Time holds, where the record's maker knew it
    // (local files): Reserved1 = FineTimeFlag | the nanoseconds of the second, Reserved2 =
    // the low 32 bits of the time in whole seconds since 1970 (UTC). Records of archive
    // members and of older documents hold zero there, and their times compare by Time.
    static constexpr uint32_t FineTimeFlag = 0x80000000u;
    // Beside the fine time: the entry is a symbolic link, pipe, socket or device, not a
    // plain file or folder (its own kind is asked of the file system when it matters).
    static constexpr uint32_t NotPlainFlag = 0x40000000u;
    bool HasFineTime() const { return (Reserved1 & FineTimeFlag) != 0; }
    void SetFineTime(int64_t seconds, uint32_t nanoseconds);
    bool NotPlain() const { return HasFineTime() && (Reserved1 & NotPlainFlag) != 0; }
    void SetNotPlain() { Reserved1 |= NotPlainFlag; }
    // The time in whole seconds since 1970 (from Time alone when the record has no fine
    // time; the low 32 bits are read near Time, which so also holds times up to 136 years
    // before 1980 and after 2107 that Time cannot).
    int64_t UnixSeconds() const;
    uint32_t Nanoseconds() const { return HasFineTime() ? Reserved1 & ~(FineTimeFlag | NotPlainFlag) : 0; }

    std::array<uint8_t, ByteSize> ToBytes() const;
    static TFileInfoRec FromBytes(std::span<const uint8_t, ByteSize> bytes);
    std::string ToHex() const;
    // Exactly 48 hexadecimal digits (either case); anything else gives nullopt.
    static std::optional<TFileInfoRec> FromHex(std::string_view hex);

    bool operator==(const TFileInfoRec&) const = default;
};

// Comparing the modification times of two records.
// - ExactTime: what both records hold. With fine times on both, to the nanosecond;
//   else by the two-second Time. For records of one file system (a source and its own
//   history).
// - CoarseTime: to the two-second step of the MS-DOS time every file system keeps (FAT
//   keeps no more), but with whole seconds where both records have them, so that times
//   before 1980 or after 2107 stay apart. For a file and its copy on another file system.
// Both return <0, 0 or >0 as A is older than, as old as or newer than B.
int CompareExactTime(const TFileInfoRec& a, const TFileInfoRec& b);
int CompareCoarseTime(const TFileInfoRec& a, const TFileInfoRec& b);

// Counts of a copy, move or list deletion; the operation clears it first.
struct TCopyResult {
    int Files = 0;           // files copied or moved (deleted, for a list deletion)
    int CreatedFolders = 0;  // folders created for the destination (deleted, for a list deletion)
    int Folders = 0;         // folders moved
    void Clear() { *this = TCopyResult(); }
};

// A printf-style counter format (the text after "%" of a <#FORMAT> tag) checked against
// flags "-+ #0", a width and a precision of at most two digits each, and one conversion
// of d, i, u, o, x or X. Returns the text for Value, or nullopt for any other format. The
// format is never handed to a formatting function.
std::optional<std::string> FormatCounter(std::string_view format, int64_t value);

// --- Parts classes -------------------------------------------------------------------------

// The class reference of a kind: creates an empty object of that kind.
using TPartsClass = std::unique_ptr<TURLParts> (*)(TLocationOwner* owner);

class TParts {
public:
    // A null Owner means the program-wide owner (DefaultLocationOwner()).
    explicit TParts(TLocationOwner* owner);
    virtual ~TParts();
    TParts(const TParts&) = delete;
    TParts& operator=(const TParts&) = delete;

    std::string Location;      // as last set (or composed, for the kinds that store it)
    TLocationOwner* Owner;     // whose resources the object uses; never null
    bool Temporary = false;    // destroying the object deletes its file, quietly
    std::string Separator = "/";

    // The object's own kind, so that a listing can create entries of the same kind.
    virtual TPartsClass PartsClass() const = 0;
    // The location object that does the work (itself, or the wrapped one).
    virtual TURLParts* URLTarget() = 0;

    virtual std::string GetLocation() = 0;
    virtual void RebuildName() = 0;
    // Info: 48 hexadecimal digits (the record), any other non-empty text (look the entry
    // up through the owner), or empty (no information).
    virtual void SetLocation(const std::string& location, const std::string& info = {},
                             const std::string& comment = {}) = 0;
    virtual std::string GetContainerPath() = 0;
    virtual std::string GetLocalFileName() = 0;
    virtual bool LocalFileExists() = 0;
    virtual bool Delete(bool verbose) = 0;
    // Replaces the entry's content by the whole stream (read from its start to its end)
    // and applies Info's date and attributes. True when the new content is in place;
    // false when the owner's cancel flag stopped it, in which case the old content is
    // untouched. Platform failures raise EFileError, also leaving the old content.
    virtual bool WriteFromStream(TStream& stream, const TFileInfoRec& info) = 0;
    // A new stream at position 0, or null when the entry does not exist or is not a file
    // that may be read.
    virtual std::unique_ptr<TStream> OpenReadStream() = 0;
    virtual bool FileExists() = 0;
    virtual bool ContainerExists() = 0;
    virtual int ForceContainerToExist() = 0;
    virtual bool IsValid() = 0;
    virtual bool SetAttrib(uint32_t attributes) = 0;
    virtual void CopyTo(TParts& dest, int mode, TCopyResult& result) = 0;
    virtual void URLMoveTo(TParts& dest, int mode, TCopyResult& result) = 0;
    virtual int RemoveEmptyFolders(TQNMemIniFile* store, bool includeSelf) = 0;
    virtual std::string GetPathAndName() = 0;
    // Time: an MS-DOS date-time in local time; 0 means now. False when it could not be set.
    virtual bool SetDate(uint32_t time) = 0;
    virtual std::string GetContainer() = 0;
    // The location that corresponds to this entry under DestRoot; raises ELocationError
    // when the entry is not below SourceRoot, when the part below the roots would leave
    // the destination root, or when a tag is refused.
    virtual std::string MapLocation(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly,
                                    bool afterRoot) = 0;
    virtual std::string GetContainerPrefix() = 0;
};

class TURLParts : public TParts {
public:
    explicit TURLParts(TLocationOwner* owner);
    // The kind for a scheme no other kind claims: it parses, is never valid, and its
    // operations raise ELocationError.
    static std::unique_ptr<TURLParts> Create(TLocationOwner* owner);

    TURLParts* Parent = nullptr;  // the folder whose listing produced this entry
    int ParentIndex = -1;         // the entry's index in that listing
    std::string InfoHex;          // Info as 48 digits, empty when none was supplied
    std::string Scheme;           // including "://", empty for plain paths
    std::string Path;             // the folder part, ending with one separator
    std::string Name;             // the file name (may hold wildcards), empty for a folder
    std::string BaseName;
    std::string Extension;        // including its dot
    TFileInfoRec Info;
    bool NameHasWildcards = false;
    bool PathHasWildcards = false;
    bool IsSelfEntry = false;     // the location named a folder's own "." entry
    std::string Comment;
    std::string VirtualPath;      // text of a <vpc:> tag
    bool HasTags = false;         // the text after the scheme holds "<"

    // The cached listing: the sections of the owner's current store named GetLocation(),
    // with the suffixes "FileInfo, "Stats and "Comment. Looked up by name on every call,
    // so a cleared store never leaves a dangling list behind.
    TQNStringList& Names();
    TQNStringList& Infos();
    TQNStringList& Stats();
    TQNStringList& Comments();

    TPartsClass PartsClass() const override { return &TURLParts::Create; }
    TURLParts* URLTarget() override { return this; }

    std::string GetLocation() override;  // Scheme + Path + Name, also stored in Location
    void RebuildName() override;         // Name := BaseName + Extension
    void SetLocation(const std::string& location, const std::string& info = {},
                     const std::string& comment = {}) override;
    bool LocalFileExists() override;
    std::string GetPathAndName() override;
    std::string GetContainerPrefix() override;  // Scheme + Path
    bool IsValid() override { return false; }

    // Operations a kind must provide; here they raise ELocationError.
    std::string GetContainerPath() override;
    std::string GetLocalFileName() override;
    bool Delete(bool verbose) override;
    bool WriteFromStream(TStream& stream, const TFileInfoRec& info) override;
    std::unique_ptr<TStream> OpenReadStream() override;
    bool FileExists() override;
    bool ContainerExists() override;
    int ForceContainerToExist() override;
    bool SetAttrib(uint32_t attributes) override;
    void CopyTo(TParts& dest, int mode, TCopyResult& result) override;
    void URLMoveTo(TParts& dest, int mode, TCopyResult& result) override;
    int RemoveEmptyFolders(TQNMemIniFile* store, bool includeSelf) override;
    bool SetDate(uint32_t time) override;
    std::string GetContainer() override;
    std::string MapLocation(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly,
                            bool afterRoot) override;

    // Binds the listing sections and returns the number of entries; each kind fills an
    // empty listing first.
    virtual int ListContents();
    // Copies the parts (not Location, not the listing) from Other.
    virtual void CopyFrom(const TURLParts& other);
    // The characters that separate path components in this kind's locations.
    virtual std::string_view SeparatorChars() const { return "/\\"; }

protected:
    void BindListing();
    // The mapping as folder and zip locations compute it.
    std::string MapLocationCommon(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly,
                                  bool afterRoot);
    // "Copied" (Mode 1) or "Backed up", the source, " to " and the destination, at level Mode.
    void LogCopy(TParts& dest, int mode);
    [[noreturn]] void NotSupported(const char* operation);
    bool IsSeparatorChar(char c) const;
    // Text without its trailing separators (blanks stay).
    std::string StripSeparators(std::string_view s) const;
    // The normalisation of step 7 of the parse: separators unified, interior runs
    // collapsed, exactly one trailing separator, "." components removed.
    void NormalizePath();

private:
    TQNStringList& ListingSection(const char* suffix);
    TQNMemIniFile* FListingStore = nullptr;
    std::string FListingName;
};

// A string list whose Add appends and returns 0.
class TFilePartsList : public TQNStringList {
public:
    int Add(std::string s, TObjectPtr obj = nullptr) {
        TQNStringList::Add(std::move(s), std::move(obj));
        return 0;
    }
};

// The kind of a location, chosen by its scheme: none → folder; a scheme ending in "ftp"
// and digits (ftp://, ftp2://, sftp://) → FTP; "zip://" ignoring case → zip; one ending
// in "pb" and digits → library; anything else → the plain TURLParts.
TPartsClass PartsClassFor(std::string_view location);
// A new object of the location's kind, set to (Location, Info, Comment).
std::unique_ptr<TURLParts> CreateParts(TLocationOwner* owner, const std::string& location,
                                       const std::string& info = {},
                                       const std::string& comment = {});
// The name of the section that caches the listing of Location in Store. Section names
// ignore case while local names do not, so when Store already holds the listing of a
// location that differs from this one only in case ("/a/Docs/" and "/a/docs/"), this one
// is kept under a name of its own (the location followed by "\"Case " and its bytes in
// hexadecimal). The companions add "FileInfo, "Stats and "Comment to it.
std::string ListingSectionName(const TQNMemIniFile& store, const std::string& location);
// The scheme at the start of Location ("zip://"), or empty.
std::string ExtractScheme(std::string_view location);
// Location without its <vpc:…> tag; Text receives the tag's text.
std::string CutVirtualPathTag(std::string_view location, std::string& text);
