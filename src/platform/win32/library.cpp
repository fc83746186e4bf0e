#include <windows.h>

#include "platform/library.h"

namespace platform {

ModuleHandle LoadLibraryFile(const std::string& path, std::string* error) {
  HMODULE h = LoadLibraryA(path.c_str());
  if (!h) {
    const DWORD code = GetLastError();
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof(text) - 1, nullptr);
    std::string message = text;
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
      message.pop_back();
    if (error)
      *error = message.empty() ? "LoadLibrary failed with error " + std::to_string(code) : message;
    return 0;
  }
  return reinterpret_cast<ModuleHandle>(h);
}

void FreeLibraryFile(ModuleHandle library) {
  if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

}  // namespace platform
