// The application host on Qt: message loop, busy cursor, message boxes, hints.
#pragma once

#include "app/AppMgr.h"

#include <QObject>
#include <QPointer>
#include <functional>

#include <QWidget>

class TQtAppHost : public IAppHost {
public:
    void Terminate() override;
    TCursor ScreenCursor() const override;
    void SetScreenCursor(TCursor cursor) override;
    void ShowMessage(const std::string& text) override;
    // A message box titled with the application's name; Yes (or OK) is the default
    // button when offered, and closing the box gives the escape answer.
    TMsgDlgBtn MessageDlg(const std::string& text, TMsgDlgType type,
                          const TMsgDlgButtons& buttons) override;
    void SetShowHints(bool on) override { FShowHints = on; }
    bool ShowHints() const { return FShowHints; }
    bool HeapMonitorVisible() const override;
    IToolWindow* ActiveToolWindow() override;

    void SetHeapMonitor(QWidget* w) { FHeapMonitor = w; }
    // Finds the active tool window; the frame window installs it.
    std::function<IToolWindow*()> OnActiveToolWindow;

private:
    bool FShowHints = false;
    QPointer<QWidget> FHeapMonitor;
};

// Ends the program cleanly (through CloseApplication) on SIGTERM, SIGINT or SIGHUP, as a
// desktop session or a terminal asks it to.
void InstallQuitSignalHandlers();
