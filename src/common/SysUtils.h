// Basic string helpers shared by every unit: case folding, comparison, trimming and
// number conversion. Strings are byte strings (UTF-8 in practice); case folding and
// case-insensitive comparison act on ASCII letters only, so multi-byte sequences
// compare byte-wise and never change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Root of the objects that a string list can carry beside its strings.
class TObject {
public:
    virtual ~TObject() = default;
};

char UpCaseChar(char c);
char LoCaseChar(char c);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// Three-way comparisons: negative, zero or positive.
int CompareStr(std::string_view a, std::string_view b);   // byte-wise, case-sensitive
int CompareText(std::string_view a, std::string_view b);  // ASCII case-insensitive
bool SameText(std::string_view a, std::string_view b);

// Remove leading/trailing characters up to and including the blank (control chars too).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// 1-based position of Sub in S, 0 when absent (an empty Sub is never found).
size_t Pos(std::string_view sub, std::string_view s);
// Case-insensitive variant of Pos.
size_t PosText(std::string_view sub, std::string_view s);

std::string IntToStr(int64_t value);
// Upper-case hexadecimal, at least Digits digits.
std::string IntToHex(uint64_t value, int digits);

// Integer text: optional blanks, optional sign, decimal digits, or hexadecimal after
// "$", "0x" or "0X". Overflow and trailing garbage make the text unparsable.
std::optional<int64_t> TryStrToInt64(std::string_view s);
int64_t StrToInt64Def(std::string_view s, int64_t def);
int StrToIntDef(std::string_view s, int def);
