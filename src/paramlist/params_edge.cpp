#include "paramlist/params_edge.h"

#include <string>

#include "paramlist/edge_platform.h"

IntfPtr<IqonParamsListA> ReceiveListIntf(const void* variable) noexcept {
  uintptr_t intf = 0;
  if (!variable || !EdgeReadPointer(variable, &intf) || intf == 0) return {};
  return IntfPtr<IqonParamsListA>(reinterpret_cast<IqonParamsListA*>(intf));
}

IntfPtr<IqonParamsListA> ListIntfFromPointer(void* p, bool* wrapped) {
  if (wrapped) *wrapped = false;
  if (TqonParamsList* list = AsParamsListObject(p)) {
    if (wrapped) *wrapped = true;
    return TqonParamsListWrap::NewIntf(list, true);
  }
  return ReceiveListIntf(p);
}

QON_FOREIGN_CALLS bool TryReadIntfValue(IqonParamsListA* list, std::string_view name,
                                        OleVariant* value) {
  value->Clear();
  if (!list) return false;
  const std::string key(name);
  platform::VARIANT raw;
  platform::VariantInit(&raw);
  if (list->GetValue(key.c_str(), 0, -1, &raw) != kQonOk) {
    platform::VariantClear(&raw);
    return false;
  }
  *value = TakeHostValue(&raw, HostStringForm::Narrow);
  if (!value->IsEmptyOrNull()) return true;
  value->Clear();
  return false;
}

OleVariant ReadIntfValue(IqonParamsListA* list, std::string_view name) {
  OleVariant v;
  TryReadIntfValue(list, name, &v);
  return v;
}
