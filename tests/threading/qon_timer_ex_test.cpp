#include "threading/qon_timer_ex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/message_loop_backend.h"
#include "platform/tick.h"

namespace {

using platform::PumpMessages;

// Runs the thread's messages as its host would (the system's own loop where
// there is one) until done() or a real-time limit.
bool HostLoopUntil(const std::function<bool()>& done, uint32_t limit_ms = 20000) {
  if (platform::detail::SystemHasDoorbells())
    return platform::detail::SystemMessageLoop(done, limit_ms);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    PumpMessages(5);
  }
  return true;
}

// Advances virtual time in steps of `step` ms, pumping after each.
void RunFor(platform::VirtualClock& clock, uint64_t ms, uint64_t step = 10) {
  for (uint64_t t = 0; t < ms; t += step) {
    clock.Advance(step);
    PumpMessages(0);
  }
}

TEST(QonTimerEx, RunsOnlyWithIntervalEnabledAndHandler) {
  platform::VirtualClock clock;
  TqonTimerEx timer;
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000u);
  int ticks = 0;
  RunFor(clock, 2000);
  EXPECT_EQ(ticks, 0);  // no handler yet
  timer.SetOnTimer([&](TqonTimerEx&) { ++ticks; });
  RunFor(clock, 2000);
  EXPECT_EQ(ticks, 2);
  timer.SetInterval(0);
  RunFor(clock, 2000);
  EXPECT_EQ(ticks, 2);
  timer.SetInterval(100);
  RunFor(clock, 1000);
  EXPECT_EQ(ticks, 12);
  timer.SetEnabled(false);
  RunFor(clock, 1000);
  EXPECT_EQ(ticks, 12);
  timer.SetEnabled(true);
  timer.SetOnTimer(nullptr);
  RunFor(clock, 1000);
  EXPECT_EQ(ticks, 12);
}

TEST(QonTimerEx, TimersOfOneThreadTickInDueOrder) {
  platform::VirtualClock clock;
  std::string order;
  TqonTimerEx slow, fast;
  slow.SetInterval(150);
  fast.SetInterval(50);
  slow.SetOnTimer([&](TqonTimerEx&) { order += 's'; });
  fast.SetOnTimer([&](TqonTimerEx&) { order += 'f'; });
  RunFor(clock, 300, 50);
  // At 150 and 300 both are due: the timer set first goes first.
  EXPECT_EQ(order, "ffsfffsf");
}

TEST(QonTimerEx, HandlerExceptionsStayInside) {
  platform::VirtualClock clock;
  TqonTimerEx timer;
  timer.SetInterval(10);
  int ticks = 0;
  timer.SetOnTimer([&](TqonTimerEx&) {
    ++ticks;
    throw std::runtime_error("handler failed");
  });
  EXPECT_NO_THROW(RunFor(clock, 30));
  EXPECT_EQ(ticks, 3);  // and it keeps ticking
}

TEST(QonTimerEx, TheHandlerMayFreeItsOwnTimer) {
  platform::VirtualClock clock;
  auto timer = std::make_unique<TqonTimerEx>();
  timer->SetInterval(10);
  int ticks = 0;
  timer->SetOnTimer([&](TqonTimerEx&) {
    ++ticks;
    FreeTimer(timer);
  });
  RunFor(clock, 50);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(timer, nullptr);
}

TEST(QonTimerExConcurrency, SetEnabledFromAnotherThreadWaitsForTheOwner) {
  platform::VirtualClock clock;
  TqonTimerEx timer;
  timer.SetEnabled(false);
  timer.SetInterval(100);
  int ticks = 0;
  timer.SetOnTimer([&](TqonTimerEx&) { ++ticks; });
  std::thread([&] { timer.SetEnabled(true); }).join();
  EXPECT_FALSE(timer.Enabled());
  clock.Advance(1000);
  EXPECT_EQ(ticks, 0);
  PumpMessages(0);  // applies the change; the first period starts now
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(ticks, 0);
  RunFor(clock, 100);
  EXPECT_EQ(ticks, 1);
  std::thread([&] { timer.SetEnabled(false); }).join();
  PumpMessages(0);
  RunFor(clock, 500);
  EXPECT_EQ(ticks, 1);
}

TEST(QonTimerExConcurrency, IntervalAndHandlerFromAnotherThreadApplyInOrder) {
  platform::VirtualClock clock;
  TqonTimerEx timer;
  int first = 0, second = 0;
  std::thread([&] {
    timer.SetOnTimer([&](TqonTimerEx&) { ++first; });
    timer.SetInterval(20);
    timer.SetOnTimer([&](TqonTimerEx&) { ++second; });
  }).join();
  EXPECT_EQ(timer.Interval(), 1000u);
  PumpMessages(0);
  EXPECT_EQ(timer.Interval(), 20u);
  RunFor(clock, 100);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 5);
}

TEST(QonTimerExConcurrency, DestroyedFromAnotherThreadWhileTheOwnerPumps) {
  auto timer = std::make_unique<TqonTimerEx>();
  timer->SetInterval(10);
  std::atomic<int> ticks{0};
  std::promise<void> ticking;
  timer->SetOnTimer([&](TqonTimerEx&) {
    if (++ticks == 3) ticking.set_value();
  });
  std::atomic<bool> destroyed{false};
  std::thread destroyer([&] {
    ticking.get_future().wait();
    timer->SetEnabled(true);  // a late change queued for the owner
    timer.reset();
    destroyed = true;
  });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!destroyed && std::chrono::steady_clock::now() < limit)
    PumpMessages(5);
  destroyer.join();
  ASSERT_TRUE(destroyed);
  const int seen = ticks;
  for (int i = 0; i < 5; ++i)
    PumpMessages(10);
  EXPECT_EQ(ticks.load(), seen);
}

TEST(QonTimerExConcurrency, DestroyFromAnotherThreadWaitsForARunningTick) {
  platform::VirtualClock clock;
  auto timer = std::make_unique<TqonTimerEx>();
  timer->SetInterval(10);
  std::promise<void> entered;
  std::atomic<bool> destroying{false};
  std::atomic<bool> tick_done{false};
  timer->SetOnTimer([&](TqonTimerEx& self) {
    entered.set_value();
    while (!destroying)
      std::this_thread::yield();
    for (int i = 0; i < 1000; ++i)
      std::this_thread::yield();
    EXPECT_EQ(self.Interval(), 10u);  // still alive
    tick_done = true;
  });
  bool done_when_destroyed = false;
  std::thread destroyer([&] {
    entered.get_future().wait();
    destroying = true;
    FreeTimer(timer);
    done_when_destroyed = tick_done;
  });
  clock.Advance(10);
  PumpMessages(0);
  destroyer.join();
  EXPECT_TRUE(done_when_destroyed);
  EXPECT_EQ(timer, nullptr);
}

// FreeTimer from a foreign thread posts a change and then destroys the timer;
// the owner handling that change meanwhile must not find the window gone.
TEST(QonTimerExConcurrency, FreedFromAnotherThreadWhileItsChangesArrive) {
  constexpr int kTimers = 200;
  std::mutex m;
  std::vector<std::unique_ptr<TqonTimerEx>> handed;
  std::atomic<int> freed{0};
  std::atomic<bool> stop{false};
  std::thread freer([&] {
    while (freed < kTimers && !stop) {
      std::unique_ptr<TqonTimerEx> t;
      {
        std::lock_guard<std::mutex> lock(m);
        if (!handed.empty()) {
          t = std::move(handed.back());
          handed.pop_back();
        }
      }
      if (!t) {
        std::this_thread::yield();
        continue;
      }
      t->SetInterval(20);
      FreeTimer(t);
      ++freed;
    }
  });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int i = 0; i < kTimers && std::chrono::steady_clock::now() < limit; ++i) {
    auto t = std::make_unique<TqonTimerEx>();
    t->SetInterval(10);
    t->SetOnTimer([](TqonTimerEx&) {});
    {
      std::lock_guard<std::mutex> lock(m);
      handed.push_back(std::move(t));
    }
    PumpMessages(1);
  }
  while (freed < kTimers && std::chrono::steady_clock::now() < limit)
    PumpMessages(1);
  stop = true;
  freer.join();
  EXPECT_EQ(freed.load(), kTimers);
}

TEST(QonTimerExRealTime, TicksOnTheSystemTimer) {
  TqonTimerEx timer;
  timer.SetInterval(15);
  int ticks = 0;
  timer.SetOnTimer([&](TqonTimerEx&) { ++ticks; });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ticks < 3 && std::chrono::steady_clock::now() < limit)
    PumpMessages(50);
  EXPECT_GE(ticks, 3);
  timer.SetEnabled(false);
  const int seen = ticks;
  PumpMessages(50);
  EXPECT_EQ(ticks, seen);
}

// A server with a connection per modem has a timer per connection, all in one
// thread: they share that thread's single system window.
TEST(QonTimerExRealTime, TwentyThousandTimersTickOnOneSystemWindow) {
  constexpr int kTimers = 20000;
  std::vector<int> ticks(kTimers, 0);
  int ticked = 0;
  std::vector<std::unique_ptr<TqonTimerEx>> timers;
  timers.reserve(kTimers);
  for (int i = 0; i < kTimers; ++i) {
    auto t = std::make_unique<TqonTimerEx>();
    t->SetInterval(50);
    t->SetOnTimer([&, i](TqonTimerEx&) {
      if (ticks[i]++ == 0) ++ticked;
    });
    timers.push_back(std::move(t));
  }
  EXPECT_EQ(platform::detail::SystemWindowsOfThread(),
            platform::detail::SystemHasDoorbells() ? 1 : 0);
  EXPECT_TRUE(HostLoopUntil([&] { return ticked == kTimers; }));
  EXPECT_EQ(ticked, kTimers);
  for (auto& t : timers)
    FreeTimer(t);
  const int seen = std::accumulate(ticks.begin(), ticks.end(), 0);
  HostLoopUntil([] { return false; }, 60);
  EXPECT_EQ(std::accumulate(ticks.begin(), ticks.end(), 0), seen);
}

TEST(QonTimerExConcurrency, ChangesFromAnotherThreadArriveThroughTheHostsLoop) {
  TqonTimerEx timer;
  timer.SetEnabled(false);
  timer.SetInterval(10);
  int ticks = 0;
  timer.SetOnTimer([&](TqonTimerEx&) { ++ticks; });
  std::thread([&] { timer.SetEnabled(true); }).join();
  EXPECT_TRUE(HostLoopUntil([&] { return ticks >= 2; }));
  EXPECT_TRUE(timer.Enabled());
  std::thread([&] { timer.SetEnabled(false); }).join();
  EXPECT_TRUE(HostLoopUntil([&] { return !timer.Enabled(); }));
  const int seen = ticks;
  HostLoopUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, seen);
}

}  // namespace

namespace {

// Threads that used a timer may end before the program does.
TEST(QonTimerExConcurrency, ThreadsWithTimersEndCleanly) {
  platform::VirtualClock clock;
  for (int i = 0; i < 20; ++i) {
    std::thread([&] {
      auto timer = std::make_unique<TqonTimerEx>();
      timer->SetInterval(10);
      int ticks = 0;
      timer->SetOnTimer([&](TqonTimerEx&) { ++ticks; });
      FreeTimer(timer);
    }).join();
  }
  SUCCEED();
}

}  // namespace
