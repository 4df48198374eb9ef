// The short way of mapping entries of a plain folder profile: wherever it answers, it
// answers exactly what the location model's MapLocation gives, and it leaves every
// mapping with tags, name options or unusual names to the location model.
#include "LocationTestSupport.h"

#include "locations/PlainFolderMap.h"

#include <gtest/gtest.h>

namespace {

struct TPlainMapFixture : ::testing::Test {
    qntest::TTempDir Dir{"qnplain"};
    TSimpleLocationOwner Owner;

    // What the location model makes of Entry, or "refused".
    std::string General(const std::string& entry, bool folder, const std::string& sourceRoot,
                        const std::string& destRoot, bool nameOnly, bool afterRoot) {
        TFileInfoRec info;
        info.Time = 0x5A210000;
        info.Size = 12;
        info.Attributes = folder ? faDirectory : faArchive;
        try {
            auto e = CreateParts(&Owner, entry, info.ToHex());
            auto s = CreateParts(&Owner, sourceRoot);
            auto d = CreateParts(&Owner, destRoot);
            return e->MapLocation(*s, *d, nameOnly, afterRoot);
        } catch (const std::exception&) {
            return "refused";
        }
    }
};

TEST_F(TPlainMapFixture, AnswersExactlyAsTheLocationModel) {
    const std::string d = Dir.Path();
    const std::string sourceRoots[] = {d + "/src/", d + "/src", d + "//src/./", "/"};
    struct TDest {
        std::string Root;
        bool Plain;  // the short way may take it
    } dests[] = {
        {d + "/dst/", true},
        {d + "/my dst.d/", true},
        {d + "//dst/./x/", true},
        {d + "/dst", false},                   // names a file
        {d + "/dst/*.txt", false},             // a mask
        {d + "/<dtn:yyyy>/", false},           // a date tag
        {d + "/dst/<ext:>/", false},           // an entry tag
        {d + "/dst/<#03d>/", false},           // a counter
        {d + "/dst/<vpc:v/>", false},          // a virtual path
    };
    const char* names[] = {
        "f.txt", "a/b/f.txt", "a b/c d.tar.gz", "noext", ".hidden", "x.", "Mr./x", "a/",
        "UPPER/Case.TXT", "deep/1/2/3/4/5/f", "a/./f", "a//f", "a/../f", "..", "./f",
        "a/<vpc:v/>f.txt", "a/<file:x>", "a\\b", "a/.", "",
    };
    int shortWay = 0;
    for (const std::string& sourceRoot : sourceRoots)
        for (const TDest& dest : dests)
            for (int opt = 0; opt < 3; ++opt) {
                const bool nameOnly = opt == 1, afterRoot = opt == 2;
                auto s = CreateParts(&Owner, sourceRoot);
                auto t = CreateParts(&Owner, dest.Root);
                TPlainFolderMap map;
                const bool ready = map.Setup(*s, *t, nameOnly, afterRoot);
                EXPECT_EQ(ready, dest.Plain && opt == 0) << sourceRoot << " -> " << dest.Root;
                std::vector<std::string> entries;
                for (const char* n : names) entries.push_back(d + "/src/" + n);
                entries.push_back(d + "/other/f.txt");  // not below the source root
                entries.push_back(d + "/src");           // the root itself
                entries.push_back("/etc/hosts");
                for (const std::string& entry : entries)
                    for (bool folder : {false, true}) {
                        std::string got;
                        if (!map.Map(entry, folder, got)) continue;
                        ++shortWay;
                        EXPECT_EQ(got, General(entry, folder, sourceRoot, dest.Root, nameOnly,
                                               afterRoot))
                            << entry << (folder ? " (folder)" : "") << " from " << sourceRoot
                            << " to " << dest.Root;
                    }
            }
    EXPECT_GT(shortWay, 100);
}

TEST_F(TPlainMapFixture, LeavesUnusualNamesToTheLocationModel) {
    const std::string d = Dir.Path();
    auto s = CreateParts(&Owner, d + "/src/");
    auto t = CreateParts(&Owner, d + "/dst/");
    TPlainFolderMap map;
    ASSERT_TRUE(map.Setup(*s, *t, false, false));
    std::string got;
    for (const char* n : {"a//f", "a/./f", "a/../f", "..", "a/<vpc:v/>f", "/f"})
        EXPECT_FALSE(map.Map(d + "/src/" + n, false, got)) << n;
    EXPECT_FALSE(map.Map(d + "/src/", false, got));
    EXPECT_FALSE(map.Map(d + "/srcx/f", false, got));
    ASSERT_TRUE(map.Map(d + "/src/a b/c", true, got));
    EXPECT_EQ(got, d + "/dst/a b/c/");
}

}  // namespace
