#include "platform/RegistryStore.h"

#include "common/SafeFile.h"
#include "common/SysUtils.h"
#include "platform/XdgDirs.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// The content of one root file: a sorted store that reads either header style and
// writes "[…]" headers, so the file reads like any other settings file.
class TRegistryFileStore : public TFMWMemIniFile {
public:
    explicit TRegistryFileStore(std::string path) : TFMWMemIniFile(std::move(path), TDeferLoad{}) {
        SetBrackets("[]");
        Load();
    }

protected:
    void DoSetLines(std::span<const std::string_view> lines) override {
        TFMWMemIniFile::DoSetLines(lines);
        SetBrackets("[]");
    }
};

namespace {

// Joins the non-empty components of the backslash-separated parts.
std::string JoinKey(std::string_view a, std::string_view b) {
    std::string r;
    for (std::string_view part : {a, b}) {
        size_t i = 0;
        while (i <= part.size()) {
            size_t j = part.find('\\', i);
            if (j == std::string_view::npos) j = part.size();
            if (j > i) {
                if (!r.empty()) r += '\\';
                r += part.substr(i, j - i);
            }
            i = j + 1;
        }
    }
    return r;
}

bool StartsWithText(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && CompareText(s.substr(0, prefix.size()), prefix) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An exclusive lock on a folder, held for one read-modify-write of a root file.
class TFolderLock {
public:
    explicit TFolderLock(const std::string& folder)
        : FFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (FFd < 0) {
            int err = errno;
            throw EFileError("Cannot open folder \"" + folder + "\": " + SysErrorMessage(err), err);
        }
        while (::flock(FFd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(FFd);
            throw EFileError("Cannot lock folder \"" + folder + "\": " + SysErrorMessage(err), err);
        }
    }
    ~TFolderLock() { ::close(FFd); }  // closing releases the lock
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

private:
    int FFd;
};

}  // namespace

bool TRegistryIniFile::TStamp::operator==(const TStamp& o) const {
    if (Present != o.Present) return false;
    if (!Present) return true;
    return Dev == o.Dev && Ino == o.Ino && Size == o.Size && MTime.tv_sec == o.MTime.tv_sec &&
           MTime.tv_nsec == o.MTime.tv_nsec;
}

TRegistryIniFile::TRegistryIniFile(TRegistryRoot root, std::string_view keyPath,
                                   std::string baseFolder)
    : TCustomIniFile(JoinKey(keyPath, {})),
      FRoot(root),
      FFolder(baseFolder.empty() ? DefaultFolder() : std::move(baseFolder)) {
    while (FFolder.size() > 1 && FFolder.back() == '/') FFolder.pop_back();
    FStorePath = FFolder + "/" + RootFileName(root);
}

TRegistryIniFile::~TRegistryIniFile() = default;

std::string TRegistryIniFile::RootFileName(TRegistryRoot root) {
    switch (root) {
    case TRegistryRoot::rrCurrentUser: return "HKEY_CURRENT_USER.ini";
    case TRegistryRoot::rrUsersDefault: return "HKEY_USERS.DEFAULT.ini";
    }
    return "HKEY_CURRENT_USER.ini";
}

std::string TRegistryIniFile::DefaultFolder() { return XdgConfigHome() + "/Quennick"; }

std::string TRegistryIniFile::FullKey(std::string_view section) const {
    return JoinKey(FFileName, section);
}

TRegistryIniFile::TStamp TRegistryIniFile::StampOfFile() const {
    TStamp s;
    struct stat st {};
    if (::stat(FStorePath.c_str(), &st) != 0) return s;
    s.Present = true;
    s.Dev = st.st_dev;
    s.Ino = st.st_ino;
    s.Size = st.st_size;
    s.MTime = st.st_mtim;
    return s;
}

void TRegistryIniFile::Reload() const {
    // Stamp first: a file replaced while it is read is simply read again next time.
    TStamp stamp = StampOfFile();
    auto store = std::make_unique<TRegistryFileStore>(FStorePath);
    FStore = std::move(store);
    FStamp = stamp;
    FLoaded = true;
}

const TRegistryFileStore& TRegistryIniFile::Current() const {
    if (!FLoaded || !(StampOfFile() == FStamp)) Reload();
    return *FStore;
}

void TRegistryIniFile::ForceFolder() const {
    std::string path;
    size_t i = 0;
    while (i < FFolder.size()) {
        size_t j = FFolder.find('/', i + 1);
        if (j == std::string::npos) j = FFolder.size();
        path = FFolder.substr(0, j);
        i = j;
        if (path.empty() || path == "/") continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            int err = errno;
            throw EFileError("Cannot create folder \"" + path + "\": " + SysErrorMessage(err), err);
        }
    }
}

template <class F>
void TRegistryIniFile::Modify(F&& change) {
    try {
        if (!IsFolder(FFolder)) {
            // Try the change first: a write that changes nothing creates no folder.
            Current();
            std::string before = FStore->Text();
            change(*FStore);
            bool same = FStore->Text() == before;
            FLoaded = false;
            if (same) return;
            ForceFolder();
        }
        TFolderLock lock(FFolder);
        Current();
        std::string before = FStore->Text();
        change(*FStore);
        std::string after = FStore->Text();
        if (after == before) return;
        WriteFileAtomic(FStorePath, after);
        FStamp = StampOfFile();
    } catch (...) {
        // The cached content may hold the change that did not reach the disk.
        FLoaded = false;
        throw;
    }
}

std::string TRegistryIniFile::ReadString(std::string_view section, std::string_view name,
                                         std::string_view def) const {
    return Current().ReadString(FullKey(section), name, def);
}

void TRegistryIniFile::WriteString(std::string_view section, std::string_view name,
                                   std::string_view value) {
    std::string key = FullKey(section);
    Modify([&](TRegistryFileStore& s) { s.WriteString(key, name, value); });
}

void TRegistryIniFile::ReadSection(std::string_view section, TQNStringList& strings) const {
    Current().ReadSection(FullKey(section), strings);
}

void TRegistryIniFile::ReadSections(TQNStringList& strings) const {
    const TRegistryFileStore& store = Current();
    std::string prefix = FullKey({});
    if (!prefix.empty()) prefix += '\\';
    TQNStringList names;
    names.SetSorted(true);
    names.SetDuplicates(TDuplicates::dupIgnore);
    for (int i = 0; i < store.SectionCount(); ++i) {
        const std::string& n = store.SectionName(i);
        if (!StartsWithText(n, prefix)) continue;
        std::string_view rest = std::string_view(n).substr(prefix.size());
        std::string_view child = rest.substr(0, rest.find('\\'));
        if (!child.empty()) names.Add(std::string(child));
    }
    strings.Clear();
    strings.AddStrings(names);
}

void TRegistryIniFile::ReadSectionValues(std::string_view section, TQNStringList& strings) const {
    Current().ReadSectionValues(FullKey(section), strings);
}

void TRegistryIniFile::EraseSection(std::string_view section) {
    std::string key = FullKey(section);
    bool subtree = !JoinKey(section, {}).empty();
    Modify([&](TRegistryFileStore& s) {
        s.EraseSection(key);
        if (!subtree) return;
        std::string prefix = key + '\\';
        TQNStringList doomed;
        for (int i = 0; i < s.SectionCount(); ++i)
            if (StartsWithText(s.SectionName(i), prefix)) doomed.Add(s.SectionName(i));
        for (const auto& item : doomed) s.EraseSection(item.Str);
    });
}

void TRegistryIniFile::DeleteKey(std::string_view section, std::string_view name) {
    std::string key = FullKey(section);
    Modify([&](TRegistryFileStore& s) { s.DeleteKey(key, name); });
}

void TRegistryIniFile::UpdateFile() {}

bool TRegistryIniFile::SectionExists(std::string_view section) const {
    const TRegistryFileStore& store = Current();
    std::string key = FullKey(section);
    if (store.SectionExists(key)) return true;
    std::string prefix = key.empty() ? key : key + '\\';
    for (int i = 0; i < store.SectionCount(); ++i)
        if (StartsWithText(store.SectionName(i), prefix)) return true;
    return false;
}
