// PCM formats and their wave format blocks, the sample utilities that measure and scale
// audio buffers, and the errors of the audio layer. The sample utilities are pure
// functions and safe on any thread.
#pragma once

#include "platform/WaveDriver.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

enum TPCMFormat {
    nonePCM,
    Mono8Bit8000Hz,
    Stereo8bit8000Hz,
    Mono16bit8000Hz,
    Stereo16bit8000Hz,
    Mono8bit11025Hz,
    Stereo8bit11025Hz,
    Mono16bit11025Hz,
    Stereo16bit11025Hz,
    Mono8bit22050Hz,
    Stereo8bit22050Hz,
    Mono16bit22050Hz,
    Stereo16bit22050Hz,
    Mono8bit44100Hz,
    Stereo8bit44100Hz,
    Mono16bit44100Hz,
    Stereo16bit44100Hz,
    Mono8bit48000Hz,
    Stereo8bit48000Hz,
    Mono16bit48000Hz,
    Stereo16bit48000Hz,
};
constexpr int PCMFormatCount = int(Stereo16bit48000Hz) + 1;

// The name of a format as written above ("Stereo16bit8000Hz"); empty when out of range.
std::string PCMFormatName(TPCMFormat format);

// Fills Block for Format (PCM, block align = channels x bits / 8, bytes per second =
// block align x rate, extra size 0). For nonePCM or an unknown value the block is left
// as it is and the result is false.
bool FormatToWaveFormat(TPCMFormat format, TWaveFormatEx& block);

// The 18 bytes of a wave format block, little-endian: format tag, channels, samples per
// second, average bytes per second, block align, bits per sample, extra size.
constexpr size_t WaveFormatBlockSize = 18;
std::array<uint8_t, WaveFormatBlockSize> WaveFormatToBytes(const TWaveFormatEx& block);
// Reads the 18 bytes back; false when fewer than 18 are given.
bool WaveFormatFromBytes(const uint8_t* bytes, size_t count, TWaveFormatEx& block);

// The level of a buffer in percent of full scale: the largest positive sample (8-bit:
// around the centre 128; 16-bit: signed little-endian), both channels together; -1 for a
// format that is not 8- or 16-bit PCM.
int PeakLevel(const uint8_t* buffer, size_t byteCount, const TWaveFormatEx& format);

// Scales every sample in place by Percent (100 = unchanged, 0 = silence): 16-bit samples
// become s x percent div 100 clamped to -32767..32767; 8-bit samples are scaled around
// their centre 128 and clamped to 0..255. A negative percent counts as 0. Other formats
// are left alone; a trailing partial sample is left alone.
void ScaleVolume(uint8_t* buffer, size_t byteCount, const TWaveFormatEx& format, int percent);

class EWaveAudioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A wave driver call returned a non-zero result.
class EWaveAudioSysError : public EWaveAudioError {
public:
    EWaveAudioSysError(const std::string& message, int result)
        : EWaveAudioError(message), FResult(result) {}
    int Result() const { return FResult; }

private:
    int FResult;
};

// A property change that the open state forbids.
class EWaveAudioInvalidOperation : public EWaveAudioError {
public:
    using EWaveAudioError::EWaveAudioError;
};

// The message of a result code: the driver's text, or "Unknown sound error <n>." for a
// code without one.
std::string WaveAudioErrorText(int result);

// Does nothing for 0; otherwise raises EWaveAudioSysError with the text of Result.
void RaiseOnWaveError(int result);
