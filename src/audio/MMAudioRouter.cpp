#include "audio/MMAudioRouter.h"

#include "common/SysUtils.h"

#include <pthread.h>

namespace {

using TClock = std::chrono::steady_clock;

// Between two attempts to close a device that is still busy.
constexpr std::chrono::milliseconds CloseRetryStep{10};

const char* DeviceText(TWaveKind kind) {
    return kind == TWaveKind::In ? "The recording device" : "The playback device";
}

}  // namespace

EAudioRouteBusy::EAudioRouteBusy(std::string cause)
    : EWaveAudioError("The audio system was busy.  Try again."), FCause(std::move(cause)) {}

// --- data threads ----------------------------------------------------------------------

TAudioRouterProcessDataThread::TAudioRouterProcessDataThread(TMMAudioRouter& router, const char* name)
    : FRouter(router), FName(name) {}

TAudioRouterProcessDataThread::~TAudioRouterProcessDataThread() { Finish(); }

void TAudioRouterProcessDataThread::Start() { FThread = std::thread([this] { Execute(); }); }

void TAudioRouterProcessDataThread::Execute() {
    pthread_setname_np(pthread_self(), FName);
    const TThreadPriority priority = RaiseAudioThreadPriority();
    {
        std::lock_guard<std::mutex> lock(FDoneLock);
        FPriority = priority;
    }
    FDone.notify_all();
    TWaveMessage msg;
    while (FQueue.Get(msg))
        if (!ProcessMessage(msg)) break;
    {
        std::lock_guard<std::mutex> lock(FDoneLock);
        FTerminated.store(true, std::memory_order_release);
    }
    FDone.notify_all();
}

TThreadPriority TAudioRouterProcessDataThread::Priority() {
    std::unique_lock<std::mutex> lock(FDoneLock);
    FDone.wait(lock, [this] { return FPriority.has_value(); });
    return *FPriority;
}

bool TAudioRouterProcessDataThread::WaitFor(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(FDoneLock);
    return FDone.wait_until(lock, deadline, [this] { return Terminated(); });
}

void TAudioRouterProcessDataThread::Finish() {
    if (!FThread.joinable()) return;
    if (!Terminated()) PostQuit();
    // The loop only ever waits on its own queue, so it ends at once.
    FThread.join();
}

TAudioRouterProcessInDataThread::TAudioRouterProcessInDataThread(TMMAudioRouter& router)
    : TAudioRouterProcessDataThread(router, "brv-route-in") {
    Start();
}

TAudioRouterProcessInDataThread::~TAudioRouterProcessInDataThread() { Finish(); }

bool TAudioRouterProcessInDataThread::ProcessMessage(const TWaveMessage& msg) {
    TMMAudioIn& in = Router().AudioIn();
    switch (msg.Msg) {
    case MM_WIM_OPEN:
        in.SetOpened(true);
        return true;
    case MM_WIM_DATA:
        if (msg.Header) in.BufferReady(*msg.Header);
        return true;
    case MM_WIM_CLOSE:
        in.SetOpened(false);
        return false;
    default:
        return true;
    }
}

TAudioRouterProcessOutDataThread::TAudioRouterProcessOutDataThread(TMMAudioRouter& router)
    : TAudioRouterProcessDataThread(router, "brv-route-out") {
    Start();
}

TAudioRouterProcessOutDataThread::~TAudioRouterProcessOutDataThread() { Finish(); }

bool TAudioRouterProcessOutDataThread::ProcessMessage(const TWaveMessage& msg) {
    TMMAudioOut& out = Router().AudioOut();
    switch (msg.Msg) {
    case MM_WOM_OPEN:
        out.SetOpened(true);
        return true;
    case MM_WOM_DONE:
        if (msg.Header) out.BufferReady(*msg.Header);
        return true;
    case MM_WOM_CLOSE:
        out.SetOpened(false);
        return false;
    default:
        return true;
    }
}

// --- TMMAudioIO ------------------------------------------------------------------------

TMMAudioIO::TMMAudioIO(TMMAudioRouter& router, TWaveKind kind) : FRouter(router), FKind(kind) {
    FLevelTimer = router.MainThread().CreateTimer(TMMAudioRouter::LevelPeriod, [this] { LevelTimerTick(); });
}

TMMAudioIO::~TMMAudioIO() = default;

TWaveDriver& TMMAudioIO::Driver() const { return FRouter.Driver(); }

void TMMAudioIO::SetOnLevel(TLevelEvent onLevel) {
    FOnLevel = std::move(onLevel);
    FWantLevel.store(bool(FOnLevel), std::memory_order_relaxed);
}

void TMMAudioIO::SetVolume(int percent) {
    FVolume.store(percent < 0 ? 0 : percent > 100 ? 100 : percent, std::memory_order_relaxed);
}

void TMMAudioIO::SetDevice(int deviceID) {
    FDeviceID = deviceID;
    TWaveCaps caps;
    GetCaps(caps);
    FCaps = caps;
}

std::string TMMAudioIO::DeviceBitmapName() const {
    const std::string& name = FCaps.ProductName;
    const std::string lower = LowerCase(name);
    auto has = [](const std::string& s, const char* part) { return s.find(part) != std::string::npos; };
    if (has(lower, "stereo")) return "MMStereoMix";
    if (has(lower, "speaker")) return "MMSpeaker";
    if (has(lower, "digital")) return "MMDigital";
    if (has(lower, "audio")) return "MMMic";
    if (has(lower, "mic")) return "MMMic";
    if (has(lower, "line")) return "MMLineIn";
    if (has(name, "IN")) return "MMLineIn";
    if (has(name, "OUT")) return "MMLineIn";
    return "MMMic";
}

void TMMAudioIO::LevelTimerTick() {
    if (!FOnLevel) return;
    const int peak = FPeak.exchange(NoPeak, std::memory_order_relaxed);
    TLevelEvent onLevel = FOnLevel;  // the receiver may replace itself
    onLevel(*this, peak == NoPeak ? Level() : peak);
}

void TMMAudioIO::LevelReset() {
    if (!FOnLevel) return;
    TLevelEvent onLevel = std::move(FOnLevel);
    SetOnLevel(nullptr);
    onLevel(*this, 0);
}

void TMMAudioIO::MeasureLevel(const uint8_t* data, size_t count) {
    if (!FWantLevel.load(std::memory_order_relaxed)) return;
    const int level = PeakLevel(data, count, FWaveFormat);
    FLevel.store(level, std::memory_order_relaxed);
    int peak = FPeak.load(std::memory_order_relaxed);
    while (level > peak && !FPeak.compare_exchange_weak(peak, level, std::memory_order_relaxed)) {
    }
}

void TMMAudioIO::Fail(TWaveKind device, int result) {
    FRouter.RequestStop(std::string(DeviceText(device)) + " stopped taking sound: " +
                        WaveAudioErrorText(result));
}

void TMMAudioIO::Reset() {
    if (TWaveHandle h = Handle()) Driver().Reset(h);
    LevelReset();
}

void TMMAudioIO::Close(std::chrono::steady_clock::time_point deadline) {
    std::string error;
    bool closeMessageComing = false;
    if (TWaveHandle h = Handle()) {
        for (;;) {
            int r = Driver().Close(h);
            if (r == MMSYSERR_NOERROR) {
                closeMessageComing = true;
                break;
            }
            if (r == MMSYSERR_INVALHANDLE) break;  // closed already
            if (r == WAVERR_STILLPLAYING) Driver().Reset(h);
            if (TClock::now() >= deadline) {
                error = std::string(DeviceText(FKind)) + " did not close: " + WaveAudioErrorText(r);
                break;
            }
            std::this_thread::sleep_for(CloseRetryStep);
        }
        if (error.empty()) FHandle.store(0, std::memory_order_release);
    }
    if (FDataThread) {
        // The thread leaves its loop when it handles the close message.
        if (closeMessageComing && !FDataThread->WaitFor(deadline))
            error = std::string(DeviceText(FKind)) + " did not confirm that it closed.";
        FDataThread->Finish();
        // While the device is open it may still post to the thread's queue.
        if (Handle() == 0) FDataThread.reset();
    }
    if (Handle() == 0) {
        SetOpened(false);
        SetStopping(false);
    }
    if (!error.empty()) throw EWaveAudioError(error);
}

void TMMAudioIO::Open(std::unique_ptr<TAudioRouterProcessDataThread> thread, const TWaveFormatEx& waveFormat,
                      int deviceID) {
    SetStopping(false);
    SetOpened(false);
    FDataThread = std::move(thread);
    FBuffersDone.store(0, std::memory_order_relaxed);
    FBuffersDropped.store(0, std::memory_order_relaxed);
    FQueued.store(0, std::memory_order_relaxed);
    FPeak.store(NoPeak, std::memory_order_relaxed);
    SetDevice(deviceID);
    FWaveFormat = waveFormat;
    TWaveHandle h = 0;
    int r = Driver().Open(FKind, deviceID, FWaveFormat, FDataThread->Queue(), reinterpret_cast<uintptr_t>(&FRouter), h);
    FHandle.store(h, std::memory_order_release);
    RaiseOnWaveError(r);
}

// --- TMMAudioIn ------------------------------------------------------------------------

int TMMAudioIn::GetCaps(TWaveCaps& caps) { return Driver().GetDevCaps(TWaveKind::In, DeviceID(), caps); }

void TMMAudioIn::Reset() {
    SetStopping(true);
    TMMAudioIO::Reset();
}

void TMMAudioIn::BufferReady(TWaveHeader& header) {
    std::lock_guard<std::mutex> lock(Lock());
    CountBuffer();
    const uint32_t bytes = std::min(header.BytesRecorded, TMMAudioRouter::BufferSize);
    TMMAudioOut& out = Router().AudioOut();
    if (int volume = Volume(); volume != 100) ScaleVolume(header.Data, bytes, WaveFormat(), volume);
    if (int volume = out.Volume(); volume != 100) ScaleVolume(header.Data, bytes, WaveFormat(), volume);
    MeasureLevel(header.Data, bytes);
    if (Stopping()) return;  // kept until the route is freed
    const TWaveHandle outHandle = out.Handle();
    if (bytes > 0 && out.Opened() && outHandle != 0) {
        if (out.FQueued.load(std::memory_order_acquire) < TMMAudioRouter::MaxPlaybackQueue) {
            header.BufferLength = bytes;  // the playback device plays what was recorded
            out.FQueued.fetch_add(1, std::memory_order_acq_rel);
            const int r = Driver().Write(outHandle, header);
            if (r == MMSYSERR_NOERROR) return;
            out.FQueued.fetch_sub(1, std::memory_order_acq_rel);
            header.BufferLength = TMMAudioRouter::BufferSize;
            Fail(TWaveKind::Out, r);
            return;
        }
        FBuffersDropped.fetch_add(1, std::memory_order_relaxed);  // the playback side fell behind
    }
    // Nothing to play it on (yet): the sound of this moment is dropped.
    header.BufferLength = TMMAudioRouter::BufferSize;
    if (const int r = Driver().AddBuffer(Handle(), header)) Fail(TWaveKind::In, r);
}

// --- TMMAudioOut -----------------------------------------------------------------------

int TMMAudioOut::GetCaps(TWaveCaps& caps) { return Driver().GetDevCaps(TWaveKind::Out, DeviceID(), caps); }

void TMMAudioOut::BufferReady(TWaveHeader& header) {
    std::lock_guard<std::mutex> lock(Lock());
    CountBuffer();
    FQueued.fetch_sub(1, std::memory_order_acq_rel);
    MeasureLevel(header.Data, std::min(header.BufferLength, TMMAudioRouter::BufferSize));
    header.BufferLength = TMMAudioRouter::BufferSize;
    if (Stopping()) return;
    const TWaveHandle inHandle = Router().AudioIn().Handle();
    const int r = inHandle ? Driver().AddBuffer(inHandle, header) : MMSYSERR_INVALHANDLE;
    if (r) Fail(TWaveKind::In, r);
}

// --- TMMAudioRouter --------------------------------------------------------------------

TMMAudioRouter::TMMAudioRouter(TWaveDriver& driver, IMainThreadQueue& queue)
    : FDriver(driver), FMainThread(queue), FAudioIn(std::make_unique<TMMAudioIn>(*this)),
      FAudioOut(std::make_unique<TMMAudioOut>(*this)), FToken(std::make_shared<TToken>(TToken{this})) {}

TMMAudioRouter::~TMMAudioRouter() {
    Stop();
    if (Active()) {
        // A device refused to close for the whole stop time: it may still hold buffers
        // and post to its data thread's queue, so both stay allocated for it.
        for (auto& b : FBuffers) static_cast<void>(b.release());
        for (TMMAudioIO* side : {static_cast<TMMAudioIO*>(FAudioIn.get()), static_cast<TMMAudioIO*>(FAudioOut.get())})
            static_cast<void>(side->FDataThread.release());
    }
    FToken.reset();
}

bool TMMAudioRouter::Active() const {
    return FAudioIn->Handle() || FAudioOut->Handle() || FAudioIn->DataThread() || FAudioOut->DataThread() ||
           !FBuffers.empty();
}

void TMMAudioRouter::Route(int aDeviceIn, int aDeviceOut, TPCMFormat) {
    if (Active()) throw EWaveAudioInvalidOperation("The route is running already.");
    ++FRun;
    FStopRequested.store(false);
    FStopError.clear();
    TWaveFormatEx format;
    FormatToWaveFormat(RouteFormat, format);
    try {
        if (aDeviceIn >= 0) StartIn(aDeviceIn, format);
        if (aDeviceOut >= 0) StartOut(aDeviceOut, format);
    } catch (const std::exception& e) {
        Stop();
        throw EAudioRouteBusy(e.what());
    }
}

void TMMAudioRouter::StartIn(int deviceID, const TWaveFormatEx& format) {
    FAudioIn->Open(std::make_unique<TAudioRouterProcessInDataThread>(*this), format, deviceID);
    const TWaveHandle h = FAudioIn->Handle();
    FBuffers.reserve(BufferCount);
    for (int i = 0; i < BufferCount; ++i) {
        auto buffer = std::make_unique<TRouteBuffer>();
        TWaveHeader& header = buffer->Header;
        header.Data = buffer->Data.data();
        header.BufferLength = BufferSize;
        FBuffers.push_back(std::move(buffer));
        RaiseOnWaveError(FDriver.PrepareHeader(h, header));
        header.User = reinterpret_cast<uintptr_t>(this);
        RaiseOnWaveError(FDriver.AddBuffer(h, header));
    }
    RaiseOnWaveError(FDriver.Start(h));
}

void TMMAudioRouter::StartOut(int deviceID, const TWaveFormatEx& format) {
    FAudioOut->Open(std::make_unique<TAudioRouterProcessOutDataThread>(*this), format, deviceID);
    RaiseOnWaveError(FDriver.Start(FAudioOut->Handle()));
}

bool TMMAudioRouter::Stop() {
    FStopError.clear();
    if (!Active()) return true;
    TMMAudioIO* const sides[] = {FAudioOut.get(), FAudioIn.get()};  // playback first
    for (TMMAudioIO* side : sides) side->SetStopping(true);
    // Once each side's lock has been taken, every buffer handler that started before
    // has finished and every later one sees Stopping: no buffer changes sides any more.
    for (TMMAudioIO* side : sides) std::lock_guard<std::mutex> barrier(side->Lock());

    std::string errors;
    auto note = [&errors](const std::exception& e) {
        if (!errors.empty()) errors += " ";
        errors += e.what();
    };
    for (TMMAudioIO* side : sides) {
        try {
            side->Reset();
        } catch (const std::exception& e) {  // from a level receiver
            note(e);
        }
        try {
            side->Close(TClock::now() + FStopTimeout);
        } catch (const std::exception& e) {
            note(e);
        }
    }
    if (!FAudioIn->Handle() && !FAudioOut->Handle()) FreeBuffers();
    FStopError = errors;
    return errors.empty();
}

void TMMAudioRouter::FreeBuffers() {
    while (!FBuffers.empty()) FBuffers.pop_back();
}

void TMMAudioRouter::RequestStop(const std::string& reason) {
    FAudioIn->SetStopping(true);
    FAudioOut->SetStopping(true);
    if (FStopRequested.exchange(true)) return;
    std::weak_ptr<TToken> token = FToken;
    const uint64_t run = FRun;
    FMainThread.Post([token, run, reason] {
        if (auto t = token.lock()) t->Router->StoppedByRequest(run, reason);
    });
}

void TMMAudioRouter::StoppedByRequest(uint64_t run, const std::string& reason) {
    if (run != FRun || !Active()) return;
    Stop();
    if (OnStopped) {
        auto onStopped = OnStopped;  // the receiver may free this router
        onStopped(*this, reason);
    }
}

// --- TRouteInfo ------------------------------------------------------------------------

TRouteInfo::TRouteInfo(TWaveDriver& driver, IMainThreadQueue& queue)
    : FRouter(std::make_unique<TMMAudioRouter>(driver, queue)) {}

TRouteInfo::~TRouteInfo() {
    FRouter->Stop();
    FRouter.reset();
}
