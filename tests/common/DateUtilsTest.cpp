#include "common/DateUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

TEST(DateUtils, EncodeDecodeAndTheDayCount) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
    EXPECT_EQ(EncodeDate(1970, 1, 1), 25569);
    EXPECT_EQ(EncodeDate(2011, 3, 4), 40606);
    EXPECT_EQ(DayOfWeek(EncodeDate(2011, 3, 4)), 6);  // Friday
    EXPECT_EQ(DayOfWeek(0), 7);                       // 1899-12-30 was a Saturday

    struct TCase {
        int Y, M, D, H, N, S, Z;
    };
    const TCase cases[] = {{2011, 3, 4, 5, 6, 7, 89}, {2000, 2, 29, 23, 59, 59, 999},
                           {1, 1, 1, 0, 0, 0, 0},      {9999, 12, 31, 12, 0, 0, 1},
                           {1899, 12, 29, 6, 0, 0, 0}, {1600, 3, 1, 18, 30, 0, 500}};
    for (const auto& c : cases) {
        TDateTime dt = EncodeDateTime(c.Y, c.M, c.D, c.H, c.N, c.S, c.Z);
        int y, m, d, h, n, s, z;
        DecodeDate(dt, y, m, d);
        DecodeTime(dt, h, n, s, z);
        EXPECT_EQ((std::vector<int>{y, m, d, h, n, s, z}),
                  (std::vector<int>{c.Y, c.M, c.D, c.H, c.N, c.S, c.Z}))
            << dt;
    }
    // Before 1899-12-30 the value is negative and its fraction is still the time of day.
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);

    EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);  // 1900 is no leap year
    EXPECT_THROW(EncodeDate(2011, 13, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_FALSE(TryEncodeDateTime(2011, 4, 31, 0, 0, 0, 0));
    int y, m, d;
    EXPECT_THROW(DecodeDate(NAN, y, m, d), EConvertError);
    EXPECT_THROW(DecodeDate(1e300, y, m, d), EConvertError);
}

TEST(DateUtils, FormatDateTimeSpecifiers) {
    const TDateTime morning = EncodeDateTime(2011, 3, 4, 5, 6, 7, 89);
    const TDateTime evening = EncodeDateTime(2011, 3, 4, 17, 30, 0, 0);
    struct TCase {
        const char* Format;
        TDateTime Dt;
        const char* Text;
    };
    const TCase cases[] = {
        {"yyyymmddhhnnsszzz", morning, "20110304050607089"},
        {"YYYYMMDDhhnnss", morning, "20110304050607"},
        {"MM/dd/yyyy", morning, "03/04/2011"},
        {"hh:mm:ss tt", morning, "05:06:07 AM"},
        {"yyyy/mm/dd hh:nn:ss", morning, "2011/03/04 05:06:07"},
        {"d/m/yy h:n:s.z", morning, "4/3/11 5:6:7.89"},
        {"ddd dddd mmm mmmm", morning, "Fri Friday Mar March"},
        {"'hh' \"mm\" x", morning, "hh mm x"},
        {"c", morning, "03/04/2011 05:06:07 AM"},
        {"c", EncodeDate(2011, 3, 4), "03/04/2011"},
        {"hh:mm:ss tt", evening, "05:30:00 PM"},
        {"hh:nn", evening, "17:30"},
        {"h am/pm", evening, "5 pm"},
        {"h:nn a/p", evening, "5:30 p"},
        {"HH:NN AM/PM", evening, "05:30 PM"},
        {"h ampm", evening, "5 PM"},
        {"hh:mm:ss tt", EncodeDate(2011, 3, 4), "12:00:00 AM"},
        {"hh:mm:ss tt", EncodeDateTime(2011, 3, 4, 12, 0, 0, 0), "12:00:00 PM"},
        {"yyyy-mm-dd", EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), "1899-12-29"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.Format, c.Dt), c.Text) << c.Format;
}

TEST(DateUtils, TextRoundTripsWithTheFixedFormats) {
    const TDateTime values[] = {
        EncodeDate(2011, 3, 4),
        EncodeDateTime(2011, 3, 4, 5, 6, 7, 0),
        EncodeDateTime(2011, 3, 4, 12, 0, 0, 0),
        EncodeDateTime(1999, 12, 31, 23, 59, 59, 0),
        EncodeDateTime(1, 1, 1, 0, 0, 1, 0),
        EncodeDateTime(1899, 12, 29, 6, 0, 0, 0),
    };
    for (TDateTime v : values) {
        std::string text = DateTimeToStr(v);
        EXPECT_DOUBLE_EQ(StrToDateTime(text), v) << text;
    }
    EXPECT_EQ(DateToStr(EncodeDate(2011, 3, 4)), "03/04/2011");
    EXPECT_EQ(TimeToStr(EncodeTime(17, 6, 7, 0)), "05:06:07 PM");
}

TEST(DateUtils, ParsingAcceptsTheSuiteFormsAndRejectsTheRest) {
    struct TCase {
        const char* Text;
        std::optional<TDateTime> Value;
    };
    const TCase cases[] = {
        {"03/04/2011", EncodeDate(2011, 3, 4)},
        {" 3/4/2011 ", EncodeDate(2011, 3, 4)},
        {"03/04/2011 05:06:07 PM", EncodeDateTime(2011, 3, 4, 17, 6, 7, 0)},
        {"03/04/2011 5:06:07 am", EncodeDateTime(2011, 3, 4, 5, 6, 7, 0)},
        {"03/04/2011 17:06:07", EncodeDateTime(2011, 3, 4, 17, 6, 7, 0)},
        {"03/04/2011 17:06", EncodeDateTime(2011, 3, 4, 17, 6, 0, 0)},
        {"03/04/2011 17:06:07.5", EncodeDateTime(2011, 3, 4, 17, 6, 7, 500)},
        {"12:00:00 AM", 0.0},
        {"12:00:00 PM", 0.5},
        {"13:00:00 PM", std::nullopt},
        {"24:00:00", std::nullopt},
        {"02/30/2011", std::nullopt},
        {"03/04/2011 extra", std::nullopt},
        {"03/04/2011 10", std::nullopt},
        {"03/04/20111", std::nullopt},
        {"", std::nullopt},
        {"garbage", std::nullopt},
    };
    for (const auto& c : cases) {
        auto r = TryStrToDateTime(c.Text);
        EXPECT_EQ(r.has_value(), c.Value.has_value()) << c.Text;
        if (r && c.Value) {
            EXPECT_DOUBLE_EQ(*r, *c.Value) << c.Text;
        }
    }
    EXPECT_DOUBLE_EQ(StrToDate("03/04/2011"), EncodeDate(2011, 3, 4));
    EXPECT_DOUBLE_EQ(StrToTime("05:06:07 PM"), EncodeTime(17, 6, 7, 0));
    EXPECT_FALSE(TryStrToDate("03/04/2011 05:06:07"));
    EXPECT_FALSE(TryStrToTime("03/04/2011"));
    try {
        StrToDateTime("31/12/2011");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'31/12/2011' is not a valid date and time");
    }

    // A two-digit year falls within the 100 years starting 50 years back.
    int year, month, day, nowYear;
    DecodeDate(Now(), nowYear, month, day);
    DecodeDate(StrToDateTime("1/1/80 12:00"), year, month, day);
    EXPECT_EQ(year % 100, 80);
    EXPECT_GE(year, nowYear - 50);
    EXPECT_LT(year, nowYear + 50);
}

class DateUtilsTimeZone : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        FHadTz = tz != nullptr;
        if (FHadTz) FOldTz = tz;
        setenv("TZ", "EST5", 1);  // fixed five hours west of UTC, no summer time
        tzset();
    }
    void TearDown() override {
        if (FHadTz) setenv("TZ", FOldTz.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    bool FHadTz = false;
    std::string FOldTz;
};

TEST_F(DateUtilsTimeZone, UnixConversionsInUtcAndLocalTime) {
    EXPECT_DOUBLE_EQ(UnixToDateTime(0, false), 25569);
    EXPECT_DOUBLE_EQ(UnixToDateTime(-86400 * 3 / 2, false), 25567.5);
    EXPECT_EQ(DateTimeToUnix(25569.5, false), 43200);
    EXPECT_EQ(DateTimeToUnix(-1.25, false), -25570 * int64_t(86400) + 6 * 3600);

    EXPECT_DOUBLE_EQ(UnixToDateTime(0, true), EncodeDateTime(1969, 12, 31, 19, 0, 0, 0));
    EXPECT_EQ(DateTimeToUnix(EncodeDateTime(1969, 12, 31, 19, 0, 0, 0), true), 0);
    timespec ts{1299215167, 89000000};  // 2011-03-04 05:06:07.089 UTC
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnsszzz", TimespecToDateTime(ts, false)),
              "20110304050607089");
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnsszzz", TimespecToDateTime(ts, true)),
              "20110304000607089");
    EXPECT_NEAR(NowUTC() - Now(), 5.0 / 24, 1.0 / 1440);
}

TEST(DateUtils, FloatTextIgnoresTheLocale) {
    struct TCase {
        double Value;
        const char* Text;
    };
    const TCase cases[] = {{0.1, "0.1"}, {2.5, "2.5"}, {-3, "-3"}, {0, "0"}, {1e20, "1e+20"}};
    for (const auto& c : cases) {
        EXPECT_EQ(FloatToStr(c.Value), c.Text);
        EXPECT_DOUBLE_EQ(StrToFloat(c.Text), c.Value);
    }
    EXPECT_EQ(StrToFloat(FloatToStr(1.0 / 3)), 1.0 / 3);
    EXPECT_DOUBLE_EQ(StrToFloat(" +1.5 "), 1.5);
    for (const char* bad : {"", "1,5", "1.5x", "+-2", "--2", "1e999"})
        EXPECT_FALSE(TryStrToFloat(bad)) << bad;
    EXPECT_THROW(StrToFloat("x"), EConvertError);
}

}  // namespace
