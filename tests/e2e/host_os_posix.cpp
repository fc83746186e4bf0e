#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "host_os.h"

namespace hostos {

std::string LibraryPath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  std::string exe(path, n > 0 ? static_cast<size_t>(n) : 0);
  return exe.substr(0, exe.rfind('/') + 1) + "libdlt645.so";
}

int64_t OwnModuleHandle() {
  void* self = dlopen(nullptr, RTLD_NOW);
  // The program stays loaded: the handle needs no reference of its own.
  dlclose(self);
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(self));
}

void PumpWindowMessages(uint32_t) {}

bool LibraryLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

int ThreadCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++n;
  return n;
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0, resident = 0;
  if (!(statm >> pages >> resident)) return 0;
  return resident * sysconf(_SC_PAGESIZE);
}

double LocalDateTime() {
  return HostLocalNow();
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
