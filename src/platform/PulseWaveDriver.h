// The wave driver on a PulseAudio sound server (also the PulseAudio service of PipeWire).
//
// Recording devices are the server's sources, monitor sources included (a monitor
// records what its sink plays); playback devices are the sinks. Device N is the N-th
// entry in the server's order when the list was last read (NumDevs reads it); -1 is the
// server's default device. The server is the one named at creation ("unix:/path/native",
// "tcp:host:port"), else the usual lookup (PULSE_SERVER, client.conf, the per-user
// socket); a server is never started on demand.
//
// All server work runs on a threaded main loop; every wait for the server is bounded.
// When no server can be reached the catalogue is empty and CatalogueError tells why.
#pragma once

#include "platform/ThreadPriority.h"
#include "platform/WaveDriver.h"

#include <atomic>
#include <chrono>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

class TPulseWaveDriver : public TWaveDriver {
public:
    explicit TPulseWaveDriver(std::string server = {}, std::string clientName = "Brevanta");
    ~TPulseWaveDriver() override;

    std::string DriverName() const override { return "PulseAudio"; }
    int NumDevs(TWaveKind kind) override;
    int GetDevCaps(TWaveKind kind, int deviceID, TWaveCaps& caps) override;
    std::string CatalogueError() const override;

    // How long any one wait for the server may take (default 5 s).
    void SetTimeout(std::chrono::milliseconds timeout);
    // The server's fragment of sound per transfer (default 2.5 ms): a recording stream
    // gets its sound in pieces of this length, and a playback stream's device takes the
    // sound in steps of it. Applies to streams opened afterwards.
    void SetFragment(std::chrono::microseconds fragment);
    std::chrono::microseconds Fragment() const { return FFragment; }
    // How much sound a playback stream queues at the server before it starts playing,
    // and again after it ran dry (default 23.4375 ms: two and a half buffers of a route;
    // at least one fragment). The queue stays about that full, so this is the playback
    // side's share of the latency and its reserve against a buffer that comes late; the
    // server takes two fragments more, the rest waits in the stream's queue. Applies to
    // streams opened afterwards.
    //
    // The reserve grows where it proved too short: when a playback stream that had the
    // driver's whole reserve runs dry (a busy machine held the sound back), the reserve
    // grows by ReserveStep, up to MaxReserveGrowth beyond the start amount, for that
    // stream at once and for every stream opened later. A machine that keeps up keeps the
    // short delay; a busy one trades a few milliseconds of delay for whole sound.
    // Setting the start amount starts the reserve again from it.
    void SetPlaybackStart(std::chrono::microseconds start);
    static constexpr std::chrono::microseconds ReserveStep{9375};
    static constexpr std::chrono::microseconds MaxReserveGrowth{37500};
    // The playback reserve in use now.
    std::chrono::microseconds PlaybackReserve() const;
    // The server string in use, for messages ("default" when none was named).
    std::string ServerName() const;
    // Since the driver was made: how often a playback stream ran out of data (the server
    // played silence meanwhile), and how many recorded bytes were lost because no
    // buffer was queued.
    uint64_t Underflows() const { return FUnderflows.load(std::memory_order_relaxed); }
    uint64_t LostBytes() const { return FLostBytes.load(std::memory_order_relaxed); }
    // How the thread that exchanges sound with the server is scheduled (Normal until it
    // has run once).
    TThreadPriority LoopPriority() const { return FLoopPriority.load(std::memory_order_relaxed); }

protected:
    int OpenStream(TWaveKind kind, int deviceID, const TWaveFormatEx& format,
                   TWaveMessageQueue& queue, uintptr_t instance,
                   std::shared_ptr<TWaveStream>& stream) override;

private:
    friend class TPulseStream;
    struct TEntry {
        std::string Name, Description;
        uint16_t Channels = 0;
        uint32_t Rate = 0;
        bool Monitor = false;
    };

    // The helpers below run with the main loop locked.
    bool Connect();
    int ReadList(TWaveKind kind);
    int QueryDevice(TWaveKind kind, const std::string& name, TEntry& entry);
    int DefaultName(TWaveKind kind, std::string& name);
    // Waits for Done to become true; false when the timeout passed first.
    template <class TPred> bool WaitFor(TPred done);
    // Waits (bounded) until Finished is set by the operation's callbacks; cancels an
    // unfinished operation and releases it. True when it finished in time.
    bool AwaitOperation(pa_operation* op, const bool& finished);
    void Signal();
    void GrowPlaybackReserve();

    std::string FServer;
    std::string FClientName;
    std::chrono::milliseconds FTimeout{5000};
    std::chrono::microseconds FFragment{2500};
    std::chrono::microseconds FPlaybackStart{23437};
    std::chrono::microseconds FPlaybackReserve{FPlaybackStart};
    pa_threaded_mainloop* FMainLoop = nullptr;
    pa_context* FContext = nullptr;
    std::string FError;  // why the last connection failed
    std::vector<TEntry> FSources, FSinks;
    bool FHaveSources = false, FHaveSinks = false;
    std::atomic<uint64_t> FUnderflows{0}, FLostBytes{0};
    std::atomic<TThreadPriority> FLoopPriority{TThreadPriority::Normal};
};
