#include "cli/DeltaCommand.h"

#include "diff/DiffMaker.h"

#include "common/SafeFile.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

const char Usage[] =
    "Usage: quennick delta make [--level N] REFERENCE FILE OUT.diff\n"
    "       quennick delta apply REFERENCE IN.diff OUT\n"
    "       quennick delta ratio [--level N] A B\n"
    "Keep FILE as its binary difference to REFERENCE, rebuild it from the difference, or\n"
    "say how far two files differ.\n"
    "\n"
    "  make     write the difference of FILE against REFERENCE to OUT.diff\n"
    "  apply    rebuild the file of IN.diff from REFERENCE into OUT\n"
    "  ratio    print the difference ratio of A and B: near 0 for equal files, near or\n"
    "           above 1 for unrelated ones\n"
    "  --level N  search effort, 10..1000 (default 25): earlier matches looked at per\n"
    "             position\n"
    "  -h, --help show this help and exit\n"
    "\n"
    "Outputs are written under a temporary name and renamed when complete.\n"
    "\n"
    "Exit status: 0 when done, 1 when IN.diff does not match REFERENCE (a CRC error) or\n"
    "is damaged, 2 on a bad argument or a file that cannot be read or written.\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "quennick delta: %s\nRun 'quennick delta --help' for the usage.\n", message.c_str());
    return 2;
}

}  // namespace

int RunDeltaCommand(const std::vector<std::string>& args) {
    std::vector<std::string> words;
    int level = 25;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (a == "--level" || a.rfind("--level=", 0) == 0) {
            std::string v = a == "--level" ? (i + 1 < args.size() ? args[++i] : std::string()) : a.substr(8);
            char* end = nullptr;
            const long n = v.empty() ? 0 : std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 10 || n > 1000)
                return Fail("bad level '" + v + "': it must be a number from 10 to 1000");
            level = static_cast<int>(n);
            continue;
        }
        if (a.size() > 1 && a[0] == '-') return Fail("unknown option '" + a + "'");
        words.push_back(a);
    }
    if (words.empty()) return Fail("a command is needed: make, apply or ratio");
    const std::string command = words[0];
    words.erase(words.begin());
    const size_t needed = command == "ratio" ? 2 : 3;
    if (command != "make" && command != "apply" && command != "ratio")
        return Fail("unknown command '" + command + "': make, apply or ratio");
    if (words.size() != needed)
        return Fail(command + " needs " + (needed == 2 ? "A and B" : command == "make" ? "REFERENCE, FILE and OUT.diff"
                                                                                        : "REFERENCE, IN.diff and OUT"));
    try {
        if (command == "ratio") {
            std::printf("%.6f\n", DeltaDifferenceOfFiles(words[0], words[1], level));
            return 0;
        }
        TDiffMaker maker;
        maker.SetCompLevel(level);
        maker.UseFile = words[0];
        maker.InFile = words[1];
        maker.OutFile = words[2];
        if (command == "make")
            maker.MakeDiff();
        else
            maker.ApplyDiff();
        return 0;
    } catch (const EDiffError& e) {
        std::fprintf(stderr, "quennick delta: %s: %s\n", words[1].c_str(), e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quennick delta: %s\n", e.what());
        return 2;
    }
}
