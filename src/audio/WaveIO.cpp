#include "audio/WaveIO.h"

TWaveAudioIO::TWaveAudioIO(TWaveDriver& driver, TWaveKind kind) : FDriver(driver), FKind(kind) {}

int TWaveAudioIO::NumDevs() const { return FDriver.NumDevs(FKind); }

void TWaveAudioIO::SetDeviceID(int deviceID) {
    if (deviceID == FDeviceID) return;
    if (FActive) throw EWaveAudioInvalidOperation("DeviceID cannot be changed while device is open");
    TWaveCaps caps;
    FLastError = FDriver.GetDevCaps(FKind, deviceID, caps);
    if (FLastError == MMSYSERR_NOERROR) FDeviceID = deviceID;
    else ReportError();
}

std::string TWaveAudioIO::DeviceName() const {
    TWaveCaps caps;
    if (FDriver.GetDevCaps(FKind, FDeviceID, caps) != MMSYSERR_NOERROR) return {};
    return caps.ProductName;
}

void TWaveAudioIO::ReportError() {
    if (OnError) OnError(*this);
    else throw EWaveAudioSysError(WaveAudioErrorText(FLastError), FLastError);
}

std::string FormatDeviceCatalogue(TWaveDriver& driver) {
    std::string text;
    for (TWaveKind kind : {TWaveKind::In, TWaveKind::Out}) {
        text += kind == TWaveKind::In ? "Recording devices:\n" : "Playback devices:\n";
        int n = driver.NumDevs(kind);
        if (n == 0) text += "  (none)\n";
        for (int i = 0; i < n; ++i) {
            TWaveCaps caps;
            text += "  " + std::to_string(i) + ": ";
            if (driver.GetDevCaps(kind, i, caps) == MMSYSERR_NOERROR) {
                text += caps.ProductName;
                if (!caps.Ident.empty() && caps.Ident != caps.ProductName) text += " [" + caps.Ident + "]";
            } else {
                text += "(gone)";
            }
            text += "\n";
        }
    }
    std::string error = driver.CatalogueError();
    if (!error.empty()) text += "Error: " + error + "\n";
    return text;
}
