#pragma once
// What the data module needs from its translator: language files, the list
// of translatable property names, and translating the module's texts.
#include <string>
#include <string_view>
#include <vector>

class TqonPlugin;

class TPluginTranslator {
 public:
  virtual ~TPluginTranslator() = default;

  // Sets the candidate language files ("plugins.lng" beside the host
  // program, then the library's own .lng) and answers the start language:
  // the files' default when the library's own file exists, else "EN" with
  // no files set.
  virtual std::string SetupLanguageFiles(const std::string& host_program_file,
                                         const std::string& library_file);
  virtual bool HasLanguageFiles() const { return false; }
  // Translates the module's texts (set back to their built-in "EN" form by
  // the caller) into the language; false when nothing was translated.
  virtual bool Translate(TqonPlugin& module, const std::string& language);

  // Upper-case names; a name is listed once.
  void AddComponentProperty(std::string_view name);
  std::vector<std::string> ComponentProperties() const { return properties_; }

 private:
  std::vector<std::string> properties_;
};
