#include "platform/WaveDriver.h"

std::string WaveErrorText(int result) {
    switch (result) {
    case MMSYSERR_NOERROR: return "The operation completed successfully.";
    case MMSYSERR_ERROR: return "An unspecified sound error occurred.";
    case MMSYSERR_BADDEVICEID: return "The sound device number is out of range or the device is gone.";
    case MMSYSERR_NOTENABLED: return "The sound driver failed to start.";
    case MMSYSERR_ALLOCATED: return "The sound device is already in use by another program.";
    case MMSYSERR_INVALHANDLE: return "The sound device handle is not valid (the device was closed).";
    case MMSYSERR_NODRIVER: return "No sound server or sound device is present.";
    case MMSYSERR_NOMEM: return "Not enough memory for the sound device.";
    case MMSYSERR_NOTSUPPORTED: return "The sound device does not support this operation.";
    case MMSYSERR_BADERRNUM: return "The sound error number is not known.";
    case MMSYSERR_INVALFLAG: return "An invalid flag was passed to the sound device.";
    case MMSYSERR_INVALPARAM: return "An invalid parameter was passed to the sound device.";
    case MMSYSERR_HANDLEBUSY: return "The sound device handle is in use by another thread.";
    case MMSYSERR_TIMEOUT: return "The sound server did not answer in time.";
    case WAVERR_BADFORMAT: return "The sound format is not supported.";
    case WAVERR_STILLPLAYING: return "The sound device still has queued buffers.";
    case WAVERR_UNPREPARED: return "The sound buffer was not prepared.";
    case WAVERR_SYNC: return "The sound device is synchronous.";
    default: return {};
    }
}

// --- TWaveMessageQueue ---------------------------------------------------------------

TWaveMessageQueue::TWaveMessageQueue(size_t capacity) : FRing(capacity < 4 ? 4 : capacity) {}

void TWaveMessageQueue::PushLocked(const TWaveMessage& msg) {
    if (FCount == FRing.size()) {
        // Only when the reader has fallen far behind: grow, keeping the order.
        std::vector<TWaveMessage> bigger(FRing.size() * 2);
        for (size_t i = 0; i < FCount; ++i) bigger[i] = FRing[(FHead + i) % FRing.size()];
        FRing.swap(bigger);
        FHead = 0;
    }
    FRing[(FHead + FCount) % FRing.size()] = msg;
    ++FCount;
}

void TWaveMessageQueue::Post(const TWaveMessage& msg) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        PushLocked(msg);
    }
    FChanged.notify_one();
}

void TWaveMessageQueue::PostQuit() {
    TWaveMessage quit;
    quit.Msg = WM_QUIT;
    Post(quit);
}

bool TWaveMessageQueue::Get(TWaveMessage& msg) {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [this] { return FCount > 0; });
    msg = FRing[FHead];
    FHead = (FHead + 1) % FRing.size();
    --FCount;
    return msg.Msg != WM_QUIT;
}

bool TWaveMessageQueue::Get(TWaveMessage& msg, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(FLock);
    if (!FChanged.wait_for(lock, timeout, [this] { return FCount > 0; })) return false;
    msg = FRing[FHead];
    FHead = (FHead + 1) % FRing.size();
    --FCount;
    return true;
}

size_t TWaveMessageQueue::Count() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FCount;
}

// --- TWaveHeaderQueue ----------------------------------------------------------------

void TWaveHeaderQueue::Push(TWaveHeader* header) {
    header->Next = nullptr;
    if (FTail) FTail->Next = header;
    else FHead = header;
    FTail = header;
    ++FCount;
}

TWaveHeader* TWaveHeaderQueue::Pop() {
    TWaveHeader* header = FHead;
    if (!header) return nullptr;
    FHead = header->Next;
    if (!FHead) FTail = nullptr;
    header->Next = nullptr;
    --FCount;
    return header;
}

// --- formats -------------------------------------------------------------------------

int CheckWaveFormat(const TWaveFormatEx& f) {
    if (f.FormatTag != WAVE_FORMAT_PCM) return WAVERR_BADFORMAT;
    if (f.Channels < 1 || f.Channels > 8) return WAVERR_BADFORMAT;
    if (f.BitsPerSample != 8 && f.BitsPerSample != 16) return WAVERR_BADFORMAT;
    if (f.SamplesPerSec < 1000 || f.SamplesPerSec > 384000) return WAVERR_BADFORMAT;
    if (f.BlockAlign != f.Channels * f.BitsPerSample / 8) return WAVERR_BADFORMAT;
    if (f.AvgBytesPerSec != uint32_t(f.BlockAlign) * f.SamplesPerSec) return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

// --- TWaveStream ---------------------------------------------------------------------

TWaveStream::TWaveStream(TWaveKind kind, const TWaveFormatEx& format, TWaveMessageQueue& queue,
                         uintptr_t instance)
    : FKind(kind), FFormat(format), FQueue(queue), FInstance(instance) {}

int TWaveStream::DoPrepare(TWaveHeader& header) {
    if (!header.Data || header.BufferLength == 0) return MMSYSERR_INVALPARAM;
    if (header.Flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.Flags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

int TWaveStream::DoUnprepare(TWaveHeader& header) {
    if (header.Flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.Flags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

int TWaveStream::CheckQueueable(const TWaveHeader& header) {
    if (!header.Data || header.BufferLength == 0) return MMSYSERR_INVALPARAM;
    if (!(header.Flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header.Flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

void TWaveStream::Post(uint32_t msg, TWaveHeader* header) {
    TWaveMessage m;
    m.Msg = msg;
    m.Handle = FHandle;
    m.Instance = FInstance;
    m.Header = header;
    FQueue.Post(m);
}

void TWaveStream::Complete(TWaveHeader* header) {
    header->Flags = (header->Flags & ~WHDR_INQUEUE) | WHDR_DONE;
    header->Reserved = 0;
    Post(FKind == TWaveKind::In ? MM_WIM_DATA : MM_WOM_DONE, header);
}

// --- TWaveDriver ---------------------------------------------------------------------

int TWaveDriver::Open(TWaveKind kind, int deviceID, const TWaveFormatEx& format,
                      TWaveMessageQueue& queue, uintptr_t instance, TWaveHandle& handle) {
    handle = 0;
    if (int r = CheckWaveFormat(format)) return r;
    std::shared_ptr<TWaveStream> stream;
    if (int r = OpenStream(kind, deviceID, format, queue, instance, stream)) return r;
    if (!stream) return MMSYSERR_ERROR;
    {
        std::lock_guard<std::mutex> lock(FStreamsLock);
        stream->FHandle = FNextHandle++;
        FStreams.emplace(stream->FHandle, stream);
    }
    handle = stream->FHandle;
    stream->Opened();
    return MMSYSERR_NOERROR;
}

std::shared_ptr<TWaveStream> TWaveDriver::FindStream(TWaveHandle handle) const {
    std::lock_guard<std::mutex> lock(FStreamsLock);
    auto it = FStreams.find(handle);
    return it == FStreams.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<TWaveStream>> TWaveDriver::TakeAllStreams() {
    std::lock_guard<std::mutex> lock(FStreamsLock);
    std::vector<std::shared_ptr<TWaveStream>> all;
    for (auto& [h, s] : FStreams) all.push_back(std::move(s));
    FStreams.clear();
    return all;
}

size_t TWaveDriver::OpenStreamCount() const {
    std::lock_guard<std::mutex> lock(FStreamsLock);
    return FStreams.size();
}

int TWaveDriver::Close(TWaveHandle handle) {
    auto s = FindStream(handle);
    if (!s) return MMSYSERR_INVALHANDLE;
    int r = s->Close();
    if (r == MMSYSERR_NOERROR) {
        std::lock_guard<std::mutex> lock(FStreamsLock);
        FStreams.erase(handle);
    }
    return r;
}

int TWaveDriver::PrepareHeader(TWaveHandle handle, TWaveHeader& header) {
    auto s = FindStream(handle);
    return s ? s->PrepareHeader(header) : MMSYSERR_INVALHANDLE;
}

int TWaveDriver::UnprepareHeader(TWaveHandle handle, TWaveHeader& header) {
    auto s = FindStream(handle);
    return s ? s->UnprepareHeader(header) : MMSYSERR_INVALHANDLE;
}

int TWaveDriver::AddBuffer(TWaveHandle handle, TWaveHeader& header) {
    auto s = FindStream(handle);
    if (!s || s->Kind() != TWaveKind::In) return MMSYSERR_INVALHANDLE;
    return s->AddBuffer(header);
}

int TWaveDriver::Write(TWaveHandle handle, TWaveHeader& header) {
    auto s = FindStream(handle);
    if (!s || s->Kind() != TWaveKind::Out) return MMSYSERR_INVALHANDLE;
    return s->Write(header);
}

int TWaveDriver::Start(TWaveHandle handle) {
    auto s = FindStream(handle);
    return s ? s->Start() : MMSYSERR_INVALHANDLE;
}

int TWaveDriver::Stop(TWaveHandle handle) {
    auto s = FindStream(handle);
    return s ? s->Stop() : MMSYSERR_INVALHANDLE;
}

int TWaveDriver::Reset(TWaveHandle handle) {
    auto s = FindStream(handle);
    return s ? s->Reset() : MMSYSERR_INVALHANDLE;
}
