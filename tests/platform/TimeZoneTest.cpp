#include "platform/TimeZone.h"

#include <gtest/gtest.h>

#include <ctime>

#include "TempDir.h"
#include "platform/SysUtils.h"

namespace {

// 2006-01-01 00:00:00 UTC.
double FixedClock() {
    return 1136073600.0;
}

} // namespace

TEST(TimeZoneTest, ClockOverrideAndLocalConversion) {
    SetClockForTesting(&FixedClock);
    TDateTime expected = 0;
    ASSERT_TRUE(TryEncodeDate(2006, 1, 1, expected));
    EXPECT_DOUBLE_EQ(NowUTC(), expected);
    {
        ScopedEnv tz("TZ", "UTC-3");
        tzset();
        EXPECT_NEAR(Now(), expected + 3.0 / 24, 1e-9);
    }
    tzset();
    SetClockForTesting(nullptr);
    EXPECT_GT(NowUTC(), expected);
}

TEST(TimeZoneTest, LocalTimeFollowsDaylightSavingOfThatDate) {
    ScopedEnv tz("TZ", "Europe/Berlin");
    tzset();
    TDateTime winter = 0, summer = 0;
    ASSERT_TRUE(TryEncodeDate(2024, 1, 15, winter));
    ASSERT_TRUE(TryEncodeDate(2024, 7, 15, summer));
    EXPECT_NEAR(UTCToLocal(winter) - winter, 1.0 / 24, 1e-9);
    EXPECT_NEAR(UTCToLocal(summer) - summer, 2.0 / 24, 1e-9);
}
