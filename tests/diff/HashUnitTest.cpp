#include "diff/HashUnit.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>
#include <zlib.h>

TEST(HashLine, IsTheStandardCrc32) {
    EXPECT_EQ(HashLine("123456789", false, false), 0xCBF43926u);  // the check value
    EXPECT_EQ(HashLine("", false, false), 0u);
    std::string text = "The quick brown fox";
    EXPECT_EQ(HashLine(text, false, false),
              crc32(0, reinterpret_cast<const Bytef*>(text.data()), uInt(text.size())));
}

TEST(HashLine, OptionsMakeLinesAlike) {
    struct {
        const char* A;
        const char* B;
        bool IgnoreCase, IgnoreBlanks, Same;
    } cases[] = {
        {"Hello World", "hello world", false, false, false},
        {"Hello World", "hello world", true, false, true},
        {"a b\tc", "abc", false, false, false},
        {"a b\tc", "abc", false, true, true},
        {"  x = 1;\t", "x=1;", false, true, true},
        {"A B", "ab", true, true, true},
        {"A B", "ab", true, false, false},
        {" \t ", "", false, true, true},
        {"caf\xC3\xA9", "CAF\xC3\xA9", true, false, true},  // multi-byte letters stay as they are
        {"x\r", "x", false, true, false},                  // only spaces and tabs are blanks
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HashLine(c.A, c.IgnoreCase, c.IgnoreBlanks) ==
                      HashLine(c.B, c.IgnoreCase, c.IgnoreBlanks),
                  c.Same)
            << c.A << " / " << c.B;
        TLineNumbering numbering(c.IgnoreCase, c.IgnoreBlanks);
        EXPECT_EQ(numbering.Number(c.A) == numbering.Number(c.B), c.Same) << c.A << " / " << c.B;
    }
    EXPECT_EQ(HashLine(" \t ", false, true), 0u);
}

TEST(TLineNumbering, NumbersDistinctLinesDensely) {
    TLineNumbering numbering(true, false);
    std::vector<std::string> lines;
    for (int i = 0; i < 5000; ++i) lines.push_back("Line " + std::to_string(i % 1000));
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(numbering.Number(lines[i]), i % 1000);
    EXPECT_EQ(numbering.Count(), 1000u);
    EXPECT_EQ(numbering.Number("LINE 7"), 7u);  // changed text is kept as a copy
    EXPECT_EQ(numbering.Number("line 7"), 7u);
}

// Two versions of a text, numbered together: equal numbers exactly for equal lines,
// however the versions are shifted against each other.
TEST(TLineNumbering, NumbersTwoVersionsOfAText) {
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> a, b;
        for (int i = 0; i < 2000; ++i)
            a.push_back("w" + std::to_string(rng() % (round % 2 ? 50 : 5000)));
        for (const auto& line : a) {
            unsigned r = rng() % 100;
            if (r < 5) continue;  // deleted
            if (r < 10) b.push_back(rng() % 2 ? "new" : a[rng() % a.size()]);
            if (r == 10) b.insert(b.end(), 300, "block");  // a long shift
            b.push_back(line);
        }
        std::vector<std::string_view> va(a.begin(), a.end()), vb(b.begin(), b.end());
        for (bool ignoreCase : {false, true}) {
            TLineNumbering numbering(ignoreCase, false);
            std::vector<uint32_t> ia, ib;
            numbering.NumberLists(va, vb, ia, ib);
            ASSERT_EQ(ia.size(), a.size());
            ASSERT_EQ(ib.size(), b.size());
            // One number per text and one text per number, over both lists.
            std::unordered_map<std::string, uint32_t> numberOf;
            std::unordered_map<uint32_t, std::string> textOf;
            auto check = [&](const std::string& text, uint32_t id) {
                auto [n, newText] = numberOf.emplace(text, id);
                auto [t, newId] = textOf.emplace(id, text);
                return n->second == id && t->second == text && newText == newId;
            };
            for (size_t i = 0; i < a.size(); ++i) ASSERT_TRUE(check(a[i], ia[i])) << i;
            for (size_t j = 0; j < b.size(); ++j) ASSERT_TRUE(check(b[j], ib[j])) << j;
        }
    }
}
