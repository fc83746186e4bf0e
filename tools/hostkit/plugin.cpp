#include "hostkit/plugin.h"

#include <algorithm>
#include <cstring>

#include "platform/library.h"
#include "platform/module.h"

namespace host {

uintptr_t OwnProgramHandle() {
  return platform::FindLoadedModule(platform::ProgramFileName());
}

PluginLibrary::~PluginLibrary() {
  Unload();
}

bool PluginLibrary::Load(const std::string& path, bool needs_pump, std::string* error) {
  std::string why;
  handle_ = platform::LoadLibraryFile(path, &why);
  if (!handle_) {
    *error = "cannot load the plug-in " + path + ": " + why;
    return false;
  }
  const auto find = [this](const char* name) { return platform::FindProcedure(handle_, name); };
  struct Export {
    const char* name;
    void** slot;
  };
  const Export exports[] = {
      {"CreatePluginInstance", reinterpret_cast<void**>(&CreatePluginInstance)},
      {"FreePluginInstance", reinterpret_cast<void**>(&FreePluginInstance)},
      {"GetModuleInfo", reinterpret_cast<void**>(&GetModuleInfo)},
      {"ProcessData", reinterpret_cast<void**>(&ProcessData)},
      {"ExecutePluginCommand", reinterpret_cast<void**>(&ExecutePluginCommand)},
      {"GetLogEx", reinterpret_cast<void**>(&GetLogEx)},
      {"GetOptionsDialog", reinterpret_cast<void**>(&GetOptionsDialog)},
      {"ShowOptionsDialog", reinterpret_cast<void**>(&ShowOptionsDialog)},
  };
  for (const Export& e : exports) {
    void* f = find(e.name);
    if (!f) {
      *error = path + " is no DL/T 645 plug-in: it does not export " + e.name;
      Unload();
      return false;
    }
    if (e.slot) *e.slot = f;
  }
  PumpPluginMessages = reinterpret_cast<PumpFn>(find("PumpPluginMessages"));
  if (needs_pump && !PumpPluginMessages) {
    *error = path + " does not export PumpPluginMessages, so its timers cannot run here";
    Unload();
    return false;
  }
  return true;
}

void PluginLibrary::Unload() {
  if (!handle_) return;
  if (FreePluginInstance) {
    CallRec rec{};
    rec.Size = kCallRecSize;
    rec.Input.Kind = 6;
    rec.Input.Data = 0xFF01;
    FreePluginInstance(&rec);
  }
  platform::FreeLibraryFile(handle_);
  handle_ = 0;
  CreatePluginInstance = FreePluginInstance = ProcessData = ExecutePluginCommand = GetLogEx =
      nullptr;
  GetModuleInfo = nullptr;
  GetOptionsDialog = ShowOptionsDialog = nullptr;
  PumpPluginMessages = nullptr;
}

void* PluginLibrary::Find(const char* name) const {
  return handle_ ? platform::FindProcedure(handle_, name) : nullptr;
}

std::vector<LogLine> SplitLog(const std::string& text) {
  std::vector<LogLine> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    if (line.empty()) continue;
    LogLine l;
    const unsigned char first = static_cast<unsigned char>(line[0]);
    const int level = (first & 0x7F) - 1;
    if (level >= 0 && level <= 9) {
      l.level = level;
      l.text = line.substr(1);
    } else {
      l.level = 2;
      l.text = line;
    }
    out.push_back(std::move(l));
  }
  return out;
}

CallRec PluginInstance::NewRecord() const {
  CallRec rec{};
  rec.Size = kCallRecSize;
  rec.Instance = instance_;
  rec.HostModuleId = host_module_id_;
  return rec;
}

std::string PluginInstance::OptionsDialog() {
  if (!lib_.GetOptionsDialog) return std::string();
  constexpr uint8_t kLengthWritten = 2;
  constexpr uintptr_t kTooSmall = 3;
  std::string buffer(1024, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    CallRec rec = NewRecord();
    rec.Input.Size = static_cast<uint32_t>(buffer.size());
    rec.Input.Data = reinterpret_cast<uintptr_t>(buffer.data());
    lib_.GetOptionsDialog(&rec);
    if (rec.Output.Kind == kLengthWritten && rec.Output.Data <= buffer.size()) {
      buffer.resize(rec.Output.Data);
      return buffer;
    }
    if (rec.Output.Data != kTooSmall || rec.Output.Size <= buffer.size()) break;
    buffer.assign(rec.Output.Size, '\0');
  }
  return std::string();
}

bool PluginInstance::Create(std::string* error) {
  ListPtr params = MakeList();
  CallRec rec = NewRecord();
  rec.Instance = 0;
  rec.Params = params->InterfaceVariable();
  const int32_t r = lib_.CreatePluginInstance(&rec);
  if (r != 0 || rec.Instance == 0) {
    *error = "CreatePluginInstance answered " + std::to_string(r);
    return false;
  }
  instance_ = rec.Instance;
  return true;
}

void PluginInstance::Free() {
  if (!instance_ || !lib_.FreePluginInstance) return;
  CallRec rec = NewRecord();
  lib_.FreePluginInstance(&rec);
  instance_ = 0;
}

int32_t PluginInstance::Command(const std::string& name, ParamsList& params, uint8_t roles) {
  params.Put("COMMAND", Value::Text(name));
  CallRec rec = NewRecord();
  rec.Roles = roles;
  rec.Params = params.InterfaceVariable();
  return lib_.ExecutePluginCommand(&rec);
}

int32_t PluginInstance::Process(const Block& block, ParamsList& params, ParamsList& answer,
                                uint32_t* results) {
  answer.Clear();
  CallRec rec = NewRecord();
  rec.DataSourceNo = block.data_source_no;
  rec.ClientId = block.client_id;
  rec.Roles = kRoleParsing;
  rec.Params = params.InterfaceVariable();
  if (block.is_event) {
    rec.Input.Kind = kKindEvent;
    rec.Input.Data = block.event_code;
  } else {
    rec.Input.Kind = kKindRawBytes;
    rec.Input.Size = static_cast<uint32_t>(block.size);
    rec.Input.Data = reinterpret_cast<uintptr_t>(block.data);
  }
  rec.Output.Kind = kKindListIntf;
  rec.Output.Data = answer.InterfaceVariable();
  std::memcpy(rec.ClientName, block.client_name.data(),
              std::min(block.client_name.size(), sizeof(rec.ClientName)));
  // A text the plug-in leaves in Input (kind 4) stays its own.
  const int32_t r = lib_.ProcessData(&rec);
  if (results) *results = rec.Output.Count;
  return r;
}

std::vector<LogLine> PluginInstance::TakeLog() {
  if (!instance_) return {};
  for (int tries = 0; tries < 4; ++tries) {
    CallRec rec = NewRecord();
    rec.Input.Size = static_cast<uint32_t>(log_buffer_.size());
    rec.Input.Data = reinterpret_cast<uintptr_t>(log_buffer_.data());
    const int32_t n = lib_.GetLogEx(&rec);
    if (n > 0) return SplitLog(std::string(log_buffer_.data(), static_cast<size_t>(n)));
    const uintptr_t pending = rec.Output.Data;
    if (pending == 0 || pending <= log_buffer_.size()) return {};
    log_buffer_.resize(static_cast<size_t>(pending) + 4096);
  }
  return {};
}

}  // namespace host
