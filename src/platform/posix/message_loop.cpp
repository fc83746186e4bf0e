// POSIX has no system windows: every window is one of the portable loop,
// pumped by the host through PumpMessages.
#include "platform/message_loop_backend.h"

namespace platform::detail {

bool SystemHasDoorbells() {
  return false;
}
uintptr_t SystemCreateDoorbell() {
  return 0;
}
bool SystemRingDoorbell(uintptr_t, DoorbellEvent) {
  return false;
}
bool SystemArmDoorbell(uintptr_t, uint64_t) {
  return false;
}
bool SystemDoorbellAlive(uintptr_t, uint32_t) {
  return false;
}
void SystemShutdownDoorbells(const uintptr_t*, size_t) {}
bool SystemPostMessage(WindowHandle, uint32_t, uintptr_t, intptr_t) {
  return false;
}
bool SystemSendMessageTimeout(WindowHandle, uint32_t, uintptr_t, intptr_t, uint32_t, intptr_t*) {
  return false;
}
int SystemPumpMessages() {
  return 0;
}
bool SystemWaitsForInput() {
  return false;
}
void SystemWaitForInput(uint32_t) {}
void SystemAnswerSentMessages() {}

void SystemAtThreadExit(void (*fn)(void*), void* arg) {
  struct AtExit {
    void (*fn)(void*) = nullptr;
    void* arg = nullptr;
    ~AtExit() {
      if (fn) fn(arg);
    }
  };
  static thread_local AtExit at_exit;
  at_exit.fn = fn;
  at_exit.arg = arg;
}

int SystemWindowsOfThread() {
  return 0;
}
bool SystemMessageLoop(const std::function<bool()>&, uint32_t) {
  return false;
}

}  // namespace platform::detail
