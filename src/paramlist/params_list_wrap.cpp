#include "paramlist/params_list_wrap.h"

#include <cstring>
#include <string>

#include "base/errors.h"
#include "paramlist/edge_platform.h"
#include "paramlist/list_object_probe.h"
#include "paramlist/params_list_item_wrap.h"
#include "platform/strings.h"

using platform::HRESULT;
using platform::VARIANT;
using platform::WChar;

namespace {

template <class F>
HRESULT Guarded(F&& work) noexcept {
  try {
    work();
    return kQonOk;
  } catch (...) {
    return kQonFailed;
  }
}

std::string_view NarrowName(const char* name) {
  return name ? name : "";
}

// Name and value of an item the host gave us (A form, then W form).
QON_FOREIGN_CALLS HRESULT ReadSourceItem(IqonParamsListItemA* source, std::string* name,
                                         VARIANT* value) noexcept {
  if (!source) return kQonFailed;
  try {
    const char* text = source->GetName();
    *name = text ? text : "";
    if (source->GetValue(value) == kQonOk) return kQonOk;
  } catch (...) {
  }
  platform::VariantClear(value);
  return kQonFailed;
}

QON_FOREIGN_CALLS HRESULT ReadSourceItemW(IqonParamsListItemW* source, std::string* name,
                                          VARIANT* value) noexcept {
  if (!source) return kQonFailed;
  try {
    *name = platform::WideToAnsi(source->GetNameW());
    if (source->GetValueW(value) == kQonOk) return kQonOk;
  } catch (...) {
  }
  platform::VariantClear(value);
  return kQonFailed;
}

uintptr_t VtableOf(const void* object) noexcept {
  uintptr_t v = 0;
  std::memcpy(&v, object, sizeof v);
  return v;
}

}  // namespace

void TqonParamsListWrapDestroyer::operator()(TqonParamsListWrap* wrap) const noexcept {
  if (wrap) wrap->Destroy();
}

TqonParamsListWrap::TqonParamsListWrap(TqonParamsList* list, bool borrowed,
                                       std::unique_ptr<TqonParamsList> owned, bool owner_held)
    : life_(owner_held ? 1 : 0),
      owner_held_(owner_held),
      borrowed_(borrowed),
      list_(list ? list : (owned ? owned.get() : &detached_)),
      owned_(std::move(owned)) {
  // A list that is not borrowed is ours to free.
  if (list && !borrowed) owned_.reset(list);
}

TqonParamsListWrapPtr TqonParamsListWrap::Create(TqonParamsList* list, bool borrowed) {
  if (!list) return Create();
  return TqonParamsListWrapPtr(new TqonParamsListWrap(list, borrowed, nullptr, true));
}

TqonParamsListWrapPtr TqonParamsListWrap::Create(std::unique_ptr<TqonParamsList> owned) {
  if (!owned) owned = std::make_unique<TqonParamsList>();
  return TqonParamsListWrapPtr(new TqonParamsListWrap(nullptr, false, std::move(owned), true));
}

IntfPtr<IqonParamsListA> TqonParamsListWrap::NewIntf(TqonParamsList* list, bool borrowed) {
  if (!list) return NewIntf(std::make_unique<TqonParamsList>());
  return IntfPtr<IqonParamsListA>(
      static_cast<IqonParamsListA*>(new TqonParamsListWrap(list, borrowed, nullptr, false)));
}

IntfPtr<IqonParamsListA> TqonParamsListWrap::NewIntf(std::unique_ptr<TqonParamsList> owned) {
  if (!owned) owned = std::make_unique<TqonParamsList>();
  return IntfPtr<IqonParamsListA>(static_cast<IqonParamsListA*>(
      new TqonParamsListWrap(nullptr, false, std::move(owned), false)));
}

TqonParamsListWrap* TqonParamsListWrap::FromInterfacePointer(const void* p) noexcept {
  struct Tables {
    uintptr_t w, a;
  };
  // Every wrap shares these two table pointers; a probe object tells them.
  static const Tables tables = [] {
    TqonParamsListWrap probe(nullptr, false, nullptr, false);
    return Tables{VtableOf(static_cast<IqonParamsListW*>(&probe)),
                  VtableOf(static_cast<IqonParamsListA*>(&probe))};
  }();
  uintptr_t table = 0;
  if (!p || !EdgeReadPointer(p, &table)) return nullptr;
  void* object = const_cast<void*>(p);
  if (table == tables.w)
    return static_cast<TqonParamsListWrap*>(static_cast<IqonParamsListW*>(object));
  if (table == tables.a)
    return static_cast<TqonParamsListWrap*>(static_cast<IqonParamsListA*>(object));
  return nullptr;
}

IqonParamsListA** TqonParamsListWrap::GetIntfRef() {
  if (!handed_out_) {
    self_ref_ = this;
    AddRef();
    handed_out_ = &self_ref_;
  }
  return handed_out_;
}

void TqonParamsListWrap::DropLife() noexcept {
  if (--life_ == 0) delete this;
}

void TqonParamsListWrap::Destroy() noexcept {
  // Only the owner's hold ends here; a wrap without one lives by Release.
  if (!owner_held_.exchange(false)) return;
  // The host may still call through a reference it kept: it then finds an
  // empty list of the wrap's own, never the freed or returned one.
  list_ = &detached_;
  owned_.reset();
  borrowed_ = false;
  if (IqonParamsListA* self = self_ref_) {
    self_ref_ = nullptr;
    self->Release();
  }
  if (ref_count_.load() > 0) ParamsListDebugOutput(kRefCountMessage);
  DropLife();
}

// --- reference counting ----------------------------------------------------

HRESULT TqonParamsListWrap::QueryInterface(const platform::Guid* iid, void** out) {
  if (!out) return kQonFailed;
  *out = nullptr;
  if (!iid) return platform::E_NOINTERFACE_;
  if (*iid == IID_IqonParamsListA || *iid == IID_IUnknown_)
    *out = static_cast<IqonParamsListA*>(this);
  else if (*iid == IID_IqonParamsListW)
    *out = static_cast<IqonParamsListW*>(this);
  else
    return platform::E_NOINTERFACE_;
  AddRef();
  return kQonOk;
}

uint32_t TqonParamsListWrap::AddRef() {
  ++life_;
  return static_cast<uint32_t>(++ref_count_);
}

uint32_t TqonParamsListWrap::Release() {
  const int32_t left = --ref_count_;
  DropLife();
  return static_cast<uint32_t>(left);
}

// --- slots of IqonParamsList_ ------------------------------------------------

int32_t TqonParamsListWrap::GetCount() {
  return list_->Count();
}

int32_t TqonParamsListWrap::GetSignature() {
  return static_cast<int32_t>(list_->Signature);
}

int32_t TqonParamsListWrap::GetTag() {
  return list_->Tag;
}

void TqonParamsListWrap::SetTag(int32_t tag) {
  list_->Tag = tag;
}

void TqonParamsListWrap::Clear() {
  try {
    list_->Clear();
  } catch (...) {
  }
}

void TqonParamsListWrap::Delete(int32_t index) {
  try {
    list_->Delete(index);
  } catch (...) {
  }
}

bool TqonParamsListWrap::FindEndOfRow(int32_t from, int32_t* index, bool* is_separator) {
  if (index) *index = -1;
  if (is_separator) *is_separator = false;
  try {
    int i = -1;
    bool separator = false;
    if (!list_->FindEndOfRow(from, &i, &separator)) return false;
    if (index) *index = i;
    if (is_separator) *is_separator = separator;
    return true;
  } catch (...) {
    return false;
  }
}

void TqonParamsListWrap::AddNewRow() {
  try {
    list_->AddNewRow();
  } catch (...) {
  }
}

void TqonParamsListWrap::AddRows(void* list_wrap) {
  try {
    list_->AddRows(SourceList(list_wrap));
  } catch (...) {
  }
}

const TqonParamsList& TqonParamsListWrap::SourceList(void* source) {
  if (!source) throw EAssertionFailed("No source list");
  if (TqonParamsListWrap* wrap = FromInterfacePointer(source)) return wrap->List();
  if (TqonParamsList* list = AsParamsListObject(source)) return *list;
  throw EAssertionFailed("The source is not a parameter list");
}

// --- slots of both forms -----------------------------------------------------

HRESULT TqonParamsListWrap::GetItem(int32_t index, IqonParamsListItemA** item) {
  if (!item) return kQonFailed;
  *item = nullptr;
  return Guarded([&] { *item = TqonParamsListItemWrap::New(list_->Items(index)); });
}

HRESULT TqonParamsListWrap::AddItems(void* source, bool* ok) {
  if (ok) *ok = false;
  return Guarded([&] {
    const bool done = list_->AddItems(SourceList(source));
    if (ok) *ok = done;
  });
}

HRESULT TqonParamsListWrap::AddItemsRange(void* source, int32_t from, int32_t to, bool* ok) {
  if (ok) *ok = false;
  return Guarded([&] {
    const bool done = list_->AddItemsRange(SourceList(source), from, to);
    if (ok) *ok = done;
  });
}

// --- shared bodies of the A and W slots ------------------------------------

HRESULT TqonParamsListWrap::DoIndexOf(std::string_view name, int32_t from, int32_t to,
                                      int32_t* index) noexcept {
  if (!index) return kQonFailed;
  *index = -1;
  return Guarded([&] { *index = list_->IndexOf(name, from, to); });
}

HRESULT TqonParamsListWrap::DoFindItem(std::string_view name, int32_t from, int32_t to,
                                       IqonParamsListItemA** item) noexcept {
  if (!item) return kQonFailed;
  *item = nullptr;
  return Guarded([&] { *item = TqonParamsListItemWrap::New(list_->FindItem(name, from, to)); });
}

HRESULT TqonParamsListWrap::DoGetValue(std::string_view name, const VARIANT* fallback,
                                       HostStringForm form, int32_t from, int32_t to,
                                       VARIANT* value) noexcept {
  if (!value) return kQonFailed;
  platform::VariantClear(value);
  const HRESULT hr = Guarded([&] {
    const TqonParamsListItem* item = list_->FindItem(name, from, to);
    OleVariant result = item ? item->Value : FromHostValue(fallback, form);
    *value = result.Detach();
  });
  if (hr != kQonOk) platform::VariantClear(value);
  return hr;
}

HRESULT TqonParamsListWrap::DoInsert(int32_t index, std::string_view name, const VARIANT* value,
                                     HostStringForm form, IqonParamsListItemA** item) noexcept {
  if (item) *item = nullptr;
  return Guarded([&] {
    TqonParamsListItem* added = list_->Insert(index, name, FromHostValue(value, form));
    if (item) *item = TqonParamsListItemWrap::New(added);
  });
}

HRESULT TqonParamsListWrap::DoSetValue(std::string_view name, const VARIANT* value,
                                       HostStringForm form, bool create,
                                       IqonParamsListItemA** item) noexcept {
  if (item) *item = nullptr;
  return Guarded([&] {
    TqonParamsListItem* set = list_->SetValue(name, FromHostValue(value, form), create);
    if (item) *item = TqonParamsListItemWrap::New(set);
  });
}

HRESULT TqonParamsListWrap::DoAddItemFrom(std::string_view name, VARIANT* value,
                                          HostStringForm form,
                                          IqonParamsListItemA** item) noexcept {
  return Guarded([&] {
    TqonParamsListItem* added = list_->Add(name, TakeHostValue(value, form));
    if (item) *item = TqonParamsListItemWrap::New(added);
  });
}

// --- IqonParamsListA -----------------------------------------------------------

HRESULT TqonParamsListWrap::FindItem(const char* name, int32_t from, int32_t to,
                                     IqonParamsListItemA** item) {
  return DoFindItem(NarrowName(name), from, to, item);
}

HRESULT TqonParamsListWrap::IndexOf(const char* name, int32_t from, int32_t to, int32_t* index) {
  return DoIndexOf(NarrowName(name), from, to, index);
}

HRESULT TqonParamsListWrap::GetValue(const char* name, int32_t from, int32_t to, VARIANT* value) {
  return DoGetValue(NarrowName(name), nullptr, HostStringForm::Narrow, from, to, value);
}

HRESULT TqonParamsListWrap::GetValueDef(const char* name, const VARIANT* fallback, int32_t from,
                                        int32_t to, VARIANT* value) {
  return DoGetValue(NarrowName(name), fallback, HostStringForm::Narrow, from, to, value);
}

HRESULT TqonParamsListWrap::Add(const char* name, const VARIANT* value,
                                IqonParamsListItemA** item) {
  return DoInsert(list_->Count(), NarrowName(name), value, HostStringForm::Narrow, item);
}

HRESULT TqonParamsListWrap::Insert(int32_t index, const char* name, const VARIANT* value,
                                   IqonParamsListItemA** item) {
  return DoInsert(index, NarrowName(name), value, HostStringForm::Narrow, item);
}

HRESULT TqonParamsListWrap::SetValue(const char* name, const VARIANT* value, bool create,
                                     IqonParamsListItemA** item) {
  return DoSetValue(NarrowName(name), value, HostStringForm::Narrow, create, item);
}

HRESULT TqonParamsListWrap::AddItemFrom(IqonParamsListItemA* source, IqonParamsListItemA** item) {
  if (item) *item = nullptr;
  std::string name;
  VARIANT value;
  platform::VariantInit(&value);
  if (ReadSourceItem(source, &name, &value) != kQonOk) return kQonFailed;
  return DoAddItemFrom(name, &value, HostStringForm::Narrow, item);
}

// --- IqonParamsListW -----------------------------------------------------------

HRESULT TqonParamsListWrap::FindItem(const WChar* name, int32_t from, int32_t to,
                                     IqonParamsListItemA** item) {
  if (item) *item = nullptr;
  std::string narrow;
  if (Guarded([&] { narrow = platform::WideToAnsi(name); }) != kQonOk) return kQonFailed;
  return DoFindItem(narrow, from, to, item);
}

HRESULT TqonParamsListWrap::IndexOf(const WChar* name, int32_t from, int32_t to, int32_t* index) {
  if (index) *index = -1;
  std::string narrow;
  if (Guarded([&] { narrow = platform::WideToAnsi(name); }) != kQonOk) return kQonFailed;
  return DoIndexOf(narrow, from, to, index);
}

HRESULT TqonParamsListWrap::GetValue(const WChar* name, int32_t from, int32_t to, VARIANT* value) {
  if (value) platform::VariantClear(value);
  std::string narrow;
  if (Guarded([&] { narrow = platform::WideToAnsi(name); }) != kQonOk) return kQonFailed;
  return DoGetValue(narrow, nullptr, HostStringForm::Wide, from, to, value);
}

HRESULT TqonParamsListWrap::GetValueDef(const WChar* name, const VARIANT* fallback, int32_t from,
                                        int32_t to, VARIANT* value) {
  if (value) platform::VariantClear(value);
  std::string narrow;
  if (Guarded([&] { narrow = platform::WideToAnsi(name); }) != kQonOk) return kQonFailed;
  return DoGetValue(narrow, fallback, HostStringForm::Wide, from, to, value);
}

HRESULT TqonParamsListWrap::Add(const WChar* name, const VARIANT* value,
                                IqonParamsListItemA** item) {
  if (item) *item = nullptr;
  std::string narrow;
  if (Guarded([&] { narrow = platform::WideToAnsi(name); }) != kQonOk) return kQonFailed;
  return DoInsert(list_->Count(), narrow, value, HostStringForm::Wide, item);
}

HRESULT TqonParamsListWrap::Insert(int32_t index, const WChar* name, const VARIANT* value,
                                   IqonParamsListItemA** item) {
  if (item) *item = nullptr;
  std::string narrow;
  if (Guarded([&] { narrow = platform::WideToAnsi(name); }) != kQonOk) return kQonFailed;
  return DoInsert(index, narrow, value, HostStringForm::Wide, item);
}

HRESULT TqonParamsListWrap::SetValue(const WChar* name, const VARIANT* value, bool create,
                                     IqonParamsListItemA** item) {
  if (item) *item = nullptr;
  std::string narrow;
  if (Guarded([&] { narrow = platform::WideToAnsi(name); }) != kQonOk) return kQonFailed;
  return DoSetValue(narrow, value, HostStringForm::Wide, create, item);
}

HRESULT TqonParamsListWrap::AddItemFrom(IqonParamsListItemW* source, IqonParamsListItemA** item) {
  if (item) *item = nullptr;
  std::string name;
  VARIANT value;
  platform::VariantInit(&value);
  if (ReadSourceItemW(source, &name, &value) != kQonOk) return kQonFailed;
  return DoAddItemFrom(name, &value, HostStringForm::Wide, item);
}
