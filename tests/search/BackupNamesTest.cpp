// Backup names: parsing and composing, the version numbers in use, the per-file notes.
#include "SearchTestSupport.h"

#include "locations/BackupFileParts.h"
#include "locations/LocationOwner.h"
#include "locations/ZipFileParts.h"

#include <gtest/gtest.h>

namespace {

using searchtest::Exists;
using searchtest::Write;

TEST(BackupNames, ParseAndRebuild) {
    TSimpleLocationOwner owner;
    struct TCase {
        const char* Name;
        const char* Base;
        const char* Ext;
        int Counter;
        const char* CounterText;
        const char* Diff;
        const char* Extra;
    } cases[] = {
        {"report.txt", "report", ".txt", 0, "0", "", ""},
        {"report Backup (12).txt.diff", "report", ".txt", 12, "12", ".diff", ".diff"},
        {"report Backup (x).txt.ini", "report", ".txt", -2, "x", "", ".ini"},
        {"report Backup (x).txt.zip", "report", ".txt", -1, "x", "", ".zip"},
        {"README Backup (2)", "README", "", 2, "2", "", ""},
        {"a Backup (1) Backup (2).txt", "a Backup (1)", ".txt", 2, "2", "", ""},
        {"Backup (old).txt", "Backup (old)", ".txt", 0, "0", "", ""},  // no name before it
        {"report Backup (old).txt", "report", ".txt", -1, "old", "", ""},
        {"report backup (3).TXT", "report", ".TXT", 3, "3", "", ""},  // ignoring case
        {"notes.different", "notes", ".different", 0, "0", "", ""},
        {"f[1] Backup (4).txt", "f[1]", ".txt", 4, "4", "", ""},
        {"price$Ext Backup (1).txt", "price$Ext", ".txt", 1, "1", "", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBackupFileParts b(&owner);
        b.SetLocation(std::string("/data/") + c.Name);
        EXPECT_EQ(b.Target->BaseName, c.Base);
        EXPECT_EQ(b.Target->Extension, c.Ext);
        EXPECT_EQ(b.Counter, c.Counter);
        EXPECT_EQ(b.CounterText, c.CounterText);
        EXPECT_EQ(b.DiffSuffix, c.Diff);
        EXPECT_EQ(b.ExtraSuffix, c.Extra);
        if (c.Counter != -1 && std::string_view(c.Name).find("backup") == std::string_view::npos) {
            b.RebuildName();
            EXPECT_EQ(b.GetLocation(), std::string("/data/") + c.Name);
        }
    }
    // From the notes to version 3, and to the file itself.
    TBackupFileParts b(&owner);
    b.SetLocation("/data/report Backup (x).txt.ini");
    b.SetCounter(3);
    b.RebuildName();
    EXPECT_EQ(b.GetLocation(), "/data/report Backup (3).txt");
    b.SetCounter(-1);
    b.RebuildName();
    EXPECT_EQ(b.GetLocation(), "/data/report Backup (x).txt.zip");
    b.SetCounter(-2);  // rebuilds at once
    EXPECT_EQ(b.GetLocation(), "/data/report Backup (x).txt.ini");
    b.SetCounter(0);
    b.RebuildName();
    EXPECT_EQ(b.GetLocation(), "/data/report.txt");
    EXPECT_EQ(b.BackupArchiveName(), "/data/report Backup (x).txt.zip");
    EXPECT_EQ(b.BackupArchiveLocation(), "/data/report Backup (x).txt.zip");
    EXPECT_EQ(b.VersionLocation(7, true), "/data/report Backup (7).txt.diff");
    // Folders have no backup name.
    b.SetLocation("/data/x Backup (3)/");
    EXPECT_EQ(b.Counter, 0);
}

TEST(BackupNames, PatternTokensAreReplacedWhereTheyStand) {
    TBackupPattern p;
    EXPECT_EQ(p.Tokens(), (std::vector<std::string>{"$File", "$Ctr", "$Ext"}));
    EXPECT_EQ(p.FillBackupPattern("report", "3", ".txt"), "report Backup (3).txt");
    EXPECT_EQ(p.FillBackupPattern("report", "(x)", ".txt.zip"), "report Backup (x).txt.zip");
    // Text that the name brings along is never taken for a token.
    EXPECT_EQ(p.FillBackupPattern("price$Ext", "1", ".$Ctr"), "price$Ext Backup (1).$Ctr");
    p.SetBackupPattern("($Ctr) $File$Ext");
    EXPECT_EQ(p.Tokens(), (std::vector<std::string>{"$Ctr", "$File", "$Ext"}));
    EXPECT_EQ(p.FillBackupPattern("notes", "7", ".txt"), "(7) notes.txt");
    std::string file, ctr, ext;
    ASSERT_TRUE(p.Parse("(7) notes", file, ctr, ext));
    EXPECT_EQ(file, "notes");
    EXPECT_EQ(ctr, "7");
}

TEST(BackupNames, MaskEscapesAndSplits) {
    EXPECT_EQ(EscapeMaskChars("f[1]*?|.txt"), "f[[]1][*][?][|].txt");
    EXPECT_TRUE(MatchesMask("f[1]*?|.txt", EscapeMaskChars("f[1]*?|.txt")));
    EXPECT_FALSE(MatchesMask("f1xy|.txt", EscapeMaskChars("f[1]*?|.txt")));
    EXPECT_EQ(SplitMasks("*.txt|a[|]b|c"), (std::vector<std::string>{"*.txt", "a[|]b", "c"}));
    EXPECT_EQ(SplitMasks(""), std::vector<std::string>{""});
}

struct TVersions : ::testing::TestWithParam<bool> {
    qntest::TTempDir Dir{"qnbackup"};
    std::string D = Dir.Path() + "/";
    std::unique_ptr<TFindFiles> Engine;
    std::unique_ptr<TSimpleLocationOwner> Simple;
    TLocationOwner* Owner = nullptr;
    void SetUp() override {
        // The engine's search, and the owner's own folder look-up.
        if (GetParam()) Owner = (Engine = std::make_unique<TFindFiles>()).get();
        else Owner = (Simple = std::make_unique<TSimpleLocationOwner>()).get();
    }
    std::string Next(const std::string& file, bool next = true) {
        TBackupFileParts b(Owner);
        b.SetLocation(D + file);
        return b.GetBackupName(next);
    }
};

INSTANTIATE_TEST_SUITE_P(Owners, TVersions, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Engine" : "SimpleOwner"; });

TEST_P(TVersions, NextIsAboveTheHighestInUse) {
    Write(D + "report.txt", "r");
    EXPECT_EQ(Next("report.txt"), D + "report Backup (1).txt");
    EXPECT_EQ(Next("report.txt", false), "");
    // Versions 1 and 3: the gap stays, the newest is 3 and the next 4.
    Write(D + "report Backup (1).txt", "1");
    Write(D + "report Backup (3).txt.diff", "3");
    EXPECT_EQ(Next("report.txt"), D + "report Backup (4).txt");
    EXPECT_EQ(Next("report.txt", false), D + "report Backup (3).txt");
    // From any version of the file the same answer.
    EXPECT_EQ(Next("report Backup (1).txt"), D + "report Backup (4).txt");
    // Names that only look alike do not count.
    Write(D + "report Backup (9).txt.zip", "z");
    Write(D + "report Backup (old).txt", "o");
    Write(D + "report Backup (1) Backup (8).txt", "b");
    Write(D + "Report Backup (7).txt", "other file");
    Write(D + "report Backup (6).text", "other file");
    EXPECT_EQ(Next("report.txt"), D + "report Backup (4).txt");
    // A folder of a version's name is no version.
    searchtest::MakeDirs(D + "report Backup (5).txt");
    EXPECT_EQ(Next("report.txt"), D + "report Backup (4).txt");
}

TEST_P(TVersions, MaskCharactersInTheFileName) {
    Write(D + "f[1].txt", "f");
    Write(D + "f[1] Backup (2).txt", "2");
    Write(D + "f1 Backup (5).txt", "not f[1]'s");
    EXPECT_EQ(Next("f[1].txt"), D + "f[1] Backup (3).txt");
    Write(D + "a*b?.log", "x");
    Write(D + "a*b? Backup (1).log", "1");
    Write(D + "aXbY Backup (4).log", "not a*b?'s");
    EXPECT_EQ(Next("a*b?.log"), D + "a*b? Backup (2).log");
    Write(D + "p|q.txt", "x");
    Write(D + "p|q Backup (2).txt", "2");
    EXPECT_EQ(Next("p|q.txt"), D + "p|q Backup (3).txt");
    Write(D + "README", "x");
    Write(D + "README Backup (2)", "2");
    EXPECT_EQ(Next("README", false), D + "README Backup (2)");
}

// A backup archive that still holds the file itself under its own name: listing it
// renames that member to the next version that neither the folder nor the archive uses.
TEST_P(TVersions, ListingABackupArchiveMigratesTheFileItself) {
    Write(D + "src/report.txt", "old current");
    Write(D + "src/report Backup (1).txt", "v1");
    ASSERT_EQ(std::system(("cd '" + D + "src' && zip -q '../report Backup (x).txt.zip' "
                           "report.txt 'report Backup (1).txt'").c_str()),
              0);
    Write(D + "report Backup (2).txt", "v2");
    const std::string archive = D + "report Backup (x).txt.zip";
    TZipFileParts listing(Owner);
    listing.SetLocation("zip://" + archive + "/");
    listing.ListContents();
    EXPECT_EQ(listing.Names().ToVector(),
              (std::vector<std::string>{"report Backup (3).txt", "report Backup (1).txt"}));
    TZipFileParts moved(Owner);
    moved.SetLocation("zip://" + archive + "/report Backup (3).txt");
    std::unique_ptr<TStream> s = moved.OpenReadStream();
    ASSERT_TRUE(s);
    std::string text(size_t(s->Size()), '\0');
    text.resize(s->ReadFull(text.data(), text.size()));
    EXPECT_EQ(text, "old current");
}

TEST_P(TVersions, ReadingNamesNeverTouchesTheArchive) {
    // An archive that is no zip at all, holding (as far as anyone could tell) the file
    // itself: names are read and composed without opening, searching or migrating it.
    Write(D + "report.txt", "r");
    const std::string archive = D + "report Backup (x).txt.zip";
    Write(archive, "report.txt");
    TBackupFileParts member(Owner);
    member.SetLocation("zip://" + archive + "/report.txt");
    EXPECT_EQ(member.Counter, 0);
    EXPECT_EQ(Next("report.txt"), D + "report Backup (1).txt");
    EXPECT_EQ(qntest::ReadFile(archive), "report.txt");
}

TEST(BackupNames, FindBackupCopy) {
    qntest::TTempDir dir("qnbackup");
    const std::string d = dir.Path() + "/";
    TFindFiles engine;
    Write(d + "backups/report.txt", "in backups");
    TBackupFileParts b(&engine), ref(&engine);
    b.SetLocation(d + "src/report.txt");
    ref.SetLocation(d + "src/report.txt");
    EXPECT_TRUE(b.FindBackupCopy(d + "backups/", d + "other/", ref));
    EXPECT_EQ(b.GetLocation(), d + "backups/report.txt");
    Write(d + "other/report.txt", "in other");
    b.SetLocation(d + "src/report.txt");
    EXPECT_TRUE(b.FindBackupCopy(d + "backups/", d + "other/", ref));
    EXPECT_EQ(b.GetLocation(), d + "other/report.txt");
    b.SetLocation(d + "src/none.txt");
    EXPECT_FALSE(b.FindBackupCopy(d + "backups/", d + "other/", ref));
    EXPECT_EQ(b.GetLocation(), d + "src/none.txt");
}

TEST(BackupNotes, LoadSaveAndOneReadForAllVersions) {
    qntest::TTempDir dir("qnnotes");
    const std::string d = dir.Path() + "/";
    TFindFiles engine;
    TNotesIniFile notes(&engine);
    notes.LoadFor(d + "report.txt");
    EXPECT_EQ(notes.NotesLocation(), d + "report Backup (x).txt.ini");
    EXPECT_EQ(notes.SectionCount(), 0);
    EXPECT_FALSE(notes.Save());  // nothing to write
    EXPECT_FALSE(Exists(notes.NotesLocation()));
    notes.WriteString("Comment", "0", "current");
    notes.WriteString("Comment", "5", "line one\nline two");
    ASSERT_TRUE(notes.Save());
    const std::string text = qntest::ReadFile(d + "report Backup (x).txt.ini");
    EXPECT_EQ(text, "<Comment>\r\n0=current\r\n5=line one\x05line two\r\n\r\n");
    TFileInfoRec info;
    ASSERT_TRUE(LocalInfoOf(d + "report Backup (x).txt.ini", info));
    EXPECT_EQ(info.Attributes & faArchive, uint32_t(faArchive));

    TNotesIniFile reader(&engine);
    EXPECT_EQ(reader.CommentFor(d + "report Backup (5).txt"), "line one\r\nline two");
    // The same notes file is not read again for another version of the file.
    Write(d + "report Backup (x).txt.ini", "<Comment>\r\n0=changed\r\n");
    EXPECT_EQ(reader.CommentFor(d + "report.txt"), "current");
    EXPECT_EQ(reader.CommentFor(d + "report Backup (3).txt.diff"), "");
    // Another file's notes are.
    Write(d + "other Backup (x).txt.ini", "[Comment]\r\n0=bracketed\r\n");
    EXPECT_EQ(reader.CommentFor(d + "other.txt"), "bracketed");
    // Folders and invalid locations have none, and leave nothing behind.
    EXPECT_EQ(reader.CommentFor(d), "");
    EXPECT_EQ(reader.CommentFor("relative.txt"), "");
    EXPECT_EQ(reader.SectionCount(), 0);
}

}  // namespace
