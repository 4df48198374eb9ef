// Zip members through the location model: listing, reading, copying, moving, dating.
#include "locations/ZipFileParts.h"
#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using qntest::ReadFile;
using qntest::WriteFile;
using ziptest::Sh;

namespace {

constexpr int64_t When = 1299215168;

class ZipLocationTest : public ::testing::Test {
protected:
    qntest::TTempDir Dir{"qnziploc"};
    TSimpleLocationOwner Owner{Dir.Path()};

    // An archive Name made by zip from (member, content) pairs.
    std::string MakeArchive(const std::string& name,
                            const std::vector<std::pair<std::string, std::string>>& members) {
        const std::string src = Dir / (name + ".src");
        std::string list;
        for (auto& [m, data] : members) {
            std::filesystem::create_directories(std::filesystem::path(src + "/" + m).parent_path());
            WriteFile(src + "/" + m, data);
            loctest::SetMTime(src + "/" + m, When);
            list += " '" + m + "'";
        }
        EXPECT_EQ(Sh(src, "zip -q ../" + name + list), 0);
        return Dir / name;
    }
    std::string ReadAll(TParts& p) {
        std::unique_ptr<TStream> s = p.OpenReadStream();
        if (!s) return "<none>";
        std::string out(size_t(s->Size()), '\0');
        out.resize(s->ReadFull(out.data(), out.size()));
        return out;
    }
};

TEST_F(ZipLocationTest, ListsAndReadsMembersThroughTheLocationModel) {
    const std::string a = MakeArchive("a.zip", {{"README", "r"}, {"a.b/c", "abc"}, {"x/y.txt", "y"}});
    TZipFileParts root(&Owner);
    root.SetLocation("zip://" + a + "/");
    ASSERT_TRUE(root.IsValid());
    ASSERT_EQ(root.ListContents(), 3);
    EXPECT_EQ(root.Names()[0], "README");
    EXPECT_EQ(root.Names()[1], "a.b/c");
    EXPECT_EQ(root.Stats().Values("FileCount"), "3");
    EXPECT_EQ(TFileInfoRec::FromHex(root.Infos()[1])->Size, 3);
    EXPECT_EQ(root.GetContainerPrefix(), "zip://" + a + "/");

    struct Case { const char* member; bool exists; const char* content; };
    for (const Case& c : {Case{"README", true, "r"}, Case{"a.b/c", true, "abc"},
                          Case{"x/y.txt", true, "y"}, Case{"x/none", false, "<none>"}}) {
        SCOPED_TRACE(c.member);
        std::unique_ptr<TURLParts> m = CreateParts(&Owner, "zip://" + a + "/" + c.member);
        EXPECT_EQ(m->FileExists(), c.exists);
        EXPECT_EQ(ReadAll(*m), c.content);
    }
    TZipFileParts missing(&Owner);
    missing.SetLocation("zip://" + Dir / "none.zip/f");
    EXPECT_FALSE(missing.ContainerExists());
    EXPECT_FALSE(missing.FileExists());
    EXPECT_EQ(missing.OpenReadStream(), nullptr);
}

// The same member path in two archives: each local copy holds its own archive's bytes.
TEST_F(ZipLocationTest, LocalCopiesAreKeyedByArchive) {
    const std::string a = MakeArchive("a.zip", {{"d/f.txt", "from a"}});
    const std::string b = MakeArchive("b.zip", {{"d/f.txt", "from b"}});
    TZipFileParts pa(&Owner), pb(&Owner);
    pa.SetLocation("zip://" + a + "/d/f.txt");
    pb.SetLocation("zip://" + b + "/d/f.txt");
    const std::string la = pa.GetLocalFileName();
    const std::string lb = pb.GetLocalFileName();
    EXPECT_NE(la, lb);
    EXPECT_EQ(ReadFile(la), "from a");
    EXPECT_EQ(ReadFile(lb), "from b");
    EXPECT_EQ(pa.GetLocalFileName(), la);  // extracted once
    EXPECT_EQ(la.rfind(Owner.TempFolder(), 0), 0u);
}

// The local copy is the member as the archive holds it now: never a file outside the
// copy's folder (a member whose path leaves it), never the bytes of an earlier archive of
// the same size and date (writes within one clock tick share a modification time).
TEST_F(ZipLocationTest, LocalCopyIsNeverAnotherFile) {
    const std::string a = MakeArchive("a.zip", {{"f.txt", "aaaa"}, {"XXXout.txt", "bad"}});
    ziptest::PatchBytes(a, "XXXout.txt", "../out.txt");
    TZipFileParts f(&Owner);
    f.SetLocation("zip://" + a + "/f.txt");
    ASSERT_EQ(ReadFile(f.GetLocalFileName()), "aaaa");

    TZipFileParts up(&Owner);
    up.SetLocation("zip://" + a + "/../out.txt");
    WriteFile(Owner.TempFolder() + "out.txt", "a file of the temporary folder");
    EXPECT_EQ(up.GetLocalFileName(), "");
    EXPECT_TRUE(Owner.Logged("Refused to read zip://" + a + "/../out.txt"));

    struct stat before {};
    ASSERT_EQ(::stat(a.c_str(), &before), 0);
    TMemoryStream s("bbbb");
    TFileInfoRec info;
    ASSERT_TRUE(f.ZipMaster().MemberInfo(a, "f.txt", info));
    ASSERT_TRUE(f.WriteFromStream(s, info));
    struct timespec t[2] = {{0, UTIME_OMIT}, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, a.c_str(), t, 0), 0);
    ASSERT_EQ(std::filesystem::file_size(a), uintmax_t(before.st_size));
    EXPECT_EQ(ReadFile(f.GetLocalFileName()), "bbbb");
}

// A member moved onto itself (by any spelling of its location, or from a spelling in
// other case that finds it) or over its own archive: both stay.
TEST_F(ZipLocationTest, MovingAMemberOntoItselfOrItsArchiveKeepsBoth) {
    const std::string a = MakeArchive("a.zip", {{"d/f.txt", "kept"}});
    struct Case { std::string from, to; };
    const std::string z = "zip://" + a + "/";
    for (const Case& c : {Case{z + "d/f.txt", z + "d/f.txt"}, Case{z + "d/f.txt", z + "/d/f.txt"},
                          Case{z + "d/f.txt", "zip://" + Dir / "./a.zip/d/f.txt"},
                          Case{z + "D/F.TXT", z + "d/f.txt"}}) {
        SCOPED_TRACE(c.from + " -> " + c.to);
        std::unique_ptr<TURLParts> m = CreateParts(&Owner, c.from);
        std::unique_ptr<TURLParts> d = CreateParts(&Owner, c.to);
        TCopyResult r;
        m->URLMoveTo(*d, 1, r);
        EXPECT_EQ(r.Files, 0);
        EXPECT_EQ(ReadAll(*m), "kept");
        EXPECT_TRUE(Owner.Logged("Error, could not...Moved " + c.from));
    }
    // Nor is a member copied or moved over its own archive.
    const std::string before = ReadFile(a);
    for (bool move : {false, true}) {
        SCOPED_TRACE(move);
        std::unique_ptr<TURLParts> m = CreateParts(&Owner, z + "d/f.txt");
        std::unique_ptr<TURLParts> d = CreateParts(&Owner, a);
        TCopyResult r;
        if (move) m->URLMoveTo(*d, 1, r);
        else m->CopyTo(*d, 1, r);
        EXPECT_EQ(r.Files, 0);
        EXPECT_TRUE(ReadFile(a) == before);
        EXPECT_TRUE(Owner.Logged("Cannot copy " + z + "d/f.txt to " + a + ": it is the member's own archive."));
    }
    // A move to another spelling in case renames the member.
    std::unique_ptr<TURLParts> m = CreateParts(&Owner, z + "d/f.txt");
    std::unique_ptr<TURLParts> d = CreateParts(&Owner, z + "D/F.TXT");
    TCopyResult r;
    m->URLMoveTo(*d, 1, r);
    EXPECT_EQ(r.Files, 1);
    TQNZipMaster zip(&Owner);
    zip.SetZipFileName(a);
    EXPECT_EQ(zip.Names().ToVector(), std::vector<std::string>{"D/F.TXT"});
    EXPECT_EQ(ReadAll(*d), "kept");
}

TEST_F(ZipLocationTest, CopiesAndMovesBetweenFoldersAndArchives) {
    const std::string a = MakeArchive("a.zip", {{"d/f.txt", "content"}, {"g", "gone"}});
    const std::string out = Dir / "out";
    ::mkdir(out.c_str(), 0755);

    // Out of the archive into a folder, with the member's date.
    std::unique_ptr<TURLParts> m = CreateParts(&Owner, "zip://" + a + "/d/f.txt");
    m->ListContents();
    std::unique_ptr<TURLParts> dest = CreateParts(&Owner, out + "/f.txt");
    TCopyResult r;
    m->CopyTo(*dest, 1, r);
    EXPECT_EQ(r.Files, 1);
    EXPECT_EQ(ReadFile(out + "/f.txt"), "content");

    // Into a new archive and back out: the date survives both ways.
    std::unique_ptr<TURLParts> z = CreateParts(&Owner, "zip://" + Dir / "b.zip/sub/f.txt");
    TFileInfoRec info;
    ASSERT_TRUE(LocalInfoOf(out + "/f.txt", info));
    dest->SetLocation(out + "/f.txt", info.ToHex());
    dest->CopyTo(*z, 1, r);
    EXPECT_EQ(r.Files, 1);
    EXPECT_EQ(Sh(Dir.Path(), "unzip -tq b.zip"), 0);
    EXPECT_EQ(ReadAll(*z), "content");
    TQNZipMaster zip(&Owner);
    TFileInfoRec back;
    ASSERT_TRUE(zip.MemberInfo(Dir / "b.zip", "sub/f.txt", back));
    EXPECT_EQ(back.Time, DosDateTimeFromUnix(When));

    // A move deletes the member only after the copy is in place.
    std::unique_ptr<TURLParts> g = CreateParts(&Owner, "zip://" + a + "/g");
    std::unique_ptr<TURLParts> gd = CreateParts(&Owner, out + "/g");
    g->URLMoveTo(*gd, 1, r);
    EXPECT_EQ(r.Files, 1);
    EXPECT_EQ(ReadFile(out + "/g"), "gone");
    EXPECT_FALSE(g->FileExists());
    EXPECT_TRUE(Owner.Logged("Moved zip://" + a + "/g to " + out + "/g"));

    // Moving a missing member copies nothing and says so.
    g->URLMoveTo(*gd, 1, r);
    EXPECT_EQ(r.Files, 0);
    EXPECT_TRUE(Owner.Logged("Error, could not...Moved zip://" + a + "/g"));
    EXPECT_EQ(Sh(Dir.Path(), "zip -T a.zip"), 0);
}

TEST_F(ZipLocationTest, SetDateRewritesTheMember) {
    const std::string a = MakeArchive("a.zip", {{"f.txt", "dated"}});
    TZipFileParts m(&Owner);
    m.SetLocation("zip://" + a + "/f.txt");
    const uint32_t local = PackDosDateTime(2020, 5, 6, 7, 8, 10);
    ASSERT_TRUE(m.SetDate(local));
    TQNZipMaster zip(&Owner);
    TFileInfoRec info;
    ASSERT_TRUE(zip.MemberInfo(a, "f.txt", info));
    EXPECT_EQ(info.Time, LocalToUtcDosTime(local));
    EXPECT_EQ(ReadAll(m), "dated");
    EXPECT_TRUE(m.Delete(false));
    EXPECT_FALSE(m.FileExists());
}

// Every zip location of an owner shares the owner's component, and a listing is read
// again once the archive changed, whoever changed it.
TEST_F(ZipLocationTest, ListingsSeeWritesOfOtherObjectsAndPrograms) {
    const std::string a = MakeArchive("a.zip", {{"f.txt", "f"}});
    TZipFileParts first(&Owner), writer(&Owner), second(&Owner);
    EXPECT_EQ(&first.ZipMaster(), &Owner.ZipMaster());
    first.SetLocation("zip://" + a + "/");
    EXPECT_EQ(first.ListContents(), 1);

    writer.SetLocation("zip://" + a + "/new.txt");
    TMemoryStream s("new");
    ASSERT_TRUE(writer.WriteFromStream(s, TFileInfoRec()));
    second.SetLocation("zip://" + a + "/");
    EXPECT_EQ(second.ListContents(), 2);
    EXPECT_GE(second.Names().IndexOf("new.txt"), 0);

    WriteFile(Dir / "more.txt", "more");
    ASSERT_EQ(Sh(Dir.Path(), "zip -q a.zip more.txt"), 0);
    EXPECT_EQ(first.ListContents(), 3);

    TSimpleLocationOwner other(Dir.Path());
    TMemoryStream t("third");
    ASSERT_TRUE(other.ZipMaster().AddFromStream(a, "third.txt", t, TFileInfoRec()));
    EXPECT_TRUE(CreateParts(&Owner, "zip://" + a + "/third.txt")->FileExists());
    EXPECT_EQ(first.ListContents(), 4);
}

}  // namespace
