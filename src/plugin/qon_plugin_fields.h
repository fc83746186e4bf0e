#pragma once
// The state of the plug-in data module, in parts: each part is a public
// member of TqonPlugin, and each field keeps its own name. Those read by
// data paths or exports while commands may change them are atomic or
// locked.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "paramlist/intf_ptr.h"
#include "paramlist/params_list_intf.h"
#include "parser/parser_module.h"
#include "plugin/host_services.h"
#include "plugin/locked_string.h"
#include "plugin/parser_items.h"
#include "plugin/plugin_translator.h"
#include "plugin/qon_plugin_custom_cmd_list.h"

class TqonPlugin;

// The messages of the data call, in the built-in language.
constexpr char kDefaultMsgNoData[] = "No data for processing";
constexpr char kDefaultMsgWriteComplete[] = "Data have been processed successfully";
constexpr char kDefaultMsgWriteCompleteError[] = "Data have been processed with errors";

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

// What the host told the module at "LOAD" (and after).
struct THostLink {
  std::atomic<int32_t> LoadCount{0};
  std::atomic<uint32_t> LoadThreadId{0};
  std::atomic<bool> Unloaded{false};
  std::atomic<uint32_t> HostModuleId{0};
  std::atomic<uintptr_t> HostModule{0};
  std::atomic<uintptr_t> HostWindow{0};
  std::atomic<uintptr_t> OwnerForm{0};
  THostFunctions HostFunctions;
  TLockedString ApplicationName;
  std::atomic<uint32_t> ConfigId{0};
  std::atomic<bool> SubscribeForData{false};
  // "QualityRecords": failed requests reach the host as records.
  std::atomic<bool> QualityRecords{false};
};

// Where the module's settings are.
struct TSettingsLocationFields {
  TLockedString IniFile;
  uint8_t RegistryRoot1 = 2;
  uint8_t RegistryRoot2 = 1;
  TLockedString RegistryPath;
  TLockedString IniSectionPrefix;
  std::atomic<bool> SettingsBusy{false};
};

// What "SET-STATE" switched: the roles and the data source to load for.
struct TSetStateFields {
  std::array<std::atomic<bool>, kRoleCount> RoleState{};
  std::string DataSourceLoadFor;
};

// The parser items ("ITEMS", "SET-ITEMS") and their text as last sent.
struct TParserItemsFields {
  TParserItemList ParserItems;
  std::string ParserItemsText;
};

// The messages of the data call. The module publishes them under these
// names, so the translator and the settings pass reach them.
struct TDataCallMessages {
  TLockedString MsgNoData{kDefaultMsgNoData};
  TLockedString MsgWriteComplete{kDefaultMsgWriteComplete};
  TLockedString MsgWriteCompleteError{kDefaultMsgWriteCompleteError};
};

// The module's language and its translation.
struct TLanguageFields {
  std::unique_ptr<TPluginTranslator> Translator;
  TLockedString Language;
  std::atomic<bool> Translated{false};
};

// The options dialog the host shows for the module.
struct TDialogState {
  std::atomic<bool> DialogShown{false};
  std::atomic<uint8_t> DialogRoles{0};
  IntfPtr<IqonParamsListA> DialogList;
};

// Commands run one at a time (see EnterCommandLock for a data call's own).
struct TCommandState {
  std::recursive_mutex CommandLock;
  std::atomic<int32_t> CommandDepth{0};
};
