#include "common/QNStringUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

TEST(QNStringUtils, SplitKeepsInnerEmptyItemsButNoTrailingOne) {
    struct TCase {
        std::string S, Sep;
        TLines Items;
    };
    const TCase cases[] = {
        {"a;;b", ";", {"a", "", "b"}},
        {"a;b;", ";", {"a", "b"}},
        {";a", ";", {"", "a"}},
        {";;", ";", {"", ""}},
        {"", ";", {}},
        {"abc", ";", {"abc"}},
        {"a||b||", "||", {"a", "b"}},
        {"a|b", "", {"a|b"}},  // an empty separator cannot split (and must not loop)
    };
    TQNStringList list{"left over"};
    for (const auto& c : cases) {
        QNStringUtils().Split(c.S, list, c.Sep);
        EXPECT_EQ(list.ToVector(), c.Items) << c.S;
    }
    QNStringUtils().SplitSemicolons("x;y", list);
    EXPECT_EQ(list.ToVector(), (TLines{"x", "y"}));
}

TEST(QNStringUtils, SplitNameValueAtLastOrFirstEquals) {
    struct TCase {
        std::string S;
        bool AtFirst;
        std::string Name, Value;
    };
    const TCase cases[] = {
        {"x=y=z", false, "x=y", "z"}, {"x=y=z", true, "x", "y=z"}, {"noequals", false, "", ""},
        {"=v", false, "", "v"},       {"n=", true, "n", ""},
    };
    TQNStringUtils utils;  // a private instance, so the shared option stays untouched
    EXPECT_FALSE(utils.SplitAtFirstEquals);
    for (const auto& c : cases) {
        utils.SplitAtFirstEquals = c.AtFirst;
        std::string name = "old", value = "old";
        utils.SplitNameValue(c.S, name, value);
        EXPECT_EQ(name, c.Name) << c.S;
        EXPECT_EQ(value, c.Value) << c.S;
    }
}

TEST(QNStringUtils, ExtractBetweenAndTags) {
    struct TCase {
        std::string S, Start, Stop;
        int Result;
        std::string Inner;
    };
    const TCase cases[] = {
        {"<dtn:yyyy>", "<dtn:", ">", 6, "yyyy"},
        {"ab<dtn:x>cd", "<dtn:", ">", 8, "x"},
        {"<dtn:yyyy", "<dtn:", ">", 6, ""},  // no stop mark
        {"<<abc", "<<", "<", 3, ""},         // the stop mark starts before the inner text
        {"[]", "[", "]", 2, ""},
        {"no marks", "<dtn:", ">", 0, "unchanged"},
    };
    for (const auto& c : cases) {
        std::string inner = "unchanged";
        EXPECT_EQ(QNStringUtils().ExtractBetween(c.S, c.Start, c.Stop, inner), c.Result) << c.S;
        EXPECT_EQ(inner, c.Inner) << c.S;
    }

    std::string inner = "kept";
    EXPECT_EQ(QNStringUtils().GetTag("plain text", "dtn:", inner), 0);
    EXPECT_EQ(inner, "kept");
    EXPECT_EQ(QNStringUtils().GetTag("File <dtn:yyyymmdd>.log", "dtn:", inner), 11);
    EXPECT_EQ(inner, "yyyymmdd");
    EXPECT_EQ(QNStringUtils().ReplaceTag("a<dtn:x>b<dtn:x>", "dtn:", "x", "2011"), "a2011b<dtn:x>");
}

TEST(QNStringUtils, ReplaceTextNeverRescansInsertedText) {
    struct TCase {
        std::string S, Find, With;
        bool FirstOnly;
        std::string Result;
    };
    const TCase cases[] = {
        {"aXbXc", "X", "XX", false, "aXXbXXc"},
        {"aXbXc", "X", "XX", true, "aXXbXc"},
        {"l1\r\nl2\r\n", "\r\n", "\x05", false, "l1\x05l2\x05"},
        {"aaaa", "aa", "a", false, "aa"},
        {"abc", "", "x", false, "abc"},
        {"Abc", "a", "x", false, "Abc"},  // case-sensitive
    };
    for (const auto& c : cases)
        EXPECT_EQ(QNStringUtils().ReplaceText(c.S, c.Find, c.With, c.FirstOnly), c.Result) << c.S;
}

TEST(QNStringUtils, ReplaceRepeatedCollapsesRunsAndAlwaysEnds) {
    auto& u = QNStringUtils();
    EXPECT_EQ(u.ReplaceRepeated("a\\\\\\\\\\b\\\\c", "\\\\", "\\", true), "a\\b\\c");
    EXPECT_EQ(u.ReplaceRepeated("a;;;;b;;c", ";;", ";", false), "a;b;c");
    EXPECT_EQ(u.ReplaceRepeated("abc", "", "x", true), "abc");
    // A replacement that contains what it replaces is applied once instead of for ever.
    EXPECT_EQ(u.ReplaceRepeated("aXb", "X", "XX", true), "aXXb");
    // A replacement that regrows its own pattern ("ab" -> "bba" doubles the b's on every
    // pass) stops at the size bound instead of exhausting memory.
    std::string grown = u.ReplaceRepeated(std::string(40, 'a') + "b", "ab", "bba", true);
    EXPECT_LT(grown.size(), 8u << 20);
    EXPECT_NE(grown.find("ab"), std::string::npos);
}

TEST(QNStringUtils, PositionsLeftRightJoinContains) {
    auto& u = QNStringUtils();
    EXPECT_EQ(u.PosFrom("b", "abcb", 1), 2);
    EXPECT_EQ(u.PosFrom("b", "abcb", 3), 4);
    EXPECT_EQ(u.PosFrom("b", "abcb", 5), 0);
    EXPECT_EQ(u.PosFrom("b", "abcb", 0), 0);
    EXPECT_EQ(u.PosFrom("", "abcb", 1), 0);

    EXPECT_EQ(u.Left("abc", 2), "ab");
    EXPECT_EQ(u.Left("abc", 9), "abc");
    EXPECT_EQ(u.Left("abc", -1), "");
    EXPECT_EQ(u.Right("abc", 2), "bc");
    EXPECT_EQ(u.Right("abc", 9), "abc");

    EXPECT_EQ(u.Join(TQNStringList{}, ", "), "");
    EXPECT_EQ(u.Join(TQNStringList{"a", "", "b"}, ", "), "a, , b");

    EXPECT_TRUE(u.ContainsText("READ", "readme.txt"));
    EXPECT_FALSE(u.ContainsText("q", "readme.txt"));
}

TEST(QNStringUtils, RandomStringUsesTheAlphabet) {
    std::string s = QNStringUtils().RandomString(2000);
    ASSERT_EQ(s.size(), 2000u);
    EXPECT_EQ(s.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
    // Every symbol shows up in 2000 draws from 36 (missing one has odds below 1e-20).
    for (char c : std::string("09AZ")) EXPECT_NE(s.find(c), std::string::npos) << c;
    EXPECT_EQ(QNStringUtils().RandomString(0), "");
}

TEST(QNStringUtils, AddNulSeparatedListNarrowAndWide) {
    auto& u = QNStringUtils();
    TQNStringList list{"old"};
    u.AddNulSeparatedList(std::string_view("a\0bc\0\0ignored\0", 15), list, false, false);
    EXPECT_EQ(list.ToVector(), (TLines{"old", "a", "bc"}));
    // A buffer that ends without the closing empty string still ends the list.
    u.AddNulSeparatedList(std::string_view("x\0y", 3), list, true, false);
    EXPECT_EQ(list.ToVector(), (TLines{"x", "y"}));

    // UTF-16LE: "ä", a surrogate pair (U+1F600), then an unpaired surrogate.
    const char wide[] = {'\xE4', 0, 0, 0, '\x3D', '\xD8', '\x00', '\xDE', 0, 0,
                         '\x00', '\xD8', 0, 0, 0, 0};
    u.AddNulSeparatedList(std::string_view(wide, sizeof wide), list, true, true);
    EXPECT_EQ(list.ToVector(), (TLines{"\xC3\xA4", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD"}));
}

}  // namespace
