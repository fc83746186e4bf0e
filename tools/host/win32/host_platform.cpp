#include "host_platform.h"

#include "platform/strings.h"

namespace host {

const char* DefaultLibraryFile() {
  return "dlt645.dll";
}

bool UsesWindowMessages() {
  return true;
}

std::string WideToBytes(const platform::WChar* text, uint32_t length) {
  if (!text) return {};
  return platform::WideToAnsi(platform::WStringView(text, length));
}

std::string SerialDevicePath(const std::string& device) {
  if (device.rfind("\\\\", 0) == 0) return device;
  return "\\\\.\\" + device;
}

bool ReopenAppending(std::FILE* stream, const std::string& path) {
  // No SIGHUP here: nothing asks for this.
  (void)stream;
  (void)path;
  return false;
}

void RemoveSettingsLock(const std::string&) {}

}  // namespace host
