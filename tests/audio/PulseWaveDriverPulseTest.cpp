#include "PulseFixture.h"
#include "WaveTestBuffers.h"
#include "audio/AudioRedirector.h"
#include "platform/PulseWaveDriver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using D = TPulseTestDevices;

namespace {

TWaveFormatEx RouteFormat() {
    TWaveFormatEx f;
    FormatToWaveFormat(Stereo16bit8000Hz, f);
    return f;
}

class PulseWaveDriver : public testing::Test {
protected:
    PulseWaveDriver() : Driver(PulseDaemon().Server()) {}
    TPulseWaveDriver Driver;
};

const std::string MonitorA = std::string("Monitor of ") + D::SinkADescription;
const std::string MonitorB = std::string("Monitor of ") + D::SinkBDescription;

}  // namespace

TEST_F(PulseWaveDriver, CatalogueListsExactlyTheVirtualDevices) {
    struct {
        TWaveKind Kind;
        int Number;
        std::string Name, Ident;
        bool Monitor;
    } expected[] = {
        {TWaveKind::In, 0, MonitorA, std::string(D::SinkA) + ".monitor", true},
        {TWaveKind::In, 1, MonitorB, std::string(D::SinkB) + ".monitor", true},
        {TWaveKind::In, 2, D::SineDescription, D::Sine, false},
        {TWaveKind::Out, 0, D::SinkADescription, D::SinkA, false},
        {TWaveKind::Out, 1, D::SinkBDescription, D::SinkB, false},
        {TWaveKind::In, -1, D::SineDescription, D::Sine, false},    // the server's defaults
        {TWaveKind::Out, -1, D::SinkADescription, D::SinkA, false},
    };
    ASSERT_EQ(Driver.NumDevs(TWaveKind::In), 3);
    ASSERT_EQ(Driver.NumDevs(TWaveKind::Out), 2);
    EXPECT_EQ(Driver.CatalogueError(), "");
    for (const auto& e : expected) {
        SCOPED_TRACE(e.Ident);
        TWaveCaps caps;
        ASSERT_EQ(Driver.GetDevCaps(e.Kind, e.Number, caps), MMSYSERR_NOERROR);
        EXPECT_EQ(caps.ProductName, e.Name);
        EXPECT_EQ(caps.Ident, e.Ident);
        EXPECT_EQ(caps.IsMonitor, e.Monitor);
        EXPECT_GT(caps.Channels, 0);
        EXPECT_GT(caps.SampleRate, 0u);
    }
    TWaveCaps caps;
    EXPECT_EQ(Driver.GetDevCaps(TWaveKind::In, 3, caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(Driver.GetDevCaps(TWaveKind::Out, -2, caps), MMSYSERR_BADDEVICEID);

    EXPECT_EQ(FormatDeviceCatalogue(Driver),
              "Recording devices:\n"
              "  0: " + MonitorA + " [" + D::SinkA + ".monitor]\n"
              "  1: " + MonitorB + " [" + D::SinkB + ".monitor]\n"
              "  2: " + D::SineDescription + " [" + D::Sine + "]\n"
              "Playback devices:\n"
              "  0: " + D::SinkADescription + " [" + D::SinkA + "]\n"
              "  1: " + D::SinkBDescription + " [" + D::SinkB + "]\n");
}

TEST_F(PulseWaveDriver, DeviceIDRulesOnTheServer) {
    TAudioRedirector r(Driver);
    EXPECT_EQ(r.Input().NumDevs(), 3);
    r.Output().SetDeviceID(0);
    EXPECT_EQ(r.Output().DeviceName(), D::SinkADescription);  // whole
    try {
        r.Output().SetDeviceID(2);
        FAIL() << "no exception";
    } catch (const EWaveAudioSysError& e) {
        EXPECT_EQ(e.Result(), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(std::string(e.what()), WaveErrorText(MMSYSERR_BADDEVICEID));
    }
    EXPECT_EQ(r.Output().DeviceID(), 0);
    r.Input().SetDeviceID(1);
    EXPECT_EQ(r.Input().DeviceName(), MonitorB);
}

TEST(PulseWaveDriverUnreachable, EmptyCatalogueWithAClearReason) {
    const std::string server = "unix:" + PulseDaemon().Folder() + "/no-such-socket";
    TPulseWaveDriver driver(server);
    EXPECT_EQ(driver.NumDevs(TWaveKind::In), 0);
    EXPECT_EQ(driver.NumDevs(TWaveKind::Out), 0);
    const std::string error = driver.CatalogueError();
    EXPECT_NE(error.find("Cannot connect to the sound server \"" + server + "\""), std::string::npos) << error;
    TWaveCaps caps;
    EXPECT_EQ(driver.GetDevCaps(TWaveKind::Out, 0, caps), MMSYSERR_NODRIVER);
    TWaveMessageQueue q;
    TWaveHandle h = 0;
    EXPECT_EQ(driver.Open(TWaveKind::In, -1, RouteFormat(), q, 0, h), MMSYSERR_NODRIVER);
    EXPECT_NE(FormatDeviceCatalogue(driver).find("Error: " + error), std::string::npos);
}

TEST_F(PulseWaveDriver, OpenRefusesBadNumbersAndFormats) {
    ASSERT_EQ(Driver.NumDevs(TWaveKind::Out), 2);
    TWaveMessageQueue q;
    TWaveHandle h = 0;
    EXPECT_EQ(Driver.Open(TWaveKind::Out, 2, RouteFormat(), q, 0, h), MMSYSERR_BADDEVICEID);
    TWaveFormatEx f = RouteFormat();
    f.BitsPerSample = 24;
    EXPECT_EQ(Driver.Open(TWaveKind::Out, 0, f, q, 0, h), WAVERR_BADFORMAT);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(q.Count(), 0u);
}

TEST_F(PulseWaveDriver, RecordsTheSineSource) {
    ASSERT_EQ(Driver.NumDevs(TWaveKind::In), 3);
    TWaveMessageQueue q;
    TWaveHandle in = 0;
    ASSERT_EQ(Driver.Open(TWaveKind::In, 2, RouteFormat(), q, 5, in), MMSYSERR_NOERROR);
    auto open = TakeMessages(q, 1);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].Msg, MM_WIM_OPEN);
    EXPECT_EQ(open[0].Instance, 5u);

    TTestBuffers b(20, 300);
    for (auto& h : b.Headers) {
        ASSERT_EQ(Driver.PrepareHeader(in, h), MMSYSERR_NOERROR);
        ASSERT_EQ(Driver.AddBuffer(in, h), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(Driver.Start(in), MMSYSERR_NOERROR);
    int peak = 0;
    // The sine source delivers its sound in bursts of two seconds: one round of the 20
    // buffers comes from the first burst.
    for (int i = 0; i < 20; ++i) {
        auto m = TakeMessages(q, 1);
        ASSERT_EQ(m.size(), 1u) << "buffer " << i;
        ASSERT_EQ(m[0].Msg, MM_WIM_DATA);
        TWaveHeader& h = *m[0].Header;
        ASSERT_EQ(h.BytesRecorded, 300u);
        peak = std::max(peak, PeakLevel(h.Data, h.BytesRecorded, RouteFormat()));
        ASSERT_EQ(Driver.AddBuffer(in, h), MMSYSERR_NOERROR);
    }
    EXPECT_GT(peak, 10);

    ASSERT_EQ(Driver.Reset(in), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    auto rest = TakeMessages(q, 21);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back().Msg, MM_WIM_CLOSE);
    for (auto& h : b.Headers) EXPECT_EQ(h.Flags & WHDR_INQUEUE, 0u);
    EXPECT_EQ(Driver.Close(in), MMSYSERR_INVALHANDLE);
}

TEST_F(PulseWaveDriver, WhatIsPlayedOnASinkIsRecordedFromItsMonitor) {
    ASSERT_EQ(Driver.NumDevs(TWaveKind::In), 3);
    ASSERT_EQ(Driver.NumDevs(TWaveKind::Out), 2);
    const TWaveFormatEx f = RouteFormat();
    TWaveMessageQueue inQ, outQ;
    TWaveHandle in = 0, out = 0;
    ASSERT_EQ(Driver.Open(TWaveKind::In, 1, f, inQ, 0, in), MMSYSERR_NOERROR);   // monitor of B
    ASSERT_EQ(Driver.Open(TWaveKind::Out, 1, f, outQ, 0, out), MMSYSERR_NOERROR);  // sink B
    TTestBuffers rec(20, 300), play(20, 300);
    for (auto& h : rec.Headers) {
        ASSERT_EQ(Driver.PrepareHeader(in, h), MMSYSERR_NOERROR);
        ASSERT_EQ(Driver.AddBuffer(in, h), MMSYSERR_NOERROR);
    }
    // A 400 Hz tone at half scale (16384): 20 frames per period.
    for (auto& data : play.Data)
        for (size_t frame = 0; frame < 75; ++frame) {
            auto s = int16_t(std::lround(16384 * std::sin(2 * M_PI * double(frame) / 20)));
            for (int ch = 0; ch < 2; ++ch) {
                data[frame * 4 + ch * 2] = uint8_t(s & 0xFF);
                data[frame * 4 + ch * 2 + 1] = uint8_t((s >> 8) & 0xFF);
            }
        }
    for (auto& h : play.Headers) ASSERT_EQ(Driver.PrepareHeader(out, h), MMSYSERR_NOERROR);
    ASSERT_EQ(TakeMessages(inQ, 1).size(), 1u);
    ASSERT_EQ(TakeMessages(outQ, 1).size(), 1u);
    ASSERT_EQ(Driver.Start(in), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Start(out), MMSYSERR_NOERROR);

    // Keep the tone going (each done buffer is written again) until it shows up.
    for (auto& h : play.Headers) ASSERT_EQ(Driver.Write(out, h), MMSYSERR_NOERROR);
    int peak = 0, buffers = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (peak < 45 && std::chrono::steady_clock::now() < deadline) {
        TWaveMessage m;
        while (outQ.Get(m, std::chrono::milliseconds(0))) {
            if (m.Msg == MM_WOM_DONE) {
                ASSERT_EQ(Driver.Write(out, *m.Header), MMSYSERR_NOERROR);
            }
        }
        if (!inQ.Get(m, std::chrono::milliseconds(50))) continue;
        ASSERT_EQ(m.Msg, MM_WIM_DATA);
        ++buffers;
        peak = std::max(peak, PeakLevel(m.Header->Data, m.Header->BytesRecorded, f));
        ASSERT_EQ(Driver.AddBuffer(in, *m.Header), MMSYSERR_NOERROR);
    }
    EXPECT_GE(peak, 45) << "after " << buffers << " recorded buffers";
    EXPECT_LE(peak, 55);

    ASSERT_EQ(Driver.Reset(out), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Reset(in), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Close(out), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.OpenStreamCount(), 0u);
}

TEST_F(PulseWaveDriver, VanishedDeviceGivesItsBuffersBack) {
    std::string module;
    ASSERT_EQ(PulseDaemon().Pactl("load-module module-null-sink sink_name=brevanta_test_gone", &module), 0)
        << module;
    ASSERT_EQ(Driver.NumDevs(TWaveKind::In), 4);
    TAudioRedirector r(Driver);
    r.Input().SetDeviceID(3);
    EXPECT_EQ(r.Input().DeviceName().rfind("Monitor of ", 0), 0u);

    TWaveMessageQueue q;
    TWaveHandle in = 0;
    ASSERT_EQ(Driver.Open(TWaveKind::In, 3, RouteFormat(), q, 0, in), MMSYSERR_NOERROR);
    ASSERT_EQ(TakeMessages(q, 1).size(), 1u);
    TTestBuffers b(5, 300);
    for (auto& h : b.Headers) {
        ASSERT_EQ(Driver.PrepareHeader(in, h), MMSYSERR_NOERROR);
        ASSERT_EQ(Driver.AddBuffer(in, h), MMSYSERR_NOERROR);
    }
    // Not started: the buffers stay queued until the device goes away.
    std::string out;
    ASSERT_EQ(PulseDaemon().Pactl("unload-module " + module, &out), 0) << out;
    auto back = TakeMessages(q, 5);
    ASSERT_EQ(back.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(back[i].Msg, MM_WIM_DATA);
        EXPECT_EQ(back[i].Header, &b.Headers[i]);
        EXPECT_EQ(b.Headers[i].BytesRecorded, 0u);
    }
    EXPECT_EQ(Driver.AddBuffer(in, b.Headers[0]), MMSYSERR_NODRIVER);
    EXPECT_EQ(Driver.Start(in), MMSYSERR_NODRIVER);
    EXPECT_EQ(r.Input().DeviceName(), "");  // gone: empty, no error
    ASSERT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    auto close = TakeMessages(q, 1);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].Msg, MM_WIM_CLOSE);
    EXPECT_EQ(Driver.NumDevs(TWaveKind::In), 3);
}

// A playback stream that runs dry (here: nothing more is written) makes the driver's
// reserve grow a step at a time, up to its limit; setting the start amount starts again.
TEST_F(PulseWaveDriver, PlaybackThatRunsDryGetsALargerReserveUpToALimit) {
    using namespace std::chrono;
    const microseconds start = Driver.PlaybackReserve();
    const microseconds limit = start + TPulseWaveDriver::MaxReserveGrowth;
    ASSERT_EQ(Driver.NumDevs(TWaveKind::Out), 2);
    TWaveMessageQueue q;
    TWaveHandle out = 0;
    ASSERT_EQ(Driver.Open(TWaveKind::Out, 1, RouteFormat(), q, 0, out), MMSYSERR_NOERROR);
    ASSERT_EQ(TakeMessages(q, 1).size(), 1u);
    // Each round plays more than the largest reserve, then nothing.
    TTestBuffers play(8, 300);  // 75 ms
    for (auto& h : play.Headers) ASSERT_EQ(Driver.PrepareHeader(out, h), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Start(out), MMSYSERR_NOERROR);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const uint64_t dry = Driver.Underflows();
        const microseconds before = Driver.PlaybackReserve();
        for (auto& h : play.Headers) ASSERT_EQ(Driver.Write(out, h), MMSYSERR_NOERROR);
        ASSERT_EQ(TakeMessages(q, play.Headers.size(), seconds(20)).size(), play.Headers.size());
        const auto deadline = steady_clock::now() + seconds(20);
        while (Driver.Underflows() == dry && steady_clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(5));  // poll step
        ASSERT_GT(Driver.Underflows(), dry);
        // A busy moment may have made it run dry once more: a step or more, whole steps.
        const microseconds now = Driver.PlaybackReserve();
        if (before < limit) {
            EXPECT_GT(now.count(), before.count());
        }
        EXPECT_LE(now.count(), limit.count());
        EXPECT_EQ((now - start).count() % TPulseWaveDriver::ReserveStep.count(), 0);
    }
    EXPECT_EQ(Driver.PlaybackReserve().count(), limit.count());
    ASSERT_EQ(Driver.Reset(out), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Close(out), MMSYSERR_NOERROR);
    Driver.SetPlaybackStart(start);
    EXPECT_EQ(Driver.PlaybackReserve().count(), start.count());
}
