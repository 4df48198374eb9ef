// Helpers shared by the location tests.
#pragma once

#include "locations/DirectoryParts.h"
#include "locations/LocationOwner.h"
#include "support/TestSupport.h"

#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace loctest {

// A gauge that records its ranges and can run a callback on every step.
class TTestGauge : public ILocationGauge {
public:
    std::vector<int64_t> Pushed;
    int64_t Steps = 0;
    int Depth = 0;
    std::function<void(int64_t steps)> OnStep;
    void PushRange(int64_t maximum, int64_t) override {
        Pushed.push_back(maximum);
        ++Depth;
    }
    void PopRange() override { --Depth; }
    void AddProgress(int64_t delta) override {
        Steps += delta;
        if (OnStep) OnStep(Steps);
    }
};

// Deterministic content of Size bytes; Seed varies it.
inline std::string Content(size_t size, int seed = 0) {
    std::string s(size, '\0');
    uint32_t x = 2463534242u + uint32_t(seed);
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = char(x);
    }
    return s;
}

inline void SetMTime(const std::string& path, int64_t unixSeconds) {
    struct timespec t[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), 0}};
    ::utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

inline int64_t MTime(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec;
}

inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

inline ino_t Inode(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_ino;
}

// Names of a folder that a write left behind under a temporary name.
inline std::vector<std::string> LeftoverTemps(const std::string& folder) {
    std::vector<std::string> out;
    std::vector<TLocalEntry> entries;
    ScanLocalFolder(folder + "/", entries);
    for (auto& e : entries)
        if (e.Name.rfind(".qncopy-", 0) == 0) out.push_back(e.Name);
    return out;
}

// 2011-03-04 05:06:08 UTC.
inline constexpr int64_t FixtureUnix = 1299215168;
inline constexpr const char* FixtureHex = "C428643E00000000D2040000000000002000000000000000";
// The same record as a listing of a local file gives it: with the whole time in seconds
// (zero nanoseconds) beside the two-second time.
inline std::string LocalFixtureHex() {
    TFileInfoRec r = *TFileInfoRec::FromHex(FixtureHex);
    r.SetFineTime(FixtureUnix, 0);
    return r.ToHex();
}

// Pins the process's time zone for the life of the object.
class TPinnedZone {
public:
    explicit TPinnedZone(const char* tz) : FEnv(std::make_unique<qntest::TScopedEnv>("TZ", tz)) {
        ::tzset();
    }
    ~TPinnedZone() {
        FEnv.reset();
        ::tzset();
    }

private:
    std::unique_ptr<qntest::TScopedEnv> FEnv;
};

}  // namespace loctest
