// The router window, its device columns and the route properties dialog on Qt's
// offscreen platform, with the simulated wave driver. The mouse is driven with
// synthetic events; screenshots go to <build>/screenshots/.
#include "audio/forms/AudioProperties.h"
#include "app/BRVMain.h"
#include "audio/forms/MixerLineControl.h"
#include "platform/SimWaveDriver.h"
#include "support/TestSupport.h"
#include "ui/QNHints.h"

#include <gtest/gtest.h>

#include "support/QtTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

[[maybe_unused]] auto* const QtEnv = qntest::AddQtEnvironment("test_app_router");

using qntest::SaveScreenshot;

// Stereo16bit8000Hz samples of one value: a steady level of Value / 32767.
std::vector<uint8_t> Steady(int16_t value, size_t frames = 75) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < 2 * frames; ++i) {
        bytes.push_back(uint8_t(uint16_t(value) & 0xFF));
        bytes.push_back(uint8_t(uint16_t(value) >> 8));
    }
    return bytes;
}

struct TDevice {
    TWaveKind Kind;
    const char* Name;
    bool Monitor;
    const char* Picture;  // the picture its panel shows
};

// In the order of their numbers within each kind.
const TDevice Devices[] = {
    {TWaveKind::In, "Stereo Mix (Realtek High Definition Audio)", false, "MMStereoMix"},
    {TWaveKind::In, "Microphone (USB Audio Device)", false, "MMMic"},
    // The name alone would say "speaker": what a monitor records is a stereo mix.
    {TWaveKind::In, "Monitor of Built-in Speakers", true, "MMStereoMix"},
    {TWaveKind::In, "Line 1 Capture", false, "MMLineIn"},
    {TWaveKind::In, "Webcam", false, "MMMic"},
    {TWaveKind::Out, "Speakers (Realtek High Definition Audio)", false, "MMSpeaker"},
    {TWaveKind::Out, "Digital Output (S/PDIF)", false, "MMDigital"},
    {TWaveKind::Out, "HDMI OUT", false, "MMLineIn"},
    {TWaveKind::Out, "Headphones", false, "MMMic"},
};
constexpr int InCount = 5;
constexpr int OutCount = 4;
const char* const LineIn = "Line 1 Capture";
const char* const Speakers = "Speakers (Realtek High Definition Audio)";

class RouterForms : public ::testing::Test {
protected:
    void SetUp() override {
        for (const TDevice& d : Devices) Sim.AddDevice(d.Kind, d.Name, d.Monitor);
    }
    void TearDown() override {
        Form.reset();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    TFormBrvV1& MakeForm() {
        Form = std::make_unique<TFormBrvV1>(&Sim);
        Form->OnShowMessage = [this](const std::string& text) { Messages.push_back(text); };
        // The tests look at the devices themselves.
        Form->DeviceTimer->stop();
        Form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
        return *Form;
    }

    TMixerPanel* Left(int i) const { return Form->MixerLineControlLeft->Panel(size_t(i)); }
    TMixerPanel* Right(int i) const { return Form->MixerLineControlRight->Panel(size_t(i)); }

    // Press on From, move past the drag threshold, move onto To, release there.
    static void Drag(QWidget* from, QWidget* to, QPoint toPos = {}) {
        const QPoint start = from->rect().center();
        if (toPos.isNull()) toPos = to->rect().center();
        QTest::mousePress(from, Qt::LeftButton, {}, start);
        QTest::mouseMove(from, start + QPoint(0, 20));
        QTest::mouseMove(to, toPos);
        QTest::mouseRelease(to, Qt::LeftButton, {}, toPos);
    }
    // Routes recording panel In to playback panel Out by a drop on the panel.
    TRouteInfo* Route(int in, int out) {
        const size_t before = Form->Routes.size();
        Drag(Left(in), Right(out));
        return Form->Routes.size() == before + 1 ? Form->Routes.back().get() : nullptr;
    }
    // Where a route's line crosses the middle of the paint box.
    QPoint Middle(const TRouteInfo& route) const {
        const int yIn = Form->RowY(*Form->MixerLineControlLeft, route.Router().AudioIn().DeviceID());
        const int yOut = Form->RowY(*Form->MixerLineControlRight, route.Router().AudioOut().DeviceID());
        return QPoint(Form->PaintBox1->width() / 2, (yIn + yOut) / 2);
    }
    // What the screen shows at a point of the paint box.
    uint32_t ScreenColor(QPoint p) const {
        const QRgb rgb = Form->PaintBox1->grab().toImage().pixel(p);
        return uint32_t(qRed(rgb)) | uint32_t(qGreen(rgb)) << 8 | uint32_t(qBlue(rgb)) << 16;
    }
    // Clicks on the paint box; Act runs while the properties dialog shows (it is closed
    // afterwards if Act leaves it open). False when no dialog showed.
    bool ClickRoute(QPoint p, const std::function<void(TFormAudioProperties&)>& act) {
        TFormAudioProperties* dialog = Form->AudioProperties();
        bool shown = false;
        // The timer can only fire in the dialog's own event loop: the click is delivered
        // at once.
        QTimer::singleShot(0, dialog, [&] {
            if (!dialog->isVisible()) return;
            shown = true;
            act(*dialog);
            if (dialog->isVisible()) dialog->reject();
        });
        QTest::mouseClick(Form->PaintBox1, Qt::LeftButton, {}, p);
        QCoreApplication::processEvents();
        return shown;
    }
    // Lets the simulated devices run until Done holds.
    bool RunUntil(const std::function<bool()>& done) {
        return QTest::qWaitFor(
            [&] {
                Sim.Advance(20ms);
                return done();
            },
            20000);
    }

    TSimWaveDriver Sim;
    std::unique_ptr<TFormBrvV1> Form;
    std::vector<std::string> Messages;
};

TEST_F(RouterForms, EveryDeviceGetsAPanelWithItsNamePictureAndHint) {
    TFormBrvV1& form = MakeForm();
    ASSERT_EQ(form.MixerLineControlLeft->PanelCount(), size_t(InCount));
    ASSERT_EQ(form.MixerLineControlRight->PanelCount(), size_t(OutCount));
    int in = 0, out = 0;
    for (const TDevice& d : Devices) {
        SCOPED_TRACE(d.Name);
        TMixerPanel* panel = d.Kind == TWaveKind::In ? Left(in) : Right(out);
        const int number = d.Kind == TWaveKind::In ? in++ : out++;
        EXPECT_EQ(panel->DeviceIndex, number);
        EXPECT_EQ(panel->DeviceName(), d.Name);
        // The name fits its field: broken into lines, inside long words too, and cut
        // with an ellipsis when it is too long.
        const QStringList lines = panel->Memo->text().split('\n');
        const QFontMetrics metrics(panel->Memo->font());
        EXPECT_LE(int(lines.size()) * metrics.lineSpacing(), panel->Memo->height());
        for (const QString& line : lines) EXPECT_LE(metrics.horizontalAdvance(line), panel->Memo->width()) << line.toStdString();
        QString shown = lines.join("");
        shown.remove(QChar(0x2026)).remove(' ');
        EXPECT_TRUE(QString(d.Name).remove(' ').startsWith(shown)) << shown.toStdString();
        EXPECT_EQ(panel->PictureName(), d.Picture);
        EXPECT_FALSE(panel->Image->pixmap().isNull());
        EXPECT_EQ(panel->geometry(), QRect(0, number * 77, 312 - 21, 77));
        const std::string hint = std::string(BrevantaHelpURL) + "|" +
                                 (d.Kind == TWaveKind::In ? "Drag to Audio Out - F1 for help."
                                                          : "Drag an Audio In here - F1 for help.");
        for (QWidget* w : {static_cast<QWidget*>(panel), static_cast<QWidget*>(panel->Image),
                           static_cast<QWidget*>(panel->Memo), static_cast<QWidget*>(panel->ProgressBar)})
            EXPECT_EQ(HintOf(w), hint);
    }
    EXPECT_TRUE(Left(0)->Memo->text().endsWith(QChar(0x2026))) << Left(0)->Memo->text().toStdString();
    // The children keep their places on a panel 19 pixels narrower than designed: the
    // name and the recording panel's bar follow the right edge.
    EXPECT_EQ(Left(0)->Image->geometry(), QRect(10, 12, 51, 51));
    EXPECT_EQ(Left(0)->Memo->geometry(), QRect(78, 0, 88 - 19, 73));
    EXPECT_EQ(Left(0)->ProgressBar->geometry(), QRect(179 - 19, 5, 105, 17));
    EXPECT_EQ(Right(0)->Image->geometry(), QRect(214, 12, 73, 73));
    EXPECT_EQ(Right(0)->Memo->geometry(), QRect(125, 0, 88 - 19, 73));
    EXPECT_EQ(Right(0)->ProgressBar->geometry(), QRect(12, 7, 105, 17));
    // One level meter per recording device; nothing is open on the playback devices.
    for (const TDevice& d : Devices)
        EXPECT_EQ(Sim.OpenStreams(d.Kind, d.Name), d.Kind == TWaveKind::In ? 1u : 0u) << d.Name;
    EXPECT_EQ(HintOf(form.PaintBox1),
              std::string(BrevantaHelpURL) + "|Routes will be shown here.  Click on a route to edit/delete.");
    EXPECT_EQ(HintOf(form.MixerLineControlRight), std::string(BrevantaHelpURL) + "|Drop an Audio In here.");
    SaveScreenshot(&form, "router-devices");
}

TEST_F(RouterForms, PositionOfGivesTheCentreOfADevicesRow) {
    TFormBrvV1& form = MakeForm();
    const TMixerLineControl& left = *form.MixerLineControlLeft;
    EXPECT_EQ(left.RowHeight, 77);
    const struct {
        int Device, Position;
    } cases[] = {{0, 38}, {1, 115}, {2, 192}, {4, 346}, {InCount, -39}, {-1, -39}};
    for (const auto& c : cases) EXPECT_EQ(left.PositionOf(c.Device), c.Position) << c.Device;
    EXPECT_EQ(form.MixerLineControlRight->PanelOf(2), Right(2));
    EXPECT_EQ(form.MixerLineControlRight->PanelOf(OutCount), nullptr);
}

TEST_F(RouterForms, LevelMetersShowWhatTheDevicesRecordAndPlay) {
    Sim.SetCaptureData(LineIn, Steady(16384));  // half of full scale
    MakeForm();
    TMixerPanel* line = Left(3);
    ASSERT_TRUE(RunUntil([&] { return line->Level() == 50; })) << line->Level();
    EXPECT_EQ(Left(0)->Level(), 0);  // silence
    // A route: the playback panel shows what the route plays.
    ASSERT_NE(Route(3, 0), nullptr);
    ASSERT_TRUE(RunUntil([&] { return Right(0)->Level() == 50; })) << Right(0)->Level();
    EXPECT_EQ(Right(1)->Level(), 0);
}

TEST_F(RouterForms, ADragStartsOnlyAfterFifteenPixels) {
    MakeForm();
    const struct {
        QPoint Move;
        bool Drags;
    } cases[] = {
        {{14, 0}, false}, {{0, -14}, false}, {{10, 10}, false}, {{15, 0}, true}, {{0, 15}, true}, {{-3, -15}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Move.x()) + "," + std::to_string(c.Move.y()));
        QWidget* source = Left(1)->Memo;
        const QPoint start(20, 30);
        QTest::mousePress(source, Qt::LeftButton, {}, start);
        QTest::mouseMove(source, start + c.Move);
        EXPECT_EQ(Form->MixerLineControlLeft->Dragging(), c.Drags);
        QTest::mouseRelease(source, Qt::LeftButton, {}, start + c.Move);
        EXPECT_FALSE(Form->MixerLineControlLeft->Dragging());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
    // Other buttons start nothing.
    QTest::mousePress(Left(1), Qt::RightButton, {}, QPoint(20, 30));
    QTest::mouseMove(Left(1), QPoint(20, 80));
    EXPECT_FALSE(Form->MixerLineControlLeft->Dragging());
    QTest::mouseRelease(Left(1), Qt::RightButton, {}, QPoint(20, 80));
    EXPECT_TRUE(Form->Routes.empty());
}

TEST_F(RouterForms, ADropOnAPlaybackPanelOrItsNameOrBarCreatesARouteAndALine) {
    TFormBrvV1& form = MakeForm();
    struct TEvent {
        QObject* Sender;
        int In, Out;
        TPCMFormat Format;
    };
    std::vector<TEvent> events;
    TWaveAudioEvent create = form.MixerLineControlRight->OnReRoute;
    form.MixerLineControlRight->OnReRoute = [&](QObject* sender, int in, int out, TPCMFormat format) {
        events.push_back({sender, in, out, format});
        create(sender, in, out, format);
    };
    TMixerPanel* target = Right(2);
    QWidget* targets[] = {target, target->Memo, target->ProgressBar, target->Image};
    for (size_t i = 0; i < std::size(targets); ++i) {
        SCOPED_TRACE(targets[i]->objectName().toStdString());
        // The drag may start on a child of the recording panel too. The panel itself is
        // bare between its bar and its name.
        Drag(i % 2 == 0 ? static_cast<QWidget*>(Left(1)) : Left(1)->Image, targets[i],
             i == 0 ? QPoint(120, 60) : QPoint());
        ASSERT_EQ(events.size(), i + 1);
        EXPECT_EQ(events[i].Sender, targets[i]);
        EXPECT_EQ(events[i].In, 1);
        EXPECT_EQ(events[i].Out, 2);
        EXPECT_EQ(events[i].Format, Mono16bit11025Hz);
        ASSERT_EQ(form.Routes.size(), i + 1);
        const TRouteInfo& route = *form.Routes[i];
        EXPECT_EQ(route.Router().AudioIn().DeviceID(), 1);
        EXPECT_EQ(route.Router().AudioOut().DeviceID(), 2);
        // The same pair again: each route opens the recording device once more.
        EXPECT_EQ(Sim.OpenStreams(TWaveKind::In, Devices[1].Name), i + 2);
        EXPECT_EQ(Sim.OpenStreams(TWaveKind::Out, Devices[InCount + 2].Name), i + 1);
    }
    // The lines: the later routes over the earlier ones, each of its own colour.
    const TRouteInfo& last = *form.Routes.back();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ScreenColor(Middle(last)) == last.Color; }, 5000))
        << std::hex << ScreenColor(Middle(last));
    EXPECT_EQ(form.ColorAt(Middle(last).x(), Middle(last).y()), last.Color);
    EXPECT_EQ(form.ColorAt(Middle(last).x(), 5), TFormBrvV1::BackgroundColor);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(RouterForms, OnlyARecordingPanelIsTakenByAPlaybackPanel) {
    TFormBrvV1& form = MakeForm();
    const struct {
        TMixerPanel* Source;
        QWidget* Target;
        const char* What;
    } cases[] = {
        {Right(0), Right(1)->Memo, "playback onto playback"},
        {Right(0), Left(0), "playback onto recording"},
        {Left(0), Left(1)->ProgressBar, "recording onto recording"},
        {Left(0), form.PaintBox1, "recording onto the routes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TMixerLineControl& column = c.Source->Column();
        const QPoint start = c.Source->rect().center();
        QTest::mousePress(c.Source, Qt::LeftButton, {}, start);
        QTest::mouseMove(c.Source, start + QPoint(0, 20));
        QTest::mouseMove(c.Target, c.Target->rect().center());
        EXPECT_TRUE(column.Dragging());
        EXPECT_FALSE(column.DropAllowed());
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ForbiddenCursor);
        QTest::mouseRelease(c.Target, Qt::LeftButton, {}, c.Target->rect().center());
        EXPECT_TRUE(form.Routes.empty());
    }
    // Over a playback panel a recording panel is welcome.
    QTest::mousePress(Left(0), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(Left(0), QPoint(5, 40));
    QTest::mouseMove(Right(3)->ProgressBar, QPoint(3, 3));
    EXPECT_TRUE(form.MixerLineControlLeft->DropAllowed());
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::DragCopyCursor);
    // Hover highlighting follows the panel under the mouse within its column.
    EXPECT_TRUE(Right(3)->Highlighted());
    EXPECT_FALSE(Right(0)->Highlighted());
    QTest::mouseRelease(Right(3)->ProgressBar, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(form.Routes.size(), 1u);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(RouterForms, RouteColoursTakeTheCounterAndStayDistinctFromTheBackground) {
    // The documented sequence.
    const uint32_t first[] = {0xFFFF00, 0xFF0001, 0x008002, 0x00FF03, 0x000084, 0x800085, 0x000105, 0xFFFF07};
    for (int c = 0; c < 8; ++c) EXPECT_EQ(TFormBrvV1::RouteColor(c), first[c]) << c;
    // A colour is 24 bits: 0xFFFF00 + 0xFFFFFF would carry out of them.
    EXPECT_EQ(TFormBrvV1::RouteColor(0xFFFFFF), 0xFFFEFFu);

    TFormBrvV1& form = MakeForm();
    for (int i = 0; i < 3; ++i) ASSERT_NE(Route(i, i), nullptr);
    EXPECT_EQ(form.Routes[0]->Color, 0xFFFF00u);
    EXPECT_EQ(form.Routes[2]->Color, 0x008002u);
    // Removing the second keeps the others' colours; the next takes counter value 3.
    form.RemoveRoute(form.Routes[1].get());
    ASSERT_NE(Route(3, 3), nullptr);
    EXPECT_EQ(form.Routes[0]->Color, 0xFFFF00u);
    EXPECT_EQ(form.Routes[1]->Color, 0x008002u);
    EXPECT_EQ(form.Routes[2]->Color, 0x00FF03u);
    EXPECT_EQ(form.RouteCounter, 4);

    // Counter 65535 would give 0xFF0000 + 0xFFFF: the white of the background, where a
    // route can be neither seen nor picked. That value is passed over.
    ASSERT_EQ(TFormBrvV1::RouteColor(65535), TFormBrvV1::BackgroundColor);
    form.RouteCounter = 65535;
    TRouteInfo* route = Route(4, 0);
    ASSERT_NE(route, nullptr);
    EXPECT_EQ(route->Color, TFormBrvV1::RouteColor(65536));
    EXPECT_EQ(form.RouteCounter, 65537);
    // Neither is a colour that a route in the list has.
    int64_t same = 65537;
    while (TFormBrvV1::RouteColor(same) != form.Routes[0]->Color) ++same;
    form.RouteCounter = same;
    route = Route(0, 1);
    ASSERT_NE(route, nullptr);
    EXPECT_NE(route->Color, form.Routes[0]->Color);
    EXPECT_EQ(form.RouteCounter, same + 2);
}

TEST_F(RouterForms, AClickPicksTheRouteDrawnLastWhereLinesCross) {
    TFormBrvV1& form = MakeForm();
    TRouteInfo* down = Route(0, 1);
    TRouteInfo* up = Route(1, 0);
    ASSERT_NE(down, nullptr);
    ASSERT_NE(up, nullptr);
    const QPoint crossing = Middle(*down);
    ASSERT_EQ(crossing, Middle(*up));
    TRouteInfo* shown = nullptr;
    ASSERT_TRUE(ClickRoute(crossing, [&](TFormAudioProperties& d) { shown = d.Route(); }));
    EXPECT_EQ(shown, up);
    // Away from the crossing the earlier line is picked.
    const int y0 = form.RowY(*form.MixerLineControlLeft, 0);
    ASSERT_TRUE(ClickRoute(QPoint(2, y0), [&](TFormAudioProperties& d) { shown = d.Route(); }));
    EXPECT_EQ(shown, down);
    // Where no line is.
    EXPECT_FALSE(ClickRoute(QPoint(crossing.x(), form.PaintBox1->height() - 3), [](TFormAudioProperties&) {}));
    EXPECT_EQ(Messages, std::vector<std::string>{"Click on a color!"});
    EXPECT_EQ(form.Routes.size(), 2u);
    SaveScreenshot(&form, "router-crossing-routes");
}

TEST_F(RouterForms, ScrollingMovesTheLineEndsWithThePanels) {
    for (int i = 0; i < 6; ++i) Sim.AddDevice(TWaveKind::In, "Extra input " + std::to_string(i));
    TFormBrvV1& form = MakeForm();
    TRouteInfo* route = Route(2, 0);
    ASSERT_NE(route, nullptr);
    QScrollBar* bar = form.MixerLineControlLeft->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 77);
    const int before = form.RowY(*form.MixerLineControlLeft, 2);
    EXPECT_EQ(form.ColorAt(1, before), route->Color);
    bar->setValue(77);
    const int after = form.RowY(*form.MixerLineControlLeft, 2);
    EXPECT_EQ(after, before - 77);
    EXPECT_EQ(form.ColorAt(1, after), route->Color);
    EXPECT_EQ(form.ColorAt(1, before), TFormBrvV1::BackgroundColor);
    // The right end stays.
    const int right = form.RowY(*form.MixerLineControlRight, 0);
    EXPECT_EQ(form.ColorAt(form.PaintBox1->width() - 2, right), route->Color);
}

TEST_F(RouterForms, TheDialogSetsTheVolumeAndRemovesTheRoute) {
    TFormBrvV1& form = MakeForm();
    TRouteInfo* route = Route(3, 0);
    ASSERT_NE(route, nullptr);
    TMMAudioIn& in = route->Router().AudioIn();
    TFormAudioProperties* dialog = form.AudioProperties();
    EXPECT_EQ(dialog->windowTitle(), "Audio Properties");
    EXPECT_EQ(dialog->size(), QSize(188, 172));
    EXPECT_EQ(dialog->Button1->text(), "O&k");
    EXPECT_TRUE(dialog->Button1->isDefault());
    EXPECT_EQ(dialog->Button2->text(), "Remove Route");
    EXPECT_EQ(dialog->TrackBar->tickInterval(), 10);
    EXPECT_EQ(dialog->TrackBar->tickPosition(), QSlider::TicksRight);

    // The track bar at the top is full volume; each step down one percent less.
    const struct {
        int Position, Volume;
    } cases[] = {{0, 100}, {50, 50}, {73, 27}, {100, 0}, {90, 10}};
    const QPoint middle = Middle(*route);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Position);
        ASSERT_TRUE(ClickRoute(middle, [&](TFormAudioProperties& d) {
            EXPECT_EQ(d.Route(), route);
            if (c.Position == 50) SaveScreenshot(&d, "audio-properties");
            d.TrackBar->setValue(c.Position);
            QTest::mouseClick(d.Button1, Qt::LeftButton);
        }));
        EXPECT_EQ(in.Volume(), c.Volume);
        ASSERT_EQ(form.Routes.size(), 1u);
        // Shown again, the track bar tells the route's volume.
        ASSERT_TRUE(ClickRoute(middle, [&](TFormAudioProperties& d) {
            EXPECT_EQ(d.TrackBar->value(), c.Position);
            d.close();  // the title bar's close button keeps the route
        }));
        EXPECT_EQ(form.Routes.size(), 1u);
    }
    // Volume 10 percent: what the route plays is a tenth.
    Sim.SetCaptureData(LineIn, Steady(20000));
    ASSERT_TRUE(RunUntil([&] { return Right(0)->Level() == 6; })) << Right(0)->Level();

    ASSERT_TRUE(ClickRoute(middle, [](TFormAudioProperties& d) { QTest::mouseClick(d.Button2, Qt::LeftButton); }));
    EXPECT_TRUE(form.Routes.empty());
    EXPECT_EQ(Sim.OpenStreams(TWaveKind::Out, Speakers), 0u);
    EXPECT_EQ(Sim.OpenStreams(TWaveKind::In, LineIn), 1u);  // the level meter
    EXPECT_EQ(form.ColorAt(middle.x(), middle.y()), TFormBrvV1::BackgroundColor);
    EXPECT_EQ(Right(0)->Level(), 0);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(RouterForms, TheDialogGetsNoLevelsOnceItIsGone) {
    Sim.SetCaptureData(LineIn, Steady(16384));
    TFormBrvV1& form = MakeForm();
    auto dialog = std::make_unique<TFormAudioProperties>();
    form.SetAudioProperties(dialog.get());
    TRouteInfo* route = Route(3, 1);
    ASSERT_NE(route, nullptr);
    TMMAudioIn& in = route->Router().AudioIn();
    ASSERT_TRUE(ClickRoute(Middle(*route), [&](TFormAudioProperties& d) {
        EXPECT_TRUE(bool(in.OnLevel()));
        EXPECT_TRUE(RunUntil([&] { return d.ProgressBar->value() == 50; })) << d.ProgressBar->value();
        QTest::mouseClick(d.Button1, Qt::LeftButton);
    }));
    // Closed, it listens no more, and it shows nothing stale when it opens again.
    EXPECT_FALSE(bool(in.OnLevel()));
    EXPECT_EQ(dialog->ProgressBar->value(), 0);
    ASSERT_TRUE(RunUntil([&] { return Right(1)->Level() == 50; }));
    EXPECT_EQ(dialog->ProgressBar->value(), 0);

    // Destroyed while its route runs on (the program's forms go in reverse order):
    // the level timers keep running and reach nothing that is gone.
    dialog->SetRoute(route);
    EXPECT_TRUE(bool(in.OnLevel()));
    dialog.reset();
    EXPECT_FALSE(bool(in.OnLevel()));
    const uint64_t done = in.BuffersDone();
    ASSERT_TRUE(RunUntil([&] { return in.BuffersDone() > done + 30; }));

    // A route removed while its dialog shows closes the dialog, which forgets it.
    bool gone = false;
    TRouteInfo* other = Route(0, 2);
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(ClickRoute(Middle(*other), [&](TFormAudioProperties& d) {
        form.RemoveRoute(other);
        gone = !d.isVisible() && d.Route() == nullptr;
    }));
    EXPECT_TRUE(gone);
    EXPECT_EQ(form.Routes.size(), 1u);
}

TEST_F(RouterForms, ARouteThatCannotStartIsDroppedAndSaysWhy) {
    TFormBrvV1& form = MakeForm();
    const struct {
        TSimCall Call;
        const char* Device;
    } cases[] = {{TSimCall::Open, Speakers}, {TSimCall::Open, LineIn}, {TSimCall::Start, LineIn}};
    int64_t counter = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Device);
        Messages.clear();
        Sim.FailNext(c.Call, MMSYSERR_ALLOCATED, 0, c.Device);
        EXPECT_EQ(Route(3, 0), nullptr);
        EXPECT_EQ(form.RouteCounter, ++counter);  // the attempt counts
        EXPECT_TRUE(form.Routes.empty());
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].rfind("The audio system was busy.  Try again.\n\n", 0), 0u) << Messages[0];
        EXPECT_NE(Messages[0].find(WaveAudioErrorText(MMSYSERR_ALLOCATED)), std::string::npos) << Messages[0];
        EXPECT_NE(form.RouterStatus().find("could not start"), std::string::npos) << form.RouterStatus();
        // Nothing of it stays open: only the level meter of the recording device.
        EXPECT_EQ(Sim.OpenStreams(TWaveKind::Out, Speakers), 0u);
        EXPECT_EQ(Sim.OpenStreams(TWaveKind::In, LineIn), 1u);
    }
    // The next try works.
    EXPECT_NE(Route(3, 0), nullptr);
}

TEST_F(RouterForms, WithoutPlaybackDevicesThereIsNothingToDropOn) {
    for (int i = 0; i < OutCount; ++i) Sim.RemoveDevice(TWaveKind::Out, Devices[InCount + i].Name);
    TFormBrvV1& form = MakeForm();
    EXPECT_EQ(form.MixerLineControlLeft->PanelCount(), size_t(InCount));
    EXPECT_EQ(form.MixerLineControlRight->PanelCount(), 0u);
    Drag(Left(0), form.MixerLineControlRight->viewport());
    EXPECT_TRUE(form.Routes.empty());
    EXPECT_TRUE(Messages.empty());
}

TEST_F(RouterForms, AMeterThatCannotStartCostsOnlyItsOwnPanel) {
    Sim.FailNext(TSimCall::Open, MMSYSERR_ALLOCATED, 0, Devices[1].Name);
    TFormBrvV1& form = MakeForm();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Messages.empty(); }, 5000));
    EXPECT_NE(Messages[0].find("The audio system was busy.  Try again."), std::string::npos) << Messages[0];
    EXPECT_NE(Messages[0].find(Devices[1].Name), std::string::npos) << Messages[0];
    ASSERT_EQ(form.MixerLineControlLeft->PanelCount(), size_t(InCount - 1));
    EXPECT_EQ(Left(1)->DeviceIndex, 2);
    EXPECT_EQ(form.MixerLineControlLeft->PositionOf(2), 115);
    EXPECT_EQ(form.MixerLineControlRight->PanelCount(), size_t(OutCount));
    // Not tried again at every look, only once it has been away.
    form.RefreshDevices();
    EXPECT_EQ(form.MixerLineControlLeft->PanelCount(), size_t(InCount - 1));
    EXPECT_EQ(Messages.size(), 1u);
}

TEST_F(RouterForms, TheColumnsFollowTheDevicesThatComeAndGo) {
    Sim.SetCaptureData(LineIn, Steady(16384));
    TFormBrvV1& form = MakeForm();
    TRouteInfo* keep = Route(3, 1);     // Line 1 Capture -> Digital Output
    TRouteInfo* doomed = Route(1, 0);   // Microphone -> Speakers
    TRouteInfo* doomed2 = Route(2, 0);  // Monitor -> Speakers
    ASSERT_TRUE(keep && doomed && doomed2);
    const uint32_t keepColor = keep->Color;

    // A device is plugged in: it gets a panel in its row.
    Sim.AddDevice(TWaveKind::In, "USB Microphone");
    form.RefreshDevices();
    ASSERT_EQ(form.MixerLineControlLeft->PanelCount(), size_t(InCount + 1));
    EXPECT_EQ(Left(InCount)->DeviceName(), "USB Microphone");
    EXPECT_EQ(Sim.OpenStreams(TWaveKind::In, "USB Microphone"), 1u);
    EXPECT_EQ(form.RouterStatus(), "Device \"USB Microphone\" was added.");

    // Two devices are unplugged: their panels and routes go, the numbers of the others
    // change, and the route that stays keeps its line between its devices' rows.
    Sim.RemoveDevice(TWaveKind::In, Devices[0].Name);
    Sim.RemoveDevice(TWaveKind::Out, Speakers);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            form.RefreshDevices();
            return form.Routes.size() == 1;
        },
        10000));
    EXPECT_EQ(form.Routes[0].get(), keep);
    EXPECT_EQ(keep->Color, keepColor);
    EXPECT_EQ(keep->Router().AudioIn().DeviceID(), 2);
    EXPECT_EQ(keep->Router().AudioOut().DeviceID(), 0);
    EXPECT_NE(form.RouterStatus().find("Device \"" + std::string(Speakers) + "\" was removed, and with it 2 routes."),
              std::string::npos)
        << form.RouterStatus();
    ASSERT_EQ(form.MixerLineControlLeft->PanelCount(), size_t(InCount));
    ASSERT_EQ(form.MixerLineControlRight->PanelCount(), size_t(OutCount - 1));
    EXPECT_EQ(Left(2)->DeviceName(), LineIn);
    EXPECT_EQ(Left(2)->DeviceIndex, 2);
    EXPECT_EQ(Right(0)->DeviceName(), Devices[InCount + 1].Name);
    const QPoint middle = Middle(*keep);
    EXPECT_EQ(form.RowY(*form.MixerLineControlLeft, 2) - form.RowY(*form.MixerLineControlLeft, 0), 2 * 77);
    EXPECT_EQ(form.ColorAt(middle.x(), middle.y()), keepColor);
    // Levels still reach the panels of the route under their new numbers.
    ASSERT_TRUE(RunUntil([&] { return Right(0)->Level() == 50 && Left(2)->Level() == 50; }));
    SaveScreenshot(&form, "router-after-unplug");

    // The sound system goes away altogether.
    Sim.SetUnavailable("Connection refused");
    form.RefreshDevices();
    EXPECT_EQ(form.MixerLineControlLeft->PanelCount(), 0u);
    EXPECT_EQ(form.MixerLineControlRight->PanelCount(), 0u);
    EXPECT_TRUE(form.Routes.empty());
    EXPECT_NE(form.RouterStatus().find("No sound system: "), std::string::npos) << form.RouterStatus();
}

}  // namespace
