#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "platform/tick.h"

namespace {

using platform::MessageWindow;
using platform::PumpMessages;

constexpr uint32_t kMsg = platform::WM_USER_ + 7;

// Pumps the calling thread until done() or a real-time limit.
template <class F>
bool PumpUntil(F done, int limit_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    PumpMessages(5);
    std::this_thread::yield();
  }
  return true;
}

std::unique_ptr<MessageWindow> Recorder(std::vector<std::string>* log, const std::string& name) {
  return MessageWindow::Create([log, name](uint32_t msg, uintptr_t wparam, intptr_t) -> intptr_t {
    log->push_back(name + (msg == platform::WM_TIMER_ ? ":t" : ":m") + std::to_string(wparam));
    return 0;
  });
}

TEST(MessageLoopVirtual, TimersFireInDueOrderWithoutCatchingUp) {
  platform::VirtualClock clock;
  std::vector<std::string> log;
  auto a = Recorder(&log, "a");
  auto b = Recorder(&log, "b");
  ASSERT_TRUE(b->SetTimer(1, 100));
  ASSERT_TRUE(a->SetTimer(1, 30));
  ASSERT_TRUE(b->SetTimer(2, 30));  // same due time as a's, set later
  EXPECT_EQ(PumpMessages(0), 0);
  clock.Advance(29);
  EXPECT_EQ(PumpMessages(0), 0);
  clock.Advance(71);  // all three are due; each fires once
  EXPECT_EQ(PumpMessages(0), 3);
  EXPECT_EQ(log, (std::vector<std::string>{"a:t1", "b:t2", "b:t1"}));
  log.clear();
  clock.Advance(30);
  EXPECT_EQ(PumpMessages(0), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"a:t1", "b:t2"}));
}

TEST(MessageLoopVirtual, PeriodsBelowTheMinimumAreRaised) {
  platform::VirtualClock clock;
  std::vector<std::string> log;
  auto w = Recorder(&log, "w");
  ASSERT_TRUE(w->SetTimer(1, 0));
  clock.Advance(platform::USER_TIMER_MINIMUM_ - 1);
  EXPECT_EQ(PumpMessages(0), 0);
  clock.Advance(1);
  EXPECT_EQ(PumpMessages(0), 1);
}

TEST(MessageLoopVirtual, KilledAndResetTimers) {
  platform::VirtualClock clock;
  std::vector<std::string> log;
  auto w = Recorder(&log, "w");
  ASSERT_TRUE(w->SetTimer(1, 50));
  clock.Advance(40);
  ASSERT_TRUE(w->SetTimer(1, 50));  // starts the period again
  clock.Advance(40);
  EXPECT_EQ(PumpMessages(0), 0);
  clock.Advance(10);
  EXPECT_EQ(PumpMessages(0), 1);
  w->KillTimer(1);
  clock.Advance(1000);
  EXPECT_EQ(PumpMessages(0), 0);
}

TEST(MessageLoopVirtual, AHandlerKillingALaterTimerStopsItInTheSamePass) {
  platform::VirtualClock clock;
  int late_ticks = 0;
  std::unique_ptr<MessageWindow> late = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
    ++late_ticks;
    return intptr_t{0};
  });
  std::unique_ptr<MessageWindow> early = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
    late.reset();  // destroys a window whose timer is also due
    return intptr_t{0};
  });
  ASSERT_TRUE(early->SetTimer(1, 10));
  ASSERT_TRUE(late->SetTimer(1, 20));
  clock.Advance(20);
  EXPECT_EQ(PumpMessages(0), 1);
  EXPECT_EQ(late_ticks, 0);
}

TEST(MessageLoopVirtual, PumpingNeverWaitsOnVirtualTime) {
  platform::VirtualClock clock;
  std::vector<std::string> log;
  auto w = Recorder(&log, "w");
  ASSERT_TRUE(w->SetTimer(1, 1000));
  EXPECT_EQ(PumpMessages(600000), 0);  // would hang for ten minutes if it waited
}

TEST(MessageLoop, PostedMessagesRunInOrderWhenPumped) {
  std::vector<std::string> log;
  auto w = Recorder(&log, "w");
  ASSERT_TRUE(platform::PostMessageTo(w->Handle(), kMsg, 1, 0));
  ASSERT_TRUE(platform::PostMessageTo(w->Handle(), kMsg, 2, 0));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(PumpMessages(0), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"w:m1", "w:m2"}));
}

TEST(MessageLoop, SendFromTheOwnerThreadCallsDirectly) {
  auto w = MessageWindow::Create([](uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    return static_cast<intptr_t>(msg + wparam) + lparam;
  });
  intptr_t result = 0;
  ASSERT_TRUE(platform::SendMessageTimeoutTo(w->Handle(), kMsg, 5, 100, 0, &result));
  EXPECT_EQ(result, static_cast<intptr_t>(kMsg) + 105);
}

TEST(MessageLoop, StaleAndUnknownHandlesFail) {
  std::vector<std::string> log;
  auto w = Recorder(&log, "w");
  const platform::WindowHandle handle = w->Handle();
  ASSERT_TRUE(platform::PostMessageTo(handle, kMsg, 1, 0));
  MessageWindow::Destroy(std::move(w));
  EXPECT_FALSE(platform::PostMessageTo(handle, kMsg, 2, 0));
  intptr_t result = 0;
  EXPECT_FALSE(platform::SendMessageTimeoutTo(handle, kMsg, 3, 0, 10, &result));
  EXPECT_FALSE(platform::PostMessageTo(0, kMsg, 0, 0));
  PumpMessages(0);
  EXPECT_TRUE(log.empty());  // what was queued went with the window
}

TEST(MessageLoop, AProcedureThatThrowsDoesNotBreakThePump) {
  int calls = 0;
  auto w = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) -> intptr_t {
    ++calls;
    throw std::runtime_error("boom");
  });
  ASSERT_TRUE(platform::PostMessageTo(w->Handle(), kMsg, 0, 0));
  ASSERT_TRUE(platform::PostMessageTo(w->Handle(), kMsg, 0, 0));
  EXPECT_NO_THROW(PumpMessages(0));
  EXPECT_EQ(calls, 2);
}

TEST(MessageLoop, AWindowMayDestroyItselfFromItsProcedure) {
  std::unique_ptr<MessageWindow> w;
  int calls = 0;
  w = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
    ++calls;
    w.reset();
    return intptr_t{0};
  });
  const platform::WindowHandle handle = w->Handle();
  ASSERT_TRUE(platform::PostMessageTo(handle, kMsg, 0, 0));
  ASSERT_TRUE(platform::PostMessageTo(handle, kMsg, 0, 0));
  PumpMessages(0);
  PumpMessages(0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(w, nullptr);
}

// Real time; on Windows the thread's system window ends the pump's wait.
TEST(MessageLoopRealTime, TimerTicksWhileThePumpWaits) {
  int ticks = 0;
  auto w = MessageWindow::Create([&](uint32_t msg, uintptr_t id, intptr_t) {
    if (msg == platform::WM_TIMER_ && id == 7) ++ticks;
    return intptr_t{0};
  });
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(w->SetTimer(7, 15));
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  w->KillTimer(7);
  const int seen = ticks;
  PumpMessages(60);
  EXPECT_EQ(ticks, seen);
}

TEST(MessageLoopRealTime, PumpReturnsAfterMaxWaitWhenIdle) {
  auto w = MessageWindow::Create([](uint32_t, uintptr_t, intptr_t) { return intptr_t{0}; });
  EXPECT_EQ(PumpMessages(20), 0);
}

TEST(MessageLoopConcurrency, SendFromAnotherThreadIsAnsweredByTheOwner) {
  std::atomic<uint32_t> handled_in{0};
  const uint32_t owner = platform::CurrentThreadId();
  auto w = MessageWindow::Create([&](uint32_t, uintptr_t wparam, intptr_t) {
    handled_in = platform::CurrentThreadId();
    return static_cast<intptr_t>(wparam * 2);
  });
  const platform::WindowHandle handle = w->Handle();
  std::atomic<bool> done{false};
  intptr_t result = 0;
  bool ok = false;
  std::thread sender([&] {
    ok = platform::SendMessageTimeoutTo(handle, kMsg, 21, 0, 5000, &result);
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  sender.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(result, 42);
  EXPECT_EQ(handled_in.load(), owner);
}

TEST(MessageLoopConcurrency, SendTimesOutWhenTheOwnerDoesNotPump) {
  platform::VirtualClock clock;
  int calls = 0;
  auto w = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
    ++calls;
    return intptr_t{1};
  });
  const platform::WindowHandle handle = w->Handle();
  bool ok = true;
  std::thread([&] {
    intptr_t result = 0;
    ok = platform::SendMessageTimeoutTo(handle, kMsg, 0, 0, 30, &result);
  }).join();
  EXPECT_FALSE(ok);
  PumpMessages(0);  // an abandoned send is not delivered late
  EXPECT_EQ(calls, 0);
}

TEST(MessageLoopConcurrency, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  auto mine = MessageWindow::Create([](uint32_t, uintptr_t, intptr_t) { return intptr_t{1}; });
  const platform::WindowHandle my_handle = mine->Handle();
  std::promise<platform::WindowHandle> theirs;
  std::atomic<bool> other_ok{false};
  std::atomic<bool> finish{false};
  std::thread other([&] {
    auto w = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
      // While answering us, it sends to us.
      intptr_t r = 0;
      other_ok = platform::SendMessageTimeoutTo(my_handle, kMsg, 0, 0, 5000, &r);
      return intptr_t{2};
    });
    theirs.set_value(w->Handle());
    while (!finish)
      PumpMessages(5);
  });
  const platform::WindowHandle their_handle = theirs.get_future().get();
  intptr_t result = 0;
  EXPECT_TRUE(platform::SendMessageTimeoutTo(their_handle, kMsg, 0, 0, 5000, &result));
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(other_ok);
  finish = true;
  other.join();
}

TEST(MessageLoopConcurrency, PostsFromManyThreadsAllArrive) {
  std::atomic<int> received{0};
  auto w = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
    ++received;
    return intptr_t{0};
  });
  const platform::WindowHandle handle = w->Handle();
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([handle] {
      for (int i = 0; i < 100; ++i)
        platform::PostMessageTo(handle, kMsg, 0, 0);
    });
  for (auto& t : posters)
    t.join();
  EXPECT_TRUE(PumpUntil([&] { return received.load() == 400; }));
}

TEST(MessageLoopConcurrency, DestroyFromAnotherThreadWaitsForTheRunningCall) {
  std::promise<void> entered;
  std::atomic<bool> destroying{false};
  std::atomic<bool> returned{false};
  int calls = 0;
  auto w = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
    if (++calls == 1) {
      entered.set_value();
      while (!destroying)
        std::this_thread::yield();
      for (int i = 0; i < 1000; ++i)
        std::this_thread::yield();
      returned = true;
    }
    return intptr_t{0};
  });
  const platform::WindowHandle handle = w->Handle();
  ASSERT_TRUE(platform::PostMessageTo(handle, kMsg, 0, 0));
  ASSERT_TRUE(platform::PostMessageTo(handle, kMsg, 0, 0));
  bool returned_before_destroy_ended = false;
  std::thread destroyer([&] {
    entered.get_future().wait();
    destroying = true;
    MessageWindow::Destroy(std::move(w));
    returned_before_destroy_ended = returned;
  });
  PumpMessages(0);  // runs the first message, which lets the destroyer in
  destroyer.join();
  EXPECT_TRUE(returned_before_destroy_ended);
  PumpMessages(0);
  PumpMessages(0);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(platform::PostMessageTo(handle, kMsg, 0, 0));
}

TEST(MessageLoopConcurrency, WindowsOfAnEndedThreadRefuseMessages) {
  std::unique_ptr<MessageWindow> w;
  std::thread([&] {
    w = MessageWindow::Create([](uint32_t, uintptr_t, intptr_t) { return intptr_t{0}; });
  }).join();
  ASSERT_NE(w, nullptr);
  intptr_t result = 0;
  EXPECT_FALSE(platform::SendMessageTimeoutTo(w->Handle(), kMsg, 0, 0, 1000, &result));
  EXPECT_FALSE(platform::PostMessageTo(w->Handle(), kMsg, 0, 0));
  w.reset();  // released from a thread that is not the owner
}

}  // namespace
