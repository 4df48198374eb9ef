// The route engine on the simulated driver: circulation, volume, levels, and the races
// of starting and stopping.
#include "RouteTestSignals.h"
#include "audio/MMAudioRouter.h"
#include "platform/SimWaveDriver.h"

#include <gtest/gtest.h>

#include <set>

using namespace std::chrono_literals;

namespace {

const std::string LineIn = "Line In";
const std::string Microphone = "Microphone";
const std::string Speakers = "Speakers";
const std::string Headphones = "Headphones";

// Samples that show the arithmetic: the extremes, small values both sides of 0, and
// values whose products do not divide evenly. 302 samples, so that the buffers of a
// looping capture differ from each other.
std::vector<uint8_t> Pattern() {
    std::vector<uint8_t> bytes;
    const int16_t fixed[] = {-32768, 32767, -32767, 1, -1, 0, 12345, -12345, 99, -99, 150, -150, 16384, -16384};
    for (int16_t s : fixed) PutSample(bytes, s);
    TNoise noise(7);
    while (bytes.size() < 604) PutSample(bytes, noise.Next(32767));
    return bytes;
}

// Every sample Value (a level meter's steady input).
std::vector<uint8_t> Constant(int16_t value, size_t frames = 75) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < 2 * frames; ++i) PutSample(bytes, value);
    return bytes;
}

class MMAudioRouter : public testing::Test {
protected:
    void SetUp() override {
        Driver.AddDevice(TWaveKind::In, LineIn);
        Driver.AddDevice(TWaveKind::In, Microphone);
        Driver.AddDevice(TWaveKind::Out, Speakers);
        Driver.AddDevice(TWaveKind::Out, Headphones);
    }

    std::unique_ptr<TMMAudioRouter> NewRouter() {
        auto r = std::make_unique<TMMAudioRouter>(Driver, Loop);
        r->SetStopTimeout(5s);
        return r;
    }

    // Waits until both data threads have handled their open messages.
    void WaitOpened(TMMAudioRouter& r, bool in = true, bool out = true) {
        ASSERT_TRUE(Driver.WaitUntil(
            [&] { return (!in || r.AudioIn().Opened()) && (!out || r.AudioOut().Opened()); }, 10s));
    }

    // Moves the virtual clock on by Span in steps of 2 ms. After each step it waits
    // until the data threads have passed every buffer on (Queued() buffers sit at the
    // devices again) and runs the main thread's work.
    void Drive(std::chrono::microseconds span, const std::function<size_t()>& queued, size_t expected = 20) {
        for (std::chrono::microseconds t{0}; t < span; t += 2ms) {
            Driver.Advance(2ms);
            ASSERT_TRUE(Driver.WaitUntil([&] { return queued() == expected; }, 10s))
                << "buffers at the devices: " << queued();
            Loop.ProcessPending();
        }
    }
    // Moves the clock on in 2 ms steps until Done holds, keeping the threads in pace as
    // Drive does; with RunMain the main thread's work runs after every step. False when
    // Done still does not hold after Span of sound and a generous wait.
    bool DriveUntil(const std::function<bool()>& done, bool runMain = true,
                    std::chrono::microseconds span = 500ms) {
        for (std::chrono::microseconds t{0}; t < span; t += 2ms) {
            Driver.Advance(2ms);
            // All buffers back at the devices, or a request for the main thread.
            Driver.WaitUntil([&] { return QueuedOnRoute() == 20 || Loop.PendingCount() > 0 || done(); }, 10s);
            if (runMain) Loop.ProcessPending();
            if (done()) return true;
        }
        return runMain ? Loop.RunUntil(done, 10s) : Driver.WaitUntil(done, 10s);
    }
    // Buffers queued at any device.
    size_t QueuedOnRoute() const {
        size_t n = 0;
        for (const auto& d : {LineIn, Microphone}) n += Driver.QueuedBuffers(TWaveKind::In, d);
        for (const auto& d : {Speakers, Headphones}) n += Driver.QueuedBuffers(TWaveKind::Out, d);
        return n;
    }
    size_t OpenStreams() const {
        size_t n = 0;
        for (const auto& d : {LineIn, Microphone}) n += Driver.OpenStreams(TWaveKind::In, d);
        for (const auto& d : {Speakers, Headphones}) n += Driver.OpenStreams(TWaveKind::Out, d);
        return n;
    }
    void ExpectStoppedClean(const TMMAudioRouter& r) {
        EXPECT_FALSE(r.Active());
        EXPECT_EQ(OpenStreams(), 0u);
        EXPECT_TRUE(r.Buffers().empty());
        EXPECT_EQ(r.AudioIn().DataThread(), nullptr);
        EXPECT_EQ(r.AudioOut().DataThread(), nullptr);
        EXPECT_EQ(r.AudioIn().Handle(), 0u);
        EXPECT_EQ(r.AudioOut().Handle(), 0u);
        EXPECT_FALSE(r.AudioIn().Opened());
        EXPECT_FALSE(r.AudioOut().Opened());
    }

    TSimWaveDriver Driver;
    TMainThreadLoop Loop;
};

}  // namespace

TEST_F(MMAudioRouter, RecordedSoundPlaysFromTheSameBuffersAtEachVolume) {
    const std::vector<uint8_t> capture = Pattern();
    Driver.SetCaptureData(LineIn, capture);
    for (int volume : {100, 99, 50, 1, 0}) {
        SCOPED_TRACE("volume " + std::to_string(volume));
        Driver.ClearPlayedData(Speakers);
        auto r = NewRouter();
        r->AudioIn().SetVolume(volume);
        r->Route(0, 0, Mono16bit11025Hz);  // the format given is ignored
        EXPECT_EQ(r->AudioIn().WaveFormat().Channels, 2);
        EXPECT_EQ(r->AudioIn().WaveFormat().SamplesPerSec, 8000u);
        EXPECT_EQ(r->AudioIn().WaveFormat().BitsPerSample, 16);
        ASSERT_EQ(r->Buffers().size(), 20u);
        std::set<const uint8_t*> blocks;
        for (const auto& b : r->Buffers()) {
            EXPECT_EQ(b->Header.Data, b->Data.data());
            EXPECT_EQ(b->Header.User, reinterpret_cast<uintptr_t>(r.get()));
            blocks.insert(b->Data.data());
        }
        WaitOpened(*r);
        Drive(300ms, [&] { return QueuedOnRoute(); });

        // The capture passed in order, scaled exactly; the same 20 blocks still circulate.
        const std::vector<uint8_t> played = Driver.PlayedData(Speakers);
        ASSERT_GE(played.size(), 20u * 300u);
        const std::vector<uint8_t> expected = Scaled(capture, volume);
        for (size_t i = 0; i < played.size(); ++i)
            ASSERT_EQ(played[i], expected[i % expected.size()]) << "byte " << i;
        EXPECT_GT(r->AudioIn().BuffersDone(), 20u);
        EXPECT_GT(r->AudioOut().BuffersDone(), 20u);
        for (const auto& b : r->Buffers()) EXPECT_TRUE(blocks.count(b->Header.Data));

        EXPECT_TRUE(r->Stop());
        ExpectStoppedClean(*r);
    }
}

TEST_F(MMAudioRouter, LevelsAreStoredByTheDataThreadsAndReportedByTheTimers) {
    Driver.SetCaptureData(LineIn, Constant(16384));
    auto r = NewRouter();
    std::vector<int> inLevels, outLevels;
    r->AudioIn().SetOnLevel([&](TMMAudioIO& sender, int level) {
        EXPECT_EQ(&sender, &r->AudioIn());
        inLevels.push_back(level);
    });
    r->AudioOut().SetOnLevel([&](TMMAudioIO&, int level) { outLevels.push_back(level); });
    r->AudioIn().SetVolume(50);
    r->Route(0, 0);
    WaitOpened(*r);
    // The reports of the next tick of both timers.
    auto nextReports = [&] {
        inLevels.clear();
        outLevels.clear();
        return Loop.RunUntil([&] { return !inLevels.empty() && !outLevels.empty(); }, 10s);
    };
    Drive(100ms, [&] { return QueuedOnRoute(); });
    // 16384 halved is 8192: 8192 x 100 div 32767 = 25, on both sides.
    ASSERT_TRUE(nextReports());
    EXPECT_EQ(inLevels.back(), 25);
    EXPECT_EQ(outLevels.back(), 25);

    r->AudioIn().SetVolume(0);  // silence; the meter of the recording side shows 0
    // The first report after the change may still hold buffers recorded before it; the
    // next one holds silence alone.
    Drive(100ms, [&] { return QueuedOnRoute(); });
    ASSERT_TRUE(nextReports());
    Drive(100ms, [&] { return QueuedOnRoute(); });
    ASSERT_TRUE(nextReports());
    EXPECT_EQ(inLevels.back(), 0);
    EXPECT_EQ(outLevels.back(), 0);

    // Stopping sends one last 0 and ends the reports.
    r->AudioIn().SetVolume(100);
    Drive(50ms, [&] { return QueuedOnRoute(); });
    ASSERT_EQ(r->AudioIn().Level(), 50);
    inLevels.clear();
    outLevels.clear();
    EXPECT_TRUE(r->Stop());
    EXPECT_EQ(inLevels, std::vector<int>{0});
    EXPECT_EQ(outLevels, std::vector<int>{0});
    EXPECT_FALSE(r->AudioIn().OnLevel());
    EXPECT_FALSE(r->AudioOut().OnLevel());
    EXPECT_TRUE(r->Stop());  // nothing more
    EXPECT_EQ(inLevels.size(), 1u);
}

TEST_F(MMAudioRouter, LevelMeterAndPlaybackOnlyRoutes) {
    // Recording only: the 20 buffers circulate on the recording device alone. A loud
    // buffer followed by silent ones is reported: the meter shows the highest level since
    // its last report, not that of the last buffer.
    std::vector<uint8_t> click = Constant(32767);
    const std::vector<uint8_t> silence = Constant(0, 19 * 75);
    click.insert(click.end(), silence.begin(), silence.end());
    Driver.SetCaptureData(Microphone, click);
    auto meter = NewRouter();
    int level = -2;
    meter->AudioIn().SetOnLevel([&](TMMAudioIO&, int l) { level = l; });
    meter->Route(1, -1);
    EXPECT_EQ(meter->Buffers().size(), 20u);
    EXPECT_EQ(meter->AudioOut().Handle(), 0u);
    EXPECT_EQ(meter->AudioOut().DataThread(), nullptr);
    WaitOpened(*meter, true, false);
    Drive(50ms, [&] { return Driver.QueuedBuffers(TWaveKind::In, Microphone); });
    ASSERT_EQ(meter->AudioIn().Level(), 0);  // the last buffer was silent
    ASSERT_TRUE(Loop.RunUntil([&] { return level != -2; }, 10s));
    EXPECT_EQ(level, 100);
    EXPECT_EQ(OpenStreams(), 1u);
    EXPECT_TRUE(meter->Stop());
    EXPECT_EQ(level, 0);
    ExpectStoppedClean(*meter);

    // Playback only: no buffers, nothing played.
    auto player = NewRouter();
    player->Route(-1, 1);
    EXPECT_TRUE(player->Buffers().empty());
    EXPECT_EQ(Driver.OpenStreams(TWaveKind::Out, Headphones), 1u);
    WaitOpened(*player, false, true);
    Driver.Advance(50ms);
    EXPECT_TRUE(Driver.PlayedData(Headphones).empty());
    player.reset();  // destroying a running route stops it
    EXPECT_EQ(OpenStreams(), 0u);
}

TEST_F(MMAudioRouter, StopBeforeTheOpenMessagesWereHandledClosesBothDevices) {
    Driver.HoldOpenMessages(true);
    auto r = NewRouter();
    r->Route(0, 0);
    EXPECT_FALSE(r->AudioIn().Opened());
    EXPECT_FALSE(r->AudioOut().Opened());
    Driver.Advance(30ms);  // recorded buffers go straight back: nothing to play on yet
    ASSERT_TRUE(Driver.WaitUntil([&] { return Driver.QueuedBuffers(TWaveKind::In, LineIn) == 20; }, 10s));
    EXPECT_TRUE(r->Stop()) << r->StopError();
    ExpectStoppedClean(*r);
    EXPECT_TRUE(Driver.PlayedData(Speakers).empty());
}

TEST_F(MMAudioRouter, DeviceThatNeverConfirmsItsCloseEndsInAnErrorNotAHang) {
    auto r = NewRouter();
    r->SetStopTimeout(100ms);
    r->Route(0, 0);
    WaitOpened(*r);
    Driver.DropCloseMessages(true);
    EXPECT_FALSE(r->Stop());
    EXPECT_NE(r->StopError().find("The playback device did not confirm that it closed."), std::string::npos)
        << r->StopError();
    EXPECT_NE(r->StopError().find("The recording device did not confirm that it closed."), std::string::npos);
    // The devices did close and the threads ended, so everything is freed.
    ExpectStoppedClean(*r);
    EXPECT_TRUE(r->Stop());
    EXPECT_EQ(r->StopError(), "");
}

TEST_F(MMAudioRouter, DeviceThatRefusesToCloseKeepsItsBuffersUntilALaterStop) {
    auto r = NewRouter();
    r->Route(0, 0);
    WaitOpened(*r);
    // Close fails 30 times; each attempt is at least 10 ms apart.
    for (int i = 0; i < 30; ++i) Driver.FailNext(TSimCall::Close, MMSYSERR_ERROR, 0, LineIn);
    r->SetStopTimeout(100ms);
    EXPECT_FALSE(r->Stop());
    EXPECT_NE(r->StopError().find("The recording device did not close: "), std::string::npos) << r->StopError();
    EXPECT_TRUE(r->Active());
    EXPECT_EQ(Driver.OpenStreams(TWaveKind::In, LineIn), 1u);
    EXPECT_EQ(Driver.OpenStreams(TWaveKind::Out, Speakers), 0u);
    EXPECT_EQ(r->Buffers().size(), 20u);  // the device may still hold them
    EXPECT_NE(r->AudioIn().Handle(), 0u);
    ASSERT_NE(r->AudioIn().DataThread(), nullptr);
    EXPECT_TRUE(r->AudioIn().DataThread()->Terminated());

    r->SetStopTimeout(10s);
    EXPECT_TRUE(r->Stop()) << r->StopError();
    ExpectStoppedClean(*r);
}

TEST_F(MMAudioRouter, RefusedBufferStopsTheRouteOnTheMainThread) {
    struct {
        const char* Name;
        TSimCall Call;
        int Skip;  // the first 20 AddBuffer calls queue the buffers at the start
        const char* Reason;
    } cases[] = {
        {"write refused", TSimCall::Write, 5, "The playback device stopped taking sound: "},
        {"re-queue refused", TSimCall::AddBuffer, 20 + 5, "The recording device stopped taking sound: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Driver.FailNext(c.Call, MMSYSERR_NOMEM, c.Skip);
        auto r = NewRouter();
        std::vector<std::string> reasons;
        r->OnStopped = [&](TMMAudioRouter& sender, const std::string& reason) {
            EXPECT_EQ(&sender, r.get());
            reasons.push_back(reason);
        };
        r->Route(0, 0);
        WaitOpened(*r);
        ASSERT_TRUE(DriveUntil([&] { return !reasons.empty(); }));
        Loop.ProcessPending();
        ASSERT_EQ(reasons.size(), 1u);
        EXPECT_EQ(reasons[0], c.Reason + WaveErrorText(MMSYSERR_NOMEM));
        ExpectStoppedClean(*r);
    }
}

TEST_F(MMAudioRouter, VanishedDeviceStopsTheRouteAndAPartBufferPlaysOnlyWhatWasRecorded) {
    std::vector<uint8_t> capture;
    for (int i = 0; i < 2000; ++i) PutSample(capture, int16_t(i + 1));
    Driver.SetCaptureData(LineIn, capture, false);
    auto r = NewRouter();
    std::string reason;
    r->OnStopped = [&](TMMAudioRouter&, const std::string& why) { reason = why; };
    r->Route(0, 0);
    WaitOpened(*r);
    Driver.Advance(9375us);  // the first buffer is full and goes to the playback device
    ASSERT_TRUE(Driver.WaitUntil([&] { return Driver.QueuedBuffers(TWaveKind::Out, Speakers) == 1; }, 10s));
    Driver.Advance(4ms);  // 128 bytes into the second buffer
    Driver.RemoveDevice(TWaveKind::In, LineIn);
    // The part buffer is played with its 128 bytes; the empty ones cannot go back.
    ASSERT_TRUE(Driver.WaitUntil([&] { return Driver.QueuedBuffers(TWaveKind::Out, Speakers) == 2; }, 10s));
    Driver.Advance(30ms);
    const std::vector<uint8_t> played = Driver.PlayedData(Speakers);
    EXPECT_EQ(played, std::vector<uint8_t>(capture.begin(), capture.begin() + 300 + 128));
    ASSERT_TRUE(Loop.RunUntil([&] { return !reason.empty(); }, 10s));
    EXPECT_EQ(reason, "The recording device stopped taking sound: " + WaveErrorText(MMSYSERR_NODRIVER));
    ExpectStoppedClean(*r);

    // The playback device vanishes under a running route.
    auto r2 = NewRouter();
    reason.clear();
    r2->OnStopped = [&](TMMAudioRouter&, const std::string& why) { reason = why; };
    r2->Route(0, 0);  // "Microphone" is recording device 0 now
    WaitOpened(*r2);
    Driver.RemoveDevice(TWaveKind::Out, Speakers);
    ASSERT_TRUE(DriveUntil([&] { return !reason.empty(); }));
    EXPECT_EQ(reason, "The playback device stopped taking sound: " + WaveErrorText(MMSYSERR_NODRIVER));
    ExpectStoppedClean(*r2);
}

TEST_F(MMAudioRouter, PlaybackDeviceThatFallsBehindCannotRaiseTheLatencyForGood) {
    // Every frame carries its own number, so what plays tells when it was recorded.
    std::vector<uint8_t> capture;
    for (int i = 0; i < 30000; ++i) {
        PutSample(capture, int16_t(i % 30000));
        PutSample(capture, 0);
    }
    Driver.SetCaptureData(LineIn, capture, false);
    auto r = NewRouter();
    r->Route(0, 0);
    WaitOpened(*r);
    Drive(100ms, [&] { return QueuedOnRoute(); });
    ASSERT_EQ(Driver.Stop(r->AudioOut().Handle()), MMSYSERR_NOERROR);  // the device stalls
    Drive(300ms, [&] { return QueuedOnRoute(); });
    EXPECT_EQ(Driver.QueuedBuffers(TWaveKind::Out, Speakers), size_t(TMMAudioRouter::MaxPlaybackQueue));
    EXPECT_GT(r->AudioIn().BuffersDropped(), 20u);
    ASSERT_EQ(Driver.Start(r->AudioOut().Handle()), MMSYSERR_NOERROR);
    Drive(200ms, [&] { return QueuedOnRoute(); });
    EXPECT_LE(Driver.QueuedBuffers(TWaveKind::Out, Speakers), size_t(TMMAudioRouter::MaxPlaybackQueue));
    // What plays now was recorded a few buffers ago, not 20.
    const auto played = Driver.PlayedData(Speakers);
    ASSERT_GE(played.size(), 4u);
    const size_t lastPlayed = size_t(SampleAt(played, played.size() / 2 - 2));
    const size_t recorded = size_t(r->AudioIn().BuffersDone()) * 75;
    EXPECT_LE(recorded - lastPlayed, size_t(TMMAudioRouter::MaxPlaybackQueue + 1) * 75);
    EXPECT_TRUE(r->Stop());
}

TEST_F(MMAudioRouter, StopRequestOfARemovedOrRestartedRouteTouchesNothing) {
    for (bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "restarted" : "removed");
        Driver.FailNext(TSimCall::Write, MMSYSERR_NOMEM);
        auto r = NewRouter();
        int stopped = 0;
        r->OnStopped = [&](TMMAudioRouter&, const std::string&) { ++stopped; };
        r->Route(0, 0);
        WaitOpened(*r);
        // The data thread asks; the request waits in the main thread's queue.
        ASSERT_TRUE(DriveUntil([&] { return Loop.PendingCount() > 0; }, false));
        ASSERT_EQ(Loop.PendingCount(), 1u);
        if (restart) {
            EXPECT_TRUE(r->Stop());
            r->Route(0, 0);
            Loop.ProcessPending();
            EXPECT_EQ(stopped, 0);
            EXPECT_TRUE(r->Active());
            EXPECT_EQ(OpenStreams(), 2u);
        } else {
            r.reset();
            Loop.ProcessPending();  // the route is gone: nothing is reached
            EXPECT_EQ(stopped, 0);
            EXPECT_EQ(OpenStreams(), 0u);
        }
    }
}

TEST_F(MMAudioRouter, FailedStartStopsWhatHadStartedAndSaysTheSystemWasBusy) {
    struct {
        const char* Name;
        TSimCall Call;
        int Skip;
        std::string Device;
        int Result;
    } cases[] = {
        {"recording device busy", TSimCall::Open, 0, LineIn, MMSYSERR_ALLOCATED},
        {"playback device busy", TSimCall::Open, 0, Speakers, MMSYSERR_ALLOCATED},
        {"sixth buffer refused", TSimCall::AddBuffer, 5, LineIn, MMSYSERR_NOMEM},
        {"recording does not start", TSimCall::Start, 0, LineIn, MMSYSERR_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Driver.FailNext(c.Call, c.Result, c.Skip, c.Device);
        auto r = NewRouter();
        try {
            r->Route(0, 0);
            FAIL() << "no exception";
        } catch (const EAudioRouteBusy& e) {
            EXPECT_EQ(std::string(e.what()), "The audio system was busy.  Try again.");
            EXPECT_EQ(e.Cause(), WaveErrorText(c.Result));
        }
        ExpectStoppedClean(*r);
        EXPECT_TRUE(r->Stop());  // the router window stops it once more when it frees it
    }
    Driver.ClearPlayedData(Speakers);
    auto r = NewRouter();
    EXPECT_THROW(r->Route(5, 0), EAudioRouteBusy);
    r->Route(0, 0);
    EXPECT_THROW(r->Route(0, 0), EWaveAudioInvalidOperation);
}

TEST_F(MMAudioRouter, DeviceNamesAndPictures) {
    struct {
        const char* Name;
        const char* Bitmap;
    } cases[] = {
        {"Stereo Mix (Speaker)", "MMStereoMix"}, {"Speakers", "MMSpeaker"},
        {"Digital Output", "MMDigital"},         {"Built-in Audio", "MMMic"},
        {"USB Mic", "MMMic"},                    {"Line 2", "MMLineIn"},
        {"AUX IN", "MMLineIn"},                  {"TAPE OUT", "MMLineIn"},
        {"Aux in", "MMMic"},                     {"Headphones", "MMMic"},
    };
    TSimWaveDriver driver;
    for (const auto& c : cases) driver.AddDevice(TWaveKind::Out, c.Name);
    TMMAudioRouter r(driver, Loop);
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(cases[i].Name);
        r.AudioOut().SetDevice(i);
        EXPECT_EQ(r.AudioOut().DeviceID(), i);
        EXPECT_EQ(r.AudioOut().Caps().ProductName, cases[i].Name);
        EXPECT_EQ(r.AudioOut().DeviceBitmapName(), cases[i].Bitmap);
    }
    EXPECT_EQ(driver.OpenStreamCount(), 0u);  // nothing was opened
    r.AudioOut().SetDevice(99);  // no such device: empty capabilities, no error
    EXPECT_EQ(r.AudioOut().Caps().ProductName, "");
    EXPECT_EQ(r.AudioOut().DeviceBitmapName(), "MMMic");
}

TEST_F(MMAudioRouter, VolumeIsClampedAndTheRouteInfoOwnsItsRouter) {
    TRouteInfo info(Driver, Loop);
    EXPECT_EQ(info.Router().AudioIn().Volume(), 100);
    info.Router().AudioIn().SetVolume(-5);
    EXPECT_EQ(info.Router().AudioIn().Volume(), 0);
    info.Router().AudioIn().SetVolume(250);
    EXPECT_EQ(info.Router().AudioIn().Volume(), 100);
    info.Router().Route(0, 1);
    EXPECT_EQ(OpenStreams(), 2u);
    {
        TRouteInfo other(Driver, Loop);
        other.Router().Route(0, 1);  // the same pair twice
        EXPECT_EQ(OpenStreams(), 4u);
    }
    EXPECT_EQ(OpenStreams(), 2u);
}

TEST(MainThreadLoop, PostedWorkAndTimersRunOnTheLoopThread) {
    TMainThreadLoop loop;
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) loop.Post([&order, i] { order.push_back(i); });
    });
    poster.join();
    const auto mainId = std::this_thread::get_id();
    int ticks = 0;
    std::unique_ptr<IMainThreadTimer> timer = loop.CreateTimer(5ms, [&] {
        EXPECT_EQ(std::this_thread::get_id(), mainId);
        if (++ticks == 3) timer.reset();  // a timer may end itself
    });
    EXPECT_TRUE(timer->Enabled());
    ASSERT_TRUE(loop.RunUntil([&] { return ticks == 3 && order.size() == 100; }, 10s));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[size_t(i)], i);
    EXPECT_EQ(timer, nullptr);

    int other = 0;
    auto disabled = loop.CreateTimer(1ms, [&] { ++other; });
    disabled->SetEnabled(false);
    EXPECT_FALSE(loop.RunUntil([&] { return other > 0; }, 30ms));  // the bound ends the run
    disabled->SetEnabled(true);
    EXPECT_TRUE(loop.RunUntil([&] { return other > 0; }, 10s));
}
