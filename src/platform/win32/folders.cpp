#include <windows.h>

#include "platform/environment.h"
#include "platform/folders.h"
#include "platform/registry.h"

namespace platform {
namespace {

constexpr int kCsidlCommonAppData = 0x23;

// The shell is loaded per query and released again: a host that never asks
// for the folder never maps it.
bool ShellFolder(std::string* out, bool* shell_failed) {
  *shell_failed = false;
  HMODULE shell = LoadLibraryA("shell32.dll");
  if (!shell) return false;
  using Fn = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHGetSpecialFolderPathA")));
  bool ok = false;
  if (fn) {
    char buf[MAX_PATH + 1] = {};
    ok = fn(nullptr, buf, kCsidlCommonAppData, FALSE) != 0 && buf[0] != 0;
    if (ok)
      *out = buf;
    else
      *shell_failed = true;
  }
  FreeLibrary(shell);
  return ok;
}

}  // namespace

std::string CommonAppDataFolder() {
  std::string folder;
  bool failed = false;
  if (!ShellFolder(&folder, &failed)) {
    folder.clear();
    auto key =
        RegistryKey::Open(RegistryRootKey::LocalMachine,
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                          false, /*read_only=*/true);
    RegValue v;
    if (key && key->ReadValue("Common AppData", &v) && v.type == RegValueType::String)
      folder = v.data;
    if (folder.empty()) GetEnvironmentValue("CommonProgramFiles", &folder);
  }
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
    folder.pop_back();
  return folder;
}

}  // namespace platform
