#include "plugin/module_settings.h"

#include <array>

#include "base/trim.h"
#include "config/crc32.h"
#include "config/dialog/options_form.h"
#include "config/store/wreg.h"
#include "config/text/qon_str_holder.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/strings.h"

namespace {

class BusyFlag {
 public:
  explicit BusyFlag(bool* flag) : flag_(flag) {
    if (flag_) *flag_ = true;
  }
  ~BusyFlag() {
    if (flag_) *flag_ = false;
  }
  BusyFlag(const BusyFlag&) = delete;
  BusyFlag& operator=(const BusyFlag&) = delete;

 private:
  bool* flag_;
};

bool SettingsPass(bool save, const TSettingsLocation& location, const TStrings& lines,
                  TPersistent* config, const std::string* ini_file, bool* busy) {
  if (lines.Empty()) return false;
  BusyFlag flag(busy);
  TWreg wreg;
  wreg.RegistryRoot = location.RegistryRoot1;
  wreg.SecondRegistryRoot = location.RegistryRoot2;
  wreg.RegistryPath = location.RegistryPath;
  wreg.INIFileSectionPrefix = location.IniSectionPrefix;
  wreg.INIFile = ini_file ? *ini_file : location.IniFile;
  wreg.Components.Assign(lines);
  return save ? wreg.Save(config) : wreg.Load(config);
}

}  // namespace

uint32_t ModuleConfigIdOf(std::string_view name) {
  return Crc32Update(0xFFFFFFFFu, name);
}

void TModuleConfigList::AddConfig(const std::string& name) {
  AddObject(name, ModuleConfigIdOf(name));
}

std::string TModuleConfigList::ConfigsText() {
  auto r = ReadLocked();
  std::string out;
  for (int i = 0; i < r->Count(); ++i) {
    if (i) out += "\r\n";
    out += (*r)[i];
  }
  return out;
}

int TModuleConfigList::FindConfig(uint32_t id, std::string* name) {
  if (id == 0) return -1;
  auto r = ReadLocked();
  for (int i = 0; i < r->Count(); ++i) {
    if (r->Objects(i) == id) {
      if (name) *name = (*r)[i];
      return i;
    }
  }
  return -1;
}

bool LoadSettings(const TSettingsLocation& location, const TStrings& lines, TPersistent* config,
                  const std::string* ini_file, bool* busy) {
  return SettingsPass(false, location, lines, config, ini_file, busy);
}

bool SaveSettings(const TSettingsLocation& location, const TStrings& lines, TPersistent* config,
                  const std::string* ini_file, bool* busy) {
  return SettingsPass(true, location, lines, config, ini_file, busy);
}

std::string SanitizeFileName(std::string_view name, char replacement) {
  std::string out(name);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || c == '"' || c == '*' || c == '/' || c == ':' || c == '<' || c == '>' ||
        c == '?' || c == '\\' || c == '|') {
      c = replacement;
    }
  }
  const std::string upper = platform::AsciiUpperCase(out);
  const bool device = upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0 ||
                      upper == "CON" || upper == "AUX" || upper == "PRN" || upper == "NUL";
  // A name of dots alone would lead out of (or stay in) the parent folder.
  const bool dots = !out.empty() && out.find_first_not_of(". ") == std::string::npos &&
                    out.find('.') != std::string::npos;
  if (device || dots) out.insert(out.begin(), '_');
  return out;
}

std::string GetAppDataPath(const std::string& registry_path, const std::string& library_folder) {
  // The fourth field of "\Software\Company\Product\..." (the first is empty).
  std::string field;
  size_t start = 0;
  for (int n = 0; n < 4; ++n) {
    const size_t bs = registry_path.find('\\', start);
    const std::string part =
        registry_path.substr(start, bs == std::string::npos ? std::string::npos : bs - start);
    if (n == 3) field = part;
    if (bs == std::string::npos) break;
    start = bs + 1;
  }
  const std::string name =
      field.empty() ? std::string() : SanitizeFileName(TrimControls(field), ' ');
  const std::string folder = platform::CommonAppDataFolder();
  if (folder.empty()) return platform::IncludeTrailingDelimiter(library_folder);
  return platform::IncludeTrailingDelimiter(platform::IncludeTrailingDelimiter(folder) + name);
}

std::string GetSubFolder(const std::string& ini_section_prefix) {
  std::string_view s = ini_section_prefix;
  s = TrimControls(s.substr(0, s.find('}')));
  const size_t open = s.find('{');
  if (open == std::string_view::npos) return std::string();
  s = s.substr(open + 1);
  s = TrimControls(s.substr(0, s.find('{')));
  const size_t colon = s.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view after = TrimControls(s.substr(colon + 1));
    if (!after.empty()) s = after;
  }
  return s.empty() ? std::string() : SanitizeFileName(s, '-');
}

std::string GetConfigName(TModuleConfigList* configs, uint32_t config_id, const std::string& title,
                          const std::string& library_file_name) {
  std::string name;
  if (configs && configs->Count() > 0 && configs->FindConfig(config_id, &name) >= 0) {
    return SanitizeFileName(name, '-');
  }
  const std::string_view first_line =
      std::string_view(title).substr(0, title.find_first_of("\r\n"));
  if (!first_line.empty()) return SanitizeFileName(first_line, '-');
  const std::string file = platform::ExtractFileName(library_file_name);
  return SanitizeFileName(platform::AnsiLowerCase(platform::ChangeFileExt(file, "")), '-');
}

std::string GetModuleDataPath(const std::string& app_data_path, const std::string& sub_folder,
                              const std::string& config_name) {
  return platform::IncludeTrailingDelimiter(
      platform::IncludeTrailingDelimiter(app_data_path + sub_folder) + config_name);
}

void SetupPropertiesHolder(TqonStrHolder& holder) {
  holder.SetName("Properties");
  holder.SetTag(9999);
  holder.SetCapacity(12);
  holder.InternalVer = 2;
  holder.KeyString.clear();
  std::vector<std::string> lines = options_form::KeptProperties();
  lines.emplace_back();
  holder.SetStrings(TStrings(std::move(lines)));
}
