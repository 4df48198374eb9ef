#include "sync/SyncUpgrade.h"

#include "common/QNStringUtils.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"
#include "locations/BackupFileParts.h"
#include "locations/URLParts.h"
#include "sync/SyncLayout.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view UpgradingStatus = "Upgrading file.  Please wait.";

TQNStringList ProfileLinesOf(TQNMemIniFile& store) {
    const TQNStringList* lines = store.FindSection(SyncSection::Profiles);
    return lines ? *lines : TQNStringList();
}

std::vector<std::string> SectionNames(const TQNMemIniFile& store) {
    std::vector<std::string> names;
    for (int i = 0; i < store.SectionCount(); ++i) names.push_back(store.SectionName(i));
    return names;
}

// Appends the lines of section From to section To (created when missing) and erases From.
void MoveSectionLines(TQNMemIniFile& store, std::string_view from, std::string_view to) {
    const TQNStringList* src = store.FindSection(from);
    if (src == nullptr) return;
    TQNStringList lines = *src;
    store.EraseSection(from);
    store.GetSection(to).AddStrings(lines);
}

// Calls Edit with the value of every "Option" line of every section.
template <class F> void ForEachOptionValue(TQNMemIniFile& store, F edit) {
    for (const std::string& name : SectionNames(store)) {
        TQNStringList& lines = store.GetSection(name);
        int k = lines.IndexOfName("Option");
        if (k < 0) continue;
        std::string value = lines.ValueFromIndex(k);
        if (edit(value)) lines.SetString(k, lines.Names(k) + "=" + value);
    }
}

// Clears the option byte Byte (0 … 3) of a stored record value: its two hexadecimal
// characters become "00". Values too short to hold the byte stay as they are.
void ClearOptionByte(TQNMemIniFile& store, size_t byte) {
    ForEachOptionValue(store, [byte](std::string& value) {
        if (value.size() < 2 * byte + 2) return false;
        value.replace(2 * byte, 2, "00");
        return true;
    });
}

bool IsHexText(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return HexDigit(c) >= 0; });
}

uint32_t HexU32(std::string_view hex8) {
    std::array<uint8_t, 4> b{};
    HexToBuffer(hex8, std::span<uint8_t>(b));
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

std::string U32Hex(uint32_t v) {
    std::array<uint8_t, 4> b{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return BufferToHex(std::span<const uint8_t>(b));
}

// Calls Edit with every history information string of every profile.
template <class F> void ForEachHistoryInfo(TQNMemIniFile& store, F edit) {
    int count = ProfileLinesOf(store).Count();
    for (int i = 0; i < count; ++i) {
        TQNStringList* infos = store.FindSection(SyncSection::FileInfo(i));
        if (infos == nullptr) continue;
        for (int k = 0; k < infos->Count(); ++k) {
            std::string info = infos->Strings(k);
            if (edit(info)) infos->SetString(k, std::move(info));
        }
    }
}

// A profile line that would name one of the document's own sections.
bool NamesDocumentSection(std::string_view line) {
    return SameText(line, SyncSection::Options) || SameText(line, SyncSection::Profiles) ||
           SameText(line, SyncSection::Log) || SameText(line, SyncSection::LogStats) ||
           CompareText(line.substr(0, 8), "Profile-") == 0;
}

// --- The steps -----------------------------------------------------------------------------

void OldLayout(TQNMemIniFile& store, ISyncPrompter& prompter) {
    bool old = false;
    auto found = [&store, &old](std::string_view name) {
        bool there = store.SectionExists(name);
        old = old || there;
        return there;
    };
    if (found("SyncList")) MoveSectionLines(store, "SyncList", SyncSection::Profiles);
    if (found("QuennickComponents")) store.EraseSection("QuennickComponents");
    if (found("DialogLog")) MoveSectionLines(store, "DialogLog", SyncSection::Options);
    if (found("FileMirrowyn_Log")) MoveSectionLines(store, "FileMirrowyn_Log", SyncSection::Log);
    // History sections of name=info lines become a list of names and a list of infos;
    // a history that already has its info list is split already.
    for (const auto& item : ProfileLinesOf(store)) {
        std::string names = "Files-" + item.Str, infosName = names + "\"FileInfo";
        TQNStringList* lines = store.FindSection(names);
        if (lines == nullptr || store.SectionExists(infosName)) continue;
        TQNStringList nameList, infoList;
        for (const auto& line : *lines) {
            size_t eq = line.Str.rfind('=');
            nameList.Add(eq == std::string::npos ? line.Str : line.Str.substr(0, eq));
            infoList.Add(eq == std::string::npos ? std::string() : line.Str.substr(eq + 1));
        }
        lines->Assign(nameList);
        store.GetSection(infosName).Assign(infoList);
    }
    if (old)
        prompter.ShowMessage(
            "To save space, the right side file explorer has been removed\r\n"
            "The left-side file/folder explorer can be used for the destination.");
}

void MergeDefaultOptions(TQNMemIniFile& store, ISyncPrompter&) {
    TQNStringList& options = store.GetSection(SyncSection::Options);
    for (const auto& line : DefaultSyncOptionLines()) {
        std::string key = line.Str.substr(0, line.Str.find('='));
        if (options.IndexOfName(key) < 0) options.Add(line.Str);
    }
}

void ClearOptionBits16(TQNMemIniFile& store, ISyncPrompter&) { ClearOptionByte(store, 2); }

void ResetBackupLabel(TQNMemIniFile& store, ISyncPrompter&) {
    store.WriteString(SyncSection::Options, "BackupLabel", TBackupPattern::DefaultPattern);
}

void SiblingSectionNames(TQNMemIniFile& store, ISyncPrompter&) {
    const TQNStringUtils& su = QNStringUtils();
    for (const std::string& name : SectionNames(store)) {
        std::string renamed = name;
        for (std::string_view old : {":FileInfo", "*FileInfo"})
            renamed = su.ReplaceText(renamed, old, "\"FileInfo", false);
        for (std::string_view old : {":Stats", "*Stats"})
            renamed = su.ReplaceText(renamed, old, "\"Stats", false);
        if (renamed != name && !store.SectionExists(renamed)) store.RenameSection(name, renamed);
    }
}

void IndexedSections(TQNMemIniFile& store, ISyncPrompter&) {
    TQNStringList lines = ProfileLinesOf(store);
    std::vector<std::string> moved;
    auto copy = [&store, &moved](const std::string& from, const std::string& to) {
        const TQNStringList* src = store.FindSection(from);
        if (src == nullptr || store.SectionExists(to)) return;
        TQNStringList content = *src;
        store.GetSection(to).Assign(content);
        moved.push_back(from);
    };
    // Copies first and erases afterwards: two profiles with the same line shared their
    // sections, and each keeps them.
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& line = lines[i];
        if (!NamesDocumentSection(line)) copy(line, SyncSection::Profile(i));
        copy("Files-" + line, SyncSection::Files(i));
        copy("Files-" + line + "\"FileInfo", SyncSection::FileInfo(i));
        copy("Files-" + line + "\"Stats", SyncSection::Stats(i));
    }
    for (const std::string& name : moved) store.EraseSection(name);
}

void ClearOptionBits24(TQNMemIniFile& store, ISyncPrompter&) { ClearOptionByte(store, 3); }

void HistoryTimesToUtc(TQNMemIniFile& store, ISyncPrompter& prompter) {
    prompter.ShowStatus(std::string(UpgradingStatus));
    ForEachHistoryInfo(store, [](std::string& info) {
        if (info.size() < 8 || !IsHexText(info.substr(0, 8))) return false;
        uint32_t time = HexU32(info.substr(0, 8));
        // 0 (no date) and 1980-01-01 00:00 (no such file) are markers, not times.
        if (time == 0 || time == DosTimeEarliest) return false;
        info.replace(0, 8, U32Hex(LocalToUtcDosTime(time)));
        return true;
    });
}

void WidenHistoryInfos(TQNMemIniFile& store, ISyncPrompter& prompter) {
    prompter.ShowStatus(std::string(UpgradingStatus));
    ForEachHistoryInfo(store, [](std::string& info) {
        // Only records of the old width: 12 bytes, 24 digits.
        if (info.size() != 24 || !IsHexText(info)) return false;
        TFileInfoRec rec;
        rec.Time = HexU32(info.substr(0, 8));
        rec.Size = static_cast<int32_t>(HexU32(info.substr(8, 8)));
        rec.Attributes = HexU32(info.substr(16, 8));
        info = rec.ToHex();
        return true;
    });
}

void StartupProgramIcons(TQNMemIniFile& store, ISyncPrompter&) {
    store.WriteString(SyncSection::Options, "StartupProgramIcons", "1");
}

constexpr std::array<TSyncUpgradeStep, 10> Steps = {{
    {"2.02", &OldLayout},
    {"2.04", &MergeDefaultOptions},
    {"2.06", &ClearOptionBits16},
    {"2.10", &ResetBackupLabel},
    {"2.491", &SiblingSectionNames},
    {"2.571", &IndexedSections},
    {"3.05", &ClearOptionBits24},
    {"3.021", &HistoryTimesToUtc},
    {"3.212", &WidenHistoryInfos},
    {"3.39", &StartupProgramIcons},
}};

}  // namespace

std::span<const TSyncUpgradeStep> SyncUpgradeSteps() { return Steps; }

bool VersionBefore(std::string_view storedVersion, std::string_view threshold) {
    return CompareStr(storedVersion, threshold) < 0;
}

std::vector<std::string> UpgradeSyncDocument(TQNMemIniFile& store, std::string_view storedVersion,
                                             ISyncPrompter& prompter) {
    std::vector<std::string> ran;
    for (const TSyncUpgradeStep& step : Steps) {
        if (!VersionBefore(storedVersion, step.Threshold)) continue;
        step.Run(store, prompter);
        ran.emplace_back(step.Threshold);
    }
    return ran;
}
