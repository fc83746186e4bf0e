#include "plugin/plugin_translator.h"

#include "platform/strings.h"

std::string TPluginTranslator::SetupLanguageFiles(const std::string&, const std::string&) {
  return "EN";
}

bool TPluginTranslator::Translate(TqonPlugin&, const std::string&) {
  return false;
}

void TPluginTranslator::AddComponentProperty(std::string_view name) {
  const std::string upper = platform::AsciiUpperCase(name);
  if (upper.empty()) return;
  for (const std::string& p : properties_)
    if (p == upper) return;
  properties_.push_back(upper);
}
