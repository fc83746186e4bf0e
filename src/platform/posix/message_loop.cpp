// POSIX has no system windows: every window is one of the portable loop.
#include "platform/message_loop_backend.h"

namespace platform::detail {

bool UseSystemWindows() {
  return false;
}
std::unique_ptr<MessageWindow> CreateSystemWindow(MessageWindow::Procedure) {
  return nullptr;
}
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
void SystemWakeThread(uint32_t) {}
void SystemAnswerSentMessages() {}
void SystemPrepareThread() {}

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

}  // namespace platform::detail
