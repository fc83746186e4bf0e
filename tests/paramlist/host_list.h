#pragma once
// A parameter list as a host application implements it on its side: plain
// structures with hand-made slot tables in the published order, written
// without any of the library's classes or interface headers.
#include <memory>
#include <string>
#include <vector>

#include "platform/strings.h"
#include "platform/variant.h"

namespace host {

using AnyFn = void (*)();

struct Item {
  const AnyFn* table;  // must stay the first member
  int refs = 1;
  std::string name;          // what GetName answers
  platform::WString name_w;  // what GetNameW answers
  std::string key;
  int32_t data_type = 0;
  uint8_t flags = 0;
  platform::VARIANT value{};    // what GetValue answers (copied out)
  platform::VARIANT value_w{};  // what GetValueW answers
  // When set, GetValue answers the host's own byte-string type (0x100)
  // pointing at this text instead of value.
  bool answer_ansi_pointer = false;
  std::string ansi_text;

  Item(std::string n, platform::VARIANT v);
  ~Item();
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;
};

struct List {
  const AnyFn* table;  // must stay the first member
  int refs = 1;
  std::vector<std::unique_ptr<Item>> items;
  int unexpected_calls = 0;

  List();
  Item& Add(const std::string& name, platform::VARIANT value);
  Item& AddText(const std::string& name, const std::string& text);
  Item& AddInt(const std::string& name, int32_t v);
};

// Test helpers for variants the host builds.
platform::VARIANT IntVariant(int32_t v);
platform::VARIANT TextVariant(const std::string& text);

}  // namespace host
