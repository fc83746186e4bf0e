#pragma once
// What each backend (posix/, win32/) supplies to the portable parts of the layer.
#include <cstdint>

namespace platform::detail {

uint64_t SystemTick64();
bool SystemHasTick64();
uint32_t SystemTick32();
double SystemLocalNow();

}  // namespace platform::detail
