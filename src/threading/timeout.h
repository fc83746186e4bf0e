#pragma once
// The time-out record: every idle, poll, interval, answer and wake-up timer of
// the library is one. A plain value: copy it, clear it to all zero.
#include <cstdint>

struct TqonTimeout {
  uint64_t Start = 0;  // 0 = not started
  uint64_t Deadline = 0;
  uint64_t LastTick = 0;  // last tick read; its high half counts 32-bit wraps
  uint32_t Timeout = 0;
  bool Armed = false;

  // The 64-bit millisecond tick. Where the system has only the 32-bit tick,
  // each record widens it: a reading below the last one adds 2^32.
  uint64_t Now();

  void Clear() { *this = TqonTimeout(); }
  bool IsClear() const { return Start == 0; }
  void StartOpen();
  void StartWith(uint32_t ms);
  void Restart();
  void SetTimeout(uint32_t ms);
  // Moves the start by ms (negative: into the past); cleared when it would
  // fall before the tick's zero.
  void ShiftStart(int64_t ms);
  // Clear: true. Unarmed: whether ms have passed since Start. Armed: whether
  // the deadline has passed.
  bool Elapsed(uint32_t ms);
  bool ElapsedNow();
  // Milliseconds since Start (0 when clear).
  uint64_t Age();
};
