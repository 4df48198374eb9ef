#include "app/BRVMain.h"

#include "app/AppMgr.h"
#include "app/AppResources.h"
#include "app/BrevanInstall.h"
#include "app/CoolTrayIcon.h"

#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>

TFormBrvV1::TFormBrvV1(QWidget* parent) : TFormFrame(TFormStyle::fsNormal, parent) {
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

    auto* layout = new QVBoxLayout(RouterPanel());
    FPlaceholder = new QLabel("Brevanta", RouterPanel());
    FPlaceholder->setObjectName("LabelPlaceholder");
    FPlaceholder->setAlignment(Qt::AlignCenter);
    layout->addWidget(FPlaceholder);
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
