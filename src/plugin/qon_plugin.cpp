#include "plugin/qon_plugin.h"

#include "paramlist/params_edge.h"
#include "platform/module.h"
#include "platform/strings.h"
#include "plugin/plugin_call_rec_intf.h"

// --------------------------------------------------------------------------
// Construction and destruction

TqonPlugin::TqonPlugin(TPluginCallRec* rec, uintptr_t dll_handle) {
  Identity.DllHandle = dll_handle;
  if (rec) {
    temporary_load_ = rec->Params == 0;
    OleVariant v;
    bool value = false;
    if (TryReadIntfValue(CallParams(rec).get(), "TEMPORARY-LOAD", &v) && v.TryToBool(&value))
      temporary_load_ = value;
  }
  Translation.Translator = std::make_unique<TPluginTranslator>();
  LogList = std::make_unique<TLogDataList>();

  const std::string file =
      platform::ModuleFileName(dll_handle ? reinterpret_cast<const void*>(dll_handle) : nullptr);
  const size_t delimiter = file.find_last_of("/\\");
  Identity.ModuleName = delimiter == std::string::npos ? file : file.substr(delimiter + 1);
  Identity.ModulePath =
      delimiter == std::string::npos ? std::string() : file.substr(0, delimiter + 1);
  Identity.Version = DLT645_VERSION_TEXT;

  Translation.Language =
      Translation.Translator->SetupLanguageFiles(platform::ProgramFileName(), file);
  Translation.Translator->AddComponentProperty("MsgNoData");
  Translation.Translator->AddComponentProperty("MsgWriteComplete");
  Translation.Translator->AddComponentProperty("MsgWriteCompleteError");
}

void TqonPlugin::AfterConstruction() {
  // The texts as the create handler left them are the built-in ("EN") ones
  // every translation starts from.
  builtin_texts_ = {Messages.MsgNoData.Get(), Messages.MsgWriteComplete.Get(),
                    Messages.MsgWriteCompleteError.Get()};
  if (Translation.Translator && Translation.Translator->HasLanguageFiles()) ApplyTranslation();
}

TqonPlugin::~TqonPlugin() {
  destroying_ = true;
  Items.ParserItemsText.clear();
  Items.ParserItems.Clear();
  {
    std::lock_guard<std::mutex> guard(config_sources_lock_);
    config_sources_.clear();
  }
  Translation.Translator.reset();
  Identity.CustomCommands.Clear();
  module_params_.reset();
  module_configs_.reset();
  LogList.reset();
  Dialog.DialogList.Reset();
  text_blocks_.Clear();
}

IntfPtr<IqonParamsListA> TqonPlugin::CallParams(const TPluginCallRec* rec) {
  if (!rec || !rec->Params) return {};
  return ListIntfFromPointer(reinterpret_cast<void*>(rec->Params));
}

// --------------------------------------------------------------------------
// Roles

bool TqonPlugin::RoleEnabled(TRole role) const {
  const int index = static_cast<int>(role);
  return index >= 0 && index < kRoleCount && State.RoleState[static_cast<size_t>(index)].load();
}

uint8_t TqonPlugin::EnabledRoles() const {
  uint8_t roles = 0;
  for (int i = 0; i < kRoleCount; ++i)
    if (State.RoleState[static_cast<size_t>(i)].load())
      roles = static_cast<uint8_t>(roles | (1u << i));
  return roles;
}

uint8_t TqonPlugin::RolesFromValue(const OleVariant& value, bool only_enabled) const {
  int64_t bits = 0;
  if (value.IsEmptyOrNull() || !value.TryToInt64(&bits)) return 0;
  uint8_t roles = static_cast<uint8_t>(bits & 0xFF);
  if (only_enabled) roles = static_cast<uint8_t>(roles & EnabledRoles());
  return roles;
}

std::span<const TPropInfo> TqonPlugin::PublishedProperties() const {
  using T = TqonPlugin;
  static const std::vector<TPropInfo> properties = JoinProps(
      ComponentProperties(),
      {
          {"MsgNoData", TTypeKind::tkLString,
           [](const TPersistent& p) { return TPropValue(PropSelf<T>(p).Messages.MsgNoData.Get()); },
           [](TPersistent& p, const TPropValue& v) {
             PropSelf<T>(p).Messages.MsgNoData = PropAsText(v);
           }},
          {"MsgWriteComplete", TTypeKind::tkLString,
           [](const TPersistent& p) {
             return TPropValue(PropSelf<T>(p).Messages.MsgWriteComplete.Get());
           },
           [](TPersistent& p, const TPropValue& v) {
             PropSelf<T>(p).Messages.MsgWriteComplete = PropAsText(v);
           }},
          {"MsgWriteCompleteError", TTypeKind::tkLString,
           [](const TPersistent& p) {
             return TPropValue(PropSelf<T>(p).Messages.MsgWriteCompleteError.Get());
           },
           [](TPersistent& p, const TPropValue& v) {
             PropSelf<T>(p).Messages.MsgWriteCompleteError = PropAsText(v);
           }},
      });
  return properties;
}

// --------------------------------------------------------------------------
// Settings location

TModuleConfigList& TqonPlugin::ModuleConfigs() {
  std::call_once(module_configs_once_,
                 [this] { module_configs_ = std::make_unique<TModuleConfigList>(); });
  return *module_configs_;
}

TSettingsLocation TqonPlugin::SettingsLocation() const {
  TSettingsLocation location;
  location.RegistryRoot1 = Settings.RegistryRoot1;
  location.RegistryRoot2 = Settings.RegistryRoot2;
  location.RegistryPath = Settings.RegistryPath.Get();
  location.IniFile = Settings.IniFile.Get();
  location.IniSectionPrefix = Settings.IniSectionPrefix.Get();
  return location;
}

bool TqonPlugin::LoadSettings(const TStrings& lines, TPersistent* config,
                              const std::string* ini_file) {
  bool busy = false;
  Settings.SettingsBusy = true;
  const bool ok = ::LoadSettings(SettingsLocation(), lines, config, ini_file, &busy);
  Settings.SettingsBusy = false;
  return ok;
}

bool TqonPlugin::SaveSettings(const TStrings& lines, TPersistent* config,
                              const std::string* ini_file) {
  bool busy = false;
  Settings.SettingsBusy = true;
  const bool ok = ::SaveSettings(SettingsLocation(), lines, config, ini_file, &busy);
  Settings.SettingsBusy = false;
  return ok;
}

std::string TqonPlugin::AppDataPath() const {
  return GetAppDataPath(Settings.RegistryPath.Get(), Identity.ModulePath);
}

std::string TqonPlugin::ModuleConfigName() {
  return GetConfigName(&ModuleConfigs(), Host.ConfigId.load(), Identity.Title.Get(),
                       Identity.ModuleName);
}

std::string TqonPlugin::ModuleDataPath() {
  return GetModuleDataPath(AppDataPath(), GetSubFolder(Settings.IniSectionPrefix.Get()),
                           ModuleConfigName());
}

std::vector<TConfigDataSource> TqonPlugin::ConfiguredDataSources() const {
  std::lock_guard<std::mutex> guard(config_sources_lock_);
  return config_sources_;
}

// --------------------------------------------------------------------------
// Language

void TqonPlugin::ApplyLanguage(const TPluginCallRecIntf& call) {
  OleVariant v;
  if (!call.ReadValue("LANGUAGE", &v)) return;
  const std::string requested = v.ToString();
  if (requested.empty()) return;
  std::lock_guard<std::mutex> guard(language_lock_);
  if (platform::SameTextAscii(requested, Translation.Language.Get())) return;
  Translation.Language = requested;
  Translation.Translated = false;
  ApplyTranslation();
  try {
    OnLanguageChange();
  } catch (const std::exception& e) {
    LogError("TRANSL", e.what());
  }
}

void TqonPlugin::ApplyTranslation() {
  if (Translation.Translated) return;
  const std::string language = Translation.Language.Get();
  if (language.empty()) return;
  RestoreBuiltInTexts();
  try {
    if (Translation.Translator) Translation.Translator->Translate(*this, language);
  } catch (const std::exception& e) {
    LogError("TRANSL", e.what());
  }
  Translation.Translated = true;
}

void TqonPlugin::RestoreBuiltInTexts() {
  Messages.MsgNoData = builtin_texts_[0];
  Messages.MsgWriteComplete = builtin_texts_[1];
  Messages.MsgWriteCompleteError = builtin_texts_[2];
}
