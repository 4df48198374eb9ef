#include "common/SysUtils.h"

#include <charconv>
#include <limits>

char UpCaseChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
char LoCaseChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = UpCaseChar(c);
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = LoCaseChar(c);
    return r;
}

int CompareStr(std::string_view a, std::string_view b) {
    int r = a.compare(b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CompareText(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    const char* pa = a.data();
    const char* pb = b.data();
    for (size_t i = 0; i < n; ++i) {
        // Names under one folder share long equal prefixes: skip equal bytes quickly.
        if (pa[i] == pb[i]) continue;
        auto ca = static_cast<unsigned char>(LoCaseChar(pa[i]));
        auto cb = static_cast<unsigned char>(LoCaseChar(pb[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

static bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsTrimmed(s[i])) ++i;
    return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && IsTrimmed(s[n - 1])) --n;
    return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) { return TrimLeft(TrimRight(s)); }

size_t Pos(std::string_view sub, std::string_view s) {
    if (sub.empty()) return 0;
    size_t p = s.find(sub);
    return p == std::string_view::npos ? 0 : p + 1;
}

size_t PosText(std::string_view sub, std::string_view s) {
    return Pos(LowerCase(sub), LowerCase(s));
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string IntToHex(uint64_t value, int digits) {
    static const char* hex = "0123456789ABCDEF";
    std::string r;
    do {
        r.insert(r.begin(), hex[value & 15]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(r.size()) < digits) r.insert(r.begin(), '0');
    return r;
}

std::optional<int64_t> TryStrToInt64(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
        negative = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), magnitude, base);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    // Hexadecimal text may spell any 64-bit pattern; decimal must fit the signed range.
    if (base == 16 && !negative) return static_cast<int64_t>(magnitude);
    constexpr uint64_t maxPos = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (magnitude > maxPos + 1) return std::nullopt;
        return magnitude == maxPos + 1 ? std::numeric_limits<int64_t>::min()
                                       : -static_cast<int64_t>(magnitude);
    }
    if (magnitude > maxPos) return std::nullopt;
    return static_cast<int64_t>(magnitude);
}

int64_t StrToInt64Def(std::string_view s, int64_t def) {
    auto v = TryStrToInt64(s);
    return v ? *v : def;
}

int StrToIntDef(std::string_view s, int def) {
    auto v = TryStrToInt64(s);
    if (!v || *v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max())
        return def;
    return static_cast<int>(*v);
}
