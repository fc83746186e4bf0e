#include <windows.h>

#include "platform/environment.h"

namespace platform {

bool GetEnvironmentValue(const std::string& name, std::string* value) {
  const DWORD n = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (n == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    value->clear();
    return true;
  }
  std::string buf(n, '\0');
  const DWORD got = GetEnvironmentVariableA(name.c_str(), buf.data(), n);
  if (got >= n) return false;
  buf.resize(got);
  *value = buf;
  return true;
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0;
}

bool RemoveEnvironmentValue(const std::string& name) {
  return SetEnvironmentVariableA(name.c_str(), nullptr) != 0;
}

void SetThreadLocaleId(uint32_t lcid) {
  SetThreadLocale(static_cast<LCID>(lcid));
}

}  // namespace platform
