#include "NewsDates.h"

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

// Searched in this order; the military letters other than A, M, N and Y are not known.
const TZoneName kZoneNames[14] = {{"GMT", 0},  {"UT", 0},   {"EST", -5}, {"EDT", -4}, {"CST", -6},
                                  {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7},
                                  {"A", -1},   {"M", -12},  {"N", 1},    {"Y", 12}};

const char* const kFilterNames[FilterCount] = {"Last day",     "Last 2 days", "Last week",
                                               "Last 2 weeks", "Last month",  "All"};
const int kFilterDays[FilterCount] = {1, 2, 7, 14, 30, -1};

// The decoders work on views into the caller's text: a feed's thousands of dates then cost no
// allocations. Each helper follows its string counterpart of the platform exactly.

// The integer value of text, or fallback when it is not an integer.
int IntOr(std::string_view text, int fallback) {
    int value = fallback;
    return TryStrToInt(text, value) ? value : fallback;
}

// SplitToken over a view, at a separator of one character.
std::string_view SplitView(std::string_view& text, char separator) {
    // Date tokens are a few characters long: a plain loop beats a library search.
    size_t pos = 0;
    while (pos < text.size() && text[pos] != separator)
        ++pos;
    if (pos == text.size())
        pos = std::string_view::npos;
    std::string_view token = text;
    if (pos == std::string_view::npos) {
        text = std::string_view();
    } else {
        token = text.substr(0, pos);
        text.remove_prefix(pos + 1);
    }
    return token;
}

// The text with its ASCII letters First..Last shifted by Shift (upper- or lower-casing them), in
// buffer, when it has at most 3 characters (no month or zone name is longer); else an empty view.
template <char First, char Last, int Shift>
std::string_view ShortCased(std::string_view text, char (&buffer)[3]) {
    if (text.size() > sizeof buffer)
        return std::string_view();
    for (size_t i = 0; i < text.size(); ++i)
        buffer[i] = text[i] >= First && text[i] <= Last ? static_cast<char>(text[i] + Shift) : text[i];
    return std::string_view(buffer, text.size());
}

// MonthNumber of the lower-cased name.
int MonthOfName(std::string_view name) {
    char buffer[3];
    const std::string_view lower = ShortCased<'A', 'Z', 'a' - 'A'>(name, buffer);
    if (lower.size() == 3)
        for (int i = 0; i < 12; ++i)
            if (lower == kMonthNames[i])
                return i + 1;
    return 1;
}

// ZoneOffset over a view: the trimmed zone, upper-cased, looked up by name; upper-casing changes
// no sign or digit of a numeric zone.
double ZoneOffsetOf(std::string_view zone) {
    const std::string_view text = TrimView(zone);
    char buffer[3];
    const std::string_view upper = ShortCased<'a', 'z', 'A' - 'a'>(text, buffer);
    if (!upper.empty())
        for (const TZoneName& entry : kZoneNames)
            if (upper == entry.Name)
                return entry.Hours / 24.0;
    // Numeric zones: "+hhmm" or "-hhmm"; the sign of the hours carries over to the minutes.
    const int hours = IntOr(text.substr(0, 3), 0);
    const int minutes = text.size() > 3 ? IntOr(text.substr(3, 2), 0) : 0;
    const bool negative = !text.empty() && text[0] == '-';
    const double offset = negative ? hours - minutes / 60.0 : hours + minutes / 60.0;
    return offset / 24.0;
}

// date + time; false when either lies outside the calendar or the clock.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, TDateTime& value) {
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time))
        return false;
    value = date + time;
    return true;
}

// A date-time in whole milliseconds, so that values built in different ways compare exactly.
long long Milliseconds(TDateTime value) {
    return std::llround(value * 86400000.0);
}

} // namespace

std::string SplitToken(std::string& text, const std::string& separator) {
    const size_t pos = separator.empty() ? std::string::npos : text.find(separator);
    std::string token;
    if (pos == std::string::npos) {
        token.swap(text);
        text.clear();
    } else {
        token = text.substr(0, pos);
        text.erase(0, pos + separator.size());
    }
    return token;
}

int MonthNumber(const std::string& name) {
    for (int i = 0; i < 12; ++i)
        if (name == kMonthNames[i])
            return i + 1;
    return 1;
}

double ZoneOffset(const std::string& zone) {
    return ZoneOffsetOf(zone);
}

TDateTime DecodeRfc822Date(std::string_view text) {
    std::string_view rest = text;
    // The weekday with its comma; whatever stands first is skipped.
    SplitView(rest, ' ');
    rest = TrimLeftView(rest);
    const std::string_view dayText = SplitView(rest, ' ');
    rest = TrimLeftView(rest);
    const int month = MonthOfName(SplitView(rest, ' '));
    rest = TrimLeftView(rest);
    const std::string_view yearText = SplitView(rest, ' ');
    rest = TrimLeftView(rest);
    std::string_view timeText = SplitView(rest, ' ');
    const std::string_view zone = rest;

    const std::string_view hourText = SplitView(timeText, ':');
    const std::string_view minuteText = SplitView(timeText, ':');
    const int second = IntOr(timeText, 0);

    int day = 0, year = 0, hour = 0, minute = 0;
    if (!TryStrToInt(dayText, day) || !TryStrToInt(yearText, year) || !TryStrToInt(hourText, hour) ||
        !TryStrToInt(minuteText, minute))
        return 0;
    TDateTime local = 0;
    if (!TryEncodeDateTime(year, month, day, hour, minute, second, local))
        return 0;
    return local - ZoneOffsetOf(zone);
}

TDateTime DecodeIsoDate(std::string_view text) {
    std::string_view timePart = text;
    std::string_view datePart = SplitView(timePart, 'T');
    const int year = IntOr(SplitView(datePart, '-'), 1900);
    const int month = IntOr(SplitView(datePart, '-'), 1);
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

    // Fractional seconds ("02.25") are not integers and count as 0.
    const int hour = IntOr(SplitView(timeOfDay, ':'), 0);
    const int minute = IntOr(SplitView(timeOfDay, ':'), 0);
    const int second = IntOr(timeOfDay, 0);
    const int zoneHours = IntOr(SplitView(zone, ':'), 0);
    const int zoneMinutes = IntOr(zone, 0);
    double offset = zoneHours + zoneMinutes / 60.0;
    if (negative)
        offset = -offset;

    TDateTime local = 0;
    if (!TryEncodeDateTime(year, month, day, hour, minute, second, local))
        return 0;
    return local - offset / 24.0;
}

std::string FilterName(int filterIndex) {
    if (filterIndex < 0 || filterIndex >= FilterCount)
        return "";
    return kFilterNames[filterIndex];
}

int FilterDays(int filterIndex) {
    if (filterIndex < 0 || filterIndex >= FilterCount)
        return -1;
    return kFilterDays[filterIndex];
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
