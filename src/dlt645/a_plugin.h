#pragma once
// The DL/T 645 plug-in data module: the module CreatePluginInstance creates.
// It keeps one data source per host data source, loads the query
// configuration into them and routes received data and host events to them.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dlt645/dlt645_context.h"
#include "plugin/qon_plugin.h"

class TDataSourceCfg;
class TqonStrHolder;
class TSerialPortDM;
class TTextResources;

// Module names; the first is the primary one.
constexpr char kModuleName2007[] = "DL-T645/2007";
constexpr char kModuleNameGprs[] = "DL-T645/2007 [GPRS]";
constexpr char kModuleName1997[] = "DL-T645/1997";

class TaPlugin : public TqonPlugin {
 public:
  TaPlugin(TPluginCallRec* rec, uintptr_t dll_handle);
  ~TaPlugin() override;
  const char* ClassName() const override { return "TaPlugin"; }

  // Fills the proxy from the stored settings and loads its configuration
  // into every data source; with reload every client copies the requests
  // again. Errors are logged, not raised.
  void ApplyConfiguration(TDataSourceCfg* config, bool reload);
  // The configuration into every data source, in creation order; without a
  // proxy their request lists are only emptied.
  void LoadAllDataSources(TDataSourceCfg* config);

  std::vector<TDataSourceScheduled*> DataSources() const override;
  // The data sources in creation order. Valid while the state lock (or the
  // command lock) is held: only state changes create and free them.
  std::vector<TSerialPortDM*> SerialPorts() const;

  // The configuration proxy; exists between load and unload.
  std::unique_ptr<TDataSourceCfg> Config;
  // From creation until load and again from unload on; data is ignored.
  std::atomic<bool> Unloading{true};
  std::atomic<bool> Variant1997{false};
  // Owned components.
  TTextResources* TextResources = nullptr;
  TqonStrHolder* Properties = nullptr;
  // Shared with every data source and client; holds the listen-only count.
  TDlt645Context Context;

 protected:
  bool Handles(TPluginHook hook) const override;
  void OnLoad(TPluginCallRec* rec) override;
  void OnUnload(TPluginCallRec* rec) override;
  void OnChangeState(uint8_t roles) override;
  void OnBeforeGetParserItems() override;
  void OnSaveSettingsNow() override;
  void OnLoadSettingsNow() override;
  void OnShowOptionsDialog(TPluginCallRec* rec, bool& changed) override;
  // Received data to the data source of its number.
  int32_t OnProcessData(TPluginCallRec* rec) override;
  // "PORT-OPEN", "PORT-CLOSE" and the function list request.
  int32_t OnEvent(const std::string& event, TPluginCallRec* rec) override;
  // The custom commands (custom_commands.h).
  int32_t OnCommand(const std::string& command, TPluginCallRec* rec) override;
  void OnLanguageChange() override;

 private:
  void qonPluginCreate();
  // The last data source with that number; null when there is none.
  TSerialPortDM* FindSerialPort(int32_t number) const;

  // Changed only under the exclusive state lock; the mutex keeps the vector
  // itself consistent for readers that hold neither lock.
  mutable std::mutex sources_lock_;
  std::vector<std::unique_ptr<TSerialPortDM>> sources_;
};
