// "quennick find" end to end: the real program on trees made by the tests, its exit
// codes and messages, and the same files as find(1) and grep(1) give.
#include "SearchTestSupport.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace {

using searchtest::Write;

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

// Runs Program with Args (optionally as another user), no input, its output in files;
// bounded wait.
TRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                const std::string& cwd = {}, uid_t asUser = 0) {
    qntest::TTempDir outDir("qnrun");
    qntest::TChildOptions o;
    o.Cwd = cwd;
    o.OutputFile = outDir / "out";
    o.ErrorFile = outDir / "err";
    o.NoInput = true;
    o.AsUser = asUser;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    qntest::TChildProcess child(argv, o);
    TRun r;
    std::optional<int> code = child.Wait(std::chrono::seconds(120));
    if (!code) {
        ADD_FAILURE() << program << " did not finish";
        return r;
    }
    r.Code = *code;
    r.Out = qntest::ReadFile(o.OutputFile);
    r.Err = qntest::ReadFile(o.ErrorFile);
    return r;
}

TRun Quennick(std::vector<std::string> args, const std::string& cwd = {}, uid_t asUser = 0) {
    args.insert(args.begin(), "find");
    return RunProgram(QN_QUENNICK, args, cwd, asUser);
}

std::set<std::string> LineSet(const std::string& text) {
    std::set<std::string> s;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) s.insert(line);
    return s;
}

struct TCli : ::testing::Test {
    qntest::TTempDir Dir{"qncli"};
    std::string D = Dir.Path();
};

TEST_F(TCli, ExitCodesAndMessages) {
    Write(D + "/a.txt", "a");
    struct TCase {
        std::vector<std::string> Args;
        int Code;
        std::string Says;  // in the output (exit 0) or the error output
    } cases[] = {
        {{"--help"}, 0, "Usage: quennick find [OPTION]... LOCATIONS MASKS"},
        {{}, 2, "LOCATIONS and MASKS are needed"},
        {{D}, 2, "LOCATIONS and MASKS are needed"},
        {{D, "*", "more"}, 2, "too many arguments: 'more'"},
        {{"--bogus", D, "*"}, 2, "unknown option '--bogus'"},
        {{"--name-regex"}, 2, "option '--name-regex' needs a pattern"},
        {{"--text", "(", D, "*"}, 2, "bad --text pattern '(': missing closing parenthesis"},
        {{"--name-regex=[a", D, "*"}, 2, "bad --name-regex pattern '[a'"},
        {{"--text", "", D, "*"}, 2, "the --text pattern is empty"},
        {{D, "a[b"}, 2, "Invalid mask: 'a[b'"},
        {{"news://x", "*"}, 2, "not a location that can be searched: 'news://x'"},
        // A folder that is not there is no empty result: it is said, and the search of
        // the others goes on, incomplete.
        {{D + "/missing", "*"}, 1, "cannot search '" + std::string(D) + "/missing': No such file or directory."},
        {{D + "/a.txt", "*"}, 1, "cannot search '" + std::string(D) + "/a.txt': it is not a folder."},
        {{D, "*.none"}, 0, ""},
        {{D, "a.txt"}, 0, "/a.txt\n"},
    };
    for (const TCase& c : cases) {
        std::string shown;
        for (const auto& a : c.Args) shown += "'" + a + "' ";
        SCOPED_TRACE(shown);
        TRun r = Quennick(c.Args);
        EXPECT_EQ(r.Code, c.Code) << r.Err;
        EXPECT_NE((c.Code == 0 ? r.Out : r.Err).find(c.Says), std::string::npos) << r.Out << r.Err;
        if (c.Code != 0 || std::string_view(c.Says).empty()) {
            EXPECT_EQ(r.Out, "");
        }
    }
    // Beside a folder that is not there, the others are still searched.
    TRun r = Quennick({D + "/missing||" + D, "a.txt"});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_EQ(r.Out, D + "/a.txt\n");
}

TEST_F(TCli, IncompleteSearchExitsWithOne) {
    Write(D + "/t/hit.txt", "a needle here");
    Write(D + "/t/miss.txt", "nothing");
    ASSERT_EQ(::symlink((D + "/t/gone").c_str(), (D + "/t/dangling").c_str()), 0);
    TRun r = Quennick({"--text", "NEEDLE", D + "/t", "*"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out, D + "/t/hit.txt\n");
    EXPECT_NE(r.Err.find("quennick find: Cannot read \"" + D + "/t/dangling\" for the text search"),
              std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("the search was incomplete: 1 entry could not be read."), std::string::npos);
    // By name the dangling link is just an entry: complete.
    r = Quennick({D + "/t", "*"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(LineSet(r.Out).size(), 3u);
}

TEST_F(TCli, ZipOptionSearchesInsideTheFoldersArchives) {
    Write(D + "/plain.txt", "a needle here");
    Write(D + "/pack/in/x.txt", "another needle");
    Write(D + "/pack/README", "no match");
    ASSERT_EQ(std::system(("cd '" + D + "/pack' && zip -qr ../a.zip in README").c_str()), 0);
    struct TCase {
        std::vector<std::string> Args;
        std::set<std::string> Expected;
    } cases[] = {
        {{"-r", "--text", "needle", D, "*.txt"}, {D + "/plain.txt", D + "/pack/in/x.txt"}},
        {{"-r", "-z", "--text", "needle", D, "*.txt"},
         {D + "/plain.txt", D + "/pack/in/x.txt", "zip://" + D + "/a.zip/in/x.txt"}},
        {{"--zip", D, "*.txt"}, {D + "/plain.txt", "zip://" + D + "/a.zip/in/x.txt"}},
        // The archive's folder member is listed once, not searched again.
        {{"-r", "--folders", "zip://" + D + "/a.zip/", "*"},
         {"zip://" + D + "/a.zip/in/", "zip://" + D + "/a.zip/in/x.txt", "zip://" + D + "/a.zip/README"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args[0] + " " + c.Args[1]);
        TRun r = Quennick(c.Args);
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(LineSet(r.Out), c.Expected) << r.Out;
    }
}

TEST_F(TCli, InformationStatisticsFoldersAndRelativeLocations) {
    Write(D + "/i/s/b.log", "12345");
    Write(D + "/i/a.txt", "123");
    searchtest::SetMTime(D + "/i/a.txt", 1299215168);
    TRun r = Quennick({"--info", "--stats", "--recurse", "--folders", "i", "*"}, D);
    ASSERT_EQ(r.Code, 0) << r.Err;
    TFileInfoRec rec;
    ASSERT_TRUE(LocalInfoOf(D + "/i/a.txt", rec));
    std::istringstream in(r.Out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 7u) << r.Out;
    EXPECT_EQ(lines[0].substr(FormatInfo(rec).size() + 1), D + "/i/");
    EXPECT_EQ(lines[1], FormatInfo(rec) + " " + D + "/i/a.txt");
    EXPECT_EQ(lines[2].substr(lines[2].size() - (D.size() + 5)), D + "/i/s/");
    EXPECT_EQ(lines[3].substr(lines[3].size() - (D.size() + 10)), D + "/i/s/b.log");
    EXPECT_EQ(lines[4], "FolderCount=1");
    EXPECT_EQ(lines[5], "FileSizeTotal=8");
    EXPECT_EQ(lines[6], "FileCount=2");
}

TEST_F(TCli, AFolderThatCannotBeReadMakesTheSearchIncomplete) {
    // The superuser reads every folder, so then the search runs as an ordinary user.
    const uid_t user = ::geteuid() == 0 ? 65534 : 0;
    Write(D + "/p/open/a.txt", "a");
    Write(D + "/p/shut/b.txt", "b");
    ASSERT_EQ(::chmod(D.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((D + "/p/shut").c_str(), 0), 0);
    TRun r = Quennick({"-r", D + "/p", "*"}, {}, user);
    ::chmod((D + "/p/shut").c_str(), 0700);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_EQ(r.Out, D + "/p/open/a.txt\n");
    EXPECT_NE(r.Err.find("Cannot list folder \"" + D + "/p/shut/\": Permission denied"),
              std::string::npos) << r.Err;
}

// A tree with the names that trip tools up.
void MakeVariedTree(const std::string& root) {
    const char* names[] = {"plain.txt", "UPPER.TXT", "Docs", "docs", "no_ext", ".hidden",
                           "with space.log", "f[1].txt", "star*name.txt", "q?.txt", "ünïcødé.txt",
                           "trailing blank ", "back\\slash.txt", "a.b.c.log", "x.TxT"};
    for (int d = 0; d < 6; ++d) {
        std::string dir = root + "/sub" + std::to_string(d) + (d % 2 ? "/deeper" : "");
        for (int i = 0; i < 15; ++i) {
            std::string body = (i + d) % 4 == 0 ? "has a Needle inside\n" : "plain words\n";
            Write(dir + "/" + std::to_string(i) + "-" + names[i], body);
        }
        Write(root + "/sub" + std::to_string(d) + "/Docs/inner.txt", "x");
    }
    for (int i = 0; i < 300; ++i) Write(root + "/many/f" + std::to_string(i) + ".dat", "data");
    ::symlink((root + "/sub0").c_str(), (root + "/dirlink").c_str());
    ::symlink((root + "/many/f1.dat").c_str(), (root + "/filelink.txt").c_str());
    ::mkfifo((root + "/pipe.txt").c_str(), 0600);
}

TEST_F(TCli, SameFilesAsFindAndGrep) {
    const std::string root = D + "/tree";
    MakeVariedTree(root);
    struct TCase {
        std::vector<std::string> Ours;
        std::vector<std::string> Theirs;  // find(1) arguments after the root
    } cases[] = {
        {{"-r", root, "*"}, {"!", "-type", "d"}},
        {{"-r", root, "*.txt|*.LOG"}, {"!", "-type", "d", "(", "-iname", "*.txt", "-o", "-iname", "*.log", ")"}},
        {{"-r", root, "*docs"}, {"!", "-type", "d", "-iname", "*docs"}},
        {{"-r", "--name-regex", "sub[13]", root, "*"}, {"!", "-type", "d", "-path", "*sub[13]*"}},
        {{root, "*"}, {"-maxdepth", "1", "!", "-type", "d"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Ours[c.Ours.size() - 1]);
        TRun ours = Quennick(c.Ours);
        ASSERT_EQ(ours.Code, 0) << ours.Err;
        std::vector<std::string> args{root};
        args.insert(args.end(), c.Theirs.begin(), c.Theirs.end());
        TRun theirs = RunProgram("/usr/bin/find", args);
        ASSERT_EQ(theirs.Code, 0) << theirs.Err;
        EXPECT_EQ(LineSet(ours.Out), LineSet(theirs.Out));
        EXPECT_GT(LineSet(ours.Out).size(), 0u);
    }
    // Folders: find prints them without the trailing "/".
    TRun ours = Quennick({"-r", "--folders", root, ""});
    TRun dirs = RunProgram("/usr/bin/find", {root, "-type", "d"});
    std::set<std::string> want;
    for (const std::string& l : LineSet(dirs.Out)) want.insert(l + "/");
    EXPECT_EQ(LineSet(ours.Out), want);
    // Text: grep reads the same regular files (not through links, no FIFOs).
    std::filesystem::remove(root + "/filelink.txt");
    ours = Quennick({"-r", "--text", "needle", root, "*"});
    TRun grep = RunProgram("/usr/bin/grep", {"-rliP", "-D", "skip", "needle", root});
    ASSERT_EQ(ours.Code, 0) << ours.Err;
    EXPECT_EQ(LineSet(ours.Out), LineSet(grep.Out));
    EXPECT_EQ(LineSet(ours.Out).size(), 22u);
}

}  // namespace
