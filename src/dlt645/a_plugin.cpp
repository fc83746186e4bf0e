#include "dlt645/a_plugin.h"

#include <algorithm>

#include "config/store/proxy_code_object.h"
#include "config/text/qon_str_holder.h"
#include "dlt645/custom_commands.h"
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
  Identity.ModuleVersion = 5.0f;
  Identity.ModuleRoles = 3;
  // Bit 2: the host's "CONFIG-ID" at load chooses the module variant.
  Identity.ModuleOptions = static_cast<uint8_t>(Identity.ModuleOptions.load() | 4);
  Identity.ModuleFlags = 1;
  Identity.LogTitle = kModuleName2007;
  Identity.EventsSupported = "PORT-OPEN;PORT-CLOSE";
  AddCustomCommands(Identity.CustomCommands);

  TextResources = &CreateOwned<TTextResources>();
  TextResources->SetName("TextResources");
  Properties = &CreateOwned<TqonStrHolder>();
  SetupPropertiesHolder(*Properties);
  Context.TextResources = TextResources;

  // The extra module names, told apart at load by their identifiers.
  ModuleConfigs().AddConfig(kModuleNameGprs);
  ModuleConfigs().AddConfig(kModuleName1997);
  Identity.Title = ModuleConfigs().ConfigsText();

  // The message formats are translated once, now; a walk over the module
  // passes them by.
  if (Translation.Translator && Translation.Translator->HasLanguageFiles()) {
    const std::string language = Translation.Language.Get();
    if (Translation.Translator->Component().LoadLanguage(language.empty() ? "NONE" : language))
      TextResources->Translate(Translation.Translator->Component(), language);
  }
  Unloading = true;
  if (Translation.Translator) {
    Translation.Translator->AddComponentProperty("Filter");
    Translation.Translator->AddComponentProperty("Columns");
  }
}

// --------------------------------------------------------------------------
// Load, unload, state

bool TaPlugin::Handles(TPluginHook hook) const {
  // The options dialog is the host's, built from the form resources.
  return hook != TPluginHook::GetOptionsDialog || TqonPlugin::Handles(hook);
}

void TaPlugin::OnLoad(TPluginCallRec*) {
  Config = std::make_unique<TDataSourceCfg>(this);
  Config->SetName("Config");
  Unloading = false;
  const int variant = ModuleConfigs().FindConfig(Host.ConfigId.load());
  Identity.LogTitle = variant == 0   ? kModuleNameGprs
                      : variant == 1 ? kModuleName1997
                                     : kModuleName2007;
  Variant1997 = variant == 1;
  // Data sources that a state change made before this load have clients
  // that must copy the requests as well.
  ApplyConfiguration(Config.get(), true);
}

void TaPlugin::OnUnload(TPluginCallRec*) {
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

void TaPlugin::OnChangeState(uint8_t) {
  std::vector<std::unique_ptr<TSerialPortDM>> gone;
  {
    std::lock_guard<std::mutex> guard(sources_lock_);
    gone.swap(sources_);
  }
  std::vector<std::unique_ptr<TSerialPortDM>> kept;
  if (EnabledRoles() != 0) {
    const std::string load_for = State.DataSourceLoadFor;
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
    Log(TLogLevel::Error, TextResources->ItemsFormation(e.what()));
  }
  if (!reload) return;
  for (TSerialPortDM* source : SerialPorts()) {
    try {
      source->UpdateClientQueues(true, true);
    } catch (const std::exception& e) {
      Log(TLogLevel::Error, TextResources->ItemsFormation(e.what()));
    }
  }
}

void TaPlugin::LoadAllDataSources(TDataSourceCfg* config) {
  for (TSerialPortDM* source : SerialPorts())
    if (source->Queue)
      LoadQueryConfig({!Unloading && (RoleEnabled(TRole::Request) || RoleEnabled(TRole::Parsing)),
                       &Context.ListenOnlyCount,
                       [this](TLogLevel level, const std::string& text) { Log(level, text); }},
                      config, *source->Queue, source);
}

void TaPlugin::OnSaveSettingsNow() {
  if (Config) SaveSettings(Properties->Strings(), Config.get());
}

void TaPlugin::OnLoadSettingsNow() {
  if (Config) ApplyConfiguration(Config.get(), true);
}

void TaPlugin::OnShowOptionsDialog(TPluginCallRec*, bool& changed) {
  // The dialog itself is the host's, built from the form description.
  changed = true;
}

void TaPlugin::OnBeforeGetParserItems() {
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

int32_t TaPlugin::OnProcessData(TPluginCallRec* rec) {
  // Data calls hold the state lock: Config and the data sources stay.
  if (!Config) return Code(TCallResult::Refused);
  if (Unloading || !rec) return 0;
  TSerialPortDM* source = FindSerialPort(static_cast<int32_t>(rec->DataSourceNo));
  if (!source || !(rec->Roles & RoleBit(TRole::Parsing)) || !RoleEnabled(TRole::Parsing)) return 0;
  // A connection that opens on the port (a modem dialling into a listening
  // port) shows the port takes data, whatever a write to it said before.
  if (rec->Input.Kind == kKindEvent && rec->Input.Data == kEventPortOpened)
    source->PortNotReady = false;
  return source->ProcessBlock(*rec);
}

QON_FOREIGN_CALLS int32_t TaPlugin::OnEvent(const std::string& event, TPluginCallRec* rec) {
  IntfPtr<IqonParamsListA> params = CallParams(rec);
  if (event == "GetFuncTypeList") {
    if (params) {
      const OleVariant text(FuncTypeListText(Variant1997.load()));
      IqonParamsListItemA* item = nullptr;
      params->SetValue("RESULT", &text.Raw(), true, &item);
      if (item) item->Release();
    }
    return Code(TCallResult::Done);
  }
  const bool port_open = event == "PORT-OPEN";
  std::string port;
  if (port_open) {
    OleVariant v;
    if (TryReadIntfValue(params.get(), "PORTSTR", &v)) port = v.ToString();
  }
  const std::vector<TSerialPortDM*> sources = SerialPorts();
  // The request role is off: nothing is sent, so nothing is made due. An
  // open port is still no reason to hold requests once the role is back.
  if (!RoleEnabled(TRole::Request)) {
    if (!port_open) return Code(TCallResult::Done);
    for (TSerialPortDM* source : sources)
      if (port.empty() || platform::SameTextAscii(port, source->PortName)) source->ReleaseHolds();
    return Code(TCallResult::Done);
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
  if (!port_open) return Code(TCallResult::Done);
  for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
    try {
      if ((*it)->Queue) (*it)->Queue->RequestReset(2);
      (*it)->UpdateClientQueues(false, false);
    } catch (const std::exception&) {
    }
  }
  return Code(TCallResult::Done);
}

QON_FOREIGN_CALLS int32_t TaPlugin::OnCommand(const std::string& command, TPluginCallRec* rec) {
  if (!IsCustomCommand(command)) return TqonPlugin::OnCommand(command, rec);
  IntfPtr<IqonParamsListA> params = CallParams(rec);
  const TCommandParam param = [&params](const std::string& name, std::string* value) {
    OleVariant v;
    if (!TryReadIntfValue(params.get(), name, &v)) return false;
    *value = v.ToString();
    return true;
  };
  // Data sources change only under the command lock, which this call holds.
  const TCommandAnswer answer =
      RunCustomCommand(this, Config ? SerialPorts() : std::vector<TSerialPortDM*>{},
                       !Unloading && RoleEnabled(TRole::Request), command, param);
  if (answer.Code != 0) Log(TLogLevel::Warning, command + ": " + answer.Result);
  if (params) {
    const OleVariant text(answer.Result);
    IqonParamsListItemA* item = nullptr;
    params->SetValue("RESULT", &text.Raw(), true, &item);
    if (item) item->Release();
  }
  return answer.Code;
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

void TaPlugin::OnLanguageChange() {
  // The protocol's messages follow the host's language as the module's own do.
  TPluginTranslator* translator = Translation.Translator.get();
  if (translator && translator->HasLanguageFiles() && TextResources) {
    const std::string language = Translation.Language.Get();
    translator->Component().LoadLanguage(language.empty() ? "NONE" : language);
    TextResources->TranslateAgain(translator->Component());
  }
  TqonPlugin::OnLanguageChange();
}
