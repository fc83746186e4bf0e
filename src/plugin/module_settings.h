#pragma once
// Where a plug-in instance keeps its settings and data: the settings passes
// over its configuration object, the list of module configurations that one
// library serves, and the data folders derived from the settings location.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "config/text/strings.h"
#include "threading/thread_string_list.h"

class TqonStrHolder;

// The identifier of a configuration name: CRC-32 (reflected 0xEDB88320,
// start 0xFFFFFFFF) without the final inversion; "abc" gives 0xCADBBE3D.
uint32_t ModuleConfigIdOf(std::string_view name);

// Configuration names with their identifiers (the entries' objects), in the
// order added. Every access is locked.
class TModuleConfigList : public TThreadStringList<uint32_t> {
 public:
  void AddConfig(const std::string& name);
  // The names joined by CR LF (none after the last).
  std::string ConfigsText();
  // Index of the first entry with that identifier and its name; -1 when the
  // identifier is 0 or not listed.
  int FindConfig(uint32_t id, std::string* name = nullptr);
};

// The settings location the host gives at "LOAD". The roots are numbered as
// TRegistryRoot (2 local machine, 1 current user).
struct TSettingsLocation {
  uint8_t RegistryRoot1 = 2;
  uint8_t RegistryRoot2 = 1;
  std::string RegistryPath;
  std::string IniFile;
  std::string IniSectionPrefix;
};

// One settings pass over the configuration object with the property lines.
// ini_file, when given, stands in for the location's INI file. False without
// lines or when the store could not be opened (or, saving, written). *busy is
// true while the pass runs and false afterwards in every case.
bool LoadSettings(const TSettingsLocation& location, const TStrings& lines, TPersistent* config,
                  const std::string* ini_file = nullptr, bool* busy = nullptr);
bool SaveSettings(const TSettingsLocation& location, const TStrings& lines, TPersistent* config,
                  const std::string* ini_file = nullptr, bool* busy = nullptr);

// A name made safe as one folder name: the double quote, "*", "/", ":", "<",
// ">", "?", "\", "|" and control characters become `replacement`; device
// names (COM..., LPT..., CON, AUX, PRN, NUL) and names of dots only ("."
// and "..") get "_" in front.
std::string SanitizeFileName(std::string_view name, char replacement);

// The common application data folder (platform::CommonAppDataFolder), then
// the fourth "\"-field of the registry path, with a trailing delimiter. The
// library's folder (with its delimiter) when there is no data folder.
std::string GetAppDataPath(const std::string& registry_path, const std::string& library_folder);
// From the INI section prefix: the text between "{" and "}", after a ":"
// when one is there ("{Cfg:Main}" gives "Main"); "" without braces.
std::string GetSubFolder(const std::string& ini_section_prefix);
// The configuration's name when the list holds config_id, else the first
// line of the title, else the library's file name without extension in
// lower case.
std::string GetConfigName(TModuleConfigList* configs, uint32_t config_id, const std::string& title,
                          const std::string& library_file_name);
// AppDataPath + SubFolder + delimiter + ConfigName + delimiter, a delimiter
// added only where missing.
std::string GetModuleDataPath(const std::string& app_data_path, const std::string& sub_folder,
                              const std::string& config_name);

// The plug-in's kept-properties holder "Properties": tag 9999, capacity 12,
// version 2, empty key, the nine lines of the options form and an empty one.
void SetupPropertiesHolder(TqonStrHolder& holder);
