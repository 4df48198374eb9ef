// Brevanta from end to end on a private PulseAudio daemon (see tests/audio/PulseFixture.h)
// and Qt's offscreen platform: the tone generator's panel is dragged onto a virtual
// speaker's panel, and the speaker's monitor, recorded with parec, plays the tone; the
// route properties dialog halves it and removes the route. Screenshots of the window
// with two routes go to <build>/screenshots/.
#include "audio/forms/AudioProperties.h"
#include "app/BRVMain.h"
#include "audio/forms/MixerLineControl.h"
#include "audio/PulseFixture.h"
#include "platform/PulseWaveDriver.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include "support/QtTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/wait.h>

namespace {

using D = TPulseTestDevices;

[[maybe_unused]] auto* const QtEnv = qntest::AddQtEnvironment("test_app_router_pulse");

// The largest sample magnitude in a piece of what a sink plays, recorded from its
// monitor as 8 kHz mono; -1 when parec gave nothing.
int MonitorPeak(const std::string& sink, int milliseconds = 300) {
    const size_t bytes = size_t(16 * milliseconds);  // 8000 samples/s, 2 bytes each
    const std::string cmd = "timeout 20 parec --server='" + PulseDaemon().Server() + "' -d " + sink +
                            ".monitor --format=s16le --rate=8000 --channels=1 --raw --latency-msec=20"
                            " 2>/dev/null | head -c " +
                            std::to_string(bytes);
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    std::string data;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) data.append(buf, n);
    ::pclose(p);
    if (data.size() < bytes) return -1;
    int peak = 0;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const int s = int16_t(uint16_t(uint8_t(data[i]) | uint8_t(data[i + 1]) << 8));
        peak = std::max(peak, std::abs(s));
    }
    return peak;
}

class RouterPulse : public ::testing::Test {
protected:
    static constexpr int SilenceMs = 2500;

    void SetUp() override { Driver = std::make_unique<TPulseWaveDriver>(PulseDaemon().Server()); }
    void TearDown() override {
        Form.reset();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        Driver.reset();
    }

    static TMixerPanel* PanelNamed(TMixerLineControl& column, const std::string& name) {
        for (size_t i = 0; i < column.PanelCount(); ++i)
            if (column.Panel(i)->DeviceName() == name) return column.Panel(i);
        return nullptr;
    }
    static void Drag(QWidget* from, QWidget* to) {
        const QPoint start = from->rect().center();
        QTest::mousePress(from, Qt::LeftButton, {}, start);
        QTest::mouseMove(from, start + QPoint(0, 20));
        QTest::mouseMove(to, to->rect().center());
        QTest::mouseRelease(to, Qt::LeftButton, {}, to->rect().center());
    }
    QPoint Middle(const TRouteInfo& route) const {
        const int yIn = Form->RowY(*Form->MixerLineControlLeft, route.Router().AudioIn().DeviceID());
        const int yOut = Form->RowY(*Form->MixerLineControlRight, route.Router().AudioOut().DeviceID());
        return QPoint(Form->PaintBox1->width() / 2, (yIn + yOut) / 2);
    }
    // Clicks on a route's line and acts in the dialog that opens.
    bool ClickRoute(const TRouteInfo& route, const std::function<void(TFormAudioProperties&)>& act) {
        TFormAudioProperties* dialog = Form->AudioProperties();
        bool shown = false;
        QTimer::singleShot(0, dialog, [&] {
            if (!dialog->isVisible()) return;
            shown = dialog->Route() == &route;
            act(*dialog);
            if (dialog->isVisible()) dialog->reject();
        });
        QTest::mouseClick(Form->PaintBox1, Qt::LeftButton, {}, Middle(route));
        return shown;
    }
    // Records pieces of the sink's sound, letting the window run between them, until
    // Done holds for one; the last peak is in Peak. The test server's sine source hands
    // out its sound in blocks of two seconds, so a route from it plays in bursts:
    // silence counts only over a piece longer than that.
    bool WaitForPeak(const std::string& sink, const std::function<bool(int)>& done, int& peak,
                     int pieceMilliseconds = 300) {
        return QTest::qWaitFor(
            [&] {
                peak = MonitorPeak(sink, pieceMilliseconds);
                return peak >= 0 && done(peak);
            },
            60000);
    }

    std::unique_ptr<TPulseWaveDriver> Driver;
    std::unique_ptr<TFormBrvV1> Form;
    std::vector<std::string> Messages;
};

TEST_F(RouterPulse, TheToneGoesWhereItIsDraggedAtTheVolumeSetAndStopsWhenRemoved) {
    Form = std::make_unique<TFormBrvV1>(Driver.get());
    TFormBrvV1& form = *Form;
    form.OnShowMessage = [this](const std::string& text) { Messages.push_back(text); };
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    // The server's devices, the monitors among the recording devices.
    ASSERT_EQ(form.MixerLineControlLeft->PanelCount(), 3u) << form.RouterStatus();
    ASSERT_EQ(form.MixerLineControlRight->PanelCount(), 2u);
    TMixerPanel* sine = PanelNamed(*form.MixerLineControlLeft, D::SineDescription);
    TMixerPanel* monitorA = PanelNamed(*form.MixerLineControlLeft, std::string("Monitor of ") + D::SinkADescription);
    TMixerPanel* sinkA = PanelNamed(*form.MixerLineControlRight, D::SinkADescription);
    TMixerPanel* sinkB = PanelNamed(*form.MixerLineControlRight, D::SinkBDescription);
    ASSERT_TRUE(sine && monitorA && sinkA && sinkB);
    EXPECT_EQ(monitorA->PictureName(), "MMStereoMix");
    // The tone generator's meter moves; nothing plays on the speakers yet.
    ASSERT_TRUE(QTest::qWaitFor([&] { return sine->Level() > 10; }, 30000)) << sine->Level();
    int peak = -1;
    ASSERT_TRUE(WaitForPeak(D::SinkA, [](int p) { return p == 0; }, peak, SilenceMs)) << peak;

    // Drag the tone generator onto speaker A: speaker A plays the tone.
    Drag(sine->Memo, sinkA);
    ASSERT_EQ(form.Routes.size(), 1u) << (Messages.empty() ? form.RouterStatus() : Messages[0]);
    TRouteInfo* toA = form.Routes[0].get();
    int full = -1;
    ASSERT_TRUE(WaitForPeak(D::SinkA, [](int p) { return p > 3000; }, full)) << full;
    // Its meters: speaker A's panel shows what the route plays, and the monitor records it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return sinkA->Level() > 10 && monitorA->Level() > 10; }, 30000))
        << sinkA->Level() << " " << monitorA->Level();
    EXPECT_EQ(sinkB->Level(), 0);

    // A second route, to speaker B.
    Drag(sine, sinkB->ProgressBar);
    ASSERT_EQ(form.Routes.size(), 2u) << (Messages.empty() ? form.RouterStatus() : Messages[0]);
    ASSERT_TRUE(WaitForPeak(D::SinkB, [](int p) { return p > 3000; }, peak)) << peak;
    ASSERT_TRUE(QTest::qWaitFor([&] { return sinkB->Level() > 10; }, 30000));
    QDir().mkpath(QN_BINARY_DIR "/screenshots");
    EXPECT_TRUE(form.grab().save(QN_BINARY_DIR "/screenshots/router-two-routes.png"));

    // Volume 50 in the dialog: speaker A plays the tone at half its level.
    ASSERT_TRUE(ClickRoute(*toA, [](TFormAudioProperties& d) {
        d.TrackBar->setValue(50);
        QTest::mouseClick(d.Button1, Qt::LeftButton);
    }));
    EXPECT_EQ(toA->Router().AudioIn().Volume(), 50);
    ASSERT_TRUE(WaitForPeak(D::SinkA, [full](int p) { return p > full * 4 / 10 && p < full * 6 / 10; }, peak))
        << peak << " of " << full;
    ASSERT_EQ(form.Routes.size(), 2u);

    // "Remove Route": speaker A falls silent, speaker B plays on.
    ASSERT_TRUE(ClickRoute(*toA, [](TFormAudioProperties& d) { QTest::mouseClick(d.Button2, Qt::LeftButton); }));
    ASSERT_EQ(form.Routes.size(), 1u);
    ASSERT_TRUE(WaitForPeak(D::SinkA, [](int p) { return p == 0; }, peak, SilenceMs)) << peak;
    ASSERT_TRUE(QTest::qWaitFor([&] { return sinkA->Level() == 0; }, 30000));
    EXPECT_TRUE(WaitForPeak(D::SinkB, [](int p) { return p > 3000; }, peak)) << peak;
    EXPECT_TRUE(Messages.empty()) << Messages[0];
}

}  // namespace
