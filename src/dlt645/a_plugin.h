#pragma once
// The DL/T 645 plug-in data module: the module CreatePluginInstance creates.
#include <cstdint>

#include "plugin/qon_plugin.h"

// Module names; the first is the primary one.
constexpr char kModuleName2007[] = "DL-T645/2007";
constexpr char kModuleNameGprs[] = "DL-T645/2007 [GPRS]";
constexpr char kModuleName1997[] = "DL-T645/1997";

class TaPlugin : public TqonPlugin {
 public:
  TaPlugin(TPluginCallRec* rec, uintptr_t dll_handle);
  const char* ClassName() const override { return "TaPlugin"; }

  // Event handlers, bound to the data module's events at creation.
  void qonPluginShowOptionsDialog(TqonPlugin& sender, TPluginCallRec* rec, bool& changed);

 private:
  // Sets the module's values and binds the handlers.
  void qonPluginCreate();
};
