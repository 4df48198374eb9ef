#include "diff/HashUnit.h"

#include "common/SysUtils.h"

#include <cstring>
#include <zlib.h>

namespace {

uint32_t Crc32(std::string_view text) {
    if (text.empty()) return 0;
    return static_cast<uint32_t>(
        crc32_z(0L, reinterpret_cast<const Bytef*>(text.data()), text.size()));
}

bool NeedsChange(std::string_view line, bool ignoreCase, bool ignoreBlanks) {
    for (char c : line) {
        if (ignoreBlanks && (c == ' ' || c == '\t')) return true;
        if (ignoreCase && c >= 'A' && c <= 'Z') return true;
    }
    return false;
}

// A fast hash for the class table, eight bytes at a time.
uint32_t TableHash(std::string_view text) {
    constexpr uint64_t m = 0x9E3779B97F4A7C15ull;
    const char* p = text.data();
    size_t n = text.size();
    uint64_t h = n * m;
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * m;
        h ^= h >> 29;
        p += 8;
        n -= 8;
    }
    if (n > 0) {
        uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = (h ^ w) * m;
    }
    h ^= h >> 32;
    h *= m;
    return static_cast<uint32_t>(h >> 32);
}

constexpr size_t BlockSize = 64 * 1024;

}  // namespace

std::string_view NormalizeLine(std::string_view line, bool ignoreCase, bool ignoreBlanks,
                               std::string& scratch) {
    if ((!ignoreCase && !ignoreBlanks) || !NeedsChange(line, ignoreCase, ignoreBlanks)) return line;
    scratch.clear();
    for (char c : line) {
        if (ignoreBlanks && (c == ' ' || c == '\t')) continue;
        scratch += ignoreCase ? LoCaseChar(c) : c;
    }
    return scratch;
}

uint32_t HashLine(std::string_view line, bool ignoreCase, bool ignoreBlanks) {
    std::string scratch;
    return Crc32(NormalizeLine(line, ignoreCase, ignoreBlanks, scratch));
}

uint32_t TLineNumbering::Hash(std::string_view text) { return TableHash(text); }

TLineNumbering::TLineNumbering(bool ignoreCase, bool ignoreBlanks)
    : FIgnoreCase(ignoreCase), FIgnoreBlanks(ignoreBlanks), FSlots(1024, TSlot{0, 0}) {}

void TLineNumbering::Reserve(size_t lines) {
    FClasses.reserve(lines);
    size_t slots = FSlots.size();
    while (slots * 3 < lines * 5) slots *= 2;  // at most 60 % full
    if (slots > FSlots.size()) Rehash(slots);
}

std::string_view TLineNumbering::Keep(std::string_view text) {
    if (text.size() > FBlockFree) {
        size_t size = text.size() > BlockSize / 4 ? text.size() : BlockSize;
        FBlocks.push_back(std::make_unique<char[]>(size));
        FBlockPos = FBlocks.back().get();
        FBlockFree = size;
    }
    if (!text.empty()) std::memcpy(FBlockPos, text.data(), text.size());
    std::string_view kept(FBlockPos, text.size());
    FBlockPos += text.size();
    FBlockFree -= text.size();
    return kept;
}

void TLineNumbering::Rehash(size_t size) {
    std::vector<TSlot> slots(size, TSlot{0, 0});
    size_t mask = size - 1;
    for (const TSlot& slot : FSlots) {
        if (slot.Number == 0) continue;
        size_t i = slot.Hash & mask;
        while (slots[i].Number != 0) i = (i + 1) & mask;
        slots[i] = slot;
    }
    FSlots.swap(slots);
}

uint32_t TLineNumbering::Number(std::string_view line) {
    std::string_view text = NormalizeLine(line, FIgnoreCase, FIgnoreBlanks, FScratch);
    return Number(text, Hash(text));
}

uint32_t TLineNumbering::Number(std::string_view text, uint32_t hash) {
    size_t mask = FSlots.size() - 1;
    size_t i = hash & mask;
    for (;;) {
        const TSlot& slot = FSlots[i];
        if (slot.Number == 0) break;
        if (slot.Hash == hash) {
            const TClass& c = FClasses[slot.Number - 1];
            if (c.Length == text.size() &&
                (text.empty() || std::memcmp(c.Text, text.data(), text.size()) == 0))
                return slot.Number - 1;
        }
        i = (i + 1) & mask;
    }
    if (text.data() == FScratch.data()) text = Keep(text);
    auto number = static_cast<uint32_t>(FClasses.size());
    FClasses.push_back({text.data(), text.size()});
    FSlots[i] = TSlot{hash, number + 1};
    if (FClasses.size() * 5 > FSlots.size() * 3) Rehash(FSlots.size() * 2);
    return number;
}

void TLineNumbering::NumberLists(const std::vector<std::string_view>& lines1,
                                 const std::vector<std::string_view>& lines2,
                                 std::vector<uint32_t>& ids1, std::vector<uint32_t>& ids2) {
    const size_t n1 = lines1.size(), n2 = lines2.size();
    ids1.resize(n1);
    ids2.resize(n2);
    if (FIgnoreCase || FIgnoreBlanks) {
        for (size_t i = 0; i < n1; ++i) ids1[i] = Number(lines1[i]);
        for (size_t j = 0; j < n2; ++j) ids2[j] = Number(lines2[j]);
        return;
    }
    Reserve(Count() + n1 + n2 / 4);

    // List 1 through the table. The slots of the lines a little ahead are fetched into
    // the cache while the current line is looked up.
    constexpr size_t Ahead = 16;
    uint32_t hashes[Ahead];
    for (size_t i = 0; i < n1 + Ahead; ++i) {
        if (i >= Ahead) {
            size_t k = i - Ahead;
            ids1[k] = Number(lines1[k], hashes[k % Ahead]);
        }
        if (i < n1) {
            uint32_t h = Hash(lines1[i]);
            hashes[i % Ahead] = h;
            __builtin_prefetch(&FSlots[h & (FSlots.size() - 1)]);
        }
    }

    // The last place of each number in list 1, to find the pairing again after a run of
    // lines that differ.
    constexpr uint32_t None = UINT32_MAX;
    std::vector<uint32_t> lastPos(Count(), None);
    for (size_t i = 0; i < n1; ++i) lastPos[ids1[i]] = uint32_t(i);
    const uint32_t known = Count();

    constexpr int64_t Window = 256;
    int64_t offset = 0;  // line j of list 2 is compared with line j + offset of list 1
    for (size_t j = 0; j < n2; ++j) {
        const std::string_view line = lines2[j];
        bool paired = false;
        for (int64_t step : {0, 1, -1}) {
            int64_t i = int64_t(j) + offset + step;
            if (i >= 0 && i < int64_t(n1) && lines1[size_t(i)] == line) {
                ids2[j] = ids1[size_t(i)];
                offset += step;
                paired = true;
                break;
            }
        }
        if (paired) continue;
        uint32_t id = Number(line, Hash(line));
        ids2[j] = id;
        if (id < known && lastPos[id] != None) {
            int64_t at = int64_t(lastPos[id]);
            if (at - int64_t(j) - offset <= Window && int64_t(j) + offset - at <= Window)
                offset = at - int64_t(j);
        }
    }
}
