#include "dlt645/a_plugin.h"

TaPlugin::TaPlugin(TPluginCallRec* rec, uintptr_t dll_handle) : TqonPlugin(rec, dll_handle) {
  qonPluginCreate();
}

void TaPlugin::qonPluginCreate() {
  ModuleVersion = 5.0f;
  ModuleRoles = 3;
  // Bit 2: the host's "CONFIG-ID" at load chooses the module variant.
  ModuleOptions = static_cast<uint8_t>(ModuleOptions.load() | 4);
  ModuleFlags = 1;
  LogTitle = kModuleName2007;
  EventsSupported = "PORT-OPEN;PORT-CLOSE";
  // The extra module names, told apart at load by their identifiers.
  ModuleConfigs().AddConfig(kModuleNameGprs);
  ModuleConfigs().AddConfig(kModuleName1997);
  Title = ModuleConfigs().ConfigsText();

  OnShowOptionsDialog = [this](TqonPlugin& sender, TPluginCallRec* rec, bool& changed) {
    qonPluginShowOptionsDialog(sender, rec, changed);
  };
}

void TaPlugin::qonPluginShowOptionsDialog(TqonPlugin&, TPluginCallRec*, bool& changed) {
  // The dialog itself is the host's, built from the form description.
  changed = true;
}
