#include <windows.h>
// shellapi.h after windows.h
#include <shellapi.h>

#include "platform/module.h"
#include "platform/strings.h"

namespace platform {
namespace {

std::string FileNameOf(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return WideToAnsi(WStringView(path.data(), path.size()));
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

ModuleHandle FindLoadedModule(const std::string& name) {
  if (name.empty()) return 0;
  const WString wide = AnsiToWide(name);
  return reinterpret_cast<ModuleHandle>(GetModuleHandleW(wide.c_str()));
}

void* FindProcedure(ModuleHandle module, const char* name) {
  if (!module || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

std::string ModuleFileName(const void* address_in_module) {
  const void* address =
      address_in_module ? address_in_module : reinterpret_cast<const void*>(&ModuleFileName);
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module))
    return std::string();
  return FileNameOf(module);
}

std::string ProgramFileName() {
  return FileNameOf(nullptr);
}

std::vector<std::string> ProgramArguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return args;
  for (int i = 1; i < count; ++i)
    args.push_back(WideToAnsi(argv[i]));
  LocalFree(argv);
  return args;
}

}  // namespace platform
