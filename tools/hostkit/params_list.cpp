#include "hostkit/params_list.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/strings.h"

namespace host {

using platform::VT_BSTR;
using platform::VT_HOST_ANSI_STRING;
using platform::VT_HOST_UNICODE_STRING;

Value::Value(const VARIANT& v) {
  platform::VariantInit(&v_);
  if (platform::VariantCopy(&v_, &v) != 0) throw std::runtime_error("variant copy failed");
}

Value& Value::operator=(const Value& other) {
  if (this != &other && platform::VariantCopy(&v_, &other.v_) != 0)
    throw std::runtime_error("variant copy failed");
  return *this;
}

Value Value::Int(int32_t i) {
  Value r;
  r.v_.vt = platform::VT_I4;
  r.v_.lVal = i;
  return r;
}

Value Value::Int64(int64_t i) {
  Value r;
  r.v_.vt = platform::VT_I8;
  r.v_.llVal = i;
  return r;
}

Value Value::Double(double d) {
  Value r;
  r.v_.vt = platform::VT_R8;
  r.v_.dblVal = d;
  return r;
}

Value Value::Date(double days) {
  Value r;
  r.v_.vt = platform::VT_DATE;
  r.v_.date = days;
  return r;
}

Value Value::Bool(bool b) {
  Value r;
  r.v_.vt = platform::VT_BOOL;
  r.v_.boolVal = b ? platform::VARIANT_TRUE_ : platform::VARIANT_FALSE_;
  return r;
}

Value Value::Text(std::string_view ansi) {
  Value r;
  r.v_.vt = VT_BSTR;
  r.v_.bstrVal = platform::AllocBstrFromAnsi(ansi);
  return r;
}

Value Value::Null() {
  Value r;
  r.v_.vt = platform::VT_NULL;
  return r;
}

std::string Value::AsText() const {
  switch (v_.vt) {
    case VT_BSTR:
      return v_.bstrVal ? platform::BstrToAnsi(v_.bstrVal) : std::string();
    case platform::VT_EMPTY:
    case platform::VT_NULL:
      return {};
    case platform::VT_R8:
    case platform::VT_DATE:
      return std::to_string(v_.dblVal);
    default:
      return std::to_string(AsInt());
  }
}

int64_t Value::AsInt() const {
  switch (v_.vt) {
    case platform::VT_I4:
      return v_.lVal;
    case platform::VT_UI4:
      return v_.ulVal;
    case platform::VT_I8:
    case platform::VT_UI8:
      return v_.llVal;
    case platform::VT_BOOL:
      return v_.boolVal ? 1 : 0;
    case VT_BSTR:
      try {
        return std::stoll(AsText());
      } catch (const std::exception&) {
        return 0;
      }
    default:
      return 0;
  }
}

double Value::AsDouble() const {
  if (v_.vt == platform::VT_R8 || v_.vt == platform::VT_DATE) return v_.dblVal;
  return static_cast<double>(AsInt());
}

Value IncomingValue(const VARIANT* value, bool wide) {
  if (!value) return Value();
  if (value->vt == VT_HOST_ANSI_STRING && value->byref) {
    if (wide) {
      Value r;
      r.out()->vt = VT_BSTR;
      r.out()->bstrVal = platform::SysAllocString(static_cast<const WChar*>(value->byref));
      return r;
    }
    return Value::Text(static_cast<const char*>(value->byref));
  }
  if (value->vt == VT_HOST_UNICODE_STRING && value->byref) {
    Value r;
    r.out()->vt = VT_BSTR;
    r.out()->bstrVal = platform::SysAllocString(static_cast<const WChar*>(value->byref));
    return r;
  }
  return Value(*value);
}

namespace {

// Copies an item's value out, clearing the out-variant first.
HRESULT Answer(const ListItem& item, VARIANT* value) {
  platform::VariantClear(value);
  if (item.host_text) {
    value->vt = VT_HOST_ANSI_STRING;
    value->byref = const_cast<char*>(item.host_text->c_str());
    return kOk;
  }
  return platform::VariantCopy(value, &item.value.get()) == 0 ? kOk : kFailed;
}

std::string KeyOf(std::string_view name) {
  // Field names are ASCII: no trip through the character tables for them.
  for (const char c : name)
    if (static_cast<unsigned char>(c) >= 0x80) return platform::AnsiLowerCase(name);
  return platform::AsciiLowerCase(name);
}

bool BlankName(std::string_view name) {
  for (unsigned char c : name)
    if (c > 32) return false;
  return true;
}

// One handed-out item reference. The item is shared with the list, so a
// reference the plug-in keeps after the list dropped the item stays safe.
class ItemRef final : public IListItemW {
 public:
  static IListItemA* Create(std::shared_ptr<ListItem> item) {
    return new ItemRef(std::move(item));  // freed by its last Release
  }

  HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) override {
    if (!out) return kFailed;
    *out = nullptr;
    if (!iid) return kNoInterface;
    if (*iid == kIidUnknown || *iid == kIidItemA || *iid == kIidItemW) {
      AddRef();
      *out = static_cast<IListItemW*>(this);
      return kOk;
    }
    return kNoInterface;
  }
  uint32_t QON_STDCALL AddRef() override { return ++refs_; }
  uint32_t QON_STDCALL Release() override {
    const uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  void QON_STDCALL SetKey(const char* key) override { key_text_ = std::string(key ? key : ""); }
  void QON_STDCALL SetDataType(int32_t data_type) override { item_->data_type = data_type; }
  void QON_STDCALL SetFlags(uint8_t flags) override { item_->flags = flags; }
  const char* QON_STDCALL GetKey() override {
    if (!key_text_) key_text_ = platform::AnsiToUtf8(platform::AsciiLowerCase(item_->name));
    return key_text_->empty() ? nullptr : key_text_->c_str();
  }
  int32_t QON_STDCALL GetDataType() override { return item_->data_type; }
  uint8_t QON_STDCALL GetFlags() override { return item_->flags; }
  HRESULT QON_STDCALL SetValue(const VARIANT* value) override { return Store(value, false); }
  HRESULT QON_STDCALL GetValue(VARIANT* value) override { return Fetch(value); }
  void QON_STDCALL SetName(const char* name) override {
    try {
      item_->name = name ? name : "";
      Refresh();
    } catch (...) {
    }
  }
  const char* QON_STDCALL GetName() override {
    if (!name_a_) name_a_ = item_->name;
    return name_a_->empty() ? nullptr : name_a_->c_str();
  }
  bool QON_STDCALL IsNewRow() override { return item_->IsRowSeparator(); }
  void QON_STDCALL SetNameW(const WChar* name) override {
    try {
      item_->name = name ? platform::WideToAnsi(name) : std::string();
      Refresh();
    } catch (...) {
    }
  }
  const WChar* QON_STDCALL GetNameW() override {
    if (!name_w_) name_w_ = platform::AnsiToWide(item_->name);
    return name_w_->empty() ? nullptr : name_w_->c_str();
  }
  HRESULT QON_STDCALL SetValueW(const VARIANT* value) override { return Store(value, true); }
  HRESULT QON_STDCALL GetValueW(VARIANT* value) override { return Fetch(value); }

 private:
  explicit ItemRef(std::shared_ptr<ListItem> item) : item_(std::move(item)) { ++item_->handed_out; }
  ~ItemRef() { --item_->handed_out; }

  // The texts a reference answers are made when first asked for (most
  // references are handed out to set a key and flags, and never read a
  // name) and kept, so a pointer answered stays valid while it lives. A
  // new name through this reference makes them again.
  void Refresh() {
    name_a_.reset();
    name_w_.reset();
    key_text_.reset();
  }
  HRESULT Store(const VARIANT* value, bool wide) {
    try {
      item_->value = IncomingValue(value, wide);
      return kOk;
    } catch (...) {
      return kFailed;
    }
  }
  HRESULT Fetch(VARIANT* value) {
    if (!value) return kFailed;
    try {
      return Answer(*item_, value);
    } catch (...) {
      return kFailed;
    }
  }

  std::atomic<uint32_t> refs_{1};
  std::shared_ptr<ListItem> item_;
  std::optional<std::string> name_a_;
  std::optional<platform::WString> name_w_;
  std::optional<std::string> key_text_;
};

// Clears an out item first, so that a failed call leaves nothing behind.
void ClearOut(IListItemA** item) {
  if (item) *item = nullptr;
}

void HandOut(const std::shared_ptr<ListItem>& it, IListItemA** item) {
  if (item && it) *item = ItemRef::Create(it);
}

}  // namespace

ParamsList* ParamsList::Create() {
  return new ParamsList();  // freed by its last Release
}

ListItem& ParamsList::Put(std::string_view name, const Value& value) {
  const int32_t i = Search(name, 0, -1);
  if (i >= 0) {
    items_[static_cast<size_t>(i)]->value = value;
    return *items_[static_cast<size_t>(i)];
  }
  items_.push_back(NewItem(name, value));
  return *items_.back();
}

const ListItem* ParamsList::Find(std::string_view name) const {
  const int32_t i = Search(name, 0, -1);
  return i >= 0 ? items_[static_cast<size_t>(i)].get() : nullptr;
}

std::shared_ptr<ListItem> ParamsList::NewItem(std::string_view name, Value value) const {
  auto item = std::make_shared<ListItem>();
  item->name = std::string(name);
  item->key = KeyOf(name);
  item->value = std::move(value);
  return item;
}

int32_t ParamsList::Search(std::string_view name, int32_t from, int32_t to) const {
  if (items_.empty()) return -1;
  const int32_t last = static_cast<int32_t>(items_.size()) - 1;
  const bool row_only = to == -2;
  if (from < 0) from = 0;
  if (to < 0 || to > last) to = last;
  const std::string key = KeyOf(name);
  for (int32_t i = from; i <= to; ++i) {
    const ListItem& it = *items_[static_cast<size_t>(i)];
    if (it.key == key) return i;
    if (row_only && it.IsRowSeparator()) break;
  }
  return -1;
}

HRESULT QON_STDCALL ParamsList::QueryInterface(const platform::Guid* iid, void** out) {
  if (!out) return kFailed;
  *out = nullptr;
  if (!iid) return kNoInterface;
  if (*iid == kIidUnknown || *iid == kIidListA) {
    AddRef();
    *out = static_cast<IListA*>(this);
    return kOk;
  }
  return kNoInterface;
}

uint32_t QON_STDCALL ParamsList::AddRef() {
  return ++refs_;
}

uint32_t QON_STDCALL ParamsList::Release() {
  const uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

int32_t QON_STDCALL ParamsList::GetCount() {
  return static_cast<int32_t>(items_.size());
}
// A host list is no list object of the library: it never carries the signature.
int32_t QON_STDCALL ParamsList::GetSignature() {
  return 0;
}
int32_t QON_STDCALL ParamsList::GetTag() {
  return tag_;
}
void QON_STDCALL ParamsList::SetTag(int32_t tag) {
  tag_ = tag;
}
void QON_STDCALL ParamsList::Clear() {
  items_.clear();
}

void QON_STDCALL ParamsList::Delete(int32_t index) {
  if (index >= 0 && static_cast<size_t>(index) < items_.size())
    items_.erase(items_.begin() + index);
}

bool QON_STDCALL ParamsList::FindEndOfRow(int32_t from, int32_t* index, bool* is_separator) {
  if (from < 0) from = 0;
  if (static_cast<size_t>(from) >= items_.size()) return false;
  size_t i = static_cast<size_t>(from);
  while (i + 1 < items_.size() && !items_[i]->IsRowSeparator())
    ++i;
  if (index) *index = static_cast<int32_t>(i);
  if (is_separator) *is_separator = items_[i]->IsRowSeparator();
  return true;
}

void QON_STDCALL ParamsList::AddNewRow() {
  try {
    if (!items_.empty() && items_.back()->IsRowSeparator()) return;
    auto sep = NewItem(kRowSeparatorName, Value::Null());
    sep->data_type = kRowSeparatorType;
    items_.push_back(std::move(sep));
  } catch (...) {
  }
}

// Sources of these are list objects of the library, whose layout a host
// does not know: refused.
void QON_STDCALL ParamsList::AddRows(void*) {}

HRESULT QON_STDCALL ParamsList::AddItems(void*, bool* ok) {
  if (ok) *ok = false;
  return kFailed;
}

HRESULT QON_STDCALL ParamsList::AddItemsRange(void*, int32_t, int32_t, bool* ok) {
  if (ok) *ok = false;
  return kFailed;
}

HRESULT QON_STDCALL ParamsList::GetItem(int32_t index, IListItemA** item) {
  ClearOut(item);
  if (!item) return kFailed;
  try {
    if (index >= 0 && static_cast<size_t>(index) < items_.size())
      HandOut(items_[static_cast<size_t>(index)], item);
    return kOk;
  } catch (...) {
    return kFailed;
  }
}

HRESULT QON_STDCALL ParamsList::FindItem(const char* name, int32_t from, int32_t to,
                                         IListItemA** item) {
  ClearOut(item);
  if (!item) return kFailed;
  try {
    const int32_t i = Search(name ? name : "", from, to);
    if (i >= 0) HandOut(items_[static_cast<size_t>(i)], item);
    return kOk;
  } catch (...) {
    return kFailed;
  }
}

HRESULT QON_STDCALL ParamsList::IndexOf(const char* name, int32_t from, int32_t to,
                                        int32_t* index) {
  if (!index) return kFailed;
  *index = -1;
  try {
    *index = Search(name ? name : "", from, to);
    return kOk;
  } catch (...) {
    return kFailed;
  }
}

HRESULT QON_STDCALL ParamsList::GetValue(const char* name, int32_t from, int32_t to,
                                         VARIANT* value) {
  if (!value) return kFailed;
  try {
    platform::VariantClear(value);
    const int32_t i = Search(name ? name : "", from, to);
    if (i < 0) return kOk;
    return Answer(*items_[static_cast<size_t>(i)], value);
  } catch (...) {
    return kFailed;
  }
}

HRESULT QON_STDCALL ParamsList::GetValueDef(const char* name, const VARIANT* fallback, int32_t from,
                                            int32_t to, VARIANT* value) {
  if (!value) return kFailed;
  try {
    platform::VariantClear(value);
    const int32_t i = Search(name ? name : "", from, to);
    if (i >= 0) return Answer(*items_[static_cast<size_t>(i)], value);
    const VARIANT* src = fallback;
    if (!src) return kOk;
    return platform::VariantCopy(value, src) == 0 ? kOk : kFailed;
  } catch (...) {
    return kFailed;
  }
}

HRESULT QON_STDCALL ParamsList::Add(const char* name, const VARIANT* value, IListItemA** item) {
  return Insert(static_cast<int32_t>(items_.size()), name, value, item);
}

HRESULT QON_STDCALL ParamsList::Insert(int32_t index, const char* name, const VARIANT* value,
                                       IListItemA** item) {
  ClearOut(item);
  try {
    const std::string_view n = name ? name : "";
    if (BlankName(n)) return kOk;
    if (index < 0 || static_cast<size_t>(index) > items_.size()) return kFailed;
    auto it = NewItem(n, IncomingValue(value, false));
    items_.insert(items_.begin() + index, it);
    HandOut(it, item);
    return kOk;
  } catch (...) {
    return kFailed;
  }
}

HRESULT QON_STDCALL ParamsList::SetValue(const char* name, const VARIANT* value, bool create,
                                         IListItemA** item) {
  ClearOut(item);
  try {
    const std::string_view n = name ? name : "";
    const int32_t i = Search(n, 0, -1);
    std::shared_ptr<ListItem> it;
    if (i >= 0) {
      it = items_[static_cast<size_t>(i)];
    } else {
      if (!create || BlankName(n)) return kOk;
      it = NewItem(n, Value::Null());
      items_.push_back(it);
    }
    it->value = IncomingValue(value, false);
    HandOut(it, item);
    return kOk;
  } catch (...) {
    return kFailed;
  }
}

HRESULT QON_STDCALL ParamsList::AddItemFrom(IListItemA* source, IListItemA** item) {
  ClearOut(item);
  if (!source) return kFailed;
  try {
    Value v;
    if (source->GetValue(v.out()) != kOk) return kFailed;
    return Add(source->GetName(), &v.get(), item);
  } catch (...) {
    return kFailed;
  }
}

namespace {

template <class ItemOf>
std::vector<Record> Rows(size_t count, ItemOf&& item_of) {
  std::vector<Record> out;
  Record current;
  for (size_t i = 0; i < count; ++i) {
    Field f;
    bool separator = false;
    item_of(i, &f, &separator);
    if (separator) {
      if (!current.empty()) out.push_back(std::move(current));
      current.clear();
      continue;
    }
    current.push_back(std::move(f));
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

}  // namespace

std::vector<Record> ReadRecords(IListA* list) {
  // A list of the plug-in's is read through its slots by position, as a host
  // in another language reads it: its class is none of this kit's.
  if (!list) return {};
  const int32_t count = Slot<int32_t>(list, 3);  // GetCount
  return Rows(count > 0 ? static_cast<size_t>(count) : 0, [list](size_t i, Field* f, bool* sep) {
    IListItemA* item = nullptr;
    if (Slot<HRESULT>(list, 12, static_cast<int32_t>(i), &item) != kOk || !item)  // GetItem
      throw std::runtime_error("the list refused an item");
    struct Releaser {
      IListItemA* p;
      ~Releaser() { Slot<uint32_t>(p, 2); }  // Release
    } release{item};
    *sep = Slot<bool>(item, 13);  // IsNewRow
    if (*sep) return;
    const char* name = Slot<const char*>(item, 12);  // GetName
    f->name = name ? name : "";
    f->data_type = Slot<int32_t>(item, 7);               // GetDataType
    if (Slot<HRESULT>(item, 10, f->value.out()) != kOk)  // GetValue
      throw std::runtime_error("the list refused the value of " + f->name);
  });
}

std::vector<Record> ReadRecords(const ParamsList& list) {
  return Rows(list.Size(), [&list](size_t i, Field* f, bool* sep) {
    const ListItem& it = list.At(i);
    *sep = it.IsRowSeparator();
    if (*sep) return;
    f->name = it.name;
    f->data_type = it.data_type;
    f->value = it.value;
  });
}

}  // namespace host
