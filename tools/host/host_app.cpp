#include "host_app.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "dlt645/func_types.h"
#include "host_config.h"
#include "host_platform.h"
#include "platform/datetime.h"
#include "platform/message_loop.h"
#include "platform/module.h"
#include "platform/strings.h"
#include "platform/tick.h"

namespace {

std::atomic<host::Host*> g_host{nullptr};

}  // namespace

// The host's output function: the plug-in finds it by name in the program
// whose handle the host passed at "LOAD".
QON_EXPORT int32_t QON_STDCALL Telvano_SendDataEx(uint32_t /*host_module_id*/,
                                                  uint32_t data_source_no, uintptr_t client_id,
                                                  uintptr_t /*reserved*/, uint32_t kind,
                                                  const void* data, uint32_t size) {
  host::Host* h = g_host.load();
  if (!h) return -1;
  try {
    return h->SendData(data_source_no, client_id, kind, data, size);
  } catch (...) {
    return -1;
  }
}

namespace host {

namespace {

constexpr uint32_t kHostModuleId = 1;
constexpr auto kLogEvery = std::chrono::milliseconds(100);
// A turn of the loop serves at most this much of the network before the
// plug-in's timers get their turn, so a flood on one line cannot starve
// the polling of the others.
constexpr size_t kIoHandlersPerTurn = 64;
constexpr auto kIoSlice = std::chrono::milliseconds(2);
// The longest wait for the network while nothing is due.
constexpr auto kIdleWait = std::chrono::milliseconds(5);

std::string Hex(const uint8_t* data, size_t size) {
  return HexBytes(std::string(reinterpret_cast<const char*>(data), size));
}

}  // namespace

Host::Host(const HostOptions& options, std::FILE* records, std::FILE* log)
    : options_(options), records_out_(records), log_out_(log), writer_(records, options.format) {
  port_settings_.connect_attempts = options.connect_attempts;
  port_settings_.max_bytes_per_s = options.max_bytes_per_s;
  port_settings_.idle_timeout_ms = static_cast<uint32_t>(options.idle_timeout_s * 1000);
  port_settings_.max_connections = options.max_connections;
}

Host::~Host() {
  Host* self = this;
  g_host.compare_exchange_strong(self, nullptr);
}

std::string Host::LocalAddress(size_t port_index) const {
  return port_index < ports_.size() ? ports_[port_index]->LocalAddress() : std::string();
}

void Host::Log(int level, const std::string& text, bool from_plugin) {
  if (level > options_.log_level && level != kAlways) return;
  static const char* const kLevels[] = {"error: ", "warning: ", ""};
  const char* what = level >= 0 && level <= 2 ? kLevels[level] : "";
  std::lock_guard<std::mutex> lock(out_mutex_);
  std::fprintf(log_out_, "%s %s%s%s\n", IsoNowWithZone().c_str(), from_plugin ? "[plug-in] " : "",
               what, text.c_str());
  std::fflush(log_out_);
}

int Host::Run(const std::string& library, const std::string& settings_file) {
  Host* none = nullptr;
  if (!g_host.compare_exchange_strong(none, this)) {
    Log(0, "another host runs in this process");
    return kExitFailure;
  }
  loop_thread_ = std::this_thread::get_id();
  settings_file_ = settings_file;
  if (Start(library, settings_file)) Loop();
  if (job_thread_.joinable()) {
    job_thread_.join();
    exit_code_ = job_code_;
  }
  Shutdown();
  g_host = nullptr;
  return exit_code_;
}

bool Host::Start(const std::string& library, const std::string& settings_file) {
  exit_code_ = kExitFailure;
  // The plug-in finds the output function in this program by name.
  if (platform::FindProcedure(OwnProgramHandle(), "Telvano_SendDataEx") !=
      reinterpret_cast<void*>(&Telvano_SendDataEx)) {
    Log(0, "this program does not export Telvano_SendDataEx (it must be linked with its exports)");
    return false;
  }
  std::string error;
  if (!library_.Load(library, !UsesWindowMessages(), &error)) {
    Log(0, error);
    return false;
  }
  instance_ = std::make_unique<PluginInstance>(library_, kHostModuleId);
  if (!instance_->Create(&error)) {
    Log(0, "the plug-in refused to create an instance: " + error);
    return false;
  }

  ListPtr load = MakeList();
  load->Put("INI-FILE", Value::Text(settings_file));
  load->Put("INI-SECTION-PREFIX", Value::Text(options_.section));
  load->Put("HANDLE", kWide ? Value::Int64(static_cast<int64_t>(OwnProgramHandle()))
                            : Value::Int(static_cast<int32_t>(OwnProgramHandle())));
  load->Put("CONFIG-ID", Value::Int(static_cast<int32_t>(ConfigIdOf(ModuleName(options_.module)))));
  const int32_t loaded = instance_->Command("LOAD", *load);
  DrainLog();
  if (loaded != 0) {
    Log(0, "the plug-in refused \"LOAD\" (" + std::to_string(loaded) + ")");
    return false;
  }
  loaded_ = true;
  // A request that finally fails is printed as a record of its own, with
  // "QUALITY" and "REASON", so that every poll leaves a trace in the output.
  ListPtr quality = MakeList();
  quality->Put("PARAM", Value::Text("QualityRecords"));
  quality->Put("VALUE", Value::Int(1));
  if (instance_->Command("SET-MODULE-PARAMETER", *quality) != 0)
    Log(1, "the plug-in does not hand over failed requests as records");
  // What the configuration asks, for the outputs' columns and functions.
  std::vector<ConfiguredFunction> functions;
  {
    std::string xml;
    ConfigCheck check;
    if (ReadSettingsFile(settings_file, options_.section, &xml, &error) &&
        CheckQueryConfig(platform::AnsiToUtf8(xml), &check, &error))
      functions = check.functions;
  }
  // One port that asks only once: the run ends with its last answer.
  if (options_.ports.size() == 1 && options_.ports.front().kind != PortKind::kListen && !Job) {
    std::string xml;
    ConfigCheck check;
    if (ReadSettingsFile(settings_file, options_.section, &xml, &error) &&
        CheckQueryConfig(platform::AnsiToUtf8(xml), &check, &error))
      once_.Plan(check);
  }
  if (options_.format == OutputFormat::kCsv) FixCsvColumns(functions);
  if (!options_.store.empty()) OpenStore(functions);
  OpenGateway();

  std::string sources;
  for (size_t i = 0; i < options_.ports.size(); ++i)
    sources += std::to_string(i + 1) + ";" + options_.ports[i].text + ";" + options_.ports[i].text +
               "\r\n";
  ListPtr state = MakeList();
  state->Put("DATA-SOURCES-IN-CFG", Value::Text(sources));
  state->Put("RESULT", Value::Int(1));
  const int32_t set = instance_->Command("SET-STATE", *state, kRoleRequests | kRoleParsing);
  DrainLog();
  if (set != 0) {
    Log(0, "the plug-in refused \"SET-STATE\" (" + std::to_string(set) + ")");
    return false;
  }
  Log(2, std::string("plug-in loaded as ") + ModuleName(options_.module) + " from " + library);

  for (size_t i = 0; i < options_.ports.size(); ++i)
    ports_.push_back(MakePort(io_, options_.ports[i], static_cast<uint32_t>(i + 1), port_settings_,
                              client_ids_, *this));
  ArmStats();
  // A port may give up at once (a serial device that is not there).
  exit_code_ = kExitOk;
  for (auto& p : ports_)
    p->Start();
  return true;
}

void Host::OpenStore(const std::vector<ConfiguredFunction>& functions) {
  StoreOptions o;
  o.path = options_.store;
  o.retention_days = options_.store_retention_days;
  // The store speaks while the host holds the output lock: its lines wait.
  auto store = std::make_unique<RecordStore>(o, [this](int level, const std::string& text) {
    std::lock_guard<std::mutex> lock(store_log_mutex_);
    store_log_.emplace_back(level, text);
  });
  const bool open = store->Open();
  FlushStoreLog();
  if (!open) return;
  store->SetFunctions(functions);
  std::lock_guard<std::mutex> lock(out_mutex_);
  store_ = std::move(store);
}

void Host::FlushStoreLog() {
  std::vector<std::pair<int, std::string>> lines;
  {
    std::lock_guard<std::mutex> lock(store_log_mutex_);
    lines.swap(store_log_);
  }
  for (const auto& [level, text] : lines)
    Log(level, text);
}

void Host::FixCsvColumns(const std::vector<ConfiguredFunction>& functions) {
  // The plug-in registers every column it may fill; the configuration says
  // which functions are asked.
  ListPtr items = MakeList();
  items->Put("RESULT", Value::Text(""));
  if (instance_->Command("ITEMS", *items) != 0) return;
  const ListItem* result = items->Find("RESULT");
  if (!result) return;
  std::vector<std::string> columns = CsvColumns(result->value.AsText(), functions);
  if (!columns.empty()) writer_.SetColumns(std::move(columns));
}

void Host::Loop() {
  auto work = asio::make_work_guard(io_);
  asio::signal_set signals(io_, SIGINT, SIGTERM);
  signals.async_wait([this](asio::error_code ec, int) {
    if (!ec) stop_ = true;
  });
#ifdef SIGHUP
  // SIGHUP is the service manager's and logrotate's "look again".
  asio::signal_set hangup(io_, SIGHUP);
  std::function<void(asio::error_code, int)> on_hangup = [&](asio::error_code ec, int) {
    if (ec) return;
    OnHangUp();
    hangup.async_wait(on_hangup);
  };
  hangup.async_wait(on_hangup);
#endif
  asio::steady_timer duration(io_);
  if (options_.duration_s > 0) {
    duration.expires_after(
        std::chrono::milliseconds(static_cast<int64_t>(options_.duration_s * 1000)));
    duration.async_wait([this](asio::error_code ec) {
      if (!ec) stop_ = true;
    });
  }
  auto next_log = std::chrono::steady_clock::now();
  while (!stop_) {
    size_t handled = 0;
    const auto slice_end = std::chrono::steady_clock::now() + kIoSlice;
    while (handled < kIoHandlersPerTurn && io_.poll_one() > 0) {
      ++handled;
      if (std::chrono::steady_clock::now() >= slice_end) break;
    }
    const int pumped = Pump();
    const auto now = std::chrono::steady_clock::now();
    if (now >= next_log) {
      DrainLog();
      TickStore();
      TickGateway();
      next_log = now + kLogEvery;
    }
    // Nothing to do now: wait for the network a little; the plug-in's
    // timers are looked at again after at most this long.
    if (handled == 0 && pumped == 0 && !stop_) io_.run_one_for(kIdleWait);
  }
  signals.cancel();
#ifdef SIGHUP
  hangup.cancel();
#endif
  duration.cancel();
}

void Host::OnHangUp() {
  std::vector<std::string> failed;
  {
    std::lock_guard<std::mutex> lock(out_mutex_);
    if (!options_.output.empty() && !ReopenAppending(records_out_, options_.output))
      failed.push_back(options_.output);
    if (!options_.log_file.empty() && !ReopenAppending(log_out_, options_.log_file))
      failed.push_back(options_.log_file);
  }
  for (const std::string& f : failed)
    Log(0, "cannot reopen " + f + ", writing on to the file open before");
  if (!options_.output.empty() || !options_.log_file.empty())
    Log(2, "SIGHUP: output files reopened");
  ReloadConfiguration();
}

void Host::ReloadConfiguration() {
  if (!instance_ || !loaded_) return;
  // The new configuration is checked before the plug-in sees it: one that
  // does not parse leaves the running one alone.
  const std::string source = options_.config.empty() ? settings_file_ : options_.config;
  std::string error;
  ConfigCheck check;
  bool ok = false;
  if (!options_.config.empty()) {
    ok = ReadQueryConfigFile(options_.config, &check, &error) &&
         WriteSettingsFile(settings_file_, options_.section, check.xml, &error);
  } else {
    std::string xml;
    ok = ReadSettingsFile(settings_file_, options_.section, &xml, &error) &&
         CheckQueryConfig(platform::AnsiToUtf8(xml), &check, &error);
  }
  if (!ok) {
    Log(0, "reload: " + source + ": " + error + "; the configuration running goes on");
    return;
  }
  for (const std::string& w : check.warnings)
    Log(1, "reload: " + source + ": " + w);
  ListPtr params = MakeList();
  params->Put("INI-FILE", Value::Text(settings_file_));
  params->Put("NO-SAVE", Value::Int(1));
  // The plug-in rebuilds its requests; ports and connections stay open.
  instance_->Command("LOAD-SETTINGS-NOW", *params);
  DrainLog();
  {
    std::lock_guard<std::mutex> lock(out_mutex_);
    // A new configuration may ask more than once.
    once_.Forget();
    if (store_) store_->SetFunctions(check.functions);
  }
  Log(2, "reload: " + source + ": " + std::to_string(check.requests) + " requests");
}

int Host::Pump() {
  if (library_.PumpPluginMessages) return library_.PumpPluginMessages(0);
  return platform::PumpMessages(0);
}

void Host::Shutdown() {
  event_timer_.cancel();
  stats_timer_.cancel();
  // A line of its own is closed for the plug-in too, so that what it still
  // awaits there is ended and said while its log is read; listen ports
  // report each connection closed while the plug-in is loaded.
  for (auto& p : ports_) {
    if (p->Definition().kind == PortKind::kListen || p->OpenClients() == 0) continue;
    PluginInstance::Block b;
    b.data_source_no = p->DataSourceNo();
    b.client_name = p->Definition().text;
    b.is_event = true;
    b.event_code = kEventClosed;
    Deliver(b);
  }
  for (auto& p : ports_)
    p->Stop();
  io_.restart();
  io_.poll();
  if (instance_ && instance_->Created()) {
    if (loaded_) {
      ListPtr unload = MakeList();
      const int32_t r = instance_->Command("UNLOAD", *unload);
      if (r != 0) Log(1, "the plug-in answered \"UNLOAD\" with " + std::to_string(r));
      loaded_ = false;
    }
    DrainLog();
    instance_->Free();
  }
  instance_.reset();
  CloseStore();
  CloseGateway();
  ports_.clear();
  io_.restart();
  io_.poll();
  library_.Unload();
}

void Host::DrainLog() {
  if (!instance_) return;
  for (const LogLine& l : instance_->TakeLog())
    Log(l.level, l.text, true);
}

Port* Host::PortOf(uint32_t data_source_no) {
  if (data_source_no == 0 || data_source_no > ports_.size()) return nullptr;
  return ports_[data_source_no - 1].get();
}

int32_t Host::SendData(uint32_t data_source_no, uintptr_t client_id, uint32_t kind,
                       const void* data, uint32_t size) {
  if (kind == kSendList) {
    const auto* rec = static_cast<const CallRec*>(data);
    if (!rec || rec->Output.Kind != kKindListIntf || !rec->Output.Data) return -1;
    IListA* list = *reinterpret_cast<IListA* const*>(rec->Output.Data);
    WriteRecords(ReadRecords(list));
    return 0;
  }
  if (kind != kSendBytes && kind != kSendText) return -1;
  if (size > 0 && !data) return -1;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (std::this_thread::get_id() != loop_thread_) {
    // Ports belong to the loop's thread: hand the write over.
    std::vector<uint8_t> copy(bytes, bytes + size);
    asio::post(io_, [this, data_source_no, client_id, kind, copy = std::move(copy)] {
      SendData(data_source_no, client_id, kind, copy.data(), static_cast<uint32_t>(copy.size()));
    });
    return static_cast<int32_t>(size);
  }
  Port* port = PortOf(data_source_no);
  if (!port) return kPortNotOpen;
  if (kind == kSendText && size == 9 && std::memcmp(bytes, "<<CLOSE>>", 9) == 0) {
    if (options_.verbose)
      Log(2, port->Definition().text + ": the plug-in closes client " + std::to_string(client_id));
    return port->CloseClient(client_id) ? 0 : kPortNotOpen;
  }
  const int32_t r = port->Write(client_id, bytes, size);
  if (r < 0) {
    ++stats_.writes_refused;
  } else {
    stats_.bytes_out += size;
    if (options_.verbose)
      Log(2,
          port->Definition().text + " [" + std::to_string(client_id) + "] >> " + Hex(bytes, size));
  }
  return r;
}

void Host::WriteRecords(const std::vector<Record>& records) {
  bool ended = false;
  {
    std::lock_guard<std::mutex> lock(out_mutex_);
    for (const Record& r : records) {
      writer_.Write(r);
      if (store_) store_->Add(r);
      if (mqtt_) mqtt_->Add(r);
      health_.Count(r);
      ++stats_.records;
      ended = ended || (once_.Owed() && once_.Count(r));
    }
  }
  if (!ended) return;
  Log(2, "every request asked once has ended");
  stop_ = true;
}

bool OnceRun::Plan(const ConfigCheck& check) {
  owed_.clear();
  for (const RequestPlan& r : check.plan) {
    if (!r.loaded) continue;
    bool other_work = r.method != "once" || r.listen_only;
    for (const std::string& d : r.devices)
      other_work = other_work || d == "*";
    std::vector<Function> functions;
    for (const std::string& f : r.functions) {
      // "CODE" or "CODE rate R", as the check writes them.
      const uint32_t code = static_cast<uint32_t>(std::strtoul(f.c_str(), nullptr, 16));
      const size_t rate_at = f.find(" rate ");
      const int rate = rate_at == std::string::npos ? 0 : std::atoi(f.c_str() + rate_at + 6);
      const bool is1997 = (code & kFuncCode1997) != 0;
      const TRequestFuncType* row = FindFuncType(code & ~kFuncCode1997, is1997);
      // A profile hands many records.
      if (!row || IsLoadProfileRow(row)) {
        other_work = true;
        break;
      }
      char folded[12];
      std::snprintf(folded, sizeof folded, "%08X",
                    static_cast<unsigned>(FoldRate(*row, static_cast<uint8_t>(rate)) |
                                          (code & kFuncCode1997)));
      functions.push_back(
          {platform::AsciiUpperCase(f.substr(0, rate_at)), folded, std::string(row->FieldName)});
    }
    if (other_work) {
      owed_.clear();
      return false;
    }
    for (const std::string& d : r.devices) {
      auto& list = owed_[std::string(12 - std::min<size_t>(d.size(), 12), '0') + d];
      list.insert(list.end(), functions.begin(), functions.end());
    }
  }
  return Owed();
}

bool OnceRun::Count(const Record& record) {
  std::string device;
  std::string function;
  bool failed = false;
  for (const Field& f : record) {
    if (f.name == "DEVICE_ID") device = FieldText(f);
    if (f.name == "DATA_TYPE_ID_STR") function = platform::AsciiUpperCase(FieldText(f));
    if (f.name == "QUALITY") failed = true;
  }
  auto it = owed_.find(device);
  if (it == owed_.end()) return false;
  // Answers of one meter's round come as one record; a failure names its
  // function.
  const auto has_values = [&](const std::string& field) {
    for (const Field& f : record)
      if (f.name.compare(0, field.size(), field) == 0 &&
          f.name.find_first_not_of("0123456789", field.size()) == std::string::npos)
        return true;
    return false;
  };
  std::vector<Function>& list = it->second;
  for (auto o = list.begin(); o != list.end();) {
    const bool ended =
        failed ? (function == o->code || function == o->folded) : has_values(o->field);
    o = ended ? list.erase(o) : o + 1;
  }
  if (list.empty()) owed_.erase(it);
  return owed_.empty();
}

void Host::TickStore() {
  {
    std::lock_guard<std::mutex> lock(out_mutex_);
    if (!store_) return;
    store_->Tick();
    stats_.stored = store_->RowsStored();
  }
  FlushStoreLog();
}

void Host::CloseStore() {
  std::unique_ptr<RecordStore> store;
  {
    std::lock_guard<std::mutex> lock(out_mutex_);
    store = std::move(store_);
  }
  if (!store) return;
  store->Commit();
  FlushStoreLog();
  stats_.stored = store->RowsStored();
  if (store->RowsLost() > 0)
    Log(1, "store " + options_.store + ": " + std::to_string(store->RowsLost()) +
               " values not stored");
}

void Host::OpenGateway() {
  if (!options_.mqtt.empty()) {
    // The client speaks while the host holds the output lock: its lines wait.
    auto mqtt = std::make_unique<MqttPublisher>(
        MqttSettingsOf(options_), [this](int level, const std::string& text) {
          std::lock_guard<std::mutex> lock(store_log_mutex_);
          store_log_.emplace_back(level, text);
        });
    const bool open = mqtt->Open();
    FlushStoreLog();
    if (open) {
      std::lock_guard<std::mutex> lock(out_mutex_);
      mqtt_ = std::move(mqtt);
    }
  }
  MetricsTarget target;
  if (options_.metrics.empty() || !ParseMetricsTarget(options_.metrics, &target)) return;
  if (!target.host.empty()) {
    metrics_server_ = std::make_unique<MetricsServer>(io_, [this] { return MetricsText(); });
    std::string error;
    if (metrics_server_->Open(target.host, target.port, &error)) {
      Log(2, "metrics at http://" + metrics_server_->LocalAddress() + "/metrics");
    } else {
      Log(0, error);
      metrics_server_.reset();
    }
  }
}

std::string Host::MetricsText() {
  std::lock_guard<std::mutex> lock(out_mutex_);
  std::string host;
  const auto metric = [&host](const char* name, const char* type, const char* help,
                              uint64_t value) {
    host += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
            name + " " + std::to_string(value) + "\n";
  };
  metric("dlt645_host_records_total", "counter", "Records the plug-in handed over.",
         stats_.records);
  if (store_)
    metric("dlt645_store_values_total", "counter", "Values committed to the store.",
           store_->RowsStored());
  if (mqtt_) {
    const MqttCounters c = mqtt_->Counters();
    metric("dlt645_mqtt_connected", "gauge", "Whether the broker is connected.",
           c.connected ? 1 : 0);
    metric("dlt645_mqtt_published_total", "counter", "Records the broker acknowledged.",
           c.published);
    metric("dlt645_mqtt_waiting", "gauge", "Records waiting in the outbox.", c.waiting);
    metric("dlt645_mqtt_dropped_total", "counter", "Oldest records dropped from a full outbox.",
           c.dropped);
  }
  return health_.Exposition(host);
}

void Host::TickGateway() {
  {
    std::lock_guard<std::mutex> lock(out_mutex_);
    if (mqtt_) {
      mqtt_->Tick();
      stats_.mqtt = mqtt_->Counters();
    }
  }
  FlushStoreLog();
  MetricsTarget target;
  if (options_.metrics.empty() || !ParseMetricsTarget(options_.metrics, &target) ||
      target.file.empty())
    return;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_metrics_file_) return;
  next_metrics_file_ = now + std::chrono::seconds(10);
  if (!WriteFileAtomically(target.file, MetricsText()))
    Log(0, "metrics: cannot write " + target.file);
}

void Host::CloseGateway() {
  MetricsTarget target;
  if (!options_.metrics.empty() && ParseMetricsTarget(options_.metrics, &target) &&
      !target.file.empty()) {
    next_metrics_file_ = {};
    TickGateway();
  }
  metrics_server_.reset();
  std::unique_ptr<MqttPublisher> mqtt;
  {
    std::lock_guard<std::mutex> lock(out_mutex_);
    mqtt = std::move(mqtt_);
  }
  if (!mqtt) return;
  mqtt->Close(std::chrono::seconds(2));
  stats_.mqtt = mqtt->Counters();
  FlushStoreLog();
}

void Host::Deliver(const PluginInstance::Block& block) {
  if (!instance_ || !loaded_) return;
  uint32_t results = 0;
  const int32_t r = instance_->Process(block, *block_params_, *answer_, &results);
  block_params_->Clear();
  const std::vector<Record> records = ReadRecords(*answer_);
  answer_->Clear();
  if (r < 0) Log(1, "ProcessData answered " + std::to_string(r));
  if (results > records.size())
    Log(1, "the plug-in announced " + std::to_string(results) + " results but handed over " +
               std::to_string(records.size()));
  WriteRecords(records);
}

void Host::SendPortEvent(const char* event, const Port& port) {
  if (!instance_ || !loaded_) return;
  ListPtr params = MakeList();
  params->Put("EVENT-TYPE", Value::Text(event));
  params->Put("PORTSTR", Value::Text(port.Definition().text));
  const int32_t r = instance_->Command("EVENT", *params);
  if (r != 0 && options_.verbose) Log(2, std::string(event) + " answered " + std::to_string(r));
}

void Host::SendHostEvents() {
  for (const std::string& name : options_.events) {
    ListPtr params = MakeList();
    params->Put("EVENT-TYPE", Value::Text(name));
    const int32_t r = instance_->Command("EVENT", *params);
    Log(2, "event " + name + " sent (" + std::to_string(r) + ")");
  }
  if (options_.event_every_s > 0) {
    event_timer_.expires_after(
        std::chrono::milliseconds(static_cast<int64_t>(options_.event_every_s * 1000)));
    event_timer_.async_wait([this](asio::error_code ec) {
      if (!ec && !stop_) SendHostEvents();
    });
  }
}

void Host::ArmStats() {
  if (options_.stats_every_s <= 0) return;
  stats_timer_.expires_after(
      std::chrono::milliseconds(static_cast<int64_t>(options_.stats_every_s * 1000)));
  stats_timer_.async_wait([this](asio::error_code ec) {
    if (ec || stop_) return;
    size_t open = 0;
    uint64_t refused = 0;
    for (const auto& p : ports_) {
      open += p->OpenClients();
      refused += p->RefusedClients();
    }
    char line[200];
    std::snprintf(line, sizeof(line),
                  "stats: %zu open, %llu accepted, %llu records, %llu blocks, %llu bytes in, "
                  "%llu bytes out, %llu writes refused",
                  open, static_cast<unsigned long long>(stats_.connections),
                  static_cast<unsigned long long>(stats_.records),
                  static_cast<unsigned long long>(stats_.blocks),
                  static_cast<unsigned long long>(stats_.bytes_in),
                  static_cast<unsigned long long>(stats_.bytes_out),
                  static_cast<unsigned long long>(stats_.writes_refused));
    std::string text = line;
    if (refused > 0) text += ", " + std::to_string(refused) + " connections refused";
    if (!options_.store.empty()) text += ", " + std::to_string(stats_.stored) + " values stored";
    std::string meters;
    {
      std::lock_guard<std::mutex> lock(out_mutex_);
      if (mqtt_) stats_.mqtt = mqtt_->Counters();
      meters = health_.Lines();
    }
    if (!options_.mqtt.empty())
      text += ", mqtt " + std::string(stats_.mqtt.connected ? "connected" : "not connected") +
              ": " + std::to_string(stats_.mqtt.published) + " published, " +
              std::to_string(stats_.mqtt.waiting) + " waiting, " +
              std::to_string(stats_.mqtt.dropped) + " dropped";
    Log(kAlways, text);
    size_t from = 0;
    while (from < meters.size()) {
      const size_t end = std::min(meters.find('\n', from), meters.size());
      Log(kAlways, "stats: " + meters.substr(from, end - from));
      from = end + 1;
    }
    ArmStats();
  });
}

void Host::OnPortOpened(Port& port) {
  if (port.Definition().kind != PortKind::kListen) Log(2, port.Definition().text + ": open");
  SendPortEvent("PORT-OPEN", port);
  if (Job && !job_thread_.joinable()) {
    job_thread_ = std::thread([this] {
      job_code_ = Job(*instance_);
      job_ran_ = true;
      stop_ = true;
    });
  }
  if (!events_started_ && !options_.events.empty()) {
    events_started_ = true;
    event_timer_.expires_after(std::chrono::milliseconds(500));
    event_timer_.async_wait([this](asio::error_code ec) {
      if (!ec && !stop_) SendHostEvents();
    });
  }
}

void Host::OnPortClosed(Port& port) {
  SendPortEvent("PORT-CLOSE", port);
}

void Host::OnClientOpened(Port& port, uintptr_t client, const std::string& name) {
  ++stats_.connections;
  if (options_.verbose)
    Log(2,
        port.Definition().text + ": client " + std::to_string(client) + " " + name + " connected");
  PluginInstance::Block b;
  b.data_source_no = port.DataSourceNo();
  b.client_id = client;
  b.client_name = name;
  b.is_event = true;
  b.event_code = kEventOpened;
  Deliver(b);
}

void Host::OnClientClosed(Port& port, uintptr_t client, const std::string& name,
                          const std::string& why) {
  if (options_.verbose)
    Log(2, port.Definition().text + ": client " + std::to_string(client) + " " + name + " " + why);
  PluginInstance::Block b;
  b.data_source_no = port.DataSourceNo();
  b.client_id = client;
  b.client_name = name;
  b.is_event = true;
  b.event_code = kEventClosed;
  Deliver(b);
}

void Host::OnReceived(Port& port, uintptr_t client, const std::string& name, const uint8_t* data,
                      size_t size) {
  ++stats_.blocks;
  stats_.bytes_in += size;
  if (options_.verbose)
    Log(2, port.Definition().text + " [" + std::to_string(client) + "] << " + Hex(data, size));
  PluginInstance::Block b;
  b.data_source_no = port.DataSourceNo();
  b.client_id = client;
  b.client_name = name;
  b.data = data;
  b.size = size;
  Deliver(b);
}

void Host::OnPortMessage(Port&, int level, const std::string& text) {
  Log(level, text);
}

void Host::OnPortFailed(Port&, const std::string& text) {
  Log(0, text);
  exit_code_ = kExitFailure;
  stop_ = true;
}

}  // namespace host
