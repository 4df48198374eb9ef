#include "audio/RouteCommand.h"

#include "audio/MMAudioRouter.h"
#include "audio/WaveIO.h"
#include "common/SysUtils.h"
#include "platform/PulseWaveDriver.h"

#include <chrono>

const char* const RouteCommandUsage = "Usage: brevanta --route REC PLAY [--volume N]";

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

struct TRouteArgs {
    std::string Rec, Play;
    int Volume = 100;
};

// A whole non-negative decimal number, or -1.
int WholeNumber(const std::string& s) {
    if (s.empty() || s.size() > 6) return -1;
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Empty when the arguments are good, else what is wrong with them.
std::string ParseRouteArgs(const std::vector<std::string>& args, TRouteArgs& parsed) {
    std::vector<std::string> devices;
    bool haveVolume = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (SameText(a, "--volume")) {
            if (i + 1 >= args.size()) return "--volume needs a number from 0 to 100";
            value = args[++i];
        } else if (a.size() > 9 && SameText(a.substr(0, 9), "--volume=")) {
            value = a.substr(9);
        } else if (a.size() > 1 && a[0] == '-' && WholeNumber(a.substr(1)) < 0) {
            return "unknown switch \"" + a + "\"";
        } else {
            devices.push_back(a);
            continue;
        }
        if (haveVolume) return "--volume is given twice";
        haveVolume = true;
        parsed.Volume = WholeNumber(value);
        if (parsed.Volume < 0 || parsed.Volume > 100)
            return "--volume needs a number from 0 to 100, not \"" + value + "\"";
    }
    if (devices.size() != 2) return "give one recording device and one playback device";
    parsed.Rec = devices[0];
    parsed.Play = devices[1];
    return {};
}

// The device number that Word names, or -1 (Why says why).
int FindDevice(TWaveDriver& driver, TWaveKind kind, const std::string& word, std::string& why) {
    const char* what = kind == TWaveKind::In ? "recording device" : "playback device";
    const int count = driver.NumDevs(kind);
    const int number = WholeNumber(word);
    if (number >= 0) {
        if (number < count) return number;
        why = std::string("there is no ") + what + " " + word + " (there " +
              (count == 1 ? "is 1" : "are " + std::to_string(count)) + ")";
        return -1;
    }
    std::vector<int> byIdent, byName;
    for (int i = 0; i < count; ++i) {
        TWaveCaps caps;
        if (driver.GetDevCaps(kind, i, caps) != MMSYSERR_NOERROR) continue;
        if (caps.Ident == word) byIdent.push_back(i);
        if (SameText(caps.ProductName, word)) byName.push_back(i);
    }
    const std::vector<int>& found = byIdent.empty() ? byName : byIdent;
    if (found.size() == 1) return found[0];
    why = found.empty() ? std::string("there is no ") + what + " named \"" + word + "\""
                        : std::string("more than one ") + what + " is named \"" + word + "\"; give its number";
    return -1;
}

std::string DeviceName(TWaveDriver& driver, TWaveKind kind, int number) {
    TWaveCaps caps;
    if (driver.GetDevCaps(kind, number, caps) != MMSYSERR_NOERROR) return std::to_string(number);
    return caps.ProductName;
}

}  // namespace

int RunListDevicesCommand(TWaveDriver& driver, std::ostream& out, std::ostream& err) {
    const std::string text = FormatDeviceCatalogue(driver);
    const std::string error = driver.CatalogueError();
    if (!error.empty()) {
        // The lists themselves are empty then; the reason is what matters.
        out << text.substr(0, text.find("Error: "));
        err << "brevanta: " << error << "\n";
        return ExitFailed;
    }
    out << text;
    return ExitOk;
}

int RunListDevicesCommand(std::ostream& out, std::ostream& err) {
    TPulseWaveDriver driver;
    return RunListDevicesCommand(driver, out, err);
}

int RunRouteCommand(TWaveDriver& driver, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err, const std::atomic<bool>& stop) {
    TRouteArgs parsed;
    if (std::string why = ParseRouteArgs(args, parsed); !why.empty()) {
        err << "brevanta --route: " << why << "\n" << RouteCommandUsage << "\n";
        return ExitUsage;
    }
    if (driver.NumDevs(TWaveKind::In) == 0 && !driver.CatalogueError().empty()) {
        err << "brevanta --route: " << driver.CatalogueError() << "\n";
        return ExitFailed;
    }
    std::string why;
    const int rec = FindDevice(driver, TWaveKind::In, parsed.Rec, why);
    const int play = rec < 0 ? -1 : FindDevice(driver, TWaveKind::Out, parsed.Play, why);
    if (rec < 0 || play < 0) {
        err << "brevanta --route: " << why << "\nThe devices are listed by brevanta --list-devices.\n";
        return ExitUsage;
    }

    TMainThreadLoop loop;
    TMMAudioRouter router(driver, loop);
    std::string stoppedBecause;
    router.OnStopped = [&stoppedBecause](TMMAudioRouter&, const std::string& reason) { stoppedBecause = reason; };
    router.AudioIn().SetVolume(parsed.Volume);
    try {
        router.Route(rec, play);
    } catch (const EAudioRouteBusy& e) {
        err << "brevanta --route: " << e.what() << " (" << e.Cause() << ")\n";
        return ExitFailed;
    } catch (const std::exception& e) {
        err << "brevanta --route: " << e.what() << "\n";
        return ExitFailed;
    }
    out << "Routing \"" << DeviceName(driver, TWaveKind::In, rec) << "\" to \""
        << DeviceName(driver, TWaveKind::Out, play) << "\" at " << parsed.Volume << " %. Press Ctrl+C to stop."
        << std::endl;
    if (const TThreadPriority p = router.AudioIn().DataThread()->Priority(); p != TThreadPriority::Realtime)
        out << "The system grants no real-time scheduling here: the sound threads run at " << ThreadPriorityText(p)
            << " priority, and a busy machine may break the sound up." << std::endl;

    auto done = [&] { return stop.load() || !stoppedBecause.empty(); };
    while (!loop.RunUntil(done, std::chrono::hours(1), std::chrono::milliseconds(50))) {
    }
    if (!stoppedBecause.empty()) {
        err << "brevanta --route: the route stopped: " << stoppedBecause << "\n";
        return ExitFailed;
    }
    if (!router.Stop()) {
        err << "brevanta --route: " << router.StopError() << "\n";
        return ExitFailed;
    }
    out << "Route stopped." << std::endl;
    return ExitOk;
}

int RunRouteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>& stop) {
    TPulseWaveDriver driver;
    return RunRouteCommand(driver, args, out, err, stop);
}
