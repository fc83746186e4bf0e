#include "host_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include "host_os.h"
#include "stored_config.h"

namespace host {
namespace {

constexpr uint32_t kHostModuleId = 7;
constexpr uint32_t kStepMs = 5;

std::vector<DataRecord> SplitRows(const std::vector<Record>& rows, bool from_output,
                                  uint32_t data_source_no, uintptr_t client_id,
                                  const std::string& packet) {
  std::vector<DataRecord> records;
  for (const Record& row : rows) {
    records.emplace_back();
    records.back().items = row;
  }
  for (DataRecord& r : records) {
    r.from_output = from_output;
    r.data_source_no = data_source_no;
    r.client_id = client_id;
    r.packet = packet;
  }
  return records;
}

}  // namespace

const Field* DataRecord::Find(const std::string& name) const {
  for (const Field& item : items)
    if (item.name == name) return &item;
  return nullptr;
}

std::string DataRecord::Text(const std::string& name) const {
  const Field* item = Find(name);
  return item ? item->value.AsText() : std::string();
}

double DataRecord::Number(const std::string& name) const {
  const Field* item = Find(name);
  return item ? item->value.AsDouble() : 0;
}

Session::Session() {
  std::random_device rd;
  folder_ = (std::filesystem::temp_directory_path() /
             ("dlt645-e2e-" + std::to_string(rd()) + std::to_string(rd())))
                .string();
  std::filesystem::create_directories(folder_);
  ini_ = (std::filesystem::path(folder_) / "host.ini").string();
  HostServices::Get().SetAnswer(0);
  HostServices::Get().Take();
}

Session::~Session() {
  instance_.Free();
  HostServices::Get().SetAnswer(0);
  HostServices::Get().Take();
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

bool Session::VirtualTime() {
  return Library::Get().Fns().PumpPluginMessages != nullptr;
}

bool Session::Store(const std::string& query_xml, double min_interval) {
  return StoreConfiguration(ini_, "Meters", query_xml, min_interval);
}

int32_t Session::Load(uint32_t config_id) {
  Call load(instance_.Handle(), "LOAD");
  load.rec.HostModuleId = kHostModuleId;
  load.Set("HANDLE", Value::Int64(hostos::OwnModuleHandle()))
      .Set("INI-FILE", Value::Text(ini_))
      .Set("INI-SECTION-PREFIX", Value::Text("Meters"));
  if (config_id != 0) load.Set("CONFIG-ID", Value::Int64(config_id));
  return instance_.Command(load);
}

int32_t Session::Unload() {
  Call unload(instance_.Handle(), "UNLOAD");
  unload.Set("INI-FILE", Value::Text(ini_));
  return instance_.Command(unload);
}

int32_t Session::SetState(uint8_t roles, int32_t on, const std::string& sources) {
  Call c(instance_.Handle(), "SET-STATE");
  c.rec.Roles = roles;
  if (!sources.empty()) {
    c.Set("DATA-SOURCES-IN-CFG", Value::Text(sources));
    port_names_.clear();
    size_t begin = 0;
    while (begin < sources.size()) {
      size_t end = sources.find_first_of("\r\n", begin);
      if (end == std::string::npos) end = sources.size();
      const std::string line = sources.substr(begin, end - begin);
      const size_t semi = line.find(';');
      if (semi != std::string::npos) {
        const size_t next = line.find(';', semi + 1);
        port_names_[static_cast<uint32_t>(std::atoi(line.c_str()))] =
            line.substr(semi + 1, next == std::string::npos ? next : next - semi - 1);
      }
      begin = end + 1;
    }
  }
  c.Set("RESULT", Value::Int(on));
  return instance_.Command(c);
}

int32_t Session::Event(const std::string& type, const std::string& port) {
  Call c(instance_.Handle(), "EVENT");
  c.Set("EVENT-TYPE", Value::Text(type));
  if (!port.empty()) c.Set("PORTSTR", Value::Text(port));
  return instance_.Command(c);
}

std::string Session::PortName(uint32_t data_source_no) const {
  auto it = port_names_.find(data_source_no);
  return it == port_names_.end() ? std::string("COM1") : it->second;
}

int32_t Session::PortEvent(uint32_t data_source_no, uintptr_t client_id, bool opened) {
  Call c(instance_.Handle());
  c.rec.Roles = 2;
  c.rec.DataSourceNo = data_source_no;
  c.rec.ClientId = client_id;
  const std::string name = PortName(data_source_no);
  std::memcpy(c.rec.ClientName, name.data(), std::min(name.size(), sizeof(c.rec.ClientName)));
  c.rec.Input.Kind = 7;
  c.rec.Input.Data = opened ? 257 : 258;
  return Library::Get().Fns().ProcessData(&c.rec);
}

int32_t Session::Receive(uint32_t data_source_no, uintptr_t client_id,
                         const std::vector<uint8_t>& bytes) {
  Call c(instance_.Handle());
  c.rec.Roles = 2;
  c.rec.DataSourceNo = data_source_no;
  c.rec.ClientId = client_id;
  const std::string name = PortName(data_source_no);
  std::memcpy(c.rec.ClientName, name.data(), std::min(name.size(), sizeof(c.rec.ClientName)));
  std::vector<uint8_t> data = bytes;
  c.rec.Input.Size = static_cast<uint32_t>(data.size());
  c.rec.Input.Data = reinterpret_cast<uintptr_t>(data.data());
  ListPtr output = MakeList();
  c.rec.Output.Kind = 9;
  c.rec.Output.Data = output->InterfaceVariable();
  last_result_ = Library::Get().Fns().ProcessData(&c.rec);
  std::string packet;
  if (c.rec.Input.Kind == 4 && c.rec.Input.Data &&
      c.rec.Input.Data != reinterpret_cast<uintptr_t>(data.data()))
    packet.assign(reinterpret_cast<const char*>(c.rec.Input.Data), c.rec.Input.Size);
  for (DataRecord& r : SplitRows(ReadRecords(*output), false, data_source_no, client_id, packet))
    records_.push_back(std::move(r));
  return last_result_;
}

void Session::Deliver() {
  for (MeterLine::Answer& answer : line_.TakeAnswers())
    Receive(answer.data_source_no, answer.client_id, answer.bytes);
}

void Session::Collect() {
  for (SentData& sent : HostServices::Get().Take()) {
    if (sent.kind != 9) continue;
    for (DataRecord& r :
         SplitRows(sent.rows, true, sent.data_source_no, sent.client_id, sent.bytes))
      records_.push_back(std::move(r));
  }
}

void Session::Run(uint32_t ms) {
  const PluginLibrary& fns = Library::Get().Fns();
  if (VirtualTime()) {
    HostServices& services = HostServices::Get();
    for (uint32_t elapsed = 0; elapsed < ms;) {
      const uint32_t step = std::min(kStepMs, ms - elapsed);
      services.tick += step;
      services.local_now = services.local_now.load() + step / 86400000.0;
      elapsed += step;
      for (int round = 0; round < 1000 && fns.PumpPluginMessages(0) > 0; ++round) {
      }
      Collect();
      Deliver();
    }
    Collect();
    return;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    hostos::PumpWindowMessages(kStepMs);
    Collect();
    Deliver();
  } while (std::chrono::steady_clock::now() < end);
  Collect();
}

std::vector<DataRecord> Session::TakeRecords() {
  Collect();
  return std::move(records_);
}

std::string Session::TakeLog() {
  return instance_.TakeLog();
}

}  // namespace host
