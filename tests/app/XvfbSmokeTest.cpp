// Starts the real programs on a private X server (Xvfb) with a system tray (trayer),
// drives them with xdotool like a user would and ends them through their Exit commands.
// Screenshots go to <build>/screenshots/.
#include "support/ChildProcess.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using qntest::TChildProcess;
using qntest::TTempDir;
using qntest::TXvfb;

namespace {

struct TGeometry {
    int X = 0, Y = 0, Width = 0, Height = 0;
};

class XvfbSmoke : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(X.Display().empty()) << "Xvfb did not start (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(qntest::WaitFor([&] {
            TChildProcess p({"/usr/bin/xdpyinfo"}, {"DISPLAY=" + X.Display()}, Dir.Path(), Dir / "xdpyinfo.txt");
            return p.Wait(std::chrono::seconds(30)) == std::optional<int>(0);
        })) << "X server " << X.Display() << " does not answer";
        ::mkdir((Dir / "runtime").c_str(), 0700);
        // trayer now and then fails to open a display that has just come up: it gets a
        // few tries.
        bool trayUp = false;
        for (int attempt = 0; attempt < 5 && !trayUp; ++attempt) {
            if (attempt > 0)
                std::fprintf(stderr, "trayer attempt %d on %s: %s\n", attempt + 1, X.Display().c_str(),
                             qntest::ReadFile(Dir / "trayer.txt").c_str());
            Tray = std::make_unique<TChildProcess>(
                std::vector<std::string>{"/usr/bin/trayer", "--edge", "top", "--align", "right",
                                         "--widthtype", "request", "--height", "24"},
                std::vector<std::string>{"DISPLAY=" + X.Display()}, Dir.Path(), Dir / "trayer.txt");
            // The tray's panel window is there once trayer owns the tray.
            qntest::WaitFor([&] {
                trayUp = Run({"/usr/bin/xdotool", "search", "--class", "trayer"})
                             .find_first_of("0123456789") != std::string::npos;
                return trayUp || !Tray->Running();
            });
        }
        ASSERT_TRUE(trayUp) << qntest::ReadFile(Dir / "trayer.txt")
                            << (X.Running() ? "" : "the X server is gone");
    }

    std::vector<std::string> Env() const {
        return {"DISPLAY=" + X.Display(), "QT_QPA_PLATFORM=xcb",
                // No desktop bus: the tray icon goes to the X11 tray.
                "DBUS_SESSION_BUS_ADDRESS=disabled:", "XDG_RUNTIME_DIR=" + (Dir / "runtime"),
                "XDG_CONFIG_HOME=" + (Dir / "config"), "XDG_CACHE_HOME=" + (Dir / "cache"),
                "XDG_STATE_HOME=" + (Dir / "state"), "XDG_DATA_HOME=" + (Dir / "data")};
    }

    // Runs a tool on the display and returns what it printed.
    std::string Run(const std::vector<std::string>& argv) {
        std::string out = Dir / "tool.txt";
        TChildProcess p(argv, {"DISPLAY=" + X.Display()}, Dir.Path(), out);
        EXPECT_TRUE(p.Wait(std::chrono::seconds(30)).has_value()) << argv[1];
        return qntest::ReadFile(out);
    }
    // Visible windows by instance name (the executable's name).
    std::vector<std::string> VisibleWindows(const std::string& instance) {
        std::istringstream in(
            Run({"/usr/bin/xdotool", "search", "--onlyvisible", "--classname", instance}));
        std::vector<std::string> ids;
        for (std::string id; in >> id;) ids.push_back(id);
        return ids;
    }
    TGeometry Geometry(const std::string& id) {
        TGeometry g;
        std::istringstream in(Run({"/usr/bin/xdotool", "getwindowgeometry", "--shell", id}));
        for (std::string line; std::getline(in, line);) {
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            int v = std::atoi(line.c_str() + eq + 1);
            std::string k = line.substr(0, eq);
            if (k == "X") g.X = v;
            else if (k == "Y") g.Y = v;
            else if (k == "WIDTH") g.Width = v;
            else if (k == "HEIGHT") g.Height = v;
        }
        return g;
    }
    // The program's visible windows: the largest is the main window, one of at most 64
    // pixels is the tray icon, the others are popup menus.
    struct TWindows {
        std::string Main, TrayIcon;
        std::vector<std::string> Others;
    };
    TWindows Windows(const std::string& cls) {
        TWindows w;
        int largest = 0;
        for (const std::string& id : VisibleWindows(cls)) {
            TGeometry g = Geometry(id);
            if (g.Width <= 64 && g.Height <= 64) {
                w.TrayIcon = id;
            } else if (g.Width * g.Height > largest) {
                if (!w.Main.empty()) w.Others.push_back(w.Main);
                w.Main = id;
                largest = g.Width * g.Height;
            } else {
                w.Others.push_back(id);
            }
        }
        return w;
    }
    void Click(const std::string& window, int x, int y, int button = 1) {
        Run({"/usr/bin/xdotool", "mousemove", "--window", window, std::to_string(x),
             std::to_string(y), "click", std::to_string(button)});
    }
    // Waits for a popup menu of the program and clicks its last item.
    void ClickLastMenuItem(const std::string& cls, const std::string& mainWindow) {
        std::string popup;
        ASSERT_TRUE(qntest::WaitFor([&] {
            for (const std::string& id : VisibleWindows(cls)) {
                TGeometry g = Geometry(id);
                if (id != mainWindow && g.Width > 64 && g.Height < 200) popup = id;
            }
            return !popup.empty();
        }));
        TGeometry g = Geometry(popup);
        Click(popup, g.Width / 2, g.Height - 12);
    }
    void Screenshot(const std::string& name) {
        std::filesystem::create_directories(QN_BINARY_DIR "/screenshots");
        std::string path = QN_BINARY_DIR "/screenshots/" + name + ".png";
        Run({"/usr/bin/import", "-window", "root", path});
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }

    TTempDir Dir{"xvfb"};
    TXvfb X;
    std::unique_ptr<TChildProcess> Tray;
};

TEST_F(XvfbSmoke, BrevantaHidesToTheTrayAndTheTrayMenuEndsIt) {
    TChildProcess p({BREVANTA_EXE}, Env(), Dir.Path(), Dir / "out.txt");
    TWindows w;
    ASSERT_TRUE(qntest::WaitFor([&] {
        w = Windows("brevanta");
        return !w.Main.empty() && !w.TrayIcon.empty();
    })) << qntest::ReadFile(Dir / "out.txt");
    TGeometry g = Geometry(w.Main);
    EXPECT_EQ(g.Width, 926);
    EXPECT_EQ(g.Height, 506);
    // Centred on the 1280 x 1024 screen.
    EXPECT_NEAR(g.X + g.Width / 2, 640, 4);
    EXPECT_NEAR(g.Y + g.Height / 2, 512, 4);
    Screenshot("brevanta-xvfb");

    // A left click on the tray icon hides the window, the next one shows it. (The clicks
    // land on different spots so that two of them do not make a double click.)
    int spot = 4;
    for (bool visibleAfter : {false, true, false}) {
        Click(w.TrayIcon, spot, spot);
        spot = spot == 4 ? 16 : 4;
        ASSERT_TRUE(qntest::WaitFor([&] { return !Windows("brevanta").Main.empty() == visibleAfter; }))
            << "visible after the click: " << visibleAfter;
    }
    EXPECT_TRUE(p.Running());

    // Hidden, the program still ends through the tray menu's Exit.
    Click(w.TrayIcon, 8, 8, 3);
    ClickLastMenuItem("brevanta", "");
    EXPECT_EQ(p.Wait(), std::optional<int>(0)) << qntest::ReadFile(Dir / "out.txt");
}

TEST_F(XvfbSmoke, BrevantaEndsThroughTheFileMenu) {
    TChildProcess p({BREVANTA_EXE}, Env(), Dir.Path(), Dir / "out.txt");
    TWindows w;
    ASSERT_TRUE(qntest::WaitFor([&] {
        w = Windows("brevanta");
        return !w.Main.empty();
    })) << qntest::ReadFile(Dir / "out.txt");
    Click(w.Main, 20, 9);  // "File"
    ClickLastMenuItem("brevanta", w.Main);
    EXPECT_EQ(p.Wait(), std::optional<int>(0)) << qntest::ReadFile(Dir / "out.txt");
}

TEST_F(XvfbSmoke, SuiteFrameStartsAndEndsThroughTheFileMenu) {
    TChildProcess p({SUITE_EXE}, Env(), Dir.Path(), Dir / "out.txt");
    TWindows w;
    ASSERT_TRUE(qntest::WaitFor([&] {
        w = Windows("quennick-suite");
        return !w.Main.empty() && !w.TrayIcon.empty();
    })) << qntest::ReadFile(Dir / "out.txt");
    EXPECT_NE(Run({"/usr/bin/xdotool", "getwindowname", w.Main}).find("Quennick Suite"), std::string::npos);
    Screenshot("quennick-suite-xvfb");
    Click(w.Main, 20, 9);  // "File"
    ClickLastMenuItem("quennick-suite", w.Main);
    EXPECT_EQ(p.Wait(), std::optional<int>(0)) << qntest::ReadFile(Dir / "out.txt");
}

}  // namespace
