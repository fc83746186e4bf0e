// Random text through the XML reader and the configuration look-ups on the
// tree it builds. Checks that nothing reads outside the text, that the tree
// is sound (every child knows its parent) and no deeper than the text could
// make it, and that look-ups by any name end.
#include <cstdint>
#include <string>
#include <string_view>

#include "config/xml/dov_xml_tree.h"
#include "config/xml/read_cfg.h"
#include "fuzz_check.h"

namespace {

size_t Walk(const TdovXMLNode& node, size_t depth, size_t limit) {
  Check(depth <= limit, "tree no deeper than the text");
  size_t nodes = 1;
  for (size_t i = 0; i < node.ChildCount(); ++i) {
    const TdovXMLNode* child = node.Child(i);
    Check(child != nullptr && child->Parent() == &node, "child knows its parent");
    nodes += Walk(*child, depth + 1, limit);
  }
  return nodes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TdovXMLTree tree;
  try {
    tree.SetXML(text);
  } catch (const std::exception&) {
    return 0;
  }
  // Every element needs at least "<a>" of the text.
  Check(Walk(tree, 0, size / 3 + 1) <= size / 3 + 1, "node count");

  // The names the plug-in's configuration reads, and the first element's
  // own, through every look-up.
  std::string first = tree.ChildCount() > 0 ? tree.Child(0)->Name() : "x";
  for (const std::string_view name : {std::string_view("Device"), std::string_view("Request"),
                                      std::string_view("Method"), std::string_view(first)}) {
    const TdovXMLNode* node = ReadCfgNode(&tree, name);
    ReadCfgText(&tree, name, "", true, node);
    ReadCfgInt(&tree, name, 7);
    ReadCfgBool(&tree, name, false, false);
    if (node != nullptr) {
      ReadCfgAttr(node, "Enabled", "");
      ReadCfgCheckState(node, 0, "Checked");
      ReadCfgCaption(node, name, 0);
    }
  }
  return 0;
}
