#include "audio/AudioRedirector.h"

TAudioRedirector::TAudioRedirector(TWaveDriver& driver)
    : FInput(std::make_unique<TAudioInput>(driver)), FOutput(std::make_unique<TAudioOutput>(driver)) {
    FInput->Name = "AudioIn";
    FOutput->Name = "AudioOut";
}

void TAudioRedirector::SetPCMFormat(TPCMFormat format) {
    FPCMFormat = format;
    FWaveFormat = TWaveFormatEx();
    FormatToWaveFormat(format, FWaveFormat);
}
