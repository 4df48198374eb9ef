#include "cli/SyncCommand.h"
#include "cli/DiffCommand.h"
#include "cli/Terminal.h"

#include "search/FindFiles.h"
#include "sync/FileSyncMgr.h"
#include "sync/SyncDocument.h"
#include "sync/SyncProfile.h"
#include "sync/SyncPrompter.h"

#include "common/EngineContract.h"
#include "common/SafeFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using O = TFileSyncOption;

namespace {

const char Usage[] =
    "Usage: quennick sync [OPTION]... DOCUMENT.fmw\n"
    "       quennick sync --add DOCUMENT.fmw SOURCE DESTINATION [--option NAME=0|1]...\n"
    "Run the profiles of a sync document once, as a manual sync, and save the document\n"
    "with their new history; or add a profile to a document (made when missing).\n"
    "\n"
    "  -p, --profile N      run only profile N (counted from 1 in the document's order)\n"
    "  -n, --dry-run, --detect-only\n"
    "                       look for changes without copying, backing up or deleting\n"
    "                       anything, and print each action a sync would take with its\n"
    "                       reason (new, changed, size, content, newer destination,\n"
    "                       link); the document is not changed\n"
    "      --preview=history|dest\n"
    "                       before each profile, write its source list and its history\n"
    "                       (or destination) list beside the document, print their\n"
    "                       differences and ask whether to go on (without a terminal:\n"
    "                       no)\n"
    "      --batch          never ask, even on a terminal: take the safe answers\n"
    "  -v, --verbose        log every file copied, backed up or deleted\n"
    "      --add            add a profile that syncs SOURCE into the folder DESTINATION;\n"
    "                       SOURCE is a folder (its files and sub-folders), a folder\n"
    "                       with a file mask ('/data/*.txt') or one file\n"
    "      --option NAME=0|1\n"
    "                       with --add: turn one profile option on (1) or off (0);\n"
    "                       may be repeated\n"
    "  -h, --help           show this help and exit\n"
    "\n"
    "A run takes the profiles whose option ManRefresh is on. A new profile gets the\n"
    "options of a dropped folder (SyncIfDateChanged, CascadeDir, SourceDirectory,\n"
    "ManRefresh, TextInFileInclude, SyncDeletedObjects, CompareFileSize,\n"
    "MoveRenameDest) or of a dropped file (the same without CascadeDir and\n"
    "SourceDirectory). Option names:\n"
    "%s\n"
    "\n"
    "Questions (a newer destination, a large number of deletions) are asked on the\n"
    "terminal. Without one the safe answer is taken and said on standard error: a\n"
    "newer destination is kept, a changed destination is backed up before it is\n"
    "replaced, and a large number of deletions waits for a run that can ask.\n"
    "\n"
    "Exit status: 0 when everything was done, 1 when something was left alone for\n"
    "safety or failed (warnings, errors, postponed deletions, questions answered\n"
    "without a terminal, an interrupted run, a document that could not be saved), 2 on\n"
    "a bad argument or a document that cannot be used.\n";

constexpr const char* Me = "quennick sync: ";

std::string OptionNames() {
    std::string out;
    size_t col = 0;
    for (int i = 0; i < FileSyncOptionCount; ++i) {
        std::string name(FileSyncOptionName(static_cast<TFileSyncOption>(i)));
        if (col == 0) {
            out += "  ";
            col = 2;
        } else if (col + 1 + name.size() > 78) {
            out += "\n  ";
            col = 2;
        } else {
            out += ' ';
            ++col;
        }
        out += name;
        col += name.size();
    }
    return out;
}

// Texts of the engine and the document use "\r\n" between lines.
std::string Plain(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') continue;
        out += text[i];
    }
    return out;
}

// The progress line: on a terminal, the latest status with the progress of the current
// copy, on one line of standard error, drawn again at most four times a second.
class TProgressLine : public IStatusControl, public ILocationGauge {
public:
    explicit TProgressLine(bool enabled) : FEnabled(enabled) {}
    void SetStatusText(const std::string& text) override {
        if (!FEnabled) return;
        FText = text;
        Draw(false);
    }
    void PushRange(int64_t maximum, int64_t progress) override {
        FRanges.push_back({maximum, progress});
    }
    void PopRange() override {
        if (!FRanges.empty()) FRanges.pop_back();
    }
    void AddProgress(int64_t delta) override {
        if (FRanges.empty()) return;
        FRanges.back().Progress += delta;
        if (FEnabled) Draw(false);
    }
    void Clear() { FLine.Clear(); }

private:
    struct TRange {
        int64_t Maximum, Progress;
    };
    void Draw(bool force) {
        std::string tail;
        if (!FRanges.empty() && FRanges.back().Maximum > 1) {
            int64_t pct = FRanges.back().Progress * 100 / FRanges.back().Maximum;
            tail = " " + std::to_string(std::min<int64_t>(pct, 100)) + "%";
        }
        FLine.Draw(FText, tail, force);
    }

    bool FEnabled;
    std::string FText;
    std::vector<TRange> FRanges;
    TStatusLine FLine{std::chrono::milliseconds(250)};
};

const char* ButtonName(TMsgDlgBtn b) {
    switch (b) {
        case TMsgDlgBtn::mbYes: return "Yes";
        case TMsgDlgBtn::mbNo: return "No";
        case TMsgDlgBtn::mbOK: return "OK";
        case TMsgDlgBtn::mbCancel: return "Cancel";
        case TMsgDlgBtn::mbRetry: return "Retry";
    }
    return "?";
}

bool Offers(const TMsgDlgButtons& buttons, TMsgDlgBtn b) {
    for (TMsgDlgBtn x : buttons)
        if (x == b) return true;
    return false;
}

// Questions on the terminal (standard input when it is one, else the process's terminal);
// without a terminal every question gets the answer that loses nothing, and says so.
class TCliPrompter : public ISyncPrompter {
public:
    TCliPrompter(TProgressLine& progress, bool batch) : FProgress(progress) {
        if (batch) return;
        if (::isatty(0) == 1) {
            FIn = stdin;
            FOut = stderr;
        } else if (std::FILE* tty = std::fopen("/dev/tty", "r+")) {
            FIn = FOut = FTty = tty;
        }
    }
    ~TCliPrompter() override {
        if (FTty) std::fclose(FTty);
    }
    TCliPrompter(const TCliPrompter&) = delete;
    TCliPrompter& operator=(const TCliPrompter&) = delete;

    bool CanAsk() const { return FIn != nullptr; }
    // Questions answered without the user.
    int SafeAnswers = 0;
    // In a detection pass nothing is done with the answers: nobody is asked and nothing
    // is said.
    bool Quiet = false;

    void ShowMessage(const std::string& text) override {
        FProgress.Clear();
        std::fprintf(stderr, "%s%s\n", Me, Plain(text).c_str());
    }
    TMsgDlgBtn MessageDlg(const std::string& text, TMsgDlgType type,
                          const TMsgDlgButtons& buttons) override {
        return Ask(TSyncQuestion::Other, text, type, buttons);
    }
    TMsgDlgBtn Ask(TSyncQuestion kind, const std::string& text, TMsgDlgType,
                   const TMsgDlgButtons& buttons) override {
        FProgress.Clear();
        if (Quiet) return SafeAnswer(kind, buttons);
        if (FIn) {
            if (auto answer = AskUser(text, buttons)) return *answer;
        }
        TMsgDlgBtn answer = SafeAnswer(kind, buttons);
        ++SafeAnswers;
        std::string question = Plain(text);
        for (char& c : question)
            if (c == '\n') c = ' ';
        std::fprintf(stderr, "%snobody to ask \"%s\": answered %s%s.\n", Me, question.c_str(),
                     ButtonName(answer), Reason(kind, answer));
        return answer;
    }
    // Documents are only written under the name given on the command line.
    std::string PromptFileName(const TSyncFileDialog&) override { return {}; }
    void ShowStatus(const std::string& text) override { FProgress.SetStatusText(text); }

private:
    // Cancel where offered (a newer destination is kept, deletions wait), No otherwise
    // (a document of a newer version is not opened) - except that a destination which
    // changed on its own is backed up before the source replaces it.
    static TMsgDlgBtn SafeAnswer(TSyncQuestion kind, const TMsgDlgButtons& buttons) {
        if (kind == TSyncQuestion::BothChanged && Offers(buttons, TMsgDlgBtn::mbYes))
            return TMsgDlgBtn::mbYes;
        return EscapeAnswer(buttons);
    }
    static const char* Reason(TSyncQuestion kind, TMsgDlgBtn answer) {
        if (kind == TSyncQuestion::BothChanged && answer == TMsgDlgBtn::mbYes)
            return " (the destination is backed up before it is replaced)";
        if (kind == TSyncQuestion::DestinationNewer && answer == TMsgDlgBtn::mbCancel)
            return " (the newer destination is kept)";
        if (kind == TSyncQuestion::LargeDeletion) return " (nothing is deleted)";
        return "";
    }
    std::optional<TMsgDlgBtn> AskUser(const std::string& text, const TMsgDlgButtons& buttons) {
        std::string choices;
        for (TMsgDlgBtn b : buttons) {
            const char* name = ButtonName(b);
            if (!choices.empty()) choices += '/';
            choices += '[';
            choices += static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            choices += ']';
            choices += name + 1;
        }
        for (;;) {
            std::fprintf(FOut, "\n%s\n%s? ", Plain(text).c_str(), choices.c_str());
            std::fflush(FOut);
            char line[256];
            if (!std::fgets(line, sizeof line, FIn)) {
                std::fputc('\n', FOut);
                return std::nullopt;  // end of input or interrupted: the safe answer
            }
            char c = 0;
            for (char* p = line; *p; ++p)
                if (!std::isspace(static_cast<unsigned char>(*p))) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
                    break;
                }
            for (TMsgDlgBtn b : buttons)
                if (c != 0 && std::tolower(static_cast<unsigned char>(ButtonName(b)[0])) == c) return b;
        }
    }

    TProgressLine& FProgress;
    std::FILE* FIn = nullptr;
    std::FILE* FOut = nullptr;
    std::FILE* FTty = nullptr;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "%s%s\nRun 'quennick sync --help' for the options.\n", Me, message.c_str());
    return 2;
}

// An error about the document or the run (not about the arguments).
int Error(int code, const std::string& message) {
    std::fprintf(stderr, "%s%s\n", Me, message.c_str());
    return code;
}

bool HasDocumentExtension(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    if (name.size() < 5) return false;
    const std::string_view ext = std::string_view(name).substr(name.size() - 4);
    return SameText(ext, ".fmw") || SameText(ext, ".qns");
}

std::string Absolute(const std::string& path) {
    // A location of another kind (zip://...) names its own place.
    if (!IsLocalLocation(path)) return path;
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) return path;
    std::string out = p.lexically_normal().string();
    // "dir/." normalises to "dir/": keep the trailing slash only where the input had one.
    bool slash = !path.empty() && path.back() == '/';
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    if (slash && out != "/") out += '/';
    return out;
}

struct TArgs {
    bool Add = false, DetectOnly = false, Batch = false, Verbose = false;
    bool HistoryPreview = false, DestPreview = false;
    std::optional<int> Profile;
    std::vector<std::pair<TFileSyncOption, bool>> Options;
    std::vector<std::string> Positional;
};

// Parses the words; nullopt after a message (Code then holds the exit code).
std::optional<TArgs> Parse(const std::vector<std::string>& args, int& code) {
    TArgs a;
    bool optionsEnd = false;
    code = 2;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& w = args[i];
        if (optionsEnd || w.empty() || w[0] != '-' || w == "-") {
            a.Positional.push_back(w);
            continue;
        }
        // "--name=value" or "--name value" (also "-p N").
        auto value = [&](std::initializer_list<const char*> names, std::string& out) -> int {
            for (const char* name : names) {
                std::string prefix = std::string(name) + "=";
                if (w.compare(0, prefix.size(), prefix) == 0 && name[1] == '-') {
                    out = w.substr(prefix.size());
                    return 1;
                }
                if (w == name) {
                    if (i + 1 >= args.size()) return -1;
                    out = args[++i];
                    return 1;
                }
            }
            return 0;
        };
        std::string v;
        int got;
        if (w == "--") {
            optionsEnd = true;
        } else if (w == "-h" || w == "--help") {
            std::printf(Usage, OptionNames().c_str());
            code = 0;
            return std::nullopt;
        } else if (w == "--add") {
            a.Add = true;
        } else if (w == "--detect-only" || w == "-n" || w == "--dry-run") {
            a.DetectOnly = true;
        } else if (w == "--batch") {
            a.Batch = true;
        } else if (w == "-v" || w == "--verbose") {
            a.Verbose = true;
        } else if ((got = value({"--preview"}, v)) != 0) {
            if (got < 0 || (v != "history" && v != "dest"))
                return Fail("option '--preview' needs 'history' or 'dest'"), std::nullopt;
            (v == "history" ? a.HistoryPreview : a.DestPreview) = true;
        } else if ((got = value({"--profile", "-p"}, v)) != 0) {
            if (got < 0) return Fail("option '--profile' needs a number"), std::nullopt;
            char* end = nullptr;
            errno = 0;
            long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != 0 || errno != 0 || n < 1 || n > 1000000)
                return Fail("bad profile number '" + v + "': profiles count from 1"), std::nullopt;
            a.Profile = static_cast<int>(n);
        } else if ((got = value({"--option"}, v)) != 0) {
            if (got < 0) return Fail("option '--option' needs NAME=0 or NAME=1"), std::nullopt;
            size_t eq = v.find('=');
            std::string name = v.substr(0, eq), setting = eq == std::string::npos ? "" : v.substr(eq + 1);
            std::optional<TFileSyncOption> o = FileSyncOptionByName(name);
            if (!o)
                return Fail("unknown profile option '" + name + "'; the options are:\n" + OptionNames()),
                       std::nullopt;
            if (setting != "0" && setting != "1")
                return Fail("option " + name + " needs the value 0 or 1, as in " + name + "=1"),
                       std::nullopt;
            a.Options.emplace_back(*o, setting == "1");
        } else {
            return Fail("unknown option '" + w + "'"), std::nullopt;
        }
    }
    if (a.Add) {
        if (a.Profile || a.DetectOnly || a.HistoryPreview || a.DestPreview)
            return Fail("--add cannot be combined with --profile, --detect-only or --preview"), std::nullopt;
        if (a.Positional.size() != 3)
            return Fail(a.Positional.size() < 3 ? "--add needs DOCUMENT, SOURCE and DESTINATION"
                                                : "too many arguments: '" + a.Positional[3] + "'"),
                   std::nullopt;
    } else {
        if (!a.Options.empty()) return Fail("--option only goes with --add"), std::nullopt;
        if (a.Positional.size() != 1)
            return Fail(a.Positional.empty() ? "DOCUMENT is needed"
                                             : "too many arguments: '" + a.Positional[1] + "'"),
                   std::nullopt;
    }
    const std::string& doc = a.Positional[0];
    if (!HasDocumentExtension(doc))
        return Fail("'" + doc + "' is not a sync document name: it must end in .fmw (or .qns)"),
               std::nullopt;
    for (const std::string& p : a.Positional)
        if (p.empty()) return Fail("an argument is empty"), std::nullopt;
    return a;
}

// Loads an existing document (or, with MayBeNew, names a new one). Returns 0 or the exit code.
int LoadDocument(TSyncDocument& doc, const std::string& path, bool mayBeNew) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT || !mayBeNew)
            return Error(2, "cannot open the document " + path + ": " + std::strerror(errno));
    } else if (S_ISDIR(st.st_mode)) {
        return Error(2, "cannot open the document " + path + ": it is a folder");
    }
    try {
        if (!doc.LoadFile(path))
            return Error(1, "the document " + path + " was not opened: it was saved by a newer version");
    } catch (const std::exception& e) {
        return Error(2, "cannot read the document " + path + ": " + e.what());
    }
    return 0;
}

int AddProfile(const TArgs& a, TSyncDocument& doc, TFindFiles& engine) {
    const std::string docPath = Absolute(a.Positional[0]);
    std::string source = Absolute(a.Positional[1]);
    std::string dest = Absolute(a.Positional[2]);
    // A folder: its files (and, with CascadeDir, everything below).
    std::error_code ec;
    bool folder = true;
    if (source.find(" -> ") != std::string::npos || dest.find(" -> ") != std::string::npos)
        return Error(2, "a source or destination whose name holds \" -> \" cannot be kept in a "
                        "profile (it separates the two there)");
    if (!IsLocalLocation(dest) && !IsZipLocation(dest))
        return Error(2, "the destination " + dest + " is no folder or zip archive");
    if (!IsLocalLocation(source) && !IsZipLocation(source))
        return Error(2, "the source " + source + " is no folder, file or zip archive");
    for (const std::string* l : {&source, &dest})
        if (IsZipLocation(*l) && ZipArchiveOf(*l).empty())
            return Error(2, "'" + *l + "' names no archive: a zip location takes the archive's whole "
                            "path, as in zip:///data/a.zip/");
    if (IsZipLocation(source)) {
        // An archive (or a folder in one): its members.
        if (!fs::is_regular_file(ZipArchiveOf(source), ec))
            return Error(2, "the archive of the source " + source + " does not exist");
        if (source.find_first_of("*?") == std::string::npos) source += source.back() == '/' ? "*" : "/*";
    } else if (fs::is_directory(source, ec)) {
        if (source.back() != '/') source += '/';
        source += '*';
    } else if (source.find_first_of("*?") == std::string::npos) {
        if (!fs::exists(source, ec)) return Error(2, "the source " + source + " does not exist");
        folder = false;
    } else if (!fs::is_directory(LocalRootFolder(source), ec)) {
        return Error(2, "the folder of the source " + source + " does not exist");
    }
    if (fs::exists(dest, ec) && !fs::is_directory(dest, ec))
        return Error(2, "the destination " + dest + " is a file: it must be a folder");
    if (dest.back() != '/') dest += '/';

    if (int code = LoadDocument(doc, docPath, true)) return code;
    const int index = doc.AddDroppedProfile(source, folder, &engine);
    if (!doc.SetDest({index}, dest, &engine))
        return Error(2, "the destination " + dest + " cannot be used; the document is unchanged");
    TSyncProfile& p = doc.Profiles().Profile(index);
    for (auto [option, on] : a.Options) {
        p.Options.Set(option, on);
        if (p.EngineCopy) p.EngineCopy->Options.Set(option, on);
    }
    if (!doc.SaveFile())
        return Error(1, "the document " + docPath + " could not be saved: " + doc.LastSaveError());
    std::printf("Added profile %d: %s\n", index + 1, doc.Profiles().Line(index).c_str());
    return 0;
}

// Why a profile cannot take part in a manual run, or empty.
std::string NotRunnable(const TSyncProfileList& profiles, int i) {
    const TSyncProfile& p = profiles.Profile(i);
    if (p.Has(O::FilterPreviousProfile)) return "it only filters the profile above it";
    if (ProfileDest(profiles.Line(i)).empty()) return "it has no destination";
    if (!p.Has(O::ManRefresh)) return "its option ManRefresh (manual sync) is off";
    return {};
}

// The profiles a manual run takes: the one asked for, or every one that takes part in
// manual syncs; empty (an error printed, Code set) when there is none.
std::vector<bool> ChooseProfiles(const TArgs& a, const TSyncProfileList& profiles,
                                 const std::string& docPath, int& code) {
    std::vector<bool> chosen(profiles.Count(), false);
    code = 0;
    if (profiles.Empty()) {
        code = Error(2, "the document " + docPath + " holds no profiles; add one with --add");
        return {};
    }
    if (a.Profile) {
        const int i = *a.Profile - 1;
        if (i >= profiles.Count()) {
            code = Error(2, "there is no profile " + std::to_string(*a.Profile) +
                                ": the document holds " + std::to_string(profiles.Count()) +
                                " profile(s)");
            return {};
        }
        std::string why = NotRunnable(profiles, i);
        if (!why.empty()) {
            code = Error(2, "profile " + std::to_string(*a.Profile) + " cannot be run: " + why);
            return {};
        }
        chosen[i] = true;
        return chosen;
    }
    bool any = false;
    for (int i = 0; i < profiles.Count(); ++i) any |= chosen[i] = NotRunnable(profiles, i).empty();
    if (!any) {
        code = Error(2, "no profile of " + docPath + " takes part in manual syncs (option ManRefresh)");
        return {};
    }
    return chosen;
}

// Marks the chosen engine profiles for the run: selected for a manual run, or, for a
// detection pass, due at once.
void MarkChosen(TSyncProfileList& engineProfiles, const std::vector<bool>& chosen, bool detectOnly) {
    for (int i = 0; i < engineProfiles.Count(); ++i) {
        TSyncProfile& copy = engineProfiles.Profile(i);
        copy.Selected = chosen[i];
        if (!detectOnly) continue;
        copy.Selected = false;
        copy.Options.Exclude(O::AutoRefresh);
        copy.Options.Set(O::AutoDetect, chosen[i]);
        copy.LastDetectTime = 0;
        copy.ChangeCount = 0;
        copy.ChangeDetectedTime = NoChangeDetected;
    }
}

// The summary's columns, without their padding.
void PrintSummary(TSyncStats stats) {
    if (stats.ProfileOrSync.empty()) stats.ProfileOrSync = "Manual Sync Summary";
    for (const std::string& line : SyncSummaryLines(stats)) {
        std::string text;
        for (char c : line)
            if (c != ' ' || (!text.empty() && text.back() != ' ')) text += c;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        std::printf("%s\n", text.c_str());
    }
}

// The command's engine and the outputs it reports to.
struct TSyncSession {
    explicit TSyncSession(const TArgs& a)
        // On a terminal, unless the changes of a detection pass are printed to that terminal too.
        : Progress(::isatty(2) == 1 && !(a.DetectOnly && ::isatty(1) == 1)),
          // Lines of the location layer's log (copies, backups, deletions, its errors) on
          // standard error, without the log's time stamp.
          Memo([this](std::string_view text) {
              Progress.Clear();
              std::fprintf(stderr, "%s%s\n", Me, Plain(text).c_str());
          }),
          Prompter(Progress, a.Batch),
          Engine(nullptr, &Memo, &Progress, &Progress) {
        // One run per process: no listing needs to be kept for a later one.
        Engine.CacheListings = false;
        SetDefaultLocationOwner(&Engine);
        // The location layer logs copies, backups and deletions only when asked to; its
        // warnings and errors always.
        LogOptions().Disabled = false;
        LogOptions().Levels = a.Verbose ? 0b01111110 : 0b01100000;
    }
    ~TSyncSession() { SetDefaultLocationOwner(nullptr); }
    TSyncSession(const TSyncSession&) = delete;
    TSyncSession& operator=(const TSyncSession&) = delete;

    TProgressLine Progress;
    TCommandMemo Memo;
    TCliPrompter Prompter;
    TFindFiles Engine;
    int Problems = 0;  // things left alone or failed beyond the run's own counts
};

// Sets the engine up for this command line's run.
void SetUpManager(TFileSyncMgr& mgr, TSyncSession& s, const TSyncDocument& doc, const TArgs& a,
                  const std::string& docPath) {
    TSyncDocOptions options = doc.Options();
    options.TurnOffLogging = false;
    options.LogLevels[liWarning] = options.LogLevels[liError] = true;
    mgr.LoadOptions(options);
    mgr.PostponeLargeDeletions = !s.Prompter.CanAsk();
    // Previews only when asked for on this command line.
    mgr.HistoryPreview = a.HistoryPreview && !a.DetectOnly;
    mgr.DestPreview = a.DestPreview && !a.DetectOnly;
    mgr.DocumentPath = docPath;
    mgr.OnCompareFiles = [&s](const std::string& first, const std::string& second) {
        s.Progress.Clear();
        std::fflush(stdout);
        RunDiffCommand({first, second});
        std::fflush(stdout);
    };
    mgr.OnLog = [&s](TLogItem level, const std::string& text) {
        // A profile whose source or destination is not there is left alone: worth saying in
        // the exit code too.
        if (level == liWarning || level == liError ||
            text.find("contains a drive that is currently not available.") != std::string::npos)
            ++s.Problems;
        s.Progress.Clear();
        std::fprintf(stderr, "%s%s\n", Me, Plain(text).c_str());
    };
}

}  // namespace

int RunSyncCommand(const std::vector<std::string>& args) {
    int code = 0;
    std::optional<TArgs> parsed = Parse(args, code);
    if (!parsed) return code;
    const TArgs& a = *parsed;

    TSyncSession s(a);
    TSyncDocument doc(s.Prompter);
    doc.FromCommandLine = true;
    if (a.Add) return AddProfile(a, doc, s.Engine);

    const std::string docPath = Absolute(a.Positional[0]);
    if (int c = LoadDocument(doc, docPath, false)) return c;
    TSyncProfileList& profiles = doc.Profiles();
    const std::vector<bool> chosen = ChooseProfiles(a, profiles, docPath, code);
    if (code != 0) return code;

    // The engine works on profiles of its own; the document takes them back after the run.
    TFileSyncMgr mgr(s.Engine, s.Prompter);
    SetUpManager(mgr, s, doc, a, docPath);
    GiveProfilesToEngine(profiles, mgr.Profiles);
    MarkChosen(mgr.Profiles, chosen, a.DetectOnly);
    int changes = 0;
    if (a.DetectOnly) {
        s.Prompter.Quiet = true;
        mgr.NotBefore = 0;
        mgr.OnChangeDetected = [&](const TSyncChange& c) {
            ++changes;
            if (c.BackupFirst || c.Reason == TSyncReason::BackupOnly)
                std::printf("backup %s\n", c.Dest.c_str());
            if (c.Deletion)
                std::printf("delete %s\n", c.Dest.c_str());
            else if (c.Reason != TSyncReason::BackupOnly)
                std::printf("copy %s -> %s (%s)\n", c.Source.c_str(), c.Dest.c_str(),
                            std::string(SyncReasonText(c.Reason)).c_str());
        };
    }

    // Interrupting stops the run between two steps (a copy under way is dropped, its
    // temporary file removed) and still saves the document. A closed output does not end
    // the run half-way either.
    TInterruptScope interrupts(true);
    static char outBuf[1 << 16];
    std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);
    TSyncStats stats;
    try {
        mgr.Sync(stats, a.DetectOnly ? TFileSyncOptions{O::AutoDetect} : TFileSyncOptions{O::ManRefresh});
    } catch (const std::exception& e) {
        s.Progress.Clear();
        std::fprintf(stderr, "%sthe run failed: %s\n", Me, e.what());
        ++s.Problems;
    }
    s.Progress.Clear();
    const bool interrupted = TInterruptScope::Interrupted() || s.Engine.Cancelled();

    if (a.DetectOnly) {
        std::printf("%d change(s) found.\n", changes);
    } else {
        // The new history and run state go into the document before anything is printed;
        // the user's choice of profiles stays as it was.
        TakeProfilesFromEngine(mgr.Profiles, profiles);
        if (!doc.SaveFile()) {
            std::fprintf(stderr, "%sthe document %s could not be saved: %s\n", Me, docPath.c_str(),
                         doc.LastSaveError().c_str());
            ++s.Problems;
        }
        PrintSummary(stats);
    }
    std::fflush(stdout);
    if (interrupted) std::fprintf(stderr, "%sinterrupted; the run is incomplete.\n", Me);
    if (std::ferror(stdout)) {
        std::fprintf(stderr, "%scannot write the results: %s\n", Me, std::strerror(errno));
        ++s.Problems;
    }
    return s.Problems == 0 && stats.WarningCount == 0 && stats.ErrorCount == 0 &&
                   s.Prompter.SafeAnswers == 0 && !interrupted
               ? 0
               : 1;
}
