#include "locations/LocationOwner.h"

#include "common/Streams.h"

#include "common/EngineContract.h"
#include "common/Masks.h"
#include "common/SafeFile.h"
#include "common/ifutils.h"
#include "platform/XdgDirs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Copies up to Block bytes from In to Out in the kernel; the count (0 at the end of In),
// or nullopt when the kernel cannot copy between the two (only told while First is set,
// before anything was copied); other failures raise.
std::optional<size_t> KernelCopyBlock(TFileStream& in, TFileStream& out, size_t block, bool first) {
    size_t n = 0;
    while (n < block) {
        ssize_t r = ::copy_file_range(in.Handle(), nullptr, out.Handle(), nullptr, block - n, 0);
        if (r > 0) {
            n += static_cast<size_t>(r);
            first = false;
            continue;
        }
        if (r == 0) break;
        if (errno == EINTR) continue;
        const int err = errno;
        if (first && (err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP ||
                      err == EBADF || err == EPERM))
            return std::nullopt;
        throw EFileError("Cannot write file \"" + out.FileName() + "\": " + SysErrorMessage(err), err);
    }
    return n;
}

}  // namespace

// --- Durability of local writes ------------------------------------------------------------

void TLocationOwner::NoteDeferredFlush(int fd, dev_t device) {
    // The disk starts writing the file now, while the next ones are copied, so that the
    // flush at the end has less to wait for.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    for (const auto& h : FFlushHandles)
        if (h.first == device) return;
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        // Without a handle of its own the file system is flushed at once.
        ::syncfs(fd);
        return;
    }
    FFlushHandles.emplace_back(device, copy);
}

bool TLocationOwner::FlushDeferredWrites() {
    std::vector<std::pair<dev_t, int>> handles;
    handles.swap(FFlushHandles);
    int err = 0;
    for (const auto& h : handles) {
        if (::syncfs(h.second) != 0 && err == 0) err = errno;
        ::close(h.second);
    }
    errno = err;
    return err == 0;
}

// --- Hooks with defaults -------------------------------------------------------------------

bool TLocationOwner::Continue() { return !Cancelled() && SyncContinue.load(); }

bool TLocationOwner::StepAllowed() {
    if (SyncProcessMessages) ProcessMessages();
    return Continue();
}

TFMWMemIniFile& TLocationOwner::LookupStore() {
    if (!FLookupStore) FLookupStore = std::make_unique<TFMWMemIniFile>();
    FLookupStore->Clear();
    return *FLookupStore;
}

// --- Block copy ----------------------------------------------------------------------------

bool TLocationOwner::CopyStreamWithProgress(TStream& source, TStream& dest,
                                            const TFileInfoRec& info,
                                            const std::string& message) {
    dest.SetSize(0);
    dest.SetPosition(0);
    int64_t expected = info.Size > 0 ? info.Size : source.Size() - source.Position();
    int64_t wholeBlocks = expected / CopyBlockSize;
    ILocationGauge* gauge = wholeBlocks >= 1 ? CopyGauge() : nullptr;
    TGaugeRange range(gauge, wholeBlocks + 1);
    if (wholeBlocks >= 1) ShowStatus(message, llProgress, false);

    struct TRewind {
        TStream& A;
        TStream& B;
        ~TRewind() {
            try {
                A.SetPosition(0);
                B.SetPosition(0);
            } catch (...) {
            }
        }
    } rewind{source, dest};

    // Between two local files the kernel copies the blocks; anything else (or a kernel or
    // file system that cannot) goes through a buffer.
    auto* in = dynamic_cast<TFileStream*>(&source);
    auto* out = dynamic_cast<TFileStream*>(&dest);
    bool kernelCopy = in != nullptr && out != nullptr;
    bool copiedAny = false;
    std::unique_ptr<char[]> buffer;
    const size_t block = static_cast<size_t>(CopyBlockSize);
    for (;;) {
        if (!StepAllowed()) return false;
        size_t n = 0;
        if (kernelCopy) {
            std::optional<size_t> copied = KernelCopyBlock(*in, *out, block, !copiedAny);
            // Some files (those of /proc, for one) report nothing to the kernel copy but
            // can be read.
            kernelCopy = copied.has_value() && (*copied > 0 || copiedAny);
            if (!kernelCopy) continue;
            n = *copied;
            copiedAny |= n > 0;
        } else {
            if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(block);
            n = source.ReadFull(buffer.get(), block);
            if (n > 0) dest.Write(buffer.get(), n);
        }
        if (n == 0) return true;
        range.Step();
        if (n < block) return true;
    }
}

bool TLocationOwner::CompareContents(TParts& a, TParts& b) {
    std::unique_ptr<TStream> sa = a.OpenReadStream();
    std::unique_ptr<TStream> sb = b.OpenReadStream();
    if (!sa || !sb || sa->Size() != sb->Size()) return false;
    int64_t blocks = sa->Size() / CopyBlockSize;
    TGaugeRange range(blocks != 0 ? CopyGauge() : nullptr, blocks + 1);
    const size_t block = static_cast<size_t>(CopyBlockSize);
    auto ba = std::make_unique_for_overwrite<char[]>(block);
    auto bb = std::make_unique_for_overwrite<char[]>(block);
    for (;;) {
        if (!StepAllowed()) return false;
        size_t na = sa->ReadFull(ba.get(), block);
        size_t nb = sb->ReadFull(bb.get(), block);
        if (na != nb || std::memcmp(ba.get(), bb.get(), na) != 0) return false;
        range.Step();
        if (na < block) return true;
    }
}

// --- Folders -------------------------------------------------------------------------------

// --- Move and copy -------------------------------------------------------------------------

// --- Deleting ------------------------------------------------------------------------------

// --- Listing -------------------------------------------------------------------------------

// --- TSimpleLocationOwner ------------------------------------------------------------------

TSimpleLocationOwner::TSimpleLocationOwner(std::string tempRoot) : FTempRoot(std::move(tempRoot)) {}

TSimpleLocationOwner::~TSimpleLocationOwner() {
    if (!FTempFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(FTempFolder, ec);  // never follows links
    }
}

std::string TSimpleLocationOwner::TempFolder() {
    if (!FTempFolder.empty()) return FTempFolder;
    std::string root = FTempRoot.empty() ? XdgCacheHome() + "/Quennick/FindFiles" : FTempRoot;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    FTempFolder = MakePrivateTempFolder(root);
    return FTempFolder;
}

std::string MakePrivateTempFolder(const std::string& root) {
    for (size_t end = root.find('/', 1);; end = root.find('/', end + 1)) {
        std::string prefix = root.substr(0, end);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            int err = errno;
            throw EFileError("Cannot create the folder \"" + prefix + "\": " + SysErrorMessage(err), err);
        }
        if (end == std::string::npos) break;
    }
    std::string tmpl = root + "/" + FormatDateTime("yyyymmddhhnnsszzz", Now()) + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        int err = errno;
        throw EFileError("Cannot create the temporary folder \"" + tmpl + "\": " +
                             SysErrorMessage(err),
                         err);
    }
    return std::string(buf.data()) + "/";
}

void TSimpleLocationOwner::ShowStatus(const std::string& text, int level, bool toMemo) {
    FMessages.push_back({text, level, toMemo});
    ShowEngineStatus(Host(), FStatus, FMemo, text, level, toMemo);
}

TDateTime TSimpleLocationOwner::CurrentTime() { return FFixedTime != 0 ? FFixedTime : Now(); }

bool TSimpleLocationOwner::Logged(std::string_view text) const {
    for (const TOwnerMessage& m : FMessages)
        if (m.ToMemo && m.Text.find(text) != std::string::npos) return true;
    return false;
}

// --- Program-wide owner --------------------------------------------------------------------

namespace {
TLocationOwner* GRegisteredOwner = nullptr;
}

TLocationOwner* DefaultLocationOwner() {
    if (GRegisteredOwner) return GRegisteredOwner;
    static TSimpleLocationOwner fallback;
    return &fallback;
}

void SetDefaultLocationOwner(TLocationOwner* owner) { GRegisteredOwner = owner; }
