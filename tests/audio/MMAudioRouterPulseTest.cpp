// Real routes on the private sound server: a known signal is played into one virtual
// device, the route carries that device's monitor to a second virtual device, and what
// the second device plays is recorded from its monitor and compared.
//
// Only content is compared, never timing: the test's own recorder keeps 2 s of
// buffers, the player (pacat) keeps its usual 2 s, the signal is found in the recording
// by its first sound (the path adds leading silence), and every wait is for a
// condition, with a generous bound.
#include "PulseFixture.h"
#include "RouteTestSignals.h"
#include "audio/MMAudioRouter.h"
#include "audio/RouteCommand.h"
#include "common/SysUtils.h"
#include "platform/PulseWaveDriver.h"
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>

using namespace std::chrono_literals;

namespace {

// Two devices of the route's own format, so that nothing on the path converts samples.
constexpr const char* SourceSink = "brevanta_route_src";  // the test plays into it
constexpr const char* TargetSink = "brevanta_route_dst";  // the route plays into it
constexpr size_t FrameBytes = 4;
constexpr size_t FramesPerSecond = 8000;
constexpr size_t BytesPerSecond = FrameBytes * FramesPerSecond;

TWaveFormatEx RouteWaveFormat() {
    TWaveFormatEx f;
    FormatToWaveFormat(Stereo16bit8000Hz, f);
    return f;
}

int FindDevice(TWaveDriver& driver, TWaveKind kind, const std::string& ident) {
    const int n = driver.NumDevs(kind);
    for (int i = 0; i < n; ++i) {
        TWaveCaps caps;
        if (driver.GetDevCaps(kind, i, caps) == MMSYSERR_NOERROR && caps.Ident == ident) return i;
    }
    return -1;
}

// Records one device into memory: 40 buffers of 50 ms queued at all times.
class TRecorder {
public:
    TRecorder(TWaveDriver& driver, int device) : FDriver(driver), FHeaders(40), FData(40 * 1600) {
        if (int r = driver.Open(TWaveKind::In, device, RouteWaveFormat(), FQueue, 0, FHandle))
            throw std::runtime_error("recorder: " + WaveErrorText(r));
        for (size_t i = 0; i < FHeaders.size(); ++i) {
            FHeaders[i].Data = FData.data() + 1600 * i;
            FHeaders[i].BufferLength = 1600;
            driver.PrepareHeader(FHandle, FHeaders[i]);
            driver.AddBuffer(FHandle, FHeaders[i]);
        }
        FThread = std::thread([this] {
            TWaveMessage m;
            while (FQueue.Get(m)) {
                if (m.Msg == MM_WIM_CLOSE) break;
                if (m.Msg != MM_WIM_DATA) continue;
                {
                    std::lock_guard<std::mutex> lock(FLock);
                    FBytes.insert(FBytes.end(), m.Header->Data, m.Header->Data + m.Header->BytesRecorded);
                }
                if (!FStopping) FDriver.AddBuffer(FHandle, *m.Header);
            }
        });
        driver.Start(FHandle);
    }
    ~TRecorder() {
        FStopping = true;
        for (int i = 0; i < 500; ++i) {
            FDriver.Reset(FHandle);
            int r = FDriver.Close(FHandle);
            if (r == MMSYSERR_NOERROR || r == MMSYSERR_INVALHANDLE) break;
            std::this_thread::sleep_for(2ms);  // a buffer was being given back: retry
        }
        FQueue.PostQuit();
        FThread.join();
    }
    size_t Size() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FBytes.size();
    }
    std::vector<uint8_t> Bytes(size_t from = 0) const {
        std::lock_guard<std::mutex> lock(FLock);
        return std::vector<uint8_t>(FBytes.begin() + std::ptrdiff_t(std::min(from, FBytes.size())), FBytes.end());
    }

private:
    TWaveDriver& FDriver;
    TWaveMessageQueue FQueue;
    TWaveHandle FHandle = 0;
    std::vector<TWaveHeader> FHeaders;
    std::vector<uint8_t> FData;
    mutable std::mutex FLock;
    std::vector<uint8_t> FBytes;
    std::atomic<bool> FStopping{false};
    std::thread FThread;
};

void AddFrame(std::vector<uint8_t>& bytes, int16_t left, int16_t right) {
    PutSample(bytes, left);
    PutSample(bytes, right);
}

// A marker frame, then 0.75 s of noise peaking exactly at 8000 (a spike every 25
// frames), 0.75 s peaking exactly at 30000 (with some -32768), and a marker frame. Every
// buffer inside a part has that part's peak, so the levels a route can report are few.
std::vector<uint8_t> LevelSignal() {
    std::vector<uint8_t> s;
    TNoise noise(11);
    AddFrame(s, 32767, -32768);
    for (int part : {8000, 30000})
        for (int i = 0; i < 6000; ++i) {
            int16_t left = i % 25 == 0 ? int16_t(part) : noise.Next(part - 1);
            int16_t right = part == 30000 && i % 97 == 0 ? int16_t(-32768) : noise.Next(part - 1);
            AddFrame(s, left, right);
        }
    AddFrame(s, 32767, -32768);
    return s;
}

// A 440 Hz tone on the left; the right channel counts the frames (1 to 32767 and
// round again), so that every frame of the signal is unique and a stretch of a
// recording tells which frames of the signal it holds. No sample is 0.
std::vector<uint8_t> ToneSignal(double seconds) {
    std::vector<uint8_t> s;
    const size_t frames = size_t(seconds * FramesPerSecond);
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / FramesPerSecond;
        auto left = int16_t(std::lround(12000 * std::sin(2 * M_PI * 440 * t + 0.3)));
        AddFrame(s, left == 0 ? int16_t(1) : left, int16_t(1 + i % 32767));
    }
    return s;
}

// Empty when Rec is silence, then exactly Expected (whose first sample is not 0),
// then silence; otherwise where and how they differ.
std::string CompareSound(const std::vector<uint8_t>& rec, const std::vector<uint8_t>& expected) {
    size_t first = 0;
    while (first < rec.size() && rec[first] == 0) ++first;
    if (first == rec.size()) return "the recording is silent (" + std::to_string(rec.size()) + " bytes)";
    const size_t start = first - first % FrameBytes;
    if (rec.size() - start < expected.size())
        return "the recording ends " + std::to_string(expected.size() - (rec.size() - start)) +
               " bytes before the end of the signal";
    for (size_t i = 0; i < expected.size(); ++i) {
        if (rec[start + i] == expected[i]) continue;
        const size_t frame = i / FrameBytes;
        size_t silent = 0;
        while (start + (frame + silent + 1) * FrameBytes <= rec.size() &&
               std::all_of(rec.begin() + std::ptrdiff_t(start + (frame + silent) * FrameBytes),
                           rec.begin() + std::ptrdiff_t(start + (frame + silent + 1) * FrameBytes),
                           [](uint8_t b) { return b == 0; }))
            ++silent;
        return "frame " + std::to_string(frame) + " of the signal (" + std::to_string(frame * 1000 / FramesPerSecond) +
               " ms) differs" + (silent ? ": " + std::to_string(silent) + " frames of silence came in between" : "");
    }
    for (size_t i = start + expected.size(); i < rec.size(); ++i)
        if (rec[i] != 0) return "sound after the signal, " + std::to_string(i - start - expected.size()) + " bytes on";
    return {};
}

// How a recording of Signal (whose frames are unique and never silent) is made: its
// stretches of sound as the frames of the signal each holds, in the order heard, and the
// silence that follows each one.
struct TStretch {
    size_t From = 0, To = 0;  // frames of the signal, To exclusive
    bool Signal = true;       // false: sound that is no later part of the signal
    size_t SilenceAfter = 0;  // frames
};

std::vector<TStretch> Stretches(const std::vector<uint8_t>& rec, const std::vector<uint8_t>& signal) {
    auto frame = [](const std::vector<uint8_t>& v, size_t f) {
        uint32_t x;
        std::memcpy(&x, &v[f * FrameBytes], FrameBytes);
        return x;
    };
    const size_t frames = rec.size() / FrameBytes, signalFrames = signal.size() / FrameBytes;
    std::multimap<uint32_t, size_t> where;
    for (size_t t = 0; t < signalFrames; ++t) where.emplace(frame(signal, t), t);
    std::vector<TStretch> out;
    size_t f = 0, next = 0;  // next: the first signal frame not heard yet
    while (f < frames && frame(rec, f) == 0) ++f;
    while (f < frames) {
        TStretch s;
        // A stretch may only go on with a later part of the signal: a repeat or a
        // step back is no part of it.
        size_t t = signalFrames;
        for (auto [a, b] = where.equal_range(frame(rec, f)); a != b; ++a)
            if (a->second >= next) t = std::min(t, a->second);
        if (t == signalFrames) {
            s.Signal = false;
            while (f < frames && frame(rec, f) != 0) ++f;
        } else {
            s.From = t;
            while (f < frames && t < signalFrames && frame(rec, f) == frame(signal, t)) ++f, ++t;
            s.To = next = t;
        }
        while (f < frames && frame(rec, f) == 0) ++f, ++s.SilenceAfter;
        out.push_back(s);
    }
    return out;
}

std::string Describe(const std::vector<TStretch>& stretches) {
    std::string d;
    for (const auto& s : stretches) {
        d += s.Signal ? "[" + std::to_string(s.From) + ", " + std::to_string(s.To) + ")" : std::string("[not the signal]");
        if (s.SilenceAfter) d += " then " + std::to_string(s.SilenceAfter) + " silent";
        d += "; ";
    }
    return d;
}

// The levels a route can report for Sound when its buffers begin at frame Phase
// (0..74) of the sound padded with a buffer of silence on each side.
std::set<int> PossibleLevels(const std::vector<uint8_t>& sound, size_t phase) {
    const size_t buffer = TMMAudioRouter::BufferSize;
    std::vector<uint8_t> padded(buffer, 0);
    padded.insert(padded.end(), sound.begin(), sound.end());
    padded.insert(padded.end(), buffer, 0);
    std::set<int> levels{0};
    const TWaveFormatEx f = RouteWaveFormat();
    for (size_t at = phase * FrameBytes; at < padded.size(); at += buffer)
        levels.insert(PeakLevel(padded.data() + at, std::min(buffer, padded.size() - at), f));
    return levels;
}

// Whether one buffer phase explains every reported level.
bool LevelsFit(const std::vector<int>& reported, const std::vector<uint8_t>& sound) {
    for (size_t phase = 0; phase < TMMAudioRouter::BufferSize / FrameBytes; ++phase) {
        const std::set<int> possible = PossibleLevels(sound, phase);
        bool all = true;
        for (int l : reported) all &= possible.count(l) > 0;
        if (all) return true;
    }
    return false;
}

std::string Join(const std::vector<int>& v) {
    std::string s;
    for (int x : v) s += (s.empty() ? "" : " ") + std::to_string(x);
    return s;
}

// Lines of "pactl list short <what>".
size_t PactlCount(const std::string& what) {
    std::string out;
    if (PulseDaemon().Pactl("list short " + what, &out) != 0) return size_t(-1);
    size_t n = 0;
    for (char c : out) n += c == '\n';
    return n;
}

size_t ThreadCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// A stream buffer that two threads may use.
class TSharedText : public std::streambuf {
public:
    std::string Text() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FText;
    }

protected:
    int overflow(int c) override {
        if (c != EOF) {
            std::lock_guard<std::mutex> lock(FLock);
            FText += char(c);
        }
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::mutex> lock(FLock);
        FText.append(s, size_t(n));
        return n;
    }

private:
    mutable std::mutex FLock;
    std::string FText;
};

class RouteOnServer : public testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* sink : {SourceSink, TargetSink}) {
            std::string out;
            const std::string args = std::string("load-module module-null-sink sink_name=") + sink +
                                     " rate=8000 format=s16le channels=2 sink_properties=device.description=" + sink;
            ASSERT_EQ(PulseDaemon().Pactl(args, &out), 0) << out;
            Modules.push_back(Trim(out));
        }
    }
    static void TearDownTestSuite() {
        for (const auto& m : Modules) PulseDaemon().Pactl("unload-module " + m);
        Modules.clear();
    }

    void SetUp() override {
        Source = FindDevice(Driver, TWaveKind::In, std::string(SourceSink) + ".monitor");
        Target = FindDevice(Driver, TWaveKind::Out, TargetSink);
        const int targetMonitor = FindDevice(Driver, TWaveKind::In, std::string(TargetSink) + ".monitor");
        ASSERT_GE(Source, 0);
        ASSERT_GE(Target, 0);
        ASSERT_GE(targetMonitor, 0);
        // The test's own client: a listener on the source keeps that device busy, so a
        // new route's first sound comes at once; the recorder takes what the target plays.
        TestDriver.SetFragment(50ms);
        ASSERT_EQ(TestDriver.NumDevs(TWaveKind::In), Driver.NumDevs(TWaveKind::In));
        Keeper = std::make_unique<TRecorder>(TestDriver, Source);
        Recorder = std::make_unique<TRecorder>(TestDriver, targetMonitor);
        ASSERT_TRUE(qntest::WaitFor([&] { return Keeper->Size() > 0 && Recorder->Size() > 0; }, 20s));
    }

    std::unique_ptr<TMMAudioRouter> NewRouter() { return std::make_unique<TMMAudioRouter>(Driver, Loop); }

    // Starts Router from the source's monitor to the target and waits until sound flows.
    void StartRoute(TMMAudioRouter& r) {
        r.Route(Source, Target);
        const size_t heard = Recorder->Size();
        ASSERT_TRUE(Loop.RunUntil(
            [&] { return r.AudioIn().BuffersDone() >= 10 && r.AudioOut().BuffersDone() >= 10 && Recorder->Size() > heard; },
            20s));
    }

    // Plays Sound into the source device after half a second of silence (a player that
    // joins a device may cost its first moments) and waits until the recorder has taken
    // a second beyond the player's end. The recording from the start of the playing.
    std::vector<uint8_t> PlayAndRecord(const std::vector<uint8_t>& sound) {
        std::vector<uint8_t> file(BytesPerSecond / 2, 0);
        file.insert(file.end(), sound.begin(), sound.end());
        file.insert(file.end(), BytesPerSecond / 4, 0);
        const std::string path = Temp / "signal.raw";
        {
            std::ofstream f(path, std::ios::binary | std::ios::trunc);
            f.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        }
        const size_t from = Recorder->Size();
        const size_t sourceFrom = Keeper->Size();
        qntest::TChildProcess player({"/usr/bin/pacat", "--playback", std::string("--device=") + SourceSink,
                                      "--format=s16le", "--rate=8000", "--channels=2", "--raw", path},
                                     {}, {}, Temp / "pacat.log");
        const auto bound = std::chrono::seconds(30 + file.size() / BytesPerSecond);
        EXPECT_TRUE(Loop.RunUntil([&] { return !player.Running(); }, bound));
        EXPECT_EQ(player.Wait(1s), 0) << qntest::ReadFile(Temp / "pacat.log");
        const size_t played = Recorder->Size();
        EXPECT_TRUE(Loop.RunUntil([&] { return Recorder->Size() >= played + BytesPerSecond; }, 30s));
        SourceBytes = Keeper->Bytes(sourceFrom);
        return Recorder->Bytes(from);
    }

    // What to say when the sound did not arrive as played: what the source device
    // itself gave, and whether the route's playback ran dry.
    std::string Diagnosis(const std::vector<uint8_t>& sound) const {
        const std::string source = CompareSound(SourceBytes, sound);
        return "the source device: " + (source.empty() ? std::string("as played") : source) +
               "; the route's playback ran dry " + std::to_string(Driver.Underflows()) + " times";
    }

    std::vector<uint8_t> SourceBytes;  // what the source's monitor gave while the sound played

    TPulseWaveDriver Driver{PulseDaemon().Server()};
    TPulseWaveDriver TestDriver{PulseDaemon().Server(), "brevanta-test"};
    TMainThreadLoop Loop;
    qntest::TTempDir Temp{"brv-route"};
    int Source = -1, Target = -1;
    std::unique_ptr<TRecorder> Keeper, Recorder;
    static std::vector<std::string> Modules;
};

std::vector<std::string> RouteOnServer::Modules;

}  // namespace

TEST_F(RouteOnServer, SoundArrivesExactlyAtEachVolumeAndTheLevelsAreWhatPassed) {
    const std::vector<uint8_t> signal = LevelSignal();
    for (int volume : {100, 99, 50, 0}) {
        SCOPED_TRACE("volume " + std::to_string(volume));
        const std::vector<uint8_t> expected = Scaled(signal, volume);
        // A busy machine may hold the sound back until the route's playback runs dry: the
        // driver reports it (the ten-second test holds the route to account for such gaps)
        // and keeps a larger reserve from then on. Only then is the signal played again,
        // on a new route, at most twice; any other difference fails at once.
        std::unique_ptr<TMMAudioRouter> r;
        std::vector<int> inLevels, outLevels;
        std::vector<uint8_t> rec;
        for (int attempt = 0;; ++attempt) {
            r = NewRouter();
            inLevels.clear();
            outLevels.clear();
            r->AudioIn().SetOnLevel([&](TMMAudioIO&, int l) { inLevels.push_back(l); });
            r->AudioOut().SetOnLevel([&](TMMAudioIO&, int l) { outLevels.push_back(l); });
            r->AudioIn().SetVolume(volume);
            const uint64_t ranDry = Driver.Underflows();
            StartRoute(*r);
            rec = PlayAndRecord(signal);
            EXPECT_TRUE(r->Stop()) << r->StopError();
            const bool whole = volume == 0 || CompareSound(rec, expected).empty();
            if (whole || Driver.Underflows() == ranDry || attempt == 2) break;
            RecordProperty("PlayedAgainAfterRunningDry", std::to_string(attempt + 1));
        }

        if (volume == 0) {
            EXPECT_TRUE(std::all_of(rec.begin(), rec.end(), [](uint8_t b) { return b == 0; }));
            EXPECT_GE(rec.size(), signal.size() + BytesPerSecond);
        } else {
            EXPECT_EQ(CompareSound(rec, expected), "") << Diagnosis(signal);
        }
        // The loud part's buffers were reported on both sides, and one buffer phase
        // explains every reported level.
        const int loud = PeakLevel(expected.data() + 6001 * FrameBytes, 6000 * FrameBytes, RouteWaveFormat());
        EXPECT_EQ(loud, (30000 * volume / 100) * 100 / 32767);
        ASSERT_FALSE(inLevels.empty());
        ASSERT_FALSE(outLevels.empty());
        EXPECT_EQ(inLevels.back(), 0);  // the final 0 of the stop
        inLevels.pop_back();
        outLevels.pop_back();
        EXPECT_NE(std::find(inLevels.begin(), inLevels.end(), loud), inLevels.end()) << Join(inLevels);
        EXPECT_NE(std::find(outLevels.begin(), outLevels.end(), loud), outLevels.end()) << Join(outLevels);
        std::vector<int> both = inLevels;
        both.insert(both.end(), outLevels.begin(), outLevels.end());
        EXPECT_TRUE(LevelsFit(both, expected)) << "in: " << Join(inLevels) << "\nout: " << Join(outLevels);
    }
}

// Every sample of the tone comes through exactly once and in order. A moment when the
// sound server hands over no sound for longer than the route's short queue (a busy
// machine) makes the route's playback run dry, and the sound that then arrives at once
// is partly dropped to keep the delay short: such a gap must be one the driver reported
// and such a loss one the route counted (the server may also skip up to one fragment of
// what is played next when a stream has run dry); without them the recording is the tone
// exactly.
TEST_F(RouteOnServer, TenSecondToneArrivesWithoutGapsOrRepeats) {
    auto r = NewRouter();
    StartRoute(*r);
    const std::vector<uint8_t> tone = ToneSignal(10);
    const uint64_t underflows = Driver.Underflows(), dropped = r->AudioIn().BuffersDropped(),
                   lostBytes = Driver.LostBytes();
    const std::vector<uint8_t> rec = PlayAndRecord(tone);
    const uint64_t ranDry = Driver.Underflows() - underflows;
    const uint64_t lostFrames = (r->AudioIn().BuffersDropped() - dropped) * TMMAudioRouter::BufferSize / FrameBytes +
                                (Driver.LostBytes() - lostBytes) / FrameBytes;
    RecordProperty("PlaybackRanDry", std::to_string(ranDry));
    RecordProperty("FramesDropped", std::to_string(lostFrames));

    const std::vector<TStretch> stretches = Stretches(rec, tone);
    const std::string how = Describe(stretches) + "\n" + Diagnosis(tone) + "; frames the route dropped: " +
                            std::to_string(lostFrames);
    ASSERT_FALSE(stretches.empty()) << how;
    size_t gaps = 0, missing = stretches.front().From;
    for (size_t i = 0; i < stretches.size(); ++i) {
        EXPECT_TRUE(stretches[i].Signal) << how;
        if (i > 0) missing += stretches[i].From - stretches[i - 1].To;
        if (i + 1 < stretches.size()) gaps += stretches[i].SilenceAfter > 0;
    }
    EXPECT_EQ(stretches.back().To, tone.size() / FrameBytes) << how;
    EXPECT_LE(gaps, ranDry) << how;
    const uint64_t fragmentFrames = uint64_t(Driver.Fragment().count()) * FramesPerSecond / 1000000;
    EXPECT_LE(missing, lostFrames + ranDry * fragmentFrames) << how;
    if (ranDry == 0 && lostFrames == 0) {
        EXPECT_EQ(CompareSound(rec, tone), "") << how;
    }
    EXPECT_GE(r->AudioIn().BuffersDone(), tone.size() / TMMAudioRouter::BufferSize);
    EXPECT_TRUE(r->Stop()) << r->StopError();
}

TEST_F(RouteOnServer, StoppingEndsTheThreadsFreesTheBuffersAndLeavesNoDeviceOpen) {
    const size_t inputs = PactlCount("sink-inputs"), outputs = PactlCount("source-outputs");
    const size_t threads = ThreadCount();
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE("route " + std::to_string(i));
        auto r = NewRouter();
        r->Route(Source, Target);
        ASSERT_EQ(r->Buffers().size(), 20u);
        ASSERT_NE(r->AudioIn().DataThread(), nullptr);
        ASSERT_NE(r->AudioOut().DataThread(), nullptr);
        if (i == 0) {  // the server sees the route's two streams
            ASSERT_TRUE(Loop.RunUntil([&] { return r->AudioIn().Opened() && r->AudioOut().Opened(); }, 10s));
            EXPECT_EQ(PactlCount("sink-inputs"), inputs + 1);
            EXPECT_EQ(PactlCount("source-outputs"), outputs + 1);
            EXPECT_EQ(ThreadCount(), threads + 2);
        }
        if (i % 2) r->AudioIn().SetOnLevel([](TMMAudioIO&, int) {});
        ASSERT_TRUE(r->Stop()) << r->StopError();
        EXPECT_TRUE(r->Buffers().empty());
        EXPECT_EQ(r->AudioIn().DataThread(), nullptr);
        EXPECT_EQ(r->AudioOut().DataThread(), nullptr);
        EXPECT_FALSE(r->Active());
        if (i % 3 == 0) r->Route(Source, Target);  // some are only stopped by being freed
    }
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_TRUE(qntest::WaitFor([&] { return PactlCount("sink-inputs") == inputs; }, 20s));
    EXPECT_TRUE(qntest::WaitFor([&] { return PactlCount("source-outputs") == outputs; }, 20s));
}

TEST_F(RouteOnServer, RouteCommandCarriesSoundUntilStopped) {
    std::atomic<bool> stop{false};
    TSharedText outText, errText;
    std::ostream out(&outText), err(&errText);
    auto command = std::async(std::launch::async, [&] {
        return RunRouteCommand({std::string(SourceSink) + ".monitor", std::to_string(Target), "--volume", "50"}, out,
                               err, stop);
    });
    ASSERT_TRUE(qntest::WaitFor([&] { return outText.Text().find("to stop.\n") != std::string::npos; }, 20s))
        << errText.Text();
    EXPECT_EQ(outText.Text(), std::string("Routing \"Monitor of ") + SourceSink + "\" to \"" + TargetSink +
                                  "\" at 50 %. Press Ctrl+C to stop.\n");
    const size_t heard = Recorder->Size();
    ASSERT_TRUE(qntest::WaitFor([&] { return Recorder->Size() > heard + 4 * 1600; }, 20s));

    std::vector<uint8_t> signal;
    TNoise noise(5);
    AddFrame(signal, 32767, 32767);
    for (int i = 0; i < 4000; ++i) AddFrame(signal, noise.Next(32767), noise.Next(32767));
    const std::vector<uint8_t> rec = PlayAndRecord(signal);
    EXPECT_EQ(CompareSound(rec, Scaled(signal, 50)), "") << Diagnosis(signal);

    stop = true;
    if (command.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "the route command did not stop";
        std::abort();  // it cannot be joined: end the run rather than hang it
    }
    EXPECT_EQ(command.get(), 0) << errText.Text();
    EXPECT_NE(outText.Text().find("Route stopped.\n"), std::string::npos);
    EXPECT_EQ(errText.Text(), "");
}

TEST_F(RouteOnServer, RouteCommandRefusesBadArgumentsClearly) {
    struct {
        std::vector<std::string> Args;
        int Exit;
        std::string Message;
    } cases[] = {
        {{}, 2, "give one recording device and one playback device"},
        {{"0"}, 2, "give one recording device and one playback device"},
        {{"0", "0", "1"}, 2, "give one recording device and one playback device"},
        {{"0", "0", "--volume"}, 2, "--volume needs a number from 0 to 100"},
        {{"0", "0", "--volume", "101"}, 2, "--volume needs a number from 0 to 100, not \"101\""},
        {{"0", "0", "--volume=-3"}, 2, "not \"-3\""},
        {{"0", "0", "--loud"}, 2, "unknown switch \"--loud\""},
        {{"99", "0"}, 2, "there is no recording device 99 (there are "},
        {{"0", "nowhere"}, 2, "there is no playback device named \"nowhere\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        std::ostringstream out, err;
        std::atomic<bool> stop{true};
        EXPECT_EQ(RunRouteCommand(Driver, c.Args, out, err, stop), c.Exit);
        EXPECT_NE(err.str().find(c.Message), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
    // Device names: the server's identifier or the name shown, case ignored.
    std::ostringstream out, err;
    std::atomic<bool> stop{true};
    EXPECT_EQ(RunRouteCommand(Driver, {std::string(SourceSink) + ".MONITOR", TargetSink}, out, err, stop), 2);
    EXPECT_EQ(RunRouteCommand(Driver, {std::string("monitor of ") + SourceSink, TargetSink}, out, err, stop), 0)
        << err.str();
    EXPECT_NE(out.str().find("Route stopped."), std::string::npos);

    std::ostringstream list, listErr;
    EXPECT_EQ(RunListDevicesCommand(Driver, list, listErr), 0);
    EXPECT_NE(list.str().find(std::string("Monitor of ") + SourceSink + " [" + SourceSink + ".monitor]"),
              std::string::npos)
        << list.str();
}

TEST(RouteOnNoServer, CommandsSayWhyThereIsNoSound) {
    TPulseWaveDriver driver("unix:" + PulseDaemon().Folder() + "/no-such-socket");
    std::ostringstream out, err;
    std::atomic<bool> stop{false};
    EXPECT_EQ(RunRouteCommand(driver, {"0", "0"}, out, err, stop), 1);
    EXPECT_NE(err.str().find("Cannot connect to the sound server"), std::string::npos) << err.str();
    std::ostringstream list, listErr;
    EXPECT_EQ(RunListDevicesCommand(driver, list, listErr), 1);
    EXPECT_NE(listErr.str().find("Cannot connect to the sound server"), std::string::npos);
    EXPECT_NE(list.str().find("Recording devices:\n  (none)\n"), std::string::npos) << list.str();
}
