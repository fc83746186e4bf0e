// The portable loop driven by a host's own message loop: on Windows the
// system's GetMessage/DispatchMessage in the owner thread (through one system
// window per thread), elsewhere PumpMessages.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "platform/message_loop_backend.h"
#include "platform/thread.h"

namespace {

using platform::MessageWindow;
namespace detail = platform::detail;

constexpr uint32_t kMsg = platform::WM_USER_ + 9;

// Runs the calling thread's messages as its host would until done() or a
// real-time limit; never through PumpMessages where the system has a loop.
bool HostLoopUntil(const std::function<bool()>& done, uint32_t limit_ms = 10000) {
  if (detail::SystemHasDoorbells()) return detail::SystemMessageLoop(done, limit_ms);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::PumpMessages(5);
  }
  return true;
}

int OneSystemWindowAtMost() {
  return detail::SystemHasDoorbells() ? 1 : 0;
}

TEST(MessageLoopHost, TimersOfManyWindowsTickInDueOrderOnOneSystemWindow) {
  constexpr int kWindows = 20;
  std::vector<int> first_ticks;
  std::vector<int> ticks(kWindows, 0);
  std::vector<std::unique_ptr<MessageWindow>> windows;
  for (int i = 0; i < kWindows; ++i) {
    windows.push_back(MessageWindow::Create([&, i](uint32_t msg, uintptr_t, intptr_t) {
      if (msg == platform::WM_TIMER_ && ticks[i]++ == 0) first_ticks.push_back(i);
      return intptr_t{0};
    }));
    ASSERT_NE(windows.back(), nullptr);
  }
  // Set within a millisecond or two; their first ticks are 4 ms apart.
  for (int i = 0; i < kWindows; ++i)
    ASSERT_TRUE(windows[i]->SetTimer(1, 20 + 4 * static_cast<uint32_t>(i)));
  EXPECT_EQ(detail::SystemWindowsOfThread(), OneSystemWindowAtMost());
  ASSERT_TRUE(HostLoopUntil(
      [&] { return static_cast<int>(first_ticks.size()) == kWindows && ticks[0] >= 3; }));
  std::vector<int> in_order(kWindows);
  for (int i = 0; i < kWindows; ++i)
    in_order[i] = i;
  EXPECT_EQ(first_ticks, in_order);
  EXPECT_EQ(detail::SystemWindowsOfThread(), OneSystemWindowAtMost());
}

TEST(MessageLoopHost, APostFromTheOwnersOwnProcedureArrives) {
  int received = 0;
  std::unique_ptr<MessageWindow> w;
  w = MessageWindow::Create([&](uint32_t msg, uintptr_t wparam, intptr_t) {
    if (msg == kMsg) {
      ++received;
      if (wparam < 5) platform::PostMessageTo(w->Handle(), kMsg, wparam + 1, 0);
    } else if (msg == platform::WM_TIMER_) {
      w->KillTimer(1);
      platform::PostMessageTo(w->Handle(), kMsg, 0, 0);
    }
    return intptr_t{0};
  });
  ASSERT_TRUE(w->SetTimer(1, 10));
  EXPECT_TRUE(HostLoopUntil([&] { return received == 6; }));
}

TEST(MessageLoopHostConcurrency, PostsAndSendsFromOtherThreadsReachTheOwnersLoop) {
  const uint32_t owner = platform::CurrentThreadId();
  std::atomic<int> posted{0};
  std::atomic<bool> foreign_thread_ran{false};
  auto w = MessageWindow::Create([&](uint32_t msg, uintptr_t wparam, intptr_t) -> intptr_t {
    if (platform::CurrentThreadId() != owner) foreign_thread_ran = true;
    if (msg == kMsg) {
      ++posted;
      return 0;
    }
    return static_cast<intptr_t>(wparam) * 3;
  });
  const platform::WindowHandle handle = w->Handle();
  constexpr int kPosters = 3, kPosts = 200, kSends = 20;
  std::atomic<int> sends_ok{0};
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kPosters; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kPosts; ++i)
        platform::PostMessageTo(handle, kMsg, 0, 0);
      ++finished;
    });
  threads.emplace_back([&] {
    for (int i = 0; i < kSends; ++i) {
      intptr_t result = 0;
      if (platform::SendMessageTimeoutTo(handle, kMsg + 1, i, 0, 2000, &result) && result == i * 3)
        ++sends_ok;
    }
    ++finished;
  });
  EXPECT_TRUE(
      HostLoopUntil([&] { return finished == kPosters + 1 && posted == kPosters * kPosts; }));
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(sends_ok.load(), kSends);
  EXPECT_EQ(posted.load(), kPosters * kPosts);
  EXPECT_FALSE(foreign_thread_ran);
}

TEST(MessageLoopHostConcurrency, DestroyFromAnotherThreadWhileTheOwnersLoopRuns) {
  std::promise<void> entered;
  std::atomic<int> ticks{0};
  std::atomic<bool> destroying{false};
  std::atomic<bool> destroyed{false};
  std::atomic<bool> returned{false};
  std::atomic<bool> called_after_destroy{false};
  auto w = MessageWindow::Create([&](uint32_t msg, uintptr_t, intptr_t) {
    if (destroyed) called_after_destroy = true;
    if (msg == platform::WM_TIMER_ && ++ticks == 3) {
      entered.set_value();
      while (!destroying)
        std::this_thread::yield();
      for (int i = 0; i < 1000; ++i)
        std::this_thread::yield();
      returned = true;
    }
    return intptr_t{0};
  });
  ASSERT_TRUE(w->SetTimer(1, 10));
  const platform::WindowHandle handle = w->Handle();
  bool returned_before_destroy_ended = false;
  std::thread destroyer([&] {
    entered.get_future().wait_for(std::chrono::seconds(10));
    destroying = true;
    platform::PostMessageTo(handle, kMsg, 0, 0);  // queued for a window about to go
    MessageWindow::Destroy(std::move(w));
    returned_before_destroy_ended = returned;
    destroyed = true;
  });
  EXPECT_TRUE(HostLoopUntil([&] { return destroyed.load(); }));
  destroyer.join();
  EXPECT_TRUE(returned_before_destroy_ended);
  const int seen = ticks;
  HostLoopUntil([] { return false; }, 60);
  EXPECT_EQ(ticks.load(), seen);
  EXPECT_FALSE(called_after_destroy);
  EXPECT_FALSE(platform::PostMessageTo(handle, kMsg, 0, 0));
}

// The library unloads while a host thread with our windows lives on: that
// thread's loop must not reach the library's code afterwards.
TEST(MessageLoopHostConcurrency, AfterTheUnloadNoSystemMessageReachesTheLibrary) {
  if (!detail::SystemHasDoorbells()) GTEST_SKIP() << "no system windows here";
  std::atomic<int> calls{0};
  std::atomic<bool> unloaded{false};
  std::promise<void> ticking;
  int windows_before = 0, windows_after = -1, calls_closed = 0, calls_end = 0;
  bool window_closed = false;
  std::thread host([&] {
    auto w = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
      if (++calls == 3) ticking.set_value();
      return intptr_t{0};
    });
    EXPECT_TRUE(w->SetTimer(1, 10));
    windows_before = detail::SystemWindowsOfThread();
    HostLoopUntil([&] { return unloaded.load(); });
    // The system's default procedure closes the window on its own.
    window_closed = HostLoopUntil([] { return detail::SystemWindowsOfThread() == 0; }, 5000);
    windows_after = detail::SystemWindowsOfThread();
    calls_closed = calls;
    platform::PostMessageTo(w->Handle(), kMsg, 0, 0);
    HostLoopUntil([] { return false; }, 60);
    calls_end = calls;
    MessageWindow::Destroy(std::move(w));
  });
  EXPECT_EQ(ticking.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  platform::ShutdownMessageWindows();
  const int calls_at_unload = calls;
  unloaded = true;
  host.join();
  EXPECT_EQ(windows_before, 1);
  EXPECT_TRUE(window_closed);
  EXPECT_EQ(windows_after, 0);
  // At most a tick that was running during the unload.
  EXPECT_LE(calls_closed, calls_at_unload + 1);
  EXPECT_EQ(calls_end, calls_closed);
  // A later window of this process gets a system window of its own again.
  int ticks = 0;
  auto w = MessageWindow::Create([&](uint32_t, uintptr_t, intptr_t) {
    ++ticks;
    return intptr_t{0};
  });
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(w->SetTimer(1, 10));
  EXPECT_TRUE(HostLoopUntil([&] { return ticks >= 2; }));
}

}  // namespace
