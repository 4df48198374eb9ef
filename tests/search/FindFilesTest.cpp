// The search engine on real folder trees. Every behaviour test runs twice: with folder
// listings kept in the store (the default) and with the lean walk of the command line,
// which must give the same results.
#include "SearchTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using searchtest::Exists;
using searchtest::Write;

struct TSearch : ::testing::TestWithParam<bool> {
    qntest::TTempDir Dir{"qnsearch"};
    std::string D = Dir.Path() + "/";
    searchtest::TTestMemo Memo;
    TFindFiles Engine{nullptr, &Memo, nullptr, nullptr};
    TQNMemIniFile* Store = nullptr;  // where the last search wrote
    searchtest::TContinueGuard Guard;

    void SetUp() override { Engine.CacheListings = GetParam(); }

    // The results relative to the test folder.
    std::vector<std::string> Find(const std::string& masks, const std::string& folders,
                                  uint8_t flags = 0, const std::string& text = {},
                                  const std::string& name = {}, TQNMemIniFile* store = nullptr,
                                  const TFindFileAdvancedSearch* filter = nullptr,
                                  TFindEntryEvent onEntry = {}) {
        Store = store ? store : &Engine.ResultStore;
        const TQNStringList& found = Engine.FindFiles(masks, folders, false, filter, "Results",
                                                      text, name, store, flags, onEntry);
        std::vector<std::string> out;
        for (const std::string& l : found.ToVector())
            out.push_back(l.compare(0, D.size(), D) == 0 ? l.substr(D.size()) : l);
        return out;
    }
    std::string Stat(const char* name) { return Store->GetSection("Results\"Stats").Values(name); }
    bool Incomplete() { return SearchIncomplete(Store->GetSection("Results\"Stats")); }
    TQNStringList& Section(const char* suffix) {
        return Store->GetSection(std::string("Results") + suffix);
    }
};

INSTANTIATE_TEST_SUITE_P(Listings, TSearch, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Cached" : "Walked"; });

using V = std::vector<std::string>;

TEST_P(TSearch, MasksAndFolderCombinations) {
    for (const char* f : {"a/x.txt", "a/y.log", "a/z.dat", "a/NoDot", "b/p.txt", "b/q.log",
                          "a/f[1].txt", "a/f1.txt"})
        Write(D + f, "1");
    const std::string ab = D + "a||" + D + "b";
    EXPECT_EQ(Find("*.txt|*.log", ab), (V{"a/f1.txt", "a/f[1].txt", "a/x.txt", "a/y.log", "b/p.txt", "b/q.log"}));
    EXPECT_EQ(Find("*.txt||*.log", ab), (V{"a/f1.txt", "a/f[1].txt", "a/x.txt", "b/q.log"}));
    // The locations themselves in the masks.
    EXPECT_EQ(Find(D + "a/x*||" + D + "b/*.log", ""), (V{"a/x.txt", "b/q.log"}));
    // "*.*" is "*": names without a dot too.
    EXPECT_EQ(Find("*.*", D + "a"), (V{"a/f1.txt", "a/f[1].txt", "a/NoDot", "a/x.txt", "a/y.log", "a/z.dat"}));
    // A plain name without recursion: that entry or none.
    EXPECT_EQ(Find("x.txt", D + "a"), V{"a/x.txt"});
    EXPECT_EQ(Find("none.txt", D + "a"), V{});
    // A mask matches a name equal to it, so "[" in a name can be looked up directly.
    EXPECT_EQ(Find("f[1].txt", D + "a"), V{"a/f[1].txt"});
    EXPECT_EQ(Find("f[1].txt|zz", D + "a"), (V{"a/f1.txt", "a/f[1].txt"}));
    // A malformed mask is reported once and matches nothing but its own name.
    EXPECT_EQ(Find("a[b", D + "a"), V{});
    EXPECT_EQ(Memo.Count("has an invalid mask (*,?,[])"), 1);
    EXPECT_FALSE(Incomplete());
}

TEST_P(TSearch, RecursionFoldersAndStatistics) {
    Write(D + "r/top.txt", "abc");
    Write(D + "r/s1/a.txt", "12345");
    Write(D + "r/s2/b.txt", "1234567");
    Write(D + "r/s2/c.log", "12345678901");
    // The root once (its own entry), both sub-folders once (their entries), every file.
    EXPECT_EQ(Find("*", D + "r", fsRecurse | fsFolders),
              (V{"r/", "r/s1/", "r/s1/a.txt", "r/s2/", "r/s2/b.txt", "r/s2/c.log", "r/top.txt"}));
    EXPECT_EQ(Stat("FolderCount"), "2");
    EXPECT_EQ(Stat("FileSizeTotal"), "26");
    EXPECT_EQ(Stat("FileCount"), "4");
    EXPECT_EQ(Section("\"FileInfo").Count(), 7);
    EXPECT_TRUE(TFileInfoRec::FromHex(Section("\"FileInfo")[0])->IsFolder());
    EXPECT_EQ(TFileInfoRec::FromHex(Section("\"FileInfo")[2])->Size, 5);
    // Without masks: every folder once and no file.
    EXPECT_EQ(Find("", D + "r", fsRecurse), (V{"r/", "r/s1/", "r/s2/"}));
    EXPECT_EQ(Find("*.txt", D + "r", fsRecurse), (V{"r/s1/a.txt", "r/s2/b.txt", "r/top.txt"}));
    EXPECT_EQ(Stat("FolderCount"), "2");
    EXPECT_EQ(Stat("FileSizeTotal"), "15");
    EXPECT_EQ(Stat("FileCount"), "3");
    // One level with folders: the listing's folder count.
    EXPECT_EQ(Find("*", D + "r", fsFolders), (V{"r/", "r/s1/", "r/s2/", "r/top.txt"}));
    EXPECT_EQ(Stat("FolderCount"), "2");
    // Only the folders that hold found files, after the files.
    EXPECT_EQ(Find("*.log", D + "r", fsRecurse | fsFoldersWithFiles), (V{"r/s2/c.log", "r/", "r/s2/"}));
    EXPECT_EQ(Stat("FolderCount"), "2");
    // Masks on the whole location.
    EXPECT_EQ(Find("*s2*", D + "r", fsRecurse | fsMaskFullLocation), (V{"r/s2/b.txt", "r/s2/c.log"}));
    // The root folder is a folder like any other (not the "//" of a share).
    EXPECT_EQ(Engine.CombineFoldersAndMasks("/", "*"), "/*");
    V top = Find("*", "/", fsFolders);
    ASSERT_FALSE(top.empty());
    EXPECT_EQ(top[0], "/");
    // A folder that does not exist holds nothing; the search is still complete.
    EXPECT_EQ(Find("*", D + "none", fsRecurse), V{});
    EXPECT_FALSE(Incomplete());
}

TEST_P(TSearch, NameAndTextPatterns) {
    Write(D + "t/arch.zip", "");
    Write(D + "t/Other.ZIP.txt", "");
    Write(D + "t/plain.txt", "Alpha\nBeta\n");
    Write(D + "t/up.txt", "ALPHA");
    Write(D + "t/bin.dat", std::string("a\0b", 3));
    const std::string t = D + "t";
    EXPECT_EQ(Find("*", t, 0, "", "\\.zip"), (V{"t/bin.dat", "t/plain.txt", "t/up.txt"}));
    EXPECT_EQ(Find("*", t, fsNameMustMatch, "", "\\.zip"), (V{"t/arch.zip", "t/Other.ZIP.txt"}));
    // Text patterns ignore case; "." also matches line breaks.
    EXPECT_EQ(Find("*", t, fsTextMustMatch, "alpha"), (V{"t/plain.txt", "t/up.txt"}));
    EXPECT_EQ(Find("*", t, 0, "alpha"), (V{"t/arch.zip", "t/bin.dat", "t/Other.ZIP.txt"}));
    EXPECT_EQ(Find("*", t, fsTextMustMatch, "alpha.beta"), V{"t/plain.txt"});
    EXPECT_EQ(Find("*", t, fsTextMustMatch, "(?-s)alpha.beta"), V{});
    // A zero byte is searched as the byte 1.
    EXPECT_EQ(Find("*", t, fsTextMustMatch, "a\\x01b"), V{"t/bin.dat"});
    EXPECT_EQ(Find("*", t, fsTextMustMatch, "a\\x00b"), V{});
    EXPECT_FALSE(Incomplete());
    // A pattern that does not compile changes nothing.
    EXPECT_THROW(Find("*", t, fsTextMustMatch, "("), ERegExpr);
    EXPECT_THROW(Find("*", t, fsNameMustMatch, "", "[a"), ERegExpr);
    EXPECT_EQ(Engine.ResultStore.GetSection("Results").Count(), 0);
}

TEST_P(TSearch, LargeFilesAreSearchedInWindowsThatOverlap) {
    // Around the window edges of a 9 MiB file: a match just before, across and just after
    // the end of a window is found; "$", "\z" and "\b" at a window's end are not taken
    // for the end of the file; "^" and "\A" hold only at its start.
    const size_t w = TFindFiles::TextWindowSize, o = TFindFiles::TextOverlap;
    const size_t size = 9 * 1024 * 1024;
    struct TCase {
        const char* Pattern;
        std::vector<std::pair<size_t, std::string>> Put;
        bool Found;
    } cases[] = {
        {"needle", {{w - 3, "needle"}}, true},
        {"needle", {{w - 6, "needle"}}, true},
        {"needle", {{w, "needle"}}, true},
        {"needle", {{2 * w - 4096 - 3, "needle"}}, true},  // across the second window's end
        {"needle", {{size - 6, "needle"}}, true},
        {"needle$", {{w - 6, "needle"}}, false},
        {"needle\\z", {{w - 6, "needle"}}, false},
        {"needle\\b", {{w - 6, "needles"}}, false},
        {"needle$", {{size - 6, "needle"}}, true},
        {"needle\\z", {{size - 6, "needle"}}, true},
        {"^needle", {{0, "needle"}}, true},
        {"^needle", {{w, "needle"}}, false},
        {"\\Aneedle", {{w - o, "needle"}}, false},
        {"(?m)^needle", {{w - 1, "\nneedle"}}, true},
        {"(?<=q)needle", {{w - 1, "qneedle"}}, true},
        {"(?<=q)needle", {{w - 1, "rneedle"}}, false},
        // A long match across a window's end: up to the overlap it is found.
        {"begin.*?end", {{w - o / 2, "begin"}, {w + o / 4, "end"}}, true},
        {"needle(?!s)", {{w - 6, "needles"}}, false},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Pattern) + " case " + std::to_string(n));
        std::string data(size, 'x');
        for (auto& [at, text] : c.Put) data.replace(at, text.size(), text);
        const std::string dir = D + "big" + std::to_string(n++);
        Write(dir + "/f.bin", data);
        EXPECT_EQ(Find("*", dir, fsTextMustMatch, c.Pattern).size(), c.Found ? 1u : 0u);
        std::filesystem::remove_all(dir);
    }
    EXPECT_FALSE(Incomplete());
}

TEST_P(TSearch, SpecialFilesAndUnreadableEntries) {
    Write(D + "s/good.txt", "hit");
    Write(D + "s/sub/inner.txt", "hit");
    ASSERT_EQ(::mkfifo((D + "s/fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((D + "s/missing").c_str(), (D + "s/dangling").c_str()), 0);
    ASSERT_EQ(::symlink((D + "s/loop").c_str(), (D + "s/loop").c_str()), 0);
    ASSERT_EQ(::symlink((D + "s/sub").c_str(), (D + "s/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink((D + "s/good.txt").c_str(), (D + "s/filelink").c_str()), 0);

    // By name every entry is found, links and the FIFO as files; nothing is entered
    // through the link to the folder.
    EXPECT_EQ(Find("*", D + "s", fsRecurse),
              (V{"s/dangling", "s/dirlink", "s/fifo", "s/filelink", "s/good.txt", "s/loop",
                 "s/sub/inner.txt"}));
    EXPECT_FALSE(Incomplete());
    // A link to a file is described by its target.
    EXPECT_EQ(TFileInfoRec::FromHex(Section("\"FileInfo")[3])->Size, 3);

    // By content: the FIFO and the link to a folder are no files to read (and never
    // opened, or the search would wait for a writer); the dangling link and the link to
    // itself cannot be read, so the result is marked incomplete.
    EXPECT_EQ(Find("*", D + "s", fsRecurse | fsTextMustMatch, "hit"),
              (V{"s/filelink", "s/good.txt", "s/sub/inner.txt"}));
    EXPECT_TRUE(Incomplete());
    EXPECT_EQ(Stat("UnreadableCount"), "2");
    EXPECT_EQ(Engine.LastUnreadableCount(), 2);
    EXPECT_TRUE(Memo.Has("Cannot read \"" + D + "s/dangling\" for the text search"));
    EXPECT_TRUE(Memo.Has("Cannot read \"" + D + "s/loop\" for the text search"));
    // The other way round the unreadable ones are not reported as "not containing".
    EXPECT_EQ(Find("*", D + "s", fsRecurse, "hit"), V{});
    EXPECT_TRUE(Incomplete());
}

TEST_P(TSearch, EntriesThatChangeDuringTheSearch) {
    // A file removed between the listing and its reading.
    Write(D + "c/a.txt", "hit");
    Write(D + "c/b.txt", "hit");
    auto removeB = [&](const std::string& loc, const TFileInfoRec&) {
        if (loc == D + "c/a.txt") ::unlink((D + "c/b.txt").c_str());
        return 0;
    };
    EXPECT_EQ(Find("*", D + "c", fsTextMustMatch, "hit", "", nullptr, nullptr, removeB), V{"c/a.txt"});
    EXPECT_TRUE(Incomplete());
    EXPECT_EQ(Stat("UnreadableCount"), "1");

    // A folder replaced by a file after its parent was listed.
    Write(D + "w/d1/x.txt", "x");
    Write(D + "w/d2/y.txt", "y");
    auto swap = [&](const std::string& loc, const TFileInfoRec&) {
        if (loc == D + "w/d1/") {
            std::filesystem::remove_all(D + "w/d1");
            Write(D + "w/d1", "now a file");
        }
        return 0;
    };
    EXPECT_EQ(Find("*", D + "w", fsRecurse | fsFolders, "", "", nullptr, nullptr, swap),
              (V{"w/", "w/d1/", "w/d2/", "w/d2/y.txt"}));
    EXPECT_TRUE(Incomplete());
    EXPECT_TRUE(Memo.Has("Cannot list folder \"" + D + "w/d1/\": it is no longer a folder."));
}

TEST_P(TSearch, FoldersThatCannotBeRead) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser reads every folder";
    Write(D + "p/open/a.txt", "a");
    Write(D + "p/shut/b.txt", "b");
    ASSERT_EQ(::chmod((D + "p/shut").c_str(), 0), 0);
    auto found = Find("*", D + "p", fsRecurse);
    ::chmod((D + "p/shut").c_str(), 0700);
    EXPECT_EQ(found, V{"p/open/a.txt"});
    EXPECT_TRUE(Incomplete());
    EXPECT_TRUE(Memo.Has(D + "p/shut/"));
}

TEST_P(TSearch, SymbolicLinkLoopsAreListedNotFollowed) {
    Write(D + "l/a/b/file.txt", "f");
    ASSERT_EQ(::symlink("../..", (D + "l/a/b/up").c_str()), 0);
    ASSERT_EQ(::symlink(".", (D + "l/a/self").c_str()), 0);
    EXPECT_EQ(Find("*", D + "l", fsRecurse), (V{"l/a/b/file.txt", "l/a/b/up", "l/a/self"}));
    EXPECT_FALSE(Incomplete());
    // A root given as a link is searched (it is what the caller named).
    ASSERT_EQ(::symlink((D + "l/a").c_str(), (D + "rootlink").c_str()), 0);
    EXPECT_EQ(Find("*.txt", D + "rootlink", fsRecurse), V{"rootlink/b/file.txt"});
}

TEST_P(TSearch, NamesThatDifferOnlyInCase) {
    Write(D + "x/Docs", "12");
    Write(D + "x/docs", "1");
    Write(D + "y/Docs/1.txt", "1");
    Write(D + "y/docs/2.txt", "2");
    EXPECT_EQ(Find("docs", D + "x"), V{"x/docs"});
    EXPECT_EQ(Find("Docs", D + "x"), V{"x/Docs"});
    EXPECT_EQ(Find("DOCS", D + "x"), (V{"x/Docs", "x/docs"}));  // masks ignore case
    TFileInfoRec info;
    EXPECT_TRUE(Engine.FindOne(D + "x/docs", info));
    EXPECT_EQ(info.Size, 1);
    EXPECT_TRUE(Engine.FindOne(D + "x/Docs", info));
    EXPECT_EQ(info.Size, 2);
    EXPECT_FALSE(Engine.FindOne(D + "x/DOCS", info));
    EXPECT_EQ(info.Size, 0);
    // Two folders of those names each keep their own listing in a store.
    TFMWMemIniFile store;
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(Find("*", D + "y", fsRecurse, "", "", &store), (V{"y/Docs/1.txt", "y/docs/2.txt"}));
    }
}

TEST_P(TSearch, TimesBefore1980AndAfter2038) {
    Write(D + "o/old.txt", "o");
    Write(D + "o/far.txt", "f");
    Write(D + "o/now.txt", "n");
    searchtest::SetMTime(D + "o/old.txt", 15552000);    // 1970-06-29
    searchtest::SetMTime(D + "o/far.txt", 4102444800);  // 2100-01-01
    searchtest::SetMTime(D + "o/now.txt", 1600000000);  // 2020-09-13
    Find("old.txt", D + "o");
    ASSERT_EQ(Section("\"FileInfo").Count(), 1);
    EXPECT_EQ(TFileInfoRec::FromHex(Section("\"FileInfo")[0])->Time, DosTimeEarliest);
    // Times compare as unsigned numbers: 2100 is later than 2020.
    TFindFileAdvancedSearch after2000;
    after2000.MinTime = PackDosDateTime(2000, 1, 1, 0, 0, 0);
    EXPECT_EQ(Find("*", D + "o", 0, "", "", nullptr, &after2000), (V{"o/far.txt", "o/now.txt"}));
    TFindFileAdvancedSearch before2050;
    before2050.MaxTime = PackDosDateTime(2050, 1, 1, 0, 0, 0);
    EXPECT_EQ(Find("*", D + "o", 0, "", "", nullptr, &before2050), (V{"o/now.txt", "o/old.txt"}));
}

TEST_P(TSearch, CommentsSizesAndTheCaller) {
    Write(D + "n/report.txt", "1234");
    Write(D + "n/report Backup (2).txt", "12");
    Write(D + "n/other.txt", "123456");
    Write(D + "n/report Backup (x).txt.ini", "<Comment>\r\n0=first draft\r\n2=older one\r\n");
    Find("*.txt", D + "n");
    EXPECT_EQ(searchtest::Lines(Section("")),
              (V{D + "n/other.txt", D + "n/report Backup (2).txt", D + "n/report.txt"}));
    EXPECT_EQ(searchtest::Lines(Section("\"Comment")), (V{"", "older one", "first draft"}));
    TFindFileAdvancedSearch f;
    f.CommentContains = "DRAFT";
    EXPECT_EQ(Find("*", D + "n", 0, "", "", nullptr, &f), V{"n/report.txt"});
    TFindFileAdvancedSearch sizes;
    sizes.MinSize = 3;
    sizes.MaxSize = 5;
    EXPECT_EQ(Find("*.txt", D + "n", 0, "", "", nullptr, &sizes), V{"n/report.txt"});
    // The caller's callback sees every entry; a negative answer drops one.
    int rejected = 0;
    auto onEntry = [&](const std::string& loc, const TFileInfoRec& info) {
        if (loc.empty()) {
            ++rejected;
            EXPECT_EQ(info, TFileInfoRec());
            return 0;
        }
        return loc.find("other") != std::string::npos ? -1 : 0;
    };
    EXPECT_EQ(Find("*.txt", D + "n", 0, "", "", nullptr, nullptr, onEntry),
              (V{"n/report Backup (2).txt", "n/report.txt"}));
    EXPECT_EQ(rejected, 2);  // the folder's own entry and the notes file
}

TEST_P(TSearch, SearchesStartedFromTheCallback) {
    // A callback may search the folder that is being searched (a backup name, a look-up).
    Write(D + "m/report.txt", "r");
    Write(D + "m/report Backup (4).txt", "4");
    std::vector<std::string> next;
    auto onEntry = [&](const std::string& loc, const TFileInfoRec&) {
        if (loc.size() > 4 && loc.compare(loc.size() - 4, 4, ".txt") == 0) {
            TBackupFileParts b(&Engine);
            b.SetLocation(loc);
            next.push_back(b.GetBackupName(true));
            // Even a search without a store leaves the running one's listings alone.
            EXPECT_EQ(Engine.FindFiles("*.txt", D + "m", false, nullptr, "Inner", "", "",
                                       nullptr, 0).Count(), 2);
        }
        return 0;
    };
    EXPECT_EQ(Find("*", D + "m", fsRecurse, "", "", nullptr, nullptr, onEntry).size(), 2u);
    EXPECT_FALSE(Incomplete());
    EXPECT_EQ(next, (V{D + "m/report Backup (5).txt", D + "m/report Backup (5).txt"}));
}

TEST_P(TSearch, CancelKeepsWhatWasFoundAndMarksTheResult) {
    for (int i = 0; i < 20; ++i) Write(D + "k/f" + std::to_string(100 + i) + ".txt", "x");
    int calls = 0;
    auto stopAfterThree = [&](const std::string& loc, const TFileInfoRec&) {
        if (!loc.empty() && ++calls == 3) SyncContinue = false;
        return 0;
    };
    V found = Find("*", D + "k", fsRecurse, "", "", nullptr, nullptr, stopAfterThree);
    EXPECT_EQ(found, (V{"k/f100.txt", "k/f101.txt", "k/f102.txt"}));
    EXPECT_EQ(Stat("FileCount"), "3");
    EXPECT_TRUE(Incomplete());
    EXPECT_EQ(Stat("UnreadableCount"), "0");
}

// Each engine's run has its own cancel state: cancelling one search (from a window's
// Cancel, say) leaves a second engine's search running, and a later search of that second
// engine does not undo it; a program-wide stop reaches both.
TEST_P(TSearch, CancellingOneEngineLeavesTheOthersRunning) {
    for (int i = 0; i < 20; ++i) Write(D + "k/f" + std::to_string(100 + i) + ".txt", "x");
    TFindFiles other;
    other.CacheListings = GetParam();
    auto otherFinds = [&] { return other.FindFiles("*", D + "k", false, nullptr, "Other", "", "", nullptr, fsRecurse).Count(); };
    int calls = 0;
    int otherFound = -1;
    auto cancelAfterThree = [&](const std::string& loc, const TFileInfoRec&) {
        if (!loc.empty() && ++calls == 3) {
            Engine.Cancel();
            otherFound = otherFinds();  // while the first search stands cancelled
        }
        return 0;
    };
    EXPECT_EQ(Find("*", D + "k", fsRecurse, "", "", nullptr, nullptr, cancelAfterThree).size(), 3u);
    EXPECT_TRUE(Incomplete());
    EXPECT_EQ(otherFound, 20);
    EXPECT_FALSE(other.Cancelled());
    EXPECT_EQ(otherFinds(), 20);
    EXPECT_TRUE(Engine.Cancelled());
    EXPECT_EQ(Find("*", D + "k", fsRecurse), V{});
    Engine.Resume();
    EXPECT_EQ(Find("*", D + "k", fsRecurse).size(), 20u);

    SyncContinue = false;  // the program stops: every run
    EXPECT_FALSE(Engine.Continue());
    EXPECT_FALSE(other.Continue());
    EXPECT_EQ(otherFinds(), 0);
}

TEST_P(TSearch, KindsNotYetAvailableLeaveTheRestOfTheSearch) {
    Write(D + "a/x.txt", "x");
    Write(D + "arc.zip", "not really");
    EXPECT_EQ(Find("zip://" + D + "arc.zip/*||" + D + "a/*.txt||ftp://127.0.0.1/*", ""), V{"a/x.txt"});
    EXPECT_TRUE(Incomplete());
    // A damaged archive is reported and the rest of the search goes on.
    EXPECT_TRUE(Memo.Has("Cannot open the archive " + D + "arc.zip: "));
    EXPECT_TRUE(Memo.Has("Cannot search ftp://127.0.0.1/: this kind of location is not yet available."));
    // Unknown schemes are not locations: skipped without a word.
    Memo.Clear();
    EXPECT_EQ(Find("news://x/*||" + D + "a/*", ""), V{"a/x.txt"});
    EXPECT_FALSE(Incomplete());
    EXPECT_TRUE(Memo.Seen.empty());
}

// Archives made by the zip tool are searched like folders, by name and by content.
TEST_P(TSearch, SearchesInsideZipArchives) {
    Write(D + "src/README", "alpha inside");
    Write(D + "src/a.b/c", "beta");
    Write(D + "src/d/e.txt", "alpha again");
    ASSERT_EQ(std::system(("cd '" + D + "src' && zip -q -r ../arc.zip README a.b d").c_str()), 0);
    const std::string z = "zip://" + D + "arc.zip/";
    EXPECT_EQ(Find(z + "*", ""), (V{z + "README", z + "a.b/c", z + "d/e.txt"}));
    EXPECT_EQ(Find(z + "*", "", fsTextMustMatch, "alpha"), (V{z + "README", z + "d/e.txt"}));
    EXPECT_EQ(Find(z + "*", "", 0, "alpha"), (V{z + "a.b/c"}));
    EXPECT_EQ(Find(z + "a.b/*", ""), (V{z + "a.b/c"}));
    EXPECT_FALSE(Incomplete());
    // The search-in-archives option also searches the archives of the folder.
    Write(D + "top.txt", "alpha");
    EXPECT_EQ(Find("*.txt", D, fsZipArchives), (V{"top.txt", z + "d/e.txt"}));
    // A folder whose name ends in ".zip" is a folder: its archives are searched too.
    Write(D + "old.zip/in.txt", "alpha");
    ASSERT_EQ(std::system(("cd '" + D + "old.zip' && zip -q inner.zip in.txt").c_str()), 0);
    const std::string inner = "zip://" + D + "old.zip/inner.zip/";
    EXPECT_EQ(Find("*.txt", D + "old.zip", fsZipArchives), (V{"old.zip/in.txt", inner + "in.txt"}));
    EXPECT_EQ(Find(inner + "*", ""), (V{inner + "in.txt"}));
    EXPECT_FALSE(Incomplete());
}

// --- Listings, look-ups and the temporary folder -------------------------------------------

struct TEngineFixture : ::testing::Test {
    qntest::TTempDir Dir{"qnsearch"};
    std::string D = Dir.Path() + "/";
    qntest::TScopedEnv Cache{"XDG_CACHE_HOME", Dir.Path() + "/cache"};
    searchtest::TTestMemo Memo;
};

TEST_F(TEngineFixture, ListingsKeptInAStoreAreReusedUntilErased) {
    TFindFiles engine(nullptr, &Memo);
    Write(D + "f/a.txt", "a");
    TFMWMemIniFile store;
    EXPECT_EQ(engine.FindFiles("*", D + "f", false, nullptr, "R", "", "", &store, 0).Count(), 1);
    EXPECT_EQ(store.GetSection(D + "f/").Count(), 2);  // "./" and the file
    Write(D + "f/b.txt", "b");
    EXPECT_EQ(engine.FindFiles("*", D + "f", false, nullptr, "R", "", "", &store, 0).Count(), 1);
    engine.EraseListing(&store, D + "f/");
    EXPECT_FALSE(store.SectionExists(D + "f/\"FileInfo"));
    EXPECT_EQ(engine.FindFiles("*", D + "f", false, nullptr, "R", "", "", &store, 0).Count(), 2);
    // Without a store every search starts afresh.
    Write(D + "f/c.txt", "c");
    EXPECT_EQ(engine.FindFiles("*", D + "f", false, nullptr, "R", "", "", nullptr, 0).Count(), 3);
}

TEST_F(TEngineFixture, EntriesHandledAsTheyAreFound) {
    TFindFiles engine(nullptr, &Memo);
    engine.CacheListings = false;
    engine.KeepResults = false;
    Write(D + "h/a.txt", "12");
    Write(D + "h/b.txt", "1234");
    Write(D + "h/c.txt", "123456");
    std::vector<std::string> seen;
    engine.OnFound = [&](TFindEntry& e) {
        seen.push_back(e.Location());
        if (e.Location() == D + "h/c.txt") return false;
        if (e.Location() == D + "h/b.txt") {
            EXPECT_EQ(e.Info().Size, 4);
        }
        return true;
    };
    engine.FindFiles("*", D + "h", false, nullptr, "Results", "", "", nullptr, 0);
    EXPECT_EQ(seen, (std::vector<std::string>{D + "h/a.txt", D + "h/b.txt", D + "h/c.txt"}));
    EXPECT_EQ(engine.ResultStore.GetSection("Results").Count(), 0);
    const TQNStringList& stats = engine.ResultStore.GetSection("Results\"Stats");
    EXPECT_EQ(stats.Values("FileCount"), "2");      // c.txt was dropped
    EXPECT_EQ(stats.Values("FileSizeTotal"), "4");  // only b.txt's record was read
}

TEST_F(TEngineFixture, LookUpsLeaveTheSharedStoreAndTheTemporaryFolderAlone) {
    TFindFiles engine(nullptr, &Memo);
    Write(D + "g/report.txt", "r");
    Write(D + "g/report Backup (1).txt", "1");
    engine.FindFiles("*", D + "g", false, nullptr, "Results", "", "", nullptr, 0);
    ASSERT_EQ(engine.ResultStore.GetSection("Results").Count(), 2);
    const std::string temp = engine.TempFolder();
    Write(temp + "fetched.tmp", "t");
    Write(temp + "sub/kept.tmp", "k");

    TFileInfoRec info;
    EXPECT_TRUE(engine.FindOne(D + "g/report.txt", info));
    EXPECT_TRUE(engine.EntryExists(D + "g/report.txt"));
    TBackupFileParts b(&engine);
    b.SetLocation(D + "g/report.txt");
    EXPECT_EQ(b.GetBackupName(true), D + "g/report Backup (2).txt");
    TouchFound(D + "g/report.txt", 0);
    EXPECT_EQ(engine.ResultStore.GetSection("Results").Count(), 2);
    EXPECT_TRUE(Exists(temp + "fetched.tmp"));

    // A search without a store clears them: files directly in the folder go, its
    // sub-folders stay until the engine goes.
    engine.FindFiles("*", D + "g", false, nullptr, "Other", "", "", nullptr, 0);
    EXPECT_FALSE(engine.ResultStore.SectionExists("Results"));
    EXPECT_FALSE(Exists(temp + "fetched.tmp"));
    EXPECT_TRUE(Exists(temp + "sub/kept.tmp"));
    FreeProgramFindFiles();
}

TEST_F(TEngineFixture, EachEngineHasItsOwnTemporaryFolderAndRemovesOnlyThat) {
    Write(D + "outside/keep.txt", "k");
    std::string first, second;
    {
        TFindFiles a, b, unused;
        first = a.TempFolder();
        second = b.TempFolder();
        EXPECT_NE(first, second);
        EXPECT_EQ(first.rfind(D + "cache/Quennick/FindFiles/", 0), 0u) << first;
        EXPECT_EQ(a.TempFolder(), first);
        struct stat st {};
        ASSERT_EQ(::stat(first.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        Write(first + "deep/er/file.tmp", "x");
        ASSERT_EQ(::symlink((D + "outside").c_str(), (first + "deep/link").c_str()), 0);
        ASSERT_EQ(::symlink((D + "outside/keep.txt").c_str(), (first + "filelink").c_str()), 0);
    }
    EXPECT_FALSE(Exists(first));
    EXPECT_FALSE(Exists(second));
    EXPECT_TRUE(Exists(D + "outside/keep.txt"));
    // The engine that never needed one made none.
    std::vector<TLocalEntry> left;
    ScanLocalFolder(D + "cache/Quennick/FindFiles/", left);
    EXPECT_EQ(left.size(), 1u);  // its own entry only
}

TEST_F(TEngineFixture, DeletingAndTouching) {
    TFindFiles engine(nullptr, &Memo);
    Write(D + "d/a.tmp", "a");
    Write(D + "d/sub/b.tmp", "b");
    Write(D + "d/sub/keep.txt", "k");
    Write(D + "d/empty/c.tmp", "c");
    EXPECT_EQ(engine.DeleteMatching(D + "d/*.tmp", true), 3);
    EXPECT_TRUE(Exists(D + "d/sub/keep.txt"));
    EXPECT_FALSE(Exists(D + "d/empty"));
    Write(D + "e/x.txt", "x");
    Write(D + "e/sub/y.txt", "y");
    engine.DeleteFolderFiles(D + "e");
    EXPECT_FALSE(Exists(D + "e/x.txt"));
    EXPECT_TRUE(Exists(D + "e/sub/y.txt"));
    EXPECT_TRUE(engine.DeleteFile(D + "e/sub/y.txt", true));
    EXPECT_TRUE(Memo.Has("Deleted file " + D + "e/sub/y.txt"));

    Write(D + "t/a.log", "a");
    Write(D + "t/b.log", "b");
    const uint32_t when = PackDosDateTime(2011, 3, 4, 5, 6, 8);
    TouchFound(D + "t/*.log", when);
    for (const char* f : {"t/a.log", "t/b.log"}) {
        struct stat st {};
        ::stat((D + f).c_str(), &st);
        EXPECT_EQ(st.st_mtime, UnixFromLocalDosDateTime(when)) << f;
    }
    FreeProgramFindFiles();
}

// --- Formats and times ---------------------------------------------------------------------

TEST(SearchFormats, SizesAndInformation) {
    struct TCase {
        int64_t Size;
        const char* Text;
    } cases[] = {
        {0, "             0          "},
        {1024, "         1,024          "},
        {1025, "         1,025  (1.00KB)"},
        {1536000, "     1,536,000  (1.46MB)"},
        {1048576, "     1,048,576(1,024.00KB)"},
        {5000000000LL, " 5,000,000,000  (4.66GB)"},
    };
    for (const TCase& c : cases) EXPECT_EQ(FormatSize(c.Size), c.Text) << c.Size;

    qntest::TScopedEnv tz("TZ", "UTC");
    ::tzset();
    TFileInfoRec r;
    r.Time = PackDosDateTime(2011, 3, 4, 5, 6, 8);
    r.Size = 2048;
    r.Attributes = faArchive | faReadOnly;
    EXPECT_EQ(FormatInfo(r), "2011/03/04 05:06:08          2,048  (2.00KB)RA    ");
    TFileInfoRec none;
    EXPECT_EQ(FormatInfo(none).substr(0, 20), "1980/01/01 00:00:00 ");
}

TEST(SearchFormats, TimesThatDifferByWholeHours) {
    const uint32_t t = PackDosDateTime(2020, 6, 1, 12, 0, 0);
    EXPECT_EQ(DosHourStep(), 2048u);
    EXPECT_TRUE(SameTimeWithinHours(t, t));
    EXPECT_TRUE(SameTimeWithinHours(PackDosDateTime(2020, 6, 1, 15, 0, 0), t));
    EXPECT_TRUE(SameTimeWithinHours(t, PackDosDateTime(2020, 6, 1, 15, 0, 0)));
    EXPECT_FALSE(SameTimeWithinHours(PackDosDateTime(2020, 6, 1, 15, 1, 0), t));
    EXPECT_FALSE(SameTimeWithinHours(PackDosDateTime(2020, 6, 1, 22, 0, 0), t));
}

}  // namespace
