// The frame window, Brevanta's main window, the tray behaviour, the about box and the
// hint handler, on Qt's offscreen platform. Screenshots of the windows go to
// <build>/screenshots/.
#include "app/AboutForm.h"
#include "app/AppMgr.h"
#include "app/BRVMain.h"
#include "app/CoolTrayIcon.h"
#include "app/FMWFrame.h"
#include "app/QtAppHost.h"
#include "support/TestSupport.h"
#include "ui/QNHints.h"

#include <gtest/gtest.h>

#include "support/QtTestSupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

namespace {

[[maybe_unused]] auto* const QtEnv = qntest::AddQtEnvironment("test_app_forms");

class TTestAppMgr : public TAppMgr {
protected:
    void DoUninstallApp() override {}
    void DoUninstallFinalize() override {}
};

// Records the addresses the program hands to the desktop instead of opening them.
class TUrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<std::string> Urls;
    Q_INVOKABLE void Open(const QUrl& url) { Urls.push_back(url.toString().toStdString()); }
};

// A tool window of the suite: the hint handler writes to its status line.
class TTestToolWindow : public QWidget, public IToolWindow, public IStatusControl {
public:
    std::string Status;
    IStatusControl* StatusControl() override { return this; }
    ILogMemo* LogMemo() override { return nullptr; }
    void SetStatusText(const std::string& text) override { Status = text; }
};

using qntest::SaveScreenshot;

class AppForms : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(scheme, &Recorder, "Open");
    }
    void TearDown() override {
        for (const char* scheme : {"http", "https", "mailto"}) QDesktopServices::unsetUrlHandler(scheme);
        About.reset();
        Suite.reset();
        Brevanta.reset();
        Hints.reset();
        // Queued work of the windows (a quit request among it) ends with the test.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        Mgr.reset();
    }

    void StartManager(const std::vector<std::string>& argv = {"/opt/quennick/brevanta"}) {
        Mgr = TAppMgr::Create<TTestAppMgr>(argv, &Host);
        Hints = std::make_unique<TQNHintHook>();
        Hints->OnShowHints = [this] { return Host.ShowHints(); };
    }
    TFormBrvV1& MakeBrevanta() {
        if (!Mgr) StartManager();
        Brevanta = std::make_unique<TFormBrvV1>();
        return *Brevanta;
    }
    TFormFrame& MakeSuite() {
        if (!Mgr) StartManager({"/opt/quennick/quennick-suite"});
        Suite = std::make_unique<TFormFrame>();
        return *Suite;
    }
    TAboutForm& MakeAbout() {
        About = std::make_unique<TAboutForm>("Brevanta", BrevantaVersion);
        return *About;
    }
    // Runs the event loop with Action queued; the loop's exit code, or 99 when the
    // program did not end within a generous bound.
    static int RunLoop(const std::function<void()>& action) {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(30000);
        QTimer::singleShot(0, qApp, action);
        return QApplication::exec();
    }
    static void Activate(QWidget& w) {
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }

    TQtAppHost Host;
    std::unique_ptr<TTestAppMgr> Mgr;
    std::unique_ptr<TQNHintHook> Hints;
    std::unique_ptr<TFormBrvV1> Brevanta;
    std::unique_ptr<TFormFrame> Suite;
    std::unique_ptr<TAboutForm> About;
    TUrlRecorder Recorder;
};

std::vector<std::string> Captions(QMenu* menu) {
    std::vector<std::string> r;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) r.push_back(a->text().toStdString());
    return r;
}

TEST_F(AppForms, BrevantaWindowIsAStayOnTopWindowWithoutWindowMenu) {
    TFormBrvV1& form = MakeBrevanta();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.windowTitle(), "Brevanta");
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form.IsMDIParent());
    EXPECT_FALSE(form.isMaximized());
    EXPECT_EQ(form.size(), QSize(926, 506));
    QPoint screenCentre = form.screen()->availableGeometry().center();
    EXPECT_LE((form.frameGeometry().center() - screenCentre).manhattanLength(), 4);
    EXPECT_FALSE(form.WindowMain->menuAction()->isVisible());
    EXPECT_TRUE(form.File1->menuAction()->isVisible());
    EXPECT_TRUE(form.Help1->menuAction()->isVisible());
    EXPECT_EQ(form.CoolTrayIconMain->Hint(), "Brevanta");
    EXPECT_FALSE(form.CoolTrayIconMain->Icon().isNull());
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(Captions(form.PopupMenuCoolTray1), (std::vector<std::string>{"Open", "Exit"}));
    SaveScreenshot(&form, "brevanta");
}

TEST_F(AppForms, SuiteFrameHasTheMenusAndHoldsChildWindows) {
    TFormFrame& frame = MakeSuite();
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    EXPECT_EQ(frame.windowTitle(), "Quennick Suite");
    EXPECT_TRUE(frame.IsMDIParent());
    EXPECT_TRUE(frame.windowState() & Qt::WindowMaximized);
    struct {
        QMenu* Menu;
        const char* Title;
        std::vector<std::string> Items;
    } menus[] = {
        {frame.File1, "File", {"Exit"}},
        {frame.WindowMain, "Window", {"Tile", "Cascade", "Arrange Icons", "New Seekmoor", "FMW"}},
        {frame.Help1, "Help", {"Item Help", "About"}},
    };
    for (const auto& m : menus) {
        EXPECT_EQ(m.Menu->title().toStdString(), m.Title);
        EXPECT_EQ(Captions(m.Menu), m.Items) << m.Title;
    }
    EXPECT_EQ(frame.NewSeekmoor1->shortcut(), QKeySequence("Ctrl+Alt+F"));
    EXPECT_EQ(frame.ItemHelp1->shortcut(), QKeySequence(Qt::Key_F1));
    // The search and sync windows are not there yet.
    EXPECT_FALSE(frame.NewSeekmoor1->isEnabled());
    EXPECT_FALSE(frame.FMW1->isEnabled());

    // Two child windows: the window list names them, Tile puts them side by side.
    QMdiArea* area = frame.MdiArea();
    std::vector<QMdiSubWindow*> subs;
    for (const char* title : {"Search one", "Sync two"}) {
        auto* w = new QLabel(title);
        w->setWindowTitle(title);
        subs.push_back(area->addSubWindow(w));
        subs.back()->show();
    }
    area->setActiveSubWindow(subs[0]);
    emit frame.WindowMain->aboutToShow();
    std::vector<std::string> items = Captions(frame.WindowMain);
    ASSERT_EQ(items.size(), 7u);
    EXPECT_EQ(items[5], "&1 Search one");
    EXPECT_EQ(items[6], "&2 Sync two");
    frame.WindowMain->actions().back()->trigger();
    EXPECT_EQ(area->activeSubWindow(), subs[1]);

    frame.Tile1->trigger();
    const QRect client = area->viewport()->rect();
    EXPECT_EQ(subs[0]->geometry(), QRect(0, 0, client.width() / 2, client.height()));
    EXPECT_EQ(subs[1]->geometry().left(), client.width() / 2);
    EXPECT_EQ(subs[1]->geometry().right(), client.right());
    EXPECT_EQ(subs[1]->height(), client.height());
    SaveScreenshot(&frame, "suite-frame");

    frame.Cascade1->trigger();
    EXPECT_NE(subs[0]->pos(), subs[1]->pos());
    subs[0]->showMinimized();
    subs[1]->showMinimized();
    frame.ArrangeIcons1->trigger();
    EXPECT_EQ(subs[0]->geometry().bottom(), client.bottom());
    EXPECT_EQ(subs[1]->geometry().bottom(), client.bottom());
    EXPECT_EQ(subs[0]->geometry().left(), 0);
    EXPECT_EQ(subs[1]->geometry().left(), subs[0]->geometry().right() + 1);
}

TEST_F(AppForms, AfterStartupRunsOnceTheLoopRunsAndOpensTheToolAsked) {
    struct {
        std::vector<std::string> Argv;
        bool Brevanta;
        int Seekmoor, FMW;
    } cases[] = {
        {{"/usr/bin/quennick-suite", "/Seekmoor"}, false, 1, 0},
        {{"/usr/bin/FileSync", "-SEEKMOOR"}, false, 1, 0},
        {{"/usr/bin/FileSync"}, false, 0, 1},
        {{"/usr/bin/myFMWtool", "/debugx"}, false, 0, 1},
        {{"/usr/bin/filesync"}, false, 0, 0},
        {{"/usr/bin/quennick-suite", "Seekmoor"}, false, 0, 0},
        // Brevanta's window holds no child windows: both requests are ignored.
        {{"/usr/bin/brevanta", "/Seekmoor"}, true, 0, 0},
        {{"/usr/bin/FileSync"}, true, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Argv.back() + (c.Brevanta ? " (Brevanta)" : " (suite)"));
        StartManager(c.Argv);
        Host.SetShowHints(false);
        TFormFrame& frame = c.Brevanta ? static_cast<TFormFrame&>(MakeBrevanta()) : MakeSuite();
        int seekmoor = 0, fmw = 0;
        // Stand-ins for the tool windows.
        frame.NewSeekmoor1->setEnabled(true);
        frame.FMW1->setEnabled(true);
        QObject::connect(frame.NewSeekmoor1, &QAction::triggered, [&] { ++seekmoor; });
        QObject::connect(frame.FMW1, &QAction::triggered, [&] { ++fmw; });
        EXPECT_FALSE(frame.StartupDone());
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame.StartupDone(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(seekmoor, c.Seekmoor);
        EXPECT_EQ(fmw, c.FMW);
        // Brevanta turns the hints on when it has started.
        EXPECT_EQ(Host.ShowHints(), c.Brevanta);
        Suite.reset();
        Brevanta.reset();
        Hints.reset();
        Mgr.reset();
    }
}

TEST_F(AppForms, CloseHidesToTheTrayAndOpenOrAClickBringsItBack) {
    TFormBrvV1& form = MakeBrevanta();
    TCoolTrayIcon* tray = form.CoolTrayIconMain;
    tray->SetTrayAvailable(true);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    EXPECT_FALSE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(tray->Hidden());
    EXPECT_FALSE(Mgr->FClosing);

    form.Open1->trigger();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(tray->Hidden());

    // A left click on the icon toggles the window.
    tray->Activate(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(tray->Hidden());
    tray->Activate(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(tray->Hidden());
    // The right button only opens the menu.
    tray->Activate(QSystemTrayIcon::Context);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(Mgr->FClosing);
}

TEST_F(AppForms, ExitEndsTheProgramVisibleOrHidden) {
    struct {
        const char* Name;
        bool HideFirst;
        bool TrayMenu;
    } cases[] = {
        {"File menu, window visible", false, false},
        {"File menu, window hidden", true, false},
        {"tray menu, window hidden", true, true},
        {"tray menu, window visible", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        StartManager();
        TFormBrvV1& form = MakeBrevanta();
        form.CoolTrayIconMain->SetTrayAvailable(true);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        if (c.HideFirst) form.close();
        ASSERT_EQ(form.isVisible(), !c.HideFirst);
        QAction* exit = c.TrayMenu ? form.Exit2 : form.Exit1;
        EXPECT_EQ(RunLoop([exit] { exit->trigger(); }), 0);
        EXPECT_TRUE(Mgr->FClosing);
        Brevanta.reset();
        Hints.reset();
        Mgr.reset();
    }
}

TEST_F(AppForms, WithoutTrayClosingTheWindowEndsTheProgram) {
    TFormBrvV1& form = MakeBrevanta();
    // The offscreen platform has no tray, like a plain X server.
    ASSERT_FALSE(form.CoolTrayIconMain->TrayAvailable());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(RunLoop([&form] { form.close(); }), 0);
    EXPECT_TRUE(Mgr->FClosing);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(AppForms, EndOfTheDesktopSessionIsNotRefused) {
    TFormBrvV1& form = MakeBrevanta();
    form.CoolTrayIconMain->SetTrayAvailable(true);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // The session manager's "die" reaches the program as a quit request.
    EXPECT_EQ(RunLoop([] {
                  QEvent quit(QEvent::Quit);
                  QCoreApplication::sendEvent(qApp, &quit);
              }),
              0);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(AppForms, ItemHelpOpensTheHelpAddressOfTheHintUnderTheMouse) {
    TFormBrvV1& form = MakeBrevanta();
    auto* withHelp = new QLabel("help", form.RouterPanel());
    auto* plain = new QLabel("plain", form.RouterPanel());
    auto* bare = new QLabel("bare", form.RouterPanel());
    SetHint(withHelp, "https://quennick.example/help/routes|Drop here.");
    SetHint(plain, "Level|The level of the device.");
    Activate(form);
    auto enter = [](QWidget* w) {
        QEnterEvent e(QPointF(1, 1), QPointF(1, 1), w->mapToGlobal(QPointF(1, 1)));
        QCoreApplication::sendEvent(w, &e);
    };
    struct {
        QWidget* Control;
        std::vector<std::string> Opened;
    } cases[] = {
        {plain, {}},
        {withHelp, {"https://quennick.example/help/routes"}},
        {bare, {}},  // no hint at all: the help address is gone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Control->objectName().toStdString() + " " + HintOf(c.Control));
        Recorder.Urls.clear();
        enter(c.Control);
        QTest::keyClick(&form, Qt::Key_F1);
        QCoreApplication::processEvents();
        EXPECT_EQ(Recorder.Urls, c.Opened);
    }
    EXPECT_TRUE(Mgr->FHelpURL.empty());
    EXPECT_FALSE(form.isHidden());
}

TEST_F(AppForms, HintsReachTheActiveToolWindowAndBreakLines) {
    TFormFrame& frame = MakeSuite();
    auto* tool = new TTestToolWindow;
    auto* panel = new QWidget(tool);
    auto* child = new QLabel("child", panel);
    auto* other = new QLabel("other", tool);
    SetHint(panel, "https://quennick.example/help/sync|Drop here.");
    SetHint(other, "Folders|Source folders#13#10and targets||one per line");
    frame.MdiArea()->setActiveSubWindow(frame.MdiArea()->addSubWindow(tool));
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    NormalizeHints(tool);
    EXPECT_EQ(HintOf(other), "Folders|Source folders\r\nand targets\r\none per line");
    EXPECT_EQ(other->toolTip(), "Folders");
    // A help address is not shown as the tooltip.
    EXPECT_EQ(panel->toolTip(), "Drop here.");

    auto send = [](QWidget* w, QEvent::Type type) {
        if (type == QEvent::Enter) {
            QEnterEvent e(QPointF(1, 1), QPointF(1, 1), w->mapToGlobal(QPointF(1, 1)));
            QCoreApplication::sendEvent(w, &e);
        } else {
            QEvent e(type);
            QCoreApplication::sendEvent(w, &e);
        }
    };
    // The child has no hint of its own: the panel's is in effect.
    send(child, QEvent::Enter);
    EXPECT_EQ(tool->Status, "Drop here.  F1 for video help.");
    EXPECT_EQ(Mgr->FHelpURL, "https://quennick.example/help/sync");
    send(child, QEvent::Leave);
    send(other, QEvent::Enter);
    EXPECT_EQ(tool->Status, "Source folders  and targets  one per line");
    EXPECT_TRUE(Mgr->FHelpURL.empty());

    // Tooltips follow the hints switch.
    for (bool on : {false, true}) {
        Host.SetShowHints(on);
        QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), other->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(other, &help);
        EXPECT_EQ(QToolTip::isVisible(), on) << on;
        QToolTip::hideText();
    }
}

TEST_F(AppForms, AboutBoxShowsTheProductAndCredits) {
    StartManager();
    TFormBrvV1& form = MakeBrevanta();
    TAboutForm& about = MakeAbout();
    form.SetAboutForm(&about);
    form.About1->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_TRUE(about.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(about.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(about.height(), 179);
    EXPECT_EQ(about.LabelVersion->text(), "Version 1.35");
    EXPECT_EQ(about.LabelProductName->text(), "Brevanta");
    EXPECT_FALSE(about.ImageLeft->pixmap().isNull());
    EXPECT_FALSE(about.ImageRight->pixmap().isNull());
    QPoint screenCentre = about.screen()->availableGeometry().center();
    EXPECT_LE((about.geometry().center() - screenCentre).manhattanLength(), 2);
    SaveScreenshot(&about, "about");

    QTest::mouseClick(about.ButtonCredits, Qt::LeftButton);
    EXPECT_EQ(about.height(), 371);
    EXPECT_TRUE(about.isVisible());
    SaveScreenshot(&about, "about-credits");

    // The maker's address: an e-mail and the web site; the box stays.
    QTest::mouseClick(about.LabelWeb, Qt::LeftButton);
    EXPECT_EQ(Recorder.Urls,
              (std::vector<std::string>{"mailto:info@quennick.example", "https://quennick.example/"}));
    EXPECT_TRUE(about.isVisible());

    // Hidden, not destroyed: the next "About" shows it short again.
    about.ButtonOK->click();
    EXPECT_FALSE(about.isVisible());
    form.About1->trigger();
    EXPECT_TRUE(about.isVisible());
    EXPECT_EQ(about.height(), 179);
}

TEST_F(AppForms, AnyKeyOrAClickOnTheBoxClosesIt) {
    TAboutForm& about = MakeAbout();
    struct {
        const char* Name;
        std::function<void()> Do;
    } cases[] = {
        {"key A", [&] { QTest::keyClick(&about, Qt::Key_A); }},
        {"Escape", [&] { QTest::keyClick(&about, Qt::Key_Escape); }},
        {"Space on the focused Credits button",
         [&] {
             about.ButtonCredits->setFocus();
             QTest::keyClick(about.ButtonCredits, Qt::Key_Space);
         }},
        {"Alt+C", [&] { QTest::keyClick(about.ButtonOK, Qt::Key_C, Qt::AltModifier); }},
        {"left picture", [&] { QTest::mouseClick(about.ImageLeft, Qt::LeftButton); }},
        {"right picture", [&] { QTest::mouseClick(about.ImageRight, Qt::LeftButton); }},
        {"name", [&] { QTest::mouseClick(about.LabelProductName, Qt::LeftButton); }},
        {"version", [&] { QTest::mouseClick(about.LabelVersion, Qt::LeftButton); }},
        {"info panel", [&] { QTest::mouseClick(about.PanelInfo, Qt::LeftButton, {}, QPoint(3, 3)); }},
        {"top panel", [&] { QTest::mouseClick(about.PanelTop, Qt::LeftButton, {}, QPoint(2, 2)); }},
        {"OK", [&] { QTest::mouseClick(about.ButtonOK, Qt::LeftButton); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Activate(about);
        ASSERT_TRUE(about.isVisible());
        c.Do();
        EXPECT_FALSE(about.isVisible());
        // Whatever closed it, the credits did not open first.
        EXPECT_EQ(about.height(), 179);
    }
}

}  // namespace

#include "AppFormsTest.moc"
