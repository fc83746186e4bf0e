#pragma once
// Serves a TqonParamsList to the host through IqonParamsListA and
// IqonParamsListW.
//
// Two ways to own one:
//  - Create(): the library holds the wrap and frees it with Destroy (the
//    TqonParamsListWrapPtr does). GetIntfRef hands it out as a pointer to an
//    interface variable (descriptors of kind 9). A host reference still held
//    at Destroy is reported to the debugger output; the wrap then stays alive,
//    detached and serving an empty list, until that reference goes.
//  - NewIntf(): a plain reference-counted object, freed at its last Release.
#include <atomic>
#include <memory>

#include "paramlist/intf_ptr.h"
#include "paramlist/params_list.h"
#include "paramlist/params_list_intf.h"

class TqonParamsListWrap;

struct TqonParamsListWrapDestroyer {
  void operator()(TqonParamsListWrap* wrap) const noexcept;
};
using TqonParamsListWrapPtr = std::unique_ptr<TqonParamsListWrap, TqonParamsListWrapDestroyer>;

// IqonParamsListW comes first, so a pointer to the wrap object is also its
// IqonParamsListW pointer: that is the "list wrap object" the AddRows and
// W-form AddItems slots take.
class TqonParamsListWrap final : public IqonParamsListW, public IqonParamsListA {
 public:
  static constexpr char kRefCountMessage[] =
      "TqonParamsListWrap.Destroy. Reference counter should be zero!";

  // Around the given list; `borrowed`: the list is not freed with the wrap.
  static TqonParamsListWrapPtr Create(TqonParamsList* list, bool borrowed);
  // Around a list it owns (a new empty one when none is given).
  static TqonParamsListWrapPtr Create(std::unique_ptr<TqonParamsList> owned = nullptr);
  // Reference-counted only: the caller holds the one reference.
  static IntfPtr<IqonParamsListA> NewIntf(TqonParamsList* list, bool borrowed);
  static IntfPtr<IqonParamsListA> NewIntf(std::unique_ptr<TqonParamsList> owned);

  // The wrap behind an interface pointer, when it is one of ours (either of
  // its two interfaces); nullptr otherwise. Reads foreign memory safely.
  static TqonParamsListWrap* FromInterfacePointer(const void* p) noexcept;

  // Hands the wrap out: the first time takes SelfRef (one reference) and
  // answers its address, which stays the same afterwards.
  IqonParamsListA** GetIntfRef();
  IqonParamsListA** HandedOut() const noexcept { return handed_out_; }
  IqonParamsListA* SelfRef() const noexcept { return self_ref_; }
  bool Borrowed() const noexcept { return borrowed_; }
  TqonParamsList& List() const noexcept { return *list_; }
  int32_t RefCount() const noexcept { return ref_count_.load(); }
  IqonParamsListA* IntfA() noexcept { return this; }
  IqonParamsListW* IntfW() noexcept { return this; }

  // The owner's free (TqonParamsListWrapPtr calls it).
  void Destroy() noexcept;

  // IqonParamsList_ (shared by both interfaces)
  platform::HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) override;
  uint32_t QON_STDCALL AddRef() override;
  uint32_t QON_STDCALL Release() override;
  int32_t QON_STDCALL GetCount() override;
  int32_t QON_STDCALL GetSignature() override;
  int32_t QON_STDCALL GetTag() override;
  void QON_STDCALL SetTag(int32_t tag) override;
  void QON_STDCALL Clear() override;
  void QON_STDCALL Delete(int32_t index) override;
  bool QON_STDCALL FindEndOfRow(int32_t from, int32_t* index, bool* is_separator) override;
  void QON_STDCALL AddNewRow() override;
  void QON_STDCALL AddRows(void* list_wrap) override;

  // Slots of the same signature in both forms.
  platform::HRESULT QON_STDCALL GetItem(int32_t index, IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL AddItems(void* source, bool* ok) override;
  platform::HRESULT QON_STDCALL AddItemsRange(void* source, int32_t from, int32_t to,
                                              bool* ok) override;

  // IqonParamsListA
  platform::HRESULT QON_STDCALL FindItem(const char* name, int32_t from, int32_t to,
                                         IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL IndexOf(const char* name, int32_t from, int32_t to,
                                        int32_t* index) override;
  platform::HRESULT QON_STDCALL GetValue(const char* name, int32_t from, int32_t to,
                                         platform::VARIANT* value) override;
  platform::HRESULT QON_STDCALL GetValueDef(const char* name, const platform::VARIANT* fallback,
                                            int32_t from, int32_t to,
                                            platform::VARIANT* value) override;
  platform::HRESULT QON_STDCALL Add(const char* name, const platform::VARIANT* value,
                                    IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL Insert(int32_t index, const char* name,
                                       const platform::VARIANT* value,
                                       IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL SetValue(const char* name, const platform::VARIANT* value,
                                         bool create, IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL AddItemFrom(IqonParamsListItemA* source,
                                            IqonParamsListItemA** item) override;

  // IqonParamsListW
  platform::HRESULT QON_STDCALL FindItem(const platform::WChar* name, int32_t from, int32_t to,
                                         IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL IndexOf(const platform::WChar* name, int32_t from, int32_t to,
                                        int32_t* index) override;
  platform::HRESULT QON_STDCALL GetValue(const platform::WChar* name, int32_t from, int32_t to,
                                         platform::VARIANT* value) override;
  platform::HRESULT QON_STDCALL GetValueDef(const platform::WChar* name,
                                            const platform::VARIANT* fallback, int32_t from,
                                            int32_t to, platform::VARIANT* value) override;
  platform::HRESULT QON_STDCALL Add(const platform::WChar* name, const platform::VARIANT* value,
                                    IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL Insert(int32_t index, const platform::WChar* name,
                                       const platform::VARIANT* value,
                                       IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL SetValue(const platform::WChar* name,
                                         const platform::VARIANT* value, bool create,
                                         IqonParamsListItemA** item) override;
  platform::HRESULT QON_STDCALL AddItemFrom(IqonParamsListItemW* source,
                                            IqonParamsListItemA** item) override;

 private:
  TqonParamsListWrap(TqonParamsList* list, bool borrowed, std::unique_ptr<TqonParamsList> owned,
                     bool owner_held);
  ~TqonParamsListWrap() = default;

  // Drops one hold on the wrap's life (a reference or the owner's).
  void DropLife() noexcept;

  // The list a list-taking slot was given: a list object or one of our wraps.
  static const TqonParamsList& SourceList(void* source);

  platform::HRESULT DoIndexOf(std::string_view name, int32_t from, int32_t to,
                              int32_t* index) noexcept;
  platform::HRESULT DoFindItem(std::string_view name, int32_t from, int32_t to,
                               IqonParamsListItemA** item) noexcept;
  platform::HRESULT DoGetValue(std::string_view name, const platform::VARIANT* fallback,
                               HostStringForm form, int32_t from, int32_t to,
                               platform::VARIANT* value) noexcept;
  platform::HRESULT DoInsert(int32_t index, std::string_view name, const platform::VARIANT* value,
                             HostStringForm form, IqonParamsListItemA** item) noexcept;
  platform::HRESULT DoSetValue(std::string_view name, const platform::VARIANT* value,
                               HostStringForm form, bool create,
                               IqonParamsListItemA** item) noexcept;
  platform::HRESULT DoAddItemFrom(std::string_view name, platform::VARIANT* value,
                                  HostStringForm form, IqonParamsListItemA** item) noexcept;

  // Interface references.
  std::atomic<int32_t> ref_count_{0};
  // References plus one while the owner holds the wrap: the wrap is freed
  // when this reaches 0, whichever side lets go last.
  std::atomic<int32_t> life_{0};
  std::atomic<bool> owner_held_{false};
  IqonParamsListA* self_ref_ = nullptr;
  IqonParamsListA** handed_out_ = nullptr;
  bool borrowed_;
  TqonParamsList* list_;
  std::unique_ptr<TqonParamsList> owned_;
  // What a wrap destroyed while still referenced serves.
  TqonParamsList detached_;
};
