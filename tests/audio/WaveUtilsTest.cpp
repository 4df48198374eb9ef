#include "audio/WaveUtils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

TWaveFormatEx Pcm(uint16_t bits, uint16_t channels = 1) {
    TWaveFormatEx f;
    f.FormatTag = WAVE_FORMAT_PCM;
    f.Channels = channels;
    f.SamplesPerSec = 8000;
    f.BitsPerSample = bits;
    f.BlockAlign = uint16_t(channels * bits / 8);
    f.AvgBytesPerSec = f.BlockAlign * 8000u;
    return f;
}

std::vector<uint8_t> Le16(std::initializer_list<int> samples) {
    std::vector<uint8_t> b;
    for (int s : samples) {
        b.push_back(uint8_t(s & 0xFF));
        b.push_back(uint8_t((s >> 8) & 0xFF));
    }
    return b;
}

std::vector<int> FromLe16(const std::vector<uint8_t>& b) {
    std::vector<int> s;
    for (size_t i = 0; i + 1 < b.size(); i += 2) s.push_back(int16_t(b[i] | (b[i + 1] << 8)));
    return s;
}

}  // namespace

TEST(PCMFormat, EveryFormatGivesItsWaveFormatBlock) {
    struct {
        TPCMFormat Format;
        const char* Name;
        int Channels, Rate, Bits, Align, BytesPerSec;
        const char* Bytes;
    } cases[] = {
        {Mono8Bit8000Hz, "Mono8Bit8000Hz", 1, 8000, 8, 1, 8000, "01 00 01 00 40 1F 00 00 40 1F 00 00 01 00 08 00 00 00"},
        {Stereo8bit8000Hz, "Stereo8bit8000Hz", 2, 8000, 8, 2, 16000, "01 00 02 00 40 1F 00 00 80 3E 00 00 02 00 08 00 00 00"},
        {Mono16bit8000Hz, "Mono16bit8000Hz", 1, 8000, 16, 2, 16000, "01 00 01 00 40 1F 00 00 80 3E 00 00 02 00 10 00 00 00"},
        {Stereo16bit8000Hz, "Stereo16bit8000Hz", 2, 8000, 16, 4, 32000, "01 00 02 00 40 1F 00 00 00 7D 00 00 04 00 10 00 00 00"},
        {Mono8bit11025Hz, "Mono8bit11025Hz", 1, 11025, 8, 1, 11025, "01 00 01 00 11 2B 00 00 11 2B 00 00 01 00 08 00 00 00"},
        {Stereo8bit11025Hz, "Stereo8bit11025Hz", 2, 11025, 8, 2, 22050, "01 00 02 00 11 2B 00 00 22 56 00 00 02 00 08 00 00 00"},
        {Mono16bit11025Hz, "Mono16bit11025Hz", 1, 11025, 16, 2, 22050, "01 00 01 00 11 2B 00 00 22 56 00 00 02 00 10 00 00 00"},
        {Stereo16bit11025Hz, "Stereo16bit11025Hz", 2, 11025, 16, 4, 44100, "01 00 02 00 11 2B 00 00 44 AC 00 00 04 00 10 00 00 00"},
        {Mono8bit22050Hz, "Mono8bit22050Hz", 1, 22050, 8, 1, 22050, "01 00 01 00 22 56 00 00 22 56 00 00 01 00 08 00 00 00"},
        {Stereo8bit22050Hz, "Stereo8bit22050Hz", 2, 22050, 8, 2, 44100, "01 00 02 00 22 56 00 00 44 AC 00 00 02 00 08 00 00 00"},
        {Mono16bit22050Hz, "Mono16bit22050Hz", 1, 22050, 16, 2, 44100, "01 00 01 00 22 56 00 00 44 AC 00 00 02 00 10 00 00 00"},
        {Stereo16bit22050Hz, "Stereo16bit22050Hz", 2, 22050, 16, 4, 88200, "01 00 02 00 22 56 00 00 88 58 01 00 04 00 10 00 00 00"},
        {Mono8bit44100Hz, "Mono8bit44100Hz", 1, 44100, 8, 1, 44100, "01 00 01 00 44 AC 00 00 44 AC 00 00 01 00 08 00 00 00"},
        {Stereo8bit44100Hz, "Stereo8bit44100Hz", 2, 44100, 8, 2, 88200, "01 00 02 00 44 AC 00 00 88 58 01 00 02 00 08 00 00 00"},
        {Mono16bit44100Hz, "Mono16bit44100Hz", 1, 44100, 16, 2, 88200, "01 00 01 00 44 AC 00 00 88 58 01 00 02 00 10 00 00 00"},
        {Stereo16bit44100Hz, "Stereo16bit44100Hz", 2, 44100, 16, 4, 176400, "01 00 02 00 44 AC 00 00 10 B1 02 00 04 00 10 00 00 00"},
        {Mono8bit48000Hz, "Mono8bit48000Hz", 1, 48000, 8, 1, 48000, "01 00 01 00 80 BB 00 00 80 BB 00 00 01 00 08 00 00 00"},
        {Stereo8bit48000Hz, "Stereo8bit48000Hz", 2, 48000, 8, 2, 96000, "01 00 02 00 80 BB 00 00 00 77 01 00 02 00 08 00 00 00"},
        {Mono16bit48000Hz, "Mono16bit48000Hz", 1, 48000, 16, 2, 96000, "01 00 01 00 80 BB 00 00 00 77 01 00 02 00 10 00 00 00"},
        {Stereo16bit48000Hz, "Stereo16bit48000Hz", 2, 48000, 16, 4, 192000, "01 00 02 00 80 BB 00 00 00 EE 02 00 04 00 10 00 00 00"},
    };
    ASSERT_EQ(std::size(cases), size_t(PCMFormatCount - 1));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(PCMFormatName(c.Format), c.Name);
        TWaveFormatEx f;
        ASSERT_TRUE(FormatToWaveFormat(c.Format, f));
        EXPECT_EQ(f.FormatTag, 1);
        EXPECT_EQ(f.Channels, c.Channels);
        EXPECT_EQ(int(f.SamplesPerSec), c.Rate);
        EXPECT_EQ(f.BitsPerSample, c.Bits);
        EXPECT_EQ(f.BlockAlign, c.Align);
        EXPECT_EQ(int(f.AvgBytesPerSec), c.BytesPerSec);
        EXPECT_EQ(f.ExtraSize, 0);
        auto bytes = WaveFormatToBytes(f);
        EXPECT_EQ(Hex(bytes.data(), bytes.size()), c.Bytes);
        TWaveFormatEx back;
        ASSERT_TRUE(WaveFormatFromBytes(bytes.data(), bytes.size(), back));
        EXPECT_EQ(back, f);
        EXPECT_EQ(CheckWaveFormat(f), MMSYSERR_NOERROR);
    }
}

TEST(PCMFormat, NoneAndUnknownFormatsLeaveTheBlockAlone) {
    TWaveFormatEx f;
    f.Channels = 7;
    EXPECT_FALSE(FormatToWaveFormat(nonePCM, f));
    EXPECT_FALSE(FormatToWaveFormat(TPCMFormat(PCMFormatCount), f));
    EXPECT_FALSE(FormatToWaveFormat(TPCMFormat(-1), f));
    EXPECT_EQ(f.Channels, 7);
    EXPECT_EQ(f.FormatTag, 0);
    EXPECT_EQ(PCMFormatName(nonePCM), "nonePCM");
    EXPECT_EQ(PCMFormatName(TPCMFormat(99)), "");
    uint8_t few[17] = {};
    EXPECT_FALSE(WaveFormatFromBytes(few, sizeof few, f));
}

TEST(PeakLevel, TableOfBuffers) {
    struct {
        const char* What;
        uint16_t Bits;
        std::vector<uint8_t> Data;
        int Expected;
    } cases[] = {
        {"16-bit full scale", 16, Le16({0, 32767, -100}), 100},
        {"16-bit all negative", 16, Le16({-5, -32768, -1}), 0},
        {"16-bit half scale", 16, Le16({16384, -20000}), 50},
        {"16-bit truncates", 16, Le16({-1000, 3276}), 9},
        {"16-bit empty", 16, {}, 0},
        {"16-bit odd tail ignored", 16, {0x10, 0x00, 0xFF}, 0},
        {"8-bit full scale", 8, {0, 255, 3}, 100},
        {"8-bit below centre", 8, {0, 127, 12}, 0},
        {"8-bit centre", 8, {128, 128}, 0},
        {"8-bit half", 8, {192, 10}, 50},
        {"8-bit just above centre", 8, {129}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        EXPECT_EQ(PeakLevel(c.Data.data(), c.Data.size(), Pcm(c.Bits, 2)), c.Expected);
    }
}

TEST(PeakLevel, OtherFormatsGiveMinusOne) {
    std::vector<uint8_t> data = Le16({1000, 2000});
    TWaveFormatEx f = Pcm(16);
    f.FormatTag = 3;  // floating point
    EXPECT_EQ(PeakLevel(data.data(), data.size(), f), -1);
    EXPECT_EQ(PeakLevel(data.data(), data.size(), Pcm(24)), -1);
}

TEST(ScaleVolume, SixteenBitTable) {
    struct {
        int Sample, Percent, Expected;
    } cases[] = {
        {-32768, 99, -32440}, {32767, 0, 0},    {32767, 50, 16383},  {-32768, 100, -32767},
        {-3, 50, -1},         {1000, 150, 1500}, {30000, 200, 32767}, {-30000, 200, -32767},
        {12345, -10, 0},      {12345, 100, 12345},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Sample << " at " << c.Percent << "%");
        std::vector<uint8_t> data = Le16({c.Sample});
        ScaleVolume(data.data(), data.size(), Pcm(16), c.Percent);
        EXPECT_EQ(FromLe16(data), std::vector<int>{c.Expected});
    }
}

TEST(ScaleVolume, EightBitScalesAroundTheCentre) {
    struct {
        int Byte, Percent, Expected;
    } cases[] = {
        {255, 0, 128}, {0, 0, 128},    {255, 50, 191}, {0, 50, 64},
        {128, 37, 128}, {200, 100, 200}, {255, 200, 255}, {0, 200, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Byte << " at " << c.Percent << "%");
        std::vector<uint8_t> data{uint8_t(c.Byte)};
        ScaleVolume(data.data(), data.size(), Pcm(8), c.Percent);
        EXPECT_EQ(int(data[0]), c.Expected);
    }
}

TEST(ScaleVolume, LeavesOtherFormatsAndPartialSamplesAlone) {
    std::vector<uint8_t> data = Le16({1000, 2000});
    data.push_back(0x7F);
    TWaveFormatEx f = Pcm(16);
    f.FormatTag = 2;
    ScaleVolume(data.data(), data.size(), f, 0);
    EXPECT_EQ(FromLe16(data), (std::vector<int>{1000, 2000}));
    ScaleVolume(data.data(), data.size(), Pcm(24), 0);
    EXPECT_EQ(FromLe16(data), (std::vector<int>{1000, 2000}));
    ScaleVolume(data.data(), data.size(), Pcm(16, 2), 50);
    EXPECT_EQ(FromLe16(data), (std::vector<int>{500, 1000}));
    EXPECT_EQ(data.back(), 0x7F);
}

TEST(WaveErrors, RaiseOnWaveErrorCarriesTheDriverText) {
    EXPECT_NO_THROW(RaiseOnWaveError(MMSYSERR_NOERROR));
    try {
        RaiseOnWaveError(MMSYSERR_BADDEVICEID);
        FAIL() << "no exception";
    } catch (const EWaveAudioSysError& e) {
        EXPECT_EQ(e.Result(), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(std::string(e.what()), WaveErrorText(MMSYSERR_BADDEVICEID));
    }
    EXPECT_THROW(RaiseOnWaveError(WAVERR_BADFORMAT), EWaveAudioError);
    // A number without a text still gives a message.
    try {
        RaiseOnWaveError(999);
        FAIL() << "no exception";
    } catch (const EWaveAudioSysError& e) {
        EXPECT_STREQ(e.what(), "Unknown sound error 999.");
    }
}

TEST(WaveErrors, EveryResultCodeHasAText) {
    for (int code : {MMSYSERR_NOERROR, MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_NOTENABLED,
                     MMSYSERR_ALLOCATED, MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM,
                     MMSYSERR_NOTSUPPORTED, MMSYSERR_BADERRNUM, MMSYSERR_INVALFLAG,
                     MMSYSERR_INVALPARAM, MMSYSERR_HANDLEBUSY, MMSYSERR_TIMEOUT, WAVERR_BADFORMAT,
                     WAVERR_STILLPLAYING, WAVERR_UNPREPARED, WAVERR_SYNC})
        EXPECT_FALSE(WaveErrorText(code).empty()) << code;
    EXPECT_EQ(WaveErrorText(999), "");
}
