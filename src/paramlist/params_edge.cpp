#include "paramlist/params_edge.h"

#include <bit>
#include <string>

#include "paramlist/edge_platform.h"

IntfPtr<IqonParamsListA> ReceiveListIntf(const void* variable) noexcept {
  uintptr_t intf = 0;
  if (!variable || !EdgeReadPointer(variable, &intf) || intf == 0) return {};
  return IntfPtr<IqonParamsListA>(reinterpret_cast<IqonParamsListA*>(intf));
}

// The signature is read as the low half of a pointer-sized word.
static_assert(std::endian::native == std::endian::little);

IntfPtr<IqonParamsListA> ListIntfFromPointer(void* p, bool* wrapped) {
  if (wrapped) *wrapped = false;
  if (!p) return {};
  // One read answers both questions: a list object has its signature in the
  // word after its vtable pointer, an interface variable holds the interface
  // in its first word. A variable in the last word of readable memory
  // cannot be read two words long: then its one word is read.
  uintptr_t words[2] = {0, 0};
  if (!EdgeReadPointers(p, words, 2)) return ReceiveListIntf(p);
  if (static_cast<uint32_t>(words[1]) == kParamsListSignature) {
    if (wrapped) *wrapped = true;
    return TqonParamsListWrap::NewIntf(static_cast<TqonParamsList*>(p), true);
  }
  if (words[0] == 0) return {};
  return IntfPtr<IqonParamsListA>(reinterpret_cast<IqonParamsListA*>(words[0]));
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
