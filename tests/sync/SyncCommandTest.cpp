// "quennick sync" end to end: the real program on folders made by the tests, its exit codes
// and messages, and what it leaves on disk when it is killed, when a source goes missing or
// cannot be read, and when a destination comes up empty.
#include "sync/SyncDocument.h"

#include "SyncTestSupport.h"
#include "support/ChildProcess.h"
#include "support/ReadGate.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

namespace fs = std::filesystem;

namespace {

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

// "quennick sync ARGS" in a session of its own (so without a terminal), with no input,
// its output in files, optionally as another user.
class TSyncProcess {
public:
    explicit TSyncProcess(std::vector<std::string> args, uid_t asUser = 0)
        : FOut(FOutDir / "out"), FErr(FOutDir / "err"), FChild(Command(std::move(args)), Options(asUser)) {}

    bool Running() { return FChild.Running(); }
    pid_t Pid() const { return FChild.Pid(); }
    void Signal(int sig) { FChild.Signal(sig); }
    TRun Finish(std::chrono::seconds bound = std::chrono::seconds(240)) {
        TRun r;
        std::optional<int> code = FChild.Wait(bound);
        if (!code) {
            ADD_FAILURE() << "quennick sync did not finish";
            return r;
        }
        r.Code = *code;
        r.Out = qntest::ReadFile(FOut);
        r.Err = qntest::ReadFile(FErr);
        return r;
    }

private:
    static std::vector<std::string> Command(std::vector<std::string> args) {
        args.insert(args.begin(), {QN_QUENNICK, "sync"});
        return args;
    }
    qntest::TChildOptions Options(uid_t asUser) const {
        qntest::TChildOptions o;
        o.OutputFile = FOut;
        o.ErrorFile = FErr;
        o.NoInput = true;
        o.NewSession = true;
        o.AsUser = asUser;
        return o;
    }

    qntest::TTempDir FOutDir{"qnsyncrun"};
    std::string FOut, FErr;
    qntest::TChildProcess FChild;
};

TRun Sync(const std::vector<std::string>& args, uid_t asUser = 0) {
    return TSyncProcess(args, asUser).Finish();
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

using synctest::Put;

// Every entry below Root: files with their bytes, folders as "/".
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it); it.increment(ec)) {
        std::string rel = fs::relative(it->path(), root).string();
        if (it->is_directory()) out[rel] = "/";
        else if (it->file_size() > (1 << 20)) out[rel] = std::to_string(it->file_size()) + " bytes";
        else out[rel] = qntest::ReadFile(it->path().string());
    }
    return out;
}

bool SameBytes(const std::string& a, const std::string& b) {
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (same) {
        size_t na = std::fread(ba.data(), 1, ba.size(), fa), nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

std::vector<std::string> Temporaries(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it); it.increment(ec))
        if (it->path().filename().string().rfind(".qncopy-", 0) == 0) out.push_back(it->path().string());
    return out;
}

// The sizes of the files without a name in Folder that process Pid has open.
std::vector<int64_t> UnnamedFilesOpenIn(pid_t pid, const std::string& folder) {
    std::vector<int64_t> sizes;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fds, ec)) {
        std::error_code lec;
        const std::string target = fs::read_symlink(e.path(), lec).string();
        // A file made without a name shows as "<folder>/#<inode> (deleted)", also once it
        // was given one; only a file that still has none has no links.
        if (target.rfind(folder + "/#", 0) != 0) continue;
        struct stat st {};
        if (::stat(e.path().c_str(), &st) == 0 && st.st_nlink == 0) sizes.push_back(st.st_size);
    }
    return sizes;
}

void ChownTree(const std::string& root, uid_t user) {
    ASSERT_EQ(::chown(root.c_str(), user, user), 0);
    for (const auto& e : fs::recursive_directory_iterator(root))
        ASSERT_EQ(::lchown(e.path().c_str(), user, user), 0);
}

struct TSyncCli : ::testing::Test {
    qntest::TTempDir Dir{"qnsynccli"};
    std::string D = Dir.Path();
    std::string Doc = D + "/doc.fmw";
    std::string Src = D + "/src", Dst = D + "/dst";
    // The superuser reads every folder: runs that need an unreadable one are made as an
    // ordinary user.
    uid_t User = ::geteuid() == 0 ? 65534 : 0;

    void TearDown() override {
        // Folders a test made unreadable are opened again for the clean-up.
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(D, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::end(it); it.increment(ec))
            if (it->is_directory(ec)) ::chmod(it->path().c_str(), 0755);
    }
    TSyncProfile& Reload(TSyncDocument& doc, int i = 0) {
        doc.LoadFile(Doc);
        EXPECT_GT(doc.Profiles().Count(), i);
        return doc.Profiles().Profile(i);
    }
};

TEST_F(TSyncCli, ArgumentsExitCodesAndMessages) {
    Put(Src + "/a.txt", "a");
    fs::create_directories(Dst);
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
    const std::string docText = qntest::ReadFile(Doc);
    fs::create_directories(D + "/folder.fmw");
    Put(D + "/notes.txt", "the user's notes");
    Put(D + "/empty.fmw", "<Options>\r\nVersion=3.40\r\n");
    Put(D + "/binary.fmw", std::string("<Options>\r\n\0\x01", 13));
    Put(D + "/prose.fmw", "Dear user,\r\n<Options>\r\n");
    Put(D + "/other.fmw", "<Colors>\r\nred=1\r\n");
    struct TCase {
        std::vector<std::string> Args;
        int Code;
        std::string Says;  // in the output (exit 0) or the error output
    } cases[] = {
        {{"--help"}, 0, "Usage: quennick sync [OPTION]... DOCUMENT.fmw"},
        {{}, 2, "DOCUMENT is needed"},
        {{Doc, "more"}, 2, "too many arguments: 'more'"},
        {{"--bogus", Doc}, 2, "unknown option '--bogus'"},
        {{D + "/notes.txt"}, 2, "is not a sync document name: it must end in .fmw"},
        {{D + "/missing.fmw"}, 2, "cannot open the document " + D + "/missing.fmw: No such file"},
        {{D + "/folder.fmw"}, 2, "it is a folder"},
        {{D + "/empty.fmw"}, 2, "holds no profiles; add one with --add"},
        // A damaged document is refused with what is wrong, and no migration is claimed.
        {{D + "/binary.fmw"}, 2, "it is not a sync document: it holds binary data (a zero byte at offset 11)."},
        {{D + "/prose.fmw"}, 2, "it is not a sync document: line 1 (\"Dear user,\") comes before any section."},
        {{D + "/other.fmw"}, 2, "it holds neither an <Options> nor a <Profiles> section."},
        {{"--profile"}, 2, "option '--profile' needs a number"},
        {{"--profile", "0", Doc}, 2, "bad profile number '0': profiles count from 1"},
        {{"--profile=x", Doc}, 2, "bad profile number 'x'"},
        {{"-p", "3", Doc}, 2, "there is no profile 3: the document holds 1 profile(s)"},
        {{"--option", "MoveFile=1", Doc}, 2, "--option only goes with --add"},
        {{"--preview=all", Doc}, 2, "option '--preview' needs 'history' or 'dest'"},
        {{"--add", Doc, Src}, 2, "--add needs DOCUMENT, SOURCE and DESTINATION"},
        {{"--add", "--detect-only", Doc, Src, Dst}, 2, "cannot be combined"},
        {{"--add", Doc, D + "/a -> b", Dst}, 2, "whose name holds \" -> \" cannot be kept in a profile"},
        {{"--add", Doc, Src, Dst, "--option", "Bogus=1"}, 2,
         "unknown profile option 'Bogus'; the options are:\n  PromptIfNewer BackupIfNewer"},
        {{"--add", Doc, Src, Dst, "--option=MoveFile=yes"}, 2, "option MoveFile needs the value 0 or 1"},
        {{"--add", Doc, D + "/nowhere", Dst}, 2, "the source " + D + "/nowhere does not exist"},
        {{"--add", Doc, D + "/nowhere/*.txt", Dst}, 2, "the folder of the source"},
        {{"--add", Doc, Src, D + "/notes.txt"}, 2, "is a file: it must be a folder"},
        {{"--add", D + "/new.fmw", Src, Dst, "--option", "CascadeDir=0"}, 0,
         "Added profile 1: " + Src + "/* -> " + Dst + "/"},
    };
    for (const TCase& c : cases) {
        std::string shown;
        for (const auto& a : c.Args) shown += "'" + a + "' ";
        SCOPED_TRACE(shown);
        TRun r = Sync(c.Args);
        EXPECT_EQ(r.Code, c.Code) << r.Err;
        EXPECT_TRUE(Has(c.Code == 0 ? r.Out : r.Err, c.Says)) << r.Out << r.Err;
        if (c.Code != 0) {
            EXPECT_EQ(r.Out, "");
        }
        EXPECT_FALSE(Has(r.Err, "migrated")) << r.Err;
    }
    // Nothing was written by the refused commands.
    EXPECT_EQ(qntest::ReadFile(Doc), docText);
    EXPECT_EQ(qntest::ReadFile(D + "/notes.txt"), "the user's notes");
    EXPECT_FALSE(fs::exists(D + "/missing.fmw"));
    EXPECT_FALSE(fs::exists(Dst + "/a.txt"));
    // The option given by name was taken; the others are those of a dropped folder.
    synctest::TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    doc.LoadFile(D + "/new.fmw");
    ASSERT_EQ(doc.Profiles().Count(), 1);
    TFileSyncOptions want = FolderDropOptions;
    want.Exclude(TFileSyncOption::CascadeDir);
    EXPECT_EQ(doc.Profiles().Profile(0).Options, want);
}

TEST_F(TSyncCli, AddedProfilesKeepFoldersInStep) {
    const std::string Src2 = D + "/src2", Dst2 = D + "/dst2";
    Put(Src + "/a.txt", "one");
    Put(Src + "/sub/b.txt", "two");
    Put(Src + "/c.txt", "three");
    Put(Src2 + "/x.txt", "x");
    Put(Src2 + "/y.txt", "y");
    TRun r = Sync({"--add", Doc, Src, Dst});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "Added profile 1: " + Src + "/* -> " + Dst + "/\n");
    ASSERT_EQ(Sync({"--add", Doc, Src2 + "/", Dst2, "--option", "SyncDeletedObjects=0"}).Code, 0);

    // A detection pass says what would be done and does nothing.
    const std::string added = qntest::ReadFile(Doc);
    r = Sync({"--detect-only", Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "copy " + Src + "/a.txt -> " + Dst + "/a.txt (new)\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "copy " + Src + "/sub/b.txt -> " + Dst + "/sub/b.txt (new)\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "5 change(s) found.\n")) << r.Out;
    EXPECT_FALSE(fs::exists(Dst));
    EXPECT_FALSE(fs::exists(Dst2));
    EXPECT_EQ(qntest::ReadFile(Doc), added);

    r = Sync({Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "Manual Sync Summary\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "\n5 file(s) synced.\n")) << r.Out;
    EXPECT_EQ(Tree(Dst), Tree(Src));
    EXPECT_EQ(Tree(Dst2), Tree(Src2));

    // A change, a new file and a deletion in each source.
    Put(Src + "/a.txt", "one, changed", 1);
    Put(Src + "/d.txt", "four");
    fs::remove(Src + "/c.txt");
    Put(Src2 + "/x.txt", "x, changed", 1);
    fs::remove(Src2 + "/y.txt");
    r = Sync({"-n", "--profile", "1", Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "copy " + Src + "/a.txt -> " + Dst + "/a.txt (changed)\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "delete " + Dst + "/c.txt\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "3 change(s) found.\n")) << r.Out;

    // Only the second profile: its deletion is not repeated (the option is off).
    r = Sync({"--profile", "2", Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "\n1 file(s) synced.\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "\n0 file(s) deleted.\n")) << r.Out;
    EXPECT_EQ(qntest::ReadFile(Dst2 + "/x.txt"), "x, changed");
    EXPECT_EQ(qntest::ReadFile(Dst2 + "/y.txt"), "y");
    EXPECT_EQ(qntest::ReadFile(Dst + "/a.txt"), "one");

    r = Sync({Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "\n2 file(s) synced.\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "\n1 file(s) deleted.\n")) << r.Out;
    EXPECT_EQ(Tree(Dst), Tree(Src));

    // The document holds the new history and still loads; the profiles are not left
    // selected.
    synctest::TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    TSyncProfile& p = Reload(doc);
    EXPECT_GE(p.HistoryFiles.IndexOf(Src + "/d.txt"), 0);
    EXPECT_LT(p.HistoryFiles.IndexOf(Src + "/c.txt"), 0);
    EXPECT_FALSE(p.Selected);
    EXPECT_TRUE(fs::exists(Doc + ".bak"));
    r = Sync({Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "\n0 file(s) synced.\n")) << r.Out;
}

TEST_F(TSyncCli, WithoutATerminalTheSafeAnswerIsTakenAndSaid) {
    struct TCase {
        const char* Option;
        bool SourceChanged;
        int Code;
        const char* Says;
        const char* DestAfter;
        const char* Backup = nullptr;  // the destination's backup, if one is made
    } cases[] = {
        {"PromptIfNewer=1", false, 1, "answered Cancel (the newer destination is kept)", "edited in the destination"},
        {"PromptIfNewer=1", true, 1, "answered Cancel (the newer destination is kept)", "edited in the destination"},
        {"PromptIfNewer=0", false, 1, "is newer than source file.", "edited in the destination"},
        // Both changed, no option that asks: the destination's version is kept as a backup.
        {"PromptIfNewer=0", true, 0, "1 file(s) backed up.", "source, changed", "edited in the destination"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Option) + (c.SourceChanged ? ", source changed" : ""));
        fs::remove_all(Dst);
        fs::remove(Doc);
        Put(Src + "/a.txt", "source");
        ASSERT_EQ(Sync({"--add", Doc, Src, Dst, "--option", c.Option}).Code, 0);
        ASSERT_EQ(Sync({Doc}).Code, 0);
        if (c.SourceChanged) Put(Src + "/a.txt", "source, changed", 1);
        Put(Dst + "/a.txt", "edited in the destination", 2);
        TRun r = Sync({Doc});
        EXPECT_EQ(r.Code, c.Code) << r.Err;
        EXPECT_TRUE(Has(r.Err + r.Out, c.Says)) << r.Err << r.Out;
        EXPECT_EQ(qntest::ReadFile(Dst + "/a.txt"), c.DestAfter);
        EXPECT_EQ(fs::exists(Dst + "/a Backup (1).txt"), c.Backup != nullptr);
        if (c.Backup) {
            EXPECT_EQ(qntest::ReadFile(Dst + "/a Backup (1).txt"), c.Backup);
        }
    }
}

// What the dates cannot show, a new profile still copies: a same-size edit (the contents
// decide) and an edit within the two seconds of the last sync (the whole time decides).
// A dry run names each action with its reason.
TEST_F(TSyncCli, EditsTheDatesCannotShowAreCopied) {
    Put(Src + "/a.txt", "version one", 0);
    Put(Src + "/f.txt", "short", 0, 200);
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
    ASSERT_EQ(Sync({Doc}).Code, 0);

    Put(Src + "/a.txt", "version two", 1);
    Put(Src + "/f.txt", "much longer content", 0, 900);
    TRun r = Sync({"--dry-run", Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "copy " + Src + "/a.txt -> " + Dst + "/a.txt (content)\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "copy " + Src + "/f.txt -> " + Dst + "/f.txt (changed)\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "2 change(s) found.\n")) << r.Out;
    r = Sync({Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(qntest::ReadFile(Dst + "/a.txt"), "version two");
    EXPECT_EQ(qntest::ReadFile(Dst + "/f.txt"), "much longer content");

    // Only touched: nothing to copy, then nothing left to compare.
    Put(Src + "/a.txt", "version two", 2);
    r = Sync({Doc});
    EXPECT_TRUE(Has(r.Out, "\n0 file(s) synced.\n")) << r.Out;
    r = Sync({"-n", Doc});
    EXPECT_TRUE(Has(r.Out, "0 change(s) found.\n")) << r.Out;
}

// A document that cannot be saved says why; the files were still synced.
TEST_F(TSyncCli, ADocumentThatCannotBeSavedSaysWhy) {
    if (User == 0) GTEST_SKIP() << "needs the superuser to run as another user";
    Put(Src + "/a.txt", "a");
    fs::create_directories(Dst);
    fs::create_directories(D + "/locked");
    const std::string doc = D + "/locked/doc.fmw";
    ASSERT_EQ(Sync({"--add", doc, Src, Dst}).Code, 0);
    // The user may read the document, not write into its folder.
    ASSERT_EQ(::chmod(D.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((D + "/locked").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(doc.c_str(), 0644), 0);
    ChownTree(Src, User);
    ChownTree(Dst, User);
    const std::string before = qntest::ReadFile(doc);
    TRun r = Sync({doc}, User);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_TRUE(Has(r.Err, "the document " + doc + " could not be saved: ")) << r.Err;
    EXPECT_TRUE(Has(r.Err, "Permission denied")) << r.Err;
    EXPECT_FALSE(Has(r.Err, "Select a FileName")) << r.Err;
    EXPECT_EQ(qntest::ReadFile(Dst + "/a.txt"), "a");
    EXPECT_EQ(qntest::ReadFile(doc), before);
}

// Zip archives as source and as destination: members keep their folders, changes and
// deletions follow, and a zip location is never taken for a relative folder.
TEST_F(TSyncCli, ZipArchivesAsSourceAndDestination) {
    Put(Src + "/a.txt", "one", 0);
    Put(Src + "/sub/b.txt", "two", 0);
    const std::string zip = "zip://" + D + "/out.zip/";
    ASSERT_EQ(Sync({"--add", Doc, Src, zip}).Code, 0);
    TRun r = Sync({Doc});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "\n2 file(s) synced.\n")) << r.Out;

    // Back out of the archive into a folder of its own.
    const std::string doc2 = D + "/back.fmw";
    ASSERT_EQ(Sync({"--add", doc2, zip, D + "/back"}).Code, 0);
    r = Sync({doc2});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Tree(D + "/back"), Tree(Src));

    // A change and a deletion reach the archive, and through it the folder.
    Put(Src + "/a.txt", "one, changed", 1);
    fs::remove(Src + "/sub/b.txt");
    r = Sync({"-n", Doc});
    EXPECT_TRUE(Has(r.Out, "copy " + Src + "/a.txt -> " + zip + "a.txt (changed)\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "delete " + zip + "sub/b.txt\n")) << r.Out;
    ASSERT_EQ(Sync({Doc}).Code, 0);
    ASSERT_EQ(Sync({doc2}).Code, 0);
    EXPECT_EQ(qntest::ReadFile(D + "/back/a.txt"), "one, changed");
    EXPECT_FALSE(fs::exists(D + "/back/sub/b.txt"));
    r = Sync({Doc});
    EXPECT_TRUE(Has(r.Out, "\n0 file(s) synced.\n")) << r.Out;

    // No "./zip:" folder tree for a zip location without its whole path.
    r = TSyncProcess({"--add", D + "/rel.fmw", "zip://out.zip", D + "/x"}).Finish();
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Has(r.Err, "'zip://out.zip' names no archive")) << r.Err;
    EXPECT_FALSE(fs::exists("zip:"));
}

// Backups kept as difference files: each older version becomes a .diff against the next
// one, the newest stays whole, and the whole history rebuilds byte for byte.
TEST_F(TSyncCli, BackupsKeptAsDifferencesRebuildEveryVersion) {
    std::vector<std::string> versions;
    std::string text;
    for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + " of the report\n";
    Put(Src + "/report.txt", text, 0);
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst, "--option", "BackupIfChanged=1", "--option",
                    "BackupFileDifferences=1"}).Code, 0);
    ASSERT_EQ(Sync({Doc}).Code, 0);
    for (int v = 1; v <= 5; ++v) {
        versions.push_back(qntest::ReadFile(Dst + "/report.txt"));
        text.insert(text.size() / (v + 1), "an edit of version " + std::to_string(v) + "\n");
        Put(Src + "/report.txt", text, v);
        TRun r = Sync({Doc});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }
    EXPECT_EQ(qntest::ReadFile(Dst + "/report.txt"), text);
    // The newest backup whole, every older one as a difference file only.
    int newest = 0;
    while (fs::exists(Dst + "/report Backup (" + std::to_string(newest + 1) + ").txt") ||
           fs::exists(Dst + "/report Backup (" + std::to_string(newest + 1) + ").txt.diff"))
        ++newest;
    ASSERT_GE(newest, 5);
    std::string newer = Dst + "/report Backup (" + std::to_string(newest) + ").txt";
    ASSERT_TRUE(fs::is_regular_file(newer));
    std::vector<std::string> held{qntest::ReadFile(newer)};
    for (int n = newest - 1; n >= 1; --n) {
        const std::string name = Dst + "/report Backup (" + std::to_string(n) + ").txt";
        EXPECT_FALSE(fs::exists(name)) << name;
        ASSERT_TRUE(fs::is_regular_file(name + ".diff")) << name;
        const std::string rebuilt = D + "/rebuilt-" + std::to_string(n);
        qntest::TChildOptions o;
        o.NoInput = true;
        qntest::TChildProcess apply({QN_QUENNICK, "delta", "apply", newer, name + ".diff", rebuilt}, o);
        ASSERT_EQ(apply.Wait(std::chrono::seconds(60)), std::optional<int>(0)) << name;
        held.push_back(qntest::ReadFile(rebuilt));
        newer = rebuilt;
    }
    // Every version the destination held is among them.
    for (const std::string& v : versions)
        EXPECT_NE(std::find(held.begin(), held.end(), v), held.end()) << "a version was lost";
}

// A full destination: the error names the file and the system's reason, nothing is left
// half-written, and the file is copied once there is room. (Needs a small file system of
// its own: a tmpfs, where the test may mount one.)
TEST_F(TSyncCli, AFullDestinationSaysSoAndLosesNothing) {
    fs::create_directories(Dst);
    if (::mount("tmpfs", Dst.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct TUnmount {
        std::string Path;
        ~TUnmount() { ::umount2(Path.c_str(), MNT_DETACH); }
    } unmount{Dst};
    Put(Src + "/big.bin", std::string(256 * 1024, 'b'));
    Put(Src + "/small.txt", "s");
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
    TRun r = Sync({Doc});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_TRUE(Has(r.Err, "Destination file: " + Dst + "/big.bin could not be created.  ")) << r.Err;
    EXPECT_TRUE(Has(r.Err, "No space left on device")) << r.Err;
    EXPECT_FALSE(Has(r.Err, "windows")) << r.Err;
    EXPECT_EQ(Tree(Dst), (std::map<std::string, std::string>{{"small.txt", "s"}}));
    EXPECT_TRUE(Temporaries(Dst).empty());

    ::umount2(Dst.c_str(), MNT_DETACH);
    r = Sync({Doc});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Tree(Dst), Tree(Src));
}

// Links stay links (never followed), updated when their target text changes and deleted
// with their source; pipes are skipped with one notice and are no error.
TEST_F(TSyncCli, LinksStayLinksAndSpecialFilesAreSkipped) {
    Put(Src + "/file.txt", "f");
    fs::create_directories(Src + "/folder");
    Put(Src + "/folder/in.txt", "i");
    fs::create_symlink("file.txt", Src + "/to-file");
    fs::create_symlink("folder", Src + "/to-folder");
    fs::create_symlink("nowhere", Src + "/dangling");
    ASSERT_EQ(::mkfifo((Src + "/pipe").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((Src + "/folder/pipe2").c_str(), 0644), 0);
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
    TRun r = Sync({Doc});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Err, "Notice: 2 pipe(s), socket(s) or device(s) skipped")) << r.Err;
    for (const char* link : {"to-file", "to-folder", "dangling"}) {
        EXPECT_TRUE(fs::is_symlink(Dst + "/" + link)) << link;
        EXPECT_EQ(fs::read_symlink(Dst + "/" + link), fs::read_symlink(Src + "/" + link)) << link;
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(Dst + "/pipe")));
    EXPECT_EQ(qntest::ReadFile(Dst + "/folder/in.txt"), "i");

    // A second run has nothing to do; a changed target and a deleted link follow.
    r = Sync({Doc});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "\n0 file(s) synced.\n")) << r.Out;
    fs::remove(Src + "/to-file");
    fs::create_symlink("folder/in.txt", Src + "/to-file");
    fs::remove(Src + "/dangling");
    r = Sync({Doc});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(fs::read_symlink(Dst + "/to-file"), "folder/in.txt");
    EXPECT_FALSE(fs::exists(fs::symlink_status(Dst + "/dangling")));
    EXPECT_EQ(qntest::ReadFile(Dst + "/file.txt"), "f");
}

// A preview prints how the lists differ; without a terminal nobody can say "go on", so
// nothing is synced.
TEST_F(TSyncCli, PreviewWithoutATerminalShowsTheListsAndSyncsNothing) {
    Put(Src + "/a.txt", "source");
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
    ASSERT_EQ(Sync({Doc}).Code, 0);
    Put(Src + "/b.txt", "new", 2);
    for (const char* kind : {"history", "dest"}) {
        SCOPED_TRACE(kind);
        TRun r = Sync({std::string("--preview=") + kind, Doc});
        EXPECT_EQ(r.Code, 1) << r.Err;
        EXPECT_TRUE(Has(r.Out, "> ")) << r.Out;  // the new file, as a line only the source list has
        EXPECT_TRUE(Has(r.Out, "/* -> " + Dst + "/b.txt")) << r.Out;
        EXPECT_TRUE(Has(r.Err, "\"Continue?\": answered Cancel")) << r.Err;
        EXPECT_FALSE(fs::exists(Dst + "/b.txt"));
    }
    EXPECT_EQ(Sync({Doc}).Code, 0);
    EXPECT_EQ(qntest::ReadFile(Dst + "/b.txt"), "new");
}

TEST_F(TSyncCli, StoppedWhileCopyingLeavesNoPartialFileAndTheNextRunCompletes) {
    constexpr size_t Mib = 1 << 20, Size = 16 * Mib;
    Put(Src + "/a.txt", "small");
    Put(Src + "/z.txt", "last");
    {
        std::string block(Mib, '\0');
        std::FILE* f = std::fopen((Src + "/big.bin").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        for (size_t i = 0; i < Size / Mib; ++i) {
            for (size_t k = 0; k < Mib; k += 64) block[k] = static_cast<char>(i + k / 64);
            ASSERT_EQ(std::fwrite(block.data(), 1, Mib, f), Mib);
        }
        std::fclose(f);
    }
    struct TCase {
        int Signal;
        int Code;  // of the stopped run
    } cases[] = {{SIGKILL, 128 + SIGKILL}, {SIGTERM, 1}};
    // Where the file system has no unnamed files a copy has a temporary name, which a kill
    // leaves behind.
    const bool unnamedCopies = qntest::UnnamedFilesSupported(D);
    for (const TCase& c : cases) {
        SCOPED_TRACE(strsignal(c.Signal));
        const size_t leftOver = !unnamedCopies && c.Signal == SIGKILL ? 1 : 0;
        fs::remove_all(Dst);
        fs::remove(Doc);
        ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
        const std::string docText = qntest::ReadFile(Doc);

        // The run is held at its third read of the big file, two blocks into the copy.
        qntest::TReadGate gate(Src + "/big.bin", 2);
        if (!gate.Error().empty()) GTEST_SKIP() << "cannot hold a read here: " << gate.Error();
        TSyncProcess run({Doc});
        ASSERT_TRUE(gate.WaitHeld(std::chrono::seconds(120))) << run.Finish().Err;
        if (unnamedCopies) {
            // The part copied so far is in a file without a name in the destination folder:
            // no name there holds any of it.
            const std::vector<int64_t> unnamed = UnnamedFilesOpenIn(run.Pid(), Dst);
            ASSERT_EQ(unnamed.size(), 1u);
            EXPECT_GT(unnamed[0], 0);
            EXPECT_TRUE(Temporaries(Dst).empty());
        } else {
            ASSERT_EQ(Temporaries(Dst).size(), 1u);
        }
        EXPECT_FALSE(fs::exists(Dst + "/big.bin"));
        run.Signal(c.Signal);
        gate.Release();
        TRun stopped = run.Finish();
        EXPECT_EQ(stopped.Code, c.Code) << stopped.Err;
        EXPECT_FALSE(fs::exists(Dst + "/big.bin"));
        EXPECT_EQ(Temporaries(Dst).size(), leftOver);
        if (c.Signal == SIGKILL) {
            EXPECT_EQ(qntest::ReadFile(Doc), docText);
        } else {
            EXPECT_TRUE(Has(stopped.Err, "interrupted; the run is incomplete.")) << stopped.Err;
            synctest::TScriptedPrompter prompter;
            TSyncDocument doc(prompter);
            EXPECT_EQ(Reload(doc).HistoryFiles.Count(), 0);
        }

        TRun r = Sync({Doc});
        ASSERT_EQ(r.Code, 0) << r.Err;
        // Every source file is in the destination, whole, and nothing else but what a kill
        // left under a temporary name.
        auto src = Tree(Src), dst = Tree(Dst);
        for (const auto& [name, bytes] : src) {
            SCOPED_TRACE(name);
            ASSERT_TRUE(dst.count(name));
            EXPECT_TRUE(dst[name] == bytes);
        }
        EXPECT_TRUE(SameBytes(Src + "/big.bin", Dst + "/big.bin"));
        EXPECT_EQ(Temporaries(Dst).size(), leftOver);
        EXPECT_EQ(dst.size(), src.size() + leftOver);
        EXPECT_EQ(fs::file_size(Src + "/big.bin"), Size);
    }
}

TEST_F(TSyncCli, MissingRootsDeleteNothingAndKeepTheHistory) {
    struct TCase {
        const char* Name;
        bool SourceGoes;
    } cases[] = {{"source root missing", true}, {"destination root missing", false}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Src);
        fs::remove_all(Dst);
        fs::remove(Doc);
        for (int i = 0; i < 5; ++i) Put(Src + "/f" + std::to_string(i) + ".txt", "x");
        ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
        ASSERT_EQ(Sync({Doc}).Code, 0);
        const auto before = Tree(c.SourceGoes ? Dst : Src);
        fs::rename(c.SourceGoes ? Src : Dst, D + "/away");
        TRun r = Sync({Doc});
        EXPECT_EQ(r.Code, 1) << r.Err;
        EXPECT_TRUE(Has(r.Err, "contains a drive that is currently not available.")) << r.Err;
        EXPECT_EQ(Tree(c.SourceGoes ? Dst : Src), before);
        EXPECT_FALSE(fs::exists(c.SourceGoes ? Src : Dst));
        synctest::TScriptedPrompter prompter;
        TSyncDocument doc(prompter);
        EXPECT_EQ(Reload(doc).HistoryFiles.Count(), 5);
        fs::remove_all(D + "/away");
    }
}

TEST_F(TSyncCli, UnreadableSourceFolderDeletesNothingUnderIt) {
    Put(Src + "/top.txt", "t");
    Put(Src + "/gone.txt", "g");
    Put(Src + "/shut/inner.txt", "i");
    fs::create_directories(Dst);
    ASSERT_EQ(::chmod(D.c_str(), 0755), 0);
    if (User != 0) ChownTree(D, User);
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst}, User).Code, 0);
    TRun r = Sync({Doc}, User);
    ASSERT_EQ(r.Code, 0) << r.Err;
    ASSERT_EQ(Tree(Dst), Tree(Src));

    fs::remove(Src + "/gone.txt");
    ASSERT_EQ(::chmod((Src + "/shut").c_str(), 0), 0);
    r = Sync({Doc}, User);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_TRUE(Has(r.Err, "was incomplete.  No deletions are repeated")) << r.Err;
    EXPECT_EQ(qntest::ReadFile(Dst + "/shut/inner.txt"), "i");
    EXPECT_EQ(qntest::ReadFile(Dst + "/gone.txt"), "g");

    // Readable again: the deletion is repeated, the folder's files stay.
    ASSERT_EQ(::chmod((Src + "/shut").c_str(), 0755), 0);
    r = Sync({Doc}, User);
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_FALSE(fs::exists(Dst + "/gone.txt"));
    EXPECT_EQ(qntest::ReadFile(Dst + "/shut/inner.txt"), "i");
}

TEST_F(TSyncCli, EmptyDestinationDeletesNothingFromTheSourceAndKeepsTheHistory) {
    // Two profiles keep two folders in step both ways; then the second folder comes up
    // empty, as an unmounted disk's mount point does.
    for (int i = 0; i < 40; ++i) Put(Src + "/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    fs::create_directories(Dst);
    ASSERT_EQ(Sync({"--add", Doc, Dst, Src}).Code, 0);
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
    ASSERT_EQ(Sync({Doc}).Code, 0);
    ASSERT_EQ(Sync({Doc}).Code, 0);
    const auto source = Tree(Src);
    ASSERT_EQ(Tree(Dst), source);
    synctest::TScriptedPrompter prompter;
    TSyncDocument doc(prompter);
    const int history = Reload(doc).HistoryFiles.Count();
    ASSERT_GE(history, 40);

    fs::rename(Dst, D + "/mounted");
    fs::create_directories(Dst);
    TRun r = Sync({Doc});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_TRUE(Has(r.Err, "40 deletions of profile " + Dst + "/* -> " + Src + "/ postponed")) << r.Err;
    EXPECT_EQ(Tree(Src), source);
    EXPECT_EQ(Reload(doc).HistoryFiles.Count(), history);
    // The next run has the files back in both folders and nothing to delete.
    r = Sync({Doc});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Tree(Src), source);
    EXPECT_EQ(Tree(Dst), source);
}

TEST_F(TSyncCli, MoveWithAnUnreadableSourceKeepsTheSource) {
    Put(Src + "/moved.txt", "m");
    Put(Src + "/locked.txt", "l");
    fs::create_directories(Dst);
    ASSERT_EQ(::chmod(D.c_str(), 0755), 0);
    if (User != 0) ChownTree(D, User);
    ASSERT_EQ(::chmod((Src + "/locked.txt").c_str(), 0), 0);
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst, "--option", "MoveFile=1"}, User).Code, 0);
    TRun r = Sync({Doc}, User);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_FALSE(fs::exists(Src + "/moved.txt"));
    EXPECT_EQ(qntest::ReadFile(Dst + "/moved.txt"), "m");
    ::chmod((Src + "/locked.txt").c_str(), 0644);
    EXPECT_EQ(qntest::ReadFile(Src + "/locked.txt"), "l");
    EXPECT_FALSE(fs::exists(Dst + "/locked.txt"));
}

}  // namespace

namespace {

// Names with odd characters each stay one file of their own through the history the
// document keeps: a second run finds nothing to do, and a deletion takes only its file.
// Names the document cannot keep apart (a line break, the byte 5) are refused, each with
// an error, and never touch the destination.
TEST_F(TSyncCli, OddNamesSurviveTheHistoryAndAreNeverConfused) {
    const std::vector<std::string> names = {
        "with space.txt", "-dash.txt", "\xff\xfe bytes.txt", "a.txt", "A.txt",
        "back\\slash.txt", "tag<1>.txt", "sub/b.txt", "sub\\b.txt",
    };
    {
        SCOPED_TRACE("names the document cannot hold");
        for (const char* odd : {"new\nline.txt", "cr\r\nlf.txt", "five\x05.txt"}) Put(Src + "/" + odd, "odd");
        Put(Dst + "/new\x05line.txt", "the destination's own file");
        ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
        TRun r = Sync({Doc});
        EXPECT_EQ(r.Code, 1) << r.Err;
        for (const char* shown : {"new\\x0Aline.txt", "cr\\x0D\\x0Alf.txt", "five\\x05.txt"})
            EXPECT_TRUE(Has(r.Err, std::string(shown) + " is not synced: its name holds a line break or the byte 5"))
                << r.Err;
        for (const char* odd : {"new\nline.txt", "cr\r\nlf.txt", "five\x05.txt"}) {
            EXPECT_FALSE(fs::exists(Dst + "/" + odd)) << odd;
            fs::remove(Src + "/" + odd);
        }
        r = Sync({Doc});
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(qntest::ReadFile(Dst + "/new\x05line.txt"), "the destination's own file");
        fs::remove_all(Dst);
        fs::remove(Doc);
    }
    for (size_t i = 0; i < names.size(); ++i) Put(Src + "/" + names[i], "text " + std::to_string(i));
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst}).Code, 0);
    TRun r = Sync({Doc});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Tree(Dst), Tree(Src));

    r = Sync({Doc});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "\n0 file(s) synced.\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "\n0 file(s) deleted.\n")) << r.Out;
    EXPECT_EQ(Tree(Dst), Tree(Src));

    for (const char* gone : {"A.txt", "sub\\b.txt", "\xff\xfe bytes.txt", "-dash.txt"}) {
        SCOPED_TRACE(gone);
        fs::remove(Src + "/" + gone);
        r = Sync({Doc});
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_TRUE(Has(r.Out, "\n0 file(s) synced.\n")) << r.Out;
        EXPECT_TRUE(Has(r.Out, "\n1 file(s) deleted.\n")) << r.Out;
        EXPECT_EQ(Tree(Dst), Tree(Src));
    }
}

}  // namespace

namespace {

// A pipe or other special file where a file's contents are compared is not read (that
// would wait for a writer for ever): a source pipe is skipped with one notice, no error,
// and a destination pipe is replaced like any other file (it holds nothing to back up).
TEST_F(TSyncCli, ContentsOfSpecialFilesAreNeverWaitedFor) {
    Put(Src + "/pipe.txt", "", 0);
    Put(Src + "/b.txt", "", 0);
    ASSERT_EQ(Sync({"--add", Doc, Src, Dst, "--option", "CompareContent=1"}).Code, 0);
    ASSERT_EQ(Sync({Doc}).Code, 0);
    fs::remove(Src + "/pipe.txt");
    ASSERT_EQ(::mkfifo((Src + "/pipe.txt").c_str(), 0644), 0);
    fs::remove(Dst + "/b.txt");
    ASSERT_EQ(::mkfifo((Dst + "/b.txt").c_str(), 0644), 0);
    Put(Src + "/b.txt", "", 2);
    TRun r = TSyncProcess({Doc}).Finish(std::chrono::seconds(60));
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Has(r.Err, "Notice: 1 pipe(s), socket(s) or device(s) skipped, the first " + Src +
                               "/pipe.txt: only files, folders and links are synced.")) << r.Err;
    EXPECT_TRUE(fs::is_fifo(Src + "/pipe.txt"));
    EXPECT_TRUE(fs::is_regular_file(Dst + "/pipe.txt"));
    EXPECT_TRUE(fs::is_regular_file(Dst + "/b.txt"));
}

}  // namespace
