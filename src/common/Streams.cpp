#include "common/Streams.h"

#include "common/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

size_t TStream::ReadFull(void* buffer, size_t count) {
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        size_t n = Read(p + done, count - done);
        if (n == 0) break;
        done += n;
    }
    return done;
}

// --- TFileStream ---------------------------------------------------------------------------

std::unique_ptr<TFileStream> TFileStream::OpenRead(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        throw EFileError("Cannot open file \"" + path + "\": " + SysErrorMessage(EINVAL), EINVAL);
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; the type check below
    // then refuses it.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        throw EFileError("Cannot open file \"" + path + "\": " + SysErrorMessage(err), err);
    }
    auto stream = std::make_unique<TFileStream>(fd, path);
    struct stat st {};
    if (::fstat(fd, &st) != 0) stream->Fail("Cannot open file", errno);
    if (!S_ISREG(st.st_mode)) stream->Fail("Cannot open file", S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return stream;
}

TFileStream::TFileStream(int fd, std::string path) : FFd(fd), FPath(std::move(path)) {}

TFileStream::~TFileStream() {
    if (FFd >= 0) ::close(FFd);
}

void TFileStream::Fail(const char* what, int err) const {
    throw EFileError(std::string(what) + " \"" + FPath + "\": " + SysErrorMessage(err), err);
}

size_t TFileStream::Read(void* buffer, size_t count) {
    for (;;) {
        ssize_t n = ::read(FFd, buffer, count);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) Fail("Cannot read file", errno);
    }
}

void TFileStream::Write(const void* buffer, size_t count) {
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(FFd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Cannot write file", errno);
        }
        done += static_cast<size_t>(n);
    }
}

int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(FFd, &st) != 0) Fail("Cannot read file", errno);
    return static_cast<int64_t>(st.st_size);
}

int64_t TFileStream::Position() {
    off_t pos = ::lseek(FFd, 0, SEEK_CUR);
    if (pos < 0) Fail("Cannot seek in file", errno);
    return static_cast<int64_t>(pos);
}

void TFileStream::SetPosition(int64_t position) {
    if (::lseek(FFd, static_cast<off_t>(position), SEEK_SET) < 0) Fail("Cannot seek in file", errno);
}

void TFileStream::SetSize(int64_t size) {
    if (::ftruncate(FFd, static_cast<off_t>(size)) != 0) Fail("Cannot write file", errno);
    if (Position() > size) SetPosition(size);
}

void TFileStream::Flush() {
    if (::fsync(FFd) != 0) Fail("Cannot write file", errno);
}

void TFileStream::Close() {
    if (FFd < 0) return;
    int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0) Fail("Cannot write file", errno);
}

// --- TMemoryStream -------------------------------------------------------------------------

size_t TMemoryStream::Read(void* buffer, size_t count) {
    if (FPos >= Size()) return 0;
    size_t n = std::min(count, FData.size() - static_cast<size_t>(FPos));
    std::memcpy(buffer, FData.data() + FPos, n);
    FPos += static_cast<int64_t>(n);
    return n;
}

void TMemoryStream::Write(const void* buffer, size_t count) {
    if (count == 0) return;
    size_t pos = static_cast<size_t>(FPos);
    if (pos + count > FData.size()) FData.resize(pos + count);
    std::memcpy(FData.data() + pos, buffer, count);
    FPos += static_cast<int64_t>(count);
}

void TMemoryStream::SetPosition(int64_t position) {
    FPos = std::clamp<int64_t>(position, 0, Size());
}

void TMemoryStream::SetSize(int64_t size) {
    FData.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    if (FPos > Size()) FPos = Size();
}

bool SameFileContents(const std::string& a, const std::string& b) {
    try {
        auto fa = TFileStream::OpenRead(a);
        auto fb = TFileStream::OpenRead(b);
        std::vector<char> ba(1 << 16), bb(1 << 16);
        for (;;) {
            const size_t na = fa->ReadFull(ba.data(), ba.size());
            const size_t nb = fb->ReadFull(bb.data(), bb.size());
            if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) return false;
            if (na == 0) return true;
        }
    } catch (const std::exception&) {
        return false;
    }
}
