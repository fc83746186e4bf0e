#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

// OutputDebugString on Windows; stderr on POSIX when DLT645_DEBUG is set.
void DebugOutput(std::string_view text);

// Reads 4 bytes at the address without faulting; false when they are not readable.
bool SafeReadU32(const void* address, uint32_t* value);
// Same for a pointer-sized value.
bool SafeReadPointer(const void* address, uintptr_t* value);
// Same for `count` pointer-sized values in a row, in one read.
bool SafeReadPointers(const void* address, uintptr_t* values, size_t count);

}  // namespace platform
