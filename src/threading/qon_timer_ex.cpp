#include "threading/qon_timer_ex.h"

#include <exception>
#include <string>

#include "base/errors.h"
#include "platform/debug.h"
#include "platform/thread.h"

TqonTimerEx::TqonTimerEx() : owner_thread_(platform::CurrentThreadId()) {
  window_ =
      platform::MessageWindow::Create([this](uint32_t msg, uintptr_t wparam, intptr_t lparam) {
        return WindowProc(msg, wparam, lparam);
      });
  if (!window_) throw EOutOfResources("Cannot create the timer's message window");
  window_ref_ = window_.get();
}

TqonTimerEx::~TqonTimerEx() {
  // The window goes first: once it is detached no message (a late tick, a
  // change posted from another thread) can reach this object.
  platform::MessageWindow::Destroy(std::move(window_));
}

platform::WindowHandle TqonTimerEx::Window() const {
  return window_ref_->Handle();
}

bool TqonTimerEx::InOwnerThread() const {
  return platform::CurrentThreadId() == owner_thread_;
}

void TqonTimerEx::Post(uint32_t msg, uintptr_t wparam) {
  if (!platform::PostMessageTo(window_ref_->Handle(), msg, wparam, 0))
    platform::DebugOutput("TqonTimerEx: the owner thread does not take messages");
}

void TqonTimerEx::SetEnabled(bool value) {
  if (InOwnerThread())
    ApplyEnabled(value);
  else
    Post(WM_SET_ENABLED, value ? 1 : 0);
}

void TqonTimerEx::SetInterval(uint32_t ms) {
  if (InOwnerThread())
    ApplyInterval(ms);
  else
    Post(WM_SET_INTERVAL, ms);
}

void TqonTimerEx::SetOnTimer(TTimerEvent handler) {
  if (InOwnerThread()) {
    ApplyOnTimer(std::move(handler));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    pending_handlers_.push_back(std::move(handler));
  }
  Post(WM_SET_ON_TIMER, 0);
}

void TqonTimerEx::Defer(uint64_t not_before) {
  if (InOwnerThread() && Running()) window_ref_->SetTimerDue(TimerId, not_before);
}

void TqonTimerEx::Wake() {
  if (!InOwnerThread())
    Post(WM_WAKE, 0);
  else if (Running())
    window_ref_->SetTimerDue(TimerId, 0);
}

bool TqonTimerEx::Running() const {
  return interval_.load() != 0 && enabled_.load() && on_timer_;
}

void TqonTimerEx::ApplyEnabled(bool value) {
  if (enabled_.load() == value) return;
  enabled_ = value;
  UpdateTimer();
}

void TqonTimerEx::ApplyInterval(uint32_t ms) {
  if (interval_.load() == ms) return;
  interval_ = ms;
  UpdateTimer();
}

void TqonTimerEx::ApplyOnTimer(TTimerEvent handler) {
  on_timer_ = handler ? std::make_shared<const TTimerEvent>(std::move(handler)) : nullptr;
  UpdateTimer();
}

void TqonTimerEx::UpdateTimer() {
  window_ref_->KillTimer(TimerId);
  if (Running()) {
    if (!window_ref_->SetTimer(TimerId, interval_.load()))
      throw EOutOfResources("Not enough timers available");
  }
}

void TqonTimerEx::Tick() {
  // The handler may free this timer: hold the handler, touch nothing after.
  const std::shared_ptr<const TTimerEvent> handler = on_timer_;
  if (!handler) return;
  try {
    (*handler)(*this);
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("Exception in timer handler: ") + e.what());
  } catch (...) {
    platform::DebugOutput("Exception in timer handler");
  }
}

intptr_t TqonTimerEx::WindowProc(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg == platform::WM_TIMER_) {
    if (wparam == TimerId) Tick();
    return 0;
  }
  try {
    switch (msg) {
      case WM_SET_ENABLED:
        ApplyEnabled(wparam == 1);
        break;
      case WM_WAKE:
        if (Running()) window_ref_->SetTimerDue(TimerId, 0);
        break;
      case WM_SET_INTERVAL:
        ApplyInterval(static_cast<uint32_t>(wparam));
        break;
      case WM_SET_ON_TIMER: {
        TTimerEvent handler;
        {
          std::lock_guard<std::mutex> lock(pending_mutex_);
          if (pending_handlers_.empty()) break;
          handler = std::move(pending_handlers_.front());
          pending_handlers_.pop_front();
        }
        ApplyOnTimer(std::move(handler));
        break;
      }
      default:
        break;
    }
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("TqonTimerEx: ") + e.what());
  }
  return 0;
}

void FreeTimer(std::unique_ptr<TqonTimerEx>& timer) {
  std::unique_ptr<TqonTimerEx> t = std::move(timer);
  if (!t) return;
  try {
    t->SetEnabled(false);
  } catch (...) {
  }
  try {
    t->SetOnTimer(nullptr);
  } catch (...) {
  }
  t.reset();
}
