#include "common/Masks.h"

namespace {

// UTF-8 to code points; a byte that starts no valid sequence stands for itself, mapped
// above the Unicode range so it matches only the same byte.
std::vector<uint32_t> Decode(std::string_view s) {
    std::vector<uint32_t> out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len != 0 && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (c & 0x3F);
        }
        if (ok && len > 1) {
            static constexpr uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ok = false;
        }
        if (!ok) {
            out.push_back(0x110000u + b);
            ++i;
        } else {
            out.push_back(cp);
            i += len;
        }
    }
    return out;
}

uint32_t Fold(uint32_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
uint32_t OtherCase(uint32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 'a' && c <= 'z') return c - 32;
    return c;
}

}  // namespace

TMask::TMask(std::string_view mask) : FMask(mask) {
    auto fail = [&](const std::string& why) {
        throw EMaskException("Invalid mask: '" + FMask + "' (" + why + ")");
    };
    std::vector<uint32_t> m = Decode(mask);
    size_t i = 0;
    while (i < m.size()) {
        uint32_t c = m[i];
        if (c == '*') {
            // Runs of "*" act as one.
            if (FTokens.empty() || FTokens.back().Kind != TToken::TKind::AnyRun)
                FTokens.push_back(TToken{TToken::TKind::AnyRun, 0, false, {}});
            ++i;
        } else if (c == '?') {
            FTokens.push_back(TToken{TToken::TKind::AnyChar, 0, false, {}});
            ++i;
        } else if (c == '[') {
            size_t start = i + 1;  // 1-based position of the "["
            TToken t{TToken::TKind::Set, 0, false, {}};
            ++i;
            if (i < m.size() && m[i] == '!') {
                t.Negate = true;
                ++i;
            }
            bool closed = false;
            while (i < m.size()) {
                uint32_t a = m[i];
                if (a == ']') {
                    closed = true;
                    ++i;
                    break;
                }
                if (i + 1 < m.size() && m[i + 1] == '-' && !(i + 2 < m.size() && m[i + 2] == ']')) {
                    if (i + 2 >= m.size()) break;  // unterminated
                    uint32_t b = m[i + 2];
                    if (b < a) fail("range backwards in the set at position " + std::to_string(start));
                    t.Ranges.emplace_back(a, b);
                    i += 3;
                } else if (i + 1 < m.size() && m[i + 1] == '-') {
                    fail("range without an end in the set at position " + std::to_string(start));
                } else {
                    t.Ranges.emplace_back(a, a);
                    ++i;
                }
            }
            if (!closed) fail("\"[\" at position " + std::to_string(start) + " has no \"]\"");
            if (t.Ranges.empty()) fail("empty set at position " + std::to_string(start));
            FTokens.push_back(std::move(t));
        } else {
            FTokens.push_back(TToken{TToken::TKind::Literal, Fold(c), false, {}});
            ++i;
        }
    }
}

bool TMask::MatchesOne(const TToken& t, uint32_t ch) const {
    switch (t.Kind) {
    case TToken::TKind::Literal:
        return t.Ch == Fold(ch);
    case TToken::TKind::AnyChar:
        return true;
    case TToken::TKind::Set: {
        uint32_t other = OtherCase(ch);
        bool in = false;
        for (const auto& [lo, hi] : t.Ranges) {
            if ((ch >= lo && ch <= hi) || (other >= lo && other <= hi)) {
                in = true;
                break;
            }
        }
        return in != t.Negate;
    }
    case TToken::TKind::AnyRun:
        break;
    }
    return false;
}

bool TMask::Matches(std::string_view name) const {
    std::vector<uint32_t> s = Decode(name);
    // Greedy scan that remembers only the last "*": on a mismatch the last "*" takes one
    // more character and the scan resumes after it. Each "*" splits the mask into pieces
    // that must each match somewhere to the right, so the earliest match of each piece is
    // as good as any, and no deeper backtracking is ever needed.
    const size_t none = static_cast<size_t>(-1);
    size_t t = 0, n = 0, starT = none, starN = 0;
    while (n < s.size()) {
        if (t < FTokens.size() && FTokens[t].Kind == TToken::TKind::AnyRun) {
            starT = t++;
            starN = n;
        } else if (t < FTokens.size() && MatchesOne(FTokens[t], s[n])) {
            ++t;
            ++n;
        } else if (starT != none) {
            t = starT + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (t < FTokens.size() && FTokens[t].Kind == TToken::TKind::AnyRun) ++t;
    return t == FTokens.size();
}

bool MatchesMask(std::string_view Name, std::string_view Mask) {
    return TMask(Mask).Matches(Name);
}
