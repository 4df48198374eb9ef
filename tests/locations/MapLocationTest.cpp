// Destination mapping: relative paths, every tag, counter formats and the guards that
// keep a mapped location inside the destination root.
#include "LocationTestSupport.h"

#include "common/ifutils.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

using loctest::FixtureUnix;

struct TMapFixture : ::testing::Test {
    qntest::TTempDir Dir{"qnmap"};
    TSimpleLocationOwner Owner;
    std::string Src = Dir.Path() + "/src/";
    std::string Dst = Dir.Path() + "/dst/";

    std::string Map(const std::string& entry, const std::string& destRoot, bool nameOnly = false,
                    bool afterRoot = false, uint32_t time = 0) {
        TFileInfoRec info;
        info.Time = time;
        info.Attributes = faArchive;
        auto e = CreateParts(&Owner, entry, info.ToHex());
        auto s = CreateParts(&Owner, Src);
        auto d = CreateParts(&Owner, destRoot);
        return e->MapLocation(*s, *d, nameOnly, afterRoot);
    }
};

TEST_F(TMapFixture, RelativePathsUnderTheDestinationRoot) {
    EXPECT_EQ(Map(Src + "a/b/f.txt", Dst), Dst + "a/b/f.txt");
    EXPECT_EQ(Map(Src + "f.txt", Dst), Dst + "f.txt");
    EXPECT_EQ(Map(Src + "a/b/f.txt", Dst, true), Dst + "f.txt");
    EXPECT_EQ(Map(Src + "a/b/f.txt", Dst, false, true),
              Dst + ExtractPathAfterRoot(Src + "a/b/f.txt"));
    // A destination root that names a file gives its name to the entry.
    EXPECT_EQ(Map(Src + "a/f.txt", Dst + "renamed.txt"), Dst + "a/renamed.txt");
    // The virtual path sits between the folder and the name.
    EXPECT_EQ(Map(Src + "a/<vpc:v/>f.txt", Dst), Dst + "a/v/f.txt");
    // Mapping from the file system's root.
    auto e = CreateParts(&Owner, "/etc/hosts");
    auto s = CreateParts(&Owner, "/");
    auto d = CreateParts(&Owner, Dst);
    EXPECT_EQ(e->MapLocation(*s, *d, false, false), Dst + "etc/hosts");
}

TEST_F(TMapFixture, EveryTagUnderAPinnedZone) {
    loctest::TPinnedZone zone("XYZ-2");
    Owner.SetFixedTime(EncodeDateTime(2024, 12, 31, 23, 58, 59, 0));
    const uint32_t t = DosDateTimeFromUnix(FixtureUnix);  // 05:06:08 UTC, 07:06:08 local
    struct TCase {
        const char* DestRoot;  // relative to the temp folder's dst/
        const char* Entry;     // relative to src/
        uint32_t Time;
        const char* Expected;  // relative to dst/
    } cases[] = {
        {"<dtn:yyyy-mm-dd hh.nn>/", "a/f.txt", t, "2024-12-31 23.58/a/f.txt"},
        {"<dtf:yyyymmdd_hhnnss>/", "f.txt", t, "20110304_070608/f.txt"},
        {"<dtf:yyyy>/<dtf:mm>/", "f.txt", t, "2011/03/f.txt"},
        {"<dtf:yyyy>/", "f.txt", 0, "<dtf:yyyy>/f.txt"},  // no date: the tag stays
        {"copy of <file:>", "a/report.txt", t, "a/copy of report.txt"},
        {"<filebase:> old<ext:ignored>", "a/report.txt", t, "a/report old.txt"},
        {"<filebase:>-<dtf:yymmdd><ext:>", "report.txt", t, "report-110304.txt"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.DestRoot);
        EXPECT_EQ(Map(Src + c.Entry, Dst + c.DestRoot, false, false, c.Time),
                  Dst + c.Expected);
    }
}

TEST_F(TMapFixture, CounterTagTakesTheFirstFreeNumber) {
    ForceDirectories(Dst);
    qntest::WriteFile(Dst + "name001", "1");
    qntest::WriteFile(Dst + "name002", "2");
    EXPECT_EQ(Map(Src + "f.txt", Dst + "name<#.3d>"), Dst + "name003");
    EXPECT_EQ(Map(Src + "f.txt", Dst + "n<#d>"), Dst + "n1");
    // A folder counter: the first run folder that does not hold the entry yet.
    ForceDirectories(Dst + "run1/a");
    qntest::WriteFile(Dst + "run1/a/f.txt", "x");
    EXPECT_EQ(Map(Src + "a/f.txt", Dst + "run<#d>/"), Dst + "run2/a/f.txt");
    EXPECT_EQ(Map(Src + "a/g.txt", Dst + "run<#d>/"), Dst + "run1/a/g.txt");
}

TEST(CounterFormat, AcceptedFormatsMatchTheClassicFormatter) {
    const char* formats[] = {"d",  "i",   "u",   "3d",   ".3d",   "-5d",  "05d", "+d",
                             " d", "x",   "#x",  "X",    "#X",    "o",    "#o",  "08.3d",
                             "-08d", "+05d", "- 4d", "#010x", ".0d", "2.5x", "99d"};
    for (const char* f : formats)
        for (int v : {1, 7, 42, 255}) {
            std::string fmt = std::string("%") + f;
            char buf[128];
            std::snprintf(buf, sizeof buf, fmt.c_str(), v);
            auto ours = FormatCounter(f, v);
            ASSERT_TRUE(ours) << f;
            EXPECT_EQ(*ours, buf) << f << " " << v;
        }
}

TEST(CounterFormat, EverythingElseIsRefused) {
    for (const char* f : {"", "s", "n", "%d", "ld", "lld", "hhd", "*d", ".*d", "1$d", "d ",
                          "3", "100d", ".100d", "#d", "#u", "dd", "5.3.2d", "c", "p", "f",
                          "e", "x%n", "------d"})
        EXPECT_FALSE(FormatCounter(f, 1)) << f;
}

TEST_F(TMapFixture, RefusedCounterTagIsAClearError) {
    for (const char* tag : {"<#s>", "<#n>", "<#%n>", "<#100d>", "<#ld>"}) {
        try {
            Map(Src + "f.txt", Dst + "name" + tag);
            ADD_FAILURE() << tag << " was accepted";
        } catch (const ELocationError& e) {
            EXPECT_NE(std::string(e.what()).find("is refused"), std::string::npos) << e.what();
        }
    }
}

TEST_F(TMapFixture, NothingMapsOutsideTheDestinationRoot) {
    // A virtual path climbing out, one that starts at the root, an entry outside the
    // source root, a file name that is a parent reference.
    EXPECT_THROW(Map(Src + "<vpc:../../etc/>passwd", Dst), ELocationError);
    EXPECT_THROW(Map(Src + "a/<vpc:../../../x/>f.txt", Dst), ELocationError);
    EXPECT_THROW(Map(Src + "<vpc:/etc/>passwd", Dst), ELocationError);
    EXPECT_THROW(Map(Dir.Path() + "/other/f.txt", Dst), ELocationError);
    EXPECT_THROW(Map(Src + "a/..", Dst), ELocationError);
    EXPECT_THROW(Map(Src + "a/..", Dst, true), ELocationError);
    try {
        Map(Src + "<vpc:../>f.txt", Dst);
    } catch (const ELocationError& e) {
        EXPECT_NE(std::string(e.what()).find("would leave the destination folder"),
                  std::string::npos);
    }
    // A name that merely contains dots is fine.
    EXPECT_EQ(Map(Src + "a/..b", Dst), Dst + "a/..b");
}

TEST_F(TMapFixture, NamesFromTheSourceNeverActAsTags) {
    EXPECT_EQ(Map(Src + "x<file:>y<#d>", Dst), Dst + "x<file:>y<#d>");
    EXPECT_EQ(Map(Src + "<dtn:yyyy>/f.txt", Dst), Dst + "<dtn:yyyy>/f.txt");
}

}  // namespace
