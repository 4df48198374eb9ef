// The wave driver interface: numbered recording and playback devices, and streams on
// them that work with caller-owned buffers and report every event as a message.
//
// The model is the classic wave device model. A caller opens a device with a PCM format
// and a message queue; the driver posts MM_WIM_OPEN / MM_WOM_OPEN to that queue, then one
// MM_WIM_DATA for every recorded buffer that is full (or returned by Reset) and one
// MM_WOM_DONE for every buffer that was played (or returned by Reset), and finally
// MM_WIM_CLOSE / MM_WOM_CLOSE after Close. A data thread of the caller reads the queue.
//
// Buffers belong to the caller (header and data block). While a header is queued at a
// device (WHDR_INQUEUE) the driver owns it and the caller must not touch it; when its
// message arrives the caller owns it again, and may pass the very same header to another
// device: a recorded buffer can be written to a playback device as it is, and a played
// buffer can be added to a recording device again. The driver never allocates or copies
// per buffer on the caller's side (a sound server may copy internally).
//
// Handles are numbers that are never reused; a call on a closed handle fails with
// MMSYSERR_INVALHANDLE instead of touching freed memory. Every call is thread-safe.
// A driver is destroyed only when no thread calls it any more; streams still open then
// are ended without messages.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Result codes of every driver call (0 = success).
constexpr int MMSYSERR_NOERROR = 0;
constexpr int MMSYSERR_ERROR = 1;
constexpr int MMSYSERR_BADDEVICEID = 2;
constexpr int MMSYSERR_NOTENABLED = 3;
constexpr int MMSYSERR_ALLOCATED = 4;
constexpr int MMSYSERR_INVALHANDLE = 5;
constexpr int MMSYSERR_NODRIVER = 6;
constexpr int MMSYSERR_NOMEM = 7;
constexpr int MMSYSERR_NOTSUPPORTED = 8;
constexpr int MMSYSERR_BADERRNUM = 9;
constexpr int MMSYSERR_INVALFLAG = 10;
constexpr int MMSYSERR_INVALPARAM = 11;
constexpr int MMSYSERR_HANDLEBUSY = 12;
constexpr int MMSYSERR_TIMEOUT = 13;  // the sound server did not answer in time
constexpr int WAVERR_BADFORMAT = 32;
constexpr int WAVERR_STILLPLAYING = 33;
constexpr int WAVERR_UNPREPARED = 34;
constexpr int WAVERR_SYNC = 35;

// The text of a result code; empty for a number that is no result code.
std::string WaveErrorText(int result);

// Message numbers posted to a stream's queue.
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t MM_WOM_OPEN = 0x3BB;
constexpr uint32_t MM_WOM_CLOSE = 0x3BC;
constexpr uint32_t MM_WOM_DONE = 0x3BD;
constexpr uint32_t MM_WIM_OPEN = 0x3BE;
constexpr uint32_t MM_WIM_CLOSE = 0x3BF;
constexpr uint32_t MM_WIM_DATA = 0x3C0;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x00000001;      // the driver has finished with the buffer
constexpr uint32_t WHDR_PREPARED = 0x00000002;  // PrepareHeader was called
constexpr uint32_t WHDR_INQUEUE = 0x00000010;   // queued at a device, owned by the driver

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// The wave format block (the 18-byte format structure; see WaveUtils for its bytes).
struct TWaveFormatEx {
    uint16_t FormatTag = 0;
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint32_t AvgBytesPerSec = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    uint16_t ExtraSize = 0;

    bool operator==(const TWaveFormatEx&) const = default;
};

// One buffer: a header over a data block, both owned by the caller.
// A recording device fills BytesRecorded; a playback device plays BufferLength bytes.
struct TWaveHeader {
    uint8_t* Data = nullptr;
    uint32_t BufferLength = 0;
    uint32_t BytesRecorded = 0;
    uintptr_t User = 0;
    uint32_t Flags = 0;
    uint32_t Loops = 0;
    TWaveHeader* Next = nullptr;  // the driver's queue link while WHDR_INQUEUE
    uint32_t Reserved = 0;        // the driver's position in the buffer while queued
};

enum class TWaveKind { In, Out };  // recording device, playback device

// Capabilities of one device.
struct TWaveCaps {
    uint16_t ManufacturerID = 0;
    uint16_t ProductID = 0;
    uint32_t DriverVersion = 0;
    std::string ProductName;  // the name shown to users, whole
    std::string Ident;        // the sound server's own identifier of the device
    uint16_t Channels = 0;    // native channel count and rate, 0 when unknown
    uint32_t SampleRate = 0;
    bool IsMonitor = false;   // a recording device that records what a playback device plays
};

using TWaveHandle = uint64_t;  // 0 = no handle

struct TWaveMessage {
    uint32_t Msg = 0;
    TWaveHandle Handle = 0;
    uintptr_t Instance = 0;  // the value given to Open
    TWaveHeader* Header = nullptr;
};

// A thread-safe FIFO of messages. Posting never blocks and, up to the capacity given
// at creation, never allocates.
class TWaveMessageQueue {
public:
    explicit TWaveMessageQueue(size_t capacity = 256);
    TWaveMessageQueue(const TWaveMessageQueue&) = delete;
    TWaveMessageQueue& operator=(const TWaveMessageQueue&) = delete;

    void Post(const TWaveMessage& msg);
    void PostQuit();
    // Waits for the next message; false when it is WM_QUIT (the message is still given).
    bool Get(TWaveMessage& msg);
    // Waits at most Timeout; false when no message came.
    bool Get(TWaveMessage& msg, std::chrono::milliseconds timeout);
    size_t Count() const;

private:
    void PushLocked(const TWaveMessage& msg);

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TWaveMessage> FRing;
    size_t FHead = 0;
    size_t FCount = 0;
};

// A FIFO of headers linked through TWaveHeader::Next; never allocates.
class TWaveHeaderQueue {
public:
    void Push(TWaveHeader* header);
    TWaveHeader* Front() const { return FHead; }
    TWaveHeader* Pop();
    bool Empty() const { return FHead == nullptr; }
    size_t Count() const { return FCount; }

private:
    TWaveHeader* FHead = nullptr;
    TWaveHeader* FTail = nullptr;
    size_t FCount = 0;
};

// WAVERR_BADFORMAT unless Format is PCM with 1..8 channels of 8 or 16 bits whose block
// align and byte rate agree with the rest.
int CheckWaveFormat(const TWaveFormatEx& format);

// One open device. Drivers derive their streams from it; the driver's public calls
// dispatch to it. Each implementation serialises its own calls.
class TWaveStream {
public:
    TWaveStream(TWaveKind kind, const TWaveFormatEx& format, TWaveMessageQueue& queue,
                uintptr_t instance);
    virtual ~TWaveStream() = default;
    TWaveStream(const TWaveStream&) = delete;
    TWaveStream& operator=(const TWaveStream&) = delete;

    TWaveKind Kind() const { return FKind; }
    const TWaveFormatEx& Format() const { return FFormat; }
    TWaveHandle Handle() const { return FHandle; }

    virtual int PrepareHeader(TWaveHeader& header) = 0;
    virtual int UnprepareHeader(TWaveHeader& header) = 0;
    virtual int AddBuffer(TWaveHeader& header) = 0;  // recording streams
    virtual int Write(TWaveHeader& header) = 0;      // playback streams
    virtual int Start() = 0;
    virtual int Stop() = 0;
    virtual int Reset() = 0;
    // Ends the stream and posts its close message; WAVERR_STILLPLAYING while buffers
    // are queued.
    virtual int Close() = 0;
    // Posts the open message; called once by the driver after the handle is known.
    virtual void Opened() = 0;

protected:
    // Common checks and flag changes; callers hold the stream's own lock.
    static int DoPrepare(TWaveHeader& header);
    static int DoUnprepare(TWaveHeader& header);
    static int CheckQueueable(const TWaveHeader& header);
    void Post(uint32_t msg, TWaveHeader* header);
    // Marks a queued header done and posts its data or done message.
    void Complete(TWaveHeader* header);
    uint32_t OpenMsg() const { return FKind == TWaveKind::In ? MM_WIM_OPEN : MM_WOM_OPEN; }
    uint32_t CloseMsg() const { return FKind == TWaveKind::In ? MM_WIM_CLOSE : MM_WOM_CLOSE; }

private:
    friend class TWaveDriver;
    TWaveKind FKind;
    TWaveFormatEx FFormat;
    TWaveMessageQueue& FQueue;
    uintptr_t FInstance;
    TWaveHandle FHandle = 0;
};

class TWaveDriver {
public:
    TWaveDriver() = default;
    virtual ~TWaveDriver() = default;
    TWaveDriver(const TWaveDriver&) = delete;
    TWaveDriver& operator=(const TWaveDriver&) = delete;

    virtual std::string DriverName() const = 0;

    // The catalogue. NumDevs reads the device list of one kind; device N is the N-th
    // entry of the list as last read, -1 is the default device.
    virtual int NumDevs(TWaveKind kind) = 0;
    virtual int GetDevCaps(TWaveKind kind, int deviceID, TWaveCaps& caps) = 0;
    // Why the last catalogue read found no sound system; empty when it worked.
    virtual std::string CatalogueError() const = 0;

    // Opens device DeviceID; on success Handle is set and the open message is posted.
    // The queue must outlive the stream until its close message has been posted.
    int Open(TWaveKind kind, int deviceID, const TWaveFormatEx& format,
             TWaveMessageQueue& queue, uintptr_t instance, TWaveHandle& handle);
    int Close(TWaveHandle handle);
    int PrepareHeader(TWaveHandle handle, TWaveHeader& header);
    int UnprepareHeader(TWaveHandle handle, TWaveHeader& header);
    // Queues a buffer for recording (recording handles only).
    int AddBuffer(TWaveHandle handle, TWaveHeader& header);
    // Queues a buffer for playing (playback handles only).
    int Write(TWaveHandle handle, TWaveHeader& header);
    // Recording: starts recording into the queued buffers. Playback: resumes after Stop
    // (a playback stream plays from its opening on).
    int Start(TWaveHandle handle);
    // Recording: stops recording; the partly filled buffer is returned. Playback: pauses.
    int Stop(TWaveHandle handle);
    // Stops and returns every queued buffer, marked done, through messages.
    int Reset(TWaveHandle handle);

    size_t OpenStreamCount() const;

protected:
    // Opens the stream of a driver; the result code tells why it failed.
    virtual int OpenStream(TWaveKind kind, int deviceID, const TWaveFormatEx& format,
                           TWaveMessageQueue& queue, uintptr_t instance,
                           std::shared_ptr<TWaveStream>& stream) = 0;
    std::shared_ptr<TWaveStream> FindStream(TWaveHandle handle) const;
    std::vector<std::shared_ptr<TWaveStream>> TakeAllStreams();

private:
    mutable std::mutex FStreamsLock;
    std::map<TWaveHandle, std::shared_ptr<TWaveStream>> FStreams;
    TWaveHandle FNextHandle = 1;
};
