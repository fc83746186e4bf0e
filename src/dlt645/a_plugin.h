#pragma once
// The DL/T 645 plug-in data module: the module CreatePluginInstance creates.
#include <atomic>
#include <cstdint>

#include "dlt645/dlt645_context.h"

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

  // From creation until load and again from unload on; data is ignored.
  std::atomic<bool> Unloading{true};
  // Shared with every data source and client; holds the listen-only count.
  TDlt645Context Context;

 private:
  // Sets the module's values and binds the handlers.
  void qonPluginCreate();
};
