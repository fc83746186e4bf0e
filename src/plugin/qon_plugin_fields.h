#pragma once
// The state of the plug-in data module, in parts: each part is a public
// member of TqonPlugin. Fields keep the names the module parameters and the
// commands know them by. Those read by data paths or exports while commands
// may change them are atomic or locked.
#include <atomic>
#include <cstdint>
#include <string>

#include "plugin/locked_string.h"
#include "plugin/qon_plugin_custom_cmd_list.h"

class TqonPlugin;

// What the module is and what it announces to the host.
struct TModuleIdentity {
  TqonPlugin* SelfHandle = nullptr;
  uintptr_t DllHandle = 0;
  std::string ModulePath;
  std::string ModuleName;
  std::string Version;
  std::atomic<float> ModuleVersion{4.0f};
  std::atomic<uint8_t> ModuleRoles{0};
  std::atomic<uint8_t> ModuleOptions{0};
  std::atomic<uint8_t> ModuleFlags{1};
  TLockedString Title;
  TLockedString LogTitle;
  TLockedString EventsSupported;
  TqonPluginCustomCmdList CustomCommands;
};
