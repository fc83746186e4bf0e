#include "sim_log.h"

#include <cstdio>

#include "platform/tick.h"

namespace metersim {
namespace {

bool g_verbose = false;

[[gnu::format(printf, 1, 0)]] void Write(const char* format, va_list args) {
  const int64_t ms = static_cast<int64_t>(platform::LocalNow() * 86400000.0 + 0.5) % 86400000;
  std::fprintf(stderr, "%02d:%02d:%02d.%03d ", static_cast<int>(ms / 3600000),
               static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
               static_cast<int>(ms % 1000));
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

}  // namespace

void SetVerbose(bool verbose) {
  g_verbose = verbose;
}
bool Verbose() {
  return g_verbose;
}

void LogLine(const char* format, ...) {
  if (!g_verbose) return;
  va_list args;
  va_start(args, format);
  Write(format, args);
  va_end(args);
}

void LogError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(format, args);
  va_end(args);
}

}  // namespace metersim
