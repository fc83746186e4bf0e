#include <windows.h>

#include "platform/thread.h"

namespace platform {

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
void SleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace platform
