#include "plugin/parser_items.h"

#include "platform/strings.h"
#include "plugin/text_lines.h"

namespace {

const char* const kParserTypeNames[] = {
    "String", "Memo", "Bytes",    "Blob",  "Boolean", "Float",    "Smallint", "Word",     "Integer",
    "Date",   "Time", "DateTime", "DWord", "Byte",    "Shortint", "Int64",    "Currency", ""};
static_assert(sizeof(kParserTypeNames) / sizeof(kParserTypeNames[0]) == kParserTypeNone + 1);

struct StandardItem {
  const char* name;
  const char* caption;
  uint8_t type;
};
const StandardItem kStandardItems[] = {
    {"FULL_DATA_PACKET", "Full data packet", kParserTypeString},
    {"DATA_PACKET", "Data packet", kParserTypeString},
    {"DATE_TIME_STAMP", "Datetime stamp", kParserTypeDateTime},
    {"DATA_SOURCE_ID", "Data source ID", kParserTypeInteger},
    {"DATA_SOURCE_NAME", "Data source name", kParserTypeString},
    {"DATA_SOURCE_FULL_NAME", "Data source long name", kParserTypeString},
    {"CLIENTID", "Client ID", kParserTypeInteger},
};

}  // namespace

int TParserItemList::Add(const std::string& name, const std::string& caption,
                         const std::string& extra, uint8_t type) {
  items_.push_back(TParserItem{name, caption, type, extra});
  return static_cast<int>(items_.size()) - 1;
}

void TParserItemList::Set(int index, const TParserItem& item) {
  if (index < 0) return;
  if (static_cast<size_t>(index) >= items_.size()) items_.resize(static_cast<size_t>(index) + 1);
  items_[static_cast<size_t>(index)] = item;
}

std::string TParserItemList::AsText() const {
  std::string text;
  for (size_t i = 0; i < items_.size(); ++i) {
    const TParserItem& item = items_[i];
    if (i > 0) text += "\r\n";
    const char* type = item.DataType <= kParserTypeNone ? kParserTypeNames[item.DataType] : "";
    text += item.Caption + "|" + item.Name + "|" + type + "|" + item.Extra;
  }
  return text;
}

void TParserItemList::Load(std::string_view text, bool replace) {
  std::vector<TParserItem> parsed;
  for (const std::string& line : SplitLines(text)) {
    if (line.empty()) continue;
    const std::vector<std::string> f = SplitFields(line, "|");
    // A line without a name ends the list: what was read so far is the list.
    if (f.size() < 2) break;
    TParserItem item;
    item.Caption = f[0];
    item.Name = f[1];
    item.DataType = kParserTypeNone;
    if (f.size() > 2) {
      for (uint8_t t = 0; t <= kParserTypeNone; ++t) {
        if (platform::SameTextAscii(f[2], kParserTypeNames[t])) {
          item.DataType = t;
          break;
        }
      }
    }
    if (f.size() > 3) item.Extra = f[3];
    parsed.push_back(std::move(item));
  }
  if (replace) {
    items_ = std::move(parsed);
  } else {
    items_.insert(items_.end(), parsed.begin(), parsed.end());
  }
}

void TParserItemList::AddStandard(bool with_client_id) {
  const size_t count = with_client_id ? 7 : 6;
  for (size_t i = 0; i < count; ++i)
    Add(kStandardItems[i].name, kStandardItems[i].caption, "", kStandardItems[i].type);
}
