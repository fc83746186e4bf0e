// A stand-in plug-in for the host's own tests: it echoes what a port sends,
// answers with records both ways (the data call's list and the output
// function's kind 9), closes a connection on request, and logs every call
// it gets, so that a test can see what the host passed.
#include <cstring>
#include <mutex>
#include <string>

#include "hostkit/abi.h"
#include "hostkit/params_list.h"
#include "platform/module.h"

namespace {

using namespace host;

std::mutex g_mutex;
std::string g_log;
int g_instance_marker = 0;
SendDataExFn g_send = nullptr;

void Log(int level, const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log.push_back(static_cast<char>(level + 1));
  g_log += text;
  g_log += "\r\n";
}

IListA* ParamsOf(const CallRec* rec) {
  return rec && rec->Params ? *reinterpret_cast<IListA* const*>(rec->Params) : nullptr;
}

Value Read(IListA* list, const char* name) {
  Value v;
  if (list) list->GetValue(name, 0, -1, v.out());
  return v;
}

int64_t IntOf(const Value& v) {
  switch (v.get().vt) {
    case platform::VT_I4:
      return v.get().lVal;
    case platform::VT_I8:
      return v.get().llVal;
    case platform::VT_UI4:
      return v.get().ulVal;
    default:
      return -1;
  }
}

bool Mine(const CallRec* rec) {
  return rec && rec->Instance == reinterpret_cast<uintptr_t>(&g_instance_marker);
}

}  // namespace

QON_EXPORT int32_t QON_STDCALL CreatePluginInstance(CallRec* rec) {
  if (!rec || rec->Instance != 0) return -1;
  rec->Instance = reinterpret_cast<uintptr_t>(&g_instance_marker);
  Log(2, "CREATE");
  return 0;
}

QON_EXPORT int32_t QON_STDCALL FreePluginInstance(CallRec* rec) {
  if (rec && rec->Input.Kind == 6 && rec->Input.Data == 0xFF01) return 0;
  if (!Mine(rec)) return -1;
  Log(2, "FREE");
  return 0;
}

QON_EXPORT bool QON_STDCALL GetModuleInfo(CallRec*, void*, uint32_t* needed) {
  if (needed) *needed = 0;
  return false;
}

QON_EXPORT void QON_STDCALL GetOptionsDialog(CallRec*) {}
QON_EXPORT void QON_STDCALL ShowOptionsDialog(CallRec*) {}

QON_EXPORT int32_t QON_STDCALL ExecutePluginCommand(CallRec* rec) {
  if (!Mine(rec) || rec->Size != kCallRecSize) return -1;
  IListA* params = ParamsOf(rec);
  if (!params) return -1;
  const std::string command = Read(params, "COMMAND").AsText();
  if (command == "LOAD") {
    const uintptr_t handle = static_cast<uintptr_t>(IntOf(Read(params, "HANDLE")));
    g_send = reinterpret_cast<SendDataExFn>(platform::FindProcedure(handle, "Telvano_SendDataEx"));
    Log(2, "LOAD ini=" + Read(params, "INI-FILE").AsText() +
               " prefix=" + Read(params, "INI-SECTION-PREFIX").AsText() + " config-id=" +
               std::to_string(static_cast<uint32_t>(IntOf(Read(params, "CONFIG-ID")))) +
               " send=" + (g_send ? "found" : "missing"));
    return g_send ? 0 : -3;
  }
  if (command == "SET-STATE") {
    std::string sources = Read(params, "DATA-SOURCES-IN-CFG").AsText();
    for (auto& c : sources)
      if (c == '\r' || c == '\n') c = '|';
    Log(2, "SET-STATE roles=" + std::to_string(rec->Roles) +
               " result=" + std::to_string(IntOf(Read(params, "RESULT"))) + " sources=" + sources);
    return 0;
  }
  if (command == "EVENT") {
    Log(2, "EVENT type=" + Read(params, "EVENT-TYPE").AsText() +
               " port=" + Read(params, "PORTSTR").AsText());
    return 0;
  }
  if (command == "UNLOAD") {
    Log(2, "UNLOAD");
    g_send = nullptr;
    return 0;
  }
  return -2;
}

QON_EXPORT int32_t QON_STDCALL ProcessData(CallRec* rec) {
  if (!Mine(rec) || rec->Size != kCallRecSize || !rec->Params) return -1;
  const std::string name(rec->ClientName, strnlen(rec->ClientName, sizeof(rec->ClientName)));
  const std::string client = std::to_string(rec->ClientId);
  if (rec->Input.Kind == kKindEvent) {
    Log(2, std::string(rec->Input.Data == kEventOpened ? "OPEN " : "CLOSE ") + client + " " + name +
               " roles=" + std::to_string(rec->Roles));
    return 0;
  }
  const std::string text(reinterpret_cast<const char*>(rec->Input.Data), rec->Input.Size);
  if (!g_send) return -1;
  if (text.find("CLOSE") != std::string::npos) {
    g_send(rec->HostModuleId, rec->DataSourceNo, rec->ClientId, 0, kSendText, "<<CLOSE>>", 9);
    return 0;
  }
  if (text.find("LIST") != std::string::npos) {
    ListPtr list = MakeList();
    list->Put("ECHO", Value::Text(text));
    list->Put("VIA", Value::Text("kind 9"));
    CallRec out{};
    out.Size = kCallRecSize;
    out.Flags = 1;
    out.Output.Kind = kKindListIntf;
    out.Output.Data = list->InterfaceVariable();
    g_send(rec->HostModuleId, rec->DataSourceNo, rec->ClientId, 0, kSendList, &out, 0);
    return 0;
  }
  if (text.find("LOG") != std::string::npos) Log(0, "{PROCESS} asked to log");
  const int32_t sent = g_send(rec->HostModuleId, rec->DataSourceNo, rec->ClientId, 0, kSendBytes,
                              text.data(), static_cast<uint32_t>(text.size()));
  if (rec->Output.Kind == kKindListIntf && rec->Output.Data) {
    IListA* answer = *reinterpret_cast<IListA* const*>(rec->Output.Data);
    const Value echo = Value::Text(text);
    const Value id = Value::Int(static_cast<int32_t>(rec->ClientId));
    const Value result = Value::Int(sent);
    answer->Add("ECHO", &echo.get(), nullptr);
    answer->Add("CLIENT", &id.get(), nullptr);
    answer->Add("SENT", &result.get(), nullptr);
    answer->AddNewRow();
    ++rec->Output.Count;
  }
  return 0;
}

QON_EXPORT int32_t QON_STDCALL GetLogEx(CallRec* rec) {
  if (!Mine(rec)) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  rec->Output.Kind = 5;
  rec->Output.Data = g_log.size();
  if (g_log.empty()) return 0;
  if (rec->Input.Size == 0) {
    g_log.clear();
    return 0;
  }
  if (rec->Input.Size < g_log.size()) return 0;
  std::memcpy(reinterpret_cast<void*>(rec->Input.Data), g_log.data(), g_log.size());
  const auto n = static_cast<int32_t>(g_log.size());
  g_log.clear();
  return n;
}

QON_EXPORT int32_t PumpPluginMessages(uint32_t) {
  return 0;
}
