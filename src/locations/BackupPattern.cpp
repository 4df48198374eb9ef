#include "locations/BackupPattern.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::string_view, 3> kTokens = {"$File", "$Ctr", "$Ext"};

}  // namespace

TBackupPattern::TBackupPattern() { SetBackupPattern(DefaultPattern); }

void TBackupPattern::SetBackupPattern(std::string_view pattern) {
    FPattern = std::string(pattern);
    FTokens.clear();
    // Tokens in order of appearance.
    size_t pos = 0;
    while (pos < FPattern.size()) {
        size_t best = std::string::npos;
        std::string_view which;
        for (std::string_view t : kTokens) {
            size_t p = FPattern.find(t, pos);
            if (p < best) best = p, which = t;
        }
        if (best == std::string::npos) break;
        FTokens.emplace_back(which);
        pos = best + which.size();
    }
    // Group numbers of the parse: the tokens' groups in the order they appear.
    FFileGroup = FCtrGroup = FExtGroup = 0;
    int group = 0;
    for (const std::string& t : FTokens) {
        if (t == "$File" && FFileGroup == 0) FFileGroup = ++group;
        else if (t == "$Ctr" && FCtrGroup == 0) FCtrGroup = ++group;
        else if (t == "$Ext" && FExtGroup == 0) FExtGroup = ++group;
    }
    FNameRegex = TQNRegExpr(FillBackupPattern("(.*)", "\\((\\w+)\\)", "(.*)"), "gsri-mx");
}

std::string TBackupPattern::FillBackupPattern(std::string_view file, std::string_view ctr,
                                              std::string_view ext) const {
    std::string counter(ctr);
    if (!counter.empty() && counter.find('(') == std::string::npos) counter = "(" + counter + ")";
    struct TSlot {
        size_t Pos;
        size_t Len;
        std::string_view With;
    };
    std::vector<TSlot> slots;
    auto add = [&](std::string_view token, std::string_view with) {
        size_t p = FPattern.find(token);
        if (p != std::string::npos) slots.push_back({p, token.size(), with});
    };
    add("$File", file);
    add("($Ctr)", counter);
    add("$Ext", ext);
    std::sort(slots.begin(), slots.end(), [](const TSlot& a, const TSlot& b) { return a.Pos < b.Pos; });
    std::string out;
    size_t at = 0;
    for (const TSlot& s : slots) {
        if (s.Pos < at) continue;  // overlapping tokens: the earlier one wins
        out.append(FPattern, at, s.Pos - at);
        out.append(s.With);
        at = s.Pos + s.Len;
    }
    out.append(FPattern, at, std::string::npos);
    return out;
}

bool TBackupPattern::Parse(std::string_view baseName, std::string& file, std::string& ctr,
                           std::string& ext) {
    if (!FNameRegex.Exec(std::string(baseName))) return false;
    file = FFileGroup ? FNameRegex.Match(FFileGroup) : std::string();
    ctr = FCtrGroup ? FNameRegex.Match(FCtrGroup) : std::string();
    ext = FExtGroup ? FNameRegex.Match(FExtGroup) : std::string();
    return true;
}
