#pragma once
// Translates the texts of components from language files. A language file
// is a text of blocks separated by empty lines; in a block the line
// "EN:>text" holds a source text and "XX:>text" its translation into XX.
// Header lines in the first 19 lines set the file's encoding, character set,
// right-to-left mode and locale; an INI section [Languages] lists the
// languages ("$XX=name") and the default one ("Default=XX").
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "config/text/strings.h"

// What reading the language files yields for one pair of languages.
struct TLanguageData {
  std::map<std::string, std::string> Translations;
  int BiDiMode = 0;                   // 0 none, 1 right to left, 2 ... no align, 3 ... reading only
  int Charset = -1;                   // the character set of the last "Charset=" line; -1 none
  uint32_t Locale = 0;                // 0: none
  std::vector<std::string> Switches;  // "//filenew" and the like, as found
};

// Adds what one file yields. The file may hold any bytes.
void ParseLanguageFile(std::string_view bytes, const std::string& source_language,
                       const std::string& target_language, TLanguageData* data);

class TTranslator;

// A component with texts of its own that a walk reaching it has translate
// them (the translator knows only this, not the holders of the texts).
class ITranslatedTexts {
 public:
  virtual void Translate(TTranslator& translator, const std::string& language) = 0;

 protected:
  ~ITranslatedTexts() = default;
};

class TTranslator : public TComponent {
 public:
  // Tags that keep components out of a walk.
  static constexpr int32_t kTagSkip = 9999;        // the component and all it owns
  static constexpr int32_t kTagNotSelf = 9998;     // the component itself
  static constexpr int32_t kTagCustomOnly = 9997;  // only the custom callback sees it
  static constexpr int32_t kTagMaskFirst = 10000;  // 10000..10047: properties masked by bits
  static constexpr int32_t kTagMaskLast = 10047;

  explicit TTranslator(TComponent* owner = nullptr);
  const char* ClassName() const override { return "TTranslator"; }

  // Candidate files separated by "|"; those that exist are read in order.
  std::string LanguageFiles;
  std::string SourceLanguage = "EN";
  // Upper-case names of the translatable properties.
  TStrings ComponentProperties;
  // Given every translated component, and the components with tag 9997.
  std::function<void(TTranslator&, TComponent&)> OnCustomTranslate;

  // Adds a name (upper-cased) unless it is listed already.
  void AddComponentProperty(std::string_view name);
  // Adds every name of a text separated by ";" or "|".
  void AddComponentProperties(std::string_view names);
  // The "Default" language of the first candidate whose [Languages] section
  // lists at least one language; "" when none.
  std::string DefaultLanguage() const;
  // Reads the files again when the pair of languages changed; true when the
  // target language has at least one translation.
  bool LoadLanguage(const std::string& language);
  // Translates the component (unless its tag is 9998) and walks what it owns.
  // False when the language has no translations (nothing is touched then).
  bool Translate(TComponent& component, const std::string& language);
  // The translation of a text by its wording (also in lower case); false
  // when there is none.
  bool TranslateText(const std::string& text, std::string* out) const;

  const TLanguageData& Language() const { return data_; }
  const std::string& CurrentLanguage() const { return loaded_target_; }

 private:
  void TranslateOne(TComponent& c);
  void WalkOwned(TComponent& c);
  void TranslateProperty(TComponent& c, const TPropInfo& p);

  TLanguageData data_;
  std::string loaded_source_, loaded_target_;
  bool loaded_ = false;
  std::string language_;  // the language of the current walk
};

// The language files of a plug-in: "plugins.lng" beside the host program,
// then the library's own name with ".lng". Sets the translator's files and
// answers the start language: the files' default when the library's own
// file exists ("" when they name none), else "EN" with no files set.
std::string SetupPluginLanguage(TTranslator& translator, const std::string& host_program_file,
                                const std::string& library_file);
