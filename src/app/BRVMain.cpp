#include "app/BRVMain.h"

#include "ui/AppResources.h"
#include "app/BrevanInstall.h"
#include "audio/forms/AudioProperties.h"
#include "app/CoolTrayIcon.h"
#include "audio/forms/MixerLineControl.h"
#include "app/QtAppHost.h"
#include "app/QtMainThreadQueue.h"
#include "audio/AudioRedirector.h"
#include "ui/QNHints.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace {

QColor ToQColor(uint32_t color) { return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF)); }

uint32_t FromQRgb(QRgb rgb) { return uint32_t(qRed(rgb)) | uint32_t(qGreen(rgb)) << 8 | uint32_t(qBlue(rgb)) << 16; }

std::string IdentOf(const TMMAudioIO& side) {
    const TWaveCaps& caps = side.Caps();
    return caps.Ident.empty() ? caps.ProductName : caps.Ident;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string CountRoutes(size_t n) { return n == 1 ? "1 route" : std::to_string(n) + " routes"; }

std::string Join(const std::vector<std::string>& parts) {
    std::string s;
    for (const std::string& p : parts) s += (s.empty() ? "" : "  ") + p;
    return s;
}

}  // namespace

// --- TPaintBox ---------------------------------------------------------------------------

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {}

void TPaintBox::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    if (OnPaint) OnPaint(canvas);
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* event) {
    if (OnMouseUp) {
        const QPoint p = event->position().toPoint();
        OnMouseUp(event->button(), event->modifiers(), p.x(), p.y());
    }
}

// --- TFormBrvV1 --------------------------------------------------------------------------

TFormBrvV1::TFormBrvV1(TWaveDriver* driver, QWidget* parent)
    : TFormFrame(TFormStyle::fsNormal, parent), FDriver(driver), FMainThread(std::make_unique<TQtMainThreadQueue>()) {
    setObjectName("FormBrvV1");
    setWindowTitle("Brevanta");
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    const QIcon icon = ResourceIcon("MainIcon");
    setWindowIcon(icon);
    resize(InitialWidth, InitialHeight);

    // No child windows here: no Window menu.
    WindowMain->menuAction()->setVisible(false);

    CoolTrayIconMain->SetHint("Brevanta");
    CoolTrayIconMain->SetIcon(icon);

    StatusLine = new QLabel(this);
    StatusLine->setObjectName("StatusLine");
    StatusLine->setTextFormat(Qt::PlainText);
    statusBar()->setObjectName("StatusBar1");
    statusBar()->addWidget(StatusLine, 1);
    // The hint handler writes this window's status line.
    if (AppMgr != nullptr)
        if (auto* host = dynamic_cast<TQtAppHost*>(AppMgr->Host()))
            host->OnActiveToolWindow = [this]() -> IToolWindow* { return this; };
    OnShowMessage = [this](const std::string& text) {
        if (AppMgr != nullptr && AppMgr->Host() != nullptr) AppMgr->ShowMessageNormal(text);
        else QMessageBox::information(this, windowTitle(), QString::fromStdString(text));
    };

    // Without a sound system the columns have nothing to show and no device opens.
    TWaveDriver* catalogue = FDriver;
    const std::string help = std::string(BrevantaHelpURL) + "|";

    auto* layout = new QHBoxLayout(RouterPanel());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (catalogue != nullptr) {
        Redirector = std::make_unique<TAudioRedirector>(*catalogue);
        MixerLineControlLeft = new TMixerLineControlLeft(*catalogue, *FMainThread, RouterPanel());
        MixerLineControlRight = new TMixerLineControlRight(*catalogue, *FMainThread, RouterPanel());
    }
    PaintBox1 = new TPaintBox(RouterPanel());
    PaintBox1->setObjectName("PaintBox1");
    PaintBox1->setMinimumSize(250, 250);
    SetHint(PaintBox1, help + "Routes will be shown here.  Click on a route to edit/delete.");
    PaintBox1->OnPaint = [this](QPainter& canvas) { PaintBox1Paint(canvas); };
    PaintBox1->OnMouseUp = [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        PaintBox1MouseUp(button, shift, x, y);
    };
    if (MixerLineControlLeft != nullptr) {
        for (TMixerLineControl* column :
             {static_cast<TMixerLineControl*>(MixerLineControlLeft), static_cast<TMixerLineControl*>(MixerLineControlRight)}) {
            column->setFixedWidth(ColumnWidth);
            column->OnScroll = [this](QObject* sender) { MixerLineControlLeftScroll(sender); };
            column->OnPanelStopped = [this](TMixerPanel&, const std::string&) {
                // The device has most likely gone: look now rather than at the next poll.
                QMetaObject::invokeMethod(this, [this] { RefreshDevices(); }, Qt::QueuedConnection);
            };
        }
        SetHint(MixerLineControlLeft, help + "Drag to Audio Out - F1 for help.");
        SetHint(MixerLineControlRight, help + "Drop an Audio In here.");
        MixerLineControlLeft->verticalScrollBar()->setFixedWidth(15);
        MixerLineControlRight->OnReRoute = [this](QObject* sender, int in, int out, TPCMFormat format) {
            MixerLineControlRightReRoute(sender, in, out, format);
        };
        layout->addWidget(MixerLineControlLeft);
        layout->addWidget(PaintBox1, 1);
        layout->addWidget(MixerLineControlRight);
    } else {
        layout->addWidget(PaintBox1, 1);
        SetRouterStatus("No sound system.");
    }

    if (FDriver != nullptr) {
        RefreshDevices();
        DeviceTimer = new QTimer(this);
        DeviceTimer->setObjectName("DeviceTimer");
        DeviceTimer->setInterval(int(DevicePollInterval.count()));
        connect(DeviceTimer, &QTimer::timeout, this, [this] { RefreshDevices(); });
        DeviceTimer->start();
    }
    NormalizeHints(this);
}

TFormBrvV1::~TFormBrvV1() { FormDestroy(); }

void TFormBrvV1::FormDestroy() {
    if (DeviceTimer != nullptr) DeviceTimer->stop();
    // Every route stops before the panels and the main-thread queue go.
    while (!Routes.empty()) {
        if (FAudioProperties != nullptr) FAudioProperties->RouteGone(Routes.back().get());
        Routes.pop_back();
    }
    if (MixerLineControlLeft != nullptr) MixerLineControlLeft->Clear();
    if (MixerLineControlRight != nullptr) MixerLineControlRight->Clear();
}

void TFormBrvV1::showEvent(QShowEvent* event) {
    // Centred on the screen when it first shows.
    if (!FPlaced) {
        FPlaced = true;
        if (QScreen* s = screen()) {
            QRect r = frameGeometry();
            r.moveCenter(s->availableGeometry().center());
            move(r.topLeft());
        }
    }
    TFormFrame::showEvent(event);
}

void TFormBrvV1::AfterStartup() {
    TFormFrame::AfterStartup();
    if (AppMgr != nullptr && AppMgr->Host() != nullptr) AppMgr->Host()->SetShowHints(true);
    CreateShortcuts(AppMgr);  // the Programs-menu entries, refreshed at every start
}

// --- status and messages -----------------------------------------------------------------

std::string TFormBrvV1::RouterStatus() const { return StatusLine->text().toStdString(); }

void TFormBrvV1::SetRouterStatus(const std::string& text) {
    StatusLine->setText(QString::fromStdString(text));
    if (AppMgr != nullptr && !text.empty()) AppMgr->LogToFile(text);
}

void TFormBrvV1::SetStatusText(const std::string& text) {
    // A hint covers the router's own line while the mouse is over its control.
    if (text.empty()) statusBar()->clearMessage();
    else statusBar()->showMessage(QString::fromStdString(text));
}

void TFormBrvV1::ShowMessage(const std::string& text) {
    if (OnShowMessage) OnShowMessage(text);
}

void TFormBrvV1::SetAudioProperties(TFormAudioProperties* form) { FAudioProperties = form; }

TFormAudioProperties* TFormBrvV1::AudioProperties() {
    if (FAudioProperties == nullptr) {
        if (!FOwnAudioProperties) FOwnAudioProperties = std::make_unique<TFormAudioProperties>(this);
        FAudioProperties = FOwnAudioProperties.get();
    }
    return FAudioProperties;
}

// --- routes ------------------------------------------------------------------------------

uint32_t TFormBrvV1::RouteColor(int64_t counter) {
    // A colour is 24 bits: a carry out of them would turn it into something else.
    return uint32_t((int64_t(RouteColors[counter % 7]) + counter) & 0xFFFFFF);
}

uint32_t TFormBrvV1::NextRouteColor() {
    for (;;) {
        const uint32_t color = RouteColor(RouteCounter++);
        // Drawn in the background colour a route could neither be seen nor picked, and a
        // click on the background would pick it; two routes of one colour could not be
        // told apart.
        if (color != BackgroundColor && RouteOfColor(color) == nullptr) return color;
    }
}

TRouteInfo* TFormBrvV1::RouteOfColor(uint32_t color) const {
    for (const auto& r : Routes)
        if (r->Color == color) return r.get();
    return nullptr;
}

void TFormBrvV1::MixerLineControlRightReRoute(QObject*, int aDeviceIn, int aDeviceOut, TPCMFormat aPCMFormat) {
    if (FDriver == nullptr) return;
    auto route = std::make_unique<TRouteInfo>(*FDriver, *FMainThread);
    route->Color = NextRouteColor();
    TMMAudioRouter& router = route->Router();
    try {
        router.Route(aDeviceIn, aDeviceOut, aPCMFormat);
    } catch (const std::exception& e) {
        // Not kept, and said: a drop that silently does nothing looks like a broken program.
        std::string cause;
        if (const auto* busy = dynamic_cast<const EAudioRouteBusy*>(&e)) cause = busy->Cause();
        const std::string from = router.AudioIn().Caps().ProductName;
        const std::string to = router.AudioOut().Caps().ProductName;
        route.reset();
        SetRouterStatus("The route from " + Quoted(from) + " to " + Quoted(to) + " could not start" +
                        (cause.empty() ? "." : ": " + cause));
        ShowMessage(std::string(e.what()) + (cause.empty() ? "" : "\n\n" + cause));
        PaintBox1->update();
        return;
    }
    TRouteInfo* added = route.get();
    router.OnStopped = [this, added](TMMAudioRouter&, const std::string& reason) { RouteStopped(added, reason); };
    Routes.push_back(std::move(route));
    PaintBox1->update();
    if (TMixerRightPanel* panel = MixerLineControlRight->PanelOf(aDeviceOut)) {
        QPointer<TMixerPanel> target(panel);
        router.AudioOut().SetOnLevel([target](TMMAudioIO& sender, int level) {
            if (target != nullptr) target->SetLevel(sender, level);
        });
    }
    SetRouterStatus("Route from " + Quoted(router.AudioIn().Caps().ProductName) + " to " +
                    Quoted(router.AudioOut().Caps().ProductName) + ".");
}

void TFormBrvV1::RouteStopped(TRouteInfo* route, const std::string& reason) {
    auto present = [this, route] {
        return std::any_of(Routes.begin(), Routes.end(), [route](const auto& r) { return r.get() == route; });
    };
    if (!present()) return;
    const TMMAudioRouter& router = route->Router();
    const std::string text = "The route from " + Quoted(router.AudioIn().Caps().ProductName) + " to " +
                             Quoted(router.AudioOut().Caps().ProductName) + " stopped" +
                             (reason.empty() ? "." : ": " + reason);
    // Mostly a device has gone: the look at the devices removes it with its routes and
    // says so.
    RefreshDevices();
    if (!present()) return;
    RemoveRoute(route);
    SetRouterStatus(text);
}

void TFormBrvV1::RemoveRoute(TRouteInfo* route) {
    auto it = std::find_if(Routes.begin(), Routes.end(), [route](const auto& r) { return r.get() == route; });
    if (it != Routes.end()) {
        if (FAudioProperties != nullptr) FAudioProperties->RouteGone(route);
        std::unique_ptr<TRouteInfo> gone = std::move(*it);
        Routes.erase(it);
        gone.reset();  // stops it
    }
    PaintBox1->update();
}

void TFormBrvV1::MixerLineControlLeftScroll(QObject*) { PaintBox1->update(); }

int TFormBrvV1::RowY(const TMixerLineControl& column, int deviceNumber) const {
    const int y = column.PositionOf(deviceNumber) - column.ScrollPosition();
    return PaintBox1->mapFrom(RouterPanel(), column.viewport()->mapTo(RouterPanel(), QPoint(0, y))).y();
}

void TFormBrvV1::PaintRoutes(QPainter& canvas, bool exact) const {
    canvas.fillRect(QRect(QPoint(0, 0), PaintBox1->size()), ToQColor(BackgroundColor));
    if (MixerLineControlLeft == nullptr) return;
    canvas.setRenderHint(QPainter::Antialiasing, !exact);
    for (const auto& route : Routes) {
        const int yIn = RowY(*MixerLineControlLeft, route->Router().AudioIn().DeviceID());
        const int yOut = RowY(*MixerLineControlRight, route->Router().AudioOut().DeviceID());
        canvas.setPen(QPen(ToQColor(route->Color), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        canvas.drawLine(0, yIn, PaintBox1->width(), yOut);
    }
}

void TFormBrvV1::PaintBox1Paint(QPainter& canvas) { PaintRoutes(canvas, false); }

QImage TFormBrvV1::RouteImage() const {
    QImage image(PaintBox1->size(), QImage::Format_RGB32);
    QPainter canvas(&image);
    PaintRoutes(canvas, true);
    return image;
}

uint32_t TFormBrvV1::ColorAt(int x, int y) const {
    const QImage image = RouteImage();
    if (!image.rect().contains(x, y)) return BackgroundColor;
    return FromQRgb(image.pixel(x, y));
}

void TFormBrvV1::PaintBox1MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    TRouteInfo* route = RouteOfColor(ColorAt(x, y));
    if (route == nullptr) {
        ShowMessage("Click on a color!");
        return;
    }
    TFormAudioProperties* dialog = AudioProperties();
    dialog->SetRoute(route);
    const int result = dialog->exec();
    // The route may have gone while the dialog was open (its device was unplugged).
    if (result == TFormAudioProperties::mrAbort && dialog->Route() == route) RemoveRoute(route);
}

// --- following the sound server ----------------------------------------------------------

bool TFormBrvV1::ReadCatalogue(TWaveKind kind, std::vector<TDeviceEntry>& list) const {
    list.clear();
    const int n = FDriver->NumDevs(kind);
    for (int i = 0; i < n; ++i) {
        TWaveCaps caps;
        // A device that went between the two calls: try again at the next look.
        if (FDriver->GetDevCaps(kind, i, caps) != MMSYSERR_NOERROR) return false;
        list.push_back({caps.Ident.empty() ? caps.ProductName : caps.Ident, caps.ProductName});
    }
    return true;
}

void TFormBrvV1::RefreshDevices() {
    if (FDriver == nullptr || MixerLineControlLeft == nullptr) return;
    const bool startup = !DeviceTimer;
    std::vector<TDeviceEntry> inList, outList;
    if (!ReadCatalogue(TWaveKind::In, inList) || !ReadCatalogue(TWaveKind::Out, outList)) return;
    std::vector<std::string> notes;

    const std::string error = FDriver->CatalogueError();
    if (error != FCatalogueError) {
        FCatalogueError = error;
        notes.push_back(error.empty() ? "The sound system is back." : "No sound system: " + error);
    }

    auto indexOf = [](const std::vector<TDeviceEntry>& list, const std::string& ident) {
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].Ident == ident) return int(i);
        return -1;
    };

    // Routes whose devices are gone go first, each device saying how many it took.
    std::vector<std::pair<std::string, size_t>> gone;  // device name, routes removed
    auto noteGone = [&gone](const std::string& name) {
        for (auto& g : gone)
            if (g.first == name) return &g.second;
        gone.emplace_back(name, 0);
        return &gone.back().second;
    };
    std::vector<TRouteInfo*> dead;
    for (const auto& r : Routes) {
        const TMMAudioIO& in = r->Router().AudioIn();
        const TMMAudioIO& out = r->Router().AudioOut();
        const bool inGone = indexOf(inList, IdentOf(in)) < 0;
        const bool outGone = indexOf(outList, IdentOf(out)) < 0;
        if (inGone) ++*noteGone(in.Caps().ProductName);
        if (outGone) ++*noteGone(out.Caps().ProductName);
        if (inGone || outGone) dead.push_back(r.get());
    }
    for (TRouteInfo* r : dead) RemoveRoute(r);

    FollowDevices(*MixerLineControlLeft, inList, notes, startup);
    FollowDevices(*MixerLineControlRight, outList, notes, startup);

    // The routes that stay keep their rows under the devices' new numbers.
    for (const auto& r : Routes) {
        TMMAudioIO& in = r->Router().AudioIn();
        TMMAudioIO& out = r->Router().AudioOut();
        if (int i = indexOf(inList, IdentOf(in)); i >= 0 && i != in.DeviceID()) in.SetDevice(i);
        if (int i = indexOf(outList, IdentOf(out)); i >= 0 && i != out.DeviceID()) out.SetDevice(i);
    }

    for (const auto& [name, count] : gone) {
        const std::string plain = "Device " + Quoted(name) + " was removed.";
        const std::string full = "Device " + Quoted(name) + " was removed, and with it " + CountRoutes(count) + ".";
        auto it = std::find(notes.begin(), notes.end(), plain);
        if (it != notes.end()) *it = full;
        else notes.insert(notes.begin(), full);
    }
    if (!notes.empty()) SetRouterStatus(Join(notes));
    PaintBox1->update();
}

void TFormBrvV1::FollowDevices(TMixerLineControl& column, const std::vector<TDeviceEntry>& list,
                               std::vector<std::string>& notes, bool startup) {
    const bool recording = &column == MixerLineControlLeft;
    auto indexOf = [&list](const std::string& ident) {
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].Ident == ident) return int(i);
        return -1;
    };

    // Panels of devices that are gone, and meters that stopped by themselves (they get a
    // new panel below).
    std::vector<TMixerPanel*> drop;
    for (size_t i = 0; i < column.PanelCount(); ++i) {
        TMixerPanel* panel = column.Panel(i);
        const int index = indexOf(panel->DeviceIdent());
        if (index < 0) {
            if (!startup) notes.push_back("Device " + Quoted(panel->DeviceName()) + " was removed.");
            drop.push_back(panel);
        } else if (recording && !panel->Router().Active()) {
            drop.push_back(panel);
        }
    }
    for (TMixerPanel* panel : drop) column.RemovePanel(panel);

    for (size_t i = 0; i < column.PanelCount(); ++i) {
        TMixerPanel* panel = column.Panel(i);
        const int index = indexOf(panel->DeviceIdent());
        if (index != panel->DeviceIndex) {
            try {
                panel->Renumber(index);
            } catch (const std::exception&) {
                // Its name could not be read just now; the next look renumbers it.
            }
        }
    }

    if (recording)
        for (auto it = FFailedMeters.begin(); it != FFailedMeters.end();)
            it = indexOf(*it) < 0 ? FFailedMeters.erase(it) : std::next(it);

    for (size_t i = 0; i < list.size(); ++i) {
        const TDeviceEntry& device = list[i];
        if (column.PanelOfIdent(device.Ident) != nullptr) continue;
        if (recording && FFailedMeters.count(device.Ident) != 0) continue;
        try {
            TMixerPanel* panel = recording ? static_cast<TMixerPanel*>(MixerLineControlLeft->AddPanel(int(i)))
                                           : static_cast<TMixerPanel*>(MixerLineControlRight->AddPanel(int(i)));
            // The left column's width serves both.
            panel->resize(MixerLineControlLeft->width() - 21, panel->height());
            if (!startup) notes.push_back("Device " + Quoted(device.Name) + " was added.");
        } catch (const std::exception& e) {
            // This device stays without a panel; the others still get theirs.
            if (recording) FFailedMeters.insert(device.Ident);
            const std::string text = Quoted(device.Name) + ": " + e.what();
            notes.push_back(text);
            if (startup) QMetaObject::invokeMethod(this, [this, text] { ShowMessage(text); }, Qt::QueuedConnection);
        }
    }
    column.SortPanels();
}
