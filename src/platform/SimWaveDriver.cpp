#include "platform/SimWaveDriver.h"

#include <algorithm>
#include <cstring>

struct TSimWaveDriver::TDevice {
    TWaveKind Kind;
    std::string Name;
    bool IsMonitor = false;
    std::vector<uint8_t> Capture;
    bool Loop = true;
    TCaptureFn CaptureFn;
    std::vector<uint8_t> Played;
    uint64_t Overrun = 0;
    uint64_t Underrun = 0;
};

// One open stream of the simulated driver. Every member is guarded by the driver's lock.
class TSimStream : public TWaveStream {
public:
    TSimStream(TSimWaveDriver& driver, TSimWaveDriver::TDevice& device, TWaveKind kind,
               const TWaveFormatEx& format, TWaveMessageQueue& queue, uintptr_t instance)
        : TWaveStream(kind, format, queue, instance), FDriver(driver), FDevice(device),
          FRunning(kind == TWaveKind::Out) {}

    int PrepareHeader(TWaveHeader& header) override;
    int UnprepareHeader(TWaveHeader& header) override;
    int AddBuffer(TWaveHeader& header) override { return Queue(header, TSimCall::AddBuffer); }
    int Write(TWaveHeader& header) override { return Queue(header, TSimCall::Write); }
    int Start() override;
    int Stop() override;
    int Reset() override;
    int Close() override;
    void Opened() override;

    // Called with the driver's lock held.
    void Tick(std::chrono::microseconds span);
    void Vanish();
    void PostOpen() { Post(OpenMsg(), nullptr); }
    TSimWaveDriver::TDevice& Device() const { return FDevice; }
    size_t QueuedCount() const { return FQueue.Count(); }

private:
    int Queue(TWaveHeader& header, TSimCall call);
    // The common entry checks; 0 when the call may go on.
    int Enter(TSimCall call) const;
    void ReturnAll();
    void Record(uint64_t bytes);
    void Play(uint64_t bytes);
    void FillCapture(uint8_t* dest, size_t count);
    void Changed() {
        FDriver.ChangedLocked();
        FDriver.FChangedCv.notify_all();
    }

    TSimWaveDriver& FDriver;
    TSimWaveDriver::TDevice& FDevice;
    TWaveHeaderQueue FQueue;
    bool FRunning;
    bool FVanished = false;
    bool FClosed = false;
    std::chrono::microseconds FElapsed{0};
    uint64_t FDone = 0;           // bytes recorded or played so far
    uint64_t FCaptureOffset = 0;  // bytes taken from the capture data so far
};

int TSimStream::Enter(TSimCall call) const {
    if (FClosed) return MMSYSERR_INVALHANDLE;
    if (FVanished && call != TSimCall::Close && call != TSimCall::Reset &&
        call != TSimCall::Prepare)
        return MMSYSERR_NODRIVER;
    return FDriver.TakeFailure(call, FDevice.Name);
}

int TSimStream::PrepareHeader(TWaveHeader& header) {
    std::lock_guard<std::mutex> lock(FDriver.FLock);
    if (int r = Enter(TSimCall::Prepare)) return r;
    int r = DoPrepare(header);
    Changed();
    return r;
}

int TSimStream::UnprepareHeader(TWaveHeader& header) {
    std::lock_guard<std::mutex> lock(FDriver.FLock);
    if (FClosed) return MMSYSERR_INVALHANDLE;
    int r = DoUnprepare(header);
    Changed();
    return r;
}

int TSimStream::Queue(TWaveHeader& header, TSimCall call) {
    std::lock_guard<std::mutex> lock(FDriver.FLock);
    if (int r = Enter(call)) return r;
    if (int r = CheckQueueable(header)) return r;
    header.Flags = (header.Flags & ~WHDR_DONE) | WHDR_INQUEUE;
    header.Reserved = 0;
    if (Kind() == TWaveKind::In) header.BytesRecorded = 0;
    FQueue.Push(&header);
    Changed();
    return MMSYSERR_NOERROR;
}

int TSimStream::Start() {
    std::lock_guard<std::mutex> lock(FDriver.FLock);
    if (int r = Enter(TSimCall::Start)) return r;
    FRunning = true;
    Changed();
    return MMSYSERR_NOERROR;
}

int TSimStream::Stop() {
    std::lock_guard<std::mutex> lock(FDriver.FLock);
    if (int r = Enter(TSimCall::Stop)) return r;
    FRunning = false;
    // A recording stream returns the buffer it was filling; the empty ones stay queued.
    if (Kind() == TWaveKind::In && FQueue.Front() && FQueue.Front()->BytesRecorded > 0)
        Complete(FQueue.Pop());
    Changed();
    return MMSYSERR_NOERROR;
}

int TSimStream::Reset() {
    std::lock_guard<std::mutex> lock(FDriver.FLock);
    if (int r = Enter(TSimCall::Reset)) return r;
    if (Kind() == TWaveKind::In) FRunning = false;
    ReturnAll();
    Changed();
    return MMSYSERR_NOERROR;
}

int TSimStream::Close() {
    std::lock_guard<std::mutex> lock(FDriver.FLock);
    if (int r = Enter(TSimCall::Close)) return r;
    if (!FQueue.Empty()) return WAVERR_STILLPLAYING;
    FClosed = true;
    FRunning = false;
    auto& live = FDriver.FLive;
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    auto& held = FDriver.FHeldOpen;
    auto it = std::find(held.begin(), held.end(), this);
    if (it != held.end()) {
        held.erase(it);
        PostOpen();
    }
    if (!FDriver.FDropClose) Post(CloseMsg(), nullptr);
    Changed();
    return MMSYSERR_NOERROR;
}

void TSimStream::Opened() {
    std::lock_guard<std::mutex> lock(FDriver.FLock);
    if (FDriver.FHoldOpen) FDriver.FHeldOpen.push_back(this);
    else PostOpen();
    Changed();
}

void TSimStream::ReturnAll() {
    while (TWaveHeader* h = FQueue.Pop()) Complete(h);
}

void TSimStream::Vanish() {
    FVanished = true;
    FRunning = false;
    ReturnAll();
}

void TSimStream::Tick(std::chrono::microseconds span) {
    if (!FRunning || FVanished || FClosed) return;
    const TWaveFormatEx& f = Format();
    FElapsed += span;
    uint64_t target = uint64_t(FElapsed.count()) * f.AvgBytesPerSec / 1000000;
    target -= target % f.BlockAlign;
    uint64_t bytes = target - FDone;
    FDone = target;
    if (Kind() == TWaveKind::In) Record(bytes);
    else Play(bytes);
}

void TSimStream::FillCapture(uint8_t* dest, size_t count) {
    TSimWaveDriver::TDevice& d = FDevice;
    const uint8_t silence = Format().BitsPerSample == 8 ? 0x80 : 0;
    if (d.CaptureFn) {
        d.CaptureFn(dest, count, FCaptureOffset);
    } else if (d.Capture.empty()) {
        std::memset(dest, silence, count);
    } else {
        for (size_t i = 0; i < count; ++i) {
            uint64_t at = FCaptureOffset + i;
            if (d.Loop) dest[i] = d.Capture[at % d.Capture.size()];
            else dest[i] = at < d.Capture.size() ? d.Capture[at] : silence;
        }
    }
    FCaptureOffset += count;
}

void TSimStream::Record(uint64_t bytes) {
    while (bytes > 0) {
        TWaveHeader* h = FQueue.Front();
        if (!h) {
            FDevice.Overrun += bytes;
            FCaptureOffset += bytes;
            return;
        }
        size_t n = std::min<uint64_t>(bytes, h->BufferLength - h->BytesRecorded);
        FillCapture(h->Data + h->BytesRecorded, n);
        h->BytesRecorded += uint32_t(n);
        bytes -= n;
        if (h->BytesRecorded == h->BufferLength) Complete(FQueue.Pop());
    }
}

void TSimStream::Play(uint64_t bytes) {
    while (bytes > 0) {
        TWaveHeader* h = FQueue.Front();
        if (!h) {
            FDevice.Underrun += bytes;
            return;
        }
        size_t n = std::min<uint64_t>(bytes, h->BufferLength - h->Reserved);
        FDevice.Played.insert(FDevice.Played.end(), h->Data + h->Reserved,
                              h->Data + h->Reserved + n);
        h->Reserved += uint32_t(n);
        bytes -= n;
        if (h->Reserved == h->BufferLength) Complete(FQueue.Pop());
    }
}

// --- TSimWaveDriver ------------------------------------------------------------------

TSimWaveDriver::TSimWaveDriver() = default;

TSimWaveDriver::~TSimWaveDriver() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FLive.clear();
        FHeldOpen.clear();
    }
    TakeAllStreams();
}

TSimWaveDriver::TDevice* TSimWaveDriver::FindDevice(TWaveKind kind, const std::string& name) const {
    for (auto& d : kind == TWaveKind::In ? FIn : FOut)
        if (d->Name == name) return d.get();
    return nullptr;
}

int TSimWaveDriver::TakeFailure(TSimCall call, const std::string& device) {
    for (auto it = FFailures.begin(); it != FFailures.end(); ++it) {
        if (it->Call != call || (!it->Device.empty() && it->Device != device)) continue;
        if (it->Skip > 0) {
            --it->Skip;
            return MMSYSERR_NOERROR;
        }
        int r = it->Result;
        FFailures.erase(it);
        return r;
    }
    return MMSYSERR_NOERROR;
}

int TSimWaveDriver::NumDevs(TWaveKind kind) {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FUnavailable.empty()) return 0;
    return int((kind == TWaveKind::In ? FIn : FOut).size());
}

int TSimWaveDriver::GetDevCaps(TWaveKind kind, int deviceID, TWaveCaps& caps) {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FUnavailable.empty()) return MMSYSERR_NODRIVER;
    auto& list = kind == TWaveKind::In ? FIn : FOut;
    if (deviceID == -1) deviceID = 0;
    if (deviceID < 0 || size_t(deviceID) >= list.size()) return MMSYSERR_BADDEVICEID;
    const TDevice& d = *list[size_t(deviceID)];
    caps = TWaveCaps();
    caps.ManufacturerID = 1;
    caps.ProductID = kind == TWaveKind::In ? 1 : 2;
    caps.DriverVersion = 1;
    caps.ProductName = d.Name;
    caps.Ident = d.Name;
    caps.Channels = 2;
    caps.SampleRate = 48000;
    caps.IsMonitor = d.IsMonitor;
    return MMSYSERR_NOERROR;
}

std::string TSimWaveDriver::CatalogueError() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FUnavailable;
}

void TSimWaveDriver::AddDevice(TWaveKind kind, const std::string& name, bool isMonitor) {
    std::lock_guard<std::mutex> lock(FLock);
    auto d = std::make_unique<TDevice>();
    d->Kind = kind;
    d->Name = name;
    d->IsMonitor = isMonitor;
    (kind == TWaveKind::In ? FIn : FOut).push_back(std::move(d));
    ChangedLocked();
    FChangedCv.notify_all();
}

void TSimWaveDriver::RemoveDevice(TWaveKind kind, const std::string& name) {
    std::lock_guard<std::mutex> lock(FLock);
    auto& list = kind == TWaveKind::In ? FIn : FOut;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if ((*it)->Name != name) continue;
        for (TSimStream* s : FLive)
            if (&s->Device() == it->get()) s->Vanish();
        FGone.push_back(std::move(*it));
        list.erase(it);
        break;
    }
    ChangedLocked();
    FChangedCv.notify_all();
}

void TSimWaveDriver::SetUnavailable(const std::string& reason) {
    std::lock_guard<std::mutex> lock(FLock);
    FUnavailable = reason;
}

void TSimWaveDriver::SetCaptureData(const std::string& device, std::vector<uint8_t> data, bool loop) {
    std::lock_guard<std::mutex> lock(FLock);
    if (TDevice* d = FindDevice(TWaveKind::In, device)) {
        d->Capture = std::move(data);
        d->Loop = loop;
        d->CaptureFn = nullptr;
    }
}

void TSimWaveDriver::SetCaptureFn(const std::string& device, TCaptureFn fn) {
    std::lock_guard<std::mutex> lock(FLock);
    if (TDevice* d = FindDevice(TWaveKind::In, device)) d->CaptureFn = std::move(fn);
}

std::vector<uint8_t> TSimWaveDriver::PlayedData(const std::string& device) const {
    std::lock_guard<std::mutex> lock(FLock);
    const TDevice* d = FindDevice(TWaveKind::Out, device);
    return d ? d->Played : std::vector<uint8_t>();
}

void TSimWaveDriver::ClearPlayedData(const std::string& device) {
    std::lock_guard<std::mutex> lock(FLock);
    if (TDevice* d = FindDevice(TWaveKind::Out, device)) d->Played.clear();
}

void TSimWaveDriver::Advance(std::chrono::microseconds span) {
    std::lock_guard<std::mutex> lock(FLock);
    FNow += span;
    for (TSimStream* s : FLive) s->Tick(span);
    ChangedLocked();
    FChangedCv.notify_all();
}

std::chrono::microseconds TSimWaveDriver::Now() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FNow;
}

void TSimWaveDriver::FailNext(TSimCall call, int result, int skip, const std::string& device) {
    std::lock_guard<std::mutex> lock(FLock);
    FFailures.push_back({call, result, skip, device});
}

void TSimWaveDriver::HoldOpenMessages(bool hold) {
    std::lock_guard<std::mutex> lock(FLock);
    FHoldOpen = hold;
    if (!hold) {
        for (TSimStream* s : FHeldOpen) s->PostOpen();
        FHeldOpen.clear();
    }
    ChangedLocked();
    FChangedCv.notify_all();
}

void TSimWaveDriver::DropCloseMessages(bool drop) {
    std::lock_guard<std::mutex> lock(FLock);
    FDropClose = drop;
}

size_t TSimWaveDriver::QueuedBuffers(TWaveKind kind, const std::string& device) const {
    std::lock_guard<std::mutex> lock(FLock);
    size_t n = 0;
    for (TSimStream* s : FLive)
        if (s->Kind() == kind && s->Device().Name == device) n += s->QueuedCount();
    return n;
}

size_t TSimWaveDriver::OpenStreams(TWaveKind kind, const std::string& device) const {
    std::lock_guard<std::mutex> lock(FLock);
    size_t n = 0;
    for (TSimStream* s : FLive)
        if (s->Kind() == kind && s->Device().Name == device) ++n;
    return n;
}

uint64_t TSimWaveDriver::OverrunBytes(const std::string& device) const {
    std::lock_guard<std::mutex> lock(FLock);
    const TDevice* d = FindDevice(TWaveKind::In, device);
    return d ? d->Overrun : 0;
}

uint64_t TSimWaveDriver::UnderrunBytes(const std::string& device) const {
    std::lock_guard<std::mutex> lock(FLock);
    const TDevice* d = FindDevice(TWaveKind::Out, device);
    return d ? d->Underrun : 0;
}

bool TSimWaveDriver::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        const uint64_t seen = FChangeCount;
        lock.unlock();
        if (pred()) return true;
        lock.lock();
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        // Wake on every driver call, and every few milliseconds for state that lives
        // outside the driver (the caller's threads).
        auto until = std::min(deadline, now + std::chrono::milliseconds(5));
        FChangedCv.wait_until(lock, until, [&] { return FChangeCount != seen; });
    }
    lock.unlock();
    return pred();
}

int TSimWaveDriver::OpenStream(TWaveKind kind, int deviceID, const TWaveFormatEx& format,
                               TWaveMessageQueue& queue, uintptr_t instance,
                               std::shared_ptr<TWaveStream>& stream) {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FUnavailable.empty()) return MMSYSERR_NODRIVER;
    auto& list = kind == TWaveKind::In ? FIn : FOut;
    if (deviceID == -1) deviceID = 0;
    if (deviceID < 0 || size_t(deviceID) >= list.size()) return MMSYSERR_BADDEVICEID;
    TDevice& d = *list[size_t(deviceID)];
    if (int r = TakeFailure(TSimCall::Open, d.Name)) return r;
    auto s = std::make_shared<TSimStream>(*this, d, kind, format, queue, instance);
    FLive.push_back(s.get());
    ChangedLocked();
    FChangedCv.notify_all();
    stream = std::move(s);
    return MMSYSERR_NOERROR;
}
