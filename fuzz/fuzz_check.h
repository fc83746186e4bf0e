// What every fuzz target uses: a check that stops the run with its reason
// (libFuzzer then keeps the input as a finding).
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}
