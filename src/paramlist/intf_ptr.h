#pragma once
// A counted interface reference (AddRef on copy, Release on destruction) for
// any interface with the three reference-counting slots first.
#include <utility>

#include "paramlist/params_list_intf.h"

template <class T>
class IntfPtr {
 public:
  IntfPtr() noexcept = default;
  // Takes a new reference to p.
  QON_FOREIGN_CALLS explicit IntfPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  // Takes over a reference the caller already counted (an out-argument).
  static IntfPtr Adopt(T* p) noexcept {
    IntfPtr r;
    r.p_ = p;
    return r;
  }
  IntfPtr(const IntfPtr& o) noexcept : IntfPtr(o.p_) {}
  IntfPtr(IntfPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  IntfPtr& operator=(IntfPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~IntfPtr() { Reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  QON_FOREIGN_CALLS void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Releases what is held and answers the slot for an out-argument.
  T** Receive() noexcept {
    Reset();
    return &p_;
  }
  // The variable holding the reference: what a kind-9 descriptor or a Params
  // pointer carries.
  T* const* Address() const noexcept { return &p_; }
  // Hands the counted reference to the caller.
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};
