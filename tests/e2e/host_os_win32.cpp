#include <windows.h>
// oleauto.h after windows.h
#include <oleauto.h>

#include "host_abi.h"
#include "host_os.h"

namespace hostos {

std::string LibraryPath() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string exe(path, n);
  return exe.substr(0, exe.find_last_of("\\/") + 1) + "dlt645.dll";
}

void* LoadLibraryFile(const std::string& path, std::string* error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (!library && error) *error = "LoadLibrary failed: " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(library);
}

void FreeLibraryFile(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

void* FindExport(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

int64_t OwnModuleHandle() {
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
}

char16_t* AllocBstr(const char16_t* text, uint32_t length) {
  return reinterpret_cast<char16_t*>(
      SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), length));
}

void FreeBstr(char16_t* text) {
  SysFreeString(reinterpret_cast<BSTR>(text));
}

uint32_t BstrLength(const char16_t* text) {
  return SysStringLen(reinterpret_cast<BSTR>(const_cast<char16_t*>(text)));
}

}  // namespace hostos

extern "C" HOST_EXPORT int32_t HOST_STDCALL Telvano_SendDataEx(uint32_t host_module_id,
                                                               uint32_t data_source_no,
                                                               uintptr_t client_id,
                                                               uintptr_t reserved, uint32_t kind,
                                                               const void* data, uint32_t size) {
  return HostSendDataEx(host_module_id, data_source_no, client_id, reserved, kind, data, size);
}
