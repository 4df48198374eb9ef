// The terminal commands of the audio subsystem, for a program's main to call:
//
//   brevanta --list-devices
//   brevanta --route REC PLAY [--volume N]
//
// They install no signal handlers: the caller passes a flag that its handler sets
// (std::atomic<bool> is lock-free, so setting it from a signal handler is safe).
#pragma once

#include "platform/WaveDriver.h"

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

// Prints the recording and playback devices with their numbers. 0, or 1 when the sound
// system could not be reached (the reason is printed to Err).
int RunListDevicesCommand(std::ostream& out, std::ostream& err);
int RunListDevicesCommand(TWaveDriver& driver, std::ostream& out, std::ostream& err);

// Args are the words after "--route": REC PLAY [--volume N]. REC and PLAY are device
// numbers as --list-devices shows them, or device names (the sound server's identifier,
// or the name shown, case ignored). N is 0..100 (default 100). Routes the sound until
// Stop is set, then stops the route. Returns 0 after a stop on request, 2 for bad
// arguments or an unknown device, 1 when the route could not start or stopped by
// itself (a device vanished); the reason goes to Err. The first overload uses the
// PulseAudio driver (PULSE_SERVER and the usual lookup).
int RunRouteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>& stop);
int RunRouteCommand(TWaveDriver& driver, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err, const std::atomic<bool>& stop);

// The usage line of the route command.
extern const char* const RouteCommandUsage;
