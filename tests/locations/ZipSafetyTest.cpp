// The zip component against hostile archives and hostile extraction targets: a member
// that expands to more than 4 GiB, and target folders that hold symbolic links.
#include "locations/QNZipMaster.h"
#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/resource.h>

using qntest::ReadFile;
using qntest::WriteFile;
using ziptest::Sh;

namespace {

class ZipSafetyTest : public ::testing::Test {
protected:
    qntest::TTempDir Dir{"qnzipsafe"};
    TSimpleLocationOwner Owner{Dir.Path()};
    TQNZipMaster Zip{&Owner};

    static std::vector<std::string> Entries(const std::string& folder) {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static int64_t PeakResidentBytes() {
        rusage u {};
        getrusage(RUSAGE_SELF, &u);
        return int64_t(u.ru_maxrss) * 1024;
    }
};

TEST_F(ZipSafetyTest, AMemberOfMoreThan4GiBIsStreamedAndCannotFillALimitedPlace) {
    const uint64_t mebibytes = 4096 + 3;
    const int64_t size = int64_t(mebibytes) << 20;
    const std::string a = Dir / "bomb.zip";
    ASSERT_TRUE(ziptest::MakeZeroBomb(a, "zeros.bin", mebibytes));
    ASSERT_LT(std::filesystem::file_size(a), 16u << 20);

    // Listed with its 64-bit size.
    Zip.SetZipFileName(a);
    ASSERT_EQ(Zip.Names().Count(), 1);
    EXPECT_EQ(TFileInfoRec::FromHex(Zip.Infos()[0])->Size, size);
    EXPECT_EQ(Zip.Stats().Values("FileSizeTotal"), IntToStr(size));

    // Read to its end through the stream: memory stays far below the member's size.
    const int64_t peakBefore = PeakResidentBytes();
    std::unique_ptr<TStream> s = Zip.OpenMember(a, "zeros.bin");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Size(), size);
    std::vector<char> buf(1 << 20);
    int64_t total = 0;
    bool zeros = true;
    for (size_t n; (n = s->Read(buf.data(), buf.size())) > 0;) {
        if (total == 0) zeros = std::all_of(buf.begin(), buf.begin() + long(n), [](char c) { return c == 0; });
        total += int64_t(n);
    }
    s.reset();
    EXPECT_EQ(total, size);
    EXPECT_TRUE(zeros);
    EXPECT_LT(PeakResidentBytes() - peakBefore, int64_t(512) << 20);

    // Extracted where files may not grow beyond 1 MiB: an error, and no partial file.
    const std::string out = Dir / "out";
    ::mkdir(out.c_str(), 0755);
    std::string path = "unchanged";
    {
        qntest::TFileSizeLimit limit(1 << 20);
        EXPECT_THROW(Zip.ExtractMember(a, "zeros.bin", path, false, out), EFileError);
        EXPECT_THROW(Zip.ExtractAll(a, false, out), EFileError);
    }
    EXPECT_EQ(path, "");
    EXPECT_TRUE(Entries(out).empty());
}

// Links already in the target folder: extraction never writes through them.
TEST_F(ZipSafetyTest, ExtractionNeverWritesThroughLinksInTheTarget) {
    const std::string src = Dir / "src";
    for (const char* f : {"sub/f.txt", "g.txt", "deep/er/h.txt", "top.txt"}) {
        std::filesystem::create_directories(std::filesystem::path(src + "/" + f).parent_path());
        WriteFile(src + "/" + f, std::string("from the archive: ") + f);
    }
    ASSERT_EQ(Sh(src, "zip -q -r ../a.zip sub g.txt deep top.txt"), 0);
    const std::string a = Dir / "a.zip";
    const std::string outside = Dir / "outside";
    const std::string out = Dir / "out";
    ::mkdir(outside.c_str(), 0755);
    ::mkdir(out.c_str(), 0755);
    WriteFile(outside + "/victim", "untouched");
    ASSERT_EQ(::symlink(outside.c_str(), (out + "/sub").c_str()), 0);              // a folder link
    ASSERT_EQ(::symlink((outside + "/victim").c_str(), (out + "/g.txt").c_str()), 0);  // a file link

    TQNStringList written = Zip.ExtractAll(a, false, out);
    EXPECT_EQ(written.ToVector(), (std::vector<std::string>{out + "/g.txt", out + "/deep/",
                                                            out + "/deep/er/", out + "/deep/er/h.txt",
                                                            out + "/top.txt"}));
    EXPECT_TRUE(Owner.Logged("Refused to extract zip://" + a + "/sub/"));
    EXPECT_TRUE(Owner.Logged("Refused to extract zip://" + a + "/sub/f.txt"));
    std::string path;
    EXPECT_FALSE(Zip.ExtractMember(a, "sub/f.txt", path, false, out));
    EXPECT_EQ(path, "");
    EXPECT_TRUE(Zip.ExtractMember(a, "", path, false, out));  // all of them again

    EXPECT_EQ(Entries(outside), std::vector<std::string>{"victim"});
    EXPECT_EQ(ReadFile(outside + "/victim"), "untouched");
    // The file link itself was replaced by the member.
    struct stat st {};
    ASSERT_EQ(::lstat((out + "/g.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(out + "/g.txt"), "from the archive: g.txt");
    EXPECT_EQ(ReadFile(out + "/deep/er/h.txt"), "from the archive: deep/er/h.txt");
}

}  // namespace

namespace {

// Odd member names made by another program: "." as a file name, duplicates, a line
// break, bytes that are no UTF-8. Each member is extracted to a name of its own below
// the target or refused with a log line; the others are extracted all the same.
TEST_F(ZipSafetyTest, OddMemberNamesExtractBelowTheTargetOrAreRefused) {
    const std::string a = Dir / "odd.zip";
    ASSERT_EQ(Sh(Dir.Path(), "python3 -W ignore -c \"import zipfile\n"
                             "z = zipfile.ZipFile('odd.zip', 'w')\n"
                             "for n, d in [('.', 'dot'), ('sub/.', 'subdot'), ('dup.txt', 'first'),\n"
                             "             ('dup.txt', 'second'), ('new\\nline.txt', 'nl'),\n"
                             "             ('ctlX.txt', 'ctl'), ('after.txt', 'after')]:\n"
                             "    z.writestr(n, d)\n"
                             "z.close()\""),
              0);
    ziptest::PatchBytes(a, "ctlX.txt", "ctl\xff.txt");
    const std::string out = Dir / "out";
    ::mkdir(out.c_str(), 0755);
    TQNStringList written = Zip.ExtractAll(a, false, out);
    EXPECT_GE(written.IndexOf(out + "/after.txt"), 0);
    EXPECT_EQ(ReadFile(out + "/after.txt"), "after");
    EXPECT_EQ(ReadFile(out + "/new\nline.txt"), "nl");
    EXPECT_EQ(ReadFile(out + "/dup.txt"), "second");  // the later one wins
    EXPECT_EQ(ReadFile(out + "/ctl\xc2\xa0.txt"), "ctl");  // not UTF-8: read as code page 437
    EXPECT_TRUE(Owner.Logged("Refused to read zip://" + a + "/."));
    EXPECT_TRUE(Owner.Logged("Refused to read zip://" + a + "/sub/."));
    std::string path;
    EXPECT_FALSE(Zip.ExtractMember(a, ".", path, false, out));
    EXPECT_EQ(Zip.OpenMember(a, "sub/."), nullptr);
    for (const std::string& e : Entries(out)) EXPECT_EQ(e.rfind(".qnzip-", 0), std::string::npos) << e;
}

}  // namespace

namespace {

// A member whose data expands to more than its header gives (here 5000 bytes where the
// header says 50) is an error, for a reader and for an extraction, which leaves no file.
TEST_F(ZipSafetyTest, AMemberLargerThanItsHeaderSaysIsAnError) {
    const std::string src = Dir / "src";
    ::mkdir(src.c_str(), 0755);
    WriteFile(src + "/f.txt", std::string(5000, 'a'));
    ASSERT_EQ(Sh(src, "zip -q ../lie.zip f.txt"), 0);
    const std::string a = Dir / "lie.zip";
    ziptest::PatchBytes(a, std::string("\x88\x13\x00\x00", 4), std::string("\x32\x00\x00\x00", 4));
    std::unique_ptr<TStream> r = Zip.OpenMember(a, "f.txt");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Size(), 50);
    std::vector<char> buf(100000);
    EXPECT_EQ(r->Read(buf.data(), buf.size()), 50u);
    EXPECT_THROW(r->Read(buf.data(), buf.size()), EFileError);
    const std::string out = Dir / "out";
    ::mkdir(out.c_str(), 0755);
    std::string path;
    EXPECT_THROW(Zip.ExtractMember(a, "f.txt", path, false, out), EFileError);
    EXPECT_EQ(path, "");
    EXPECT_TRUE(Entries(out).empty());
}

// An archive reached through a symbolic link is written where the link points.
TEST_F(ZipSafetyTest, WritingThroughALinkKeepsTheLink) {
    const std::string src = Dir / "src";
    ::mkdir(src.c_str(), 0755);
    WriteFile(src + "/f.txt", "f");
    ASSERT_EQ(Sh(src, "zip -q ../real.zip f.txt"), 0);
    const std::string real = Dir / "real.zip", link = Dir / "link.zip";
    ASSERT_EQ(::symlink("real.zip", link.c_str()), 0);
    TMemoryStream s("new");
    ASSERT_TRUE(Zip.AddFromStream(link, "g.txt", s, TFileInfoRec()));
    WriteFile(Dir / "h.txt", "h");
    TQNStringList files;
    files.Add(Dir / "h.txt");
    EXPECT_EQ(Zip.AddFiles(link, files, false).Count(), 1);
    EXPECT_TRUE(Zip.DeleteMember(link, "f.txt", false));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    Zip.SetZipFileName(real);
    EXPECT_EQ(Zip.Names().ToVector(), (std::vector<std::string>{"g.txt", "h.txt"}));
    EXPECT_EQ(Sh(Dir.Path(), "unzip -tq real.zip"), 0);
}

}  // namespace
