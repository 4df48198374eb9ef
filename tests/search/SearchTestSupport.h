// Helpers shared by the search tests: trees on disk, a recording memo, engine runs.
#pragma once

#include "search/FindFiles.h"

#include "common/EngineContract.h"
#include "locations/DirectoryParts.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace searchtest {

// A memo that keeps the lines it receives.
class TTestMemo : public ILogMemo {
public:
    std::vector<std::string> Seen;
    int LineCount() const override { return static_cast<int>(Seen.size()); }
    void AddLine(const std::string& line) override { Seen.push_back(line); }
    TQNStringList Lines() const override {
        TQNStringList l;
        for (const auto& s : Seen) l.Add(s);
        return l;
    }
    void Clear() override { Seen.clear(); }
    int VisibleLineCount() const override { return 10; }
    void SetTopLine(int) override {}
    bool Has(std::string_view text) const {
        return std::any_of(Seen.begin(), Seen.end(),
                           [&](const std::string& s) { return s.find(text) != std::string::npos; });
    }
    int Count(std::string_view text) const {
        return static_cast<int>(std::count_if(Seen.begin(), Seen.end(), [&](const std::string& s) {
            return s.find(text) != std::string::npos;
        }));
    }
};

inline void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

inline void Write(const std::string& path, const std::string& data) {
    MakeDirs(path.substr(0, path.rfind('/')));
    qntest::WriteFile(path, data);
}

inline void SetMTime(const std::string& path, int64_t unixSeconds) {
    struct timespec t[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), 0}};
    ::utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

inline std::vector<std::string> Lines(const TQNStringList& l) { return l.ToVector(); }

inline std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Restores SyncContinue when a test changed it.
struct TContinueGuard {
    ~TContinueGuard() { SyncContinue = true; }
};

}  // namespace searchtest
