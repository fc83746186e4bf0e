#pragma once
// What each backend (posix/, win32/) supplies to the portable parts of the layer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/variant.h"

namespace platform::detail {

uint64_t SystemTick64();
bool SystemHasTick64();
uint32_t SystemTick32();
double SystemLocalNow();
// A BSTR of ANSI text that holds bytes of 0x80 and above, converted
// straight into the string (no temporary).
BSTR AllocBstrFromNonAscii(std::string_view text);
// Copies size bytes from address without faulting; false when they are not readable.
bool SafeRead(const void* address, void* out, size_t size);

}  // namespace platform::detail
