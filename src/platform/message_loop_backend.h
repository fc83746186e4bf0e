#pragma once
// What the portable message loop (message_loop.cpp) and the system's own
// message loop (win32/) share, and what each backend supplies.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/message_loop_types.h"

namespace platform::detail {

// Handles the messages sent to the calling thread's portable queue (used
// while a thread waits for another one, so that two threads sending to each
// other do not deadlock). Returns how many it handled.
int AnswerSentMessages();

// ---- The doorbell ----
// Where the system has a message loop of its own (Windows), each thread with
// portable windows gets one system window, its doorbell, through which that
// loop drives the thread's portable queue: a posted ring for posted messages,
// a sent (non-queued) ring for sent ones, so that they are answered wherever
// the system answers sent messages, and one system timer for the thread's
// next portable timer.
enum class DoorbellEvent { Posted, Sent, Timer };

// Supplied by the portable loop. The doorbell's procedure, in its owner
// thread: runs the thread's queue (only its sent messages for a sent ring)
// and sets the system timer again. False when the doorbell is not the
// calling thread's (any more).
bool RunDoorbell(uintptr_t doorbell, DoorbellEvent event);

// ---- Supplied by the backend (posix/ has no system windows). ----

// Whether threads with portable windows need a doorbell.
bool SystemHasDoorbells();
// A doorbell for the calling thread; 0 when the system refuses one.
uintptr_t SystemCreateDoorbell();
// Any thread. False when the system refuses the message.
bool SystemRingDoorbell(uintptr_t doorbell, DoorbellEvent event);
// Owner thread. The system timer goes off in ms (stopped for UINT64_MAX);
// false when the system refuses the timer.
bool SystemArmDoorbell(uintptr_t doorbell, uint64_t ms);
// Any thread. False once the doorbell's thread has ended.
bool SystemDoorbellAlive(uintptr_t doorbell, uint32_t thread_id);
// Hands every doorbell to the system's default procedure and closes it, so
// that no message reaches the library's code any more.
void SystemShutdownDoorbells(const uintptr_t* doorbells, size_t count);

bool SystemPostMessage(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);
bool SystemSendMessageTimeout(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                              uint32_t timeout_ms, intptr_t* result);
// Dispatches the thread's pending system messages without waiting. Messages
// of the doorbell are not counted: what they run counts in the portable loop.
int SystemPumpMessages();
// True when waiting must go through the system (so that its messages wake the
// thread); then SystemWaitForInput waits, and a ring of the thread's
// doorbell ends the wait.
bool SystemWaitsForInput();
void SystemWaitForInput(uint32_t max_wait_ms);
// Lets the system deliver the messages sent to the calling thread.
void SystemAnswerSentMessages();
// Runs fn(arg) when the calling thread ends, where the runtime allows that
// safely; otherwise never (the thread's loop then stays allocated).
void SystemAtThreadExit(void (*fn)(void*), void* arg);

// ---- For tests ----
// How many system windows the calling thread owns (0 without system windows).
int SystemWindowsOfThread();
// A host's plain message loop (get, translate, dispatch) in the calling
// thread until done() or limit_ms of real time. False at the limit, and at
// once where the system has no message loop.
bool SystemMessageLoop(const std::function<bool()>& done, uint32_t limit_ms);
// The calling thread's doorbell (0 when none).
uintptr_t CurrentDoorbell();

}  // namespace platform::detail
