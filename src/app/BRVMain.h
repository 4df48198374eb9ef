// Brevanta's main window: the router window.
//
// The framework's frame turned into an ordinary window that stays on top: caption
// "Brevanta", no Window menu, the tray icon with the program's icon. Its client area
// (RouterPanel) holds the recording devices on the left and the playback devices on the
// right, with the routes drawn between them.
#pragma once

#include "app/FMWFrame.h"

class QLabel;

class TFormBrvV1 : public TFormFrame {
    Q_OBJECT
public:
    static constexpr int InitialWidth = 926;
    static constexpr int InitialHeight = 506;

    explicit TFormBrvV1(QWidget* parent = nullptr);

    void AfterStartup() override;

    // The client area that the device columns fill.
    QWidget* RouterPanel() const { return ClientPanel(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* FPlaceholder = nullptr;
    bool FPlaced = false;
};
