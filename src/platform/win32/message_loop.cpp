// Hidden message-only windows of the system, with its timers, posted and sent
// messages. While a VirtualClock is active the portable loop stands in.
#include <windows.h>

#include <mutex>
#include <unordered_map>

#include "platform/message_loop_backend.h"
#include "platform/tick.h"

namespace platform::detail {
namespace {

const wchar_t kClassName[] = L"Dlt645MessageWindow";

struct Core {
  explicit Core(MessageWindow::Procedure p) : gate(std::move(p)) {}
  ProcedureGate gate;
};

// Keeps each window's procedure alive until the window is gone
// (WM_NCDESTROY), also while a procedure destroys its own window.
struct Registry {
  std::mutex mutex;
  std::unordered_map<HWND, std::shared_ptr<Core>> windows;
};

Registry& Windows() {
  // Never destroyed: windows may go with other static objects at exit.
  static Registry* const registry = std::make_unique<Registry>().release();
  return *registry;
}

std::shared_ptr<Core> FindCore(HWND hwnd) {
  Registry& r = Windows();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(hwnd);
  return it == r.windows.end() ? nullptr : it->second;
}

std::shared_ptr<Core> TakeCore(HWND hwnd) {
  Registry& r = Windows();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(hwnd);
  if (it == r.windows.end()) return nullptr;
  std::shared_ptr<Core> core = std::move(it->second);
  r.windows.erase(it);
  return core;
}

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCDESTROY) {
    const std::shared_ptr<Core> core = TakeCore(hwnd);
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  if (msg == WM_TIMER || msg >= WM_USER) {
    if (const std::shared_ptr<Core> core = FindCore(hwnd)) {
      intptr_t result = 0;
      if (core->gate.Call(msg, wparam, lparam, &result)) return result;
      if (msg >= WM_USER) return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&WindowProcedure), &module);
  return module;
}

bool RegisterWindowClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &WindowProcedure;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

class SystemWindow final : public MessageWindow {
 public:
  SystemWindow(HWND hwnd, std::shared_ptr<Core> core)
      : hwnd_(hwnd), owner_(GetCurrentThreadId()), core_(std::move(core)) {}

  ~SystemWindow() override {
    const bool owner = GetCurrentThreadId() == owner_;
    core_->gate.Close(!owner);
    if (owner) {
      DestroyWindow(hwnd_);
      return;
    }
    // Only the owner thread may destroy the window. Hand it to the system's
    // default procedure, which destroys it on WM_CLOSE, so that none of our
    // code is needed any more (the library may be unloaded before the owner
    // thread gets to it).
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
    TakeCore(hwnd_);
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  }

  WindowHandle Handle() const override { return reinterpret_cast<WindowHandle>(hwnd_); }
  uint32_t OwnerThread() const override { return owner_; }
  bool SetTimer(uintptr_t id, uint32_t period_ms) override {
    return ::SetTimer(hwnd_, id, period_ms, nullptr) != 0;
  }
  void KillTimer(uintptr_t id) override { ::KillTimer(hwnd_, id); }

 private:
  const HWND hwnd_;
  const uint32_t owner_;
  const std::shared_ptr<Core> core_;
};

}  // namespace

bool UseSystemWindows() {
  return !VirtualClock::Active();
}

std::unique_ptr<MessageWindow> CreateSystemWindow(MessageWindow::Procedure procedure) {
  if (!RegisterWindowClass()) return nullptr;
  HWND hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ThisModule(), nullptr);
  if (!hwnd) return nullptr;
  auto core = std::make_shared<Core>(std::move(procedure));
  {
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.windows[hwnd] = core;
  }
  return std::make_unique<SystemWindow>(hwnd, std::move(core));
}

bool SystemPostMessage(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  return PostMessageW(reinterpret_cast<HWND>(window), msg, wparam, lparam) != 0;
}

bool SystemSendMessageTimeout(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                              uint32_t timeout_ms, intptr_t* result) {
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutW(reinterpret_cast<HWND>(window), msg, wparam, lparam, SMTO_ABORTIFHUNG,
                           timeout_ms, &r))
    return false;
  if (result) *result = static_cast<intptr_t>(r);
  return true;
}

int SystemPumpMessages() {
  int n = 0;
  MSG m;
  // Bounded, so that a window that keeps posting to itself cannot hold the
  // caller here.
  for (int i = 0; i < 10000 && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    if (m.hwnd == nullptr && m.message == WM_NULL) continue;  // a wake-up
    TranslateMessage(&m);
    DispatchMessageW(&m);
    ++n;
  }
  return n;
}

bool SystemWaitsForInput() {
  return true;
}

void SystemWaitForInput(uint32_t max_wait_ms) {
  MsgWaitForMultipleObjectsEx(0, nullptr, max_wait_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void SystemWakeThread(uint32_t thread_id) {
  PostThreadMessageW(thread_id, WM_NULL, 0, 0);
}

void SystemAnswerSentMessages() {
  MSG m;
  PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void SystemPrepareThread() {
  MSG m;
  PeekMessageW(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // creates the thread's queue
}

// Thread-exit destructors of the mingw runtime corrupt the heap, and a host
// may unload the library before its threads end: the portable loop of a
// finished thread (used only under a virtual clock) simply stays allocated.
void SystemAtThreadExit(void (*)(void*), void*) {}

}  // namespace platform::detail
