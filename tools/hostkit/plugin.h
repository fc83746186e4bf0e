#pragma once
// The plug-in library as a host drives it: the exports looked up by name,
// one instance, commands with the host's parameter lists, data blocks, the
// log.
#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/abi.h"
#include "hostkit/params_list.h"

namespace host {

// The "HANDLE" the plug-in finds the output function in: this program.
uintptr_t OwnProgramHandle();

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the library and finds the exports; false with a message.
  bool Load(const std::string& path, bool needs_pump, std::string* error);
  // Tells the library it is about to go, then unloads it.
  void Unload();

  // Any export by name; null when missing or not loaded.
  void* Find(const char* name) const;

  CallFn CreatePluginInstance = nullptr;
  CallFn FreePluginInstance = nullptr;
  ModuleInfoFn GetModuleInfo = nullptr;
  CallFn ProcessData = nullptr;
  CallFn ExecutePluginCommand = nullptr;
  CallFn GetLogEx = nullptr;
  VoidCallFn GetOptionsDialog = nullptr;
  VoidCallFn ShowOptionsDialog = nullptr;
  PumpFn PumpPluginMessages = nullptr;  // null where the host's message loop does it

 private:
  uintptr_t handle_ = 0;
};

struct LogLine {
  int level = 0;  // 0 errors, 1 warnings, 2 success
  std::string text;
};
// Splits GetLogEx text: lines end in CR LF, the first byte is level + 1
// (bit 7 a flag).
std::vector<LogLine> SplitLog(const std::string& text);

class PluginInstance {
 public:
  PluginInstance(PluginLibrary& library, uint32_t host_module_id)
      : lib_(library), host_module_id_(host_module_id) {}
  ~PluginInstance() { Free(); }
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  bool Create(std::string* error);
  void Free();
  bool Created() const { return instance_ != 0; }

  // "COMMAND" := name in params, then ExecutePluginCommand with the roles.
  int32_t Command(const std::string& name, ParamsList& params, uint8_t roles = 0);

  // A data block for ProcessData: received bytes (kind raw) or an event
  // code (kind 7). The list takes what the plug-in answers.
  struct Block {
    uint32_t data_source_no = 0;
    uintptr_t client_id = 0;
    std::string client_name;
    bool is_event = false;
    uintptr_t event_code = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  // `results` receives how many results the plug-in says it appended.
  int32_t Process(const Block& block, ParamsList& params, ParamsList& answer, uint32_t* results);

  // GetOptionsDialog into a buffer of the size the plug-in asks for: the
  // package (offsets and sizes of form, extra text and script, then the
  // three); empty when there is none or it is refused.
  std::string OptionsDialog();

  // Everything the log holds now.
  std::vector<LogLine> TakeLog();

 private:
  CallRec NewRecord() const;

  PluginLibrary& lib_;
  uint32_t host_module_id_;
  uintptr_t instance_ = 0;
  std::vector<char> log_buffer_ = std::vector<char>(16384);
};

}  // namespace host
