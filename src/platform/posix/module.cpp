#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "platform/module.h"

namespace platform {
namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AbsolutePath(const char* path) {
  char resolved[PATH_MAX];
  if (path && realpath(path, resolved)) return resolved;
  return path ? path : "";
}

std::vector<std::string> CommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

}  // namespace

ModuleHandle FindLoadedModule(const std::string& name) {
  if (name.empty()) return 0;
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) {
    // The program itself is not a library dlopen finds by name; answer it
    // by its file name, as the system does for the executable on Windows.
    const std::string program = ProgramFileName();
    if (name != program && name != BaseName(program)) return 0;
    handle = dlopen(nullptr, RTLD_NOW);
    if (!handle) return 0;
  }
  // The module stays loaded without our reference, as with GetModuleHandle.
  dlclose(handle);
  return reinterpret_cast<ModuleHandle>(handle);
}

void* FindProcedure(ModuleHandle module, const char* name) {
  if (!module || !name) return nullptr;
  return dlsym(reinterpret_cast<void*>(module), name);
}

std::string ModuleFileName(const void* address_in_module) {
  const void* address =
      address_in_module ? address_in_module : reinterpret_cast<const void*>(&ModuleFileName);
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return ProgramFileName();
  return AbsolutePath(info.dli_fname);
}

std::string ProgramFileName() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) {
    const std::vector<std::string> args = CommandLine();
    return args.empty() ? std::string() : AbsolutePath(args[0].c_str());
  }
  return std::string(path, static_cast<size_t>(n));
}

std::vector<std::string> ProgramArguments() {
  std::vector<std::string> args = CommandLine();
  if (!args.empty()) args.erase(args.begin());
  return args;
}

}  // namespace platform
