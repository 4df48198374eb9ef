// A wave driver with in-process devices, for tests of the audio subsystem.
//
// Time is virtual: nothing moves until Advance is called. Then every started recording
// stream records the bytes of that span from its device's capture data into its queued
// buffers, and every running playback stream plays that span from its queued buffers
// into its device's played data; each buffer that is full or played is reported by a
// message, as a real device would. Failures can be scripted: a call that fails once, a
// device that vanishes, open or close messages that are held back.
#pragma once

#include "platform/WaveDriver.h"

#include <functional>

// The calls that failure injection can target.
enum class TSimCall { Open, Prepare, AddBuffer, Write, Start, Stop, Reset, Close };

class TSimWaveDriver : public TWaveDriver {
public:
    // Fills Count bytes of capture data at byte Offset of the recording stream.
    using TCaptureFn = std::function<void(uint8_t* dest, size_t count, uint64_t offset)>;

    TSimWaveDriver();
    ~TSimWaveDriver() override;

    std::string DriverName() const override { return "simulated"; }
    int NumDevs(TWaveKind kind) override;
    int GetDevCaps(TWaveKind kind, int deviceID, TWaveCaps& caps) override;
    std::string CatalogueError() const override;

    // --- the devices (names are unique per kind) ---
    // Appends a device; its number is its place in the list.
    void AddDevice(TWaveKind kind, const std::string& name, bool isMonitor = false);
    // The device vanishes: it leaves the list, its streams return their queued buffers
    // and every later call on them but Close fails with MMSYSERR_NODRIVER.
    void RemoveDevice(TWaveKind kind, const std::string& name);
    // Makes the catalogue empty and unreachable, as when no sound system runs.
    void SetUnavailable(const std::string& reason);

    // Capture data of a recording device: the bytes are repeated when Loop is set, and
    // silence follows otherwise. Without capture data a device records silence.
    void SetCaptureData(const std::string& device, std::vector<uint8_t> data, bool loop = true);
    void SetCaptureFn(const std::string& device, TCaptureFn fn);
    // Everything the playback streams of a device have played, in order.
    std::vector<uint8_t> PlayedData(const std::string& device) const;
    void ClearPlayedData(const std::string& device);

    // --- the virtual clock ---
    void Advance(std::chrono::microseconds span);
    std::chrono::microseconds Now() const;

    // --- failure injection ---
    // The call of kind Call (on Device, or any device when empty) fails once with Result,
    // after Skip calls of that kind have succeeded.
    void FailNext(TSimCall call, int result, int skip = 0, const std::string& device = {});
    // While held, open messages are not posted; releasing posts the held ones (and a
    // stream closed meanwhile posts its held open message just before its close message).
    void HoldOpenMessages(bool hold);
    // While set, Close succeeds but posts no close message: a device that never
    // acknowledges its close.
    void DropCloseMessages(bool drop);

    // --- observation ---
    // Buffers queued at the open streams of a device.
    size_t QueuedBuffers(TWaveKind kind, const std::string& device) const;
    // Streams open on a device.
    size_t OpenStreams(TWaveKind kind, const std::string& device) const;
    // Recorded bytes lost because no buffer was queued; played bytes missing because no
    // buffer was queued.
    uint64_t OverrunBytes(const std::string& device) const;
    uint64_t UnderrunBytes(const std::string& device) const;
    // Waits until Pred holds, re-checking it after every driver call; false when it still
    // does not hold after Timeout. Pred may call the observation functions.
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

protected:
    int OpenStream(TWaveKind kind, int deviceID, const TWaveFormatEx& format,
                   TWaveMessageQueue& queue, uintptr_t instance,
                   std::shared_ptr<TWaveStream>& stream) override;

private:
    friend class TSimStream;
    struct TDevice;
    struct TFailure {
        TSimCall Call;
        int Result;
        int Skip;
        std::string Device;
    };

    TDevice* FindDevice(TWaveKind kind, const std::string& name) const;
    // The result of an injected failure for this call, or 0; called with FLock held.
    int TakeFailure(TSimCall call, const std::string& device);
    void ChangedLocked() { ++FChangeCount; }

    mutable std::mutex FLock;
    std::condition_variable FChangedCv;
    uint64_t FChangeCount = 0;
    std::vector<std::unique_ptr<TDevice>> FIn, FOut;
    std::vector<std::unique_ptr<TDevice>> FGone;  // vanished devices, kept for their streams
    std::vector<class TSimStream*> FLive;          // open streams
    std::vector<TFailure> FFailures;
    std::string FUnavailable;
    std::chrono::microseconds FNow{0};
    bool FHoldOpen = false, FDropClose = false;
    std::vector<class TSimStream*> FHeldOpen;
};
