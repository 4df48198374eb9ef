#include "cli/DiffCommand.h"

#include "common/SafeFile.h"
#include "diff/DiffUnit.h"
#include "diff/HashUnit.h"
#include "diff/TextLines.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Usage[] =
    "Usage: quennick diff [OPTION]... FILE1 FILE2\n"
    "Compare two text files line by line and print the changes in the normal diff\n"
    "format, which patch applies. A FILE of '-' is standard input.\n"
    "\n"
    "  -q, --brief          report only whether the files differ\n"
    "  -i, --ignore-case    ignore differences in the case of ASCII letters\n"
    "  -w, --ignore-space   ignore all spaces and tabs within lines\n"
    "  -h, --help           show this help and exit\n"
    "\n"
    "Lines are compared byte for byte otherwise (a CR before the line feed counts).\n"
    "Exit status: 0 if the files are the same, 1 if they differ, 2 on trouble.\n";

class EDiffTrouble : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string ReadInput(const std::string& name) {
    bool isStdin = name == "-";
    int fd = isStdin ? 0 : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EDiffTrouble(name + ": " + SysErrorMessage(errno));
    std::string data;
    int err = 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
    } else {
        // Read straight into the buffer, growing it as needed (pipes have no size).
        size_t size = 0;
        data.resize(S_ISREG(st.st_mode) ? size_t(st.st_size) + 1 : size_t(1) << 16);
        for (;;) {
            if (size == data.size()) data.resize(data.size() * 2);
            ssize_t n = ::read(fd, data.data() + size, data.size() - size);
            if (n < 0) {
                if (errno == EINTR) continue;
                err = errno;
                break;
            }
            if (n == 0) break;
            size += size_t(n);
        }
        data.resize(size);
    }
    if (!isStdin) ::close(fd);
    if (err != 0) throw EDiffTrouble(name + ": " + SysErrorMessage(err));
    return data;
}

class TOutput {
public:
    void Put(std::string_view s) {
        FBuf.append(s);
        if (FBuf.size() >= (1u << 16)) Flush();
    }
    void PutNumber(int64_t n) {
        char tmp[24];
        int len = std::snprintf(tmp, sizeof tmp, "%lld", static_cast<long long>(n));
        FBuf.append(tmp, size_t(len));
    }
    void Flush() {
        size_t done = 0;
        while (done < FBuf.size() && FError == 0) {
            ssize_t n = ::write(1, FBuf.data() + done, FBuf.size() - done);
            if (n < 0) {
                if (errno != EINTR) FError = errno;
                continue;
            }
            done += size_t(n);
        }
        FBuf.clear();
    }
    int Error() const { return FError; }

private:
    std::string FBuf;
    int FError = 0;
};

// One hunk: lines [A0, A1) of the first file become lines [B0, B1) of the second.
struct THunk {
    int A0, A1, B0, B1;
};

void PutRange(TOutput& out, int from, int to) {
    // 1-based first and last line; a single line is written alone.
    out.PutNumber(from + 1);
    if (to - from > 1) {
        out.Put(",");
        out.PutNumber(to);
    }
}

void PutLines(TOutput& out, const char* mark, const std::vector<std::string_view>& lines,
              int from, int to) {
    for (int i = from; i < to; ++i) {
        out.Put(mark);
        std::string_view line = lines[size_t(i)];
        out.Put(line);
        if (line.empty() || line.back() != '\n') out.Put("\n\\ No newline at end of file\n");
    }
}

void PutHunk(TOutput& out, const THunk& h, const std::vector<std::string_view>& lines1,
             const std::vector<std::string_view>& lines2) {
    if (h.A0 == h.A1) {
        out.PutNumber(h.A0);
        out.Put("a");
        PutRange(out, h.B0, h.B1);
    } else {
        PutRange(out, h.A0, h.A1);
        if (h.B0 == h.B1) {
            out.Put("d");
            out.PutNumber(h.B0);
        } else {
            out.Put("c");
            PutRange(out, h.B0, h.B1);
        }
    }
    out.Put("\n");
    PutLines(out, "< ", lines1, h.A0, h.A1);
    if (h.A0 != h.A1 && h.B0 != h.B1) out.Put("---\n");
    PutLines(out, "> ", lines2, h.B0, h.B1);
}

// Writes the changes as hunks, joining records that touch into one hunk.
void PutChanges(TOutput& out, const std::vector<TDiffChange>& changes,
                const std::vector<std::string_view>& lines1,
                const std::vector<std::string_view>& lines2) {
    bool open = false;
    THunk hunk{};
    int shift = 0;  // position in the second file minus position in the first
    for (const auto& c : changes) {
        THunk r{};
        r.A0 = c.Pos1;
        r.B0 = c.Pos1 + shift;
        r.A1 = c.Kind == dkAdd ? r.A0 : r.A0 + c.Count;
        r.B1 = c.Kind == dkDelete ? r.B0 : r.B0 + c.Count;
        if (c.Kind == dkAdd) shift += c.Count;
        if (c.Kind == dkDelete) shift -= c.Count;
        if (open && r.A0 == hunk.A1 && r.B0 == hunk.B1) {
            hunk.A1 = r.A1;
            hunk.B1 = r.B1;
            continue;
        }
        if (open) PutHunk(out, hunk, lines1, lines2);
        hunk = r;
        open = true;
    }
    if (open) PutHunk(out, hunk, lines1, lines2);
}

struct TOptions {
    bool Brief = false;
    bool IgnoreCase = false;
    bool IgnoreSpace = false;
    std::vector<std::string> Files;
};

[[noreturn]] void BadUsage(const std::string& message) {
    throw EDiffTrouble(message + "\nTry 'quennick diff --help' for more information.");
}

// Returns false when the help was asked for.
bool ParseOptions(const std::vector<std::string>& args, TOptions& options) {
    bool operandsOnly = false;
    for (const auto& arg : args) {
        if (operandsOnly || arg == "-" || arg.empty() || arg[0] != '-') {
            options.Files.push_back(arg);
        } else if (arg == "--") {
            operandsOnly = true;
        } else if (arg == "--help") {
            return false;
        } else if (arg == "--brief") {
            options.Brief = true;
        } else if (arg == "--ignore-case") {
            options.IgnoreCase = true;
        } else if (arg == "--ignore-space") {
            options.IgnoreSpace = true;
        } else if (arg[1] == '-') {
            BadUsage("unrecognized option '" + arg + "'");
        } else {
            for (size_t i = 1; i < arg.size(); ++i) {
                switch (arg[i]) {
                    case 'h': return false;
                    case 'q': options.Brief = true; break;
                    case 'i': options.IgnoreCase = true; break;
                    case 'w': options.IgnoreSpace = true; break;
                    default: BadUsage(std::string("invalid option -- '") + arg[i] + "'");
                }
            }
        }
    }
    if (options.Files.size() < 2)
        BadUsage(options.Files.empty() ? "missing operand"
                                       : "missing operand after '" + options.Files[0] + "'");
    if (options.Files.size() > 2) BadUsage("extra operand '" + options.Files[2] + "'");
    return true;
}

int Compare(const TOptions& options, TOutput& out);

int Run(const std::vector<std::string>& args) {
    TOptions options;
    if (!ParseOptions(args, options)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    TOutput out;
    int result = Compare(options, out);
    out.Flush();
    if (out.Error() != 0) throw EDiffTrouble("write error: " + SysErrorMessage(out.Error()));
    return result;
}

int Compare(const TOptions& options, TOutput& out) {
    const std::string& name1 = options.Files[0];
    const std::string& name2 = options.Files[1];
    std::string data1 = ReadInput(name1);
    std::string data2 = name2 == "-" && name1 == "-" ? data1 : ReadInput(name2);
    const bool exact = !options.IgnoreCase && !options.IgnoreSpace;
    auto differ = [&](const char* what) {
        out.Put(what);
        out.Put(name1);
        out.Put(" and ");
        out.Put(name2);
        out.Put(" differ\n");
        return 1;
    };
    if (data1 == data2) return 0;
    if (IsBinary(data1) || IsBinary(data2)) return differ(options.Brief ? "Files " : "Binary files ");
    if (options.Brief && exact) return differ("Files ");

    auto lines1 = SplitKeepingEnds(data1);
    auto lines2 = SplitKeepingEnds(data2);
    if (lines1.size() > size_t(INT_MAX) || lines2.size() > size_t(INT_MAX))
        throw EDiffTrouble("too many lines to compare");
    if (options.Brief) {
        TLineNumbering numbering(options.IgnoreCase, options.IgnoreSpace);
        bool same = lines1.size() == lines2.size();
        for (size_t i = 0; same && i < lines1.size(); ++i)
            same = numbering.Number(lines1[i]) == numbering.Number(lines2[i]);
        return same ? 0 : differ("Files ");
    }

    TDiff diff;
    diff.SetDiagonalLimit(INT_MAX);  // no limit: memory grows with the number of lines only
    if (!diff.CompareLines(lines1, lines2, options.IgnoreCase, options.IgnoreSpace))
        throw EDiffTrouble("the comparison found no result");
    if (diff.ChangeCount() == 0) return 0;
    PutChanges(out, diff.Changes(), lines1, lines2);
    return 1;
}

}  // namespace

int RunDiffCommand(const std::vector<std::string>& args) {
    try {
        return Run(args);
    } catch (const EDiffTrouble& e) {
        std::fprintf(stderr, "quennick diff: %s\n", e.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "quennick diff: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quennick diff: %s\n", e.what());
    }
    return 2;
}
