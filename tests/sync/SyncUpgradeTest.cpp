// Upgrading documents of older versions: the thresholds, the oldest layout step by step,
// and steps that leave current content alone.
#include "sync/SyncUpgrade.h"

#include "SyncTestSupport.h"
#include "common/SafeFile.h"
#include "locations/URLParts.h"
#include "sync/SyncDocument.h"

#include <gtest/gtest.h>

#include <ctime>

using qntest::TTempDir;
using synctest::Fixture;
using synctest::TScriptedPrompter;

namespace {

const std::string OldLine = "c:\\src\\*.txt -> d:\\dst\\";
const std::string SpaceMessage =
    "To save space, the right side file explorer has been removed\r\n"
    "The left-side file/folder explorer can be used for the destination.";

// A fixed time zone five hours behind UTC, without daylight saving.
class TScopedTimeZone {
public:
    explicit TScopedTimeZone(const char* tz) : FEnv("TZ", tz) { ::tzset(); }
    ~TScopedTimeZone() { ::tzset(); }

private:
    qntest::TScopedEnv FEnv;
};

std::vector<std::string> Lines(const TQNMemIniFile& store, const std::string& section) {
    const TQNStringList* lines = store.FindSection(section);
    return lines ? lines->ToVector() : std::vector<std::string>{"<missing>"};
}

std::vector<std::string> Names(const TQNMemIniFile& store) {
    std::vector<std::string> names;
    for (int i = 0; i < store.SectionCount(); ++i) names.push_back(store.SectionName(i));
    return names;
}

uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
    return PackDosDateTime(y, mo, d, h, mi, s);
}

}  // namespace

TEST(SyncUpgrade, StepsByStoredVersion) {
    for (const TSyncUpgradeStep& step : SyncUpgradeSteps())
        EXPECT_FALSE(VersionBefore(FMWVersion, step.Threshold))
            << "the program's version is above " << step.Threshold;
    struct TCase {
        const char* Version;
        std::vector<std::string> Steps;
    } cases[] = {
        {"1.00", {"2.02", "2.04", "2.06", "2.10", "2.491", "2.571", "3.05", "3.021", "3.212", "3.39"}},
        {"2.10", {"2.491", "2.571", "3.05", "3.021", "3.212", "3.39"}},
        {"2.571", {"3.05", "3.021", "3.212", "3.39"}},
        {"3.021", {"3.05", "3.212", "3.39"}},
        {"3.1", {"3.212", "3.39"}},
        {"3.39", {}},
        {"3.40", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Version);
        TFMWMemIniFile store;
        TScriptedPrompter prompter;
        EXPECT_EQ(UpgradeSyncDocument(store, c.Version, prompter), c.Steps);
        EXPECT_TRUE(prompter.Messages.empty()) << "nothing of the old layout was there";
    }
}

TEST(SyncUpgrade, OldestDocumentStepByStep) {
    TScopedTimeZone zone("EST5");
    TFMWMemIniFile store(Fixture("oldest.fmw"));
    TScriptedPrompter prompter;
    const std::string files = "Files-" + OldLine;
    const uint32_t localTime = Dos(1999, 3, 4, 5, 6, 6);

    for (const TSyncUpgradeStep& step : SyncUpgradeSteps()) {
        SCOPED_TRACE(step.Threshold);
        step.Run(store, prompter);
        const std::string t(step.Threshold);
        if (t == "2.02") {
            EXPECT_EQ(prompter.Messages, std::vector<std::string>{SpaceMessage});
            EXPECT_EQ(Names(store), (std::vector<std::string>{
                                        OldLine, files, files + "\"FileInfo", files + ":Stats",
                                        "Log", "Options", "Profiles"}));
            EXPECT_EQ(Lines(store, "Profiles"), std::vector<std::string>{OldLine});
            EXPECT_EQ(Lines(store, "Options"),
                      (std::vector<std::string>{"BackupLabel=$File Old ($Ctr)$Ext",
                                                "TimerInterval=2", "LastDirectory=c:\\"}));
            EXPECT_EQ(Lines(store, "Log").size(), 1u);
            EXPECT_EQ(Lines(store, files),
                      (std::vector<std::string>{"c:\\src\\a.txt", "c:\\src\\b.txt"}));
            EXPECT_EQ(Lines(store, files + "\"FileInfo"),
                      (std::vector<std::string>{"C32864262C01000020000000",
                                                "0000210018FCFFFF20000000"}));
        } else if (t == "2.04") {
            EXPECT_EQ(Lines(store, "Options").size(), 3u + 17u) << "existing keys win";
            EXPECT_EQ(store.ReadString("Options", "BackupLabel", ""), "$File Old ($Ctr)$Ext");
            EXPECT_EQ(store.ReadString("Options", "HintsOn", ""), "1");
        } else if (t == "2.06") {
            EXPECT_EQ(store.ReadString(OldLine, "Option", "").substr(0, 8), "440A00FF");
        } else if (t == "2.10") {
            EXPECT_EQ(store.ReadString("Options", "BackupLabel", ""), "$File Backup ($Ctr)$Ext");
        } else if (t == "2.491") {
            EXPECT_FALSE(store.SectionExists(files + ":Stats"));
            EXPECT_EQ(Lines(store, files + "\"Stats").size(), 3u);
        } else if (t == "2.571") {
            EXPECT_EQ(Names(store),
                      (std::vector<std::string>{"Log", "Options", "Profile-0", "Profile-0-Files",
                                                "Profile-0-Files\"FileInfo",
                                                "Profile-0-Files\"Stats", "Profiles"}));
            EXPECT_EQ(store.ReadString("Profile-0", "TextInFileRegularExpression", ""), "report");
        } else if (t == "3.05") {
            EXPECT_EQ(store.ReadString("Profile-0", "Option", "").substr(0, 8), "440A0000");
        } else if (t == "3.021") {
            EXPECT_EQ(Lines(store, "Profile-0-Files\"FileInfo")[1], "0000210018FCFFFF20000000")
                << "the no-file marker is no time";
            std::string info = Lines(store, "Profile-0-Files\"FileInfo")[0];
            EXPECT_EQ(TFileInfoRec::FromHex(info + std::string(24, '0'))->Time,
                      Dos(1999, 3, 4, 10, 6, 6));
            EXPECT_NE(TFileInfoRec::FromHex(info + std::string(24, '0'))->Time, localTime);
            EXPECT_EQ(prompter.Statuses.back(), "Upgrading file.  Please wait.");
        } else if (t == "3.212") {
            std::vector<std::string> infos = Lines(store, "Profile-0-Files\"FileInfo");
            ASSERT_EQ(infos.size(), 2u);
            TFileInfoRec a = *TFileInfoRec::FromHex(infos[0]), b = *TFileInfoRec::FromHex(infos[1]);
            EXPECT_EQ(a.Time, Dos(1999, 3, 4, 10, 6, 6));
            EXPECT_EQ(a.Size, 300);
            EXPECT_EQ(a.Attributes, 32u);
            EXPECT_EQ(b.Time, DosTimeEarliest);
            EXPECT_EQ(b.Size, -1000) << "the size is sign-extended";
        } else if (t == "3.39") {
            EXPECT_EQ(store.ReadString("Options", "StartupProgramIcons", ""), "1");
        }
        // Running a step again changes nothing, except the time conversion, which by its
        // nature runs once (the version written by the next save keeps it from running).
        if (t != "3.021") {
            std::string before = store.Text();
            TScriptedPrompter again;
            step.Run(store, again);
            EXPECT_EQ(store.Text(), before);
        }
    }
}

TEST(SyncUpgrade, OldestDocumentLoadsAndSavesAsCurrent) {
    TScopedTimeZone zone("EST5");
    TTempDir dir("qnsync");
    std::string path = dir / "oldest.fmw";
    qntest::WriteFile(path, ReadFileBytes(Fixture("oldest.fmw")));
    TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    ASSERT_TRUE(doc.LoadFile(path));
    EXPECT_EQ(doc.UpgradeStepsRun().size(), SyncUpgradeSteps().size())
        << "a document without a version runs every step";
    EXPECT_EQ(prompter.Messages,
              (std::vector<std::string>{
                  SpaceMessage, path + " has been migrated to the current version.\r\n"
                                       "Problems could result if you revert to an older "
                                       "version of File Mirrowyn"}));
    EXPECT_TRUE(doc.Modified());

    ASSERT_EQ(doc.Profiles().Count(), 1);
    EXPECT_EQ(doc.Profiles().Line(0), OldLine);
    const TSyncProfile& p = doc.Profiles().Profile(0);
    EXPECT_EQ(p.Options.Bits(), 0x00000A44u);
    EXPECT_EQ(p.DetectInterval, 1.0 / 24);
    EXPECT_EQ(p.SyncDelay, 1.0 / 720);
    EXPECT_EQ(p.LastDetectTime, 36000.25);
    EXPECT_EQ(p.ChangeDetectedTime, 0) << "bytes the short old record lacks read as zeros";
    EXPECT_EQ(p.TextInFileRegExpr, "report");
    EXPECT_EQ(p.HistoryFiles.Count(), 2);
    EXPECT_EQ(p.HistoryFileInfo[0].size(), 48u);
    EXPECT_EQ(p.HistoryStats.Values("FileCount"), "2");
    EXPECT_EQ(doc.Log().Count(), 1);
    EXPECT_EQ(doc.Options().TimerInterval, 2);

    ASSERT_TRUE(doc.SaveFile());
    const std::string saved = ReadFileBytes(path);
    EXPECT_EQ(ReadFileBytes(path + ".bak"), ReadFileBytes(Fixture("oldest.fmw")))
        << "the document as the old version wrote it stays at hand";
    TScriptedPrompter quiet;
    TSyncDocument back(quiet);
    ASSERT_TRUE(back.LoadFile(path));
    EXPECT_TRUE(back.UpgradeStepsRun().empty());
    EXPECT_TRUE(quiet.Messages.empty());
    EXPECT_FALSE(back.Modified());
    EXPECT_EQ(TFileInfoRec::FromHex(back.Profiles().Profile(0).HistoryFileInfo[0])->Time,
              Dos(1999, 3, 4, 10, 6, 6)) << "converted once";
    ASSERT_TRUE(back.SaveFile());
    EXPECT_EQ(ReadFileBytes(path), saved);
}

TEST(SyncUpgrade, WideningTouchesOnlyRecordsOfTheOldWidth) {
    TFMWMemIniFile store;
    store.GetSection("Profiles").Add("/a/ -> /b/");
    const std::string current = TFileInfoRec{Dos(2020, 1, 2, 3, 4, 6), 0, 5, 32, 0}.ToHex();
    const std::vector<std::string> infos = {"C32864262C01000020000000", current, "",
                                            "not an information record",
                                            "ZZ2864262C01000020000000"};
    TQNStringList& section = store.GetSection("Profile-0-Files\"FileInfo");
    for (const auto& i : infos) section.Add(i);
    TScriptedPrompter prompter;
    UpgradeSyncDocument(store, "3.1", prompter);
    std::vector<std::string> after = Lines(store, "Profile-0-Files\"FileInfo");
    ASSERT_EQ(after.size(), infos.size());
    EXPECT_EQ(after[0], "C3286426000000002C010000000000002000000000000000");
    for (size_t i = 1; i < infos.size(); ++i) EXPECT_EQ(after[i], infos[i]);
    UpgradeSyncDocument(store, "3.1", prompter);
    EXPECT_EQ(Lines(store, "Profile-0-Files\"FileInfo"), after);
}

TEST(SyncUpgrade, IndexedSectionsForSharedAndOddLines) {
    TFMWMemIniFile store;
    const std::string line = "c:\\a\\*.txt -> d:\\b\\";
    store.GetSection("Profiles").Assign(TQNStringList{line, line, "Options"});
    store.WriteString(line, "Option", "01000000");
    store.GetSection("Files-" + line).Add("c:\\a\\x.txt");
    store.WriteString("Options", "Version", "2.5");
    TScriptedPrompter prompter;
    auto step = std::find_if(SyncUpgradeSteps().begin(), SyncUpgradeSteps().end(),
                             [](const TSyncUpgradeStep& s) { return s.Threshold == "2.571"; });
    ASSERT_NE(step, SyncUpgradeSteps().end());
    step->Run(store, prompter);
    // Two profiles with one line shared their sections: each keeps a copy.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(store.ReadString("Profile-" + std::to_string(i), "Option", ""), "01000000");
        EXPECT_EQ(Lines(store, "Profile-" + std::to_string(i) + "-Files"),
                  std::vector<std::string>{"c:\\a\\x.txt"});
    }
    EXPECT_FALSE(store.SectionExists(line));
    EXPECT_FALSE(store.SectionExists("Files-" + line));
    // A profile line that names the document's own section leaves that section alone.
    EXPECT_EQ(store.ReadString("Options", "Version", ""), "2.5");
    EXPECT_FALSE(store.SectionExists("Profile-2"));
}
