#pragma once
// A parameter list as the host implements it: plain structures with slot
// tables in the published order, no part of the library involved.
#include <memory>
#include <string>
#include <vector>

#include "host_abi.h"

namespace host {

using AnyFn = void (*)();

// A variant the host owns; strings are BSTRs of the system's allocator.
class Value {
 public:
  Value() { v_.vt = VT_EMPTY; }
  explicit Value(const Variant& raw) { CopyFrom(raw); }
  Value(const Value& o) { CopyFrom(o.v_); }
  Value& operator=(const Value& o);
  ~Value() { Clear(); }

  static Value Int(int32_t v);
  static Value Int64(int64_t v);
  static Value Bool(bool v);
  static Value Text(const std::string& ascii);

  const Variant& Raw() const { return v_; }
  uint16_t Type() const { return v_.vt; }
  // ASCII text of a string; integers in decimal; booleans as 1/0.
  std::string AsText() const;
  int64_t AsInt() const;
  // Writes a deep copy into a variant the caller owns, clearing it first.
  void CopyTo(Variant* out) const;

 private:
  void CopyFrom(const Variant& raw);
  void Clear();
  Variant v_{};
};

// Frees what an out-variant filled by the library holds.
void ClearVariant(Variant* v);

struct Item {
  const AnyFn* table;  // must stay the first member
  int refs = 1;
  std::string name;
  std::string key;
  int32_t data_type = 0;
  uint8_t flags = 0;
  Value value;
  explicit Item(std::string n);
};

struct List {
  const AnyFn* table;  // must stay the first member
  int refs = 1;
  std::vector<std::unique_ptr<Item>> items;
  // Items removed while the library may still hold a reference.
  std::vector<std::unique_ptr<Item>> retired;
  int unexpected_calls = 0;

  List();
  Item& Set(const std::string& name, Value value);
  Item* Find(const std::string& name) const;
  Value Get(const std::string& name) const;
  // What Params carries: a pointer to a variable holding the interface.
  uintptr_t ParamsPointer() {
    self_ = this;
    return reinterpret_cast<uintptr_t>(&self_);
  }

 private:
  void* self_ = nullptr;
};

// Reads a list the library hands to the host (an interface pointer).
struct ReadItem {
  std::string name;
  int32_t data_type = 0;
  Value value;
};
std::vector<ReadItem> ReadLibraryList(const void* list_intf);

}  // namespace host
