// "GET-MODULE-PARAMETER" and "SET-MODULE-PARAMETER": the module's own
// values by name, and the free "Custom…" list.
#include "base/str_to_int.h"
#include "platform/module.h"
#include "platform/strings.h"
#include "plugin/qon_plugin.h"
#include "plugin/text_lines.h"

namespace {

OleVariant HandleValue(uintptr_t handle) {
  return OleVariant(static_cast<intptr_t>(handle));
}

// The module parameter behind a name beginning with "Custom": the rest of
// the name without one leading " ", ":" or "_". False when nothing remains.
bool CustomParameterName(const std::string& name, std::string* rest) {
  if (name.compare(0, 6, "Custom") != 0 || name.size() < 6) return false;
  std::string r = name.substr(6);
  if (!r.empty() && (r[0] == ' ' || r[0] == ':' || r[0] == '_')) r.erase(0, 1);
  if (r.empty()) return false;
  *rest = std::move(r);
  return true;
}

// The index of a short parameter name that reads as an integer, else -1.
int32_t CustomParameterIndex(const std::string& rest) {
  int32_t index = -1;
  if (rest.size() < 3 && TryStrToInt(rest, &index) && index >= 0) return index;
  return -1;
}

}  // namespace

TqonThreadParamsList& TqonPlugin::GetModuleParams() {
  std::call_once(module_params_once_,
                 [this] { module_params_ = std::make_unique<TqonThreadParamsList>(); });
  return *module_params_;
}

OleVariant TqonPlugin::GetCustomParameter(const std::string& rest) {
  TqonThreadParamsList& params = GetModuleParams();
  auto r = params.ReadLocked();
  if (rest == "COUNT") return OleVariant(r->Count());
  if (const int32_t index = CustomParameterIndex(rest); index >= 0)
    return index < r->Count() ? r->Items(index)->Value : OleVariant();
  if (const TqonParamsListItem* item = r->FindItem(rest)) return item->Value;
  return OleVariant::Null();
}

bool TqonPlugin::SetCustomParameter(const std::string& rest, const OleVariant& value) {
  TqonThreadParamsList& params = GetModuleParams();
  auto w = params.WriteLocked();
  if (rest == "COUNT") {
    w->Clear();
  } else if (const int32_t index = CustomParameterIndex(rest); index >= 0) {
    if (index < w->Count()) w->Items(index)->Value = value;
  } else {
    w->SetValue(rest, value, true);
  }
  return true;
}

OleVariant TqonPlugin::GetModuleParameter(const std::string& name) {
  auto is = [&name](const char* n) { return platform::SameTextAscii(name, n); };
  if (is("LogTitle")) return OleVariant(Identity.LogTitle.Get());
  if (is("Description")) return OleVariant(Identity.Title.Get());
  if (is("EventsSupported")) return OleVariant(Identity.EventsSupported.Get());
  if (is("CustomCommands")) return OleVariant(Identity.CustomCommands.AsText());
  if (is("TranslatorComponentProperties")) {
    std::string text;
    std::lock_guard<std::mutex> guard(language_lock_);
    if (Translation.Translator) {
      for (const std::string& p : Translation.Translator->ComponentProperties()) {
        if (!text.empty()) text += "\r\n";
        text += p;
      }
    }
    return OleVariant(text);
  }
  if (is("ModuleType")) return OleVariant(static_cast<int32_t>(Identity.ModuleRoles.load()));
  if (is("ModuleEnabled")) return OleVariant(static_cast<int32_t>(EnabledRoles()));
  if (is("ModuleDllHandle")) return HandleValue(Identity.DllHandle);
  if (is("ModuleLoadCount")) return OleVariant(Host.LoadCount.load());
  if (is("ModuleIndex")) return OleVariant(Host.HostModuleId.load());
  if (is("ModulePluginHandle")) return HandleValue(InstanceHandle());
  if (is("ModulePath")) return OleVariant(Identity.ModulePath);
  if (is("ModuleDataPath")) return OleVariant(ModuleDataPath());
  if (is("AppDataPath")) return OleVariant(AppDataPath());
  if (is("ModuleName")) return OleVariant(Identity.ModuleName);
  if (is("ModuleLoadForConfig")) return OleVariant(Host.ConfigId.load());
  if (is("ModuleConfigId")) return OleVariant(ModuleConfigName());
  if (is("ApplicationFullName")) return OleVariant(Host.ApplicationName.Get());
  if (is("INIFile")) return OleVariant(Settings.IniFile.Get());
  if (is("ModuleRegistryRoot1")) return OleVariant(static_cast<int32_t>(Settings.RegistryRoot1));
  if (is("ModuleRegistryRoot2")) return OleVariant(static_cast<int32_t>(Settings.RegistryRoot2));
  if (is("ModuleRegistryPath")) return OleVariant(Settings.RegistryPath.Get());
  if (is("INISectionPrefix")) return OleVariant(Settings.IniSectionPrefix.Get());
  if (is("DisplayFullVersion")) return OleVariant(Identity.Version);
  if (is("ParserItems")) return OleVariant(ParserItemsAsText());
  if (is("ParserItemsCount")) return OleVariant(ParserItemCount());
  if (name.size() > 14) {
    const std::string head = name.substr(0, 14);
    if (head == "ParserItemName" || head == "ParserItemDesc" || head == "ParserItemType") {
      int32_t index = -1;
      if (!TryStrToInt(name.substr(14, 3), &index) || index < 0 || index >= ParserItemCount())
        return OleVariant();
      const TParserItem& item = Items.ParserItems[static_cast<size_t>(index)];
      if (head == "ParserItemName") return OleVariant(item.Name);
      if (head == "ParserItemDesc") return OleVariant(item.Caption);
      return OleVariant(static_cast<int32_t>(item.DataType));
    }
  }
  if (is("DataSourceLoadFor")) return OleVariant(State.DataSourceLoadFor);
  if (is("TerminateNow")) return OleVariant(Host.Unloaded.load());
  if (is("QualityRecords")) return OleVariant(Host.QualityRecords.load());
  if (is("IsTemporaryLoad")) return OleVariant(TemporaryLoad());
  if (is("ParentApp")) return HandleValue(Host.HostModule.load());
  if (is("OWNER-FORM")) return HandleValue(Host.OwnerForm.load());
  std::string rest;
  if (CustomParameterName(name, &rest)) return GetCustomParameter(rest);
  if (is("TESTTRANSL")) {
    for (const std::string& arg : platform::ProgramArguments())
      if (arg == "/TESTTRANSL") return OleVariant(true);
    return OleVariant(false);
  }
  return OleVariant();
}

bool TqonPlugin::SetModuleParameter(const std::string& name, const OleVariant& value) {
  auto is = [&name](const char* n) { return platform::SameTextAscii(name, n); };
  if (is("LogTitle")) {
    Identity.LogTitle = value.ToString();
  } else if (is("Description")) {
    Identity.Title = value.ToString();
  } else if (is("EventsSupported")) {
    Identity.EventsSupported = value.ToString();
  } else if (is("CustomCommands")) {
    Identity.CustomCommands.LoadFromText(value.ToString());
  } else if (is("ParserItems")) {
    LoadParserItems(value.ToString(), true);
  } else if (is("ModuleType")) {
    int64_t bits = 0;
    if (!value.TryToInt64(&bits)) return false;
    Identity.ModuleRoles = static_cast<uint8_t>(bits & 0xFF);
  } else if (is("OWNER-FORM")) {
    // Always answered true; a value that is no handle leaves the old one.
    int64_t handle = 0;
    if (value.TryToInt64(&handle)) Host.OwnerForm = static_cast<uintptr_t>(handle);
  } else if (is("SUBSCRIBE-FOR-DATA")) {
    bool on = false;
    if (value.TryToBool(&on)) Host.SubscribeForData = on;
  } else if (is("QualityRecords")) {
    bool on = false;
    if (!value.TryToBool(&on)) return false;
    Host.QualityRecords = on;
  } else if (is("TranslatorComponentProperties")) {
    std::lock_guard<std::mutex> guard(language_lock_);
    if (Translation.Translator) {
      for (const std::string& p : SplitFields(value.ToString(), ";|"))
        if (!p.empty()) Translation.Translator->AddComponentProperty(p);
    }
  } else {
    std::string rest;
    if (!CustomParameterName(name, &rest)) return false;
    return SetCustomParameter(rest, value);
  }
  return true;
}
