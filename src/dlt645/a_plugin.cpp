#include "dlt645/a_plugin.h"

#include <algorithm>

#include "config/store/proxy_code_object.h"
#include "config/text/qon_str_holder.h"
#include "dlt645/dlt645_parser_client.h"
#include "dlt645/func_types.h"
#include "dlt645/query_config.h"
#include "dlt645/serial_port_dm.h"
#include "dlt645/text_resources.h"
#include "paramlist/params_edge.h"
#include "paramlist/params_list.h"
#include "platform/strings.h"

TaPlugin::TaPlugin(TPluginCallRec* rec, uintptr_t dll_handle) : TqonPlugin(rec, dll_handle) {
  qonPluginCreate();
}

TaPlugin::~TaPlugin() {
  // The data sources use the module (log, output, roles) until they are gone.
  std::vector<std::unique_ptr<TSerialPortDM>> sources;
  {
    std::lock_guard<std::mutex> guard(sources_lock_);
    sources.swap(sources_);
  }
  sources.clear();
  Config.reset();
}

void TaPlugin::qonPluginCreate() {
  ModuleVersion = 5.0f;
  ModuleRoles = 3;
  // Bit 2: the host's "CONFIG-ID" at load chooses the module variant.
  ModuleOptions = static_cast<uint8_t>(ModuleOptions.load() | 4);
  ModuleFlags = 1;
  LogTitle = kModuleName2007;
  EventsSupported = "PORT-OPEN;PORT-CLOSE";

  OnLoad = [this](TqonPlugin& s, TPluginCallRec* rec, int32_t& r) { qonPluginLoad(s, rec, r); };
  OnUnload = [this](TqonPlugin& s, TPluginCallRec* rec, int32_t& r) { qonPluginUnload(s, rec, r); };
  OnChangeState = [this](TqonPlugin& s, uint8_t roles) { qonPluginChangeState(s, roles); };
  OnBeforeGetParserItems = [this](TqonPlugin& s) { qonPluginBeforeGetParserItems(s); };
  OnSaveSettingsNow = [this](TqonPlugin& s) { qonPluginSaveSettingsNow(s); };
  OnLoadSettingsNow = [this](TqonPlugin& s) { qonPluginLoadSettingsNow(s); };
  OnShowOptionsDialog = [this](TqonPlugin& s, TPluginCallRec* rec, bool& changed) {
    qonPluginShowOptionsDialog(s, rec, changed);
  };
  OnProcessData = [this](TqonPlugin& s, TPluginCallRec* rec, int32_t& r) {
    qonPluginProcessData(s, rec, r);
  };
  OnEvent = [this](TqonPlugin& s, const std::string& event, TPluginCallRec* rec, int32_t& r) {
    qonPluginEvent(s, event, rec, r);
  };

  TextResources = &CreateOwned<TTextResources>();
  TextResources->SetName("TextResources");
  Properties = &CreateOwned<TqonStrHolder>();
  SetupPropertiesHolder(*Properties);
  Context.TextResources = TextResources;

  // The extra module names, told apart at load by their identifiers.
  ModuleConfigs().AddConfig(kModuleNameGprs);
  ModuleConfigs().AddConfig(kModuleName1997);
  Title = ModuleConfigs().ConfigsText();

  // The message formats are translated once, now; a walk over the module
  // passes them by.
  if (Translator && Translator->HasLanguageFiles()) {
    const std::string language = Language.Get();
    if (Translator->Component().LoadLanguage(language.empty() ? "NONE" : language))
      TextResources->Translate(Translator->Component(), language);
  }
  Unloading = true;
  if (Translator) {
    Translator->AddComponentProperty("Filter");
    Translator->AddComponentProperty("Columns");
  }
}

// --------------------------------------------------------------------------
// Load, unload, state

void TaPlugin::qonPluginLoad(TqonPlugin&, TPluginCallRec*, int32_t&) {
  Config = std::make_unique<TDataSourceCfg>(this);
  Config->SetName("Config");
  Unloading = false;
  const int variant = ModuleConfigs().FindConfig(ConfigId.load());
  LogTitle = variant == 0 ? kModuleNameGprs : variant == 1 ? kModuleName1997 : kModuleName2007;
  Variant1997 = variant == 1;
  // Data sources that a state change made before this load have clients
  // that must copy the requests as well.
  ApplyConfiguration(Config.get(), true);
}

void TaPlugin::qonPluginUnload(TqonPlugin&, TPluginCallRec*, int32_t&) {
  Unloading = true;
  try {
    LoadAllDataSources(nullptr);
    // The clients' copies go too: a later state change without a load
    // must not poll with them.
    for (TSerialPortDM* source : SerialPorts())
      source->UpdateClientQueues(true, true);
  } catch (const std::exception& e) {
    LogError("UNLOAD", e.what());
  }
  Config.reset();
}

void TaPlugin::qonPluginChangeState(TqonPlugin&, uint8_t) {
  std::vector<std::unique_ptr<TSerialPortDM>> gone;
  {
    std::lock_guard<std::mutex> guard(sources_lock_);
    gone.swap(sources_);
  }
  std::vector<std::unique_ptr<TSerialPortDM>> kept;
  if (EnabledRoles() != 0) {
    const std::string load_for = DataSourceLoadFor;
    for (const TConfigDataSource& configured : ConfiguredDataSources()) {
      if (!load_for.empty() && !platform::SameTextAscii(configured.Name, load_for)) continue;
      // The last one with that number, as the data path finds it.
      auto same = std::find_if(gone.rbegin(), gone.rend(), [&](const auto& source) {
        return source && source->DataSourceNo == configured.Number;
      });
      if (same != gone.rend()) {
        kept.push_back(std::move(*same));
        continue;
      }
      if (std::any_of(kept.begin(), kept.end(), [&](const auto& source) {
            return source->DataSourceNo == configured.Number;
          }))
        continue;
      auto source = std::make_unique<TSerialPortDM>(this, &Context);
      source->DataSourceNo = configured.Number;
      source->PortName = configured.Name;
      source->PortInfo = configured.Extra;
      kept.push_back(std::move(source));
    }
  }
  {
    std::lock_guard<std::mutex> guard(sources_lock_);
    sources_ = std::move(kept);
  }
  // Freed outside the list's mutex: stopping waits for their timers.
  gone.clear();

  if (Config) ApplyConfiguration(Config.get(), true);
  if (!TemporaryLoad())
    CreateTemplateClients(this, ParserClientClass<TDlt645ParserClient>(), true, 0);
}

// --------------------------------------------------------------------------
// Configuration

void TaPlugin::ApplyConfiguration(TDataSourceCfg* config, bool reload) {
  try {
    LoadSettings(Properties->Strings(), config);
    LoadAllDataSources(config);
  } catch (const std::exception& e) {
    Log(0, TextResources->ItemsFormation(e.what()));
  }
  if (!reload) return;
  for (TSerialPortDM* source : SerialPorts()) {
    try {
      source->UpdateClientQueues(true, true);
    } catch (const std::exception& e) {
      Log(0, TextResources->ItemsFormation(e.what()));
    }
  }
}

void TaPlugin::LoadAllDataSources(TDataSourceCfg* config) {
  for (TSerialPortDM* source : SerialPorts())
    if (source->Queue)
      LoadQueryConfig({!Unloading && (RoleEnabled(0) || RoleEnabled(1)), &Context.ListenOnlyCount,
                       [this](int level, const std::string& text) { Log(level, text); }},
                      config, *source->Queue, source);
}

void TaPlugin::qonPluginSaveSettingsNow(TqonPlugin&) {
  if (Config) SaveSettings(Properties->Strings(), Config.get());
}

void TaPlugin::qonPluginLoadSettingsNow(TqonPlugin&) {
  if (Config) ApplyConfiguration(Config.get(), true);
}

void TaPlugin::qonPluginShowOptionsDialog(TqonPlugin&, TPluginCallRec*, bool& changed) {
  // The dialog itself is the host's, built from the form description.
  changed = true;
}

void TaPlugin::qonPluginBeforeGetParserItems(TqonPlugin&) {
  ClearParserItems();
  AddStandardParserItems(false);
  AddParserItem("DEVICE_ID", "Device ID", "", kParserTypeString);
  AddParserItem("DATA_TYPE_ID_STR", "Data type (string)", "", kParserTypeString);
  AddParserItem("DATA_TYPE_ID", "Data type", "", kParserTypeInteger);
  AddParserItem("DATA_TYPE_NAME", "Data type name", "", kParserTypeString);
  for (const TFuncTypeColumn& column : RegisterFuncTypeColumns(Variant1997.load()))
    AddParserItem(column.Name, column.Caption, column.DefaultValue,
                  static_cast<uint8_t>(column.ColumnType));
}

// --------------------------------------------------------------------------
// Data and events

void TaPlugin::qonPluginProcessData(TqonPlugin&, TPluginCallRec* rec, int32_t& result) {
  // Data calls hold the state lock: Config and the data sources stay.
  if (!Config) {
    result = -1;
    return;
  }
  result = 0;
  if (Unloading || !rec) return;
  TSerialPortDM* source = FindSerialPort(static_cast<int32_t>(rec->DataSourceNo));
  if (!source || !(rec->Roles & 2) || !RoleEnabled(1)) return;
  // A connection that opens on the port (a modem dialling into a listening
  // port) shows the port takes data, whatever a write to it said before.
  if (rec->Input.Kind == kKindEvent && rec->Input.Data == kEventPortOpened)
    source->PortNotReady = false;
  result = source->ProcessBlock(*rec);
}

QON_FOREIGN_CALLS void TaPlugin::qonPluginEvent(TqonPlugin&, const std::string& event,
                                                TPluginCallRec* rec, int32_t& result) {
  IntfPtr<IqonParamsListA> params = CallParams(rec);
  if (event == "GetFuncTypeList") {
    result = 0;
    if (params) {
      const OleVariant text(FuncTypeListText(Variant1997.load()));
      IqonParamsListItemA* item = nullptr;
      params->SetValue("RESULT", &text.Raw(), true, &item);
      if (item) item->Release();
    }
    return;
  }
  result = 0;
  const bool port_open = event == "PORT-OPEN";
  std::string port;
  if (port_open) {
    OleVariant v;
    if (TryReadIntfValue(params.get(), "PORTSTR", &v)) port = v.ToString();
  }
  const std::vector<TSerialPortDM*> sources = SerialPorts();
  // The request role is off: nothing is sent, so nothing is made due. An
  // open port is still no reason to hold requests once the role is back.
  if (!RoleEnabled(0)) {
    if (!port_open) return;
    for (TSerialPortDM* source : sources)
      if (port.empty() || platform::SameTextAscii(port, source->PortName)) source->ReleaseHolds();
    return;
  }

  for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
    TSerialPortDM* source = *it;
    if (!port.empty() && !platform::SameTextAscii(port, source->PortName)) continue;
    try {
      if (port_open && source->ReleaseHolds()) source->UpdateClientQueues(true, false);
      TqonParamsList copy;
      if (params) copy.CopyFromIntf(params.get());
      source->FireEvent(event, port_open, &copy);
      if (port_open) source->UpdateClientQueues(true, false);
    } catch (const std::exception&) {
      // The other data sources still get the event.
    }
  }
  if (!port_open) return;
  for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
    try {
      if ((*it)->Queue) (*it)->Queue->ResetRequested = 2;
      (*it)->UpdateClientQueues(false, false);
    } catch (const std::exception&) {
    }
  }
}

// --------------------------------------------------------------------------
// Data sources

std::vector<TDataSourceScheduled*> TaPlugin::DataSources() const {
  std::lock_guard<std::mutex> guard(sources_lock_);
  std::vector<TDataSourceScheduled*> sources;
  sources.reserve(sources_.size());
  for (const auto& source : sources_)
    sources.push_back(source.get());
  return sources;
}

std::vector<TSerialPortDM*> TaPlugin::SerialPorts() const {
  std::lock_guard<std::mutex> guard(sources_lock_);
  std::vector<TSerialPortDM*> sources;
  sources.reserve(sources_.size());
  for (const auto& source : sources_)
    sources.push_back(source.get());
  return sources;
}

TSerialPortDM* TaPlugin::FindSerialPort(int32_t number) const {
  std::lock_guard<std::mutex> guard(sources_lock_);
  for (auto it = sources_.rbegin(); it != sources_.rend(); ++it)
    if ((*it)->DataSourceNo == number) return it->get();
  return nullptr;
}
