#include <windows.h>

#include "host_platform.h"
#include "platform/strings.h"

namespace host {

uintptr_t OpenLibrary(const std::string& path, std::string* error) {
  HMODULE h = LoadLibraryA(path.c_str());
  if (!h) {
    char text[512] = {};
    const DWORD code = GetLastError();
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof(text) - 1, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
      message.pop_back();
    *error = message.empty() ? "LoadLibrary failed with error " + std::to_string(code) : message;
    return 0;
  }
  return reinterpret_cast<uintptr_t>(h);
}

void CloseLibrary(uintptr_t library) {
  if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

void* LibrarySymbol(uintptr_t library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

const char* DefaultLibraryFile() {
  return "dlt645.dll";
}

uintptr_t OwnProgramHandle() {
  return reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
}

bool UsesWindowMessages() {
  return true;
}

int DispatchWindowMessages() {
  int n = 0;
  MSG msg;
  while (n < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++n;
  }
  return n;
}

std::string WideToBytes(const platform::WChar* text, uint32_t length) {
  if (!text) return {};
  return platform::WideToAnsi(platform::WStringView(text, length));
}

std::string SerialDevicePath(const std::string& device) {
  if (device.rfind("\\\\", 0) == 0) return device;
  return "\\\\.\\" + device;
}

}  // namespace host
