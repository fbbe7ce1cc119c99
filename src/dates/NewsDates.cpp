#include "dates/NewsDates.h"

#include <cmath>
#include <ctime>
#include <string_view>

#include "platform/TimeZone.h"

namespace {

constexpr std::string_view kMonthNames[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                              "jul", "aug", "sep", "oct", "nov", "dec"};

struct TZoneName {
    std::string_view Name;
    int Hours;
};

// Searched in this order. The military single letters are not here: their signs were defined
// the wrong way round in RFC 822, and RFC 2822 reads every one of them as +0000.
constexpr TZoneName kZoneNames[10] = {{"GMT", 0},  {"UT", 0},   {"EST", -5}, {"EDT", -4}, {"CST", -6},
                                      {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};

struct TFilter {
    const char* Name;
    int Days;
};

// The entries of the news filter box by index; "All" has no limit.
constexpr TFilter kFilters[kFilterCount] = {{"Last day", 1},      {"Last 2 days", 2}, {"Last week", 7},
                                            {"Last 2 weeks", 14}, {"Last month", 30}, {"All", -1}};

// The integer value of text, or fallback when it is not an integer.
int IntOr(std::string_view text, int fallback) {
    int value = fallback;
    return TryStrToInt(text, value) ? value : fallback;
}

// date + time; false when either lies outside the calendar or the clock.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, TDateTime& value) {
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time))
        return false;
    value = date + time;
    return true;
}

// Whether text is a non-empty run of ASCII digits.
bool IsDigits(std::string_view text) {
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The seconds of a time of day: an integer ("02"), or an integer with a fraction after a point
// or a comma ("02.25", "02,5"), which is kept. Anything else is 0 seconds.
void ReadSeconds(std::string_view text, int& second, double& fraction) {
    second = 0;
    fraction = 0;
    const size_t point = text.find_first_of(".,");
    if (point == std::string_view::npos) {
        second = IntOr(text, 0);
        return;
    }
    const std::string_view whole = text.substr(0, point);
    const std::string_view digits = text.substr(point + 1);
    if (!IsDigits(whole) || !IsDigits(digits) || !TryStrToInt(whole, second)) {
        second = 0;
        return;
    }
    // More digits than a double holds add nothing.
    double scale = 0.1;
    for (size_t i = 0; i < digits.size() && i < 15; ++i, scale /= 10)
        fraction += (digits[i] - '0') * scale;
}

// A year as RFC 2822 reads it: two digits are 2000-2049 (00-49) or 1950-1999 (50-99); any other
// year is taken as written.
int FullYear(std::string_view text, int year) {
    if (text.size() != 2 || !IsDigits(text))
        return year;
    return year < 50 ? 2000 + year : 1900 + year;
}

// Returns the part of text before its first blank (a character with a code of 0 to 32), or the
// whole text; text keeps what follows, blank included.
std::string_view SplitAtBlank(std::string_view& text) {
    size_t pos = 0;
    while (pos < text.size() && !IsBlankChar(text[pos]))
        ++pos;
    const std::string_view token = text.substr(0, pos);
    text.remove_prefix(pos);
    return token;
}

// Whether text is a whole calendar date of digits: a four-digit year, a month and a day joined by
// "-" ("2006-01-11") or by "/" ("2020/1/10").
bool IsFullDate(std::string_view text) {
    for (const std::string_view separator : {"-", "/"}) {
        std::string_view rest = text;
        const std::string_view year = SplitToken(rest, separator);
        const std::string_view month = SplitToken(rest, separator);
        if (year.size() == 4 && IsDigits(year) && month.size() <= 2 && IsDigits(month) && rest.size() <= 2 &&
            IsDigits(rest))
            return true;
    }
    return false;
}

// The hours of an ISO 8601 zone after its sign: "05:30", "0530" or "05"; a part that is not an
// integer is 0.
double IsoZoneHours(std::string_view zone) {
    if (zone.size() == 4 && IsDigits(zone))
        return IntOr(zone.substr(0, 2), 0) + IntOr(zone.substr(2), 0) / 60.0;
    const int hours = IntOr(SplitToken(zone, ":"), 0);
    return hours + IntOr(zone, 0) / 60.0;
}

// A date-time in whole milliseconds, so that values built in different ways compare exactly.
long long Milliseconds(TDateTime value) {
    return std::llround(value * 86400000.0);
}

// The RFC 822 steps on text as it stands. With a weekday, the first token is skipped whatever it
// holds; without one, the text begins with the day.
TDateTime DecodeRfc822Text(std::string_view text, bool weekday) {
    std::string_view rest = text;
    if (weekday) {
        SplitToken(rest, " ");
        rest = TrimLeftView(rest);
    }
    const std::string_view dayText = SplitToken(rest, " ");
    rest = TrimLeftView(rest);
    const int month = MonthNumber(LowerCaseAscii(std::string(SplitToken(rest, " "))));
    rest = TrimLeftView(rest);
    const std::string_view yearText = SplitToken(rest, " ");
    rest = TrimLeftView(rest);
    std::string_view timeText = SplitToken(rest, " ");
    const std::string_view zone = rest;

    const std::string_view hourText = SplitToken(timeText, ":");
    const std::string_view minuteText = SplitToken(timeText, ":");
    int second = 0;
    double fraction = 0;
    ReadSeconds(timeText, second, fraction);

    int day = 0, year = 0, hour = 0, minute = 0;
    if (!TryStrToInt(dayText, day) || !TryStrToInt(yearText, year) || !TryStrToInt(hourText, hour) ||
        !TryStrToInt(minuteText, minute))
        return 0;
    TDateTime local = 0;
    if (!TryEncodeDateTime(FullYear(yearText, year), month, day, hour, minute, second, local))
        return 0;
    return local + fraction / 86400 - ZoneOffset(zone);
}

} // namespace

std::string_view SplitToken(std::string_view& text, std::string_view separator) {
    const size_t pos = separator.empty() ? std::string_view::npos : text.find(separator);
    std::string_view token = text;
    if (pos == std::string_view::npos) {
        text = std::string_view();
    } else {
        token = text.substr(0, pos);
        text.remove_prefix(pos + separator.size());
    }
    return token;
}

int MonthNumber(std::string_view name) {
    for (int i = 0; i < 12; ++i)
        if (name == kMonthNames[i])
            return i + 1;
    return 1;
}

double ZoneOffset(std::string_view zone) {
    const std::string_view trimmed = TrimView(zone);
    const std::string name = UpperCaseAscii(std::string(trimmed));
    for (const TZoneName& entry : kZoneNames)
        if (name == entry.Name)
            return entry.Hours / 24.0;
    // Numeric zones: "+hhmm" or "-hhmm"; the sign of the hours carries over to the minutes.
    const int hours = IntOr(trimmed.substr(0, 3), 0);
    const int minutes = trimmed.size() > 3 ? IntOr(trimmed.substr(3, 2), 0) : 0;
    const bool negative = !trimmed.empty() && trimmed[0] == '-';
    const double offset = negative ? hours - minutes / 60.0 : hours + minutes / 60.0;
    return offset / 24.0;
}

TDateTime DecodeRfc822Date(std::string_view text) {
    TDateTime date = DecodeRfc822Text(text, true);
    if (date != 0)
        return date;
    // Pretty-printed feeds put a line break and an indent before the weekday, which would then
    // be taken for the weekday itself. Only a text that fails as it stands is read again trimmed,
    // so that every text that decodes as written keeps its date.
    const std::string_view trimmed = TrimView(text);
    if (trimmed.size() != text.size()) {
        date = DecodeRfc822Text(trimmed, true);
        if (date != 0)
            return date;
    }
    // The weekday is optional. A text with one never gets here with a date: its day would have
    // been the month's name.
    return DecodeRfc822Text(trimmed, false);
}

TDateTime DecodeRfc822OrIsoDate(std::string_view text) {
    const TDateTime date = DecodeRfc822Date(text);
    return date != 0 ? date : DecodeIsoDate(text);
}

TDateTime DecodeIsoOrRfc822Date(std::string_view text) {
    const TDateTime date = DecodeIsoDate(text);
    return date != 0 ? date : DecodeRfc822Date(text);
}

TDateTime DecodeIsoDate(std::string_view text) {
    // Pretty-printed feeds surround the date with line breaks and indents.
    std::string_view timePart = TrimView(text);
    std::string_view datePart;
    // A zone written apart from the time ("16:42:55 -0800"), only in the form with a blank.
    std::string_view blankZone;
    std::string_view rest = timePart;
    const std::string_view first = SplitAtBlank(rest);
    rest = TrimLeftView(rest);
    std::string_view timeToken = rest;
    timeToken = SplitAtBlank(timeToken);
    if (IsFullDate(first) && !rest.empty() && rest[0] >= '0' && rest[0] <= '9' &&
        timeToken.find(':') != std::string_view::npos) {
        // "2006-01-11 16:42:55": a blank stands for the "T", as RFC 3339 allows.
        datePart = first;
        timePart = timeToken;
        blankZone = TrimView(rest.substr(timeToken.size()));
    } else {
        datePart = SplitToken(timePart, "T");
    }
    // "2020/1/10" counts as "2020-1-10".
    const std::string_view separator =
        IsFullDate(datePart) && datePart.find('/') != std::string_view::npos ? "/" : "-";
    // Without a year there is no date: 0 shows the item as undated rather than from 1900.
    int year = 0;
    if (!TryStrToInt(SplitToken(datePart, separator), year))
        return 0;
    const int month = IntOr(SplitToken(datePart, separator), 1);
    const int day = IntOr(TrimView(datePart), 1);

    // "-" marks a western zone; "+" and "Z" are looked for in what follows it, if anything.
    std::string_view timeOfDay = timePart;
    std::string_view zone;
    std::string_view searched = timePart;
    bool negative = false;
    size_t pos = searched.find('-');
    if (pos != std::string_view::npos) {
        timeOfDay = searched.substr(0, pos);
        zone = searched.substr(pos + 1);
        negative = true;
        searched = zone;
    }
    pos = searched.find('+');
    if (pos != std::string_view::npos) {
        timeOfDay = searched.substr(0, pos);
        zone = searched.substr(pos + 1);
    }
    pos = searched.find('Z');
    if (pos != std::string_view::npos) {
        timeOfDay = searched.substr(0, pos);
        zone = searched.substr(pos + 1);
    }

    const int hour = IntOr(SplitToken(timeOfDay, ":"), 0);
    const int minute = IntOr(SplitToken(timeOfDay, ":"), 0);
    int second = 0;
    double fraction = 0;
    ReadSeconds(timeOfDay, second, fraction);
    double offset = IsoZoneHours(zone);
    if (negative)
        offset = -offset;
    if (!blankZone.empty()) {
        if (blankZone[0] == '+' || blankZone[0] == '-')
            offset = (blankZone[0] == '-' ? -1 : 1) * IsoZoneHours(blankZone.substr(1));
        else
            offset = ZoneOffset(blankZone) * 24;
    }

    TDateTime local = 0;
    if (!TryEncodeDateTime(year, month, day, hour, minute, second, local))
        return 0;
    return local + fraction / 86400 - offset / 24.0;
}

std::string FilterName(int filterIndex) {
    if (filterIndex < 0 || filterIndex >= kFilterCount)
        return "";
    return kFilters[filterIndex].Name;
}

int FilterDays(int filterIndex) {
    if (filterIndex < 0 || filterIndex >= kFilterCount)
        return -1;
    return kFilters[filterIndex].Days;
}

bool PassesAgeFilter(TDateTime itemDate, int filterIndex) {
    const int days = FilterDays(filterIndex);
    if (days < 0 || itemDate == 0)
        return true;
    // Both sides are UTC: comparing with local time would shift every limit by the zone offset.
    const TDateTime threshold = NowUTC() - days;
    return Milliseconds(threshold) <= Milliseconds(itemDate);
}

std::string FormatNewsDate(TDateTime date) {
    const double seconds = std::floor(std::round(DateTimeToUnix(date) * 1000.0) / 1000.0);
    if (!(seconds > -1e15 && seconds < 1e15))
        return "";
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (!localtime_r(&t, &local))
        return "";
    // %x and %X follow LC_TIME of the locale in force: the user's once the program has set it.
    char text[256];
    const char* format = local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0 ? "%x" : "%x %X";
    const size_t length = strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}
