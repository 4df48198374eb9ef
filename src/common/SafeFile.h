// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

class EFileError : public std::runtime_error {
public:
    EFileError(const std::string& message, int errorCode)
        : std::runtime_error(message), FErrorCode(errorCode) {}
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

// Reads a whole file as bytes; raises EFileError when it cannot be opened or read.
std::string ReadFileBytes(const std::string& path);

// Writes Data to a temporary file beside Path, flushes it to disk, then renames it over
// Path. The old file stays whole until the rename; on any failure the temporary file is
// removed and EFileError is raised. An existing file keeps its permission bits.
void WriteFileAtomic(const std::string& path, std::string_view data);

// The text of errno value Err, e.g. "No such file or directory".
std::string SysErrorMessage(int err);
