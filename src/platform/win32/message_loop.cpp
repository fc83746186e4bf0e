// The system's side of the portable message loop: one hidden message-only
// window per thread, the doorbell, through which the thread's own message
// loop (the host's GetMessage/DispatchMessage) runs the thread's portable
// queue, and the system's messages for windows of other processes.
#include <windows.h>

#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/debug.h"
#include "platform/message_loop_backend.h"

namespace platform::detail {
namespace {

const wchar_t kClassName[] = L"Dlt645MessageLoop";
constexpr UINT kRingPosted = WM_USER + 1;
constexpr UINT kRingSent = WM_USER + 2;
constexpr UINT_PTR kTimerId = 1;

// The calling thread's doorbell, so that pumping does not count its messages.
thread_local HWND t_doorbell = nullptr;

LRESULT CALLBACK DoorbellProcedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  DoorbellEvent event;
  switch (msg) {
    case kRingPosted:
      event = DoorbellEvent::Posted;
      break;
    case kRingSent:
      event = DoorbellEvent::Sent;
      break;
    case WM_TIMER:
      if (wparam != kTimerId) return 0;
      event = DoorbellEvent::Timer;
      break;
    default:
      return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  // Nothing may leave a window procedure.
  try {
    if (!RunDoorbell(reinterpret_cast<uintptr_t>(hwnd), event)) ::KillTimer(hwnd, kTimerId);
  } catch (const std::exception& e) {
    DebugOutput(std::string("Exception in the message loop: ") + e.what());
  } catch (...) {
    DebugOutput("Exception in the message loop");
  }
  return 0;
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&DoorbellProcedure), &module);
  return module;
}

struct WindowClass {
  std::mutex mutex;
  bool registered = false;
};

WindowClass& Class() {
  // Never destroyed: doorbells are made and unloaded around static objects.
  static WindowClass* const c = new WindowClass();
  return *c;
}

bool RegisterWindowClass() {
  WindowClass& c = Class();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (!c.registered) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &DoorbellProcedure;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kClassName;
    c.registered = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }
  return c.registered;
}

HWND Hwnd(uintptr_t doorbell) {
  return reinterpret_cast<HWND>(doorbell);
}

}  // namespace

bool SystemHasDoorbells() {
  return true;
}

uintptr_t SystemCreateDoorbell() {
  if (!RegisterWindowClass()) return 0;
  HWND hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ThisModule(), nullptr);
  if (hwnd) t_doorbell = hwnd;
  return reinterpret_cast<uintptr_t>(hwnd);
}

bool SystemRingDoorbell(uintptr_t doorbell, DoorbellEvent event) {
  HWND hwnd = Hwnd(doorbell);
  if (event != DoorbellEvent::Sent) return PostMessageW(hwnd, kRingPosted, 0, 0) != 0;
  // A sent ring is answered wherever the thread answers sent messages (also
  // while it waits in a send of its own); from the thread itself it would
  // run at once, so it is posted there.
  if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId())
    return PostMessageW(hwnd, kRingSent, 0, 0) != 0;
  return SendNotifyMessageW(hwnd, kRingSent, 0, 0) != 0;
}

bool SystemArmDoorbell(uintptr_t doorbell, uint64_t ms) {
  if (ms == UINT64_MAX) {
    ::KillTimer(Hwnd(doorbell), kTimerId);
    return true;
  }
  // The system raises periods below its minimum itself.
  const UINT elapse =
      static_cast<UINT>(ms < 1 ? 1 : (ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : ms));
  return ::SetTimer(Hwnd(doorbell), kTimerId, elapse, nullptr) != 0;
}

bool SystemDoorbellAlive(uintptr_t doorbell, uint32_t thread_id) {
  // The window dies with its thread; a handle reused since belongs to another.
  return GetWindowThreadProcessId(Hwnd(doorbell), nullptr) == thread_id;
}

void SystemShutdownDoorbells(const uintptr_t* doorbells, size_t count) {
  const DWORD me = GetCurrentThreadId();
  for (size_t i = 0; i < count; ++i) {
    HWND hwnd = Hwnd(doorbells[i]);
    const DWORD owner = GetWindowThreadProcessId(hwnd, nullptr);
    if (owner == 0) continue;  // gone with its thread
    // The library may be gone before the owner thread looks at its messages
    // again: from now on the system's default procedure answers them, and
    // closes the window on WM_CLOSE.
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
    if (owner == me) {
      DestroyWindow(hwnd);
      continue;
    }
    ::KillTimer(hwnd, kTimerId);  // refused for other threads' windows on some systems
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
  }
  WindowClass& c = Class();
  std::lock_guard<std::mutex> lock(c.mutex);
  // Fails while windows of the class remain; they no longer use its procedure.
  UnregisterClassW(kClassName, ThisModule());
  c.registered = false;
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
    TranslateMessage(&m);
    DispatchMessageW(&m);
    if (m.hwnd == nullptr || m.hwnd != t_doorbell) ++n;
  }
  return n;
}

bool SystemWaitsForInput() {
  return true;
}

void SystemWaitForInput(uint32_t max_wait_ms) {
  MsgWaitForMultipleObjectsEx(0, nullptr, max_wait_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void SystemAnswerSentMessages() {
  MSG m;
  PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// Thread-exit destructors of the mingw runtime corrupt the heap, and a host
// may unload the library before its threads end: the portable loop of a
// finished thread simply stays allocated (its doorbell tells that it ended).
void SystemAtThreadExit(void (*)(void*), void*) {}

namespace {

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM windows) {
  reinterpret_cast<std::unordered_set<HWND>*>(windows)->insert(hwnd);
  return TRUE;
}

}  // namespace

int SystemWindowsOfThread() {
  const DWORD me = GetCurrentThreadId();
  std::unordered_set<HWND> windows;
  for (HWND h = nullptr; (h = FindWindowExW(HWND_MESSAGE, h, nullptr, nullptr)) != nullptr;)
    if (GetWindowThreadProcessId(h, nullptr) == me) windows.insert(h);
  EnumThreadWindows(me, &CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return static_cast<int>(windows.size());
}

bool SystemMessageLoop(const std::function<bool()>& done, uint32_t limit_ms) {
  const DWORD start = GetTickCount();
  // A thread timer wakes the loop now and then to look at done() and the limit.
  const UINT_PTR poll = ::SetTimer(nullptr, 0, 10, nullptr);
  bool finished = done();
  MSG m;
  while (!finished && GetTickCount() - start < limit_ms) {
    const BOOL got = GetMessageW(&m, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
    finished = done();
  }
  ::KillTimer(nullptr, poll);
  return finished;
}

}  // namespace platform::detail
