// Helpers shared by the line-comparison tests: lists of one-letter lines, applying an
// edit script, and the length of a longest common subsequence by brute force.
#pragma once

#include "diff/DiffUnit.h"

#include "diff/HashUnit.h"

#include <algorithm>
#include <random>
#include <unordered_map>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

namespace difftest {

// "abc" → the lines "a", "b", "c".
inline std::vector<std::string_view> Lines(const std::string& letters) {
    std::vector<std::string_view> lines;
    for (const char& c : letters) lines.emplace_back(&c, 1);
    return lines;
}

// Applies Changes to L1 and checks every record against the path it describes; returns
// the resulting list, or an explanation starting with "bad: " when a record is invalid.
inline std::string Apply(const std::vector<TDiffChange>& changes, const std::string& l1,
                         const std::string& l2) {
    std::string out;
    int x = 0;
    for (const auto& c : changes) {
        if (c.Count < 1) return "bad: empty record";
        if (c.Pos1 < x || c.Pos1 > int(l1.size())) return "bad: Pos1 out of order";
        out += l1.substr(size_t(x), size_t(c.Pos1 - x));
        x = c.Pos1;
        int y = int(out.size());
        switch (c.Kind) {
            case dkAdd:
                if (c.Pos2 != y || c.Pos2 + c.Count > int(l2.size())) return "bad: add Pos2";
                out += l2.substr(size_t(c.Pos2), size_t(c.Count));
                break;
            case dkDelete:
                if (c.Pos2 != 0 || x + c.Count > int(l1.size())) return "bad: delete";
                x += c.Count;
                break;
            case dkModify:
                if (c.Pos2 != y || c.Pos2 + c.Count > int(l2.size()) ||
                    x + c.Count > int(l1.size()))
                    return "bad: modify";
                out += l2.substr(size_t(c.Pos2), size_t(c.Count));
                x += c.Count;
                break;
            default:
                return "bad: kind";
        }
    }
    out += l1.substr(size_t(x));
    return out;
}

// Lines added plus lines deleted (a modified line counts as one of each).
inline int EditLength(const std::vector<TDiffChange>& changes) {
    int n = 0;
    for (const auto& c : changes) n += c.Kind == dkModify ? 2 * c.Count : c.Count;
    return n;
}

inline int LcsLength(const std::string& a, const std::string& b) {
    std::vector<int> row(b.size() + 1, 0), prev(b.size() + 1, 0);
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j)
            row[j] = a[i - 1] == b[j - 1] ? prev[j - 1] + 1 : std::max(prev[j], row[j - 1]);
        std::swap(row, prev);
    }
    return prev[b.size()];
}

inline int MinimalEditLength(const std::string& a, const std::string& b) {
    return int(a.size() + b.size()) - 2 * LcsLength(a, b);
}

// Two different printable lines with the same 32-bit Hash, found by a birthday search
// over random eight-letter lines (fixed seed, so always the same pair; about 100,000
// tries).
template <class THash>
std::pair<std::string, std::string> Collision(THash hash) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937_64 rng(42);
    std::unordered_map<uint32_t, std::string> seen;
    for (int i = 0; i < (1 << 21); ++i) {
        std::string line;
        uint64_t r = rng();
        for (int j = 0; j < 8; ++j, r >>= 6) line += alphabet[r & 63];
        auto [it, inserted] = seen.emplace(hash(line), line);
        if (!inserted && it->second != line) return {it->second, line};
    }
    return {};
}

inline std::pair<std::string, std::string> CrcCollision() {
    return Collision([](std::string_view s) { return HashLine(s, false, false); });
}

}  // namespace difftest
