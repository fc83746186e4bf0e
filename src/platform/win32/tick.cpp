#include <windows.h>

#include "platform/datetime.h"
#include "platform/detail.h"

namespace platform::detail {
namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

TickCount64Fn LookUpTick64() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel ? reinterpret_cast<TickCount64Fn>(
                      reinterpret_cast<void*>(GetProcAddress(kernel, "GetTickCount64")))
                : nullptr;
}

const TickCount64Fn g_tick64 = LookUpTick64();

}  // namespace

uint64_t SystemTick64() { return g_tick64 ? g_tick64() : GetTickCount(); }
bool SystemHasTick64() { return g_tick64 != nullptr; }
uint32_t SystemTick32() { return GetTickCount(); }

double SystemLocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  int64_t days = 0;
  TryEncodeDate(st.wYear, st.wMonth, st.wDay, &days);
  const int64_t ms =
      (static_cast<int64_t>(st.wHour) * 3600 + st.wMinute * 60 + st.wSecond) * 1000 +
      st.wMilliseconds;
  return static_cast<double>(days) + static_cast<double>(ms) / 86400000.0;
}

}  // namespace platform::detail
