// The route benchmark's measuring program (bench/route/run.sh starts the private sound
// server and runs it). On two virtual devices SRC and DST of that server it measures,
// for our route (the route command, run as a process of its own) and for the server's
// loopback module at its lowest working latency:
//   - the added latency: impulses are played into SRC; SRC's monitor and DST's monitor
//     are recorded side by side, and each impulse's time on DST minus its time on SRC
//     is what the route adds (mean, spread);
//   - the dropouts in a minute of tone (gaps of silence and jumps in the tone, counted
//     on DST's monitor; SRC's monitor is checked the same way to show the player kept up);
//   - the CPU time per route-minute: the route process's CPU time plus what the server
//     spent beyond a run without any route.
//
//   route_bench --server unix:/path/native --daemon-pid PID [--src SINK] [--dst SINK]
//               [--minute S] [--loopback no] [--fragment-us N] [--start-us N]
//   route_bench --route-child REC PLAY FRAGMENT START   (internal: the route process)
// --fragment-us and --start-us try other settings of the sound server driver
// (SetFragment, SetPlaybackStart) for our route; --loopback no skips the module.
#include "audio/MMAudioRouter.h"
#include "audio/RouteCommand.h"
#include "platform/PulseWaveDriver.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double Rate = 8000;
constexpr size_t FrameBytes = 4;

TWaveFormatEx Format() {
    TWaveFormatEx f;
    FormatToWaveFormat(Stereo16bit8000Hz, f);
    return f;
}

int16_t Left(const std::vector<uint8_t>& b, size_t frame) {
    return int16_t(uint16_t(b[frame * 4] | (b[frame * 4 + 1] << 8)));
}

void AddFrame(std::vector<uint8_t>& b, int16_t l, int16_t r) {
    for (int16_t s : {l, r}) {
        b.push_back(uint8_t(uint16_t(s) & 0xFF));
        b.push_back(uint8_t(uint16_t(s) >> 8));
    }
}

void Fail(const std::string& why) {
    std::cerr << "route_bench: " << why << "\n";
    std::exit(1);
}

int FindDevice(TWaveDriver& driver, TWaveKind kind, const std::string& ident) {
    for (int i = 0, n = driver.NumDevs(kind); i < n; ++i) {
        TWaveCaps caps;
        if (driver.GetDevCaps(kind, i, caps) == MMSYSERR_NOERROR && caps.Ident == ident) return i;
    }
    Fail("no device " + ident);
    return -1;
}

// Records a device: every buffer's bytes and the time its message arrived.
class TCapture {
public:
    TCapture(TWaveDriver& driver, int device, uint32_t bufferBytes, size_t count)
        : FDriver(driver), FHeaders(count), FData(bufferBytes * count) {
        if (int r = driver.Open(TWaveKind::In, device, Format(), FQueue, 0, FHandle)) Fail("capture: " + WaveErrorText(r));
        for (size_t i = 0; i < count; ++i) {
            FHeaders[i].Data = FData.data() + bufferBytes * i;
            FHeaders[i].BufferLength = bufferBytes;
            driver.PrepareHeader(FHandle, FHeaders[i]);
            driver.AddBuffer(FHandle, FHeaders[i]);
        }
        FThread = std::thread([this] {
            TWaveMessage m;
            while (FQueue.Get(m)) {
                if (m.Msg != MM_WIM_DATA) continue;
                const auto now = TClock::now();
                {
                    std::lock_guard<std::mutex> lock(FLock);
                    FBytes.insert(FBytes.end(), m.Header->Data, m.Header->Data + m.Header->BytesRecorded);
                    FEnds.push_back({FBytes.size() / FrameBytes, now});
                }
                if (!FStopping) FDriver.AddBuffer(FHandle, *m.Header);
            }
        });
        driver.Start(FHandle);
    }
    ~TCapture() { Stop(); }
    void Stop() {
        if (FStopping.exchange(true)) return;
        for (int i = 0; i < 500; ++i) {
            FDriver.Reset(FHandle);
            int r = FDriver.Close(FHandle);
            if (r == MMSYSERR_NOERROR || r == MMSYSERR_INVALHANDLE) break;
            std::this_thread::sleep_for(2ms);
        }
        FQueue.PostQuit();
        FThread.join();
    }
    size_t Frames() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FBytes.size() / FrameBytes;
    }
    struct TEnd {
        size_t Frame;  // frames recorded when the buffer arrived
        TClock::time_point At;
    };
    std::vector<uint8_t> Bytes() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FBytes;
    }
    std::vector<TEnd> Ends() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FEnds;
    }

private:
    TWaveDriver& FDriver;
    TWaveMessageQueue FQueue{1024};
    TWaveHandle FHandle = 0;
    std::vector<TWaveHeader> FHeaders;
    std::vector<uint8_t> FData;
    mutable std::mutex FLock;
    std::vector<uint8_t> FBytes;
    std::vector<TEnd> FEnds;
    std::atomic<bool> FStopping{false};
    std::thread FThread;
};

// Plays Sound on a device from buffers of 100 ms, all queued at once; the driver's
// fragment decides how far ahead the server is kept.
void Play(TWaveDriver& driver, int device, const std::vector<uint8_t>& sound) {
    TWaveMessageQueue q(4096);
    TWaveHandle h = 0;
    if (int r = driver.Open(TWaveKind::Out, device, Format(), q, 0, h)) Fail("player: " + WaveErrorText(r));
    std::vector<uint8_t> data = sound;
    const uint32_t chunk = 3200;
    std::vector<TWaveHeader> headers((data.size() + chunk - 1) / chunk);
    for (size_t i = 0; i < headers.size(); ++i) {
        headers[i].Data = data.data() + i * chunk;
        headers[i].BufferLength = uint32_t(std::min<size_t>(chunk, data.size() - i * chunk));
        driver.PrepareHeader(h, headers[i]);
        driver.Write(h, headers[i]);
    }
    size_t done = 0;
    TWaveMessage m;
    const auto bound = TClock::now() + std::chrono::seconds(30) + std::chrono::milliseconds(int64_t(sound.size() / 32));
    while (done < headers.size() && TClock::now() < bound)
        if (q.Get(m, 100ms) && m.Msg == MM_WOM_DONE) ++done;
    // The server still holds its queue: let it play out.
    std::this_thread::sleep_for(500ms);
    driver.Reset(h);
    driver.Close(h);
    if (done < headers.size()) Fail("the player did not finish");
}

// --- latency ---------------------------------------------------------------------------

// Frames where the left channel rises above Threshold after 100 ms below it.
std::vector<size_t> Impulses(const std::vector<uint8_t>& b, int threshold) {
    std::vector<size_t> at;
    size_t quiet = 0;
    for (size_t f = 0; f < b.size() / FrameBytes; ++f) {
        if (std::abs(int(Left(b, f))) >= threshold) {
            if (quiet >= 800) at.push_back(f);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return at;
}

// When frame F was taken from the device: a buffer that arrived at time T ending at frame
// E shows that F existed by T - (E - F) / rate; the earliest such bound is the estimate.
double FrameTimeMs(const std::vector<TCapture::TEnd>& ends, size_t f, TClock::time_point origin) {
    double best = 1e18;
    for (const auto& e : ends) {
        if (e.Frame <= f) continue;
        if (e.Frame > f + 800) break;
        const double t = std::chrono::duration<double, std::milli>(e.At - origin).count() -
                         double(e.Frame - f) * 1000.0 / Rate;
        best = std::min(best, t);
    }
    return best;
}

struct TStats {
    size_t Count = 0;
    double Mean = 0, Sd = 0, Min = 0, Max = 0;
};

TStats Summary(const std::vector<double>& v) {
    TStats s;
    s.Count = v.size();
    if (v.empty()) return s;
    s.Min = *std::min_element(v.begin(), v.end());
    s.Max = *std::max_element(v.begin(), v.end());
    for (double x : v) s.Mean += x;
    s.Mean /= double(v.size());
    for (double x : v) s.Sd += (x - s.Mean) * (x - s.Mean);
    s.Sd = std::sqrt(s.Sd / double(v.size()));
    return s;
}

struct TBench {
    TPulseWaveDriver Meter;   // the latency captures: 2 ms buffers
    TPulseWaveDriver Steady;  // the player and the tone captures: generous buffering
    int SrcSink = -1, SrcMonitor = -1, DstMonitor = -1;
    pid_t Daemon = 0;
    int MinuteSeconds = 60;

    TBench(const std::string& server) : Meter(server, "route-bench-meter"), Steady(server, "route-bench") {
        Meter.SetFragment(2ms);
        Steady.SetFragment(100ms);
    }

    // Impulses into SRC; their time on ToMonitor minus their time on FromMonitor.
    TStats Latency(int fromMonitor, int toMonitor) {
        std::vector<uint8_t> train;
        for (int i = 0; i < 4000; ++i) AddFrame(train, 0, 0);
        for (int k = 0; k < 30; ++k) {
            for (int i = 0; i < 16; ++i) AddFrame(train, 24000, 24000);
            for (int i = 0; i < 2384 + (k * 37) % 160; ++i) AddFrame(train, 0, 0);  // ~0.3 s apart, not in step with the buffers
        }
        for (int i = 0; i < 4000; ++i) AddFrame(train, 0, 0);
        TCapture from(Meter, fromMonitor, 64, 400), to(Meter, toMonitor, 64, 400);
        WaitFrames(from, to, 8000);
        const auto origin = TClock::now();
        Play(Steady, SrcSink, train);
        WaitFrames(from, to, 8000);
        from.Stop();
        to.Stop();
        const auto a = from.Bytes(), b = to.Bytes();
        const auto ia = Impulses(a, 12000), ib = Impulses(b, 12000);
        if (ia.size() != 30 || ib.size() != 30)
            Fail("found " + std::to_string(ia.size()) + " and " + std::to_string(ib.size()) + " of 30 impulses");
        std::vector<double> lat;
        const auto ea = from.Ends(), eb = to.Ends();
        for (size_t k = 0; k < ia.size(); ++k) lat.push_back(FrameTimeMs(eb, ib[k], origin) - FrameTimeMs(ea, ia[k], origin));
        return Summary(lat);
    }

    void WaitFrames(TCapture& a, TCapture& b, size_t more) {
        const size_t fa = a.Frames() + more, fb = b.Frames() + more;
        const auto bound = TClock::now() + 30s;
        while ((a.Frames() < fa || b.Frames() < fb) && TClock::now() < bound) std::this_thread::sleep_for(20ms);
        if (TClock::now() >= bound) Fail("a capture does not progress");
    }

    // --- dropouts ----------------------------------------------------------------------

    static std::vector<uint8_t> Tone(double seconds) {
        std::vector<uint8_t> t;
        const size_t n = size_t(seconds * Rate);
        for (size_t i = 0; i < n; ++i) {
            auto s = int16_t(std::lround(16000 * std::sin(2 * M_PI * 1000 * double(i) / Rate + M_PI / 8)));
            AddFrame(t, s, s);
        }
        return t;
    }

    // Gaps of silence and jumps in a 1 kHz tone (which repeats itself negated every 4
    // frames), each counted once per 50 ms, between the tone's first and last sound.
    static size_t Dropouts(const std::vector<uint8_t>& b) {
        const size_t n = b.size() / FrameBytes;
        size_t first = 0, last = n;
        while (first < n && std::abs(int(Left(b, first))) < 3000) ++first;
        while (last > first && std::abs(int(Left(b, last - 1))) < 3000) --last;
        size_t events = 0, lastEvent = 0, quiet = 0;
        for (size_t f = first + 4; f < last; ++f) {
            const int s = Left(b, f);
            quiet = std::abs(s) < 3000 ? quiet + 1 : 0;
            const bool jump = std::abs(s + Left(b, f - 4)) > 5000;
            if ((quiet >= 3 || jump) && (events == 0 || f - lastEvent > 400)) {
                ++events;
                lastEvent = f;
            } else if (quiet >= 3 || jump) {
                lastEvent = f;
            }
        }
        return events;
    }

    struct TToneRun {
        size_t SrcDropouts = 0, DstDropouts = 0;
        double Seconds = 0;
        double DaemonCpuMs = 0, ChildCpuMs = 0;
    };

    TToneRun ToneRun(double seconds, pid_t child) {
        TToneRun run;
        std::vector<uint8_t> sound;
        for (int i = 0; i < 4000; ++i) AddFrame(sound, 0, 0);
        const auto tone = Tone(seconds);
        sound.insert(sound.end(), tone.begin(), tone.end());
        for (int i = 0; i < 4000; ++i) AddFrame(sound, 0, 0);
        TCapture src(Steady, SrcMonitor, 1600, 60), dst(Steady, DstMonitor, 1600, 60);
        WaitFrames(src, dst, 4000);
        const double d0 = CpuMs(Daemon), c0 = child ? CpuMs(child) : 0;
        const auto t0 = TClock::now();
        Play(Steady, SrcSink, sound);
        run.Seconds = std::chrono::duration<double>(TClock::now() - t0).count();
        run.DaemonCpuMs = CpuMs(Daemon) - d0;
        run.ChildCpuMs = child ? CpuMs(child) - c0 : 0;
        WaitFrames(src, dst, 8000);
        src.Stop();
        dst.Stop();
        run.SrcDropouts = Dropouts(src.Bytes());
        run.DstDropouts = Dropouts(dst.Bytes());
        return run;
    }

    // utime + stime of a process, in milliseconds.
    static double CpuMs(pid_t pid) {
        std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) return 0;
        std::istringstream rest(stat.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) stime = std::stoull(field);
        }
        return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }
};

std::string Pactl(const std::string& server, const std::string& args) {
    std::string cmd = "pactl -s '" + server + "' " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) Fail("cannot run pactl");
    std::string out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) Fail("pactl " + args + ": " + out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

std::atomic<bool> ChildStop{false};

// The route process: what the route command does (the same engine and, unless told
// otherwise, the same driver settings), and at the end the driver's count of playback
// underflows and lost bytes.
int RouteChild(const std::vector<std::string>& args) {
    struct sigaction sa {};
    sa.sa_handler = [](int) { ChildStop = true; };
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    if (args.size() != 4) return 2;
    TPulseWaveDriver driver;
    // 0 keeps the driver's default.
    if (int us = std::stoi(args[2])) driver.SetFragment(std::chrono::microseconds(us));
    if (int us = std::stoi(args[3])) driver.SetPlaybackStart(std::chrono::microseconds(us));
    TMainThreadLoop loop;
    TMMAudioRouter router(driver, loop);
    try {
        router.Route(FindDevice(driver, TWaveKind::In, args[0]), FindDevice(driver, TWaveKind::Out, args[1]));
    } catch (const EAudioRouteBusy& e) {
        std::cout << e.what() << " " << e.Cause() << std::endl;
        return 1;
    }
    std::cout << "Routing" << std::endl;
    while (!loop.RunUntil([] { return ChildStop.load(); }, 1h, 50ms)) {
    }
    const bool stopped = router.Stop();
    std::cerr << "route process: " << driver.Underflows() << " underflows, " << driver.LostBytes()
              << " recorded bytes lost\n";
    return stopped ? 0 : 1;
}

// Starts "route_bench --route-child REC PLAY" and waits until it routes.
pid_t StartRoute(const std::string& self, const std::string& rec, const std::string& play, int fragmentUs,
                 int startUs) {
    int fds[2];
    if (pipe(fds) != 0) Fail("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        const std::string fragment = std::to_string(fragmentUs), start = std::to_string(startUs);
        execl(self.c_str(), self.c_str(), "--route-child", rec.c_str(), play.c_str(), fragment.c_str(), start.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    close(fds[0]);
    if (line.rfind("Routing", 0) != 0) Fail("the route did not start: " + line);
    return pid;
}

void StopRoute(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("the route process ended badly");
}

void PrintRow(const char* name, const std::string& ours, const std::string& theirs, const std::string& ratio) {
    std::printf("  %-34s %-22s %-22s %s\n", name, ours.c_str(), theirs.c_str(), ratio.c_str());
}

std::string Fixed(double v, int digits = 1) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--route-child") return RouteChild({args.begin() + 1, args.end()});
    std::string server, src = "bench_src", dst = "bench_dst";
    pid_t daemon = 0;
    int minute = 60, fragmentUs = 0, startUs = 0;
    bool loopback = true;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--server") server = args[i + 1];
        else if (args[i] == "--daemon-pid") daemon = pid_t(std::stol(args[i + 1]));
        else if (args[i] == "--src") src = args[i + 1];
        else if (args[i] == "--dst") dst = args[i + 1];
        else if (args[i] == "--minute") minute = std::stoi(args[i + 1]);
        else if (args[i] == "--fragment-us") fragmentUs = std::stoi(args[i + 1]);
        else if (args[i] == "--start-us") startUs = std::stoi(args[i + 1]);
        else if (args[i] == "--loopback") loopback = args[i + 1] != "no";
        else Fail("unknown argument " + args[i]);
    }
    if (server.empty() || daemon <= 0)
        Fail("usage: route_bench --server S --daemon-pid P [--src SINK] [--dst SINK] [--minute S] [--loopback no] "
             "[--fragment-us N] [--start-us N]");
    setenv("PULSE_SERVER", server.c_str(), 1);  // for the route process
    const std::string self = argv[0];

    TBench b(server);
    b.Daemon = daemon;
    b.MinuteSeconds = minute;
    b.SrcSink = FindDevice(b.Steady, TWaveKind::Out, src);
    b.SrcMonitor = FindDevice(b.Steady, TWaveKind::In, src + ".monitor");
    b.DstMonitor = FindDevice(b.Steady, TWaveKind::In, dst + ".monitor");
    FindDevice(b.Meter, TWaveKind::In, src + ".monitor");  // the same numbering on both clients

    std::printf("Route benchmark: %s -> %s on %s (Stereo16bit8000Hz, buffers of 9.375 ms)\n", src.c_str(), dst.c_str(),
                server.c_str());
    std::fflush(stdout);
    const TStats floor = b.Latency(b.SrcMonitor, b.SrcMonitor);
    std::printf("measurement floor (SRC's monitor against itself): %.2f ms mean, %.2f ms sd\n", floor.Mean, floor.Sd);

    // Without any route: what the server spends on the player and the captures alone.
    const auto base = b.ToneRun(20, 0);
    const double baseRate = base.DaemonCpuMs / base.Seconds;

    // Our route.
    const pid_t child = StartRoute(self, src + ".monitor", dst, fragmentUs, startUs);
    std::this_thread::sleep_for(1s);
    const TStats ours = b.Latency(b.SrcMonitor, b.DstMonitor);
    const auto oursTone = b.ToneRun(minute, child);
    StopRoute(child);
    std::printf("our route: %.1f ms added latency (sd %.2f), %zu dropouts, CPU %.0f ms + server %.0f ms in %.0f s\n",
                ours.Mean, ours.Sd, oursTone.DstDropouts, oursTone.ChildCpuMs,
                oursTone.DaemonCpuMs - baseRate * oursTone.Seconds, oursTone.Seconds);
    std::fflush(stdout);
    if (!loopback) return 0;

    // The loopback module: the lowest latency setting that keeps a 10 s tone whole.
    int chosen = -1;
    TStats theirs;
    TBench::TToneRun theirsTone;
    for (int ms : {1, 2, 5, 10, 20, 40, 80}) {
        const std::string module = Pactl(server, "load-module module-loopback source=" + src + ".monitor sink=" + dst +
                                                     " latency_msec=" + std::to_string(ms) +
                                                     " source_dont_move=true sink_dont_move=true");
        std::this_thread::sleep_for(3s);
        const auto check = b.ToneRun(10, 0);
        std::printf("loopback latency_msec=%d: %zu dropouts in 10 s\n", ms, check.DstDropouts);
        std::fflush(stdout);
        if (check.DstDropouts == 0) {
            chosen = ms;
            theirs = b.Latency(b.SrcMonitor, b.DstMonitor);
            theirsTone = b.ToneRun(minute, 0);
        }
        Pactl(server, "unload-module " + module);
        if (chosen >= 0) break;
    }
    if (chosen < 0) Fail("the loopback module dropped sound at every latency tried");

    const double oursCpu = (oursTone.ChildCpuMs + oursTone.DaemonCpuMs - baseRate * oursTone.Seconds) * 60 / oursTone.Seconds;
    const double theirsCpu = (theirsTone.DaemonCpuMs - baseRate * theirsTone.Seconds) * 60 / theirsTone.Seconds;

    std::printf("\n");
    PrintRow("", "our route", "module-loopback", "ratio ours/loopback");
    PrintRow("", "", ("latency_msec=" + std::to_string(chosen)).c_str(), "");
    PrintRow("added latency, mean (ms)", Fixed(ours.Mean), Fixed(theirs.Mean), Fixed(ours.Mean / theirs.Mean, 2));
    PrintRow("  spread: sd (ms)", Fixed(ours.Sd, 2), Fixed(theirs.Sd, 2), "");
    PrintRow("  spread: min..max (ms)", Fixed(ours.Min) + ".." + Fixed(ours.Max), Fixed(theirs.Min) + ".." + Fixed(theirs.Max), "");
    PrintRow(("dropouts in " + std::to_string(minute) + " s of tone").c_str(), std::to_string(oursTone.DstDropouts),
             std::to_string(theirsTone.DstDropouts), "");
    PrintRow("  (player's own, on SRC's monitor)", std::to_string(oursTone.SrcDropouts), std::to_string(theirsTone.SrcDropouts), "");
    PrintRow("CPU per route-minute (ms)", Fixed(oursCpu), Fixed(theirsCpu), theirsCpu > 0 ? Fixed(oursCpu / theirsCpu, 2) : "-");
    PrintRow("  route process / server (ms)", Fixed(oursTone.ChildCpuMs) + " / " + Fixed(oursTone.DaemonCpuMs - baseRate * oursTone.Seconds),
             "0 / " + Fixed(theirsCpu * theirsTone.Seconds / 60), "");
    const bool met = ours.Mean <= 28.125 && ours.Mean <= theirs.Mean && oursTone.DstDropouts == 0;
    std::printf("\ntarget (added latency <= 28.1 ms and <= the loopback's, no dropouts): %s\n", met ? "met" : "NOT met");
    return 0;
}
