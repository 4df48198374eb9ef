// The route engine: live sound from one recording device to one playback device.
//
// A route keeps 20 buffers of 300 bytes (Stereo16bit8000Hz, 9.375 ms each) circulating
// between two devices without copying: the recording device fills a buffer, the very
// same buffer is written to the playback device, and once played it is queued for
// recording again. Each device reports its buffers to a data thread of its own
// (TAudioRouterProcessInDataThread, TAudioRouterProcessOutDataThread); the main thread
// never touches audio data. A route started with only a recording device is a level
// meter: its buffers circulate on the recording device alone.
//
// Threads and locks:
//   - Route, Stop, volume and level receivers belong to the main thread, the thread of
//     the IMainThreadQueue given at creation (see MainThreadQueue.h). Levels are stored
//     by the data threads and reported to OnLevel by each side's 100 ms level timer on
//     the main thread.
//   - Each side has its own lock, held while one of its buffers is handled. A buffer
//     passes from one side to the other only through the driver.
//   - Nothing is allocated or copied while a route runs: the buffers are allocated when
//     the recording side starts and freed when the route has stopped.
//   - A played buffer carries the bytes that were recorded into it. At most
//     MaxPlaybackQueue buffers wait at the playback device: when it falls behind, newer
//     sound is dropped instead of piling up as latency.
//
// Stopping:
//   - Stop closes every device that holds a handle, also one whose open message has not
//     been handled yet, and waits for each device at most StopTimeout: a device that
//     does not close or never acknowledges its close ends in an error (Stop returns
//     false, StopError says why) and the data threads end anyway. Stop is idempotent;
//     after a failed Stop, a later Stop tries again. Destroying a route stops it.
//   - A data thread whose device refuses a buffer (or has vanished) does not stop the
//     route itself: it posts a request to the main thread, where the route is stopped -
//     unless it has been destroyed or restarted meanwhile - and OnStopped is raised.
#pragma once

#include "audio/MainThreadQueue.h"
#include "audio/WaveUtils.h"
#include "platform/ThreadPriority.h"
#include "platform/WaveDriver.h"

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TMMAudioIO;
class TMMAudioRouter;

// The bytes of one route buffer: 75 frames of Stereo16bit8000Hz, 9.375 ms.
constexpr uint32_t RouteBufferSize = 300;

// Raised by Route when a device could not be started; the message is always
// "The audio system was busy.  Try again.", Cause() tells what the device said.
class EAudioRouteBusy : public EWaveAudioError {
public:
    explicit EAudioRouteBusy(std::string cause);
    const std::string& Cause() const { return FCause; }

private:
    std::string FCause;
};

// A data thread: a message loop on the thread's own queue, which its device reports to.
// It starts at creation, raises its own priority where the system allows it (real-time
// scheduling where granted, see ThreadPriority.h), and ends on the device's close message
// or on WM_QUIT; it is not freed by itself.
class TAudioRouterProcessDataThread {
public:
    virtual ~TAudioRouterProcessDataThread();
    TAudioRouterProcessDataThread(const TAudioRouterProcessDataThread&) = delete;
    TAudioRouterProcessDataThread& operator=(const TAudioRouterProcessDataThread&) = delete;

    TMMAudioRouter& Router() const { return FRouter; }
    // The queue the device posts to; it exists from the thread's creation on.
    TWaveMessageQueue& Queue() { return FQueue; }
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    // How the thread is scheduled; waits until the thread has set it.
    TThreadPriority Priority();
    void PostQuit() { FQueue.PostQuit(); }
    // Waits until the loop has ended; false when Deadline came first.
    bool WaitFor(std::chrono::steady_clock::time_point deadline);
    // Ends the thread: posts WM_QUIT unless it has ended, and joins it.
    void Finish();

protected:
    TAudioRouterProcessDataThread(TMMAudioRouter& router, const char* name);
    // Called by the final classes once they are whole.
    void Start();
    // Handles one message; false leaves the loop.
    virtual bool ProcessMessage(const TWaveMessage& msg) = 0;

private:
    void Execute();

    TMMAudioRouter& FRouter;
    const char* FName;
    TWaveMessageQueue FQueue;
    std::atomic<bool> FTerminated{false};
    std::optional<TThreadPriority> FPriority;  // set by the thread; guarded by FDoneLock
    std::mutex FDoneLock;
    std::condition_variable FDone;
    std::thread FThread;
};

class TAudioRouterProcessInDataThread final : public TAudioRouterProcessDataThread {
public:
    explicit TAudioRouterProcessInDataThread(TMMAudioRouter& router);
    ~TAudioRouterProcessInDataThread() override;

protected:
    bool ProcessMessage(const TWaveMessage& msg) override;
};

class TAudioRouterProcessOutDataThread final : public TAudioRouterProcessDataThread {
public:
    explicit TAudioRouterProcessOutDataThread(TMMAudioRouter& router);
    ~TAudioRouterProcessOutDataThread() override;

protected:
    bool ProcessMessage(const TWaveMessage& msg) override;
};

// Receives the level of a device (percent, or -1 for a format without levels).
using TLevelEvent = std::function<void(TMMAudioIO& sender, int level)>;

// One device side of a route.
class TMMAudioIO {
public:
    virtual ~TMMAudioIO();
    TMMAudioIO(const TMMAudioIO&) = delete;
    TMMAudioIO& operator=(const TMMAudioIO&) = delete;

    TMMAudioRouter& Router() const { return FRouter; }
    TWaveKind Kind() const { return FKind; }

    // Main thread. Setting a receiver makes the data thread measure every buffer; the
    // level timer then reports every 100 ms the highest level measured since its last
    // report, so that no sound between two reports goes unseen (the last measured level
    // when no buffer came meanwhile).
    void SetOnLevel(TLevelEvent onLevel);
    const TLevelEvent& OnLevel() const { return FOnLevel; }
    // Percent: 100 leaves the sound unchanged, lower values attenuate, 0 is silence.
    // Values outside 0..100 are clamped. Takes effect with the next buffer.
    void SetVolume(int percent);
    int Volume() const { return FVolume.load(std::memory_order_relaxed); }
    int Level() const { return FLevel.load(std::memory_order_relaxed); }

    int DeviceID() const { return FDeviceID; }
    // The open device, 0 when none.
    TWaveHandle Handle() const { return FHandle.load(std::memory_order_acquire); }
    std::mutex& Lock() { return FLock; }
    TAudioRouterProcessDataThread* DataThread() const { return FDataThread.get(); }
    const TWaveFormatEx& WaveFormat() const { return FWaveFormat; }
    // True between the device's open message and its close message.
    bool Opened() const { return FOpened.load(std::memory_order_acquire); }
    // True while the route is stopped; no buffer is queued again while it is set.
    bool Stopping() const { return FStopping.load(std::memory_order_acquire); }
    const TWaveCaps& Caps() const { return FCaps; }
    IMainThreadTimer& LevelTimer() const { return *FLevelTimer; }
    // Buffers this side has handled since the route started.
    uint64_t BuffersDone() const { return FBuffersDone.load(std::memory_order_relaxed); }
    // Recorded buffers given back for recording at once because the playback side had
    // MaxPlaybackQueue buffers waiting (recording side only).
    uint64_t BuffersDropped() const { return FBuffersDropped.load(std::memory_order_relaxed); }

    // The device's capabilities.
    virtual int GetCaps(TWaveCaps& caps) = 0;
    // Stores the number and fills Caps (the result is not checked); opens nothing. Used
    // to learn a device's name and picture without opening it.
    void SetDevice(int deviceID);
    // The program's picture for the device, chosen from its product name:
    // "MMStereoMix", "MMSpeaker", "MMDigital", "MMMic" or "MMLineIn".
    std::string DeviceBitmapName() const;

    // Hands back every queued buffer (errors are ignored: Close tries again), then ends
    // the level reports: OnLevel gets a final 0 and is unset.
    virtual void Reset();
    // Closes the device when it holds a handle, within Deadline, and ends the data
    // thread. Raises EWaveAudioError when the device did not close or did not
    // acknowledge its close; the data thread has ended then all the same.
    virtual void Close(std::chrono::steady_clock::time_point deadline);
    // Remembers the thread, stores the device and opens it for the thread's queue.
    virtual void Open(std::unique_ptr<TAudioRouterProcessDataThread> thread,
                      const TWaveFormatEx& waveFormat, int deviceID);
    // A buffer came back from the device; on the data thread.
    virtual void BufferReady(TWaveHeader& header) = 0;

protected:
    TMMAudioIO(TMMAudioRouter& router, TWaveKind kind);
    TWaveDriver& Driver() const;
    // Asks the main thread to stop the route after Device refused a buffer; data thread.
    void Fail(TWaveKind device, int result);
    void SetStopping(bool stopping) { FStopping.store(stopping, std::memory_order_release); }
    void CountBuffer() { FBuffersDone.fetch_add(1, std::memory_order_relaxed); }
    // Measures Count bytes of Data when somebody listens.
    void MeasureLevel(const uint8_t* data, size_t count);

private:
    friend class TMMAudioRouter;
    friend class TMMAudioIn;
    friend class TMMAudioOut;
    friend class TAudioRouterProcessInDataThread;
    friend class TAudioRouterProcessOutDataThread;
    void SetOpened(bool opened) { FOpened.store(opened, std::memory_order_release); }
    void LevelTimerTick();
    void LevelReset();

    TMMAudioRouter& FRouter;
    TWaveKind FKind;
    TLevelEvent FOnLevel;
    std::atomic<bool> FWantLevel{false};
    std::atomic<int> FVolume{100};
    std::atomic<int> FLevel{0};
    // The highest level since the level timer's last report; NoPeak when none was measured.
    static constexpr int NoPeak = INT_MIN;
    std::atomic<int> FPeak{NoPeak};
    int FDeviceID = -1;
    std::atomic<TWaveHandle> FHandle{0};
    std::mutex FLock;
    std::unique_ptr<TAudioRouterProcessDataThread> FDataThread;
    TWaveFormatEx FWaveFormat;
    std::atomic<bool> FOpened{false};
    std::atomic<bool> FStopping{false};
    TWaveCaps FCaps;
    std::unique_ptr<IMainThreadTimer> FLevelTimer;
    std::atomic<uint64_t> FBuffersDone{0};
    std::atomic<uint64_t> FBuffersDropped{0};
    std::atomic<int> FQueued{0};  // playback side: buffers written and not done yet
};

// The recording side.
class TMMAudioIn final : public TMMAudioIO {
public:
    explicit TMMAudioIn(TMMAudioRouter& router) : TMMAudioIO(router, TWaveKind::In) {}
    int GetCaps(TWaveCaps& caps) override;
    void Reset() override;
    // A recorded buffer is full: scale it by this side's volume (and by the playback
    // side's, when that is not 100), measure it, and write it to the playback side with
    // the bytes that were recorded - or give it straight back for recording when the
    // playback side is not open, nothing was recorded, or the playback side has
    // MaxPlaybackQueue buffers waiting already.
    void BufferReady(TWaveHeader& header) override;
};

// The playback side.
class TMMAudioOut final : public TMMAudioIO {
public:
    explicit TMMAudioOut(TMMAudioRouter& router) : TMMAudioIO(router, TWaveKind::Out) {}
    int GetCaps(TWaveCaps& caps) override;
    // A played buffer is done: measure it and queue it for recording again.
    void BufferReady(TWaveHeader& header) override;
};

// One buffer of a route: the driver's header over its own data block.
struct TRouteBuffer {
    TWaveHeader Header;
    std::array<uint8_t, RouteBufferSize> Data{};
};

// One route.
class TMMAudioRouter {
public:
    static constexpr TPCMFormat RouteFormat = Stereo16bit8000Hz;
    static constexpr uint32_t BufferSize = RouteBufferSize;
    static constexpr int BufferCount = 20;
    static constexpr std::chrono::milliseconds LevelPeriod{100};
    // A recorded buffer is written only while fewer buffers than this wait at the
    // playback device; otherwise it goes straight back for recording and its sound is
    // dropped, so a playback device that fell behind (or a burst after a stall) cannot
    // raise the route's latency for good.
    static constexpr int MaxPlaybackQueue = 3;

    // Creates both sides, each with its lock and level timer (on Queue's main thread).
    // Nothing is opened. Driver and Queue must outlive the router.
    TMMAudioRouter(TWaveDriver& driver, IMainThreadQueue& queue);
    // Stops the route first.
    ~TMMAudioRouter();
    TMMAudioRouter(const TMMAudioRouter&) = delete;
    TMMAudioRouter& operator=(const TMMAudioRouter&) = delete;

    TMMAudioIn& AudioIn() const { return *FAudioIn; }
    TMMAudioOut& AudioOut() const { return *FAudioOut; }
    const std::vector<std::unique_ptr<TRouteBuffer>>& Buffers() const { return FBuffers; }
    TWaveDriver& Driver() const { return FDriver; }
    IMainThreadQueue& MainThread() const { return FMainThread; }

    // Starts the recording side when aDeviceIn >= 0, then the playback side when
    // aDeviceOut >= 0; a negative number leaves that side unused. The format is always
    // RouteFormat (aPCMFormat is ignored). When a side cannot be started the route is
    // stopped and EAudioRouteBusy is raised. A running route raises
    // EWaveAudioInvalidOperation; a stopped one may be started again.
    void Route(int aDeviceIn, int aDeviceOut, TPCMFormat aPCMFormat = RouteFormat);
    // Stops both sides; see the top of this file. True when every device closed as it
    // should; StopError tells what went wrong otherwise.
    bool Stop();
    const std::string& StopError() const { return FStopError; }
    // Whether any device is open, any data thread exists or any buffer is allocated.
    bool Active() const;

    // How long Stop waits for each device to close (default 2 s).
    void SetStopTimeout(std::chrono::milliseconds timeout) { FStopTimeout = timeout; }
    std::chrono::milliseconds StopTimeout() const { return FStopTimeout; }

    // Main thread: the route stopped by itself (a device refused a buffer or vanished);
    // the text says why. The receiver may destroy the router.
    std::function<void(TMMAudioRouter& sender, const std::string& reason)> OnStopped;

private:
    friend class TMMAudioIO;
    // Any thread: stop the route on the main thread (once per run).
    void RequestStop(const std::string& reason);
    void StoppedByRequest(uint64_t run, const std::string& reason);
    void StartIn(int deviceID, const TWaveFormatEx& format);
    void StartOut(int deviceID, const TWaveFormatEx& format);
    void FreeBuffers();

    struct TToken {
        TMMAudioRouter* Router;
    };

    TWaveDriver& FDriver;
    IMainThreadQueue& FMainThread;
    std::unique_ptr<TMMAudioIn> FAudioIn;
    std::unique_ptr<TMMAudioOut> FAudioOut;
    std::vector<std::unique_ptr<TRouteBuffer>> FBuffers;
    // The route's identity for requests from the data threads: a request holds it weakly,
    // so a destroyed router is never reached.
    std::shared_ptr<TToken> FToken;
    uint64_t FRun = 0;  // counts the starts; a request of an earlier run is ignored
    std::atomic<bool> FStopRequested{false};
    std::chrono::milliseconds FStopTimeout{2000};
    std::string FStopError;
};

// A route as the router window keeps it: the router, created with it, and the colour
// its line is drawn and picked by. Destroying it stops and frees the router.
class TRouteInfo {
public:
    TRouteInfo(TWaveDriver& driver, IMainThreadQueue& queue);
    ~TRouteInfo();
    TRouteInfo(const TRouteInfo&) = delete;
    TRouteInfo& operator=(const TRouteInfo&) = delete;

    TMMAudioRouter& Router() const { return *FRouter; }
    uint32_t Color = 0;

private:
    std::unique_ptr<TMMAudioRouter> FRouter;
};
