// Copies and moves of the folder kind on real folders, across file systems too, with the
// rules that keep the old destination whole when a copy does not complete.
#include "LocationTestSupport.h"

#include "common/SafeFile.h"
#include "common/ifutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using loctest::Content;
using loctest::Exists;
using loctest::FixtureUnix;

TFileInfoRec Record(uint32_t time, int64_t size, uint32_t attributes = faArchive) {
    TFileInfoRec r;
    r.Time = time;
    r.Size = size;
    r.Attributes = attributes;
    return r;
}

struct TCopyFixture : ::testing::Test {
    qntest::TTempDir Dir{"qncopy"};
    TSimpleLocationOwner Owner;
    loctest::TTestGauge CopyGauge;
    std::string D = Dir.Path() + "/";
    void SetUp() override { Owner.SetGauges(nullptr, &CopyGauge); }

    TCopyResult Copy(const std::string& from, const std::string& to, const TFileInfoRec* info,
                     int mode = 1) {
        auto s = CreateParts(&Owner, from, info ? info->ToHex() : std::string());
        auto d = CreateParts(&Owner, to);
        TCopyResult r;
        s->CopyTo(*d, mode, r);
        return r;
    }
};

TEST_F(TCopyFixture, CopyCreatesFoldersAppliesTheRecordAndLogs) {
    const std::string data = Content(2621440);  // 2.5 MiB: three blocks
    qntest::WriteFile(D + "src.bin", data);
    TFileInfoRec info = Record(DosDateTimeFromUnix(FixtureUnix), int64_t(data.size()),
                               faArchive | faReadOnly);
    TCopyResult r = Copy(D + "src.bin", D + "new/sub/dst.bin", &info);
    EXPECT_EQ(r.Files, 1);
    EXPECT_EQ(r.CreatedFolders, 2);
    EXPECT_TRUE(qntest::ReadFile(D + "new/sub/dst.bin") == data);
    EXPECT_EQ(loctest::MTime(D + "new/sub/dst.bin"), FixtureUnix);
    struct stat st {};
    ::stat((D + "new/sub/dst.bin").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(CopyGauge.Pushed, std::vector<int64_t>{3});
    EXPECT_EQ(CopyGauge.Steps, 3);
    EXPECT_EQ(CopyGauge.Depth, 0);
    EXPECT_TRUE(Owner.Logged("Created Directory " + D + "new/"));
    EXPECT_TRUE(Owner.Logged("Created Directory " + D + "new/sub/"));
    EXPECT_TRUE(Owner.Logged("Copied " + D + "src.bin to " + D + "new/sub/dst.bin"));
    EXPECT_TRUE(loctest::LeftoverTemps(D + "new/sub").empty());
    bool saving = false;
    for (const TOwnerMessage& m : Owner.Messages())
        if (m.Text == "Saving " + D + "new/sub/dst.bin" && !m.ToMemo && m.Level == 4) saving = true;
    EXPECT_TRUE(saving);

    // Over an existing file (even a read-only one) in backup mode.
    qntest::WriteFile(D + "small.txt", "fresh");
    TFileInfoRec small = Record(0, 5);
    r = Copy(D + "small.txt", D + "new/sub/dst.bin", &small, 2);
    EXPECT_EQ(r.Files, 1);
    EXPECT_EQ(r.CreatedFolders, 0);
    EXPECT_EQ(qntest::ReadFile(D + "new/sub/dst.bin"), "fresh");
    EXPECT_TRUE(Owner.Logged("Backed up " + D + "small.txt to "));
    ::stat((D + "new/sub/dst.bin").c_str(), &st);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST_F(TCopyFixture, DeferredFlushesStillGiveWholeFilesOrTheOldVersion) {
    TDeferFlushesScope defer(Owner, true);
    const std::string data = Content(3 * 1048576 + 5);
    qntest::WriteFile(D + "src.bin", data);
    // A new file is in its place at once.
    EXPECT_EQ(Copy(D + "src.bin", D + "out/new.bin", nullptr).Files, 1);
    EXPECT_TRUE(qntest::ReadFile(D + "out/new.bin") == data);
    // A replacement that breaks off half-way leaves the old version and no temporary file.
    qntest::WriteFile(D + "out/old.bin", "old");
    {
        qntest::TFileSizeLimit limit(1048576);
        EXPECT_THROW(Copy(D + "src.bin", D + "out/old.bin", nullptr), EFileError);
    }
    EXPECT_EQ(qntest::ReadFile(D + "out/old.bin"), "old");
    EXPECT_TRUE(loctest::LeftoverTemps(D + "out").empty());
    EXPECT_EQ(Copy(D + "src.bin", D + "out/old.bin", nullptr).Files, 1);
    EXPECT_TRUE(qntest::ReadFile(D + "out/old.bin") == data);
    // While a new copy is under way no name in its folder holds any part of it (where the
    // file system has unnamed files); a file that appears at the target meanwhile is
    // replaced by the whole copy.
    std::vector<std::string> midway;
    CopyGauge.OnStep = [&](int64_t) {
        if (!midway.empty()) return;
        for (const auto& e : std::filesystem::directory_iterator(D + "out"))
            midway.push_back(e.path().filename().string());
        qntest::WriteFile(D + "out/late.bin", "late");
    };
    EXPECT_EQ(Copy(D + "src.bin", D + "out/late.bin", nullptr).Files, 1);
    CopyGauge.OnStep = nullptr;
    std::sort(midway.begin(), midway.end());
    if (qntest::UnnamedFilesSupported(D + "out")) {
        EXPECT_EQ(midway, (std::vector<std::string>{"new.bin", "old.bin"}));
    }
    EXPECT_TRUE(qntest::ReadFile(D + "out/late.bin") == data);
    EXPECT_TRUE(loctest::LeftoverTemps(D + "out").empty());
    // Files that report no size, such as those of /proc, are still read whole.
    EXPECT_EQ(Copy("/proc/self/mountinfo", D + "out/mountinfo", nullptr).Files, 1);
    EXPECT_FALSE(qntest::ReadFile(D + "out/mountinfo").empty());
    EXPECT_TRUE(Owner.FlushDeferredWrites());
}

TEST_F(TCopyFixture, BlanksAtTheEndOfANameAreKept) {
    qntest::WriteFile(D + "name ", "blank");
    EXPECT_EQ(Copy(D + "name ", D + "copy/name ", nullptr).Files, 1);
    EXPECT_EQ(qntest::ReadFile(D + "copy/name "), "blank");
    EXPECT_FALSE(Exists(D + "copy/name"));
}

TEST_F(TCopyFixture, WithoutARecordTheFileKeepsItsOwnDate) {
    qntest::WriteFile(D + "a.txt", "a");
    loctest::SetMTime(D + "a.txt", FixtureUnix);
    EXPECT_EQ(Copy(D + "a.txt", D + "b.txt", nullptr).Files, 1);
    EXPECT_EQ(loctest::MTime(D + "b.txt"), FixtureUnix);
}

TEST_F(TCopyFixture, NothingToCopy) {
    // A missing source, a copy onto itself, a folder.
    EXPECT_EQ(Copy(D + "none.txt", D + "x/none.txt", nullptr).Files, 0);
    EXPECT_FALSE(Exists(D + "x"));
    qntest::WriteFile(D + "same.txt", "s");
    EXPECT_EQ(Copy(D + "same.txt", D + "same.txt", nullptr).Files, 0);
    EXPECT_EQ(Copy(D, D + "y/", nullptr).Files, 0);
}

TEST_F(TCopyFixture, FileThatGrewOrShrankSinceItWasListedIsCopiedWhole) {
    struct TCase {
        size_t Listed, Actual;
    } cases[] = {{1572864, 3145745}, {3145728, 100}, {10, 0}, {0, 5}, {2097152, 2097152}};
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Listed);
        const std::string src = D + "f" + std::to_string(n) + ".bin";
        qntest::WriteFile(src, Content(c.Listed, n));
        auto folder = CreateParts(&Owner, D);
        Owner.ResultStore().Clear();
        folder->ListContents();
        int index = folder->Names().IndexOf("f" + std::to_string(n) + ".bin");
        ASSERT_GE(index, 0);
        const std::string listedInfo = folder->Infos()[index];
        EXPECT_EQ(TFileInfoRec::FromHex(listedInfo)->Size, int64_t(c.Listed));
        const std::string now = Content(c.Actual, n + 100);
        qntest::WriteFile(src, now);
        auto entry = CreateParts(&Owner, folder->GetContainerPrefix() + folder->Names()[index],
                                 listedInfo);
        auto dest = CreateParts(&Owner, D + "out/" + entry->Name);
        TCopyResult r;
        entry->CopyTo(*dest, 1, r);
        EXPECT_EQ(r.Files, 1);
        EXPECT_TRUE(qntest::ReadFile(dest->GetLocation()) == now);
        ++n;
    }
}

TEST_F(TCopyFixture, CancelledCopyLeavesTheOldDestination) {
    qntest::WriteFile(D + "big.bin", Content(3 * 1048576 + 7));
    qntest::WriteFile(D + "dst.bin", "old content");
    loctest::SetMTime(D + "dst.bin", 1000000000);
    const ino_t oldInode = loctest::Inode(D + "dst.bin");
    CopyGauge.OnStep = [&](int64_t steps) {
        if (steps == 1) Owner.Cancel();
    };
    TFileInfoRec info = Record(DosDateTimeFromUnix(FixtureUnix), 3 * 1048576 + 7);
    TCopyResult r = Copy(D + "big.bin", D + "dst.bin", &info);
    EXPECT_EQ(r.Files, 0);
    EXPECT_EQ(CopyGauge.Steps, 1);
    EXPECT_EQ(qntest::ReadFile(D + "dst.bin"), "old content");
    EXPECT_EQ(loctest::MTime(D + "dst.bin"), 1000000000);
    EXPECT_EQ(loctest::Inode(D + "dst.bin"), oldInode);
    EXPECT_FALSE(Owner.Logged("Copied"));
    EXPECT_TRUE(loctest::LeftoverTemps(Dir.Path()).empty());
    EXPECT_EQ(CopyGauge.Depth, 0);
    // Once resumed the same copy goes through.
    Owner.Resume();
    CopyGauge.OnStep = nullptr;
    EXPECT_EQ(Copy(D + "big.bin", D + "dst.bin", &info).Files, 1);
    EXPECT_TRUE(qntest::ReadFile(D + "dst.bin") == qntest::ReadFile(D + "big.bin"));
}

// A source that fails after its first block.
class TFailingStream : public TMemoryStream {
public:
    explicit TFailingStream(std::string data) : TMemoryStream(std::move(data)) {}
    size_t Read(void* buffer, size_t count) override {
        if (Position() >= 1048576) throw EFileError("Cannot read file \"src\": Input/output error", 5);
        return TMemoryStream::Read(buffer, count);
    }
};

TEST_F(TCopyFixture, FailedWriteLeavesTheOldDestination) {
    qntest::WriteFile(D + "dst.bin", "old content");
    auto dest = CreateParts(&Owner, D + "dst.bin");
    TFailingStream source(Content(3 * 1048576));
    EXPECT_THROW(dest->WriteFromStream(source, Record(DosDateTimeFromUnix(FixtureUnix), 0)),
                 EFileError);
    EXPECT_EQ(qntest::ReadFile(D + "dst.bin"), "old content");
    EXPECT_TRUE(loctest::LeftoverTemps(Dir.Path()).empty());
    // A folder in the way of the target, and a file in the way of its folder.
    ForceDirectories(D + "folder");
    TMemoryStream s("x");
    EXPECT_THROW(CreateParts(&Owner, D + "folder")->WriteFromStream(s, TFileInfoRec()),
                 EFileError);
    TFileInfoRec info = Record(0, 5);
    EXPECT_THROW(Copy(D + "dst.bin", D + "dst.bin/inner.txt", &info), EFileError);
    EXPECT_EQ(qntest::ReadFile(D + "dst.bin"), "old content");
}

TEST_F(TCopyFixture, MoveWithinOneFileSystem) {
    qntest::WriteFile(D + "a.txt", "new");
    qntest::WriteFile(D + "b.txt", "old");
    const ino_t movedInode = loctest::Inode(D + "a.txt");
    TCopyResult r;
    // Onto an existing file: the rename replaces it in one step (the moved file's inode).
    Owner.MoveLocation(D + "a.txt", D + "b.txt", r, 1);
    EXPECT_EQ(r.Files, 1);
    EXPECT_FALSE(Exists(D + "a.txt"));
    EXPECT_EQ(qntest::ReadFile(D + "b.txt"), "new");
    EXPECT_EQ(loctest::Inode(D + "b.txt"), movedInode);
    EXPECT_TRUE(Owner.Logged("Moved " + D + "a.txt to " + D + "b.txt"));
    // Into missing folders.
    Owner.MoveLocation(D + "b.txt", D + "new/sub/b.txt", r, 1);
    EXPECT_EQ(r.Files, 1);
    EXPECT_EQ(r.CreatedFolders, 2);
    // A folder, and a folder onto an existing folder (refused, both stay).
    ForceDirectories(D + "tree/x");
    Owner.MoveLocation(D + "tree/", D + "moved/", r, 1);
    EXPECT_EQ(r.Folders, 1);
    EXPECT_TRUE(Exists(D + "moved/x"));
    ForceDirectories(D + "other");
    Owner.MoveLocation(D + "other", D + "moved", r, 1);
    EXPECT_EQ(r.Folders, 0);
    EXPECT_TRUE(Exists(D + "other"));
    EXPECT_TRUE(Exists(D + "moved/x"));
    EXPECT_TRUE(Owner.Logged("Error Moving " + D + "other to " + D +
                             "moved.  Destination probably exists."));
    // Through the parts objects.
    qntest::WriteFile(D + "c.txt", "c");
    auto c = CreateParts(&Owner, D + "c.txt");
    auto to = CreateParts(&Owner, D + "moved/c.txt");
    c->URLMoveTo(*to, 1, r);
    EXPECT_EQ(r.Files, 1);
    EXPECT_EQ(qntest::ReadFile(D + "moved/c.txt"), "c");
}

// A folder on another file system than the test's temporary folder, or empty.
std::string OtherFileSystemFolder(const std::string& here) {
    struct stat a {}, b {};
    if (::stat("/dev/shm", &b) != 0 || ::access("/dev/shm", W_OK) != 0) return {};
    if (::stat(here.c_str(), &a) != 0 || a.st_dev == b.st_dev) return {};
    return "/dev/shm";
}

TEST_F(TCopyFixture, MoveAcrossFileSystems) {
    const std::string other = OtherFileSystemFolder(Dir.Path());
    if (other.empty()) GTEST_SKIP() << "only one file system available";
    std::unique_ptr<qntest::TTempDir> far;
    {
        qntest::TScopedEnv tmp("TMPDIR", other);
        far = std::make_unique<qntest::TTempDir>("qnfar");
    }
    const std::string farDir = far->Path();
    const std::string data = Content(2 * 1048576 + 3);
    qntest::WriteFile(D + "m.bin", data);
    loctest::SetMTime(D + "m.bin", FixtureUnix);
    qntest::WriteFile(farDir + "/m.bin", "old");
    TCopyResult r;
    Owner.MoveLocation(D + "m.bin", farDir + "/m.bin", r, 1);
    EXPECT_EQ(r.Files, 1);
    EXPECT_FALSE(Exists(D + "m.bin"));
    EXPECT_TRUE(qntest::ReadFile(farDir + "/m.bin") == data);
    EXPECT_EQ(loctest::MTime(farDir + "/m.bin"), FixtureUnix);
    EXPECT_TRUE(Owner.Logged("Moved " + D + "m.bin to " + farDir + "/m.bin"));
    EXPECT_TRUE(loctest::LeftoverTemps(farDir).empty());

    // Cancelled half-way: the source stays, the old destination too.
    qntest::WriteFile(farDir + "/back.bin", data);
    qntest::WriteFile(D + "back.bin", "old");
    CopyGauge.Steps = 0;
    CopyGauge.OnStep = [&](int64_t steps) {
        if (steps == 1) Owner.Cancel();
    };
    Owner.MoveLocation(farDir + "/back.bin", D + "back.bin", r, 1);
    EXPECT_EQ(r.Files, 0);
    EXPECT_TRUE(qntest::ReadFile(farDir + "/back.bin") == data);
    EXPECT_EQ(qntest::ReadFile(D + "back.bin"), "old");
    EXPECT_TRUE(loctest::LeftoverTemps(Dir.Path()).empty());

    // A folder does not move across file systems; it stays where it is.
    Owner.Resume();
    ForceDirectories(D + "tree");
    Owner.MoveLocation(D + "tree", farDir + "/tree", r, 1);
    EXPECT_EQ(r.Folders, 0);
    EXPECT_TRUE(Exists(D + "tree"));
}

TEST_F(TCopyFixture, CopyLocationAndDateAndAttributes) {
    loctest::TPinnedZone zone("XYZ-2");
    qntest::WriteFile(D + "s.txt", "s");
    TCopyResult r;
    TFileInfoRec info = Record(DosDateTimeFromUnix(FixtureUnix), 1);
    Owner.CopyLocation(D + "s.txt", D + "c/s.txt", r, 2, info);
    EXPECT_EQ(r.Files, 1);
    EXPECT_EQ(r.CreatedFolders, 1);
    EXPECT_EQ(loctest::MTime(D + "c/s.txt"), FixtureUnix);
    EXPECT_TRUE(Owner.Logged("Backed up " + D + "s.txt to " + D + "c/s.txt"));
    // A source that cannot be read is an error that says why; nothing is created.
    try {
        Owner.CopyLocation(D + "none.txt", D + "c/none.txt", r, 1, info);
        ADD_FAILURE() << "no error for a missing source";
    } catch (const ELocationError& e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
    }
    EXPECT_EQ(r.Files, 0);
    EXPECT_FALSE(Exists(D + "c/none.txt"));

    // SetDate takes local time: 07:06:08 here is 05:06:08 UTC.
    auto p = CreateParts(&Owner, D + "s.txt");
    EXPECT_TRUE(p->SetDate(UtcToLocalDosTime(DosDateTimeFromUnix(FixtureUnix))));
    EXPECT_EQ(loctest::MTime(D + "s.txt"), FixtureUnix);
    EXPECT_TRUE(p->SetDate(0));
    EXPECT_GT(loctest::MTime(D + "s.txt"), FixtureUnix);
    EXPECT_TRUE(p->SetAttrib(faReadOnly));
    TFileInfoRec now;
    LocalInfoOf(D + "s.txt", now);
    EXPECT_EQ(now.Attributes, uint32_t(faArchive | faReadOnly));
    EXPECT_TRUE(p->SetAttrib(faArchive));
    LocalInfoOf(D + "s.txt", now);
    EXPECT_EQ(now.Attributes, uint32_t(faArchive));
    EXPECT_FALSE(CreateParts(&Owner, D + "none.txt")->SetDate(0));
}

}  // namespace
