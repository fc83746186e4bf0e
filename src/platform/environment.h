#pragma once
// Process environment and the thread's locale.
#include <cstdint>
#include <string>

namespace platform {

// False when the variable is not set.
bool GetEnvironmentValue(const std::string& name, std::string* value);
// Sets the variable for this process and the programs it starts.
bool SetEnvironmentValue(const std::string& name, const std::string& value);
bool RemoveEnvironmentValue(const std::string& name);

// SetThreadLocale on Windows; nothing elsewhere (no per-thread locale there).
void SetThreadLocaleId(uint32_t lcid);

}  // namespace platform
