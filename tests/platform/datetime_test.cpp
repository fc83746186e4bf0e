#include "platform/datetime.h"

#include <gtest/gtest.h>

#include "platform/tick.h"

namespace {

TEST(DateTime, DayCountsMatchTheHostsZeroDate) {
  int64_t d = -1;
  ASSERT_TRUE(platform::TryEncodeDate(1899, 12, 30, &d));
  EXPECT_EQ(d, 0);
  ASSERT_TRUE(platform::TryEncodeDate(2000, 1, 1, &d));
  EXPECT_EQ(d, 36526);
  ASSERT_TRUE(platform::TryEncodeDate(2044, 2, 29, &d));
  EXPECT_EQ(platform::DayOfWeekIso(d), 1);  // a Monday
  int y, m, day;
  platform::DecodeDate(d, &y, &m, &day);
  EXPECT_EQ(y * 10000 + m * 100 + day, 20440229);
}

TEST(DateTime, InvalidDatesAreRefused) {
  int64_t d = 0;
  EXPECT_FALSE(platform::TryEncodeDate(2023, 4, 31, &d));
  EXPECT_FALSE(platform::TryEncodeDate(2023, 2, 29, &d));
  EXPECT_FALSE(platform::TryEncodeDate(2023, 13, 1, &d));
  int64_t s = 0;
  EXPECT_FALSE(platform::TryEncodeDateTime(2023, 1, 1, 25, 0, 0, &s));
}

TEST(VirtualClock, ReplacesTickAndWallTime) {
  platform::VirtualClock clock(5000, 45000.5);
  EXPECT_EQ(platform::Tick64(), 5000u);
  clock.Advance(43200000);  // half a day
  EXPECT_EQ(platform::Tick64(), 43205000u);
  EXPECT_EQ(platform::DateTimeToMs(platform::LocalNow()), platform::DateTimeToMs(45001.0));
}

}  // namespace
