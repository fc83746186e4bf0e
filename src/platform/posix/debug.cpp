#include <pthread.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/debug.h"
#include "platform/detail.h"

namespace platform {
namespace {

// A pipe through which the kernel reads memory for us: write() answers
// EFAULT where the bytes are not readable. For systems that forbid
// process_vm_readv.
bool PipeRead(const void* address, void* out, size_t size) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  bool ok = write(fds[1], address, size) == static_cast<ssize_t>(size) &&
            read(fds[0], out, size) == static_cast<ssize_t>(size);
  close(fds[0]);
  close(fds[1]);
  return ok;
}

// This process's id, asked of the system once rather than for every read
// (each asking is a system call); a child after fork asks again.
std::atomic<pid_t> g_self{0};

void ForgetSelf() {
  g_self.store(0, std::memory_order_relaxed);
}

pid_t Self() {
  pid_t self = g_self.load(std::memory_order_relaxed);
  if (self != 0) return self;
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(nullptr, nullptr, &ForgetSelf); });
  self = getpid();
  g_self.store(self, std::memory_order_relaxed);
  return self;
}

}  // namespace

namespace detail {

bool SafeRead(const void* address, void* out, size_t size) {
  if (!address) return false;
  iovec local{out, size};
  iovec remote{const_cast<void*>(address), size};
  const ssize_t n = process_vm_readv(Self(), &local, 1, &remote, 1, 0);
  if (n == static_cast<ssize_t>(size)) return true;
  if (n < 0 && (errno == ENOSYS || errno == EPERM)) return PipeRead(address, out, size);
  return false;
}

}  // namespace detail

void DebugOutput(std::string_view text) {
  const char* flag = std::getenv("DLT645_DEBUG");
  if (!flag || !*flag) return;
  std::string line(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace platform
