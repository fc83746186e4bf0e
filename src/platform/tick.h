#pragma once
// The clock of the library. Every timer reads the tick through here, so tests
// can put a virtual clock in its place and run an hour of scheduling in
// milliseconds.
#include <cstdint>

namespace platform {

// Milliseconds of the system's monotonic tick (GetTickCount64 where kernel32
// has it; CLOCK_MONOTONIC on POSIX).
uint64_t Tick64();
// False when only the 32-bit tick exists (old Windows); callers then widen
// Tick32() themselves.
bool HasTick64();
uint32_t Tick32();

// Local wall-clock time as a day count since 30 December 1899 with the time of
// day as the fraction (the host's date-time form).
double LocalNow();

// While an instance lives, Tick64/Tick32/LocalNow read it instead of the
// system. Wall time moves with the tick. Only one may be active at a time.
// On POSIX a host process may also supply the clock by exporting
// `uint64_t dlt645_host_tick64(void)` and `double dlt645_host_local_now(void)`.
class VirtualClock {
 public:
  // only32: HasTick64() answers false, as on a system without the 64-bit tick.
  explicit VirtualClock(uint64_t tick = 1'000'000, double local_now = 45000.5,
                        bool only32 = false);
  ~VirtualClock();
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  void Advance(uint64_t ms);
  void SetTick(uint64_t ms);
  uint64_t Tick() const;
  // Sets the wall time that belongs to the current tick.
  void SetLocalNow(double date_time);
  double LocalNow() const;

  static bool Active();
};

}  // namespace platform
