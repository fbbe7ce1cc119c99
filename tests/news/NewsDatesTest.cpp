#include "news/NewsDates.h"

#include <clocale>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

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
    std::string text = "a::b:c";
    EXPECT_EQ(SplitToken(text, "::"), "a");
    EXPECT_EQ(text, "b:c");
    for (const char* separator : {";", ""}) {
        text = "a:b";
        EXPECT_EQ(SplitToken(text, separator), "a:b");
        EXPECT_EQ(text, "");
    }
}

TEST(ZoneOffsetTest, NamedAndNumericZones) {
    const std::pair<const char*, double> cases[] = {
        {"GMT", 0},      {" est ", -5},   {"pdt", -7}, {"A", -1},     {"M", -12},    {"N", 1},
        {"Y", 12},       {"Z", 0},        {"B", 0},    {"CEST", 0},   {"", 0},       {"+0530", 5.5},
        {"-0330", -3.5}, {"-0030", -0.5}, {"+05", 5},  {"+05:30", 5}, {"abc30", 0.5}};
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
        {"Sat, 07 Sep 2002 00:00:01", At(2002, 9, 7, 0, 0, 1)},
        // Month names are lower-cased first; extra spaces between the fields are skipped.
        {"Sat,  07   SEP  2002  00:00:01   GMT", At(2002, 9, 7, 0, 0, 1)},
        {"Mon, 02 June 2003 10:00:00 GMT", At(2003, 1, 2, 10)},
        {"Sat, 07 Sep 2002 10:20 GMT", At(2002, 9, 7, 10, 20)},
        {"Sat, 07 Sep 2002 10:20:xx GMT", At(2002, 9, 7, 10, 20)},
        {"Sat, 07 Sep 02 00:00:01 GMT", At(2, 9, 7, 0, 0, 1)},
        {"x 7 Sep 2002 1:2:3 GMT", At(2002, 9, 7, 1, 2, 3)},
        {"Thu, 29 Feb 2004 12:00:00 GMT", At(2004, 2, 29, 12)},
        // Failures.
        {"07 Sep 2002 00:00:01 GMT", 0},
        {"Sat, 07 Sep 2002 24:00:00 GMT", 0},
        {"Sat, 07 Sep 2002 23:60:00 GMT", 0},
        {"Sat, 07 Sep 2002 23:59:60 GMT", 0},
        {"Sun, 30 Feb 2003 00:00:00 GMT", 0},
        {"Sat, 07 Sep 10000 00:00:01 GMT", 0},
        {"Sat, 07th Sep 2002 00:00:01 GMT", 0},
        {"Sat, 07 Sep 2002 -1:00:01 GMT", 0},
        {"Sat, 07 Sep 2002 99999999999:00:01 GMT", 0},
        {"", 0},
    };
    for (const TDateCase& c : cases)
        EXPECT_NEAR(DecodeRfc822Date(c.Text), c.Expected, kTolerance) << c.Text;
    EXPECT_EQ(DecodeRfc822Date(std::string("Sat, 07\0 Sep 2002 00:00:01 GMT", 30)), 0);
}

TEST(DecodeIsoDateTest, Examples) {
    const TDateCase cases[] = {
        {"2003-12-13T18:30:02Z", At(2003, 12, 13, 18, 30, 2)},
        {"2003-12-13T18:30:02+01:00", At(2003, 12, 13, 17, 30, 2)},
        {"2003-12-13T18:30:02-05:00", At(2003, 12, 13, 23, 30, 2)},
        {"2003-12-13T18:30:02-05:30", At(2003, 12, 14, 0, 0, 2)},
        {"2003-12-13T18:30:02", At(2003, 12, 13, 18, 30, 2)},
        {"2003-12-13", At(2003, 12, 13)},
        {"2003-12-13T18:30:02.25Z", At(2003, 12, 13, 18, 30, 0)},
        {"2003-12-13T18:30Z", At(2003, 12, 13, 18, 30)},
        // Missing date parts: 1900, January, the first; the day is trimmed.
        {"2003-07", At(2003, 7, 1)},
        {" 13 ", At(1900, 1, 1)},
        {"2003-07- 05 T10:00:00Z", At(2003, 7, 5, 10)},
        // Failures.
        {"2003-13-01T00:00:00Z", 0},
        {"2003-02-30T00:00:00Z", 0},
        {"2003-12-13T25:00:00Z", 0},
        {"2003-12-13T24:00:00Z", 0},
        {"0-12-13", 0},
    };
    for (const TDateCase& c : cases)
        EXPECT_NEAR(DecodeIsoDate(c.Text), c.Expected, kTolerance) << c.Text;
}

// The two decoders step by step on whole strings, with the platform's helpers, as their rules
// read: the decoders work on views into the text and must give the same value for any text.
int ReferenceInt(const std::string& text, int fallback) {
    int value = fallback;
    return TryStrToInt(text, value) ? value : fallback;
}

TDateTime ReferenceDateTime(int year, int month, int day, int hour, int minute, int second) {
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time))
        return 0;
    return date + time;
}

TDateTime ReferenceRfc822(const std::string& text) {
    std::string rest = text;
    SplitToken(rest, " ");
    rest = TrimLeft(rest);
    const std::string dayText = SplitToken(rest, " ");
    rest = TrimLeft(rest);
    const int month = MonthNumber(LowerCaseAscii(SplitToken(rest, " ")));
    rest = TrimLeft(rest);
    const std::string yearText = SplitToken(rest, " ");
    rest = TrimLeft(rest);
    std::string timeText = SplitToken(rest, " ");
    const std::string hourText = SplitToken(timeText, ":");
    const std::string minuteText = SplitToken(timeText, ":");
    int day = 0, year = 0, hour = 0, minute = 0;
    if (!TryStrToInt(dayText, day) || !TryStrToInt(yearText, year) || !TryStrToInt(hourText, hour) ||
        !TryStrToInt(minuteText, minute))
        return 0;
    const TDateTime local = ReferenceDateTime(year, month, day, hour, minute, ReferenceInt(timeText, 0));
    if (local == 0)
        return 0;
    // The zone as its rule reads: upper-cased and trimmed, named or +hhmm.
    const std::string zone = UpperCaseAscii(Trim(rest));
    const std::pair<const char*, int> names[] = {
        {"GMT", 0},  {"UT", 0},   {"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5}, {"MST", -7},
        {"MDT", -6}, {"PST", -8}, {"PDT", -7}, {"A", -1},   {"M", -12},  {"N", 1},    {"Y", 12}};
    for (const auto& [name, hours] : names)
        if (zone == name)
            return local - hours / 24.0;
    const int hours = ReferenceInt(zone.substr(0, 3), 0);
    const int minutes = zone.size() > 3 ? ReferenceInt(zone.substr(3, 2), 0) : 0;
    const double offset = !zone.empty() && zone[0] == '-' ? hours - minutes / 60.0 : hours + minutes / 60.0;
    return local - offset / 24.0;
}

TDateTime ReferenceIso(const std::string& text) {
    std::string timePart = text;
    std::string datePart = SplitToken(timePart, "T");
    const int year = ReferenceInt(SplitToken(datePart, "-"), 1900);
    const int month = ReferenceInt(SplitToken(datePart, "-"), 1);
    const int day = ReferenceInt(Trim(datePart), 1);
    std::string timeOfDay = timePart, zone, searched = timePart;
    bool negative = false;
    size_t pos = searched.find('-');
    if (pos != std::string::npos) {
        timeOfDay = searched.substr(0, pos);
        zone = searched.substr(pos + 1);
        negative = true;
        searched = zone;
    }
    for (char mark : {'+', 'Z'}) {
        pos = searched.find(mark);
        if (pos != std::string::npos) {
            timeOfDay = searched.substr(0, pos);
            zone = searched.substr(pos + 1);
        }
    }
    const int hour = ReferenceInt(SplitToken(timeOfDay, ":"), 0);
    const int minute = ReferenceInt(SplitToken(timeOfDay, ":"), 0);
    const int second = ReferenceInt(timeOfDay, 0);
    const int zoneHours = ReferenceInt(SplitToken(zone, ":"), 0);
    const double offset = (zoneHours + ReferenceInt(zone, 0) / 60.0) * (negative ? -1 : 1);
    const TDateTime local = ReferenceDateTime(year, month, day, hour, minute, second);
    return local == 0 ? 0 : local - offset / 24.0;
}

TEST(DecodeDatesTest, AgreeWithTheStepsOnWholeStringsForAnyText) {
    const std::vector<std::string> pieces = {"Sat,",
                                             " ",
                                             "  ",
                                             "\t",
                                             "07",
                                             "7",
                                             "Sep",
                                             "SEP",
                                             "june",
                                             "2002",
                                             "02",
                                             ":",
                                             "00",
                                             "59",
                                             "1",
                                             "24",
                                             "-",
                                             "+",
                                             "T",
                                             "Z",
                                             "z",
                                             "GMT",
                                             "est",
                                             "y",
                                             "+0200",
                                             "-0330",
                                             "+05:30",
                                             "2003",
                                             "12",
                                             "13",
                                             ".25",
                                             "x",
                                             "99999999999",
                                             "-1",
                                             "+-1",
                                             "\xC3",
                                             std::string(1, '\0'),
                                             "2147483648",
                                             "-2147483648"};
    unsigned state = 3;
    const auto next = [&state](unsigned range) {
        state = state * 1103515245u + 12345u;
        return (state >> 16) % range;
    };
    for (int n = 0; n < 40000; ++n) {
        std::string text;
        if (n % 2 == 0) {
            const int count = static_cast<int>(next(12));
            for (int i = 0; i < count; ++i)
                text += pieces[next(static_cast<unsigned>(pieces.size()))];
        } else {
            // Mostly well-formed dates with one field or separator picked at random.
            const std::string fields[] = {"Sat,", " ", "07", " ", "Sep", " ", "2002", " ",
                                          "10",   ":", "20", ":", "30",  " ", "GMT"};
            for (const std::string& field : fields)
                text += next(6) == 0 ? pieces[next(static_cast<unsigned>(pieces.size()))] : field;
            // Blanks and more after the zone.
            const char* const tails[] = {"", " ", "\t ", " x", "30"};
            text += tails[next(5)];
        }
        ASSERT_EQ(DecodeRfc822Date(text), ReferenceRfc822(text)) << text;
        ASSERT_EQ(DecodeIsoDate(text), ReferenceIso(text)) << text;
        std::string iso = "2003-12-13T18:30:02+01:00";
        iso[next(static_cast<unsigned>(iso.size()))] = pieces[next(static_cast<unsigned>(pieces.size()))][0];
        ASSERT_EQ(DecodeIsoDate(iso), ReferenceIso(iso)) << iso;
    }
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

    for (int i = 0; i < FilterCount; ++i)
        EXPECT_TRUE(PassesAgeFilter(0, i)) << i;
    // A two-digit year lands in year 2: seen under "All" only, or with no entry selected.
    const TDateTime yearTwo = DecodeRfc822Date("Sat, 07 Sep 02 00:00:01 GMT");
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
