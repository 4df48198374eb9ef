// Folder listings on real folders: order, records, links, special files, caching.
#include "LocationTestSupport.h"

#include "common/SafeFile.h"
#include "common/ifutils.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using loctest::FixtureHex;
using loctest::FixtureUnix;

struct TListing {
    std::vector<std::string> Names;
    std::vector<TFileInfoRec> Infos;
    std::vector<std::string> Stats;
};

TListing List(TSimpleLocationOwner& owner, const std::string& folder) {
    TQNStringList names, infos, stats, comments;
    owner.ListFolder("*", folder, false, &comments, &stats, &infos, names);
    TListing l;
    l.Names = names.ToVector();
    for (const auto& h : infos) l.Infos.push_back(*TFileInfoRec::FromHex(h.Str));
    l.Stats = stats.ToVector();
    EXPECT_EQ(comments.Count(), names.Count());
    return l;
}

TEST(DirectoryListing, OrderRecordsLinksAndSpecialFiles) {
    qntest::TTempDir dir("qnlist"), outside("qnout");
    const std::string d = dir.Path() + "/";
    qntest::WriteFile(d + "b.txt", "bb");
    qntest::WriteFile(d + "a.txt", "a");
    qntest::WriteFile(d + "A.txt", std::string(1234, 'x'));
    loctest::SetMTime(d + "A.txt", FixtureUnix);
    qntest::WriteFile(d + "old.txt", "o");
    loctest::SetMTime(d + "old.txt", 100000000);  // 1973
    qntest::WriteFile(d + "ro.txt", "r");
    ::chmod((d + "ro.txt").c_str(), 0444);
    ForceDirectories(d + "Sub");
    ForceDirectories(d + "Mr.");
    ASSERT_EQ(::mkfifo((d + "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(outside.Path().c_str(), (d + "link").c_str()), 0);
    qntest::WriteFile(outside / "target.txt", "12345");
    ASSERT_EQ(::symlink((outside / "target.txt").c_str(), (d + "filelink").c_str()), 0);

    TSimpleLocationOwner owner;
    TListing l = List(owner, dir.Path());
    // Own entry first, then ignoring case with ties byte-wise; a link to a folder is a
    // file entry (no trailing "/"), so no walk goes through it.
    const std::vector<std::string> expected = {"./",   "A.txt",  "a.txt",  "b.txt",  "fifo",
                                               "filelink", "link", "Mr./", "old.txt", "ro.txt",
                                               "Sub/"};
    ASSERT_EQ(l.Names, expected);
    auto info = [&](const std::string& n) {
        for (size_t i = 0; i < l.Names.size(); ++i)
            if (l.Names[i] == n) return l.Infos[i];
        return TFileInfoRec();
    };
    EXPECT_EQ(info("A.txt").ToHex(), loctest::LocalFixtureHex());
    EXPECT_EQ(info("old.txt").Time, DosTimeEarliest);
    EXPECT_EQ(info("ro.txt").Attributes, uint32_t(faArchive | faReadOnly));
    EXPECT_EQ(info("Sub/").Attributes, uint32_t(faDirectory));
    EXPECT_EQ(info("Sub/").Size, 0);
    EXPECT_EQ(info("./").Attributes, uint32_t(faDirectory));
    EXPECT_EQ(info("fifo").Attributes, uint32_t(faArchive));
    EXPECT_EQ(info("link").Attributes, uint32_t(faArchive));
    EXPECT_EQ(info("filelink").Size, 5);  // the target's size
    EXPECT_EQ(l.Stats, (std::vector<std::string>{"FolderCount=2",
                                                 "FileSizeTotal=" + std::to_string(1234 + 1 + 2 + 1 + 1 + 5 + info("link").Size),
                                                 "FileCount=8"}));

    // The FIFO is listed but never opened: no read stream, and a copy does nothing.
    auto fifo = CreateParts(&owner, d + "fifo");
    EXPECT_TRUE(fifo->FileExists());
    EXPECT_EQ(fifo->OpenReadStream(), nullptr);
    TCopyResult r;
    auto dest = CreateParts(&owner, d + "Sub/fifo-copy");
    fifo->CopyTo(*dest, 1, r);
    EXPECT_EQ(r.Files, 0);
    EXPECT_FALSE(loctest::Exists(d + "Sub/fifo-copy"));
    // A link to a folder cannot be read as a file either.
    EXPECT_EQ(CreateParts(&owner, d + "link")->OpenReadStream(), nullptr);
}

TEST(DirectoryListing, EmptyMissingAndMaskedFolders) {
    qntest::TTempDir dir("qnlist");
    TSimpleLocationOwner owner;
    TListing empty = List(owner, dir.Path() + "/");
    EXPECT_EQ(empty.Names, std::vector<std::string>{"./"});
    EXPECT_EQ(empty.Stats,
              (std::vector<std::string>{"FolderCount=0", "FileSizeTotal=0", "FileCount=0"}));
    TListing missing = List(owner, dir.Path() + "/nothing/");
    EXPECT_TRUE(missing.Names.empty());
    EXPECT_EQ(missing.Stats,
              (std::vector<std::string>{"FolderCount=0", "FileSizeTotal=0", "FileCount=0"}));

    qntest::WriteFile(dir / "x.txt", "1");
    qntest::WriteFile(dir / "y.log", "1");
    TQNStringList names;
    owner.ListFolder("*.txt", dir.Path(), true, nullptr, nullptr, nullptr, names);
    EXPECT_EQ(names.ToVector(), std::vector<std::string>{dir / "x.txt"});
}

TEST(DirectoryListing, TheRootIsAnOrdinaryFolder) {
    TSimpleLocationOwner owner;
    auto root = CreateParts(&owner, "/");
    ASSERT_TRUE(root->IsValid());
    ASSERT_GT(root->ListContents(), 1);
    EXPECT_EQ(root->Names()[0], "./");
    EXPECT_TRUE(root->ContainerExists());
    auto self = CreateParts(&owner, root->GetContainerPrefix() + root->Names()[0]);
    EXPECT_EQ(self->GetLocation(), "/");
}

TEST(DirectoryListing, UnreadableFolderIsAnErrorNotAnEmptyListing) {
    qntest::TTempDir dir("qnlist");
    TSimpleLocationOwner owner;
    {
        // A folder path that exists but cannot be opened (a link loop) is an error too.
        ASSERT_EQ(::symlink("loop", (dir / "loop").c_str()), 0);
        TQNStringList names;
        EXPECT_THROW(owner.ListFolder("*", dir / "loop", false, nullptr, nullptr, nullptr, names),
                     EFileError);
    }
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser reads every folder";
    ForceDirectories(dir / "locked");
    qntest::WriteFile(dir / "locked/f", "1");
    ::chmod((dir / "locked").c_str(), 0);
    TQNStringList names;
    EXPECT_THROW(owner.ListFolder("*", dir / "locked", false, nullptr, nullptr, nullptr, names),
                 EFileError);
    ::chmod((dir / "locked").c_str(), 0700);
}

TEST(DirectoryListing, ListContentsCachesInTheOwnersStore) {
    qntest::TTempDir dir("qnlist");
    qntest::WriteFile(dir / "one.txt", "1");
    ForceDirectories(dir / "Mr.");
    TSimpleLocationOwner owner;
    loctest::TTestGauge gauge;
    owner.SetGauges(&gauge, nullptr);
    auto folder = CreateParts(&owner, dir.Path() + "/");
    EXPECT_EQ(folder->ListContents(), 3);
    EXPECT_EQ(gauge.Steps, 3);
    EXPECT_TRUE(owner.ResultStore().SectionExists(dir.Path() + "/\"FileInfo"));
    EXPECT_EQ(folder->Stats().Values("FileCount"), "1");
    qntest::WriteFile(dir / "two.txt", "2");
    auto again = CreateParts(&owner, dir.Path() + "/");
    EXPECT_EQ(again->ListContents(), 3);  // the cached listing
    // Entries made from the listing: the "." entry names the folder itself; "Mr." does not.
    auto self = CreateParts(&owner, again->GetContainerPrefix() + again->Names()[0],
                            again->Infos()[0]);
    EXPECT_TRUE(self->IsSelfEntry);
    EXPECT_EQ(self->GetLocation(), dir.Path() + "/");
    auto mr = CreateParts(&owner, again->GetContainerPrefix() + "Mr./", again->Infos()[1]);
    EXPECT_FALSE(mr->IsSelfEntry);
    EXPECT_EQ(mr->GetLocation(), dir.Path() + "/Mr./");
    // A cleared store never leaves a dangling listing behind.
    owner.ResultStore().Clear();
    EXPECT_EQ(again->Names().Count(), 0);
    EXPECT_EQ(again->ListContents(), 4);
}

TEST(DirectoryListing, FindOneAndEntryExists) {
    qntest::TTempDir dir("qnlist");
    qntest::WriteFile(dir / "f.txt", std::string(1234, 'x'));
    loctest::SetMTime(dir / "f.txt", FixtureUnix);
    TSimpleLocationOwner owner;
    TFileInfoRec info;
    EXPECT_TRUE(owner.FindOne(dir / "f.txt", info));
    EXPECT_EQ(info.ToHex(), loctest::LocalFixtureHex());
    EXPECT_FALSE(owner.FindOne(dir / "none.txt", info));
    EXPECT_EQ(info, TFileInfoRec());
    EXPECT_FALSE(owner.FindOne(dir.Path(), info));  // folders are not found
    // Any non-record text as information looks the file up.
    auto p = CreateParts(&owner, dir / "f.txt", "lookup");
    EXPECT_EQ(p->InfoHex, loctest::LocalFixtureHex());
    EXPECT_TRUE(owner.EntryExists(dir / "f.txt"));
    EXPECT_TRUE(owner.EntryExists(dir.Path() + "/"));
    EXPECT_FALSE(owner.EntryExists(dir / "g.txt"));
    EXPECT_FALSE(owner.EntryExists("news://x/y"));
}

}  // namespace
