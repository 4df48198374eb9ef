#include "app/FMWFrame.h"

#include "app/AboutForm.h"
#include "app/AppMgr.h"
#include "ui/AppResources.h"
#include "app/CoolTrayIcon.h"
#include "app/QtAppHost.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QUrl>

TFormFrame::TFormFrame(QWidget* parent) : TFormFrame(TFormStyle::fsMDIForm, parent) {}

TFormFrame::TFormFrame(TFormStyle style, QWidget* parent) : QMainWindow(parent) {
    InitAppResources();
    setObjectName("FormFrame");
    setWindowTitle("Quennick Suite");
    setWindowIcon(ResourceIcon("TrayIcon"));
    if (style == TFormStyle::fsMDIForm) {
        FMdiArea = new QMdiArea(this);
        FMdiArea->setObjectName("MdiArea");
        setCentralWidget(FMdiArea);
        // Maximised; restored, it keeps most of the screen.
        if (QScreen* s = screen()) {
            QRect r(QPoint(), s->availableGeometry().size() * 0.8);
            r.moveCenter(s->availableGeometry().center());
            setGeometry(r);
        }
        setWindowState(Qt::WindowMaximized);
    } else {
        FClientPanel = new QWidget(this);
        FClientPanel->setObjectName("PanelClient");
        setCentralWidget(FClientPanel);
    }
    CreateMenus();
    CreateTray();

    // The status line and log of the hint handler are those of the active tool window.
    if (AppMgr != nullptr)
        if (auto* host = dynamic_cast<TQtAppHost*>(AppMgr->Host()))
            host->OnActiveToolWindow = [this]() -> IToolWindow* {
                if (FMdiArea == nullptr) return nullptr;
                QMdiSubWindow* sub = FMdiArea->activeSubWindow();
                return sub != nullptr ? dynamic_cast<IToolWindow*>(sub->widget()) : nullptr;
            };

    // Closing must not stop the end of the desktop session. (A quit request closes the
    // windows first; hiding this one to the tray lets the quit go on as well.)
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { FSessionEnding = true; });

    // Start-up work waits until the event loop runs.
    QMetaObject::invokeMethod(this, &TFormFrame::RunAfterStartup, Qt::QueuedConnection);
}

TFormFrame::~TFormFrame() {
    if (AppMgr != nullptr)
        if (auto* host = dynamic_cast<TQtAppHost*>(AppMgr->Host())) host->OnActiveToolWindow = nullptr;
}

void TFormFrame::CreateMenus() {
    QMenuBar* mainMenu1 = menuBar();
    mainMenu1->setObjectName("MainMenu1");

    File1 = mainMenu1->addMenu("File");
    File1->setObjectName("File1");
    Exit1 = File1->addAction("Exit", this, &TFormFrame::Exit1Click);
    Exit1->setObjectName("Exit1");

    WindowMain = mainMenu1->addMenu("Window");
    WindowMain->setObjectName("WindowMain");
    Tile1 = WindowMain->addAction("Tile", this, &TFormFrame::Tile1Click);
    Tile1->setObjectName("Tile1");
    Cascade1 = WindowMain->addAction("Cascade", this, &TFormFrame::Cascade1Click);
    Cascade1->setObjectName("Cascade1");
    ArrangeIcons1 = WindowMain->addAction("Arrange Icons", this, &TFormFrame::ArrangeIcons1Click);
    ArrangeIcons1->setObjectName("ArrangeIcons1");
    // The tools start a new group of the menu.
    WindowMain->addSeparator();
    NewSeekmoor1 = WindowMain->addAction("New Seekmoor", this, &TFormFrame::NewSeekmoor1Click);
    NewSeekmoor1->setObjectName("NewSeekmoor1");
    NewSeekmoor1->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F));
    FMW1 = WindowMain->addAction("FMW", this, &TFormFrame::FMW1Click);
    FMW1->setObjectName("FMW1");
    // The search and sync windows are not part of this build yet.
    NewSeekmoor1->setEnabled(false);
    FMW1->setEnabled(false);
    // The list of open child windows follows.
    FWindowListSeparator = WindowMain->addSeparator();
    connect(WindowMain, &QMenu::aboutToShow, this, &TFormFrame::UpdateWindowList);

    Help1 = mainMenu1->addMenu("Help");
    Help1->setObjectName("Help1");
    ItemHelp1 = Help1->addAction("Item Help", this, &TFormFrame::ItemHelp1Click);
    ItemHelp1->setObjectName("ItemHelp1");
    ItemHelp1->setShortcut(QKeySequence(Qt::Key_F1));
    About1 = Help1->addAction("About", this, &TFormFrame::About1Click);
    About1->setObjectName("About1");
}

void TFormFrame::CreateTray() {
    PopupMenuCoolTray1 = new QMenu(this);
    PopupMenuCoolTray1->setObjectName("PopupMenuCoolTray1");
    Open1 = PopupMenuCoolTray1->addAction("Open", this, &TFormFrame::Open1Click);
    Open1->setObjectName("Open1");
    Exit2 = PopupMenuCoolTray1->addAction("Exit", this, &TFormFrame::Exit2Click);
    Exit2->setObjectName("Exit2");

    CoolTrayIconMain = new TCoolTrayIcon(this, this);
    CoolTrayIconMain->setObjectName("CoolTrayIconMain");
    CoolTrayIconMain->SetPopupMenu(PopupMenuCoolTray1);
    // On Linux desktops a left click toggles the window and a right click opens the
    // menu, so the left button does not open the menu as well.
    CoolTrayIconMain->LeftPopup = false;
    CoolTrayIconMain->OnClick = [this] { CoolTrayIconMainClick(); };
    CoolTrayIconMain->SetHint(windowTitle());
    CoolTrayIconMain->SetIcon(ResourceIcon("TrayIcon"));
}

void TFormFrame::RunAfterStartup() {
    if (FStartupDone) return;
    FStartupDone = true;
    AfterStartup();
}

void TFormFrame::AfterStartup() {
    if (AppMgr == nullptr) return;
    // The tool windows are child windows: an ordinary main window cannot hold them, so
    // there the requests are ignored.
    const bool holdsTools = IsMDIParent();
    if (HasSwitch(AppMgr->FParams.ToVector(), "Seekmoor")) {
        if (holdsTools) NewSeekmoor1->trigger();
    } else if (AppMgr->FExeName.find("FileSync") != std::string::npos ||
               AppMgr->FExeName.find("FMW") != std::string::npos) {
        if (holdsTools) FMW1->trigger();
    } else {
        return;
    }
    update();
}

void TFormFrame::SetAboutForm(TAboutForm* form) { FAboutForm = form; }

TAboutForm* TFormFrame::AboutForm() {
    if (FAboutForm == nullptr) {
        if (!FOwnAboutForm) FOwnAboutForm = std::make_unique<TAboutForm>(windowTitle());
        FAboutForm = FOwnAboutForm.get();
    }
    return FAboutForm;
}

void TFormFrame::Exit1Click() { CloseApplication(AppMgr); }

void TFormFrame::Tile1Click() {
    // Side by side, each child window the full height of the client area.
    if (FMdiArea == nullptr) return;
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* w : FMdiArea->subWindowList())
        if (w->isVisible() && !w->isMinimized()) windows.append(w);
    const QRect area = FMdiArea->viewport()->rect();
    int x = 0;
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* w = windows[i];
        const int width = (area.width() - x) / int(windows.size() - i);
        if (w->isMaximized()) w->showNormal();
        w->setGeometry(x, 0, width, area.height());
        x += width;
    }
}

void TFormFrame::Cascade1Click() {
    if (FMdiArea != nullptr) FMdiArea->cascadeSubWindows();
}

void TFormFrame::ArrangeIcons1Click() {
    // Minimised child windows line up along the bottom edge.
    if (FMdiArea == nullptr) return;
    const QRect area = FMdiArea->viewport()->rect();
    int x = 0, y = area.bottom() + 1, rowHeight = 0;
    for (QMdiSubWindow* w : FMdiArea->subWindowList()) {
        if (!w->isMinimized()) continue;
        const QSize size = w->size();
        if (x > 0 && x + size.width() > area.width()) {
            x = 0;
            y -= rowHeight;
            rowHeight = 0;
        }
        if (rowHeight == 0) rowHeight = size.height();
        w->move(x, y - rowHeight);
        x += size.width();
    }
}

void TFormFrame::NewSeekmoor1Click() {
    // A new search window, owned by the frame, opens with every click.
}

void TFormFrame::FMW1Click() {
    // The one folder-sync window, made on first use, is shown.
}

void TFormFrame::ItemHelp1Click() {
    if (AppMgr == nullptr || AppMgr->FHelpURL.empty()) return;
    QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(AppMgr->FHelpURL)));
}

void TFormFrame::About1Click() {
    TAboutForm* about = AboutForm();
    about->show();
    about->raise();
    about->activateWindow();
}

void TFormFrame::CoolTrayIconMainClick() {
    if (isVisible()) CoolTrayIconMain->HideMainForm();
    else CoolTrayIconMain->ShowMainForm();
}

void TFormFrame::Open1Click() { CoolTrayIconMain->ShowMainForm(); }

void TFormFrame::Exit2Click() { CloseApplication(AppMgr); }

void TFormFrame::UpdateWindowList() {
    for (QAction* a : FWindowListActions) {
        WindowMain->removeAction(a);
        a->deleteLater();
    }
    FWindowListActions.clear();
    if (FMdiArea == nullptr) return;
    const QList<QMdiSubWindow*> windows = FMdiArea->subWindowList();
    FWindowListSeparator->setVisible(!windows.isEmpty());
    int n = 0;
    for (QMdiSubWindow* w : windows) {
        ++n;
        QString caption = w->windowTitle();
        caption.replace('&', "&&");
        QAction* a = WindowMain->addAction(n < 10 ? QString("&%1 %2").arg(n).arg(caption) : caption);
        a->setCheckable(true);
        a->setChecked(w == FMdiArea->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, sub = QPointer<QMdiSubWindow>(w)] {
            if (sub != nullptr && FMdiArea != nullptr) FMdiArea->setActiveSubWindow(sub);
        });
        FWindowListActions.append(a);
    }
}

bool TFormFrame::MayClose() const {
    return (AppMgr != nullptr && AppMgr->FClosing) || CoolTrayIconMain->Hidden() ||
           FSessionEnding || qApp->isSavingSession();
}

void TFormFrame::closeEvent(QCloseEvent* event) {
    if (MayClose()) {
        event->accept();
        return;
    }
    if (CoolTrayIconMain->TrayAvailable()) {
        event->ignore();
        CoolTrayIconMain->HideMainForm();
        return;
    }
    // Without a tray nobody could bring a hidden window back: closing ends the program.
    event->accept();
    if (AppMgr != nullptr) CloseApplication(AppMgr);
    else QCoreApplication::quit();
}
