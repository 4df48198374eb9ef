// Byte streams that location operations read from and write to: files on the local file
// system and blocks of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to Count bytes at the current position; returns how many were read, 0 at
    // the end. Raises EFileError when the platform reports an error.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes all Count bytes or raises EFileError.
    virtual void Write(const void* buffer, size_t count) = 0;
    virtual int64_t Size() = 0;
    virtual int64_t Position() = 0;
    virtual void SetPosition(int64_t position) = 0;
    // Cuts or extends the stream to Size bytes; the position is kept within the stream.
    virtual void SetSize(int64_t size) = 0;

    // Reads until Count bytes are in Buffer or the stream ends; returns how many were read.
    size_t ReadFull(void* buffer, size_t count);
};

// A stream over an open file descriptor, which it owns.
class TFileStream : public TStream {
public:
    // Opens an existing regular file for reading; anything else (a folder, a FIFO, a
    // socket, a device) is refused with EFileError before a byte is read. A FIFO never
    // blocks the open.
    static std::unique_ptr<TFileStream> OpenRead(const std::string& path);
    // Takes over Fd, opened by the caller; Path only names it in messages.
    TFileStream(int fd, std::string path);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;
    int64_t Size() override;
    int64_t Position() override;
    void SetPosition(int64_t position) override;
    void SetSize(int64_t size) override;

    int Handle() const { return FFd; }
    const std::string& FileName() const { return FPath; }
    // Flushes the file's data to the disk.
    void Flush();
    // Closes the descriptor, raising EFileError when the close reports an error.
    void Close();

private:
    [[noreturn]] void Fail(const char* what, int err) const;
    int FFd;
    std::string FPath;
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string data) : FData(std::move(data)) {}

    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    int64_t Position() override { return FPos; }
    void SetPosition(int64_t position) override;
    void SetSize(int64_t size) override;

    const std::string& Data() const { return FData; }
    void Clear() { FData.clear(); FPos = 0; }

private:
    std::string FData;
    int64_t FPos = 0;
};

// Whether two regular files (or links to them) hold the same bytes. Anything else - a
// missing file, a folder, a pipe or device (never read: its reader could wait for ever),
// a read error - counts as different.
bool SameFileContents(const std::string& a, const std::string& b);
