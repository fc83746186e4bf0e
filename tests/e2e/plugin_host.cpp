#include "plugin_host.h"

#include <exception>

#include "host_os.h"

namespace host {

Library& Library::Get() {
  static Library library;
  return library;
}

Library::Library() : fns_(new PluginLibrary) {
  path_ = hostos::LibraryPath();
  loaded_ = fns_->Load(path_, false, &error_);
}

Call::Call(uintptr_t instance, const std::string& command) {
  rec.Size = kCallRecSize;
  rec.Flags = 1;
  rec.Instance = instance;
  rec.Params = params.InterfaceVariable();
  if (!command.empty()) params.Put("COMMAND", Value::Text(command));
}

Instance::Instance() {
  Call c;
  if (Fns().CreatePluginInstance && Fns().CreatePluginInstance(&c.rec) == 0)
    handle_ = c.rec.Instance;
}

Instance::~Instance() {
  Free();
}

int32_t Instance::Free() {
  if (!handle_) return -1;
  Call c(handle_);
  handle_ = 0;
  return Fns().FreePluginInstance(&c.rec);
}

int32_t Instance::Command(Call& call) {
  call.rec.Instance = handle_;
  return Fns().ExecutePluginCommand(&call.rec);
}

Value Instance::GetParameter(const std::string& name) {
  Call c(handle_, "GET-MODULE-PARAMETER");
  c.Set("PARAM", Value::Text(name)).Set("RESULT", Value());
  Command(c);
  return c.Result();
}

bool Instance::SetParameter(const std::string& name, Value value) {
  Call c(handle_, "SET-MODULE-PARAMETER");
  c.Set("PARAM", Value::Text(name)).Set("VALUE", std::move(value)).Set("RESULT", Value());
  Command(c);
  return c.Result().AsInt() != 0;
}

std::string Instance::TakeLog() {
  // A one-byte buffer asks for the length without discarding (a zero-size
  // one would discard); lines may arrive meanwhile, so ask again until it fits.
  std::string text(1, '\0');
  for (;;) {
    Call c(handle_);
    c.rec.Input.Size = static_cast<uint32_t>(text.size());
    c.rec.Input.Data = reinterpret_cast<uintptr_t>(text.data());
    const int32_t n = Fns().GetLogEx(&c.rec);
    if (n > 0 || c.rec.Output.Data == 0) {
      text.resize(n > 0 ? static_cast<size_t>(n) : 0);
      return text;
    }
    text.assign(static_cast<size_t>(c.rec.Output.Data), '\0');
  }
}

uint32_t ConfigIdOf(const std::string& name) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char byte : name) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

HostServices& HostServices::Get() {
  static HostServices services;
  return services;
}

std::vector<SentData> HostServices::Take() {
  std::lock_guard<std::mutex> guard(lock_);
  return std::move(sent_);
}

void HostServices::SetWriteListener(WriteListener listener) {
  std::lock_guard<std::mutex> guard(listener_lock_);
  listener_ = std::move(listener);
}

void HostServices::SetAnswer(int32_t answer) {
  std::lock_guard<std::mutex> guard(lock_);
  answer_ = answer;
  client_answers_.clear();
}

void HostServices::SetAnswerFor(uintptr_t client_id, int32_t answer) {
  std::lock_guard<std::mutex> guard(lock_);
  client_answers_[client_id] = answer;
}

int32_t HostServices::Receive(SentData sent) {
  int32_t answer = answer_;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = client_answers_.find(sent.client_id);
    if (it != client_answers_.end()) answer = it->second;
  }
  // A port that refuses the write never carries the bytes.
  if (answer >= 0) {
    std::lock_guard<std::mutex> guard(listener_lock_);
    if (listener_) listener_(sent);
  }
  std::lock_guard<std::mutex> guard(lock_);
  sent_.push_back(std::move(sent));
  return answer;
}

}  // namespace host

int32_t HostSendDataEx(uint32_t host_module_id, uint32_t data_source_no, uintptr_t client_id,
                       uintptr_t, uint32_t kind, const void* data, uint32_t size) {
  host::SentData sent;
  sent.host_module_id = host_module_id;
  sent.data_source_no = data_source_no;
  sent.client_id = client_id;
  sent.kind = kind;
  if (kind == 9 && data) {
    // The library's record: the list in Output (kind 9), its text in Input.
    const auto* rec = static_cast<const host::CallRec*>(data);
    if (rec->Output.Kind == 9 && rec->Output.Data) {
      auto* list = *reinterpret_cast<host::IListA* const*>(rec->Output.Data);
      try {
        if (list) sent.rows = host::ReadRecords(list);
      } catch (const std::exception&) {
        // A list that refuses an item reaches the test without rows.
      }
    }
    if (rec->Input.Kind == 4 && rec->Input.Data)
      sent.bytes.assign(reinterpret_cast<const char*>(rec->Input.Data), rec->Input.Size);
  } else if (data) {
    sent.bytes.assign(static_cast<const char*>(data), size);
  }
  return host::HostServices::Get().Receive(std::move(sent));
}

uint64_t HostTick64() {
  return host::HostServices::Get().tick.load();
}
double HostLocalNow() {
  return host::HostServices::Get().local_now.load();
}
