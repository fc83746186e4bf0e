#include "paramlist/params_list_item_wrap.h"

IqonParamsListItemA* TqonParamsListItemWrap::New(TqonParamsListItem* item) {
  if (!item) return nullptr;
  auto* wrap = new TqonParamsListItemWrap(item);
  wrap->AddRef();
  return wrap;
}

TqonParamsListItemWrap::TqonParamsListItemWrap(TqonParamsListItem* item)
    : NameW(platform::AnsiToWide(item->Name)),
      NameA(item->Name),
      KeyText(platform::AnsiToUtf8(platform::AsciiLowerCase(item->Name))),
      anchor_(item->Anchor()) {}

platform::HRESULT TqonParamsListItemWrap::QueryInterface(const platform::Guid* iid, void** out) {
  if (!out) return kQonFailed;
  *out = nullptr;
  if (!iid) return platform::E_NOINTERFACE_;
  if (*iid == IID_IqonParamsListItemW || *iid == IID_IqonParamsListItemA || *iid == IID_IUnknown_) {
    *out = static_cast<IqonParamsListItemW*>(this);
    AddRef();
    return kQonOk;
  }
  return platform::E_NOINTERFACE_;
}

uint32_t TqonParamsListItemWrap::AddRef() {
  return static_cast<uint32_t>(++RefCount);
}

uint32_t TqonParamsListItemWrap::Release() {
  const int32_t left = --RefCount;
  if (left == 0) delete this;
  return static_cast<uint32_t>(left);
}

void TqonParamsListItemWrap::SetKey(const char* key) {
  if (!Item()) return;
  try {
    KeyText = key ? key : "";
  } catch (...) {
  }
}

void TqonParamsListItemWrap::SetDataType(int32_t data_type) {
  if (TqonParamsListItem* item = Item()) item->DataType = data_type;
}

void TqonParamsListItemWrap::SetFlags(uint8_t flags) {
  if (TqonParamsListItem* item = Item()) item->Flags = flags;
}

const char* TqonParamsListItemWrap::GetKey() {
  return Item() && !KeyText.empty() ? KeyText.c_str() : nullptr;
}

int32_t TqonParamsListItemWrap::GetDataType() {
  const TqonParamsListItem* item = Item();
  return item ? item->DataType : 0;
}

uint8_t TqonParamsListItemWrap::GetFlags() {
  const TqonParamsListItem* item = Item();
  return item ? item->Flags : 0;
}

platform::HRESULT TqonParamsListItemWrap::StoreValue(const platform::VARIANT* value,
                                                     HostStringForm form) noexcept {
  try {
    TqonParamsListItem* item = Item();
    if (!item) return kQonFailed;
    item->Value = FromHostValue(value, form);
    return kQonOk;
  } catch (...) {
    return kQonFailed;
  }
}

platform::HRESULT TqonParamsListItemWrap::LoadValue(platform::VARIANT* value) noexcept {
  if (!value) return kQonFailed;
  platform::VariantClear(value);
  try {
    const TqonParamsListItem* item = Item();
    if (!item) return kQonFailed;
    item->Value.CopyTo(value);
    return kQonOk;
  } catch (...) {
    platform::VariantClear(value);
    return kQonFailed;
  }
}

platform::HRESULT TqonParamsListItemWrap::SetValue(const platform::VARIANT* value) {
  return StoreValue(value, HostStringForm::Narrow);
}

platform::HRESULT TqonParamsListItemWrap::GetValue(platform::VARIANT* value) {
  return LoadValue(value);
}

platform::HRESULT TqonParamsListItemWrap::SetValueW(const platform::VARIANT* value) {
  return StoreValue(value, HostStringForm::Wide);
}

platform::HRESULT TqonParamsListItemWrap::GetValueW(platform::VARIANT* value) {
  return LoadValue(value);
}

void TqonParamsListItemWrap::Rename(std::string name) {
  TqonParamsListItem* item = Item();
  if (!item) return;
  // Copies first, so that a failure leaves item and wrap as they were.
  platform::WString wide = platform::AnsiToWide(name);
  std::string narrow = name;
  item->Name = std::move(name);
  NameA = std::move(narrow);
  NameW = std::move(wide);
}

void TqonParamsListItemWrap::SetName(const char* name) {
  try {
    Rename(name ? name : "");
  } catch (...) {
  }
}

void TqonParamsListItemWrap::SetNameW(const platform::WChar* name) {
  try {
    Rename(platform::WideToAnsi(name));
  } catch (...) {
  }
}

const char* TqonParamsListItemWrap::GetName() {
  return Item() && !NameA.empty() ? NameA.c_str() : nullptr;
}

const platform::WChar* TqonParamsListItemWrap::GetNameW() {
  return Item() && !NameW.empty() ? NameW.c_str() : nullptr;
}

bool TqonParamsListItemWrap::IsNewRow() {
  const TqonParamsListItem* item = Item();
  return item && item->IsNewRow();
}
