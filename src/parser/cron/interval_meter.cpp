#include "parser/cron/interval_meter.h"

#include <chrono>

#include "platform/datetime.h"
#include "platform/tick.h"

namespace {

using Counter = std::chrono::steady_clock;

uint64_t CounterNow() {
  return static_cast<uint64_t>(Counter::now().time_since_epoch().count());
}

}  // namespace

TIntervalMeter::TIntervalMeter() {
  // Under a virtual clock the date-time clock is the one that moves with the
  // tests, so the counter is left aside.
  constexpr uint64_t frequency =
      static_cast<uint64_t>(Counter::period::den) / static_cast<uint64_t>(Counter::period::num);
  HasCounter = Counter::is_steady && frequency != 0 && !platform::VirtualClock::Active();
  if (HasCounter) Frequency = frequency;
  Reset();
}

void TIntervalMeter::Reset() {
  if (HasCounter)
    Start = CounterNow();
  else
    StartTime = platform::LocalNow();
}

uint64_t TIntervalMeter::ElapsedMs() const {
  if (HasCounter) {
    const uint64_t counts = CounterNow() - Start;
    // Split to keep counts * 1000 from overflowing on fast counters.
    return counts / Frequency * 1000 + counts % Frequency * 1000 / Frequency;
  }
  const int64_t ms =
      platform::DateTimeToMs(platform::LocalNow()) - platform::DateTimeToMs(StartTime);
  return ms > 0 ? static_cast<uint64_t>(ms) : 0;
}
