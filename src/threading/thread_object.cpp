#include "threading/thread_object.h"

TThreadObject::~TThreadObject() = default;

TMultiReadExclusiveWriteSynchronizer* TThreadObject::GetLock() {
  TMultiReadExclusiveWriteSynchronizer* lock = lock_.load(std::memory_order_acquire);
  if (lock) return lock;
  std::lock_guard<std::mutex> guard(CreateLock);
  lock = lock_.load(std::memory_order_relaxed);
  if (!lock) {
    Lock = std::make_unique<TMultiReadExclusiveWriteSynchronizer>();
    lock = Lock.get();
    lock_.store(lock, std::memory_order_release);
  }
  return lock;
}

void* TThreadObject::LockRead() {
  GetLock()->BeginRead();
  return Guarded;
}

void TThreadObject::UnlockRead() {
  if (auto* lock = lock_.load(std::memory_order_acquire)) lock->EndRead();
}

void* TThreadObject::LockWrite() {
  GetLock()->BeginWrite();
  return Guarded;
}

void* TThreadObject::LockWrite(bool* undisturbed) {
  const bool clean = GetLock()->BeginWrite();
  if (undisturbed) *undisturbed = clean;
  return Guarded;
}

void TThreadObject::UnlockWrite() {
  if (auto* lock = lock_.load(std::memory_order_acquire)) lock->EndWrite();
}
