#include "plugin/plugin_resources.h"

#include <atomic>

namespace {

bool NoResources(std::string_view, std::string*) {
  return false;
}

std::atomic<TPluginResourceLoader> g_loader{&NoResources};

}  // namespace

bool LoadPluginResource(std::string_view name, std::string* data) {
  data->clear();
  return g_loader.load()(name, data);
}

TPluginResourceLoader SetPluginResourceLoader(TPluginResourceLoader loader) {
  return g_loader.exchange(loader ? loader : &NoResources);
}
