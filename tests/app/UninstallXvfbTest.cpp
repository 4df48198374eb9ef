// The whole life of an installation with the real programs on a private X server: the
// install step into a private prefix, the first start that writes the menu entries, the
// uninstall started from its menu entry by the desktop's launcher (gtk-launch finds it by
// its menu ID), both stages answered with keys like a user would (xdotool), and at the
// end nothing left of the installation and its entries while everything else is as it
// was.
#include "app/InstallTestSupport.h"
#include "support/ChildProcess.h"
#include "support/DesktopExec.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using qntest::TChildProcess;
using qntest::TTempDir;
using qntest::TXvfb;

namespace {

// The command line of a process, one element per argument; empty when it is gone.
std::vector<std::string> CommandLine(pid_t pid) {
    std::string raw = qntest::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t i = 0; i < raw.size(); ++i)
        if (raw[i] == '\0') {
            args.push_back(raw.substr(start, i - start));
            start = i + 1;
        }
    return args;
}

// The first process with exactly this command line; 0 when there is none.
pid_t FindProcess(const std::vector<std::string>& args) {
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        pid_t pid = static_cast<pid_t>(std::stol(name));
        if (CommandLine(pid) == args) return pid;
    }
    return 0;
}

// Whether a process that is not our child has ended (gone, or a zombie nobody reaped).
bool Ended(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return true;
    size_t paren = stat.rfind(')');
    return paren == std::string::npos || stat.compare(paren + 2, 1, "Z") == 0;
}

class UninstallXvfb : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(X.Display().empty()) << "Xvfb did not start (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(qntest::WaitFor([&] {
            TChildProcess p({"/usr/bin/xdpyinfo"}, {"DISPLAY=" + X.Display()}, Root.Path(), Root / "xdpyinfo.txt");
            return p.Wait(std::chrono::seconds(30)) == std::optional<int>(0);
        })) << "X server " << X.Display() << " does not answer";
        for (const char* d : {"home", "tmp", "runtime", "work"}) fs::create_directories(Root / d);
        ::chmod((Root / "runtime").c_str(), 0700);
    }
    void TearDown() override {
        // The stages run in sessions of their own: end whatever a failed test left.
        for (pid_t pid : Started)
            if (pid > 0 && !Ended(pid)) ::kill(pid, SIGKILL);
    }
    std::vector<std::string> Env() const {
        std::vector<std::string> env = qntest::PrivateUserEnv(Root.Path());
        env.insert(env.end(), {"DISPLAY=" + X.Display(), "QT_QPA_PLATFORM=xcb",
                               "DBUS_SESSION_BUS_ADDRESS=disabled:", "XDG_RUNTIME_DIR=" + (Root / "runtime")});
        return env;
    }
    std::string Tool(const std::vector<std::string>& argv) {
        std::string out = Root / "tool.txt";
        TChildProcess p(argv, {"DISPLAY=" + X.Display()}, Root.Path(), out);
        EXPECT_TRUE(p.Wait(std::chrono::seconds(30)).has_value()) << argv[1];
        return qntest::ReadFile(out);
    }
    std::string VisibleWindow() {
        std::istringstream in(Tool({"/usr/bin/xdotool", "search", "--onlyvisible", "--classname", "brevanta"}));
        std::string id;
        in >> id;
        return id;
    }
    // Waits for the program's message box, then presses Key in it until the process ends.
    void Answer(pid_t pid, const std::string& key) {
        std::string box;
        ASSERT_TRUE(qntest::WaitFor([&] { return !(box = VisibleWindow()).empty() || Ended(pid); }, std::chrono::seconds(60)))
            << "no message box; output:\n" << qntest::ReadFile(Root / "stages.txt");
        ASSERT_FALSE(box.empty()) << "the program ended without asking (X server " << X.Display() << "):\n"
                                  << qntest::ReadFile(Root / "stages.txt");
        EXPECT_EQ(Tool({"/usr/bin/xdotool", "getwindowname", box}), "Brevanta\n");
        for (int attempt = 0; attempt < 10 && !Ended(pid); ++attempt) {
            Tool({"/usr/bin/xdotool", "windowfocus", "--sync", box});
            Tool({"/usr/bin/xdotool", "key", key});
            qntest::WaitFor([&] { return Ended(pid); }, std::chrono::seconds(5));
        }
        ASSERT_TRUE(Ended(pid)) << "the box did not take the key " << key;
    }

    TTempDir Root{"uninstall-xvfb"};
    TXvfb X;
    std::vector<pid_t> Started;
};

TEST_F(UninstallXvfb, AnInstalledBrevantaAppearsInTheMenuAndUninstallsItselfCleanly) {
    const std::string prefix = Root / R"(my "apps" $x)";
    const std::string d = prefix + "/lib/quennick/brevanta";
    // Beside the installation: the user's own file and another product of the maker.
    fs::create_directories(prefix + "/lib/quennick/other");
    qntest::WriteFile(prefix + "/keep.txt", "the user's");
    qntest::WriteFile(prefix + "/lib/quennick/other/keep.txt", "another product");
    {
        TChildProcess install({QN_CMAKE, "--install", QN_BINARY_DIR, "--prefix", prefix}, {}, Root.Path(),
                              Root / "install.txt");
        ASSERT_EQ(install.Wait(std::chrono::seconds(120)), std::optional<int>(0)) << qntest::ReadFile(Root / "install.txt");
    }
    const std::string menu = Root / "data/applications/Brevanta";
    const std::vector<std::string> skip{d, menu, Root / "cache", Root / "state", Root / "tool.txt",
                                        Root / "stages.txt", Root / "xdpyinfo.txt", Root / "validate.txt"};
    const auto before = qntest::TreeSnapshot(Root.Path(), skip);

    // The first start writes the menu entries.
    {
        TChildProcess first({d + "/brevanta"}, Env(), Root / "work", Root / "stages.txt");
        ASSERT_TRUE(qntest::WaitFor([&] {
            return fs::exists(menu + "/Brevanta.desktop") && fs::exists(menu + "/Uninstall.desktop");
        }, std::chrono::seconds(60))) << qntest::ReadFile(Root / "stages.txt");
        first.Signal(SIGTERM);
        ASSERT_EQ(first.Wait(), std::optional<int>(0)) << qntest::ReadFile(Root / "stages.txt");
    }
    EXPECT_EQ(qntest::SortedNames(menu), (std::vector<std::string>{"Brevanta.desktop", "Uninstall.desktop"}));
    for (const char* f : {"Brevanta.desktop", "Uninstall.desktop"}) {
        TChildProcess v({"/usr/bin/desktop-file-validate", menu + "/" + f}, {}, Root.Path(), Root / "validate.txt");
        EXPECT_EQ(v.Wait(), std::optional<int>(0));
        EXPECT_EQ(qntest::ReadFile(Root / "validate.txt"), "") << f;
    }

    // The desktop's launcher starts the uninstall by the entry's menu ID.
    {
        TChildProcess launch({"/usr/bin/gtk-launch", "Brevanta-Uninstall.desktop"}, Env(), Root / "work",
                             Root / "stages.txt");
        ASSERT_EQ(launch.Wait(), std::optional<int>(0)) << qntest::ReadFile(Root / "stages.txt");
    }
    pid_t stageOne = 0;
    ASSERT_TRUE(qntest::WaitFor([&] { return (stageOne = FindProcess({d + "/brevanta", "/UninstallApp"})) != 0; }))
        << "X server " << X.Display() << ":\n" << qntest::ReadFile(Root / "stages.txt");
    Started.push_back(stageOne);
    Answer(stageOne, "y");  // "Uninstall Brevanta?" Yes

    pid_t stageTwo = 0;
    ASSERT_TRUE(qntest::WaitFor([&] {
        return (stageTwo = FindProcess({d + "/brevanta", d, "-uninstallFinalize"})) != 0;
    })) << qntest::ReadFile(Root / "stages.txt");
    Started.push_back(stageTwo);
    Answer(stageTwo, "Return");  // "Uninstall complete." OK

    EXPECT_FALSE(fs::exists(d));
    EXPECT_FALSE(fs::exists(menu));
    EXPECT_TRUE(fs::exists(prefix + "/lib/quennick"));  // it still holds the other product
    // Everything that was there before is there as it was (the program may have added
    // its settings and run-time files).
    const auto after = qntest::TreeSnapshot(Root.Path(), skip);
    for (const auto& [path, content] : before) {
        auto it = after.find(path);
        EXPECT_TRUE(it != after.end() && it->second == content) << path;
    }
}

}  // namespace
