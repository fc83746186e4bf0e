#include <cstdlib>

#include "platform/environment.h"

namespace platform {

bool GetEnvironmentValue(const std::string& name, std::string* value) {
  const char* v = std::getenv(name.c_str());
  if (!v) return false;
  *value = v;
  return true;
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool RemoveEnvironmentValue(const std::string& name) {
  return unsetenv(name.c_str()) == 0;
}

void SetThreadLocaleId(uint32_t) {}

}  // namespace platform
