// The menu entries, the install step and both uninstall stages, in a private home.
// The stages run in this process, with a scripted host answering the message boxes;
// the files, folders and processes they work on are real. Nothing outside the test's
// own temporary folder is touched.
#include "app/BrevanAppMgr.h"
#include "app/BrevanInstall.h"
#include "common/QNMemIniFile.h"
#include "locations/LocationOwner.h"

#include "app/InstallTestSupport.h"
#include "support/ChildProcess.h"
#include "support/DesktopExec.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <deque>
#include <filesystem>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;
using qntest::TChildProcess;
using qntest::TScopedEnv;
using qntest::TTempDir;

namespace {

// Answers the message boxes from a script and records what was asked and shown.
class TScriptedHost : public IAppHost {
public:
    struct TReply {
        TMsgDlgBtn Answer;
        std::function<void()> Before;  // runs while the box is up
    };
    std::deque<TReply> Replies;
    std::vector<std::string> Questions, Messages;
    int Terminated = 0;

    void Terminate() override { ++Terminated; }
    TCursor ScreenCursor() const override { return TCursor::crDefault; }
    void SetScreenCursor(TCursor) override {}
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    TMsgDlgBtn MessageDlg(const std::string& text, TMsgDlgType, const TMsgDlgButtons& buttons) override {
        Questions.push_back(text);
        if (Replies.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return EscapeAnswer(buttons);
        }
        TReply r = Replies.front();
        Replies.pop_front();
        if (r.Before) r.Before();
        return r.Answer;
    }
    void SetShowHints(bool) override {}
    bool HeapMonitorVisible() const override { return false; }
    IToolWindow* ActiveToolWindow() override { return nullptr; }
};

// Brevanta's manager as if it ran from Exe.
class TTestBrevanMgr : public TBrevanAppMgr {
public:
    static inline std::string Exe;

protected:
    std::string ExePath() const override { return Exe; }
};

const std::string InUseQuestionTail =
    " is in use.  I can terminate it, but you should try to end the program yourself which "
    "will save everything, then Retry.  Should I terminate it?";

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string& e : qntest::PrivateUserEnv(Root.Path())) {
            std::string name = e.substr(0, e.find('='));
            Env.push_back(std::make_unique<TScopedEnv>(name.c_str(), e.substr(e.find('=') + 1)));
        }
        fs::create_directories(Root / "home");
        fs::create_directories(Root / "tmp");
        SetDefaultLocationOwner(&Owner);
    }
    void TearDown() override { SetDefaultLocationOwner(nullptr); }

    // An installation: D with the programs, the icon and its list (Lines after the
    // header, default: every file), below Prefix/lib/<Maker>/.
    std::string MakeInstall(const std::vector<std::string>& extra = {},
                            const std::string& maker = "quennick") {
        D = Root / ("prefix/lib/" + maker + "/brevanta");
        fs::create_directories(D);
        for (const char* f : {"brevanta", "quennick-suite", "brevanta.png"})
            qntest::WriteFile(D + "/" + f, std::string("content of ") + f);
        std::string list = "[Files]\nbrevanta\nquennick-suite\nbrevanta.png\n";
        for (const std::string& l : extra) list += l + "\n";
        list += "UninstallInfo.txt\n";
        qntest::WriteFile(D + "/UninstallInfo.txt", list);
        CreateShortcuts(D);
        return D;
    }
    std::unique_ptr<TTestBrevanMgr> Run(const std::vector<std::string>& params) {
        TTestBrevanMgr::Exe = D + "/brevanta";
        std::vector<std::string> argv{D + "/brevanta"};
        argv.insert(argv.end(), params.begin(), params.end());
        auto mgr = TAppMgr::Create<TTestBrevanMgr>(argv, &Host);
        EXPECT_TRUE(mgr->FClosing);
        EXPECT_EQ(Host.Terminated, 1);
        EXPECT_TRUE(Host.Replies.empty()) << "questions not asked";
        return mgr;
    }
    std::unique_ptr<TTestBrevanMgr> Finalize() { return Run({D, "-uninstallFinalize"}); }
    // Everything of the test's folder but the installation, the maker's folder, the menu
    // entries and the program's scratch folders.
    std::map<std::string, std::string> Outside() {
        return qntest::TreeSnapshot(Root.Path(), {D, fs::path(D).parent_path().string(), MenuEntriesFolder(),
                                                  Root / "cache", Root / "state", Root / "owner"});
    }
    bool Exists(const std::string& p) {
        std::error_code ec;
        return fs::exists(fs::symlink_status(p, ec));
    }

    TTempDir Root{"uninstall"};
    std::vector<std::unique_ptr<TScopedEnv>> Env;
    TSimpleLocationOwner Owner{Root / "owner"};
    TScriptedHost Host;
    std::string D;
};

TEST_F(Uninstall, MenuEntriesWrittenTwiceStayTwoAndValidate) {
    const std::string d = Root / "my apps/lib/quennick/brevanta";
    fs::create_directories(d);
    qntest::WriteFile(d + "/brevanta.png", "png");
    CreateShortcuts(d);
    CreateShortcuts(d);
    const std::string menu = Root / "data/applications/Brevanta";
    EXPECT_EQ(MenuEntriesFolder(), menu);
    ASSERT_EQ(qntest::SortedNames(menu), (std::vector<std::string>{"Brevanta.desktop", "Uninstall.desktop"}));
    for (const char* f : {"Brevanta.desktop", "Uninstall.desktop"}) {
        TChildProcess v({"/usr/bin/desktop-file-validate", menu + "/" + f}, {}, Root.Path(), Root / "v.txt");
        EXPECT_EQ(v.Wait(), std::optional<int>(0));
        EXPECT_EQ(qntest::ReadFile(Root / "v.txt"), "") << f;
    }
    auto run = qntest::ReadDesktopEntry(menu + "/Brevanta.desktop");
    auto un = qntest::ReadDesktopEntry(menu + "/Uninstall.desktop");
    EXPECT_EQ(run["Name"], "Brevanta");
    EXPECT_EQ(un["Name"], "Uninstall Brevanta");
    EXPECT_EQ(qntest::SplitExec(run["Exec"]), std::vector<std::string>{d + "/brevanta"});
    EXPECT_EQ(qntest::SplitExec(un["Exec"]), (std::vector<std::string>{d + "/brevanta", "/UninstallApp"}));
    for (auto* e : {&run, &un}) {
        EXPECT_EQ((*e)["Path"], d);
        EXPECT_EQ((*e)["Icon"], d + "/brevanta.png");
    }
    // Without an installed icon the entries name none.
    fs::remove(d + "/brevanta.png");
    CreateShortcuts(d);
    EXPECT_EQ(qntest::ReadDesktopEntry(menu + "/Brevanta.desktop").count("Icon"), 0u);
}

TEST_F(Uninstall, TheStartWritesEntriesOnlyForAnInstallation) {
    D = Root / "build/src/app";
    fs::create_directories(D);
    TTestBrevanMgr::Exe = D + "/brevanta";
    auto mgr = TAppMgr::Create<TTestBrevanMgr>({D + "/brevanta"}, &Host);
    CreateShortcuts(mgr.get());
    EXPECT_FALSE(Exists(Root / "data/applications"));
    qntest::WriteFile(D + "/UninstallInfo.txt", "[Files]\nbrevanta\n");
    CreateShortcuts(mgr.get());
    EXPECT_EQ(qntest::SortedNames(MenuEntriesFolder()),
              (std::vector<std::string>{"Brevanta.desktop", "Uninstall.desktop"}));
    EXPECT_TRUE(Host.Messages.empty());
}

TEST_F(Uninstall, AnEntryThatCannotBeWrittenIsReportedAndTheProgramGoesOn) {
    D = Root / "prefix/lib/quennick/brevanta";
    fs::create_directories(D);
    qntest::WriteFile(D + "/UninstallInfo.txt", "[Files]\nbrevanta\n");
    fs::create_directories(Root / "data");
    qntest::WriteFile(Root / "data/applications", "a file where the folder belongs");
    TTestBrevanMgr::Exe = D + "/brevanta";
    auto mgr = TAppMgr::Create<TTestBrevanMgr>({D + "/brevanta"}, &Host);
    EXPECT_FALSE(mgr->FClosing);
    CreateShortcuts(mgr.get());
    ASSERT_EQ(Host.Messages.size(), 1u);
    EXPECT_NE(Host.Messages[0].find(Root / "data/applications"), std::string::npos) << Host.Messages[0];
    CreateShortcuts(static_cast<TAppMgr*>(nullptr));  // no manager: nothing happens

    // A folder in the place of the entry's file.
    fs::remove(Root / "data/applications");
    fs::create_directories(MenuEntriesFolder() + "/Brevanta.desktop/x");
    Host.Messages.clear();
    CreateShortcuts(mgr.get());
    ASSERT_EQ(Host.Messages.size(), 1u);
    EXPECT_EQ(Host.Messages[0].rfind("Write error.\n", 0), 0u) << Host.Messages[0];
    EXPECT_EQ(qntest::SortedNames(MenuEntriesFolder()), std::vector<std::string>{"Brevanta.desktop"});
}

TEST(UninstallLines, OnlyFilesDirectlyInTheInstallationFolderAreNamed) {
    const std::string d = "/opt/q/lib/quennick/brevanta";
    struct Case {
        std::string Line, File;
    };
    const Case cases[] = {
        {"brevanta", d + "/brevanta"},
        {"Brevan.exe", d + "/Brevan.exe"},
        {d + "/quennick-suite", d + "/quennick-suite"},
        {"name with blanks.txt", d + "/name with blanks.txt"},
        {"../x", ""},
        {"..", ""},
        {".", ""},
        {"", ""},
        {"sub/x", ""},
        {"/opt/q/lib/quennick/x", ""},
        {d + "/../brevanta/x", ""},
        {d + "/sub/x", ""},
        {d + "/", ""},
        {"/etc/passwd", ""},
        {"zip://" + d + "/a.zip", ""},
        {"bad\tname", ""},
        {"bad\nname", ""},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(UninstallFileOfLine(d, c.Line, reason), c.File) << c.Line;
        EXPECT_EQ(reason.empty(), !c.File.empty()) << c.Line << ": " << reason;
    }
    struct FolderCase {
        std::string Folder;
        bool Ok;
    };
    const FolderCase folders[] = {{d, true},           {d + "/", true},          {"", false},
                                  {"relative/b", false}, {"/", false},            {"//", false},
                                  {"/opt/../etc", false}, {"/opt/./q", false},     {"/opt/q\x01", false}};
    for (const FolderCase& f : folders) {
        std::string reason;
        EXPECT_EQ(IsAcceptableInstallFolder(f.Folder, reason), f.Ok) << f.Folder << ": " << reason;
    }
}

TEST_F(Uninstall, StageOneNoChangesNothingAndStartsNothing) {
    MakeInstall();
    auto before = qntest::TreeSnapshot(Root.Path(), {Root / "cache", Root / "owner"});
    Host.Replies.push_back({TMsgDlgBtn::mbNo, {}});
    Run({"/UninstallApp"});
    EXPECT_EQ(Host.Questions, std::vector<std::string>{"Uninstall Brevanta?"});
    EXPECT_TRUE(Host.Messages.empty());
    EXPECT_EQ(qntest::TreeSnapshot(Root.Path(), {Root / "cache", Root / "owner"}), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no process was started
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(Uninstall, StageOneWithoutAHostThatCanAskDoesNothing) {
    MakeInstall();
    auto before = qntest::TreeSnapshot(Root.Path(), {Root / "cache", Root / "owner"});
    TTestBrevanMgr::Exe = D + "/brevanta";
    auto mgr = TAppMgr::Create<TTestBrevanMgr>({D + "/brevanta", "/UninstallApp"}, nullptr);
    EXPECT_TRUE(mgr->FClosing);
    EXPECT_EQ(qntest::TreeSnapshot(Root.Path(), {Root / "cache", Root / "owner"}), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no process was started
    EXPECT_EQ(errno, ECHILD);
}

TEST(EscapeAnswer, CancelThenNoThenOK) {
    using B = TMsgDlgBtn;
    EXPECT_EQ(EscapeAnswer({B::mbYes, B::mbNo}), B::mbNo);
    EXPECT_EQ(EscapeAnswer({B::mbYes, B::mbNo, B::mbCancel, B::mbRetry}), B::mbCancel);
    EXPECT_EQ(EscapeAnswer({B::mbOK}), B::mbOK);
    EXPECT_EQ(EscapeAnswer({B::mbRetry}), B::mbRetry);
    EXPECT_EQ(EscapeAnswer({}), B::mbCancel);
}

TEST_F(Uninstall, StageOneYesStartsStageTwoDetachedFromTheInstalledProgram) {
    MakeInstall();
    // The installed program, replaced by a script that reports how it was started.
    const std::string out = Root / "started.txt";
    qntest::WriteFile(D + "/brevanta", "#!/bin/sh\n{ echo $$; cut -d' ' -f6 /proc/$$/stat; pwd; "
                                       "printf '%s\\n' \"$@\"; } > '" + out + ".part'; mv '" + out +
                                           ".part' '" + out + "'\n");
    ::chmod((D + "/brevanta").c_str(), 0755);
    Host.Replies.push_back({TMsgDlgBtn::mbYes, {}});
    Run({"/UninstallApp"});
    EXPECT_TRUE(Host.Messages.empty());
    ASSERT_TRUE(qntest::WaitFor([&] { return fs::exists(out); }));
    // The started process is a child of this one: reap it.
    EXPECT_TRUE(qntest::WaitFor([] { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }));
    std::istringstream in(qntest::ReadFile(out));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], lines[0]);  // its own session
    EXPECT_EQ(lines[2], Root / "tmp");
    EXPECT_EQ(lines[3], D);
    EXPECT_EQ(lines[4], "-uninstallFinalize");
}

TEST_F(Uninstall, StageOneTellsTheUserWhenStageTwoCannotStart) {
    MakeInstall();
    fs::remove(D + "/brevanta");
    Host.Replies.push_back({TMsgDlgBtn::mbYes, {}});
    Run({"/UninstallApp"});
    ASSERT_EQ(Host.Messages.size(), 1u);
    EXPECT_EQ(Host.Messages[0],
              "The uninstall could not be started.\n" + D + "/brevanta: No such file or directory");
}

TEST_F(Uninstall, StageTwoRemovesTheInstallationTheMakersFolderAndTheEntries) {
    struct Case {
        const char* Maker;
        bool MakerFolderGoes;
    };
    for (const Case c : {Case{"quennick", true}, Case{"Quennick", true}, Case{"tools", false}}) {
        SCOPED_TRACE(c.Maker);
        fs::remove_all(Root / "prefix");
        Host = TScriptedHost();
        MakeInstall({}, c.Maker);
        qntest::WriteFile(Root / "prefix/lib/keep.txt", "beside the maker's folder");
        fs::create_directories(Root / "data/applications/Other");
        qntest::WriteFile(Root / "data/applications/Other/other.desktop", "another program's entry");
        auto outside = Outside();
        Finalize();
        EXPECT_FALSE(Exists(D));
        EXPECT_EQ(Exists(Root / ("prefix/lib/" + std::string(c.Maker))), !c.MakerFolderGoes);
        EXPECT_FALSE(Exists(MenuEntriesFolder()));
        EXPECT_EQ(Outside(), outside);
        EXPECT_TRUE(Host.Questions.empty());
        EXPECT_EQ(Host.Messages, std::vector<std::string>{"Uninstall complete."});
    }
}

TEST_F(Uninstall, StageTwoKeepsUnlistedFilesAndTheirFolder) {
    MakeInstall();
    qntest::WriteFile(D + "/notes.txt", "mine");
    Finalize();
    EXPECT_EQ(qntest::SortedNames(D), std::vector<std::string>{"notes.txt"});
    EXPECT_FALSE(Exists(MenuEntriesFolder()));
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"Uninstall complete."});
}

TEST_F(Uninstall, StageTwoRefusesLinesThatNameOtherPlaces) {
    const std::string elsewhere = Root / "elsewhere/victim.txt";
    fs::create_directories(Root / "elsewhere");
    qntest::WriteFile(elsewhere, "not ours");
    MakeInstall({"../beside.txt", elsewhere, "sub/inner.txt", "", "bad\tname", ".", "..",
                 Root / "prefix/lib/quennick/brevanta/../beside.txt"});
    // A full path in the installation folder names the file there.
    qntest::WriteFile(D + "/UninstallInfo.txt",
                      qntest::ReadFile(D + "/UninstallInfo.txt") + D + "/extra.bin\n");
    qntest::WriteFile(D + "/extra.bin", "x");
    qntest::WriteFile(Root / "prefix/lib/quennick/beside.txt", "beside D");
    fs::create_directories(D + "/sub");
    qntest::WriteFile(D + "/sub/inner.txt", "inner");
    auto outside = Outside();
    Finalize();
    EXPECT_EQ(qntest::SortedNames(D), std::vector<std::string>{"sub"});
    EXPECT_EQ(qntest::SortedNames(D + "/sub"), std::vector<std::string>{"inner.txt"});
    EXPECT_EQ(qntest::ReadFile(Root / "prefix/lib/quennick/beside.txt"), "beside D");
    EXPECT_EQ(Outside(), outside);
    for (const std::string& line : {std::string("../beside.txt"), elsewhere, std::string("sub/inner.txt"),
                                    std::string(), std::string("bad\tname")})
        EXPECT_TRUE(Owner.Logged("Refused the line \"" + line + "\"")) << line;
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"Uninstall complete."});
}

TEST_F(Uninstall, StageTwoRefusesAnUnsoundFolderAndIgnoresAFolderWithoutList) {
    MakeInstall();
    auto before = qntest::TreeSnapshot(Root.Path(), {Root / "cache", Root / "owner"});
    const std::string sneaky = Root / "prefix/lib/quennick/x/../brevanta";
    for (const std::string& given : {std::string(), std::string("prefix/lib/quennick/brevanta"),
                                     std::string("/"), sneaky}) {
        Host = TScriptedHost();
        Owner.ClearMessages();
        Run({given, "-uninstallFinalize"});
        EXPECT_TRUE(Owner.Logged("Uninstall refused for the folder \"" + given + "\"")) << given;
        EXPECT_TRUE(Host.Messages.empty());
    }
    // A folder without UninstallInfo.txt: nothing deleted, nothing said.
    fs::remove(D + "/UninstallInfo.txt");
    before.erase("/prefix/lib/quennick/brevanta/UninstallInfo.txt");
    Host = TScriptedHost();
    Finalize();
    EXPECT_TRUE(Host.Messages.empty());
    EXPECT_EQ(qntest::TreeSnapshot(Root.Path(), {Root / "cache", Root / "owner"}), before);
}

// A helper program started from a copy inside the installation folder, and one of the
// same name elsewhere.
class UninstallInUse : public Uninstall {
protected:
    void SetUp() override {
        Uninstall::SetUp();
        MakeInstall({"helper", "later.txt"});
        qntest::WriteFile(D + "/later.txt", "later");
        fs::copy_file("/bin/sleep", D + "/helper");
        fs::create_directories(Root / "elsewhere");
        fs::copy_file("/bin/sleep", Root / "elsewhere/helper");
        Inside = std::make_unique<TChildProcess>(std::vector<std::string>{D + "/helper", "120"});
        Other = std::make_unique<TChildProcess>(std::vector<std::string>{Root / "elsewhere/helper", "120"});
        // Both have started their programs.
        ASSERT_TRUE(qntest::WaitFor([&] {
            return fs::read_symlink("/proc/" + std::to_string(Inside->Pid()) + "/exe", Ec) == D + "/helper" &&
                   fs::read_symlink("/proc/" + std::to_string(Other->Pid()) + "/exe", Ec) ==
                       Root / "elsewhere/helper";
        }));
    }
    std::error_code Ec;
    std::unique_ptr<TChildProcess> Inside, Other;
};

TEST_F(UninstallInUse, YesEndsOnlyTheProgramRunningFromTheInstallation) {
    Host.Replies.push_back({TMsgDlgBtn::mbYes, {}});
    Finalize();
    EXPECT_EQ(Host.Questions, std::vector<std::string>{D + "/helper" + InUseQuestionTail});
    EXPECT_EQ(Inside->Wait(), std::optional<int>(128 + SIGTERM));
    EXPECT_TRUE(Other->Running());
    EXPECT_FALSE(Exists(D));
    EXPECT_FALSE(Exists(MenuEntriesFolder()));
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"Uninstall complete."});
}

TEST_F(UninstallInUse, RetryAfterTheUserEndedTheProgramGoesOn) {
    Host.Replies.push_back({TMsgDlgBtn::mbRetry, [&] {
                                Inside->Signal(SIGINT);
                                Inside->Wait();
                            }});
    Finalize();
    EXPECT_EQ(Host.Questions.size(), 1u);
    EXPECT_FALSE(Exists(D));
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"Uninstall complete."});
}

TEST_F(UninstallInUse, NoOrCancelKeepsTheFileAndAllLaterOnesAndTheEntries) {
    for (TMsgDlgBtn answer : {TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel}) {
        Host = TScriptedHost();
        Host.Replies.push_back({answer, {}});
        Finalize();
        EXPECT_EQ(Host.Questions.size(), 1u);
        // The files listed before the busy one are gone; it and the later ones stay.
        EXPECT_EQ(qntest::SortedNames(D), (std::vector<std::string>{"UninstallInfo.txt", "helper", "later.txt"}));
        EXPECT_EQ(qntest::SortedNames(MenuEntriesFolder()),
                  (std::vector<std::string>{"Brevanta.desktop", "Uninstall.desktop"}));
        EXPECT_TRUE(Host.Messages.empty());
        EXPECT_TRUE(Inside->Running());
    }
}

// The real install step into a private prefix, then the second stage over it.
TEST_F(Uninstall, InstallPlacesExactlyTheListedFilesAndTheUninstallRemovesThem) {
    const std::string prefix = Root / "pre fix";
    fs::create_directories(prefix);
    qntest::WriteFile(prefix + "/keep.txt", "the user's");
    TChildProcess install({QN_CMAKE, "--install", QN_BINARY_DIR, "--prefix", prefix}, {}, Root.Path(),
                          Root / "install.txt");
    ASSERT_EQ(install.Wait(std::chrono::seconds(120)), std::optional<int>(0)) << qntest::ReadFile(Root / "install.txt");
    D = prefix + "/lib/quennick/brevanta";

    TQNMemIniFile list(D + "/UninstallInfo.txt");
    std::vector<std::string> listed = list.GetSection("Files").ToVector();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(qntest::SortedNames(D), listed);
    for (const char* f : {"brevanta", "quennick-suite", "UninstallInfo.txt", "brevanta.png"})
        EXPECT_NE(std::find(listed.begin(), listed.end(), f), listed.end()) << f;
    for (const char* program : {"brevanta", "quennick-suite"})
        EXPECT_EQ(::access((D + "/" + program).c_str(), X_OK), 0) << program;
    // Nothing beside the installation folder.
    EXPECT_EQ(qntest::SortedNames(prefix), (std::vector<std::string>{"keep.txt", "lib"}));
    EXPECT_EQ(qntest::SortedNames(prefix + "/lib"), std::vector<std::string>{"quennick"});
    EXPECT_EQ(qntest::SortedNames(prefix + "/lib/quennick"), std::vector<std::string>{"brevanta"});

    CreateShortcuts(D);  // what the program does at every start
    auto outside = Outside();
    Finalize();
    EXPECT_FALSE(Exists(prefix + "/lib/quennick"));
    EXPECT_FALSE(Exists(MenuEntriesFolder()));
    EXPECT_EQ(qntest::SortedNames(prefix), (std::vector<std::string>{"keep.txt", "lib"}));
    EXPECT_EQ(Outside(), outside);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"Uninstall complete."});
}

}  // namespace
