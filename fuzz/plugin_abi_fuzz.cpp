// Random calls through the plug-in's exports, the way a careless host makes
// them: commands with parameter lists built from the input (any names, any
// value types), data blocks and port events, log reads into buffers of any
// size, call records of the wrong size and descriptors of any kind. Checks that nothing reads or
// writes outside what it was given, that no call throws through an export, and that a log read
// never reports more than its buffer holds.
//
// Input: a sequence of operations; each takes its first byte as its kind
// and the following bytes as its arguments.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "hostkit/abi.h"
#include "hostkit/params_list.h"

extern "C" {
int32_t CreatePluginInstance(host::CallRec* rec);
int32_t FreePluginInstance(host::CallRec* rec);
bool GetModuleInfo(host::CallRec* rec, host::ModuleInfo* info, uint32_t* needed);
int32_t ProcessData(host::CallRec* rec);
int32_t ExecutePluginCommand(host::CallRec* rec);
int32_t GetLogEx(host::CallRec* rec);
int32_t PumpPluginMessages(uint32_t max_wait_ms);
}

namespace {

constexpr const char* kCommands[] = {
    "LOAD",
    "UNLOAD",
    "GETOPTIONS",
    "SET-STATE",
    "SETSTATE",
    "PROCESS",
    "SET-ITEMS",
    "GET-MODULE-PARAMETER",
    "SET-MODULE-PARAMETER",
    "TRANSL",
    "TESTTRANSL",
    "LOAD-SETTINGS-NOW",
    "SAVE-SETTINGS-NOW",
    "DATA-SOURCE-LOAD",
    "SUBSCRIBE-FOR-DATA",
    "NONE",
};
constexpr const char* kNames[] = {
    "PARAM",          "VALUE",           "ITEMS",
    "EVENT",          "EVENT-TYPE",      "PORT-OPEN",
    "PORTSTR",        "COUNT",           "DATA-SOURCES-IN-CFG",
    "CONFIG-ID",      "LANGUAGE",        "NO-SAVE",
    "TEMPORARY-LOAD", "RESULT",          "CLIENTID",
    "DATA_SOURCE_ID", "MSG-PROC-HANDLE",
};

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t Word() {
    return Byte() | uint32_t{Byte()} << 8 | uint32_t{Byte()} << 16 | uint32_t{Byte()} << 24;
  }
  std::string_view Bytes(size_t n) {
    n = std::min(n, size_ - std::min(pos_, size_));
    const std::string_view out(reinterpret_cast<const char*>(data_) + pos_, n);
    pos_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

host::Value AnyValue(Input& in) {
  switch (in.Byte() % 7) {
    case 0:
      return host::Value::Int(static_cast<int32_t>(in.Word()));
    case 1:
      return host::Value::Int64(static_cast<int64_t>(uint64_t{in.Word()} << 32 | in.Word()));
    case 2: {
      double d;
      const uint64_t bits = uint64_t{in.Word()} << 32 | in.Word();
      std::memcpy(&d, &bits, sizeof d);
      return host::Value::Double(d);
    }
    case 3:
      return host::Value::Bool(in.Byte() & 1);
    case 4:
      return host::Value::Null();
    case 5:
      return host::Value::Date(static_cast<double>(static_cast<int32_t>(in.Word())) / 7.0);
    default:
      return host::Value::Text(in.Bytes(in.Byte()));
  }
}

host::CallRec Record(uintptr_t instance) {
  host::CallRec rec{};
  rec.Size = host::kCallRecSize;
  rec.Instance = instance;
  rec.HostModuleId = 1;
  return rec;
}

void Operation(Input& in, uintptr_t instance) {
  host::CallRec rec = Record(instance);
  switch (in.Byte() % 6) {
    case 0: {  // a command with a list of any items
      host::ListPtr params = host::MakeList();
      params->Put("COMMAND", host::Value::Text(kCommands[in.Byte() % std::size(kCommands)]));
      for (int n = in.Byte() % 6; n > 0; --n) {
        const uint8_t pick = in.Byte();
        const std::string name =
            pick < 200 ? kNames[pick % std::size(kNames)] : std::string(in.Bytes(pick % 16));
        if (!name.empty()) params->Put(name, AnyValue(in));
      }
      rec.Roles = in.Byte() & 3;
      rec.Params = params->InterfaceVariable();
      ExecutePluginCommand(&rec);
      break;
    }
    case 1: {  // a data block
      const std::string_view bytes = in.Bytes(in.Byte());
      const std::vector<uint8_t> block(bytes.begin(), bytes.end());  // its own allocation
      host::ListPtr params = host::MakeList();
      host::ListPtr answer = host::MakeList();
      rec.DataSourceNo = in.Byte() % 3;
      rec.ClientId = 1 + in.Byte() % 3;
      rec.Roles = host::kRoleParsing;
      rec.Params = params->InterfaceVariable();
      rec.Input.Kind = host::kKindRawBytes;
      rec.Input.Size = static_cast<uint32_t>(block.size());
      rec.Input.Data = reinterpret_cast<uintptr_t>(block.data());
      rec.Output.Kind = host::kKindListIntf;
      rec.Output.Data = answer->InterfaceVariable();
      std::memcpy(rec.ClientName, "127.0.0.1:9", 11);
      ProcessData(&rec);
      break;
    }
    case 2: {  // a port event, or any event code
      const uint8_t pick = in.Byte();
      rec.DataSourceNo = pick % 3;
      rec.ClientId = 1 + (pick >> 2) % 3;
      rec.Roles = host::kRoleParsing | host::kRoleRequests;
      rec.Input.Kind = host::kKindEvent;
      rec.Input.Data = pick < 128   ? host::kEventOpened
                       : pick < 240 ? host::kEventClosed
                                    : in.Word();
      ProcessData(&rec);
      break;
    }
    case 3: {  // the log, into a buffer of any size
      std::vector<char> buffer(in.Byte());
      rec.Input.Size = static_cast<uint32_t>(buffer.size());
      rec.Input.Data = buffer.empty() ? 0 : reinterpret_cast<uintptr_t>(buffer.data());
      const int32_t n = GetLogEx(&rec);
      Check(n <= static_cast<int32_t>(buffer.size()), "log within its buffer");
      break;
    }
    case 4: {  // the module information, into a buffer of any size
      std::vector<uint8_t> buffer(in.Byte() + sizeof(host::ModuleInfo));
      auto* info = reinterpret_cast<host::ModuleInfo*>(buffer.data());
      info->Size = static_cast<uint32_t>(buffer.size());
      uint32_t needed = 0;
      GetModuleInfo(&rec, info, &needed);
      break;
    }
    default: {  // a record of the wrong size, descriptors of any kind over any bytes
      // What a host may hand over: no list, an interface variable that holds
      // none, or a block that is no list object (its probe fails). An
      // interface pointer itself cannot be checked: those stay real.
      std::vector<uint8_t> junk(64);
      for (size_t i = 16; i < junk.size(); ++i)
        junk[i] = in.Byte();
      uintptr_t no_list = 0;
      host::ListPtr list = host::MakeList();
      const auto any = [&](uint8_t pick) -> uintptr_t {
        switch (pick % 4) {
          case 0:
            return 0;
          case 1:
            return reinterpret_cast<uintptr_t>(&no_list);
          case 2:
            return list->InterfaceVariable();
          default:
            return reinterpret_cast<uintptr_t>(junk.data());
        }
      };
      const uint8_t pick = in.Byte();
      rec.Size = pick & 1 ? host::kCallRecSize + (pick >> 1) % 5 - 2 : rec.Size;
      const uint8_t params = in.Byte();
      rec.Params = params % 4 == 3 ? 0 : any(params);
      for (host::DataDesc* desc : {&rec.Input, &rec.Output}) {
        desc->Kind = in.Byte();
        desc->Data = any(in.Byte());
        if (desc->Kind == host::kKindListIntf && desc->Data == any(3)) desc->Data = 0;
        desc->Size = desc->Data == any(3) ? static_cast<uint32_t>(junk.size()) : 0;
        desc->Count = in.Byte();
      }
      rec.Roles = in.Byte();
      if (pick & 8)
        ExecutePluginCommand(&rec);
      else
        ProcessData(&rec);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Settings and registry of its own, in a fresh temporary folder.
  char folder[] = "/tmp/dlt645-abi-fuzz.XXXXXX";
  if (mkdtemp(folder) != nullptr) {
    setenv("DLT645_REGISTRY_DIR", folder, 1);
    setenv("HOME", folder, 1);
    setenv("XDG_CONFIG_HOME", folder, 1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  host::ListPtr create = host::MakeList();
  host::CallRec rec = Record(0);
  rec.Params = create->InterfaceVariable();
  if (CreatePluginInstance(&rec) != 0 || rec.Instance == 0) Check(false, "an instance");
  const uintptr_t instance = rec.Instance;

  Input in(data, size);
  for (int ops = 0; !in.Empty() && ops < 64; ++ops) {
    Operation(in, instance);
    PumpPluginMessages(0);
  }
  host::CallRec free_rec = Record(instance);
  FreePluginInstance(&free_rec);
  PumpPluginMessages(0);
  return 0;
}
