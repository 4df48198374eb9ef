// The Quennick suite frame: the file tools' multi-document window.

#include "app/AboutForm.h"
#include "app/AppMgr.h"
#include "app/FMWFrame.h"
#include "app/QtProgram.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const HelpText =
    "Usage: quennick-suite [switch ...]\n"
    "The Quennick suite: the file tools in one window.\n"
    "\n"
    "Switches begin with '-', '/' or '\\' and ignore case:\n"
    "  /Seekmoor           open a search window at start\n"
    "  /debug              write a diagnostic log to log.txt in the program folder\n"
    "                      (or ~/.local/state/Quennick/ when that folder is not writable)\n"
    "  /SVCSimulate        use the default user's settings instead of your own\n"
    "  --help              show this text and exit\n"
    "\n"
    "Started under a name that contains \"FileSync\" or \"FMW\" (a link such as\n"
    "FileSync -> quennick-suite), it opens the folder-sync window at start.\n";

// The suite's manager: the framework's, with nothing to uninstall.
class TQNSuiteAppMgr : public TAppMgr {
protected:
    void DoUninstallApp() override {}
    void DoUninstallFinalize() override {}
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(HelpText, stdout);
            return 0;
        }
    }

    InitAppUnit(args);
    TQtProgram program(argc, argv, "Quennick Suite", "quennick-suite");
    auto mgr = TAppMgr::Create<TQNSuiteAppMgr>(args, &program.Host());
    if (mgr->FClosing) return 0;

    TFormFrame formFrame;
    TAboutForm aboutForm("Quennick Suite", BrevantaVersion);
    formFrame.SetAboutForm(&aboutForm);
    formFrame.show();
    program.Exec();
    return 0;
}
