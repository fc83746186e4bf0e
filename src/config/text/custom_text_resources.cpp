#include "config/text/custom_text_resources.h"

#include "config/text/message_format.h"

TCustomTextResources::TCustomTextResources(TComponent* owner) : TComponent(owner) {
  SetTag(kTag);
}

void TCustomTextResources::RegisterText(std::string* field) {
  texts_.push_back(Entry{field, *field});
}

void TCustomTextResources::Translate(TTranslator& translator, const std::string& /*language*/) {
  if (translated_) return;
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
