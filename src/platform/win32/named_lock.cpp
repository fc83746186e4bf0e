#include <windows.h>

#include "platform/named_lock.h"

namespace platform {

struct NamedLock::Impl {
  std::string name;
  HANDLE mutex = nullptr;
};

NamedLock::NamedLock(const std::string& name) : impl_(std::make_unique<Impl>()) {
  impl_->name = "dlt645-" + detail::LockObjectName(name);
}

NamedLock::~NamedLock() {
  if (locked_) Unlock();
  if (impl_->mutex) CloseHandle(impl_->mutex);
}

bool NamedLock::Lock() {
  if (locked_) return true;
  if (!impl_->mutex) {
    impl_->mutex = CreateMutexA(nullptr, FALSE, impl_->name.c_str());
    if (!impl_->mutex) return false;
  }
  // An abandoned mutex (its holder died) is ours now, like a released one.
  const DWORD r = WaitForSingleObject(impl_->mutex, INFINITE);
  if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return false;
  locked_ = true;
  return true;
}

void NamedLock::Unlock() {
  if (!locked_) return;
  ReleaseMutex(impl_->mutex);
  locked_ = false;
}

}  // namespace platform
