#pragma once

#include "SysUtils.h"

// The current moment as Unix seconds (with fraction); tests replace it to move time without sleeping.
using TClockSource = double (*)();
// nullptr restores the system clock.
void SetClockForTesting(TClockSource source);
// Unix seconds now, from the clock source in force.
double ClockSeconds();

// Days since 1899-12-30 for a Unix time, without any zone shift.
TDateTime UnixToDateTime(double unixSeconds);
double DateTimeToUnix(TDateTime value);

// The current UTC moment.
TDateTime NowUTC();
// The current local moment, daylight saving included.
TDateTime Now();
// The local moment of a UTC date-time, with the zone's rules for that very date (localtime_r).
TDateTime UTCToLocal(TDateTime utc);
