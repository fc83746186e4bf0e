#include "threading/timeout.h"

#include <gtest/gtest.h>

#include "platform/tick.h"

namespace {

TEST(Timeout, UnarmedRecordAnswersForAnyPeriod) {
  platform::VirtualClock clock(5'000'000);
  TqonTimeout t;
  EXPECT_TRUE(t.IsClear());
  EXPECT_TRUE(t.Elapsed(1000));  // clear counts as elapsed
  t.StartOpen();
  clock.Advance(20000);
  EXPECT_TRUE(t.Elapsed(15000));
  EXPECT_FALSE(t.Elapsed(60000));
  EXPECT_FALSE(t.Armed);
}

TEST(Timeout, ArmedRecordKeepsItsDeadline) {
  platform::VirtualClock clock(5'000'000);
  TqonTimeout t;
  t.StartWith(500);
  clock.Advance(499);
  EXPECT_FALSE(t.Elapsed(10));  // the argument does not matter when armed
  clock.Advance(1);
  EXPECT_TRUE(t.ElapsedNow());
  t.Restart();
  EXPECT_FALSE(t.ElapsedNow());
  EXPECT_TRUE(t.Armed);
}

TEST(Timeout, ShiftingTheStart) {
  platform::VirtualClock clock(5'000'000);
  TqonTimeout t;
  t.ShiftStart(-54000);
  clock.Advance(5999);
  EXPECT_FALSE(t.Elapsed(60000));
  clock.Advance(1);
  EXPECT_TRUE(t.Elapsed(60000));
  t.ShiftStart(-6'000'000);  // before the tick's zero
  EXPECT_TRUE(t.IsClear());
}

TEST(Timeout, WidensThe32BitTickAcrossItsWrap) {
  platform::VirtualClock clock(0xFFFFFF00u, 45000.5, /*only32=*/true);
  TqonTimeout t;
  t.StartWith(1000);
  EXPECT_EQ(t.Start, 0xFFFFFF00u);
  clock.Advance(0x200);  // the 32-bit tick wraps to 0x100
  EXPECT_EQ(t.Now(), 0x1'0000'0100u);
  EXPECT_FALSE(t.ElapsedNow());
  clock.Advance(1000 - 0x200);
  EXPECT_TRUE(t.ElapsedNow());
  EXPECT_EQ(t.Age(), 1000u);
  // Each record widens on its own: a copy carries the wrap count along.
  TqonTimeout copy = t;
  EXPECT_EQ(copy.Now(), t.Now());
}

}  // namespace
