// Path, time, file, hexadecimal and list helpers shared by the file tools, and the
// shared scratch string list.
//
// Paths: local paths use "/"; the path-text helpers also accept "\" as a separator
// because documents written elsewhere carry such paths ("\\server\share\…", "X:\…").
#pragma once

#include "common/DateUtils.h"
#include "common/QNStringList.h"
#include "common/SysUtils.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

// One file's location, 48-digit information record and comment, carried as the attached
// object of a list line.
struct TFPBasics : TObject {
    TFPBasics() = default;
    TFPBasics(std::string location, std::string info, std::string comment)
        : Location(std::move(location)), Info(std::move(info)), Comment(std::move(comment)) {}
    std::string Location;
    std::string Info;     // 48 upper-case hexadecimal digits
    std::string Comment;
};

// The shared scratch list. Set it up right before use; nothing may keep its contents
// across a call into other code.
TQNStringList& SharedStringList();

// --- Temporary files ---------------------------------------------------------------------

// $TMPDIR when it names an absolute path, else "/tmp"; always with a trailing "/".
std::string GetTempDir();
// Creates a new empty file in GetTempDir() named with the prefix RandomString(3) and
// returns its full path; raises EFileError when it cannot be created.
std::string GetUniqueTempFileName();

// --- Elapsed times -----------------------------------------------------------------------

// floor(Days) in decimal, ":", then Days formatted with Format (normally a time of day).
std::string FormatElapsed(std::string_view Format, double Days);
// Reads "ddd:hh:mm:ss" by fixed positions (1-3 days, 5-6 hours, 8-9 minutes, 11-12
// seconds) into a day count capped at 999; a field that is not a decimal number raises
// EConvertError.
double ParseElapsed(std::string_view S);
// Base plus Seconds, as whole days plus the remaining seconds as a fraction of a day.
TDateTime IncSeconds(int64_t Seconds, TDateTime Base);

// --- Path text ---------------------------------------------------------------------------

// The file-name part of Path, cut before its first ".".
std::string ExtractFileBaseName(std::string_view Path);
// The text after the last "/" or "\" once trailing separators are stripped; Path unchanged
// when the stripped path holds no separator.
std::string ExtractLastPathComponent(std::string_view Path);
// The path below its root: for "\\server\share\rest" the rest, for "/rest" the rest, for
// "X:\rest" (or "X:/rest") the rest. A path with no root comes back unchanged.
std::string ExtractPathAfterRoot(std::string_view Path);
// Path up to and including its last "/" or "\"; unchanged when it has neither.
std::string ExtractDir(std::string_view Path);
// ExtractDir, then StripTrailingSeparators.
std::string ExtractParentDir(std::string_view Path);
// Trims blanks and control characters at both ends, then removes trailing "/" and "\".
std::string StripTrailingSeparators(std::string_view Path);

// --- Sorting and searching string lists --------------------------------------------------

// Three-way comparison of two lines (text and attached object): negative, zero, positive.
using TSortCompare =
    std::function<int(const TQNStringList::TItem& a, const TQNStringList::TItem& b)>;

// Quicksort of the (string, object) pairs (middle element as pivot; not stable), then the
// list is refilled in that order. A comparison that contradicts itself gives some order,
// never a crash. A sorted list files the lines back by its own rule.
void SortStrings(TQNStringList& List, const TSortCompare& Compare);

// Calls Callback with every line's text and object; changed values are written back
// (a changed text in a sorted list raises EStringListError). Returns the count visited.
using TItemCallback = std::function<void(std::string& text, TObjectPtr& obj)>;
int ForEachItem(TQNStringList& Strings, const TItemCallback& Callback);

// Binary search in a list sorted by its own rule. A hit needs the exact (case-sensitive)
// text; Index is then the first such line. On a miss Index is where the text would be
// inserted (among lines that differ only in case, before the first that sorts after it
// byte-wise).
bool FindSorted(const TQNStringList& List, std::string_view Text, int& Index);
// Index of the first line containing Text, ignoring case; -1 when none does.
int FindContaining(const TQNStringList& List, std::string_view Text);
// The first line from Start on that equals Text ignoring case (with Partial: contains
// it); with Wrap a miss repeats the search over the whole list. The search runs only
// when Start is within the list or Wrap is set; -1 when nothing matches.
int FindFrom(const TQNStringList& List, std::string_view Text, int Start, bool Partial,
             bool Wrap);

// --- Files and folders -------------------------------------------------------------------

bool DirectoryExists(const std::string& Path);  // exists and is a folder (links followed)
bool FileExists(const std::string& Path);       // exists and is not a folder
// Whether A and B name one and the same file or folder (links followed).
bool SameFileObject(const std::string& A, const std::string& B);
// Creates every missing folder of Path. Raises EFileError "Unable to create directory"
// for an empty path, and "Unable to create directory <folder>: <reason>" when a level
// cannot be created (for example because a file of that name is in the way).
void ForceDirectories(const std::string& Path);

// --- Hexadecimal -------------------------------------------------------------------------

// The value of one hexadecimal digit (either case), -1 for any other character. Inline:
// the information records of large listings are decoded digit by digit.
inline int HexDigit(char c) {
    static constexpr auto values = [] {
        std::array<int8_t, 256> t{};
        for (auto& v : t) v = -1;
        for (int d = 0; d < 10; ++d) t['0' + d] = int8_t(d);
        for (int d = 0; d < 6; ++d) t['A' + d] = t['a' + d] = int8_t(10 + d);
        return t;
    }();
    return values[static_cast<unsigned char>(c)];
}
// Two upper-case hexadecimal digits per byte, in memory order.
std::string BufferToHex(std::span<const uint8_t> Buffer);
std::string BufferToHex(const void* Buffer, size_t Count);
// Fills Count bytes of Buffer from pairs of hexadecimal digits (either case); Count 0
// means half the text's length. A pair that is not hexadecimal, or is missing because the
// text is short, gives 0. Never writes past Buffer: at most Buffer.size() bytes are filled.
// Returns the number of bytes written.
size_t HexToBuffer(std::string_view Text, std::span<uint8_t> Buffer, size_t Count = 0);
// The same for a block of BufferSize bytes at Buffer (a record, for example).
size_t HexToBuffer(std::string_view Text, void* Buffer, size_t BufferSize, size_t Count = 0);

// The same pair under the names the application manager's unit uses.
std::string BytesToHex(std::span<const uint8_t> Buffer);
size_t HexToBytes(std::string_view Text, std::span<uint8_t> Buffer, size_t Count = 0);
