// The quennick diff command, run as a real program on real files; its output is applied
// with the system's patch and its counts are checked against GNU diff --minimal.
#include "DiffTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

extern char** environ;

namespace {

const std::string Quennick = QN_QUENNICK_EXE;

class TTempFolder {
public:
    TTempFolder() {
        std::string tmpl = std::filesystem::temp_directory_path().string() + "/qn-diff-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        FPath = tmpl;
    }
    ~TTempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

void WriteBytes(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TResult {
    int Code = -1;
    std::string Out, Err;
};

// Runs Argv (Argv[0] a path) with standard input from StdinFile (or /dev/null).
TResult RunProgram(const TTempFolder& dir, const std::vector<std::string>& argv,
                   const std::string& stdinFile = "/dev/null") {
    std::string outFile = dir / "run.out", errFile = dir / "run.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    TResult r;
    if (rc != 0) return r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.Out = ReadBytes(outFile);
    r.Err = ReadBytes(errFile);
    return r;
}

// Lines starting with "<" and with ">" in a normal-format diff.
std::pair<int, int> CountMarks(const std::string& diffText) {
    std::pair<int, int> n{0, 0};
    std::istringstream in(diffText);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("< ", 0) == 0) ++n.first;
        if (line.rfind("> ", 0) == 0) ++n.second;
    }
    return n;
}

// A text like source code: mostly distinct lines, some that recur often.
std::vector<std::string> SourceLike(std::mt19937& rng, int n) {
    static const char* common[] = {"}", "", "{", "    return 0;", "  end;", "#"};
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i) {
        if (rng() % 4 == 0) lines.push_back(common[rng() % 6]);
        else lines.push_back("statement " + std::to_string(rng() % (unsigned(n) * 2)) + ";");
    }
    return lines;
}

std::vector<std::string> Edited(std::mt19937& rng, std::vector<std::string> lines, int edits) {
    for (int e = 0; e < edits; ++e) {
        size_t at = lines.empty() ? 0 : rng() % lines.size();
        switch (rng() % 5) {
            case 0:
                if (!lines.empty()) lines.erase(lines.begin() + long(at));
                break;
            case 1: lines.insert(lines.begin() + long(at), "inserted " + std::to_string(e)); break;
            case 2: lines.insert(lines.begin() + long(at), "}"); break;
            case 3:
                if (!lines.empty()) lines[at] = "changed " + std::to_string(e);
                break;
            default:  // move a short block
                if (lines.size() > 10) {
                    std::vector<std::string> block(lines.begin() + long(at / 2), lines.begin() + long(at / 2 + 3));
                    lines.erase(lines.begin() + long(at / 2), lines.begin() + long(at / 2 + 3));
                    size_t to = rng() % lines.size();
                    lines.insert(lines.begin() + long(to), block.begin(), block.end());
                }
        }
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::string& eol, bool finalEol) {
    std::string s;
    for (size_t i = 0; i < lines.size(); ++i) {
        s += lines[i];
        if (i + 1 < lines.size() || finalEol) s += eol;
    }
    return s;
}

}  // namespace

TEST(QuennickDiff, PatchTurnsTheFirstFileIntoTheSecond) {
    TTempFolder dir;
    std::mt19937 rng(99);
    auto base = SourceLike(rng, 400);
    auto [c1, c2] = difftest::CrcCollision();
    struct TPair {
        std::string Name, A, B;
    };
    std::vector<TPair> pairs = {
        {"no final line feed in the first", Join(base, "\n", false), Join(Edited(rng, base, 20), "\n", true)},
        {"no final line feed in the second", Join(base, "\n", true), Join(Edited(rng, base, 20), "\n", false)},
        {"only the final line feed differs", "a\nb\nc", "a\nb\nc\n"},
        {"empty first", "", Join(base, "\n", true)},
        {"empty second", Join(base, "\n", true), ""},
        {"CR LF against LF", Join(base, "\r\n", true), Join(Edited(rng, base, 5), "\n", true)},
        {"lines with the same CRC", "x\n" + c1 + "\ny\n", "x\n" + c2 + "\ny\n"},
        {"a single line each, no line feeds", "one", "two"},
    };
    for (int seed = 0; seed < 12; ++seed) {
        auto a = SourceLike(rng, 50 + seed * 60);
        pairs.push_back({"edited text " + std::to_string(seed), Join(a, "\n", true),
                         Join(Edited(rng, a, 1 + seed * 4), "\n", true)});
    }
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.Name);
        WriteBytes(dir / "a", p.A);
        WriteBytes(dir / "b", p.B);
        TResult ours = RunProgram(dir, {Quennick, "diff", dir / "a", dir / "b"});
        ASSERT_EQ(ours.Code, 1) << ours.Err;
        EXPECT_EQ(ours.Err, "");
        WriteBytes(dir / "d", ours.Out);
        TResult patched =
            RunProgram(dir, {"/usr/bin/patch", "-s", "--normal", "-o", dir / "out", dir / "a", dir / "d"});
        ASSERT_EQ(patched.Code, 0) << patched.Out << patched.Err;
        EXPECT_EQ(ReadBytes(dir / "out"), p.B);

        TResult gnu = RunProgram(dir, {"/usr/bin/diff", "--minimal", dir / "a", dir / "b"});
        EXPECT_EQ(CountMarks(ours.Out), CountMarks(gnu.Out));
    }
}

TEST(QuennickDiff, WritesTheNormalFormat) {
    struct {
        const char *A, *B, *Expected;
    } cases[] = {
        {"a\nb\nc\nd\n", "a\nX\nc\nd\ne", "2c2\n< b\n---\n> X\n4a5\n> e\n\\ No newline at end of file\n"},
        {"a\nb\nc\nd\ne\n", "a\ne\n", "2,4d1\n< b\n< c\n< d\n"},
        {"a\n", "x\ny\na\n", "0a1,2\n> x\n> y\n"},
        {"a\nb\nc\n", "a\nB\nC\nD\n", "2,3c2,4\n< b\n< c\n---\n> B\n> C\n> D\n"},
    };
    TTempFolder dir;
    for (const auto& c : cases) {
        WriteBytes(dir / "a", c.A);
        WriteBytes(dir / "b", c.B);
        TResult r = RunProgram(dir, {Quennick, "diff", dir / "a", dir / "b"});
        EXPECT_EQ(r.Code, 1);
        EXPECT_EQ(r.Out, c.Expected);
    }
}

TEST(QuennickDiff, ExitCodesAndMessages) {
    TTempFolder dir;
    WriteBytes(dir / "a", "Hello World\nsecond\n");
    WriteBytes(dir / "same", "Hello World\nsecond\n");
    WriteBytes(dir / "case", "hello world\nSECOND\n");
    WriteBytes(dir / "blanks", "Hello\tWorld  \n sec ond\n");
    WriteBytes(dir / "bin1", std::string("abc\0def\n", 8));
    WriteBytes(dir / "bin2", std::string("abc\0deg\n", 8));
    const std::string a = dir / "a", missing = dir / "missing";
    const std::string Any = "(any text)";
    struct {
        std::vector<std::string> Args;
        int Code;
        std::string Out, ErrPart;
    } cases[] = {
        {{"diff", a, dir / "same"}, 0, "", ""},
        {{"diff", a, dir / "case"}, 1, Any, ""},
        {{"diff", "-i", a, dir / "case"}, 0, "", ""},
        {{"diff", "--ignore-case", a, dir / "case"}, 0, "", ""},
        {{"diff", "--ignore-space", a, dir / "blanks"}, 0, "", ""},
        {{"diff", "-w", a, dir / "case"}, 1, Any, ""},
        {{"diff", "--brief", a, dir / "case"}, 1, "Files " + a + " and " + dir / "case" + " differ\n", ""},
        {{"diff", "-q", a, dir / "same"}, 0, "", ""},
        {{"diff", "-qi", a, dir / "case"}, 0, "", ""},
        {{"diff", dir / "bin1", dir / "bin2"}, 1,
         "Binary files " + dir / "bin1" + " and " + dir / "bin2" + " differ\n", ""},
        {{"diff", dir / "bin1", dir / "bin1"}, 0, "", ""},
        {{"diff", a, missing}, 2, "", missing + ": No such file or directory"},
        {{"diff", missing, a}, 2, "", missing + ": No such file or directory"},
        {{"diff", a, dir / ""}, 2, "", "Is a directory"},
        {{"diff", a}, 2, "", "missing operand after"},
        {{"diff", a, a, a}, 2, "", "extra operand"},
        {{"diff", "--frobnicate", a, a}, 2, "", "unrecognized option '--frobnicate'"},
        {{"diff", "-z", a, a}, 2, "", "invalid option -- 'z'"},
        {{"diff", "--help"}, 0, Any, ""},
        {{"--help"}, 0, Any, ""},
        {{}, 2, "", "Usage: quennick COMMAND"},
        {{"frobnicate"}, 2, "", "unknown command 'frobnicate'"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{Quennick};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        TResult r = RunProgram(dir, argv);
        std::string shown;
        for (const auto& s : c.Args) shown += s + " ";
        EXPECT_EQ(r.Code, c.Code) << shown << r.Err;
        if (c.Out == Any) {
            EXPECT_NE(r.Out, "") << shown;
        } else {
            EXPECT_EQ(r.Out, c.Out) << shown;
        }
        EXPECT_NE(r.Err.find(c.ErrPart), std::string::npos) << shown << r.Err;
        if (c.Code != 2) {
            EXPECT_EQ(r.Err, "") << shown;
        }
    }
    // Help texts name what they offer.
    EXPECT_NE(RunProgram(dir, {Quennick, "--help"}).Out.find("diff"), std::string::npos);
    EXPECT_NE(RunProgram(dir, {Quennick, "diff", "--help"}).Out.find("Usage: quennick diff"),
              std::string::npos);
}

TEST(QuennickDiff, ReadsStandardInputForADash) {
    TTempFolder dir;
    WriteBytes(dir / "a", "one\ntwo\n");
    WriteBytes(dir / "b", "one\n2\n");
    TResult r = RunProgram(dir, {Quennick, "diff", "-", dir / "b"}, dir / "a");
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out, "2c2\n< two\n---\n> 2\n");
    EXPECT_EQ(RunProgram(dir, {Quennick, "diff", dir / "a", "-"}, dir / "a").Code, 0);
}
