#include "locations/BackupFileParts.h"

#include "locations/DirectoryParts.h"
#include "locations/LocationOwner.h"
#include "common/Streams.h"
#include "locations/ZipFileParts.h"

#include "common/EngineContract.h"
#include "common/SafeFile.h"
#include "common/SysUtils.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <sys/stat.h>

namespace {

// CounterText as a version number: decimal digits only; -1 for anything else.
int CounterValue(std::string_view text) {
    if (text.empty() || text.size() > 9) return -1;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool HasPrefix(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// --- Masks ---------------------------------------------------------------------------------

std::string EscapeMaskChars(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 8);
    for (char c : name) {
        if (c == '[' || c == '*' || c == '?' || c == '|') {
            out += '[';
            out += c;
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::string> SplitMasks(std::string_view masks) {
    std::vector<std::string> out;
    std::string cur;
    for (size_t i = 0; i < masks.size(); ++i) {
        char c = masks[i];
        if (c == '[') {
            // A set runs to the next "]"; its members are never separators. A "[" that
            // never closes is left to the mask itself to report.
            size_t close = masks.find(']', i + 1);
            if (close != std::string_view::npos) {
                cur.append(masks.substr(i, close + 1 - i));
                i = close;
                continue;
            }
        }
        if (c == '|') {
            out.push_back(std::move(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(std::move(cur));
    return out;
}

// --- TBackupFileParts ----------------------------------------------------------------------

TBackupFileParts::TBackupFileParts(TLocationOwner* owner)
    : TParts(owner), Target(TURLParts::Create(Owner)) {}

TBackupFileParts::~TBackupFileParts() {
    // The wrapped object deletes the file when it goes.
    if (Temporary && Target) Target->Temporary = true;
}

std::string TBackupFileParts::GetLocation() {
    Location = Target->GetLocation();
    return Location;
}

void TBackupFileParts::SetLocation(const std::string& location, const std::string& info,
                                   const std::string& comment) {
    Location = location;
    Target = CreateParts(Owner, location, info, comment);
    CounterText = "0";
    Counter = 0;
    DiffSuffix.clear();
    ExtraSuffix.clear();
    ParseBackupName();
}

void TBackupFileParts::ParseBackupName() {
    TURLParts& t = *Target;
    // Only an extension that is ".diff" marks a difference file (not ".different").
    if (SameText(t.Extension, ".diff")) DiffSuffix = t.Extension;
    std::string file, ctr, ext;
    if (!t.Name.empty() && Owner->BackupPattern().Parse(t.BaseName, file, ctr, ext)) {
        t.BaseName = file;
        CounterText = ctr;
        Counter = CounterValue(ctr);
        if (!ext.empty()) {
            ExtraSuffix = t.Extension;
            t.Extension = ext;
        }
    }
    if (Counter == -1) {
        const std::string lower = LowerCase(ExtraSuffix);
        if (lower == ".ini") Counter = -2;
        else if (lower != ".zip") ExtraSuffix.clear();
    }
}

void TBackupFileParts::RebuildName() {
    std::string ctr;
    if (Counter == -1) {
        ctr = "(x)";
        ExtraSuffix = ".zip";
        DiffSuffix.clear();
    } else if (Counter == -2) {
        ctr = "(x)";
        ExtraSuffix = ".ini";
        DiffSuffix.clear();
    } else if (Counter > 0) {
        ctr = "(" + IntToStr(Counter) + ")";
        ExtraSuffix.clear();
    } else if (Counter < 0) {
        ctr = "(" + CounterText + ")";
    }
    TURLParts& t = *Target;
    if (Counter == 0)
        t.Name = t.BaseName + t.Extension;
    else
        t.Name = Owner->BackupPattern().FillBackupPattern(t.BaseName, ctr,
                                                          t.Extension + DiffSuffix + ExtraSuffix);
    t.NameHasWildcards = t.Name.find_first_of("*?") != std::string::npos;
}

void TBackupFileParts::SetCounter(int n) {
    if (n == Counter) return;
    Counter = n;
    if (n == -2) RebuildName();
}

void TBackupFileParts::Assign(const TBackupFileParts& other) {
    Location = other.Location;
    Owner = other.Owner;
    Temporary = other.Temporary;
    Separator = other.Separator;
    Target = PartsClassFor(other.Target->Location)(Owner);
    Target->CopyFrom(*other.Target);
    Target->Location = other.Target->Location;
    CounterText = other.CounterText;
    DiffSuffix = other.DiffSuffix;
    ExtraSuffix = other.ExtraSuffix;
}

namespace {

// Path up to and including its last separator of the kind.
std::string FolderPart(const TURLParts& t, const std::string& path) {
    size_t n = path.size();
    std::string_view seps = t.SeparatorChars();
    while (n > 0 && seps.find(path[n - 1]) == std::string_view::npos) --n;
    return path.substr(0, n);
}

}  // namespace

std::string TBackupFileParts::BackupArchiveName() {
    return FolderPart(*Target, Target->Path) +
           Owner->BackupPattern().FillBackupPattern(Target->BaseName, "x", Target->Extension + ".zip");
}

std::string TBackupFileParts::BackupArchiveLocation() {
    return Target->GetContainerPath() +
           Owner->BackupPattern().FillBackupPattern(Target->BaseName, "x", Target->Extension + ".zip");
}

std::string TBackupFileParts::VersionLocation(int n, bool diff) {
    std::string name = Owner->BackupPattern().FillBackupPattern(
        Target->BaseName, IntToStr(n), Target->Extension + (diff ? ".diff" : ""));
    if (auto* z = dynamic_cast<TZipFileParts*>(Target.get()))
        return "zip://" + z->Path + "/" + z->MemberFolder + name;
    return Target->GetContainerPrefix() + name;
}

std::string TBackupFileParts::GetBackupName(bool next, TQNMemIniFile* store) {
    TBackupPattern& pattern = Owner->BackupPattern();
    const std::string base = Target->BaseName, ext = Target->Extension;
    const std::string eb = EscapeMaskChars(base), ee = EscapeMaskChars(ext);
    const std::string masks = pattern.FillBackupPattern(eb, "*", ee) + "|" +
                              pattern.FillBackupPattern(eb, "*", ee + ".diff");
    Target->InfoHex = Target->Info.ToHex();

    int highest = 0;
    // Every found location under Prefix whose name is a version of this file, exactly.
    auto consider = [&](const TQNStringList& found, const std::string& prefix) {
        for (const std::string& loc : found.ToVector()) {
            if (!HasPrefix(loc, prefix)) continue;
            std::string name = loc.substr(prefix.size());
            std::string file, ctr, extPart;
            size_t dot = name.rfind('.');
            std::string nameBase = dot == std::string::npos ? name : name.substr(0, dot);
            if (!pattern.Parse(nameBase, file, ctr, extPart)) continue;
            int n = CounterValue(ctr);
            if (n <= 0 || n <= highest) continue;
            std::string whole = pattern.FillBackupPattern(base, IntToStr(n), ext);
            if (name == whole || name == whole + ".diff") highest = n;
        }
    };
    auto search = [&](const std::string& prefix, const char* resultName) {
        try {
            consider(Owner->FindEntries(prefix + masks, resultName, store), prefix);
        } catch (const std::exception& e) {
            Owner->ShowStatus("Cannot look for the versions in " + prefix + ": " + e.what(),
                              llWarning, true);
        }
    };

    auto* zip = dynamic_cast<TZipFileParts*>(Target.get());
    if (zip != nullptr) {
        search("zip://" + zip->Path + "/" + zip->MemberFolder, "OneZipFile");
    } else {
        const std::string archive = BackupArchiveName();
        struct stat st {};
        bool archiveThere = true;
        if (dynamic_cast<TDirectoryParts*>(Target.get()) != nullptr)
            archiveThere = ::lstat(archive.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        if (archiveThere) search("zip://" + archive + "/", "BackupZip");
        search(Target->GetContainerPrefix(), "DirectoryFiles");
    }
    if (next) return VersionLocation(highest + 1);
    return highest > 0 ? VersionLocation(highest) : std::string();
}

bool TBackupFileParts::FindBackupCopy(const std::string& backupFolder,
                                      const std::string& otherFolder,
                                      TBackupFileParts& reference) {
    std::string backup = backupFolder, other = otherFolder;
    auto* refZip = dynamic_cast<TZipFileParts*>(reference.Target.get());
    if (refZip != nullptr) {
        backup += refZip->MemberFolder;
        other += refZip->MemberFolder;
    }
    const std::string name = Target->Name;
    std::vector<std::string> candidates;
    candidates.push_back(other + name);
    candidates.push_back("zip://" + backup +
                         Owner->BackupPattern().FillBackupPattern(Target->BaseName, "x",
                                                                  Target->Extension + ".zip") +
                         "/" + name);
    if (refZip != nullptr)
        candidates.push_back(refZip->Scheme + refZip->Path + "/" + refZip->MemberFolder + name);
    candidates.push_back(backup + name);
    for (const std::string& c : candidates) {
        try {
            TBackupFileParts probe(Owner);
            probe.SetLocation(c);
            if (!probe.IsValid() || !probe.LocalFileExists()) continue;
        } catch (const std::exception&) {
            continue;  // a kind that cannot be reached holds no copy
        }
        SetLocation(c);
        return true;
    }
    return false;
}

// --- TNotesIniFile -------------------------------------------------------------------------

TNotesIniFile::TNotesIniFile(TLocationOwner* owner)
    : TFMWMemIniFile(std::string(), TDeferLoad{}),
      FOwner(owner ? owner : DefaultLocationOwner()),
      FParts(std::make_unique<TBackupFileParts>(FOwner)) {}

TNotesIniFile::~TNotesIniFile() = default;

const std::string& TNotesIniFile::ComposeFor(const std::string& location) {
    FParts->SetLocation(location);
    if (FParts->Target->Name.empty()) {
        // A folder has no notes of its own.
        FNotesLocation.clear();
        FFileName.clear();
        return FNotesLocation;
    }
    if (FParts->Counter == -2) FParts->RebuildName();  // SetCounter skips an unchanged -2
    else FParts->SetCounter(-2);
    FNotesLocation = FParts->GetLocation();
    FFileName = FNotesLocation;
    return FNotesLocation;
}

void TNotesIniFile::LoadFor(const std::string& location) {
    ComposeFor(location);
    LoadComposed();
}

void TNotesIniFile::LoadComposed() {
    if (FHaveLoaded && FLoaded == FNotesLocation) return;
    FHaveLoaded = true;
    FLoaded = FNotesLocation;
    Clear();
    if (FNotesLocation.empty() || !FParts->IsValid()) return;
    try {
        std::unique_ptr<TStream> stream = FParts->OpenReadStream();
        if (!stream) return;
        int64_t size = stream->Size();
        if (size > MaxNotesSize) {
            FOwner->ShowStatus("The notes file " + FNotesLocation + " is too large to read.",
                               llWarning, true);
            return;
        }
        std::string text(static_cast<size_t>(size), '\0');
        text.resize(stream->ReadFull(text.data(), text.size()));
        std::vector<std::string_view> lines = SplitLines(text);
        TFMWMemIniFile::DoSetLines(lines);
    } catch (const std::exception& e) {
        Clear();
        FOwner->ShowStatus("Cannot read the notes file " + FNotesLocation + ": " + e.what(),
                           llWarning, true);
    }
}

std::string TNotesIniFile::CommentFor(const std::string& location) {
    LoadFor(location);
    return ReadString("Comment", FParts->CounterText, "");
}

bool TNotesIniFile::Save() {
    if (SectionCount() == 0 || FNotesLocation.empty()) return false;
    const std::string text = Text();
    TMemoryStream stream(text);
    TFileInfoRec info;
    info.Time = DosDateTimeFromUnix(static_cast<int64_t>(std::time(nullptr)));
    info.Attributes = faArchive;
    info.Size = static_cast<int64_t>(text.size());
    if (!FParts->WriteFromStream(stream, info)) return false;
    FHaveLoaded = true;
    FLoaded = FNotesLocation;
    return true;
}

// --- TFolderNotes --------------------------------------------------------------------------

TFolderNotes::TFolderNotes(TLocationOwner* owner, std::string folderPath)
    : FOwner(owner ? owner : DefaultLocationOwner()), FFolderPath(std::move(folderPath)) {}

TFolderNotes::~TFolderNotes() = default;

void TFolderNotes::AddName(std::string_view name) {
    if (name.size() < 4 || !SameText(name.substr(name.size() - 4), ".ini") ||
        name.find('(') == std::string_view::npos || name.back() == '/')
        return;
    TBackupFileParts probe(FOwner);
    probe.SetLocation(FFolderPath + std::string(name));
    if (probe.Counter == -2) FNotesNames.emplace_back(name);
}

std::string TFolderNotes::CommentFor(std::string_view name) {
    if (FNotesNames.empty() || name.empty() || name.back() == '/' || name == ".") return {};
    if (!FNotes) FNotes = std::make_unique<TNotesIniFile>(FOwner);
    const std::string location = FFolderPath + std::string(name);
    const std::string& notes = FNotes->ComposeFor(location);
    if (notes.size() <= FFolderPath.size() || notes.compare(0, FFolderPath.size(), FFolderPath) != 0)
        return {};
    const std::string notesName = notes.substr(FFolderPath.size());
    if (std::find(FNotesNames.begin(), FNotesNames.end(), notesName) == FNotesNames.end()) return {};
    return FNotes->CommentFor(location);
}
