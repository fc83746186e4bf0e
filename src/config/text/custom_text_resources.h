#pragma once
// A component that holds message texts of its owner and has them translated
// once, by their built-in English wording.
#include <string>
#include <vector>

#include "base/component.h"
#include "config/text/translator.h"

class TCustomTextResources : public TComponent, public ITranslatedTexts {
 public:
  // The tag keeps a translation walk over the owner away from the texts:
  // they are translated by an explicit call only.
  static constexpr int32_t kTag = 9997;

  explicit TCustomTextResources(TComponent* owner);
  const char* ClassName() const override { return "TCustomTextResources"; }

  // Runs once per object: each registered text, in order, is replaced by its
  // translation. A translation whose printf conversions differ from the
  // built-in text's is refused, and so is any that fails.
  void Translate(TTranslator& translator, const std::string& language) override;
  bool Translated() const { return translated_; }

 protected:
  // Registers a text field; its current value is its built-in wording.
  void RegisterText(std::string* field);

 private:
  struct Entry {
    std::string* field;
    std::string source;
  };
  std::vector<Entry> texts_;
  bool translated_ = false;
};
