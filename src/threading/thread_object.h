#pragma once
// One object guarded by a multi-reader/single-writer lock, and the scoped
// guards that hold its locks:
//
//   auto r = list.ReadLocked();   // r-> / *r: the guarded object, read-only
//   auto w = list.WriteLocked();  // w-> / *w: the guarded object; w.Undisturbed()
//
// A guard releases its lock when it goes out of scope (or at Unlock()).
#include <atomic>
#include <memory>
#include <mutex>

#include "threading/multi_read_exclusive_write_synchronizer.h"

// Holds a read lock of Owner (anything with UnlockRead()).
template <class Owner, class G>
class TReadLocked {
 public:
  TReadLocked(Owner& owner, const G* guarded) : owner_(&owner), guarded_(guarded) {}
  TReadLocked(TReadLocked&& other) noexcept : owner_(other.owner_), guarded_(other.guarded_) {
    other.owner_ = nullptr;
  }
  TReadLocked(const TReadLocked&) = delete;
  TReadLocked& operator=(const TReadLocked&) = delete;
  TReadLocked& operator=(TReadLocked&&) = delete;
  ~TReadLocked() { Unlock(); }

  void Unlock() {
    if (owner_) owner_->UnlockRead();
    owner_ = nullptr;
  }
  const G* get() const { return guarded_; }
  const G* operator->() const { return guarded_; }
  const G& operator*() const { return *guarded_; }

 private:
  Owner* owner_;
  const G* guarded_;
};

// Holds the write lock of Owner (anything with UnlockWrite()).
template <class Owner, class G>
class TWriteLocked {
 public:
  TWriteLocked(Owner& owner, G* guarded, bool undisturbed)
      : owner_(&owner), guarded_(guarded), undisturbed_(undisturbed) {}
  TWriteLocked(TWriteLocked&& other) noexcept
      : owner_(other.owner_), guarded_(other.guarded_), undisturbed_(other.undisturbed_) {
    other.owner_ = nullptr;
  }
  TWriteLocked(const TWriteLocked&) = delete;
  TWriteLocked& operator=(const TWriteLocked&) = delete;
  TWriteLocked& operator=(TWriteLocked&&) = delete;
  ~TWriteLocked() { Unlock(); }

  void Unlock() {
    if (owner_) owner_->UnlockWrite();
    owner_ = nullptr;
  }
  G* get() const { return guarded_; }
  G* operator->() const { return guarded_; }
  G& operator*() const { return *guarded_; }
  // False when this lock was a promotion from a read lock and another writer
  // ran meanwhile: what was read before must be read again.
  bool Undisturbed() const { return undisturbed_; }

 private:
  Owner* owner_;
  G* guarded_;
  bool undisturbed_;
};

class TThreadObject {
 public:
  // guarded: the object the lock protects; this object itself when null.
  explicit TThreadObject(void* guarded = nullptr) : Guarded(guarded ? guarded : this) {}
  virtual ~TThreadObject();
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;

  void* LockRead();
  void UnlockRead();
  void* LockWrite();
  void UnlockWrite();
  void Unlock() { UnlockWrite(); }
  // LockWrite that also tells whether a promotion was undisturbed (see
  // TMultiReadExclusiveWriteSynchronizer::BeginWrite).
  void* LockWrite(bool* undisturbed);

 protected:
  void* Guarded;

 private:
  TMultiReadExclusiveWriteSynchronizer* GetLock();

  // Created on the first locking call; the unlocks never create it.
  std::mutex CreateLock;
  std::atomic<TMultiReadExclusiveWriteSynchronizer*> lock_{nullptr};
  std::unique_ptr<TMultiReadExclusiveWriteSynchronizer> Lock;
};

// A TThreadObject whose guarded object has the type G: typed locks and guards.
template <class G>
class TThreadGuarded : public TThreadObject {
 public:
  using Guard = G;
  using ReadGuard = TReadLocked<TThreadObject, G>;
  using WriteGuard = TWriteLocked<TThreadObject, G>;

  G* LockRead() { return static_cast<G*>(TThreadObject::LockRead()); }
  G* LockWrite() { return static_cast<G*>(TThreadObject::LockWrite()); }
  G* LockWrite(bool* undisturbed) { return static_cast<G*>(TThreadObject::LockWrite(undisturbed)); }

  [[nodiscard]] ReadGuard ReadLocked() {
    G* g = LockRead();
    return ReadGuard(*this, g);
  }
  [[nodiscard]] WriteGuard WriteLocked() {
    bool undisturbed = true;
    G* g = LockWrite(&undisturbed);
    return WriteGuard(*this, g, undisturbed);
  }

 protected:
  explicit TThreadGuarded(G* guarded) : TThreadObject(guarded) {}
};
