#include <dlfcn.h>

#include "platform/library.h"

namespace platform {

ModuleHandle LoadLibraryFile(const std::string& path, std::string* error) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    if (error) *error = e ? e : "dlopen failed";
    return 0;
  }
  return reinterpret_cast<ModuleHandle>(h);
}

void FreeLibraryFile(ModuleHandle library) {
  if (library) dlclose(reinterpret_cast<void*>(library));
}

}  // namespace platform
