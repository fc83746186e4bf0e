#include "host_list.h"

#include <cstring>

#include "host_os.h"

namespace host {
namespace {

constexpr int32_t kNewRow = 0xFF01;

// {33316D29-0F86-41C4-8DB4-3FE9756158B1} and its item forms, as they lie in memory.
constexpr unsigned char kListAId[16] = {0x29, 0x6D, 0x31, 0x33, 0x86, 0x0F, 0xC4, 0x41,
                                        0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB1};
constexpr unsigned char kItemAId[16] = {0x29, 0x6D, 0x31, 0x33, 0x86, 0x0F, 0xC4, 0x41,
                                        0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB4};

template <class F>
AnyFn Fn(F* f) {
  return reinterpret_cast<AnyFn>(f);
}
Item* I(void* self) {
  return static_cast<Item*>(self);
}
List* L(void* self) {
  return static_cast<List*>(self);
}

bool SameAscii(const std::string& a, const char* b) {
  if (!b || a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

Item* Out(Item* item, void** out) {
  if (out) {
    *out = item;
    if (item) ++item->refs;
  }
  return item;
}

// --- item slots ---
HResult HOST_STDCALL ItemQI(void* self, const void* iid, void** out) {
  *out = nullptr;
  if (std::memcmp(iid, kItemAId, 16) != 0) return kNoInterface;
  ++I(self)->refs;
  *out = self;
  return kOk;
}
uint32_t HOST_STDCALL ItemAddRef(void* self) {
  return static_cast<uint32_t>(++I(self)->refs);
}
uint32_t HOST_STDCALL ItemRelease(void* self) {
  return static_cast<uint32_t>(--I(self)->refs);
}
void HOST_STDCALL ItemSetKey(void* self, const char* key) {
  I(self)->key = key ? key : "";
}
void HOST_STDCALL ItemSetDataType(void* self, int32_t t) {
  I(self)->data_type = t;
}
void HOST_STDCALL ItemSetFlags(void* self, uint8_t f) {
  I(self)->flags = f;
}
const char* HOST_STDCALL ItemGetKey(void* self) {
  return I(self)->key.c_str();
}
int32_t HOST_STDCALL ItemGetDataType(void* self) {
  return I(self)->data_type;
}
uint8_t HOST_STDCALL ItemGetFlags(void* self) {
  return I(self)->flags;
}
HResult HOST_STDCALL ItemSetValue(void* self, const Variant* v) {
  I(self)->value = v ? Value(*v) : Value();
  return kOk;
}
HResult HOST_STDCALL ItemGetValue(void* self, Variant* out) {
  I(self)->value.CopyTo(out);
  return kOk;
}
void HOST_STDCALL ItemSetName(void* self, const char* n) {
  I(self)->name = n ? n : "";
}
const char* HOST_STDCALL ItemGetName(void* self) {
  return I(self)->name.c_str();
}
bool HOST_STDCALL ItemIsNewRow(void* self) {
  return I(self)->data_type == kNewRow;
}
void HOST_STDCALL ItemUnexpected(void*) {}

const AnyFn kItemTable[] = {
    Fn(ItemQI),          Fn(ItemAddRef),     Fn(ItemRelease),    Fn(ItemSetKey),
    Fn(ItemSetDataType), Fn(ItemSetFlags),   Fn(ItemGetKey),     Fn(ItemGetDataType),
    Fn(ItemGetFlags),    Fn(ItemSetValue),   Fn(ItemGetValue),   Fn(ItemSetName),
    Fn(ItemGetName),     Fn(ItemIsNewRow),   Fn(ItemUnexpected), Fn(ItemUnexpected),
    Fn(ItemUnexpected),  Fn(ItemUnexpected),
};
static_assert(sizeof(kItemTable) / sizeof(kItemTable[0]) == 18);

// --- list slots ---
HResult HOST_STDCALL ListQI(void* self, const void* iid, void** out) {
  *out = nullptr;
  if (std::memcmp(iid, kListAId, 16) != 0) return kNoInterface;
  ++L(self)->refs;
  *out = self;
  return kOk;
}
uint32_t HOST_STDCALL ListAddRef(void* self) {
  return static_cast<uint32_t>(++L(self)->refs);
}
uint32_t HOST_STDCALL ListRelease(void* self) {
  return static_cast<uint32_t>(--L(self)->refs);
}
int32_t HOST_STDCALL ListGetCount(void* self) {
  return static_cast<int32_t>(L(self)->items.size());
}
int32_t HOST_STDCALL ListGetSignature(void*) {
  return 0x0FDE2E4B;
}
int32_t HOST_STDCALL ListGetTag(void*) {
  return 0;
}
void HOST_STDCALL ListSetTag(void*, int32_t) {}
void HOST_STDCALL ListClear(void* self) {
  List* list = L(self);
  for (auto& item : list->items)
    list->retired.push_back(std::move(item));
  list->items.clear();
}
void HOST_STDCALL ListDelete(void* self, int32_t index) {
  List* list = L(self);
  if (index < 0 || index >= static_cast<int32_t>(list->items.size())) return;
  list->retired.push_back(std::move(list->items[static_cast<size_t>(index)]));
  list->items.erase(list->items.begin() + index);
}
bool HOST_STDCALL ListFindEndOfRow(void* self, int32_t from, int32_t* index, bool* separator) {
  List* list = L(self);
  const auto n = static_cast<int32_t>(list->items.size());
  for (int32_t i = from < 0 ? 0 : from; i < n; ++i) {
    if (list->items[static_cast<size_t>(i)]->data_type == kNewRow) {
      *index = i;
      *separator = true;
      return true;
    }
  }
  *index = n - 1;
  *separator = false;
  return n > 0;
}
void HOST_STDCALL ListAddNewRow(void* self) {
  List* list = L(self);
  if (!list->items.empty() && list->items.back()->data_type == kNewRow) return;
  list->items.push_back(std::make_unique<Item>("$NEW_ROW$"));
  list->items.back()->data_type = kNewRow;
}
void HOST_STDCALL ListUnexpected(void* self) {
  ++L(self)->unexpected_calls;
}
HResult HOST_STDCALL ListGetItem(void* self, int32_t index, void** out) {
  *out = nullptr;
  List* list = L(self);
  if (index < 0 || index >= static_cast<int32_t>(list->items.size())) return kFail;
  Out(list->items[static_cast<size_t>(index)].get(), out);
  return kOk;
}
HResult HOST_STDCALL ListFindItem(void* self, const char* name, int32_t, int32_t, void** out) {
  *out = nullptr;
  Out(L(self)->Find(name ? name : ""), out);
  return kOk;
}
HResult HOST_STDCALL ListIndexOf(void* self, const char* name, int32_t, int32_t, int32_t* index) {
  *index = -1;
  List* list = L(self);
  for (size_t i = 0; i < list->items.size(); ++i) {
    if (SameAscii(list->items[i]->name, name)) {
      *index = static_cast<int32_t>(i);
      break;
    }
  }
  return kOk;
}
HResult HOST_STDCALL ListGetValue(void* self, const char* name, int32_t, int32_t, Variant* out) {
  Item* item = L(self)->Find(name ? name : "");
  (item ? item->value : Value()).CopyTo(out);
  return kOk;
}
HResult HOST_STDCALL ListGetValueDef(void* self, const char* name, const Variant* fallback, int32_t,
                                     int32_t, Variant* out) {
  Item* item = L(self)->Find(name ? name : "");
  (item ? item->value : (fallback ? Value(*fallback) : Value())).CopyTo(out);
  return kOk;
}
HResult HOST_STDCALL ListAdd(void* self, const char* name, const Variant* value, void** out) {
  if (out) *out = nullptr;
  if (!name || !*name) return kFail;
  List* list = L(self);
  list->items.push_back(std::make_unique<Item>(name));
  if (value) list->items.back()->value = Value(*value);
  Out(list->items.back().get(), out);
  return kOk;
}
HResult HOST_STDCALL ListSetValue(void* self, const char* name, const Variant* value, bool create,
                                  void** out) {
  if (out) *out = nullptr;
  List* list = L(self);
  Item* item = list->Find(name ? name : "");
  if (!item) {
    if (!create) return kOk;
    return ListAdd(self, name, value, out);
  }
  item->value = value ? Value(*value) : Value();
  Out(item, out);
  return kOk;
}

const AnyFn kListTable[] = {
    Fn(ListQI),           Fn(ListAddRef),       Fn(ListRelease),     Fn(ListGetCount),
    Fn(ListGetSignature), Fn(ListGetTag),       Fn(ListSetTag),      Fn(ListClear),
    Fn(ListDelete),       Fn(ListFindEndOfRow), Fn(ListAddNewRow),   Fn(ListUnexpected),
    Fn(ListGetItem),      Fn(ListUnexpected),   Fn(ListUnexpected),  Fn(ListFindItem),
    Fn(ListIndexOf),      Fn(ListGetValue),     Fn(ListGetValueDef), Fn(ListAdd),
    Fn(ListUnexpected),   Fn(ListSetValue),     Fn(ListUnexpected),
};
static_assert(sizeof(kListTable) / sizeof(kListTable[0]) == 23);

}  // namespace

// --- values ---

Value& Value::operator=(const Value& o) {
  if (this != &o) {
    Clear();
    CopyFrom(o.v_);
  }
  return *this;
}

void Value::CopyFrom(const Variant& raw) {
  v_ = raw;
  if (raw.vt == VT_BSTR && raw.bstrVal)
    v_.bstrVal = hostos::AllocBstr(raw.bstrVal, hostos::BstrLength(raw.bstrVal));
}

void Value::Clear() {
  if (v_.vt == VT_BSTR) hostos::FreeBstr(v_.bstrVal);
  v_ = Variant{};
  v_.vt = VT_EMPTY;
}

Value Value::Int(int32_t v) {
  Value r;
  r.v_.vt = VT_I4;
  r.v_.lVal = v;
  return r;
}
Value Value::Int64(int64_t v) {
  Value r;
  r.v_.vt = VT_I8;
  r.v_.llVal = v;
  return r;
}
Value Value::Bool(bool v) {
  Value r;
  r.v_.vt = VT_BOOL;
  r.v_.boolVal = v ? -1 : 0;
  return r;
}
Value Value::Text(const std::string& ascii) {
  std::u16string wide(ascii.begin(), ascii.end());
  Value r;
  r.v_.vt = VT_BSTR;
  r.v_.bstrVal = hostos::AllocBstr(wide.data(), static_cast<uint32_t>(wide.size()));
  return r;
}

std::string Value::AsText() const {
  switch (v_.vt) {
    case VT_BSTR: {
      std::string s;
      const uint32_t n = hostos::BstrLength(v_.bstrVal);
      for (uint32_t i = 0; i < n; ++i)
        s += v_.bstrVal[i] < 128 ? static_cast<char>(v_.bstrVal[i]) : '?';
      return s;
    }
    case VT_EMPTY:
    case VT_NULL:
      return "";
    default:
      return std::to_string(AsInt());
  }
}

int64_t Value::AsInt() const {
  switch (v_.vt) {
    case VT_I4:
      return v_.lVal;
    case VT_UI4:
      return v_.ulVal;
    case VT_I8:
    case VT_UI8:
      return v_.llVal;
    case VT_BOOL:
      return v_.boolVal ? 1 : 0;
    case VT_BSTR:
      return std::stoll(AsText());
    default:
      return 0;
  }
}

void Value::CopyTo(Variant* out) const {
  ClearVariant(out);
  *out = v_;
  if (v_.vt == VT_BSTR && v_.bstrVal)
    out->bstrVal = hostos::AllocBstr(v_.bstrVal, hostos::BstrLength(v_.bstrVal));
}

void ClearVariant(Variant* v) {
  if (v->vt == VT_BSTR) hostos::FreeBstr(v->bstrVal);
  *v = Variant{};
}

Item::Item(std::string n) : table(kItemTable), name(std::move(n)) {}

List::List() : table(kListTable) {}

Item& List::Set(const std::string& name, Value value) {
  Item* item = Find(name);
  if (!item) {
    items.push_back(std::make_unique<Item>(name));
    item = items.back().get();
  }
  item->value = value;
  return *item;
}

Item* List::Find(const std::string& name) const {
  for (const auto& item : items)
    if (SameAscii(item->name, name.c_str())) return item.get();
  return nullptr;
}

Value List::Get(const std::string& name) const {
  Item* item = Find(name);
  return item ? item->value : Value();
}

std::vector<ReadItem> ReadLibraryList(const void* list) {
  std::vector<ReadItem> out;
  const int32_t count = Slot<int32_t>(list, 3);
  for (int32_t i = 0; i < count; ++i) {
    void* item = nullptr;
    if (Slot<HResult>(list, 12, i, &item) != kOk || !item) continue;
    ReadItem r;
    const char* name = Slot<const char*>(item, 12);
    r.name = name ? name : "";
    r.data_type = Slot<int32_t>(item, 7);
    Variant v{};
    Slot<HResult>(item, 10, &v);
    r.value = Value(v);
    ClearVariant(&v);
    Slot<uint32_t>(item, 2);
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace host
