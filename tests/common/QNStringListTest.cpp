#include "common/QNStringList.h"
#include "common/SafeFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

struct TTag : TObject {
    explicit TTag(int v) : Value(v) {}
    int Value;
};

TEST(QNStringList, SortedListKeepsOrderAndDuplicateRule) {
    TQNStringList l;
    l.SetSorted(true);
    for (const char* s : {"b", "A", "c", "a", "B"}) l.Add(s);
    // Case-insensitive by default: "a" and "B" are duplicates that are ignored.
    EXPECT_EQ(l.ToVector(), (std::vector<std::string>{"A", "b", "c"}));

    l.SetDuplicates(TDuplicates::dupAccept);
    l.Add("a");
    EXPECT_EQ(l.ToVector(), (std::vector<std::string>{"A", "a", "b", "c"}));
    int idx = -1;
    EXPECT_TRUE(l.Find("A", idx));
    EXPECT_EQ(idx, 0);  // the first of the equal lines
    EXPECT_FALSE(l.Find("bb", idx));
    EXPECT_EQ(idx, 3);  // insertion point

    l.SetDuplicates(TDuplicates::dupError);
    EXPECT_THROW(l.Add("C"), EStringListError);
    EXPECT_THROW(l.Insert(0, "x"), EStringListError);
}

TEST(QNStringList, CaseSensitiveLookup) {
    TQNStringList l{"README", "Readme"};
    EXPECT_EQ(l.IndexOf("readme"), 0);
    l.SetCaseSensitive(true);
    EXPECT_EQ(l.IndexOf("Readme"), 1);
    EXPECT_EQ(l.IndexOf("readme"), -1);
}

TEST(QNStringList, NameValueAccess) {
    TQNStringList l{"noequals", "Key=a=b", "other=1"};
    EXPECT_EQ(l.IndexOfName("key"), 1);
    EXPECT_EQ(l.Values("KEY"), "a=b");
    EXPECT_EQ(l.Names(0), "");
    EXPECT_EQ(l.IndexOfName("noequals"), -1);
    l.SetValue("other", "2");
    EXPECT_EQ(l[2], "other=2");
    l.SetValue("new", "x");
    EXPECT_EQ(l[3], "new=x");
    l.SetValue("new", "");
    EXPECT_EQ(l.Count(), 3);
}

TEST(QNStringList, ObjectsTravelWithTheirLines) {
    TQNStringList l;
    l.Add("z", std::make_shared<TTag>(26));
    l.Add("a", std::make_shared<TTag>(1));
    l.SetSorted(true);
    ASSERT_EQ(l[0], "a");
    EXPECT_EQ(l.ObjectAs<TTag>(0)->Value, 1);
    TQNStringList copy;
    copy.Assign(l);
    EXPECT_EQ(copy.Objects(1).get(), l.Objects(1).get());
    EXPECT_THROW(l.Strings(2), EStringListError);
}

TEST(QNStringList, TextAcceptsEveryLineEnd) {
    struct Case {
        const char* text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"\n", {""}},
        {"a\r\r\nb", {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        TQNStringList l;
        l.SetText(c.text);
        EXPECT_EQ(l.ToVector(), c.lines) << "text: " << testing::PrintToString(std::string(c.text));
    }
}

TEST(QNStringList, SaveIsAtomicAndKeepsMode) {
    auto dir = std::filesystem::temp_directory_path() / ("qnsl-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string path = (dir / "list.txt").string();
    TQNStringList l{"one", "two"};
    l.SaveToFile(path);
    std::filesystem::permissions(path, std::filesystem::perms(0600));
    l.Add("three");
    l.SaveToFile(path);
    EXPECT_EQ(ReadFileBytes(path), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0600));
    // Writing into a missing folder fails and leaves nothing behind.
    EXPECT_THROW(l.SaveToFile((dir / "missing" / "x.txt").string()), EFileError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    std::filesystem::remove_all(dir);
}

}  // namespace
