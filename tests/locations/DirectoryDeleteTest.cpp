// Deleting files, folders, lists of locations and the empty folders of a tree.
#include "LocationTestSupport.h"

#include "common/SafeFile.h"
#include "common/ifutils.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using loctest::Exists;

TEST(DirectoryDelete, FilesAndFolders) {
    qntest::TTempDir dir("qndel");
    const std::string d = dir.Path() + "/";
    TSimpleLocationOwner owner;
    qntest::WriteFile(d + "f.txt", "x");
    ForceDirectories(d + "full");
    qntest::WriteFile(d + "full/keep.txt", "k");
    ForceDirectories(d + "empty");
    qntest::TTempDir outside("qnout");
    ForceDirectories(outside / "inner");
    ASSERT_EQ(::symlink(outside.Path().c_str(), (d + "link").c_str()), 0);

    EXPECT_TRUE(CreateParts(&owner, d + "f.txt")->Delete(true));
    EXPECT_FALSE(Exists(d + "f.txt"));
    EXPECT_TRUE(owner.Logged("Deleted file " + d + "f.txt"));
    EXPECT_FALSE(CreateParts(&owner, d + "f.txt")->Delete(true));
    EXPECT_FALSE(CreateParts(&owner, d + "full/")->Delete(true));
    EXPECT_TRUE(Exists(d + "full/keep.txt"));
    EXPECT_FALSE(CreateParts(&owner, d + "full")->Delete(true));  // a folder is not a file
    EXPECT_TRUE(CreateParts(&owner, d + "empty/")->Delete(true));
    EXPECT_TRUE(owner.Logged("Deleted directory " + d + "empty/"));
    // A link to a folder is never removed as a folder, and its target stays.
    EXPECT_FALSE(CreateParts(&owner, d + "link/")->Delete(true));
    EXPECT_TRUE(Exists(outside / "inner"));
    // The root and invalid locations are refused.
    EXPECT_FALSE(CreateParts(&owner, "/")->Delete(true));
    EXPECT_FALSE(CreateParts(&owner, "relative.txt")->Delete(true));
}

TEST(DirectoryDelete, TemporaryObjectDeletesItsFile) {
    qntest::TTempDir dir("qndel");
    TSimpleLocationOwner owner;
    qntest::WriteFile(dir / "t.tmp", "x");
    {
        auto p = CreateParts(&owner, dir / "t.tmp");
        p->Temporary = true;
    }
    EXPECT_FALSE(Exists(dir / "t.tmp"));
}

TEST(DirectoryDelete, ListDeletesFilesThenEmptiedFoldersDeepestFirst) {
    qntest::TTempDir dir("qndel");
    const std::string d = dir.Path() + "/";
    TSimpleLocationOwner owner;
    loctest::TTestGauge gauge;
    owner.SetGauges(&gauge, nullptr);
    ForceDirectories(d + "a/X");
    ForceDirectories(d + "a/x");
    ForceDirectories(d + "b");
    qntest::WriteFile(d + "a/X/1.txt", "1");
    qntest::WriteFile(d + "a/x/2.txt", "2");
    qntest::WriteFile(d + "b/3.txt", "3");
    qntest::WriteFile(d + "b/stays.txt", "s");
    TQNStringList list{d + "a/X/1.txt", d + "a/x/2.txt", d + "b/3.txt", d + "a/", "relative",
                       "news://x/y"};
    TCopyResult r;
    owner.DeleteList(list, true, r, false, false);
    EXPECT_EQ(r.Files, 3);
    EXPECT_EQ(r.CreatedFolders, 3);  // a/X/, a/x/ (case matters), then a/
    EXPECT_FALSE(Exists(d + "a"));
    EXPECT_TRUE(Exists(d + "b/stays.txt"));
    EXPECT_EQ(gauge.Depth, 0);
    EXPECT_EQ(gauge.Pushed.front(), 6);

    // Cancelled: nothing more is deleted, no folder pass.
    qntest::WriteFile(d + "b/4.txt", "4");
    owner.Cancel();
    owner.DeleteList(TQNStringList{d + "b/4.txt"}, true, r, false, true);
    EXPECT_EQ(r.Files, 0);
    EXPECT_TRUE(Exists(d + "b/4.txt"));
}

TEST(DirectoryDelete, RemoveEmptyFoldersNeverLeavesTheTree) {
    qntest::TTempDir dir("qndel"), outside("qnout");
    const std::string d = dir.Path() + "/tree/";
    ForceDirectories(d + "e1/e2/e3");
    ForceDirectories(d + "keep/empty");
    qntest::WriteFile(d + "keep/file.txt", "k");
    ForceDirectories(d + "Mr./e");
    ForceDirectories(outside / "emptyout/deeper");
    ASSERT_EQ(::symlink(outside.Path().c_str(), (d + "link").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "emptyout").c_str(), (d + "e1/e2/outlink").c_str()), 0);

    TSimpleLocationOwner owner;
    TFMWMemIniFile store;
    auto root = CreateParts(&owner, d);
    // e3 and e2's link keep e2 and e1; keep/empty, Mr./e and Mr. go.
    EXPECT_EQ(root->RemoveEmptyFolders(&store, false), 4);
    EXPECT_TRUE(Exists(d + "e1/e2/outlink"));
    EXPECT_FALSE(Exists(d + "e1/e2/e3"));
    EXPECT_FALSE(Exists(d + "keep/empty"));
    EXPECT_FALSE(Exists(d + "Mr."));
    EXPECT_TRUE(Exists(d + "keep/file.txt"));
    EXPECT_TRUE(Exists(d + "link"));
    EXPECT_TRUE(Exists(outside / "emptyout/deeper"));
    const TQNStringList& listing = store.GetSection("DirectoryListing");
    EXPECT_EQ(listing.IndexOf(d), -1);  // without IncludeSelf the root is left out
    EXPECT_GE(listing.IndexOf(d + "e1/e2/e3/"), 0);
    EXPECT_EQ(listing.IndexOf(d + "link/"), -1);

    // With IncludeSelf a tree of empty folders goes entirely, the root too.
    ::unlink((d + "e1/e2/outlink").c_str());
    ::unlink((d + "link").c_str());
    ::unlink((d + "keep/file.txt").c_str());
    EXPECT_EQ(owner.RemoveEmptyFolders(d, nullptr, true), 4);  // e2, e1, keep, tree
    EXPECT_FALSE(Exists(d));
    EXPECT_TRUE(Exists(outside / "emptyout/deeper"));
    EXPECT_TRUE(Exists(dir.Path()));
}

TEST(DirectoryDelete, ForceFoldersLogsEachCreatedFolder) {
    qntest::TTempDir dir("qndel");
    TSimpleLocationOwner owner;
    EXPECT_EQ(owner.ForceFoldersLogged(dir / "a/b/c/", true), 3);
    EXPECT_TRUE(owner.Logged("Created Directory " + dir.Path() + "/a/b/"));
    EXPECT_EQ(owner.ForceFoldersLogged(dir / "a/b/c/", true), 0);
    EXPECT_EQ(owner.ForceFoldersLogged(dir / "q/r", false), 0);  // made, not counted
    EXPECT_TRUE(Exists(dir / "q/r"));
    qntest::WriteFile(dir / "file", "x");
    // A file in the way: the error says so, so that a copy into it can tell why it failed.
    try {
        owner.ForceFoldersLogged(dir / "file/sub/", true);
        ADD_FAILURE() << "no error for a file in the way";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("/file/sub/\": Not a directory"), std::string::npos) << e.what();
    }
    EXPECT_EQ(owner.ForceFoldersLogged("relative/x/", true), 0);
}

}  // namespace
