#include "config/text/custom_text_resources.h"

#include "config/text/message_format.h"

TCustomTextResources::TCustomTextResources(TComponent* owner) : TComponent(owner) {
  SetTag(kTag);
}

void TCustomTextResources::RegisterText(std::string* field) {
  texts_.push_back(Entry{field, *field});
}

std::string TCustomTextResources::Text(const std::string& field) const {
  std::shared_lock<std::shared_mutex> guard(texts_lock_);
  return field;
}

void TCustomTextResources::Translate(TTranslator& translator, const std::string& /*language*/) {
  std::unique_lock<std::shared_mutex> guard(texts_lock_);
  if (translated_) return;
  TranslateTexts(translator);
}

void TCustomTextResources::TranslateAgain(TTranslator& translator) {
  std::unique_lock<std::shared_mutex> guard(texts_lock_);
  for (auto& e : texts_)
    *e.field = e.source;
  TranslateTexts(translator);
}

void TCustomTextResources::TranslateTexts(TTranslator& translator) {
  translated_ = true;
  for (auto& e : texts_) {
    try {
      std::string out;
      if (translator.TranslateText(*e.field, &out) && SameConversions(e.source, out))
        *e.field = out;
    } catch (const std::exception&) {
      // The text keeps its built-in wording.
    }
  }
}
