// The command dispatcher of the data module, "LOAD"/"UNLOAD", "SET-STATE"
// and the settings commands.
#include <cstdio>
#include <thread>

#include "base/errors.h"
#include "base/str_to_int.h"
#include "paramlist/params_edge.h"
#include "platform/module.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "plugin/plugin_call_rec_intf.h"
#include "plugin/qon_plugin.h"
#include "plugin/text_lines.h"

namespace {

// Stores the value into the list's existing "RESULT" item; without one
// nothing is stored.
QON_FOREIGN_CALLS void StoreResult(const TPluginCallRecIntf& call, const OleVariant& value) {
  IqonParamsListA* params = call.Params();
  if (!params) return;
  IqonParamsListItemA* item = nullptr;
  params->SetValue("RESULT", &value.Raw(), false, &item);
  if (item) item->Release();
}

std::string TextValue(const TPluginCallRecIntf& call, std::string_view name) {
  OleVariant v;
  return call.ReadValue(name, &v) ? v.ToString() : std::string();
}

uintptr_t HandleFrom(const OleVariant& v) {
  return static_cast<uintptr_t>(v.ToInt64());
}

}  // namespace

// --------------------------------------------------------------------------
// The dispatcher

void TqonPlugin::EnterCommandLock() {
  if (!InDataCall()) {
    Commands.CommandLock.lock();
    return;
  }
  // A command issued through the host's output function during a data call
  // must not wait for a command that itself waits for this data call.
  while (!Commands.CommandLock.try_lock()) {
    if (state_lock_.WaitingWriters() > 0)
      throw EAssertionFailed("Plugin commands are not allowed while the plugin state changes");
    std::this_thread::yield();
  }
}

int32_t TqonPlugin::ExecuteCommand(const std::string& command, TPluginCallRec* rec) {
  EnterCommandLock();
  const int32_t depth = Commands.CommandDepth.fetch_add(1) + 1;
  struct Leave {
    TqonPlugin& module;
    ~Leave() {
      module.Commands.CommandDepth.fetch_sub(1);
      module.Commands.CommandLock.unlock();
    }
  } leave{*this};
  if (depth != 1) throw EAssertionFailed("Nested plugin commands are not allowed");
  TPluginCallRecIntf call(rec);
  return DispatchCommand(command, rec, call);
}

QON_FOREIGN_CALLS int32_t TqonPlugin::DispatchCommand(const std::string& command,
                                                      TPluginCallRec* rec,
                                                      const TPluginCallRecIntf& call) {
  int32_t result = Code(TCallResult::NotAnswered);
  if (command == "LOAD") ApplyLanguage(call);
  OleVariant v;
  if (call.ReadValue("MSG-PROC-HANDLE", &v)) Host.HostWindow = HandleFrom(v);
  if (call.ReadValue("OWNER-FORM", &v)) Host.OwnerForm = HandleFrom(v);

  // Which failures are logged, and under which context.
  const char* log_context = nullptr;
  try {
    if (command == "EVENT") {
      result = Code(TCallResult::Refused);
      OleVariant type;
      if (call.ReadValue("EVENT-TYPE", &type)) {
        log_context = "EVENT";
        result = OnEvent(type.ToString(), rec);
      }
    } else if (command == "LOAD") {
      log_context = "LOAD";
      Load(rec, call);
      result = Code(TCallResult::Done);
    } else if (command == "UNLOAD") {
      log_context = "UNLOAD";
      Unload(rec, call);
      result = Code(TCallResult::Done);
    } else if (command == "SET-ITEMS") {
      OleVariant items;
      if (!call.ReadValue("ITEMS", &items) || !items.IsString()) {
        result = Code(TCallResult::Refused);
      } else {
        LoadParserItems(items.ToString(), true);
        OnSetItems();
        result = Code(TCallResult::Done);
      }
    } else if (command == "SET-STATE") {
      log_context = "SETSTATE";
      result = SetState(rec, call);
    } else if (command == "ITEMS") {
      result = Code(TCallResult::Refused);
      IqonParamsListItemA* item = nullptr;
      if (IqonParamsListA* params = call.Params();
          params && params->FindItem("RESULT", 0, -1, &item) == kQonOk && item) {
        struct Release {
          IqonParamsListItemA* item;
          QON_FOREIGN_CALLS ~Release() { item->Release(); }
        } release{item};
        OnBeforeGetParserItems();
        Items.ParserItemsText = ParserItemsAsText();
        const OleVariant text(Items.ParserItemsText);
        item->SetValue(&text.Raw());
        result = Code(TCallResult::Done);
      }
    } else if (command == "EVENTS-SUPPORT") {
      StoreResult(call, OleVariant(Identity.EventsSupported.Get()));
      result = Code(TCallResult::Done);
    } else if (command == "GET-MODULE-PARAMETER") {
      OleVariant param;
      if (call.ReadValue("PARAM", &param)) {
        StoreResult(call, GetModuleParameter(param.ToString()));
        result = Code(TCallResult::Done);
      }
    } else if (command == "SET-MODULE-PARAMETER") {
      OleVariant param;
      if (call.ReadValue("PARAM", &param)) {
        OleVariant value;
        if (!call.ReadValue("VALUE", &value)) value = OleVariant::Null();
        StoreResult(call, OleVariant(SetModuleParameter(param.ToString(), value)));
        result = Code(TCallResult::Done);
      }
    } else if (command == "SAVE-SETTINGS-NOW" || command == "LOAD-SETTINGS-NOW") {
      result = SettingsNow(command, call);
    } else {
      log_context = command.c_str();
      result = OnCommand(command, rec);
    }
  } catch (const std::exception& e) {
    result = Code(TCallResult::Error);
    if (log_context) LogError(log_context, e.what());
  }
  return result;
}

// --------------------------------------------------------------------------
// LOAD and UNLOAD

void TqonPlugin::Load(TPluginCallRec* rec, const TPluginCallRecIntf& call) {
  // Commands are serialised, so the count read here is the one incremented.
  TStateExclusiveLock state;
  if (Host.LoadCount.load() == 0) state = LockStateExclusive();
  if (Host.LoadCount.fetch_add(1) + 1 != 1) return;

  Host.LoadThreadId = platform::CurrentThreadId();
  Dialog.DialogShown = false;
  Host.HostModuleId = rec ? rec->HostModuleId : 0;
  Settings.RegistryPath = TextValue(call, "REGISTRY-PATH");
  Settings.IniSectionPrefix = TextValue(call, "INI-SECTION-PREFIX");
  OleVariant v;
  if (call.ReadValue("HANDLE", &v)) Host.HostModule = HandleFrom(v);
  const std::string application = TextValue(call, "APPLICATION-NAME");
  Host.ApplicationName = application;
  if (Host.HostModule.load() == 0 && !application.empty())
    Host.HostModule = platform::FindLoadedModule(application);
  Host.ConfigId = 0;
  if ((Identity.ModuleOptions.load() & 4) && call.ReadValue("CONFIG-ID", &v))
    Host.ConfigId = static_cast<uint32_t>(v.ToInt64());
  Settings.IniFile = TextValue(call, "INI-FILE");
  if (const platform::ModuleHandle host = Host.HostModule.load()) Host.HostFunctions.LookUp(host);

  Host.Unloaded = false;
  if (LogList->Count() > 0) {
    // The window may be a new one: it has not been told yet.
    log_notice_pending_ = false;
    NotifyLogLines();
  }
  OnLoad(rec);
}

void TqonPlugin::Unload(TPluginCallRec* rec, const TPluginCallRecIntf& call) {
  TStateExclusiveLock state;
  if (Host.LoadCount.load() == 1) state = LockStateExclusive();
  const int32_t count = Host.LoadCount.fetch_sub(1) - 1;
  if (count < 0) {
    Host.LoadCount = 0;
    return;
  }
  if (count != 0) return;

  Host.Unloaded = true;
  for (auto& role : State.RoleState)
    role = false;
  // Only a settings file the host names now, and another one, is saved to.
  OleVariant ini;
  if (call.ReadValue("INI-FILE", &ini)) {
    const std::string file = ini.ToString();
    if (file != Settings.IniFile.Get()) {
      Settings.IniFile = file;
      try {
        OnSaveSettingsNow();
      } catch (const std::exception&) {
        // The instance unloads all the same.
      }
    }
  }
  try {
    OnUnload(rec);
  } catch (const std::exception&) {
    // The instance unloads all the same.
  }
  Dialog.DialogShown = false;
  Host.HostModule = 0;
  Host.HostWindow = 0;
}

// --------------------------------------------------------------------------
// SET-STATE and the settings commands

int32_t TqonPlugin::SetState(TPluginCallRec* rec, const TPluginCallRecIntf& call) {
  int32_t result = Code(TCallResult::Refused);
  TStateExclusiveLock state = LockStateExclusive();
  OleVariant v;
  if (call.ReadValue("DATA-SOURCES-IN-CFG", &v)) {
    std::vector<TConfigDataSource> sources;
    for (const std::string& line : SplitLines(v.ToString())) {
      try {
        const std::vector<std::string> f = SplitFields(line, ";");
        int32_t number = -1;
        if (!TryStrToInt(f[0], &number)) number = -1;
        if (number == -1) continue;
        sources.push_back(TConfigDataSource{line, number, f.size() > 1 ? f[1] : std::string(),
                                            f.size() > 2 ? f[2] : std::string()});
      } catch (const std::exception& e) {
        result = Code(TCallResult::Error);
        LogError("SETSTATE", e.what());
      }
    }
    std::lock_guard<std::mutex> guard(config_sources_lock_);
    config_sources_ = std::move(sources);
  }
  if (call.ReadValue("DATA-SOURCE-LOAD", &v)) State.DataSourceLoadFor = v.ToString();
  if (call.ReadValue("RESULT", &v)) {
    const bool on = v.ToInt() == 1;
    const uint8_t roles = rec ? rec->Roles : 0;
    for (int i = 0; i < kRoleCount; ++i)
      if (roles & (1u << i)) State.RoleState[static_cast<size_t>(i)] = on;
    OnChangeState(roles);
    result = Code(TCallResult::Done);
  }
  return result;
}

int32_t TqonPlugin::SettingsNow(const std::string& command, const TPluginCallRecIntf& call) {
  struct RestoreIniFile {
    TLockedString& field;
    std::string saved;
    ~RestoreIniFile() { field = saved; }
  } restore{Settings.IniFile, Settings.IniFile.Get()};
  Settings.IniFile = TextValue(call, "INI-FILE");
  if (command == "LOAD-SETTINGS-NOW") {
    if (Handles(TPluginHook::LoadSettingsNow)) {
      TStateExclusiveLock state = LockStateExclusive();
      OnLoadSettingsNow();
    }
    Settings.IniFile = restore.saved;
  }
  OleVariant no_save;
  bool save = true;
  if (call.ReadValue("NO-SAVE", &no_save)) {
    int64_t n = 0;
    bool b = false;
    if (no_save.TryToInt64(&n))
      save = n == 0;
    else if (no_save.TryToBool(&b))
      save = !b;
    else
      save = false;
  }
  if (save) OnSaveSettingsNow();
  return Code(TCallResult::NotAnswered);
}
