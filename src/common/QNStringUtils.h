// The framework's string helpers. Positions are 1-based, as in every text position the
// suite writes into its documents; 0 means "not found". Comparisons are case-sensitive
// unless an operation says otherwise (ignoring case acts on ASCII letters only).
#pragma once

#include "common/QNStringList.h"

#include <string>
#include <string_view>

class TQNStringUtils {
public:
    // With SplitAtFirstEquals, SplitNameValue splits at the first "=", else at the last.
    bool SplitAtFirstEquals = false;

    // Count characters drawn uniformly from "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ".
    std::string RandomString(int Count) const;

    // Replaces each occurrence of Find (case-sensitive), scanning left to right and
    // resuming after the inserted text, so inserted text is never rescanned. An empty
    // Find changes nothing.
    std::string ReplaceText(std::string_view Source, std::string_view Find,
                            std::string_view ReplaceWith, bool FirstOnly) const;

    std::string Left(std::string_view S, int N) const;   // the first N characters
    std::string Right(std::string_view S, int N) const;  // the last N characters

    std::string Join(const TQNStringList& List, std::string_view Separator) const;

    // Name = the text before the last "=" (the first with SplitAtFirstEquals), Value = the
    // text after it; both empty when S holds no "=".
    void SplitNameValue(std::string_view S, std::string& Name, std::string& Value) const;

    // Clears List, then adds the pieces of S between separators. Empty pieces between two
    // separators are kept; a trailing separator adds no empty last piece; an empty S
    // gives an empty list. An empty Separator adds S whole (when S is not empty).
    void Split(std::string_view S, TQNStringList& List, std::string_view Separator) const;
    void SplitSemicolons(std::string_view S, TQNStringList& List) const;

    // 1-based position of Sub in S at or after From; 0 when absent or From < 1.
    int PosFrom(std::string_view Sub, std::string_view S, int From) const;

    // P = position of StartMark; 0 (Inner untouched) when absent. Otherwise
    // B = P + length(StartMark), Q = PosFrom(StopMark, S, P + 1), Inner = the Q - B
    // characters from B (empty when StopMark is missing or starts before B); returns B.
    int ExtractBetween(std::string_view S, std::string_view StartMark, std::string_view StopMark,
                       std::string& Inner) const;
    // ExtractBetween(S, "<" + Tag, ">", Inner).
    int GetTag(std::string_view S, std::string_view Tag, std::string& Inner) const;
    // Replaces the first "<" + Tag + Inner + ">" by ReplaceWith.
    std::string ReplaceTag(std::string_view S, std::string_view Tag, std::string_view Inner,
                           std::string_view ReplaceWith) const;

    bool ContainsText(std::string_view Sub, std::string_view S) const;  // ignoring case

    // Applies ReplaceText (all occurrences with ReplaceAll, else the first) again and again
    // until the text stops changing, e.g. to collapse runs of doubled separators. The
    // repetition is bounded: a ReplaceWith that contains Find is applied once (repeating
    // it could never end), and the passes stop after a generous number or when the text
    // grows beyond a generous size.
    std::string ReplaceRepeated(std::string_view S, std::string_view Find,
                                std::string_view ReplaceWith, bool ReplaceAll) const;

    // Adds the strings of a list of NUL-terminated strings that ends with an empty string.
    // Buffer holds single bytes, or UTF-16LE code units when Wide is set (converted to
    // UTF-8). The end of Buffer ends the list even without the final empty string.
    void AddNulSeparatedList(std::string_view Buffer, TQNStringList& Strings, bool ClearFirst,
                             bool Wide) const;
};

// The shared instance every caller uses.
TQNStringUtils& QNStringUtils();
