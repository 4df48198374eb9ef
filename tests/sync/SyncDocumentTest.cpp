// Sync documents: loading, saving byte for byte, the backup of the previous version,
// interrupted saves, the document commands and their questions.
#include "sync/SyncDocument.h"

#include "SyncTestSupport.h"
#include "common/SafeFile.h"
#include "common/ifutils.h"
#include "locations/URLParts.h"
#include "platform/XdgDirs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using qntest::TTempDir;
using synctest::Fixture;
using synctest::TScriptedPrompter;
namespace fs = std::filesystem;

namespace {

const std::string SaveFailedPrefix = "File Mirrowyn needs to save ";
const std::string NeedsName = "File Mirrowyn needs to save data to a file.  Select a FileName...";

// A copy of a fixture in Dir.
std::string CopyFixture(const TTempDir& dir, const std::string& name) {
    std::string path = dir / name;
    qntest::WriteFile(path, ReadFileBytes(Fixture(name)));
    return path;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> r;
    for (const auto& e : fs::directory_iterator(dir)) r.push_back(e.path().filename().string());
    std::sort(r.begin(), r.end());
    return r;
}

// The fixture with the record of profile 0 replaced.
std::string WithRecord0(const std::string& text, const std::string& hex) {
    size_t at = text.find("<Profile-0>\r\nOption=");
    EXPECT_NE(at, std::string::npos);
    at += std::string("<Profile-0>\r\nOption=").size();
    std::string r = text;
    r.replace(at, r.find("\r\n", at) - at, hex);
    return r;
}

}  // namespace

TEST(SyncDocument, CurrentFixtureLoadsWithItsValues) {
    TTempDir dir("qnsync");
    std::string path = CopyFixture(dir, "current.fmw");
    TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path));
    EXPECT_TRUE(doc.UpgradeStepsRun().empty());
    EXPECT_TRUE(prompter.Messages.empty()) << "a current document shows no migration message";
    EXPECT_FALSE(doc.Modified());
    EXPECT_EQ(doc.FileName(), path);

    ASSERT_EQ(doc.Profiles().Count(), 2);
    EXPECT_EQ(doc.Profiles().Line(0), "/data/src/*.txt -> /backup/dst/");
    const TSyncProfile& p = doc.Profiles().Profile(0);
    EXPECT_EQ(p.Options.Bits(), 0x02800AF4u);
    EXPECT_EQ(p.DetectInterval, 1.0 / 48);
    EXPECT_EQ(p.SyncDelay, 1.0 / 1440);
    EXPECT_EQ(p.LastDetectTime, 45292.5);
    EXPECT_FALSE(p.DetectOnly);
    EXPECT_EQ(p.ChangeCount, 3);
    EXPECT_TRUE(p.Selected);
    EXPECT_EQ(p.ChangeDetectedTime, 45292.75);
    EXPECT_EQ(p.FilterRegExpr, "\\.bak$");
    EXPECT_EQ(p.TextInFileRegExpr, "secret");
    EXPECT_EQ(p.HistoryFiles.ToVector(),
              (std::vector<std::string>{"/data/src/a.txt", "/data/src/b.txt"}));
    ASSERT_EQ(p.HistoryFileInfo.Count(), 2);
    std::optional<TFileInfoRec> info = TFileInfoRec::FromHex(p.HistoryFileInfo[1]);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Size, 200);
    EXPECT_EQ(info->Attributes, 33u);
    EXPECT_EQ(p.HistoryStats.Values("FileSizeTotal"), "300");
    EXPECT_EQ(p.FTPDestLoginInfo.Values("UserName"), "mirror");
    EXPECT_TRUE(p.FTPSourceLoginInfo.Empty());
    ASSERT_TRUE(p.EngineCopy);
    EXPECT_EQ(EncodeProfileRecord(*p.EngineCopy), EncodeProfileRecord(p));
    EXPECT_EQ(p.EngineCopy->HistoryFiles, p.HistoryFiles);

    EXPECT_EQ(ProfileDest(doc.Profiles().Line(1)), "");
    EXPECT_EQ(doc.Profiles().Profile(1).ChangeDetectedTime, NoChangeDetected);
    EXPECT_EQ(doc.Log().Count(), 2);
    EXPECT_EQ(doc.LogStats().Count(), 1);

    TSyncDocOptions o = doc.Options();
    EXPECT_EQ(o.Version, "3.40");
    EXPECT_EQ(o.TimerInterval, 5);
    EXPECT_EQ(o.AutoSaveInterval, 1.0 / 48);
    EXPECT_EQ(o.SaveLogTimeOfDay, 0.5);
    EXPECT_EQ(o.LastDirectory, "/tmp");
    EXPECT_EQ(o.BackupLabel, "$File Backup ($Ctr)$Ext");
    EXPECT_TRUE(o.SaveLogWeekly);
    EXPECT_FALSE(o.FileComparePreview);
}

TEST(SyncDocument, CurrentDocumentSavesByteForByteAndKeepsThePreviousAsBak) {
    TTempDir dir("qnsync");
    std::string path = CopyFixture(dir, "current.fmw");
    const std::string original = ReadFileBytes(path);
    TScriptedPrompter prompter;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        TSyncDocument doc(prompter);
        ASSERT_TRUE(doc.LoadFile(path));
        ASSERT_TRUE(doc.SaveFile());
        EXPECT_EQ(ReadFileBytes(path), original);
        EXPECT_EQ(ReadFileBytes(path + ".bak"), original);
    }
    EXPECT_TRUE(prompter.Messages.empty());
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"current.fmw", "current.fmw.bak"}))
        << "no temporary file is left behind";

    // A changed document: the .bak holds the version before the latest save.
    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path));
    doc.Log().Add("2024/01/02 00:00:00: one more line");
    ASSERT_TRUE(doc.SaveFile());
    EXPECT_EQ(ReadFileBytes(path + ".bak"), original);
    const std::string second = ReadFileBytes(path);
    EXPECT_NE(second, original);
    doc.Log().Add("2024/01/03 00:00:00: and another");
    ASSERT_TRUE(doc.SaveFile());
    EXPECT_EQ(ReadFileBytes(path + ".bak"), second);
}

TEST(SyncDocument, JunkInReferenceSlotsIsReadAsIgnoredAndWrittenAsZeros) {
    TTempDir dir("qnsync");
    const std::string original = ReadFileBytes(Fixture("current.fmw"));
    TScriptedPrompter prompter;
    TSyncDocument clean(prompter);
    ASSERT_TRUE(clean.LoadFile(Fixture("current.fmw")));
    std::string hex = ProfileRecordToHex(clean.Profiles().Profile(0));
    // Slots 44-51, 53-84 and 93-96 and the reserved bytes filled with junk.
    for (size_t byte = 0; byte < SyncProfileRecordSize; ++byte) {
        bool value = byte < 4 || (byte >= 15 && byte < 44) || byte == 52 ||
                     (byte >= 85 && byte < 93);
        if (!value) hex.replace(2 * byte, 2, IntToHex((byte * 37 + 11) & 0xFF, 2));
    }
    std::string path = dir / "junk.fmw";
    qntest::WriteFile(path, WithRecord0(original, hex));

    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path));
    EXPECT_EQ(EncodeProfileRecord(doc.Profiles().Profile(0)),
              EncodeProfileRecord(clean.Profiles().Profile(0)));
    ASSERT_TRUE(doc.SaveFile());
    EXPECT_EQ(ReadFileBytes(path), original) << "the slots are written as zeros";
}

TEST(SyncDocument, ProfilesSurviveSaveAndReload) {
    TTempDir dir("qnsync");
    std::string path = dir / "sub/folder/new.fmw";
    TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path)) << "a missing file is a new document under that name";
    EXPECT_EQ(doc.FileName(), path);
    EXPECT_FALSE(doc.Modified());

    auto p = NewProfile(true);
    p->Options = FolderDropOptions;
    p->DetectInterval = 2.5;
    p->SyncDelay = 1.0 / 24;
    p->FilterRegExpr = "\\.(tmp|bak)$";
    p->TextInFileRegExpr = "line one\r\nline two";
    p->Selected = true;
    p->FTPSourceLoginInfo.Add("Server=127.0.0.1");
    // The engine's copy holds the run state and the history of the last sync.
    p->EngineCopy->LastDetectTime = 45300.125;
    p->EngineCopy->ChangeCount = 2;
    p->EngineCopy->DetectOnly = true;
    p->EngineCopy->ChangeDetectedTime = 45300.5;
    p->EngineCopy->HistoryFiles.Add("/data/src/a.txt");
    p->EngineCopy->HistoryFileInfo.Add(TFileInfoRec{0x58215C00, 0, -1000, 32, 0}.ToHex());
    p->EngineCopy->HistoryStats.Add("FileCount=1");
    doc.Profiles().Add("/data/src/*.txt -> /backup/", std::move(p));
    doc.Profiles().Add("/data/line without arrow", nullptr);
    doc.Log().Add("a log line");
    doc.LogStats().Add("row; 1; 2");
    doc.DocumentStore().WriteString("Options", "LastDirectory", dir.Path());
    doc.MarkModified();
    ASSERT_TRUE(doc.SaveFile());
    EXPECT_FALSE(doc.Modified());
    EXPECT_FALSE(fs::exists(path + ".bak")) << "there was no previous version";

    TSyncDocument back(prompter);
    ASSERT_TRUE(back.LoadFile(path));
    EXPECT_TRUE(back.UpgradeStepsRun().empty());
    ASSERT_EQ(back.Profiles().Count(), 2);
    const TSyncProfile& q = back.Profiles().Profile(0);
    EXPECT_EQ(q.Options, FolderDropOptions);
    EXPECT_EQ(q.DetectInterval, 2.5);
    EXPECT_EQ(q.SyncDelay, 1.0 / 24);
    EXPECT_EQ(q.LastDetectTime, 45300.125);
    EXPECT_EQ(q.ChangeCount, 2);
    EXPECT_TRUE(q.DetectOnly);
    EXPECT_TRUE(q.Selected);
    EXPECT_EQ(q.ChangeDetectedTime, 45300.5);
    EXPECT_EQ(q.FilterRegExpr, "\\.(tmp|bak)$");
    EXPECT_EQ(q.TextInFileRegExpr, "line one\r\nline two");
    EXPECT_EQ(q.HistoryFiles.ToVector(), std::vector<std::string>{"/data/src/a.txt"});
    EXPECT_EQ(TFileInfoRec::FromHex(q.HistoryFileInfo[0])->Size, -1000);
    EXPECT_EQ(q.HistoryStats.ToVector(), std::vector<std::string>{"FileCount=1"});
    EXPECT_EQ(q.FTPSourceLoginInfo.ToVector(), std::vector<std::string>{"Server=127.0.0.1"});
    EXPECT_EQ(back.Profiles().Line(1), "/data/line without arrow");
    EXPECT_EQ(ProfileDest(back.Profiles().Line(1)), "");
    EXPECT_EQ(back.Log().ToVector(), std::vector<std::string>{"a log line"});
    EXPECT_EQ(back.LogStats().ToVector(), std::vector<std::string>{"row; 1; 2"});
    EXPECT_EQ(back.Options().LastDirectory, dir.Path());

    // A new document carries the 18 default options and the current version.
    TQNStringList expected = DefaultSyncOptionLines();
    expected.Add("Version=3.40");
    expected.Add("LastDirectory=" + dir.Path());
    TQNStringList options;
    back.DocumentStore().ReadSectionValues("Options", options);
    EXPECT_EQ(options.ToVector(), expected.ToVector());
}

TEST(SyncDocument, UnreadableRecordAndMissingSections) {
    TTempDir dir("qnsync");
    std::string path = dir / "broken.fmw";
    qntest::WriteFile(path,
                      "<Options>\r\nVersion=3.40\r\nTimerInterval=0\r\nAutoSaveInterval=zz\r\n\r\n"
                      "<Profiles>\r\n/a/*.txt -> /b/\r\n/c/ -> /d/\r\n\r\n"
                      "<Profile-0>\r\nOption=F40A80020000QQ\r\n\r\n");
    TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path));
    ASSERT_EQ(doc.Profiles().Count(), 2);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const TSyncProfile& p = doc.Profiles().Profile(i);
        EXPECT_TRUE(p.Options.Empty());
        EXPECT_EQ(p.DetectInterval, 0);
        EXPECT_EQ(p.LastDetectTime, 0);
        EXPECT_TRUE(p.HistoryFiles.Empty());
        EXPECT_TRUE(p.FTPDestLoginInfo.Empty());
    }
    EXPECT_TRUE(doc.Log().Empty());
    TSyncDocOptions o = doc.Options();
    EXPECT_EQ(o.TimerInterval, 1) << "a timer period below a second is not taken";
    EXPECT_EQ(o.AutoSaveInterval, 1.0 / 48);
    EXPECT_EQ(o.LastDirectory, HomeDir());
}

TEST(SyncDocument, NewerVersionIsOpenedOnlyWhenTheUserAgrees) {
    TTempDir dir("qnsync");
    std::string text = ReadFileBytes(Fixture("current.fmw"));
    std::string path = dir / "newer.fmw";
    text.replace(text.find("Version=3.40"), 12, "Version=3.41");
    qntest::WriteFile(path, text);
    const std::string warning = path + "\r\nwas made/saved with a newer version of FMW.\r\n"
                                       "Continuing could result in unpredictable results.\r\n"
                                       "Upgrade to the latest FMW.\r\nContinue using this file?";
    struct TCase {
        TMsgDlgBtn Answer;
        bool Loaded;
    } cases[] = {{TMsgDlgBtn::mbYes, true}, {TMsgDlgBtn::mbNo, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Loaded);
        TScriptedPrompter prompter;
        prompter.Answers = {c.Answer};
        TSyncDocument doc(prompter);
        EXPECT_EQ(doc.LoadFile(path), c.Loaded);
        EXPECT_EQ(prompter.Questions, std::vector<std::string>{warning});
        EXPECT_EQ(doc.FileName(), c.Loaded ? path : "");
        EXPECT_EQ(doc.Profiles().Count(), c.Loaded ? 2 : 0);
        EXPECT_FALSE(doc.Modified());
    }
    // A program whose version is above "9" does not ask.
    TScriptedPrompter quiet;
    TSyncDocument doc(quiet, nullptr, "9.1");
    text.replace(text.find("Version=3.41"), 12, "Version=9.2");
    qntest::WriteFile(path, text);
    EXPECT_TRUE(doc.LoadFile(path));
    EXPECT_TRUE(quiet.Questions.empty());
}

TEST(SyncDocument, UntitledDocumentAsksForAName) {
    TTempDir dir("qnsync");
    TScriptedPrompter prompter;
    TMemIniFile settings;
    TSyncDocument doc(prompter, &settings);
    std::vector<std::string> names;
    doc.OnFileNameChanged = [&names](const std::string& n) { names.push_back(n); };
    doc.Profiles().Add("/a/*.txt -> /b/", nullptr);

    // Cancelled: nothing is written and the document stays modified and untitled.
    prompter.FileNames = {""};
    doc.MarkModified();
    EXPECT_EQ(prompter.Messages, std::vector<std::string>{NeedsName});
    ASSERT_EQ(prompter.Dialogs.size(), 1u);
    EXPECT_EQ(prompter.Dialogs[0].Title, "Save File Mirrowyn File");
    EXPECT_EQ(prompter.Dialogs[0].Filter, "File Mirrowyn|*.fmw; *.qns");
    EXPECT_EQ(prompter.Dialogs[0].DefaultExt, "fmw");
    EXPECT_TRUE(doc.Modified());
    EXPECT_EQ(doc.FileName(), "");

    // An existing file is overwritten only when the user agrees; a name without an
    // extension gets ".fmw".
    qntest::WriteFile(dir / "taken.fmw", "keep me");
    prompter.Clear();
    prompter.FileNames = {dir / "taken.fmw"};
    prompter.Answers = {TMsgDlgBtn::mbNo};
    EXPECT_FALSE(doc.SaveFile());
    EXPECT_EQ(prompter.Questions, std::vector<std::string>{"File exists!  Do you wish to overwrite?"});
    EXPECT_EQ(qntest::ReadFile(dir / "taken.fmw"), "keep me");

    prompter.FileNames = {dir / "mine"};
    EXPECT_TRUE(doc.SaveFile());
    EXPECT_EQ(doc.FileName(), dir / "mine.fmw");
    EXPECT_FALSE(doc.Modified());
    EXPECT_EQ(names, std::vector<std::string>{dir / "mine.fmw"});
    EXPECT_EQ(settings.ReadString("File Mirrowyn", "LastFile", ""), dir / "mine.fmw");
    EXPECT_EQ(prompter.Dialogs.back().InitialDir, "");

    // Save As starts in the document's folder.
    prompter.FileNames = {dir / "other.fmw"};
    EXPECT_TRUE(doc.SaveAs());
    EXPECT_EQ(prompter.Dialogs.back().InitialDir, dir.Path());
    EXPECT_EQ(settings.ReadString("File Mirrowyn", "LastFile", ""), dir / "other.fmw");
}

TEST(SyncDocument, LastFileIsNotRecordedForACommandLineDocument) {
    TTempDir dir("qnsync");
    std::string path = CopyFixture(dir, "current.fmw");
    TScriptedPrompter prompter;
    TMemIniFile settings;
    TSyncDocument doc(prompter, &settings);
    doc.FromCommandLine = true;
    ASSERT_TRUE(doc.LoadFile(path));
    ASSERT_TRUE(doc.SaveFile());
    EXPECT_EQ(settings.ReadString("File Mirrowyn", "LastFile", "none"), "none");
    doc.FromCommandLine = false;
    ASSERT_TRUE(doc.LoadFile(path));
    EXPECT_EQ(settings.ReadString("File Mirrowyn", "LastFile", "none"), path);
}

TEST(SyncDocument, InterruptedSaveLeavesTheOldDocumentLoadable) {
    TTempDir dir("qnsync");
    std::string path = CopyFixture(dir, "current.fmw");
    const std::string original = ReadFileBytes(path);
    TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path));
    for (int i = 0; i < 2000; ++i)
        doc.Log().Add("2024/01/01 12:00:00: a line of the log " + std::to_string(i));
    doc.MarkModified();
    prompter.FileNames = {""};  // the offered Save As is cancelled
    {
        synctest::TFileSizeLimit limit(8192);
        EXPECT_FALSE(doc.SaveFile());
    }
    // The message says what the system said.
    ASSERT_EQ(prompter.Messages.size(), 1u);
    EXPECT_EQ(prompter.Messages[0],
              SaveFailedPrefix + path + " data to a file.  Select a FileName....\r\nCannot write file \"" + path +
                  "\": File too large");
    EXPECT_EQ(doc.LastSaveError(), "Cannot write file \"" + path + "\": File too large");
    EXPECT_EQ(prompter.Dialogs.size(), 1u);
    EXPECT_TRUE(doc.Modified());
    EXPECT_EQ(doc.FileName(), path);
    EXPECT_EQ(ReadFileBytes(path), original);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"current.fmw"})
        << "no half-written file, no .bak of an unchanged document";

    TScriptedPrompter again;
    TSyncDocument reread(again);
    ASSERT_TRUE(reread.LoadFile(path));
    EXPECT_EQ(reread.Profiles().Count(), 2);
    EXPECT_EQ(reread.Log().Count(), 2);

    // Once there is room the same document saves.
    EXPECT_TRUE(doc.SaveFile());
    TSyncDocument saved(again);
    ASSERT_TRUE(saved.LoadFile(path));
    EXPECT_EQ(saved.Log().Count(), 2002);
    EXPECT_EQ(ReadFileBytes(path + ".bak"), original);
}

TEST(SyncDocument, EitherTheOldOrTheNewDocumentIsWholeAtEveryStage) {
    TTempDir dir("qnsync");
    const std::string oldText = ReadFileBytes(Fixture("current.fmw"));
    std::string newText = oldText;
    newText.replace(newText.find("<Log>\r\n") + 7, 0, "2024/02/02 00:00:00: new\r\n");
    const TDocWriteStage stages[] = {TDocWriteStage::NewWritten, TDocWriteStage::BackupMade,
                                     TDocWriteStage::Replaced};
    struct TCrash {};
    for (TDocWriteStage crashAt : stages) {
        SCOPED_TRACE(int(crashAt));
        std::string path = dir / "doc.fmw";
        // A crash between the two renames leaves the document and its .bak as two names
        // of one file: start from separate files.
        fs::remove(path);
        fs::remove(path + ".bak");
        qntest::WriteFile(path, oldText);
        qntest::WriteFile(path + ".bak", "an older backup");
        ::chmod(path.c_str(), 0600);
        try {
            WriteDocumentFile(path, newText, [&](TDocWriteStage stage) {
                std::string now = ReadFileBytes(path);
                EXPECT_TRUE(now == (stage == TDocWriteStage::Replaced ? newText : oldText));
                if (stage != TDocWriteStage::NewWritten) {
                    EXPECT_EQ(ReadFileBytes(path + ".bak"), oldText);
                }
                if (stage == crashAt) throw TCrash{};
            });
            ADD_FAILURE() << "the crash did not happen";
        } catch (const TCrash&) {
        }
        // After the crash the document loads, as the old or the new version.
        TScriptedPrompter prompter;
        TSyncDocument doc(prompter);
        ASSERT_TRUE(doc.LoadFile(path));
        EXPECT_EQ(doc.Log().Count(), crashAt == TDocWriteStage::Replaced ? 3 : 2);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << "the document keeps its permissions";
        for (const auto& f : FilesIn(dir.Path()))
            if (f != "doc.fmw" && f != "doc.fmw.bak") fs::remove(dir / f);  // a crash's leftovers
    }
}

TEST(SyncDocument, SaveChangesQuestionAndNew) {
    TTempDir dir("qnsync");
    std::string path = CopyFixture(dir, "current.fmw");
    const std::string question = "Do you wish to save changes to " + path + "?";
    struct TCase {
        bool Modified;
        std::vector<TMsgDlgBtn> Answers;
        bool GoOn, Saved;
    } cases[] = {
        {false, {}, true, false},
        {true, {TMsgDlgBtn::mbYes}, true, true},
        {true, {TMsgDlgBtn::mbNo}, true, false},
        {true, {TMsgDlgBtn::mbCancel}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Answers.size());
        fs::remove(path + ".bak");
        TScriptedPrompter prompter;
        prompter.Answers.assign(c.Answers.begin(), c.Answers.end());
        TSyncDocument doc(prompter);
        ASSERT_TRUE(doc.LoadFile(path));
        if (c.Modified) doc.MarkModified();
        EXPECT_EQ(doc.QuerySaveChanges(), c.GoOn);
        EXPECT_EQ(prompter.Questions.size(), c.Modified ? 1u : 0u);
        if (c.Modified) {
            EXPECT_EQ(prompter.Questions[0], question);
        }
        EXPECT_EQ(fs::exists(path + ".bak"), c.Saved);
    }

    // New: an untitled question, then an empty document that at once asks for its name.
    TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path));
    doc.MarkModified();
    prompter.Answers = {TMsgDlgBtn::mbCancel};
    EXPECT_FALSE(doc.New());
    EXPECT_EQ(doc.Profiles().Count(), 2);
    prompter.Answers = {TMsgDlgBtn::mbNo};
    prompter.FileNames = {dir / "fresh.fmw"};
    EXPECT_TRUE(doc.New());
    EXPECT_EQ(prompter.Messages.back(), NeedsName);
    EXPECT_EQ(doc.FileName(), dir / "fresh.fmw");
    EXPECT_EQ(doc.Profiles().Count(), 0);
    EXPECT_EQ(doc.Options().TimerInterval, 5) << "the options of the document before stay";
    TScriptedPrompter quiet;
    TSyncDocument fresh(quiet);
    ASSERT_TRUE(fresh.LoadFile(dir / "fresh.fmw"));
    EXPECT_EQ(fresh.Profiles().Count(), 0);
    EXPECT_TRUE(fresh.UpgradeStepsRun().empty());
}

TEST(SyncDocument, DocumentsThatCannotBeReadOrBackedUp) {
    TTempDir dir("qnsync");
    std::string path = CopyFixture(dir, "current.fmw");
    const std::string original = ReadFileBytes(path);
    TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path));

    // A folder where a document was expected: an error, and the open document stays.
    fs::create_directories(dir / "folder.fmw");
    EXPECT_THROW(doc.LoadFile(dir / "folder.fmw"), EFileError);
    EXPECT_EQ(doc.FileName(), path);
    EXPECT_EQ(doc.Profiles().Count(), 2);

    // The previous version cannot be kept: the document is not replaced, and Save As
    // offers another name.
    fs::create_directories(path + ".bak");
    doc.Log().Add("2024/02/02 00:00:00: new");
    doc.MarkModified();
    prompter.FileNames = {dir / "elsewhere.fmw"};
    EXPECT_TRUE(doc.SaveFile());
    ASSERT_EQ(prompter.Messages.size(), 1u);
    EXPECT_EQ(prompter.Messages[0].rfind(SaveFailedPrefix + path + " data to a file.  Select a FileName....\r\n", 0),
              0u)
        << prompter.Messages[0];
    EXPECT_NE(prompter.Messages[0].find(".bak"), std::string::npos) << prompter.Messages[0];
    EXPECT_EQ(doc.LastSaveError(), "");
    EXPECT_EQ(ReadFileBytes(path), original);
    EXPECT_EQ(doc.FileName(), dir / "elsewhere.fmw");
    TSyncDocument back(prompter);
    ASSERT_TRUE(back.LoadFile(dir / "elsewhere.fmw"));
    EXPECT_EQ(back.Log().Count(), 3);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"current.fmw", "current.fmw.bak",
                                                              "elsewhere.fmw", "folder.fmw"}));
}
