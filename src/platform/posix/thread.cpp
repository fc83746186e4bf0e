#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/thread.h"

namespace platform {

uint32_t CurrentThreadId() {
  static thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace platform
