#pragma once
// Per-process resource limits that tools holding many connections run into.
#include <cstdint>

namespace platform {

struct OpenFileLimit {
  uint64_t current = 0;  // the limit in force after the attempt
  uint64_t hard = 0;     // the most the process could ask for
  bool limited = true;   // false where open files are not limited per process
};

// Raises the process's limit of open files (descriptors, sockets) to at least
// `wanted` where the system allows; never lowers it.
OpenFileLimit RaiseOpenFileLimit(uint64_t wanted);

// Whether an error code of the standard library's system category means that
// the process or the system has no descriptors left.
bool IsOutOfDescriptors(int error_value);

}  // namespace platform
