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

#include "platform/WaveDriver.h"

#include <chrono>

struct pa_threaded_mainloop;
struct pa_context;

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
    // The server's fragment of sound per transfer (default 10 ms): the recording side
    // asks for data in pieces of this length, the playback side keeps about two of them
    // queued at the server. Applies to streams opened afterwards.
    void SetFragment(std::chrono::microseconds fragment);
    // The server string in use, for messages ("default" when none was named).
    std::string ServerName() const;

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
    void Signal();

    std::string FServer;
    std::string FClientName;
    std::chrono::milliseconds FTimeout{5000};
    std::chrono::microseconds FFragment{10000};
    pa_threaded_mainloop* FMainLoop = nullptr;
    pa_context* FContext = nullptr;
    std::string FError;  // why the last connection failed
    std::vector<TEntry> FSources, FSinks;
    bool FHaveSources = false, FHaveSinks = false;
};
