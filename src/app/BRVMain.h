// Brevanta's main window: the router window.
//
// The framework's frame turned into an ordinary window that stays on top: caption
// "Brevanta", no Window menu, the tray icon with the program's icon. Its client area
// (RouterPanel) holds the recording devices on the left (MixerLineControlLeft), the
// playback devices on the right (MixerLineControlRight) and between them PaintBox1,
// where every route is a coloured line from its recording device's row to its playback
// device's row.
//
// Dropping a recording panel on a playback panel creates a route (a TRouteInfo with its
// own colour); a click on a line opens the route properties dialog for the route whose
// colour is under the mouse; "Remove Route" there removes it. A route that cannot start
// is not kept, and the reason is shown. Routes are not stored: every start begins with
// none.
//
// Picking reads the pixel from an image of its own in which the routes are drawn once
// more, in the same order, with their exact colour values and without antialiasing, so
// it depends neither on the screen's colour depth nor on how the screen drew the lines.
//
// The columns follow the sound server: every DevicePollInterval the catalogue is read
// again (and at once when a level meter stops by itself); a new device gets a panel, a
// device that is gone takes its panel and its routes with it, and the status line says
// so. Devices are known by the server's identifier, so the numbers of the others may
// change meanwhile.
#pragma once

#include "app/AppMgr.h"
#include "app/FMWFrame.h"
#include "audio/MMAudioRouter.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QLabel;
class QTimer;
class TAudioRedirector;
class TFormAudioProperties;
class TMixerLineControl;
class TMixerLineControlLeft;
class TMixerLineControlRight;
class TQtMainThreadQueue;

// A plain drawing area: its owner paints it and hears its mouse-up events.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);
    std::function<void(QPainter& canvas)> OnPaint;
    std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)> OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class TFormBrvV1 : public TFormFrame, public IToolWindow, public IStatusControl {
    Q_OBJECT
public:
    static constexpr int InitialWidth = 926;
    static constexpr int InitialHeight = 506;
    static constexpr int ColumnWidth = 312;
    static constexpr std::chrono::milliseconds DevicePollInterval{2000};
    // The paint box's background; no route is ever drawn in it.
    static constexpr uint32_t BackgroundColor = 0xFFFFFF;
    // The colours routes are drawn in, blue-green-red (blue in the high byte).
    static constexpr uint32_t RouteColors[7] = {0xFFFF00, 0xFF0000, 0x008000, 0x00FF00,
                                                0x000080, 0x800080, 0x0000FF};

    // Driver: the sound system whose devices the window shows; none shows no devices.
    explicit TFormBrvV1(TWaveDriver* driver = nullptr, QWidget* parent = nullptr);
    ~TFormBrvV1() override;

    void AfterStartup() override;

    // The client area that the device columns fill.
    QWidget* RouterPanel() const { return ClientPanel(); }

    // Components.
    TMixerLineControlLeft* MixerLineControlLeft = nullptr;
    TMixerLineControlRight* MixerLineControlRight = nullptr;
    TPaintBox* PaintBox1 = nullptr;
    std::unique_ptr<TAudioRedirector> Redirector;
    QLabel* StatusLine = nullptr;  // what happened to routes and devices
    QTimer* DeviceTimer = nullptr;

    // Routes in creation order.
    std::vector<std::unique_ptr<TRouteInfo>> Routes;
    // Route creations attempted since the start; only grows.
    int64_t RouteCounter = 0;

    // The colour of the route made as creation number Counter: entry Counter mod 7 of
    // RouteColors plus Counter, kept within 24 bits.
    static uint32_t RouteColor(int64_t counter);
    // The colour for the next route: RouteColor(RouteCounter), counting on past any
    // value that equals the background or a route's colour; RouteCounter grows.
    uint32_t NextRouteColor();

    // Event handlers.
    void MixerLineControlRightReRoute(QObject* sender, int aDeviceIn, int aDeviceOut, TPCMFormat aPCMFormat);
    void MixerLineControlLeftScroll(QObject* sender);
    void PaintBox1Paint(QPainter& canvas);
    void PaintBox1MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    // Frees the route (stopping it) when it is in Routes; repaints in any case.
    void RemoveRoute(TRouteInfo* route);
    // Reads the catalogue again and makes the columns and routes follow it.
    void RefreshDevices();

    // Where a route's ends lie in PaintBox1.
    int RowY(const TMixerLineControl& column, int deviceNumber) const;
    // The routes drawn as picking sees them, and the colour value at a point of it.
    QImage RouteImage() const;
    uint32_t ColorAt(int x, int y) const;
    TRouteInfo* RouteOfColor(uint32_t color) const;

    // The dialog that a click on a route opens; the window makes its own when none is set.
    void SetAudioProperties(TFormAudioProperties* form);
    TFormAudioProperties* AudioProperties();

    // Shows a message to the user; a message box unless set.
    std::function<void(const std::string& text)> OnShowMessage;

    std::string RouterStatus() const;
    void SetRouterStatus(const std::string& text);

    // IToolWindow: hints go to the status line.
    IStatusControl* StatusControl() override { return this; }
    ILogMemo* LogMemo() override { return nullptr; }
    void SetStatusText(const std::string& text) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct TDeviceEntry {
        std::string Ident, Name;
    };
    // False when the catalogue could not be read whole.
    bool ReadCatalogue(TWaveKind kind, std::vector<TDeviceEntry>& list) const;
    void FollowDevices(TMixerLineControl& column, const std::vector<TDeviceEntry>& list,
                       std::vector<std::string>& notes, bool startup);
    void RouteStopped(TRouteInfo* route, const std::string& reason);
    void ShowMessage(const std::string& text);
    void FormDestroy();
    void PaintRoutes(QPainter& canvas, bool exact) const;

    TWaveDriver* FDriver = nullptr;
    std::unique_ptr<TQtMainThreadQueue> FMainThread;
    QPointer<TFormAudioProperties> FAudioProperties;
    std::unique_ptr<TFormAudioProperties> FOwnAudioProperties;
    // Recording devices whose level meter failed; not tried again until they come back.
    std::set<std::string> FFailedMeters;
    std::string FCatalogueError;
    bool FPlaced = false;
};
