// The two device columns of the router window and their panels.
//
// The left column (TMixerLineControlLeft) holds one TMixerLeftPanel per recording device,
// the right column (TMixerLineControlRight) one TMixerRightPanel per playback device.
// A panel shows the device's picture, its name and a live level bar; a recording panel
// runs a level meter (a route with only a recording side) for as long as it exists.
// Each column scrolls vertically and tells where a device's row lies (PositionOf), so
// that the router window can draw the route lines between the columns.
//
// Drag and drop: the left button pressed on a panel (or on its picture, name or bar)
// and moved 15 pixels with the button held starts a drag; the cursor shows whether the
// panel under the mouse takes the drop. Only a recording panel dropped on a playback
// panel (or on any of its children) is taken: the right column then raises OnReRoute
// with the two device numbers. The drag follows the mouse events themselves, wherever
// they are delivered, so the real pointer and synthetic events behave alike.
//
// Device numbers are those of the driver's catalogue as last read. When the catalogue
// changes, the router window gives surviving panels their new numbers (Renumber),
// removes the panels of devices that are gone and adds panels for new ones; a panel
// knows its device also by the sound server's identifier (DeviceIdent), which stays.
#pragma once

#include "audio/AudioRedirector.h"
#include "audio/MMAudioRouter.h"

#include <QFrame>
#include <QPoint>
#include <QScrollArea>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class TMixerLineControl;

// The product's help page; the short part of every hint of the router window.
inline constexpr const char* BrevantaHelpURL = "https://quennick.example/brevanta/help.html";

// A recording device dropped on a playback device.
using TWaveAudioEvent =
    std::function<void(QObject* sender, int aDeviceIn, int aDeviceOut, TPCMFormat aPCMFormat)>;

// The picture of a device: "MMStereoMix" for a recording device that records what a
// playback device plays (a monitor), otherwise chosen from the product name.
std::string DevicePictureName(const TMMAudioIO& device);

// One device panel, 310 x 77 pixels: Image, Memo (the device name) and ProgressBar.
class TMixerPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int PanelWidth = 310;
    static constexpr int PanelHeight = 77;

    ~TMixerPanel() override;

    TMixerLineControl& Column() const { return FColumn; }
    virtual TWaveKind Kind() const = 0;

    QLabel* Image = nullptr;
    QLabel* Memo = nullptr;
    QProgressBar* ProgressBar = nullptr;
    int DeviceIndex = -1;

    TAudioRedirector& Redirector() const { return *FRedirector; }
    TMMAudioRouter& Router() const { return *FRouter; }

    // Opens what the panel needs for the device and shows its name and picture.
    virtual void SetDevice(int deviceNumber) = 0;
    // The same device got another number because the catalogue changed.
    virtual void Renumber(int deviceNumber) = 0;
    // The device number that PositionOf matches.
    virtual int RowDevice() const = 0;
    // The sound server's identifier of the device (its name when the driver has none).
    std::string DeviceIdent() const;
    std::string DeviceName() const;
    // Shows the device name in Memo: broken into lines that fit, inside long words too,
    // and cut with an ellipsis where it is longer than the field.
    void SetDeviceName(const std::string& name);
    // The resource name of the picture shown.
    const std::string& PictureName() const { return FPictureName; }

    // ProgressBar position := level (clamped to 0..100).
    void SetLevel(TMMAudioIO& sender, int level);
    int Level() const;

    // The colour that hover highlighting gives the panel.
    void SetHighlighted(bool highlighted);
    bool Highlighted() const { return FHighlighted; }

protected:
    TMixerPanel(TMixerLineControl& column, const std::string& hintText);

    // A child at its place on a 310-pixel panel, anchored like the design says.
    void Place(QWidget* child, const QRect& designRect, bool anchorLeft, bool anchorRight);
    void LoadDeviceBitmap(const TMMAudioIO& device, int size);
    void resizeEvent(QResizeEvent* event) override;

    std::unique_ptr<TAudioRedirector> FRedirector;
    std::unique_ptr<TMMAudioRouter> FRouter;

private:
    struct TAnchored {
        QWidget* Control;
        QRect Design;
        bool Left, Right;
    };
    void ApplyAnchors();

    TMixerLineControl& FColumn;
    void FitName();

    std::vector<TAnchored> FAnchored;
    std::string FDeviceName;
    std::string FPictureName;
    bool FHighlighted = false;
};

// A recording device: its level meter runs from SetDevice until the panel goes.
class TMixerLeftPanel final : public TMixerPanel {
    Q_OBJECT
public:
    explicit TMixerLeftPanel(TMixerLineControl& column);
    ~TMixerLeftPanel() override;

    TWaveKind Kind() const override { return TWaveKind::In; }
    // Starts the level meter (raises "The audio system was busy.  Try again." when the
    // device cannot be opened), then shows the name and picture.
    void SetDevice(int deviceNumber) override;
    void Renumber(int deviceNumber) override;
    int RowDevice() const override { return Router().AudioIn().DeviceID(); }
};

// A playback device: nothing is opened; its router only reads the device's name and
// picture. The router window attaches SetLevel to the routes that end here.
class TMixerRightPanel final : public TMixerPanel {
    Q_OBJECT
public:
    explicit TMixerRightPanel(TMixerLineControl& column);

    TWaveKind Kind() const override { return TWaveKind::Out; }
    void SetDevice(int deviceNumber) override;
    void Renumber(int deviceNumber) override;
    int RowDevice() const override { return Redirector().Output().DeviceID(); }
};

// A column: a vertically scrolling box of panels, one row of RowHeight each.
class TMixerLineControl : public QScrollArea {
    Q_OBJECT
public:
    ~TMixerLineControl() override;

    TWaveDriver& Driver() const { return FDriver; }
    IMainThreadQueue& MainThread() const { return FMainThread; }

    // Height of the last panel added.
    int RowHeight = 0;
    // Raised after every re-layout of the panels, scrolling included.
    std::function<void(QObject* sender)> OnScroll;
    // A panel's level meter stopped by itself (its device vanished, most likely).
    std::function<void(TMixerPanel& panel, const std::string& reason)> OnPanelStopped;

    size_t PanelCount() const { return FPanels.size(); }
    TMixerPanel* Panel(size_t index) const { return FPanels[index].get(); }
    // The vertical centre of the device's row in content coordinates:
    // i x RowHeight + RowHeight div 2, i = -1 when no panel has the device.
    int PositionOf(int deviceNumber) const;
    // The first panel of the device's identifier, or null.
    TMixerPanel* PanelOfIdent(const std::string& ident) const;
    int ScrollPosition() const;
    // The widget that holds the panels.
    QWidget* Content() const { return FContent; }

    // Frees the panel (and stops what it runs).
    void RemovePanel(TMixerPanel* panel);
    // Frees every panel.
    void Clear();
    // Puts the panels in device-number order, one row each.
    void SortPanels();

    // Hover highlighting: Panel gets the highlighted-text colour, every other panel of
    // the column the button-face colour.
    void HoverPanel(TMixerPanel* panel);

    // Drag state, for whoever wants to show it.
    bool Dragging() const { return FDragging; }
    bool DropAllowed() const { return FDropAllowed; }
    TMixerPanel* DragSource() const { return FDragSource; }
    static constexpr int DragThreshold = 15;

    // Whether a panel dragged from Source may be dropped on this column's panels.
    virtual bool AcceptsDrop(const TMixerPanel& source) const;
    // Source was dropped on Target; Sender is the control that received the drop.
    virtual void DropOn(QObject* sender, TMixerPanel& target, TMixerPanel& source);

protected:
    TMixerLineControl(TWaveDriver& driver, IMainThreadQueue& mainThread, QWidget* owner);

    // Makes the panel a row of the column after its SetDevice succeeded.
    void AppendPanel(std::unique_ptr<TMixerPanel> panel);
    void RaiseScroll();
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TMixerPanel;
    void WatchControl(QWidget* control);
    void LayoutPanels();
    // The panel that holds Control (a panel or one of its children), or null.
    static TMixerPanel* PanelOfControl(QObject* control);
    // The control under a global position in the drag source's window.
    QWidget* ControlAt(const QPointF& globalPos) const;
    void BeginPress(TMixerPanel* source, const QPointF& globalPos);
    void EndDrag();

    TWaveDriver& FDriver;
    IMainThreadQueue& FMainThread;
    QWidget* FContent = nullptr;
    std::vector<std::unique_ptr<TMixerPanel>> FPanels;

    TMixerPanel* FDragSource = nullptr;  // set from the press to the release
    QPointF FPressPos;
    bool FDragging = false;
    bool FDropAllowed = false;
    bool FCursorSet = false;
};

class TMixerLineControlLeft final : public TMixerLineControl {
    Q_OBJECT
public:
    TMixerLineControlLeft(TWaveDriver& driver, IMainThreadQueue& mainThread, QWidget* owner);

    // Creates the panel and starts its level meter; a panel whose meter cannot start is
    // discarded and the error raised.
    TMixerLeftPanel* AddPanel(int deviceNumber);
    bool AcceptsDrop(const TMixerPanel&) const override { return false; }
};

class TMixerLineControlRight final : public TMixerLineControl {
    Q_OBJECT
public:
    TMixerLineControlRight(TWaveDriver& driver, IMainThreadQueue& mainThread, QWidget* owner);

    TWaveAudioEvent OnReRoute;

    TMixerRightPanel* AddPanel(int deviceNumber);
    // The first playback panel of the device number, or null.
    TMixerRightPanel* PanelOf(int deviceNumber) const;

    bool AcceptsDrop(const TMixerPanel& source) const override;
    void DropOn(QObject* sender, TMixerPanel& target, TMixerPanel& source) override;
};
