#include "paramlist/params_list.h"

#include <algorithm>
#include <cstddef>

#include "base/errors.h"
#include "base/trim.h"
#include "paramlist/intf_ptr.h"
#include "paramlist/params_list_intf.h"
#include "platform/strings.h"

// Hosts find the signature at this offset, so it must not move.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(TqonParamsList, Signature) == sizeof(void*),
              "the list signature follows the vtable pointer");
#pragma GCC diagnostic pop

namespace {

[[noreturn]] void ThrowIndex(int index) {
  throw EAssertionFailed("List index out of bounds (" + std::to_string(index) + ")");
}

// The value of an item behind an interface, by the narrow string-form rule.
QON_FOREIGN_CALLS OleVariant ReadIntfItemValue(IqonParamsListItemA* item) {
  platform::VARIANT raw;
  platform::VariantInit(&raw);
  if (item->GetValue(&raw) != kQonOk) {
    platform::VariantClear(&raw);
    throw EqonError("The item's value could not be read");
  }
  return TakeHostValue(&raw, HostStringForm::Narrow);
}

}  // namespace

// ---------------------------------------------------------------------------

TqonParamsListItem::TqonParamsListItem(std::string name, OleVariant value)
    : Name(std::move(name)), Key(MakeKey(Name)), Value(std::move(value)) {}

TqonParamsListItem::~TqonParamsListItem() {
  if (anchor_) anchor_->item = nullptr;
}

void TqonParamsListItem::Assign(const TqonParamsListItem& source) {
  // A recycled item mostly had the name already, and the key follows it.
  if (Name != source.Name) {
    Name = source.Name;
    Key = source.Key;
  }
  DataType = source.DataType;
  Flags = source.Flags;
}

std::string TqonParamsListItem::MakeKey(std::string_view name) {
  std::string key;
  MakeKeyInto(name, &key);
  return key;
}

void TqonParamsListItem::MakeKeyInto(std::string_view name, std::string* key) {
  key->assign(name.data(), name.size());
  for (char& ch : *key) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {  // letters beyond ASCII follow the system's tables
      *key = platform::AnsiLowerCase(name);
      return;
    }
    if (c >= 'A' && c <= 'Z') ch = static_cast<char>(c + 32);
  }
}

void TqonParamsListItem::Renew(std::string_view name, OleVariant value) {
  if (anchor_) {
    anchor_->item = nullptr;
    anchor_.reset();
  }
  // A refilled list mostly gives an item the name it had.
  if (Name != name) {
    Name.assign(name);
    MakeKeyInto(Name, &Key);
  }
  DataType = 0;
  Flags = 0;
  Value = std::move(value);
}

std::shared_ptr<ParamsListItemAnchor> TqonParamsListItem::Anchor() {
  if (!anchor_) {
    anchor_ = std::make_shared<ParamsListItemAnchor>();
    anchor_->item = this;
  }
  return anchor_;
}

// ---------------------------------------------------------------------------

TqonParamsList::~TqonParamsList() {
  Signature = 0;
  TqonParamsList::Clear();
  spare_.clear();
}

void TqonParamsList::CheckSignature() const {
  if (Signature != kParamsListSignature)
    throw EAssertionFailed("Invalid parameter list (signature " + std::to_string(Signature) + ")");
}

TqonParamsListItem* TqonParamsList::Items(int index) const noexcept {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

int TqonParamsList::LastIndex(int to) const noexcept {
  const int last = Count() - 1;
  return (to < 0 || to > last) ? last : to;
}

std::unique_ptr<TqonParamsListItem> TqonParamsList::NewItem(std::string_view name,
                                                            OleVariant value) {
  if (!spare_.empty()) {
    std::unique_ptr<TqonParamsListItem> item = std::move(spare_.back());
    spare_.pop_back();
    item->Renew(name, std::move(value));
    return item;
  }
  auto item = std::make_unique<TqonParamsListItem>(std::string(name), std::move(value));
  item->recyclable_ = true;
  return item;
}

void TqonParamsList::Release(std::unique_ptr<TqonParamsListItem> item) {
  constexpr size_t kMaxSpare = 1024;
  // Short strings stay for AddString; other values go now: they may hold a
  // host's interface or a large text.
  constexpr uint32_t kKeptStringLength = 32;
  if (!item || !item->recyclable_ || spare_.size() >= kMaxSpare) return;  // freed here
  const platform::VARIANT& v = item->Value.Raw();
  if (v.vt != platform::VT_BSTR || platform::SysStringLen(v.bstrVal) > kKeptStringLength)
    item->Value.Clear();
  if (item->anchor_) {
    item->anchor_->item = nullptr;
    item->anchor_.reset();
  }
  spare_.push_back(std::move(item));
}

TqonParamsListItem* TqonParamsList::Append(std::unique_ptr<TqonParamsListItem> item, int index) {
  TqonParamsListItem* raw = item.get();
  if (items_.capacity() == 0) items_.reserve(16);
  if (index == Count())
    items_.push_back(std::move(item));
  else
    items_.insert(items_.begin() + index, std::move(item));
  return raw;
}

TqonParamsListItem* TqonParamsList::Add(std::string_view name, OleVariant value) {
  return Insert(Count(), name, std::move(value));
}

TqonParamsListItem* TqonParamsList::Insert(int index, std::string_view name, OleVariant value) {
  CheckSignature();
  if (index < 0 || index > Count()) ThrowIndex(index);
  if (TrimControls(name).empty()) return nullptr;
  auto item = NewItem(name, std::move(value));
  item->Flags = kAddedItemFlags;
  return Append(std::move(item), index);
}

TqonParamsListItem* TqonParamsList::AddString(std::string_view name, std::string_view text) {
  if (spare_.empty() || !spare_.back()->Value.WriteAsciiText(text))
    return Add(name, OleVariant(text));
  CheckSignature();
  if (TrimControls(name).empty()) return nullptr;
  std::unique_ptr<TqonParamsListItem> item = std::move(spare_.back());
  spare_.pop_back();
  OleVariant same = std::move(item->Value);
  item->Renew(name, std::move(same));
  item->Flags = kAddedItemFlags;
  return Append(std::move(item), Count());
}

int TqonParamsList::IndexOf(std::string_view name, int from, int to) const {
  CheckSignature();
  if (items_.empty()) return -1;
  const std::string key = TqonParamsListItem::MakeKey(name);
  const int last = LastIndex(to);
  for (int i = std::max(from, 0); i <= last; ++i) {
    const TqonParamsListItem& item = *items_[static_cast<size_t>(i)];
    if (item.Key == key) return i;
    if (to == -2 && item.IsNewRow()) break;
  }
  return -1;
}

TqonParamsListItem* TqonParamsList::FindItem(std::string_view name, int from, int to) const {
  return Items(IndexOf(name, from, to));
}

OleVariant TqonParamsList::GetValue(std::string_view name, int from, int to) const {
  const TqonParamsListItem* item = FindItem(name, from, to);
  return item ? item->Value : OleVariant();
}

OleVariant TqonParamsList::GetValueDef(std::string_view name, const OleVariant& fallback, int from,
                                       int to) const {
  const TqonParamsListItem* item = FindItem(name, from, to);
  return item ? item->Value : fallback;
}

TqonParamsListItem* TqonParamsList::SetValue(std::string_view name, OleVariant value, bool create) {
  TqonParamsListItem* item = FindItem(name);
  if (!item && create) item = Add(name, OleVariant::Null());
  if (!item) return nullptr;
  item->Value = std::move(value);
  return item;
}

OleVariant TqonParamsList::GetParam(std::string_view name) const {
  const TqonParamsListItem* item = FindItem(name);
  if (!item) throw EAssertionFailed("Parameter is not defined: " + std::string(name));
  return item->Value;
}

TqonParamsListItem* TqonParamsList::SetParam(std::string_view name, OleVariant value) {
  TqonParamsListItem* item = FindItem(name);
  if (!item) throw EAssertionFailed("Parameter is not defined: " + std::string(name));
  item->Value = std::move(value);
  return item;
}

void TqonParamsList::Delete(int index) {
  if (index < 0) ThrowIndex(index);
  if (index >= Count()) return;
  std::unique_ptr<TqonParamsListItem> item = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
  Release(std::move(item));
}

void TqonParamsList::Clear() {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    Release(std::move(*it));
  items_.clear();
}

bool TqonParamsList::AddItems(const TqonParamsList& source) {
  return AddItemsRange(source, 0, -1);
}

bool TqonParamsList::AddItemsRange(const TqonParamsList& source, int from, int to) {
  source.CheckSignature();
  CheckSignature();
  if (source.items_.empty()) return false;
  // Bounds are taken first: the source may be this list.
  const int first = std::max(from, 0);
  const int last = source.LastIndex(to);
  for (int i = first; i <= last; ++i)
    AddItemCopy(*source.items_[static_cast<size_t>(i)]);
  return true;
}

QON_FOREIGN_CALLS bool TqonParamsList::CopyFromIntf(IqonParamsListA* source, int from, int to) {
  if (!source) return false;
  CheckSignature();
  const int count = source->GetCount();
  const int last = (to < 0 || to >= count) ? count - 1 : to;
  if (from > last) return true;
  if (from < 0) ThrowIndex(from);
  for (int i = from; i <= last; ++i) {
    IntfPtr<IqonParamsListItemA> item;
    if (source->GetItem(i, item.Receive()) != kQonOk)
      throw EqonError("Item " + std::to_string(i) + " of the source list could not be read");
    if (!item) continue;
    const char* name = item->GetName();
    TqonParamsListItem* added = Add(name ? name : "", ReadIntfItemValue(item.get()));
    if (!added) continue;
    // The key stays the one our own rule made, so look-ups find the item.
    added->DataType = item->GetDataType();
    added->Flags = item->GetFlags();
  }
  return true;
}

void TqonParamsList::AddNewRow() {
  if (!items_.empty() && items_.back()->IsNewRow()) return;
  TqonParamsListItem* row = Add(kNewRowName, OleVariant::Null());
  row->DataType = kNewRowDataType;
}

bool TqonParamsList::FindEndOfRow(int from, int* index, bool* is_separator) const {
  from = std::max(from, 0);
  if (from >= Count()) return false;
  int i = from;
  while (i < Count() - 1 && !items_[static_cast<size_t>(i)]->IsNewRow())
    ++i;
  if (index) *index = i;
  if (is_separator) *is_separator = items_[static_cast<size_t>(i)]->IsNewRow();
  return true;
}

void TqonParamsList::AddRows(const TqonParamsList& source) {
  const bool ends_row = source.Count() > 0 && source.items_.back()->IsNewRow();
  AddItems(source);
  if (!ends_row) AddNewRow();
}

TqonParamsListItem* TqonParamsList::AddItemCopy(const TqonParamsListItem& item) {
  if (!spare_.empty() && !TrimControls(item.Name).empty()) {
    CheckSignature();
    // A spare item takes the copy whole: the source's key is this list's key.
    std::unique_ptr<TqonParamsListItem> copy = std::move(spare_.back());
    spare_.pop_back();
    copy->Value.CopyFrom(item.Value);
    copy->Assign(item);
    return Append(std::move(copy), Count());
  }
  TqonParamsListItem* added = Add(item.Name, item.Value);
  if (added) added->Assign(item);
  return added;
}

QON_FOREIGN_CALLS TqonParamsListItem* TqonParamsList::AddItemFromIntf(IqonParamsListItemA* item) {
  if (!item) return nullptr;
  CheckSignature();
  const char* name = item->GetName();
  auto added = NewItem(name ? name : "", ReadIntfItemValue(item));
  added->DataType = item->GetDataType();
  added->Flags = item->GetFlags();
  return Append(std::move(added), Count());
}
