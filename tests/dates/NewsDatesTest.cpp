#include "dates/NewsDates.h"

#include <clocale>
#include <cmath>
#include <ctime>
#include <memory>
#include <string>
#include <utility>

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
    std::string_view text = "a::b:c";
    EXPECT_EQ(SplitToken(text, "::"), "a");
    EXPECT_EQ(text, "b:c");
    EXPECT_EQ(SplitToken(text, ":"), "b");
    EXPECT_EQ(SplitToken(text, ":"), "c");
    EXPECT_EQ(text, "");
    for (const char* separator : {";", ""}) {
        text = "a:b";
        EXPECT_EQ(SplitToken(text, separator), "a:b");
        EXPECT_EQ(text, "");
    }
    text = ":";
    EXPECT_EQ(SplitToken(text, ":"), "");
    EXPECT_EQ(text, "");
}

TEST(ZoneOffsetTest, NamedAndNumericZones) {
    const std::pair<const char*, double> cases[] = {
        {"GMT", 0},
        {" est ", -5},
        {"pdt", -7},
        {"CEST", 0},
        {"", 0},
        {"+0530", 5.5},
        {"-0330", -3.5},
        {"-0030", -0.5},
        {"+05", 5},
        {"+05:30", 5},
        {"abc30", 0.5},
        // Every military single letter is +0000, whatever RFC 822 once said of its sign.
        {"A", 0},
        {"m", 0},
        {" N ", 0},
        {"Y", 0},
        {"Z", 0},
        {"J", 0}};
    for (const auto& [zone, hours] : cases)
        EXPECT_DOUBLE_EQ(ZoneOffset(zone), hours / 24) << zone;
    EXPECT_EQ(MonthNumber("dec"), 12);
    EXPECT_EQ(MonthNumber("Sep"), 1);
}

struct TDateCase {
    const char* Text;
    TDateTime Expected;
};

TEST(DecodeRfc822DateTest, Examples) {
    const TDateCase cases[] = {
        {"Sat, 07 Sep 2002 00:00:01 GMT", At(2002, 9, 7, 0, 0, 1)},
        {"Sat, 07 Sep 2002 00:00:01 EST", At(2002, 9, 7, 5, 0, 1)},
        {"Sat, 07 Sep 2002 00:00:01 +0200", At(2002, 9, 6, 22, 0, 1)},
        {"Sat, 07 Sep 2002 00:00:01 Z", At(2002, 9, 7, 0, 0, 1)},
        // Whatever follows the time is the zone; unnamed, its first five characters are +hhmm.
        {"Sat, 07 Sep 2002 00:00:01 +0200 (CEST)", At(2002, 9, 6, 22, 0, 1)},
        {"Sat, 07 Sep 2002 00:00:01 GMT+2", At(2002, 9, 6, 23, 58, 1)},
        {"Sat, 07 Sep 2002 00:00:01", At(2002, 9, 7, 0, 0, 1)},
        // Month names are lower-cased first; extra spaces between the fields are skipped.
        {"Sat,  07   SEP  2002  00:00:01   GMT", At(2002, 9, 7, 0, 0, 1)},
        {"Mon, 02 June 2003 10:00:00 GMT", At(2003, 1, 2, 10)},
        {"Sat, 07 Sep 2002 10:20 GMT", At(2002, 9, 7, 10, 20)},
        {"Sat, 07 Sep 2002 10:20:xx GMT", At(2002, 9, 7, 10, 20)},
        {"Sat, 07 Sep 0002 00:00:01 GMT", At(2, 9, 7, 0, 0, 1)},
        {"x 7 Sep 2002 1:2:3 GMT", At(2002, 9, 7, 1, 2, 3)},
        {"Thu, 29 Feb 2004 12:00:00 GMT", At(2004, 2, 29, 12)},
        // Pretty-printed: a text that fails as written is read again trimmed.
        {"\n      Sat, 07 Sep 2002 00:00:01 GMT\n    ", At(2002, 9, 7, 0, 0, 1)},
        {"\tSat, 07 Sep 2002 00:00:01 +0200", At(2002, 9, 6, 22, 0, 1)},
        // A text that decodes as written keeps that date: here the empty first token is the
        // weekday, and trimming would have made the day the weekday instead.
        {" 07 Sep 2002 00:00:01 GMT", At(2002, 9, 7, 0, 0, 1)},
        // Failures.
        {"Sat, 07 Sep 2002 24:00:00 GMT", 0},
        {"Sat, 07 Sep 2002 23:60:00 GMT", 0},
        {"Sat, 07 Sep 2002 23:59:60 GMT", 0},
        {"Sun, 30 Feb 2003 00:00:00 GMT", 0},
        {"Sat, 07 Sep 10000 00:00:01 GMT", 0},
        {"Sat, 07th Sep 2002 00:00:01 GMT", 0},
        {"Sat, 07 Sep 2002 -1:00:01 GMT", 0},
        {"Sat, 07 Sep 2002 99999999999:00:01 GMT", 0},
        {"", 0},
        {" \r\n ", 0},
    };
    for (const TDateCase& c : cases)
        EXPECT_NEAR(DecodeRfc822Date(c.Text), c.Expected, kTolerance) << c.Text;
    EXPECT_EQ(DecodeRfc822Date(std::string("Sat, 07\0 Sep 2002 00:00:01 GMT", 30)), 0);
}

TEST(DecodeRfc822DateTest, WithoutTheWeekday) {
    const TDateCase cases[] = {
        {"07 Nov 2015 12:00:00 EST", At(2015, 11, 7, 17)},
        {"7 Nov 2015 12:00 GMT", At(2015, 11, 7, 12)},
        {"07 Nov 2015 12:00:00", At(2015, 11, 7, 12)},
        {"\n      07 Nov 2015 12:00:00 +0100\n    ", At(2015, 11, 7, 11)},
        {"\n07 Nov 2015 12:00:00 GMT", At(2015, 11, 7, 12)},
        // Still the day first, then the month by name, and a time.
        {"Nov 07 2015 12:00:00 GMT", 0},
        {"2015 Nov 07 12:00:00 GMT", 0},
        {"07 Nov 2015", 0},
        {"07 Nov 2015 25:00:00 GMT", 0},
        {"Sat, Nov 07 2015 12:00:00 GMT", 0},
    };
    for (const TDateCase& c : cases)
        EXPECT_NEAR(DecodeRfc822Date(c.Text), c.Expected, kTolerance) << c.Text;
}

TEST(DecodeRfc822DateTest, TwoDigitYearsByTheirCentury) {
    const TDateCase cases[] = {
        {"Thu, 07 Dec 17 10:00:29 -0800", At(2017, 12, 7, 18, 0, 29)},
        {"07 Dec 17 10:00:29 -0800", At(2017, 12, 7, 18, 0, 29)},
        {"Sat, 01 Jan 00 00:00:00 GMT", At(2000, 1, 1)},
        {"Sat, 31 Dec 49 23:59:59 GMT", At(2049, 12, 31, 23, 59, 59)},
        {"Sat, 01 Jan 50 00:00:00 GMT", At(1950, 1, 1)},
        {"Fri, 31 Dec 99 12:00:00 GMT", At(1999, 12, 31, 12)},
        // Other lengths are years as written.
        {"Sat, 07 Sep 7 00:00:00 GMT", At(7, 9, 7)},
        {"Sat, 07 Sep 017 00:00:00 GMT", At(17, 9, 7)},
        {"Sat, 07 Sep +17 00:00:00 GMT", At(17, 9, 7)},
        {"Sat, 07 Sep 1x 00:00:00 GMT", 0},
        {"Sat, 29 Feb 01 00:00:00 GMT", 0},
    };
    for (const TDateCase& c : cases)
        EXPECT_NEAR(DecodeRfc822Date(c.Text), c.Expected, kTolerance) << c.Text;
}

TEST(DecodeRfc822DateTest, MilitaryZonesAreUtc) {
    for (const char* zone : {"A", "I", "K", "M", "N", "Y", "Z", "a"}) {
        const std::string text = std::string("Sat, 07 Sep 2002 00:00:01 ") + zone;
        EXPECT_NEAR(DecodeRfc822Date(text), At(2002, 9, 7, 0, 0, 1), kTolerance) << text;
        EXPECT_EQ(DecodeRfc822Date(std::string("Sat, 07 Sep 2002 24:00:01 ") + zone), 0) << zone;
    }
}

TEST(DecodeDatesTest, FractionalSecondsAreKept) {
    const TDateTime second = 1.0 / 86400;
    const TDateCase rfc[] = {
        {"Sat, 07 Sep 2002 00:00:01.25 GMT", At(2002, 9, 7, 0, 0, 1) + 0.25 * second},
        {"07 Sep 2002 00:00:01.5 +0200", At(2002, 9, 6, 22, 0, 1) + 0.5 * second},
        {"Sat, 07 Sep 2002 00:00:60.5 GMT", 0},
        {"Sat, 07 Sep 2002 24:00:00.5 GMT", 0},
    };
    for (const TDateCase& c : rfc)
        EXPECT_NEAR(DecodeRfc822Date(c.Text), c.Expected, kTolerance) << c.Text;
    const TDateCase iso[] = {
        {"2003-12-13T18:30:02.25Z", At(2003, 12, 13, 18, 30, 2) + 0.25 * second},
        {"2003-12-13T18:30:02.000Z", At(2003, 12, 13, 18, 30, 2)},
        {"2003-12-13T18:30:02,5+01:00", At(2003, 12, 13, 17, 30, 2) + 0.5 * second},
        {"2003-12-13T18:30:02.999999-05:00", At(2003, 12, 13, 23, 30, 2) + 0.999999 * second},
        {"2003-12-13T18:30:59.123456789012345678", At(2003, 12, 13, 18, 30, 59) + 0.123456789 * second},
        // Not a number with a fraction: as any other second that is not an integer, 0.
        {"2003-12-13T18:30:02.x5Z", At(2003, 12, 13, 18, 30)},
        {"2003-12-13T18:30:.5Z", At(2003, 12, 13, 18, 30)},
        {"2003-12-13T18:30:60.5Z", 0},
        {"2003-12-13T24:00:00.5Z", 0},
    };
    for (const TDateCase& c : iso)
        EXPECT_NEAR(DecodeIsoDate(c.Text), c.Expected, kTolerance) << c.Text;
    // Kept to the millisecond, as the age filter compares.
    EXPECT_EQ(
        std::llround((DecodeIsoDate("2003-12-13T18:30:02.25Z") - At(2003, 12, 13, 18, 30, 2)) * 86400000),
        250);
}

TEST(DecodeIsoDateTest, BlankForTheTSlashesAndZonesWithoutColon) {
    const TDateCase cases[] = {
        {"2006-01-11 16:42:55 -0800", At(2006, 1, 12, 0, 42, 55)},
        {"2006-01-11 16:42:55-08:00", At(2006, 1, 12, 0, 42, 55)},
        {"2006-01-11  16:42 +0530", At(2006, 1, 11, 11, 12)},
        {"2006-01-11 16:42:55 GMT", At(2006, 1, 11, 16, 42, 55)},
        {"2006-01-11 16:42:55 EST", At(2006, 1, 11, 21, 42, 55)},
        {"2006-01-11 16:42:55Z", At(2006, 1, 11, 16, 42, 55)},
        {"2006-01-11 16:42:55.5", At(2006, 1, 11, 16, 42, 55) + 0.5 / 86400},
        {"2020/1/10 14:33:00", At(2020, 1, 10, 14, 33)},
        {"2020/01/10", At(2020, 1, 10)},
        {"2003-12-13T18:30:02+0100", At(2003, 12, 13, 17, 30, 2)},
        {"2003-12-13T18:30:02-0530", At(2003, 12, 14, 0, 0, 2)},
        // Still a year, a month and a day, and a time that is one.
        {"2006-01-32 16:42:55", 0},
        {"2006-01-11 25:00:00 GMT", 0},
        {"2020/13/10 14:33:00", 0},
        {"10/01/2020 14:33:00", 0},
        {"1/10/20", 0},
        {"Jan 11 2006 16:42:55", 0},
    };
    for (const TDateCase& c : cases)
        EXPECT_NEAR(DecodeIsoDate(c.Text), c.Expected, kTolerance) << c.Text;
}

TEST(DecodeDatesTest, EachFormFallsBackToTheOther) {
    const TDateTime rfcDate = At(2015, 11, 7, 17);
    const TDateTime isoDate = At(2018, 9, 19, 5, 11, 22);
    const char* rfcText = "07 Nov 2015 12:00:00 EST";
    const char* isoText = "2018-09-19T05:11:22.000Z";
    // Neither decoder reads the other's form, so the order of the fallback decides nothing.
    EXPECT_EQ(DecodeIsoDate(rfcText), 0);
    EXPECT_EQ(DecodeIsoDate("Sat, 07 Nov 2015 12:00:00 GMT"), 0);
    EXPECT_EQ(DecodeRfc822Date(isoText), 0);
    EXPECT_EQ(DecodeRfc822Date("2018-09-19"), 0);
    for (const auto decode : {DecodeRfc822OrIsoDate, DecodeIsoOrRfc822Date}) {
        EXPECT_NEAR(decode(rfcText), rfcDate, kTolerance);
        EXPECT_NEAR(decode(isoText), isoDate, kTolerance);
        EXPECT_NEAR(decode("\n  2018-09-19T05:11:22Z\n"), isoDate, kTolerance);
        EXPECT_NEAR(decode("\n  Wed, 19 Sep 2018 05:11:22 GMT\n"), isoDate, kTolerance);
        for (const char* text :
             {"", " \n ", "garbage", "yesterday", "2018-13-01T00:00:00Z", "Sat, 31 Nov 2015 12:00:00"})
            EXPECT_EQ(decode(text), 0) << text;
    }
}

TEST(DecodeIsoDateTest, Examples) {
    const TDateCase cases[] = {
        {"2003-12-13T18:30:02Z", At(2003, 12, 13, 18, 30, 2)},
        {"2003-12-13T18:30:02+01:00", At(2003, 12, 13, 17, 30, 2)},
        {"2003-12-13T18:30:02-05:00", At(2003, 12, 13, 23, 30, 2)},
        {"2003-12-13T18:30:02-05:30", At(2003, 12, 14, 0, 0, 2)},
        {"2003-12-13T18:30:02", At(2003, 12, 13, 18, 30, 2)},
        {"2003-12-13", At(2003, 12, 13)},
        {"2003-12-13T18:30Z", At(2003, 12, 13, 18, 30)},
        // Reduced forms: a missing month or day is 1; the day is trimmed.
        {"2003", At(2003, 1, 1)},
        {"2003-12", At(2003, 12, 1)},
        {"2003-07- 05 T10:00:00Z", At(2003, 7, 5, 10)},
        // The whole text is trimmed first, as pretty-printed feeds need.
        {" 2002-09-07T10:00:00Z ", At(2002, 9, 7, 10)},
        {"\n    2003-12-13T18:30:02+01:00\n  ", At(2003, 12, 13, 17, 30, 2)},
        {" 13 ", At(13, 1, 1)},
        // Failures. Without an integer year there is no date at all (never 1900).
        {"", 0},
        {"  \n ", 0},
        {"garbage", 0},
        {"T10:00:00Z", 0},
        {"-12-13", 0},
        {"2003a-12-13", 0},
        {"13 December 2003", 0},
        {"2003-13-01T00:00:00Z", 0},
        {"2003-02-30T00:00:00Z", 0},
        {"2003-12-13T25:00:00Z", 0},
        {"2003-12-13T24:00:00Z", 0},
        {"0-12-13", 0},
    };
    for (const TDateCase& c : cases)
        EXPECT_NEAR(DecodeIsoDate(c.Text), c.Expected, kTolerance) << c.Text;
}

TEST(PassesAgeFilterTest, BoundaryIsInclusiveAndUndatedItemsPass) {
    const TDateTime now = At(2002, 9, 8, 12);
    ScopedClock clock(now);
    const TDateTime oneSecond = 1.0 / 86400;

    // Exactly one day old, decoded from text rather than computed from the clock.
    EXPECT_TRUE(PassesAgeFilter(DecodeRfc822Date("Sat, 07 Sep 2002 12:00:00 GMT"), 0));
    EXPECT_FALSE(PassesAgeFilter(DecodeRfc822Date("Sat, 07 Sep 2002 11:59:59 GMT"), 0));
    EXPECT_TRUE(PassesAgeFilter(DecodeIsoDate("2002-09-07T14:00:00+02:00"), 0));
    EXPECT_TRUE(PassesAgeFilter(now - 30, 4));
    EXPECT_FALSE(PassesAgeFilter(now - 30 - oneSecond, 4));
    EXPECT_TRUE(PassesAgeFilter(now + 5, 0));

    for (int i = 0; i < kFilterCount; ++i)
        EXPECT_TRUE(PassesAgeFilter(0, i)) << i;
    // A year written as 0002 lands in year 2: seen under "All" only, or with no entry selected.
    const TDateTime yearTwo = DecodeRfc822Date("Sat, 07 Sep 0002 00:00:01 GMT");
    EXPECT_FALSE(PassesAgeFilter(yearTwo, 4));
    EXPECT_TRUE(PassesAgeFilter(yearTwo, 5));
    EXPECT_TRUE(PassesAgeFilter(yearTwo, -1));
}

TEST(PassesAgeFilterTest, LocalZoneDoesNotMoveTheBoundary) {
    const TDateTime now = At(2002, 9, 8, 12);
    ScopedClock clock(now);
    for (const char* tz : {"EST5EDT,M3.2.0,M11.1.0", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
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
