#pragma once
// A parameter list shared between threads: use it between Lock and Unlock
// (or through the guards of TThreadGuarded).
#include "paramlist/params_list.h"
#include "threading/thread_object.h"

class TqonThreadParamsList : public TThreadGuarded<TqonParamsList> {
 public:
  TqonThreadParamsList() : TThreadGuarded<TqonParamsList>(&list_) {}

  TqonParamsList* Lock() { return LockWrite(); }
  void Unlock() { UnlockWrite(); }

 private:
  TqonParamsList list_;
};
