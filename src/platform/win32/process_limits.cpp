#include "platform/process_limits.h"

#include <winsock2.h>

namespace platform {

// Sockets are kernel handles without a per-process count limit.
OpenFileLimit RaiseOpenFileLimit(uint64_t wanted) {
  OpenFileLimit result;
  result.current = wanted;
  result.hard = wanted;
  result.limited = false;
  return result;
}

bool IsOutOfDescriptors(int error_value) {
  return error_value == WSAEMFILE || error_value == WSAENOBUFS;
}

}  // namespace platform
