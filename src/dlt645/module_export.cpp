// Makes TaPlugin the data module that CreatePluginInstance creates.
#include "dlt645/a_plugin.h"
#include "plugin/plugin_registry.h"

namespace {

[[maybe_unused]] const bool g_registered = [] {
  SetPluginModuleClass(&CreatePluginModule<TaPlugin>);
  return true;
}();

}  // namespace
