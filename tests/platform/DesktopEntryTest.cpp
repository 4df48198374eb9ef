// The shortcut writer: desktop entries as desktop-file-validate and a real launcher (gio)
// read them.
#include "platform/DesktopEntry.h"

#include "support/ChildProcess.h"
#include "support/DesktopExec.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using qntest::TChildProcess;
using qntest::TScopedEnv;
using qntest::TTempDir;

namespace {

// Runs desktop-file-validate; its output (empty when the entry is clean).
std::string Validate(const TTempDir& dir, const std::string& file) {
    TChildProcess p({"/usr/bin/desktop-file-validate", file}, {}, dir.Path(), dir / "validate.txt");
    auto code = p.Wait();
    std::string out = qntest::ReadFile(dir / "validate.txt");
    if (code != std::optional<int>(0)) out += "\n(exit code " + std::to_string(code.value_or(-1)) + ")";
    return out;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class DesktopEntry : public ::testing::Test {
protected:
    TTempDir Dir{"desktop"};
    TScopedEnv Data{"XDG_DATA_HOME", Dir / "data"};
};

TEST(ExecLine, QuotesAndEscapesByTheDesktopEntryRules) {
    struct Case {
        std::string Target;
        std::vector<std::string> Args;
        std::string InFile;  // the Exec value as it stands in the file
    };
    const Case cases[] = {
        {"/opt/quennick/brevanta", {}, "/opt/quennick/brevanta"},
        {"/home/u/my apps/brevanta", {"/UninstallApp"}, R"("/home/u/my apps/brevanta" /UninstallApp)"},
        {R"(/a"b/brevanta)", {}, R"("/a\\"b/brevanta")"},
        {"/a$b/brevanta", {}, R"("/a\\$b/brevanta")"},
        {"/a`b/brevanta", {}, R"("/a\\`b/brevanta")"},
        {R"(/a\b/brevanta)", {}, R"("/a\\\\b/brevanta")"},
        {"/100%/brevanta", {}, "/100%%/brevanta"},
        {"/my 100%/brevanta", {"50%"}, R"("/my 100%%/brevanta" 50%%)"},
        {"/x", {"", "it's", "a;b", "~", "#1"}, R"(/x "" "it's" "a;b" "~" "#1")"},
        {"/x", {"$HOME", "%f"}, R"(/x "\\$HOME" %%f)"},
    };
    for (const Case& c : cases) {
        std::string line = ExecLine(c.Target, c.Args);
        EXPECT_EQ(line, c.InFile) << c.Target;
        // A reader of the format gets the same command back.
        std::vector<std::string> want{c.Target};
        want.insert(want.end(), c.Args.begin(), c.Args.end());
        EXPECT_EQ(qntest::SplitExec(qntest::UnescapeDesktopValue(line)), want) << line;
    }
}

TEST_F(DesktopEntry, EntriesForAwkwardPathsValidate) {
    const std::string targets[] = {"/opt/quennick/brevanta", "/home/u/my apps/brevanta",
                                   R"(/a "quoted" b/brevanta)", "/100% sure/brevanta",
                                   "/$HOME/`x`/brevanta", R"(/back\slash/brevanta)",
                                   "/ blank first/brevanta"};
    std::filesystem::create_directories(Dir / "data/applications");
    int n = 0;
    for (const std::string& target : targets) {
        TPBShellLink link;
        link.Name = n % 2 ? " Brevanta" : "Brevanta";
        link.Target = target;
        link.Arguments = {"/UninstallApp"};
        link.WorkingDir = target.substr(0, target.rfind('/'));
        link.IconFile = link.WorkingDir + "/brevanta.png";
        link.Description = n % 2 ? R"(Routes sound \ between devices)" : "";
        link.SetFileName(Dir / ("data/applications/e" + std::to_string(n++) + ".desktop"));
        link.Save();
        EXPECT_EQ(Validate(Dir, link.FileName()), "") << target;
        auto keys = qntest::ReadDesktopEntry(link.FileName());
        EXPECT_EQ(keys["Type"], "Application");
        EXPECT_EQ(keys["Name"], link.Name);
        EXPECT_EQ(keys["Path"], link.WorkingDir);
        EXPECT_EQ(keys["Icon"], link.IconFile);
        EXPECT_EQ(keys["Terminal"], "false");
        EXPECT_EQ(keys["Categories"], "AudioVideo;Audio;");
        EXPECT_EQ(keys.count("Comment"), link.Description.empty() ? 0u : 1u);
        if (!link.Description.empty()) {
            EXPECT_EQ(keys["Comment"], link.Description);
        }
        EXPECT_EQ(qntest::SplitExec(keys["Exec"]), (std::vector<std::string>{target, "/UninstallApp"}))
            << keys["Exec"];
    }
}

TEST_F(DesktopEntry, ARealLauncherStartsTheTargetWithItsArgumentsInItsFolder) {
    // gio reads the entry as the desktop's menus do. (It looks the program up before it
    // expands "%%", so the "%" goes into an argument here rather than into the path.)
    const std::string folder = Dir / R"(my "apps" $HOME `x` \ here)";
    std::filesystem::create_directories(folder);
    const std::string out = Dir / "out.txt";
    const std::string program = folder + "/brevanta";
    qntest::WriteFile(program, "#!/bin/sh\n{ printf '%s\\n' \"$0\" \"$@\"; pwd; } > '" + out +
                                   ".part' && mv '" + out + ".part' '" + out + "'\n");
    ::chmod(program.c_str(), 0755);
    TPBShellLink link;
    link.Name = "Brevanta";
    link.Target = program;
    link.Arguments = {"/UninstallApp", "100% sure", "$HOME", "it's (1)"};
    link.WorkingDir = folder;
    link.SetFileName(Dir / "Brevanta.desktop");
    link.Save();
    ASSERT_EQ(Validate(Dir, link.FileName()), "");

    TChildProcess gio({"/usr/bin/gio", "launch", link.FileName()}, {}, Dir.Path(), Dir / "gio.txt");
    ASSERT_EQ(gio.Wait(), std::optional<int>(0)) << qntest::ReadFile(Dir / "gio.txt");
    ASSERT_TRUE(qntest::WaitFor([&] { return std::filesystem::exists(out); }));
    EXPECT_EQ(qntest::ReadFile(out),
              program + "\n/UninstallApp\n100% sure\n$HOME\nit's (1)\n" + folder + "\n");
}

TEST_F(DesktopEntry, LinkNamesAndTheProgramsFolder) {
    struct Case {
        const char* Given;
        const char* Kept;
    };
    const Case cases[] = {{"Brevanta", "Brevanta.desktop"}, {"Uninstall.desktop", "Uninstall.desktop"},
                          {".desktop", ""},                 {"", ""},
                          {"a.lnk", "a.lnk.desktop"}};
    for (const Case& c : cases) {
        TPBShellLink link;
        link.SetLinkFileName(c.Given);
        EXPECT_EQ(link.LinkFileName(), c.Kept) << c.Given;
    }

    TPBShellLink link;
    link.SetLinkFileName("Brevanta");
    EXPECT_EQ(link.FileName(), "");  // no folder chosen yet
    link.SetShellFolder(TShellFolder::sfPrograms);
    EXPECT_EQ(link.LinkPath(), Dir / "data/applications/");
    EXPECT_EQ(link.FileName(), Dir / "data/applications/Brevanta.desktop");
    // Back to no folder: a file name set directly stands.
    link.SetShellFolder(TShellFolder::sfNone);
    link.SetFileName(Dir / "x.desktop");
    EXPECT_EQ(link.FileName(), Dir / "x.desktop");
    link.SetUserFolder(TUserFolder::ufCurrentUser);
    EXPECT_EQ(link.FileName(), Dir / "x.desktop");
}

TEST_F(DesktopEntry, SavingTwiceLeavesOneWholeEntry) {
    std::filesystem::create_directories(Dir / "menu");
    TPBShellLink link;
    link.Name = "Brevanta";
    link.Target = "/opt/q/brevanta";
    link.SetFileName(Dir / "menu/Brevanta.desktop");
    link.Save();
    link.Target = "/opt/r/brevanta";
    link.Save();
    EXPECT_EQ(FilesIn(Dir / "menu"), std::vector<std::string>{"Brevanta.desktop"});
    EXPECT_EQ(qntest::ReadDesktopEntry(link.FileName())["Exec"], "/opt/r/brevanta");
}

TEST_F(DesktopEntry, BadValuesAndWriteErrorsRaiseAndWriteNothing) {
    std::filesystem::create_directories(Dir / "menu");
    const std::string file = Dir / "menu/Brevanta.desktop";
    qntest::WriteFile(file, "old");
    struct Case {
        std::string Target, Arg, Name, Folder;
        const char* Message;
    };
    const Case cases[] = {
        {"/opt/q/bre\nvanta", "", "Brevanta", "menu", "the target holds control characters"},
        {"/opt/q/brevanta", "a\tb", "Brevanta", "menu", "the argument holds control characters"},
        {"/opt/q/\xff\xfe", "", "Brevanta", "menu", "the target is not valid UTF-8"},
        {"/opt/q/\xc0\xaf", "", "Brevanta", "menu", "the target is not valid UTF-8"},  // overlong "/"
        {"", "", "Brevanta", "menu", "it has no target"},
        {"/opt/q/brevanta", "", "Bre\x1bvanta", "menu", "the name holds control characters"},
        {"/opt/q/brevanta", "", "Brevanta", "missing", "Write error."},
    };
    for (const Case& c : cases) {
        TPBShellLink link;
        link.Name = c.Name;
        link.Target = c.Target;
        if (!c.Arg.empty()) link.Arguments = {c.Arg};
        link.SetFileName(Dir / (c.Folder + "/Brevanta.desktop"));
        try {
            link.Save();
            ADD_FAILURE() << "no error for " << c.Message;
        } catch (const EShellLinkError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
        }
        EXPECT_EQ(qntest::ReadFile(file), "old");
        EXPECT_EQ(FilesIn(Dir / "menu"), std::vector<std::string>{"Brevanta.desktop"});
    }
}

}  // namespace
