#include <windows.h>

#include <string>

#include "platform/debug.h"
#include "platform/detail.h"
#include "platform/strings.h"

namespace platform {
namespace detail {

bool SafeRead(const void* address, void* out, size_t size) {
  if (!address) return false;
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), address, out, size, &read) && read == size;
}

}  // namespace detail

void DebugOutput(std::string_view text) {
  const WString wide = AnsiToWide(text);
  OutputDebugStringW(wide.c_str());
}

}  // namespace platform
