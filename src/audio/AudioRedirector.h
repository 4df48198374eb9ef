// The audio component pair that the mixer panels use as their device catalogue: one
// recording component "AudioIn" and one playback component "AudioOut".
#pragma once

#include "audio/WaveIn.h"
#include "audio/WaveOut.h"

#include <memory>

class TAudioInput : public TWaveAudioIn {
public:
    explicit TAudioInput(TWaveDriver& driver) : TWaveAudioIn(driver) {}
};

class TAudioOutput : public TWaveAudioOut {
public:
    explicit TAudioOutput(TWaveDriver& driver) : TWaveAudioOut(driver) {}
};

class TAudioRedirector {
public:
    explicit TAudioRedirector(TWaveDriver& driver);

    TAudioInput& Input() const { return *FInput; }
    TAudioOutput& Output() const { return *FOutput; }

    TPCMFormat PCMFormat() const { return FPCMFormat; }
    // Keeps the format and builds its wave format block.
    void SetPCMFormat(TPCMFormat format);
    const TWaveFormatEx& WaveFormat() const { return FWaveFormat; }

private:
    std::unique_ptr<TAudioInput> FInput;
    std::unique_ptr<TAudioOutput> FOutput;
    TPCMFormat FPCMFormat = nonePCM;
    TWaveFormatEx FWaveFormat;
};
