#include "common/QNRegExpr.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(QNRegExpr, ModifierStringParsing) {
    struct TCase {
        const char* Mods;
        const char* Canonical;
        bool I, R, S, G, M, X;
    };
    const TCase cases[] = {
        {"", "g-irsmx", false, false, false, true, false, false},
        {"gsri-mx", "irsg-mx", true, true, true, true, false, false},
        {"i-g", "i-rsgmx", true, false, false, false, false, false},
        {"-i", "g-irsmx", false, false, false, true, false, false},
        {"MX-G", "mx-irsg", false, false, false, false, true, true},
        {"irsgmx", "irsgmx", true, true, true, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Mods);
        TQNRegExpr r("a", c.Mods);
        EXPECT_EQ(r.ModifierStr(), c.Canonical);
        EXPECT_EQ(r.ModifierI(), c.I);
        EXPECT_EQ(r.ModifierR(), c.R);
        EXPECT_EQ(r.ModifierS(), c.S);
        EXPECT_EQ(r.ModifierG(), c.G);
        EXPECT_EQ(r.ModifierM(), c.M);
        EXPECT_EQ(r.ModifierX(), c.X);
        TQNRegExpr again("a", r.ModifierStr());
        EXPECT_EQ(again.ModifierStr(), c.Canonical);
    }
    EXPECT_EQ(TQNRegExpr().ModifierStr(), "g-irsmx");

    // Letters not named go back to their defaults; a bad letter changes nothing.
    TQNRegExpr r("a", "gsri-mx");
    r.SetModifierStr("-i");
    EXPECT_EQ(r.ModifierStr(), "g-irsmx");
    r.SetModifierStr("im");
    try {
        r.SetModifierStr("iq");
        FAIL() << "no error for a bad modifier letter";
    } catch (const ERegExpr& e) {
        EXPECT_NE(std::string(e.what()).find("\"q\""), std::string::npos) << e.what();
        EXPECT_EQ(e.ErrorOffset(), -1);
    }
    EXPECT_EQ(r.ModifierStr(), "igm-rsx");

    EXPECT_EQ(&SharedRegExpr(), &SharedRegExpr());
    EXPECT_EQ(SharedRegExpr().ModifierStr(), "irsg-mx");
}

// One first match per row: the flags, inline settings, line rules and UTF-8 handling.
TEST(QNRegExpr, FirstMatchFollowsFlagsAndInlineSettings) {
    struct TCase {
        const char* Pattern;
        const char* Mods;
        std::string Subject;
        bool Found;
        std::string Match;
        int64_t Pos;
    };
    const TCase cases[] = {
        // Greedy and lazy, from the object's flag.
        {"a.*b", "", "aXbXb", true, "aXbXb", 1},
        {"a.*b", "-g", "aXbXb", true, "aXb", 1},
        {"a.*?b", "-g", "aXbXb", true, "aXbXb", 1},  // "?" flips a lazy quantifier
        // Inline settings are absolute, whatever the object's flag.
        {"(?g)a.*b", "", "aXbXb", true, "aXbXb", 1},
        {"(?g)a.*b", "-g", "aXbXb", true, "aXbXb", 1},
        {"(?-g)a.*b", "", "aXbXb", true, "aXb", 1},
        {"(?-g)a.*b", "-g", "aXbXb", true, "aXb", 1},
        {"(?i-g)A.*B", "", "aXbXb", true, "aXb", 1},
        {"(?-g:a.*b)X", "", "aXbXbX", true, "aXbX", 1},
        {"(?-g:a)b.*", "", "abXbX", true, "abXbX", 1},   // the group's setting ends with it
        {"(?^g:a.*b)", "-g", "aXbXb", true, "aXbXb", 1},
        {"(?i)abc", "", "xABC", true, "ABC", 2},
        {"(?-i)abc", "i", "ABC abc", true, "abc", 5},
        {"(?r)ab", "", "ab", true, "ab", 1},
        {"(?ir:A)B", "", "aB", true, "aB", 1},
        // "(?" inside a class, after a backslash, quoted or in an x-mode comment is text.
        {"[(?g)]+", "", "(?g)", true, "(?g)", 1},
        {"x\\(?g:", "", "xg:", true, "xg:", 1},
        {"\\Q(?g)\\E", "", "a(?g)b", true, "(?g)", 2},
        {"# [ note\n(?-g)a.*b", "x", "aXbXb", true, "aXb", 1},
        // Ignore case, including letters beyond ASCII.
        {"abc", "i", "xAbC", true, "AbC", 2},
        {"abc", "", "ABC", false, "", -1},
        {"straße", "i", "STRASSE Straße", true, "Straße", 9},
        {"жук", "i", "ЖУК", true, "ЖУК", 1},
        // "." and line breaks.
        {"a.b", "", "a\nb", false, "", -1},
        {"a.b", "s", "a\nb", true, "a\nb", 1},
        {"a.b", "", "a\rb", false, "", -1},
        // Anchors per line with m, for LF and CR LF text.
        {"^b$", "", "a\nb\nc", false, "", -1},
        {"^b$", "m", "a\nb\nc", true, "b", 3},
        {"^b$", "m", "a\r\nb\r\nc", true, "b", 4},
        {"c$", "", "a\nc\n", true, "c", 3},
        // Extended patterns ignore blanks and comments.
        {"a b # the rest\n c", "x", "abc", true, "abc", 1},
        {"a b c", "", "abc", false, "", -1},
        {"a\\ b", "x", "a b", true, "a b", 1},
        // Text that is not UTF-8 still matches around the bad bytes.
        {"abc", "", "\xff\xfe" "abc", true, "abc", 3},
        {"a.c", "", "a\xff" "c a\xc3\xa4" "c", true, "a\xc3\xa4" "c", 5},
        {"\\w+", "", "M\xc3\xbcller", true, "M", 1},  // ASCII classes
        // A pattern with raw non-UTF-8 bytes matches byte by byte.
        {"\xff" "ab", "", "x\xff" "ab", true, "\xff" "ab", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Pattern) + " /" + c.Mods + " on " + c.Subject);
        TQNRegExpr r(c.Pattern, c.Mods);
        ASSERT_EQ(r.Exec(c.Subject), c.Found);
        EXPECT_EQ(r.Match(0), c.Match);
        EXPECT_EQ(r.MatchPos(0), c.Pos);
    }
}

TEST(QNRegExpr, GroupsPositionsAndLengths) {
    TQNRegExpr r("(a)|(b)(c)?(x*)");
    ASSERT_TRUE(r.Exec("zzb"));
    EXPECT_EQ(r.SubExprCount(), 4);
    EXPECT_EQ(r.SubExprMatchCount(), 4);
    struct TGroup {
        bool Took;
        std::string Text;
        int64_t Pos, Len;
    };
    const TGroup expected[] = {
        {true, "b", 3, 1}, {false, "", -1, -1}, {true, "b", 3, 1}, {false, "", -1, -1}, {true, "", 4, 0},
        {false, "", -1, -1},  // beyond the pattern's groups
    };
    for (int n = 0; n < 6; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(r.Matched(n), expected[n].Took);
        EXPECT_EQ(r.Match(n), expected[n].Text);
        EXPECT_EQ(r.MatchPos(n), expected[n].Pos);
        EXPECT_EQ(r.MatchLen(n), expected[n].Len);
    }
    EXPECT_FALSE(r.Matched(-1));

    r.SetExpression("(\\d+)-(\\d+)");
    ASSERT_TRUE(r.Exec("ab12-345"));
    EXPECT_EQ(r.MatchPos(0), 3);
    EXPECT_EQ(r.MatchLen(0), 6);
    EXPECT_EQ(r.MatchPos(2), 6);
    EXPECT_EQ(r.Match(2), "345");

    // The highest group that took part, and nothing after a failed match.
    r.SetExpression("(a)(b)?(c)?");
    ASSERT_TRUE(r.Exec("ab"));
    EXPECT_EQ(r.SubExprMatchCount(), 2);
    EXPECT_FALSE(r.Exec("zzz"));
    EXPECT_EQ(r.SubExprMatchCount(), -1);
    EXPECT_FALSE(r.Matched(0));
    EXPECT_EQ(r.MatchPos(0), -1);
    EXPECT_FALSE(r.ExecNext());
}

std::vector<std::string> AllMatches(TQNRegExpr& r, const std::string& text) {
    std::vector<std::string> found;
    for (bool ok = r.Exec(text); ok; ok = r.ExecNext()) {
        found.push_back(std::to_string(r.MatchPos(0)) + ":" + r.Match(0));
        if (found.size() > 100) break;  // a loop would show as a long list
    }
    return found;
}

TEST(QNRegExpr, ExecNextVisitsEveryMatchAndEnds) {
    using V = std::vector<std::string>;
    struct TCase {
        const char* Pattern;
        std::string Subject;
        V Expected;
    };
    const TCase cases[] = {
        {"\\d+", "a1b22c333", V{"2:1", "4:22", "7:333"}},
        {"x*", "axxb", V{"1:", "2:xx", "4:", "5:"}},
        {"", "\xc3\xa4" "b", V{"1:", "3:", "4:"}},  // an empty match never splits a character
        {"", "\r\n", V{"1:", "3:"}},                 // nor a CR LF
        {"", "\xff" "a", V{"1:", "2:", "3:"}},
        {"(?<=a)b", "abab", V{"2:b", "4:b"}},       // look-behind sees the text before
        {"|a", "ab", V{"1:", "1:a", "2:", "3:"}},  // a longer match where an empty one was
        {"^a", "aaa", V{"1:a"}},
        {"z", "abc", V{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Pattern) + " on " + c.Subject);
        TQNRegExpr r(c.Pattern);
        EXPECT_EQ(AllMatches(r, c.Subject), c.Expected);
        EXPECT_FALSE(r.ExecNext());
    }
    TQNRegExpr fresh("a");
    EXPECT_FALSE(fresh.ExecNext());
}

TEST(QNRegExpr, ExecPosStartsAtAPosition) {
    TQNRegExpr r("\\d");
    EXPECT_TRUE(r.ExecPos("1a2", 2));
    EXPECT_EQ(r.MatchPos(0), 3);
    EXPECT_FALSE(r.ExecPos("1a2", 0));
    EXPECT_FALSE(r.ExecPos("1a2", 5));
    r.SetExpression("$");
    EXPECT_TRUE(r.ExecPos("1a2", 4));
    EXPECT_EQ(r.MatchPos(0), 4);
    r.SetExpression("\\bb");
    EXPECT_TRUE(r.ExecPos("ab b", 2));
    EXPECT_EQ(r.MatchPos(0), 4);
    r.SetExpression(".");
    EXPECT_NO_THROW(r.ExecPos("\xc3\xa4" "b", 2));  // inside a character: no error
}

TEST(QNRegExpr, ReplaceExpandsGroupReferences) {
    struct TCase {
        const char* Pattern;
        const char* Mods;
        std::string Text, Template, Expected;
    };
    const TCase cases[] = {
        {"(\\w+)@(\\w+)", "", "a@b c@d", "$2@$1", "b@a d@c"},
        {"(a)", "", "banana", "${1}0", "ba0na0na0"},
        {"(a)(n)", "", "banana", "$12", "ba2a2a"},  // one digit after "$"
        {"an", "", "banana", "<$0>", "b<an><an>a"},
        {"(x)?b", "", "ab", "[$1]", "a[]"},          // a group that did not take part
        {"b", "", "abc", "[${99}]", "a[]c"},          // nor exists
        {"a", "", "a", "$$ $ $x ${ ${1 ${}", "$ $ $x ${ ${1 ${}"},
        {"x*", "", "abc", "-", "-a-b-c-"},
        {"", "", "", "x", "x"},
        {"A", "i", "aAa", ".", "..."},
        {"z", "", "abc", "-", "abc"},
        {"(?-g)<.+>", "", "<a><b>", "[]", "[][]"},
        {"[ \\t]+$", "m", "a  \nb \t\n", "", "a\nb\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Pattern) + " on " + c.Text + " by " + c.Template);
        TQNRegExpr r(c.Pattern, c.Mods);
        EXPECT_EQ(r.Replace(c.Text, c.Template), c.Expected);
    }

    // Replace leaves the current match alone; Substitute expands it.
    TQNRegExpr r("(\\w+) (\\w+)");
    ASSERT_TRUE(r.Exec("hello world"));
    EXPECT_EQ(r.Replace("a b, c d", "$2$1"), "ba, dc");
    EXPECT_EQ(r.Match(1), "hello");
    EXPECT_EQ(r.Substitute("$2, $1!"), "world, hello!");
    EXPECT_FALSE(r.Exec("x"));
    EXPECT_EQ(r.Substitute("[$1]$$"), "[]$");
}

TEST(QNRegExpr, BadPatternReportsMessageAndOffset) {
    struct TCase {
        const char* Pattern;
        const char* Message;
        int64_t Offset;
    };
    const TCase cases[] = {
        {"(abc", "missing closing parenthesis", 4},
        {"a)", "unmatched closing parenthesis", 1},
        {"[a", "missing terminating ] for character class", 2},
        {"*a", "quantifier does not follow a repeatable item", 0},
        {"(?g)(abc", "missing closing parenthesis", 8},  // offset in the pattern as written
        {"(?-g)a{2,1}", "numbers out of order in {} quantifier", 10},
        {"(?q)", "unrecognized character after (? or (?-", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Pattern);
        TQNRegExpr r(c.Pattern);
        try {
            r.Exec("abc");
            ADD_FAILURE() << "no error";
        } catch (const ERegExpr& e) {
            EXPECT_EQ(e.ErrorMessage(), c.Message);
            EXPECT_EQ(e.ErrorOffset(), c.Offset);
            EXPECT_GT(e.ErrorCode(), 0);
            EXPECT_EQ(std::string(e.what()),
                      std::string(c.Message) + " at offset " + std::to_string(c.Offset));
        }
        EXPECT_THROW(r.Compile(), ERegExpr);
        EXPECT_THROW(r.Replace("abc", "x"), ERegExpr);
        r.SetExpression("b");  // the object stays usable
        EXPECT_TRUE(r.Exec("abc"));
    }
}

// Catastrophic backtracking hits the match limit and raises instead of running on,
// through the JIT and through the interpreter.
TEST(QNRegExpr, PathologicalPatternRaisesInsteadOfRunningOn) {
    const std::string as(40, 'a');
    struct TCase {
        const char* Pattern;
        std::string Subject;
    };
    const TCase cases[] = {
        {"(a+)+$", as + "c"},
        {"(a|aa)+$", as + "c"},
        {"(a+)+b", as + "cb"},
    };
    for (bool jit : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.Pattern) + (jit ? " jit" : " interpreter"));
            TQNRegExpr r(c.Pattern);
            r.SetUseJIT(jit);
            EXPECT_EQ(r.JITActive(), jit);
            try {
                r.Exec(c.Subject);
                ADD_FAILURE() << "no error";
            } catch (const ERegExpr& e) {
                EXPECT_EQ(std::string(e.what()),
                          "the pattern is too complex for this text (match limit exceeded)");
                EXPECT_EQ(e.ErrorOffset(), -1);
            }
            EXPECT_FALSE(r.Matched(0));
            EXPECT_THROW(r.Replace(c.Subject, ""), ERegExpr);
            EXPECT_NO_THROW(r.Exec("aab"));  // a text it can handle still works
        }
    }
    // Deep recursion outgrows the JIT's first stack; it still finds the match.
    const std::string deep(100000, 'a');
    TQNRegExpr r("(a(?1)?)");
    ASSERT_TRUE(r.Exec(deep));
    EXPECT_EQ(r.MatchLen(0), 100000);
}

TEST(QNRegExpr, CopiesMatchOnTheirOwn) {
    TQNRegExpr r("\\d+", "gsri-mx");
    ASSERT_TRUE(r.Exec("1 22 333"));
    TQNRegExpr c(r);
    EXPECT_EQ(c.ModifierStr(), "irsg-mx");
    ASSERT_TRUE(c.ExecNext());
    EXPECT_EQ(c.Match(0), "22");
    EXPECT_EQ(r.Match(0), "1");
    c.SetExpression("\\d");
    ASSERT_TRUE(r.ExecNext());
    EXPECT_EQ(r.Match(0), "22");
    TQNRegExpr m(std::move(c));
    EXPECT_TRUE(m.Exec("x7"));
    r = m;
    EXPECT_EQ(r.Expression(), "\\d");
    EXPECT_EQ(r.Match(0), "7");

    // Copies of one compiled pattern in parallel threads.
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "k" + std::to_string(i) + "=v" + std::to_string(i) + ";";
    TQNRegExpr base("(k\\d+)=(v\\d+)");
    base.Compile();
    const std::string expected = base.Replace(text, "$2:$1");
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([copy = base, &text, &result]() mutable {
            for (int i = 0; i < 20; ++i) result = copy.Replace(text, "$2:$1");
        });
    for (auto& t : threads) t.join();
    for (const auto& result : results) EXPECT_EQ(result, expected);
}

TEST(QNRegExpr, QuotedTextMatchesItself) {
    for (std::string s : {"a.b*c", "(x)[y]{z}", "$^|?+\\", "a b#c-d", "\xc3\xa4.txt"}) {
        SCOPED_TRACE(s);
        for (const char* mods : {"", "x"}) {
            TQNRegExpr r(TQNRegExpr::QuoteRegExprMetaChars(s), mods);
            ASSERT_TRUE(r.Exec("<" + s + ">"));
            EXPECT_EQ(r.Match(0), s);
        }
    }
}

}  // namespace
