#pragma once
// How parameter lists cross the ABI edge: told apart from interface
// variables, read through their interface, handed to the host and taken from
// it.
#include <string_view>

#include "paramlist/intf_ptr.h"
#include "paramlist/list_object_probe.h"
#include "paramlist/ole_variant.h"
#include "paramlist/params_list.h"
#include "paramlist/params_list_intf.h"
#include "paramlist/params_list_wrap.h"

// A counted copy of the interface held in the variable at `variable` (the
// Data of a kind-9 descriptor, or a Params pointer that is not a list
// object); empty when there is none or the variable cannot be read.
IntfPtr<IqonParamsListA> ReceiveListIntf(const void* variable) noexcept;

// The list interface behind a Params pointer or the Data of a kind-1/8
// descriptor: a list object gets a borrowing wrap of its own (wrapped :=
// true), anything else is read as an interface variable.
IntfPtr<IqonParamsListA> ListIntfFromPointer(void* p, bool* wrapped = nullptr);

// A named value read over the whole list (GetValue from 0 to -1). Absent,
// empty and null values, a missing list and a failing call all count as
// absent: false, and *value is left empty.
bool TryReadIntfValue(IqonParamsListA* list, std::string_view name, OleVariant* value);
// Empty when absent.
OleVariant ReadIntfValue(IqonParamsListA* list, std::string_view name);

// A list handed to the host for the length of one call: a borrowing wrap,
// handed out; freed when this goes (a reference the host kept is reported
// and then served an empty list).
class ListForHost {
 public:
  explicit ListForHost(TqonParamsList& list)
      : wrap_(TqonParamsListWrap::Create(&list, true)), ref_(wrap_->GetIntfRef()) {}

  // The Data of a kind-9 descriptor: a pointer to an interface variable.
  IqonParamsListA** IntfRef() const noexcept { return ref_; }
  IqonParamsListA* Intf() const noexcept { return *ref_; }
  TqonParamsListWrap& Wrap() const noexcept { return *wrap_; }

 private:
  TqonParamsListWrapPtr wrap_;
  IqonParamsListA** ref_;
};
