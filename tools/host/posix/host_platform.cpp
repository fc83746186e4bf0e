#include "host_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include "config/store/wreg.h"
#include "platform/environment.h"
#include "platform/named_lock.h"
#include "platform/strings.h"

namespace host {

const char* DefaultLibraryFile() {
  return "libdlt645.so";
}

bool UsesWindowMessages() {
  return false;
}

std::string WideToBytes(const platform::WChar* text, uint32_t length) {
  if (!text) return {};
  // The plug-in turned bytes into UTF-16 as UTF-8 when they were valid
  // UTF-8, else byte for byte. A frame is never valid UTF-8 (its control
  // code follows an ASCII 0x68), so prefer the byte-for-byte reading.
  std::string latin1;
  bool narrow = true;
  for (uint32_t i = 0; i < length && narrow; ++i) {
    if (text[i] > 0xFF) narrow = false;
    latin1.push_back(static_cast<char>(text[i]));
  }
  if (narrow && !platform::IsValidUtf8(latin1)) return latin1;
  return platform::WideToUtf8(platform::WStringView(text, length));
}

std::string SerialDevicePath(const std::string& device) {
  return device;
}

bool ReopenAppending(std::FILE* stream, const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::fflush(stream);
  // The stream keeps its descriptor number, now on the new file.
  const bool ok = ::dup2(fd, fileno(stream)) >= 0;
  ::close(fd);
  return ok;
}

void RemoveSettingsLock(const std::string& settings_file) {
  // Where the platform's named lock keeps its file.
  std::string dir;
  struct stat st;
  if (!platform::GetEnvironmentValue("XDG_RUNTIME_DIR", &dir) || dir.empty() ||
      ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    dir = "/tmp";
  const std::string name = platform::detail::LockObjectName(WregLockName(settings_file));
  ::unlink((dir + "/dlt645-" + name + ".lock").c_str());
}

}  // namespace host
