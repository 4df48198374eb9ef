// A private PulseAudio daemon for one test run.
//
// The daemon gets a fresh folder (mkdtemp) for its runtime files, state and home, a
// configuration of its own that loads only virtual devices and a native protocol
// socket at an explicit path, no session bus, and real-time scheduling for its device
// threads where the system allows it (as a desktop's daemon has). It runs in
// per-user mode also as root (it only warns there; system mode would need a "pulse"
// user and fixed system folders). Readiness is polled with "pactl info" under a bound;
// the daemon is stopped by its process id (SIGTERM, bounded wait, SIGKILL), and it is
// killed by the kernel if the test process dies first (PR_SET_PDEATHSIG). The folder of
// a run whose process died is removed by the next run (it records its owner's pid).
//
// The test environment below starts one daemon for the whole test executable and sets
// PULSE_SERVER, so child processes (pactl, pacat, sox) and drivers without an explicit
// server find it.
#pragma once

#include <string>
#include <sys/types.h>

// The virtual devices of the daemon, in the order the server lists them.
//   playback devices: SinkA, SinkB
//   recording devices: monitor of SinkA, monitor of SinkB, the sine source
struct TPulseTestDevices {
    static constexpr const char* SinkA = "brevanta_test_a";
    static constexpr const char* SinkADescription =
        "Brevanta Test Sink A with a name longer than thirty-one characters";
    static constexpr const char* SinkB = "brevanta_test_b";
    static constexpr const char* SinkBDescription = "Brevanta Test Sink B";
    static constexpr const char* Sine = "brevanta_test_sine";
    static constexpr const char* SineDescription = "Brevanta Test Sine";
};

class TPulseDaemon {
public:
    // Starts the daemon and waits until it answers; throws std::runtime_error (with the
    // daemon's log) when it cannot be started.
    TPulseDaemon();
    ~TPulseDaemon();
    TPulseDaemon(const TPulseDaemon&) = delete;
    TPulseDaemon& operator=(const TPulseDaemon&) = delete;

    // "unix:<folder>/native"
    const std::string& Server() const { return FServer; }
    const std::string& Folder() const { return FFolder; }
    pid_t Pid() const { return FPid; }
    bool Running();

    // Runs "pactl -s <server> <args>"; the exit status, with its output in Output.
    int Pactl(const std::string& args, std::string* output = nullptr) const;
    // The daemon's log so far.
    std::string Log() const;

private:
    void Stop();

    std::string FFolder;
    std::string FServer;
    pid_t FPid = -1;
};

// The daemon of this test run; started before the first test.
TPulseDaemon& PulseDaemon();
