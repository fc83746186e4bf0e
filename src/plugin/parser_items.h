#pragma once
// The parser items a module announces to the host ("ITEMS"): the fields of
// the records it hands over, with caption and type.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One entry of the parser item list.
struct TParserItem {
  std::string Name;
  std::string Caption;
  uint8_t DataType = 0;  // index into kParserItemTypes
  std::string Extra;
};

// The type names of parser items, by DataType; 17 is "none of them".
constexpr char kParserItemTypes[] =
    "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|Date|Time|DateTime|DWord|Byte|"
    "Shortint|Int64|Currency|";
constexpr uint8_t kParserTypeString = 0;
constexpr uint8_t kParserTypeInteger = 8;
constexpr uint8_t kParserTypeDateTime = 11;
constexpr uint8_t kParserTypeNone = 17;

class TParserItemList {
 public:
  int Add(const std::string& name, const std::string& caption, const std::string& extra,
          uint8_t type);
  // Grows the list to reach index.
  void Set(int index, const TParserItem& item);
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear() { items_.clear(); }
  size_t size() const { return items_.size(); }
  const TParserItem& operator[](size_t index) const { return items_[index]; }
  // "Caption|Name|Type|Extra" lines.
  std::string AsText() const;
  void Load(std::string_view text, bool replace);
  // The fields every record carries; CLIENTID only when asked.
  void AddStandard(bool with_client_id);

 private:
  std::vector<TParserItem> items_;
};
