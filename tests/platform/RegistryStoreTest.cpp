#include "platform/RegistryStore.h"

#include "common/SafeFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const Key = "Software\\Quennick";

// Every test gets a fresh, not yet existing $XDG_CONFIG_HOME.
class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qnreg.XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        FTemp = tmpl;
        FConfig = FTemp + "/config";
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr) FOldConfig = old;
        FHadConfig = old != nullptr;
        ::setenv("XDG_CONFIG_HOME", FConfig.c_str(), 1);
    }
    void TearDown() override {
        if (FHadConfig) ::setenv("XDG_CONFIG_HOME", FOldConfig.c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
        std::error_code ec;
        fs::remove_all(FTemp, ec);
    }
    std::string Folder() const { return FConfig + "/Quennick"; }

    std::string FTemp, FConfig, FOldConfig;
    bool FHadConfig = false;
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

std::vector<std::string> Lines(const TQNStringList& l) { return l.ToVector(); }

TEST_F(RegistryStore, FolderAppearsWithTheFirstWriteOnly) {
    TRegistryIniFile reg(TRegistryRoot::rrCurrentUser, Key);
    EXPECT_EQ(reg.StorePath(), Folder() + "/HKEY_CURRENT_USER.ini");
    EXPECT_FALSE(reg.ReadBool("", "DebugOn", false));
    reg.DeleteKey("", "DebugOn");
    reg.EraseSection("FindFiles");
    EXPECT_FALSE(fs::exists(FConfig));

    reg.WriteBool("", "DebugOn", true);
    EXPECT_EQ(ModeOf(FConfig), 0700u);
    EXPECT_EQ(ModeOf(Folder()), 0700u);
    EXPECT_EQ(ReadFileBytes(reg.StorePath()), "[Software\\Quennick]\r\nDebugOn=1\r\n\r\n");
    EXPECT_TRUE(reg.ReadBool("", "DebugOn", false));
}

TEST_F(RegistryStore, PersistsAcrossInstancesAndRootsUseDifferentFiles) {
    {
        TRegistryIniFile user(TRegistryRoot::rrCurrentUser, Key);
        user.WriteString("File Mirrowyn", "LastFile", "/home/me/docs/backup.fmw");
        user.WriteInteger("TextDiff\\Options", "Bounds.Width", 640);
        TRegistryIniFile service(TRegistryRoot::rrUsersDefault, Key);
        service.WriteBool("", "DebugOn", true);
    }
    TRegistryIniFile user(TRegistryRoot::rrCurrentUser, Key);
    TRegistryIniFile service(TRegistryRoot::rrUsersDefault, Key);
    EXPECT_NE(user.StorePath(), service.StorePath());
    EXPECT_EQ(service.StorePath(), Folder() + "/HKEY_USERS.DEFAULT.ini");
    EXPECT_EQ(user.ReadString("file mirrowyn", "lastfile", ""), "/home/me/docs/backup.fmw");
    EXPECT_EQ(user.ReadInteger("TextDiff\\Options", "Bounds.Width", -1), 640);
    EXPECT_FALSE(user.ReadBool("", "DebugOn", false));
    EXPECT_TRUE(service.ReadBool("", "DebugOn", false));
    EXPECT_EQ(service.ReadString("File Mirrowyn", "LastFile", "none"), "none");
    // Another key path of the same root shares the file.
    TRegistryIniFile textDiff(TRegistryRoot::rrCurrentUser, "software\\QUENNICK\\TextDiff\\");
    EXPECT_EQ(textDiff.KeyPath(), "software\\QUENNICK\\TextDiff");
    EXPECT_EQ(textDiff.ReadInteger("Options", "Bounds.Width", -1), 640);
}

TEST_F(RegistryStore, SubkeysAreSections) {
    TRegistryIniFile reg(TRegistryRoot::rrCurrentUser, Key);
    reg.WriteString("", "DebugOn", "0");
    reg.WriteString("FindFiles", "LastDir", "/home/me");
    reg.WriteString("FindFiles\\FTP\\ftp.example.org:anna", "Server", "ftp.example.org");
    reg.WriteString("FindFiles\\FTP\\ftp.example.org:anna", "UserName", "anna");
    reg.WriteString("FindFiles\\FTP\\127.0.0.1:bob", "Server", "127.0.0.1");
    reg.WriteString("TextDiff\\Options", "Font.name", "Arial");

    TQNStringList names;
    reg.ReadSections(names);
    EXPECT_EQ(Lines(names), (std::vector<std::string>{"FindFiles", "TextDiff"}));
    TRegistryIniFile ftp(TRegistryRoot::rrCurrentUser, "Software\\Quennick\\FindFiles\\FTP\\");
    ftp.ReadSections(names);
    EXPECT_EQ(Lines(names), (std::vector<std::string>{"127.0.0.1:bob", "ftp.example.org:anna"}));
    ftp.ReadSection("ftp.example.org:anna", names);
    EXPECT_EQ(Lines(names), (std::vector<std::string>{"Server", "UserName"}));
    ftp.ReadSectionValues("FTP.EXAMPLE.ORG:ANNA", names);
    EXPECT_EQ(Lines(names), (std::vector<std::string>{"Server=ftp.example.org", "UserName=anna"}));

    EXPECT_TRUE(reg.SectionExists("TextDiff"));  // holds only a subkey
    EXPECT_TRUE(reg.SectionExists("findfiles\\ftp"));
    EXPECT_FALSE(reg.SectionExists("Find"));
    EXPECT_FALSE(ftp.SectionExists("nobody"));

    reg.EraseSection("FindFiles");  // the whole subtree
    EXPECT_FALSE(ftp.SectionExists("127.0.0.1:bob"));
    EXPECT_EQ(reg.ReadString("FindFiles", "LastDir", "gone"), "gone");
    EXPECT_EQ(reg.ReadString("TextDiff\\Options", "Font.name", ""), "Arial");
    reg.EraseSection("");  // only the key's own values
    EXPECT_EQ(reg.ReadString("", "DebugOn", "gone"), "gone");
    EXPECT_EQ(reg.ReadString("TextDiff\\Options", "Font.name", ""), "Arial");
    reg.DeleteKey("TextDiff\\Options", "Font.name");
    EXPECT_EQ(reg.ReadString("TextDiff\\Options", "Font.name", "gone"), "gone");
}

TEST_F(RegistryStore, InstancesSeeEachOthersWrites) {
    TRegistryIniFile a(TRegistryRoot::rrCurrentUser, Key);
    TRegistryIniFile b(TRegistryRoot::rrCurrentUser, Key);
    EXPECT_EQ(a.ReadString("S", "x", ""), "");
    b.WriteString("S", "x", "from b");
    EXPECT_EQ(a.ReadString("S", "x", ""), "from b");
    a.WriteString("S", "y", "from a");  // does not undo b's write
    EXPECT_EQ(b.ReadString("S", "x", ""), "from b");
    EXPECT_EQ(b.ReadString("S", "y", ""), "from a");
}

TEST_F(RegistryStore, TwoProcessesNeitherLoseNorTearWrites) {
    constexpr int Writers = 2, Writes = 25;
    std::string path = Folder() + "/HKEY_CURRENT_USER.ini";
    TRegistryIniFile reg(TRegistryRoot::rrCurrentUser, Key);
    reg.WriteString("", "Start", std::string(20000, 's'));  // a file worth tearing
    pid_t pids[Writers];
    for (int w = 0; w < Writers; ++w) {
        pids[w] = ::fork();
        ASSERT_GE(pids[w], 0);
        if (pids[w] == 0) {
            int rc = 0;
            try {
                TRegistryIniFile child(TRegistryRoot::rrCurrentUser, Key);
                for (int n = 0; n < Writes; ++n)
                    child.WriteInteger("Writer" + std::to_string(w), "v" + std::to_string(n), n);
            } catch (...) {
                rc = 1;
            }
            ::_exit(rc);
        }
    }
    // While they write, every read sees a whole file.
    int running = Writers, reads = 0;
    while (running > 0) {
        std::string text = ReadFileBytes(path);
        ASSERT_EQ(text.substr(0, 19), "[Software\\Quennick]");
        ASSERT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
        ++reads;
        for (pid_t& pid : pids) {
            int status = 0;
            if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                pid = 0;
                --running;
            }
        }
    }
    EXPECT_GT(reads, 0);
    TRegistryIniFile after(TRegistryRoot::rrCurrentUser, Key);
    for (int w = 0; w < Writers; ++w)
        for (int n = 0; n < Writes; ++n)
            EXPECT_EQ(after.ReadInteger("Writer" + std::to_string(w), "v" + std::to_string(n), -1), n);
}

TEST_F(RegistryStore, FailedSaveKeepsFileAndValues) {
    TRegistryIniFile reg(TRegistryRoot::rrCurrentUser, Key);
    reg.WriteString("S", "kept", "1");
    std::string before = ReadFileBytes(reg.StorePath());
    {
        rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        auto handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old;
        lim.rlim_cur = 1024;
        setrlimit(RLIMIT_FSIZE, &lim);
        EXPECT_THROW(reg.WriteString("S", "big", std::string(100000, 'b')), EFileError);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
    }
    EXPECT_EQ(ReadFileBytes(reg.StorePath()), before);
    EXPECT_EQ(reg.ReadString("S", "big", "none"), "none");
    EXPECT_EQ(reg.ReadString("S", "kept", ""), "1");
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(Folder())) files.push_back(e.path().filename());
    EXPECT_EQ(files, (std::vector<std::string>{"HKEY_CURRENT_USER.ini"}));
}

TEST_F(RegistryStore, HandEditedAndHostileContent) {
    fs::create_directories(Folder());
    WriteFileAtomic(Folder() + "/HKEY_CURRENT_USER.ini",
                    std::string("\x01\xff junk before\n[software\\quennick]\nA=1\n"
                                "[Software\\Quennick]\nB=2\n"));
    TRegistryIniFile reg(TRegistryRoot::rrCurrentUser, Key);
    EXPECT_EQ(reg.ReadString("", "A", ""), "1");
    EXPECT_EQ(reg.ReadString("", "B", ""), "2");  // a repeated header joins the first

    reg.WriteString("", "Note", "x\r\n[Evil]\r\ny=1");
    EXPECT_EQ(reg.ReadString("", "Note", ""), "x\r\n[Evil]\r\ny=1");
    TFMWMemIniFile file(reg.StorePath());
    EXPECT_EQ(file.SectionCount(), 1);
    EXPECT_EQ(ReadFileBytes(reg.StorePath()),
              "[software\\quennick]\r\nA=1\r\nB=2\r\nNote=x\x05[Evil]\x05y=1\r\n\r\n");
}

}  // namespace
