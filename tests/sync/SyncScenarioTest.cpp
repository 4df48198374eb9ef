// The per-file decisions of a sync as scenarios: a file synced once, then changed in the
// source, the destination or both, synced again under a set of options and answers; the
// destination, its backups, the counters and the history after that second sync.
#include "sync/FileSyncMgr.h"

#include "locations/DirectoryParts.h"
#include "search/FindFiles.h"

#include "SyncTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using O = TFileSyncOption;
using B = TMsgDlgBtn;
using synctest::Put;

namespace {

struct TChange {
    const char* Text = nullptr;  // nullptr: left as the first sync left it
    int Hours = 0;               // the new modification time, in hours after the first
    int Milliseconds = 0;        // and milliseconds (the first is at an even second)
};

struct TScenario {
    const char* Name;
    TFileSyncOptions Options;
    TChange Source, Dest;
    std::vector<B> Answers;  // in the order the questions come
    const char* DestAfter;   // the destination's text after the second sync
    int Synced, Backups, Warnings, SizeDiffered, ContentCompared;
    const char* BackupText = nullptr;  // the text of the one backup, when one is made
    bool DatesIgnored = false;         // SyncIfDateChanged off
};

class TSyncScenario : public ::testing::Test {
protected:
    qntest::TTempDir Dir{"syncscen"};
    std::string Src = Dir / "src/", Dst = Dir / "dst/";
    TFindFiles Engine;
    synctest::TScriptedPrompter Prompter;
    synctest::TTestClock Clock;
    synctest::TTestTimer Timer;
    TFileSyncMgr Mgr{Engine, Prompter, &Clock, &Timer};

    void TearDown() override { SyncContinue = true; }

    TSyncProfile& AddProfile(const std::string& src, const std::string& dst, TFileSyncOptions extra) {
        auto p = NewProfile(false);
        p->Options = TFileSyncOptions{O::ManRefresh, O::SyncIfDateChanged, O::CascadeDir} | extra;
        p->Selected = true;
        return Mgr.Profiles.Profile(Mgr.Profiles.Add(ProfileLine(src + "*", dst), std::move(p)));
    }
    TSyncStats Run() {
        TSyncStats stats;
        EXPECT_TRUE(Mgr.Sync(stats, {O::ManRefresh}));
        return stats;
    }
    std::vector<std::string> Backups() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(Dst))
            if (e.path().filename().string().find(" Backup (") != std::string::npos) out.push_back(e.path());
        return out;
    }
};

TEST_F(TSyncScenario, DecisionsOfTheSecondSync) {
    // "one" (3 bytes) is synced at hour 0; "ONE" has its size, "longer" not.
    const TScenario scenarios[] = {
        {"unchanged: nothing to do", {}, {}, {}, {}, "one", 0, 0, 0, 0, 0},
        {"source changed: copied", {}, {"longer", 2}, {}, {}, "longer", 1, 0, 0, 0, 0},
        {"source only touched: copied again", {}, {"one", 2}, {}, {}, "one", 1, 0, 0, 0, 0},
        {"destination newer, no option: kept with a warning", {}, {}, {"mine", 5}, {}, "mine", 0, 0, 1, 0, 0},
        // A destination changed since the last sync is backed up before it is replaced,
        // unless the user answers that it need not be.
        {"destination newer, overwrite", {O::OverwriteIfNewer}, {}, {"mine", 5}, {}, "one", 1, 1, 0, 0, 0, "mine"},
        {"destination newer, backup", {O::BackupIfNewer}, {}, {"mine", 5}, {}, "one", 1, 1, 0, 0, 0, "mine"},
        {"destination newer, asked: Yes", {O::PromptIfNewer}, {}, {"mine", 5}, {B::mbYes}, "one", 1, 1, 0, 0, 0, "mine"},
        {"destination newer, asked: No", {O::PromptIfNewer}, {}, {"mine", 5}, {B::mbNo}, "one", 1, 0, 0, 0, 0},
        {"destination newer, asked: Cancel", {O::PromptIfNewer}, {}, {"mine", 5}, {B::mbCancel}, "mine", 0, 0, 0, 0, 0},
        // The source changed since the last sync as well: Cancel keeps the newer
        // destination, as the answer says.
        {"both changed, destination newer, asked: Cancel", {O::PromptIfNewer}, {"longer", 2}, {"mine", 5},
         {B::mbCancel}, "mine", 0, 0, 1, 0, 0},
        {"both changed, destination newer, no option: backed up, replaced", {}, {"longer", 2}, {"mine", 5}, {},
         "longer", 1, 1, 0, 0, 0, "mine"},
        {"both changed, source newer, backup", {O::BackupIfNewer}, {"longer", 5}, {"mine", 2}, {}, "longer", 1, 1, 0, 0,
         0, "mine"},
        {"both changed, source newer, asked: Yes", {O::PromptIfNewer}, {"longer", 5}, {"mine", 2}, {B::mbYes}, "longer",
         1, 1, 0, 0, 0, "mine"},
        {"both changed, source newer, asked: No", {O::PromptIfNewer}, {"longer", 5}, {"mine", 2}, {B::mbNo}, "longer", 1,
         0, 0, 0, 0},
        // Where the dates say "changed" and the sizes are the same, the contents decide,
        // whether sizes or contents are compared.
        {"sizes compared: same size, other bytes", {O::CompareFileSize}, {"ONE", 2}, {}, {}, "ONE", 1, 0, 0, 0, 1},
        {"sizes compared: only touched", {O::CompareFileSize}, {"one", 2}, {}, {}, "one", 0, 0, 0, 0, 1},
        {"sizes compared: other size", {O::CompareFileSize}, {"longer", 2}, {}, {}, "longer", 1, 0, 0, 1, 0},
        {"contents compared: same bytes", {O::CompareContent}, {"one", 2}, {}, {}, "one", 0, 0, 0, 0, 1},
        {"contents compared: other bytes", {O::CompareContent}, {"ONE", 2}, {}, {}, "ONE", 1, 0, 0, 0, 1},
        {"sizes compared, destination newer: still kept", {O::CompareFileSize}, {}, {"mine!", 5}, {}, "mine!", 0, 0, 1,
         0, 0},
        {"dates not compared: copied every time", {}, {}, {}, {}, "one", 1, 0, 0, 0, 0, nullptr, true},
        // An edit within the two seconds of the first sync's time: the source's own
        // record tells what its two-second time cannot.
        {"source edited within the same two seconds", {}, {"much longer", 0, 1500}, {}, {}, "much longer", 1, 0, 0,
         0, 0},
        {"source edited within the same two seconds, same size", {O::CompareFileSize}, {"ONE", 0, 500}, {}, {},
         "ONE", 1, 0, 0, 0, 1},
        // A destination cut short (or changed) that kept its date is no copy: it is kept
        // as a backup and copied again.
        {"destination cut short, date kept", {}, {}, {"on", 0}, {}, "one", 1, 1, 0, 0, 0, "on"},
        {"destination same size, other bytes, date kept, contents compared", {O::CompareContent}, {}, {"0ne", 0},
         {}, "0ne", 0, 0, 0, 0, 0},
    };
    for (const TScenario& c : scenarios) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Src);
        fs::remove_all(Dst);
        Mgr.Profiles.Clear();
        Prompter.Clear();
        TSyncProfile& p = AddProfile(Src, Dst, c.Options);
        if (c.DatesIgnored) p.Options.Exclude(O::SyncIfDateChanged);
        Put(Src + "a.txt", "one", 0);
        ASSERT_EQ(Run().FilesSynced, 1);
        ASSERT_EQ(qntest::ReadFile(Dst + "a.txt"), "one");
        if (c.Source.Text) Put(Src + "a.txt", c.Source.Text, c.Source.Hours, c.Source.Milliseconds);
        if (c.Dest.Text) Put(Dst + "a.txt", c.Dest.Text, c.Dest.Hours, c.Dest.Milliseconds);
        Prompter.Answers.assign(c.Answers.begin(), c.Answers.end());

        const TSyncStats s = Run();
        EXPECT_TRUE(Prompter.Answers.empty()) << "questions not asked";
        EXPECT_EQ(Prompter.Questions.size(), c.Answers.size());
        EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), c.DestAfter);
        EXPECT_EQ(qntest::ReadFile(Src + "a.txt"), c.Source.Text ? c.Source.Text : "one");
        EXPECT_EQ(s.FilesSynced, c.Synced);
        EXPECT_EQ(s.BackupCount, c.Backups);
        EXPECT_EQ(s.WarningCount, c.Warnings);
        EXPECT_EQ(s.SizeDiffered, c.SizeDiffered);
        EXPECT_EQ(s.ContentCompared, c.ContentCompared);
        EXPECT_EQ(s.ErrorCount, 0);
        const std::vector<std::string> backups = Backups();
        ASSERT_EQ(backups.size(), size_t(c.Backups));
        if (c.BackupText) {
            EXPECT_EQ(qntest::ReadFile(backups[0]), c.BackupText);
        }
        // The history holds the source as this sync saw it.
        ASSERT_EQ(p.HistoryFiles.Count(), 1);
        EXPECT_EQ(p.HistoryFiles[0], Src + "a.txt");
        TFileInfoRec now;
        ASSERT_TRUE(LocalInfoOf(Src + "a.txt", now));
        const auto recorded = TFileInfoRec::FromHex(p.HistoryFileInfo[0]);
        ASSERT_TRUE(recorded.has_value());
        EXPECT_EQ(recorded->Time, now.Time);
    }
}

// Profiles run in list order, so one profile's copies are the next one's source in the
// same run, and a deletion travels down the chain the same way.
TEST_F(TSyncScenario, ChainedProfilesInOneRun) {
    const std::string a = Dir / "a/", b = Dir / "b/", c = Dir / "c/";
    AddProfile(a, b, {O::SyncDeletedObjects});
    AddProfile(b, c, {O::SyncDeletedObjects});
    Put(a + "x.txt", "x", 0);
    Put(a + "sub/y.txt", "y", 0);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 4);
    EXPECT_EQ(qntest::ReadFile(c + "x.txt"), "x");
    EXPECT_EQ(qntest::ReadFile(c + "sub/y.txt"), "y");

    Put(a + "x.txt", "x2", 3);
    fs::remove(a + "sub/y.txt");
    s = Run();
    EXPECT_EQ(s.FilesSynced, 2);
    EXPECT_EQ(s.FilesDeleted, 2);
    EXPECT_EQ(qntest::ReadFile(c + "x.txt"), "x2");
    EXPECT_FALSE(fs::exists(b + "sub/y.txt"));
    EXPECT_FALSE(fs::exists(c + "sub/y.txt"));
    EXPECT_EQ(Mgr.Profiles.Profile(1).HistoryFiles.Count(), 1);
}

}  // namespace

namespace {

// A preview writes the lists beside the document, shows them side by side and syncs only
// when the user goes on.
TEST_F(TSyncScenario, PreviewsShowTheListsAndSyncOnlyWhenTheUserGoesOn) {
    AddProfile(Src, Dst, {});
    const std::string line = Mgr.Profiles.Line(0);
    Put(Src + "a.txt", "one", 0);
    Put(Src + "b.txt", "two", 0);
    Run();
    Put(Src + "a.txt", "changed", 2);
    Put(Src + "c.txt", "new", 2);
    Mgr.DocumentPath = Dir / "doc.fmw";
    std::vector<std::pair<std::string, std::string>> shown;
    Mgr.OnCompareFiles = [&](const std::string& a, const std::string& b) { shown.emplace_back(a, b); };
    struct TCase {
        bool History;
        TMsgDlgBtn Answer;
        const char* OtherSuffix;
        int Synced;
    } cases[] = {
        {true, TMsgDlgBtn::mbCancel, "_HistFile.txt", 0},
        {false, TMsgDlgBtn::mbCancel, "_DestFile.txt", 0},
        {true, TMsgDlgBtn::mbOK, "_HistFile.txt", 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.OtherSuffix);
        for (const auto& e : fs::directory_iterator(Dir.Path()))
            if (e.path().filename().string().rfind("doc.fmw_", 0) == 0) fs::remove(e.path());
        shown.clear();
        Prompter.Clear();
        Mgr.HistoryPreview = c.History;
        Mgr.DestPreview = !c.History;
        Prompter.Answers = {c.Answer};
        EXPECT_EQ(Run().FilesSynced, c.Synced);
        EXPECT_EQ(Prompter.Questions, std::vector<std::string>{"Continue?"});
        ASSERT_EQ(shown.size(), 1u);
        const std::string& other = shown[0].first;
        const std::string& source = shown[0].second;
        const std::string stem = Dir / "doc.fmw_";
        EXPECT_EQ(source.rfind(stem, 0), 0u) << source;
        EXPECT_EQ(source.substr(source.size() - 15), "_SourceFile.txt");
        EXPECT_EQ(other.substr(0, other.size() - std::strlen(c.OtherSuffix)),
                  source.substr(0, source.size() - 15));
        EXPECT_EQ(other.substr(other.size() - std::strlen(c.OtherSuffix)), c.OtherSuffix);
        // yyyy-mm-dd-hh-nn-ss between the document and the kind.
        EXPECT_EQ(source.size(), stem.size() + 19 + 15) << source;
        // Both lists name the files after the profile line, so that they pair up; the
        // new file is only in the source's.
        const std::string sourceText = qntest::ReadFile(source), otherText = qntest::ReadFile(other);
        for (const char* name : {"a.txt\n", "b.txt\n", "c.txt\n"}) {
            EXPECT_NE(sourceText.find(' ' + line + name), std::string::npos) << sourceText;
            EXPECT_EQ(otherText.find(' ' + line + name) != std::string::npos, name[0] != 'c') << otherText;
        }
    }
    Mgr.HistoryPreview = Mgr.DestPreview = false;

    // Without a saved document there is no place for the lists: nothing is synced.
    Mgr.DocumentPath.clear();
    Mgr.HistoryPreview = true;
    Put(Src + "a.txt", "again", 4);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 0);
    EXPECT_EQ(s.ErrorCount, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "changed");
}

}  // namespace

namespace {

// A new copy is flushed to the disk with the others at the end of its pass, before the
// history records it; a crash before that can leave it short under its final name with
// the source's date. Such a file is copied again. A recorded one whose size changed while
// its date stayed is no copy of its source either: it is copied again after a backup.
TEST_F(TSyncScenario, AShortDestinationNoSyncRecordedIsCopiedAgain) {
    TSyncProfile& p = AddProfile(Src, Dst, {});
    Put(Src + "a.txt", "the whole text", 0);
    Put(Dst + "a.txt", "the wh", 0);
    Put(Src + "b.txt", "same", 0);
    Put(Dst + "b.txt", "same", 0);
    TSyncStats s = Run();
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "the whole text");
    ASSERT_EQ(p.HistoryFiles.Count(), 2);

    Put(Dst + "b.txt", "edited, date kept", 0);
    s = Run();
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(s.BackupCount, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "b.txt"), "same");
    ASSERT_EQ(Backups().size(), 1u);
    EXPECT_EQ(qntest::ReadFile(Backups()[0]), "edited, date kept");
}

}  // namespace

namespace {

// On Linux "a.txt" and "A.txt" are two files. Each keeps its own history entry: none is
// taken for the other's deletion, and none is judged by the other's date.
TEST_F(TSyncScenario, NamesDifferingOnlyInCaseAreTwoFiles) {
    TSyncProfile& p = AddProfile(Src, Dst, {O::SyncDeletedObjects});
    Put(Src + "a.txt", "lower", 0);
    Put(Src + "A.txt", "UPPER", 3);
    EXPECT_EQ(Run().FilesSynced, 2);
    ASSERT_EQ(p.HistoryFiles.Count(), 2);

    struct TStep {
        const char* Name;
        const char* EditDest;  // "a.txt" of the destination edited at hour 5
        bool RemoveUpper;      // "A.txt" deleted in the source
        const char* LowerAfter;
        bool UpperAfter;
        int Deleted, Warnings;
    } steps[] = {
        {"nothing changed: both stay", nullptr, false, "lower", true, 0, 0},
        {"newer destination of one is kept", "mine", false, "mine", true, 0, 1},
        {"the deleted one goes, the other stays", nullptr, true, "mine", false, 1, 1},
    };
    for (const TStep& s : steps) {
        SCOPED_TRACE(s.Name);
        if (s.EditDest) Put(Dst + "a.txt", s.EditDest, 5);
        if (s.RemoveUpper) fs::remove(Src + "A.txt");
        const TSyncStats st = Run();
        EXPECT_EQ(st.FilesDeleted, s.Deleted);
        EXPECT_EQ(st.WarningCount, s.Warnings);
        EXPECT_EQ(st.FilesSynced, 0);
        ASSERT_TRUE(fs::exists(Dst + "a.txt"));
        EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), s.LowerAfter);
        EXPECT_EQ(fs::exists(Dst + "A.txt"), s.UpperAfter);
        if (s.UpperAfter) {
            EXPECT_EQ(qntest::ReadFile(Dst + "A.txt"), "UPPER");
        }
        EXPECT_EQ(qntest::ReadFile(Src + "a.txt"), "lower");
    }
}

}  // namespace

namespace {

// A folder of the destination that is a link leads outside it: nothing is copied,
// backed up, created or deleted through it, in whichever way the link came to be there.
TEST_F(TSyncScenario, ALinkedFolderInTheDestinationIsNeverWrittenThrough) {
    const std::string outside = Dir / "outside/";
    TSyncProfile& p = AddProfile(Src, Dst, {O::SyncDeletedObjects, O::BackupIfChanged});
    Put(Src + "sub/x.txt", "one", 0);
    Put(Src + "sub/y.txt", "two", 0);
    Put(Src + "top.txt", "top", 0);
    EXPECT_EQ(Run().FilesSynced, 3);
    ASSERT_EQ(p.HistoryFiles.Count(), 4);

    // The synced folder is replaced by a link to a folder of other files of the same names.
    fs::remove_all(Dst + "sub");
    Put(outside + "x.txt", "theirs x", 0);
    Put(outside + "y.txt", "theirs y", 0);
    ASSERT_EQ(::symlink(outside.c_str(), (Dst + "sub").c_str()), 0);
    Put(Src + "sub/x.txt", "one, changed", 2);
    Put(Src + "sub/new/z.txt", "new", 2);
    fs::remove(Src + "sub/y.txt");
    Put(Src + "top.txt", "top, changed", 2);
    // A file of the destination that is a link is replaced by the copy; its target stays.
    Put(Dir / "theirs.txt", "theirs", 0);
    fs::remove(Dst + "top.txt");
    ASSERT_EQ(::symlink((Dir / "theirs.txt").c_str(), (Dst + "top.txt").c_str()), 0);

    const TSyncStats s = Run();
    EXPECT_EQ(qntest::ReadFile(outside + "x.txt"), "theirs x");
    EXPECT_EQ(qntest::ReadFile(outside + "y.txt"), "theirs y");
    std::vector<std::string> there;
    for (const auto& e : fs::directory_iterator(outside)) there.push_back(e.path().filename());
    EXPECT_EQ(there.size(), 2u) << "written into the linked folder";
    EXPECT_TRUE(fs::is_symlink(Dst + "sub"));
    // The rest of the profile is synced as usual.
    EXPECT_EQ(s.FilesSynced, 1);
    EXPECT_EQ(qntest::ReadFile(Dst + "top.txt"), "top, changed");
    EXPECT_FALSE(fs::is_symlink(Dst + "top.txt"));
    EXPECT_EQ(qntest::ReadFile(Dir / "theirs.txt"), "theirs");
    EXPECT_EQ(s.FilesDeleted, 0);
    EXPECT_GT(s.WarningCount, 0);
    // What was not copied is tried again by the next run: the history keeps what the last
    // completed sync saw of it, or nothing.
    TFileInfoRec changed;
    ASSERT_TRUE(LocalInfoOf(Src + "sub/x.txt", changed));
    for (int k = 0; k < p.HistoryFiles.Count(); ++k) {
        if (p.HistoryFiles[k] == Src + "sub/x.txt") {
            EXPECT_NE(CompareExactTime(*TFileInfoRec::FromHex(p.HistoryFileInfo[k]), changed), 0);
        }
        EXPECT_NE(p.HistoryFiles[k], Src + "sub/new/z.txt");
    }
}

}  // namespace

namespace {

// A destination that reaches the source's own files by another name (its root a link to
// the source root): a move copies each file onto itself and must never delete it then.
TEST_F(TSyncScenario, AMoveOntoTheSourceItselfDeletesNothing) {
    fs::create_directories(Src);
    ASSERT_EQ(::symlink(Src.c_str(), (Dir / "dst").c_str()), 0);
    TSyncProfile& p = AddProfile(Src, Dst, {O::MoveFile});
    p.Options.Exclude(O::SyncIfDateChanged);  // every file is copied on every run
    Put(Src + "a.txt", "only copy", 0);
    const TSyncStats s = Run();
    EXPECT_EQ(qntest::ReadFile(Src + "a.txt"), "only copy");
    EXPECT_EQ(s.FilesDeleted, 0);
    EXPECT_EQ(s.ErrorCount, 1);
}

}  // namespace

namespace {

// Backups on change keep every version the destination had. A destination changed on
// its own since its last backup is backed up before a newer source replaces it; one that
// its newest backup holds is not backed up twice.
TEST_F(TSyncScenario, BackupsOnChangeKeepADestinationEditedSinceItsLastBackup) {
    AddProfile(Src, Dst, {O::BackupIfChanged});
    Put(Src + "a.txt", "v1", 0);
    Run();
    Put(Src + "a.txt", "v2", 1);
    Run();
    ASSERT_EQ(Backups().size(), 2u);  // v1 and v2
    struct TCase {
        const char* Name;
        int DestHours;  // -1: not edited
    } cases[] = {{"not edited", -1}, {"edited, older than the source", 0}, {"edited, newer than the source", 5}};
    int hours = 3;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const size_t before = Backups().size();
        if (c.DestHours >= 0) Put(Dst + "a.txt", c.Name, c.DestHours + hours);
        Put(Src + "a.txt", "v" + std::to_string(hours), hours + 1);
        Run();
        if (c.DestHours >= 0) {
            bool kept = false;
            for (const std::string& b : Backups()) kept = kept || qntest::ReadFile(b) == c.Name;
            EXPECT_TRUE(kept) << "the destination's own version is lost";
        }
        EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), "v" + std::to_string(hours));
        EXPECT_EQ(Backups().size(), before + (c.DestHours >= 0 ? 2 : 1));
        hours += 10;
    }
}

}  // namespace

namespace {

// A destination inside its source, or a source inside its destination: the destination's
// own files are no source entries, and no copy or deletion reaches into the source.
TEST_F(TSyncScenario, NestedRootsNeverFeedOnThemselves) {
    struct TCase {
        const char* Name;
        std::string Source, Dest;
        std::vector<std::pair<std::string, std::string>> Files;  // below Source
        std::map<std::string, std::string> DestAfter;             // below Dest, backups aside
    } cases[] = {
        {"destination inside the source", Src, Src + "backup/", {{"a.txt", "a"}},
         {{"a.txt", "a"}}},
        {"source inside the destination", Dst + "sub/", Dst, {{"x.txt", "x"}, {"sub/x.txt", "inner x"}},
         {{"x.txt", "x"}, {"sub/x.txt", "x"}, {"sub/sub/x.txt", "inner x"}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Src);
        fs::remove_all(Dst);
        Mgr.Profiles.Clear();
        AddProfile(c.Source, c.Dest, {O::SyncDeletedObjects});
        for (const auto& [name, text] : c.Files) Put(c.Source + name, text, 0);
        for (int run = 0; run < 3; ++run) Run();
        std::map<std::string, std::string> after;
        for (const auto& e : fs::recursive_directory_iterator(c.Dest))
            if (e.is_regular_file()) after[fs::relative(e.path(), c.Dest)] = qntest::ReadFile(e.path());
        EXPECT_EQ(after, c.DestAfter);
        // A source file whose counterpart would be in the source is deleted: nothing in the
        // source goes with it.
        fs::remove(c.Source + c.Files.back().first);
        Run();
        for (const auto& [name, text] : c.Files)
            if (name != c.Files.back().first) {
                EXPECT_EQ(qntest::ReadFile(c.Source + name), text) << name;
            }
    }
}

}  // namespace

namespace {

// A source file deleted after a sync: its destination goes, but one the user changed since
// the sync is kept as a backup first; without that backup it stays.
TEST_F(TSyncScenario, DeletionsKeepAChangedDestinationAsABackupFirst) {
    struct TCase {
        const char* Name;
        TChange Dest;
        bool BackupFails;
        bool DestGone;
        int Backups, Errors;
    } cases[] = {
        {"unchanged: deleted", {}, false, true, 0, 0},
        {"edited since the sync: backed up, deleted", {"mine", 3}, false, true, 1, 0},
        {"edited, date kept: backed up, deleted", {"mine!", 0}, false, true, 1, 0},
        {"edited, backup impossible: kept", {"mine", 3}, true, false, 0, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Src);
        fs::remove_all(Dst);
        Mgr.Profiles.Clear();
        AddProfile(Src, Dst, {O::SyncDeletedObjects});
        Put(Src + "a.txt", "one", 0);
        Put(Src + "keep.txt", "k", 0);
        ASSERT_EQ(Run().FilesSynced, 2);
        if (c.Dest.Text) Put(Dst + "a.txt", c.Dest.Text, c.Dest.Hours);
        fs::remove(Src + "a.txt");
        // A folder where the backup's name goes makes the backup fail.
        if (c.BackupFails) fs::create_directories(Dst + "a Backup (1).txt/x");
        const TSyncStats s = Run();
        EXPECT_EQ(fs::exists(Dst + "a.txt"), !c.DestGone);
        EXPECT_EQ(s.FilesDeleted, c.DestGone ? 1 : 0);
        EXPECT_EQ(s.BackupCount, c.Backups);
        EXPECT_EQ(s.ErrorCount, c.Errors);
        if (c.Backups) {
            EXPECT_EQ(qntest::ReadFile(Dst + "a Backup (1).txt"), c.Dest.Text);
        }
        if (!c.DestGone) {
            EXPECT_EQ(qntest::ReadFile(Dst + "a.txt"), c.Dest.Text);
        }
        EXPECT_EQ(qntest::ReadFile(Dst + "keep.txt"), "k");
    }
}

}  // namespace

namespace {

// What fails is said and tried again; what the options pretend is never taken for the disk.
TEST_F(TSyncScenario, FailuresAreSaidAndTriedAgain) {
    auto fresh = [this](TFileSyncOptions options) {
        fs::remove_all(Src);
        fs::remove_all(Dst);
        Mgr.Profiles.Clear();
        return std::ref(AddProfile(Src, Dst, options));
    };
    {
        SCOPED_TRACE("a phantom destination changed on the disk is backed up before it is replaced");
        TSyncProfile& p = fresh({O::PhantomDestination});
        Put(Src + "a.txt", "one", 0);
        Put(Dst + "a.txt", "one", 0);
        Run();
        ASSERT_EQ(p.HistoryFiles.Count(), 1);
        Put(Src + "a.txt", "one, changed", 2);
        Put(Dst + "a.txt", "mine", 5);
        const TSyncStats s = Run();
        EXPECT_EQ(s.FilesSynced, 1);
        EXPECT_EQ(s.BackupCount, 1);
        EXPECT_EQ(qntest::ReadFile(Dst + "a Backup (1).txt"), "mine");
    }
    {
        SCOPED_TRACE("a file named like a backup cannot get one: left alone with an error");
        fresh({});
        Put(Src + "thesis Backup (2).txt", "v1", 0);
        ASSERT_EQ(Run().FilesSynced, 1);
        Put(Src + "thesis Backup (2).txt", "v2, the source's", 2);
        Put(Dst + "thesis Backup (2).txt", "v1, the destination's", 1);
        const TSyncStats s = Run();
        EXPECT_EQ(s.FilesSynced, 0);
        EXPECT_EQ(s.ErrorCount, 1);
        EXPECT_EQ(qntest::ReadFile(Dst + "thesis Backup (2).txt"), "v1, the destination's");
    }
    {
        SCOPED_TRACE("a copy that failed keeps the history, so an edit in the same second still counts");
        fresh({});
        const std::string big(100 * 1024, 'a');
        Put(Src + "big.txt", big, 0, 100);
        ASSERT_EQ(Run().FilesSynced, 1);
        Put(Src + "big.txt", std::string(100 * 1024, 'b'), 0, 900);
        {
            synctest::TFileSizeLimit limit(64 * 1024);
            const TSyncStats s = Run();
            EXPECT_EQ(s.FilesSynced, 0);
            EXPECT_EQ(s.ErrorCount, 1);
        }
        EXPECT_EQ(Run().FilesSynced, 1);
        EXPECT_EQ(qntest::ReadFile(Dst + "big.txt"), std::string(100 * 1024, 'b'));
    }
    {
        SCOPED_TRACE("a deletion that failed is said and tried again");
        fresh({O::SyncDeletedObjects});
        Put(Src + "x.txt", "x", 0);
        Put(Src + "keep.txt", "k", 0);
        ASSERT_EQ(Run().FilesSynced, 2);
        fs::remove(Src + "x.txt");
        // A folder of the user's now stands where the file was: it is not deleted.
        fs::remove(Dst + "x.txt");
        Put(Dst + "x.txt/inside.txt", "the user's", 0);
        TSyncStats s = Run();
        EXPECT_EQ(s.FilesDeleted, 0);
        EXPECT_EQ(s.ErrorCount, 1);
        EXPECT_EQ(qntest::ReadFile(Dst + "x.txt/inside.txt"), "the user's");
        s = Run();
        EXPECT_EQ(s.ErrorCount, 1) << "not tried again";
        fs::remove_all(Dst + "x.txt");
        s = Run();
        EXPECT_EQ(s.ErrorCount, 0);
    }
}

}  // namespace
