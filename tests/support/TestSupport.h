// Small helpers shared by the test executables.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qntest {

// A fresh folder, removed with everything in it when the object goes.
class TTempDir {
public:
    explicit TTempDir(const std::string& prefix = "qn") {
        std::string base = std::filesystem::temp_directory_path().string();
        std::string tmpl = base + "/" + prefix + "-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        FPath = buf.data();
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& rel) const { return FPath + "/" + rel; }

private:
    std::string FPath;
};

// Waits until Condition holds, polling; false when Bound passes first. Bounds are generous:
// they only stop a broken test from hanging.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds bound = std::chrono::seconds(30)) {
    auto until = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Whether files without a name (O_TMPFILE) can be made in Folder. Where they cannot, copies
// are written under a temporary name beside their target instead.
inline bool UnnamedFilesSupported(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

// Sets an environment variable for the life of the object.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::string& value) : FName(name) {
        if (const char* old = std::getenv(name)) FOld = old, FHad = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~TScopedEnv() {
        if (FHad) ::setenv(FName.c_str(), FOld.c_str(), 1);
        else ::unsetenv(FName.c_str());
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string FName, FOld;
    bool FHad = false;
};

// Lowers the file-size limit of the process while alive, so that a write beyond it fails
// half-way with EFBIG (the signal that would end the process is ignored).
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &FOld);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = FOld;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit FOld{};
    void (*FOldHandler)(int);
};

}  // namespace qntest
