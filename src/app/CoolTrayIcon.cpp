#include "app/CoolTrayIcon.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

TCoolTrayIcon::TCoolTrayIcon(QWidget* mainForm, QObject* parent)
    : QObject(parent), FMainForm(mainForm), FIcon(std::make_unique<QSystemTrayIcon>()) {
    connect(FIcon.get(), &QSystemTrayIcon::activated, this, &TCoolTrayIcon::Activate);
}

TCoolTrayIcon::~TCoolTrayIcon() {
    // The menu belongs to the form; the icon must not show it any more.
    FIcon->hide();
    FIcon->setContextMenu(nullptr);
}

void TCoolTrayIcon::SetIcon(const QIcon& icon) {
    FIcon->setIcon(icon);
    UpdateVisible();
}

void TCoolTrayIcon::UpdateVisible() {
    // Visible from the moment it has something to show. On X11 Qt keeps watching for a
    // tray and shows the icon when one appears; elsewhere only a tray that exists helps.
    const bool wanted = !FIcon->icon().isNull() &&
                        (FTrayAvailable ? *FTrayAvailable
                                        : TrayAvailable() || QGuiApplication::platformName() == "xcb");
    if (wanted) FIcon->show();
    else FIcon->hide();
}

QIcon TCoolTrayIcon::Icon() const { return FIcon->icon(); }

void TCoolTrayIcon::SetHint(const QString& hint) { FIcon->setToolTip(hint); }

QString TCoolTrayIcon::Hint() const { return FIcon->toolTip(); }

void TCoolTrayIcon::SetPopupMenu(QMenu* menu) {
    FPopupMenu = menu;
    FIcon->setContextMenu(menu);
}

void TCoolTrayIcon::ShowMainForm() {
    if (FMainForm != nullptr) {
        if (FMainForm->isMinimized()) FMainForm->showNormal();
        else FMainForm->show();
        FMainForm->raise();
        FMainForm->activateWindow();
    }
    FHidden = false;
}

void TCoolTrayIcon::HideMainForm() {
    if (FMainForm != nullptr) FMainForm->hide();
    FHidden = true;
}

bool TCoolTrayIcon::TrayAvailable() const {
    if (FTrayAvailable) return *FTrayAvailable;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TCoolTrayIcon::SetTrayAvailable(std::optional<bool> available) {
    FTrayAvailable = available;
    UpdateVisible();
}

void TCoolTrayIcon::Activate(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            if (OnClick) OnClick();
            if (LeftPopup) Popup();
            break;
        case QSystemTrayIcon::Context:
            // The system opens the context menu itself; nothing more to do.
            break;
        default: break;
    }
}

void TCoolTrayIcon::Popup() {
    if (FPopupMenu != nullptr) FPopupMenu->popup(QCursor::pos());
}
