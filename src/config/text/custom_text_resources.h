#pragma once
// A component that holds message texts of its owner and has them translated
// by their built-in English wording: once at start, and again whenever the
// host switches the language.
#include <shared_mutex>
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
  // After a language switch: every text back to its built-in wording, then
  // translated by the translator's current language.
  void TranslateAgain(TTranslator& translator);
  bool Translated() const { return translated_; }

 protected:
  // Registers a text field; its current value is its built-in wording.
  void RegisterText(std::string* field);
  // A copy of a registered field, safe while another thread switches the
  // language.
  std::string Text(const std::string& field) const;

 private:
  struct Entry {
    std::string* field;
    std::string source;
  };
  void TranslateTexts(TTranslator& translator);

  // Guards the registered fields: data paths format messages with them
  // while a command switches the language.
  mutable std::shared_mutex texts_lock_;
  std::vector<Entry> texts_;
  bool translated_ = false;
};
