#include "common/QNStringUtils.h"

#include <random>

TQNStringUtils& QNStringUtils() {
    static TQNStringUtils instance;
    return instance;
}

std::string TQNStringUtils::RandomString(int Count) const {
    static constexpr std::string_view alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string r;
    for (int i = 0; i < Count; ++i) r += alphabet[pick(generator)];
    return r;
}

std::string TQNStringUtils::ReplaceText(std::string_view Source, std::string_view Find,
                                        std::string_view ReplaceWith, bool FirstOnly) const {
    if (Find.empty()) return std::string(Source);
    std::string r;
    size_t from = 0;
    while (from <= Source.size()) {
        size_t p = Source.find(Find, from);
        if (p == std::string_view::npos) break;
        r.append(Source.substr(from, p - from));
        r.append(ReplaceWith);
        from = p + Find.size();
        if (FirstOnly) break;
    }
    r.append(Source.substr(from));
    return r;
}

std::string TQNStringUtils::Left(std::string_view S, int N) const {
    if (N <= 0) return {};
    return std::string(S.substr(0, static_cast<size_t>(N)));
}

std::string TQNStringUtils::Right(std::string_view S, int N) const {
    if (N <= 0) return {};
    size_t n = static_cast<size_t>(N);
    return std::string(n >= S.size() ? S : S.substr(S.size() - n));
}

std::string TQNStringUtils::Join(const TQNStringList& List, std::string_view Separator) const {
    std::string r;
    for (int i = 0; i < List.Count(); ++i) {
        if (i > 0) r.append(Separator);
        r.append(List[i]);
    }
    return r;
}

void TQNStringUtils::SplitNameValue(std::string_view S, std::string& Name,
                                    std::string& Value) const {
    size_t p = SplitAtFirstEquals ? S.find('=') : S.rfind('=');
    if (p == std::string_view::npos) {
        Name.clear();
        Value.clear();
        return;
    }
    Name = std::string(S.substr(0, p));
    Value = std::string(S.substr(p + 1));
}

void TQNStringUtils::Split(std::string_view S, TQNStringList& List,
                           std::string_view Separator) const {
    List.Clear();
    if (Separator.empty()) {
        if (!S.empty()) List.Add(std::string(S));
        return;
    }
    std::string_view rest = S;
    while (!rest.empty()) {
        size_t p = rest.find(Separator);
        if (p == std::string_view::npos) {
            List.Add(std::string(rest));
            break;
        }
        List.Add(std::string(rest.substr(0, p)));
        rest.remove_prefix(p + Separator.size());
    }
}

void TQNStringUtils::SplitSemicolons(std::string_view S, TQNStringList& List) const {
    Split(S, List, ";");
}

int TQNStringUtils::PosFrom(std::string_view Sub, std::string_view S, int From) const {
    if (From < 1 || Sub.empty() || static_cast<size_t>(From) > S.size()) return 0;
    size_t p = S.find(Sub, static_cast<size_t>(From - 1));
    return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

int TQNStringUtils::ExtractBetween(std::string_view S, std::string_view StartMark,
                                   std::string_view StopMark, std::string& Inner) const {
    int p = static_cast<int>(Pos(StartMark, S));
    if (p == 0) return 0;
    int b = p + static_cast<int>(StartMark.size());
    int q = PosFrom(StopMark, S, p + 1);
    if (q == 0 || q < b)
        Inner.clear();
    else
        Inner = std::string(S.substr(static_cast<size_t>(b - 1), static_cast<size_t>(q - b)));
    return b;
}

int TQNStringUtils::GetTag(std::string_view S, std::string_view Tag, std::string& Inner) const {
    return ExtractBetween(S, "<" + std::string(Tag), ">", Inner);
}

std::string TQNStringUtils::ReplaceTag(std::string_view S, std::string_view Tag,
                                       std::string_view Inner,
                                       std::string_view ReplaceWith) const {
    std::string whole = "<" + std::string(Tag) + std::string(Inner) + ">";
    return ReplaceText(S, whole, ReplaceWith, true);
}

bool TQNStringUtils::ContainsText(std::string_view Sub, std::string_view S) const {
    return PosText(Sub, S) > 0;
}

std::string TQNStringUtils::ReplaceRepeated(std::string_view S, std::string_view Find,
                                            std::string_view ReplaceWith,
                                            bool ReplaceAll) const {
    std::string text(S);
    if (Find.empty()) return text;
    if (ReplaceWith.find(Find) != std::string_view::npos)
        return ReplaceText(text, Find, ReplaceWith, !ReplaceAll);
    // A replacement that shrinks the text ends by itself within S.size() passes; these
    // bounds only stop a growing one.
    const size_t maxPasses = S.size() + 1000;
    const size_t maxSize = S.size() * 16 + (1u << 20);
    for (size_t pass = 0; pass < maxPasses && text.size() <= maxSize; ++pass) {
        std::string next = ReplaceText(text, Find, ReplaceWith, !ReplaceAll);
        if (next == text) break;
        text = std::move(next);
    }
    return text;
}

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::vector<uint16_t>& units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace

void TQNStringUtils::AddNulSeparatedList(std::string_view Buffer, TQNStringList& Strings,
                                         bool ClearFirst, bool Wide) const {
    if (ClearFirst) Strings.Clear();
    if (!Wide) {
        size_t i = 0;
        while (i < Buffer.size()) {
            size_t end = Buffer.find('\0', i);
            if (end == std::string_view::npos) end = Buffer.size();
            if (end == i) break;  // the empty string ends the list
            Strings.Add(std::string(Buffer.substr(i, end - i)));
            i = end + 1;
        }
        return;
    }
    size_t units = Buffer.size() / 2;
    size_t i = 0;
    while (i < units) {
        std::vector<uint16_t> s;
        for (; i < units; ++i) {
            auto lo = static_cast<unsigned char>(Buffer[2 * i]);
            auto hi = static_cast<unsigned char>(Buffer[2 * i + 1]);
            uint16_t u = static_cast<uint16_t>(lo | (hi << 8));
            if (u == 0) break;
            s.push_back(u);
        }
        if (s.empty()) break;
        Strings.Add(Utf16ToUtf8(s));
        ++i;
    }
}
