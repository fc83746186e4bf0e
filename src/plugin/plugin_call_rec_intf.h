#pragma once
// The call copy: what an export keeps of the host's call record while it
// serves the call. On entry the parameter list and list descriptors are
// turned into interface variables held here (lists passed as objects get a
// borrowing wrap); on exit the record gets back what the host passed, except
// what the call deliberately left in it.
#include <cstdint>
#include <string_view>

#include "paramlist/intf_ptr.h"
#include "paramlist/ole_variant.h"
#include "paramlist/params_list_intf.h"
#include "paramlist/plugin_records.h"

// Set in Flags while a call is served with Params holding a list interface.
constexpr uint8_t kFlagParamsIntf = 0x40;

class TPluginCallRecIntf {
 public:
  TPluginCallRecIntf() = default;
  // Prepares at once (rec may be null).
  explicit TPluginCallRecIntf(TPluginCallRec* rec) { Prepare(rec); }
  ~TPluginCallRecIntf() { Restore(); }
  TPluginCallRecIntf(const TPluginCallRecIntf&) = delete;
  TPluginCallRecIntf& operator=(const TPluginCallRecIntf&) = delete;

  void Prepare(TPluginCallRec* rec);
  // Idempotent; also runs at destruction.
  void Restore() noexcept;

  bool Active() const noexcept { return rec_ != nullptr; }
  // The record as the host passed it.
  const TPluginCallRec& Copy() const noexcept { return copy_; }
  // The parameter list, or null without one.
  IqonParamsListA* Params() const noexcept { return params_.get(); }
  // A named value of the parameter list; false when absent, empty or null.
  bool ReadValue(std::string_view name, OleVariant* value) const;
  OleVariant Value(std::string_view name) const;
  // The list interface a descriptor held on entry (kinds 1 and 8 wrapped,
  // kind 9 read from its variable); null when it held none.
  IqonParamsListA* InputList() const noexcept { return input_.get(); }
  IqonParamsListA* OutputList() const noexcept { return output_.get(); }

 private:
  struct SavedDesc {
    bool wrapped = false;
    uint8_t kind = 0;
    uintptr_t data = 0;
  };
  void PrepareDesc(TPluginDataDesc& desc, IntfPtr<IqonParamsListA>& slot, SavedDesc& saved);
  void RestoreDesc(TPluginDataDesc& desc) noexcept;

  TPluginCallRec* rec_ = nullptr;
  TPluginCallRec copy_{};
  IntfPtr<IqonParamsListA> params_;
  bool params_wrapped_ = false;
  IntfPtr<IqonParamsListA> input_slot_;
  IntfPtr<IqonParamsListA> output_slot_;
  SavedDesc input_saved_;
  SavedDesc output_saved_;
  // The lists as seen on entry, whatever their kind was.
  IntfPtr<IqonParamsListA> input_;
  IntfPtr<IqonParamsListA> output_;
};

// The list interface a descriptor holds now: kinds 1 and 8 (list objects)
// wrapped, kind 9 read from its variable; empty otherwise.
IntfPtr<IqonParamsListA> DescriptorList(const TPluginDataDesc& desc);
