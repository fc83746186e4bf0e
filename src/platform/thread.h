#pragma once
#include <cstdint>

namespace platform {

// Identifier of the calling thread (GetCurrentThreadId / gettid).
uint32_t CurrentThreadId();
// Real sleep; for concurrency tests and back-off only, never to wait for a timer.
void SleepMs(uint32_t ms);

}  // namespace platform
