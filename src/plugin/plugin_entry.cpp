#include "plugin/plugin_entry.h"

#include <cstring>
#include <exception>
#include <string>

#include "base/trim.h"
#include "paramlist/params_edge.h"
#include "platform/message_loop.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "plugin/plugin_call_rec_intf.h"
#include "plugin/plugin_registry.h"
#include "plugin/plugin_resources.h"

namespace plugin_entry {
namespace {

// ProcessData's wait for an unloaded instance that is still busy: polls of
// the thread's messages, 50 ms apart, for at most 30 s.
constexpr int kBusyWaitPolls = 600;
constexpr uint32_t kBusyWaitPollMs = 50;

std::string ErrorText(const std::exception& e) {
  return e.what();
}

std::string Resource(const std::string& name) {
  std::string data;
  if (!LoadPluginResource(name, &data)) data.clear();
  return data;
}

void PutU32(char* at, uint32_t value) {
  std::memcpy(at, &value, 4);
}

// Writes the dialog package into the host's Input buffer.
void Package(TPluginCallRec* rec, const std::string& form, const std::string& extra,
             const std::string& script) {
  const uint64_t parts = uint64_t{form.size()} + extra.size() + script.size();
  if (parts == 0) {
    rec->Output.Data = kDialogNone;
    return;
  }
  const uint64_t total = parts + kDialogHeaderSize;
  if (total > UINT32_MAX || rec->Input.Data == 0 || rec->Input.Size < total) {
    rec->Output.Data = kDialogBufferTooSmall;
    rec->Output.Size = static_cast<uint32_t>(total > UINT32_MAX ? UINT32_MAX : total);
    return;
  }
  char* out = reinterpret_cast<char*>(rec->Input.Data);
  const uint32_t form_at = kDialogHeaderSize;
  const auto extra_at = static_cast<uint32_t>(form_at + form.size());
  const auto script_at = static_cast<uint32_t>(extra_at + extra.size());
  PutU32(out + 0, form_at);
  PutU32(out + 4, static_cast<uint32_t>(form.size()));
  PutU32(out + 8, extra_at);
  PutU32(out + 12, static_cast<uint32_t>(extra.size()));
  PutU32(out + 16, script_at);
  PutU32(out + 20, static_cast<uint32_t>(script.size()));
  std::memcpy(out + form_at, form.data(), form.size());
  std::memcpy(out + extra_at, extra.data(), extra.size());
  std::memcpy(out + script_at, script.data(), script.size());
  rec->Output.Kind = kKindDialogLength;
  rec->Output.Size = 0;
  rec->Output.Data = static_cast<uintptr_t>(total);
}

// After a changed configuration: every instance sharing the settings reloads
// them, directly in its loading thread, else told by its host window.
void BroadcastSettingsChange(const TqonPlugin& changed) {
  const std::string path = changed.Settings.RegistryPath.Get();
  const uint32_t thread = platform::CurrentThreadId();
  for (TPluginCall& module : TPluginCall::All()) {
    try {
      if (module->Settings.RegistryPath.Get() != path || !module->Has(TPluginHook::LoadSettingsNow))
        continue;
      if (module->Host.LoadThreadId.load() == thread) {
        auto state = module->LockStateExclusive();
        module->LoadSettingsNow();
      } else {
        module->NotifyHost(kMsgReloadSettings);
      }
    } catch (...) {
      // One instance failing does not stop the others.
    }
  }
}

}  // namespace

int32_t CreatePluginInstance(TPluginCallRec* rec) noexcept {
  if (!rec) return Code(TCallResult::Refused);
  try {
    if (rec->Instance != 0) return Code(TCallResult::Refused);
    TPluginCallRecIntf call(rec);
    if (!PluginRegistry()) return Code(TCallResult::Refused);
    std::unique_ptr<TqonPlugin> module = PluginModuleClass()(rec);
    module->Identity.SelfHandle = module.get();
    const uintptr_t handle = reinterpret_cast<uintptr_t>(module.get());
    if (!RegisterPluginModule(std::move(module))) return Code(TCallResult::Refused);
    call.Restore();
    rec->Instance = handle;
    return 0;
  } catch (...) {
    return Code(TCallResult::Refused);
  }
}

int32_t FreePluginInstance(TPluginCallRec* rec) noexcept {
  if (!rec) return Code(TCallResult::Refused);
  try {
    if (rec->Input.Kind == kKindUnload && rec->Input.Data == kLibraryUnload) {
      RunUnloadProcedures();
      return 0;
    }
    if (rec->Instance == 0 || !PluginRegistry()) return Code(TCallResult::Refused);
    return FreePluginModule(rec->Instance) ? Code(TCallResult::Done) : Code(TCallResult::Refused);
  } catch (...) {
    return Code(TCallResult::Refused);
  }
}

bool GetModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info, uint32_t* needed) noexcept {
  if (needed) *needed = 0;
  if (!rec) return false;
  try {
    TPluginCall module = TPluginCall::Find(rec->Instance);
    if (!module) return false;
    const std::string title = platform::AnsiToUtf8(module->Identity.Title.Get());
    const std::string commands = platform::AnsiToUtf8(module->Identity.CustomCommands.AsText());
    const uint64_t need = uint64_t{kModuleInfoHeaderSize} + title.size() + commands.size();
    if (need > UINT32_MAX) return false;
    if (needed) *needed = static_cast<uint32_t>(need);
    if (!info || info->Size < kModuleInfoHeaderSize) return false;
    const uint32_t capacity = info->Size;
    std::memset(static_cast<void*>(info), 0, kModuleInfoHeaderSize);
    info->Size = capacity;
    info->Capabilities = uint32_t{module->Identity.ModuleRoles.load()} |
                         (uint32_t{module->Identity.ModuleOptions.load() & 7u} << 16);
    info->InterfaceVersion = 4;
    info->ModuleVersion = module->Identity.ModuleVersion.load();
    info->Options = module->Identity.ModuleFlags.load();
    if (capacity < need) return false;
    char* text = reinterpret_cast<char*>(info) + kModuleInfoHeaderSize;
    if (!title.empty()) {
      std::memcpy(text, title.data(), title.size());
      info->TitleLen = static_cast<uint32_t>(title.size());
      info->TitlePtr = reinterpret_cast<uintptr_t>(text);
      text += title.size();
    }
    if (!commands.empty()) {
      std::memcpy(text, commands.data(), commands.size());
      info->CommandsLen = static_cast<uint32_t>(commands.size());
      info->CommandsPtr = reinterpret_cast<uintptr_t>(text);
    }
    return true;
  } catch (...) {
    return false;
  }
}

void GetOptionsDialog(TPluginCallRec* rec) noexcept {
  if (!rec) return;
  rec->Output.Kind = kKindStatus;
  rec->Output.Size = 0;
  rec->Output.Data = kDialogNotAcceptable;
  TPluginCall module;
  try {
    module = TPluginCall::Find(rec->Instance);
    if (!module) return;
    std::string name;
    if (const char* data = reinterpret_cast<const char*>(rec->Input.Data)) {
      const void* end = std::memchr(data, 0, rec->Input.Size);
      name.assign(data, end ? static_cast<const char*>(end) - data : rec->Input.Size);
    }
    std::string form, extra, script;
    if (!module->Has(TPluginHook::GetOptionsDialog) || !name.empty()) {
      if (!name.empty()) {
        const std::string upper = platform::AnsiUpperCase(name);
        form = Resource(upper);
        script = Resource(upper + "_CODE");
      } else {
        script = Resource("FORM_DATA");
        const std::string form_name = std::string(TrimControls(Resource("FORM_NAME")));
        if (!form_name.empty()) form = Resource(platform::AnsiUpperCase(form_name));
      }
    } else {
      std::string form_name;
      module->GetOptionsDialog(rec, form_name, extra);
      if (form_name.empty() && extra.empty()) {
        rec->Output.Data = kDialogNone;
        return;
      }
      if (!form_name.empty()) {
        const std::string upper = platform::AnsiUpperCase(form_name);
        form = Resource(upper);
        script = Resource(upper + "_CODE");
      }
    }
    Package(rec, form, extra, script);
  } catch (const std::exception& e) {
    if (module) module->LogError("GETOPTIONS", ErrorText(e));
  } catch (...) {
  }
}

void ShowOptionsDialog(TPluginCallRec* rec) noexcept {
  if (!rec) return;
  rec->Output.Kind = kKindStatus;
  rec->Output.Size = 4;
  rec->Output.Data = kShowNotAcceptable;
  try {
    TPluginCall module = TPluginCall::Find(rec->Instance);
    if (!module) return;
    if (!module->Has(TPluginHook::ShowOptionsDialog)) {
      rec->Output.Data = kShowNoDialog;
      return;
    }
    // The kind as the host passed it: the call copy turns lists into kind 9.
    const uint8_t input_kind = rec->Input.Kind;
    TPluginCallRecIntf call(rec);
    rec->Output.Data = 4;
    struct DialogScope {
      TqonPlugin& module;
      ~DialogScope() {
        module.Dialog.DialogShown = false;
        module.Dialog.DialogList.Reset();
        module.Dialog.DialogRoles = 0;
      }
    } scope{*module};
    if (call.Params()) {
      OleVariant v;
      if (call.ReadValue("INI-FILE", &v)) module->Settings.IniFile = v.ToString();
      module->ApplyLanguage(call);
      if (call.ReadValue("OWNER-FORM", &v))
        module->Host.OwnerForm = static_cast<uintptr_t>(v.ToInt64());
    }
    module->Dialog.DialogShown = true;
    module->Dialog.DialogRoles = rec->Roles;
    if (input_kind == kKindListObject || input_kind == kKindListObject2 ||
        input_kind == kKindListIntf)
      module->Dialog.DialogList = IntfPtr<IqonParamsListA>(call.InputList());
    bool changed = false;
    try {
      module->ShowOptionsDialog(rec, changed);
    } catch (const std::exception& e) {
      module->Log(TLogLevel::Error, ErrorText(e) + " {SHOWOPTIONS}");
    }
    rec->Output.Data = changed ? 1 : 0;
    if (changed) BroadcastSettingsChange(*module);
  } catch (...) {
  }
}

int32_t ProcessData(TPluginCallRec* rec) noexcept {
  if (!rec || rec->Size != kCallRecSize || rec->Params == 0) return Code(TCallResult::Refused);
  TPluginCall module;
  try {
    module = TPluginCall::Find(rec->Instance);
    if (!module) return Code(TCallResult::Refused);
    // An unloaded instance still busy with a data call of another thread.
    for (int poll = 0; module->Busy() && module->Host.Unloaded && !module->InDataCall(); ++poll) {
      if (poll == kBusyWaitPolls) return Code(TCallResult::Refused);
      platform::PumpMessages(0);
      platform::SleepMs(kBusyWaitPollMs);
    }
    if (module->Host.Unloaded || !PluginRegistry()) return Code(TCallResult::Refused);
    return module->ProcessDataCall(rec);
  } catch (const std::exception& e) {
    if (module) module->LogError("PROCESS", ErrorText(e));
    return Code(TCallResult::Error);
  } catch (...) {
    if (module) module->LogError("PROCESS", "Unknown error");
    return Code(TCallResult::Error);
  }
}

int32_t ExecutePluginCommand(TPluginCallRec* rec) noexcept {
  if (!rec || rec->Size != kCallRecSize || rec->Params == 0) return Code(TCallResult::Refused);
  TPluginCall module;
  std::string command = "CMD?";
  try {
    module = TPluginCall::Find(rec->Instance);
    if (!module) return Code(TCallResult::Refused);
    TPluginCallRecIntf call(rec);
    OleVariant v;
    if (call.ReadValue("TEMPORARY-LOAD", &v)) module->SetTemporaryLoad(v.ToBool());
    if (!call.ReadValue("COMMAND", &v) || !v.IsString()) return Code(TCallResult::Refused);
    command = v.ToString();
    return module->ExecuteCommand(command, rec);
  } catch (const std::exception& e) {
    if (module) module->LogError(command, ErrorText(e));
    return Code(TCallResult::Error);
  } catch (...) {
    if (module) module->LogError(command, "Unknown error");
    return Code(TCallResult::Error);
  }
}

int32_t GetLogEx(TPluginCallRec* rec) noexcept {
  if (!rec) return 0;
  rec->Output.Data = 0;
  rec->Output.Kind = kKindStatus;
  int32_t result = 0;
  try {
    TPluginCall module = TPluginCall::Find(rec->Instance);
    if (!module || !module->LogList) return 0;
    module->LogTaken();
    auto w = module->LogList->WriteLocked();
    const std::string text = TLogDataList::RenderText(*w);
    rec->Output.Data = text.size();
    if (text.empty()) return 0;
    if (rec->Input.Size == 0) {
      w->Clear();
      return 0;
    }
    // A buffer without an address is as good as too small: the log is kept.
    if (rec->Input.Data == 0 || rec->Input.Size < text.size() || text.size() > INT32_MAX) return 0;
    std::memcpy(reinterpret_cast<void*>(rec->Input.Data), text.data(), text.size());
    w->Clear();
    result = static_cast<int32_t>(text.size());
  } catch (...) {
  }
  return result;
}

int32_t PumpPluginMessages(uint32_t max_wait_ms) noexcept {
  try {
    return platform::PumpMessages(max_wait_ms);
  } catch (...) {
    return 0;
  }
}

}  // namespace plugin_entry
