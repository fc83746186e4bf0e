#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/files.h"

namespace platform {

char PathDelimiter() {
  return '/';
}
bool IsPathDelimiter(char c) {
  return c == '/';
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadWholeFile(const std::string& path, std::string* bytes, size_t max_size) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string out;
  char buf[16384];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > max_size) {
      ok = false;
      break;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (ok) bytes->swap(out);
  return ok;
}

bool ReplaceFileContent(const std::string& path, std::string_view bytes) {
  std::string tmp = path + ".XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  // Keep the mode of the file being replaced; a new file gets the usual one.
  struct stat st;
  const mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  if (ok) ok = fchmod(fd, mode) == 0 && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (ok) ok = rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

bool RemoveFile(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  std::string folder = (t && *t) ? t : "/tmp";
  return IncludeTrailingDelimiter(folder);
}

}  // namespace platform
