#include <windows.h>

#include "platform/resources.h"
#include "platform/strings.h"

namespace platform {

bool LoadModuleResource(std::string_view name, std::string* data) {
  if (name.empty()) return false;
  // The module that holds this code: the DLL, or a test program linked with it.
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&LoadModuleResource), &self)) {
    return false;
  }
  const std::string key = AsciiUpperCase(name);
  HRSRC res = FindResourceA(self, key.c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (res) {
    HGLOBAL mem = LoadResource(self, res);
    const DWORD size = SizeofResource(self, res);
    const void* p = mem ? LockResource(mem) : nullptr;
    if (p) {
      data->assign(static_cast<const char*>(p), size);
      return true;
    }
  }
  return detail::FindEmbeddedResource(key, data);
}

}  // namespace platform
