#include "audio/WaveUtils.h"

#include <algorithm>

namespace {

struct TFormatInfo {
    const char* Name;
    uint16_t Channels;
    uint32_t Rate;
    uint16_t Bits;
};

const TFormatInfo Formats[PCMFormatCount] = {
    {"nonePCM", 0, 0, 0},
    {"Mono8Bit8000Hz", 1, 8000, 8},
    {"Stereo8bit8000Hz", 2, 8000, 8},
    {"Mono16bit8000Hz", 1, 8000, 16},
    {"Stereo16bit8000Hz", 2, 8000, 16},
    {"Mono8bit11025Hz", 1, 11025, 8},
    {"Stereo8bit11025Hz", 2, 11025, 8},
    {"Mono16bit11025Hz", 1, 11025, 16},
    {"Stereo16bit11025Hz", 2, 11025, 16},
    {"Mono8bit22050Hz", 1, 22050, 8},
    {"Stereo8bit22050Hz", 2, 22050, 8},
    {"Mono16bit22050Hz", 1, 22050, 16},
    {"Stereo16bit22050Hz", 2, 22050, 16},
    {"Mono8bit44100Hz", 1, 44100, 8},
    {"Stereo8bit44100Hz", 2, 44100, 8},
    {"Mono16bit44100Hz", 1, 44100, 16},
    {"Stereo16bit44100Hz", 2, 44100, 16},
    {"Mono8bit48000Hz", 1, 48000, 8},
    {"Stereo8bit48000Hz", 2, 48000, 8},
    {"Mono16bit48000Hz", 1, 48000, 16},
    {"Stereo16bit48000Hz", 2, 48000, 16},
};

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int16_t Sample16(const uint8_t* p) { return int16_t(Get16(p)); }

}  // namespace

std::string PCMFormatName(TPCMFormat format) {
    if (format < 0 || format >= PCMFormatCount) return {};
    return Formats[format].Name;
}

bool FormatToWaveFormat(TPCMFormat format, TWaveFormatEx& block) {
    if (format <= nonePCM || format >= PCMFormatCount) return false;
    const TFormatInfo& f = Formats[format];
    block.FormatTag = WAVE_FORMAT_PCM;
    block.Channels = f.Channels;
    block.SamplesPerSec = f.Rate;
    block.BitsPerSample = f.Bits;
    block.BlockAlign = uint16_t(f.Channels * f.Bits / 8);
    block.AvgBytesPerSec = block.BlockAlign * f.Rate;
    block.ExtraSize = 0;
    return true;
}

std::array<uint8_t, WaveFormatBlockSize> WaveFormatToBytes(const TWaveFormatEx& b) {
    std::array<uint8_t, WaveFormatBlockSize> out{};
    Put16(&out[0], b.FormatTag);
    Put16(&out[2], b.Channels);
    Put32(&out[4], b.SamplesPerSec);
    Put32(&out[8], b.AvgBytesPerSec);
    Put16(&out[12], b.BlockAlign);
    Put16(&out[14], b.BitsPerSample);
    Put16(&out[16], b.ExtraSize);
    return out;
}

bool WaveFormatFromBytes(const uint8_t* bytes, size_t count, TWaveFormatEx& b) {
    if (!bytes || count < WaveFormatBlockSize) return false;
    b.FormatTag = Get16(bytes + 0);
    b.Channels = Get16(bytes + 2);
    b.SamplesPerSec = Get32(bytes + 4);
    b.AvgBytesPerSec = Get32(bytes + 8);
    b.BlockAlign = Get16(bytes + 12);
    b.BitsPerSample = Get16(bytes + 14);
    b.ExtraSize = Get16(bytes + 16);
    return true;
}

int PeakLevel(const uint8_t* buffer, size_t byteCount, const TWaveFormatEx& format) {
    if (format.FormatTag != WAVE_FORMAT_PCM) return -1;
    if (format.BitsPerSample == 8) {
        int m = 0;
        for (size_t i = 0; i < byteCount; ++i) m = std::max<int>(m, buffer[i]);
        return m >= 128 ? (m - 128) * 100 / 127 : 0;
    }
    if (format.BitsPerSample == 16) {
        int s = 0;
        for (size_t i = 0; i + 1 < byteCount; i += 2) s = std::max<int>(s, Sample16(buffer + i));
        return s * 100 / 32767;
    }
    return -1;
}

void ScaleVolume(uint8_t* buffer, size_t byteCount, const TWaveFormatEx& format, int percent) {
    if (format.FormatTag != WAVE_FORMAT_PCM) return;
    if (percent < 0) percent = 0;
    if (format.BitsPerSample == 16) {
        for (size_t i = 0; i + 1 < byteCount; i += 2) {
            int64_t s = int64_t(Sample16(buffer + i)) * percent / 100;
            s = std::clamp<int64_t>(s, -32767, 32767);
            Put16(buffer + i, uint16_t(int16_t(s)));
        }
    } else if (format.BitsPerSample == 8) {
        for (size_t i = 0; i < byteCount; ++i) {
            int64_t b = 128 + (int64_t(buffer[i]) - 128) * percent / 100;
            buffer[i] = uint8_t(std::clamp<int64_t>(b, 0, 255));
        }
    }
}

std::string WaveAudioErrorText(int result) {
    std::string text = WaveErrorText(result);
    if (text.empty()) text = "Unknown sound error " + std::to_string(result) + ".";
    return text;
}

void RaiseOnWaveError(int result) {
    if (result != MMSYSERR_NOERROR) throw EWaveAudioSysError(WaveAudioErrorText(result), result);
}
