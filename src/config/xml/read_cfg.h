#pragma once
// Typed reads of configuration values out of an XML tree. Every reader takes
// a start node that may be absent and answers its default when nothing
// usable is found; none of them throws for bad content.
#include <cstdint>
#include <string>
#include <string_view>

#include "config/xml/dov_xml_tree.h"

// start itself when its name matches, else its first matching descendant
// (recursive) or child; then the same on fallback when nothing was found.
const TdovXMLNode* ReadCfgNode(const TdovXMLNode* start, std::string_view name,
                               bool recursive = true, const TdovXMLNode* fallback = nullptr);

// The found node's text, even when empty; fallback text only when no node is
// found. found (when given) receives the node or nullptr.
std::string ReadCfgText(const TdovXMLNode* start, std::string_view name, std::string_view def,
                        bool recursive = true, const TdovXMLNode* fallback = nullptr,
                        const TdovXMLNode** found = nullptr);

// The text by the library's integer rule; def when missing, empty or not a
// whole number.
int32_t ReadCfgInt(const TdovXMLNode* start, std::string_view name, int32_t def,
                   bool recursive = true, const TdovXMLNode* fallback = nullptr);

std::string ReadCfgAttr(const TdovXMLNode* node, std::string_view attribute, std::string_view def);

// A tri-state check box value 0..5 from an attribute; def otherwise.
int ReadCfgCheckState(const TdovXMLNode* node, int def, std::string_view attribute);

// Text "1" is true, any other non-empty text false; an element without text
// answers by its "check" attribute (2 true, 4 or none def, others false).
bool ReadCfgBool(const TdovXMLNode* start, std::string_view name, bool def, bool recursive = true,
                 const TdovXMLNode* fallback = nullptr);

// The "caption" attribute, else name + " #" + index.
std::string ReadCfgCaption(const TdovXMLNode* node, std::string_view name, int index);
