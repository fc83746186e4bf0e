#pragma once
// What each backend (posix/, win32/) supplies to the portable parts of the layer.
#include <cstddef>
#include <cstdint>

namespace platform::detail {

uint64_t SystemTick64();
bool SystemHasTick64();
uint32_t SystemTick32();
double SystemLocalNow();
// Copies size bytes from address without faulting; false when they are not readable.
bool SafeRead(const void* address, void* out, size_t size);

}  // namespace platform::detail
