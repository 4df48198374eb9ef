// The option set, the stored profile record, profile lines, intervals and the drive check.
#include "sync/SyncProfile.h"

#include "SyncTestSupport.h"
#include "common/ifutils.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>

using qntest::TTempDir;
namespace O = SyncProfileOffset;

namespace {

uint32_t U32At(const TSyncProfileRecord& r, size_t at) {
    return uint32_t(r[at]) | uint32_t(r[at + 1]) << 8 | uint32_t(r[at + 2]) << 16 |
           uint32_t(r[at + 3]) << 24;
}

double DoubleAt(const TSyncProfileRecord& r, size_t at) {
    uint64_t bits = 0;
    for (size_t i = 0; i < 8; ++i) bits |= uint64_t(r[at + i]) << (8 * i);
    return std::bit_cast<double>(bits);
}

// Offsets that carry no value: reserved bytes and reference slots.
bool IsValueByte(size_t at) {
    return at < 4 || (at >= 15 && at < 44) || at == 52 || (at >= 85 && at < 93);
}

std::unique_ptr<TSyncProfile> SampleProfile() {
    auto p = NewProfile(false);
    p->Options = FolderDropOptions | TFileSyncOptions{TFileSyncOption::AutoDetect};
    p->DetectInterval = 1.0 + 4.0 / 24;
    p->SyncDelay = 5.0 / 1440;
    p->LastDetectTime = 45292.5;
    p->DetectOnly = true;
    p->ChangeCount = -7;
    p->Selected = true;
    p->ChangeDetectedTime = 45292.75;
    return p;
}

}  // namespace

// --- options -------------------------------------------------------------------------------

TEST(SyncOptions, BitsNamesAndCaptions) {
    struct TCase {
        TFileSyncOption Option;
        uint32_t Bit;
        const char* Name;
        const char* Caption;
    } cases[] = {
        {TFileSyncOption::PromptIfNewer, 1u << 0, "PromptIfNewer", "Prompt If Destination Is Newer"},
        {TFileSyncOption::CascadeDir, 1u << 4, "CascadeDir", "Include SubFolders"},
        {TFileSyncOption::AutoRefresh, 1u << 8, "AutoRefresh", "Auto Sync"},
        {TFileSyncOption::SyncDeletedObjects, 1u << 11, "SyncDeletedObjects", "Sync Deleted Files"},
        {TFileSyncOption::AbsoluteTime, 1u << 16, "AbsoluteTime", "Detect Time Absolute/Relative"},
        {TFileSyncOption::MoveFile, 1u << 17, "MoveFile", "Delete Source (Move File)"},
        {TFileSyncOption::CompareFileSize, 1u << 23, "CompareFileSize", "Compare File Size"},
        {TFileSyncOption::MoveRenameDest, 1u << 25, "MoveRenameDest", "Move/Rename Dest"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(TFileSyncOptions{c.Option}.Bits(), c.Bit);
        EXPECT_EQ(FileSyncOptionName(c.Option), c.Name);
        EXPECT_EQ(FileSyncOptionCaption(c.Option), c.Caption);
        EXPECT_EQ(FileSyncOptionByName(c.Name), c.Option);
    }
    // Every option has a distinct name that leads back to it.
    for (int i = 0; i < FileSyncOptionCount; ++i)
        EXPECT_EQ(FileSyncOptionByName(FileSyncOptionName(TFileSyncOption(i))), TFileSyncOption(i));
    EXPECT_FALSE(FileSyncOptionByName("checkboxPromptIfNewer"));
    EXPECT_EQ(FileDropOptions.Bits(), 0x02800A44u);
    EXPECT_EQ(FolderDropOptions.Bits(), 0x02800A74u);

    TFileSyncOptions set = TFileSyncOptions::FromBits(0x80000001u);
    EXPECT_TRUE(set.ContainsAll({TFileSyncOption::PromptIfNewer}));
    EXPECT_FALSE(set.ContainsAll({TFileSyncOption::PromptIfNewer, TFileSyncOption::ManRefresh}));
    set.Exclude(TFileSyncOption::PromptIfNewer);
    EXPECT_EQ(set.Bits(), 0x80000000u) << "bits the program does not know are kept";
}

// --- the stored record ---------------------------------------------------------------------

TEST(SyncProfileRecord, ValuesAtTheirOffsetsAndZerosElsewhere) {
    auto p = SampleProfile();
    p->FilterRegExpr = "x";
    p->HistoryFiles.Add("/a");
    TSyncProfileRecord r = EncodeProfileRecord(*p);
    EXPECT_EQ(U32At(r, O::Options), 0x02800AF4u);
    EXPECT_EQ(DoubleAt(r, O::DetectInterval), 1.0 + 4.0 / 24);
    EXPECT_EQ(DoubleAt(r, O::SyncDelay), 5.0 / 1440);
    EXPECT_EQ(DoubleAt(r, O::LastDetectTime), 45292.5);
    EXPECT_EQ(r[O::DetectOnly], 1);
    EXPECT_EQ(U32At(r, O::ChangeCount), uint32_t(-7));
    EXPECT_EQ(r[O::Selected], 255);
    EXPECT_EQ(DoubleAt(r, O::ChangeDetectedTime), 45292.75);
    for (size_t at = 0; at < r.size(); ++at)
        if (!IsValueByte(at)) {
            EXPECT_EQ(r[at], 0) << "byte " << at;
        }

    std::string hex = ProfileRecordToHex(*p);
    ASSERT_EQ(hex.size(), 508u);
    EXPECT_EQ(hex.substr(0, 8), "F40A8002");
    EXPECT_EQ(hex.find_first_of("abcdef"), std::string::npos);
}

TEST(SyncProfileRecord, JunkInReferenceSlotsAndReservedBytesIsIgnored) {
    auto p = SampleProfile();
    TSyncProfileRecord r = EncodeProfileRecord(*p);
    TSyncProfileRecord junk = r;
    for (size_t at = 0; at < junk.size(); ++at)
        if (!IsValueByte(at)) junk[at] = static_cast<uint8_t>(0xA5 ^ at);

    auto q = NewProfile(false);
    q->FilterRegExpr = "kept";
    q->HistoryFiles.Add("/kept");
    ASSERT_TRUE(ProfileRecordFromHex(BufferToHex(std::span<const uint8_t>(junk)), *q));
    EXPECT_EQ(EncodeProfileRecord(*q), r) << "the values read back; the junk is written as zeros";
    EXPECT_EQ(q->FilterRegExpr, "kept") << "a record never touches the expressions";
    EXPECT_EQ(q->HistoryFiles.Count(), 1);
}

TEST(SyncProfileRecord, ShortMissingAndUnreadableValues) {
    const std::string full = ProfileRecordToHex(*SampleProfile());
    struct TCase {
        const char* Name;
        std::string Hex;
        bool Readable;
        uint32_t Options;
        double DetectInterval, ChangeDetectedTime;
    } cases[] = {
        {"missing", "", true, 0, 0, 0},
        {"options only", full.substr(0, 8), true, 0x02800AF4, 0, 0},
        {"up to the change count", full.substr(0, 88), true, 0x02800AF4, 1.0 + 4.0 / 24, 0},
        {"longer than a record", full + "FFFFFFFF", true, 0x02800AF4, 1.0 + 4.0 / 24, 45292.75},
        {"lower case", LowerCase(full), true, 0x02800AF4, 1.0 + 4.0 / 24, 45292.75},
        {"not hexadecimal", "F40A8002" + std::string(500, 'x'), false, 0, 0, 0},
        {"odd length", full.substr(0, 507), false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto p = SampleProfile();
        EXPECT_EQ(ProfileRecordFromHex(c.Hex, *p), c.Readable);
        EXPECT_EQ(p->Options.Bits(), c.Options);
        EXPECT_EQ(p->DetectInterval, c.DetectInterval);
        EXPECT_EQ(p->ChangeDetectedTime, c.ChangeDetectedTime);
        if (!c.Readable) {
            EXPECT_EQ(p->LastDetectTime, 0);
        }
    }
}

TEST(SyncProfileRecord, TimesThatAreNoNumbersReadAsZero) {
    auto p = SampleProfile();
    TSyncProfileRecord r = EncodeProfileRecord(*p);
    auto put = [&r](size_t at, double v) {
        uint64_t bits = std::bit_cast<uint64_t>(v);
        for (size_t i = 0; i < 8; ++i) r[at + i] = uint8_t(bits >> (8 * i));
    };
    put(O::DetectInterval, std::numeric_limits<double>::quiet_NaN());
    put(O::SyncDelay, std::numeric_limits<double>::infinity());
    DecodeProfileRecord(r, *p);
    EXPECT_EQ(p->DetectInterval, 0);
    EXPECT_EQ(p->SyncDelay, 0);
    EXPECT_EQ(p->LastDetectTime, 45292.5);
}

// --- profiles ------------------------------------------------------------------------------

TEST(SyncProfile, NewProfileDefaultsAndCopies) {
    auto p = NewProfile(true);
    ASSERT_TRUE(p->EngineCopy);
    EXPECT_FALSE(p->EngineCopy->EngineCopy) << "a copy has no copy of its own";
    EXPECT_TRUE(p->Options.Empty());
    EXPECT_EQ(p->DetectInterval, 1.0 / 48);
    EXPECT_EQ(p->SyncDelay, 1.0 / 1440);
    EXPECT_EQ(p->ChangeDetectedTime, 100000.0);
    EXPECT_EQ(p->LastDetectTime, 0);

    auto src = SampleProfile();
    src->FilterRegExpr = "f";
    src->TextInFileRegExpr = "t";
    src->HistoryFiles.Add("/a");
    src->HistoryFileInfo.Add("info");
    src->FTPDestLoginInfo.Add("Server=127.0.0.1");
    src->WatchFiles.Add("w");

    auto settings = NewProfile(false);
    CopyProfileSettings(*src, *settings);
    EXPECT_EQ(settings->Options, src->Options);
    EXPECT_EQ(settings->DetectInterval, src->DetectInterval);
    EXPECT_EQ(settings->SyncDelay, src->SyncDelay);
    EXPECT_TRUE(settings->Selected);
    EXPECT_EQ(settings->TextInFileRegExpr, "t");
    EXPECT_EQ(settings->FTPDestLoginInfo.Count(), 1);
    EXPECT_EQ(settings->LastDetectTime, 0) << "run state is the engine's";
    EXPECT_EQ(settings->ChangeCount, 0);
    EXPECT_TRUE(settings->HistoryFiles.Empty());

    auto full = NewProfile(false);
    CopyProfile(*src, *full);
    EXPECT_EQ(EncodeProfileRecord(*full), EncodeProfileRecord(*src));
    EXPECT_EQ(full->HistoryFiles.Count(), 1);
    EXPECT_EQ(full->HistoryFileInfo.Count(), 1);
    EXPECT_EQ(full->WatchFiles.Count(), 1);
    EXPECT_EQ(full->FilterRegExpr, "f");
}

TEST(SyncProfile, LinesSplitIntoSourceAndDestination) {
    struct TCase {
        std::string Line, Source, Dest;
    } cases[] = {
        {"c:\\a\\*.txt -> d:\\b\\", "c:\\a\\*.txt", "d:\\b\\"},
        {"/data/src/*.txt -> /backup/", "/data/src/*.txt", "/backup/"},
        {"/data/other/ -> ", "/data/other/", ""},
        // No arrow: the whole line is the source, and no destination means never synced.
        {"/data/no arrow here", "/data/no arrow here", ""},
        {"/data/a->b", "/data/a->b", ""},
        {"", "", ""},
        {"-> /dest/", "", "/dest/"},
        // Only a blank in front of the arrow belongs to the separator.
        {"/data/x.txt-> /dest/", "/data/x.txt", "/dest/"},
        // The first arrow splits.
        {"/a -> /b -> /c", "/a", "/b -> /c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        EXPECT_EQ(ProfileSource(c.Line), c.Source);
        EXPECT_EQ(ProfileDest(c.Line), c.Dest);
    }
    EXPECT_EQ(ProfileLine("c:\\a\\*.txt", "d:\\b\\"), "c:\\a\\*.txt -> d:\\b\\");
}

TEST(SyncProfile, ListKeepsLinesWithTheirProfiles) {
    TSyncProfileList list;
    list.Add("b -> ", nullptr);
    list.Add("A -> ", SampleProfile());
    list.Add("c -> ", nullptr);
    TSyncProfile* sample = &list.Profile(1);
    list.Sort();
    EXPECT_EQ(list.Lines().ToVector(), (std::vector<std::string>{"A -> ", "b -> ", "c -> "}));
    EXPECT_EQ(&list.Profile(0), sample);
    list.Exchange(0, 2);
    EXPECT_EQ(&list.Profile(2), sample);
    list.Delete(2);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_THROW(list.Profile(2), std::out_of_range);
}

// --- intervals -----------------------------------------------------------------------------

TEST(SyncIntervals, TextsOfTheIntervalEdit) {
    struct TFormat {
        double Days;
        const char* Text;
    } formats[] = {
        {1.0 / 48, "  0:00:30:00"},
        {1.0 / 1440, "  0:00:01:00"},
        {1.0 + 4.0 / 24, "  1:04:00:00"},
        {3.0 / 24 + 15.0 / 1440 + 10.0 / 86400, "  0:03:15:10"},
        {1.0 - 1e-9, "  1:00:00:00"},
        {999, "999:00:00:00"},
        {5000, "999:00:00:00"},
        {-1, "  0:00:00:00"},
        {std::numeric_limits<double>::quiet_NaN(), "  0:00:00:00"},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.Text);
        EXPECT_EQ(FormatInterval(f.Days), f.Text);
    }

    struct TParse {
        const char* Text;
        std::optional<double> Days;
    } parses[] = {
        {"  0:00:30:00", 1.0 / 48},
        {"001:04:00:00", 1.0 + 4.0 / 24},
        {"  1:  :  :  ", 1.0},
        {"1000:00:00:00", 999.0},
        {"999:23:59:59", 999.0},
        {"  0:00:90:00", 1.5 / 24},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"  1:04:00", std::nullopt},
        {"  1:04:00:00:00", std::nullopt},
        {" -1:00:00:00", std::nullopt},
        {"  1:0x:00:00", std::nullopt},
    };
    for (const auto& p : parses) {
        SCOPED_TRACE(p.Text);
        std::optional<double> days = ParseInterval(p.Text);
        ASSERT_EQ(days.has_value(), p.Days.has_value());
        if (days) {
            EXPECT_NEAR(*days, *p.Days, 1e-12);
        }
    }
    // What the edit shows reads back as the same value.
    for (double d : {1.0 / 48, 1.0 / 1440, 2.5, 998.75})
        EXPECT_NEAR(*ParseInterval(FormatInterval(d)), d, 0.5 / 86400);
}

// --- drive check ---------------------------------------------------------------------------

TEST(SyncDrives, MissingRootsOnLinux) {
    TTempDir dir("qnsync");
    std::filesystem::create_directories(dir / "src");
    std::filesystem::create_directories(dir / "dst");
    std::filesystem::create_directories(dir / "media");  // a mount point with nothing mounted
    const std::string d = dir.Path();

    auto withHistory = NewProfile(false);
    withHistory->HistoryFiles.Add(d + "/src/a.txt");
    auto historyInCopy = NewProfile(true);
    historyInCopy->EngineCopy->HistoryFiles.Add(d + "/src/a.txt");
    auto fresh = NewProfile(false);

    struct TCase {
        std::string Line;
        const TSyncProfile* Profile;
        bool Source, Dest;
    } cases[] = {
        {d + "/src/*.txt -> " + d + "/dst/", withHistory.get(), true, true},
        {d + "/src/ -> " + d + "/dst/sub/", fresh.get(), true, true},
        {d + "/gone/*.txt -> " + d + "/dst/", fresh.get(), false, true},
        // The disk under /media is not mounted: with a history this is not an empty folder.
        {d + "/src/*.txt -> " + d + "/media/usb/backup/", withHistory.get(), true, false},
        {d + "/src/*.txt -> " + d + "/media/usb/backup/", historyInCopy.get(), true, false},
        {d + "/src/*.txt -> " + d + "/media/usb/backup/", fresh.get(), true, true},
        {d + "/src/*.txt -> " + d + "/dst/<dtf:yyyy>/", withHistory.get(), true, true},
        {d + "/src/*.txt -> ", withHistory.get(), true, true},
        // A source archive that is not there is a missing source, a destination archive
        // one once there is a history; other kinds are not checked.
        {"zip://" + d + "/none.zip/* -> ftp://127.0.0.1/x/", withHistory.get(), false, true},
        {"ftp://127.0.0.1/x/* -> zip://" + d + "/none.zip/", withHistory.get(), true, false},
        {"ftp://127.0.0.1/x/* -> zip://" + d + "/none.zip/", fresh.get(), true, true},
        // Paths of another system are no local locations here.
        {"c:\\src\\*.txt -> " + d + "/dst/", fresh.get(), false, true},
        {d + "/src/*.txt -> d:\\dst\\", fresh.get(), true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        TProfileDrives drives = CheckProfileDrives(c.Line, *c.Profile);
        EXPECT_EQ(drives.SourceAvailable, c.Source);
        EXPECT_EQ(drives.DestAvailable, c.Dest);
        EXPECT_EQ(drives.Available(), c.Source && c.Dest);
    }
    EXPECT_EQ(LocalRootFolder("/data/src/*.txt"), "/data/src/");
    EXPECT_EQ(LocalRootFolder("/data/*/x.txt"), "/data/");
    EXPECT_EQ(LocalRootFolder("/data/<dtf:yyyy>/x"), "/data/");
    EXPECT_EQ(LocalRootFolder("relative/x"), "");
    EXPECT_EQ(LocalRootFolder("zip:///a.zip/*"), "");
}
