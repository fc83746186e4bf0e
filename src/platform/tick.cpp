#include "platform/tick.h"

#include <atomic>
#include <cmath>
#include <stdexcept>

#include "platform/detail.h"

namespace platform {
namespace {

struct VirtualState {
  std::atomic<uint64_t> tick;
  std::atomic<int64_t> wall_ms_at_zero;  // wall time (ms of the day count) minus tick
  bool only32;
};

std::atomic<VirtualState*> g_virtual{nullptr};

}  // namespace

VirtualClock::VirtualClock(uint64_t tick, double local_now, bool only32) {
  auto* state = new VirtualState{};
  state->tick = tick;
  state->wall_ms_at_zero = static_cast<int64_t>(std::llround(local_now * 86400000.0)) -
                           static_cast<int64_t>(tick);
  state->only32 = only32;
  VirtualState* expected = nullptr;
  if (!g_virtual.compare_exchange_strong(expected, state)) {
    delete state;
    throw std::logic_error("a virtual clock is already active");
  }
}

VirtualClock::~VirtualClock() { delete g_virtual.exchange(nullptr); }

void VirtualClock::Advance(uint64_t ms) { g_virtual.load()->tick += ms; }

void VirtualClock::SetTick(uint64_t ms) {
  VirtualState* s = g_virtual.load();
  const int64_t wall = s->wall_ms_at_zero + static_cast<int64_t>(s->tick.load());
  s->tick = ms;
  s->wall_ms_at_zero = wall - static_cast<int64_t>(ms);
}

uint64_t VirtualClock::Tick() const { return g_virtual.load()->tick; }

void VirtualClock::SetLocalNow(double date_time) {
  VirtualState* s = g_virtual.load();
  s->wall_ms_at_zero = static_cast<int64_t>(std::llround(date_time * 86400000.0)) -
                       static_cast<int64_t>(s->tick.load());
}

double VirtualClock::LocalNow() const { return platform::LocalNow(); }

bool VirtualClock::Active() { return g_virtual.load() != nullptr; }

uint64_t Tick64() {
  if (VirtualState* s = g_virtual.load()) return s->tick;
  return detail::SystemTick64();
}

bool HasTick64() {
  if (VirtualState* s = g_virtual.load()) return !s->only32;
  return detail::SystemHasTick64();
}

uint32_t Tick32() {
  if (VirtualState* s = g_virtual.load()) return static_cast<uint32_t>(s->tick.load());
  return detail::SystemTick32();
}

double LocalNow() {
  if (VirtualState* s = g_virtual.load())
    return static_cast<double>(s->wall_ms_at_zero + static_cast<int64_t>(s->tick.load())) /
           86400000.0;
  return detail::SystemLocalNow();
}

}  // namespace platform
