#include "stored_config.h"

#include "config/store/proxy_code_object.h"
#include "config/text/qon_str_holder.h"
#include "plugin/module_settings.h"

namespace host {

bool StoreConfiguration(const std::string& ini_file, const std::string& section_prefix,
                        const std::string& query_xml, double min_interval) {
  TDataSourceCfg config;
  config.lblParams_Caption = query_xml;
  config.spMinInt_Value = min_interval;
  TqonStrHolder properties;
  SetupPropertiesHolder(properties);
  TSettingsLocation location;
  location.IniFile = ini_file;
  location.IniSectionPrefix = section_prefix;
  return SaveSettings(location, properties.Strings(), &config);
}

}  // namespace host
