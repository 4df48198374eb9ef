// Brevanta: routes live sound between audio devices.

#include "app/AboutForm.h"
#include "audio/forms/AudioProperties.h"
#include "app/BRVMain.h"
#include "app/BrevanAppMgr.h"
#include "app/QtProgram.h"
#include "audio/RouteCommand.h"
#include "audio/WaveIO.h"
#include "platform/PulseWaveDriver.h"
#include "search/FindFiles.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const HelpText =
    "Usage: brevanta [switch ...]\n"
    "Routes live sound from recording devices to playback devices.\n"
    "\n"
    "Switches begin with '-', '/' or '\\' and ignore case:\n"
    "  /debug              write a diagnostic log to log.txt in the program folder\n"
    "                      (or ~/.local/state/Quennick/ when that folder is not writable)\n"
    "  /UninstallApp       uninstall Brevanta (first stage)\n"
    "  /uninstallFinalize  second uninstall stage, started by the first\n"
    "  /SVCSimulate        use the default user's settings instead of your own\n"
    "  --list-devices      print the recording and playback devices and exit\n"
    "  --route REC PLAY [--volume N]\n"
    "                      carry the sound of recording device REC to playback device\n"
    "                      PLAY (numbers from --list-devices, or names) until Ctrl+C\n"
    "  --help              show this text and exit\n";

// Prints both device lists; exit code 1 when no sound server could be reached.
int ListDevices() {
    TPulseWaveDriver driver;
    std::fputs(FormatDeviceCatalogue(driver).c_str(), stdout);
    return driver.CatalogueError().empty() ? 0 : 1;
}

std::atomic<bool> RouteStop{false};

void OnRouteStopSignal(int) { RouteStop = true; }

// Routes one recording device to one playback device until SIGINT or SIGTERM.
int RouteFromTerminal(const std::vector<std::string>& args, size_t first) {
    struct sigaction sa {};
    sa.sa_handler = OnRouteStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
    std::vector<std::string> rest(args.begin() + std::ptrdiff_t(first), args.end());
    return RunRouteCommand(rest, std::cout, std::cerr, RouteStop);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(HelpText, stdout);
            return 0;
        }
        if (args[i] == "--list-devices") return ListDevices();
        if (args[i] == "--route") return RouteFromTerminal(args, i + 1);
    }

    InitAppUnit(args);
    // The program-wide search engine: the uninstall and the file tools delete, copy and
    // find files through it. It goes (with its temporary folder) when main returns.
    ProgramFindFiles();
    struct TFreeEngine {
        ~TFreeEngine() { FreeProgramFindFiles(); }
    } freeEngine;
    TQtProgram program(argc, argv, "Brevanta", "brevanta");
    auto mgr = TAppMgr::Create<TBrevanAppMgr>(args, &program.Host());
    if (mgr->FClosing) return 0;  // an uninstall stage ran

    // The sound server's devices; the driver outlives every window that routes sound.
    TPulseWaveDriver driver;
    // The router window first: it is the main window.
    TFormBrvV1 formBrvV1(&driver);
    TFormAudioProperties formAudioProperties(&formBrvV1);
    formBrvV1.SetAudioProperties(&formAudioProperties);
    TAboutForm aboutForm("Brevanta", BrevantaVersion);
    formBrvV1.SetAboutForm(&aboutForm);
    formBrvV1.show();
    program.Exec();
    return 0;
}
