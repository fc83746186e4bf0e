#include "threading/timeout.h"

#include "platform/tick.h"

uint64_t TqonTimeout::Now() {
  if (platform::HasTick64()) return platform::Tick64();
  const uint32_t reading = platform::Tick32();
  uint64_t high = LastTick >> 32;
  if (reading < static_cast<uint32_t>(LastTick)) ++high;
  LastTick = (high << 32) | reading;
  return LastTick;
}

void TqonTimeout::StartOpen() {
  const uint64_t now = Now();
  Start = now;
  LastTick = now;
  Deadline = 0;
  Armed = false;
}

void TqonTimeout::StartWith(uint32_t ms) {
  const uint64_t now = Now();
  Start = now;
  LastTick = now;
  Timeout = ms;
  Deadline = Start + ms;
  Armed = true;
}

void TqonTimeout::Restart() {
  if (Armed)
    StartWith(Timeout);
  else
    StartOpen();
}

void TqonTimeout::SetTimeout(uint32_t ms) {
  Timeout = ms;
  Deadline = Start + ms;
}

void TqonTimeout::ShiftStart(int64_t ms) {
  const uint64_t now = Now();
  LastTick = now;
  if (ms < 0 && static_cast<uint64_t>(-ms) > now)
    Start = 0;
  else
    Start = now + static_cast<uint64_t>(ms);
  Deadline = 0;
}

bool TqonTimeout::Elapsed(uint32_t ms) {
  if (IsClear()) return true;
  if (!Armed) SetTimeout(ms);
  return Now() >= Deadline;
}

bool TqonTimeout::ElapsedNow() {
  return Now() >= Deadline;
}

uint64_t TqonTimeout::Age() {
  if (IsClear()) return 0;
  const uint64_t now = Now();
  return now > Start ? now - Start : 0;
}
