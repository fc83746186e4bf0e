#pragma once
// The objects whose calls the current thread is inside, innermost last.
// The per-thread storage is a plain array: thread-local objects with
// destructors are unsafe in a library that a host may unload before its
// threads end (and some runtimes mishandle them altogether).
#include <cstddef>

template <class Tag>
class TThreadMarks {
 public:
  static void Add(const void* object) {
    State& s = Current();
    if (s.count < kSlots) s.slots[s.count] = object;
    ++s.count;
  }

  // Removes the innermost mark of the object (a moved guard may end out of order).
  static void Remove(const void* object) {
    State& s = Current();
    if (s.count == 0) return;
    if (s.count > kSlots) {  // deeper than the array: the mark was never stored
      --s.count;
      return;
    }
    for (size_t i = s.count; i-- > 0;) {
      if (s.slots[i] != object) continue;
      for (size_t k = i + 1; k < s.count; ++k)
        s.slots[k - 1] = s.slots[k];
      --s.count;
      return;
    }
  }

  static bool Contains(const void* object) {
    const State& s = Current();
    const size_t stored = s.count < kSlots ? s.count : kSlots;
    for (size_t i = 0; i < stored; ++i)
      if (s.slots[i] == object) return true;
    return false;
  }

 private:
  static constexpr size_t kSlots = 64;
  struct State {
    const void* slots[kSlots];
    size_t count;
  };
  static State& Current() {
    thread_local State state{};
    return state;
  }
};
