#include "locations/URLParts.h"

#include "locations/BackupFileParts.h"
#include "locations/DirectoryParts.h"
#include "locations/FTPFileParts.h"
#include "locations/LocationOwner.h"
#include "locations/PBLFileParts.h"
#include "locations/ZipFileParts.h"

#include "common/EngineContract.h"
#include "common/QNMemIniFile.h"
#include "common/SysUtils.h"
#include "common/ifutils.h"

#include <cctype>
#include <charconv>
#include <ctime>
#include <functional>
#include <sys/stat.h>

// --- MS-DOS date-times ---------------------------------------------------------------------

uint32_t PackDosDateTime(int year, int month, int day, int hour, int min, int sec) {
    if (year < 1980) return DosTimeEarliest;
    if (year > 2107) return DosTimeLatest;
    uint32_t date = (uint32_t(year - 1980) << 9) | (uint32_t(month) << 5) | uint32_t(day);
    uint32_t time = (uint32_t(hour) << 11) | (uint32_t(min) << 5) | uint32_t(sec / 2);
    return (date << 16) | time;
}

namespace {

uint32_t PackTm(const std::tm& t) {
    return PackDosDateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                           t.tm_sec > 59 ? 59 : t.tm_sec);
}

std::tm FieldsOf(uint32_t dos) {
    std::tm t{};
    t.tm_year = int(dos >> 25) + 80;
    t.tm_mon = int((dos >> 21) & 15) - 1;
    t.tm_mday = int((dos >> 16) & 31);
    t.tm_hour = int((dos >> 11) & 31);
    t.tm_min = int((dos >> 5) & 63);
    t.tm_sec = int(dos & 31) * 2;
    return t;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the civil calendar
// arithmetic of UTC, without the C library's time zone machinery: every listed file and
// every compared record goes through these).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

uint32_t DosDateTimeFromUnix(int64_t seconds) {
    const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t rest = seconds - days * 86400;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    if (y < 1980) return DosTimeEarliest;
    if (y > 2107) return DosTimeLatest;
    return PackDosDateTime(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d),
                           static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                           static_cast<int>(rest % 60));
}

int64_t UnixFromDosDateTime(uint32_t dos) {
    if (dos == 0) return 0;
    const unsigned month = (dos >> 21) & 15, day = (dos >> 16) & 31;
    if (month < 1 || month > 12 || day < 1) {
        // Fields no clock writes: normalised as the C library does.
        std::tm t = FieldsOf(dos);
        return static_cast<int64_t>(::timegm(&t));
    }
    return DaysFromCivil(1980 + int64_t(dos >> 25), month, day) * 86400 + int64_t((dos >> 11) & 31) * 3600 +
           int64_t((dos >> 5) & 63) * 60 + int64_t(dos & 31) * 2;
}

int64_t UnixFromLocalDosDateTime(uint32_t dos) {
    if (dos == 0) return 0;
    std::tm t = FieldsOf(dos);
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

uint32_t UtcToLocalDosTime(uint32_t dos) {
    if (dos == 0) return 0;
    std::time_t t = static_cast<std::time_t>(UnixFromDosDateTime(dos));
    std::tm l{};
    if (::localtime_r(&t, &l) == nullptr) return dos;
    return PackTm(l);
}

uint32_t LocalToUtcDosTime(uint32_t dos) {
    if (dos == 0) return 0;
    std::time_t t = static_cast<std::time_t>(UnixFromLocalDosDateTime(dos));
    std::tm g{};
    if (::gmtime_r(&t, &g) == nullptr) return dos;
    return PackTm(g);
}

TDateTime DosDateTimeToDateTime(uint32_t dos) {
    if (dos == 0) return 0;
    std::tm t = FieldsOf(dos);
    auto dt = TryEncodeDateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                                t.tm_sec, 0);
    return dt.value_or(0);
}

// --- Information record --------------------------------------------------------------------

namespace {

void PutLE(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint64_t GetLE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
}

}  // namespace

void TFileInfoRec::SetFineTime(int64_t seconds, uint32_t nanoseconds) {
    Reserved1 = FineTimeFlag | (nanoseconds % 1000000000u);
    Reserved2 = static_cast<uint32_t>(static_cast<uint64_t>(seconds));
}

int64_t TFileInfoRec::UnixSeconds() const {
    const int64_t base = UnixFromDosDateTime(Time);
    if (!HasFineTime()) return base;
    // The seconds nearest to Time whose low 32 bits are Reserved2; a Time held at the
    // earliest (latest) value stands for every time before (after) it, and the seconds lie
    // that way up to 136 years.
    int64_t delta = static_cast<int32_t>(Reserved2 - static_cast<uint32_t>(static_cast<uint64_t>(base)));
    if (Time == DosTimeEarliest && delta >= 2) delta -= int64_t(1) << 32;
    if (Time == DosTimeLatest && delta < 0) delta += int64_t(1) << 32;
    return base + delta;
}

namespace {

int Sign(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// Floor division by two: the two-second step of a time in seconds.
int64_t TwoSecondStep(int64_t seconds) { return seconds >= 0 ? seconds / 2 : (seconds - 1) / 2; }

}  // namespace

int CompareExactTime(const TFileInfoRec& a, const TFileInfoRec& b) {
    if (!a.HasFineTime() || !b.HasFineTime()) return a.Time < b.Time ? -1 : a.Time > b.Time ? 1 : 0;
    if (int c = Sign(a.UnixSeconds() - b.UnixSeconds())) return c;
    return Sign(int64_t(a.Nanoseconds()) - int64_t(b.Nanoseconds()));
}

int CompareCoarseTime(const TFileInfoRec& a, const TFileInfoRec& b) {
    if (!a.HasFineTime() || !b.HasFineTime()) return a.Time < b.Time ? -1 : a.Time > b.Time ? 1 : 0;
    return Sign(TwoSecondStep(a.UnixSeconds()) - TwoSecondStep(b.UnixSeconds()));
}

std::array<uint8_t, TFileInfoRec::ByteSize> TFileInfoRec::ToBytes() const {
    std::array<uint8_t, ByteSize> b{};
    PutLE(&b[0], Time, 4);
    PutLE(&b[4], Reserved1, 4);
    PutLE(&b[8], static_cast<uint64_t>(Size), 8);
    PutLE(&b[16], Attributes, 4);
    PutLE(&b[20], Reserved2, 4);
    return b;
}

TFileInfoRec TFileInfoRec::FromBytes(std::span<const uint8_t, ByteSize> b) {
    TFileInfoRec r;
    r.Time = uint32_t(GetLE(&b[0], 4));
    r.Reserved1 = uint32_t(GetLE(&b[4], 4));
    r.Size = static_cast<int64_t>(GetLE(&b[8], 8));
    r.Attributes = uint32_t(GetLE(&b[16], 4));
    r.Reserved2 = uint32_t(GetLE(&b[20], 4));
    return r;
}

std::string TFileInfoRec::ToHex() const {
    auto b = ToBytes();
    return BufferToHex(std::span<const uint8_t>(b));
}

std::optional<TFileInfoRec> TFileInfoRec::FromHex(std::string_view hex) {
    if (hex.size() != HexSize) return std::nullopt;
    std::array<uint8_t, ByteSize> b{};
    for (size_t i = 0; i < ByteSize; ++i) {
        int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        b[i] = uint8_t(hi * 16 + lo);
    }
    return FromBytes(b);
}

// --- Counter formats -----------------------------------------------------------------------

std::optional<std::string> FormatCounter(std::string_view f, int64_t value) {
    size_t i = 0;
    bool minus = false, plus = false, space = false, alt = false, zero = false;
    for (; i < f.size(); ++i) {
        char c = f[i];
        if (c == '-') minus = true;
        else if (c == '+') plus = true;
        else if (c == ' ') space = true;
        else if (c == '#') alt = true;
        else if (c == '0') zero = true;
        else break;
        if (i >= 5) return std::nullopt;  // more flag characters than there are flags
    }
    auto number = [&](int& out) {
        int digits = 0;
        out = 0;
        while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
            if (++digits > 2) return false;
            out = out * 10 + (f[i] - '0');
            ++i;
        }
        return true;
    };
    int width = 0, precision = -1;
    if (!number(width)) return std::nullopt;
    if (i < f.size() && f[i] == '.') {
        ++i;
        if (!number(precision)) return std::nullopt;
    }
    if (i + 1 != f.size()) return std::nullopt;
    char conv = f[i];
    bool isSigned = conv == 'd' || conv == 'i';
    int base = 10;
    if (conv == 'o') base = 8;
    else if (conv == 'x' || conv == 'X') base = 16;
    else if (!isSigned && conv != 'u') return std::nullopt;
    if (alt && base == 10) return std::nullopt;  // '#' means nothing for decimal conversions
    if (!isSigned && value < 0) return std::nullopt;

    uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, magnitude, base);
    std::string digits(buf, end);
    if (conv == 'X')
        for (char& c : digits) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (precision == 0 && magnitude == 0) digits.clear();
    if (precision > 0 && int(digits.size()) < precision)
        digits.insert(0, size_t(precision) - digits.size(), '0');
    std::string prefix;
    if (isSigned) {
        if (value < 0) prefix = "-";
        else if (plus) prefix = "+";
        else if (space) prefix = " ";
    } else if (alt && base == 8) {
        if (digits.empty() || digits[0] != '0') digits.insert(0, "0");
    } else if (alt && base == 16 && magnitude != 0) {
        prefix = conv == 'X' ? "0X" : "0x";
    }
    size_t len = prefix.size() + digits.size();
    if (size_t(width) <= len) return prefix + digits;
    size_t pad = size_t(width) - len;
    if (minus) return prefix + digits + std::string(pad, ' ');
    if (zero && precision < 0) return prefix + std::string(pad, '0') + digits;
    return std::string(pad, ' ') + prefix + digits;
}

// --- Location text -------------------------------------------------------------------------

std::string ExtractScheme(std::string_view location) {
    size_t i = 0;
    while (i < location.size() &&
           (std::isalnum(static_cast<unsigned char>(location[i])) || location[i] == '_'))
        ++i;
    if (i == 0 || location.substr(i, 3) != "://") return {};
    return std::string(location.substr(0, i + 3));
}

std::string CutVirtualPathTag(std::string_view location, std::string& text) {
    text.clear();
    size_t p = location.find("<vpc:");
    if (p == std::string_view::npos) return std::string(location);
    size_t q = location.find('>', p + 5);
    if (q == std::string_view::npos) return std::string(location);
    text = std::string(location.substr(p + 5, q - p - 5));
    return std::string(location.substr(0, p)) + std::string(location.substr(q + 1));
}

// --- TParts --------------------------------------------------------------------------------

TParts::TParts(TLocationOwner* owner) : Owner(owner ? owner : DefaultLocationOwner()) {}

TParts::~TParts() = default;

// --- TURLParts -----------------------------------------------------------------------------

TURLParts::TURLParts(TLocationOwner* owner) : TParts(owner) {}

std::unique_ptr<TURLParts> TURLParts::Create(TLocationOwner* owner) {
    return std::make_unique<TURLParts>(owner);
}

bool TURLParts::IsSeparatorChar(char c) const {
    return SeparatorChars().find(c) != std::string_view::npos;
}

std::string TURLParts::StripSeparators(std::string_view s) const {
    size_t n = s.size();
    while (n > 0 && IsSeparatorChar(s[n - 1])) --n;
    return std::string(s.substr(0, n));
}

void TURLParts::SetLocation(const std::string& location, const std::string& info,
                            const std::string& comment) {
    Location = location;
    FListingStore = nullptr;
    std::string rest = CutVirtualPathTag(location, VirtualPath);
    Scheme = ExtractScheme(rest);
    rest.erase(0, Scheme.size());
    HasTags = rest.find('<') != std::string::npos;

    size_t sep = std::string::npos;
    for (size_t i = rest.size(); i > 0; --i)
        if (IsSeparatorChar(rest[i - 1])) {
            sep = i - 1;
            break;
        }
    if (sep == std::string::npos) {
        Path.clear();
        Name = rest;
    } else {
        Path = rest.substr(0, sep + 1);
        Name = rest.substr(sep + 1);
    }
    size_t dot = Name.rfind('.');
    BaseName = dot == std::string::npos ? Name : Name.substr(0, dot);
    Extension = dot == std::string::npos ? std::string() : Name.substr(dot);

    Info = TFileInfoRec();
    InfoHex.clear();
    if (!info.empty()) {
        if (info.size() == TFileInfoRec::HexSize) {
            Info = TFileInfoRec::FromHex(info).value_or(TFileInfoRec());
        } else {
            Owner->FindOne(Scheme + Path + Name, Info);
        }
        if (Info.IsFolder() && !Name.empty()) {
            Path += Name + Separator;
            Name.clear();
            BaseName.clear();
            Extension.clear();
        }
        InfoHex = Info.ToHex();
    }
    NameHasWildcards = Name.find_first_of("*?") != std::string::npos;
    PathHasWildcards = Path.find_first_of("*?") != std::string::npos;
    Comment = comment;
    NormalizePath();
}

void TURLParts::NormalizePath() {
    IsSelfEntry = false;
    if (Path.empty()) return;
    const char sep = Separator.empty() ? '/' : Separator[0];
    std::string unified = Path;
    for (char& c : unified)
        if (IsSeparatorChar(c)) c = sep;
    // A leading pair of separators (the mark of a network path) survives; every other run
    // becomes one separator.
    size_t lead = 0;
    while (lead < unified.size() && unified[lead] == sep) ++lead;
    std::string out(std::min<size_t>(lead, 2), sep);
    for (size_t k = lead; k < unified.size(); ++k) {
        if (unified[k] == sep && !out.empty() && out.back() == sep) continue;
        out += unified[k];
    }
    while (!out.empty() && out.back() == sep) out.pop_back();
    out += sep;
    // A whole component "." names the folder's own entry; "Mr." is an ordinary name.
    const std::string self = std::string(1, sep) + "." + sep;
    for (size_t p = out.find(self); p != std::string::npos; p = out.find(self, p)) {
        IsSelfEntry = true;
        out.erase(p, 2);
    }
    Path = out;
}

std::string TURLParts::GetLocation() {
    Location = Scheme + Path + Name;
    return Location;
}

void TURLParts::RebuildName() { Name = BaseName + Extension; }

bool TURLParts::LocalFileExists() {
    std::string path = GetLocalFileName();
    struct stat st {};
    return path.find('\0') == std::string::npos && ::lstat(path.c_str(), &st) == 0 &&
           !S_ISDIR(st.st_mode);
}

std::string TURLParts::GetPathAndName() {
    size_t n = Path.size();
    while (n > 0 && !IsSeparatorChar(Path[n - 1])) --n;
    return Path.substr(0, n) + BaseName + Extension;
}

std::string TURLParts::GetContainerPrefix() { return Scheme + Path; }

void TURLParts::NotSupported(const char* operation) {
    throw ELocationError(std::string("The operation ") + operation +
                         " is not available for the location \"" + Location + "\".");
}

std::string TURLParts::GetContainerPath() { NotSupported("GetContainerPath"); }
std::string TURLParts::GetLocalFileName() { NotSupported("GetLocalFileName"); }
bool TURLParts::Delete(bool) { NotSupported("Delete"); }
bool TURLParts::WriteFromStream(TStream&, const TFileInfoRec&) { NotSupported("WriteFromStream"); }
std::unique_ptr<TStream> TURLParts::OpenReadStream() { NotSupported("OpenReadStream"); }
bool TURLParts::FileExists() { NotSupported("FileExists"); }
bool TURLParts::ContainerExists() { NotSupported("ContainerExists"); }
int TURLParts::ForceContainerToExist() { NotSupported("ForceContainerToExist"); }
bool TURLParts::SetAttrib(uint32_t) { NotSupported("SetAttrib"); }
void TURLParts::CopyTo(TParts&, int, TCopyResult&) { NotSupported("CopyTo"); }
void TURLParts::URLMoveTo(TParts&, int, TCopyResult&) { NotSupported("URLMoveTo"); }
int TURLParts::RemoveEmptyFolders(TQNMemIniFile*, bool) { NotSupported("RemoveEmptyFolders"); }
bool TURLParts::SetDate(uint32_t) { NotSupported("SetDate"); }
std::string TURLParts::GetContainer() { NotSupported("GetContainer"); }
std::string TURLParts::MapLocation(TURLParts&, TURLParts&, bool, bool) {
    NotSupported("MapLocation");
}
int TURLParts::ListContents() { NotSupported("ListContents"); }

void TURLParts::BindListing() {
    FListingStore = &Owner->CurrentStore();
    FListingName = ListingSectionName(*FListingStore, GetLocation());
}

std::string ListingSectionName(const TQNMemIniFile& store, const std::string& location) {
    const std::string* stored = store.StoredSectionName(location);
    if (stored == nullptr || *stored == location) return location;
    return location + "\"Case " + BufferToHex(location.data(), location.size());
}

TQNStringList& TURLParts::ListingSection(const char* suffix) {
    if (FListingStore == nullptr) BindListing();
    return FListingStore->GetSection(FListingName + suffix);
}

TQNStringList& TURLParts::Names() { return ListingSection(""); }
TQNStringList& TURLParts::Infos() { return ListingSection("\"FileInfo"); }
TQNStringList& TURLParts::Stats() { return ListingSection("\"Stats"); }
TQNStringList& TURLParts::Comments() { return ListingSection("\"Comment"); }

void TURLParts::CopyFrom(const TURLParts& other) {
    Owner = other.Owner;
    Temporary = other.Temporary;
    Separator = other.Separator;
    Scheme = other.Scheme;
    Path = other.Path;
    Name = other.Name;
    BaseName = other.BaseName;
    Extension = other.Extension;
    Info = other.Info;
    NameHasWildcards = other.NameHasWildcards;
    PathHasWildcards = other.PathHasWildcards;
    InfoHex = other.InfoHex;
    IsSelfEntry = other.IsSelfEntry;
    Comment = other.Comment;
    VirtualPath = other.VirtualPath;
    HasTags = other.HasTags;
    FListingStore = nullptr;
}

void TURLParts::LogCopy(TParts& dest, int mode) {
    Owner->ShowStatus(std::string(mode == 1 ? "Copied" : "Backed up") + " " + GetLocation() +
                          " to " + dest.GetLocation(),
                      mode, mode != 0);
}

// --- Destination mapping -------------------------------------------------------------------

namespace {

// Replaces "<" Open ARG ">" by Replace(ARG) (every one, or the first); a tag for which
// Replace gives nullopt stays. Replaced text is never scanned again.
void ReplaceTags(std::string& text, std::string_view open,
                 const std::function<std::optional<std::string>(const std::string&)>& replace,
                 bool all) {
    size_t pos = 0;
    for (;;) {
        size_t p = text.find(open, pos);
        if (p == std::string::npos) return;
        size_t q = text.find('>', p + open.size());
        if (q == std::string::npos) return;
        std::optional<std::string> r = replace(text.substr(p + open.size(), q - p - open.size()));
        if (!r) {
            pos = q + 1;
            continue;
        }
        text.replace(p, q - p + 1, *r);
        pos = p + r->size();
        if (!all) return;
    }
}

}  // namespace

std::string TURLParts::MapLocationCommon(TURLParts& sourceRoot, TURLParts& destRoot,
                                         bool nameOnly, bool afterRoot) {
    const std::string root = sourceRoot.Scheme + sourceRoot.GetContainer();
    const bool nameFromDest = !destRoot.Name.empty() && !destRoot.Info.IsFolder();

    // The part below the roots that comes from this entry is used as it stands (names
    // from outside never act as tags); the destination root's text carries the tags.
    std::string literal, tail;
    if (afterRoot) {
        literal = ExtractPathAfterRoot(GetLocation());
    } else if (nameOnly) {
        std::string s = StripSeparators(GetLocation());
        size_t n = s.size();
        while (n > 0 && !IsSeparatorChar(s[n - 1])) --n;
        literal = s.substr(n);
    } else {
        std::string full = GetContainerPrefix() + VirtualPath;
        if (full.size() < root.size() + 1 || full.compare(0, root.size(), root) != 0 ||
            !IsSeparatorChar(full[root.size()]))
            throw ELocationError("Cannot map \"" + GetLocation() + "\": it is not below \"" +
                                 root + "\".");
        literal = full.substr(root.size() + 1);
        if (nameFromDest) tail = destRoot.Name;
        else literal += Name;
    }

    auto checkRelative = [&](const std::string& rel) {
        bool bad = !rel.empty() && IsSeparatorChar(rel[0]);
        size_t start = 0;
        for (size_t i = 0; i <= rel.size() && !bad; ++i) {
            if (i == rel.size() || IsSeparatorChar(rel[i])) {
                if (rel.compare(start, i - start, "..") == 0 && i - start == 2) bad = true;
                start = i + 1;
            }
        }
        if (bad || rel.find('\0') != std::string::npos)
            throw ELocationError("Cannot map \"" + GetLocation() + "\" into \"" +
                                 destRoot.GetContainerPrefix() + "\": the relative path \"" +
                                 rel + "\" would leave the destination folder.");
    };
    checkRelative(literal);

    auto expand = [&](std::string& text) {
        ReplaceTags(
            text, "<dtn:",
            [&](const std::string& fmt) { return FormatDateTime(fmt, Owner->CurrentTime()); },
            true);
        ReplaceTags(
            text, "<dtf:",
            [&](const std::string& fmt) -> std::optional<std::string> {
                if (Info.Time == 0) return std::nullopt;
                return FormatDateTime(fmt, DosDateTimeToDateTime(UtcToLocalDosTime(Info.Time)));
            },
            true);
        ReplaceTags(text, "<file:", [&](const std::string&) { return Name; }, false);
        ReplaceTags(text, "<filebase:", [&](const std::string&) { return BaseName; }, false);
        ReplaceTags(text, "<ext:", [&](const std::string&) { return Extension; }, false);
    };
    std::string prefix = destRoot.GetContainerPrefix();
    expand(prefix);
    expand(tail);
    checkRelative(literal + tail);

    std::string result = prefix + literal + tail;
    // The first counter tag: the lowest number from 1 on whose location is free.
    size_t tagPos = prefix.find("<#");
    if (tagPos == std::string::npos && (tagPos = tail.find("<#")) != std::string::npos)
        tagPos += prefix.size() + literal.size();
    size_t tagEnd = tagPos == std::string::npos ? tagPos : result.find('>', tagPos + 2);
    if (tagEnd != std::string::npos) {
        std::string fmt = result.substr(tagPos + 2, tagEnd - tagPos - 2);
        if (!FormatCounter(fmt, 1))
            throw ELocationError("The counter tag \"<#" + fmt +
                                 ">\" is refused: a counter format is flags, width, precision "
                                 "and one of d, i, u, o, x, X.");
        std::string before = result.substr(0, tagPos), after = result.substr(tagEnd + 1);
        const int limit = 1000000;
        int k = 1;
        for (; k <= limit; ++k) {
            std::string candidate = before + *FormatCounter(fmt, k) + after;
            if (!Owner->EntryExists(candidate)) {
                result = candidate;
                break;
            }
        }
        if (k > limit)
            throw ELocationError("No free counter value for \"" + result + "\".");
    }
    return result;
}

// --- Kinds ---------------------------------------------------------------------------------

namespace {

// Word ends with Prefix followed by at least MinDigits digits.
bool EndsWithPrefixAndDigits(std::string_view word, std::string_view prefix, size_t minDigits) {
    size_t e = word.size();
    while (e > 0 && std::isdigit(static_cast<unsigned char>(word[e - 1]))) --e;
    return word.size() - e >= minDigits && e >= prefix.size() &&
           word.substr(e - prefix.size(), prefix.size()) == prefix;
}

}  // namespace

TPartsClass PartsClassFor(std::string_view location) {
    std::string vpc;
    std::string scheme = ExtractScheme(CutVirtualPathTag(location, vpc));
    if (scheme.empty()) return &TDirectoryParts::Create;
    std::string word = LowerCase(std::string_view(scheme).substr(0, scheme.size() - 3));
    if (EndsWithPrefixAndDigits(word, "ftp", 0)) return &TFTPFileParts::Create;
    if (word == "zip") return &TZipFileParts::Create;
    if (EndsWithPrefixAndDigits(word, "pb", 1)) return &TPBLFileParts::Create;
    return &TURLParts::Create;
}

std::unique_ptr<TURLParts> CreateParts(TLocationOwner* owner, const std::string& location,
                                       const std::string& info, const std::string& comment) {
    std::unique_ptr<TURLParts> parts = PartsClassFor(location)(owner);
    parts->SetLocation(location, info, comment);
    return parts;
}
