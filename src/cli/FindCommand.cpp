#include "cli/FindCommand.h"
#include "cli/Terminal.h"

#include "search/FindFiles.h"

#include "common/EngineContract.h"
#include "common/Masks.h"
#include "common/QNRegExpr.h"
#include "common/SafeFile.h"
#include "locations/BackupFileParts.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Usage[] =
    "Usage: quennick find [OPTION]... LOCATIONS MASKS\n"
    "Find files by masks, a file-name pattern and a text pattern, and print one\n"
    "location per line. Folders are printed with a trailing '/'.\n"
    "\n"
    "LOCATIONS is one folder or several joined with '||' (for example '/etc||/opt').\n"
    "MASKS is one file-name mask or several joined with '|' ('*.txt|*.log'); with\n"
    "several folders, masks joined with '||' go to the folders in turn. Masks match\n"
    "ignoring case: '*' any run of characters, '?' one character, '[a-z]' and '[!a-z]'\n"
    "one character of (not of) the set; '*.*' is the same as '*'. An empty MASKS ('')\n"
    "lists the folders themselves.\n"
    "\n"
    "  -r, --recurse          search the sub-folders too (symbolic links are listed,\n"
    "                         never followed into folders)\n"
    "      --name-regex RE    only locations in which the pattern RE matches\n"
    "      --text RE          only files whose content matches the pattern RE\n"
    "      --folders          report folders too\n"
    "  -z, --zip              also search inside the zip archives of the first folder\n"
    "                         (members print as zip://ARCHIVE/MEMBER)\n"
    "      --info             print date, size and attributes before each location\n"
    "      --stats            print the statistics (folders, total size, files) at the end\n"
    "  -h, --help             show this help and exit\n"
    "\n"
    "Patterns are Perl-style regular expressions matched ignoring case, with '.'\n"
    "matching line breaks too (the modifiers \"gsri-mx\"; write \"(?-i)\" for case). The\n"
    "text search reads only regular files; a match in a file above 4 MiB is found when it\n"
    "is at most 1 MiB long.\n"
    "\n"
    "Exit status: 0 when the search ran (with or without results), 1 when it was\n"
    "incomplete (something could not be read, or it was interrupted; the reasons go to\n"
    "standard error), 2 on a bad argument or pattern.\n";

// The status line: on a terminal the latest message on one line of standard error,
// redrawn at most ten times a second.
class TTerminalStatus : public IStatusControl {
public:
    explicit TTerminalStatus(bool enabled) : FEnabled(enabled) {}
    bool Enabled() const { return FEnabled; }
    void SetStatusText(const std::string& text) override {
        if (FEnabled) FLine.Draw(text);
    }
    void Clear() { FLine.Clear(); }

private:
    bool FEnabled;
    TStatusLine FLine{std::chrono::milliseconds(100)};
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "quennick find: %s\nRun 'quennick find --help' for the options.\n",
                 message.c_str());
    return 2;
}

struct TFindArgs {
    bool Recurse = false, Folders = false, Zip = false, Info = false, Stats = false;
    std::string NameRegex, TextRegex;
    bool HaveName = false, HaveText = false;
    std::vector<std::string> Positional;  // LOCATIONS and MASKS
    uint8_t Flags() const {
        uint8_t flags = 0;
        if (Recurse) flags |= fsRecurse;
        if (Folders) flags |= fsFolders;
        if (Zip) flags |= fsZipArchives;
        if (HaveName) flags |= fsNameMustMatch;
        if (HaveText) flags |= fsTextMustMatch;
        return flags;
    }
};

// The arguments, or the exit code (0 after --help, 2 on a bad argument).
std::optional<TFindArgs> ParseArgs(const std::vector<std::string>& args, int& code) {
    TFindArgs r;
    bool optionsEnd = false;
    code = 2;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnd || a.empty() || a[0] != '-' || a == "-") {
            r.Positional.push_back(a);
            continue;
        }
        auto value = [&](const char* name, std::string& out) -> bool {
            std::string prefix = std::string(name) + "=";
            if (a.compare(0, prefix.size(), prefix) == 0) {
                out = a.substr(prefix.size());
                return true;
            }
            if (a == name) {
                if (i + 1 >= args.size()) return false;
                out = args[++i];
                return true;
            }
            return false;
        };
        if (a == "--") {
            optionsEnd = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(Usage, stdout);
            code = 0;
            return std::nullopt;
        } else if (a == "-r" || a == "--recurse") {
            r.Recurse = true;
        } else if (a == "--folders") {
            r.Folders = true;
        } else if (a == "-z" || a == "--zip") {
            r.Zip = true;
        } else if (a == "--info") {
            r.Info = true;
        } else if (a == "--stats") {
            r.Stats = true;
        } else if (a.rfind("--name-regex", 0) == 0) {
            if (!value("--name-regex", r.NameRegex)) {
                Fail("option '--name-regex' needs a pattern");
                return std::nullopt;
            }
            r.HaveName = true;
        } else if (a.rfind("--text", 0) == 0) {
            if (!value("--text", r.TextRegex)) {
                Fail("option '--text' needs a pattern");
                return std::nullopt;
            }
            r.HaveText = true;
        } else {
            Fail("unknown option '" + a + "'");
            return std::nullopt;
        }
    }
    if (r.Positional.size() != 2) {
        Fail(r.Positional.size() < 2 ? "LOCATIONS and MASKS are needed"
                                     : "too many arguments: '" + r.Positional[2] + "'");
        return std::nullopt;
    }
    return r;
}

// Why the patterns or masks cannot be used, or empty.
std::string BadPatterns(const TFindArgs& a) {
    if (a.HaveName && a.NameRegex.empty()) return "the --name-regex pattern is empty";
    if (a.HaveText && a.TextRegex.empty()) return "the --text pattern is empty";
    for (auto [pattern, what] :
         {std::pair{&a.NameRegex, "--name-regex"}, std::pair{&a.TextRegex, "--text"}}) {
        if (pattern->empty()) continue;
        try {
            TQNRegExpr(*pattern, "gsri-mx").Compile();
        } catch (const ERegExpr& e) {
            return std::string("bad ") + what + " pattern '" + *pattern + "': " + e.what();
        }
    }
    for (const std::string& group : SplitAtRuns(a.Positional[1], true))
        for (const std::string& mask : SplitMasks(group)) {
            try {
                TMask m(mask);
            } catch (const EMaskException& e) {
                return e.what();
            }
        }
    return {};
}

// The locations as the engine takes them, relative folders taken from the current
// folder; empty (an error printed) when one cannot be searched. A local folder that is
// not there is said on standard error and left out (Missing counts them): the search of
// the others goes on, and is incomplete.
std::optional<std::string> ResolveLocations(TFindFiles& engine, const std::string& text, int& missing) {
    std::string cwd;
    std::vector<char> buf(4096);
    while (::getcwd(buf.data(), buf.size()) == nullptr && errno == ERANGE) buf.resize(buf.size() * 2);
    cwd = buf.data();
    std::string locations;
    for (const std::string& loc : SplitAtRuns(text, false)) {
        std::string full = loc;
        if (!full.empty() && full[0] != '/' && ExtractScheme(full).empty())
            full = (cwd == "/" ? std::string("/") : cwd + "/") + full;
        std::unique_ptr<TURLParts> parts =
            CreateParts(&engine, !full.empty() && full.back() == '/' ? full : full + "/");
        if (loc.empty() || !parts->IsValid()) {
            Fail("not a location that can be searched: '" + loc + "'");
            return std::nullopt;
        }
        if (ExtractScheme(full).empty()) {
            struct stat st {};
            std::string why;
            if (::stat(full.c_str(), &st) != 0)
                why = SysErrorMessage(errno);
            else if (!S_ISDIR(st.st_mode))
                why = "it is not a folder";
            if (!why.empty()) {
                std::fprintf(stderr, "quennick find: cannot search '%s': %s.\n", loc.c_str(), why.c_str());
                ++missing;
                continue;
            }
        }
        if (!locations.empty()) locations += "||";
        locations += full;
    }
    return locations;
}

// Prints each entry as it is found (with its information when asked); only the
// statistics are kept. A status line on the same terminal is taken away first.
void PrintAsFound(TFindFiles& engine, const TFindArgs& a, TTerminalStatus& status) {
    engine.KeepResults = false;
    engine.OnFound = [info = a.Info, stats = a.Stats, &status](TFindEntry& e) {
        status.Clear();
        if (info || stats) {
            const TFileInfoRec& rec = e.Info();
            if (e.Vanished()) return false;  // gone since its folder was read
            if (info) {
                std::fputs(FormatInfo(rec).c_str(), stdout);
                std::fputc(' ', stdout);
            }
        }
        const std::string& loc = e.Location();
        std::fwrite(loc.data(), 1, loc.size(), stdout);
        std::fputc('\n', stdout);
        return true;
    };
}

// The exit code of a search that ran to its end or was stopped.
int Outcome(bool interrupted, bool incomplete, int unreadable) {
    if (std::ferror(stdout)) {
        std::fprintf(stderr, "quennick find: cannot write the results: %s\n", std::strerror(errno));
        return 2;
    }
    if (interrupted) {
        std::fprintf(stderr, "quennick find: interrupted; the results are incomplete.\n");
        return 1;
    }
    if (incomplete) {
        std::fprintf(stderr,
                     "quennick find: the search was incomplete: %d %s could not be read.\n",
                     unreadable, unreadable == 1 ? "entry" : "entries");
        return 1;
    }
    return 0;
}

}  // namespace

int RunFindCommand(const std::vector<std::string>& args) {
    int code = 0;
    const std::optional<TFindArgs> parsed = ParseArgs(args, code);
    if (!parsed) return code;
    const TFindArgs& a = *parsed;
    if (std::string why = BadPatterns(a); !why.empty()) return Fail(why);

    // A progress line on a terminal; results on the same terminal go out line by line,
    // each after the line is taken away.
    TTerminalStatus status(::isatty(2) == 1);
    // Messages of the engine's log go to standard error, without the log's time stamp.
    TCommandMemo memo([&status](std::string_view text) {
        status.Clear();
        std::fprintf(stderr, "quennick find: %.*s\n", static_cast<int>(text.size()), text.data());
    });
    TFindFiles engine(nullptr, &memo, &status, nullptr);
    // One search per run: no listing needs to be kept for a later one.
    engine.CacheListings = false;
    SetDefaultLocationOwner(&engine);
    struct TUnregister {
        ~TUnregister() { SetDefaultLocationOwner(nullptr); }
    } unregister;
    int missing = 0;
    const std::optional<std::string> locations = ResolveLocations(engine, a.Positional[0], missing);
    if (!locations) return 2;

    TInterruptScope interrupts(false);
    static char outBuf[1 << 16];
    std::setvbuf(stdout, outBuf, status.Enabled() && ::isatty(1) == 1 ? _IOLBF : _IOFBF, sizeof outBuf);
    PrintAsFound(engine, a, status);
    try {
        if (!locations->empty())
            engine.FindFiles(a.Positional[1], *locations, status.Enabled(), nullptr, "Results",
                             a.TextRegex, a.NameRegex, nullptr, a.Flags());
    } catch (const std::exception& e) {
        status.Clear();
        return Fail(e.what());
    }
    status.Clear();
    if (a.Stats)
        for (const std::string& line : engine.ResultStore.GetSection("Results\"Stats").ToVector())
            std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return Outcome(TInterruptScope::Interrupted(), missing > 0 || engine.LastSearchIncomplete(),
                   engine.LastUnreadableCount() + missing);
}
