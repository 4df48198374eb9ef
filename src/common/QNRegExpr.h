// The framework's regular-expression object: a Perl-style pattern and a modifier string,
// matched with PCRE2 (8-bit, JIT-compiled where the machine allows it).
//
// Modifier letters (in ModifierStr and inline as "(?i)", "(?-g:...)" and the like):
//   i  ignore case             s  "." also matches line breaks
//   g  greedy quantifiers      m  "^" and "$" match at every line
//   x  extended (blanks and "#" comments in the pattern are ignored)
//   r  Russian ranges: accepted and recorded; on UTF-8 text ranges already cover every
//      letter, so it changes nothing.
// A letter switches its flag on, letters after a "-" switch theirs off ("gsri-mx").
// Without a modifier string g is on and the others are off. With g off quantifiers are
// lazy and a trailing "?" makes one greedy. Inline "(?g)" always means greedy and
// "(?-g)" always lazy, whatever the object's flag.
//
// Text is UTF-8 in practice. Bytes that are not valid UTF-8 never raise an error:
// nothing in a pattern matches them (not even "."), and the valid text around them
// matches as usual. A pattern that itself holds such bytes is matched byte by byte.
// Non-ASCII letters match case-insensitively under i; "\w", "\d", "\s" and "\b" are
// ASCII classes (write "(*UCP)" at the start of a pattern for their Unicode meaning).
// Line breaks are LF, CR LF and lone CR, for "^", "$" and "." alike.
//
// Positions count bytes from 1; lengths are in bytes. Group 0 is the whole match.
// For a group that did not take part, or a group number out of range, Match gives "",
// MatchPos and MatchLen give -1.
//
// Matching is bounded: a pattern that backtracks too much on a text raises ERegExpr
// ("the pattern is too complex for this text (...)") instead of running for ever.
//
// Copies share the compiled pattern (read-only) and copy the current match. An object
// is for one thread at a time; separate objects (copies too) may run in parallel.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A pattern that does not compile, a bad modifier string, or a match that hit a limit.
class ERegExpr : public std::runtime_error {
public:
    // What() is Message, followed by " at offset <Offset>" when Offset >= 0.
    ERegExpr(int errorCode, const std::string& message, int64_t offset = -1);
    int ErrorCode() const { return FErrorCode; }           // PCRE2's code; 0 for our own
    const std::string& ErrorMessage() const { return FMessage; }
    int64_t ErrorOffset() const { return FOffset; }         // 0-based byte offset in the pattern, or -1

private:
    int FErrorCode;
    std::string FMessage;
    int64_t FOffset;
};

class TQNRegExpr {
public:
    TQNRegExpr();
    explicit TQNRegExpr(std::string expression);
    TQNRegExpr(std::string expression, std::string_view modifiers);
    ~TQNRegExpr();
    TQNRegExpr(const TQNRegExpr& other);
    TQNRegExpr& operator=(const TQNRegExpr& other);
    TQNRegExpr(TQNRegExpr&& other) noexcept;
    TQNRegExpr& operator=(TQNRegExpr&& other) noexcept;

    // Changing the pattern or a flag that affects it forgets the current match; the
    // pattern is compiled on the next use.
    const std::string& Expression() const { return FExpression; }
    void SetExpression(std::string expression);

    // The flags as "<on letters>-<off letters>" in the order i r s g m x, e.g. "irsg-mx".
    std::string ModifierStr() const;
    // Letters (either case) not named take their default value. A letter outside
    // "irsgmx" raises ERegExpr and leaves the flags unchanged.
    void SetModifierStr(std::string_view modifiers);
    bool ModifierI() const { return FModI; }
    bool ModifierR() const { return FModR; }
    bool ModifierS() const { return FModS; }
    bool ModifierG() const { return FModG; }
    bool ModifierM() const { return FModM; }
    bool ModifierX() const { return FModX; }
    void SetModifierI(bool on);
    void SetModifierR(bool on) { FModR = on; }
    void SetModifierS(bool on);
    void SetModifierG(bool on);
    void SetModifierM(bool on);
    void SetModifierX(bool on);

    // JIT compilation is on by default; off, every match runs in the interpreter.
    bool UseJIT() const { return FUseJIT; }
    void SetUseJIT(bool on);
    // Compiles now if needed; raises ERegExpr for a pattern that does not compile.
    void Compile();
    // Whether the compiled pattern runs as machine code (compiles if needed).
    bool JITActive();
    // Number of capturing groups in the pattern (compiles if needed).
    int SubExprCount();

    // First match in Text. Raises ERegExpr for a bad pattern or an exhausted limit.
    bool Exec(std::string text);
    // First match starting at 1-based byte position Pos or later; the text before Pos is
    // still seen by look-behinds and "\b". False when Pos is outside 1..size+1.
    bool ExecPos(std::string text, size_t pos);
    // Next match from the end of the current one. After an empty match the next match
    // may not be empty at the same place, else the search moves on by one character
    // (one byte for a byte that is not valid UTF-8; CR LF as one): it always ends.
    // False when there is no current match.
    bool ExecNext();
    const std::string& InputString() const { return FInput; }

    // -1 without a current match, else the highest group number that took part (0 when
    // only the whole match did).
    int SubExprMatchCount() const;
    bool Matched(int n) const;  // whether group N took part in the current match
    std::string Match(int n) const;
    int64_t MatchPos(int n) const;
    int64_t MatchLen(int n) const;

    // Template expansion: "$" and one digit, or "${" digits "}", stand for that group
    // ("$0" for the whole match; "$12" is group 1 followed by "2"); a group that did not
    // take part or does not exist gives "". "$$" gives "$"; any other "$" is literal.
    // Substitute expands Template with the current match (all groups "" without one).
    std::string Substitute(std::string_view templ) const;
    // Text with every match replaced by the expanded Template; matches are found as
    // by Exec/ExecNext. Leaves the current match alone.
    std::string Replace(const std::string& text, std::string_view templ);

    // S with a backslash before every character that has a meaning in a pattern.
    static std::string QuoteRegExprMetaChars(std::string_view s);

    // Searching without copying: looks for a match in Text from byte offset Start and
    // leaves the current match alone. The bytes before Start are context only: look-
    // behinds and "\b" see them, while "^" (without m) and "\A" cannot match at a Start
    // above 0. With More, Text is one piece of a longer text whose rest follows: a match
    // attempt that reaches the end of Text (including "$", "\z", "\b" and look-aheads
    // there) is not decided but reported as Partial, with PartialStart set to where that
    // attempt began; attempts at later positions are then not tried. Raises ERegExpr like
    // Exec.
    enum class TScanResult { NoMatch, Match, Partial };
    TScanResult ScanText(std::string_view text, size_t start = 0, bool more = false,
                         size_t* partialStart = nullptr);

private:
    struct TCode;     // compiled pattern, shared by copies
    struct TScratch;  // match data, match context, JIT stack: one per object

    void Invalidate();
    void ClearMatch();
    const TCode& Code();
    // The pattern compiled for matching a text piece by piece (ScanText with More).
    const TCode& PieceCode();
    std::shared_ptr<const TCode> Build(bool pieces) const;
    TScratch& Scratch();
    // Runs one match attempt; true on a match (offsets in the scratch match data).
    bool MatchOnce(std::string_view subject, size_t start, uint32_t options);
    // The same, returning PCRE2's result (a match, no match or a partial match).
    int RunMatch(std::string_view subject, size_t start, uint32_t options);
    // Next match at or after Start; PrevEmpty: the previous match was empty and ended there.
    bool FindNext(const std::string& subject, size_t start, bool prevEmpty);
    bool ExecFrom(size_t start);
    void Expand(std::string_view templ, const std::string& subject,
                const std::vector<size_t>& ovector, int groups, std::string& out) const;

    std::string FExpression;
    bool FModI = false, FModR = false, FModS = false, FModG = true, FModM = false, FModX = false;
    bool FUseJIT = true;
    std::shared_ptr<const TCode> FCode;
    std::shared_ptr<const TCode> FPieceCode;
    std::unique_ptr<TScratch> FScratch;

    std::string FInput;
    std::vector<size_t> FOvector;  // pairs of byte offsets; PCRE2's "unset" for absent groups
    int FMatchCount = -1;          // pcre2_match's count of the current match; -1 none
};

// The program-wide scratch regular expression, with the modifiers "gsri-mx". For the
// main thread only.
TQNRegExpr& SharedRegExpr();
