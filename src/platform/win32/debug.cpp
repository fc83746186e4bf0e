#include <windows.h>

#include <string>

#include "platform/debug.h"
#include "platform/strings.h"

namespace platform {
namespace {

bool SafeRead(const void* address, void* out, size_t size) {
  if (!address) return false;
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), address, out, size, &read) && read == size;
}

}  // namespace

void DebugOutput(std::string_view text) {
  const WString wide = AnsiToWide(text);
  OutputDebugStringW(wide.c_str());
}

bool SafeReadU32(const void* address, uint32_t* value) {
  uint32_t v = 0;
  if (!SafeRead(address, &v, sizeof(v))) return false;
  if (value) *value = v;
  return true;
}

bool SafeReadPointer(const void* address, uintptr_t* value) {
  uintptr_t v = 0;
  if (!SafeRead(address, &v, sizeof(v))) return false;
  if (value) *value = v;
  return true;
}

}  // namespace platform
