#include "common/DateUtils.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kUnixDelta = 25569;  // days from 1899-12-30 to 1970-01-01
// Day numbers of 0001-01-01 and 9999-12-31 relative to 1899-12-30.
constexpr int64_t kMinDay = -693593;
constexpr int64_t kMaxDay = 2958465;

constexpr const char* kShortDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
constexpr const char* kShortMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonthNames[] = {"January", "February", "March",     "April",
                                           "May",     "June",     "July",      "August",
                                           "September", "October", "November", "December"};
constexpr const char* kLongDateFormat = "dddd, mmmm d, yyyy";

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// A date-time as a day number (days since 1899-12-30) and the milliseconds of that day.
// Before 1899-12-30 the value is negative and its fraction still counts the time of day.
struct TDayMs {
    int64_t Day;
    int64_t Ms;
};

TDayMs SplitDateTime(TDateTime dt) {
    if (!std::isfinite(dt) || dt < double(kMinDay - 1) || dt > double(kMaxDay + 1))
        throw EConvertError("Invalid date-time value " + std::to_string(dt));
    if (dt >= 0) {
        int64_t total = std::llround(dt * double(kMsPerDay));
        return {total / kMsPerDay, total % kMsPerDay};
    }
    double whole = 0;
    double frac = std::modf(dt, &whole);
    TDayMs r{static_cast<int64_t>(whole), std::llround(-frac * double(kMsPerDay))};
    if (r.Ms >= kMsPerDay) {
        r.Ms -= kMsPerDay;
        r.Day += 1;
    }
    return r;
}

TDateTime JoinDateTime(int64_t day, int64_t ms) {
    double t = double(ms) / double(kMsPerDay);
    return day < 0 ? double(day) - t : double(day) + t;
}

struct TFields {
    int Year, Month, Day, Hour, Min, Sec, MSec, DayOfWeek;  // DayOfWeek 1 = Sunday
};

TFields DecodeFields(TDateTime dt) {
    TDayMs dm = SplitDateTime(dt);
    TFields f{};
    CivilFromDays(dm.Day - kUnixDelta, f.Year, f.Month, f.Day);
    f.Hour = static_cast<int>(dm.Ms / 3600000);
    f.Min = static_cast<int>(dm.Ms / 60000 % 60);
    f.Sec = static_cast<int>(dm.Ms / 1000 % 60);
    f.MSec = static_cast<int>(dm.Ms % 1000);
    int w = static_cast<int>(((dm.Day % 7) + 7) % 7);  // 0 = Saturday
    f.DayOfWeek = w == 0 ? 7 : w;
    return f;
}

bool ValidDate(int y, int m, int d) {
    return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

bool ValidTime(int h, int mi, int s, int ms) {
    return h >= 0 && h < 24 && mi >= 0 && mi < 60 && s >= 0 && s < 60 && ms >= 0 && ms < 1000;
}

int64_t DayNumber(int y, int m, int d) { return DaysFromCivil(y, m, d) + kUnixDelta; }

int64_t TimeMs(int h, int mi, int s, int ms) {
    return ((int64_t(h) * 60 + mi) * 60 + s) * 1000 + ms;
}

TDateTime FromTm(const std::tm& tm, int ms) {
    // A leap second is shown as the last second of its minute.
    int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          sec, ms);
}

TDateTime UnixMsToDateTime(int64_t seconds, int ms, bool toLocal) {
    if (toLocal) {
        std::time_t t = static_cast<std::time_t>(seconds);
        std::tm tm{};
        if (localtime_r(&t, &tm) == nullptr)
            throw EConvertError("Invalid time value " + std::to_string(seconds));
        return FromTm(tm, ms);
    }
    int64_t day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t sod = seconds - day * 86400;
    return JoinDateTime(day + kUnixDelta, sod * 1000 + ms);
}

// --- Formatting --------------------------------------------------------------------------

char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

void AppendNumber(std::string& out, int value, int digits) {
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) < digits) out.append(size_t(digits) - s.size(), '0');
    out += s;
}

bool StartsWithText(std::string_view s, size_t at, std::string_view what) {
    if (at + what.size() > s.size()) return false;
    for (size_t k = 0; k < what.size(); ++k)
        if (Upper(s[at + k]) != Upper(what[k])) return false;
    return true;
}

// Whether an hour at this point of the format is shown on the 12-hour clock: an AM/PM
// specifier follows before the next hour specifier.
bool Uses12HourClock(std::string_view fmt, size_t from) {
    char quote = 0;
    for (size_t p = from; p < fmt.size(); ++p) {
        char c = fmt[p];
        if (quote != 0) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == 'h' || c == 'H') {
            return false;
        } else if (c == 't' || c == 'T') {
            return true;
        } else if (c == 'a' || c == 'A') {
            return StartsWithText(fmt, p, "am/pm") || StartsWithText(fmt, p, "a/p") ||
                   StartsWithText(fmt, p, "ampm");
        }
    }
    return false;
}

void AppendFormat(std::string& out, std::string_view fmt, const TFields& f, bool hasTime,
                  int level) {
    const TFormatSettings& fs = FormatSettings();
    char lastToken = ' ';
    size_t i = 0;
    while (i < fmt.size()) {
        const char starter = fmt[i];
        char token = Upper(starter);
        if (IsAsciiLetter(starter)) {
            if (token == 'M' && lastToken == 'H') token = 'N';
            lastToken = token;
        }
        size_t count = 1;
        while (i + count < fmt.size() && fmt[i + count] == starter) ++count;
        switch (token) {
        case 'Y':
            if (count <= 2) AppendNumber(out, f.Year % 100, 2);
            else AppendNumber(out, f.Year, 4);
            i += count;
            break;
        case 'M':
            if (count <= 2) AppendNumber(out, f.Month, int(count));
            else if (count == 3) out += kShortMonthNames[f.Month - 1];
            else out += kLongMonthNames[f.Month - 1];
            i += count;
            break;
        case 'D':
            if (count <= 2) AppendNumber(out, f.Day, int(count));
            else if (count == 3) out += kShortDayNames[f.DayOfWeek - 1];
            else if (count == 4) out += kLongDayNames[f.DayOfWeek - 1];
            else if (level < 2)
                AppendFormat(out, count == 5 ? std::string_view(fs.ShortDateFormat) : kLongDateFormat,
                             f, hasTime, level + 1);
            i += count;
            break;
        case 'H': {
            int h = f.Hour;
            if (Uses12HourClock(fmt, i + count)) {
                if (h == 0) h = 12;
                else if (h > 12) h -= 12;
            }
            AppendNumber(out, h, count > 2 ? 2 : int(count));
            i += count;
            break;
        }
        case 'N':
            AppendNumber(out, f.Min, count > 2 ? 2 : int(count));
            i += count;
            break;
        case 'S':
            AppendNumber(out, f.Sec, count > 2 ? 2 : int(count));
            i += count;
            break;
        case 'Z':
            AppendNumber(out, f.MSec, count > 3 ? 3 : int(count));
            i += count;
            break;
        case 'T': {
            const std::string& s = f.Hour < 12 ? fs.TimeAMString : fs.TimePMString;
            out += count == 1 ? s.substr(0, 1) : s;
            i += count;
            break;
        }
        case 'A':
            if (StartsWithText(fmt, i, "am/pm")) {
                out.append(fmt.substr(i + (f.Hour >= 12 ? 3 : 0), 2));
                i += 5;
            } else if (StartsWithText(fmt, i, "a/p")) {
                out += fmt[i + (f.Hour >= 12 ? 2 : 0)];
                i += 3;
            } else if (StartsWithText(fmt, i, "ampm")) {
                out += f.Hour < 12 ? fs.TimeAMString : fs.TimePMString;
                i += 4;
            } else {
                out += starter;
                ++i;
            }
            break;
        case 'C':
            if (level < 2) {
                AppendFormat(out, fs.ShortDateFormat, f, hasTime, level + 1);
                if (hasTime) {
                    out += ' ';
                    AppendFormat(out, fs.LongTimeFormat, f, hasTime, level + 1);
                }
            }
            i += count;
            break;
        case '/':
            out += fs.DateSeparator;
            ++i;
            break;
        case ':':
            out += fs.TimeSeparator;
            ++i;
            break;
        case '\'':
        case '"': {
            size_t end = fmt.find(starter, i + 1);
            if (end == std::string_view::npos) end = fmt.size();
            out.append(fmt.substr(i + 1, end - i - 1));
            i = end + 1;
            break;
        }
        default:
            out += starter;
            ++i;
            break;
        }
    }
}

// --- Parsing -----------------------------------------------------------------------------

struct TScanner {
    std::string_view S;
    size_t I = 0;

    void SkipBlanks() {
        while (I < S.size() && S[I] == ' ') ++I;
    }
    bool AtEnd() const { return I >= S.size(); }
    bool Char(char c) {
        if (I < S.size() && S[I] == c) {
            ++I;
            return true;
        }
        return false;
    }
    // Up to maxDigits decimal digits; Digits tells how many were read.
    bool Number(int& value, int maxDigits, int* digits = nullptr) {
        size_t start = I;
        value = 0;
        while (I < S.size() && S[I] >= '0' && S[I] <= '9' && int(I - start) < maxDigits) {
            value = value * 10 + (S[I] - '0');
            ++I;
        }
        if (digits != nullptr) *digits = int(I - start);
        return I > start && !(I < S.size() && S[I] >= '0' && S[I] <= '9');
    }
    bool Text(std::string_view what) {
        if (!StartsWithText(S, I, what)) return false;
        I += what.size();
        return true;
    }
};

int CurrentYear() {
    int y, m, d;
    DecodeDate(Now(), y, m, d);
    return y;
}

// Reads a date in the order of the short date format: month, day and year, with the year
// optional (then the current year). A year of one or two digits falls in the 100 years
// that start 50 years before the current one.
bool ScanDate(TScanner& sc, TDateTime& out) {
    const TFormatSettings& fs = FormatSettings();
    // The order of the fields, taken from the format.
    std::string order;
    for (char c : fs.ShortDateFormat) {
        char u = Upper(c);
        if ((u == 'M' || u == 'D' || u == 'Y') && order.find(u) == std::string::npos) order += u;
    }
    if (order.size() != 3) order = "MDY";
    sc.SkipBlanks();
    int n[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    int fields = 0;
    for (; fields < 3; ++fields) {
        if (fields > 0 && !sc.Char(fs.DateSeparator)) break;
        if (!sc.Number(n[fields], 4, &digits[fields])) return false;
    }
    if (fields < 2) return false;
    int y = 0, m = 0, d = 0;
    bool haveYear = false;
    for (int k = 0, used = 0; k < 3; ++k) {
        char what = order[size_t(k)];
        if (what == 'Y' && fields == 2) continue;  // the year is the missing field
        int v = n[used];
        int dg = digits[used];
        ++used;
        if (what == 'M') m = v;
        else if (what == 'D') d = v;
        else {
            y = v;
            haveYear = true;
            if (dg <= 2) {
                int base = CurrentYear() - 50;
                y += base / 100 * 100;
                if (y < base) y += 100;
            }
        }
    }
    if (!haveYear) y = CurrentYear();
    if (!ValidDate(y, m, d)) return false;
    out = double(DayNumber(y, m, d));
    return true;
}

// Reads h:mm[:ss[.zzz]] with an optional AM/PM designator after it.
bool ScanTime(TScanner& sc, int64_t& ms) {
    const TFormatSettings& fs = FormatSettings();
    sc.SkipBlanks();
    int h = 0, mi = 0, s = 0, msec = 0;
    if (!sc.Number(h, 2) || !sc.Char(fs.TimeSeparator) || !sc.Number(mi, 2)) return false;
    if (sc.Char(fs.TimeSeparator)) {
        if (!sc.Number(s, 2)) return false;
        if (sc.Char(fs.DecimalSeparator)) {
            int digits = 0;
            if (!sc.Number(msec, 3, &digits)) return false;
            for (; digits < 3; ++digits) msec *= 10;
        }
    }
    sc.SkipBlanks();
    int base = -1;
    if (sc.Text(fs.TimeAMString)) base = 0;
    else if (sc.Text(fs.TimePMString)) base = 12;
    if (base >= 0) {
        if (h > 12) return false;
        if (h == 12) h = 0;
        h += base;
    }
    if (!ValidTime(h, mi, s, msec)) return false;
    ms = TimeMs(h, mi, s, msec);
    return true;
}

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

const TFormatSettings& FormatSettings() {
    static const TFormatSettings settings;
    return settings;
}

TDateTime EncodeDate(int year, int month, int day) {
    if (!ValidDate(year, month, day))
        throw EConvertError("Invalid argument to date encode");
    return double(DayNumber(year, month, day));
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    if (!ValidTime(hour, min, sec, msec))
        throw EConvertError("Invalid argument to time encode");
    return double(TimeMs(hour, min, sec, msec)) / double(kMsPerDay);
}

std::optional<TDateTime> TryEncodeDateTime(int year, int month, int day, int hour, int min,
                                           int sec, int msec) {
    if (!ValidDate(year, month, day) || !ValidTime(hour, min, sec, msec)) return std::nullopt;
    return JoinDateTime(DayNumber(year, month, day), TimeMs(hour, min, sec, msec));
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
    auto r = TryEncodeDateTime(year, month, day, hour, min, sec, msec);
    if (!r) throw EConvertError("Invalid argument to date encode");
    return *r;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
    TFields f = DecodeFields(dt);
    year = f.Year;
    month = f.Month;
    day = f.Day;
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
    TFields f = DecodeFields(dt);
    hour = f.Hour;
    min = f.Min;
    sec = f.Sec;
    msec = f.MSec;
}

int DayOfWeek(TDateTime dt) { return DecodeFields(dt).DayOfWeek; }

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return TimespecToDateTime(ts, true);
}

TDateTime NowUTC() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return TimespecToDateTime(ts, false);
}

TDateTime UnixToDateTime(int64_t seconds, bool toLocal) {
    return UnixMsToDateTime(seconds, 0, toLocal);
}

int64_t DateTimeToUnix(TDateTime dt, bool fromLocal) {
    TDayMs dm = SplitDateTime(dt);
    if (!fromLocal) return (dm.Day - kUnixDelta) * 86400 + dm.Ms / 1000;
    TFields f = DecodeFields(dt);
    std::tm tm{};
    tm.tm_year = f.Year - 1900;
    tm.tm_mon = f.Month - 1;
    tm.tm_mday = f.Day;
    tm.tm_hour = f.Hour;
    tm.tm_min = f.Min;
    tm.tm_sec = f.Sec;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&tm));
}

TDateTime TimespecToDateTime(const timespec& ts, bool toLocal) {
    return UnixMsToDateTime(static_cast<int64_t>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000),
                            toLocal);
}

std::string FormatDateTime(std::string_view format, TDateTime dt) {
    TFields f = DecodeFields(dt);
    bool hasTime = f.Hour != 0 || f.Min != 0 || f.Sec != 0 || f.MSec != 0;
    std::string out;
    AppendFormat(out, format, f, hasTime, 0);
    return out;
}

std::string DateToStr(TDateTime dt) { return FormatDateTime(FormatSettings().ShortDateFormat, dt); }
std::string TimeToStr(TDateTime dt) { return FormatDateTime(FormatSettings().LongTimeFormat, dt); }
std::string DateTimeToStr(TDateTime dt) { return FormatDateTime("c", dt); }

std::optional<TDateTime> TryStrToDate(std::string_view s) {
    TScanner sc{s};
    TDateTime d = 0;
    if (!ScanDate(sc, d)) return std::nullopt;
    sc.SkipBlanks();
    if (!sc.AtEnd()) return std::nullopt;
    return d;
}

std::optional<TDateTime> TryStrToTime(std::string_view s) {
    TScanner sc{s};
    int64_t ms = 0;
    if (!ScanTime(sc, ms)) return std::nullopt;
    sc.SkipBlanks();
    if (!sc.AtEnd()) return std::nullopt;
    return double(ms) / double(kMsPerDay);
}

std::optional<TDateTime> TryStrToDateTime(std::string_view s) {
    TScanner sc{s};
    TDateTime d = 0;
    int64_t ms = 0;
    if (ScanDate(sc, d)) {
        sc.SkipBlanks();
        if (!sc.AtEnd() && !ScanTime(sc, ms)) return std::nullopt;
    } else {
        sc.I = 0;
        if (!ScanTime(sc, ms)) return std::nullopt;
    }
    sc.SkipBlanks();
    if (!sc.AtEnd()) return std::nullopt;
    return JoinDateTime(static_cast<int64_t>(d), ms);
}

TDateTime StrToDate(std::string_view s) {
    auto r = TryStrToDate(s);
    if (!r) throw EConvertError(Quoted(s) + " is not a valid date");
    return *r;
}

TDateTime StrToTime(std::string_view s) {
    auto r = TryStrToTime(s);
    if (!r) throw EConvertError(Quoted(s) + " is not a valid time");
    return *r;
}

TDateTime StrToDateTime(std::string_view s) {
    auto r = TryStrToDateTime(s);
    if (!r) throw EConvertError(Quoted(s) + " is not a valid date and time");
    return *r;
}

std::string FloatToStr(double value) {
    if (value == 0) return "0";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

std::optional<double> TryStrToFloat(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    std::string_view t = s.substr(b, e - b);
    if (!t.empty() && t[0] == '+') {
        t.remove_prefix(1);
        if (!t.empty() && (t[0] == '-' || t[0] == '+')) return std::nullopt;
    }
    if (t.empty()) return std::nullopt;
    double v = 0;
    auto res = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return std::nullopt;
    return v;
}

double StrToFloat(std::string_view s) {
    auto r = TryStrToFloat(s);
    if (!r) throw EConvertError(Quoted(s) + " is not a valid floating point value");
    return *r;
}
