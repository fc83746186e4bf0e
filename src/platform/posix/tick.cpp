#include <dlfcn.h>
#include <time.h>

#include <algorithm>
#include <cmath>

#include "platform/datetime.h"
#include "platform/detail.h"

namespace platform::detail {
namespace {

// A host process may own the clock (its test harness runs on virtual time).
using HostTick = uint64_t (*)();
using HostLocalNow = double (*)();

struct HostClock {
  HostTick tick = nullptr;
  HostLocalNow local_now = nullptr;
  HostClock() {
    tick = reinterpret_cast<HostTick>(dlsym(RTLD_DEFAULT, "dlt645_host_tick64"));
    local_now = reinterpret_cast<HostLocalNow>(dlsym(RTLD_DEFAULT, "dlt645_host_local_now"));
  }
};

const HostClock& Host() {
  static const HostClock host;
  return host;
}

uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace

uint64_t SystemTick64() {
  if (Host().tick) return Host().tick();
  return MonotonicMs();
}

bool SystemHasTick64() { return true; }

uint32_t SystemTick32() { return static_cast<uint32_t>(SystemTick64()); }

double SystemLocalNow() {
  if (Host().local_now) return Host().local_now();
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  const time_t secs = ts.tv_sec;
  localtime_r(&secs, &local);
  int64_t days = 0;
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, &days);
  const int64_t ms = (static_cast<int64_t>(local.tm_hour) * 3600 + local.tm_min * 60 +
                      std::min(local.tm_sec, 59)) * 1000 + ts.tv_nsec / 1000000;
  return static_cast<double>(days) + static_cast<double>(ms) / 86400000.0;
}

}  // namespace platform::detail
