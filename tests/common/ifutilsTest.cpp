#include "common/ifutils.h"

#include "common/SafeFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using TLines = std::vector<std::string>;

// A fresh folder under the build tree, removed afterwards.
class IfUtilsFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qn-ifutils-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        FRoot = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(FRoot, ec);
    }
    std::string FRoot;
};

// Sets an environment variable for one test and puts the old value back.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value) : FName(name) {
        const char* old = std::getenv(name);
        FHad = old != nullptr;
        if (FHad) FOld = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~TScopedEnv() {
        if (FHad) setenv(FName.c_str(), FOld.c_str(), 1);
        else unsetenv(FName.c_str());
    }

private:
    std::string FName, FOld;
    bool FHad = false;
};

TEST(ifutils, PathTextHelpers) {
    struct TCase {
        std::string Path, Stripped, Last, Base, Dir, Parent;
    };
    const TCase cases[] = {
        {"c:\\a\\b\\", "c:\\a\\b", "b", "", "c:\\a\\b\\", "c:\\a\\b"},
        {"abc\\", "abc", "abc\\", "", "abc\\", "abc"},
        {"/home/u/a.b.txt", "/home/u/a.b.txt", "a.b.txt", "a", "/home/u/", "/home/u"},
        {"/x/y.z/dir/", "/x/y.z/dir", "dir", "", "/x/y.z/dir/", "/x/y.z/dir"},
        {"a.b.txt", "a.b.txt", "a.b.txt", "a", "a.b.txt", "a.b.txt"},
        {"  /srv/data \t", "/srv/data", "data", "data \t", "  /srv/", "/srv"},
        {"x\\\\/", "x", "x\\\\/", "", "x\\\\/", "x"},
        {"\\", "", "\\", "", "\\", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StripTrailingSeparators(c.Path), c.Stripped) << c.Path;
        EXPECT_EQ(ExtractLastPathComponent(c.Path), c.Last) << c.Path;
        EXPECT_EQ(ExtractFileBaseName(c.Path), c.Base) << c.Path;
        EXPECT_EQ(ExtractDir(c.Path), c.Dir) << c.Path;
        EXPECT_EQ(ExtractParentDir(c.Path), c.Parent) << c.Path;
    }
}

TEST(ifutils, PathAfterRoot) {
    struct TCase {
        std::string Path, AfterRoot;
    };
    const TCase cases[] = {
        {"\\\\server\\share\\dir\\f.txt", "dir\\f.txt"},
        {"\\\\server\\share\\", ""},
        {"\\\\server\\share", ""},
        {"\\\\\\server\\share\\x", "x"},  // the server name starts after the first "\\"
        {"C:\\dir\\f.txt", "dir\\f.txt"},
        {"C:/dir/f.txt", "dir/f.txt"},
        {"/home/u/f.txt", "home/u/f.txt"},
        {"//home/u", "home/u"},
        {"/", ""},
        {"relative/path", "relative/path"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExtractPathAfterRoot(c.Path), c.AfterRoot) << c.Path;
}

TEST(ifutils, ElapsedTimes) {
    struct TCase {
        std::string Text;
        double Days;
    };
    const TCase cases[] = {
        {"002:12:00:00", 2.5},
        {"999:23:00:00", 999},
        {"000:00:01:30", 90.0 / 86400},
        {"000:01:00:00 and more", 1.0 / 24},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(ParseElapsed(c.Text), c.Days) << c.Text;
    for (const char* bad : {"00x:00:00:00", "002:1a:00:00", "002:-1:00:00", "002:12:00", ""})
        EXPECT_THROW(ParseElapsed(bad), EConvertError) << bad;

    EXPECT_EQ(FormatElapsed("hh:nn:ss", 2.5), "2:12:00:00");
    EXPECT_EQ(FormatElapsed("hh:nn:ss", ParseElapsed("017:05:04:03")), "17:05:04:03");

    const TDateTime base = EncodeDateTime(2011, 3, 4, 23, 0, 0, 0);
    EXPECT_NEAR(IncSeconds(86400 + 3600 + 61, base), EncodeDateTime(2011, 3, 6, 0, 1, 1, 0), 1e-9);
    EXPECT_NEAR(IncSeconds(-3600, base), EncodeDateTime(2011, 3, 4, 22, 0, 0, 0), 1e-9);
}

struct TTag : TObject {
    explicit TTag(int v) : Value(v) {}
    int Value;
};

TEST(ifutils, SortStringsKeepsObjectsWithTheirLines) {
    TQNStringList list;
    for (int v : {3, 1, 2}) list.Add("line" + std::to_string(v), std::make_shared<TTag>(v));
    SortStrings(list, [](const auto& a, const auto& b) { return CompareStr(b.Str, a.Str); });
    EXPECT_EQ(list.ToVector(), (TLines{"line3", "line2", "line1"}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list.ObjectAs<TTag>(i)->Value, 3 - i);
}

TEST(ifutils, SortStringsSurvivesAComparisonThatContradictsItself) {
    std::mt19937 rng(7);
    TQNStringList list;
    TLines all;
    for (int i = 0; i < 1500; ++i) all.push_back(std::to_string(rng() % 500));
    for (const auto& s : all) list.Add(s);
    const TSortCompare compares[] = {
        [&](const auto&, const auto&) { return int(rng() % 3) - 1; },
        [](const auto&, const auto&) { return -1; },
        [](const auto&, const auto&) { return 1; },
        [](const auto&, const auto&) { return 0; },
    };
    std::sort(all.begin(), all.end());
    for (const auto& compare : compares) {
        SortStrings(list, compare);
        TLines now = list.ToVector();
        std::sort(now.begin(), now.end());
        EXPECT_EQ(now, all);  // nothing lost, nothing duplicated
    }
    // And a consistent comparison still sorts after all that shuffling.
    SortStrings(list, [](const auto& a, const auto& b) { return CompareStr(a.Str, b.Str); });
    EXPECT_EQ(list.ToVector(), all);
}

TEST(ifutils, ForEachItemWritesBackTextAndObjects) {
    TQNStringList list{"a", "b"};
    int visited = ForEachItem(list, [](std::string& text, TObjectPtr& obj) {
        obj = std::make_shared<TFPBasics>(text, std::string(48, '0'), "note " + text);
        text += "!";
    });
    EXPECT_EQ(visited, 2);
    EXPECT_EQ(list.ToVector(), (TLines{"a!", "b!"}));
    ASSERT_NE(list.ObjectAs<TFPBasics>(1), nullptr);
    EXPECT_EQ(list.ObjectAs<TFPBasics>(1)->Comment, "note b");

    TQNStringList sorted{"x", "y"};
    sorted.SetSorted(true);
    EXPECT_EQ(ForEachItem(sorted, [](std::string&, TObjectPtr& obj) { obj = std::make_shared<TTag>(1); }), 2);
    EXPECT_THROW(ForEachItem(sorted, [](std::string& text, TObjectPtr&) { text = "a"; }),
                 EStringListError);
}

TEST(ifutils, FindSortedFindsTheExactTextOrTheInsertionPoint) {
    TQNStringList list;  // case-insensitive order, duplicates kept
    list.SetSorted(true);
    list.SetDuplicates(TDuplicates::dupAccept);
    for (const char* s : {"cherry", "Banana", "apple", "banana", "cherry"}) list.Add(s);
    ASSERT_EQ(list.ToVector(), (TLines{"apple", "Banana", "banana", "cherry", "cherry"}));
    struct TCase {
        const char* Text;
        bool Found;
        int Index;
    };
    const TCase cases[] = {
        {"apple", true, 0},       {"Banana", true, 1},     {"banana", true, 2},
        {"cherry", true, 3},      {"BANANA", false, 1},    {"banane", false, 3},
        {"aardvark", false, 0},   {"zebra", false, 5},     {"", false, 0},
    };
    for (const auto& c : cases) {
        int index = -7;
        EXPECT_EQ(FindSorted(list, c.Text, index), c.Found) << c.Text;
        EXPECT_EQ(index, c.Index) << c.Text;
    }

    TQNStringList exact;  // byte order
    exact.SetCaseSensitive(true);
    exact.SetSorted(true);
    for (const char* s : {"a", "B", "b"}) exact.Add(s);
    int index = -1;
    EXPECT_TRUE(FindSorted(exact, "a", index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(FindSorted(exact, "A", index));
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(FindSorted(TQNStringList{}, "a", index));
    EXPECT_EQ(index, 0);
}

TEST(ifutils, FindContainingAndFindFrom) {
    const TQNStringList list{"alpha", "Beta", "gamma", "beta"};
    EXPECT_EQ(FindContaining(list, "MM"), 2);
    EXPECT_EQ(FindContaining(list, "zz"), -1);
    struct TCase {
        const char* Text;
        int Start;
        bool Partial, Wrap;
        int Result;
    };
    const TCase cases[] = {
        {"beta", 0, false, false, 1},  {"BETA", 2, false, false, 3}, {"bet", 0, false, false, -1},
        {"ALP", 1, true, false, -1},   {"ALP", 1, true, true, 0},    {"x", 0, true, true, -1},
        {"beta", 10, false, false, -1}, {"beta", 10, false, true, 1}, {"beta", -1, false, false, -1},
        {"beta", -1, false, true, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindFrom(list, c.Text, c.Start, c.Partial, c.Wrap), c.Result)
            << c.Text << " from " << c.Start;
    EXPECT_EQ(FindFrom(TQNStringList{}, "a", 0, true, true), -1);
}

TEST_F(IfUtilsFolder, ForceDirectoriesCreatesEveryLevelAndReportsWhatStopsIt) {
    std::string deep = FRoot + "/a/b/c/";
    ForceDirectories(deep);
    EXPECT_TRUE(DirectoryExists(FRoot + "/a/b/c"));
    EXPECT_FALSE(FileExists(FRoot + "/a/b/c"));
    ForceDirectories(deep);  // existing folders are fine

    try {
        ForceDirectories("");
        ADD_FAILURE();
    } catch (const EFileError& e) {
        EXPECT_STREQ(e.what(), "Unable to create directory");
    }

    WriteFileAtomic(FRoot + "/file", "x");
    EXPECT_TRUE(FileExists(FRoot + "/file"));
    EXPECT_FALSE(DirectoryExists(FRoot + "/file"));
    for (const std::string& path : {FRoot + "/file", FRoot + "/file/sub/deeper"}) {
        try {
            ForceDirectories(path);
            ADD_FAILURE() << path;
        } catch (const EFileError& e) {
            EXPECT_NE(std::string(e.what()).find("Unable to create directory " + FRoot + "/file"),
                      std::string::npos)
                << e.what();
        }
    }
    EXPECT_FALSE(fs::exists(FRoot + "/file/sub"));
}

TEST_F(IfUtilsFolder, TempDirAndUniqueTempFiles) {
    {
        TScopedEnv env("TMPDIR", FRoot.c_str());
        EXPECT_EQ(GetTempDir(), FRoot + "/");
        std::string a = GetUniqueTempFileName(), b = GetUniqueTempFileName();
        EXPECT_NE(a, b);
        for (const auto& f : {a, b}) {
            EXPECT_EQ(ExtractDir(f), FRoot + "/");
            EXPECT_TRUE(FileExists(f));
            EXPECT_EQ(fs::file_size(f), 0u);
            std::string prefix = ExtractLastPathComponent(f).substr(0, 3);
            EXPECT_EQ(prefix.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
                      std::string::npos)
                << f;
        }
    }
    {
        TScopedEnv env("TMPDIR", (FRoot + "/").c_str());
        EXPECT_EQ(GetTempDir(), FRoot + "/");
    }
    {
        TScopedEnv env("TMPDIR", "relative");
        EXPECT_EQ(GetTempDir(), "/tmp/");
    }
    {
        TScopedEnv env("TMPDIR", (FRoot + "/missing").c_str());
        EXPECT_THROW(GetUniqueTempFileName(), EFileError);
    }
    TScopedEnv env("TMPDIR", nullptr);
    EXPECT_EQ(GetTempDir(), "/tmp/");
}

TEST(ifutils, HexConversionsStayInsideTheBuffer) {
    const std::vector<uint8_t> bytes{0x00, 0xAB, 0x7F, 0x10};
    EXPECT_EQ(BufferToHex(bytes), "00AB7F10");
    EXPECT_EQ(BytesToHex(bytes), "00AB7F10");
    EXPECT_EQ(BufferToHex(bytes.data(), 0), "");

    struct TCase {
        std::string Text;
        size_t BufferSize, Count;
        size_t Written;
        std::vector<uint8_t> Result;
    };
    const TCase cases[] = {
        {"00ab7F10", 4, 0, 4, {0x00, 0xAB, 0x7F, 0x10}},
        {"zz01", 2, 0, 2, {0x00, 0x01}},                   // a pair that is not hex gives 0
        {"ABC", 2, 0, 1, {0xAB, 0xEE}},                    // half the length, rounded down
        {"AB", 3, 3, 3, {0xAB, 0x00, 0x00}},               // a short text fills with 0
        {std::string(200, 'F'), 3, 0, 3, {0xFF, 0xFF, 0xFF}},  // count 0 with a long text
        {std::string(200, 'F'), 3, 50, 3, {0xFF, 0xFF, 0xFF}}, // count beyond the buffer
    };
    for (const auto& c : cases) {
        // An exactly sized heap block, so the address sanitizer sees any write past it.
        auto buf = std::make_unique<uint8_t[]>(c.BufferSize);
        std::fill(buf.get(), buf.get() + c.BufferSize, 0xEE);
        std::span<uint8_t> span(buf.get(), c.BufferSize);
        EXPECT_EQ(HexToBuffer(c.Text, span, c.Count), c.Written) << c.Text;
        EXPECT_EQ(std::vector<uint8_t>(buf.get(), buf.get() + c.BufferSize), c.Result) << c.Text;
        EXPECT_EQ(HexToBytes(c.Text, span, c.Count), c.Written) << c.Text;
    }
    uint8_t record[3] = {1, 2, 3};
    EXPECT_EQ(HexToBuffer("AABBCCDD", record, 2), 2u);
    EXPECT_EQ(std::vector<uint8_t>(record, record + 3), (std::vector<uint8_t>{0xAA, 0xBB, 3}));
}

}  // namespace
