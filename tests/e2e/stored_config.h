#pragma once
// Writes a configuration where a plug-in instance reads its settings: an
// INI file and section prefix, through the library's own settings store, so
// that the file holds exactly what the options dialog would have saved.
#include <string>

namespace host {

bool StoreConfiguration(const std::string& ini_file, const std::string& section_prefix,
                        const std::string& query_xml, double min_interval = 0);

}  // namespace host
