#include "audio/WaveIn.h"

void TWaveAudioIn::SetPCMFormat(TPCMFormat format) {
    if (format == FPCMFormat) return;
    if (Active()) throw EWaveAudioInvalidOperation("Audio format cannot be changed while device is open");
    FPCMFormat = format;
}
