#include "plugin/plugin_call_rec_intf.h"

#include <cstring>

#include "paramlist/params_edge.h"

IntfPtr<IqonParamsListA> DescriptorList(const TPluginDataDesc& desc) {
  void* data = reinterpret_cast<void*>(desc.Data);
  if (!data) return {};
  switch (desc.Kind) {
    case kKindListObject:
    case kKindListObject2:
      if (TqonParamsList* list = AsParamsListObject(data))
        return TqonParamsListWrap::NewIntf(list, true);
      return {};
    case kKindListIntf:
      return ReceiveListIntf(data);
    default:
      return {};
  }
}

void TPluginCallRecIntf::Prepare(TPluginCallRec* rec) {
  Restore();
  copy_ = TPluginCallRec{};
  if (!rec) return;
  std::memcpy(&copy_, rec, sizeof(copy_));
  rec_ = rec;

  if (void* params = reinterpret_cast<void*>(rec->Params)) {
    bool wrapped = false;
    params_ = ListIntfFromPointer(params, &wrapped);
    if (wrapped) {
      params_wrapped_ = true;
      rec->Params = reinterpret_cast<uintptr_t>(params_.Address());
    } else {
      rec->Flags = static_cast<uint8_t>(rec->Flags | kFlagParamsIntf);
    }
  }
  PrepareDesc(rec->Input, input_slot_, input_saved_);
  PrepareDesc(rec->Output, output_slot_, output_saved_);
  input_ = input_slot_ ? input_slot_ : DescriptorList(rec->Input);
  output_ = output_slot_ ? output_slot_ : DescriptorList(rec->Output);
}

void TPluginCallRecIntf::PrepareDesc(TPluginDataDesc& desc, IntfPtr<IqonParamsListA>& slot,
                                     SavedDesc& saved) {
  if (desc.Kind != kKindListObject && desc.Kind != kKindListObject2) return;
  TqonParamsList* list = AsParamsListObject(reinterpret_cast<void*>(desc.Data));
  if (!list) return;
  saved.wrapped = true;
  saved.kind = desc.Kind;
  saved.data = desc.Data;
  slot = TqonParamsListWrap::NewIntf(list, true);
  desc.Kind = kKindListIntf;
  desc.Data = reinterpret_cast<uintptr_t>(slot.Address());
}

void TPluginCallRecIntf::RestoreDesc(TPluginDataDesc& desc) noexcept {
  // A descriptor still pointing into this copy would dangle after return:
  // it gets back what the host passed in that slot's descriptor.
  if (input_saved_.wrapped && desc.Data == reinterpret_cast<uintptr_t>(input_slot_.Address())) {
    desc.Kind = input_saved_.kind;
    desc.Data = input_saved_.data;
  } else if (output_saved_.wrapped &&
             desc.Data == reinterpret_cast<uintptr_t>(output_slot_.Address())) {
    desc.Kind = output_saved_.kind;
    desc.Data = output_saved_.data;
  }
}

void TPluginCallRecIntf::Restore() noexcept {
  TPluginCallRec* rec = rec_;
  if (!rec) return;
  rec_ = nullptr;
  rec->Flags = copy_.Flags;
  if (params_wrapped_) rec->Params = copy_.Params;
  RestoreDesc(rec->Input);
  RestoreDesc(rec->Output);
  params_.Reset();
  params_wrapped_ = false;
  input_.Reset();
  output_.Reset();
  input_slot_.Reset();
  output_slot_.Reset();
  input_saved_ = SavedDesc{};
  output_saved_ = SavedDesc{};
}

bool TPluginCallRecIntf::ReadValue(std::string_view name, OleVariant* value) const {
  return TryReadIntfValue(params_.get(), name, value);
}

OleVariant TPluginCallRecIntf::Value(std::string_view name) const {
  OleVariant v;
  ReadValue(name, &v);
  return v;
}
