// Line hashing for the line comparison: the CRC-32 of a line, optionally ignoring letter
// case and blanks, and a numbering that gives equal lines equal numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// CRC-32 (reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF, final inversion) of
// the line. IgnoreBlanks removes every space and tab first, wherever it stands;
// IgnoreCase then lower-cases ASCII letters (other bytes, such as UTF-8 sequences, stay
// as they are). An empty result hashes to 0.
uint32_t HashLine(std::string_view line, bool ignoreCase, bool ignoreBlanks);

// The text HashLine hashes: Line with the options applied. Returns Line itself when the
// options change nothing, else a view of Scratch, which receives the changed text.
std::string_view NormalizeLine(std::string_view line, bool ignoreCase, bool ignoreBlanks,
                               std::string& scratch);

// Numbers lines by their text under the options: two lines get the same number exactly
// when their normalised texts are equal. A hash only picks the candidates (a faster one
// than the CRC, since it never leaves this class), so two different lines with the same
// hash get different numbers. Numbers are dense, from 0.
//
// Lines are kept by reference where the options leave them unchanged: the text passed to
// Number must outlive the numbering.
class TLineNumbering {
public:
    TLineNumbering(bool ignoreCase, bool ignoreBlanks);
    TLineNumbering(const TLineNumbering&) = delete;
    TLineNumbering& operator=(const TLineNumbering&) = delete;

    uint32_t Number(std::string_view line);
    // Makes room for about Lines distinct lines without growing on the way.
    void Reserve(size_t lines);
    // Numbers two lists whose lines mostly pair up in order, as two versions of a file
    // do. A line of Lines2 is first compared with the line of Lines1 at the current
    // offset; only when they differ does it go to the table (equal text, equal number,
    // as with Number).
    void NumberLists(const std::vector<std::string_view>& lines1,
                     const std::vector<std::string_view>& lines2, std::vector<uint32_t>& ids1,
                     std::vector<uint32_t>& ids2);
    // The hash that picks the candidates.
    static uint32_t Hash(std::string_view text);
    // Number of distinct lines seen so far.
    uint32_t Count() const { return static_cast<uint32_t>(FClasses.size()); }

private:
    struct TClass {
        const char* Text;
        size_t Length;
    };
    struct TSlot {
        uint32_t Hash;
        uint32_t Number;  // class number + 1, 0 when free
    };
    uint32_t Number(std::string_view text, uint32_t hash);
    std::string_view Keep(std::string_view text);
    void Rehash(size_t slots);

    bool FIgnoreCase;
    bool FIgnoreBlanks;
    std::vector<TClass> FClasses;
    std::vector<TSlot> FSlots;  // open addressing, a power of two long
    std::vector<std::unique_ptr<char[]>> FBlocks;  // copies of changed texts
    size_t FBlockFree = 0;
    char* FBlockPos = nullptr;
    std::string FScratch;
};
