#include "platform/process_limits.h"

#include <errno.h>
#include <sys/resource.h>

#include <algorithm>

namespace platform {

OpenFileLimit RaiseOpenFileLimit(uint64_t wanted) {
  OpenFileLimit result;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return result;
  if (limit.rlim_cur == RLIM_INFINITY) {
    result.limited = false;
    return result;
  }
  if (limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur =
        limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
    if (raised.rlim_max != RLIM_INFINITY && raised.rlim_max < wanted) {
      // A privileged process may raise the hard limit too.
      rlimit both{static_cast<rlim_t>(wanted), static_cast<rlim_t>(wanted)};
      if (setrlimit(RLIMIT_NOFILE, &both) == 0) raised = both;
    }
    setrlimit(RLIMIT_NOFILE, &raised);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  result.current = limit.rlim_cur;
  result.hard = limit.rlim_max;
  return result;
}

bool IsOutOfDescriptors(int error_value) {
  return error_value == EMFILE || error_value == ENFILE;
}

}  // namespace platform
