#include "audio/AudioRedirector.h"
#include "platform/SimWaveDriver.h"

#include <gtest/gtest.h>

namespace {

// Counts the capability queries that reach the driver.
class TCountingDriver : public TSimWaveDriver {
public:
    int GetDevCaps(TWaveKind kind, int deviceID, TWaveCaps& caps) override {
        ++Queries;
        return TSimWaveDriver::GetDevCaps(kind, deviceID, caps);
    }
    int Queries = 0;
};

// A component whose device counts as open.
class TOpenInput : public TWaveAudioIn {
public:
    using TWaveAudioIn::TWaveAudioIn;
    void MarkOpen() { SetActive(true); }
};

const std::string LongName = "Monitor of Built-in Audio Analog Stereo (a name past 31 characters)";

class WaveIO : public testing::Test {
protected:
    void SetUp() override {
        Driver.AddDevice(TWaveKind::In, "Microphone");
        Driver.AddDevice(TWaveKind::In, LongName, true);
        Driver.AddDevice(TWaveKind::Out, "Speakers");
    }
    TCountingDriver Driver;
};

}  // namespace

TEST_F(WaveIO, RedirectorOwnsNamedComponentsWithTheirDefaults) {
    TAudioRedirector r(Driver);
    EXPECT_EQ(r.Input().Name, "AudioIn");
    EXPECT_EQ(r.Output().Name, "AudioOut");
    EXPECT_EQ(r.Input().PCMFormat(), Mono16bit8000Hz);
    EXPECT_EQ(r.Input().DeviceID(), -1);
    EXPECT_EQ(r.Input().LastError(), 0);
    EXPECT_FALSE(r.Input().Active());
    EXPECT_EQ(r.Input().NumDevs(), 2);
    EXPECT_EQ(r.Output().NumDevs(), 1);

    r.SetPCMFormat(Mono16bit11025Hz);
    EXPECT_EQ(r.PCMFormat(), Mono16bit11025Hz);
    EXPECT_EQ(r.WaveFormat().SamplesPerSec, 11025u);
    EXPECT_EQ(r.WaveFormat().AvgBytesPerSec, 22050u);
    r.SetPCMFormat(nonePCM);
    EXPECT_EQ(r.WaveFormat(), TWaveFormatEx());
}

TEST_F(WaveIO, DeviceIDQueriesTheDeviceAndKeepsValidNumbers) {
    TAudioRedirector r(Driver);
    r.Input().SetDeviceID(1);
    EXPECT_EQ(r.Input().DeviceID(), 1);
    EXPECT_EQ(r.Input().LastError(), 0);
    EXPECT_EQ(r.Input().DeviceName(), LongName);  // whole, not cut at 31 characters
    EXPECT_EQ(r.Output().DeviceName(), "Speakers");  // -1: the default device

    int before = Driver.Queries;
    r.Input().SetDeviceID(1);  // the same number does not query
    EXPECT_EQ(Driver.Queries, before);
}

TEST_F(WaveIO, InvalidDeviceIDRaisesAndKeepsTheOldNumber) {
    TAudioRedirector r(Driver);
    r.Input().SetDeviceID(0);
    for (int bad : {2, 17, -2}) {
        SCOPED_TRACE(bad);
        try {
            r.Input().SetDeviceID(bad);
            FAIL() << "no exception";
        } catch (const EWaveAudioSysError& e) {
            EXPECT_EQ(e.Result(), MMSYSERR_BADDEVICEID);
            EXPECT_EQ(std::string(e.what()), WaveErrorText(MMSYSERR_BADDEVICEID));
        }
        EXPECT_EQ(r.Input().DeviceID(), 0);
        EXPECT_EQ(r.Input().LastError(), MMSYSERR_BADDEVICEID);
    }
    // A good number afterwards clears the error.
    r.Input().SetDeviceID(1);
    EXPECT_EQ(r.Input().LastError(), 0);
}

TEST_F(WaveIO, OnErrorReceivesErrorsInsteadOfAnException) {
    TAudioRedirector r(Driver);
    int reported = 0;
    r.Output().OnError = [&](TWaveAudioIO& io) {
        ++reported;
        EXPECT_EQ(&io, &r.Output());
        EXPECT_EQ(io.LastError(), MMSYSERR_BADDEVICEID);
    };
    EXPECT_NO_THROW(r.Output().SetDeviceID(5));
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(r.Output().DeviceID(), -1);
}

TEST_F(WaveIO, OpenDeviceForbidsChangingNumberAndFormat) {
    TOpenInput in(Driver);
    in.SetDeviceID(0);
    in.MarkOpen();
    int before = Driver.Queries;
    try {
        in.SetDeviceID(1);
        FAIL() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "DeviceID cannot be changed while device is open");
    }
    EXPECT_EQ(Driver.Queries, before);
    EXPECT_EQ(in.DeviceID(), 0);
    EXPECT_NO_THROW(in.SetDeviceID(0));  // unchanged is no change
    try {
        in.SetPCMFormat(Stereo16bit44100Hz);
        FAIL() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Audio format cannot be changed while device is open");
    }
    EXPECT_EQ(in.PCMFormat(), Mono16bit8000Hz);
    EXPECT_NO_THROW(in.SetPCMFormat(Mono16bit8000Hz));
}

TEST_F(WaveIO, VanishedDeviceHasAnEmptyNameAndNoError) {
    TAudioRedirector r(Driver);
    r.Output().SetDeviceID(0);
    Driver.RemoveDevice(TWaveKind::Out, "Speakers");
    EXPECT_EQ(r.Output().DeviceName(), "");
    EXPECT_EQ(r.Output().LastError(), 0);
    EXPECT_EQ(r.Output().NumDevs(), 0);
}

TEST_F(WaveIO, CatalogueListsBothKindsAndTheReasonWhenUnreachable) {
    EXPECT_EQ(FormatDeviceCatalogue(Driver),
              "Recording devices:\n"
              "  0: Microphone\n"
              "  1: " + LongName + "\n"
              "Playback devices:\n"
              "  0: Speakers\n");

    TSimWaveDriver none;
    none.SetUnavailable("Cannot connect to the sound server \"x\": Connection refused");
    TAudioRedirector r(none);
    EXPECT_EQ(r.Input().NumDevs(), 0);
    EXPECT_EQ(FormatDeviceCatalogue(none),
              "Recording devices:\n"
              "  (none)\n"
              "Playback devices:\n"
              "  (none)\n"
              "Error: Cannot connect to the sound server \"x\": Connection refused\n");
}
