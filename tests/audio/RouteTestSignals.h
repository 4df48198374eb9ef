// Sample helpers shared by the route tests: Stereo16bit8000Hz data as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline int16_t SampleAt(const std::vector<uint8_t>& bytes, size_t sample) {
    return int16_t(uint16_t(bytes[2 * sample] | (bytes[2 * sample + 1] << 8)));
}

inline void PutSample(std::vector<uint8_t>& bytes, int16_t s) {
    bytes.push_back(uint8_t(uint16_t(s) & 0xFF));
    bytes.push_back(uint8_t(uint16_t(s) >> 8));
}

// The route's volume arithmetic, written out: s x percent div 100 (truncating), then
// clamped to -32767..32767; 100 leaves the data as it is.
inline std::vector<uint8_t> Scaled(const std::vector<uint8_t>& bytes, int percent) {
    if (percent == 100) return bytes;
    std::vector<uint8_t> out;
    out.reserve(bytes.size());
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        int v = SampleAt(bytes, i / 2) * percent / 100;
        if (v < -32767) v = -32767;
        if (v > 32767) v = 32767;
        PutSample(out, int16_t(v));
    }
    return out;
}

// A reproducible pseudo-random sample in -Range..Range.
class TNoise {
public:
    explicit TNoise(uint32_t seed) : FState(seed) {}
    int16_t Next(int range) {
        FState = FState * 1664525u + 1013904223u;
        return int16_t(int((FState >> 8) % uint32_t(2 * range + 1)) - range);
    }

private:
    uint32_t FState;
};
