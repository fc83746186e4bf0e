#pragma once
// The data module's translator: the language files of the plug-in, the list
// of translatable property names, and the translation of the module and the
// components it owns.
#include <string>
#include <string_view>
#include <vector>

#include "config/text/translator.h"

class TComponent;

class TPluginTranslator {
 public:
  virtual ~TPluginTranslator() = default;

  // Sets the candidate language files ("plugins.lng" beside the host
  // program, then the library's own .lng) and answers the start language:
  // the files' default when the library's own file exists, else "EN" with
  // no files set.
  virtual std::string SetupLanguageFiles(const std::string& host_program_file,
                                         const std::string& library_file);
  virtual bool HasLanguageFiles() const { return !translator_.LanguageFiles.empty(); }
  // Translates the module's texts (set back to their built-in "EN" form by
  // the caller) into the language; false when nothing was translated.
  virtual bool Translate(TComponent& module, const std::string& language);

  // Upper-case names; a name is listed once.
  void AddComponentProperty(std::string_view name) { translator_.AddComponentProperty(name); }
  std::vector<std::string> ComponentProperties() const {
    return translator_.ComponentProperties.Items();
  }
  TTranslator& Component() { return translator_; }

 private:
  TTranslator translator_;
};
