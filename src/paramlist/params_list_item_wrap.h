#pragma once
// The interface reference of one list item. It does not own the item: when
// the item goes (list cleared, item deleted, list freed) the reference stays
// valid but answers 0x8000FFFF or nothing.
#include <atomic>
#include <memory>
#include <string>

#include "paramlist/params_list.h"
#include "paramlist/params_list_intf.h"
#include "platform/strings.h"

class TqonParamsListItemWrap final : public IqonParamsListItemW {
 public:
  // A new reference for the item (count 1), or nullptr for no item.
  static IqonParamsListItemA* New(TqonParamsListItem* item);

  platform::HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) override;
  uint32_t QON_STDCALL AddRef() override;
  uint32_t QON_STDCALL Release() override;
  void QON_STDCALL SetKey(const char* key) override;
  void QON_STDCALL SetDataType(int32_t data_type) override;
  void QON_STDCALL SetFlags(uint8_t flags) override;
  const char* QON_STDCALL GetKey() override;
  int32_t QON_STDCALL GetDataType() override;
  uint8_t QON_STDCALL GetFlags() override;
  platform::HRESULT QON_STDCALL SetValue(const platform::VARIANT* value) override;
  platform::HRESULT QON_STDCALL GetValue(platform::VARIANT* value) override;
  void QON_STDCALL SetName(const char* name) override;
  const char* QON_STDCALL GetName() override;
  bool QON_STDCALL IsNewRow() override;
  void QON_STDCALL SetNameW(const platform::WChar* name) override;
  const platform::WChar* QON_STDCALL GetNameW() override;
  platform::HRESULT QON_STDCALL SetValueW(const platform::VARIANT* value) override;
  platform::HRESULT QON_STDCALL GetValueW(platform::VARIANT* value) override;

 private:
  explicit TqonParamsListItemWrap(TqonParamsListItem* item);
  ~TqonParamsListItemWrap() = default;

  // The item, or nullptr once it is gone.
  TqonParamsListItem* Item() const noexcept { return anchor_->item; }
  void Rename(std::string name);
  platform::HRESULT StoreValue(const platform::VARIANT* value, HostStringForm form) noexcept;
  platform::HRESULT LoadValue(platform::VARIANT* value) noexcept;

  // Copies handed out as the item's texts; they live as long as the wrap.
  platform::WString NameW;
  std::string NameA;
  // The name lower-cased in A-Z only, as UTF-8.
  std::string KeyText;
  std::shared_ptr<ParamsListItemAnchor> anchor_;
  std::atomic<int32_t> RefCount{0};
};
