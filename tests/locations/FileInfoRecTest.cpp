// The information record, its 48-digit form and MS-DOS date-times.
#include "LocationTestSupport.h"

#include "locations/URLParts.h"

#include <gtest/gtest.h>

namespace {

using loctest::FixtureHex;
using loctest::FixtureUnix;

TEST(FileInfoRec, FixtureRoundTrip) {
    TFileInfoRec r;
    r.Time = DosDateTimeFromUnix(FixtureUnix);
    r.Size = 1234;
    r.Attributes = faArchive;
    EXPECT_EQ(r.Time, 0x3E6428C4u);
    EXPECT_EQ(r.ToHex(), FixtureHex);
    auto back = TFileInfoRec::FromHex(FixtureHex);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, r);
    EXPECT_EQ(UnixFromDosDateTime(back->Time), FixtureUnix);
    // Lower-case digits read too; the record is written upper-case.
    auto lower = TFileInfoRec::FromHex(LowerCase(FixtureHex));
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->ToHex(), FixtureHex);
}

TEST(FileInfoRec, ByteLayoutIsLittleEndianWhateverTheHost) {
    TFileInfoRec r;
    r.Time = 0x01020304;
    r.Reserved1 = 0x05060708;
    r.Size = -2;
    r.Attributes = 0x11;
    r.Reserved2 = 0x0A0B0C0D;
    EXPECT_EQ(r.ToHex(), "0403020108070605FEFFFFFFFFFFFFFF110000000D0C0B0A");
    EXPECT_EQ(TFileInfoRec::FromHex(r.ToHex())->Size, -2);
}

TEST(FileInfoRec, MalformedTextIsRefused) {
    for (std::string bad : {std::string(), std::string(46, '0'), std::string(50, '0'),
                            std::string(FixtureHex).replace(10, 1, "G"),
                            std::string(FixtureHex).replace(0, 1, " ")})
        EXPECT_FALSE(TFileInfoRec::FromHex(bad)) << bad;
}

TEST(DosTime, RangeEdgesAndRounding) {
    // Before 1980: the earliest representable time, which still reads as a date.
    EXPECT_EQ(DosDateTimeFromUnix(0), DosTimeEarliest);
    EXPECT_EQ(DosDateTimeFromUnix(-1000000000), DosTimeEarliest);
    EXPECT_NE(DosTimeEarliest, 0u);
    EXPECT_EQ(DosDateTimeFromUnix(315532800), DosTimeEarliest);  // 1980-01-01 00:00:00
    EXPECT_EQ(UnixFromDosDateTime(DosTimeEarliest), 315532800);
    // After 2107: the latest.
    EXPECT_EQ(DosDateTimeFromUnix(int64_t(5000000000)), DosTimeLatest);
    // Odd seconds round down to the 2-second step.
    EXPECT_EQ(DosDateTimeFromUnix(FixtureUnix + 1), DosDateTimeFromUnix(FixtureUnix));
    EXPECT_EQ(UnixFromDosDateTime(0), 0);
    // Times after 2043 have the top bit set and still compare later, as unsigned values.
    uint32_t y2030 = DosDateTimeFromUnix(1893456000), y2050 = DosDateTimeFromUnix(2524608000);
    EXPECT_GT(y2050, y2030);
    EXPECT_GT(y2050, 0x80000000u);
}

TEST(DosTime, ZoneConversionsFollowThePinnedZone) {
    loctest::TPinnedZone zone("XYZ-2");  // two hours east of UTC, no daylight saving
    uint32_t utc = DosDateTimeFromUnix(FixtureUnix);  // 05:06:08 UTC
    uint32_t local = UtcToLocalDosTime(utc);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", DosDateTimeToDateTime(local)),
              "2011-03-04 07:06:08");
    EXPECT_EQ(LocalToUtcDosTime(local), utc);
    EXPECT_EQ(UnixFromLocalDosDateTime(local), FixtureUnix);
    EXPECT_EQ(UtcToLocalDosTime(0), 0u);
    EXPECT_EQ(LocalToUtcDosTime(0), 0u);
}

}  // namespace

namespace {

// A record as a local listing makes it: the two-second time and, beside it, the whole one.
TFileInfoRec Local(int64_t seconds, uint32_t nanoseconds) {
    TFileInfoRec r;
    r.Time = DosDateTimeFromUnix(seconds);
    r.SetFineTime(seconds, nanoseconds);
    return r;
}

TFileInfoRec DosOnly(int64_t seconds) {
    TFileInfoRec r;
    r.Time = DosDateTimeFromUnix(seconds);
    return r;
}

TEST(FileInfoRec, TimesCompareExactlyWithinAFileSystemAndToTwoSecondsAcross) {
    const int64_t t = FixtureUnix;  // an even second
    struct TCase {
        const char* Name;
        TFileInfoRec A, B;
        int Exact, Coarse;
    } cases[] = {
        {"same time", Local(t, 5), Local(t, 5), 0, 0},
        {"an edit within the same second", Local(t, 100), Local(t, 900), -1, 0},
        {"an edit in the next second of the step", Local(t + 1, 0), Local(t, 0), 1, 0},
        {"the next two-second step", Local(t + 2, 0), Local(t + 1, 999999999), 1, 1},
        {"a record without the whole time (an archive member, an older document)", DosOnly(t + 1),
         Local(t, 300), 0, 0},
        {"before 1980: apart although the two-second times are both the earliest", Local(100000000, 0),
         Local(100000010, 0), -1, -1},
        {"after 2107: apart although both are the latest", Local(4400000000, 0), Local(4300000000, 0), 1, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(CompareExactTime(c.A, c.B), c.Exact);
        EXPECT_EQ(CompareExactTime(c.B, c.A), -c.Exact);
        EXPECT_EQ(CompareCoarseTime(c.A, c.B), c.Coarse);
        EXPECT_EQ(CompareCoarseTime(c.B, c.A), -c.Coarse);
    }
    // The whole time survives the stored form, and older readers see the same Time.
    const TFileInfoRec before = Local(100000000, 123456789);
    const TFileInfoRec read = *TFileInfoRec::FromHex(before.ToHex());
    EXPECT_EQ(read.UnixSeconds(), 100000000);
    EXPECT_EQ(read.Nanoseconds(), 123456789u);
    EXPECT_EQ(read.Time, DosTimeEarliest);
    EXPECT_EQ(DosOnly(t).UnixSeconds(), t);
    // Far outside the two-second time's range (a broken 1901 date, a date in 2180).
    for (int64_t far : {int64_t(-2200000000), int64_t(6500000000), int64_t(315532801)}) {
        EXPECT_EQ(Local(far, 0).UnixSeconds(), far) << far;
    }
    EXPECT_FALSE(DosOnly(t).HasFineTime());
}

}  // namespace

namespace {

// The two-second time agrees with the C library's calendar both ways, every day of the
// range and across its edges.
TEST(DosTime, AgreesWithTheCalendarOfTheCLibrary) {
    for (int64_t s = -400LL * 86400 * 366; s < 5000000000LL; s += 86400 * 7 + 3607) {
        std::time_t t = static_cast<std::time_t>(s);
        std::tm g{};
        ASSERT_NE(::gmtime_r(&t, &g), nullptr);
        uint32_t expected = g.tm_year + 1900 < 1980   ? DosTimeEarliest
                            : g.tm_year + 1900 > 2107 ? DosTimeLatest
                                                      : PackDosDateTime(g.tm_year + 1900, g.tm_mon + 1, g.tm_mday,
                                                                        g.tm_hour, g.tm_min, g.tm_sec);
        ASSERT_EQ(DosDateTimeFromUnix(s), expected) << s;
        if (expected != DosTimeEarliest && expected != DosTimeLatest) {
            ASSERT_EQ(UnixFromDosDateTime(expected), s - s % 2) << s;
        }
    }
}

}  // namespace
