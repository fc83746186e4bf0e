#pragma once
// A lock shared by every process of the session under one name: a named mutex
// on Windows, flock on a lock file in the runtime folder on POSIX. Two
// NamedLock objects of one name held by different threads of one process
// exclude each other as well.
#include <memory>
#include <string>

namespace platform {

class NamedLock {
 public:
  // The name may hold any bytes; it is mapped to a valid object name.
  explicit NamedLock(const std::string& name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // Blocks until the lock is held; false when the lock object could not be made.
  bool Lock();
  void Unlock();
  bool Locked() const { return locked_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool locked_ = false;
};

// Holds a NamedLock for a scope.
class NamedLockGuard {
 public:
  explicit NamedLockGuard(NamedLock& lock) : lock_(lock), held_(lock.Lock()) {}
  ~NamedLockGuard() {
    if (held_) lock_.Unlock();
  }
  NamedLockGuard(const NamedLockGuard&) = delete;
  NamedLockGuard& operator=(const NamedLockGuard&) = delete;
  bool Held() const { return held_; }

 private:
  NamedLock& lock_;
  bool held_;
};

namespace detail {
// Object names stay short and of plain characters: long or odd names are cut
// and made unique again by a hash of the whole name.
std::string LockObjectName(const std::string& name);
}  // namespace detail

}  // namespace platform
