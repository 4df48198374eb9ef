#include "sync/SyncDocument.h"

#include "common/EngineContract.h"
#include "common/QNStringUtils.h"
#include "common/SafeFile.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"
#include "locations/LocationOwner.h"
#include "locations/URLParts.h"
#include "platform/XdgDirs.h"
#include "sync/SyncUpgrade.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

// --- Names ---------------------------------------------------------------------------------

std::string_view LogItemName(TLogItem item) {
    static constexpr std::array<std::string_view, LogItemCount> names = {
        "Nothing", "FileCopied", "FileBackedUp", "FileDeleted", "Information", "Warning", "Error"};
    size_t i = static_cast<size_t>(item);
    return i < names.size() ? names[i] : std::string_view();
}

// --- Document options ----------------------------------------------------------------------

double ReadHexDouble(const TMemIniFile& store, std::string_view section, std::string_view key,
                     double def) {
    std::string hex = store.ReadString(section, key, "");
    if (hex.size() != 16) return def;
    std::array<uint8_t, 8> b{};
    for (char c : hex)
        if (HexDigit(c) < 0) return def;
    HexToBuffer(hex, std::span<uint8_t>(b));
    uint64_t bits = 0;
    for (size_t i = 0; i < 8; ++i) bits |= uint64_t(b[i]) << (8 * i);
    double v = std::bit_cast<double>(bits);
    return std::isfinite(v) ? v : def;
}

void WriteHexDouble(TMemIniFile& store, std::string_view section, std::string_view key,
                    double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    std::array<uint8_t, 8> b{};
    for (size_t i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(bits >> (8 * i));
    store.WriteString(section, key, BufferToHex(std::span<const uint8_t>(b)));
}

TSyncDocOptions ReadSyncDocOptions(const TMemIniFile& store) {
    static constexpr std::string_view S = SyncSection::Options;
    TSyncDocOptions o;
    auto flag = [&store](std::string_view key, bool def) { return store.ReadBool(S, key, def); };
    auto onOff = [&store](std::string_view key) {
        return SameText(store.ReadString(S, key, "Off"), "On");
    };
    o.Version = store.ReadString(S, "Version", FMWOldestVersion);
    // The engine's timer ticks every TimerInterval seconds; less than one would spin.
    o.TimerInterval = std::max(1, store.ReadInteger(S, "TimerInterval", o.TimerInterval));
    o.AutoSaveInterval = ReadHexDouble(store, S, "AutoSaveInterval", o.AutoSaveInterval);
    o.BackupLabel = store.ReadString(S, "BackupLabel", o.BackupLabel);
    o.TurnOffLogging = flag("TurnOffLogging", o.TurnOffLogging);
    o.ClearLogAfterSaving = flag("ClearLogAfterSaving", o.ClearLogAfterSaving);
    o.MaxLogLinesBeforeSaving =
        store.ReadInteger(S, "MaxLogLinesBeforeSaving", o.MaxLogLinesBeforeSaving);
    o.SaveLogTimeOfDay = ReadHexDouble(store, S, "SaveLogTimeOfDay", o.SaveLogTimeOfDay);
    o.SaveLogDayOfWeek = store.ReadInteger(S, "SaveLogDayOfWeek", o.SaveLogDayOfWeek);
    if (o.SaveLogDayOfWeek < 0 || o.SaveLogDayOfWeek > 6) o.SaveLogDayOfWeek = 0;
    o.SaveLogDaily = flag("SaveLogDaily", o.SaveLogDaily);
    o.DontSaveLog = flag("DontSaveLog", o.DontSaveLog);
    o.SaveLogWeekly = flag("SaveLogWeekly", o.SaveLogWeekly);
    for (int i = 0; i < LogItemCount; ++i)
        o.LogLevels[i] = flag("Log" + std::string(LogItemName(TLogItem(i))), true);
    o.HintsOn = flag("HintsOn", o.HintsOn);
    o.NewVersionNotification = flag("NewVersionNotification", o.NewVersionNotification);
    o.LastDirectory = store.ReadString(S, "LastDirectory", "c:");
    if (!DirectoryExists(o.LastDirectory)) o.LastDirectory = HomeDir();
    o.StartupProgramIcons = store.ReadString(S, "StartupProgramIcons", "1") == "1";
    o.FileComparePreview = onOff("FileComparePreview");
    o.FileCompareHistoryPreview = onOff("FileCompareHistoryPreview");
    o.FileCompareMoveRenamePreview = onOff("FileCompareMoveRenamePreview");
    return o;
}

// --- Profiles in a store -------------------------------------------------------------------

void WriteProfileToStore(TQNMemIniFile& store, int i, const TSyncProfile& p) {
    std::string section = SyncSection::Profile(i);
    store.GetSection(section).Clear();
    store.WriteString(section, "Option", ProfileRecordToHex(p));
    store.WriteString(section, "FilterRegularExpression", p.FilterRegExpr);
    store.WriteString(section, "TextInFileRegularExpression", p.TextInFileRegExpr);
    store.GetSection(SyncSection::Files(i)).Assign(p.HistoryFiles);
    store.GetSection(SyncSection::FileInfo(i)).Assign(p.HistoryFileInfo);
    store.GetSection(SyncSection::Stats(i)).Assign(p.HistoryStats);
    store.GetSection(SyncSection::FTPSourceLogin(i)).Assign(p.FTPSourceLoginInfo);
    store.GetSection(SyncSection::FTPDestLogin(i)).Assign(p.FTPDestLoginInfo);
}

bool ReadProfileFromStore(TMemIniFile& store, int i, TSyncProfile& p) {
    std::string section = SyncSection::Profile(i);
    bool readable = ProfileRecordFromHex(store.ReadString(section, "Option", ""), p);
    p.FilterRegExpr = store.ReadString(section, "FilterRegularExpression", "");
    p.TextInFileRegExpr = store.ReadString(section, "TextInFileRegularExpression", "");
    auto fill = [&store](const std::string& name, TQNStringList& list) {
        TQNStringList* lines = store.FindSection(name);
        if (lines != nullptr) list.TakeFrom(std::move(*lines));
        else list.Clear();
    };
    fill(SyncSection::Files(i), p.HistoryFiles);
    fill(SyncSection::FileInfo(i), p.HistoryFileInfo);
    fill(SyncSection::Stats(i), p.HistoryStats);
    fill(SyncSection::FTPSourceLogin(i), p.FTPSourceLoginInfo);
    fill(SyncSection::FTPDestLogin(i), p.FTPDestLoginInfo);
    return readable;
}

void SaveProfilesToStore(TQNMemIniFile& store, TSyncProfileList& profiles) {
    for (int i = 0; i < profiles.Count(); ++i) {
        TSyncProfile& p = profiles.Profile(i);
        if (p.EngineCopy) {
            CopyProfileSettings(p, *p.EngineCopy);
            WriteProfileToStore(store, i, *p.EngineCopy);
        } else {
            WriteProfileToStore(store, i, p);
        }
    }
    store.GetSection(SyncSection::Profiles).Assign(profiles.Lines());
}

void LoadProfilesFromStore(TMemIniFile& store, TSyncProfileList& profiles) {
    profiles.Clear();
    const TQNStringList* lines = store.FindSection(SyncSection::Profiles);
    if (lines == nullptr) return;
    for (int i = 0; i < lines->Count(); ++i) {
        std::unique_ptr<TSyncProfile> p = NewProfile(true);
        ReadProfileFromStore(store, i, *p);
        CopyProfile(*p, *p->EngineCopy);
        profiles.Add(lines->Strings(i), std::move(p));
    }
}

// --- Saving --------------------------------------------------------------------------------

namespace {

[[noreturn]] void FailWrite(const char* what, const std::string& path, int err) {
    throw EFileError(std::string(what) + " \"" + path + "\": " + SysErrorMessage(err), err);
}

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new file beside Path holding Data, flushed to disk, with Path's permission bits (or
// the default ones). Returns its name.
std::string WriteTemporaryBeside(const std::string& path, std::string_view data) {
    std::string dir = DirOf(path);
    std::string tmpl = (dir == "/" ? std::string() : dir) + "/." + NameOf(path) + ".tmpXXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) FailWrite("Cannot create file", path, errno);
    std::string tmp(buf.data());
    auto fail = [&](const char* what) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        FailWrite(what, path, err);
    };
    struct stat st {};
    mode_t mode;
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0) fail("Cannot write file");
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Cannot write file");
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) fail("Cannot write file");
    int closing = fd;
    fd = -1;
    if (::close(closing) != 0) fail("Cannot write file");
    return tmp;
}

// Makes Backup a name of the file at Path (a hard link, placed by rename so an existing
// backup is replaced in one step); where the file system has no hard links, Backup becomes
// a copy, written atomically.
void MakeBackup(const std::string& path, const std::string& backup) {
    std::string dir = DirOf(path), prefix = (dir == "/" ? std::string() : dir) + "/.";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string link = prefix + NameOf(backup) + "." + QNStringUtils().RandomString(8);
        if (::link(path.c_str(), link.c_str()) == 0) {
            if (::rename(link.c_str(), backup.c_str()) != 0) {
                int err = errno;
                ::unlink(link.c_str());
                FailWrite("Cannot write file", backup, err);
            }
            return;
        }
        if (errno == EEXIST) continue;
        if (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV || errno == EMLINK ||
            errno == ENOSYS)
            break;
        FailWrite("Cannot write file", backup, errno);
    }
    WriteFileAtomic(backup, ReadFileBytes(path));
}

}  // namespace

void WriteDocumentFile(const std::string& path, std::string_view data,
                       const TDocWriteProbe& probe) {
    std::string tmp = WriteTemporaryBeside(path, data);
    if (probe) probe(TDocWriteStage::NewWritten);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        try {
            MakeBackup(path, path + ".bak");
        } catch (...) {
            ::unlink(tmp.c_str());
            throw;
        }
    }
    if (probe) probe(TDocWriteStage::BackupMade);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        FailWrite("Cannot write file", path, err);
    }
    int dirFd = ::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    if (probe) probe(TDocWriteStage::Replaced);
}

// --- The document --------------------------------------------------------------------------

namespace {

void Trace(IEngineHost* host, const std::string& text) {
    if (host != nullptr) host->LogToFile(text);
}

class TBusyCursor {
public:
    explicit TBusyCursor(IEngineHost* host) : FHost(host) {
        if (FHost != nullptr) FHost->PushCursor(TCursor::crHourGlass);
    }
    ~TBusyCursor() {
        if (FHost != nullptr) FHost->PopCursor();
    }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    IEngineHost* FHost;
};

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.string();
}

bool HasExtension(std::string_view path) {
    size_t sep = path.find_last_of("/\\");
    std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
    return name.find('.') != std::string_view::npos;
}

// The lines of a document's text (views into it), without a leading byte order mark.
std::vector<std::string_view> SplitDocumentText(std::string_view text) {
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (text.substr(0, bom.size()) == bom) text.remove_prefix(bom.size());
    return SplitLines(text);
}

constexpr std::string_view FileDialogFilter = "File Mirrowyn|*.fmw; *.qns";

// Why a document's text cannot be a sync document (empty when it can be): binary data, or
// text before the first section.
std::string DocumentDamage(std::string_view text, const std::vector<std::string_view>& lines) {
    if (size_t nul = text.find('\0'); nul != std::string_view::npos)
        return "it holds binary data (a zero byte at offset " + std::to_string(nul) + ").";
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.empty()) continue;
        if (line.front() == '<' && line.back() == '>') return {};
        std::string shown(line.substr(0, 40));
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        return "line " + std::to_string(i + 1) + " (\"" + shown + (line.size() > 40 ? "..." : "") +
               "\") comes before any section.";
    }
    return {};
}

}  // namespace

TSyncDocument::TSyncDocument(ISyncPrompter& prompter, TCustomIniFile* settings,
                             std::string appVersion)
    : FPrompter(prompter), FSettings(settings), FAppVersion(std::move(appVersion)) {
    NewDocument(nullptr);
    FillFromStore();
}

void TSyncDocument::SetFileName(const std::string& fileName) {
    bool changed = fileName != FFileName;
    FFileName = fileName;
    if (changed && OnFileNameChanged) OnFileNameChanged(FFileName);
}

void TSyncDocument::MarkModified() {
    FModified = true;
    if (FFileName.empty() && !FSaving) SaveFile();
}

void TSyncDocument::NewDocument(const TQNStringList* currentOptions) {
    TQNStringList options = currentOptions ? *currentOptions : DefaultSyncOptionLines();
    FStore.Clear();
    FStore.GetSection(SyncSection::Options).Assign(options);
    FStore.WriteString(SyncSection::Options, "Version", FAppVersion);
}

void TSyncDocument::FillFromStore() {
    LoadProfilesFromStore(FStore, FProfiles);
    const TQNStringList* log = FStore.FindSection(SyncSection::Log);
    FLog.Assign(log ? *log : TQNStringList());
    const TQNStringList* stats = FStore.FindSection(SyncSection::LogStats);
    FLogStats.Assign(stats ? *stats : TQNStringList());
}

bool TSyncDocument::LoadFile(const std::string& path, const TQNStringList* currentOptions) {
    TBusyCursor busy(FHost);
    std::string name = AbsolutePath(path);
    Trace(FHost, "Before Loading file " + name + "...");
    FStepsRun.clear();
    std::error_code ec;
    // A file with nothing in it (made by a file manager, say) is a new document.
    if (name.empty() || !std::filesystem::exists(name, ec) ||
        (std::filesystem::is_regular_file(name, ec) && std::filesystem::file_size(name, ec) == 0)) {
        NewDocument(currentOptions);
        FillFromStore();
        SetFileName(name);
        FModified = false;
        RecordLastFile();
        Trace(FHost, "After initialing file");
        return true;
    }

    // Everything is read and checked before the open document changes.
    TFMWMemIniFile parsed;
    {
        const std::string text = ReadFileBytes(name);
        const std::vector<std::string_view> lines = SplitDocumentText(text);
        if (std::string why = DocumentDamage(text, lines); !why.empty())
            throw EFileError("it is not a sync document: " + why, EINVAL);
        parsed.SetLines(lines);
        if (!lines.empty() && parsed.FindSection(SyncSection::Options) == nullptr &&
            parsed.FindSection(SyncSection::Profiles) == nullptr && parsed.FindSection("SyncList") == nullptr)
            throw EFileError("it is not a sync document: it holds neither an <Options> nor a "
                                    "<Profiles> section.",
                             EINVAL);
    }
    Trace(FHost, "After Loading file-size=" + std::to_string(std::filesystem::file_size(name, ec)));
    const std::string version = parsed.ReadString(SyncSection::Options, "Version", FMWOldestVersion);
    if (CompareStr(version, FAppVersion) > 0 && CompareStr(FAppVersion, "9") <= 0) {
        TMsgDlgBtn answer = FPrompter.Ask(TSyncQuestion::NewerDocument,
            name + "\r\n" + "was made/saved with a newer version of FMW.\r\n" +
                "Continuing could result in unpredictable results.\r\n" +
                "Upgrade to the latest FMW.\r\n" + "Continue using this file?",
            TMsgDlgType::mtWarning, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo});
        if (answer != TMsgDlgBtn::mbYes) {
            LoadFile("", currentOptions);
            return false;
        }
    }

    FStore.Swap(parsed);
    FStepsRun = UpgradeSyncDocument(FStore, version, FPrompter);
    FillFromStore();
    SetFileName(name);
    FModified = !FStepsRun.empty();
    RecordLastFile();
    Trace(FHost, "After initialing file");
    if (!FStepsRun.empty())
        FPrompter.ShowMessage(name + " has been migrated to the current version.\r\n" +
                              "Problems could result if you revert to an older version of " +
                              std::string(FMWProductName));
    return true;
}

TSyncFileDialog TSyncDocument::SaveDialog() const {
    return {"Save File Mirrowyn File", std::string(FileDialogFilter), "fmw",
            FFileName.empty() ? std::string() : DirOf(FFileName)};
}

TSyncFileDialog TSyncDocument::OpenDialog() const {
    return {"Select File Mirrowyn File", std::string(FileDialogFilter), "fmw",
            FFileName.empty() ? std::string() : DirOf(FFileName)};
}

std::string TSyncDocument::AskSaveName() {
    std::string name = FPrompter.PromptFileName(SaveDialog());
    if (name.empty()) return {};
    if (!HasExtension(name)) name += ".fmw";
    name = AbsolutePath(name);
    std::error_code ec;
    if (std::filesystem::exists(name, ec) &&
        FPrompter.Ask(TSyncQuestion::OverwriteDocument, "File exists!  Do you wish to overwrite?",
                             TMsgDlgType::mtConfirmation,
                             {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}) != TMsgDlgBtn::mbYes)
        return {};
    return name;
}

bool TSyncDocument::SaveFile() {
    if (FFileName.empty()) {
        FPrompter.ShowMessage("File Mirrowyn needs to save data to a file.  Select a FileName...");
        return SaveAs();
    }
    return WriteUnder(FFileName);
}

bool TSyncDocument::SaveAs() {
    std::string name = AskSaveName();
    return !name.empty() && WriteUnder(name);
}

bool TSyncDocument::WriteUnder(std::string path) {
    struct TSavingFlag {
        bool& Flag;
        bool Old;
        explicit TSavingFlag(bool& f) : Flag(f), Old(f) { Flag = true; }
        ~TSavingFlag() { Flag = Old; }
    } saving(FSaving);

    for (;;) {
        // The whole document is regenerated; keys of "Options" that the program does not
        // know stay as they were.
        const TQNStringList* current = FStore.FindSection(SyncSection::Options);
        TQNStringList options = current ? *current : DefaultSyncOptionLines();
        FStore.Clear();
        SaveProfilesToStore(FStore, FProfiles);
        FStore.GetSection(SyncSection::Log).Assign(FLog);
        FStore.GetSection(SyncSection::Options).Assign(options);
        FStore.WriteString(SyncSection::Options, "Version", FAppVersion);
        FStore.GetSection(SyncSection::LogStats).Assign(FLogStats);
        try {
            ForceDirectories(DirOf(path));
            WriteDocumentFile(path, FStore.Text());
            break;
        } catch (const EFileError& e) {
            Trace(FHost, e.what());
            FLastSaveError = e.what();
            if (FromCommandLine) return false;  // nobody to choose another name
            FPrompter.ShowMessage("File Mirrowyn needs to save " + path +
                                  " data to a file.  Select a FileName....\r\n" + e.what());
            path = AskSaveName();
            if (path.empty()) return false;
        }
    }
    FLastSaveError.clear();
    SetFileName(path);
    RecordLastFile();
    FModified = false;
    return true;
}

void TSyncDocument::RecordLastFile() {
    if (FromCommandLine || FSettings == nullptr || FFileName.empty()) return;
    try {
        FSettings->WriteString("File Mirrowyn", "LastFile", FFileName);
    } catch (const std::exception& e) {
        Trace(FHost, std::string("Cannot record the last document: ") + e.what());
    }
}

bool TSyncDocument::QuerySaveChanges() {
    if (!FModified) return true;
    std::string text = "Do you wish to save changes" +
                       (FFileName.empty() ? std::string() : " to " + FFileName) + "?";
    switch (FPrompter.Ask(TSyncQuestion::SaveChanges, text, TMsgDlgType::mtConfirmation,
                                 {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel})) {
        case TMsgDlgBtn::mbYes: return SaveFile();
        case TMsgDlgBtn::mbNo: return true;
        default: return false;
    }
}

bool TSyncDocument::New() {
    if (!QuerySaveChanges()) return false;
    const TQNStringList* current = FStore.FindSection(SyncSection::Options);
    TQNStringList options = current ? *current : DefaultSyncOptionLines();
    LoadFile("", &options);
    MarkModified();
    return true;
}

// --- Editing profiles ----------------------------------------------------------------------

bool TSyncDocument::CheckSource(const std::string& source, TLocationOwner* owner) {
    const char* problem = nullptr;
    try {
        std::unique_ptr<TURLParts> parts = CreateParts(owner, source);
        if (!parts->ContainerExists()) {
            problem = "Source Directory doesn't exist.";
        } else if (parts->Name.empty() ||
                   (IsLocalLocation(source) && !parts->NameHasWildcards &&
                    DirectoryExists(parts->GetLocation()))) {
            problem = "Source appears to be a directory and not a Directory\\File or "
                      "Directory\\Filter.";
        } else if (!parts->NameHasWildcards && !parts->FileExists()) {
            problem = "Source File/Filter doesn't exist.";
        }
    } catch (const std::exception& e) {
        Trace(FHost, e.what());
        problem = "Source Directory doesn't exist.";
    }
    if (problem == nullptr) return true;
    FPrompter.ShowMessage(problem);
    return false;
}

namespace {

// Whether the folders of a profile's two sides are the same (local folders compare
// case-sensitively, other kinds ignoring case).
bool SameFolders(const std::string& line) {
    std::string source = ProfileSource(line), dest = ProfileDest(line);
    if (source.empty() || dest.empty()) return false;
    std::string a = ExtractDir(source), b = ExtractDir(dest);
    if (a.empty() || b.empty()) return false;
    return IsLocalLocation(source) && IsLocalLocation(dest) ? a == b : SameText(a, b);
}

}  // namespace

void TSyncDocument::CheckSameFolders(int index) {
    if (!SameFolders(FProfiles.Line(index))) return;
    FPrompter.ShowMessage(
        "When source and dest are the same,\r\n\"Backup Destination on Change\" checked is "
        "recommended.\r\nIf so, \"Sync Changes Only\" checked is recommended if you don't want "
        "backups on initial sync.");
}

bool TSyncDocument::SetSource(const std::vector<int>& selected, std::string_view text,
                              TLocationOwner* owner) {
    std::string source = Trim(text);
    bool ok = true, changed = false, sameShown = false;
    for (int index : selected) {
        if (index < 0 || index >= FProfiles.Count()) continue;
        FProfiles.SetLine(index, ProfileLine(source, ProfileDest(FProfiles.Line(index))));
        changed = true;
        bool good = CheckSource(source, owner);
        TSyncProfile& p = FProfiles.Profile(index);
        if (p.Has(TFileSyncOption::SyncDeletedObjects) && p.HasHistory()) {
            p.Options.Exclude(TFileSyncOption::SyncDeletedObjects);
            if (p.EngineCopy) p.EngineCopy->Options.Exclude(TFileSyncOption::SyncDeletedObjects);
            FPrompter.ShowMessage(
                "Changing source which contains files that might delete upon next sync, and "
                "you probably don't want Sync Deleted objects checked.  I'll uncheck it.");
        }
        if (!sameShown && SameFolders(FProfiles.Line(index))) {
            CheckSameFolders(index);
            sameShown = true;
        }
        if (!good) {
            ok = false;
            break;
        }
    }
    if (changed) MarkModified();
    return ok;
}

bool TSyncDocument::SetDest(const std::vector<int>& selected, std::string_view text,
                            TLocationOwner* owner) {
    std::string dest = Trim(text);
    // Local and remote locations alike separate folders with "/".
    if (!dest.empty() && !HasExtension(dest) && dest.back() != '/' && dest.back() != '\\' &&
        dest.find("<file") == std::string::npos && dest.find("<ext") == std::string::npos &&
        FPrompter.Ask(TSyncQuestion::DestinationIsFolder, "Would you like to put a \"/\" at the end of the Destination?\r\n"
                             "A \"/\" copies to a directory\r\n"
                             "Without indicates dest is a filename",
                             TMsgDlgType::mtConfirmation,
                             {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}) == TMsgDlgBtn::mbYes)
        dest += '/';

    bool ok = true, changed = false, sameShown = false;
    for (int index : selected) {
        if (index < 0 || index >= FProfiles.Count()) continue;
        TSyncProfile& p = FProfiles.Profile(index);
        std::string source = ProfileSource(FProfiles.Line(index)), d = dest;
        bool good = true;
        // A destination that is the root of the file system.
        if (!d.empty() && IsLocalLocation(d) && d.find_first_not_of('/') == std::string::npos) {
            if (!IsLocalLocation(source)) {
                p.Options.Include(TFileSyncOption::RootRelativeDir);
                FPrompter.ShowMessage(
                    "Normally you don't want to copy files to the root \r\nwithout setting "
                    "\"Source Dir Prefix\".\r\nThus, I'll help you out.");
            } else {
                FPrompter.ShowMessage(
                    "This setting could be devestating.  Normally, you\r\ncopy files to another "
                    "drive, but you are\r\ntrying to copy files to the root of the same "
                    "drive.\r\nMaybe you want Source=Dest.\r\nI'll help you out.");
                d = LocalRootFolder(source);
            }
        }
        if (!d.empty()) {
            bool valid = false;
            try {
                valid = CreateParts(owner, d)->IsValid();
            } catch (const std::exception& e) {
                Trace(FHost, e.what());
            }
            if (!valid) {
                if (d == "\\") {
                    d.clear();
                } else {
                    FPrompter.ShowMessage("Destination doesn't appear to be proper structure.");
                    good = false;
                }
            }
        }
        FProfiles.SetLine(index, ProfileLine(source, d));
        changed = true;
        if (!sameShown && SameFolders(FProfiles.Line(index))) {
            CheckSameFolders(index);
            sameShown = true;
        }
        if (!good) {
            ok = false;
            break;
        }
    }
    if (changed) MarkModified();
    return ok;
}

int TSyncDocument::AddDroppedProfile(const std::string& location, bool folder,
                                     TLocationOwner* owner) {
    std::unique_ptr<TSyncProfile> p = NewProfile(true);
    p->Options = folder ? FolderDropOptions : FileDropOptions;
    CopyProfile(*p, *p->EngineCopy);
    int index = FProfiles.Add(ProfileLine(location, ""), std::move(p));
    CheckSource(location, owner);
    MarkModified();
    return index;
}
