#include "host_list.h"

#include <cstring>

#include "platform/abi.h"

namespace host {
namespace {

using platform::HRESULT;
using platform::VARIANT;
using platform::WChar;

constexpr HRESULT kOk = 0;
constexpr HRESULT kFail = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);

// {33316D29-0F86-41C4-8DB4-3FE9756158B1}, byte for byte as it lies in memory.
constexpr unsigned char kListAId[16] = {0x29, 0x6D, 0x31, 0x33, 0x86, 0x0F, 0xC4, 0x41,
                                        0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB1};
constexpr unsigned char kItemAId[16] = {0x29, 0x6D, 0x31, 0x33, 0x86, 0x0F, 0xC4, 0x41,
                                        0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB4};
constexpr unsigned char kItemWId[16] = {0x29, 0x6D, 0x31, 0x33, 0x86, 0x0F, 0xC4, 0x41,
                                        0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB6};

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

// --- item slots ---
HRESULT QON_STDCALL ItemQI(void* self, const void* iid, void** out) {
  *out = nullptr;
  if (std::memcmp(iid, kItemAId, 16) != 0 && std::memcmp(iid, kItemWId, 16) != 0)
    return kNoInterface;
  ++I(self)->refs;
  *out = self;
  return kOk;
}
uint32_t QON_STDCALL ItemAddRef(void* self) {
  return static_cast<uint32_t>(++I(self)->refs);
}
uint32_t QON_STDCALL ItemRelease(void* self) {
  return static_cast<uint32_t>(--I(self)->refs);
}
void QON_STDCALL ItemSetKey(void* self, const char* key) {
  I(self)->key = key ? key : "";
}
void QON_STDCALL ItemSetDataType(void* self, int32_t t) {
  I(self)->data_type = t;
}
void QON_STDCALL ItemSetFlags(void* self, uint8_t f) {
  I(self)->flags = f;
}
const char* QON_STDCALL ItemGetKey(void* self) {
  return I(self)->key.empty() ? nullptr : I(self)->key.c_str();
}
int32_t QON_STDCALL ItemGetDataType(void* self) {
  return I(self)->data_type;
}
uint8_t QON_STDCALL ItemGetFlags(void* self) {
  return I(self)->flags;
}
HRESULT QON_STDCALL ItemSetValue(void* self, const VARIANT* v) {
  return platform::VariantCopy(&I(self)->value, v);
}
HRESULT QON_STDCALL ItemGetValue(void* self, VARIANT* out) {
  platform::VariantClear(out);
  Item* item = I(self);
  if (item->answer_ansi_pointer) {
    out->vt = platform::VT_HOST_ANSI_STRING;
    out->byref = item->ansi_text.data();
    return kOk;
  }
  return platform::VariantCopy(out, &item->value);
}
void QON_STDCALL ItemSetName(void* self, const char* n) {
  I(self)->name = n ? n : "";
}
const char* QON_STDCALL ItemGetName(void* self) {
  return I(self)->name.empty() ? nullptr : I(self)->name.c_str();
}
bool QON_STDCALL ItemIsNewRow(void* self) {
  return I(self)->data_type == 0xFF01;
}
void QON_STDCALL ItemSetNameW(void* self, const WChar* n) {
  I(self)->name_w = n ? platform::WString(n) : platform::WString();
}
const WChar* QON_STDCALL ItemGetNameW(void* self) {
  return I(self)->name_w.empty() ? nullptr : I(self)->name_w.c_str();
}
HRESULT QON_STDCALL ItemSetValueW(void* self, const VARIANT* v) {
  return platform::VariantCopy(&I(self)->value_w, v);
}
HRESULT QON_STDCALL ItemGetValueW(void* self, VARIANT* out) {
  platform::VariantClear(out);
  return platform::VariantCopy(out, &I(self)->value_w);
}

const AnyFn kItemTable[] = {
    Fn(ItemQI),       Fn(ItemAddRef),    Fn(ItemRelease),     Fn(ItemSetKey),   Fn(ItemSetDataType),
    Fn(ItemSetFlags), Fn(ItemGetKey),    Fn(ItemGetDataType), Fn(ItemGetFlags), Fn(ItemSetValue),
    Fn(ItemGetValue), Fn(ItemSetName),   Fn(ItemGetName),     Fn(ItemIsNewRow), Fn(ItemSetNameW),
    Fn(ItemGetNameW), Fn(ItemSetValueW), Fn(ItemGetValueW),
};
static_assert(sizeof(kItemTable) / sizeof(kItemTable[0]) == 18);

// --- list slots ---
HRESULT QON_STDCALL ListQI(void* self, const void* iid, void** out) {
  *out = nullptr;
  if (std::memcmp(iid, kListAId, 16) != 0) return kNoInterface;
  ++L(self)->refs;
  *out = self;
  return kOk;
}
uint32_t QON_STDCALL ListAddRef(void* self) {
  return static_cast<uint32_t>(++L(self)->refs);
}
uint32_t QON_STDCALL ListRelease(void* self) {
  return static_cast<uint32_t>(--L(self)->refs);
}
int32_t QON_STDCALL ListGetCount(void* self) {
  return static_cast<int32_t>(L(self)->items.size());
}
int32_t QON_STDCALL ListGetSignature(void*) {
  return 0x0FDE2E4B;
}
HRESULT QON_STDCALL ListGetItem(void* self, int32_t index, void** out) {
  *out = nullptr;
  List* list = L(self);
  if (index < 0 || index >= static_cast<int32_t>(list->items.size())) return kOk;
  Item* item = list->items[static_cast<size_t>(index)].get();
  ++item->refs;
  *out = item;
  return kOk;
}
HRESULT QON_STDCALL ListGetValue(void* self, const char* name, int32_t, int32_t, VARIANT* out) {
  platform::VariantClear(out);
  for (auto& item : L(self)->items)
    if (platform::SameTextAscii(item->name, name ? name : "")) return ItemGetValue(item.get(), out);
  return kOk;
}
// Slots the library has no business calling on a host's parameter list.
void QON_STDCALL ListUnexpected(void* self) {
  ++L(self)->unexpected_calls;
}

const AnyFn kListTable[] = {
    Fn(ListQI),           Fn(ListAddRef),     Fn(ListRelease),    Fn(ListGetCount),
    Fn(ListGetSignature), Fn(ListUnexpected), Fn(ListUnexpected), Fn(ListUnexpected),
    Fn(ListUnexpected),   Fn(ListUnexpected), Fn(ListUnexpected), Fn(ListUnexpected),
    Fn(ListGetItem),      Fn(ListUnexpected), Fn(ListUnexpected), Fn(ListUnexpected),
    Fn(ListUnexpected),   Fn(ListGetValue),   Fn(ListUnexpected), Fn(ListUnexpected),
    Fn(ListUnexpected),   Fn(ListUnexpected), Fn(ListUnexpected),
};
static_assert(sizeof(kListTable) / sizeof(kListTable[0]) == 23);

}  // namespace

Item::Item(std::string n, VARIANT v) : table(kItemTable), name(std::move(n)), value(v) {
  name_w = platform::AnsiToWide(name);
  platform::VariantInit(&value_w);
  platform::VariantCopy(&value_w, &value);
}

Item::~Item() {
  platform::VariantClear(&value);
  platform::VariantClear(&value_w);
}

List::List() : table(kListTable) {}

Item& List::Add(const std::string& name, VARIANT value) {
  items.push_back(std::make_unique<Item>(name, value));
  return *items.back();
}

Item& List::AddText(const std::string& name, const std::string& text) {
  return Add(name, TextVariant(text));
}

Item& List::AddInt(const std::string& name, int32_t v) {
  return Add(name, IntVariant(v));
}

VARIANT IntVariant(int32_t v) {
  VARIANT r;
  platform::VariantInit(&r);
  r.vt = platform::VT_I4;
  r.lVal = v;
  return r;
}

VARIANT TextVariant(const std::string& text) {
  VARIANT r;
  platform::VariantInit(&r);
  r.vt = platform::VT_BSTR;
  r.bstrVal = platform::AllocBstrFromAnsi(text);
  return r;
}

}  // namespace host
