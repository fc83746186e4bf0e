#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/environment.h"
#include "platform/named_lock.h"

namespace platform {

struct NamedLock::Impl {
  std::string path;
  int fd = -1;
};

namespace {

std::string LockFolder() {
  std::string dir;
  struct stat st;
  if (GetEnvironmentValue("XDG_RUNTIME_DIR", &dir) && !dir.empty() && stat(dir.c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    return dir;
  }
  return "/tmp";
}

}  // namespace

NamedLock::NamedLock(const std::string& name) : impl_(std::make_unique<Impl>()) {
  impl_->path = LockFolder() + "/dlt645-" + detail::LockObjectName(name) + ".lock";
}

NamedLock::~NamedLock() {
  if (locked_) Unlock();
  if (impl_->fd >= 0) close(impl_->fd);
}

bool NamedLock::Lock() {
  if (locked_) return true;
  if (impl_->fd < 0) {
    // Every process opens the file itself: flock excludes open files, not processes.
    impl_->fd = open(impl_->path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (impl_->fd < 0) return false;
  }
  while (flock(impl_->fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  locked_ = true;
  return true;
}

void NamedLock::Unlock() {
  if (!locked_) return;
  flock(impl_->fd, LOCK_UN);
  locked_ = false;
}

}  // namespace platform
