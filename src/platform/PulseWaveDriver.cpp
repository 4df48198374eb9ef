#include "platform/PulseWaveDriver.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

class TLoopLock {
public:
    explicit TLoopLock(pa_threaded_mainloop* loop) : FLoop(loop) {
        if (FLoop) pa_threaded_mainloop_lock(FLoop);
    }
    ~TLoopLock() {
        if (FLoop) pa_threaded_mainloop_unlock(FLoop);
    }
    TLoopLock(const TLoopLock&) = delete;
    TLoopLock& operator=(const TLoopLock&) = delete;

private:
    pa_threaded_mainloop* FLoop;
};

int MapPulseError(int err) {
    switch (err) {
    case PA_ERR_NOENTITY: return MMSYSERR_BADDEVICEID;
    case PA_ERR_TIMEOUT: return MMSYSERR_TIMEOUT;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID: return WAVERR_BADFORMAT;
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_KILLED: return MMSYSERR_NODRIVER;
    case PA_ERR_BUSY: return MMSYSERR_ALLOCATED;
    default: return MMSYSERR_ERROR;
    }
}

// Bytes of whole frames of Format that last Span, at least one frame.
uint32_t BytesOf(const TWaveFormatEx& format, std::chrono::microseconds span) {
    const uint32_t frame = format.BlockAlign;
    const uint32_t n = uint32_t(uint64_t(format.AvgBytesPerSec) * uint64_t(span.count()) / 1000000);
    return std::max(frame, n - n % frame);
}

// The server's buffer for a playback stream: the sink takes the sound in steps of one
// fragment (early requests: its own latency is one fragment); playing starts, and after
// running dry starts again, once Start is queued, so the queue stays about that full.
// The server takes two fragments beyond that; more waits in the stream's own queue,
// where the caller sees it as buffers not done yet.
pa_buffer_attr PlaybackBufferAttr(const TWaveFormatEx& format, std::chrono::microseconds fragment,
                                  std::chrono::microseconds start) {
    const uint32_t fragmentBytes = BytesOf(format, fragment);
    const uint32_t startBytes = std::max(BytesOf(format, start), fragmentBytes);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    attr.minreq = fragmentBytes;
    attr.prebuf = startBytes;
    attr.tlength = std::max(startBytes + 2 * fragmentBytes, 3 * fragmentBytes);
    return attr;
}

}  // namespace

// One stream on the server. Every member is guarded by the driver's main loop lock;
// the server's callbacks run on the main loop thread with that lock held.
class TPulseStream : public TWaveStream {
public:
    TPulseStream(TPulseWaveDriver& driver, pa_stream* stream, TWaveKind kind,
                 const TWaveFormatEx& format, TWaveMessageQueue& queue, uintptr_t instance)
        : TWaveStream(kind, format, queue, instance), FDriver(driver), FStream(stream) {
        pa_stream_set_state_callback(FStream, StateCb, this);
        if (kind == TWaveKind::In) {
            pa_stream_set_read_callback(FStream, ReadCb, this);
        } else {
            pa_stream_set_write_callback(FStream, WriteCb, this);
            pa_stream_set_underflow_callback(FStream, UnderflowCb, this);
        }
    }

    int PrepareHeader(TWaveHeader& header) override {
        TLoopLock lock(FDriver.FMainLoop);
        if (FClosed) return MMSYSERR_INVALHANDLE;
        return DoPrepare(header);
    }
    int UnprepareHeader(TWaveHeader& header) override {
        TLoopLock lock(FDriver.FMainLoop);
        if (FClosed) return MMSYSERR_INVALHANDLE;
        return DoUnprepare(header);
    }
    int AddBuffer(TWaveHeader& header) override { return Queue(header); }
    int Write(TWaveHeader& header) override { return Queue(header); }

    int Start() override {
        TLoopLock lock(FDriver.FMainLoop);
        if (int r = Usable()) return r;
        FRunning = true;
        return Cork(false);
    }

    int Stop() override {
        TLoopLock lock(FDriver.FMainLoop);
        if (int r = Usable()) return r;
        FRunning = false;
        int r = Cork(true);
        if (Kind() == TWaveKind::In && FQueue.Front() && FQueue.Front()->BytesRecorded > 0)
            Complete(FQueue.Pop());
        return r;
    }

    int Reset() override {
        TLoopLock lock(FDriver.FMainLoop);
        if (FClosed) return MMSYSERR_INVALHANDLE;
        int r = MMSYSERR_NOERROR;
        if (Alive()) {
            if (Kind() == TWaveKind::In) {
                FRunning = false;
                r = Cork(true);
            }
            if (pa_operation* op = pa_stream_flush(FStream, nullptr, nullptr))
                pa_operation_unref(op);
        }
        ReturnAll();
        return r;
    }

    int Close() override {
        TLoopLock lock(FDriver.FMainLoop);
        if (FClosed) return MMSYSERR_INVALHANDLE;
        if (!FQueue.Empty()) return WAVERR_STILLPLAYING;
        Detach();
        FClosed = true;
        Post(CloseMsg(), nullptr);
        return MMSYSERR_NOERROR;
    }

    void Opened() override {
        TLoopLock lock(FDriver.FMainLoop);
        Post(OpenMsg(), nullptr);
    }

    // The playback reserve the stream was opened with; with the lock held.
    void SetReserve(std::chrono::microseconds reserve) { FReserve = reserve; }

    // Ends the server's stream without any message; with the lock held.
    void Detach() {
        if (!FStream) return;
        pa_stream_set_state_callback(FStream, nullptr, nullptr);
        pa_stream_set_read_callback(FStream, nullptr, nullptr);
        pa_stream_set_write_callback(FStream, nullptr, nullptr);
        pa_stream_set_underflow_callback(FStream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(FStream))) pa_stream_disconnect(FStream);
        pa_stream_unref(FStream);
        FStream = nullptr;
    }

private:
    bool Alive() const { return FStream && pa_stream_get_state(FStream) == PA_STREAM_READY; }

    int Usable() const {
        if (FClosed) return MMSYSERR_INVALHANDLE;
        if (!Alive()) return MMSYSERR_NODRIVER;
        return MMSYSERR_NOERROR;
    }

    int Cork(bool cork) {
        pa_operation* op = pa_stream_cork(FStream, cork ? 1 : 0, nullptr, nullptr);
        if (!op) return MapPulseError(pa_context_errno(FDriver.FContext));
        pa_operation_unref(op);
        return MMSYSERR_NOERROR;
    }

    int Queue(TWaveHeader& header) {
        TLoopLock lock(FDriver.FMainLoop);
        if (int r = Usable()) return r;
        if (int r = CheckQueueable(header)) return r;
        header.Flags = (header.Flags & ~WHDR_DONE) | WHDR_INQUEUE;
        header.Reserved = 0;
        if (Kind() == TWaveKind::In) header.BytesRecorded = 0;
        FQueue.Push(&header);
        if (Kind() == TWaveKind::Out) Pump();
        return MMSYSERR_NOERROR;
    }

    void ReturnAll() {
        while (TWaveHeader* h = FQueue.Pop()) Complete(h);
    }

    // Hands queued playback data to the server as far as it has room; a buffer whose
    // data the server has taken is done.
    void Pump() {
        if (!Alive()) return;
        size_t room = pa_stream_writable_size(FStream);
        if (room == size_t(-1)) return;
        const size_t frame = Format().BlockAlign;
        while (TWaveHeader* h = FQueue.Front()) {
            size_t left = h->BufferLength - h->Reserved;
            if (left < frame) {  // a tail shorter than a frame cannot be played
                Complete(FQueue.Pop());
                continue;
            }
            size_t n = std::min(left, room);
            n -= n % frame;
            if (n == 0) break;
            if (pa_stream_write(FStream, h->Data + h->Reserved, n, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                break;
            h->Reserved += uint32_t(n);
            room -= n;
        }
    }

    // Recorded data from the server goes into the queued buffers; full ones are done.
    void Take(const uint8_t* data, size_t n) {
        const uint8_t silence = Format().BitsPerSample == 8 ? 0x80 : 0;
        while (n > 0) {
            TWaveHeader* h = FQueue.Front();
            if (!h) {  // no buffer queued: the sound is lost
                FDriver.FLostBytes.fetch_add(n, std::memory_order_relaxed);
                return;
            }
            size_t k = std::min<size_t>(n, h->BufferLength - h->BytesRecorded);
            if (data) {
                std::memcpy(h->Data + h->BytesRecorded, data, k);
                data += k;
            } else {
                std::memset(h->Data + h->BytesRecorded, silence, k);  // a hole in the stream
            }
            h->BytesRecorded += uint32_t(k);
            n -= k;
            if (h->BytesRecorded == h->BufferLength) Complete(FQueue.Pop());
        }
    }

    static void StateCb(pa_stream* s, void* userdata) {
        auto* self = static_cast<TPulseStream*>(userdata);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) {
            // The device vanished or the server went away: give every buffer back.
            self->FRunning = false;
            self->ReturnAll();
        }
        self->FDriver.Signal();
    }

    static void ReadCb(pa_stream* s, size_t, void* userdata) {
        auto* self = static_cast<TPulseStream*>(userdata);
        for (;;) {
            const void* data = nullptr;
            size_t n = 0;
            if (pa_stream_peek(s, &data, &n) < 0 || n == 0) return;
            if (self->FRunning) self->Take(static_cast<const uint8_t*>(data), n);
            pa_stream_drop(s);
        }
    }

    static void WriteCb(pa_stream*, size_t, void* userdata) {
        static_cast<TPulseStream*>(userdata)->Pump();
    }

    static void UnderflowCb(pa_stream*, void* userdata) {
        auto* self = static_cast<TPulseStream*>(userdata);
        self->FDriver.FUnderflows.fetch_add(1, std::memory_order_relaxed);
        self->GrowReserve();
    }

    // The stream ran dry: a stream that had the driver's whole reserve makes the driver's
    // reserve grow by a step (up to its limit); this stream takes the driver's reserve.
    void GrowReserve() {
        if (FReserve >= FDriver.FPlaybackReserve) FDriver.GrowPlaybackReserve();
        if (FReserve >= FDriver.FPlaybackReserve) return;
        FReserve = FDriver.FPlaybackReserve;
        const pa_buffer_attr attr = PlaybackBufferAttr(Format(), FDriver.FFragment, FReserve);
        if (pa_operation* op = pa_stream_set_buffer_attr(FStream, &attr, nullptr, nullptr)) pa_operation_unref(op);
    }

    TPulseWaveDriver& FDriver;
    pa_stream* FStream;
    TWaveHeaderQueue FQueue;
    bool FRunning = false;
    bool FClosed = false;
    std::chrono::microseconds FReserve{0};  // playback: what is queued before playing starts
};

// --- TPulseWaveDriver ----------------------------------------------------------------

namespace {

void ContextStateCb(pa_context*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

}  // namespace

TPulseWaveDriver::TPulseWaveDriver(std::string server, std::string clientName)
    : FServer(std::move(server)), FClientName(std::move(clientName)) {
    FMainLoop = pa_threaded_mainloop_new();
    if (FMainLoop && pa_threaded_mainloop_start(FMainLoop) < 0) {
        pa_threaded_mainloop_free(FMainLoop);
        FMainLoop = nullptr;
    }
    if (!FMainLoop) {
        FError = "The sound client could not start its event loop.";
        return;
    }
    // The loop thread moves every recorded and played byte: it runs as the route's data
    // threads do (see ThreadPriority.h).
    TLoopLock lock(FMainLoop);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(FMainLoop);
    api->defer_new(
        api,
        [](pa_mainloop_api* a, pa_defer_event* e, void* self) {
            static_cast<TPulseWaveDriver*>(self)->FLoopPriority.store(RaiseAudioThreadPriority(),
                                                                     std::memory_order_relaxed);
            a->defer_free(e);
        },
        this);
}

TPulseWaveDriver::~TPulseWaveDriver() {
    auto streams = TakeAllStreams();
    if (!FMainLoop) return;
    {
        TLoopLock lock(FMainLoop);
        for (auto& s : streams) static_cast<TPulseStream&>(*s).Detach();
        if (FContext) {
            pa_context_set_state_callback(FContext, nullptr, nullptr);
            pa_context_disconnect(FContext);
            pa_context_unref(FContext);
            FContext = nullptr;
        }
    }
    pa_threaded_mainloop_stop(FMainLoop);
    pa_threaded_mainloop_free(FMainLoop);
}

void TPulseWaveDriver::SetTimeout(std::chrono::milliseconds timeout) {
    TLoopLock lock(FMainLoop);
    FTimeout = timeout;
}

void TPulseWaveDriver::SetFragment(std::chrono::microseconds fragment) {
    TLoopLock lock(FMainLoop);
    FFragment = fragment;
}

void TPulseWaveDriver::SetPlaybackStart(std::chrono::microseconds start) {
    TLoopLock lock(FMainLoop);
    FPlaybackStart = start;
    FPlaybackReserve = start;
}

std::chrono::microseconds TPulseWaveDriver::PlaybackReserve() const {
    TLoopLock lock(FMainLoop);
    return FPlaybackReserve;
}

void TPulseWaveDriver::GrowPlaybackReserve() {
    FPlaybackReserve = std::min(FPlaybackReserve + ReserveStep, FPlaybackStart + MaxReserveGrowth);
}

std::string TPulseWaveDriver::ServerName() const {
    if (!FServer.empty()) return FServer;
    if (const char* env = std::getenv("PULSE_SERVER"); env && *env) return env;
    return "default";
}

void TPulseWaveDriver::Signal() { pa_threaded_mainloop_signal(FMainLoop, 0); }

template <class TPred>
bool TPulseWaveDriver::WaitFor(TPred done) {
    if (done()) return true;
    if (!FContext) return false;
    struct TTimer {
        pa_threaded_mainloop* Loop;
        bool Expired = false;
    } timer{FMainLoop};
    auto expire = [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        auto* t = static_cast<TTimer*>(userdata);
        t->Expired = true;
        pa_threaded_mainloop_signal(t->Loop, 0);
    };
    pa_time_event* ev = pa_context_rttime_new(
        FContext, pa_rtclock_now() + pa_usec_t(FTimeout.count()) * PA_USEC_PER_MSEC, expire, &timer);
    if (!ev) return false;
    while (!done() && !timer.Expired) pa_threaded_mainloop_wait(FMainLoop);
    pa_threaded_mainloop_get_api(FMainLoop)->time_free(ev);
    return done();
}

bool TPulseWaveDriver::Connect() {
    if (!FMainLoop) return false;
    if (FContext) {
        pa_context_state_t st = pa_context_get_state(FContext);
        if (st == PA_CONTEXT_READY) return true;
        if (!PA_CONTEXT_IS_GOOD(st)) {  // the server went away: start again
            pa_context_set_state_callback(FContext, nullptr, nullptr);
            pa_context_disconnect(FContext);
            pa_context_unref(FContext);
            FContext = nullptr;
        }
    }
    int err = 0;
    if (!FContext) {
        FHaveSources = FHaveSinks = false;
        FContext = pa_context_new(pa_threaded_mainloop_get_api(FMainLoop), FClientName.c_str());
        if (!FContext) {
            FError = "The sound client could not create a connection.";
            return false;
        }
        pa_context_set_state_callback(FContext, ContextStateCb, FMainLoop);
        if (pa_context_connect(FContext, FServer.empty() ? nullptr : FServer.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            err = pa_context_errno(FContext);
    }
    if (!err) {
        bool answered = WaitFor([this] {
            pa_context_state_t st = pa_context_get_state(FContext);
            return st == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(st);
        });
        if (!answered) err = PA_ERR_TIMEOUT;
        else if (pa_context_get_state(FContext) != PA_CONTEXT_READY) err = pa_context_errno(FContext);
    }
    if (err || pa_context_get_state(FContext) != PA_CONTEXT_READY) {
        if (!err) err = PA_ERR_CONNECTIONREFUSED;
        FError = "Cannot connect to the sound server \"" + ServerName() + "\": " + pa_strerror(err);
        pa_context_set_state_callback(FContext, nullptr, nullptr);
        pa_context_disconnect(FContext);
        pa_context_unref(FContext);
        FContext = nullptr;
        return false;
    }
    FError.clear();
    return true;
}

namespace {

template <class TEntry>
struct TListCollector {
    pa_threaded_mainloop* Loop = nullptr;
    std::vector<TEntry> List;
    bool Done = false;
    bool Failed = false;

    template <class TInfo>
    void Add(const TInfo* i, int eol, bool monitor) {
        if (eol) {
            Failed = eol < 0;
            Done = true;
            pa_threaded_mainloop_signal(Loop, 0);
            return;
        }
        TEntry e;
        e.Name = i->name ? i->name : "";
        e.Description = i->description ? i->description : e.Name;
        e.Channels = i->sample_spec.channels;
        e.Rate = i->sample_spec.rate;
        e.Monitor = monitor;
        List.push_back(std::move(e));
    }
};

// Catalogue answers of the server: sources (monitors marked) and sinks.
template <class TEntry>
void OnSourceInfo(pa_context*, const pa_source_info* i, int eol, void* ud) {
    static_cast<TListCollector<TEntry>*>(ud)->Add(
        i, eol, i && i->monitor_of_sink != PA_INVALID_INDEX);
}

template <class TEntry>
void OnSinkInfo(pa_context*, const pa_sink_info* i, int eol, void* ud) {
    static_cast<TListCollector<TEntry>*>(ud)->Add(i, eol, false);
}

}  // namespace

bool TPulseWaveDriver::AwaitOperation(pa_operation* op, const bool& finished) {
    bool done = WaitFor([&] { return finished || pa_context_get_state(FContext) != PA_CONTEXT_READY; });
    if (!finished) pa_operation_cancel(op);
    pa_operation_unref(op);
    return done && finished;
}

int TPulseWaveDriver::ReadList(TWaveKind kind) {
    auto& list = kind == TWaveKind::In ? FSources : FSinks;
    bool& have = kind == TWaveKind::In ? FHaveSources : FHaveSinks;
    list.clear();
    have = false;
    if (!Connect()) return MMSYSERR_NODRIVER;
    TListCollector<TEntry> c;
    c.Loop = FMainLoop;
    pa_operation* op;
    if (kind == TWaveKind::In) {
        op = pa_context_get_source_info_list(
            FContext,
            OnSourceInfo<TEntry>,
            &c);
    } else {
        op = pa_context_get_sink_info_list(
            FContext,
            OnSinkInfo<TEntry>,
            &c);
    }
    if (!op) return MapPulseError(pa_context_errno(FContext));
    if (!AwaitOperation(op, c.Done)) {
        FError = "The sound server \"" + ServerName() + "\" did not answer in time.";
        return MMSYSERR_TIMEOUT;
    }
    if (c.Failed) return MapPulseError(pa_context_errno(FContext));
    list = std::move(c.List);
    have = true;
    return MMSYSERR_NOERROR;
}

int TPulseWaveDriver::QueryDevice(TWaveKind kind, const std::string& name, TEntry& entry) {
    TListCollector<TEntry> c;
    c.Loop = FMainLoop;
    pa_operation* op;
    if (kind == TWaveKind::In) {
        op = pa_context_get_source_info_by_name(
            FContext, name.c_str(),
            OnSourceInfo<TEntry>,
            &c);
    } else {
        op = pa_context_get_sink_info_by_name(
            FContext, name.c_str(),
            OnSinkInfo<TEntry>,
            &c);
    }
    if (!op) return MapPulseError(pa_context_errno(FContext));
    if (!AwaitOperation(op, c.Done)) return MMSYSERR_TIMEOUT;
    if (c.List.empty()) return MMSYSERR_BADDEVICEID;  // no such device (any more)
    entry = c.List.front();
    return MMSYSERR_NOERROR;
}

int TPulseWaveDriver::DefaultName(TWaveKind kind, std::string& name) {
    struct TServerRead {
        pa_threaded_mainloop* Loop;
        TWaveKind Kind;
        std::string Name;
        bool Done = false;
    } r{FMainLoop, kind, {}};
    pa_operation* op = pa_context_get_server_info(
        FContext,
        [](pa_context*, const pa_server_info* i, void* ud) {
            auto* r = static_cast<TServerRead*>(ud);
            const char* n = !i ? nullptr
                            : r->Kind == TWaveKind::In ? i->default_source_name
                                                       : i->default_sink_name;
            r->Name = n ? n : "";
            r->Done = true;
            pa_threaded_mainloop_signal(r->Loop, 0);
        },
        &r);
    if (!op) return MapPulseError(pa_context_errno(FContext));
    bool done = WaitFor([&] { return r.Done || pa_context_get_state(FContext) != PA_CONTEXT_READY; });
    if (!r.Done) pa_operation_cancel(op);
    pa_operation_unref(op);
    if (!done || !r.Done) return MMSYSERR_TIMEOUT;
    if (r.Name.empty()) return MMSYSERR_BADDEVICEID;
    name = r.Name;
    return MMSYSERR_NOERROR;
}

int TPulseWaveDriver::NumDevs(TWaveKind kind) {
    TLoopLock lock(FMainLoop);
    if (ReadList(kind)) return 0;
    return int((kind == TWaveKind::In ? FSources : FSinks).size());
}

std::string TPulseWaveDriver::CatalogueError() const {
    TLoopLock lock(FMainLoop);
    return FError;
}

int TPulseWaveDriver::GetDevCaps(TWaveKind kind, int deviceID, TWaveCaps& caps) {
    TLoopLock lock(FMainLoop);
    if (!Connect()) return MMSYSERR_NODRIVER;
    std::string name;
    if (deviceID == -1) {
        if (int r = DefaultName(kind, name)) return r;
    } else {
        auto& list = kind == TWaveKind::In ? FSources : FSinks;
        bool have = kind == TWaveKind::In ? FHaveSources : FHaveSinks;
        if (!have)
            if (int r = ReadList(kind)) return r;
        if (deviceID < 0 || size_t(deviceID) >= list.size()) return MMSYSERR_BADDEVICEID;
        name = list[size_t(deviceID)].Name;
    }
    TEntry e;
    if (int r = QueryDevice(kind, name, e)) return r;
    caps = TWaveCaps();
    caps.DriverVersion = pa_context_get_server_protocol_version(FContext);
    caps.ProductName = e.Description;
    caps.Ident = e.Name;
    caps.Channels = e.Channels;
    caps.SampleRate = e.Rate;
    caps.IsMonitor = e.Monitor;
    return MMSYSERR_NOERROR;
}

int TPulseWaveDriver::OpenStream(TWaveKind kind, int deviceID, const TWaveFormatEx& format,
                                 TWaveMessageQueue& queue, uintptr_t instance,
                                 std::shared_ptr<TWaveStream>& result) {
    TLoopLock lock(FMainLoop);
    if (!Connect()) return MMSYSERR_NODRIVER;
    std::string name;
    if (deviceID != -1) {
        auto& list = kind == TWaveKind::In ? FSources : FSinks;
        bool have = kind == TWaveKind::In ? FHaveSources : FHaveSinks;
        if (!have)
            if (int r = ReadList(kind)) return r;
        if (deviceID < 0 || size_t(deviceID) >= list.size()) return MMSYSERR_BADDEVICEID;
        name = list[size_t(deviceID)].Name;
    }

    pa_sample_spec spec;
    spec.format = format.BitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = format.SamplesPerSec;
    spec.channels = uint8_t(format.Channels);
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    pa_stream* s = pa_stream_new(FContext, kind == TWaveKind::In ? "recording" : "playback",
                                 &spec, &map);
    if (!s) return MapPulseError(pa_context_errno(FContext));
    auto stream = std::make_shared<TPulseStream>(*this, s, kind, format, queue, instance);

    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    const char* dev = name.empty() ? nullptr : name.c_str();
    // A named device stays that device: when it goes away the stream ends instead of
    // moving elsewhere.
    const pa_stream_flags_t dontMove = dev ? PA_STREAM_DONT_MOVE : pa_stream_flags_t(0);
    int rc;
    if (kind == TWaveKind::In) {
        // The source hands over its sound in pieces of one fragment.
        attr.fragsize = BytesOf(format, FFragment);
        rc = pa_stream_connect_record(
            s, dev, &attr, pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED | dontMove));
    } else {
        attr = PlaybackBufferAttr(format, FFragment, FPlaybackReserve);
        stream->SetReserve(FPlaybackReserve);
        rc = pa_stream_connect_playback(s, dev, &attr, pa_stream_flags_t(PA_STREAM_EARLY_REQUESTS | dontMove),
                                        nullptr, nullptr);
    }
    int err = rc < 0 ? pa_context_errno(FContext) : 0;
    if (!err) {
        bool answered = WaitFor([s] {
            pa_stream_state_t st = pa_stream_get_state(s);
            return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
        });
        if (!answered) err = PA_ERR_TIMEOUT;
        else if (pa_stream_get_state(s) != PA_STREAM_READY) err = pa_context_errno(FContext);
        if (!err && pa_stream_get_state(s) != PA_STREAM_READY) err = PA_ERR_UNKNOWN;
    }
    if (err) {
        stream->Detach();
        return MapPulseError(err);
    }
    result = std::move(stream);
    return MMSYSERR_NOERROR;
}
