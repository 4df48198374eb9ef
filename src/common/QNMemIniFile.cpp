#include "common/QNMemIniFile.h"

#include "common/SafeFile.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"

#include <algorithm>
#include <cerrno>
#include <limits>

namespace {

bool HasLineBreak(std::string_view s) {
    for (char c : s)
        if (c == '\r' || c == '\n') return true;
    return false;
}

// Appends S with every line break as the character 5.
void AppendEncoded(std::string& out, std::string_view s) {
    if (!HasLineBreak(s)) {
        out += s;
        return;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\r') {
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
            out += IniLineBreakChar;
        } else if (c == '\n') {
            out += IniLineBreakChar;
        } else {
            out += c;
        }
    }
}

std::string LineFor(std::string_view s) {
    std::string r;
    AppendEncoded(r, s);
    return r;
}

bool IsMissingFileError(int err) { return err == ENOENT || err == ENOTDIR; }

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

}  // namespace

std::string EncodeIniLineBreaks(std::string_view s) { return LineFor(s); }

std::string DecodeIniLineBreaks(std::string_view s) {
    if (s.find(IniLineBreakChar) == std::string_view::npos) return std::string(s);
    std::string r;
    r.reserve(s.size() + 8);
    for (char c : s) {
        if (c == IniLineBreakChar) r += "\r\n";
        else r += c;
    }
    return r;
}

// ---------------------------------------------------------------------------------------
// TCustomIniFile

TCustomIniFile::TCustomIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

TCustomIniFile::~TCustomIniFile() = default;

int TCustomIniFile::ReadInteger(std::string_view section, std::string_view name, int def) const {
    std::string s = ReadString(section, name, "");
    std::optional<int64_t> v = TryStrToInt64(s);
    if (!v) return def;
    size_t i = s.find_first_not_of(' ');
    bool negative = false;
    if (s[i] == '-' || s[i] == '+') {
        negative = s[i] == '-';
        ++i;
    }
    bool hex = i < s.size() && (s[i] == '$' || (s[i] == '0' && i + 1 < s.size() &&
                                                (s[i + 1] == 'x' || s[i + 1] == 'X')));
    if (hex && !negative) {
        // A 32-bit pattern; a wider one is out of range.
        if (*v < 0 || *v > 0xFFFFFFFFLL) return def;
        return static_cast<int>(static_cast<uint32_t>(*v));
    }
    if (*v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max())
        return def;
    return static_cast<int>(*v);
}

void TCustomIniFile::WriteInteger(std::string_view section, std::string_view name, int value) {
    WriteString(section, name, IntToStr(value));
}

bool TCustomIniFile::ReadBool(std::string_view section, std::string_view name, bool def) const {
    return ReadInteger(section, name, def ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(std::string_view section, std::string_view name, bool value) {
    WriteString(section, name, value ? "1" : "0");
}

TDateTime TCustomIniFile::ReadDate(std::string_view section, std::string_view name,
                                   TDateTime def) const {
    std::string s = ReadString(section, name, "");
    if (s.empty()) return def;
    return TryStrToDate(s).value_or(def);
}

TDateTime TCustomIniFile::ReadDateTime(std::string_view section, std::string_view name,
                                       TDateTime def) const {
    std::string s = ReadString(section, name, "");
    if (s.empty()) return def;
    return TryStrToDateTime(s).value_or(def);
}

double TCustomIniFile::ReadFloat(std::string_view section, std::string_view name,
                                 double def) const {
    std::string s = ReadString(section, name, "");
    if (s.empty()) return def;
    return TryStrToFloat(s).value_or(def);
}

TDateTime TCustomIniFile::ReadTime(std::string_view section, std::string_view name,
                                   TDateTime def) const {
    std::string s = ReadString(section, name, "");
    if (s.empty()) return def;
    return TryStrToTime(s).value_or(def);
}

void TCustomIniFile::WriteDate(std::string_view section, std::string_view name, TDateTime value) {
    WriteString(section, name, DateToStr(value));
}

void TCustomIniFile::WriteDateTime(std::string_view section, std::string_view name,
                                   TDateTime value) {
    WriteString(section, name, DateTimeToStr(value));
}

void TCustomIniFile::WriteFloat(std::string_view section, std::string_view name, double value) {
    WriteString(section, name, FloatToStr(value));
}

void TCustomIniFile::WriteTime(std::string_view section, std::string_view name, TDateTime value) {
    WriteString(section, name, TimeToStr(value));
}

// ---------------------------------------------------------------------------------------
// TMemIniFile

TMemIniFile::TMemIniFile(std::string fileName)
    : TMemIniFile(std::move(fileName), "[]", false, TDeferLoad{}) {
    Load();
}

TMemIniFile::TMemIniFile(std::string fileName, std::string_view brackets, bool sortedIndex,
                         TDeferLoad)
    : TCustomIniFile(std::move(fileName)), FSortedIndex(sortedIndex) {
    SetBrackets(brackets);
}

TMemIniFile::~TMemIniFile() = default;

std::vector<std::string_view> TMemIniFile::ReadLinesOf(const std::string& fileName,
                                                       std::string& text) {
    text.clear();
    if (fileName.empty()) return {};
    try {
        text = ReadFileBytes(fileName);
    } catch (const EFileError& e) {
        if (IsMissingFileError(e.ErrorCode())) return {};
        throw;
    }
    std::string_view body(text);
    if (body.substr(0, Utf8Bom.size()) == Utf8Bom) body.remove_prefix(Utf8Bom.size());
    return SplitLines(body);
}

void TMemIniFile::Load() {
    std::string text;
    std::vector<std::string_view> lines = ReadLinesOf(FFileName, text);
    DoSetLines(lines);
}

void TMemIniFile::Rename(const std::string& fileName) {
    if (fileName == FFileName) return;
    std::string text;
    std::vector<std::string_view> lines = ReadLinesOf(fileName, text);
    DoSetLines(lines);
    FFileName = fileName;
}

void TMemIniFile::SetBrackets(std::string_view pair) {
    if (pair.size() != 2)
        throw EIniFileError("A header bracket pair needs two characters, not \"" +
                            std::string(pair) + "\"");
    FBrackets = std::string(pair);
}

size_t TMemIniFile::SortedPos(std::string_view name) const {
    auto it = std::lower_bound(FSections.begin(), FSections.end(), name,
                               [](const TSection& s, std::string_view n) {
                                   return CompareText(s.Name, n) < 0;
                               });
    return static_cast<size_t>(it - FSections.begin());
}

int TMemIniFile::IndexOfSection(std::string_view name) const {
    if (FSortedIndex) {
        size_t pos = SortedPos(name);
        if (pos < FSections.size() && CompareText(FSections[pos].Name, name) == 0)
            return static_cast<int>(pos);
        return -1;
    }
    for (size_t i = 0; i < FSections.size(); ++i)
        if (CompareText(FSections[i].Name, name) == 0) return static_cast<int>(i);
    return -1;
}

TQNStringList* TMemIniFile::FindSection(std::string_view name) {
    int i = IndexOfSection(name);
    return i < 0 ? nullptr : FSections[static_cast<size_t>(i)].Lines.get();
}

const TQNStringList* TMemIniFile::FindSection(std::string_view name) const {
    int i = IndexOfSection(name);
    return i < 0 ? nullptr : FSections[static_cast<size_t>(i)].Lines.get();
}

const std::string* TMemIniFile::StoredSectionName(std::string_view name) const {
    int i = IndexOfSection(name);
    return i < 0 ? nullptr : &FSections[static_cast<size_t>(i)].Name;
}

const std::string& TMemIniFile::SectionName(int index) const {
    if (index < 0 || index >= SectionCount())
        throw EIniFileError("Section index out of bounds (" + std::to_string(index) + ")");
    return FSections[static_cast<size_t>(index)].Name;
}

const TQNStringList& TMemIniFile::SectionLines(int index) const {
    if (index < 0 || index >= SectionCount())
        throw EIniFileError("Section index out of bounds (" + std::to_string(index) + ")");
    return *FSections[static_cast<size_t>(index)].Lines;
}

TQNStringList& TMemIniFile::MutableSectionLines(int index) {
    return const_cast<TQNStringList&>(static_cast<const TMemIniFile*>(this)->SectionLines(index));
}

TQNStringList& TMemIniFile::AddSection(std::string_view name) {
    TSection entry{std::string(name), std::make_unique<TQNStringList>()};
    TQNStringList& lines = *entry.Lines;
    if (!FSortedIndex) {
        FSections.push_back(std::move(entry));
        return lines;
    }
    size_t pos = SortedPos(name);
    if (pos < FSections.size() && CompareText(FSections[pos].Name, name) == 0)
        return *FSections[pos].Lines;
    FSections.insert(FSections.begin() + static_cast<std::ptrdiff_t>(pos), std::move(entry));
    return lines;
}

bool TMemIniFile::RenameSectionEntry(std::string_view oldName, std::string_view newName) {
    int i = IndexOfSection(oldName);
    if (i < 0) return false;
    int other = IndexOfSection(newName);
    if (other >= 0 && other != i) return false;
    auto pos = FSections.begin() + i;
    if (!FSortedIndex) {
        pos->Name = std::string(newName);
        return true;
    }
    TSection entry = std::move(*pos);
    FSections.erase(pos);
    entry.Name = std::string(newName);
    size_t at = SortedPos(entry.Name);
    FSections.insert(FSections.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    return true;
}

void TMemIniFile::Clear() { FSections.clear(); }

std::string TMemIniFile::ReadString(std::string_view section, std::string_view name,
                                    std::string_view def) const {
    const TQNStringList* lines = FindSection(section);
    if (lines == nullptr) return std::string(def);
    int i = lines->IndexOfName(LineFor(name));
    if (i < 0) return std::string(def);
    return DecodeIniLineBreaks(lines->ValueFromIndex(i));
}

void TMemIniFile::WriteString(std::string_view section, std::string_view name,
                              std::string_view value) {
    std::string key = LineFor(name);
    if (key.find('=') != std::string::npos)
        throw EIniFileError("A value name cannot hold \"=\": \"" + key + "\"");
    std::string line = key + "=";
    AppendEncoded(line, value);
    if (line.size() >= 2 && line.front() == FBrackets[0] && line.back() == FBrackets[1])
        throw EIniFileError("The value \"" + key + "\" would read back as a section header");
    TQNStringList* lines = FindSection(section);
    if (lines == nullptr) lines = &AddSection(section);
    int i = lines->IndexOfName(key);
    if (i < 0) {
        lines->Add(std::move(line));
    } else if (!lines->Sorted()) {
        lines->SetString(i, std::move(line));
    } else {
        lines->Delete(i);
        lines->Add(std::move(line));
    }
}

void TMemIniFile::ReadSection(std::string_view section, TQNStringList& strings) const {
    strings.Clear();
    const TQNStringList* lines = FindSection(section);
    if (lines == nullptr) return;
    for (int i = 0; i < lines->Count(); ++i) strings.Add(lines->Names(i));
}

void TMemIniFile::ReadSections(TQNStringList& strings) const {
    strings.Clear();
    for (const TSection& s : FSections) strings.Add(s.Name);
}

void TMemIniFile::ReadSectionValues(std::string_view section, TQNStringList& strings) const {
    strings.Clear();
    const TQNStringList* lines = FindSection(section);
    if (lines != nullptr) strings.AddStrings(*lines);
}

void TMemIniFile::EraseSection(std::string_view section) {
    int i = IndexOfSection(section);
    if (i >= 0) FSections.erase(FSections.begin() + i);
}

void TMemIniFile::DeleteKey(std::string_view section, std::string_view name) {
    TQNStringList* lines = FindSection(section);
    if (lines == nullptr) return;
    int i = lines->IndexOfName(LineFor(name));
    if (i >= 0) lines->Delete(i);
}

std::string TMemIniFile::Text() const {
    size_t size = 0;
    for (const TSection& s : FSections) {
        size += s.Name.size() + 6;
        for (const auto& item : *s.Lines) size += item.Str.size() + 2;
    }
    std::string r;
    r.reserve(size);
    for (const TSection& s : FSections) {
        r += FBrackets[0];
        AppendEncoded(r, s.Name);
        r += FBrackets[1];
        r += "\r\n";
        for (const auto& item : *s.Lines) {
            AppendEncoded(r, item.Str);
            r += "\r\n";
        }
        r += "\r\n";
    }
    return r;
}

void TMemIniFile::GetStrings(TQNStringList& lines) const {
    for (const TSection& s : FSections) {
        lines.Add(FBrackets.substr(0, 1) + LineFor(s.Name) + FBrackets.substr(1, 1));
        for (const auto& item : *s.Lines) lines.Add(LineFor(item.Str));
        lines.Add(std::string());
    }
}

void TMemIniFile::UpdateFile() {
    if (FFileName.empty()) throw EIniFileError("Cannot save the settings: no file name is set");
    WriteFileAtomic(FFileName, Text());
}

void TMemIniFile::Swap(TMemIniFile& other) noexcept {
    std::swap(FFileName, other.FFileName);
    std::swap(FSections, other.FSections);
    std::swap(FBrackets, other.FBrackets);
    std::swap(FSortedIndex, other.FSortedIndex);
}

void TMemIniFile::SetStrings(const TQNStringList& lines) {
    std::vector<std::string_view> views;
    views.reserve(static_cast<size_t>(lines.Count()));
    for (const auto& item : lines) views.emplace_back(item.Str);
    DoSetLines(views);
}

void TMemIniFile::DoSetLines(std::span<const std::string_view> lines) {
    ParseLines(lines, FBrackets[0], FBrackets[1]);
}

void TMemIniFile::ParseLines(std::span<const std::string_view> lines, char open, char close) {
    // Build the new index completely before replacing the old one, so that Lines may
    // come from this store's own sections and a failure leaves the store as it was.
    std::vector<TSection> parsed;
    TQNStringList* current = nullptr;
    auto closeSection = [&current] {
        if (current != nullptr && current->Count() > 0 &&
            current->Strings(current->Count() - 1).empty())
            current->Delete(current->Count() - 1);
    };
    for (std::string_view line : lines) {
        if (line.size() >= 2 && line.front() == open && line.back() == close) {
            closeSection();
            parsed.push_back({std::string(line.substr(1, line.size() - 2)),
                              std::make_unique<TQNStringList>()});
            current = parsed.back().Lines.get();
        } else if (current != nullptr) {
            current->Add(std::string(line));
        }
    }
    closeSection();
    if (FSortedIndex && parsed.size() > 1) {
        // A repeated header adds its lines to the first section of that name.
        std::stable_sort(parsed.begin(), parsed.end(), [](const TSection& a, const TSection& b) {
            return CompareText(a.Name, b.Name) < 0;
        });
        std::vector<TSection> merged;
        merged.reserve(parsed.size());
        for (TSection& s : parsed) {
            if (!merged.empty() && CompareText(merged.back().Name, s.Name) == 0)
                merged.back().Lines->AddStrings(*s.Lines);
            else
                merged.push_back(std::move(s));
        }
        parsed = std::move(merged);
    }
    FSections = std::move(parsed);
}

// ---------------------------------------------------------------------------------------
// TQNMemIniFile

TQNMemIniFile::TQNMemIniFile(std::string fileName)
    : TMemIniFile(std::move(fileName), "[]", false, TDeferLoad{}) {
    Load();
}

TQNMemIniFile::TQNMemIniFile(std::string fileName, std::string_view brackets, bool sortedIndex,
                             TDeferLoad tag)
    : TMemIniFile(std::move(fileName), brackets, sortedIndex, tag) {}

TQNStringList& TQNMemIniFile::GetSection(std::string_view name) {
    TQNStringList* lines = FindSection(name);
    return lines != nullptr ? *lines : AddSection(name);
}

bool TQNMemIniFile::RenameSection(std::string_view oldName, std::string_view newName) {
    return RenameSectionEntry(oldName, newName);
}

bool TQNMemIniFile::SectionExists(std::string_view section) const {
    return IndexOfSection(section) >= 0;
}

// ---------------------------------------------------------------------------------------
// TFMWMemIniFile

TFMWMemIniFile::TFMWMemIniFile(std::string fileName)
    : TFMWMemIniFile(std::move(fileName), TDeferLoad{}) {
    Load();
}

TFMWMemIniFile::TFMWMemIniFile(std::string fileName, TDeferLoad tag)
    : TQNMemIniFile(std::move(fileName), "<>", true, tag) {}

void TFMWMemIniFile::DoSetLines(std::span<const std::string_view> lines) {
    auto isHeader = [](std::string_view l, char open, char close) {
        return l.size() >= 2 && l.front() == open && l.back() == close;
    };
    auto first = std::find_if(lines.begin(), lines.end(), [&](std::string_view l) {
        return isHeader(l, '[', ']') || isHeader(l, '<', '>');
    });
    if (first == lines.end()) Clear();  // no header in either style: nothing to keep
    else if (first->front() == '[') ParseLines(lines, '[', ']');
    else ParseLines(lines, '<', '>');
    SetBrackets("<>");
}

void TFMWMemIniFile::GetStrings(TQNStringList& lines, bool clearFirst) const {
    if (clearFirst) lines.Clear();
    GetStrings(lines);
}

void TFMWMemIniFile::SaveAs(const std::string& fileName) {
    WriteFileAtomic(fileName, Text());
    FFileName = fileName;
}

size_t TFMWMemIniFile::ReadHex(std::string_view section, std::string_view name,
                               std::span<uint8_t> buffer, size_t size,
                               std::string_view def) const {
    return HexToBuffer(ReadString(section, name, def), buffer, size);
}

void TFMWMemIniFile::WriteHex(std::string_view section, std::string_view name,
                              std::span<const uint8_t> buffer) {
    WriteString(section, name, BufferToHex(buffer));
}

void TFMWMemIniFile::MergeFrom(const TMemIniFile& other) {
    for (int i = 0; i < other.SectionCount(); ++i) {
        // A copy, in case Other is this store.
        TQNStringList incoming = other.SectionLines(i);
        TQNStringList& lines = GetSection(other.SectionName(i));
        bool wasSorted = lines.Sorted();
        TDuplicates wasDuplicates = lines.Duplicates();
        lines.SetDuplicates(TDuplicates::dupIgnore);
        lines.SetSorted(true);
        lines.AddStrings(incoming);
        lines.SetSorted(wasSorted);
        lines.SetDuplicates(wasDuplicates);
    }
}

TQNStringList& TFMWMemIniFile::SectionByIndex(int index) { return MutableSectionLines(index); }
