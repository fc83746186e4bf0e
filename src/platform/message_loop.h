#pragma once
// Message windows: the thread-bound message queue that carries timers, posted
// messages and sent messages. They are a portable per-thread loop that runs
// on platform::Tick64(), pumped by PumpMessages. On Windows the system's own
// message loop (GetMessage/DispatchMessage in the owner thread) drives it as
// well, through one hidden system window per thread.
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/message_loop_types.h"

namespace platform {

// Timer periods below this are raised to it, as the system does.
constexpr uint32_t USER_TIMER_MINIMUM_ = 10;

class MessageWindow {
 public:
  // Called in the owner thread for timer ticks (WM_TIMER_ with the timer id as
  // wparam) and for every message from WM_USER_ up; the system's own messages
  // get default handling. An exception escaping it is reported through
  // DebugOutput and answered with 0.
  using Procedure = std::function<intptr_t(uint32_t msg, uintptr_t wparam, intptr_t lparam)>;

  // Creates a window owned by the calling thread; null when the system
  // refuses one.
  static std::unique_ptr<MessageWindow> Create(Procedure procedure);
  // Destroys a window from any thread. From another thread the procedure is
  // detached first (waiting for a call in progress to return), so no message
  // reaches it after this returns. Deleting the object does the same.
  static void Destroy(std::unique_ptr<MessageWindow> window);

  virtual ~MessageWindow() = default;
  virtual WindowHandle Handle() const = 0;
  virtual uint32_t OwnerThread() const = 0;
  // Owner thread only. (Re)starts timer `id` with the period; false when the
  // system refuses the timer.
  virtual bool SetTimer(uintptr_t id, uint32_t period_ms) = 0;
  virtual void KillTimer(uintptr_t id) = 0;
  // Owner thread only. Moves timer `id`'s next tick to the first of its
  // period boundaries (its last tick plus whole periods) at or after
  // not_before (Tick64) that this thread has not passed yet; 0 brings it back
  // to the next boundary. A boundary is passed once the loop has run the
  // timers due then; one that is being run takes the timer along in its
  // place. False when there is no such timer.
  virtual bool SetTimerDue(uintptr_t id, uint64_t not_before) = 0;
};

// Any thread. False when the window does not exist or the queue refuses.
bool PostMessageTo(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);
// Any thread. From the window's own thread the procedure is called directly;
// otherwise the caller waits at most timeout_ms for the owner thread to handle
// it (false on time-out, on a hung or missing window).
bool SendMessageTimeoutTo(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                          uint32_t timeout_ms, intptr_t* result);

// Runs the due timers and the posted and sent messages of the calling thread,
// waiting at most max_wait_ms (real time; never under a VirtualClock) for the
// first one. Returns how many it ran. On Windows it also dispatches the
// thread's system window messages.
int PumpMessages(uint32_t max_wait_ms);

// For the library's unload: from then on no message of the system reaches
// the library's code (its hidden system windows are handed to the system's
// default procedure and closed by their threads). Portable windows stay, but
// only PumpMessages drives them any more.
void ShutdownMessageWindows();

}  // namespace platform
