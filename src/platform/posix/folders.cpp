#include "platform/folders.h"
#include "platform/environment.h"

namespace platform {

std::string CommonAppDataFolder() {
  // The per-user XDG data folder: the system-wide ones are not writable by the
  // user a host runs as, and the folder is meant for the module's own files.
  std::string v;
  if (GetEnvironmentValue("XDG_DATA_HOME", &v) && !v.empty() && v[0] == '/') {
    while (v.size() > 1 && v.back() == '/')
      v.pop_back();
    return v;
  }
  if (GetEnvironmentValue("HOME", &v) && !v.empty()) {
    while (v.size() > 1 && v.back() == '/')
      v.pop_back();
    return v + "/.local/share";
  }
  return std::string();
}

}  // namespace platform
