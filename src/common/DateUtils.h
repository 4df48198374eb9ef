// Date-time values and the suite's fixed date and number formats.
//
// TDateTime counts days since 1899-12-30 00:00; the fraction is the time of day. The
// process-wide formats are fixed at start-up and do not follow the C locale: short date
// "MM/dd/yyyy", short time "hh:mm:ss tt", date separator "/", time separator ":",
// decimal separator ".", thousands separator ",".
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

using TDateTime = double;

class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TFormatSettings {
    std::string ShortDateFormat = "MM/dd/yyyy";
    std::string ShortTimeFormat = "hh:mm:ss tt";
    std::string LongTimeFormat = "hh:mm:ss tt";
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
};

// The process-wide settings (read-only; fixed at start-up).
const TFormatSettings& FormatSettings();

TDateTime EncodeDate(int year, int month, int day);               // raises EConvertError
TDateTime EncodeTime(int hour, int min, int sec, int msec);       // raises EConvertError
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
std::optional<TDateTime> TryEncodeDateTime(int year, int month, int day, int hour, int min,
                                           int sec, int msec);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
int DayOfWeek(TDateTime dt);  // 1 = Sunday … 7 = Saturday

TDateTime Now();     // local time, millisecond resolution
TDateTime NowUTC();
TDateTime UnixToDateTime(int64_t seconds, bool toLocal);   // from seconds since 1970 (UTC)
int64_t DateTimeToUnix(TDateTime dt, bool fromLocal);      // to seconds since 1970 (UTC)
TDateTime TimespecToDateTime(const timespec& ts, bool toLocal);

// Format specifiers (case-insensitive where the classic runtime is): d dd ddd dddd,
// m mm mmm mmmm (minutes after h/hh), yy yyyy, h hh, n nn, s ss, z zzz, t tt (AM/PM
// with the hour in 12-hour form), am/pm, a/p, c, "/", ":", quoted text '…' and "…".
std::string FormatDateTime(std::string_view format, TDateTime dt);
std::string DateToStr(TDateTime dt);       // ShortDateFormat
std::string TimeToStr(TDateTime dt);       // LongTimeFormat
std::string DateTimeToStr(TDateTime dt);   // date, a blank, time (time omitted at midnight)

// Parse text written with the process settings; raise EConvertError or return nullopt.
TDateTime StrToDate(std::string_view s);
TDateTime StrToTime(std::string_view s);
TDateTime StrToDateTime(std::string_view s);
std::optional<TDateTime> TryStrToDate(std::string_view s);
std::optional<TDateTime> TryStrToTime(std::string_view s);
std::optional<TDateTime> TryStrToDateTime(std::string_view s);

std::string FloatToStr(double value);      // shortest text that reads back, "." decimal
double StrToFloat(std::string_view s);     // raises EConvertError
std::optional<double> TryStrToFloat(std::string_view s);
