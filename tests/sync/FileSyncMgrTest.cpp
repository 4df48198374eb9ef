// The sync engine on real folders: copies, backups, kept destinations, deletions and the
// data-safety rules.
#include "sync/FileSyncMgr.h"

#include "search/FindFiles.h"
#include "sync/SyncDocument.h"

#include "common/ifutils.h"

#include "SyncTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace fs = std::filesystem;
using O = TFileSyncOption;
using synctest::Put;
using synctest::TScriptedPrompter;
using synctest::TTestClock;
using synctest::TTestTimer;

namespace {

class TFileSyncMgrTest : public ::testing::Test {
protected:
    qntest::TTempDir Dir{"syncmgr"};
    std::string Src = Dir / "src/";
    std::string Dst = Dir / "dst/";
    TFindFiles Engine;
    TScriptedPrompter Prompter;
    TTestClock Clock;
    TTestTimer Timer;
    TFileSyncMgr Mgr{Engine, Prompter, &Clock, &Timer};
    std::vector<std::pair<TLogItem, std::string>> LogLines;

    void SetUp() override {
        fs::create_directories(Src);
        Mgr.OnLog = [this](TLogItem l, const std::string& t) { LogLines.emplace_back(l, t); };
    }
    void TearDown() override { SyncContinue = true; }

    TSyncProfile& AddProfile(TFileSyncOptions extra, const std::string& src = {},
                             const std::string& dst = {}) {
        auto p = NewProfile(false);
        p->Options = TFileSyncOptions{O::ManRefresh, O::SyncIfDateChanged, O::CascadeDir} | extra;
        p->Selected = true;
        int i = Mgr.Profiles.Add(ProfileLine((src.empty() ? Src : src) + "*", dst.empty() ? Dst : dst),
                                 std::move(p));
        return Mgr.Profiles.Profile(i);
    }
    TSyncStats Run(TFileSyncOptions mask = {O::ManRefresh}) {
        TSyncStats stats;
        EXPECT_TRUE(Mgr.Sync(stats, mask));
        return stats;
    }
    bool Logged(TLogItem level, const std::string& part) const {
        for (const auto& [l, t] : LogLines)
            if (l == level && t.find(part) != std::string::npos) return true;
        return false;
    }
    static std::vector<std::string> Names(const std::string& folder) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<std::string> Backups(const std::string& folder) const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(folder))
            if (e.path().filename().string().find(" Backup (") != std::string::npos)
                out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(TFileSyncMgrTest, CopiesNewSkipsUnchangedBacksUpChangedDestination) {
    TSyncProfile& p = AddProfile({O::BackupIfNewer});
    Put(Src + "a.txt", "one", 0);
    Put(Src + "sub/b.txt", "two", 0);

    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 2);
    EXPECT_EQ(s.ProfileOrSync, "Manual Sync Summary");
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "one");
    EXPECT_EQ(qntest::ReadFile(Dst + "sub/b.txt"), "two");
    EXPECT_EQ(p.HistoryFiles.IndexOf(Src + "a.txt") >= 0, true);
    EXPECT_EQ(Timer.On, true);

    // Unchanged: nothing to do.
    s = Run();
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_EQ(s.BackupCount, 0);

    // Both sides changed since the last sync: the destination's version is kept as a
    // backup, then replaced.
    Put(Dst + "a.txt", "dest edit", 1);
    Put(Src + "a.txt", "source edit", 2);
    s = Run();
    EXPECT_EQ(s.BackupCount, 1);
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "source edit");
    std::vector<std::string> backups = Backups(Dst);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(qntest::ReadFile(Dst + backups[0]), "dest edit");
}

TEST_F(TFileSyncMgrTest, DestinationNamesFollowTheProfile) {
    Put(Src + "sub/b.txt", "two", 0);
    struct TCase {
        const char* Name;
        TFileSyncOption Option;
        std::string Expected;
    };
    const TCase cases[] = {
        {"one folder", O::SingleDestFolder, Dst + "b.txt"},
        {"below the root", O::RootRelativeDir, Dst + ExtractPathAfterRoot(Src + "sub/b.txt")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Dst);
        Mgr.Profiles.Clear();
        AddProfile({c.Option});
        EXPECT_EQ(Run().FilesSynced, 1);
        EXPECT_EQ(qntest::ReadFile(c.Expected), "two");
    }
}

TEST_F(TFileSyncMgrTest, NewerDestinationIsKeptWithAWarningEvenWhenSizesDiffer) {
    AddProfile({O::CompareFileSize});
    Put(Src + "a.txt", "one", 0);
    Run();
    Put(Dst + "a.txt", "the user's newer text", 5);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_EQ(s.WarningCount, 1);
    EXPECT_TRUE(Logged(liWarning, "Warning: Destination file " + Dst + "a.txt is newer"));
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "the user's newer text");
}

TEST_F(TFileSyncMgrTest, DestinationFilteredOutOfItsSearchIsStillSeen) {
    // The expression matches the source's path only, so the destination search finds
    // nothing; the newer destination must still be found and kept.
    TSyncProfile& p = AddProfile({O::RegExpFilterInclude});
    p.FilterRegExpr = "/src/";
    Put(Src + "a.txt", "one", 0);
    ASSERT_EQ(Run().FilesSynced, 1);
    Put(Dst + "a.txt", "newer", 5);
    TSyncStats s = Run();
    EXPECT_EQ(s.SearchedDestFiles, 0);
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_EQ(s.WarningCount, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "newer");
}

TEST_F(TFileSyncMgrTest, PromptIfNewerAnswers) {
    struct TCase {
        TMsgDlgBtn Answer;
        int Copied, Backups;
    };
    for (TCase c : {TCase{TMsgDlgBtn::mbYes, 1, 1}, TCase{TMsgDlgBtn::mbNo, 1, 0},
                    TCase{TMsgDlgBtn::mbCancel, 0, 0}}) {
        SCOPED_TRACE(static_cast<int>(c.Answer));
        fs::remove_all(Dst);
        Mgr.Profiles.Clear();
        AddProfile({O::PromptIfNewer});
        Put(Src + "a.txt", "one", 0);
        Run();
        Put(Dst + "a.txt", "newer", 5);
        Prompter.Answers.push_back(c.Answer);
        TSyncStats s = Run();
        EXPECT_EQ(s.FilesSynced, c.Copied);
        EXPECT_EQ(s.BackupCount, c.Backups);
        EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), c.Copied ? "one" : "newer");
        EXPECT_TRUE(Prompter.Answers.empty());
    }
}

TEST_F(TFileSyncMgrTest, MissingSourceRootDeletesNothingAndKeepsTheHistory) {
    TSyncProfile& p = AddProfile({O::SyncDeletedObjects});
    Put(Src + "a.txt", "one", 0);
    Put(Src + "b.txt", "two", 0);
    Run();
    ASSERT_EQ(p.HistoryFiles.Count(), 2);

    fs::remove_all(Src);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesDeleted, 0);
    EXPECT_EQ(s.WarningCount, 1);
    EXPECT_TRUE(fs::exists(Dst + "a.txt"));
    EXPECT_TRUE(fs::exists(Dst + "b.txt"));
    EXPECT_EQ(p.HistoryFiles.Count(), 2);
    EXPECT_TRUE(Logged(liInformation, "contains a drive that is currently not available."));
    EXPECT_TRUE(Logged(liWarning, "is missing.  No deletions are repeated"));
}

TEST_F(TFileSyncMgrTest, IncompleteSourceSearchDeletesNothingAndKeepsTheHistory) {
    TSyncProfile& p = AddProfile({O::SyncDeletedObjects, O::TextInFileInclude});
    p.TextInFileRegExpr = "x";
    Put(Src + "a.txt", "x1", 0);
    Put(Src + "b.txt", "x2", 0);
    Run();
    ASSERT_EQ(p.HistoryFiles.Count(), 2);

    // b.txt is gone, and a link that cannot be read makes the search incomplete.
    fs::remove(Src + "b.txt");
    ASSERT_EQ(::symlink((Src + "missing").c_str(), (Src + "dangling").c_str()), 0);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesDeleted, 0);
    EXPECT_TRUE(fs::exists(Dst + "b.txt"));
    EXPECT_EQ(p.HistoryFiles.Count(), 2);
    EXPECT_TRUE(Logged(liWarning, "was incomplete"));

    // Complete again: the deletion is repeated.
    fs::remove(Src + "dangling");
    s = Run();
    EXPECT_EQ(s.FilesDeleted, 1);
    EXPECT_FALSE(fs::exists(Dst + "b.txt"));
    EXPECT_EQ(p.HistoryFiles.Count(), 1);
}

TEST_F(TFileSyncMgrTest, DeletedSourceFolderLeavesTheDestinationsOwnFiles) {
    AddProfile({O::SyncDeletedObjects});
    Put(Src + "a.txt", "one", 0);
    Put(Src + "sub/b.txt", "two", 0);
    Run();
    Put(Dst + "sub/mine.txt", "the user's own", 0);
    fs::remove_all(Src + "sub");
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesDeleted, 1);
    EXPECT_FALSE(fs::exists(Dst + "sub/b.txt"));
    EXPECT_EQ(qntest::ReadFile(Dst + "sub/mine.txt"), "the user's own");

    // Without files of its own the emptied folder goes too.
    fs::remove(Dst + "sub/mine.txt");
    Put(Src + "sub/c.txt", "three", 0);
    Run();
    fs::remove_all(Src + "sub");
    Run();
    EXPECT_FALSE(fs::exists(Dst + "sub"));
    EXPECT_TRUE(fs::exists(Dst + "a.txt"));
}

TEST_F(TFileSyncMgrTest, LargeDeletionsAskInManualRunsAndWaitInAutomaticOnes) {
    TSyncProfile& p = AddProfile({O::SyncDeletedObjects, O::AutoRefresh});
    for (int i = 0; i < 40; ++i) Put(Src + "f" + std::to_string(i) + ".txt", "x", 0);
    Run();
    ASSERT_EQ(p.HistoryFiles.Count(), 40);
    for (int i = 0; i < 30; ++i) fs::remove(Src + "f" + std::to_string(i) + ".txt");

    // Manual, declined: nothing deleted.
    Prompter.Answers.push_back(TMsgDlgBtn::mbCancel);
    TSyncStats s = Run();
    ASSERT_EQ(Prompter.Questions.size(), 1u);
    EXPECT_NE(Prompter.Questions[0].find("preparing for deletion=30"), std::string::npos);
    EXPECT_EQ(s.FilesDeleted, 0);
    EXPECT_TRUE(fs::exists(Dst + "f0.txt"));

    // Automatic, due: postponed with a warning, the pending deletions stay in the history.
    for (int i = 0; i < 30; ++i) Put(Src + "f" + std::to_string(i) + ".txt", "x", 0);
    Run();
    for (int i = 0; i < 30; ++i) fs::remove(Src + "f" + std::to_string(i) + ".txt");
    Mgr.NotBefore = 0;
    p.LastDetectTime = 0;
    p.ChangeDetectedTime = 0;
    p.ChangeCount = 1;
    s = Run({O::AutoDetect});
    EXPECT_EQ(Prompter.Questions.size(), 1u);
    EXPECT_EQ(s.FilesDeleted, 0);
    EXPECT_TRUE(fs::exists(Dst + "f0.txt"));
    EXPECT_TRUE(Logged(liWarning, "postponed"));
    EXPECT_EQ(p.HistoryFiles.Count(), 40);

    // Manual, confirmed: deleted.
    Prompter.Answers.push_back(TMsgDlgBtn::mbOK);
    s = Run();
    EXPECT_EQ(s.FilesDeleted, 30);
    EXPECT_FALSE(fs::exists(Dst + "f0.txt"));
    EXPECT_TRUE(fs::exists(Dst + "f39.txt"));
}

TEST_F(TFileSyncMgrTest, ManualRunThatCannotAskPostponesLargeDeletions) {
    TSyncProfile& p = AddProfile({O::SyncDeletedObjects});
    for (int i = 0; i < 40; ++i) Put(Src + "f" + std::to_string(i) + ".txt", "x", 0);
    Run();
    for (int i = 0; i < 30; ++i) fs::remove(Src + "f" + std::to_string(i) + ".txt");
    Mgr.PostponeLargeDeletions = true;
    TSyncStats s = Run();
    EXPECT_TRUE(Prompter.Questions.empty());
    EXPECT_EQ(s.FilesDeleted, 0);
    EXPECT_EQ(s.WarningCount, 1);
    EXPECT_EQ(Names(Dst).size(), 40u);
    EXPECT_EQ(p.HistoryFiles.Count(), 40);

    // A run that can ask gets the question for the same deletions.
    Mgr.PostponeLargeDeletions = false;
    Prompter.Answers.push_back(TMsgDlgBtn::mbOK);
    s = Run();
    EXPECT_EQ(Prompter.Questions.size(), 1u);
    EXPECT_EQ(s.FilesDeleted, 30);
    EXPECT_EQ(Names(Dst).size(), 10u);
}

TEST_F(TFileSyncMgrTest, DeletionThresholdOfAQuarter) {
    struct TCase {
        int Deleted;
        bool Asked;
    };
    for (TCase c : {TCase{25, false}, TCase{26, true}}) {
        SCOPED_TRACE(c.Deleted);
        fs::remove_all(Src);
        fs::remove_all(Dst);
        Mgr.Profiles.Clear();
        Prompter.Clear();
        AddProfile({O::SyncDeletedObjects});
        for (int i = 0; i < 100; ++i) Put(Src + "f" + std::to_string(i) + ".txt", "x", 0);
        Run();
        for (int i = 0; i < c.Deleted; ++i) fs::remove(Src + "f" + std::to_string(i) + ".txt");
        if (c.Asked) Prompter.Answers.push_back(TMsgDlgBtn::mbOK);
        TSyncStats s = Run();
        EXPECT_EQ(Prompter.Questions.size(), c.Asked ? 1u : 0u);
        EXPECT_EQ(s.FilesDeleted, c.Deleted);
        EXPECT_EQ(Names(Dst).size(), size_t(100 - c.Deleted));
    }
}

TEST_F(TFileSyncMgrTest, RunsNeverNestAndTheWindowCanRefuseThem) {
    AddProfile({});
    Put(Src + "a.txt", "one", 0);
    bool nested = true, timerDuringRun = true;
    Mgr.OnProfilesChanged = [&] {
        TSyncStats inner;
        nested = Mgr.Sync(inner, {O::ManRefresh});
        timerDuringRun = Timer.On;
    };
    EXPECT_EQ(Run().FilesSynced, 1);
    EXPECT_FALSE(nested);
    EXPECT_FALSE(timerDuringRun);
    EXPECT_TRUE(Timer.On);

    Mgr.OnBeforeSync = [] { return false; };
    TSyncStats s;
    EXPECT_FALSE(Mgr.Sync(s, {O::ManRefresh}));
    EXPECT_EQ(s.SearchedFiles, 0);
}

TEST_F(TFileSyncMgrTest, AProfileThatFailsNeverStopsLaterRuns) {
    // The first profile cannot be worked on; the second still runs.
    AddProfile({}, "ftp://127.0.0.1:1/none/");
    AddProfile({});
    Put(Src + "a.txt", "one", 0);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(s.ErrorCount, 1);
    EXPECT_TRUE(Timer.On);

    // An event that throws at the end of a run: the engine is idle afterwards, its timer
    // as before, and the next run works.
    int calls = 0;
    Mgr.OnProfilesChanged = [&] {
        if (++calls == 2) throw std::runtime_error("window gone");
    };
    Put(Src + "b.txt", "two", 0);
    TSyncStats failed;
    EXPECT_THROW(Mgr.Sync(failed, {O::ManRefresh}), std::runtime_error);
    EXPECT_FALSE(Mgr.Running());
    EXPECT_TRUE(Timer.On);
    Put(Src + "c.txt", "three", 0);
    s = Run();
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_TRUE(fs::exists(Dst + "c.txt"));
}

TEST_F(TFileSyncMgrTest, SizesAndContentsNarrowTheCopies) {
    // Three files copied once; then the sources are only touched.
    AddProfile({O::CompareContent});
    for (const char* n : {"a", "b", "c"}) Put(Src + n + ".txt", std::string("text ") + n, 0);
    Run();
    for (const char* n : {"a", "b", "c"}) Put(Src + n + ".txt", std::string("text ") + n, 1);
    TSyncStats s = Run();
    EXPECT_EQ(s.ContentCompared, 3);
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_TRUE(Mgr.Profiles.Profile(0).Has(O::CompareFileSize));

    // A longer file differs by size; the others are compared by contents.
    Put(Src + "a.txt", "text a, longer", 2);
    for (const char* n : {"b", "c"}) Put(Src + n + ".txt", std::string("text ") + n, 2);
    s = Run();
    EXPECT_EQ(s.SizeDiffered, 1);
    EXPECT_EQ(s.ContentCompared, 2);
    EXPECT_EQ(s.FilesSynced, 1);

    // A same-size edit is found by the contents.
    Put(Src + "a.txt", "TEXT A, LONGER", 3);
    for (const char* n : {"b", "c"}) Put(Src + n + ".txt", std::string("text ") + n, 3);
    s = Run();
    EXPECT_EQ(s.ContentCompared, 3);
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "TEXT A, LONGER");
}

TEST_F(TFileSyncMgrTest, OptionTable) {
    struct TCase {
        const char* Name;
        TFileSyncOptions Options;
        bool CompareDates;
        int FirstCopies, SecondCopies;
    };
    const TCase cases[] = {
        {"dates compared", {}, true, 2, 0},
        {"dates not compared: always copied", {}, false, 2, 2},
        {"phantom destination: history only", {O::PhantomDestination}, true, 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Dst);
        Mgr.Profiles.Clear();
        TSyncProfile& p = AddProfile(c.Options);
        p.Options.Set(O::SyncIfDateChanged, c.CompareDates);
        Put(Src + "a.txt", "one", 0);
        Put(Src + "b.txt", "two", 0);
        EXPECT_EQ(Run().FilesSynced, c.FirstCopies);
        EXPECT_EQ(p.HistoryFiles.Count(), 2);
        EXPECT_EQ(Run().FilesSynced, c.SecondCopies);
    }
}

TEST_F(TFileSyncMgrTest, FilesDatedAtTheEarliestTimeAreNotTakenForAbsent) {
    AddProfile({});
    Put(Src + "old.txt", "old", -500000);  // 1943: before the earliest time there is
    EXPECT_EQ(Run().FilesSynced, 1);
    EXPECT_EQ(Run().FilesSynced, 0);
}

TEST_F(TFileSyncMgrTest, MoveDeletesTheSourceAfterACompleteCopy) {
    AddProfile({O::MoveFile});
    const std::string big(256 * 1024, 'm');
    Put(Src + "a.txt", big, 0);
    {
        // The copy breaks off: the source stays.
        synctest::TFileSizeLimit limit(64 * 1024);
        TSyncStats s = Run();
        EXPECT_EQ(s.FilesDeleted, 0);
        EXPECT_EQ(s.ErrorCount, 1);
    }
    EXPECT_EQ(qntest::ReadFile(Src + "a.txt"), big);
    EXPECT_FALSE(fs::exists(Dst + "a.txt"));

    Put(Src + "a.txt", "moved text", 0);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(s.FilesDeleted, 1);
    EXPECT_FALSE(fs::exists(Src + "a.txt"));
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "moved text");
}

TEST_F(TFileSyncMgrTest, BackupOfADiffNamedFileKeepsItsWholeName) {
    AddProfile({O::BackupIfNewer});
    Put(Src + "patch.diff", "one", 0);
    Run();
    Put(Dst + "patch.diff", "dest", 1);
    Put(Src + "patch.diff", "source", 2);
    TSyncStats s = Run();
    EXPECT_EQ(s.BackupCount, 1);
    std::vector<std::string> backups = Backups(Dst);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0], "patch Backup (1).diff");
    EXPECT_EQ(qntest::ReadFile(Dst + backups[0]), "dest");
}

TEST_F(TFileSyncMgrTest, DetectionPassOnlyCountsChanges) {
    TSyncProfile& p = AddProfile({O::AutoDetect});
    p.Selected = false;
    Put(Src + "a.txt", "one", 0);
    Mgr.NotBefore = 0;
    Clock.Time += 1;  // past the detect interval
    TSyncStats s = Run({O::AutoDetect});
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_GT(p.ChangeCount, 0);
    EXPECT_FALSE(fs::exists(Dst + "a.txt"));
    EXPECT_EQ(p.HistoryFiles.Count(), 0);

    // The manual sync copies it.
    p.Selected = true;
    s = Run();
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(p.ChangeCount, 0);
}

TEST_F(TFileSyncMgrTest, DetectionPassNamesEachChange) {
    TSyncProfile& p = AddProfile({O::AutoDetect, O::SyncDeletedObjects});
    Put(Src + "same.txt", "s", 0);
    Put(Src + "changed.txt", "c", 0);
    Put(Src + "gone.txt", "g", 0);
    Run();
    Put(Src + "changed.txt", "c2", 1);
    Put(Src + "new.txt", "n", 1);
    fs::remove(Src + "gone.txt");
    std::vector<std::string> seen;
    Mgr.OnChangeDetected = [&](const TSyncChange& c) {
        seen.push_back((c.Deletion ? "delete " : "copy ") + c.Source + " " + c.Dest + " " +
                       std::string(SyncReasonText(c.Reason)));
    };
    Mgr.NotBefore = 0;
    p.Selected = false;
    Clock.Time += 1;
    TSyncStats s = Run({O::AutoDetect});
    EXPECT_EQ(s.FilesSynced + s.FilesDeleted, 0);
    EXPECT_EQ(p.ChangeCount, 3);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"copy " + Src + "changed.txt " + Dst + "changed.txt changed",
                                              "copy " + Src + "new.txt " + Dst + "new.txt new",
                                              "delete " + Src + "gone.txt " + Dst + "gone.txt deleted"}));
    EXPECT_EQ(qntest::ReadFile(Dst + "changed.txt"), "c");
    EXPECT_TRUE(fs::exists(Dst + "gone.txt"));
}

TEST_F(TFileSyncMgrTest, FailedCopiesAndBackupsLoseNothingAndAreRetried) {
    TSyncProfile& p = AddProfile({O::BackupIfNewer});
    const std::string big(256 * 1024, 'b');
    Put(Src + "big.txt", "small", 0);
    Put(Src + "new.txt", big, 0);
    {
        // Writes beyond 64 KiB fail: the copy of new.txt breaks off.
        synctest::TFileSizeLimit limit(64 * 1024);
        TSyncStats s = Run();
        EXPECT_EQ(s.FilesSynced, 1);
        EXPECT_EQ(s.ErrorCount, 1);
    }
    EXPECT_EQ(Names(Dst), std::vector<std::string>{"big.txt"});  // nothing half-written
    EXPECT_EQ(p.HistoryFiles.IndexOf(Src + "new.txt"), -1);
    EXPECT_EQ(Run().FilesSynced, 1);  // retried
    EXPECT_EQ(qntest::ReadFile(Dst + "new.txt"), big);

    // Both sides of big.txt changed; its backup cannot be written, so it is not replaced.
    Put(Dst + "big.txt", big, 1);
    Put(Src + "big.txt", "source edit", 2);
    {
        synctest::TFileSizeLimit limit(64 * 1024);
        TSyncStats s = Run();
        EXPECT_EQ(s.BackupCount, 0);
        EXPECT_EQ(s.FilesSynced, 0);
        EXPECT_EQ(s.ErrorCount, 1);
    }
    EXPECT_EQ(qntest::ReadFile(Dst + "big.txt"), big);
    EXPECT_EQ(Names(Dst), (std::vector<std::string>{"big.txt", "new.txt"}));
    TSyncStats s = Run();  // retried, with its backup
    EXPECT_EQ(s.BackupCount, 1);
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "big.txt"), "source edit");
}

TEST_F(TFileSyncMgrTest, FilterProfileKeepsItsFilesOutOfTheProfileAbove) {
    AddProfile({});
    TSyncProfile& filter = AddProfile({O::FilterPreviousProfile}, Src + "skip/");
    filter.Options.Include(O::CascadeDir);
    Put(Src + "a.txt", "one", 0);
    Put(Src + "skip/b.txt", "two", 0);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_TRUE(fs::exists(Dst + "a.txt"));
    EXPECT_FALSE(fs::exists(Dst + "skip/b.txt"));
    EXPECT_TRUE(fs::exists(Src + "skip/b.txt"));
}

// Cancels the run when the comparison starts.
class TCancellingPrompter : public TScriptedPrompter {
public:
    bool Cancel = false;
    TFileSyncMgr* Run = nullptr;
    void ShowStatus(const std::string& text) override {
        TScriptedPrompter::ShowStatus(text);
        if (Cancel && text.rfind("Syncing destination files", 0) == 0) Run->Cancel();
    }
};

TEST(TFileSyncMgrCancel, CancelledRunKeepsTheHistoryAndHoldsAutomaticPassesOff) {
    qntest::TTempDir dir{"synccancel"};
    const std::string src = dir / "src/", dst = dir / "dst/";
    Put(src + "a.txt", "one", 0);
    TFindFiles engine;
    TCancellingPrompter prompter;
    TTestClock clock;
    TFileSyncMgr mgr{engine, prompter, &clock, nullptr};
    prompter.Run = &mgr;
    auto profile = NewProfile(false);
    profile->Options = {O::ManRefresh, O::SyncIfDateChanged, O::AutoDetect, O::AutoRefresh};
    profile->Selected = true;
    mgr.Profiles.Add(ProfileLine(src + "*", dst), std::move(profile));
    TSyncProfile& p = mgr.Profiles.Profile(0);

    prompter.Cancel = true;
    TSyncStats s;
    ASSERT_TRUE(mgr.Sync(s, {O::ManRefresh}));
    prompter.Cancel = false;
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_EQ(p.HistoryFiles.Count(), 0);
    EXPECT_DOUBLE_EQ(mgr.NotBefore, clock.Time + 5.0 / 1440);

    // Automatic passes wait five minutes; a manual run does not.
    clock.Time += 4.0 / 1440;
    s = {};
    ASSERT_TRUE(mgr.Sync(s, {O::AutoDetect}));
    EXPECT_EQ(s.SearchedFiles, 0);
    s = {};
    ASSERT_TRUE(mgr.Sync(s, {O::ManRefresh}));
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(p.HistoryFiles.Count(), 1);
    SyncContinue = true;
}

TEST(TFileSyncTimes, NextAbsoluteTime) {
    const TDateTime yesterday13 = 46000 + 13.0 / 24;
    // Every day at 04:00: due today at 04:00.
    EXPECT_NEAR(NextAbsoluteTime(1 + 4.0 / 24, yesterday13), 46001 + 4.0 / 24, 1e-9);
    // Every 3 hours at 15:10 past: the last run's hour plus the interval.
    EXPECT_NEAR(NextAbsoluteTime(3.0 / 24 + 15.0 / 1440 + 10.0 / 86400, yesterday13),
                46000 + 16.0 / 24 + 15.0 / 1440 + 10.0 / 86400, 1e-9);
    EXPECT_EQ(NextAbsoluteTime(0, yesterday13), 0);
}

TEST_F(TFileSyncMgrTest, FolderOntoItselfKeepsABackupOfEachVersion) {
    TSyncProfile& p = AddProfile({O::BackupIfChanged, O::SyncDeletedObjects, O::MoveFile}, Src, Src);
    p.Options.Exclude(O::CascadeDir);
    Put(Src + "a.txt", "v1", 0);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_EQ(s.BackupCount, 1);
    EXPECT_EQ(Run().BackupCount, 0);  // unchanged
    Put(Src + "a.txt", "v2", 1);
    s = Run();
    EXPECT_EQ(s.BackupCount, 1);
    EXPECT_EQ(s.FilesDeleted, 0);
    EXPECT_EQ(Names(Src), (std::vector<std::string>{"a Backup (1).txt", "a Backup (2).txt", "a.txt"}));
    EXPECT_EQ(qntest::ReadFile(Src + "a Backup (2).txt"), "v2");
    EXPECT_EQ(qntest::ReadFile(Src + "a.txt"), "v2");
    EXPECT_FALSE(p.Has(O::MoveFile));
    EXPECT_FALSE(p.Has(O::SyncDeletedObjects));
}

TEST_F(TFileSyncMgrTest, BackupRefreshGivesFilesWithBackupsANewOne) {
    TSyncProfile& p = AddProfile({O::BackupIfNewer});
    Put(Src + "a.txt", "one", 0);
    Put(Src + "b.txt", "two", 0);
    Run();
    Put(Dst + "a.txt", "dest", 1);
    Put(Src + "a.txt", "source", 2);
    ASSERT_EQ(Run().BackupCount, 1);  // a.txt has a backup now, b.txt none

    // Only profiles that keep backups of every version take part.
    EXPECT_EQ(Run({O::ManRefresh, O::BackupIfChanged}).BackupCount, 0);
    p.Options.Include(O::BackupIfChanged);

    TSyncStats s = Run({O::ManRefresh, O::BackupIfChanged});
    EXPECT_EQ(s.BackupCount, 1);
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_EQ(Backups(Dst), (std::vector<std::string>{"a Backup (1).txt", "a Backup (2).txt"}));
    EXPECT_EQ(qntest::ReadFile(Dst + "a Backup (2).txt"), "source");
}

TEST_F(TFileSyncMgrTest, AutoRefreshCountsAChangeThenCopiesItAfterTheDelay) {
    TSyncProfile& p = AddProfile({O::AutoDetect, O::AutoRefresh});
    p.Selected = false;
    Put(Src + "a.txt", "one", 0);
    Mgr.NotBefore = 0;
    p.LastDetectTime = Clock.Time;
    const TFileSyncOptions autoPass{O::AutoDetect};

    // Before the detect time: nothing happens.
    Clock.Time += p.DetectInterval / 2;
    EXPECT_EQ(Run(autoPass).SearchedFiles, 0);
    // At the detect time the change is only counted.
    Clock.Time += p.DetectInterval / 2 + p.SyncDelay / 4;
    Run(autoPass);
    EXPECT_EQ(p.ChangeCount, 1);
    EXPECT_TRUE(Mgr.HasPendingChanges());
    EXPECT_FALSE(fs::exists(Dst + "a.txt"));
    // Within the delay: still waiting.
    Clock.Time += p.SyncDelay / 2;
    EXPECT_EQ(Run(autoPass).FilesSynced, 0);
    EXPECT_FALSE(fs::exists(Dst + "a.txt"));
    // After it: synced, and nothing pending.
    Clock.Time += p.SyncDelay;
    EXPECT_EQ(Run(autoPass).FilesSynced, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "one");
    EXPECT_FALSE(Mgr.HasPendingChanges());
    EXPECT_EQ(p.HistoryFiles.Count(), 1);
}

TEST_F(TFileSyncMgrTest, DocumentOptionsSetTimerAutoSaveAndLogLevels) {
    TSyncDocOptions o;
    o.TimerInterval = 5;
    o.AutoSaveInterval = 1.0 / 24;
    o.LogLevels[liWarning] = false;
    Mgr.LoadOptions(o);
    EXPECT_EQ(Timer.Interval, 5000);
    EXPECT_DOUBLE_EQ(Mgr.AutoSaveInterval, 1.0 / 24);

    // A kept newer destination warns, but warnings are not logged; they still count.
    AddProfile({});
    Put(Src + "a.txt", "one", 0);
    Run();
    Put(Dst + "a.txt", "newer", 3);
    EXPECT_EQ(Run().WarningCount, 1);
    EXPECT_FALSE(Logged(liWarning, "is newer than source file"));
    Mgr.VerboseLog = true;
    Run();
    EXPECT_TRUE(Logged(liWarning, "is newer than source file"));
}

TEST_F(TFileSyncMgrTest, RunsSaveTheDocumentEveryAutoSaveInterval) {
    int saves = 0;
    Mgr.OnAutoSave = [&] { ++saves; };
    Run();
    EXPECT_EQ(saves, 0);
    Clock.Time += Mgr.AutoSaveInterval;
    Run();
    Run();
    EXPECT_EQ(saves, 1);
}

TEST(TFileSyncStats, AddStatsAndSummary) {
    TSyncStats a, b;
    a.FilesSynced = 2;
    a.FilesSizeSynced = int64_t(1) << 40;
    a.CopyTime = 0.5;
    b.ProfileOrSync = "Manual Sync Summary";
    b.FilesSynced = 1;
    AddStats(a, b);
    AddStats(a, b);
    EXPECT_EQ(b.FilesSynced, 5);
    EXPECT_EQ(b.FilesSizeSynced, int64_t(1) << 41);
    EXPECT_DOUBLE_EQ(b.CopyTime, 1.0);
    EXPECT_EQ(b.ProfileOrSync, "Manual Sync Summary");
    std::vector<std::string> lines = SyncSummaryLines(b);
    EXPECT_EQ(lines[0], "Manual Sync Summary");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "5 file(s) synced."), lines.end());
}

}  // namespace
