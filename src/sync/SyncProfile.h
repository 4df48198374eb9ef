// Sync profiles: the option set, the profile record and its 254-byte stored form,
// profile lines "source -> destination", the interval texts and the drive check.
//
// A profile names a source and a destination (its line), carries its options, a
// detection schedule, two regular-expression filters, FTP logins for either side and the
// history of its last completed sync. The window holds one TSyncProfile per line; each
// has an EngineCopy on which the sync engine works, so a sync in progress never sees
// half-edited values.
//
// Stored form ("Option" value of a document's "Profile-<i>" section): 254 bytes, little
// endian, written as 508 upper-case hexadecimal digits:
//
//   offset size field                 offset size field
//   0      4    Options (bit n = n)   40     4    ChangeCount (signed)
//   4      11   reserved              44     8    reference slots
//   15     8    DetectInterval (days) 52     1    Selected (255 or 0)
//   23     8    SyncDelay (days)      53     32   reference slots
//   31     8    LastDetectTime        85     8    ChangeDetectedTime
//   39     1    DetectOnly            93     4    reference slot
//                                     97     157  reserved
//
// The reference slots held addresses of the expressions and lists in memory; they mean
// nothing in a file. Reading ignores them (and the reserved bytes); writing puts zeros
// there and in the reserved bytes. Doubles are IEEE 754 binary64.
#pragma once

#include "common/DateUtils.h"
#include "common/QNStringList.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// --- Options -------------------------------------------------------------------------------

// The 26 profile options, in bit order.
enum class TFileSyncOption : uint8_t {
    PromptIfNewer,          // 0  ask before overwriting a newer or changed destination
    BackupIfNewer,          // 1  back up a newer or changed destination, then overwrite
    SyncIfDateChanged,      // 2  compare dates; when off, every file is copied
    RootRelativeDir,        // 3  destination path prefixed with the source's directory
    CascadeDir,             // 4  search sources recursively
    SourceDirectory,        // 5  the source is a folder (window only)
    ManRefresh,             // 6  takes part in manual and watch syncs
    AutoDetect,             // 7  checked for changes on its schedule
    AutoRefresh,            // 8  detected changes synced after the delay
    TextInFileInclude,      // 9  text-in-file expression includes
    EmptyFolders,           // 10 folders are entries too
    SyncDeletedObjects,     // 11 deletions are repeated in the destination
    FilterPreviousProfile,  // 12 filters the profile above instead of syncing
    OverwriteIfNewer,       // 13 overwrite a newer destination without asking
    BackupIfChanged,        // 14 keep a backup of every destination version
    RegExpFilterInclude,    // 15 file-name expression includes
    AbsoluteTime,           // 16 the detect interval is a clock-time pattern
    MoveFile,               // 17 delete the source after copying it
    PhantomDestination,     // 18 the first sync copies nothing
    ZipBackups,             // 19 backups collected into one zip per file
    ASyncDetect,            // 20 the system reports source changes
    BackupFileDifferences,  // 21 backups stored as difference files
    CompareContent,         // 22 decide by contents
    CompareFileSize,        // 23 decide by size
    SingleDestFolder,       // 24 no subfolders in the destination
    MoveRenameDest,         // 25 moves and renames repeated in the destination
};

inline constexpr int FileSyncOptionCount = 26;

// A set of options, stored as 4 bytes with bit n for option n. Bits above 25 are kept as
// they were read, so a stored value survives a round trip unchanged.
class TFileSyncOptions {
public:
    constexpr TFileSyncOptions() = default;
    constexpr TFileSyncOptions(std::initializer_list<TFileSyncOption> options) {
        for (TFileSyncOption o : options) FBits |= Bit(o);
    }
    static constexpr TFileSyncOptions FromBits(uint32_t bits) {
        TFileSyncOptions s;
        s.FBits = bits;
        return s;
    }
    constexpr uint32_t Bits() const { return FBits; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr bool Contains(TFileSyncOption o) const { return (FBits & Bit(o)) != 0; }
    // Every option of Mask is in the set.
    constexpr bool ContainsAll(TFileSyncOptions mask) const {
        return (FBits & mask.FBits) == mask.FBits;
    }
    constexpr void Include(TFileSyncOption o) { FBits |= Bit(o); }
    constexpr void Exclude(TFileSyncOption o) { FBits &= ~Bit(o); }
    constexpr void Set(TFileSyncOption o, bool on) { on ? Include(o) : Exclude(o); }
    constexpr TFileSyncOptions operator|(TFileSyncOptions other) const {
        return FromBits(FBits | other.FBits);
    }
    constexpr TFileSyncOptions operator&(TFileSyncOptions other) const {
        return FromBits(FBits & other.FBits);
    }
    constexpr bool operator==(const TFileSyncOptions&) const = default;

    static constexpr uint32_t Bit(TFileSyncOption o) { return uint32_t(1) << unsigned(o); }

private:
    uint32_t FBits = 0;
};

// "PromptIfNewer" … "MoveRenameDest"; the window's check boxes are "CheckBox" + name.
std::string_view FileSyncOptionName(TFileSyncOption o);
// The check box caption, e.g. "Prompt If Destination Is Newer".
std::string_view FileSyncOptionCaption(TFileSyncOption o);
// The option of a name (exact spelling), or nullopt.
std::optional<TFileSyncOption> FileSyncOptionByName(std::string_view name);

// Options of a profile made from a dropped file ($02800A44) and from a dropped folder or
// container ($02800A74).
inline constexpr TFileSyncOptions FileDropOptions{
    TFileSyncOption::SyncIfDateChanged, TFileSyncOption::ManRefresh,
    TFileSyncOption::TextInFileInclude, TFileSyncOption::SyncDeletedObjects,
    TFileSyncOption::CompareFileSize,   TFileSyncOption::MoveRenameDest};
inline constexpr TFileSyncOptions FolderDropOptions =
    FileDropOptions | TFileSyncOptions{TFileSyncOption::CascadeDir,
                                       TFileSyncOption::SourceDirectory};

// --- The profile ---------------------------------------------------------------------------

// ChangeDetectedTime when no change is pending (far future).
inline constexpr TDateTime NoChangeDetected = 100000.0;

struct TSyncProfile {
    TFileSyncOptions Options;
    double DetectInterval = 1.0 / 48;  // days: 30 minutes
    double SyncDelay = 1.0 / 1440;     // days: 1 minute
    TDateTime LastDetectTime = 0;      // start of the last completed detection or sync
    bool DetectOnly = false;           // the current pass only counts changes
    int32_t ChangeCount = 0;           // changes counted and not yet synced
    std::string FilterRegExpr;         // file-name expression
    std::string TextInFileRegExpr;     // text-in-file expression
    bool Selected = false;             // chosen for the current manual sync
    TQNStringList HistoryFiles;        // source entries of the last completed sync
    TQNStringList HistoryFileInfo;     // one 48-digit information record per entry
    TQNStringList HistoryStats;        // the "Stats" lines of the last source search
    TQNStringList FTPSourceLoginInfo;  // Server=, UserName=, Password=, Account=
    TQNStringList FTPDestLoginInfo;
    TQNStringList WatchFiles;          // queued watch notifications (not stored)
    TQNStringList WatchFileInfo;
    TDateTime ChangeDetectedTime = NoChangeDetected;  // first sight of a pending change
    std::unique_ptr<TSyncProfile> EngineCopy;         // the engine's copy (window profiles)

    TSyncProfile() = default;
    TSyncProfile(const TSyncProfile&) = delete;
    TSyncProfile& operator=(const TSyncProfile&) = delete;

    bool Has(TFileSyncOption o) const { return Options.Contains(o); }
    // Whether this profile or its engine copy holds a history.
    bool HasHistory() const;
};

// A profile with the defaults; with AddEngineCopy also its EngineCopy (itself without
// one). Freeing is the owner's destruction: the copy goes with its profile.
std::unique_ptr<TSyncProfile> NewProfile(bool addEngineCopy);
// A profile passes between a window's profile, its engine copy and the engine's own
// profile by these: every value field, both expressions and the contents of all seven
// lists, copied (CopyProfile) or moved (MoveProfile: a history can hold a hundred
// thousand entries; From keeps empty lists).
void CopyProfile(const TSyncProfile& from, TSyncProfile& to);
void MoveProfile(TSyncProfile& from, TSyncProfile& to);
// What the user sets: Options, both intervals, both expressions, Selected and the two FTP
// login lists.
void CopyProfileSettings(const TSyncProfile& from, TSyncProfile& to);

// --- Stored form ---------------------------------------------------------------------------

inline constexpr size_t SyncProfileRecordSize = 254;
inline constexpr size_t SyncProfileHexSize = 2 * SyncProfileRecordSize;  // 508
using TSyncProfileRecord = std::array<uint8_t, SyncProfileRecordSize>;

// Offsets of the stored fields.
namespace SyncProfileOffset {
inline constexpr size_t Options = 0;
inline constexpr size_t DetectInterval = 15;
inline constexpr size_t SyncDelay = 23;
inline constexpr size_t LastDetectTime = 31;
inline constexpr size_t DetectOnly = 39;
inline constexpr size_t ChangeCount = 40;
inline constexpr size_t Selected = 52;
inline constexpr size_t ChangeDetectedTime = 85;
}  // namespace SyncProfileOffset

// The record of the profile's value fields, zeros everywhere else.
TSyncProfileRecord EncodeProfileRecord(const TSyncProfile& profile);
// Takes Options, the three times, DetectOnly, ChangeCount, Selected and
// ChangeDetectedTime from Bytes; bytes missing at the end read as zeros. A time that is
// not a finite number reads as 0. Nothing else of the profile changes.
void DecodeProfileRecord(std::span<const uint8_t> bytes, TSyncProfile& profile);
// The record as 508 upper-case hexadecimal digits.
std::string ProfileRecordToHex(const TSyncProfile& profile);
// Decodes the digits (either case) as DecodeProfileRecord does; a short value is padded
// with zeros, a longer one cut. A value that is not hexadecimal throughout (a character
// that is no digit, or an odd count) is unreadable and decodes as all zeros: no options,
// zero times. False for an unreadable value.
bool ProfileRecordFromHex(std::string_view hex, TSyncProfile& profile);

// --- Profile lines -------------------------------------------------------------------------

// Source + " -> " + destination.
std::string ProfileLine(std::string_view source, std::string_view dest);
// The text in front of the first "-> ", without the one blank before it; the whole line
// when it holds no "-> ".
std::string ProfileSource(std::string_view line);
// The text after the first "-> "; empty when the line holds no "-> ". A profile with an
// empty destination is never synced.
std::string ProfileDest(std::string_view line);

// --- Intervals -----------------------------------------------------------------------------

// Intervals cap at this many days.
inline constexpr double MaxIntervalDays = 999;
// The text of the interval edit "ddd:hh:mm:ss": the whole days right-aligned in three
// characters, ":", the time of day as "hh:mm:ss" ("  0:00:30:00" for 30 minutes). A value
// below 0 or not finite shows as 0, one above the cap as the cap.
std::string FormatInterval(double days);
// Days + hours/24 + minutes/1440 + seconds/86400 of the four ":"-separated fields (blanks
// around digits allowed, an empty field is 0), capped at 999 days. nullopt for text that
// does not convert: the edit then restores its previous text.
std::optional<double> ParseInterval(std::string_view text);

// --- Drive check ---------------------------------------------------------------------------

// Whether a profile's locations can be reached. On Linux a local source is available when
// its root folder exists. A local destination whose root folder is missing counts as not
// available while the profile holds a history: an unmounted disk or share must not look
// like an empty folder that a sync fills or whose files it takes for deleted. Without a
// history a missing destination is simply created by the first sync. A source archive
// (zip) must exist; other kinds (FTP, library) are not checked here: their own connection
// reports failures.
struct TProfileDrives {
    bool SourceAvailable = true;
    bool DestAvailable = true;
    bool Available() const { return SourceAvailable && DestAvailable; }
};
TProfileDrives CheckProfileDrives(std::string_view line, const TSyncProfile& profile);
// The folder a local location starts from: the text up to the last "/" in front of the
// first tag or wildcard ("/data/src/*.txt" → "/data/src/"); empty when the location is
// not a local absolute path.
std::string LocalRootFolder(std::string_view location);
// Whether Location is of the local folder kind (no scheme).
bool IsLocalLocation(std::string_view location);
// Whether Location is a zip archive or a folder in one ("zip:///data/a.zip/sub/").
bool IsZipLocation(std::string_view location);
// The folder a location a sync can use starts from: LocalRootFolder for local ones; for
// zip ones the text up to the last "/" in front of the first tag or wildcard, at least the
// archive with its "/" ("zip:///data/a.zip/*.txt" → "zip:///data/a.zip/"). Empty for
// other kinds.
std::string SyncRootFolder(std::string_view location);
// The archive file of a zip location, empty for other kinds.
std::string ZipArchiveOf(std::string_view location);

// --- The profile list ----------------------------------------------------------------------

// The ordered profile lines of a document, each with its profile.
class TSyncProfileList {
public:
    struct TEntry {
        std::string Line;
        std::unique_ptr<TSyncProfile> Profile;
    };

    int Count() const { return static_cast<int>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }
    const std::string& Line(int i) const { return At(i).Line; }
    void SetLine(int i, std::string line) { At(i).Line = std::move(line); }
    TSyncProfile& Profile(int i) { return *At(i).Profile; }
    const TSyncProfile& Profile(int i) const { return *At(i).Profile; }
    // Appends; returns the index.
    int Add(std::string line, std::unique_ptr<TSyncProfile> profile);
    void Delete(int i);
    void Clear() { FItems.clear(); }
    void Exchange(int i, int j);
    // Sorts by line, ignoring case; profiles move with their lines.
    void Sort();
    TQNStringList Lines() const;

private:
    TEntry& At(int i);
    const TEntry& At(int i) const;
    std::vector<TEntry> FItems;
};

// The hand-over between a document's profiles and the sync engine's, around one run.
// Before it, Engine gets one profile per document line: the history and run state of the
// profile's engine copy (moved; the profile's own when it has none) with the settings the
// user made on the profile itself.
void GiveProfilesToEngine(TSyncProfileList& document, TSyncProfileList& engine);
// After it, the history and run state go back where they came from and the options the
// run changed reach the document's profiles; the user's choice of profiles stays as it was.
void TakeProfilesFromEngine(TSyncProfileList& engine, TSyncProfileList& document);
