#pragma once
// Measures how long a piece of work took, on the high-resolution counter
// where there is one, else on the date-time clock.
#include <cstdint>

class TIntervalMeter {
 public:
  TIntervalMeter();

  uint64_t Start = 0;         // counter value at Reset
  double StartTime = 0;       // date-time at Reset
  uint64_t Frequency = 1000;  // counts per second
  bool HasCounter = false;

  void Reset();
  uint64_t ElapsedMs() const;
};
