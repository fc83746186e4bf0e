#include <windows.h>

#include <cstdio>

#include "platform/files.h"

namespace platform {

char PathDelimiter() {
  return '\\';
}
bool IsPathDelimiter(char c) {
  return c == '\\' || c == '/';
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, size_t max_size) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::string out;
  char buf[16384];
  bool ok = true;
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
      ok = false;
      break;
    }
    if (n == 0) break;
    if (out.size() + n > max_size) {
      ok = false;
      break;
    }
    out.append(buf, n);
  }
  CloseHandle(h);
  if (ok) bytes->swap(out);
  return ok;
}

bool ReplaceFileContent(const std::string& path, std::string_view bytes) {
  char tmp[32];
  std::snprintf(tmp, sizeof tmp, ".%lu.%lu.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned long>(GetCurrentThreadId()));
  const std::string tmp_path = path + tmp;
  HANDLE h = CreateFileA(tmp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    DWORD n = 0;
    const DWORD chunk =
        static_cast<DWORD>(bytes.size() - done > (1u << 30) ? (1u << 30) : bytes.size() - done);
    if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr) || n == 0) ok = false;
    done += n;
  }
  if (ok) ok = FlushFileBuffers(h) != 0;
  CloseHandle(h);
  if (ok) {
    ok = MoveFileExA(tmp_path.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (!ok) DeleteFileA(tmp_path.c_str());
  return ok;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

std::string TempFolder() {
  char buf[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof buf, buf);
  if (n == 0 || n > MAX_PATH) return ".\\";
  return IncludeTrailingDelimiter(std::string(buf, n));
}

}  // namespace platform
