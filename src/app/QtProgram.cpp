#include "app/QtProgram.h"

TQtProgram::TQtProgram(int& argc, char** argv, const char* title, const char* desktopName)
    : FApp(argc, argv) {
    QApplication::setApplicationName(title);
    QApplication::setDesktopFileName(desktopName);
    // The program ends through Exit, not when its last window closes (the main window
    // hides to the tray).
    QApplication::setQuitOnLastWindowClosed(false);
    // From here on SIGTERM, SIGINT and SIGHUP end the program cleanly: a signal that comes
    // while the windows are being made takes effect as soon as the message loop runs.
    InstallQuitSignalHandlers();
    FHints.OnShowHints = [this] { return FHost.ShowHints(); };
}
