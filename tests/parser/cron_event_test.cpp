#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "parser/cron/scheduled_event.h"
#include "platform/datetime.h"
#include "platform/message_loop.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace {

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  int64_t seconds = 0;
  EXPECT_TRUE(platform::TryEncodeDateTime(y, mo, d, h, mi, s, &seconds));
  return platform::MsToDateTime(seconds * 1000 + ms);
}

// The current (virtual) wall time, to the millisecond.
std::string NowText() {
  const int64_t ms = platform::DateTimeToMs(platform::LocalNow());
  const int64_t day = ms / 86400000;
  const int64_t tod = ms % 86400000;
  int y = 0, mo = 0, d = 0;
  platform::DecodeDate(day, &y, &mo, &d);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d,
                static_cast<int>(tod / 3600000), static_cast<int>(tod / 60000 % 60),
                static_cast<int>(tod / 1000 % 60), static_cast<int>(tod % 1000));
  return buf;
}

void Pump() {
  while (platform::PumpMessages(0) > 0) {
  }
}

// Moves virtual time forward in steps, handling this thread's messages after each.
void RunFor(platform::VirtualClock& clock, int64_t ms, int64_t step) {
  for (int64_t done = 0; done < ms; done += step) {
    clock.Advance(static_cast<uint64_t>(std::min(step, ms - done)));
    Pump();
  }
}

// The event is the last member so that it stops before what its handlers use goes.
struct TimerEvent {
  std::vector<std::string> fired;
  TScheduledEvent event{"G3_00000001_00000002/0"};

  explicit TimerEvent(const char* cron) {
    event.SetSignalType(TScheduledEvent::kSignalTimer);
    event.Schedule.SetCronText(cron);
    event.OnSchedule = [this](TScheduledEvent&, void*) { fired.push_back(NowText()); };
  }
};

TEST(CronTimerEvent, FiresAtItsMomentsInTheStartingThread) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1, 10, 0, 30));
  uint32_t thread = 0;
  int started = 0;
  TimerEvent t("0 * * * * *");
  t.event.OnSchedule = [&](TScheduledEvent& e, void*) {
    t.fired.push_back(NowText());
    thread = platform::CurrentThreadId();
    EXPECT_EQ(&e, &t.event);
  };
  t.event.OnStart = [&](TScheduledEvent&) { ++started; };
  ASSERT_TRUE(t.event.Start(false));
  EXPECT_EQ(started, 1);
  RunFor(clock, 3 * 60000 + 20000, 250);
  EXPECT_EQ(t.fired, (std::vector<std::string>{"2023-06-01 10:01:00.000", "2023-06-01 10:02:00.000",
                                               "2023-06-01 10:03:00.000"}));
  EXPECT_EQ(thread, platform::CurrentThreadId());
  EXPECT_EQ(t.event.RunCount.load(), 3u);
}

TEST(CronTimerEvent, ADayOfFiringsInVirtualTime) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1));
  TimerEvent t("0 */15 * * * *");
  ASSERT_TRUE(t.event.Start(false));
  RunFor(clock, 86400000, 60000);
  ASSERT_EQ(t.fired.size(), 96u);
  EXPECT_EQ(t.fired.front(), "2023-06-01 00:15:00.000");
  EXPECT_EQ(t.fired[42], "2023-06-01 10:45:00.000");
  EXPECT_EQ(t.fired.back(), "2023-06-02 00:00:00.000");
}

TEST(CronTimerEvent, MissedMomentsAreSkippedNotReplayed) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1, 10, 0, 30));
  TimerEvent t("0 * * * * *");
  ASSERT_TRUE(t.event.Start(false));
  RunFor(clock, 30000, 1000);
  ASSERT_EQ(t.fired.size(), 1u);
  // The thread is held up for ten and a half minutes: the moment it was
  // waiting for fires once, late, and the nine after it are not replayed.
  clock.Advance(10 * 60000 + 30000);
  Pump();
  EXPECT_EQ(t.fired,
            (std::vector<std::string>{"2023-06-01 10:01:00.000", "2023-06-01 10:11:30.000"}));
  RunFor(clock, 60000, 1000);
  EXPECT_EQ(t.fired.back(), "2023-06-01 10:12:00.000");
  EXPECT_EQ(t.fired.size(), 3u);
  EXPECT_EQ(platform::DateTimeToMs(t.event.Schedule.NextTime),
            platform::DateTimeToMs(At(2023, 6, 1, 10, 13)));

  // A month-long stall of an every-second schedule lands on the next second.
  TimerEvent s("* * * * * *");
  ASSERT_TRUE(s.event.Start(false));
  clock.Advance(31ull * 86400000 + 500);
  Pump();
  EXPECT_EQ(platform::DateTimeToMs(s.event.Schedule.NextTime),
            platform::DateTimeToMs(At(2023, 7, 2, 10, 12, 31)));
}

TEST(CronTimerEvent, MomentsMonthsAwayAreReached) {
  // Seven months do not fit a 32-bit timer period.
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1));
  TimerEvent t("0 0 0 1 1 *");
  ASSERT_TRUE(t.event.Start(false));
  RunFor(clock, 215ll * 86400000, 3600000);
  EXPECT_EQ(t.fired, (std::vector<std::string>{"2024-01-01 00:00:00.000"}));
}

TEST(CronTimerEvent, StopsCleanly) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1, 10, 0, 30));
  int stopped = 0;
  TimerEvent t("0 * * * * *");
  t.event.OnStop = [&](TScheduledEvent&) { ++stopped; };
  ASSERT_TRUE(t.event.Start(false));
  RunFor(clock, 80000, 1000);
  ASSERT_EQ(t.fired.size(), 1u);
  t.event.Stop();
  t.event.Stop();
  EXPECT_EQ(stopped, 1);
  EXPECT_FALSE(t.event.Running);
  EXPECT_EQ(t.event.Waiter, nullptr);
  RunFor(clock, 5 * 60000, 1000);
  EXPECT_EQ(t.fired.size(), 1u);

  // Started again, it goes on from now.
  ASSERT_TRUE(t.event.Start(false));
  RunFor(clock, 60000, 1000);
  EXPECT_EQ(t.fired.back(), "2023-06-01 10:07:00.000");
  EXPECT_EQ(t.fired.size(), 2u);
}

TEST(CronTimerEvent, RunLimitStopsFromInsideTheHandler) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1, 10, 0, 30));
  int limit = 0, stopped = 0;
  TimerEvent t("*/10 * * * * *");
  t.event.MaxRuns = 3;
  t.event.OnRunLimit = [&](TScheduledEvent& e) {
    ++limit;
    EXPECT_EQ(e.RunCount.load(), 3u);
  };
  t.event.OnStop = [&](TScheduledEvent&) { ++stopped; };
  ASSERT_TRUE(t.event.Start(false));
  RunFor(clock, 120000, 1000);
  EXPECT_EQ(t.fired.size(), 3u);
  EXPECT_EQ(limit, 1);
  EXPECT_EQ(stopped, 1);
  EXPECT_FALSE(t.event.Running);
  // A handler that stops and restarts its own event.
  TimerEvent r("*/10 * * * * *");
  r.event.OnSchedule = [&](TScheduledEvent& e, void*) {
    r.fired.push_back(NowText());
    if (r.fired.size() == 2) {
      e.Stop();
      e.Start(false);
    }
  };
  ASSERT_TRUE(r.event.Start(false));
  RunFor(clock, 60000, 1000);
  EXPECT_EQ(r.fired.size(), 6u);
}

TEST(CronTimerEvent, EndOfTheSchedule) {
  platform::VirtualClock clock(1'000'000, At(2024, 12, 31, 22, 30));
  TimerEvent t("0 0 * * * * 2024");
  ASSERT_TRUE(t.event.Start(false));
  RunFor(clock, 2 * 86400000ll, 60000);
  EXPECT_EQ(t.fired, (std::vector<std::string>{"2024-12-31 23:00:00.000"}));
  EXPECT_EQ(t.event.Schedule.State, TSchedule::kDueLast);

  // Running out while skipping a stall: no firing from the start of the year.
  clock.SetLocalNow(At(2024, 12, 31, 21, 30));
  ASSERT_TRUE(t.event.Start(false));
  t.fired.clear();
  clock.Advance(6 * 3600000);
  Pump();
  RunFor(clock, 2 * 86400000ll, 60000);
  EXPECT_EQ(t.fired, (std::vector<std::string>{"2025-01-01 03:30:00.000"}));

  // The end time ends the moments; a timer waiter then just stops re-arming.
  clock.SetLocalNow(At(2023, 6, 1, 10, 0, 30));
  TimerEvent e("0 * * * * *");
  e.event.Schedule.EndTime = At(2023, 6, 1, 10, 2, 30);
  ASSERT_TRUE(e.event.Start(false));
  RunFor(clock, 10 * 60000, 1000);
  EXPECT_EQ(e.fired.size(), 2u);
  EXPECT_TRUE(e.event.Running);

  // Nothing left at all: the event does not start.
  TimerEvent past("0 0 0 1 1 * 2020");
  EXPECT_FALSE(past.event.Start(false));
  EXPECT_FALSE(past.event.Running);
}

TEST(CronTimerEvent, RunAtStartPausedAndHandlerErrors) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1, 10, 0, 30));
  int calls = 0;
  TimerEvent t("0 0 12 * * *");
  ASSERT_TRUE(t.event.Start(true));
  RunFor(clock, 100, 10);
  EXPECT_EQ(t.fired, (std::vector<std::string>{"2023-06-01 10:00:30.010"}));

  t.event.Stop();
  t.event.Paused = true;
  ASSERT_TRUE(t.event.Start(true));
  RunFor(clock, 100, 10);
  EXPECT_EQ(t.fired.size(), 1u);
  EXPECT_EQ(t.event.RunCount.load(), 1u);
  t.event.Stop();
  t.event.Paused = false;

  // A handler that raises leaves its timer off; a missing one is an error too.
  TimerEvent bad("*/10 * * * * *");
  bad.event.OnSchedule = [&](TScheduledEvent&, void*) {
    ++calls;
    throw EqonError("handler failed");
  };
  ASSERT_TRUE(bad.event.Start(false));
  TimerEvent none("*/10 * * * * *");
  none.event.OnSchedule = nullptr;
  ASSERT_TRUE(none.event.Start(false));
  RunFor(clock, 60000, 1000);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(none.event.RunCount.load(), 0u);

  EXPECT_THROW(t.event.Schedule.SetCronText("0 0 0 30 2 *"), ECronError);

  ASSERT_TRUE(bad.event.Running);
  try {
    bad.event.SetSignalType(TScheduledEvent::kSignalMessage);
    FAIL() << "accepted";
  } catch (const EScheduledEventError& e) {
    EXPECT_STREQ(e.what(), "Cannot change signaling type while running");
  }
}

TEST(CronEventList, AddAndClear) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1));
  std::vector<std::string> log;
  TSchEventList list;
  list.OnAdd = [&](TSchEventList&, TScheduledEvent& e) { log.push_back("add " + e.Name); };
  for (const char* name : {"a/0", "a/1", "b/0"}) {
    TScheduledEvent& e = list.Add(name);
    e.SetSignalType(TScheduledEvent::kSignalTimer);
    e.Schedule.SetCronText("0 0 12 * * *");
    e.OnSchedule = [](TScheduledEvent&, void*) {};
    e.OnStop = [&](TScheduledEvent& x) { log.push_back("stop " + x.Name); };
    ASSERT_TRUE(e.Start(false));
  }
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Items(1).Name, "a/1");
  EXPECT_THROW(list.Items(3), std::out_of_range);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(log, (std::vector<std::string>{"add a/0", "add a/1", "add b/0", "stop b/0", "stop a/1",
                                           "stop a/0"}));
  RunFor(clock, 86400000, 3600000);  // no timer of theirs is left
}

// ---- thread kinds ------------------------------------------------------------

// Waits for another thread's work (not for a timer), handling this thread's
// messages meanwhile.
template <typename Pred>
bool PumpUntil(Pred done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::PumpMessages(5);
  }
  return true;
}

struct ThreadEvent {
  std::mutex mutex;
  std::vector<uint32_t> threads;
  TScheduledEvent event{"thread"};

  ThreadEvent(uint8_t kind, const char* cron) {
    event.SetSignalType(kind);
    event.Schedule.SetCronText(cron);
    event.OnSchedule = [this](TScheduledEvent&, void*) {
      std::lock_guard<std::mutex> lock(mutex);
      threads.push_back(platform::CurrentThreadId());
    };
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return threads.size();
  }
};

TEST(CronThreadEventConcurrency, WorkerThreadFiresAndStopsAtItsLimit) {
  std::atomic<int> limit{0}, stopped{0};
  ThreadEvent t(TScheduledEvent::kSignalWorkerThread, "0 0 12 * * *");
  t.event.MaxRuns = 1;
  t.event.OnRunLimit = [&](TScheduledEvent&) { ++limit; };
  t.event.OnStop = [&](TScheduledEvent&) { ++stopped; };
  ASSERT_TRUE(t.event.Start(true));
  ASSERT_TRUE(PumpUntil([&] { return stopped.load() == 1; }));
  EXPECT_EQ(limit.load(), 1);
  EXPECT_FALSE(t.event.Running);
  ASSERT_EQ(t.Count(), 1u);
  EXPECT_NE(t.threads[0], platform::CurrentThreadId());
}

TEST(CronThreadEventConcurrency, SynchronizedAndMessageKindsFireInTheStartingThread) {
  for (uint8_t kind : {TScheduledEvent::kSignalSynchronize, TScheduledEvent::kSignalMessage}) {
    ThreadEvent t(kind, "0 0 12 * * *");
    ASSERT_TRUE(t.event.Start(true));
    ASSERT_TRUE(PumpUntil([&] { return t.Count() == 1; })) << int(kind);
    EXPECT_EQ(t.threads[0], platform::CurrentThreadId());
    t.event.Stop();
    EXPECT_EQ(t.event.MessageWindow, nullptr);
  }
  // Stopped while its waiter waits for this thread to run the firing.
  ThreadEvent s(TScheduledEvent::kSignalSynchronize, "0 0 12 * * *");
  ASSERT_TRUE(s.event.Start(true));
  platform::SleepMs(20);  // let the waiter post; not waiting for a timer
  s.event.Stop();
  Pump();
  EXPECT_EQ(s.Count(), 0u);
}

TEST(CronThreadEventConcurrency, FinishedAfterTheLastMoment) {
  platform::VirtualClock clock(1'000'000, At(2023, 12, 31, 9, 59, 59, 900));
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;
  ThreadEvent t(TScheduledEvent::kSignalWorkerThread, "0 0 10 31 12 * 2023");
  t.event.OnFinished = [&](TScheduledEvent&) {
    std::lock_guard<std::mutex> lock(m);
    finished = true;
    cv.notify_all();
  };
  ASSERT_TRUE(t.event.Start(false));
  clock.Advance(1000);
  std::unique_lock<std::mutex> lock(m);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return finished; }));
  lock.unlock();
  // The firing runs in a worker of its own; a Stop before it ran would drop it.
  EXPECT_TRUE(PumpUntil([&] { return t.Count() == 1; }));
  t.event.Stop();
}

}  // namespace

namespace {

TEST(CronTimerEventConcurrency, StopFromAnotherThreadWhileTicking) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1, 10));
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> fired{0};
    std::atomic<bool> stopped{false};
    TScheduledEvent e("x");
    e.SetSignalType(TScheduledEvent::kSignalTimer);
    e.Schedule.SetCronText("* * * * * *");
    e.OnSchedule = [&](TScheduledEvent&, void*) { ++fired; };
    ASSERT_TRUE(e.Start(false));
    std::thread other([&] {
      while (fired.load() < 3)
        std::this_thread::yield();
      e.Stop();
      stopped = true;
    });
    while (!stopped.load()) {
      clock.Advance(250);
      platform::PumpMessages(0);
    }
    other.join();
    const int after = fired.load();
    RunFor(clock, 5000, 250);
    EXPECT_EQ(fired.load(), after);
    EXPECT_EQ(e.Waiter, nullptr);
  }
}

}  // namespace
