#pragma once
// A TObjectList guarded by a multi-reader/single-writer lock.
//
//   TThreadObjectList<TItem> list;            // owns its items
//   list.Add(std::make_unique<TItem>());      // under the write lock
//   {
//     auto r = list.ReadLocked();
//     for (TItem* item : *r) ...
//   }
#include <memory>

#include "base/object_list.h"
#include "threading/thread_object.h"

template <class T>
class TThreadObjectList : public TThreadGuarded<TObjectList<T>> {
 public:
  explicit TThreadObjectList(bool owns_objects = true)
      : TThreadGuarded<TObjectList<T>>(&List), List(owns_objects) {}
  // Frees the objects (when owning) under the write lock.
  ~TThreadObjectList() override {
    this->LockWrite();
    List.Clear();
    this->UnlockWrite();
  }

  TObjectList<T>* LockList() { return this->LockWrite(); }
  void UnlockList() { this->UnlockWrite(); }

  int Add(T* object) {
    auto w = this->WriteLocked();
    return w->Add(object);
  }
  int Add(std::unique_ptr<T> object) {
    auto w = this->WriteLocked();
    return w->Add(std::move(object));
  }
  void Clear() {
    auto w = this->WriteLocked();
    w->Clear();
  }
  int Count() {
    auto r = this->ReadLocked();
    return r->Count();
  }

 protected:
  TObjectList<T> List;
};
