#pragma once
// The plug-in data module: one per plug-in instance. It keeps what the host
// told the instance at "LOAD", its log, parser items, role states and module
// parameters, and turns host calls into hooks. Protocol modules derive from
// it and override the hooks.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/component.h"
#include "config/text/strings.h"
#include "paramlist/intf_ptr.h"
#include "paramlist/ole_variant.h"
#include "paramlist/params_list.h"
#include "paramlist/params_list_intf.h"
#include "paramlist/parsed_data_list.h"
#include "paramlist/plugin_records.h"
#include "paramlist/thread_params_list.h"
#include "parser/parser_module.h"
#include "plugin/host_services.h"
#include "plugin/locked_string.h"
#include "plugin/log_data_list.h"
#include "plugin/module_settings.h"
#include "plugin/parser_items.h"
#include "plugin/plugin_events.h"
#include "plugin/plugin_translator.h"
#include "plugin/qon_plugin_custom_cmd_list.h"
#include "plugin/qon_plugin_fields.h"
#include "plugin/result_text_blocks.h"
#include "threading/multi_read_exclusive_write_synchronizer.h"

class TPluginCallRecIntf;

// Window notifications to the host.
constexpr uint32_t kMsgLogLines = 1809;
constexpr uint32_t kMsgReloadSettings = 1812;
// The time-out of a notification that could not be posted.
constexpr uint32_t kNotifySendTimeoutMs = 1000;

// A component, so that the translator walks it and what it owns; its
// published properties are the messages of the data call. Protocol modules
// derive from it and override the protected hooks.
class TqonPlugin : public TComponent, public IParserModule {
 public:
  // rec: the record of CreatePluginInstance, or null. dll_handle: the
  // module whose file identity the instance takes (0: this library).
  TqonPlugin(TPluginCallRec* rec, uintptr_t dll_handle);
  ~TqonPlugin() override;
  TqonPlugin(const TqonPlugin&) = delete;
  TqonPlugin& operator=(const TqonPlugin&) = delete;

  // Runs once the most derived constructor (the create handler) is done.
  void AfterConstruction();

  const char* ClassName() const override { return "TqonPlugin"; }
  std::span<const TPropInfo> PublishedProperties() const override;

  // The parameter list of a call record (after the call copy, Params points
  // at an interface variable; list objects are wrapped). Empty without one.
  static IntfPtr<IqonParamsListA> CallParams(const TPluginCallRec* rec);

  // --- IParserModule ---
  bool RoleEnabled(TRole role) const override;
  void Log(TLogLevel level, const std::string& text, bool flag = false) override;
  void AppendResult(TPluginCallRec* rec, TqonParamsList* list, const std::string& text,
                    bool append) override;
  void OutputList(uint32_t data_source_no, uintptr_t client_id, TParsedDataList* list) override;
  int32_t WriteData(uint32_t data_source_no, uintptr_t client_id, const uint8_t* bytes,
                    int32_t count) override;
  int32_t WriteText(uint32_t data_source_no, uintptr_t client_id, const std::string& text) override;
  int AddStandardFields(TqonParamsList* list, const std::string& full_packet,
                        const std::string& client_name, const std::string& full_name,
                        const std::string& short_name, uintptr_t client_id, uint32_t data_source_no,
                        const std::string& packet) override;
  uintptr_t InstanceHandle() const override {
    return reinterpret_cast<uintptr_t>(Identity.SelfHandle);
  }
  std::vector<TConfigDataSource> ConfiguredDataSources() const override;
  bool TemporaryLoad() const override { return temporary_load_; }
  std::vector<TDataSourceScheduled*> DataSources() const override { return {}; }
  bool QualityRecords() const override { return Host.QualityRecords.load(); }

  void SetTemporaryLoad(bool value) { temporary_load_ = value; }

  // "{context} message" at level 0, also to the debugger output.
  void LogError(const std::string& context, const std::string& message);

  // --- roles ---
  uint8_t EnabledRoles() const;
  void SetRoleEnabled(TRole role, bool on) { State.RoleState[static_cast<size_t>(role)] = on; }
  // Bits 0..7 of the value's integer form (limited to the enabled roles when
  // asked); empty or null values and non-integers give the empty set.
  uint8_t RolesFromValue(const OleVariant& value, bool only_enabled) const;

  // --- parser items ---
  int AddParserItem(const std::string& name, const std::string& caption, const std::string& extra,
                    uint8_t type) {
    return Items.ParserItems.Add(name, caption, extra, type);
  }
  void SetParserItem(int index, const TParserItem& item) { Items.ParserItems.Set(index, item); }
  int ParserItemCount() const { return Items.ParserItems.Count(); }
  void ClearParserItems() { Items.ParserItems.Clear(); }
  std::string ParserItemsAsText() const { return Items.ParserItems.AsText(); }
  void LoadParserItems(std::string_view text, bool replace) {
    Items.ParserItems.Load(text, replace);
  }
  void AddStandardParserItems(bool with_client_id) {
    Items.ParserItems.AddStandard(with_client_id);
  }

  // --- language ---
  // The "LANGUAGE" parameter of a call: a language other than the current
  // one translates the module again.
  void ApplyLanguage(const TPluginCallRecIntf& call);
  // Once per Translated flag.
  void ApplyTranslation();

  // --- what the dialog exports and the settings broadcast ask of the hooks ---
  bool Has(TPluginHook hook) const { return Handles(hook); }
  void ShowOptionsDialog(TPluginCallRec* rec, bool& changed) { OnShowOptionsDialog(rec, changed); }
  void GetOptionsDialog(TPluginCallRec* rec, std::string& form_name, std::string& extra) {
    OnGetOptionsDialog(rec, form_name, extra);
  }
  void LoadSettingsNow() { OnLoadSettingsNow(); }

  // --- commands and module parameters ---
  int32_t ExecuteCommand(const std::string& command, TPluginCallRec* rec);
  OleVariant GetModuleParameter(const std::string& name);
  bool SetModuleParameter(const std::string& name, const OleVariant& value);
  TqonThreadParamsList& GetModuleParams();
  // --- settings location ---
  // The module configurations one library serves (created on first use).
  TModuleConfigList& ModuleConfigs();
  // One settings pass over the configuration object; ini_file, when given,
  // stands in for Settings.IniFile.
  bool LoadSettings(const TStrings& lines, TPersistent* config,
                    const std::string* ini_file = nullptr);
  bool SaveSettings(const TStrings& lines, TPersistent* config,
                    const std::string* ini_file = nullptr);
  TSettingsLocation SettingsLocation() const;
  std::string AppDataPath() const;
  std::string ModuleDataPath();
  // The configuration's name: the last folder of ModuleDataPath.
  std::string ModuleConfigName();

  // --- the data call of ProcessData ---
  // Under the state lock: -1 while unloaded, else the data call's result.
  int32_t ProcessDataCall(TPluginCallRec* rec);
  int32_t DataCall(TPluginCallRec* rec);
  // Data calls in progress (in any thread).
  bool Busy() const { return data_calls_ > 0; }

  // --- window notifications to Host.HostWindow ---
  // 1809 at most once until the host's next GetLogEx.
  void NotifyLogLines();
  void NotifyHost(uint32_t msg);
  // GetLogEx: the host has seen the log.
  void LogTaken() { log_notice_pending_ = false; }

  // --- the state lock ---
  // Data calls hold it shared; whatever frees or rebuilds what data calls use
  // (load, unload, state changes, settings reloads) holds it exclusively.
  // The exclusive lock is refused (EAssertionFailed) to a thread inside a
  // data call of this module: the call would find its state gone on return.
  using TStateSharedLock = std::shared_lock<TMultiReadExclusiveWriteSynchronizer>;
  using TStateExclusiveLock = std::unique_lock<TMultiReadExclusiveWriteSynchronizer>;
  TStateSharedLock LockStateShared() { return TStateSharedLock(state_lock_); }
  TStateExclusiveLock LockStateExclusive();
  // Whether the calling thread is inside a data call of this module.
  bool InDataCall() const;
  // Result texts kept for hosts to read after their calls (bounded).
  size_t OutstandingTextBlocks() const { return text_blocks_.Count(); }
  static constexpr size_t kMaxTextBlocks = TResultTextBlocks::kMaxBlocks;

  // --- life in the instance registry ---
  // One reference for the registry and one per export call in progress; the
  // module is freed by whoever drops the last one.
  void AddCallRef() noexcept { call_refs_.fetch_add(1); }
  // True when that was the last reference.
  bool ReleaseCallRef() noexcept { return call_refs_.fetch_sub(1) == 1; }
  int32_t CallRefs() const noexcept { return call_refs_.load(); }

  // ------------------------------------------------------------------
  // The module's state, in parts (qon_plugin_fields.h). Mind the order:
  // the parts are destroyed last to first.
  TModuleIdentity Identity;
  // The handlers the default hooks call.
  TqonPluginEvents Events;
  THostLink Host;
  TSettingsLocationFields Settings;
  TSetStateFields State;
  TParserItemsFields Items;
  // The instance log (the operation of the same name adds to it).
  std::unique_ptr<TLogDataList> LogList;
  TDataCallMessages Messages;
  TLanguageFields Translation;
  TDialogState Dialog;
  TCommandState Commands;

 protected:
  // The first "LOAD" and the last "UNLOAD".
  void Load(TPluginCallRec* rec, const TPluginCallRecIntf& call);
  void Unload(TPluginCallRec* rec, const TPluginCallRecIntf& call);

  // --- hooks ---
  // The defaults call the matching handler of Events when one is assigned.
  // Whether the module has the hook at all (a data handler, a settings
  // reload, an options dialog of its own).
  virtual bool Handles(TPluginHook hook) const;
  // After the first "LOAD" and before the last "UNLOAD" is done.
  virtual void OnLoad(TPluginCallRec* rec);
  virtual void OnUnload(TPluginCallRec* rec);
  // "SET-STATE" switched the roles in roles; runs under the exclusive state lock.
  virtual void OnChangeState(uint8_t roles);
  // The data call's result: above 0 the count of results, below 0 an error.
  virtual int32_t OnProcessData(TPluginCallRec* rec);
  // "EVENT" with its "EVENT-TYPE", and commands the framework does not know.
  virtual int32_t OnEvent(const std::string& event, TPluginCallRec* rec);
  virtual int32_t OnCommand(const std::string& command, TPluginCallRec* rec);
  virtual void OnSetItems();
  virtual void OnBeforeGetParserItems();
  virtual void OnSaveSettingsNow();
  virtual void OnLoadSettingsNow();
  virtual void OnShowOptionsDialog(TPluginCallRec* rec, bool& changed);
  virtual void OnGetOptionsDialog(TPluginCallRec* rec, std::string& form_name, std::string& extra);
  virtual void OnLanguageChange();

 private:
  int32_t DispatchCommand(const std::string& command, TPluginCallRec* rec,
                          const TPluginCallRecIntf& call);
  int32_t SetState(TPluginCallRec* rec, const TPluginCallRecIntf& call);
  int32_t SettingsNow(const std::string& command, const TPluginCallRecIntf& call);
  void EnterCommandLock();
  // Refuses a state change in a thread that is inside a data call.
  void CheckStateChangeAllowed() const;
  OleVariant GetCustomParameter(const std::string& rest);
  bool SetCustomParameter(const std::string& rest, const OleVariant& value);
  void RestoreBuiltInTexts();

  std::atomic<bool> temporary_load_{false};
  std::atomic<bool> destroying_{false};
  std::atomic<bool> log_notice_pending_{false};
  std::atomic<int32_t> data_calls_{0};
  std::atomic<int32_t> call_refs_{1};
  TMultiReadExclusiveWriteSynchronizer state_lock_;

  mutable std::mutex config_sources_lock_;
  std::vector<TConfigDataSource> config_sources_;

  std::once_flag module_params_once_;
  std::unique_ptr<TqonThreadParamsList> module_params_;
  std::once_flag module_configs_once_;
  std::unique_ptr<TModuleConfigList> module_configs_;

  std::mutex language_lock_;
  // The texts translations start from (set again once the create handler ran).
  std::array<std::string, 3> builtin_texts_{kDefaultMsgNoData, kDefaultMsgWriteComplete,
                                            kDefaultMsgWriteCompleteError};

  // The text blocks AppendResult left in Input, by call record.
  TResultTextBlocks text_blocks_;
};

// Creates a data module of class T the way CreatePluginInstance does.
template <class T>
std::unique_ptr<TqonPlugin> CreatePluginModule(TPluginCallRec* rec) {
  auto module = std::make_unique<T>(rec, 0);
  module->AfterConstruction();
  return module;
}
