// The quennick command line: a sub-command dispatcher for the headless engines.
#include "cli/DeltaCommand.h"
#include "cli/DiffCommand.h"
#include "cli/FindCommand.h"
#include "cli/SyncCommand.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct TCommand {
    const char* Name;
    const char* Summary;
    int (*Run)(const std::vector<std::string>& args);
};

const TCommand Commands[] = {
    {"delta", "make and apply binary difference files", RunDeltaCommand},
    {"diff", "compare two text files line by line", RunDiffCommand},
    {"find", "find files by masks, a name pattern and a text pattern", RunFindCommand},
    {"sync", "run the profiles of a sync document, or add one", RunSyncCommand},
};

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: quennick COMMAND [ARG]...\n"
                 "The Quennick file tools on the command line.\n"
                 "\n"
                 "Commands:\n");
    for (const auto& c : Commands) std::fprintf(out, "  %-8s %s\n", c.Name, c.Summary);
    std::fprintf(out,
                 "\n"
                 "Run 'quennick COMMAND --help' for the options of a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("quennick %s\n", QN_VERSION);
        return 0;
    }
    for (const auto& c : Commands) {
        if (name == c.Name) return c.Run(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "quennick: unknown command '%s'\nRun 'quennick --help' for the commands.\n",
                 name.c_str());
    return 2;
}
