#pragma once
// A TqonPtrUIntObjectHashList guarded by a multi-reader/single-writer lock.
//
//   TThreadPtrUIntObjectHashList<TClient> clients;
//   auto r = clients.ReadLocked();
//   TClient* c = r->Find(id);
//   if (!c) {
//     auto w = clients.WriteLocked();            // promotion of the read lock
//     if (!w.Undisturbed()) c = w->Find(id);     // another writer ran: look again
//     if (!c) c = w->Add(id, std::make_unique<TClient>());
//   }
#include "base/ptr_uint_object_hash_list.h"
#include "threading/thread_object.h"

template <class T>
class TThreadPtrUIntObjectHashList : public TThreadGuarded<TqonPtrUIntObjectHashList<T>> {
 public:
  TThreadPtrUIntObjectHashList() : TThreadGuarded<TqonPtrUIntObjectHashList<T>>(&Map) {}
  // Frees the objects under the write lock.
  ~TThreadPtrUIntObjectHashList() override {
    this->LockWrite();
    Map.Clear();
    this->UnlockWrite();
  }

  int Count() {
    auto r = this->ReadLocked();
    return r->Count();
  }

 protected:
  TqonPtrUIntObjectHashList<T> Map;
};
