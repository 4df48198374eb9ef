// The common base of the wave device components: one device number of one kind, the
// device's name and the catalogue of its kind.
#pragma once

#include "audio/WaveUtils.h"
#include "platform/WaveDriver.h"

#include <functional>
#include <string>

class TWaveAudioIO {
public:
    TWaveAudioIO(TWaveDriver& driver, TWaveKind kind);
    virtual ~TWaveAudioIO() = default;
    TWaveAudioIO(const TWaveAudioIO&) = delete;
    TWaveAudioIO& operator=(const TWaveAudioIO&) = delete;

    std::string Name;
    // When set, errors are reported to it instead of raised.
    std::function<void(TWaveAudioIO&)> OnError;

    TWaveDriver& Driver() const { return FDriver; }
    TWaveKind Kind() const { return FKind; }

    // Number of devices of this kind (reads the catalogue).
    int NumDevs() const;
    int DeviceID() const { return FDeviceID; }
    // Same number: nothing happens. Device open: EWaveAudioInvalidOperation. Otherwise
    // the device is queried; on success the number is kept, on failure the old number
    // stays and the error is reported (OnError, else EWaveAudioSysError).
    void SetDeviceID(int deviceID);
    // The product name of the device, whole; empty when the device cannot be queried.
    std::string DeviceName() const;
    int LastError() const { return FLastError; }
    // Whether the component has its device open.
    bool Active() const { return FActive; }

protected:
    void SetActive(bool active) { FActive = active; }
    // Reports LastError to OnError, or raises it.
    void ReportError();

private:
    TWaveDriver& FDriver;
    TWaveKind FKind;
    int FDeviceID = -1;
    int FLastError = 0;
    bool FActive = false;
};

// Both device lists as text, e.g.
//   Recording devices:
//     0: Monitor of Built-in Audio [alsa_output.pci.monitor]
//   Playback devices:
//     (none)
// followed by "Error: <reason>" when the sound system could not be reached.
std::string FormatDeviceCatalogue(TWaveDriver& driver);
