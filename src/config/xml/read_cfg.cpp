#include "config/xml/read_cfg.h"

#include "base/str_to_int.h"
#include "platform/strings.h"

namespace {

const TdovXMLNode* FindIn(const TdovXMLNode* start, std::string_view name, bool recursive) {
  if (!start) return nullptr;
  if (platform::SameTextAscii(start->Name(), name)) return start;
  return recursive ? start->FindDescendant(name) : start->FindChild(name);
}

}  // namespace

const TdovXMLNode* ReadCfgNode(const TdovXMLNode* start, std::string_view name, bool recursive,
                               const TdovXMLNode* fallback) {
  const TdovXMLNode* node = FindIn(start, name, recursive);
  if (!node && fallback) node = FindIn(fallback, name, recursive);
  return node;
}

std::string ReadCfgText(const TdovXMLNode* start, std::string_view name, std::string_view def,
                        bool recursive, const TdovXMLNode* fallback, const TdovXMLNode** found) {
  const TdovXMLNode* node = ReadCfgNode(start, name, recursive, fallback);
  if (found) *found = node;
  return node ? node->Text() : std::string(def);
}

int32_t ReadCfgInt(const TdovXMLNode* start, std::string_view name, int32_t def, bool recursive,
                   const TdovXMLNode* fallback) {
  const TdovXMLNode* node = ReadCfgNode(start, name, recursive, fallback);
  int32_t value = 0;
  if (!node || node->Text().empty() || !TryStrToInt(node->Text(), &value)) return def;
  return value;
}

std::string ReadCfgAttr(const TdovXMLNode* node, std::string_view attribute, std::string_view def) {
  if (!node) return std::string(def);
  return node->AttributeValue(attribute, def);
}

int ReadCfgCheckState(const TdovXMLNode* node, int def, std::string_view attribute) {
  const int state = StrToIntDef(ReadCfgAttr(node, attribute, ""), -1);
  return state >= 0 && state <= 5 ? state : def;
}

bool ReadCfgBool(const TdovXMLNode* start, std::string_view name, bool def, bool recursive,
                 const TdovXMLNode* fallback) {
  const TdovXMLNode* node = nullptr;
  const std::string text = ReadCfgText(start, name, "", recursive, fallback, &node);
  if (!text.empty()) return text == "1";
  if (!node) return def;
  // 4 (mixed) means the user made no choice.
  const int state = ReadCfgCheckState(node, 4, "check");
  return state == 4 ? def : state == 2;
}

std::string ReadCfgCaption(const TdovXMLNode* node, std::string_view name, int index) {
  std::string caption = ReadCfgAttr(node, "caption", "");
  if (caption.empty()) caption = std::string(name) + " #" + std::to_string(index);
  return caption;
}
