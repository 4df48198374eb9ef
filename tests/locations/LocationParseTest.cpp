// Parsing of location strings of every kind, and the kind chosen for each.
#include "locations/BackupFileParts.h"
#include "locations/DirectoryParts.h"
#include "locations/FTPFileParts.h"
#include "locations/LocationOwner.h"
#include "locations/PBLFileParts.h"
#include "locations/ZipFileParts.h"

#include <gtest/gtest.h>
#include <ostream>

namespace {

enum class TKind { Dir, Zip, Ftp, Pbl, Plain };

TKind KindOf(TURLParts& p) {
    if (dynamic_cast<TDirectoryParts*>(&p)) return TKind::Dir;
    if (dynamic_cast<TZipFileParts*>(&p)) return TKind::Zip;
    if (dynamic_cast<TFTPFileParts*>(&p)) return TKind::Ftp;
    if (dynamic_cast<TPBLFileParts*>(&p)) return TKind::Pbl;
    return TKind::Plain;
}

struct TParseCase {
    const char* Location;
    TKind Kind;
    const char* Path;
    const char* Name;
    const char* BaseName;
    const char* Extension;
    bool SelfEntry;
    bool Valid;
    const char* Composed;  // GetLocation()
    const char* Extra;     // kind-specific: Drive, MemberFolder, Host|RemoteFolder|Client, Version
};

const TParseCase ParseCases[] = {
    {"/data//sub/./file.txt", TKind::Dir, "/data/sub/", "file.txt", "file", ".txt", true, true,
     "/data/sub/file.txt", "/"},
    {"/data/README", TKind::Dir, "/data/", "README", "README", "", false, true, "/data/README", "/"},
    // A folder named "Mr." is not the folder's own "." entry.
    {"/data/Mr./notes.txt", TKind::Dir, "/data/Mr./", "notes.txt", "notes", ".txt", false, true,
     "/data/Mr./notes.txt", "/"},
    {"/data/sub/./", TKind::Dir, "/data/sub/", "", "", "", true, true, "/data/sub/", "/"},
    {"/", TKind::Dir, "/", "", "", "", false, true, "/", "/"},
    {"", TKind::Dir, "", "", "", "", false, false, "", ""},
    {"relative/file.txt", TKind::Dir, "relative/", "file.txt", "file", ".txt", false, false,
     "relative/file.txt", ""},
    // Windows drive letters and shares: a backslash is part of a Linux name.
    {"c:\\data\\report.txt", TKind::Dir, "", "c:\\data\\report.txt", "c:\\data\\report", ".txt",
     false, false, "c:\\data\\report.txt", ""},
    {"\\\\server\\share\\dir\\report.txt", TKind::Dir, "", "\\\\server\\share\\dir\\report.txt",
     "\\\\server\\share\\dir\\report", ".txt", false, false, "\\\\server\\share\\dir\\report.txt", ""},
    {"//server/share/dir/", TKind::Dir, "//server/share/dir/", "", "", "", false, false,
     "//server/share/dir/", ""},
    {"/data/a\\b.txt", TKind::Dir, "/data/", "a\\b.txt", "a\\b", ".txt", false, true,
     "/data/a\\b.txt", "/"},
    {"/data/trailing blank ", TKind::Dir, "/data/", "trailing blank ", "trailing blank ", "",
     false, true, "/data/trailing blank ", "/"},
    {"/data/<vpc:virt/>file.txt", TKind::Dir, "/data/", "file.txt", "file", ".txt", false, true,
     "/data/virt/file.txt", "/"},
    {"/home/x/zip://y", TKind::Dir, "/home/x/zip:/", "y", "y", "", false, true,
     "/home/x/zip:/y", "/"},
    {"zip:///x/a.zip/dir/f.txt", TKind::Zip, "/x/a.zip", "f.txt", "f", ".txt", false, true,
     "zip:///x/a.zip/dir/f.txt", "dir/"},
    {"zip:///x/setup.exe/readme.txt", TKind::Zip, "/x/setup.exe", "readme.txt", "readme", ".txt",
     false, true, "zip:///x/setup.exe/readme.txt", ""},
    {"zip:///x/a.zip/b.zip/c.txt", TKind::Zip, "/x/a.zip", "c.txt", "c", ".txt", false, true,
     "zip:///x/a.zip/b.zip/c.txt", "b.zip/"},
    {"zip:///x/a.zip/data.tar.gz", TKind::Zip, "/x/a.zip", "data.tar.gz", "data", ".tar.gz", false,
     true, "zip:///x/a.zip/data.tar.gz", ""},
    {"zip:///x/a.zip/d/README", TKind::Zip, "/x/a.zip", "README", "README", "", false, true,
     "zip:///x/a.zip/d/README", "d/"},
    {"zip:///x/a.zipper/b.jar/c", TKind::Zip, "/x/a.zipper/b.jar", "c", "c", "", false, true,
     "zip:///x/a.zipper/b.jar/c", ""},
    // Upper-case scheme: the zip kind, but not a valid location.
    {"ZIP:///x/a.zip/f.txt", TKind::Zip, "/x/a.zip", "f.txt", "f", ".txt", false, false,
     "zip:///x/a.zip/f.txt", ""},
    {"zip://c:\\x\\a.zip/f.txt", TKind::Zip, "c:\\x\\a.zip", "f.txt", "f", ".txt", false, false,
     "zip://c:\\x\\a.zip/f.txt", ""},
    {"ftp://host", TKind::Ftp, "host/", "", "", "", false, true, "ftp://host/", "host|/|1"},
    {"ftp://localhost/x", TKind::Ftp, "localhost/", "x", "x", "", false, true,
     "ftp://localhost/x", "localhost|/|1"},
    {"ftp2://host/a/b/c.txt", TKind::Ftp, "host/a/b/", "c.txt", "c", ".txt", false, false,
     "ftp2://host/a/b/c.txt", "host|/a/b/|2"},
    {"ftp2://files.example.org/pub/c.txt", TKind::Ftp, "files.example.org/pub/", "c.txt", "c",
     ".txt", false, true, "ftp2://files.example.org/pub/c.txt", "files.example.org|/pub/|2"},
    {"sftp://host/x", TKind::Ftp, "host/", "x", "x", "", false, false, "sftp://host/x",
     "host|/|1"},
    {"pb10:///a/lib.pbl/w_main.srw", TKind::Pbl, "/a/lib.pbl", "w_main.srw", "w_main", ".srw",
     false, true, "pb10:///a/lib.pbl/w_main.srw", "10"},
    {"PB7:///a/lib.pbl/d_list.srd", TKind::Pbl, "/a/lib.pbl", "d_list.srd", "d_list", ".srd",
     false, true, "pb7:///a/lib.pbl/d_list.srd", "7"},
    {"pb0:///a/lib.pbl/x.srw", TKind::Pbl, "/a/lib.pbl", "x.srw", "x", ".srw", false, false,
     "pb0:///a/lib.pbl/x.srw", "0"},
    {"news://server/group", TKind::Plain, "server/", "group", "group", "", false, false,
     "news://server/group", ""},
};

void PrintTo(const TParseCase& c, std::ostream* os) { *os << '"' << c.Location << '"'; }

class ParseTest : public ::testing::TestWithParam<TParseCase> {};

TEST_P(ParseTest, PartsKindAndComposition) {
    const TParseCase& c = GetParam();
    TSimpleLocationOwner owner;
    auto p = CreateParts(&owner, c.Location);
    SCOPED_TRACE(c.Location);
    EXPECT_EQ(KindOf(*p), c.Kind);
    EXPECT_EQ(p->Path, c.Path);
    EXPECT_EQ(p->Name, c.Name);
    EXPECT_EQ(p->BaseName, c.BaseName);
    EXPECT_EQ(p->Extension, c.Extension);
    EXPECT_EQ(p->IsSelfEntry, c.SelfEntry);
    EXPECT_EQ(p->IsValid(), c.Valid);
    EXPECT_EQ(p->GetLocation(), c.Composed);
    std::string extra;
    if (auto* d = dynamic_cast<TDirectoryParts*>(p.get())) extra = d->Drive;
    if (auto* z = dynamic_cast<TZipFileParts*>(p.get())) extra = z->MemberFolder;
    if (auto* f = dynamic_cast<TFTPFileParts*>(p.get()))
        extra = f->Host + "|" + f->RemoteFolder + "|" + std::to_string(f->ClientIndex);
    if (auto* b = dynamic_cast<TPBLFileParts*>(p.get())) extra = b->Version;
    EXPECT_EQ(extra, c.Extra);
}

INSTANTIATE_TEST_SUITE_P(Locations, ParseTest, ::testing::ValuesIn(ParseCases));

TEST(Parse, FlagsOfWildcardsTagsAndVirtualPath) {
    TSimpleLocationOwner owner;
    auto a = CreateParts(&owner, "/da?a/*.txt");
    EXPECT_TRUE(a->NameHasWildcards);
    EXPECT_TRUE(a->PathHasWildcards);
    EXPECT_FALSE(a->HasTags);
    auto b = CreateParts(&owner, "/dest/<vpc:v/>name<#.3d>");
    EXPECT_TRUE(b->HasTags);
    EXPECT_EQ(b->VirtualPath, "v/");
    EXPECT_EQ(b->Name, "name<#.3d>");
}

TEST(Parse, FolderRecordMovesTheNameIntoThePath) {
    TSimpleLocationOwner owner;
    TFileInfoRec folder;
    folder.Attributes = faDirectory;
    auto p = CreateParts(&owner, "/data/sub", folder.ToHex());
    EXPECT_EQ(p->Path, "/data/sub/");
    EXPECT_EQ(p->Name, "");
    EXPECT_EQ(p->InfoHex, folder.ToHex());
    // A record with bad digits counts as no information rather than as garbage.
    auto q = CreateParts(&owner, "/data/f.txt", std::string(47, '0') + "Z");
    EXPECT_EQ(q->Info, TFileInfoRec());
}

TEST(Parse, UnknownSchemeIsInvalidAndItsOperationsFail) {
    TSimpleLocationOwner owner;
    auto p = CreateParts(&owner, "news://server/group");
    EXPECT_FALSE(p->IsValid());
    EXPECT_THROW(p->FileExists(), ELocationError);
    EXPECT_THROW(p->OpenReadStream(), ELocationError);
    EXPECT_THROW(p->Delete(false), ELocationError);
    EXPECT_THROW(p->ListContents(), ELocationError);
    EXPECT_THROW(p->ForceContainerToExist(), ELocationError);
    TMemoryStream s("x");
    EXPECT_THROW(p->WriteFromStream(s, TFileInfoRec()), ELocationError);
}

TEST(Parse, BackupWrapperTakesTheKindOfItsLocation) {
    TSimpleLocationOwner owner;
    TBackupFileParts b(&owner);
    EXPECT_FALSE(b.IsValid());  // an empty plain target
    b.SetLocation("zip:///x/a.zip/f.txt");
    EXPECT_NE(dynamic_cast<TZipFileParts*>(b.Target.get()), nullptr);
    EXPECT_EQ(b.GetLocation(), "zip:///x/a.zip/f.txt");
    EXPECT_EQ(b.Location, "zip:///x/a.zip/f.txt");
    b.SetLocation("/data/f.txt");
    EXPECT_NE(dynamic_cast<TDirectoryParts*>(b.Target.get()), nullptr);
    EXPECT_EQ(b.Counter, 0);
    EXPECT_EQ(b.CounterText, "0");
}

TEST(Parse, CopyFromTakesThePartsButNotTheLocation) {
    TSimpleLocationOwner owner;
    TFileInfoRec rec;
    rec.Size = 7;
    rec.Attributes = faArchive;
    auto a = CreateParts(&owner, "/data/<vpc:v/>f.txt", rec.ToHex(), "note");
    auto z = CreateParts(&owner, "zip:///x/a.zip/dir/m.txt");
    TDirectoryParts b(&owner);
    b.SetLocation("/other/");
    b.CopyFrom(*a);
    EXPECT_EQ(b.Location, "/other/");
    EXPECT_EQ(b.GetLocation(), "/data/v/f.txt");
    EXPECT_EQ(b.Info, rec);
    EXPECT_EQ(b.Comment, "note");
    EXPECT_EQ(b.Drive, "/");
    TZipFileParts c(&owner);
    c.CopyFrom(*z);
    EXPECT_EQ(c.MemberFolder, "dir/");
    EXPECT_TRUE(c.IsValid());
}

}  // namespace
