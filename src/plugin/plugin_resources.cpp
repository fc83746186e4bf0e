#include "plugin/plugin_resources.h"

#include <atomic>

#include "platform/resources.h"

namespace {

bool ModuleResources(std::string_view name, std::string* data) {
  return platform::LoadModuleResource(name, data);
}

std::atomic<TPluginResourceLoader> g_loader{&ModuleResources};

}  // namespace

bool LoadPluginResource(std::string_view name, std::string* data) {
  data->clear();
  return g_loader.load()(name, data);
}

TPluginResourceLoader SetPluginResourceLoader(TPluginResourceLoader loader) {
  return g_loader.exchange(loader ? loader : &ModuleResources);
}
