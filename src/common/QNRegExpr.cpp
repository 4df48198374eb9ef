#include "common/QNRegExpr.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// Bounds on one match attempt. The match limit counts backtracking steps (the JIT
// honours it too), the depth limit nested backtracking points and the heap limit (KiB)
// the interpreter's backtracking memory.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kDepthLimit = 1'000'000;
constexpr uint32_t kHeapLimitKiB = 256 * 1024;
// The JIT first runs on a small machine-stack area; a pattern that needs more gets a
// private stack of up to this size, and beyond it the interpreter takes over.
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 8 * 1024 * 1024;

struct TCodeFree {
    void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct TCompileContextFree {
    void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); }
};
struct TMatchDataFree {
    void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct TMatchContextFree {
    void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct TJitStackFree {
    void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};

std::string PcreMessage(int code) {
    PCRE2_UCHAR buf[256];
    int n = pcre2_get_error_message(code, buf, sizeof buf);
    if (n < 0) return "regular expression error " + std::to_string(code);
    return std::string(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
}

bool IsLimitError(int rc) {
    return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
           rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
           rc == PCRE2_ERROR_NOMEMORY;
}

ERegExpr MatchError(int rc) {
    if (IsLimitError(rc))
        return ERegExpr(rc, "the pattern is too complex for this text (" + PcreMessage(rc) + ")");
    return ERegExpr(rc, PcreMessage(rc));
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Length of the unit an empty match steps over: CR LF, one valid UTF-8 character, or
// a single byte of anything else.
size_t StepAt(const std::string& s, size_t p) {
    if (p + 1 < s.size() && s[p] == '\r' && s[p + 1] == '\n') return 2;
    unsigned char c = static_cast<unsigned char>(s[p]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n <= 1 || p + n > s.size()) return 1;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[p + k]) & 0xC0) != 0x80) return 1;
    return n;
}

// The pattern handed to PCRE2, with our inline modifier letters rewritten, and for each
// of its bytes the offset of the byte of the original pattern it came from.
struct TTranslated {
    std::string Pattern;
    std::vector<size_t> Origin;  // empty when Pattern is the original
};

// End (one past) of a POSIX class name "[:alpha:]" (also "[.x.]", "[=x=]") at P, or 0.
size_t PosixNameEnd(const std::string& p, size_t i) {
    char t = p[i + 1];
    size_t k = i + 2;
    if (k < p.size() && p[k] == '^') ++k;
    while (k < p.size() && IsAsciiLetter(p[k])) ++k;
    if (k + 1 < p.size() && p[k] == t && p[k + 1] == ']') return k + 2;
    return 0;
}

// End of "\Q...\E" starting at I (p[i] == '\\', p[i+1] == 'Q').
size_t QuotedEnd(const std::string& p, size_t i) {
    size_t e = p.find("\\E", i + 2);
    return e == std::string::npos ? p.size() : e + 2;
}

// End (one past the closing "]") of the character class that opens at I.
size_t ClassEnd(const std::string& p, size_t i) {
    size_t n = p.size(), j = i + 1;
    if (j < n && p[j] == '^') ++j;
    if (j < n && p[j] == ']') ++j;  // a "]" first is a member
    while (j < n) {
        char c = p[j];
        if (c == '\\') {
            j = (j + 1 < n && p[j + 1] == 'Q') ? QuotedEnd(p, j) : j + 2;
        } else if (c == '[' && j + 1 < n && (p[j + 1] == ':' || p[j + 1] == '.' || p[j + 1] == '=')) {
            size_t k = PosixNameEnd(p, j);
            j = k ? k : j + 1;
        } else if (c == ']') {
            return j + 1;
        } else {
            ++j;
        }
    }
    return n;
}

// Rewrites the letters of one inline setting "(?<letters><term>" for PCRE2: g becomes the
// absolute PCRE2 ungreedy bit (g on = U off), r is dropped. False leaves it to PCRE2
// (which then reports what is wrong with it).
bool TranslateSetting(std::string_view letters, char term, std::string& rep) {
    bool caret = !letters.empty() && letters[0] == '^';
    std::string_view rest = caret ? letters.substr(1) : letters;
    size_t hyphens = static_cast<size_t>(std::count(rest.begin(), rest.end(), '-'));
    if (rest.find('^') != std::string_view::npos || hyphens > 1 || (caret && hyphens)) return false;
    std::string on, off;
    int greedy = 0;  // 0 unchanged, 1 greedy, -1 lazy
    bool negate = false;
    for (char c : rest) {
        if (c == '-') negate = true;
        else if (c == 'g') greedy = negate ? -1 : 1;
        else if (c == 'r') continue;
        else (negate ? off : on) += c;
    }
    if (caret) {
        // "(?^" takes no "-": the greediness follows as a setting of its own, which
        // inside a "(?^...:" group covers the rest of that group.
        rep = "(?^" + on + term;
        if (greedy) rep += greedy > 0 ? "(?-U)" : "(?U)";
    } else {
        if (greedy < 0) on += 'U';
        if (greedy > 0) off += 'U';
        rep = "(?" + on + (off.empty() ? "" : "-" + off) + term;
    }
    return true;
}

TTranslated TranslatePattern(const std::string& p, bool extended) {
    TTranslated t;
    bool changed = false;
    size_t n = p.size(), i = 0;
    t.Pattern.reserve(n + 8);
    t.Origin.reserve(n + 8);
    auto copy = [&](size_t end) {
        end = std::min(end, n);
        for (; i < end; ++i) {
            t.Pattern += p[i];
            t.Origin.push_back(i);
        }
    };
    while (i < n) {
        char c = p[i];
        if (c == '\\') {
            copy((i + 1 < n && p[i + 1] == 'Q') ? QuotedEnd(p, i) : i + 2);
        } else if (c == '[') {
            copy(ClassEnd(p, i));
        } else if (c == '#' && extended) {
            size_t e = p.find_first_of("\r\n", i);
            copy(e == std::string::npos ? n : e);
        } else if (c == '(' && i + 1 < n && p[i + 1] == '?') {
            if (i + 2 < n && p[i + 2] == '#') {  // comment "(?#...)"
                size_t e = p.find(')', i + 3);
                copy(e == std::string::npos ? n : e + 1);
                continue;
            }
            size_t j = i + 2;
            while (j < n && (IsAsciiLetter(p[j]) || p[j] == '-' || p[j] == '^')) ++j;
            std::string rep;
            if (j > i + 2 && j < n && (p[j] == ')' || p[j] == ':')) {
                std::string_view letters(p.data() + i + 2, j - i - 2);
                if (letters.find_first_of("gr") != std::string_view::npos &&
                    TranslateSetting(letters, p[j], rep)) {
                    t.Pattern += rep;
                    t.Origin.insert(t.Origin.end(), rep.size(), i);
                    changed = true;
                    i = j + 1;
                    continue;
                }
            }
            copy(i + 2);
        } else {
            copy(i + 1);
        }
    }
    if (!changed) {
        t.Pattern = p;
        t.Origin.clear();
    }
    return t;
}

}  // namespace

ERegExpr::ERegExpr(int errorCode, const std::string& message, int64_t offset)
    : std::runtime_error(offset >= 0 ? message + " at offset " + std::to_string(offset) : message),
      FErrorCode(errorCode), FMessage(message), FOffset(offset) {}

struct TQNRegExpr::TCode {
    std::unique_ptr<pcre2_code, TCodeFree> Code;
    uint32_t Captures = 0;
    bool Jit = false;
};

struct TQNRegExpr::TScratch {
    std::unique_ptr<pcre2_match_data, TMatchDataFree> Data;
    uint32_t Pairs = 0;
    std::unique_ptr<pcre2_match_context, TMatchContextFree> Context;
    std::unique_ptr<pcre2_jit_stack, TJitStackFree> Stack;
    int Count = 0;  // pcre2_match's result of the last successful attempt
};

TQNRegExpr::TQNRegExpr() = default;
TQNRegExpr::TQNRegExpr(std::string expression) : FExpression(std::move(expression)) {}
TQNRegExpr::TQNRegExpr(std::string expression, std::string_view modifiers)
    : FExpression(std::move(expression)) {
    SetModifierStr(modifiers);
}
TQNRegExpr::~TQNRegExpr() = default;
TQNRegExpr::TQNRegExpr(TQNRegExpr&& other) noexcept = default;
TQNRegExpr& TQNRegExpr::operator=(TQNRegExpr&& other) noexcept = default;

TQNRegExpr::TQNRegExpr(const TQNRegExpr& other)
    : FExpression(other.FExpression), FModI(other.FModI), FModR(other.FModR), FModS(other.FModS),
      FModG(other.FModG), FModM(other.FModM), FModX(other.FModX), FUseJIT(other.FUseJIT),
      FCode(other.FCode), FPieceCode(other.FPieceCode), FInput(other.FInput),
      FOvector(other.FOvector), FMatchCount(other.FMatchCount) {}

TQNRegExpr& TQNRegExpr::operator=(const TQNRegExpr& other) {
    if (this != &other) {
        TQNRegExpr copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void TQNRegExpr::ClearMatch() {
    FOvector.clear();
    FMatchCount = -1;
}

void TQNRegExpr::Invalidate() {
    FCode.reset();
    FPieceCode.reset();
    ClearMatch();
}

void TQNRegExpr::SetExpression(std::string expression) {
    if (expression == FExpression) return;
    FExpression = std::move(expression);
    Invalidate();
}

std::string TQNRegExpr::ModifierStr() const {
    const std::pair<char, bool> flags[] = {{'i', FModI}, {'r', FModR}, {'s', FModS},
                                           {'g', FModG}, {'m', FModM}, {'x', FModX}};
    std::string on, off;
    for (auto [letter, set] : flags) (set ? on : off) += letter;
    return off.empty() ? on : on + "-" + off;
}

void TQNRegExpr::SetModifierStr(std::string_view modifiers) {
    bool i = false, r = false, s = false, g = true, m = false, x = false;
    bool value = true;
    for (char c : modifiers) {
        switch (c) {
            case '-': value = false; break;
            case 'i': case 'I': i = value; break;
            case 'r': case 'R': r = value; break;
            case 's': case 'S': s = value; break;
            case 'g': case 'G': g = value; break;
            case 'm': case 'M': m = value; break;
            case 'x': case 'X': x = value; break;
            default:
                throw ERegExpr(0, "invalid modifier letter \"" + std::string(1, c) +
                                      "\" in \"" + std::string(modifiers) + "\"");
        }
    }
    FModR = r;
    SetModifierI(i);
    SetModifierS(s);
    SetModifierG(g);
    SetModifierM(m);
    SetModifierX(x);
}

#define QN_REGEXPR_FLAG_SETTER(Name, Field) \
    void TQNRegExpr::Name(bool on) {        \
        if (Field == on) return;            \
        Field = on;                         \
        Invalidate();                       \
    }
QN_REGEXPR_FLAG_SETTER(SetModifierI, FModI)
QN_REGEXPR_FLAG_SETTER(SetModifierS, FModS)
QN_REGEXPR_FLAG_SETTER(SetModifierG, FModG)
QN_REGEXPR_FLAG_SETTER(SetModifierM, FModM)
QN_REGEXPR_FLAG_SETTER(SetModifierX, FModX)
QN_REGEXPR_FLAG_SETTER(SetUseJIT, FUseJIT)
#undef QN_REGEXPR_FLAG_SETTER

std::shared_ptr<const TQNRegExpr::TCode> TQNRegExpr::Build(bool pieces) const {
    TTranslated t = TranslatePattern(FExpression, FModX);
    std::unique_ptr<pcre2_compile_context, TCompileContextFree> ctx(pcre2_compile_context_create(nullptr));
    if (!ctx) throw ERegExpr(PCRE2_ERROR_NOMEMORY, PcreMessage(PCRE2_ERROR_NOMEMORY));
    pcre2_set_newline(ctx.get(), PCRE2_NEWLINE_ANYCRLF);

    uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
    if (FModI) options |= PCRE2_CASELESS;
    if (FModS) options |= PCRE2_DOTALL;
    if (!FModG) options |= PCRE2_UNGREEDY;
    if (FModM) options |= PCRE2_MULTILINE;
    if (FModX) options |= PCRE2_EXTENDED;

    auto compile = [&](uint32_t opts, int& err, PCRE2_SIZE& off) {
        return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(t.Pattern.data()), t.Pattern.size(),
                             opts, &err, &off, ctx.get());
    };
    int err = 0;
    PCRE2_SIZE off = 0;
    pcre2_code* raw = compile(options, err, off);
    if (!raw && err >= PCRE2_ERROR_UTF8_ERR21 && err <= PCRE2_ERROR_UTF8_ERR1) {
        // The pattern itself holds bytes that are not UTF-8 (a quoted name, say): such
        // bytes can only be matched byte by byte.
        int err2 = 0;
        PCRE2_SIZE off2 = 0;
        raw = compile(options & ~(PCRE2_UTF | PCRE2_MATCH_INVALID_UTF), err2, off2);
    }
    if (!raw) {
        size_t at = off;
        if (!t.Origin.empty()) at = at < t.Origin.size() ? t.Origin[at] : FExpression.size();
        throw ERegExpr(err, PcreMessage(err), static_cast<int64_t>(at));
    }
    auto code = std::make_shared<TCode>();
    code->Code.reset(raw);
    pcre2_pattern_info(raw, PCRE2_INFO_CAPTURECOUNT, &code->Captures);
    if (FUseJIT)
        code->Jit = pcre2_jit_compile(raw, pieces ? PCRE2_JIT_PARTIAL_HARD : PCRE2_JIT_COMPLETE) == 0;
    return code;
}

const TQNRegExpr::TCode& TQNRegExpr::Code() {
    if (!FCode) FCode = Build(false);
    return *FCode;
}

const TQNRegExpr::TCode& TQNRegExpr::PieceCode() {
    // Machine code for matching piece by piece is made only for a pattern that is used
    // that way; every other pattern compiles once, for whole texts.
    if (!FPieceCode) FPieceCode = Build(true);
    return *FPieceCode;
}

TQNRegExpr::TScratch& TQNRegExpr::Scratch() {
    if (!FScratch) {
        auto s = std::make_unique<TScratch>();
        s->Context.reset(pcre2_match_context_create(nullptr));
        if (!s->Context) throw ERegExpr(PCRE2_ERROR_NOMEMORY, PcreMessage(PCRE2_ERROR_NOMEMORY));
        pcre2_set_match_limit(s->Context.get(), kMatchLimit);
        pcre2_set_depth_limit(s->Context.get(), kDepthLimit);
        pcre2_set_heap_limit(s->Context.get(), kHeapLimitKiB);
        FScratch = std::move(s);
    }
    return *FScratch;
}

void TQNRegExpr::Compile() { Code(); }
bool TQNRegExpr::JITActive() { return Code().Jit; }
int TQNRegExpr::SubExprCount() { return static_cast<int>(Code().Captures); }

int TQNRegExpr::RunMatch(std::string_view subject, size_t start, uint32_t options) {
    const TCode& code = (options & PCRE2_PARTIAL_HARD) ? PieceCode() : Code();
    TScratch& s = Scratch();
    if (!s.Data || s.Pairs < code.Captures + 1) {
        s.Data.reset(pcre2_match_data_create(code.Captures + 1, nullptr));
        if (!s.Data) throw MatchError(PCRE2_ERROR_NOMEMORY);
        s.Pairs = code.Captures + 1;
    }
    auto run = [&](uint32_t opts) {
        return pcre2_match(code.Code.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()),
                           subject.size(), start, opts, s.Data.get(), s.Context.get());
    };
    int rc = run(options);
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT && !s.Stack) {
        s.Stack.reset(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
        if (s.Stack) {
            pcre2_jit_stack_assign(s.Context.get(), nullptr, s.Stack.get());
            rc = run(options);
        }
    }
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) rc = run(options | PCRE2_NO_JIT);
    if (rc == PCRE2_ERROR_NOMATCH || rc == PCRE2_ERROR_PARTIAL) return rc;
    if (rc < 0) throw MatchError(rc);
    s.Count = rc == 0 ? static_cast<int>(s.Pairs) : rc;
    return rc;
}

bool TQNRegExpr::MatchOnce(std::string_view subject, size_t start, uint32_t options) {
    return RunMatch(subject, start, options) >= 0;
}

TQNRegExpr::TScanResult TQNRegExpr::ScanText(std::string_view text, size_t start, bool more,
                                             size_t* partialStart) {
    if (start > text.size()) return TScanResult::NoMatch;
    int rc = RunMatch(text, start, more ? PCRE2_PARTIAL_HARD : 0);
    if (rc == PCRE2_ERROR_NOMATCH) return TScanResult::NoMatch;
    if (rc == PCRE2_ERROR_PARTIAL) {
        if (partialStart) *partialStart = pcre2_get_ovector_pointer(FScratch->Data.get())[0];
        return TScanResult::Partial;
    }
    return TScanResult::Match;
}

bool TQNRegExpr::FindNext(const std::string& subject, size_t start, bool prevEmpty) {
    if (prevEmpty) {
        if (start >= subject.size()) return false;
        if (MatchOnce(subject, start, PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED)) return true;
        start += StepAt(subject, start);
    }
    return MatchOnce(subject, start, 0);
}

namespace {
// The offsets of the last match, with every group past the highest one set marked unset.
void TakeOvector(pcre2_match_data* data, uint32_t captures, int count, std::vector<size_t>& out) {
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
    size_t pairs = captures + 1;
    out.assign(2 * pairs, PCRE2_UNSET);
    for (size_t k = 0; k < 2 * std::min(pairs, static_cast<size_t>(count)); ++k) out[k] = ov[k];
}
}  // namespace

bool TQNRegExpr::ExecFrom(size_t start) {
    ClearMatch();
    if (!FindNext(FInput, start, false)) return false;
    TakeOvector(FScratch->Data.get(), FCode->Captures, FScratch->Count, FOvector);
    FMatchCount = FScratch->Count;
    return true;
}

bool TQNRegExpr::Exec(std::string text) {
    FInput = std::move(text);
    return ExecFrom(0);
}

bool TQNRegExpr::ExecPos(std::string text, size_t pos) {
    FInput = std::move(text);
    if (pos < 1 || pos > FInput.size() + 1) {
        ClearMatch();
        return false;
    }
    return ExecFrom(pos - 1);
}

bool TQNRegExpr::ExecNext() {
    if (FMatchCount < 0) return false;
    size_t start = FOvector[1];
    bool prevEmpty = FOvector[1] <= FOvector[0];
    ClearMatch();
    if (!FindNext(FInput, start, prevEmpty)) return false;
    TakeOvector(FScratch->Data.get(), FCode->Captures, FScratch->Count, FOvector);
    FMatchCount = FScratch->Count;
    return true;
}

int TQNRegExpr::SubExprMatchCount() const { return FMatchCount < 0 ? -1 : FMatchCount - 1; }

bool TQNRegExpr::Matched(int n) const {
    return FMatchCount >= 0 && n >= 0 && static_cast<size_t>(n) < FOvector.size() / 2 &&
           FOvector[2 * static_cast<size_t>(n)] != PCRE2_UNSET;
}

std::string TQNRegExpr::Match(int n) const {
    if (!Matched(n)) return {};
    size_t k = 2 * static_cast<size_t>(n);
    return FInput.substr(FOvector[k], FOvector[k + 1] - FOvector[k]);
}

int64_t TQNRegExpr::MatchPos(int n) const {
    return Matched(n) ? static_cast<int64_t>(FOvector[2 * static_cast<size_t>(n)]) + 1 : -1;
}

int64_t TQNRegExpr::MatchLen(int n) const {
    if (!Matched(n)) return -1;
    size_t k = 2 * static_cast<size_t>(n);
    return static_cast<int64_t>(FOvector[k + 1] - FOvector[k]);
}

void TQNRegExpr::Expand(std::string_view templ, const std::string& subject,
                        const std::vector<size_t>& ovector, int groups, std::string& out) const {
    auto group = [&](size_t n) {
        if (n < static_cast<size_t>(groups) && 2 * n + 1 < ovector.size() && ovector[2 * n] != PCRE2_UNSET)
            out.append(subject, ovector[2 * n], ovector[2 * n + 1] - ovector[2 * n]);
    };
    size_t i = 0, n = templ.size();
    while (i < n) {
        char c = templ[i];
        if (c != '$' || i + 1 >= n) {
            out += c;
            ++i;
            continue;
        }
        char d = templ[i + 1];
        if (d == '$') {
            out += '$';
            i += 2;
        } else if (d >= '0' && d <= '9') {
            group(static_cast<size_t>(d - '0'));
            i += 2;
        } else if (d == '{') {
            size_t j = i + 2, num = 0;
            while (j < n && templ[j] >= '0' && templ[j] <= '9') {
                if (num < 1'000'000) num = num * 10 + static_cast<size_t>(templ[j] - '0');
                ++j;
            }
            if (j > i + 2 && j < n && templ[j] == '}') {
                group(num);
                i = j + 1;
            } else {
                out += '$';
                ++i;
            }
        } else {
            out += '$';
            ++i;
        }
    }
}

std::string TQNRegExpr::Substitute(std::string_view templ) const {
    std::string out;
    static const std::vector<size_t> none;
    if (FMatchCount < 0) Expand(templ, FInput, none, 0, out);
    else Expand(templ, FInput, FOvector, static_cast<int>(FOvector.size() / 2), out);
    return out;
}

std::string TQNRegExpr::Replace(const std::string& text, std::string_view templ) {
    std::string out;
    std::vector<size_t> ov;
    size_t copied = 0, start = 0;
    bool prevEmpty = false;
    while (FindNext(text, start, prevEmpty)) {
        TakeOvector(FScratch->Data.get(), FCode->Captures, FScratch->Count, ov);
        size_t from = std::max(ov[0], copied);
        out.append(text, copied, from - copied);
        Expand(templ, text, ov, static_cast<int>(ov.size() / 2), out);
        copied = std::max(ov[1], copied);
        start = ov[1];
        prevEmpty = ov[1] <= ov[0];
    }
    out.append(text, copied, std::string::npos);
    return out;
}

std::string TQNRegExpr::QuoteRegExprMetaChars(std::string_view s) {
    static constexpr std::string_view kMeta = "\\^$.|?*+()[]{}#- \t\r\n\f\v";
    std::string out;
    out.reserve(s.size() * 2);
    for (char c : s) {
        if (c != '\0' && kMeta.find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

TQNRegExpr& SharedRegExpr() {
    static TQNRegExpr shared("", "gsri-mx");
    return shared;
}
