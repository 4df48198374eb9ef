#include "app/AppMgr.h"
#include "platform/RegistryStore.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sys/stat.h>

using qntest::TScopedEnv;
using qntest::TTempDir;

namespace {

// A manager whose executable path, run-data root and clock the test chooses.
class TTestMgr : public TAppMgr {
public:
    static inline std::string Exe;
    static inline std::string Root;
    static inline TDateTime Clock = 40000.5;
    static inline int Installs = 0, Uninstalls = 0, Finalizes = 0;
    static void Reset() { Installs = Uninstalls = Finalizes = 0; }

protected:
    std::string ExePath() const override { return Exe; }
    std::string RunDataRoot() const override { return Root; }
    TDateTime CurrentTime() const override { return Clock; }
    void DoInstall() override { ++Installs; }
    void DoUninstallApp() override { ++Uninstalls; }
    void DoUninstallFinalize() override { ++Finalizes; }
};

class TFakeMemo : public ILogMemo {
public:
    TQNStringList L;
    int Top = -1;
    bool Fail = false;
    int LineCount() const override { return L.Count(); }
    void AddLine(const std::string& line) override {
        if (Fail) throw std::runtime_error("memo broken");
        L.Add(line);
    }
    TQNStringList Lines() const override { return L; }
    void Clear() override { L.Clear(); }
    int VisibleLineCount() const override { return 10; }
    void SetTopLine(int line) override { Top = line; }
};

class TFakeStatus : public IStatusControl {
public:
    std::string Text;
    bool Fail = false;
    void SetStatusText(const std::string& text) override {
        if (Fail) throw std::runtime_error("gone");
        Text = text;
    }
};

class TFakeWindow : public IToolWindow {
public:
    TFakeStatus Status;
    TFakeMemo Memo;
    IStatusControl* StatusControl() override { return &Status; }
    ILogMemo* LogMemo() override { return &Memo; }
};

class TFakeHost : public IAppHost {
public:
    int Terminated = 0;
    TCursor Cursor = TCursor::crDefault;
    std::vector<std::string> Messages;
    bool Hints = false, HeapVisible = false;
    TFakeWindow* Window = nullptr;
    void Terminate() override { ++Terminated; }
    TCursor ScreenCursor() const override { return Cursor; }
    void SetScreenCursor(TCursor c) override { Cursor = c; }
    void ShowMessage(const std::string& t) override {
        Messages.push_back(t);
        CursorDuringMessage = Cursor;
        if (FailMessage) throw std::runtime_error("no box");
    }
    TCursor CursorDuringMessage = TCursor::crArrow;
    bool FailMessage = false;
    void SetShowHints(bool on) override { Hints = on; }
    bool HeapMonitorVisible() const override { return HeapVisible; }
    IToolWindow* ActiveToolWindow() override { return Window; }
};

class AppMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        TTestMgr::Reset();
        std::filesystem::create_directories(Dir / "bin");
        TTestMgr::Exe = Dir / "bin/brevanta";
        TTestMgr::Root = Dir / "cache";
        LogOptions() = TLogOptions();
        VerboseLog = false;
    }
    std::unique_ptr<TTestMgr> Make(std::vector<std::string> params) {
        params.insert(params.begin(), "/somewhere/brevanta");
        return TAppMgr::Create<TTestMgr>(params, &Host);
    }
    TTempDir Dir;
    TFakeHost Host;
    TScopedEnv State{"XDG_STATE_HOME", Dir / "state"};
};

TEST(HasSwitch, MatchesPrefixedNamesIgnoringCase) {
    struct Case {
        const char* param;
        bool hit;
    };
    const Case cases[] = {
        {"-uninstallapp", true}, {"/UninstallApp", true}, {"\\UNINSTALLAPP", true},
        {"UninstallApp", false}, {"/UninstallAppx", false}, {"//UninstallApp", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HasSwitch({"x", c.param}, "UninstallApp"), c.hit) << c.param;
}

TEST_F(AppMgrTest, CommandLineAndFolders) {
    auto mgr = Make({"a b", "-x"});
    EXPECT_EQ(mgr->FAppDir, Dir / "bin");
    EXPECT_EQ(mgr->FExeName, "brevanta");
    EXPECT_EQ(mgr->FParams.ToVector(), (std::vector<std::string>{"a b", "-x"}));
    EXPECT_FALSE(mgr->LogOpen());
    EXPECT_TRUE(Host.Hints);
    EXPECT_EQ(AppMgr, mgr.get());
    EXPECT_EQ(TTestMgr::Uninstalls + TTestMgr::Finalizes + TTestMgr::Installs, 0);
}

TEST_F(AppMgrTest, UninstallStagesAndInstallFolderRule) {
    Make({"-uninstallapp"});
    EXPECT_EQ(TTestMgr::Uninstalls, 1);
    Make({"\\UNINSTALLFINALIZE"});
    EXPECT_EQ(TTestMgr::Finalizes, 1);

    struct Case {
        const char* folder;
        int installs;
    };
    const Case cases[] = {{"Setup Install", 1}, {"Uninstall", 0}, {"tools", 0}};
    for (const auto& c : cases) {
        TTestMgr::Reset();
        std::filesystem::create_directories(Dir / c.folder);
        TTestMgr::Exe = Dir / (std::string(c.folder) + "/brevanta");
        Make({});
        EXPECT_EQ(TTestMgr::Installs, c.installs) << c.folder;
    }
}

TEST_F(AppMgrTest, DebugSwitchOpensAFreshLog) {
    qntest::WriteFile(Dir / "bin/log.txt", "old run\n");
    for (const char* p : {"-debug", "/debugx", "debug"}) {
        auto mgr = Make({p});
        EXPECT_FALSE(mgr->LogOpen()) << p;
        EXPECT_FALSE(mgr->LogToFile("x"));
    }
    EXPECT_EQ(qntest::ReadFile(Dir / "bin/log.txt"), "old run\n");

    auto mgr = Make({"/DEBUG"});
    ASSERT_TRUE(mgr->LogOpen());
    EXPECT_EQ(mgr->FLogPath, Dir / "bin/log.txt");
    EXPECT_TRUE(mgr->LogToFile("hello"));
    std::string log = qntest::ReadFile(Dir / "bin/log.txt");
    EXPECT_EQ(log.find("old run"), std::string::npos);
    // "MM/dd/yyyy hh:mm:ss tt: text", whatever the C locale says.
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M: hello\n$)")))
        << log;
}

TEST_F(AppMgrTest, LogFallsBackWhenTheProgramFolderIsNotWritable) {
    // A program folder below a regular file cannot hold log.txt, even for root.
    qntest::WriteFile(Dir / "file", "");
    TTestMgr::Exe = Dir / "file/bin/brevanta";
    auto mgr = Make({"/debug"});
    ASSERT_TRUE(mgr->LogOpen());
    EXPECT_EQ(mgr->FLogPath, Dir / "state/Quennick/log.txt");
    mgr->LogToFile("second line");
    EXPECT_NE(qntest::ReadFile(mgr->FLogPath).find("second line"), std::string::npos);
}

TEST_F(AppMgrTest, FullDiskNeverThrowsFromLogging) {
    std::filesystem::create_symlink("/dev/full", Dir / "bin/log.txt");
    auto mgr = Make({"/debug"});
    ASSERT_TRUE(mgr->LogOpen());
    EXPECT_NO_THROW(for (int i = 0; i < 100; ++i) mgr->LogToFile(std::string(1000, 'x')));
    TFakeMemo memo;
    EXPECT_NO_THROW(mgr->LogToMemo(&memo, "still logs", llProgress));
    EXPECT_EQ(memo.L.Count(), 1);
}

TEST_F(AppMgrTest, RunDataDirIsPrivateAndNeverShared) {
    auto a = Make({});
    auto b = Make({});  // same millisecond on the test clock
    EXPECT_NE(a->FRunDataDir, b->FRunDataDir);
    for (auto* m : {a.get(), b.get()}) {
        ASSERT_EQ(m->FRunDataDir.back(), '/');
        struct stat st {};
        ASSERT_EQ(::stat(m->FRunDataDir.c_str(), &st), 0) << m->FRunDataDir;
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(m->FRunDataDir.find(Dir / "cache/"), 0u);
    }
    // Day 40000.5 is 2009-07-06 12:00:00.000.
    EXPECT_EQ(a->FRunDataDir, Dir / "cache/20090706120000000/");
    EXPECT_EQ(b->FRunDataDir, Dir / "cache/20090706120000000-1/");
    std::string made = a->FRunDataDir;
    a.reset();
    EXPECT_FALSE(std::filesystem::exists(made)) << "an empty run folder is removed at the end";
}

TEST_F(AppMgrTest, NestedCursorsReturnTheirOwnTimes) {
    auto mgr = Make({});
    TTestMgr::Clock = 1.0;
    mgr->PushCursor(TCursor::crHourGlass);
    TTestMgr::Clock = 2.0;
    mgr->PushCursor(TCursor::crHourGlassPointer);
    EXPECT_EQ(Host.Cursor, TCursor::crHourGlassPointer);
    TTestMgr::Clock = 2.5;
    EXPECT_DOUBLE_EQ(mgr->PopCursor(), 0.5);
    EXPECT_EQ(Host.Cursor, TCursor::crHourGlass);
    TTestMgr::Clock = 4.0;
    EXPECT_DOUBLE_EQ(mgr->PopCursor(), 3.0);
    EXPECT_EQ(Host.Cursor, TCursor::crDefault);
    // A pop on an empty stack does nothing.
    Host.Cursor = TCursor::crArrow;
    EXPECT_EQ(mgr->PopCursor(), 0.0);
    EXPECT_EQ(Host.Cursor, TCursor::crArrow);
}

TEST_F(AppMgrTest, MessagesShowTheNormalCursorAndRestoreIt) {
    auto mgr = Make({});
    mgr->PushCursor(TCursor::crHourGlass);
    mgr->ShowMessageNormal("Done.");
    EXPECT_EQ(Host.CursorDuringMessage, TCursor::crDefault);
    EXPECT_EQ(Host.Cursor, TCursor::crHourGlass);
    Host.FailMessage = true;
    EXPECT_THROW(mgr->ShowMessageNormal("x"), std::runtime_error);
    EXPECT_EQ(Host.Cursor, TCursor::crHourGlass);
    EXPECT_EQ(mgr->CursorDepth(), 1u);
}

TEST_F(AppMgrTest, MemoLevelsAndSwitches) {
    auto mgr = Make({});
    struct Case {
        int level;
        bool disabled, verbose, heapVisible;
        bool logged;
    };
    const Case cases[] = {
        {0, false, false, false, false}, {1, false, false, false, true},
        {6, false, false, false, true},  {7, false, false, false, false},
        {9, false, false, false, false}, {7, false, true, false, true},
        {4, true, true, false, false},   {4, false, false, true, false},
    };
    for (const auto& c : cases) {
        TFakeMemo memo;
        LogOptions().Disabled = c.disabled;
        VerboseLog = c.verbose;
        Host.HeapVisible = c.heapVisible;
        mgr->LogToMemo(&memo, "text", c.level);
        EXPECT_EQ(memo.L.Count(), c.logged ? 1 : 0) << "level " << c.level;
        if (c.logged) {
            EXPECT_TRUE(std::regex_match(memo.L[0], std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d: text)")))
                << memo.L[0];
            EXPECT_EQ(memo.Top, 1 - 10 + 2);
        }
    }
    TFakeMemo broken;
    broken.Fail = true;
    VerboseLog = false;
    Host.HeapVisible = false;
    LogOptions().Disabled = false;
    EXPECT_NO_THROW(mgr->LogToMemo(&broken, "x", llError));
}

TEST_F(AppMgrTest, MemoRollsOverIntoADatedLogFile) {
    auto mgr = Make({});
    std::string name = Dir / "logs/Sync.log.txt";
    std::filesystem::create_directories(Dir / "logs");
    qntest::WriteFile(name, "");
    LogOptions().LogFileName = name;
    LogOptions().MaxLines = 3;
    TFakeMemo memo;
    for (const char* t : {"one", "two", "three"}) mgr->LogToMemo(&memo, t, llProgress);
    ASSERT_EQ(memo.L.Count(), 1);
    const std::string prefix = "Log saved to file ";
    ASSERT_EQ(memo.L[0].rfind(prefix, 0), 0u) << memo.L[0];
    std::string target = memo.L[0].substr(prefix.size());
    EXPECT_TRUE(std::regex_match(target, std::regex(Dir / "logs/Sync\\d{14}\\.log"))) << target;
    TQNStringList saved;
    saved.LoadFromFile(target);
    ASSERT_EQ(saved.Count(), 3);
    EXPECT_NE(saved[2].find(": three"), std::string::npos);
}

TEST_F(AppMgrTest, HintsFeedStatusAndHelpAddress) {
    auto mgr = Make({});
    TFakeWindow window;
    Host.Window = &window;
    struct Case {
        const char* hint;
        const char* status;
        const char* url;
    };
    const Case cases[] = {
        {"http://example.test/v|Drop here.", "Drop here.  F1 for video help.", "http://example.test/v"},
        {"Short|Long text", "Long text", ""},
        {"no bar at all", "no bar at all", ""},
        {"a|line one\r\nline two", "line one  line two", ""},
        {"http://example.test/only", "http://example.test/only  F1 for video help.", "http://example.test/only"},
    };
    for (const auto& c : cases) {
        mgr->FHelpURL = "stale";
        mgr->HandleHint(c.hint);
        EXPECT_EQ(window.Status.Text, c.status) << c.hint;
        EXPECT_EQ(mgr->FHelpURL, c.url) << c.hint;
    }
    EXPECT_EQ(window.Memo.L.Count(), 0);

    VerboseLog = true;
    mgr->HandleHint("S|L");
    ASSERT_EQ(window.Memo.L.Count(), 3);
    EXPECT_NE(window.Memo.L[2].find("LontHint=L"), std::string::npos);

    window.Status.Fail = true;
    mgr->HandleHint("x");
    EXPECT_EQ(Host.Messages, (std::vector<std::string>{"Hint problem."}));
}

TEST_F(AppMgrTest, ServiceSimulationReadsTheDefaultUsersSettings) {
    TScopedEnv config("XDG_CONFIG_HOME", Dir / "config");
    TRegistryIniFile(TRegistryRoot::rrUsersDefault, "Software\\Quennick").WriteBool("", "DebugOn", true);
    struct Case {
        const char* param;
        bool verbose;
        const char* file;
    };
    const Case cases[] = {
        {"-x", false, "HKEY_CURRENT_USER.ini"},
        {"/svcsimulate", true, "HKEY_USERS.DEFAULT.ini"},
    };
    for (const auto& c : cases) {
        InitAppUnit({"brevanta", c.param});
        EXPECT_EQ(VerboseLog.load(), c.verbose) << c.param;
        auto* reg = dynamic_cast<TRegistryIniFile*>(&RegistrySettings());
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(reg->StorePath(), Dir / "config/Quennick/" + c.file);
    }
    InitAppUnit({"brevanta"});
}

TEST_F(AppMgrTest, CloseApplicationEndsTheLoopOnce) {
    auto mgr = Make({});
    EXPECT_FALSE(mgr->FClosing);
    CloseApplication(mgr.get());
    EXPECT_TRUE(mgr->FClosing);
    EXPECT_EQ(Host.Terminated, 1);
    CloseApplication(nullptr);  // harmless
}

}  // namespace
