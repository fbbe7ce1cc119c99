#pragma once

#include <string>
#include <string_view>

#include "platform/SysUtils.h"

// Dates of feed documents and HTTP headers, the news page's age filter and the date text it shows.
// Date-time values count days since 1899-12-30 00:00 (TDateTime); item dates are UTC, 0 is "none".

// Returns the part of text before the first separator and leaves text holding what follows it
// (the separator is dropped); without the separator (or with an empty one) returns the whole
// text and empties it. Both are views into the caller's text.
std::string_view SplitToken(std::string_view& text, std::string_view separator);

// 1..12 for "jan".."dec" compared exactly (callers lower-case); any other name, "june"
// included, gives 1.
int MonthNumber(std::string_view name);

// The zone's offset from UTC in days: trimmed and upper-cased, looked up among GMT, UT, EST,
// EDT, CST, CDT, MST, MDT, PST, PDT, else read as +hhmm / -hhmm ("+0530" is 5.5 hours); an empty
// or unknown zone gives 0, and so does every military single letter ("A", "M", "Z"), which
// RFC 2822 reads as +0000.
double ZoneOffset(std::string_view zone);

// "Sat, 07 Sep 2002 00:00:01 GMT" or "07 Sep 2002 00:00:01 GMT" as UTC. With a weekday its
// token is skipped whatever it holds; a two-digit year is 2000-2049 for 00-49 and 1950-1999 for
// 50-99, other years are taken as written; a missing second is 0, a fractional one ("01.25")
// is kept. 0 for a day, year, hour or minute that is not an integer or a date or time out of
// range. A text that gives 0 is read once more with its blanks and line breaks trimmed
// ("\n  Sat, 07 Sep ..."), so a text that decodes as written keeps its date, then without the
// weekday. Never raises.
TDateTime DecodeRfc822Date(std::string_view text);

// "2003-12-13T18:30:02+01:00" as UTC, read from the trimmed text. A missing month or day is 1
// ("2003" is 1 January 2003), missing time parts are 0, fractional seconds ("02.25") are kept,
// no zone means UTC; 0 when the year is not an integer (an empty or garbage text) and for a date
// or time out of range (month 13, hour 25). Never raises.
TDateTime DecodeIsoDate(std::string_view text);

// The RFC 822 date of text, else its ISO 8601 date, else 0: for elements that should hold the
// RFC 822 form (RSS pubDate) but are sometimes written in the other one.
TDateTime DecodeRfc822OrIsoDate(std::string_view text);

// The ISO 8601 date of text, else its RFC 822 date, else 0: for elements that should hold the
// ISO 8601 form (dc:date, Atom published and updated).
TDateTime DecodeIsoOrRfc822Date(std::string_view text);

// The number of entries of the news filter box.
constexpr int kFilterCount = 6;

// The entry text of the news filter box at index 0..5 ("Last day" .. "All"); "" outside.
std::string FilterName(int filterIndex);

// The age limit in days of filter entry 0..5: 1, 2, 7, 14, 30, -1 ("All", no limit); an index
// outside the table (no entry selected) also gives -1, so nothing is hidden.
int FilterDays(int filterIndex);

// Whether the news page shows an item dated itemDate (UTC) under the filter: an item exactly
// FilterDays old (against the current UTC moment, NowUTC) passes, one a second older does not;
// undated items (0) pass every filter.
bool PassesAgeFilter(TDateTime itemDate, int filterIndex);

// The UTC date as local time (the zone's rules for that date, daylight saving included) in the
// short date and long time of LC_TIME ("%x %X"; the user's once the program has called
// setlocale); the date alone when the local time is exactly 00:00:00. "" for a value no
// calendar date matches.
std::string FormatNewsDate(TDateTime date);
