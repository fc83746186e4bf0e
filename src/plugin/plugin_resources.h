#pragma once
// Raw-data resources of the library (options dialog descriptions), looked up
// by name without regard to case.
#include <string>
#include <string_view>

using TPluginResourceLoader = bool (*)(std::string_view name, std::string* data);

// False when there is no resource of that name.
bool LoadPluginResource(std::string_view name, std::string* data);
// Replaces the loader (tests); answers the previous one.
TPluginResourceLoader SetPluginResourceLoader(TPluginResourceLoader loader);
