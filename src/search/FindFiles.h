// The search engine: walks one or more locations of any kind, recursively if asked, and
// collects every entry that passes the mask, name-pattern, text-pattern and filter tests
// into a named result list of a settings store. The engine is also the owner of what
// location objects share (TLocationOwner): the store in which folder listings are cached,
// the private temporary folder, the gauges, the status line and the log memo.
//
// A search (FindFiles) writes four sections into its store:
//   ResultName             one location per found entry, in the order found
//   ResultName"FileInfo    the entry's information record, 48 hexadecimal digits
//   ResultName"Comment     the entry's comment (from the per-file notes)
//   ResultName"Stats       FolderCount=, FileSizeTotal=, FileCount= (decimal); and, when
//                          something could not be searched, Incomplete=1 and
//                          UnreadableCount=<entries that could not be read>
// and caches the listing of every folder it visits under the folder's location.
//
// Linux rules of this engine:
// - A search that could not look at everything is marked incomplete: an unreadable
//   folder or file, a folder that vanished or turned into something else while the
//   search ran, a file-system loop, a location kind that is not available yet, a text
//   pattern too complex for a file, or a cancel. The search goes on past each of them;
//   every one is counted and logged (level 5). SearchIncomplete() reads the mark.
// - Folders are entered only as folders: a symbolic link is an entry, never a way into
//   another folder, and a folder reached twice through bind mounts is not entered again.
// - The text search reads only regular files (FIFOs, sockets, devices and links to
//   folders are never opened and never match), reads them in pieces of bounded size, and
//   searches each zero byte as the byte 1. Files up to TextWindowSize bytes are searched
//   whole. Larger ones are searched in windows of that size that overlap by TextOverlap
//   bytes: a match is found wherever it lies as long as it (with what its look-arounds
//   inspect) is at most TextOverlap bytes long; an unfinished match attempt that stays
//   open for more than TextOverlap bytes (".*" with the s modifier, say) may hide matches
//   that start within that stretch.
// - Looking one entry up (FindOne, EntryExists, FindEntries, the backup-name searches)
//   never clears the result store or the temporary folder that another caller uses. Such
//   searches of the engine's own (also those of archive patterns, DeleteMatching and
//   TouchFound) keep their results and are never reported to OnFound.
// - Names compare case-sensitively where the location kind does (local folders): the
//   exact-name short cut and FindOne take "Docs" and "docs" as two entries. Masks match
//   ignoring case, and a mask also matches a name equal to it ("f[1].txt").
// - The temporary folder is made with mkdtemp under $XDG_CACHE_HOME/Quennick/FindFiles/
//   on first use, so two engines never share one; only the engine that made it removes
//   it, without ever following a symbolic link.
#pragma once

#include "locations/BackupFileParts.h"
#include "locations/LocationOwner.h"
#include "common/Streams.h"

#include "common/Masks.h"
#include "common/QNMemIniFile.h"
#include "common/QNRegExpr.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

class ILogMemo;

// Splits a list of locations or of mask groups at every run of two or more "|", as the
// engine does. With Sets (mask groups), a "|" inside a mask set ("[|]") is part of its text.
std::vector<std::string> SplitAtRuns(std::string_view text, bool sets);
class IStatusControl;

// Search flags (one byte).
enum : uint8_t {
    fsRecurse = 1,            // recurse into sub-folders
    fsFolders = 2,            // report folders too
    fsNameMustMatch = 4,      // NamePattern must match (clear: must not match)
    fsTextMustMatch = 8,      // TextPattern must be found (clear: must not be found)
    fsZipArchives = 16,       // also search inside zip archives of the first folder
    fsMaskFullLocation = 32,  // masks are matched against the full location
    fsFoldersWithFiles = 64,  // report only folders that contain found files (sets bit 1)
};

inline constexpr std::string_view MaskSeparator = "|";
inline constexpr std::string_view LocationSeparator = "||";

// Optional limits of a search; a zero or empty field is not checked. Times are UTC
// MS-DOS date-times and compare as unsigned numbers (later is larger, to 2107).
struct TFindFileAdvancedSearch {
    uint32_t MinTime = 0;
    uint32_t MaxTime = 0;
    int64_t MinSize = 0;
    int64_t MaxSize = 0;
    std::string CommentContains;  // ignoring case
};

// The caller's entry callback: called with every accepted entry (which stays accepted
// when the result is 0 or more) and with an empty location and a zero record for every
// rejected one (the result is then ignored).
using TFindEntryEvent = std::function<int(const std::string& location, const TFileInfoRec& info)>;

// One entry as the entry test sees it. Its location, record and comment are worked out
// when first asked for, so a search that rejects an entry by its name never reads more
// of it.
struct TFindEntry {
    std::string_view Name;        // the name the masks test (empty for a folder)
    bool IsFolder = false;
    bool IsSelf = false;          // a folder's own "." entry
    bool InRoot = false;          // listed by the root folder of the searched location
    TURLParts* Parts = nullptr;   // the entry's location object; null for local folders

    // The entry's full location (folders end with "/").
    const std::string& Location();
    // The information record; for an entry of a local walk it is read on first use.
    const TFileInfoRec& Info();
    // The record as 48 hexadecimal digits.
    const std::string& InfoHex();
    const std::string& Comment();
    std::string_view ContainerPrefix();
    // Whether the record is known yet (Info() reads it otherwise).
    bool HaveInfo() const { return FHaveInfo; }
    // After Info(): the entry was gone (ENOENT) or could not be read (ReadError).
    bool Vanished() const { return FVanished; }
    int ReadError() const { return FReadError; }

    // How the walker describes the entry: everything known ...
    void SetKnown(std::string location, const TFileInfoRec& info, std::string hex,
                  std::string comment, std::string containerPrefix);
    // ... or an entry of a local folder open as DirFd (AT_FDCWD: OpenName is a full path),
    // named RawName within the folder location Prefix; DType is its directory-entry type.
    void SetLocal(const std::string* prefix, std::string_view rawName, int dirFd,
                  std::string_view openName, unsigned char dType, TFolderNotes* notes);
    void SetInfo(const TFileInfoRec& info);

    int DirFd = -1;
    std::string_view OpenName;
    unsigned char DType = 0;

private:
    const std::string* FPrefix = nullptr;
    std::string_view FRawName;
    TFolderNotes* FNotes = nullptr;
    std::string FLocation, FHex, FComment, FContainer;
    TFileInfoRec FInfo;
    bool FHaveLocation = false, FHaveInfo = false, FHaveHex = false, FHaveComment = false;
    bool FVanished = false;
    int FReadError = 0;
};

class TFindFiles;

// The parameters and running totals of one search.
struct TFindFileParam {
    std::string Masks;             // of the location being searched
    std::string ResultName;
    std::string TextPattern;
    std::string NamePattern;
    std::string Locations;
    TQNRegExpr NameRegex, TextRegex;  // modifiers "gsri-mx"
    std::vector<std::string> LocationList;
    std::vector<std::string> MaskList;
    TFindFiles* Engine = nullptr;
    TFindEntryEvent OnEntry;
    uint8_t Flags = 0;
    const TFindFileAdvancedSearch* Filter = nullptr;
    bool LogFolders = false;
    TQNStringList* ResultNames = nullptr;
    TQNStringList* ResultInfos = nullptr;
    TQNStringList* ResultComments = nullptr;
    TQNStringList* StatsList = nullptr;
    std::string VirtualPathFilter;
    int FolderCount = 0;
    int64_t FileSizeTotal = 0;
    int FileCount = 0;
    TURLParts* CurrentFolder = nullptr;
    // What could not be searched.
    int UnreadableCount = 0;
    bool Cancelled = false;
    bool Incomplete() const { return UnreadableCount > 0 || Cancelled; }
    // The folders being walked (device and inode), to notice a folder reached again.
    std::vector<std::pair<uint64_t, uint64_t>> OpenFolders;

    // Binds the four result sections of Store and empties them.
    void SetResultName(TQNMemIniFile& store, const std::string& name);
    // Sets the masks of the location being searched ("*.*" counts as "*").
    void SetMasks(const std::string& masks);
    // Whether Subject passes the masks; an invalid mask is reported once.
    bool MatchesMasks(std::string_view subject);

private:
    struct TCompiledMask {
        std::string Text;
        std::optional<TMask> Mask;  // none when the mask is malformed
        enum class TFast { None, All, Suffix } Fast = TFast::None;
        std::string Suffix;         // lower case, for "*<literal>"
    };
    std::vector<TCompiledMask> FCompiled;
    bool FReportedInvalid = false;
};

class TFindFiles : public TLocationOwner {
public:
    // Every argument may be null (the program-wide engine has none of them).
    explicit TFindFiles(ILocationGauge* mainGauge = nullptr, ILogMemo* logMemo = nullptr,
                        IStatusControl* statusLine = nullptr, ILocationGauge* copyGauge = nullptr);
    // Removes the temporary folder this engine made, with everything in it.
    ~TFindFiles() override;

    // --- The owner's resources -----------------------------------------------------------
    TQNMemIniFile& CurrentStore() override { return *FStore; }
    std::string TempFolder() override;
    ILocationGauge* MainGauge() override { return FMainGauge; }
    ILocationGauge* CopyGauge() override { return FCopyGauge; }
    void ShowStatus(const std::string& text, int level, bool toMemo) override;
    void ProcessMessages() override;
    bool FindOne(const std::string& location, TFileInfoRec& info) override;
    bool EntryExists(const std::string& location) override;
    const TQNStringList& FindEntries(const std::string& location, const std::string& resultName,
                                     TQNMemIniFile* store) override;

    // --- Searching -----------------------------------------------------------------------
    // The search. Masks holds the locations (joined with "||") when Folders is empty;
    // otherwise Folders (joined with "||") are combined with Masks (CombineFoldersAndMasks).
    // With Store null the search writes into ResultStore, which is cleared first (and
    // the files lying directly in the temporary folder are deleted) unless another search
    // is under way; otherwise into Store, whose cached listings are reused. Returns the
    // live ResultName section.
    // Raises ERegExpr for a pattern that does not compile.
    TQNStringList& FindFiles(const std::string& masks, const std::string& folders, bool logFolders,
                             const TFindFileAdvancedSearch* filter, const std::string& resultName,
                             const std::string& textPattern, const std::string& namePattern,
                             TQNMemIniFile* store, uint8_t flags, TFindEntryEvent onEntry = {});
    // The record of the entry at exactly Location ("/a/f.txt" a file, "/a/sub/" a folder);
    // false with Info zero when there is none. The "Results" sections of Store (when one
    // is given) receive it; no other store is touched.
    bool FindOne(const std::string& location, TQNMemIniFile* store, TFileInfoRec& info);
    // Whether folder listings are kept in the search's store (the default). When off,
    // local folders are walked without keeping their listings, and only the entries a
    // search needs are read (the command line runs this way); results are the same.
    bool CacheListings = true;
    // Called with every accepted entry, before it goes into the result sections; false
    // drops it. A caller that handles the entries itself (the command line prints them
    // as they are found) also turns KeepResults off: the result sections then stay empty
    // (the Stats section is still written), and an entry's record is read only when
    // something asks for it (OnFound calling Info(), a filter, the text search, OnEntry),
    // so FileSizeTotal sums the records that were read. fsFoldersWithFiles needs the
    // results kept.
    std::function<bool(TFindEntry& entry)> OnFound;
    bool KeepResults = true;
    // Whether the last FindFiles of this engine was incomplete, and how many entries it
    // could not read.
    bool LastSearchIncomplete() const { return FLastIncomplete; }
    int LastUnreadableCount() const { return FLastUnreadable; }

    // Folders and masks split at runs of two or more "|"; folder I gets mask I (mask 0
    // when there are fewer masks), joined with "||".
    std::string CombineFoldersAndMasks(const std::string& folders, const std::string& masks);
    // The entry test of a search.
    virtual bool FileMatches(TFindFileParam& param, TFindEntry& entry, bool& descend);

    // --- Operations ----------------------------------------------------------------------
    // Deletes one location (through the backup-name layer).
    bool DeleteFile(const std::string& location, bool verbose);
    // Deletes every file matching Mask in its folder and below (then, with DeleteFolders,
    // the folders emptied); returns the number of files deleted.
    int DeleteMatching(const std::string& mask, bool deleteFolders);
    // Deletes the files lying directly in Folder; sub-folders stay.
    void DeleteFolderFiles(const std::string& folder);
    // Erases the cached listing of Location from Store (CurrentStore() when null).
    void EraseListing(TQNMemIniFile* store, const std::string& location);
    // Empties ResultStore and SecondStore, and points the zip component at no archive.
    void ClearResults();
    // Deletes the files lying directly in Folder (the temporary folder when empty).
    void CleanupTempFolder(const std::string& folder = {});
    void SetBackupPattern(std::string_view pattern) { BackupPattern().SetBackupPattern(pattern); }
    std::string FillBackupPattern(std::string_view file, std::string_view ctr,
                                  std::string_view ext) {
        return BackupPattern().FillBackupPattern(file, ctr, ext);
    }

    // Lets a window run its pending messages during long work.
    std::function<void()> OnProcessMessages;

    // --- Fields --------------------------------------------------------------------------
    TFMWMemIniFile ResultStore;
    TFMWMemIniFile SecondStore;
    TFileInfoRec Template;           // all zero
    TMemoryStream SharedStream;
    std::unique_ptr<TBackupFileParts> ScratchBackup1, ScratchBackup2;
    TFilePartsList PartsList;
    IStatusControl* StatusLine() const { return FStatusLine; }
    ILogMemo* LogMemo() const { return FLogMemo; }
    const std::string& TempFolderToRemove() const { return FTempFolderToRemove; }

    // Files up to this size are searched whole; larger ones in windows of this size.
    static constexpr size_t TextWindowSize = 4 * 1024 * 1024;
    // How far the windows overlap: the longest match that is always found.
    static constexpr size_t TextOverlap = 1024 * 1024;

private:
    enum class TTextResult { Found, NotFound, NotAFile, Unreadable, Failed, Cancelled };

    void FindFileMain(TFindFileParam& p);
    void SearchLocation(TFindFileParam& p, const std::string& location);
    void SearchFolder(TFindFileParam& p, TURLParts& folder, int depth);
    // A local folder is walked in steps: OpenLocalFolder (-1 when it cannot be, reported),
    // ReadLocalNames, TypeAndSortLocalNames, then ExamineLocalEntry for the folder itself
    // (index -1) and each name, which walks the subfolders.
    struct TLocalFolder;
    void WalkLocalFolder(TFindFileParam& p, int parentFd, const std::string& openName,
                         const std::string& path, int depth);
    int OpenLocalFolder(TFindFileParam& p, int parentFd, const std::string& openName,
                        const std::string& path, int depth, struct stat& self);
    bool ReadLocalNames(TFindFileParam& p, int fd, TLocalFolder& f);
    void TypeAndSortLocalNames(int fd, TLocalFolder& f);
    void ExamineLocalEntry(TFindFileParam& p, TLocalFolder& f, int index);
    void ExamineEntry(TFindFileParam& p, TURLParts& folder, int index, int depth, bool local,
                      const std::string& prefix, const TQNStringList& names,
                      const TQNStringList& infos, const TQNStringList& comments);
    void Accept(TFindFileParam& p, TFindEntry& e);
    void FilterFoldersContainingFoundFiles(TFindFileParam& p, TURLParts& root, int firstIndex,
                                           int folderCountBefore);
    bool TextMatches(TFindFileParam& p, TFindEntry& e);
    TTextResult SearchLocalFile(TFindFileParam& p, TFindEntry& e);
    TTextResult SearchStream(TFindFileParam& p, TStream& stream, const std::string& location);
    TTextResult ScanPieces(TFindFileParam& p, const std::function<int64_t(char*, size_t)>& read,
                           int64_t knownSize, const std::string& location);
    void Unreadable(TFindFileParam& p, const std::string& message);
    bool EnterFolder(TFindFileParam& p, uint64_t dev, uint64_t ino, const std::string& path);

    ILocationGauge* FMainGauge;
    ILogMemo* FLogMemo;
    IStatusControl* FStatusLine;
    ILocationGauge* FCopyGauge;
    TQNMemIniFile* FStore;
    std::string FTempFolder;
    std::string FTempFolderToRemove;
    std::vector<char> FTextBuffer;
    bool FTextBufferInUse = false;
    std::vector<char> FDirBuffer;  // getdents64 records of the folder being read
    int FRunning = 0;  // searches under way (a callback may start another)
    bool FLastIncomplete = false;
    int FLastUnreadable = 0;
};

// Whether a search's Stats section carries the incomplete mark.
bool SearchIncomplete(const TQNStringList& stats);

// The size with thousands separators right-aligned in 14 characters, followed by the
// size in the largest unit (K, M, G, T of 1024) in which it is above 1, as
// "(1,234.57KB)", right-aligned in 10 characters (empty up to 1,024 bytes).
std::string FormatSize(int64_t size);
// The record's local time ("yyyy/mm/dd hh:nn:ss", no date before 1980-01-01 00:00), its
// size (FormatSize) and its attribute letters ("RHSVDA"), in columns of 20, 24 and 6.
std::string FormatInfo(const TFileInfoRec& info);

// The MS-DOS date-time value of one hour (2048).
uint32_t DosHourStep();
// A − B is a whole number of hours and fewer than 10 of them (either sign): the times
// differ at most by a time-zone or daylight-saving shift.
bool SameTimeWithinHours(uint32_t a, uint32_t b);

// The program-wide engine and backup-name parser, made on first use and registered as
// the owner that location objects without one use; FreeProgramFindFiles (at program
// end) removes its temporary folder and frees both.
TFindFiles& ProgramFindFiles();
TBackupFileParts& ProgramBackupFileParts();
void FreeProgramFindFiles();
// Sets the date of every file that Location names (a mask may name several) to Time, a
// local MS-DOS date-time (0: now), through the program-wide engine.
void TouchFound(const std::string& location, uint32_t time);
