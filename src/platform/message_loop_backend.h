#pragma once
// What the portable message loop (message_loop.cpp) and the system's own
// windows (win32/) share, and what each backend supplies.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/message_loop.h"

namespace platform::detail {

// Guards the procedure of one window. Calls run only while the gate is
// open; Close() shuts it and, from a thread other than the owner, waits for a
// call in progress to return, so nothing reaches the procedure afterwards.
// The procedure object itself is released only when no call uses it, because
// a procedure may destroy its own window.
class ProcedureGate {
 public:
  explicit ProcedureGate(MessageWindow::Procedure procedure) : procedure_(std::move(procedure)) {}

  // False when the gate is closed (result untouched).
  bool Call(uint32_t msg, uintptr_t wparam, intptr_t lparam, intptr_t* result);
  // wait: the caller is not the owner thread. While it waits it answers the
  // messages sent to its own thread, so that a procedure that sends to it
  // cannot deadlock the two.
  void Close(bool wait);
  bool Closed() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  MessageWindow::Procedure procedure_;
  int calls_ = 0;
  bool closed_ = false;
};

// Handles the messages sent to the calling thread's portable queue (used
// while a thread waits for another one, so that two threads sending to each
// other do not deadlock). Returns how many it handled.
int AnswerSentMessages();

// ---- Supplied by the backend (posix/ has no system windows). ----

// Whether MessageWindow::Create makes a system window now.
bool UseSystemWindows();
std::unique_ptr<MessageWindow> CreateSystemWindow(MessageWindow::Procedure procedure);
bool SystemPostMessage(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);
bool SystemSendMessageTimeout(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                              uint32_t timeout_ms, intptr_t* result);
// Dispatches the thread's pending system messages without waiting.
int SystemPumpMessages();
// True when waiting must go through the system (so that its messages wake the
// thread); then SystemWaitForInput waits and SystemWakeThread interrupts it.
bool SystemWaitsForInput();
void SystemWaitForInput(uint32_t max_wait_ms);
void SystemWakeThread(uint32_t thread_id);
// Lets the system deliver the messages sent to the calling thread.
void SystemAnswerSentMessages();
// Prepares the calling thread to be woken by SystemWakeThread.
void SystemPrepareThread();
// Runs fn(arg) when the calling thread ends, where the runtime allows that
// safely; otherwise never (the thread's loop then stays allocated).
void SystemAtThreadExit(void (*fn)(void*), void* arg);

}  // namespace platform::detail
