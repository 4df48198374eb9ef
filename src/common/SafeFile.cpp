#include "common/SafeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string SysErrorMessage(int err) {
    char buf[256];
    // GNU strerror_r returns the message, which may or may not live in buf.
    return std::string(strerror_r(err, buf, sizeof buf));
}

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
    throw EFileError(what + " \"" + path + "\": " + SysErrorMessage(err), err);
}

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    int Release() {
        int fd = FFd;
        FFd = -1;
        return fd;
    }

private:
    int FFd;
};

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string ReadFileBytes(const std::string& path) {
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) Fail("Cannot open file", path, errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) Fail("Cannot read file", path, errno);
    if (!S_ISREG(st.st_mode)) Fail("Cannot read file", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    std::string data;
    data.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Cannot read file", path, errno);
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

void WriteFileAtomic(const std::string& path, std::string_view data) {
    std::string dir = DirOf(path);
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::string tmpl = (dir == "/" ? std::string() : dir) + "/." + name + ".tmpXXXXXX";
    std::vector<char> tmp(tmpl.begin(), tmpl.end());
    tmp.push_back('\0');
    TFd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (fd.Get() < 0) Fail("Cannot create file", path, errno);
    std::string tmpPath(tmp.data());
    auto fail = [&](const char* what) {
        int err = errno;
        ::unlink(tmpPath.c_str());
        Fail(what, path, err);
    };
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd.Get(), mode) != 0) fail("Cannot write file");
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd.Get(), data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Cannot write file");
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.Get()) != 0) fail("Cannot write file");
    if (::close(fd.Release()) != 0) fail("Cannot write file");
    if (::rename(tmpPath.c_str(), path.c_str()) != 0) fail("Cannot write file");
    // Make the rename itself durable.
    TFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0) ::fsync(dirFd.Get());
}
