#pragma once
// A small, lenient XML reader for the query configuration. It never rejects a
// text: malformed input yields whatever tree the tokens build. Searching and
// destroying work without recursion, so any nesting depth is safe.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TdovXMLAttribute {
 public:
  TdovXMLAttribute(std::string name, std::string value)
      : Name(std::move(name)), Value(std::move(value)) {}

  std::string Name;
  std::string Value;  // entity references already decoded
};

class TdovXMLNode {
 public:
  TdovXMLNode(std::string name, std::string value, TdovXMLNode* parent);
  virtual ~TdovXMLNode();
  TdovXMLNode(const TdovXMLNode&) = delete;
  TdovXMLNode& operator=(const TdovXMLNode&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }
  bool IsCData() const { return cdata_; }
  void SetCData(bool cdata) { cdata_ = cdata; }
  TdovXMLNode* Parent() const { return parent_; }

  size_t ChildCount() const { return children_.size(); }
  TdovXMLNode* Child(size_t index) const { return children_[index].get(); }
  size_t AttributeCount() const { return attributes_.size(); }
  const TdovXMLAttribute& Attribute(size_t index) const { return *attributes_[index]; }

  // Appends a new element as the last child and returns it.
  TdovXMLNode* AddChild(std::string name);
  TdovXMLAttribute& AddAttribute(std::string name, std::string value);
  void ClearChildren();
  void ClearAttributes() { attributes_.clear(); }

  // Depth-first, pre-order search of the descendants (not this node) for an
  // element name equal to name in ASCII letters without regard to case.
  TdovXMLNode* FindDescendant(std::string_view name) const;
  // First direct child with that name (ASCII case ignored).
  TdovXMLNode* FindChild(std::string_view name) const;
  // First attribute with exactly that name (case matters).
  const TdovXMLAttribute* FindAttribute(std::string_view name) const;
  // The attribute's value, or fallback when it is missing or empty.
  std::string AttributeValue(std::string_view name, std::string_view fallback) const;

 private:
  std::string name_;
  std::string text_;
  std::vector<std::unique_ptr<TdovXMLNode>> children_;
  std::vector<std::unique_ptr<TdovXMLAttribute>> attributes_;
  TdovXMLNode* parent_;
  bool cdata_ = false;
};

// The document. Top-level elements are its children; after a non-empty text
// its own name is "root".
class TdovXMLTree : public TdovXMLNode {
 public:
  TdovXMLTree() : TdovXMLNode(std::string(), std::string(), nullptr) {}

  // Replaces everything read from an earlier text by what this text holds.
  void SetXML(std::string_view text);
};
