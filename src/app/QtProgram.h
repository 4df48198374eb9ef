// The windowing part of a program body, shared by the programs with windows: the
// application object, the host the manager works through, the hint hook, and the quit
// signals.
#pragma once

#include "app/QtAppHost.h"
#include "ui/QNHints.h"

#include <QApplication>

class TQtProgram {
public:
    // Title is the application title; DesktopName the program's desktop-entry name.
    TQtProgram(int& argc, char** argv, const char* title, const char* desktopName);
    TQtProgram(const TQtProgram&) = delete;
    TQtProgram& operator=(const TQtProgram&) = delete;

    TQtAppHost& Host() { return FHost; }
    // Runs the message loop until CloseApplication.
    int Exec() { return QApplication::exec(); }

private:
    QApplication FApp;
    TQtAppHost FHost;
    TQNHintHook FHints;
};
