#include "news/NewsDates.h"

#include <clocale>
#include <ctime>
#include <memory>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "platform/TimeZone.h"

namespace {

// A UTC date-time from its parts; the parts of every expected value here are valid.
TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    TDateTime date = 0, time = 0;
    EXPECT_TRUE(TryEncodeDate(year, month, day, date));
    EXPECT_TRUE(TryEncodeTime(hour, minute, second, 0, time));
    return date + time;
}

// Well below a second, well above the rounding of doubles near 40000.
constexpr double kTolerance = 1e-8;

// The time zone of the process for the rest of the scope.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) : FEnv(std::make_unique<ScopedEnv>("TZ", tz)) { tzset(); }
    ~ScopedTimeZone() {
        FEnv.reset();
        tzset();
    }

private:
    std::unique_ptr<ScopedEnv> FEnv;
};

// The clock stands still at a chosen UTC moment for the rest of the scope.
double gFixedNow = 0;
class ScopedClock {
public:
    explicit ScopedClock(TDateTime utc) {
        gFixedNow = DateTimeToUnix(utc);
        SetClockForTesting([] { return gFixedNow; });
    }
    ~ScopedClock() { SetClockForTesting(nullptr); }
};

} // namespace

TEST(SplitTokenTest, CutsAtTheFirstSeparatorOrTakesEverything) {
    std::string text = "10:20:30";
    EXPECT_EQ(SplitToken(text, ":"), "10");
    EXPECT_EQ(text, "20:30");

    text = "a::b";
    EXPECT_EQ(SplitToken(text, "::"), "a");
    EXPECT_EQ(text, "b");

    text = "a:";
    EXPECT_EQ(SplitToken(text, ":"), "a");
    EXPECT_EQ(text, "");

    text = "no separator";
    EXPECT_EQ(SplitToken(text, ":"), "no separator");
    EXPECT_EQ(text, "");

    text = "abc";
    EXPECT_EQ(SplitToken(text, ""), "abc");
    EXPECT_EQ(text, "");
}

TEST(MonthNumberTest, ExactShortNamesOnlyElseJanuary) {
    EXPECT_EQ(MonthNumber("jan"), 1);
    EXPECT_EQ(MonthNumber("sep"), 9);
    EXPECT_EQ(MonthNumber("dec"), 12);
    EXPECT_EQ(MonthNumber("june"), 1);
    EXPECT_EQ(MonthNumber("Sep"), 1);
    EXPECT_EQ(MonthNumber(""), 1);
}

TEST(ZoneOffsetTest, NamedZones) {
    EXPECT_DOUBLE_EQ(ZoneOffset("GMT"), 0);
    EXPECT_DOUBLE_EQ(ZoneOffset("ut"), 0);
    EXPECT_DOUBLE_EQ(ZoneOffset(" est "), -5 / 24.0);
    EXPECT_DOUBLE_EQ(ZoneOffset("PDT"), -7 / 24.0);
    EXPECT_DOUBLE_EQ(ZoneOffset("A"), -1 / 24.0);
    EXPECT_DOUBLE_EQ(ZoneOffset("M"), -12 / 24.0);
    EXPECT_DOUBLE_EQ(ZoneOffset("n"), 1 / 24.0);
    EXPECT_DOUBLE_EQ(ZoneOffset("Y"), 12 / 24.0);
    // Other military letters are unknown.
    EXPECT_DOUBLE_EQ(ZoneOffset("Z"), 0);
    EXPECT_DOUBLE_EQ(ZoneOffset("B"), 0);
}

TEST(ZoneOffsetTest, NumericZonesAndGarbage) {
    EXPECT_DOUBLE_EQ(ZoneOffset("+0530"), 5.5 / 24);
    EXPECT_DOUBLE_EQ(ZoneOffset("-0330"), -3.5 / 24);
    EXPECT_DOUBLE_EQ(ZoneOffset("+0200"), 2 / 24.0);
    // The minutes of a zone under one hour west still count westwards.
    EXPECT_DOUBLE_EQ(ZoneOffset("-0030"), -0.5 / 24);
    EXPECT_DOUBLE_EQ(ZoneOffset("+05"), 5 / 24.0);
    EXPECT_DOUBLE_EQ(ZoneOffset("+05:30"), 5 / 24.0);
    EXPECT_DOUBLE_EQ(ZoneOffset(""), 0);
    EXPECT_DOUBLE_EQ(ZoneOffset("CEST"), 0);
    EXPECT_DOUBLE_EQ(ZoneOffset("abc30"), 0.5 / 24);
}

TEST(DecodeRfc822DateTest, ZonesShiftToUtc) {
    EXPECT_NEAR(DecodeRfc822Date("Sat, 07 Sep 2002 00:00:01 GMT"), At(2002, 9, 7, 0, 0, 1), kTolerance);
    EXPECT_NEAR(DecodeRfc822Date("Sat, 07 Sep 2002 00:00:01 EST"), At(2002, 9, 7, 5, 0, 1), kTolerance);
    EXPECT_NEAR(DecodeRfc822Date("Sat, 07 Sep 2002 00:00:01 +0200"), At(2002, 9, 6, 22, 0, 1), kTolerance);
    EXPECT_NEAR(DecodeRfc822Date("Sat, 07 Sep 2002 00:00:01 Z"), At(2002, 9, 7, 0, 0, 1), kTolerance);
    // No zone at all is UTC.
    EXPECT_NEAR(DecodeRfc822Date("Sat, 07 Sep 2002 00:00:01"), At(2002, 9, 7, 0, 0, 1), kTolerance);
}

TEST(DecodeRfc822DateTest, LenientReadings) {
    // Month names are lower-cased first; extra spaces between the fields are skipped.
    EXPECT_NEAR(DecodeRfc822Date("Sat,  07   SEP  2002  00:00:01   GMT"), At(2002, 9, 7, 0, 0, 1),
                kTolerance);
    EXPECT_NEAR(DecodeRfc822Date("Mon, 02 June 2003 10:00:00 GMT"), At(2003, 1, 2, 10), kTolerance);
    EXPECT_NEAR(DecodeRfc822Date("Sat, 07 Sep 2002 10:20 GMT"), At(2002, 9, 7, 10, 20), kTolerance);
    EXPECT_NEAR(DecodeRfc822Date("Sat, 07 Sep 2002 10:20:xx GMT"), At(2002, 9, 7, 10, 20), kTolerance);
    // A two-digit year stays in year 2.
    EXPECT_NEAR(DecodeRfc822Date("Sat, 07 Sep 02 00:00:01 GMT"), At(2, 9, 7, 0, 0, 1), kTolerance);
    // The first token is skipped whatever it holds.
    EXPECT_NEAR(DecodeRfc822Date("x 7 Sep 2002 1:2:3 GMT"), At(2002, 9, 7, 1, 2, 3), kTolerance);
}

TEST(DecodeRfc822DateTest, FailuresGiveZero) {
    EXPECT_EQ(DecodeRfc822Date("07 Sep 2002 00:00:01 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07 Sep 2002 24:00:00 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07 Sep 2002 23:60:00 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07 Sep 2002 23:59:60 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sun, 30 Feb 2003 00:00:00 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 29 Feb 2003 00:00:00 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07 Sep 0 00:00:01 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07 Sep 10000 00:00:01 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07th Sep 2002 00:00:01 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07 Sep 2002 -1:00:01 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07 Sep 2002 99999999999:00:01 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date("Sat, 07 Sep 2002 noon GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date(""), 0);
    EXPECT_EQ(DecodeRfc822Date(std::string("Sat, 07\0 Sep 2002 00:00:01 GMT", 30)), 0);
    // 29 February of a leap year is a date.
    EXPECT_NEAR(DecodeRfc822Date("Thu, 29 Feb 2004 12:00:00 GMT"), At(2004, 2, 29, 12), kTolerance);
}

TEST(DecodeIsoDateTest, ZonesAndDefaults) {
    EXPECT_NEAR(DecodeIsoDate("2003-12-13T18:30:02Z"), At(2003, 12, 13, 18, 30, 2), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-12-13T18:30:02+01:00"), At(2003, 12, 13, 17, 30, 2), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-12-13T18:30:02-05:00"), At(2003, 12, 13, 23, 30, 2), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-12-13T18:30:02-05:30"), At(2003, 12, 14, 0, 0, 2), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-12-13T18:30:02"), At(2003, 12, 13, 18, 30, 2), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-12-13"), At(2003, 12, 13), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-12-13T18:30:02.25Z"), At(2003, 12, 13, 18, 30, 0), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-12-13T18:30Z"), At(2003, 12, 13, 18, 30), kTolerance);
    // Missing date parts: 1900, January, the first; the day is trimmed.
    EXPECT_NEAR(DecodeIsoDate("2003"), At(2003, 1, 1), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-07"), At(2003, 7, 1), kTolerance);
    EXPECT_NEAR(DecodeIsoDate(" 13 "), At(1900, 1, 1), kTolerance);
    EXPECT_NEAR(DecodeIsoDate("2003-07- 05 T10:00:00Z"), At(2003, 7, 5, 10), kTolerance);
}

TEST(DecodeIsoDateTest, OutOfRangeGivesZero) {
    EXPECT_EQ(DecodeIsoDate("2003-13-01T00:00:00Z"), 0);
    EXPECT_EQ(DecodeIsoDate("2003-02-30T00:00:00Z"), 0);
    EXPECT_EQ(DecodeIsoDate("2003-12-13T25:00:00Z"), 0);
    EXPECT_EQ(DecodeIsoDate("2003-12-13T24:00:00Z"), 0);
    EXPECT_EQ(DecodeIsoDate("2003-12-13T23:60:00Z"), 0);
    EXPECT_EQ(DecodeIsoDate("0-12-13"), 0);
    EXPECT_EQ(DecodeIsoDate("10000-01-01"), 0);
}

TEST(FilterDaysTest, TableAndIndexesOutsideIt) {
    const int expected[FilterCount] = {1, 2, 7, 14, 30, -1};
    for (int i = 0; i < FilterCount; ++i)
        EXPECT_EQ(FilterDays(i), expected[i]) << i;
    EXPECT_EQ(FilterName(0), "Last day");
    EXPECT_EQ(FilterName(1), "Last 2 days");
    EXPECT_EQ(FilterName(5), "All");
    EXPECT_EQ(FilterDays(-1), -1);
    EXPECT_EQ(FilterDays(6), -1);
    EXPECT_EQ(FilterName(6), "");
}

TEST(PassesAgeFilterTest, BoundaryIsInclusiveAndUndatedItemsPass) {
    const TDateTime now = DecodeRfc822Date("Sun, 08 Sep 2002 12:00:00 GMT");
    ScopedClock clock(now);
    const TDateTime oneSecond = 1.0 / 86400;

    // Exactly one day old, decoded from text rather than computed from the clock.
    EXPECT_TRUE(PassesAgeFilter(DecodeRfc822Date("Sat, 07 Sep 2002 12:00:00 GMT"), 0));
    EXPECT_FALSE(PassesAgeFilter(DecodeRfc822Date("Sat, 07 Sep 2002 11:59:59 GMT"), 0));
    EXPECT_TRUE(PassesAgeFilter(DecodeIsoDate("2002-09-07T14:00:00+02:00"), 0));
    EXPECT_TRUE(PassesAgeFilter(now - 1 + oneSecond, 0));

    EXPECT_TRUE(PassesAgeFilter(now - 30, 4));
    EXPECT_FALSE(PassesAgeFilter(now - 30 - oneSecond, 4));
    EXPECT_TRUE(PassesAgeFilter(now - 14, 3));
    EXPECT_FALSE(PassesAgeFilter(now - 14 - oneSecond, 3));
    // Items from the future always pass.
    EXPECT_TRUE(PassesAgeFilter(now + 5, 0));

    for (int i = 0; i < FilterCount; ++i)
        EXPECT_TRUE(PassesAgeFilter(0, i)) << i;
    // A two-digit year lands in year 2: seen under "All" only.
    const TDateTime yearTwo = DecodeRfc822Date("Sat, 07 Sep 02 00:00:01 GMT");
    EXPECT_FALSE(PassesAgeFilter(yearTwo, 4));
    EXPECT_TRUE(PassesAgeFilter(yearTwo, 5));
}

TEST(PassesAgeFilterTest, LocalZoneDoesNotMoveTheBoundary) {
    const TDateTime now = At(2002, 9, 8, 12);
    ScopedClock clock(now);
    for (const char* tz : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "JST-9", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
        ScopedTimeZone zone(tz);
        EXPECT_TRUE(PassesAgeFilter(now - 1, 0)) << tz;
        EXPECT_FALSE(PassesAgeFilter(now - 1 - 1.0 / 86400, 0)) << tz;
    }
}

TEST(FormatNewsDateTest, ShortDateAndLongTimeInLocalTime) {
    std::setlocale(LC_TIME, "C");
    {
        ScopedTimeZone zone("UTC0");
        EXPECT_EQ(FormatNewsDate(At(2002, 9, 7, 0, 0, 1)), "09/07/02 00:00:01");
        EXPECT_EQ(FormatNewsDate(At(2002, 9, 7, 23, 59, 59)), "09/07/02 23:59:59");
        // Midnight to the second shows the date alone.
        EXPECT_EQ(FormatNewsDate(At(2002, 9, 7)), "09/07/02");
        // Decoded dates carry rounding; they still show their exact second.
        EXPECT_EQ(FormatNewsDate(DecodeIsoDate("2003-12-13T18:30:02+01:00")), "12/13/03 17:30:02");
        EXPECT_EQ(FormatNewsDate(DecodeRfc822Date("Sat, 07 Sep 2002 02:00:00 +0200")), "09/07/02");
    }
    {
        ScopedTimeZone zone("EST5");
        EXPECT_EQ(FormatNewsDate(At(2002, 9, 7, 0, 0, 1)), "09/06/02 19:00:01");
    }
}

TEST(FormatNewsDateTest, FollowsDaylightSavingOfThatDate) {
    std::setlocale(LC_TIME, "C");
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    // Summer: two hours ahead of UTC, so 22:00 UTC is local midnight.
    EXPECT_EQ(FormatNewsDate(At(2003, 7, 1, 22)), "07/02/03");
    EXPECT_EQ(FormatNewsDate(At(2003, 7, 1, 10, 15)), "07/01/03 12:15:00");
    // Winter: one hour ahead.
    EXPECT_EQ(FormatNewsDate(At(2003, 12, 13, 23)), "12/14/03");
    EXPECT_EQ(FormatNewsDate(At(2003, 12, 13, 10, 15)), "12/13/03 11:15:00");
}
