#include "platform/debug.h"

#include "platform/detail.h"

namespace platform {

bool SafeReadU32(const void* address, uint32_t* value) {
  uint32_t v = 0;
  if (!detail::SafeRead(address, &v, sizeof(v))) return false;
  if (value) *value = v;
  return true;
}

bool SafeReadPointer(const void* address, uintptr_t* value) {
  uintptr_t v = 0;
  if (!detail::SafeRead(address, &v, sizeof(v))) return false;
  if (value) *value = v;
  return true;
}

bool SafeReadPointers(const void* address, uintptr_t* values, size_t count) {
  return values && count > 0 && detail::SafeRead(address, values, count * sizeof(uintptr_t));
}

}  // namespace platform
