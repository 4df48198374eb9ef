// The notification-area (tray) icon of the main window.
//
// A wrapper over QSystemTrayIcon with the behaviour the frame window relies on: a hint,
// a popup menu, showing and hiding the main window with a record of whether it was last
// hidden to the tray, and a click event. The icon is visible from creation to
// destruction wherever the desktop has a tray.
//
// Mouse: a left click raises OnClick (and, with LeftPopup, opens the popup menu too);
// a right click opens the popup menu. Where the desktop has no tray nothing can be
// clicked; TrayAvailable() tells, and tests may decide it with SetTrayAvailable and
// drive the clicks through Activate.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

class TCoolTrayIcon : public QObject {
    Q_OBJECT
public:
    // MainForm is the window that ShowMainForm and HideMainForm act on.
    explicit TCoolTrayIcon(QWidget* mainForm, QObject* parent = nullptr);
    ~TCoolTrayIcon() override;

    void SetIcon(const QIcon& icon);
    QIcon Icon() const;
    void SetHint(const QString& hint);
    QString Hint() const;
    void SetPopupMenu(QMenu* menu);
    QMenu* PopupMenu() const { return FPopupMenu; }
    bool LeftPopup = false;

    // Restores the main window, shows and activates it, clears the hidden flag.
    void ShowMainForm();
    // Hides the main window (it leaves the taskbar) and sets the hidden flag.
    void HideMainForm();
    // Whether the main window was last hidden to the tray.
    bool Hidden() const { return FHidden; }

    // Whether the desktop shows tray icons (decided by SetTrayAvailable when called).
    bool TrayAvailable() const;
    void SetTrayAvailable(std::optional<bool> available);

    // Left button click on the icon.
    std::function<void()> OnClick;

    // What a click on the icon does; QSystemTrayIcon's activations arrive here.
    void Activate(QSystemTrayIcon::ActivationReason reason);
    // Opens the popup menu at the mouse position.
    void Popup();

    QSystemTrayIcon* SystemTrayIcon() const { return FIcon.get(); }

private:
    void UpdateVisible();

    QPointer<QWidget> FMainForm;
    std::unique_ptr<QSystemTrayIcon> FIcon;
    QPointer<QMenu> FPopupMenu;
    bool FHidden = false;
    std::optional<bool> FTrayAvailable;
};
