#include "plugin/plugin_translator.h"

#include "base/component.h"

std::string TPluginTranslator::SetupLanguageFiles(const std::string& host_program_file,
                                                  const std::string& library_file) {
  return SetupPluginLanguage(translator_, host_program_file, library_file);
}

bool TPluginTranslator::Translate(TComponent& module, const std::string& language) {
  return translator_.Translate(module, language);
}
