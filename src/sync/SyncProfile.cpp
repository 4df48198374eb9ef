#include "sync/SyncProfile.h"

#include "common/SysUtils.h"
#include "common/ifutils.h"
#include "locations/DirectoryParts.h"
#include "locations/LocationOwner.h"
#include "locations/URLParts.h"
#include "locations/ZipFileParts.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <stdexcept>

// --- Options -------------------------------------------------------------------------------

namespace {

struct TOptionText {
    std::string_view Name;
    std::string_view Caption;
};

constexpr std::array<TOptionText, FileSyncOptionCount> OptionTexts = {{
    {"PromptIfNewer", "Prompt If Destination Is Newer"},
    {"BackupIfNewer", "Backup Destination If Newer"},
    {"SyncIfDateChanged", "Sync If Source Newer"},
    {"RootRelativeDir", "Source Dir Prefix"},
    {"CascadeDir", "Include SubFolders"},
    {"SourceDirectory", "SourceDirectory"},
    {"ManRefresh", "Manual Sync"},
    {"AutoDetect", "Auto Detect"},
    {"AutoRefresh", "Auto Sync"},
    {"TextInFileInclude", "Include"},
    {"EmptyFolders", "Include Empty SubFolders"},
    {"SyncDeletedObjects", "Sync Deleted Files"},
    {"FilterPreviousProfile", "Filter (Exclude) Previous Profile"},
    {"OverwriteIfNewer", "Overwrite Destination If Newer"},
    {"BackupIfChanged", "Backup Destination On Change"},
    {"RegExpFilterInclude", "Include"},
    {"AbsoluteTime", "Detect Time Absolute/Relative"},
    {"MoveFile", "Delete Source (Move File)"},
    {"PhantomDestination", "Sync Changes Only"},
    {"ZipBackups", "Zip Backup Files"},
    {"ASyncDetect", "ASync Detect"},
    {"BackupFileDifferences", "Difference Backup Files"},
    {"CompareContent", "Compare File Contents"},
    {"CompareFileSize", "Compare File Size"},
    {"SingleDestFolder", "Single Dest Folder"},
    {"MoveRenameDest", "Move/Rename Dest"},
}};

const TOptionText& TextOf(TFileSyncOption o) {
    size_t i = static_cast<size_t>(o);
    if (i >= OptionTexts.size()) throw std::out_of_range("No sync option " + std::to_string(i));
    return OptionTexts[i];
}

}  // namespace

std::string_view FileSyncOptionName(TFileSyncOption o) { return TextOf(o).Name; }
std::string_view FileSyncOptionCaption(TFileSyncOption o) { return TextOf(o).Caption; }

std::optional<TFileSyncOption> FileSyncOptionByName(std::string_view name) {
    for (size_t i = 0; i < OptionTexts.size(); ++i)
        if (OptionTexts[i].Name == name) return static_cast<TFileSyncOption>(i);
    return std::nullopt;
}

// --- The profile ---------------------------------------------------------------------------

bool TSyncProfile::HasHistory() const {
    return !HistoryFiles.Empty() || (EngineCopy && !EngineCopy->HistoryFiles.Empty());
}

std::unique_ptr<TSyncProfile> NewProfile(bool addEngineCopy) {
    auto p = std::make_unique<TSyncProfile>();
    if (addEngineCopy) p->EngineCopy = NewProfile(false);
    return p;
}

namespace {

// The value fields and both expressions; the lists are the caller's.
void CopyProfileValues(const TSyncProfile& from, TSyncProfile& to) {
    to.Options = from.Options;
    to.DetectInterval = from.DetectInterval;
    to.SyncDelay = from.SyncDelay;
    to.LastDetectTime = from.LastDetectTime;
    to.ChangeCount = from.ChangeCount;
    to.ChangeDetectedTime = from.ChangeDetectedTime;
    to.Selected = from.Selected;
    to.DetectOnly = from.DetectOnly;
    to.FilterRegExpr = from.FilterRegExpr;
    to.TextInFileRegExpr = from.TextInFileRegExpr;
}

}  // namespace

void CopyProfile(const TSyncProfile& from, TSyncProfile& to) {
    if (&from == &to) return;
    CopyProfileValues(from, to);
    to.HistoryFiles.Assign(from.HistoryFiles);
    to.HistoryFileInfo.Assign(from.HistoryFileInfo);
    to.HistoryStats.Assign(from.HistoryStats);
    to.FTPSourceLoginInfo.Assign(from.FTPSourceLoginInfo);
    to.FTPDestLoginInfo.Assign(from.FTPDestLoginInfo);
    to.WatchFiles.Assign(from.WatchFiles);
    to.WatchFileInfo.Assign(from.WatchFileInfo);
}

void MoveProfile(TSyncProfile& from, TSyncProfile& to) {
    if (&from == &to) return;
    CopyProfileValues(from, to);
    to.HistoryFiles = std::move(from.HistoryFiles);
    to.HistoryFileInfo = std::move(from.HistoryFileInfo);
    to.HistoryStats = std::move(from.HistoryStats);
    to.FTPSourceLoginInfo.Assign(from.FTPSourceLoginInfo);
    to.FTPDestLoginInfo.Assign(from.FTPDestLoginInfo);
    to.WatchFiles = std::move(from.WatchFiles);
    to.WatchFileInfo = std::move(from.WatchFileInfo);
}

void CopyProfileSettings(const TSyncProfile& from, TSyncProfile& to) {
    if (&from == &to) return;
    to.Options = from.Options;
    to.DetectInterval = from.DetectInterval;
    to.SyncDelay = from.SyncDelay;
    to.FilterRegExpr = from.FilterRegExpr;
    to.TextInFileRegExpr = from.TextInFileRegExpr;
    to.Selected = from.Selected;
    to.FTPSourceLoginInfo.Assign(from.FTPSourceLoginInfo);
    to.FTPDestLoginInfo.Assign(from.FTPDestLoginInfo);
}

// --- Stored form ---------------------------------------------------------------------------

namespace {

void PutU32(TSyncProfileRecord& r, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) r[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutDouble(TSyncProfileRecord& r, size_t at, double v) {
    uint64_t bits = std::bit_cast<uint64_t>(v);
    for (size_t i = 0; i < 8; ++i) r[at + i] = static_cast<uint8_t>(bits >> (8 * i));
}

uint32_t GetU32(const TSyncProfileRecord& r, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t(r[at + i]) << (8 * i);
    return v;
}

double GetTime(const TSyncProfileRecord& r, size_t at) {
    uint64_t bits = 0;
    for (size_t i = 0; i < 8; ++i) bits |= uint64_t(r[at + i]) << (8 * i);
    double v = std::bit_cast<double>(bits);
    return std::isfinite(v) ? v : 0.0;
}

}  // namespace

TSyncProfileRecord EncodeProfileRecord(const TSyncProfile& p) {
    namespace O = SyncProfileOffset;
    TSyncProfileRecord r{};
    PutU32(r, O::Options, p.Options.Bits());
    PutDouble(r, O::DetectInterval, p.DetectInterval);
    PutDouble(r, O::SyncDelay, p.SyncDelay);
    PutDouble(r, O::LastDetectTime, p.LastDetectTime);
    r[O::DetectOnly] = p.DetectOnly ? 1 : 0;
    PutU32(r, O::ChangeCount, static_cast<uint32_t>(p.ChangeCount));
    r[O::Selected] = p.Selected ? 255 : 0;
    PutDouble(r, O::ChangeDetectedTime, p.ChangeDetectedTime);
    return r;
}

void DecodeProfileRecord(std::span<const uint8_t> bytes, TSyncProfile& p) {
    namespace O = SyncProfileOffset;
    TSyncProfileRecord r{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), r.size()), r.begin());
    p.Options = TFileSyncOptions::FromBits(GetU32(r, O::Options));
    p.DetectInterval = GetTime(r, O::DetectInterval);
    p.SyncDelay = GetTime(r, O::SyncDelay);
    p.LastDetectTime = GetTime(r, O::LastDetectTime);
    p.DetectOnly = r[O::DetectOnly] != 0;
    p.ChangeCount = static_cast<int32_t>(GetU32(r, O::ChangeCount));
    p.Selected = r[O::Selected] != 0;
    p.ChangeDetectedTime = GetTime(r, O::ChangeDetectedTime);
}

std::string ProfileRecordToHex(const TSyncProfile& p) {
    TSyncProfileRecord r = EncodeProfileRecord(p);
    return BufferToHex(std::span<const uint8_t>(r));
}

bool ProfileRecordFromHex(std::string_view hex, TSyncProfile& p) {
    bool readable = hex.size() % 2 == 0 &&
                    std::all_of(hex.begin(), hex.end(), [](char c) { return HexDigit(c) >= 0; });
    TSyncProfileRecord r{};
    if (readable) HexToBuffer(hex.substr(0, SyncProfileHexSize), std::span<uint8_t>(r));
    DecodeProfileRecord(r, p);
    return readable;
}

// --- Profile lines -------------------------------------------------------------------------

std::string ProfileLine(std::string_view source, std::string_view dest) {
    std::string line(source);
    line += " -> ";
    line += dest;
    return line;
}

std::string ProfileSource(std::string_view line) {
    size_t arrow = line.find("-> ");
    if (arrow == std::string_view::npos) return std::string(line);
    // The blank in front of the arrow belongs to the separator; any other character is
    // part of the source.
    if (arrow > 0 && line[arrow - 1] == ' ') --arrow;
    return std::string(line.substr(0, arrow));
}

std::string ProfileDest(std::string_view line) {
    size_t arrow = line.find("-> ");
    if (arrow == std::string_view::npos) return {};
    return std::string(line.substr(arrow + 3));
}

// --- Intervals -----------------------------------------------------------------------------

std::string FormatInterval(double days) {
    if (!std::isfinite(days) || days < 0) days = 0;
    if (days > MaxIntervalDays) days = MaxIntervalDays;
    // Whole seconds, so that a value a hair below a day boundary does not show a day
    // count that disagrees with its time of day.
    days = std::round(days * 86400.0) / 86400.0;
    std::string text = FormatElapsed("hh:mm:ss", days);
    size_t colon = text.find(':');
    if (colon < 3) text.insert(0, 3 - colon, ' ');
    return text;
}

std::optional<double> ParseInterval(std::string_view text) {
    std::array<int64_t, 4> fields{};
    size_t field = 0, start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ':') continue;
        if (field >= fields.size()) return std::nullopt;
        std::string piece = Trim(text.substr(start, i - start));
        if (piece.size() > 9) return std::nullopt;
        int64_t v = 0;
        for (char c : piece) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + (c - '0');
        }
        fields[field++] = v;
        start = i + 1;
    }
    if (field != fields.size()) return std::nullopt;
    double days = double(fields[0]) + double(fields[1]) / 24.0 + double(fields[2]) / 1440.0 +
                  double(fields[3]) / 86400.0;
    return std::min(days, MaxIntervalDays);
}

// --- Drive check ---------------------------------------------------------------------------

bool IsLocalLocation(std::string_view location) {
    return PartsClassFor(location) == &TDirectoryParts::Create;
}

std::string LocalRootFolder(std::string_view location) {
    if (!IsLocalLocation(location)) return {};
    std::string_view head = location.substr(0, location.find_first_of("<*?"));
    size_t slash = head.rfind('/');
    if (slash == std::string_view::npos) return {};
    std::string root(head.substr(0, slash + 1));
    return IsLocalAbsolutePath(root) ? root : std::string();
}

bool IsZipLocation(std::string_view location) {
    return PartsClassFor(location) == &TZipFileParts::Create;
}

std::string ZipArchiveOf(std::string_view location) {
    if (!IsZipLocation(location)) return {};
    TZipFileParts parts(DefaultLocationOwner());
    parts.SetLocation(std::string(location));
    return parts.IsValid() ? parts.Path : std::string();
}

std::string SyncRootFolder(std::string_view location) {
    if (IsLocalLocation(location)) return LocalRootFolder(location);
    const std::string archive = ZipArchiveOf(location);
    if (archive.empty()) return {};
    const std::string top = "zip://" + archive + "/";
    std::string_view head = location.substr(0, location.find_first_of("<*?"));
    size_t slash = head.rfind('/');
    std::string root = slash == std::string_view::npos ? std::string() : std::string(head.substr(0, slash + 1));
    return root.size() >= top.size() && root.compare(0, top.size(), top) == 0 ? root : top;
}

TProfileDrives CheckProfileDrives(std::string_view line, const TSyncProfile& profile) {
    TProfileDrives result;
    std::string source = ProfileSource(line), dest = ProfileDest(line);
    if (IsLocalLocation(source)) {
        std::string root = LocalRootFolder(source);
        result.SourceAvailable = !root.empty() && DirectoryExists(root);
    } else if (IsZipLocation(source)) {
        std::error_code ec;
        const std::string archive = ZipArchiveOf(source);
        result.SourceAvailable = !archive.empty() && std::filesystem::is_regular_file(archive, ec);
    }
    if (!dest.empty() && IsLocalLocation(dest)) {
        std::string root = LocalRootFolder(dest);
        if (root.empty()) result.DestAvailable = false;
        else if (!DirectoryExists(root) && profile.HasHistory()) result.DestAvailable = false;
    } else if (IsZipLocation(dest)) {
        // An archive that went missing (an unmounted disk) is no empty archive either.
        std::error_code ec;
        const std::string archive = ZipArchiveOf(dest);
        if (archive.empty() || (!std::filesystem::is_regular_file(archive, ec) && profile.HasHistory()))
            result.DestAvailable = false;
    }
    return result;
}

// --- The profile list ----------------------------------------------------------------------

TSyncProfileList::TEntry& TSyncProfileList::At(int i) {
    if (i < 0 || i >= Count())
        throw std::out_of_range("Profile index out of bounds (" + std::to_string(i) + ")");
    return FItems[static_cast<size_t>(i)];
}

const TSyncProfileList::TEntry& TSyncProfileList::At(int i) const {
    return const_cast<TSyncProfileList*>(this)->At(i);
}

int TSyncProfileList::Add(std::string line, std::unique_ptr<TSyncProfile> profile) {
    if (!profile) profile = NewProfile(true);
    FItems.push_back({std::move(line), std::move(profile)});
    return Count() - 1;
}

void TSyncProfileList::Delete(int i) {
    At(i);
    FItems.erase(FItems.begin() + i);
}

void TSyncProfileList::Exchange(int i, int j) { std::swap(At(i), At(j)); }

void TSyncProfileList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(), [](const TEntry& a, const TEntry& b) {
        return CompareText(a.Line, b.Line) < 0;
    });
}

TQNStringList TSyncProfileList::Lines() const {
    TQNStringList lines;
    for (const TEntry& e : FItems) lines.Add(e.Line);
    return lines;
}

// --- The hand-over around a run ------------------------------------------------------------

void GiveProfilesToEngine(TSyncProfileList& document, TSyncProfileList& engine) {
    engine.Clear();
    for (int i = 0; i < document.Count(); ++i) {
        TSyncProfile& p = document.Profile(i);
        std::unique_ptr<TSyncProfile> copy = NewProfile(false);
        MoveProfile(p.EngineCopy ? *p.EngineCopy : p, *copy);
        CopyProfileSettings(p, *copy);
        engine.Add(document.Line(i), std::move(copy));
    }
}

void TakeProfilesFromEngine(TSyncProfileList& engine, TSyncProfileList& document) {
    for (int i = 0; i < document.Count() && i < engine.Count(); ++i) {
        TSyncProfile& p = document.Profile(i);
        TSyncProfile& kept = p.EngineCopy ? *p.EngineCopy : p;  // what is saved
        const bool selected = p.Selected;
        MoveProfile(engine.Profile(i), kept);
        kept.Selected = p.Selected = selected;
        p.Options = kept.Options;
    }
}
