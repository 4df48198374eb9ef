// The program's own resources (icons), compiled into the forms library.
#pragma once

#include <QIcon>
#include <QString>

// Registers the resources; forms call it before they use one. Safe to call repeatedly.
void InitAppResources();

// An icon of the program by its resource name, with every size the program ships:
// "MainIcon" (Brevanta's window, tray and about box) and "TrayIcon" (the suite frame),
// and the device pictures of the mixer panels: "MMStereoMix", "MMSpeaker", "MMDigital",
// "MMMic" and "MMLineIn" (51, 64 and 128 pixels).
QIcon ResourceIcon(const QString& name);
