#include <dlfcn.h>

#include "host_platform.h"
#include "platform/strings.h"

namespace host {

uintptr_t OpenLibrary(const std::string& path, std::string* error) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    *error = e ? e : "dlopen failed";
    return 0;
  }
  return reinterpret_cast<uintptr_t>(h);
}

void CloseLibrary(uintptr_t library) {
  if (library) dlclose(reinterpret_cast<void*>(library));
}

void* LibrarySymbol(uintptr_t library, const char* name) {
  return library ? dlsym(reinterpret_cast<void*>(library), name) : nullptr;
}

const char* DefaultLibraryFile() {
  return "libdlt645.so";
}

uintptr_t OwnProgramHandle() {
  // Kept for the whole run: the reference is what makes the handle valid.
  static void* const self = dlopen(nullptr, RTLD_NOW);
  return reinterpret_cast<uintptr_t>(self);
}

bool UsesWindowMessages() {
  return false;
}
int DispatchWindowMessages() {
  return 0;
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

}  // namespace host
