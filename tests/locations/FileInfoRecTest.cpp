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
