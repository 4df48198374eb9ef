#include "diff/DiffMgr.h"

#include "diff/DiffMaker.h"

#include "common/EngineContract.h"
#include "common/QNStringUtils.h"
#include "common/SafeFile.h"
#include "common/Streams.h"
#include "common/SysUtils.h"
#include "locations/BackupFileParts.h"
#include "locations/LocationOwner.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A stream that compares what is written to it with a file, byte for byte.
class TCompareStream : public TStream {
public:
    explicit TCompareStream(std::unique_ptr<TFileStream> original) : FOriginal(std::move(original)) {}
    size_t Read(void*, size_t) override { return 0; }
    void Write(const void* buffer, size_t count) override {
        FBuf.resize(count);
        if (FOriginal->ReadFull(FBuf.data(), count) != count || std::memcmp(FBuf.data(), buffer, count) != 0)
            FSame = false;
        FPos += static_cast<int64_t>(count);
    }
    int64_t Size() override { return FPos; }
    int64_t Position() override { return FPos; }
    void SetPosition(int64_t) override {}
    void SetSize(int64_t) override {}
    bool Same() {
        char extra;
        return FSame && FOriginal->Read(&extra, 1) == 0;
    }

private:
    std::unique_ptr<TFileStream> FOriginal;
    std::vector<char> FBuf;
    int64_t FPos = 0;
    bool FSame = true;
};

bool IsRegular(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Gives To the modification time (and access time) of From.
void CopyDate(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0) return;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, 0);
}

}  // namespace

bool DifferenceRebuilds(const std::string& diff, const std::string& reference, const std::string& original) {
    try {
        auto d = TFileStream::OpenRead(diff);
        auto r = TFileStream::OpenRead(reference);
        TCompareStream check(TFileStream::OpenRead(original));
        DecodeDelta(*d, *r, check);
        return check.Same();
    } catch (const std::exception&) {
        return false;
    }
}

std::string MakeVerifiedDifference(const std::string& master, const std::string& file, const std::string& diff,
                                   int level) {
    try {
        TDiffMaker maker;
        maker.SetCompLevel(level);
        maker.UseFile = master;
        maker.InFile = file;
        maker.OutFile = diff;
        maker.MakeDiff();
    } catch (const std::exception& e) {
        return e.what();
    }
    if (!DifferenceRebuilds(diff, master, file)) {
        ::unlink(diff.c_str());
        return diff + " does not rebuild it.";
    }
    CopyDate(file, diff);
    if (::unlink(file.c_str()) != 0) {
        const int err = errno;
        ::unlink(diff.c_str());
        return "it could not be deleted: " + SysErrorMessage(err) + ".";
    }
    return {};
}

std::string WithoutDiffSuffix(std::string name) {
    for (size_t at; (at = LowerCase(name).find(".diff")) != std::string::npos;) name.erase(at, 5);
    return name;
}

void TDiffMgr::Log(const std::string& text, int level) { FOwner.ShowStatus(text, level, true); }

std::string TDiffMgr::DiffFile(const std::string& master, const std::string& file) {
    const std::string diff = file + ".diff";
    FOwner.ShowStatus("Diffing " + file + " to " + diff + " using " + master, llProgress, VerboseLog);
    if (IsRegular(diff)) {
        // A .diff of that name is there already: the file goes only if it is that file.
        if (!DifferenceRebuilds(diff, master, file)) {
            Log("Safeguard: Cannot overwrite a diff file: " + diff + ".  It does not rebuild " + file +
                    ", which is kept.",
                llWarning);
            return {};
        }
    } else {
        if (std::string why = MakeVerifiedDifference(master, file, diff, CompLevel); !why.empty()) {
            Log("Error: " + file + " is kept whole: " + why, llError);
            return {};
        }
        if (!VerboseLog) Log("Differenced " + file + " to " + diff, llProgress);
        return diff;
    }
    if (::unlink(file.c_str()) != 0) {
        Log("Error: " + file + " could not be deleted after it was differenced: " + SysErrorMessage(errno) + ".",
            llError);
        return {};
    }
    if (!VerboseLog) Log("Differenced " + file + " to " + diff, llProgress);
    return diff;
}

std::string TDiffMgr::UndiffFile(const std::string& diffFile, const std::string& master) {
    const std::string out = WithoutDiffSuffix(diffFile), reference = WithoutDiffSuffix(master);
    if (!IsRegular(reference)) return {};
    try {
        // Decoded beside its place and renamed over it only when complete.
        TDiffMaker maker;
        maker.UseFile = reference;
        maker.InFile = diffFile;
        maker.OutFile = out;
        maker.ApplyDiff();
        CopyDate(diffFile, out);
        FOwner.ShowStatus("UnDifferenced " + diffFile + " to " + out + " using " + reference, llProgress, VerboseLog);
        return out;
    } catch (const std::exception& e) {
        Log("Undifference failed... The .diff file:" + diffFile + " or it's master:" + master +
                " doesn't match (is corrupt) in making OutFile: " + out + " (" + e.what() + ")",
            llError);
        return {};
    }
}

bool TDiffMgr::RestoreBackupAsMaster(const std::string& backup, bool move) {
    TBackupFileParts parts(&FOwner);
    parts.SetLocation(backup);
    if (!parts.DiffSuffix.empty()) {
        Log("Warning: " + backup + " needs to be a backup file without .diff extension.", llWarning);
        return false;
    }
    if (parts.Counter < 1 || !IsRegular(backup)) return false;
    // The live file of the group: the backup's name with its version taken out.
    TBackupFileParts live(&FOwner);
    live.Assign(parts);
    live.SetCounter(0);
    live.RebuildName();
    const std::string master = live.GetLocation();
    if (IsRegular(master)) {
        // What the live file holds now is kept, unless a backup holds it already.
        bool kept = false;
        TBackupFileParts newest(&FOwner);
        newest.SetLocation(live.GetBackupName(true));
        for (int n = newest.Counter - 1; n >= 1 && !kept; --n) {
            const std::string version = live.VersionLocation(n, false);
            kept = IsRegular(version) && SameFileContents(version, master);
        }
        if (!kept) {
            TCopyResult result;
            TFileInfoRec info;
            FOwner.FindOne(master, info);
            const std::string name = newest.GetLocation();
            TDeferFlushesScope immediate(FOwner, false);
            FOwner.CopyLocation(master, name, result, 2, info);
            if (result.Files == 0) {
                Log("Error: " + master + " could not be kept as " + name + ": nothing is restored.", llError);
                return false;
            }
        }
    }
    TCopyResult result;
    TFileInfoRec info;
    FOwner.FindOne(backup, info);
    if (move)
        FOwner.MoveLocation(backup, master, result, 1);
    else
        FOwner.CopyLocation(backup, master, result, 1, info);
    return result.Files > 0;
}

namespace {

// The highest version number of File's history in use (whole or .diff), 0 when none.
int NewestVersion(TBackupFileParts& live) {
    TBackupFileParts next(live.Owner);
    next.SetLocation(live.GetBackupName(true));
    return next.Counter - 1;
}

}  // namespace

int TDiffMgr::DiffHistory(const std::string& file) {
    TBackupFileParts live(&FOwner);
    live.SetLocation(file);
    if (live.Counter != 0) return 0;
    const int newest = NewestVersion(live);
    int made = 0;
    for (int n = 1; n < newest && FOwner.Continue(); ++n) {
        const std::string version = live.VersionLocation(n, false);
        const std::string master = live.VersionLocation(n + 1, false);
        // The successor is whole when this walk reaches it: older ones go first.
        if (!IsRegular(version) || !IsRegular(master)) continue;
        if (!DiffFile(master, version).empty()) ++made;
    }
    return made;
}

int TDiffMgr::UndiffHistory(const std::string& file) {
    TBackupFileParts live(&FOwner);
    live.SetLocation(file);
    if (live.Counter != 0) return 0;
    const int newest = NewestVersion(live);
    int rebuilt = 0, failed = -1;
    for (int n = newest; n >= 1 && FOwner.Continue(); --n) {
        const std::string diff = live.VersionLocation(n, true);
        if (!IsRegular(diff)) continue;
        if (n == failed - 1) {
            // Its successor could not be rebuilt: nor can it.
            Log("Couldn't Undifference file.  " + diff + " follows a version that could not be rebuilt.", llWarning);
            failed = n;
            continue;
        }
        std::string master = live.VersionLocation(n + 1, false);
        if (!IsRegular(master)) master = file;  // the newest .diff of a history
        if (!IsRegular(master)) {
            Log("Couldn't Undifference file.  Master file not found for " + diff, llProgress);
            failed = n;
            continue;
        }
        if (UndiffFile(diff, master).empty())
            failed = n;
        else
            ++rebuilt;
    }
    return rebuilt;
}
