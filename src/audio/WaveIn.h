// The recording device component.
#pragma once

#include "audio/WaveIO.h"

class TWaveAudioIn : public TWaveAudioIO {
public:
    explicit TWaveAudioIn(TWaveDriver& driver) : TWaveAudioIO(driver, TWaveKind::In) {}

    TPCMFormat PCMFormat() const { return FPCMFormat; }
    // Unchanged: nothing happens. Device open: EWaveAudioInvalidOperation.
    void SetPCMFormat(TPCMFormat format);

private:
    TPCMFormat FPCMFormat = Mono16bit8000Hz;
};
