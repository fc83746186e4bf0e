#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "host_abi.h"
#include "host_os.h"

namespace hostos {

std::string LibraryPath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  std::string exe(path, n > 0 ? static_cast<size_t>(n) : 0);
  return exe.substr(0, exe.rfind('/') + 1) + "libdlt645.so";
}

void* LoadLibraryFile(const std::string& path, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library && error) *error = dlerror();
  return library;
}

void FreeLibraryFile(void* library) {
  dlclose(library);
}

void* FindExport(void* library, const char* name) {
  return dlsym(library, name);
}

int64_t OwnModuleHandle() {
  void* self = dlopen(nullptr, RTLD_NOW);
  // The program stays loaded: the handle needs no reference of its own.
  dlclose(self);
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(self));
}

// The system's BSTR: a 4-byte byte length, the text and a zero, from malloc.
char16_t* AllocBstr(const char16_t* text, uint32_t length) {
  auto* block = static_cast<char*>(std::malloc(4 + length * 2 + 2));
  const uint32_t bytes = length * 2;
  std::memcpy(block, &bytes, 4);
  auto* out = reinterpret_cast<char16_t*>(block + 4);
  if (text) std::memcpy(out, text, bytes);
  out[length] = 0;
  return out;
}

void FreeBstr(char16_t* text) {
  if (text) std::free(reinterpret_cast<char*>(text) - 4);
}

uint32_t BstrLength(const char16_t* text) {
  if (!text) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
  return bytes / 2;
}

}  // namespace hostos

extern "C" HOST_EXPORT int32_t Telvano_SendDataEx(uint32_t host_module_id, uint32_t data_source_no,
                                                  uintptr_t client_id, uintptr_t reserved,
                                                  uint32_t kind, const void* data, uint32_t size) {
  return HostSendDataEx(host_module_id, data_source_no, client_id, reserved, kind, data, size);
}

// The library's clock is the host's.
extern "C" HOST_EXPORT uint64_t dlt645_host_tick64() {
  return HostTick64();
}
extern "C" HOST_EXPORT double dlt645_host_local_now() {
  return HostLocalNow();
}
