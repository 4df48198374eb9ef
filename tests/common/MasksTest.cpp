#include "common/Masks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Masks, MatchesWildcardsAndSets) {
    struct TCase {
        const char* Name;
        const char* Mask;
        bool Match;
    };
    const TCase cases[] = {
        {"readme.txt", "*.txt", true},
        {"README.TXT", "*.txt", true},
        {"readme.txt.bak", "*.txt", false},
        {"a.txt", "?.txt", true},
        {"ab.txt", "?.txt", false},
        {".txt", "?.txt", false},
        {"", "*", true},
        {"", "", true},
        {"a", "", false},
        {"noext", "*.*", false},  // literal: callers turn "*.*" into "*" themselves
        {"abcabd", "*abd", true},
        {"aaa", "a*a*a*a", false},
        {"a", "**a**", true},
        {"file1", "file[0-9]", true},
        {"fileA", "file[0-9]", false},
        {"fileA", "file[!0-9]", true},
        {"file5", "file[!0-9]", false},
        {"B", "[abc]", true},
        {"q", "[A-Z]", true},
        {"Q", "[a-z]", true},
        {"-", "[-a]", true},
        {"x]", "x]", true},
        {"\xC3\xA4" "b.txt", "?b.txt", true},  // "?" stands for a whole UTF-8 character
        {"\xC3\xA4", "[\xC3\xA4\xC3\xB6]", true},
        {"\xC3\xB6", "[!\xC3\xA4]", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesMask(c.Name, c.Mask), c.Match) << c.Name << " vs " << c.Mask;
}

TEST(Masks, MalformedMaskRaisesAClearError) {
    for (const char* mask : {"[abc", "a[", "[!", "[]", "[!]", "[a-]", "[z-a]", "[a-"}) {
        try {
            MatchesMask("abc", mask);
            ADD_FAILURE() << "no error for " << mask;
        } catch (const EMaskException& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Invalid mask: '" + std::string(mask) + "'", 0), 0u)
                << e.what();
        }
    }
}

TEST(Masks, CompiledMaskServesManyNamesAndPathologicalMasksStayCheap) {
    TMask mask("*.c[px][px]");
    EXPECT_TRUE(mask.Matches("unit.cpp"));
    EXPECT_TRUE(mask.Matches("UNIT.CXX"));
    EXPECT_FALSE(mask.Matches("unit.c"));

    // A backtracking matcher needs exponential time here; this one finishes at once.
    std::string name(20000, 'a');
    EXPECT_FALSE(MatchesMask(name, "*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchesMask(name + "b", "*a*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
