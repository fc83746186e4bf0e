#pragma once
// A window-message timer. It lives in the thread that creates it: its ticks
// arrive only while that thread handles window messages (platform::
// PumpMessages on POSIX and in tests; the host's message loop on Windows).
//
//   auto timer = std::make_unique<TqonTimerEx>();   // enabled, 1000 ms, no handler
//   timer->SetInterval(50);
//   timer->SetOnTimer([this](TqonTimerEx&) { Tick(); });
//   ...
//   FreeTimer(timer);
//
// The timer runs exactly when Interval != 0, Enabled and OnTimer is set.
// SetEnabled, SetInterval and SetOnTimer called from another thread are
// posted to the owner thread and take effect when it handles its messages.
// The timer may be destroyed from any thread: from then on no tick reaches
// it (a tick running in the owner thread is waited for). An exception from
// the handler is reported through platform::DebugOutput and goes no further.
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "platform/message_loop.h"

class TqonTimerEx {
 public:
  using TTimerEvent = std::function<void(TqonTimerEx& sender)>;

  // Messages of the timer's window.
  static constexpr uint32_t WM_SET_ENABLED = 2064;  // wparam: 1 enables
  static constexpr uint32_t WM_SET_INTERVAL = 2066;
  static constexpr uint32_t WM_SET_ON_TIMER = 2067;
  static constexpr uint32_t WM_WAKE = 2068;
  static constexpr uintptr_t TimerId = 1;

  // Raises EOutOfResources when the system gives no window.
  TqonTimerEx();
  ~TqonTimerEx();
  TqonTimerEx(const TqonTimerEx&) = delete;
  TqonTimerEx& operator=(const TqonTimerEx&) = delete;

  // From the owner thread each raises EOutOfResources "Not enough timers
  // available" when the system refuses the timer.
  void SetEnabled(bool value);
  void SetInterval(uint32_t ms);
  void SetOnTimer(TTimerEvent handler);

  // Owner thread only: the next tick comes at the first period boundary at
  // or after not_before (a Tick64 reading); later ones a period apart again.
  void Defer(uint64_t not_before);
  // Any thread: the next tick back to the next period boundary.
  void Wake();

  // The state the owner thread has applied.
  bool Enabled() const { return enabled_.load(); }
  uint32_t Interval() const { return interval_.load(); }
  uint32_t OwnerThread() const { return owner_thread_; }
  platform::WindowHandle Window() const;

 private:
  intptr_t WindowProc(uint32_t msg, uintptr_t wparam, intptr_t lparam);
  bool InOwnerThread() const;
  bool Running() const;
  void Post(uint32_t msg, uintptr_t wparam);
  void ApplyEnabled(bool value);
  void ApplyInterval(uint32_t ms);
  void ApplyOnTimer(TTimerEvent handler);
  void UpdateTimer();
  void Tick();

  const uint32_t owner_thread_;
  std::atomic<bool> enabled_{true};
  std::atomic<uint32_t> interval_{1000};
  std::shared_ptr<const TTimerEvent> on_timer_;  // owner thread only
  std::mutex pending_mutex_;
  // From other threads, in posting order. A list: empty, it holds no memory,
  // where a deque takes half a kilobyte for every timer (a queue's, one per
  // connection) that never sees a handler posted.
  std::list<TTimerEvent> pending_handlers_;
  // Only the destructor touches the owning pointer; the procedure and the
  // posting paths use the plain one, which stays valid until the window has
  // been detached from this object.
  std::unique_ptr<platform::MessageWindow> window_;
  platform::MessageWindow* window_ref_ = nullptr;
};

// Disables the timer, removes its handler and frees it; each step's
// exception is swallowed. The variable is cleared.
void FreeTimer(std::unique_ptr<TqonTimerEx>& timer);
