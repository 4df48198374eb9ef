#include "common/QNMemIniFile.h"
#include "common/SafeFile.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

using qntest::TFileSizeLimit;
using TSections = std::vector<std::pair<std::string, std::vector<std::string>>>;

class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (fs::temp_directory_path() / "qnini.XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        FPath = tmpl;
    }
    ~TTempDir() {
        std::error_code ec;
        fs::remove_all(FPath, ec);
    }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

void WriteBytes(const std::string& path, std::string_view data) { WriteFileAtomic(path, data); }

std::string Fixture(const std::string& name) {
    return std::string(QN_FIXTURES_DIR) + "/ini/" + name;
}

TSections SectionsOf(const TMemIniFile& ini) {
    TSections r;
    for (int i = 0; i < ini.SectionCount(); ++i)
        r.emplace_back(ini.SectionName(i), ini.SectionLines(i).ToVector());
    return r;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> r;
    for (const auto& e : fs::directory_iterator(dir)) r.push_back(e.path().filename().string());
    return r;
}


// --- the text format ----------------------------------------------------------------

TEST(QNMemIniFile, FilesInEachHeaderStyleSaveBackByteForByte) {
    struct TCase {
        const char* File;
        bool Sorted;
    } cases[] = {{"brackets.ini", false}, {"angle.fmw", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        TTempDir dir;
        std::string original = ReadFileBytes(Fixture(c.File));
        std::string copy = dir / c.File;
        WriteBytes(copy, original);
        std::unique_ptr<TMemIniFile> ini;
        if (c.Sorted) ini = std::make_unique<TFMWMemIniFile>(copy);
        else ini = std::make_unique<TMemIniFile>(copy);
        ini->UpdateFile();
        EXPECT_EQ(ReadFileBytes(copy), original);
    }
}

TEST(QNMemIniFile, FixtureContentAsLoaded) {
    TMemIniFile plain(Fixture("brackets.ini"));
    TSections sections = SectionsOf(plain);
    ASSERT_EQ(sections.size(), 5u);
    EXPECT_EQ(sections[0].second,
              (std::vector<std::string>{"Name=Brevanta", "Path=c:\\dir\\file.txt", "k=a=b",
                                        "; comment line", "   indented = kept ", "",
                                        "plain line without equals"}));
    EXPECT_EQ(sections[1], (TSections::value_type{"Empty", {}}));
    EXPECT_EQ(sections[2], (TSections::value_type{"Trailing blank", {"x=1", ""}}));
    // An unsorted index keeps a repeated header as a second section that lookups never
    // reach; it is still saved.
    EXPECT_EQ(sections[4].first, "general");
    EXPECT_EQ(plain.ReadString("GENERAL", "y", "-"), "-");

    TFMWMemIniFile fmw(Fixture("angle.fmw"));
    EXPECT_EQ(fmw.ReadString("c:\\dir\\\"FileInfo", "A.TXT", ""),
              "000000000000000000000000000000000000000000000001");
    EXPECT_EQ(fmw.SectionByIndex(0).ToVector(), (std::vector<std::string>{"no name"}));
    EXPECT_EQ(fmw.GetSection("results").ToVector(),
              (std::vector<std::string>{"c:\\dir\\a.txt", "", "c:\\dir\\b.txt"}));
    EXPECT_EQ(fmw.ReadInteger("Results\"Stats", "FolderCount", 0), 1);
}

TEST(QNMemIniFile, LoadKeepsEveryLineItCan) {
    struct TCase {
        const char* What;
        std::string Text;
        TSections Expected;
    } cases[] = {
        {"hand-made file without separators", "[A]\r\nx=1\r\n[B]\r\ny=2",
         {{"A", {"x=1"}}, {"B", {"y=2"}}}},
        {"adjacent headers", "[A]\n[B]\n", {{"A", {}}, {"B", {}}}},
        {"blank lines inside a section", "[A]\r\na\r\n\r\nb\r\n\r\n", {{"A", {"a", "", "b"}}}},
        {"a section's own trailing blank", "[A]\r\n\r\n\r\n", {{"A", {""}}}},
        {"lines before the first header", "lost\r\n\r\n[A]\r\nx\r\n", {{"A", {"x"}}}},
        {"no header at all", "x=1\r\ny=2\r\n", {}},
        {"blank before the bracket", " [A]\nx\n[B]\ny", {{"B", {"y"}}}},
        {"empty name", "[]\nx\n", {{"", {"x"}}}},
        {"CR only", "[A]\rx=1\ry=2\r\r[B]\rz", {{"A", {"x=1", "y=2"}}, {"B", {"z"}}}},
        {"LF only", "[A]\nx=1\ny=2\n\n[B]\nz", {{"A", {"x=1", "y=2"}}, {"B", {"z"}}}},
        {"byte-order mark", "\xEF\xBB\xBF[A]\r\nx=1\r\n", {{"A", {"x=1"}}}},
        {"NUL and high bytes", std::string("[A]\nx\0y=\xff\xfe\x01\n\n", 13),
         {{"A", {std::string("x\0y=\xff\xfe\x01", 7)}}}},
    };
    TTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        WriteBytes(dir / "t.ini", c.Text);
        TMemIniFile ini(dir / "t.ini");
        EXPECT_EQ(SectionsOf(ini), c.Expected);
    }
}

TEST(QNMemIniFile, MalformedFilesLoadWithoutCrash) {
    TTempDir dir;
    // Every byte value after a header: the line breaks split it, nothing else is lost.
    std::string binary = "[Bin]\n";
    for (int b = 0; b < 256; ++b) binary += static_cast<char>(b);
    WriteBytes(dir / "bin.ini", binary);
    TFMWMemIniFile bin(dir / "bin.ini");
    const TQNStringList& lines = bin.GetSection("Bin");
    std::string joined;
    for (const auto& item : lines) joined += item.Str + "|";
    std::string expected;
    for (int b = 0; b < 256; ++b) {
        if (b == '\n') expected += "|";
        else if (b == '\r') expected += "|";
        else expected += static_cast<char>(b);
    }
    EXPECT_EQ(joined, expected + "|");

    // A 50 MB single line, with and without a header before it.
    std::string big(50u << 20, 'x');
    WriteBytes(dir / "big.ini", "[A]\r\n" + big);
    {
        TFMWMemIniFile ini(dir / "big.ini");
        ASSERT_EQ(ini.GetSection("A").Count(), 1);
        EXPECT_EQ(ini.GetSection("A")[0].size(), big.size());
    }
    WriteBytes(dir / "big.ini", big);
    TMemIniFile headerless(dir / "big.ini");
    EXPECT_EQ(headerless.SectionCount(), 0);
}

TEST(QNMemIniFile, SquareBracketFileIsSavedWithAngleBracketsSorted) {
    TTempDir dir;
    WriteBytes(dir / "old.ini", "\r\n[Zeta]\r\nz=1\r\n\r\n[alpha]\r\na=1\r\n\r\n[ZETA]\r\nz2=2\r\n");
    TFMWMemIniFile ini(dir / "old.ini");
    EXPECT_EQ(ini.Brackets(), "<>");
    // The repeated header joins the first section of that name, also during the load
    // of the constructor.
    EXPECT_EQ(ini.ReadString("zeta", "z2", ""), "2");
    ini.SaveAs(dir / "new.fmw");
    EXPECT_EQ(ini.FileName(), dir / "new.fmw");
    EXPECT_EQ(ReadFileBytes(dir / "new.fmw"),
              "<alpha>\r\na=1\r\n\r\n<Zeta>\r\nz=1\r\nz2=2\r\n\r\n");

    // A later load into the sorted index merges the same way.
    TQNStringList text;
    text.SetText("<b>\nb1\n<a>\na1\n<B>\nb2\n");
    ini.SetStrings(text);
    EXPECT_EQ(SectionsOf(ini), (TSections{{"a", {"a1"}}, {"b", {"b1", "b2"}}}));
    // Stray lines before the first header do not decide the style.
    text.SetText("junk\n [not a header]\n[A]\nx=1\n<not>\n");
    ini.SetStrings(text);
    EXPECT_EQ(SectionsOf(ini), (TSections{{"A", {"x=1", "<not>"}}}));
    text.SetText("\x01 junk\n<A>\nx=1\n[not]\n");
    ini.SetStrings(text);
    EXPECT_EQ(SectionsOf(ini), (TSections{{"A", {"x=1", "[not]"}}}));
    // A blank-only text is an empty store.
    text.SetText("\n  \n\t\n");
    ini.SetStrings(text);
    EXPECT_EQ(ini.SectionCount(), 0);
}

TEST(QNMemIniFile, SiblingSectionNamesRoundTrip) {
    TTempDir dir;
    const std::vector<std::string> names = {"c:\\dir\\\"FileInfo", "Results", "Results\"Stats",
                                            "ftp://user@host:21/dir/", "a<b>", "[x]", ""};
    TFMWMemIniFile ini;
    for (const auto& n : names) ini.WriteString(n, "v", n);
    ini.SaveAs(dir / "s.fmw");
    TFMWMemIniFile back(dir / "s.fmw");
    ASSERT_EQ(back.SectionCount(), static_cast<int>(names.size()));
    for (const auto& n : names) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(back.SectionExists(n));
        EXPECT_EQ(back.ReadString(n, "v", "?"), n);
    }
}

// --- values -------------------------------------------------------------------------

TEST(QNMemIniFile, NamesAndValues) {
    TQNMemIniFile ini;
    TQNStringList& s = ini.GetSection("s");
    s.SetText("k=a=b\nnoequals\nK2=1\n=empty name\n");
    struct TCase {
        const char* Section;
        const char* Name;
        const char* Expected;
    } cases[] = {
        {"s", "k", "a=b"},       {"S", "K", "a=b"},  {"s", "k2", "1"},
        {"s", "noequals", "?"},  {"s", "", "empty name"}, {"missing", "k", "?"},
        {"s", "a", "?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Section) + "/" + c.Name);
        EXPECT_EQ(ini.ReadString(c.Section, c.Name, "?"), c.Expected);
    }

    ini.WriteString("S", "K", "new");  // replaces the first line of that name in place
    ini.WriteString("s", "added", "");
    EXPECT_EQ(s.ToVector(), (std::vector<std::string>{"K=new", "noequals", "K2=1",
                                                      "=empty name", "added="}));
    ini.DeleteKey("s", "K2");
    ini.DeleteKey("s", "noequals");  // a line without "=" has no name
    TQNStringList names;
    ini.ReadSection("s", names);
    EXPECT_EQ(names.ToVector(), (std::vector<std::string>{"K", "", "", "added"}));
    ini.ReadSectionValues("s", names);
    EXPECT_EQ(names, s);
    ini.WriteString("new section", "x", "1");
    ini.ReadSections(names);
    EXPECT_EQ(names.ToVector(), (std::vector<std::string>{"s", "new section"}));
    ini.EraseSection("S");
    ini.EraseSection("absent");
    EXPECT_FALSE(ini.SectionExists("s"));

    // A name with "=" could never be read back; a line that would read as a header
    // would split the section on the next load.
    EXPECT_THROW(ini.WriteString("s", "a=b", "c"), EIniFileError);
    EXPECT_THROW(ini.WriteString("s", "[x", "y]"), EIniFileError);
    EXPECT_NO_THROW(ini.WriteString("s", "<x", "y>"));
    TFMWMemIniFile fmw;
    EXPECT_THROW(fmw.WriteString("s", "<x", "y>"), EIniFileError);
}

TEST(QNMemIniFile, LineBreaksInValuesCannotInjectLines) {
    struct TCase {
        std::string Value, Stored, ReadBack;
    } cases[] = {
        {"a\r\nb", "a\x05" "b", "a\r\nb"},
        {"a\rb\nc", "a\x05" "b\x05" "c", "a\r\nb\r\nc"},
        {"x\r\n[Evil]\r\ny=1\n", "x\x05[Evil]\x05y=1\x05", "x\r\n[Evil]\r\ny=1\r\n"},
        {"\n\n", "\x05\x05", "\r\n\r\n"},
        {"no break", "no break", "no break"},
    };
    TTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Stored);
        TQNMemIniFile ini(dir / "v.ini");
        ini.WriteString("S", "v", c.Value);
        EXPECT_EQ(ini.GetSection("S").ToVector(), (std::vector<std::string>{"v=" + c.Stored}));
        EXPECT_EQ(ini.ReadString("S", "v", ""), c.ReadBack);
        ini.UpdateFile();
        TQNMemIniFile back(dir / "v.ini");
        EXPECT_EQ(SectionsOf(back), (TSections{{"S", {"v=" + c.Stored}}}));
        EXPECT_EQ(back.ReadString("S", "v", ""), c.ReadBack);
    }

    // Lines put into a live list and section names keep the file's structure too.
    TQNMemIniFile ini;
    ini.GetSection("a\nb").Add("line\r\n[Evil]");
    EXPECT_EQ(ini.Text(), "[a\x05" "b]\r\nline\x05[Evil]\r\n\r\n");
}

TEST(QNMemIniFile, ReadInteger) {
    struct TCase {
        const char* Value;
        int Expected;
    } cases[] = {
        {"0x1F", 31},        {"$1F", 31},          {"0X1f", 31},          {"0x", -5},
        {"$", -5},           {"12", 12},           {"-7", -7},            {"+7", 7},
        {" 5", 5},           {"5 ", -5},           {"abc", -5},           {"", -5},
        {"1.5", -5},         {"2147483647", 2147483647},                  {"2147483648", -5},
        {"-2147483648", -2147483647 - 1},          {"$FFFFFFFF", -1},     {"0x100000000", -5},
        {"$FFFFFFFFFFFFFFFF", -5},                 {"-$10", -16},
    };
    TMemIniFile ini;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        ini.WriteString("S", "i", c.Value);
        EXPECT_EQ(ini.ReadInteger("S", "i", -5), c.Expected);
    }
    EXPECT_EQ(ini.ReadInteger("S", "missing", 9), 9);
    ini.WriteInteger("S", "i", -42);
    EXPECT_EQ(ini.ReadString("S", "i", ""), "-42");

    struct TBoolCase {
        const char* Value;
        bool Def, Expected;
    } bools[] = {{"1", false, true}, {"0", true, false}, {"7", false, true},
                 {"yes", true, true}, {"yes", false, false}, {"", true, true}};
    for (const auto& c : bools) {
        SCOPED_TRACE(c.Value);
        ini.WriteString("S", "b", c.Value);
        EXPECT_EQ(ini.ReadBool("S", "b", c.Def), c.Expected);
    }
    ini.WriteBool("S", "b", true);
    EXPECT_EQ(ini.ReadString("S", "b", ""), "1");
}

TEST(QNMemIniFile, DatesAndNumbersUseTheSuiteFormats) {
    TMemIniFile ini;
    TDateTime when = EncodeDateTime(2024, 3, 7, 14, 5, 9, 0);
    ini.WriteDate("S", "d", when);
    ini.WriteDateTime("S", "dt", when);
    ini.WriteTime("S", "t", when);
    ini.WriteFloat("S", "f", 1.5);
    EXPECT_EQ(ini.ReadString("S", "d", ""), "03/07/2024");
    EXPECT_EQ(ini.ReadString("S", "f", ""), "1.5");
    EXPECT_DOUBLE_EQ(ini.ReadDate("S", "d", 0), EncodeDate(2024, 3, 7));
    EXPECT_NEAR(ini.ReadDateTime("S", "dt", 0), when, 1e-8);
    EXPECT_NEAR(ini.ReadTime("S", "t", 0), EncodeTime(14, 5, 9, 0), 1e-8);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "f", 0), 1.5);

    ini.WriteString("S", "bad", "13/45/2024x");
    EXPECT_EQ(ini.ReadDate("S", "bad", 7), 7);
    EXPECT_EQ(ini.ReadDateTime("S", "bad", 7), 7);
    EXPECT_EQ(ini.ReadTime("S", "bad", 7), 7);
    EXPECT_EQ(ini.ReadFloat("S", "bad", 7), 7);
    EXPECT_EQ(ini.ReadDate("S", "missing", 3), 3);
}

TEST(QNMemIniFile, HexNeverWritesPastTheBuffer) {
    struct TCase {
        const char* Value;
        size_t Size, Capacity;
        std::vector<uint8_t> Expected;
    } cases[] = {
        {"0102030405", 0, 2, {1, 2}},       // half the length, capped at the buffer
        {"0102030405", 0, 8, {1, 2, 3, 4, 5}},
        {"0102030405", 3, 8, {1, 2, 3}},
        {"0102030405", 9, 4, {1, 2, 3, 4}},  // a size beyond the buffer is capped
        {"zz01", 0, 8, {0, 1}},              // a pair that is not hexadecimal gives 0
        {"ABC", 0, 8, {0xAB}},
        {"01", 4, 8, {1, 0, 0, 0}},          // missing pairs give 0
        {"", 0, 8, {}},
    };
    TFMWMemIniFile ini;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        ini.WriteString("S", "h", c.Value);
        std::vector<uint8_t> mem(c.Capacity + 16, 0xEE);
        size_t n = ini.ReadHex("S", "h", std::span(mem.data(), c.Capacity), c.Size, "");
        ASSERT_EQ(n, c.Expected.size());
        EXPECT_EQ(std::vector<uint8_t>(mem.begin(), mem.begin() + static_cast<long>(n)),
                  c.Expected);
        for (size_t i = n; i < mem.size(); ++i) ASSERT_EQ(mem[i], 0xEE) << "byte " << i;
    }
    const uint8_t bytes[] = {0x00, 0xFF, 0x10, 0xA5};
    ini.WriteHex("S", "w", bytes);
    EXPECT_EQ(ini.ReadString("S", "w", ""), "00FF10A5");
    uint8_t def[2] = {};
    EXPECT_EQ(ini.ReadHex("S", "missing", def, 0, "7F80"), 2u);
    EXPECT_EQ(def[0], 0x7F);
    EXPECT_EQ(def[1], 0x80);
}

// --- sections -----------------------------------------------------------------------

TEST(QNMemIniFile, GetSectionHandsOutTheLiveList) {
    TTempDir dir;
    TQNMemIniFile ini(dir / "live.ini");
    TQNStringList& a = ini.GetSection("Alpha");
    EXPECT_EQ(&ini.GetSection("ALPHA"), &a);
    for (int i = 0; i < 100; ++i) ini.GetSection("other" + std::to_string(i));
    a.Add("x=1");  // still the store's list after the index grew
    EXPECT_EQ(ini.ReadString("alpha", "X", ""), "1");
    ini.GetSection("Created empty");
    ini.UpdateFile();
    std::string text = ReadFileBytes(dir / "live.ini");
    EXPECT_NE(text.find("\r\n[Created empty]\r\n\r\n"), std::string::npos);
    TQNMemIniFile back(dir / "live.ini");
    EXPECT_TRUE(back.SectionExists("created EMPTY"));
    EXPECT_EQ(back.GetSection("Created empty").Count(), 0);
}

TEST(QNMemIniFile, RenameSectionAndAddSection) {
    TFMWMemIniFile ini;
    TQNStringList& c = ini.GetSection("c");
    c.Add("line");
    ini.GetSection("a");
    EXPECT_TRUE(ini.RenameSection("C", "0first"));
    EXPECT_EQ(ini.SectionName(0), "0first");
    EXPECT_EQ(&ini.SectionByIndex(0), &c);  // the same live list
    EXPECT_TRUE(ini.RenameSection("0first", "0FIRST"));  // a change of case only
    EXPECT_FALSE(ini.RenameSection("missing", "x"));
    EXPECT_FALSE(ini.RenameSection("a", "0first"));  // would hide a section
    EXPECT_EQ(ini.SectionCount(), 2);
    EXPECT_THROW(ini.SectionByIndex(2), EIniFileError);
    // A sorted index never takes a second section of a name.
    EXPECT_EQ(&ini.AddSection("A"), &ini.GetSection("a"));

    TMemIniFile plain;
    TQNStringList& first = plain.AddSection("dup");
    plain.AddSection("DUP").Add("k=2");
    first.Add("k=1");
    EXPECT_EQ(plain.SectionCount(), 2);
    EXPECT_EQ(plain.ReadString("dup", "k", ""), "1");
}

TEST(QNMemIniFile, MergeFromKeepsSortedUniqueLines) {
    TFMWMemIniFile here;
    here.GetSection("S").SetText("c\na\n");
    TQNMemIniFile other;
    other.GetSection("s").SetText("B\na\nd\nA\n");
    other.GetSection("New").SetText("z\ny\n");
    here.MergeFrom(other);
    const TQNStringList& s = here.GetSection("S");
    EXPECT_EQ(s.ToVector(), (std::vector<std::string>{"a", "B", "c", "d"}));
    EXPECT_FALSE(s.Sorted());
    EXPECT_EQ(here.GetSection("new").ToVector(), (std::vector<std::string>{"y", "z"}));
    here.MergeFrom(here);
    EXPECT_EQ(s.ToVector(), (std::vector<std::string>{"a", "B", "c", "d"}));
}

TEST(QNMemIniFile, GetStringsAndRename) {
    TTempDir dir;
    WriteBytes(dir / "one.fmw", "<A>\r\nx=1\r\n\r\n");
    WriteBytes(dir / "two.fmw", "<B>\r\ny=2\r\n\r\n");
    TFMWMemIniFile ini(dir / "one.fmw");
    TQNStringList lines{"old"};
    ini.GetStrings(lines);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"old", "<A>", "x=1", ""}));
    ini.GetStrings(lines, true);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"<A>", "x=1", ""}));

    ini.GetSection("A").Add("unsaved");
    ini.Rename(dir / "one.fmw");  // the same name: no reload
    EXPECT_EQ(ini.GetSection("A").Count(), 2);
    ini.Rename(dir / "two.fmw");
    EXPECT_EQ(SectionsOf(ini), (TSections{{"B", {"y=2"}}}));
    ini.Rename(dir / "absent.fmw");
    EXPECT_EQ(ini.SectionCount(), 0);
    EXPECT_EQ(ini.FileName(), dir / "absent.fmw");
}

// --- saving ---------------------------------------------------------------------------

TEST(QNMemIniFile, FailingSaveLeavesOldFileAndStore) {
    TTempDir dir;
    std::string path = dir / "s.ini";
    std::string old = "[Keep]\r\nold=1\r\n\r\n";
    WriteBytes(path, old);
    TFMWMemIniFile ini(path);
    ini.GetSection("Big").Add(std::string(200000, 'b'));
    std::string content = ini.Text();

    {
        // The write stops half-way through the temporary file.
        TFileSizeLimit limit(4096);
        EXPECT_THROW(ini.UpdateFile(), EFileError);
        EXPECT_THROW(ini.SaveAs(dir / "other.fmw"), EFileError);
    }
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"s.ini"}));  // no leftovers
    EXPECT_EQ(ini.Text(), content);
    EXPECT_EQ(ini.FileName(), path);

    EXPECT_THROW(ini.SaveAs(dir / "missing/folder.fmw"), EFileError);
    EXPECT_EQ(ini.FileName(), path);
    fs::create_directory(dir / "adir");
    EXPECT_THROW(ini.SaveAs(dir / "adir"), EFileError);  // a folder is in the way
    EXPECT_THROW(TMemIniFile().UpdateFile(), EIniFileError);

    ini.UpdateFile();
    EXPECT_EQ(ReadFileBytes(path), content);
}

TEST(QNMemIniFile, MissingFileIsEmptyUnreadableFileRaises) {
    TTempDir dir;
    EXPECT_EQ(TMemIniFile(dir / "absent.ini").SectionCount(), 0);
    EXPECT_EQ(TMemIniFile(dir / "absent/deeper.ini").SectionCount(), 0);
    EXPECT_THROW(TFMWMemIniFile(dir.Path()), EFileError);  // a folder, not a file
    TQNMemIniFile ini(dir / "absent.ini");
    EXPECT_THROW(ini.Rename(dir.Path()), EFileError);
    EXPECT_EQ(ini.FileName(), dir / "absent.ini");
}

}  // namespace
