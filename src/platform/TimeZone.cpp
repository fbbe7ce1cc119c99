#include "TimeZone.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>

namespace {

// 1970-01-01 is day 25569 after 1899-12-30.
constexpr double kUnixEpochDays = 25569.0;

double SystemClock() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::atomic<TClockSource> gClock{nullptr};

} // namespace

void SetClockForTesting(TClockSource source) {
    gClock.store(source);
}

double ClockSeconds() {
    TClockSource source = gClock.load();
    return source ? source() : SystemClock();
}

TDateTime UnixToDateTime(double unixSeconds) {
    return kUnixEpochDays + unixSeconds / 86400.0;
}

double DateTimeToUnix(TDateTime value) {
    return (value - kUnixEpochDays) * 86400.0;
}

TDateTime NowUTC() {
    return UnixToDateTime(ClockSeconds());
}

TDateTime UTCToLocal(TDateTime utc) {
    const double seconds = DateTimeToUnix(utc);
    const double whole = std::floor(seconds);
    if (!(whole > -1e15 && whole < 1e15))
        return utc;
    const time_t t = static_cast<time_t>(whole);
    struct tm local {};
    if (!localtime_r(&t, &local))
        return utc;
    return utc + static_cast<double>(local.tm_gmtoff) / 86400.0;
}

TDateTime Now() {
    return UTCToLocal(NowUTC());
}
