#include <windows.h>
// oleauto.h after windows.h
#include <oleauto.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>

#include "host_os.h"

namespace hostos {

std::string LibraryPath() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string exe(path, n);
  return exe.substr(0, exe.find_last_of("\\/") + 1) + "dlt645.dll";
}

int64_t OwnModuleHandle() {
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
}

void PumpWindowMessages(uint32_t ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}

bool LibraryLoaded(const std::string& path) {
  return GetModuleHandleA(path.c_str()) != nullptr;
}

int ThreadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  const DWORD self = GetCurrentProcessId();
  int n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == self) ++n;
  CloseHandle(snapshot);
  return n;
}

int64_t ResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<int64_t>(counters.WorkingSetSize);
}

double LocalDateTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  double date_time = 0;
  SystemTimeToVariantTime(&st, &date_time);
  // SystemTimeToVariantTime drops the milliseconds.
  return date_time + st.wMilliseconds / 86400000.0;
}

}  // namespace hostos

extern "C" HOST_EXPORT int32_t HOST_STDCALL Telvano_SendDataEx(uint32_t host_module_id,
                                                               uint32_t data_source_no,
                                                               uintptr_t client_id,
                                                               uintptr_t reserved, uint32_t kind,
                                                               const void* data, uint32_t size) {
  return HostSendDataEx(host_module_id, data_source_no, client_id, reserved, kind, data, size);
}
