// Setting a profile's source and destination: the checks against real folders, their
// messages and questions, and profiles made from dropped items.
#include "sync/SyncDocument.h"

#include "SyncTestSupport.h"
#include "locations/LocationOwner.h"

#include <gtest/gtest.h>

#include <filesystem>

using qntest::TTempDir;
using synctest::TScriptedPrompter;
namespace fs = std::filesystem;

namespace {

const std::string IsDirectory =
    "Source appears to be a directory and not a Directory\\File or Directory\\Filter.";
const std::string NoFile = "Source File/Filter doesn't exist.";
const std::string NoFolder = "Source Directory doesn't exist.";
const std::string SyncDeletedCleared =
    "Changing source which contains files that might delete upon next sync, and you probably "
    "don't want Sync Deleted objects checked.  I'll uncheck it.";
const std::string SameFolders =
    "When source and dest are the same,\r\n\"Backup Destination on Change\" checked is "
    "recommended.\r\nIf so, \"Sync Changes Only\" checked is recommended if you don't want "
    "backups on initial sync.";
const std::string SlashQuestion =
    "Would you like to put a \"/\" at the end of the Destination?\r\nA \"/\" copies to a "
    "directory\r\nWithout indicates dest is a filename";
const std::string Improper = "Destination doesn't appear to be proper structure.";

// A named document in a folder with src/a.txt and src/sub/.
class SyncEdit : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(Dir / "src/sub");
        qntest::WriteFile(Dir / "src/a.txt", "a");
        ASSERT_TRUE(Doc.LoadFile(Dir / "doc.fmw"));
    }
    int AddProfile(const std::string& line) { return Doc.Profiles().Add(line, nullptr); }

    TTempDir Dir{"qnsync"};
    TSimpleLocationOwner Owner{Dir.Path()};
    TScriptedPrompter Prompter;
    TSyncDocument Doc{Prompter};
};

}  // namespace

TEST_F(SyncEdit, SourceChecks) {
    const std::string d = Dir.Path();
    struct TCase {
        std::string Text, Source, Message;
    } cases[] = {
        {d + "/src/a.txt", d + "/src/a.txt", ""},
        {"  " + d + "/src/*.txt  ", d + "/src/*.txt", ""},
        {d + "/src/", d + "/src/", IsDirectory},
        {d + "/src/sub", d + "/src/sub", IsDirectory},
        {d + "/src/missing.txt", d + "/src/missing.txt", NoFile},
        {d + "/gone/*.txt", d + "/gone/*.txt", NoFolder},
        {"relative/*.txt", "relative/*.txt", NoFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        Doc.Profiles().Clear();
        AddProfile("/old/*.txt -> /dst/");
        Prompter.Clear();
        EXPECT_EQ(Doc.SetSource({0}, c.Text, &Owner), c.Message.empty());
        EXPECT_EQ(Doc.Profiles().Line(0), c.Source + " -> /dst/") << "the change is kept";
        EXPECT_EQ(Prompter.Messages,
                  c.Message.empty() ? std::vector<std::string>{} : std::vector{c.Message});
        EXPECT_TRUE(Doc.Modified());
    }
}

TEST_F(SyncEdit, SourceStopsAfterTheFirstFailedProfileAndClearsSyncDeleted) {
    const std::string d = Dir.Path();
    for (int i = 0; i < 3; ++i) AddProfile("/old" + std::to_string(i) + "/*.txt -> /dst/");
    EXPECT_FALSE(Doc.SetSource({0, 1, 2}, d + "/gone/*.txt", &Owner));
    EXPECT_EQ(Doc.Profiles().Line(0), d + "/gone/*.txt -> /dst/");
    EXPECT_EQ(Doc.Profiles().Line(1), "/old1/*.txt -> /dst/");
    EXPECT_EQ(Prompter.Messages, std::vector<std::string>{NoFolder});

    // A profile with a history would delete files of the old source: the option goes.
    TSyncProfile& withHistory = Doc.Profiles().Profile(1);
    withHistory.Options.Include(TFileSyncOption::SyncDeletedObjects);
    withHistory.EngineCopy->Options.Include(TFileSyncOption::SyncDeletedObjects);
    withHistory.EngineCopy->HistoryFiles.Add("/old1/x.txt");
    Doc.Profiles().Profile(2).Options.Include(TFileSyncOption::SyncDeletedObjects);
    Prompter.Clear();
    EXPECT_TRUE(Doc.SetSource({1, 2}, d + "/src/*.txt", &Owner));
    EXPECT_EQ(Prompter.Messages, std::vector<std::string>{SyncDeletedCleared});
    EXPECT_FALSE(withHistory.Has(TFileSyncOption::SyncDeletedObjects));
    EXPECT_FALSE(withHistory.EngineCopy->Has(TFileSyncOption::SyncDeletedObjects));
    EXPECT_TRUE(Doc.Profiles().Profile(2).Has(TFileSyncOption::SyncDeletedObjects))
        << "without a history nothing can be deleted by mistake";

    // The same folder on both sides earns the advice once.
    Doc.Profiles().SetLine(2, "/x/*.txt -> " + d + "/src/");
    Prompter.Clear();
    EXPECT_TRUE(Doc.SetSource({2}, d + "/src/*.txt", &Owner));
    EXPECT_EQ(Prompter.Messages, std::vector<std::string>{SameFolders});
}

TEST_F(SyncEdit, DestinationChecks) {
    const std::string d = Dir.Path();
    const std::string source = d + "/src/*.txt";
    struct TCase {
        std::string Source, Text;
        std::vector<TMsgDlgBtn> Answers;
        std::string Dest;
        std::vector<std::string> Messages;
        bool Ok;
        bool RootRelative;
    } cases[] = {
        {source, d + "/dst", {TMsgDlgBtn::mbYes}, d + "/dst/", {}, true, false},
        {source, d + "/dst", {TMsgDlgBtn::mbNo}, d + "/dst", {}, true, false},
        {source, d + "/dst/", {}, d + "/dst/", {}, true, false},
        {source, d + "/out.txt", {}, d + "/out.txt", {}, true, false},
        {source, d + "/dst/<file:>", {}, d + "/dst/<file:>", {}, true, false},
        {source, "  " + d + "/dst/  ", {}, d + "/dst/", {}, true, false},
        // The root of the same file system: the source's folder is taken instead.
        {source,
         "/",
         {},
         d + "/src/",
         {"This setting could be devestating.  Normally, you\r\ncopy files to another drive, but "
          "you are\r\ntrying to copy files to the root of the same drive.\r\nMaybe you want "
          "Source=Dest.\r\nI'll help you out.",
          SameFolders},
         true,
         false},
        // The root for a source elsewhere: the source's path is kept below it.
        {"ftp://127.0.0.1/pub/*",
         "/",
         {},
         "/",
         {"Normally you don't want to copy files to the root \r\nwithout setting \"Source Dir "
          "Prefix\".\r\nThus, I'll help you out."},
         true,
         true},
        {source, "relative/dir/", {}, "relative/dir/", {Improper}, false, false},
        {source, "\\", {}, "", {}, true, false},
        {source, "", {}, "", {}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Source + " -> " + c.Text);
        Doc.Profiles().Clear();
        AddProfile(c.Source + " -> /old/");
        Prompter.Clear();
        Prompter.Answers.assign(c.Answers.begin(), c.Answers.end());
        EXPECT_EQ(Doc.SetDest({0}, c.Text, &Owner), c.Ok);
        EXPECT_EQ(Doc.Profiles().Line(0), c.Source + " -> " + c.Dest);
        EXPECT_EQ(Prompter.Messages, c.Messages);
        EXPECT_EQ(Prompter.Questions.size(), c.Answers.size());
        if (!c.Answers.empty()) {
            EXPECT_EQ(Prompter.Questions[0], SlashQuestion);
        }
        EXPECT_EQ(Doc.Profiles().Profile(0).Has(TFileSyncOption::RootRelativeDir), c.RootRelative);
        EXPECT_TRUE(Prompter.Answers.empty());
    }

    // Several profiles: asked once, stopped after the first improper destination.
    Doc.Profiles().Clear();
    for (int i = 0; i < 2; ++i) AddProfile(source + " -> /old/");
    Prompter.Clear();
    Prompter.Answers = {TMsgDlgBtn::mbYes};
    EXPECT_TRUE(Doc.SetDest({0, 1}, d + "/dst", &Owner));
    EXPECT_EQ(Doc.Profiles().Line(1), source + " -> " + d + "/dst/");
    EXPECT_EQ(Prompter.Questions.size(), 1u);
    EXPECT_FALSE(Doc.SetDest({0, 1}, "relative/", &Owner));
    EXPECT_EQ(Doc.Profiles().Line(1), source + " -> " + d + "/dst/");
}

TEST_F(SyncEdit, DroppedItemsBecomeProfiles) {
    const std::string d = Dir.Path();
    int file = Doc.AddDroppedProfile(d + "/src/a.txt", false, &Owner);
    int folder = Doc.AddDroppedProfile(d + "/src/*", true, &Owner);
    EXPECT_TRUE(Prompter.Messages.empty());
    EXPECT_EQ(Doc.Profiles().Line(file), d + "/src/a.txt -> ");
    EXPECT_EQ(Doc.Profiles().Profile(file).Options.Bits(), 0x02800A44u);
    EXPECT_EQ(Doc.Profiles().Profile(folder).Options.Bits(), 0x02800A74u);
    EXPECT_EQ(Doc.Profiles().Profile(folder).EngineCopy->Options.Bits(), 0x02800A74u);
    EXPECT_EQ(Doc.Profiles().Profile(folder).DetectInterval, 1.0 / 48);
    EXPECT_EQ(ProfileDest(Doc.Profiles().Line(folder)), "");
    EXPECT_TRUE(Doc.Modified());
    Doc.AddDroppedProfile(d + "/gone.txt", false, &Owner);
    EXPECT_EQ(Prompter.Messages, std::vector<std::string>{NoFile});
    EXPECT_EQ(Doc.Profiles().Count(), 3);
}
