#pragma once
// The host's own parameter list: what the host hands the plug-in as call
// parameters and as the list that receives parsed results, seen by the
// plug-in only through IListA and the item interfaces. Also the reading of a
// list the plug-in hands out (rows of named values).
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/abi.h"

namespace host {

// An owned VARIANT.
class Value {
 public:
  Value() { platform::VariantInit(&v_); }
  explicit Value(const VARIANT& v);
  Value(const Value& other) : Value(other.v_) {}
  Value& operator=(const Value& other);
  ~Value() { platform::VariantClear(&v_); }

  static Value Int(int32_t i);
  static Value Int64(int64_t i);
  static Value Double(double d);
  static Value Date(double days);
  static Value Bool(bool b);
  static Value Text(std::string_view ansi);
  static Value Null();

  const VARIANT& get() const { return v_; }
  VARIANT* out() { return &v_; }
  // Hands the variant over to the caller, who clears it.
  VARIANT Detach() {
    VARIANT r = v_;
    platform::VariantInit(&v_);
    return r;
  }
  bool IsEmpty() const { return v_.vt == platform::VT_EMPTY || v_.vt == platform::VT_NULL; }
  uint16_t Type() const { return v_.vt; }
  // The text of a string value (ANSI); numbers in decimal, booleans 1/0;
  // empty for empty and null.
  std::string AsText() const;
  // Integers, booleans (1/0) and decimal strings; 0 for the rest.
  int64_t AsInt() const;
  // Floating-point and date values as they are; the rest as AsInt.
  double AsDouble() const;

 private:
  VARIANT v_;
};

struct ListItem {
  std::string name;
  std::string key;  // the name in lower case, for look-ups
  int32_t data_type = 0;
  uint8_t flags = 2;
  Value value;
  // When set, the value is answered as the host's own byte string (0x100)
  // pointing at this text, as hosts written in other languages do.
  std::optional<std::string> host_text;
  // Item references handed out and not yet released.
  std::atomic<int> handed_out{0};
  bool IsRowSeparator() const { return data_type == kRowSeparatorType; }
};

// Reference counted; created with one reference that the creator owns
// (ListPtr below releases it).
class ParamsList final : public IListA {
 public:
  static ParamsList* Create();

  // The variable that holds this list's interface: what Params and kind-9
  // descriptors carry.
  uintptr_t InterfaceVariable() { return reinterpret_cast<uintptr_t>(&self_); }

  // Host-side use.
  ListItem& Put(std::string_view name, const Value& value);  // set, created when missing
  const ListItem* Find(std::string_view name) const;
  // References held, the creator's included.
  uint32_t References() const { return refs_; }
  size_t Size() const { return items_.size(); }
  const ListItem& At(size_t i) const { return *items_[i]; }

  HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) override;
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
  HRESULT QON_STDCALL GetItem(int32_t index, IListItemA** item) override;
  HRESULT QON_STDCALL AddItems(void* source, bool* ok) override;
  HRESULT QON_STDCALL AddItemsRange(void* source, int32_t from, int32_t to, bool* ok) override;
  HRESULT QON_STDCALL FindItem(const char* name, int32_t from, int32_t to,
                               IListItemA** item) override;
  HRESULT QON_STDCALL IndexOf(const char* name, int32_t from, int32_t to, int32_t* index) override;
  HRESULT QON_STDCALL GetValue(const char* name, int32_t from, int32_t to, VARIANT* value) override;
  HRESULT QON_STDCALL GetValueDef(const char* name, const VARIANT* fallback, int32_t from,
                                  int32_t to, VARIANT* value) override;
  HRESULT QON_STDCALL Add(const char* name, const VARIANT* value, IListItemA** item) override;
  HRESULT QON_STDCALL Insert(int32_t index, const char* name, const VARIANT* value,
                             IListItemA** item) override;
  HRESULT QON_STDCALL SetValue(const char* name, const VARIANT* value, bool create,
                               IListItemA** item) override;
  HRESULT QON_STDCALL AddItemFrom(IListItemA* source, IListItemA** item) override;

 private:
  ParamsList() = default;
  ~ParamsList() = default;
  int32_t Search(std::string_view name, int32_t from, int32_t to) const;
  std::shared_ptr<ListItem> NewItem(std::string_view name, Value value) const;

  IListA* self_ = this;
  std::atomic<uint32_t> refs_{1};
  int32_t tag_ = 0;
  std::vector<std::shared_ptr<ListItem>> items_;
};

// Owns one reference of a host list.
struct ListReleaser {
  void operator()(ParamsList* list) const { list->Release(); }
};
using ListPtr = std::unique_ptr<ParamsList, ListReleaser>;
inline ListPtr MakeList() {
  return ListPtr(ParamsList::Create());
}

// A value coming in through an interface: a host string variant (0x100 with
// a byte string, 0x102 with a wide string) becomes an OLE string; `wide`
// reads 0x100 as a wide string (the W operations).
Value IncomingValue(const VARIANT* value, bool wide);

struct Field {
  std::string name;
  int32_t data_type = 0;
  Value value;
};
using Record = std::vector<Field>;

// The rows of a list the plug-in hands out, read through its interface; a
// row ends at a row separator, and a last row without one counts too.
// Throws std::runtime_error when the list refuses an item.
std::vector<Record> ReadRecords(IListA* list);
std::vector<Record> ReadRecords(const ParamsList& list);

}  // namespace host
