// The zip component on archives written by the standard zip tool, and archives it writes
// checked by unzip and zip.
#include "locations/QNZipMaster.h"
#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using loctest::Content;
using qntest::ReadFile;
using qntest::WriteFile;
using ziptest::PatchBytes;
using ziptest::Sh;

namespace {

constexpr int64_t When = 1299215168;  // 2011-03-04 05:06:08 UTC (even seconds)

class ZipMasterTest : public ::testing::Test {
protected:
    qntest::TTempDir Dir{"qnzip"};
    TSimpleLocationOwner Owner{Dir.Path()};
    TQNZipMaster Zip{&Owner};
    std::string Src() { return Dir / "src"; }

    void SetUp() override { ::mkdir(Src().c_str(), 0755); }
    void Put(const std::string& rel, const std::string& data) {
        std::string path = Src() + "/" + rel;
        std::string folder = path.substr(0, path.rfind('/'));
        std::filesystem::create_directories(folder);
        WriteFile(path, data);
        loctest::SetMTime(path, When);
    }
    int IndexOf(const std::string& name) {
        TQNStringList& n = Zip.Names();
        for (int i = 0; i < n.Count(); ++i)
            if (n[i] == name) return i;
        return -1;
    }
    TFileInfoRec InfoAt(int i) { return *TFileInfoRec::FromHex(Zip.Infos()[i]); }
    std::string ReadAll(TStream& s) {
        std::string out;
        char buf[7000];
        for (size_t n; (n = s.Read(buf, sizeof buf)) > 0;) out.append(buf, n);
        return out;
    }
};

TEST_F(ZipMasterTest, ListsMembersOfAZipMadeArchive) {
    Put("README", "read me\n");
    Put("a.b/c", "no dot in the name\n");
    Put("data.tar.gz", Content(5000));
    ASSERT_EQ(Sh(Src(), "zip -r -q ../a.zip README a.b data.tar.gz"), 0);
    Zip.SetZipFileName(Dir / "a.zip");

    struct Case { const char* name; int64_t size; uint32_t attr; };
    for (const Case& c : {Case{"README", 8, faArchive}, Case{"a.b/", 0, faDirectory},
                          Case{"a.b/c", 19, faArchive}, Case{"data.tar.gz", 5000, faArchive}}) {
        SCOPED_TRACE(c.name);
        int i = IndexOf(c.name);
        ASSERT_GE(i, 0);
        TFileInfoRec info = InfoAt(i);
        EXPECT_EQ(info.Size, c.size);
        EXPECT_EQ(info.Attributes & (faDirectory | faArchive), c.attr);
        if (c.attr != faDirectory) {
            EXPECT_EQ(info.Time, DosDateTimeFromUnix(When));
        }
    }
    EXPECT_EQ(Zip.Stats().Values("FileCount"), "4");
    EXPECT_EQ(Zip.Stats().Values("FileSizeTotal"), "5027");
    EXPECT_TRUE(Zip.MemberExists(Dir / "a.zip", "readme"));  // ignoring case
    EXPECT_FALSE(Zip.MemberExists(Dir / "a.zip", "missing"));

    // A missing archive lists as empty with FileCount -1; a damaged one is an error.
    Zip.SetZipFileName(Dir / "none.zip");
    EXPECT_EQ(Zip.Names().Count(), 0);
    EXPECT_EQ(Zip.Stats().Values("FileCount"), "-1");
    WriteFile(Dir / "bad.zip", "this is not an archive");
    EXPECT_THROW(Zip.SetZipFileName(Dir / "bad.zip"), EFileError);
}

TEST_F(ZipMasterTest, ReadsAMemberAsAStream) {
    const std::string big = Content(3 << 20, 7) + std::string(2 << 20, 'z');
    Put("big.bin", big);
    ASSERT_EQ(Sh(Src(), "zip -q ../a.zip big.bin"), 0);
    std::unique_ptr<TStream> s = Zip.OpenMember(Dir / "a.zip", "big.bin");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Size(), int64_t(big.size()));
    EXPECT_TRUE(ReadAll(*s) == big);
    // Seeking back reopens the member; forward skips.
    s->SetPosition(10);
    char b[5];
    ASSERT_EQ(s->ReadFull(b, 5), 5u);
    EXPECT_EQ(std::string(b, 5), big.substr(10, 5));
    s->SetPosition(3 << 20);
    ASSERT_EQ(s->ReadFull(b, 5), 5u);
    EXPECT_EQ(std::string(b, 5), "zzzzz");
    EXPECT_THROW(s->Write("x", 1), EFileError);
    EXPECT_EQ(Zip.OpenMember(Dir / "a.zip", "missing"), nullptr);
}

// Members that would land outside the target folder, and links, are listed but refused.
TEST_F(ZipMasterTest, RefusesTraversalAbsoluteDriveAndLinkMembers) {
    struct Crafted { const char* made; const char* crafted; };
    const Crafted crafted[] = {{"XX_evil1.txt", "../evil1.txt"},
                               {"Xabs2.txt", "/abs2.txt"},
                               {"XXdrive3.txt", "c:drive3.txt"},
                               {"aXXXXb4.txt", "a\\..\\b4.txt"}};
    std::string list;
    for (const Crafted& c : crafted) {
        Put(c.made, "bad");
        list += std::string(" ") + c.made;
    }
    Put("good.txt", "good");
    ASSERT_EQ(::symlink("/etc/passwd", (Src() + "/link").c_str()), 0);
    ASSERT_EQ(Sh(Src(), "zip -q --symlinks ../evil.zip good.txt link" + list), 0);
    for (const Crafted& c : crafted) PatchBytes(Dir / "evil.zip", c.made, c.crafted);

    const std::string out = Dir / "out";
    std::vector<std::string> refused = {"link"};
    for (const Crafted& c : crafted) refused.push_back(c.crafted);
    Zip.SetZipFileName(Dir / "evil.zip");
    for (const std::string& name : refused) {
        SCOPED_TRACE(name);
        EXPECT_GE(IndexOf(name), 0);  // listed
        Owner.ClearMessages();
        EXPECT_EQ(Zip.OpenMember(Dir / "evil.zip", name), nullptr);
        EXPECT_TRUE(Owner.Logged("Refused to read zip://" + Dir / "evil.zip/" + name));
        std::string path;
        EXPECT_FALSE(Zip.ExtractMember(Dir / "evil.zip", name, path, false, out + "/"));
        EXPECT_EQ(path, "");
    }
    EXPECT_FALSE(loctest::Exists(Dir / "evil1.txt"));
    EXPECT_FALSE(loctest::Exists("/abs2.txt"));
    EXPECT_FALSE(loctest::Exists(out + "/link"));
    std::string path;
    ASSERT_TRUE(Zip.ExtractMember(Dir / "evil.zip", "good.txt", path, false, out + "/"));
    EXPECT_EQ(path, out + "/good.txt");
    EXPECT_EQ(ReadFile(path), "good");
    EXPECT_EQ(loctest::MTime(path), When);
}

TEST_F(ZipMasterTest, WrittenArchivesPassUnzipAndZipChecks) {
    Put("README", "old");
    ASSERT_EQ(Sh(Src(), "zip -q ../a.zip README"), 0);
    const std::string a = Dir / "a.zip";
    TFileInfoRec info;
    info.Time = DosDateTimeFromUnix(When);
    info.Attributes = faArchive | faReadOnly;
    const std::string big = Content(1 << 20, 3);
    TMemoryStream s1(big), s2("new readme"), s3("");
    ASSERT_TRUE(Zip.AddFromStream(a, "sub/data.tar.gz", s1, info));
    ASSERT_TRUE(Zip.AddFromStream(a, "README", s2, info));  // replaces
    ASSERT_TRUE(Zip.AddFromStream(a, "empty", s3, info));
    EXPECT_EQ(Sh(Dir.Path(), "unzip -tq a.zip"), 0);
    EXPECT_EQ(Sh(Dir.Path(), "zip -T a.zip"), 0);
    EXPECT_EQ(Sh(Dir.Path(), "unzip -p a.zip README > readme.out"), 0);
    EXPECT_EQ(ReadFile(Dir / "readme.out"), "new readme");
    EXPECT_EQ(Sh(Dir.Path(), "unzip -p a.zip sub/data.tar.gz > big.out"), 0);
    EXPECT_TRUE(ReadFile(Dir / "big.out") == big);

    Zip.SetZipFileName(a);
    EXPECT_EQ(Zip.Names().Count(), 3);
    for (const char* name : {"README", "sub/data.tar.gz", "empty"}) {
        SCOPED_TRACE(name);
        int i = IndexOf(name);
        ASSERT_GE(i, 0);
        EXPECT_EQ(InfoAt(i).Time, info.Time);
        EXPECT_EQ(InfoAt(i).Attributes, info.Attributes);
    }
    // unzip restores the date as well.
    ASSERT_EQ(Sh(Dir.Path(), "mkdir x && cd x && unzip -q ../a.zip"), 0);
    EXPECT_EQ(loctest::MTime(Dir / "x/README"), When);

    // A new archive is created; the last member deleted leaves a valid empty archive.
    TMemoryStream s4("one");
    ASSERT_TRUE(Zip.AddFromStream(Dir / "new.zip", "one.txt", s4, info));
    EXPECT_EQ(Sh(Dir.Path(), "unzip -tq new.zip"), 0);
    EXPECT_TRUE(Zip.DeleteMember(Dir / "new.zip", "one.txt", true));
    EXPECT_TRUE(Owner.Logged("Deleted ZipEntry one.txt from " + Dir / "new.zip"));
    ASSERT_TRUE(loctest::Exists(Dir / "new.zip"));
    Zip.SetZipFileName(Dir / "new.zip");
    EXPECT_EQ(Zip.Stats().Values("FileCount"), "0");
    EXPECT_FALSE(Zip.DeleteMember(Dir / "new.zip", "one.txt", false));

    TMemoryStream s5("x");
    EXPECT_THROW(Zip.AddFromStream(a, "../up.txt", s5, info), EFileError);
}

TEST_F(ZipMasterTest, AddFileDeletesTheSourceOnlyAfterCommit) {
    Put("sub/f.txt", "below");
    const std::string other = Dir / "other.txt";
    WriteFile(other, "elsewhere");
    const std::string a = Src() + "/a.zip";
    std::string loc;
    ASSERT_TRUE(Zip.AddFile(a, Src() + "/sub/f.txt", loc, true));
    EXPECT_EQ(loc, "zip://" + a + "/sub/f.txt");
    EXPECT_TRUE(Owner.Logged("Zipped " + Src() + "/sub/f.txt to " + loc));
    EXPECT_FALSE(loctest::Exists(Src() + "/sub/f.txt"));
    ASSERT_TRUE(Zip.AddFile(a, other, loc, false));
    EXPECT_EQ(loc, "zip://" + a + "/other.txt");
    EXPECT_FALSE(Owner.Logged("Zipped " + other));  // quiet: the status line only
    EXPECT_EQ(Sh(Src(), "unzip -tq a.zip"), 0);
    Zip.SetZipFileName(a);
    EXPECT_EQ(InfoAt(IndexOf("sub/f.txt")).Time, DosDateTimeFromUnix(When));

    // A commit that fails (the archive's folder is read-only) keeps the source.
    if (::geteuid() != 0) {
        const std::string ro = Dir / "ro";
        ::mkdir(ro.c_str(), 0755);
        WriteFile(Dir / "keep.txt", "keep");
        ::chmod(ro.c_str(), 0555);
        EXPECT_THROW(Zip.AddFile(ro + "/r.zip", Dir / "keep.txt", loc, false), EFileError);
        ::chmod(ro.c_str(), 0755);
        EXPECT_EQ(ReadFile(Dir / "keep.txt"), "keep");
    }
}

}  // namespace

namespace {

// A self-extracting archive: a program stub in front, offsets adjusted by zip -A.
TEST_F(ZipMasterTest, ReadsASelfExtractingArchive) {
    Put("readme.txt", "inside the program");
    ASSERT_EQ(Sh(Src(), "zip -q ../plain.zip readme.txt"), 0);
    WriteFile(Dir / "setup.exe", Content(4096, 9) + ReadFile(Dir / "plain.zip"));
    ASSERT_EQ(Sh(Dir.Path(), "zip -q -A setup.exe"), 0);
    Zip.SetZipFileName(Dir / "setup.exe");
    EXPECT_EQ(IndexOf("readme.txt"), 0);
    std::unique_ptr<TStream> s = Zip.OpenMember(Dir / "setup.exe", "readme.txt");
    ASSERT_TRUE(s);
    EXPECT_EQ(ReadAll(*s), "inside the program");
}

// A cancelled write leaves the archive as it was.
TEST_F(ZipMasterTest, CancelledWriteKeepsTheArchive) {
    Put("f.txt", "kept");
    ASSERT_EQ(Sh(Src(), "zip -q ../a.zip f.txt"), 0);
    const std::string before = ReadFile(Dir / "a.zip");
    TMemoryStream s("replacement");
    TFileInfoRec info;
    Owner.Cancel();
    EXPECT_FALSE(Zip.AddFromStream(Dir / "a.zip", "f.txt", s, info));
    Owner.Resume();
    EXPECT_TRUE(ReadFile(Dir / "a.zip") == before);
}

}  // namespace

namespace {

// Many files in one commit: every source goes once its member reads back; a commit that
// fails or is cancelled keeps every source and the archive as it was.
TEST_F(ZipMasterTest, AddFilesCommitsTheWholeListAtOnce) {
    Put("sub/x.txt", "x");
    Put("y.txt", "y");
    Put("README", "r");
    const std::string other = Dir / "other.txt";
    WriteFile(other, "elsewhere");
    const std::string a = Src() + "/a.zip";
    TQNStringList files;
    for (const std::string& f : {Src() + "/sub/x.txt", Src() + "/y.txt", Src() + "/sub",
                                 Src() + "/missing", Src() + "/README", other})
        files.Add(f);
    TQNStringList added = Zip.AddFiles(a, files, true);
    const std::string z = "zip://" + a + "/";
    EXPECT_EQ(added.ToVector(), (std::vector<std::string>{z + "sub/x.txt", z + "y.txt",
                                                          z + "README", z + "other.txt"}));
    for (const char* f : {"sub/x.txt", "y.txt", "README"}) EXPECT_FALSE(loctest::Exists(Src() + "/" + f));
    EXPECT_FALSE(loctest::Exists(other));
    EXPECT_TRUE(Owner.Logged("Cannot add " + Src() + "/sub to " + a));
    EXPECT_TRUE(Owner.Logged("Zipped " + Src() + "/y.txt to " + z + "y.txt"));
    EXPECT_EQ(Sh(Src(), "unzip -tq a.zip"), 0);
    EXPECT_EQ(Sh(Src(), "zip -T a.zip"), 0);
    Zip.SetZipFileName(a);
    EXPECT_EQ(InfoAt(IndexOf("sub/x.txt")).Time, DosDateTimeFromUnix(When));

    Put("big1", Content(300000, 1));
    Put("big2", Content(300000, 2));
    TQNStringList more;
    more.Add(Src() + "/big1");
    more.Add(Src() + "/big2");
    const std::string before = ReadFile(a);
    {
        qntest::TFileSizeLimit limit(before.size() + 100000);
        EXPECT_THROW(Zip.AddFiles(a, more, false), EFileError);
    }
    Owner.Cancel();
    EXPECT_TRUE(Zip.AddFiles(a, more, false).Empty());
    Owner.Resume();
    EXPECT_TRUE(ReadFile(a) == before);
    EXPECT_TRUE(loctest::Exists(Src() + "/big1"));
    EXPECT_TRUE(loctest::Exists(Src() + "/big2"));
}

// A backup archive that holds the file itself under its own name: the member becomes
// the next version that no name in the folder or the archive uses.
TEST_F(ZipMasterTest, BackupArchiveHoldingTheFileItselfIsMigrated) {
    Put("report.txt", "current");
    Put("report Backup (1).txt", "v1");
    Put("report Backup (2).txt.diff", "v2");
    ASSERT_EQ(Sh(Src(), "zip -q '../report Backup (x).txt.zip' report.txt 'report Backup (1).txt' "
                        "'report Backup (2).txt.diff'"),
              0);
    const std::string a = Dir / "report Backup (x).txt.zip";
    // A migration that cannot be written leaves the archive listed as it is.
    const std::string before = ReadFile(a);
    {
        qntest::TFileSizeLimit limit(64);
        Zip.SetZipFileName(a);
    }
    EXPECT_GE(IndexOf("report.txt"), 0);
    EXPECT_TRUE(Owner.Logged("Cannot migrate " + a));
    EXPECT_TRUE(ReadFile(a) == before);
    Zip.Reset();

    Zip.SetZipFileName(a);
    EXPECT_EQ(IndexOf("report.txt"), -1);
    ASSERT_GE(IndexOf("report Backup (3).txt"), 0);
    EXPECT_EQ(InfoAt(IndexOf("report Backup (3).txt")).Time, DosDateTimeFromUnix(When));
    EXPECT_TRUE(Owner.Logged("Warning: Migrated ZipEntry \"report.txt\" to \"report Backup (3).txt\" "
                             "in ZipFile \"" + a + "\".  You may needed to rerun your last "
                             "operation you need/use this ZipEntry."));
    for (auto [member, content] : {std::pair<const char*, const char*>{"report Backup (3).txt", "current"},
                                   {"report Backup (1).txt", "v1"},
                                   {"report Backup (2).txt.diff", "v2"}}) {
        SCOPED_TRACE(member);
        std::unique_ptr<TStream> s = Zip.OpenMember(a, member);
        ASSERT_TRUE(s);
        EXPECT_EQ(ReadAll(*s), content);
    }
    EXPECT_EQ(Sh(Dir.Path(), "unzip -tq 'report Backup (x).txt.zip'"), 0);
}

// Comments of members come from the notes file inside the same archive.
TEST_F(ZipMasterTest, CommentsComeFromTheNotesInTheArchive) {
    Put("d/f.txt", "f");
    Put("d/f Backup (x).txt.ini", "<Comment>\r\n0=first draft\r\n");
    Put("g.txt", "g");
    ASSERT_EQ(Sh(Src(), "zip -q -r ../a.zip d g.txt"), 0);
    Zip.SetZipFileName(Dir / "a.zip");
    EXPECT_EQ(Zip.Comments()[IndexOf("d/f.txt")], "first draft");
    EXPECT_EQ(Zip.Comments()[IndexOf("g.txt")], "");
    EXPECT_EQ(Zip.Comments().Count(), Zip.Names().Count());
}

}  // namespace

namespace {

// Damaged archives and archives that are no files: a clear error on listing, reading,
// extracting and writing, no file left in the target, and the archive as it was.
TEST_F(ZipMasterTest, DamagedArchivesGiveErrorsAndChangeNothing) {
    Put("f.txt", Content(20000, 4));
    ASSERT_EQ(Sh(Src(), "zip -q ../good.zip f.txt"), 0);
    const std::string good = ReadFile(Dir / "good.zip");
    struct Case { const char* name; std::string bytes; bool listable; };
    std::string flipped = good;
    flipped[flipped.find("f.txt") + 5 + 200] ^= 0x55;  // inside the deflated data
    const Case cases[] = {{"truncated.zip", good.substr(0, good.size() / 2), false},
                          {"cut-tail.zip", good.substr(0, good.size() - 10), false},
                          {"text.zip", "this is not an archive", false},
                          {"flipped.zip", flipped, true}};
    const std::string out = Dir / "out";
    ::mkdir(out.c_str(), 0755);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string a = Dir / c.name;
        WriteFile(a, c.bytes);
        Zip.Reset();
        if (c.listable) {
            Zip.SetZipFileName(a);
            EXPECT_EQ(IndexOf("f.txt"), 0);
            std::unique_ptr<TStream> s = Zip.OpenMember(a, "f.txt");
            ASSERT_TRUE(s);
            EXPECT_THROW(ReadAll(*s), EFileError);
        } else {
            EXPECT_THROW(Zip.SetZipFileName(a), EFileError);
            EXPECT_THROW(Zip.OpenMember(a, "f.txt"), EFileError);
        }
        std::string path;
        EXPECT_THROW(Zip.ExtractMember(a, "f.txt", path, false, out), EFileError);
        EXPECT_EQ(path, "");
        TMemoryStream s("new");
        if (!c.listable) {
            EXPECT_THROW(Zip.AddFromStream(a, "g.txt", s, TFileInfoRec()), EFileError);
            EXPECT_THROW(Zip.DeleteMember(a, "f.txt", false), EFileError);
            EXPECT_TRUE(ReadFile(a) == c.bytes);
        }
        EXPECT_TRUE(std::filesystem::is_empty(out));
    }
    // A folder or a pipe under an archive's name is never opened as one.
    ::mkdir((Dir / "dir.zip").c_str(), 0755);
    ASSERT_EQ(::mkfifo((Dir / "pipe.zip").c_str(), 0644), 0);
    for (const char* name : {"dir.zip", "pipe.zip"}) {
        SCOPED_TRACE(name);
        const std::string a = Dir / name;
        EXPECT_THROW(Zip.SetZipFileName(a), EFileError);
        EXPECT_THROW(Zip.OpenMember(a, "f.txt"), EFileError);
        TMemoryStream s("new");
        try {
            Zip.AddFromStream(a, "g.txt", s, TFileInfoRec());
            ADD_FAILURE() << "written";
        } catch (const EFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open the archive " + a + ": it is not a file.");
        }
    }
}

// A self-extracting archive is never rewritten: the rewrite would drop the program in
// front of its members.
TEST_F(ZipMasterTest, WritingASelfExtractingArchiveKeepsItsProgram) {
    Put("readme.txt", "inside the program");
    ASSERT_EQ(Sh(Src(), "zip -q ../plain.zip readme.txt"), 0);
    const std::string stub = Content(4096, 9);
    WriteFile(Dir / "setup.exe", stub + ReadFile(Dir / "plain.zip"));
    ASSERT_EQ(Sh(Dir.Path(), "zip -q -A setup.exe"), 0);
    const std::string before = ReadFile(Dir / "setup.exe");
    TMemoryStream s("added");
    EXPECT_THROW(Zip.AddFromStream(Dir / "setup.exe", "new.txt", s, TFileInfoRec()), EFileError);
    EXPECT_THROW(Zip.DeleteMember(Dir / "setup.exe", "readme.txt", false), EFileError);
    Put("more.txt", "more");
    TQNStringList files;
    files.Add(Src() + "/more.txt");
    EXPECT_THROW(Zip.AddFiles(Dir / "setup.exe", files, false), EFileError);
    EXPECT_TRUE(loctest::Exists(Src() + "/more.txt"));
    EXPECT_TRUE(ReadFile(Dir / "setup.exe") == before);
}

}  // namespace

namespace {

// A file whose name is no UTF-8 cannot become a member; it is kept, and the files
// beside it in the same list are added all the same.
TEST_F(ZipMasterTest, AddFilesSkipsNamesThatCannotBeMembers) {
    Put("caf\xe9.txt", "latin-1 name");
    Put("plain.txt", "plain");
    const std::string a = Src() + "/a.zip";
    TQNStringList files;
    files.Add(Src() + "/caf\xe9.txt");
    files.Add(Src() + "/plain.txt");
    TQNStringList added = Zip.AddFiles(a, files, false);
    EXPECT_EQ(added.ToVector(), std::vector<std::string>{"zip://" + a + "/plain.txt"});
    EXPECT_EQ(ReadFile(Src() + "/caf\xe9.txt"), "latin-1 name");
    EXPECT_TRUE(Owner.Logged("Cannot add " + Src() + "/caf\xe9.txt to " + a));
    EXPECT_EQ(Sh(Src(), "unzip -tq a.zip"), 0);
}

// The archive replaced or cut while a member is read: the read goes on from the archive
// as it was opened, or fails with an error; never a crash.
TEST_F(ZipMasterTest, ArchiveChangedWhileAMemberIsRead) {
    const std::string big = Content(2 << 20, 5);
    Put("big.bin", big);
    Put("small.txt", "small");
    ASSERT_EQ(Sh(Src(), "zip -q ../a.zip big.bin small.txt"), 0);
    const std::string a = Dir / "a.zip";
    Zip.SetZipFileName(a);
    std::unique_ptr<TStream> s = Zip.OpenMember(a, "big.bin");
    ASSERT_TRUE(s);
    char buf[1000];
    ASSERT_EQ(s->ReadFull(buf, sizeof buf), sizeof buf);
    ASSERT_EQ(::truncate(a.c_str(), 3000), 0);
    EXPECT_THROW(ReadAll(*s), EFileError);
    s.reset();
    EXPECT_THROW(Zip.SetZipFileName(a), EFileError);  // listed again: now damaged
    EXPECT_THROW(Zip.OpenMember(a, "small.txt"), EFileError);
}

}  // namespace
