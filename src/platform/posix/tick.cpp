#include <dlfcn.h>
#include <time.h>

#include <algorithm>
#include <atomic>
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
  // The local offset changes at most at a minute's edge (zones and daylight
  // saving move by whole minutes): ask the time-zone rules once a minute.
  // The cache packs the minute and the offset into one word.
  static std::atomic<int64_t> cache{-1};
  const int64_t minute = static_cast<int64_t>(ts.tv_sec) / 60;
  int64_t packed = cache.load(std::memory_order_relaxed);
  int64_t offset;
  if (packed >= 0 && (packed >> 20) == minute) {
    offset = (packed & 0xFFFFF) - (1 << 19);
  } else {
    tm local{};
    const time_t secs = ts.tv_sec;
    localtime_r(&secs, &local);
    offset = local.tm_gmtoff;
    if (offset > -(1 << 19) && offset < (1 << 19))
      cache.store((minute << 20) | (offset + (1 << 19)), std::memory_order_relaxed);
  }
  const int64_t local_ms =
      (static_cast<int64_t>(ts.tv_sec) + offset) * 1000 + ts.tv_nsec / 1000000;
  return static_cast<double>(local_ms) / 86400000.0 + 25569.0;
}

}  // namespace platform::detail
