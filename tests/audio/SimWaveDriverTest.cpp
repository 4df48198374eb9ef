#include "audio/WaveUtils.h"
#include "platform/SimWaveDriver.h"
#include "WaveTestBuffers.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

// Stereo, 16 bit, 8000 Hz: 32000 bytes per second, a 300-byte buffer is 9.375 ms.
TWaveFormatEx RouteFormat() {
    TWaveFormatEx f;
    FormatToWaveFormat(Stereo16bit8000Hz, f);
    return f;
}

std::vector<uint8_t> Ramp(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + 1);
    return v;
}

class SimWaveDriver : public testing::Test {
protected:
    void SetUp() override {
        Driver.AddDevice(TWaveKind::In, "Line In");
        Driver.AddDevice(TWaveKind::In, "Monitor of Speakers", true);
        Driver.AddDevice(TWaveKind::Out, "Speakers");
    }

    TWaveHandle OpenIn(int id = 0) {
        TWaveHandle h = 0;
        EXPECT_EQ(Driver.Open(TWaveKind::In, id, RouteFormat(), InQueue, 11, h), MMSYSERR_NOERROR);
        return h;
    }
    TWaveHandle OpenOut(int id = 0) {
        TWaveHandle h = 0;
        EXPECT_EQ(Driver.Open(TWaveKind::Out, id, RouteFormat(), OutQueue, 22, h), MMSYSERR_NOERROR);
        return h;
    }
    void Queue(TWaveHandle h, TTestBuffers& b) {
        for (auto& hdr : b.Headers) {
            ASSERT_EQ(Driver.PrepareHeader(h, hdr), MMSYSERR_NOERROR);
            ASSERT_EQ(Driver.AddBuffer(h, hdr), MMSYSERR_NOERROR);
        }
    }

    TSimWaveDriver Driver;
    TWaveMessageQueue InQueue, OutQueue;
};

}  // namespace

TEST_F(SimWaveDriver, RecordsCaptureDataIntoQueuedBuffersInOrder) {
    const auto capture = Ramp(1000);
    Driver.SetCaptureData("Line In", capture, false);
    TWaveHandle in = OpenIn();
    auto open = TakeMessages(InQueue, 1);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].Msg, MM_WIM_OPEN);
    EXPECT_EQ(open[0].Handle, in);
    EXPECT_EQ(open[0].Instance, 11u);

    TTestBuffers b(3, 300);
    Queue(in, b);
    Driver.Advance(20ms);  // not started: nothing recorded
    EXPECT_EQ(InQueue.Count(), 0u);
    ASSERT_EQ(Driver.Start(in), MMSYSERR_NOERROR);
    Driver.Advance(20ms);  // 640 bytes: two full buffers and 40 bytes of the third
    auto data = TakeMessages(InQueue, 2);
    ASSERT_EQ(data.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(data[i].Msg, MM_WIM_DATA);
        ASSERT_EQ(data[i].Header, &b.Headers[i]);
        EXPECT_EQ(b.Headers[i].BytesRecorded, 300u);
        EXPECT_EQ(b.Headers[i].Flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        EXPECT_TRUE(std::equal(b.Data[i].begin(), b.Data[i].end(), capture.begin() + 300 * i));
    }
    EXPECT_EQ(InQueue.Count(), 0u);

    // Stop returns the partly filled buffer.
    ASSERT_EQ(Driver.Stop(in), MMSYSERR_NOERROR);
    auto partial = TakeMessages(InQueue, 1);
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial[0].Header, &b.Headers[2]);
    EXPECT_EQ(b.Headers[2].BytesRecorded, 40u);

    ASSERT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    auto close = TakeMessages(InQueue, 1);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].Msg, MM_WIM_CLOSE);
    EXPECT_EQ(Driver.OpenStreamCount(), 0u);
}

TEST_F(SimWaveDriver, RecordedBufferPlaysAsItIsAndComesBack) {
    const auto capture = Ramp(300);
    Driver.SetCaptureData("Line In", capture);
    TWaveHandle in = OpenIn(), out = OpenOut();
    TakeMessages(InQueue, 1);
    TakeMessages(OutQueue, 1);
    TTestBuffers b(1, 300);
    Queue(in, b);
    ASSERT_EQ(Driver.Start(in), MMSYSERR_NOERROR);
    Driver.Advance(9375us);
    auto rec = TakeMessages(InQueue, 1);
    ASSERT_EQ(rec.size(), 1u);
    TWaveHeader* h = rec[0].Header;
    uint8_t* block = h->Data;

    ASSERT_EQ(Driver.Write(out, *h), MMSYSERR_NOERROR);  // the same header, same memory
    EXPECT_EQ(Driver.QueuedBuffers(TWaveKind::Out, "Speakers"), 1u);
    Driver.Advance(9375us);
    auto done = TakeMessages(OutQueue, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Msg, MM_WOM_DONE);
    EXPECT_EQ(done[0].Header, h);
    EXPECT_EQ(h->Data, block);
    EXPECT_EQ(Driver.PlayedData("Speakers"), capture);

    // Back to the recording side.
    ASSERT_EQ(Driver.AddBuffer(in, *h), MMSYSERR_NOERROR);
    EXPECT_EQ(h->BytesRecorded, 0u);
    ASSERT_EQ(Driver.Reset(in), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Close(out), MMSYSERR_NOERROR);
}

TEST_F(SimWaveDriver, PlaybackPlaysBufferLengthBytesAndCountsGaps) {
    TWaveHandle out = OpenOut();
    TTestBuffers b(2, 300);
    std::fill(b.Data[0].begin(), b.Data[0].end(), 0x11);
    std::fill(b.Data[1].begin(), b.Data[1].end(), 0x22);
    b.Headers[1].BufferLength = 100;  // plays only what the header says
    for (auto& h : b.Headers) {
        ASSERT_EQ(Driver.PrepareHeader(out, h), MMSYSERR_NOERROR);
        ASSERT_EQ(Driver.Write(out, h), MMSYSERR_NOERROR);
    }
    Driver.Advance(1ms);
    ASSERT_EQ(Driver.Stop(out), MMSYSERR_NOERROR);  // paused: time passes, nothing plays
    Driver.Advance(50ms);
    EXPECT_EQ(Driver.PlayedData("Speakers").size(), 32u);
    ASSERT_EQ(Driver.Start(out), MMSYSERR_NOERROR);
    Driver.Advance(50ms);  // 1600 bytes: 400 from the buffers, then a gap
    auto played = Driver.PlayedData("Speakers");
    ASSERT_EQ(played.size(), 400u);
    EXPECT_EQ(played[299], 0x11);
    EXPECT_EQ(played[300], 0x22);
    EXPECT_EQ(Driver.UnderrunBytes("Speakers"), 1600u - 368u);
    EXPECT_EQ(TakeMessages(OutQueue, 3).size(), 3u);  // open + two done
    ASSERT_EQ(Driver.Close(out), MMSYSERR_NOERROR);
}

TEST_F(SimWaveDriver, ResetReturnsEveryQueuedBufferDone) {
    TWaveHandle in = OpenIn(), out = OpenOut();
    TakeMessages(InQueue, 1);
    TakeMessages(OutQueue, 1);
    TTestBuffers rb(4, 300), pb(3, 300);
    Queue(in, rb);
    for (auto& h : pb.Headers) {
        ASSERT_EQ(Driver.PrepareHeader(out, h), MMSYSERR_NOERROR);
        ASSERT_EQ(Driver.Write(out, h), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(Driver.Close(in), WAVERR_STILLPLAYING);
    EXPECT_EQ(Driver.Close(out), WAVERR_STILLPLAYING);
    ASSERT_EQ(Driver.Reset(in), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Reset(out), MMSYSERR_NOERROR);
    auto inMsgs = TakeMessages(InQueue, 4), outMsgs = TakeMessages(OutQueue, 3);
    ASSERT_EQ(inMsgs.size(), 4u);
    ASSERT_EQ(outMsgs.size(), 3u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(inMsgs[i].Msg, MM_WIM_DATA);
        EXPECT_EQ(inMsgs[i].Header, &rb.Headers[i]);
        EXPECT_EQ(rb.Headers[i].Flags, WHDR_DONE | WHDR_PREPARED);
    }
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(outMsgs[i].Header, &pb.Headers[i]);
    EXPECT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.Close(out), MMSYSERR_NOERROR);
}

TEST_F(SimWaveDriver, CallsOutOfOrderFailWithTheirCodes) {
    TWaveHandle in = OpenIn(), out = OpenOut();
    TTestBuffers b(2, 300);
    TWaveHeader& h = b.Headers[0];
    TWaveHeader empty;
    EXPECT_EQ(Driver.PrepareHeader(in, empty), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Driver.AddBuffer(in, h), WAVERR_UNPREPARED);
    EXPECT_EQ(Driver.Write(out, h), WAVERR_UNPREPARED);
    ASSERT_EQ(Driver.PrepareHeader(in, h), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.Write(in, h), MMSYSERR_INVALHANDLE);      // recording handle
    EXPECT_EQ(Driver.AddBuffer(out, h), MMSYSERR_INVALHANDLE);  // playback handle
    ASSERT_EQ(Driver.AddBuffer(in, h), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.AddBuffer(in, h), WAVERR_STILLPLAYING);
    EXPECT_EQ(Driver.Write(out, h), WAVERR_STILLPLAYING);  // still queued for recording
    EXPECT_EQ(Driver.UnprepareHeader(in, h), WAVERR_STILLPLAYING);
    ASSERT_EQ(Driver.Reset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.UnprepareHeader(in, h), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    for (int r : {Driver.Close(in), Driver.Start(in), Driver.Reset(in), Driver.AddBuffer(in, h),
                  Driver.PrepareHeader(in, h), Driver.Start(0)})
        EXPECT_EQ(r, MMSYSERR_INVALHANDLE);

    TWaveHandle bad = 77;
    EXPECT_EQ(Driver.Open(TWaveKind::In, 2, RouteFormat(), InQueue, 0, bad), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(Driver.Open(TWaveKind::Out, -2, RouteFormat(), OutQueue, 0, bad), MMSYSERR_BADDEVICEID);
    TWaveFormatEx f = RouteFormat();
    f.BlockAlign = 3;
    EXPECT_EQ(Driver.Open(TWaveKind::In, 0, f, InQueue, 0, bad), WAVERR_BADFORMAT);
    f = RouteFormat();
    f.FormatTag = 3;
    EXPECT_EQ(Driver.Open(TWaveKind::In, 0, f, InQueue, 0, bad), WAVERR_BADFORMAT);
    ASSERT_EQ(Driver.Close(out), MMSYSERR_NOERROR);
}

TEST_F(SimWaveDriver, InjectedFailuresHitTheChosenCallOnce) {
    Driver.FailNext(TSimCall::Open, MMSYSERR_ALLOCATED, 0, "Speakers");
    TWaveHandle h = 0;
    EXPECT_EQ(Driver.Open(TWaveKind::In, 0, RouteFormat(), InQueue, 0, h), MMSYSERR_NOERROR);
    TWaveHandle out = 0;
    EXPECT_EQ(Driver.Open(TWaveKind::Out, 0, RouteFormat(), OutQueue, 0, out), MMSYSERR_ALLOCATED);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(Driver.Open(TWaveKind::Out, 0, RouteFormat(), OutQueue, 0, out), MMSYSERR_NOERROR);

    // The third buffer is refused.
    Driver.FailNext(TSimCall::AddBuffer, MMSYSERR_NOMEM, 2);
    TTestBuffers b(4, 300);
    std::vector<int> results;
    for (auto& hdr : b.Headers) {
        Driver.PrepareHeader(h, hdr);
        results.push_back(Driver.AddBuffer(h, hdr));
    }
    EXPECT_EQ(results, (std::vector<int>{0, 0, MMSYSERR_NOMEM, 0}));
    EXPECT_EQ(b.Headers[2].Flags & WHDR_INQUEUE, 0u);
    EXPECT_EQ(Driver.QueuedBuffers(TWaveKind::In, "Line In"), 3u);

    Driver.FailNext(TSimCall::Close, MMSYSERR_ERROR);
    Driver.Reset(h);
    EXPECT_EQ(Driver.Close(h), MMSYSERR_ERROR);
    EXPECT_EQ(Driver.Close(h), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.Close(out), MMSYSERR_NOERROR);
}

TEST_F(SimWaveDriver, VanishedDeviceReturnsItsBuffersAndRefusesMore) {
    TWaveHandle in = OpenIn(1);
    TakeMessages(InQueue, 1);
    TTestBuffers b(3, 300);
    Queue(in, b);
    ASSERT_EQ(Driver.Start(in), MMSYSERR_NOERROR);
    Driver.RemoveDevice(TWaveKind::In, "Monitor of Speakers");
    auto back = TakeMessages(InQueue, 3);
    ASSERT_EQ(back.size(), 3u);
    for (auto& m : back) EXPECT_EQ(m.Msg, MM_WIM_DATA);
    EXPECT_EQ(Driver.AddBuffer(in, b.Headers[0]), MMSYSERR_NODRIVER);
    EXPECT_EQ(Driver.Start(in), MMSYSERR_NODRIVER);
    EXPECT_EQ(Driver.NumDevs(TWaveKind::In), 1);
    TWaveCaps caps;
    EXPECT_EQ(Driver.GetDevCaps(TWaveKind::In, 1, caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(Driver.Reset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    auto close = TakeMessages(InQueue, 1);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].Msg, MM_WIM_CLOSE);
}

TEST_F(SimWaveDriver, HeldOpenAndDroppedCloseMessages) {
    Driver.HoldOpenMessages(true);
    TWaveHandle a = OpenIn(), b = OpenOut();
    EXPECT_EQ(InQueue.Count() + OutQueue.Count(), 0u);
    // A stream closed before its open message went out posts both, in order.
    ASSERT_EQ(Driver.Close(a), MMSYSERR_NOERROR);
    auto msgs = TakeMessages(InQueue, 2);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].Msg, MM_WIM_OPEN);
    EXPECT_EQ(msgs[1].Msg, MM_WIM_CLOSE);
    Driver.HoldOpenMessages(false);
    auto open = TakeMessages(OutQueue, 1);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].Msg, MM_WOM_OPEN);

    Driver.DropCloseMessages(true);
    ASSERT_EQ(Driver.Close(b), MMSYSERR_NOERROR);
    TWaveMessage m;
    EXPECT_FALSE(OutQueue.Get(m, 20ms));
    EXPECT_EQ(Driver.Close(b), MMSYSERR_INVALHANDLE);
}

TEST_F(SimWaveDriver, UnavailableSystemHasNoDevices) {
    Driver.SetUnavailable("no sound system here");
    EXPECT_EQ(Driver.NumDevs(TWaveKind::In), 0);
    EXPECT_EQ(Driver.CatalogueError(), "no sound system here");
    TWaveHandle h = 0;
    EXPECT_EQ(Driver.Open(TWaveKind::Out, -1, RouteFormat(), OutQueue, 0, h), MMSYSERR_NODRIVER);
}

TEST_F(SimWaveDriver, OverrunWhenNoBufferIsQueuedAndEightBitSilence) {
    TWaveFormatEx f;
    FormatToWaveFormat(Mono8Bit8000Hz, f);
    TWaveHandle in = 0;
    ASSERT_EQ(Driver.Open(TWaveKind::In, 0, f, InQueue, 0, in), MMSYSERR_NOERROR);
    ASSERT_EQ(Driver.Start(in), MMSYSERR_NOERROR);
    Driver.Advance(10ms);
    EXPECT_EQ(Driver.OverrunBytes("Line In"), 80u);
    TTestBuffers b(1, 80);
    Queue(in, b);
    Driver.Advance(10ms);
    EXPECT_EQ(TakeMessages(InQueue, 2).size(), 2u);
    EXPECT_EQ(b.Data[0], std::vector<uint8_t>(80, 0x80));
    ASSERT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
}

TEST_F(SimWaveDriver, DataThreadsHandBuffersAcrossWhileTheClockRuns) {
    // A small route: the in thread writes every recorded buffer to the playback device,
    // the out thread gives every played buffer back to the recording device.
    const auto capture = Ramp(3000);
    Driver.SetCaptureData("Line In", capture);
    TWaveHandle in = OpenIn(), out = OpenOut();
    TTestBuffers b(8, 300);
    Queue(in, b);
    std::thread inThread([&] {
        TWaveMessage m;
        while (InQueue.Get(m))
            if (m.Msg == MM_WIM_DATA && m.Header->BytesRecorded == 300) Driver.Write(out, *m.Header);
    });
    std::thread outThread([&] {
        TWaveMessage m;
        while (OutQueue.Get(m))
            if (m.Msg == MM_WOM_DONE) Driver.AddBuffer(in, *m.Header);
    });
    ASSERT_EQ(Driver.Start(in), MMSYSERR_NOERROR);
    for (int i = 0; i < 200; ++i) {
        Driver.Advance(2ms);
        // Let the threads keep pace with the clock, as real time would.
        ASSERT_TRUE(Driver.WaitUntil(
            [&] {
                return Driver.QueuedBuffers(TWaveKind::In, "Line In") +
                           Driver.QueuedBuffers(TWaveKind::Out, "Speakers") ==
                       8;
            },
            10s));
    }
    Driver.Reset(in);
    Driver.Reset(out);
    InQueue.PostQuit();
    OutQueue.PostQuit();
    inThread.join();
    outThread.join();
    // Everything played is the capture data in order.
    auto played = Driver.PlayedData("Speakers");
    ASSERT_GT(played.size(), 10000u);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], capture[i % capture.size()]) << "at " << i;
    Driver.Reset(in);
    EXPECT_EQ(Driver.Close(in), MMSYSERR_NOERROR);
    EXPECT_EQ(Driver.Close(out), MMSYSERR_NOERROR);
}

TEST(WaveMessageQueue, KeepsOrderWhenGrowingAndAcrossThreads) {
    TWaveMessageQueue q(4);
    for (uintptr_t i = 0; i < 10; ++i) q.Post({MM_WIM_DATA, 1, i, nullptr});
    q.PostQuit();
    TWaveMessage m;
    for (uintptr_t i = 0; i < 10; ++i) {
        ASSERT_TRUE(q.Get(m));
        EXPECT_EQ(m.Instance, i);
    }
    EXPECT_FALSE(q.Get(m));
    EXPECT_EQ(m.Msg, WM_QUIT);
    EXPECT_FALSE(q.Get(m, 1ms));

    constexpr int PerThread = 2000;
    std::vector<std::thread> producers;
    for (uintptr_t t = 0; t < 3; ++t)
        producers.emplace_back([&q, t] {
            for (uintptr_t i = 0; i < PerThread; ++i) q.Post({MM_WOM_DONE, t, i, nullptr});
        });
    std::vector<uintptr_t> next(3, 0);
    for (int n = 0; n < 3 * PerThread; ++n) {
        ASSERT_TRUE(q.Get(m));
        ASSERT_EQ(m.Instance, next[m.Handle]++);  // each producer's messages in order
    }
    for (auto& p : producers) p.join();
}
