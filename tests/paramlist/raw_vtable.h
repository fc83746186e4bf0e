#pragma once
// Calls interface slots by position, the way a host written in another
// language does: no C++ class involved, only the table and the convention.
#include <cstdint>

#include "platform/abi.h"

namespace rawcall {

using AnyFn = void (*)();

template <class R, class... A>
R Slot(const void* self, int slot, A... args) {
  const AnyFn* table = *static_cast<const AnyFn* const*>(self);
  using Fn = R(QON_STDCALL*)(const void*, A...);
  return reinterpret_cast<Fn>(table[slot])(self, args...);
}

}  // namespace rawcall
